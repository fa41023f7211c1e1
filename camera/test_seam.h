// For the tests only: not part of corvane.dll (camera/test_seam.cpp is built into the test programs).
#pragma once

namespace corvane::camera {

// History, F10, settling states, the camera correction and the presentation frame
// as after load; the next clock pointer is probed again.
void resetCameraStateForTests();
// Probe the next clock pointer again, as after load.
void forgetVerifiedClockForTests();

}  // namespace corvane::camera
