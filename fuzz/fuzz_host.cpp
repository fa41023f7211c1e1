#include "fuzz/fuzz_host.h"

#include <sys/mman.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "bootstrap/host_interface.h"
#include "bootstrap/settings.h"
#include "camera/frame_state.h"
#include "platform/platform.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;

// ---------------------------------------------------------------------------
// Fuzzer bytes.

uint8_t FuzzInput::byte() { return position < size ? data[position++] : 0; }
uint16_t FuzzInput::u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
uint32_t FuzzInput::u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
uint64_t FuzzInput::u64() { return static_cast<uint64_t>(u32()) | (static_cast<uint64_t>(u32()) << 32); }
void FuzzInput::bytes(void* out, size_t length) {
  auto* o = static_cast<uint8_t*>(out);
  for (size_t i = 0; i < length; ++i) o[i] = byte();
}

namespace {

constexpr float kSpecialFloats[] = {
    std::numeric_limits<float>::quiet_NaN(),
    -std::numeric_limits<float>::quiet_NaN(),
    std::numeric_limits<float>::signaling_NaN(),
    std::numeric_limits<float>::infinity(),
    -std::numeric_limits<float>::infinity(),
    std::numeric_limits<float>::denorm_min(),
    -std::numeric_limits<float>::denorm_min(),
    std::numeric_limits<float>::min(),
    std::numeric_limits<float>::max(),
    -std::numeric_limits<float>::max(),
    1e-30f,
    -1e-30f,
    1e30f,
    0.0f,
    -0.0f,
    1.0f,
    -1.0f,
    1.0000001f,
    0.9999999f,
};
constexpr size_t kSpecialFloatCount = sizeof kSpecialFloats / sizeof kSpecialFloats[0];

}  // namespace

float fuzzFloat(FuzzInput& in) {
  const uint8_t mode = in.byte();
  if (mode < 160) return static_cast<float>(static_cast<int16_t>(in.u16())) / 64.0f;
  if (mode < 200) {
    const uint32_t bits = in.u32();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  return kSpecialFloats[in.byte() % kSpecialFloatCount];
}

double fuzzDouble(FuzzInput& in) {
  const uint8_t mode = in.byte();
  if (mode < 200) return fuzzFloat(in);
  if (mode < 230) {
    const uint64_t bits = in.u64();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  constexpr double kSpecial[] = {std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::denorm_min(),
                                 std::numeric_limits<double>::max(),
                                 1e300,
                                 -1e300,
                                 1e-300};
  return kSpecial[in.byte() % (sizeof kSpecial / sizeof kSpecial[0])];
}

Matrix4x4 fuzzMatrix4x4(FuzzInput& in) {
  const double angle = in.u16() * (2.0 * M_PI / 65536.0);
  double axis[3] = {static_cast<double>(static_cast<int8_t>(in.byte())),
                    static_cast<double>(static_cast<int8_t>(in.byte())),
                    static_cast<double>(static_cast<int8_t>(in.byte()))};
  double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  if (length == 0.0) {
    axis[2] = 1.0;
    length = 1.0;
  }
  for (double& a : axis) a /= length;
  const uint8_t scaleMode = in.byte();
  double scale = 1.0;
  if (scaleMode >= 192)
    scale = (scaleMode & 3) == 0 ? 2.0 : (scaleMode & 3) == 1 ? 0.5 : (scaleMode & 3) == 2 ? 1e-4 : 40.0;
  const bool mirrored = scaleMode >= 240;
  const double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
  const double x = axis[0], y = axis[1], z = axis[2];
  double r[3][3] = {{t * x * x + c, t * x * y - s * z, t * x * z + s * y},
                    {t * x * y + s * z, t * y * y + c, t * y * z - s * x},
                    {t * x * z - s * y, t * y * z + s * x, t * z * z + c}};
  Matrix4x4 m{};
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      const double mirror = (mirrored && col == 0) ? -1.0 : 1.0;
      m.m[row * 4 + col] = static_cast<float>(r[row][col] * scale * mirror);
    }
    m.m[row * 4 + 3] = static_cast<float>(static_cast<int16_t>(in.u16())) / 16.0f;
  }
  m.m[15] = 1.0f;
  const uint8_t hostile = in.byte();
  if (hostile < 40) m.m[hostile % 16] = fuzzFloat(in);
  return m;
}

Matrix3x4 fuzzMatrix3x4(FuzzInput& in) {
  const Matrix4x4 full = fuzzMatrix4x4(in);
  Matrix3x4 m;
  std::memcpy(m.m, full.m, sizeof m.m);
  return m;
}

Matrix4x4 inverseOfRigid(const Matrix4x4& m) {
  const double a = m.m[0], b = m.m[1], c = m.m[2], d = m.m[4], e = m.m[5], f = m.m[6], g = m.m[8], h = m.m[9],
               i = m.m[10];
  const double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
  const double inv[9] = {(e * i - f * h) / det, (c * h - b * i) / det, (b * f - c * e) / det,
                         (f * g - d * i) / det, (a * i - c * g) / det, (c * d - a * f) / det,
                         (d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det};
  Matrix4x4 out{};
  for (int row = 0; row < 3; ++row) {
    double translation = 0.0;
    for (int col = 0; col < 3; ++col) {
      out.m[row * 4 + col] = static_cast<float>(inv[row * 3 + col]);
      translation -= inv[row * 3 + col] * m.m[col * 4 + 3];
    }
    out.m[row * 4 + 3] = static_cast<float>(translation);
  }
  out.m[15] = 1.0f;
  return out;
}

// ---------------------------------------------------------------------------
// Host memory.

namespace {

constexpr size_t kImageSize = 0x3C00000;
constexpr size_t kReservedSize = 16 * kPageSize;
constexpr size_t kHoleSize = 4 * kPageSize;
// Image pages the system reads or writes by RVA.
constexpr uint64_t kImagePageRvas[] = {kClockPointerRva, kDisableFrameSpinningRva, kTripleBufferingRva,
                                       kFixMouseSensibilityRva};
constexpr size_t kImagePageCount = sizeof kImagePageRvas / sizeof kImagePageRvas[0];

uint8_t* image = nullptr;
uint8_t* arenaBase = nullptr;
uint8_t* reservedBase = nullptr;
uint8_t* holeBase = nullptr;
bool pageReadable[kArenaPages];
size_t pagesInUse = kArenaPages;

struct Extra {
  const void* base;
  size_t size;
};
Extra extra[4];
size_t extraCount = 0;

uint8_t arenaSnapshot[kArenaSize];
bool snapshotReadable[kArenaPages];
uint8_t imageSnapshot[kImagePageCount][kPageSize];

struct Range {
  uintptr_t begin, end;
};
Range allowed[32];
size_t allowedCount = 0;

uint8_t* pageOf(uint8_t* address) {
  return reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(address) & ~(kPageSize - 1));
}

bool inside(uintptr_t a, const void* base, size_t size) {
  const auto b = reinterpret_cast<uintptr_t>(base);
  return a >= b && a - b < size;
}

// The region query of this process, answered from what the harness knows
// about its own regions; everything else goes to the real query.
bool fuzzQueryRegion(const void* address, MemoryRegion* out) {
  const auto a = reinterpret_cast<uintptr_t>(address);
  if (inside(a, arenaBase, kArenaSize)) {
    const size_t page = (a - reinterpret_cast<uintptr_t>(arenaBase)) / kPageSize;
    const bool readable = pageReadable[page];
    size_t first = page, last = page;
    while (first > 0 && pageReadable[first - 1] == readable) --first;
    // Pages past those in use end the region: conservative, and quick.
    while (last + 1 < pagesInUse && pageReadable[last + 1] == readable) ++last;
    out->base = reinterpret_cast<uintptr_t>(arenaBase) + first * kPageSize;
    out->size = (last - first + 1) * kPageSize;
    out->state = kMemCommit;
    out->protect = readable ? kPageReadWrite : kPageNoAccess;
    return true;
  }
  if (inside(a, reservedBase, kReservedSize)) {
    *out = MemoryRegion{reinterpret_cast<uintptr_t>(reservedBase), kReservedSize, kMemReserve, 0};
    return true;
  }
  if (inside(a, holeBase, kHoleSize)) {
    *out = MemoryRegion{reinterpret_cast<uintptr_t>(holeBase), kHoleSize, kMemFree, kPageNoAccess};
    return true;
  }
  for (size_t i = 0; i < extraCount; ++i) {
    if (inside(a, extra[i].base, extra[i].size)) {
      *out = MemoryRegion{reinterpret_cast<uintptr_t>(extra[i].base), extra[i].size, kMemCommit, kPageReadWrite};
      return true;
    }
  }
  const uintptr_t imageBegin = reinterpret_cast<uintptr_t>(image);
  if (inside(a, image, kImageSize)) {
    // The image's accessible pages are single pages among inaccessible ones.
    const uintptr_t page = a & ~(kPageSize - 1);
    bool readable = false;
    for (uint64_t rva : kImagePageRvas)
      if (reinterpret_cast<uintptr_t>(pageOf(image + rva)) == page) readable = true;
    *out = readable ? MemoryRegion{page, kPageSize, kMemCommit, kPageReadWrite}
                    : MemoryRegion{imageBegin, kImageSize, kMemCommit, kPageNoAccess};
    return true;
  }
  // Everything else counts as free: a wild pointer that happens to hit this
  // process's own heap or stack would be readable to the system, but what
  // lies there is not host memory.
  *out = MemoryRegion{a & ~(kPageSize - 1), kPageSize, kMemFree, kPageNoAccess};
  return true;
}

void quietDebugOutput(const char*) {}
bool quietAppend(const wchar_t*, const char*, size_t) { return true; }

void* mapOrDie(size_t size, int protection) {
  void* p = mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) {
    std::perror("mmap");
    std::abort();
  }
  return p;
}

}  // namespace

void setUpFuzzHost() {
  if (image == nullptr) {
    image = static_cast<uint8_t*>(mapOrDie(kImageSize, PROT_NONE));
    for (uint64_t rva : kImagePageRvas) mprotect(pageOf(image + rva), kPageSize, PROT_READ | PROT_WRITE);
    arenaBase = static_cast<uint8_t*>(mapOrDie(kArenaSize, PROT_READ | PROT_WRITE));
    for (bool& r : pageReadable) r = true;
    reservedBase = static_cast<uint8_t*>(mapOrDie(kReservedSize, PROT_NONE));
    holeBase = static_cast<uint8_t*>(mapOrDie(kHoleSize, PROT_NONE));
    munmap(holeBase, kHoleSize);
  }
  hostBase = image;
  platform.queryRegion = fuzzQueryRegion;
  platform.debugOutput = quietDebugOutput;
  platform.appendToFile = quietAppend;
  settings = Settings{};
}

uint8_t* arena() { return arenaBase; }

void registerReadableRegion(const void* base, size_t size) {
  if (extraCount == sizeof extra / sizeof extra[0]) std::abort();
  extra[extraCount++] = Extra{base, size};
}
uint8_t* reservedAddress() { return reservedBase + kPageSize; }
uint8_t* unmappedAddress() { return holeBase + kPageSize; }

const void* fuzzPointer(FuzzInput& in, const void* good) {
  const uint8_t mode = in.byte();
  if (good != nullptr && mode < 160) return good;
  switch (mode % 8) {
    case 0: return nullptr;
    case 1: return arenaBase + in.below(static_cast<uint32_t>(pagesInUse * kPageSize));
    case 2:  // a few bytes before the end of an arena page
      return arenaBase + in.below(static_cast<uint32_t>(pagesInUse)) * kPageSize + kPageSize - 1 - in.below(256);
    case 3: return reservedBase + in.below(kReservedSize);
    case 4: return holeBase + in.below(kHoleSize);
    case 5: return reinterpret_cast<const void*>(~uintptr_t{0} - in.below(0x4000));
    case 6: return reinterpret_cast<const void*>(static_cast<uintptr_t>(in.u64()));
    default: return good != nullptr ? static_cast<const uint8_t*>(good) + static_cast<int8_t>(in.byte()) : nullptr;
  }
}

void setArenaPagesInUse(size_t pages) { pagesInUse = pages < kArenaPages ? pages : kArenaPages; }

void protectArenaPage(size_t page) {
  if (page >= kArenaPages || !pageReadable[page]) return;
  mprotect(arenaBase + page * kPageSize, kPageSize, PROT_NONE);
  pageReadable[page] = false;
}

void protectSomeArenaPages(FuzzInput& in, size_t firstPage, size_t pageCount) {
  const uint32_t count = in.byte() % 5;
  for (uint32_t i = 0; i < count; ++i) protectArenaPage(firstPage + in.below(static_cast<uint32_t>(pageCount)));
}

void unprotectArena() {
  for (size_t page = 0; page < kArenaPages; ++page) {
    if (pageReadable[page]) continue;
    mprotect(arenaBase + page * kPageSize, kPageSize, PROT_READ | PROT_WRITE);
    pageReadable[page] = true;
  }
}

bool arenaPageReadable(size_t page) { return page < kArenaPages && pageReadable[page]; }

bool arenaRangeReadable(const void* address, size_t length) {
  const auto a = reinterpret_cast<uintptr_t>(address);
  const auto base = reinterpret_cast<uintptr_t>(arenaBase);
  if (length == 0 || a < base || a - base > kArenaSize - length) return false;
  for (size_t page = (a - base) / kPageSize; page <= (a - base + length - 1) / kPageSize; ++page)
    if (!pageReadable[page]) return false;
  return true;
}

void takeSnapshot() {
  for (size_t page = 0; page < kArenaPages; ++page) snapshotReadable[page] = false;
  for (size_t page = 0; page < pagesInUse; ++page) {
    snapshotReadable[page] = pageReadable[page];
    if (pageReadable[page]) std::memcpy(arenaSnapshot + page * kPageSize, arenaBase + page * kPageSize, kPageSize);
  }
  for (size_t i = 0; i < kImagePageCount; ++i)
    std::memcpy(imageSnapshot[i], pageOf(image + kImagePageRvas[i]), kPageSize);
  allowedCount = 0;
}

void allowWrite(const void* address, size_t length) {
  if (allowedCount == sizeof allowed / sizeof allowed[0]) std::abort();
  const auto begin = reinterpret_cast<uintptr_t>(address);
  allowed[allowedCount++] = Range{begin, begin + length};
}

uint8_t* snapshotCopy(const void* address) {
  const auto a = reinterpret_cast<uintptr_t>(address);
  if (inside(a, arenaBase, kArenaSize)) return arenaSnapshot + (a - reinterpret_cast<uintptr_t>(arenaBase));
  for (size_t i = 0; i < kImagePageCount; ++i) {
    uint8_t* page = pageOf(image + kImagePageRvas[i]);
    if (inside(a, page, kPageSize)) return imageSnapshot[i] + (a - reinterpret_cast<uintptr_t>(page));
  }
  std::fprintf(stderr, "no snapshot copy of %p\n", address);
  std::abort();
}

namespace {

bool isAllowed(uintptr_t a) {
  for (size_t i = 0; i < allowedCount; ++i)
    if (a >= allowed[i].begin && a < allowed[i].end) return true;
  return false;
}

void comparePage(const uint8_t* now, const uint8_t* before, const char* what) {
  if (std::memcmp(now, before, kPageSize) == 0) return;
  for (size_t i = 0; i < kPageSize; ++i) {
    if (now[i] == before[i] || isAllowed(reinterpret_cast<uintptr_t>(now + i))) continue;
    std::fprintf(stderr, "%s: host byte at %p changed from 0x%02X to 0x%02X\n", what, static_cast<const void*>(now + i),
                 before[i], now[i]);
    std::abort();
  }
}

}  // namespace

void checkUnchanged(const char* what) {
  for (size_t page = 0; page < pagesInUse; ++page) {
    // A page that was inaccessible during the call cannot have been written.
    if (!snapshotReadable[page] || !pageReadable[page]) continue;
    comparePage(arenaBase + page * kPageSize, arenaSnapshot + page * kPageSize, what);
  }
  for (size_t i = 0; i < kImagePageCount; ++i) comparePage(pageOf(image + kImagePageRvas[i]), imageSnapshot[i], what);
  allowedCount = 0;
}

void fuzzSettings(FuzzInput& in) {
  const uint16_t bits = in.u16();
  settings.unlockAbove120 = (bits >> 0) & 1;
  settings.stabilizeMouseSensitivity = (bits >> 1) & 1;
  settings.stabilizeFirstPersonHands = (bits >> 2) & 1;
  settings.worldTransforms = (bits >> 3) & 1;
  settings.cinematicTransforms = (bits >> 4) & 1;
  settings.shadowTransforms = (bits >> 5) & 1;
  settings.firstPersonSkeletons = (bits >> 6) & 1;
  settings.worldSkeletons = (bits >> 7) & 1;
  settings.cinematicSkeletons = (bits >> 8) & 1;
  settings.telemetry = 0;
}

void publishFuzzFrame(FuzzInput& in) {
  static double clock = 100.0;
  const uint8_t mode = in.byte();
  if (mode & 1) {
    const Matrix4x4 forward = fuzzMatrix4x4(in);
    const Matrix4x4 inverse = (mode & 2) ? inverseOfRigid(forward) : fuzzMatrix4x4(in);
    publishCameraCorrection(forward, inverse, (mode & 4) != 0);
  }
  double presentation, sample;
  fuzzTimes(in, mode < 200, 4000.0, clock, presentation, sample);
  const bool valid = std::isfinite(presentation) && std::isfinite(sample) && (mode & 8) == 0;
  publishPresentationFrame(valid ? presentation : 0.0, valid ? sample : 0.0, valid);
}

FuzzInput startFuzzInput(const uint8_t* data, size_t size, size_t pages) {
  setUpFuzzHost();
  setArenaPagesInUse(pages);
  FuzzInput in{data, size, 0};
  fuzzSettings(in);
  return in;
}

void framesAndCalls(FuzzInput& in, int steps, void (*call)(FuzzInput&)) {
  for (int step = 0; step < steps && !in.empty(); ++step) {
    if (in.byte() % 3 == 0) publishFuzzFrame(in);
    else call(in);
  }
}

void fuzzTimes(FuzzInput& in, bool steady, double scale, double& clock, double& presentation, double& sample) {
  if (steady) {
    clock += in.byte() / scale;
    sample = clock - in.byte() / (2 * scale);
    presentation = clock + in.byte() / (4 * scale);
  } else {
    presentation = fuzzDouble(in);
    sample = fuzzDouble(in);
  }
}
