#include "camera/telemetry_write.h"

#include <cstring>
#include <limits>

#include "bootstrap/install.h"
#include "camera/telemetry_access.h"
#include "camera/view_pose.h"

namespace corvane::camera {

void writeTelemetry(const void* destination, const void* source, const HostClock& clock, bool enabled, double alpha) {
  TelemetryBlock* block = bootstrap::telemetryView;
  if (block == nullptr) return;

  // Everything is gathered before the sequence turns odd.
  float sourceOrigin[3], outputOrigin[3], sourceAxes[9], outputAxes[9];
  readViewOrigin(source, sourceOrigin);
  readViewOrigin(destination, outputOrigin);
  readViewAxes(source, sourceAxes);
  readViewAxes(destination, outputAxes);
  double sourceWide[3], outputWide[3];
  for (int i = 0; i < 3; ++i) {
    sourceWide[i] = sourceOrigin[i];
    outputWide[i] = outputOrigin[i];
  }
  const bool modified = std::memcmp(sourceWide, outputWide, sizeof sourceWide) != 0 ||
                        std::memcmp(sourceAxes, outputAxes, sizeof sourceAxes) != 0;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double presentationTime = clock.present ? clock.presentationTime : nan;
  const double sampleTime = clock.present ? clock.sampleTime : nan;

  using namespace telemetry_access;
  std::atomic_ref<uint64_t>(block->sequence).fetch_add(1);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  put(block->enabled, enabled ? 1u : 0u);
  put(block->modified, modified ? 1u : 0u);
  putDouble(block->presentationTime, presentationTime);
  putDouble(block->sampleTime, sampleTime);
  putDouble(block->alpha, alpha);
  putFloats(block->sourceOrigin, sourceOrigin, 3);
  putFloats(block->outputOrigin, outputOrigin, 3);
  putFloats(block->sourceAxes, sourceAxes, 9);
  putFloats(block->outputAxes, outputAxes, 9);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  std::atomic_ref<uint64_t>(block->sequence).fetch_add(1);
}

}  // namespace corvane::camera
