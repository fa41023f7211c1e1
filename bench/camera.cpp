// The view-copy hook on ordinary frames: the camera interpolated, the frame
// state published, the telemetry record written, no report due.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <cmath>
#include <cstring>

#include "bootstrap/host_interface.h"
#include "bootstrap/install.h"
#include "bootstrap/settings.h"
#include "camera/telemetry.h"
#include "camera/test_seam.h"
#include "camera/update_camera.h"
#include "diagnostics/report_schedule.h"
#include "patch/hooks.h"
#include "platform/platform.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::diagnostics;
using namespace corvane::os;
using namespace corvane::patch;

namespace {

constexpr size_t kViewSize = 0xF0;
alignas(64) uint8_t destination[kViewSize];
alignas(64) uint8_t source[kViewSize];
alignas(64) TelemetryBlock block;
uint8_t* clockRecord = nullptr;

uint64_t CORVANE_HOSTCALL hostCopy(void* to, void* from, uint64_t, uint64_t) {
  std::memcpy(to, from, kViewSize);
  return 1;
}
int16_t keyUp(int) { return 0; }

void setUpHost() {
  if (hostBase != nullptr) return;
  const int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
  hostBase = static_cast<uint8_t*>(mmap(nullptr, 0x3C00000, PROT_READ | PROT_WRITE, flags, -1, 0));
  clockRecord = static_cast<uint8_t*>(mmap(nullptr, 0x2E8000, PROT_READ | PROT_WRITE, flags, -1, 0));
  const uint64_t identity = reinterpret_cast<uint64_t>(hostBase + kClockClassRva);
  std::memcpy(clockRecord, &identity, 8);
  std::memcpy(hostBase + kClockPointerRva, &clockRecord, 8);
  hostViewCopy.store(hostCopy);
  platform.keyState = keyUp;
  block.version = kTelemetryVersion;
  block.size = kTelemetrySize;
  telemetryView = &block;
  // Every report switched on but none due.
  settings.worldTransforms = 1;
  settings.firstPersonSkeletons = 1;
  settings.unlockAbove120 = 1;
  nextWorldReport.store(UINT64_MAX);
  nextSkeletalReport.store(UINT64_MAX);
}

// Four presented frames per simulation sample of 1/60 s; the camera walks and turns.
void setFrame(uint64_t frame) {
  const uint64_t sample = frame / 4;
  const double sampleTime = double(sample) / 60.0;
  const double presentationTime = sampleTime + double(frame % 4) / 240.0;
  std::memcpy(clockRecord + kClockPresentationTimeOffset, &presentationTime, 8);
  std::memcpy(clockRecord + kClockSampleTimeOffset, &sampleTime, 8);
  const float origin[3] = {float(sample % 1000) * 0.1f, 5.0f, 1.7f};
  const double yaw = double(sample % 1000) * 0.01;
  const float axes[9] = {
      float(std::cos(yaw)), float(std::sin(yaw)), 0, float(-std::sin(yaw)), float(std::cos(yaw)), 0, 0, 0, 1};
  std::memcpy(source + kViewOriginOffset, origin, 12);
  std::memcpy(source + kViewOriginCopyOffset, origin, 12);
  std::memcpy(source + kViewAxesOffset, axes, 36);
}

// The frame set-up (a few copies, a sine and a cosine) is timed as well.
void ViewCopyHookFrame(benchmark::State& state) {
  setUpHost();
  resetCameraStateForTests();
  uint64_t frame = 4;
  uint64_t interpolated = 0;
  for (auto _ : state) {
    setFrame(frame++);
    benchmark::DoNotOptimize(ViewCopyHook(destination, source, 0, 0));
    interpolated += std::isnan(frameAlpha) ? 0 : 1;
  }
  state.counters["interpolated"] = benchmark::Counter(double(interpolated) / double(state.iterations()));
}
BENCHMARK(ViewCopyHookFrame);

}  // namespace
