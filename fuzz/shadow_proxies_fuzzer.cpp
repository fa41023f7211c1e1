// shadowCasterProxy0 and shadowCasterProxy1 against hostile caster lists: any
// header pointer and count word, entry arrays that run into inaccessible pages,
// transform pointers into reserved or unmapped space, transforms and
// publications with hostile numbers, and a host build that re-enters a proxy.
// The host's list, entries and transforms stay as they were; the host receives
// its own list or a substitute that differs only in corrected transform pointers.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bootstrap/host_interface.h"
#include "camera/frame_state.h"
#include "fuzz/fuzz_host.h"
#include "patch/hooks.h"
#include "shadow/caster_list.h"
#include "shadow/publication.h"
#include "world/content_key.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::patch;
using namespace corvane::shadow;
using namespace corvane::world;

namespace {

constexpr size_t kHeaderPage = 0;
constexpr size_t kEntriesFirstPage = 1;
constexpr size_t kEntriesPages = kMaxCasterEntries * kCasterEntrySize / kPageSize + 2;
constexpr size_t kTransformsFirstPage = kEntriesFirstPage + kEntriesPages;
constexpr uint32_t kTransformSlots = 256;
constexpr size_t kTransformPages = kTransformSlots * sizeof(Matrix4x4) / kPageSize + 1;
constexpr size_t kUsedPages = kTransformsFirstPage + kTransformPages;

struct Expected {
  int which;
  uint64_t args[7];
  float a6;
  const uint8_t* list;
  bool reenter;
  int depth;
  uint64_t calls;
};
Expected expected;

[[noreturn]] void fail(const char* message) {
  std::fprintf(stderr, "shadow proxy: %s\n", message);
  std::abort();
}

void checkHanded(int which, uint64_t a1, uint64_t a2, const void* handed, uint64_t a4, uint64_t a5, float a6) {
  ++expected.calls;
  if (which != expected.which) fail("wrong host build called");
  if (a1 != expected.args[0] || a2 != expected.args[1] || a4 != expected.args[3] || a5 != expected.args[4] ||
      std::memcmp(&a6, &expected.a6, sizeof a6) != 0)
    fail("host called with other arguments");
  if (handed == expected.list) return;
  if (expected.depth > 1) fail("a nested proxy call substituted the list");
  if (!arenaRangeReadable(expected.list, kCasterListHeaderSize)) fail("substituted a list that is not readable");
  uint64_t countWord;
  std::memcpy(&countWord, expected.list + kCasterListCountOffset, sizeof countWord);
  const uint32_t count = static_cast<uint32_t>(countWord) & kCasterCountMask;
  const auto* header = static_cast<const uint8_t*>(handed);
  if (std::memcmp(header + kCasterListCountOffset, expected.list + kCasterListCountOffset, 8) != 0)
    fail("substitute lost the count word");
  const uint8_t* entries;
  const uint8_t* hostEntries;
  std::memcpy(&entries, header, sizeof entries);
  std::memcpy(&hostEntries, expected.list, sizeof hostEntries);
  if (count == 0 || count > kMaxCasterEntries || !arenaRangeReadable(hostEntries, count * kCasterEntrySize))
    fail("substituted a list whose entries are not readable");
  bool anyChanged = false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = entries + i * kCasterEntrySize;
    const uint8_t* h = hostEntries + i * kCasterEntrySize;
    if (std::memcmp(e, h, kCasterTransformOffset) != 0 ||
        std::memcmp(e + kCasterTransformOffset + 8, h + kCasterTransformOffset + 8,
                    kCasterEntrySize - kCasterTransformOffset - 8) != 0)
      fail("substitute entry differs outside its transform pointer");
    if (std::memcmp(e + kCasterTransformOffset, h + kCasterTransformOffset, 8) == 0) continue;
    anyChanged = true;
    const Matrix4x4* substitute;
    std::memcpy(&substitute, e + kCasterTransformOffset, sizeof substitute);
    const uint8_t* hostTransform;
    std::memcpy(&hostTransform, h + kCasterTransformOffset, sizeof hostTransform);
    if (!arenaRangeReadable(hostTransform, sizeof(Matrix4x4))) fail("corrected a transform that is not readable");
    Matrix4x4 value;
    std::memcpy(&value, substitute, sizeof value);
    for (float v : value.m)
      if (!isFiniteFloat(v)) fail("substitute transform is not finite");
  }
  if (!anyChanged) fail("substitute list without a corrected transform");
}

void maybeReenter(const void* handed) {
  if (!expected.reenter || expected.depth > 1) return;
  ++expected.depth;
  const Expected saved = expected;
  expected.list = static_cast<const uint8_t*>(handed);
  expected.which = 0;
  shadowCasterProxy0(expected.args[0], expected.args[1], const_cast<void*>(handed), expected.args[3], expected.args[4],
                     expected.a6);
  const uint64_t calls = expected.calls;
  expected = saved;
  expected.calls = calls;
  --expected.depth;
}

uint64_t CORVANE_HOSTCALL hostBuild0(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6) {
  checkHanded(0, a1, a2, list, a4, a5, a6);
  maybeReenter(list);
  return 0x5EED0;
}

uint64_t CORVANE_HOSTCALL hostBuild1(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6,
                                     int32_t a7, uint64_t a8) {
  checkHanded(1, a1, a2, list, a4, a5, a6);
  if (static_cast<uint64_t>(static_cast<uint32_t>(a7)) != expected.args[5] || a8 != expected.args[6])
    fail("host called with other arguments");
  maybeReenter(list);
  return 0x5EED1;
}

Matrix4x4* transformSlot(uint32_t k) {
  return reinterpret_cast<Matrix4x4*>(arena() + kTransformsFirstPage * kPageSize) + k;
}

void oneCall(FuzzInput& in) {
  uint8_t* list = arena() + kHeaderPage * kPageSize + (in.byte() % 64) * 8;
  uint8_t* entries = arena() + kEntriesFirstPage * kPageSize + (in.byte() % 64) * 8;
  const uint8_t countMode = in.byte();
  uint32_t count = countMode < 200 ? countMode % 48 : countMode < 240 ? 1 + in.below(kMaxCasterEntries) : in.u32();
  const uint64_t countWord = (in.u64() & ~uint64_t{kCasterCountMask}) | (count & kCasterCountMask);
  count &= kCasterCountMask;
  const void* namedEntries = fuzzPointer(in, entries);
  std::memcpy(list, &namedEntries, sizeof namedEntries);
  std::memcpy(list + kCasterListCountOffset, &countWord, sizeof countWord);

  bool built[kTransformSlots] = {};
  const uint32_t filled = count <= kMaxCasterEntries ? count : 0;
  for (uint32_t i = 0; i < filled; ++i) {
    uint8_t* e = entries + i * kCasterEntrySize;
    std::memset(e, static_cast<int>(0xA0 + (i & 15)), kCasterEntrySize);
    const uint8_t mode = in.byte();
    const void* transform;
    if (mode < 170) {
      const uint32_t k = (mode + i) % kTransformSlots;
      if (!built[k]) {
        built[k] = true;
        const Matrix4x4 m = fuzzMatrix4x4(in);
        std::memcpy(transformSlot(k), &m, sizeof m);
        // Publish a correction for it now and then, under its content key or a wrong one.
        const uint8_t publish = in.byte();
        if (publish < 160) {
          const uint64_t serial = latestPresentationSerial.load();
          publishShadowCorrection(transformSlot(k), publish < 140 ? contentKey(m) : in.u64(), fuzzMatrix4x4(in),
                                  publish & 1 ? serial : serial - (publish & 6));
        }
      }
      transform = transformSlot(k);
    } else if (mode < 200) {
      transform = nullptr;
    } else {
      transform = fuzzPointer(in, transformSlot(0));
    }
    std::memcpy(e + kCasterTransformOffset, &transform, sizeof transform);
  }

  const void* handed = fuzzPointer(in, list);
  protectSomeArenaPages(in, 0, kUsedPages);
  expected = Expected{};
  expected.which = in.byte() & 1;
  for (uint64_t& a : expected.args) a = in.u64();
  expected.args[5] &= 0xFFFFFFFFu;
  expected.a6 = fuzzFloat(in);
  expected.list = static_cast<const uint8_t*>(handed);
  expected.reenter = (in.byte() & 7) == 0;
  expected.depth = 1;
  takeSnapshot();
  const uint64_t result =
      expected.which == 0
          ? shadowCasterProxy0(expected.args[0], expected.args[1], const_cast<void*>(handed), expected.args[3],
                               expected.args[4], expected.a6)
          : shadowCasterProxy1(expected.args[0], expected.args[1], const_cast<void*>(handed), expected.args[3],
                               expected.args[4], expected.a6, static_cast<int32_t>(expected.args[5]), expected.args[6]);
  if (result != (expected.which == 0 ? 0x5EED0u : 0x5EED1u)) fail("result is not the host's");
  if (expected.calls != (expected.reenter ? 2u : 1u)) fail("host build not called exactly once per proxy call");
  checkUnchanged("shadow proxy");
  unprotectArena();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = startFuzzInput(data, size, kUsedPages);
  shadowTrampolines[0].store(reinterpret_cast<void*>(hostBuild0));
  shadowTrampolines[1].store(reinterpret_cast<void*>(hostBuild1));
  framesAndCalls(in, 12, oneCall);
  return 0;
}
