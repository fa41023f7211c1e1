#include "tests/support/camera_host.h"

#include <sys/mman.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bootstrap/host_interface.h"
#include "patch/hooks.h"
#include "platform/platform.h"

using namespace corvane::bootstrap;
using namespace corvane::os;
using namespace corvane::patch;

ViewCopyCall lastViewCopyCall{};
uint64_t viewCopyCalls = 0;

namespace {

uint8_t* image = nullptr;
uint8_t* clockMemory = nullptr;
bool f10Down = false;

void* mapOrDie(size_t size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) {
    std::perror("mmap");
    std::abort();
  }
  return p;
}

uint64_t CORVANE_HOSTCALL standInViewCopy(void* destination, void* source, uint64_t a3, uint64_t a4) {
  std::memcpy(destination, source, kFakeViewSize);
  lastViewCopyCall = {destination, source, a3, a4};
  ++viewCopyCalls;
  return expectedViewCopyResult(destination, a3, a4);
}

int16_t fakeKeyState(int virtualKey) {
  if (virtualKey != 0x79) return 0;
  // Bit 0 (pressed since the last query) is noise the system must ignore.
  return static_cast<int16_t>(f10Down ? 0x8001 : 0x0001);
}

}  // namespace

uint64_t expectedViewCopyResult(void* destination, uint64_t a3, uint64_t a4) {
  return (reinterpret_cast<uint64_t>(destination) ^ (a3 * 0x9E3779B97F4A7C15ull)) + a4;
}

void installCameraHost() {
  if (image == nullptr) {
    image = static_cast<uint8_t*>(mapOrDie(kFakeImageSize));
    clockMemory = static_cast<uint8_t*>(mapOrDie(kFakeClockRecordSize));
  }
  hostBase = image;
  hostViewCopy.store(standInViewCopy);
  platform.keyState = fakeKeyState;
  f10Down = false;
  setClockIdentity(validClockIdentity());
  useOwnClock();
  setClockTimes(0.0, 0.0);
}

void setClockTimes(double presentationTime, double sampleTime) {
  std::memcpy(clockMemory + kClockPresentationTimeOffset, &presentationTime, 8);
  std::memcpy(clockMemory + kClockSampleTimeOffset, &sampleTime, 8);
}

void setClockPointer(const void* record) { std::memcpy(image + kClockPointerRva, &record, 8); }
void useOwnClock() { setClockPointer(clockMemory); }
void setClockIdentity(uint64_t identity) { std::memcpy(clockMemory, &identity, 8); }
uint64_t validClockIdentity() { return reinterpret_cast<uint64_t>(image + kClockClassRva); }
uint8_t* clockRecord() { return clockMemory; }

void setF10Down(bool down) { f10Down = down; }

int32_t& hostConsoleValue(uint64_t rva) { return *reinterpret_cast<int32_t*>(image + rva); }

void setViewPose(FakeView& view, const float origin[3], const float axes[9]) {
  std::memcpy(view.bytes + kViewOriginOffset, origin, 12);
  std::memcpy(view.bytes + kViewOriginCopyOffset, origin, 12);
  std::memcpy(view.bytes + kViewAxesOffset, axes, 36);
}

void readViewPose(const FakeView& view, float origin[3], float axes[9]) {
  std::memcpy(origin, view.bytes + kViewOriginOffset, 12);
  std::memcpy(axes, view.bytes + kViewAxesOffset, 36);
}

void yawAxes(double degrees, float axes[9]) {
  const double r = degrees * M_PI / 180.0;
  const float c = static_cast<float>(std::cos(r));
  const float s = static_cast<float>(std::sin(r));
  const float values[9] = {c, s, 0, -s, c, 0, 0, 0, 1};
  std::memcpy(axes, values, sizeof values);
}
