// The game's calls through each place, as the game makes them, with inputs
// that every hook body passes through unchanged.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>

#include "tests/standin/standin_host.h"
#include "tests/wine/standin_driver.h"

namespace {

// A committed, zero-filled read-write region of its own.
uint8_t* committedRegion(size_t bytes) {
  return static_cast<uint8_t*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

// An address whose bytes cannot be read: reserved, never committed.
uint8_t* unreadableAddress() {
  static uint8_t* reserved = static_cast<uint8_t*>(VirtualAlloc(nullptr, 0x10000, MEM_RESERVE, PAGE_NOACCESS));
  return reserved;
}

bool sameFloat(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

constexpr size_t kViewOrigin = 0xA8;
constexpr size_t kViewOriginCopy = 0xC0;
constexpr size_t kViewAxes = 0xCC;
constexpr size_t kRecordBytes = 0x2130;
constexpr size_t kUploadPending = 0x1FB1;
constexpr size_t kCasterEntryBytes = 48;

// A view the camera could use: finite origin in both copies, unit axes, and
// other bytes that tell every position apart.
void fillView(uint8_t* view, float shift) {
  for (size_t i = 0; i < kStandInViewLength; ++i) view[i] = static_cast<uint8_t>(i * 7 + 1);
  const float origin[3] = {1.5f + shift, -2.25f, 3.0f};
  const float axes[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::memcpy(view + kViewOrigin, origin, sizeof origin);
  std::memcpy(view + kViewOriginCopy, origin, sizeof origin);
  std::memcpy(view + kViewAxes, axes, sizeof axes);
}

}  // namespace

void driveViewCopy() {
  // No clock record lies behind the frames, so the camera leaves the host's
  // copy as it is, whatever the switches.
  for (int frame = 0; frame < 3; ++frame) {
    enterPlace("the view-copy caller");
    alignas(16) uint8_t source[kStandInViewLength];
    alignas(16) uint8_t before[kStandInViewLength];
    alignas(16) uint8_t destination[kStandInViewLength];
    fillView(source, 0.125f * frame);
    std::memcpy(before, source, sizeof source);
    std::memset(destination, 0xCD, sizeof destination);
    const uint64_t a3 = 0x1111222233334444ull + frame, a4 = 0x5555666677778888ull - frame;
    const uint64_t expected = 0xC0FFEE0000000000ull + frame;
    standInHost.viewCopy.result = expected;
    const uint64_t calls = standInHost.viewCopy.count.load();

    const uint64_t result = gameCallsViewCopy(destination, source, a3, a4);

    const ViewCopyCall call = standInHost.viewCopy.lastCall();
    check(standInHost.viewCopy.count.load() == calls + 1, "view copy frame %d: the host function ran once", frame);
    check(call.destination == destination && call.source == source && call.a3 == a3 && call.a4 == a4,
          "view copy frame %d: the host function received the four arguments unchanged", frame);
    check(result == expected, "view copy frame %d: the host function's result came back", frame);
    check(std::memcmp(destination, source, sizeof source) == 0,
          "view copy frame %d: the copied view is the host's copy", frame);
    check(std::memcmp(source, before, sizeof source) == 0, "view copy frame %d: the source view is unchanged", frame);
  }
}

void driveGpuCopy() {
  uint8_t* record = committedRegion(kRecordBytes);  // class 0, depth 0: neither first-person nor interpolated
  struct Case {
    const char* what;
    bool withBlock;
    const uint8_t* recordAddress;
  } cases[] = {
      {"a null block", false, nullptr},
      {"a block without a record", true, nullptr},
      {"an unreadable record", true, unreadableAddress()},
      {"a record of no interpolated kind", true, record},
  };
  uint64_t n = 0;
  for (const Case& c : cases) {
    enterPlace("the GPU-parameter copy");
    alignas(16) uint8_t block[16];
    const uint64_t opaque = 0x0BADF00D12345678ull + n;
    std::memcpy(block, &opaque, 8);
    std::memcpy(block + 8, &c.recordAddress, 8);
    uint8_t blockBefore[16];
    std::memcpy(blockBefore, block, 16);
    void* const sentinel = reinterpret_cast<void*>(0x5107000000000000ull + n);
    void* slot = sentinel;
    const uint64_t value = 0xFEDCBA9876543210ull - n;
    const float f = -2.5f - static_cast<float>(n);
    const uint64_t expected = 0x0123456789AB0000ull + n;
    standInHost.gpuCopy.result = expected;
    const uint64_t calls = standInHost.gpuCopy.count.load();
    const uint8_t* handed = c.withBlock ? block : nullptr;

    const uint64_t result = gameCallsGpuCopy(&slot, value, f, handed);

    const GpuCopyCall call = standInHost.gpuCopy.lastCall();
    check(standInHost.gpuCopy.count.load() == calls + 1, "GPU copy with %s: the host function ran once", c.what);
    check(call.outSlot == &slot && call.value == value && sameFloat(call.f, f) && call.block == handed,
          "GPU copy with %s: the host function received the four arguments unchanged", c.what);
    check(result == expected, "GPU copy with %s: the host function's result came back", c.what);
    check(slot == sentinel, "GPU copy with %s: the out-slot is untouched", c.what);
    check(std::memcmp(block, blockBefore, 16) == 0, "GPU copy with %s: the block is unchanged", c.what);
    ++n;
  }
  bool recordZero = true;
  for (size_t i = 0; i < kRecordBytes; ++i) recordZero = recordZero && record[i] == 0;
  check(recordZero, "GPU copy: the host's record is never written");
}

void drivePoseUpload() {
  uint8_t* record = committedRegion(kRecordBytes);  // class 0: not a skinned record
  constexpr uint64_t kArithmeticFlags = 0x8D5;      // CF PF AF ZF SF OF
  for (uint8_t pending : {0x00, 0x01, 0x80, 0xFF}) {
    enterPlace("the skinned-pose upload");
    record[kUploadPending] = pending;
    // The flags the host's own compare leaves for the instruction after it.
    uint64_t expectedFlags;
    __asm__ volatile("cmpb $0, %1\n\tpushfq\n\tpopq %0" : "=r"(expectedFlags) : "m"(record[kUploadPending]) : "cc");
    const uint64_t value = 0xABCDEF0000000000ull + pending;
    const uint64_t expected = 0x1000u + pending;
    standInHost.poseUpload.result = expected;
    const uint64_t calls = standInHost.poseUpload.count.load();

    const uint64_t result = gameCallsPoseUpload(record, value);

    const PoseUploadCall call = standInHost.poseUpload.lastCall();
    check(standInHost.poseUpload.count.load() == calls + 1, "pose upload pending=0x%02X: the host function ran once",
          pending);
    check(call.record == record && call.value == value,
          "pose upload pending=0x%02X: the host function received both arguments unchanged", pending);
    check((call.flags & kArithmeticFlags) == (expectedFlags & kArithmeticFlags),
          "pose upload pending=0x%02X: the entry's compare reached the host with its flags", pending);
    check(result == expected, "pose upload pending=0x%02X: the host function's result came back", pending);
    bool unchanged = record[kUploadPending] == pending;
    for (size_t i = 0; i < kRecordBytes; ++i) unchanged = unchanged && (i == kUploadPending || record[i] == 0);
    check(unchanged, "pose upload pending=0x%02X: the record is unchanged after the call", pending);
  }
}

void driveShadowBuild(int entry) {
  // A caster list: an entry pointer and a count in the low 24 bits of the word
  // at 0x8; each entry holds its transform pointer at 0x8.
  alignas(16) uint8_t entries[2 * kCasterEntryBytes];
  for (size_t i = 0; i < sizeof entries; ++i) entries[i] = static_cast<uint8_t>(0x40 + i);
  const uint8_t* noTransform = nullptr;
  const uint8_t* unreadable = unreadableAddress();
  std::memcpy(entries + 8, &noTransform, 8);
  std::memcpy(entries + kCasterEntryBytes + 8, &unreadable, 8);
  struct Case {
    const char* what;
    bool withList;
    uint32_t countWord;
  } cases[] = {
      {"a null list", false, 0},
      {"an empty list", true, 0x5A000000u},
      {"casters without readable transforms", true, 0x5A000002u},
  };
  uint64_t n = 0;
  for (const Case& c : cases) {
    enterPlace(entry == 0 ? "shadow caster-list build 0" : "shadow caster-list build 1");
    alignas(16) uint8_t list[16];
    const uint8_t* entryArray = entries;
    std::memcpy(list, &entryArray, 8);
    std::memcpy(list + 8, &c.countWord, 4);
    const uint32_t hostData = 0x77665544u;
    std::memcpy(list + 12, &hostData, 4);
    uint8_t listBefore[16], entriesBefore[sizeof entries];
    std::memcpy(listBefore, list, 16);
    std::memcpy(entriesBefore, entries, sizeof entries);
    void* handed = c.withList ? list : nullptr;
    const uint64_t a1 = 0x0101010101010101ull + n, a2 = 0x0202020202020202ull + n;
    const uint64_t a4 = 0x0404040404040404ull + n, a5 = 0x0505050505050505ull + n;
    const float a6 = 6.75f + static_cast<float>(n);
    const int32_t a7 = -17 - static_cast<int32_t>(n);
    const uint64_t a8 = 0x1818181818181818ull + n;
    const uint64_t expected = 0xAAAA0000BBBB0000ull + (static_cast<uint64_t>(entry) << 8) + n;
    standInHost.shadowBuild[entry].result = expected;
    const uint64_t calls = standInHost.shadowBuild[entry].count.load();

    const uint64_t result = entry == 0 ? gameCallsShadowBuild0(a1, a2, handed, a4, a5, a6)
                                       : gameCallsShadowBuild1(a1, a2, handed, a4, a5, a6, a7, a8);

    const ShadowBuildCall call = standInHost.shadowBuild[entry].lastCall();
    check(standInHost.shadowBuild[entry].count.load() == calls + 1,
          "shadow build %d with %s: the host function ran once", entry, c.what);
    bool same = call.a1 == a1 && call.a2 == a2 && call.list == handed && call.a4 == a4 && call.a5 == a5 &&
                sameFloat(call.a6, a6);
    if (entry == 1) same = same && call.a7 == a7 && call.a8 == a8;
    check(same, "shadow build %d with %s: the host function received all %d arguments unchanged", entry, c.what,
          entry == 0 ? 6 : 8);
    check(result == expected, "shadow build %d with %s: the host function's result came back", entry, c.what);
    check(std::memcmp(list, listBefore, 16) == 0 && std::memcmp(entries, entriesBefore, sizeof entries) == 0,
          "shadow build %d with %s: the host's list is unchanged", entry, c.what);
    ++n;
  }
}
