#include "camera/update_camera.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "bootstrap/host_interface.h"
#include "bootstrap/log.h"
#include "camera/host_clock.h"
#include "camera/view_pose.h"
#include "math/quaternion.h"
#include "math/transform.h"
#include "platform/platform.h"

namespace corvane::camera {

using math::RigidTransform;

CameraHistory cameraHistory{};
bool cameraEnabled = true;
bool f10WasDown = false;
double frameAlpha = std::numeric_limits<double>::quiet_NaN();

namespace {

void invalidateHistory() { cameraHistory.valid = false; }

void resetHistory(const void* source, double sampleTime, const RigidTransform& pose) {
  cameraHistory.valid = true;
  cameraHistory.sourceView = source;
  cameraHistory.previousSampleTime = sampleTime;
  cameraHistory.currentSampleTime = sampleTime;
  cameraHistory.previous = pose;
  cameraHistory.current = pose;
}

void shiftHistory(double sampleTime, const RigidTransform& pose) {
  cameraHistory.previous = cameraHistory.current;
  cameraHistory.previousSampleTime = cameraHistory.currentSampleTime;
  cameraHistory.current = pose;
  cameraHistory.currentSampleTime = sampleTime;
}

double originDistance(const RigidTransform& a, const RigidTransform& b) {
  const double dx = a.translation[0] - b.translation[0];
  const double dy = a.translation[1] - b.translation[1];
  const double dz = a.translation[2] - b.translation[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

void watchF10() {
  const bool down = (static_cast<uint16_t>(os::platform.keyState(kVirtualKeyF10)) & kKeyDownBit) != 0;
  if (down && !f10WasDown) {
    invalidateHistory();
    cameraEnabled = !cameraEnabled;
    bootstrap::LogMessage("F10: high-FPS camera and first-person prediction %s.",
                          cameraEnabled ? "enabled" : "disabled");
  }
  f10WasDown = down;
}

// Takes the host's copied view as a sample and, with two samples in hand,
// carries the view to the presentation time.
void interpolateView(void* destination, const void* source) {
  const HostClock clock = readHostClock();
  if (!clock.present) return invalidateHistory();
  if (!math::isFiniteDouble(clock.presentationTime) || !math::isFiniteDouble(clock.sampleTime))
    return invalidateHistory();
  const RigidTransform pose = captureViewPose(destination);
  if (!math::isFiniteRigidTransform(pose)) return invalidateHistory();
  const uint8_t* bytes = static_cast<const uint8_t*>(destination);
  if (std::memcmp(bytes + bootstrap::kViewOriginOffset, bytes + bootstrap::kViewOriginCopyOffset, 3 * sizeof(float)) !=
      0)
    return invalidateHistory();

  const double sampleTime = clock.sampleTime;
  if (!cameraHistory.valid || cameraHistory.sourceView != source ||
      cameraHistory.currentSampleTime - kSampleTimeTolerance > sampleTime)
    return resetHistory(source, sampleTime, pose);

  if (sampleTime > cameraHistory.currentSampleTime + kSampleTimeTolerance) {
    if (sampleTime - cameraHistory.currentSampleTime > kMaxSampleGap ||
        originDistance(pose, cameraHistory.current) > kMaxJumpDistance ||
        math::rotationAngleDegrees(cameraHistory.current, pose) > kMaxJumpAngle)
      return resetHistory(source, sampleTime, pose);
    shiftHistory(sampleTime, pose);
  }

  const double dt = cameraHistory.currentSampleTime - cameraHistory.previousSampleTime;
  if (dt <= kSampleTimeTolerance || dt > kMaxSampleGap) return;
  double alpha = (clock.presentationTime - cameraHistory.previousSampleTime) / dt;
  alpha = clampAlpha(alpha);
  frameAlpha = alpha;

  const RigidTransform& from = cameraHistory.previous;
  const RigidTransform& to = cameraHistory.current;
  RigidTransform presented;
  for (int i = 0; i < 3; ++i)
    presented.translation[i] = from.translation[i] + (to.translation[i] - from.translation[i]) * alpha;
  const math::Quaternion blended = math::slerpQuaternion(math::quaternionFromRotation(from.rotation),
                                                         math::quaternionFromRotation(to.rotation), alpha);
  math::rotationFromQuaternion(blended, presented.rotation);
  if (math::isFiniteRigidTransform(presented)) writeViewPose(destination, presented);
}

}  // namespace

void UpdateCamera(void* destination, const void* source) {
  frameAlpha = std::numeric_limits<double>::quiet_NaN();
  ApplyEngineSettings();
  watchF10();
  if (!cameraEnabled) return;
  interpolateView(destination, source);
}

}  // namespace corvane::camera
