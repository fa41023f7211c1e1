#include "camera/test_seam.h"

#include <limits>

#include "camera/frame_state.h"
#include "camera/host_clock.h"
#include "camera/update_camera.h"

namespace corvane::camera {

void resetCameraStateForTests() {
  cameraHistory = CameraHistory{};
  cameraEnabled = true;
  f10WasDown = false;
  frameAlpha = std::numeric_limits<double>::quiet_NaN();
  frameCapState.store(kFrameCapPending);
  mouseState.store(kMousePending);
  forgetVerifiedClockForTests();
  cameraCorrection = CameraCorrection{};
  presentationFrame = PresentationFrame{};
  frameSequence.store(0);
  for (std::atomic<uint64_t>& word : frameWords) word.store(0);
  latestPresentationSerial.store(0);
}

void forgetVerifiedClockForTests() { verifiedClock = nullptr; }

}  // namespace corvane::camera
