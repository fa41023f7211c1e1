#include "camera/test_seam.h"

#include <limits>

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
}

void forgetVerifiedClockForTests() { verifiedClock = nullptr; }

}  // namespace corvane::camera
