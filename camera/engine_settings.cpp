// Frame cap and mouse sensitivity: the host's console-variable values are
// settled once, only when their switch is on and their value is one we know.
#include <atomic>

#include "bootstrap/host_interface.h"
#include "bootstrap/log.h"
#include "bootstrap/settings.h"
#include "camera/update_camera.h"

namespace corvane::camera {

using bootstrap::LogMessage;
using bootstrap::settings;

std::atomic<int32_t> frameCapState{kFrameCapPending};
std::atomic<int32_t> mouseState{kMousePending};

namespace {

std::atomic_ref<int32_t> hostValue(uint64_t rva) {
  return std::atomic_ref<int32_t>(*bootstrap::hostAddress<int32_t>(rva));
}

bool claim(std::atomic<int32_t>& state, int32_t settled) {
  int32_t expected = 0;
  return state.compare_exchange_strong(expected, settled);
}

void settleFrameCap() {
  const uint32_t spinning =
      static_cast<uint32_t>(hostValue(bootstrap::kDisableFrameSpinningRva).load(std::memory_order_relaxed));
  if (spinning > 1) return;
  const int32_t tripleBuffering = hostValue(bootstrap::kTripleBufferingRva).load(std::memory_order_relaxed);
  if (tripleBuffering == 0) {
    hostValue(bootstrap::kDisableFrameSpinningRva).exchange(1);
    if (claim(frameCapState, kFrameCapApplied))
      LogMessage("Applied com_disableFrameSpinning=1; the external/driver limiter now controls FPS.");
  } else if (tripleBuffering == 1) {
    if (claim(frameCapState, kFrameCapDeclined))
      LogMessage("UnlockAbove120 was not applied because Triple Buffering is enabled.");
  }
}

void settleMouseSensitivity() {
  const int32_t fix = hostValue(bootstrap::kFixMouseSensibilityRva).load(std::memory_order_relaxed);
  if (fix == 0) {
    if (claim(mouseState, kMouseAlreadyStable))
      LogMessage("Mouse sensitivity is already stable: g_fixMouseSensibility=0.");
  } else if (fix == 1) {
    if (claim(mouseState, kMouseApplied)) {
      hostValue(bootstrap::kFixMouseSensibilityRva).exchange(0);
      LogMessage("Stabilized mouse sensitivity by applying g_fixMouseSensibility=0.");
    }
  }
}

}  // namespace

void ApplyEngineSettings() {
  if (settings.unlockAbove120 && frameCapState.load() == kFrameCapPending) settleFrameCap();
  if (settings.stabilizeMouseSensitivity && mouseState.load() == kMousePending) settleMouseSensitivity();
}

}  // namespace corvane::camera
