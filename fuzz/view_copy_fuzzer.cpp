// ViewCopyHook with UpdateCamera against hostile views and clocks: view origins
// and axes with NaN, infinities, denormals, huge and tiny values, origin copies
// that disagree, a clock pointer that is null, foreign, unreadable or unmapped,
// clock times from the fuzzer, F10 presses, console-variable values and
// switches from the fuzzer. Outside the destination's camera fields and the
// console variables the host's memory stays as the host left it, and the
// hook's result is the host's.
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bootstrap/host_interface.h"
#include "camera/test_seam.h"
#include "camera/update_camera.h"
#include "fuzz/fuzz_host.h"
#include "patch/hooks.h"
#include "platform/platform.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::patch;

namespace {

constexpr size_t kViewSize = 0xF0;
constexpr size_t kCameraFieldsBegin = kViewOriginOffset;  // origin, origin copy, axes
constexpr size_t kCameraFieldsEnd = kViewAxesOffset + 9 * sizeof(float);
constexpr size_t kClockRecordSize = 0x2E8000;

uint8_t* clockRecord = nullptr;
bool f10Down = false;
uint64_t hostCalls = 0;

[[noreturn]] void fail(const char* message) {
  std::fprintf(stderr, "ViewCopyHook: %s\n", message);
  std::abort();
}

int16_t fuzzKeyState(int key) { return key == kVirtualKeyF10 && f10Down ? static_cast<int16_t>(0x8000) : 0; }

uint64_t CORVANE_HOSTCALL standInViewCopy(void* destination, void* source, uint64_t a3, uint64_t a4) {
  ++hostCalls;
  std::memcpy(destination, source, kViewSize);
  // The host's own write is what the destination must hold afterwards.
  std::memcpy(snapshotCopy(destination), source, kViewSize);
  return a3 ^ (a4 << 1);
}

template <typename T>
void put(uint8_t* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

void setClock(FuzzInput& in, double& clock) {
  const uint8_t mode = in.byte();
  const void* pointer = clockRecord;
  uint64_t identity = reinterpret_cast<uint64_t>(hostBase + kClockClassRva);
  if (mode >= 200) {
    switch (mode % 5) {
      case 0: pointer = nullptr; break;
      case 1: pointer = reservedAddress(); break;
      case 2: pointer = unmappedAddress(); break;
      case 3: identity = in.u64(); break;
      default: pointer = clockRecord + kClockRecordSize - 8; break;  // times beyond the mapping
    }
  }
  put(hostAddress(kClockPointerRva), pointer);
  put(clockRecord, identity);
  double presentation, sample;
  fuzzTimes(in, in.byte() < 220, 3000.0, clock, presentation, sample);
  put(clockRecord + kClockPresentationTimeOffset, presentation);
  put(clockRecord + kClockSampleTimeOffset, sample);
}

void setSourcePose(FuzzInput& in, uint8_t* view) {
  const uint8_t mode = in.byte();
  float origin[3];
  std::memcpy(origin, view + kViewOriginOffset, sizeof origin);
  if (mode < 150) {
    for (float& o : origin) o += static_cast<int8_t>(in.byte()) / 128.0f;
  } else {
    for (float& o : origin) o = fuzzFloat(in);
  }
  std::memcpy(view + kViewOriginOffset, origin, sizeof origin);
  if ((in.byte() & 15) == 0) origin[in.byte() % 3] = fuzzFloat(in);  // copies that disagree
  std::memcpy(view + kViewOriginCopyOffset, origin, sizeof origin);
  if (mode & 1) {
    const Matrix4x4 m = fuzzMatrix4x4(in);
    float axes[9];
    for (int axis = 0; axis < 3; ++axis)
      for (int c = 0; c < 3; ++c) axes[axis * 3 + c] = m.m[c * 4 + axis];
    std::memcpy(view + kViewAxesOffset, axes, sizeof axes);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = startFuzzInput(data, size, 3);
  if (clockRecord == nullptr) {
    clockRecord = static_cast<uint8_t*>(
        mmap(nullptr, kClockRecordSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    if (clockRecord == MAP_FAILED) std::abort();
    registerReadableRegion(clockRecord, kClockRecordSize);
  }
  hostViewCopy.store(standInViewCopy);
  platform.keyState = fuzzKeyState;
  resetCameraStateForTests();
  f10Down = false;

  for (uint64_t rva : {kDisableFrameSpinningRva, kTripleBufferingRva, kFixMouseSensibilityRva}) {
    const uint8_t mode = in.byte();
    put<int32_t>(hostAddress(rva), mode < 200 ? mode % 3 : static_cast<int32_t>(in.u32()));
  }
  // Two source views (the camera follows one at a time) and a destination.
  uint8_t* sources[2] = {arena(), arena() + kPageSize};
  uint8_t* destination = arena() + 2 * kPageSize + (in.byte() % 16) * 4;
  for (uint8_t* s : sources) in.bytes(s, kViewSize);
  double clock = 50.0;

  for (int frame = 0; frame < 48 && !in.empty(); ++frame) {
    const uint8_t op = in.byte();
    f10Down = (op & 1) != 0;
    uint8_t* source = sources[(op >> 1) & 1];
    setClock(in, clock);
    setSourcePose(in, source);
    const uint64_t a3 = in.u64(), a4 = in.u64();
    uint8_t clockBefore[24];
    std::memcpy(clockBefore, clockRecord, 8);
    std::memcpy(clockBefore + 8, clockRecord + kClockPresentationTimeOffset, 8);
    std::memcpy(clockBefore + 16, clockRecord + kClockSampleTimeOffset, 8);

    takeSnapshot();
    allowWrite(destination + kCameraFieldsBegin, kCameraFieldsEnd - kCameraFieldsBegin);
    for (uint64_t rva : {kDisableFrameSpinningRva, kFixMouseSensibilityRva}) allowWrite(hostAddress(rva), 4);
    const uint64_t callsBefore = hostCalls;
    const uint64_t result = ViewCopyHook(destination, source, a3, a4);
    if (hostCalls != callsBefore + 1) fail("host view copy not called exactly once");
    if (result != (a3 ^ (a4 << 1))) fail("result is not the host's");
    if (!cameraEnabled && std::memcmp(destination, source, kViewSize) != 0)
      fail("with F10 off the destination differs from the host's copy");
    checkUnchanged("ViewCopyHook");
    if (std::memcmp(clockBefore, clockRecord, 8) != 0 ||
        std::memcmp(clockBefore + 8, clockRecord + kClockPresentationTimeOffset, 8) != 0 ||
        std::memcmp(clockBefore + 16, clockRecord + kClockSampleTimeOffset, 8) != 0)
      fail("clock record changed");
  }
  return 0;
}
