// The heartbeat: once per presented frame the host copies its view through
// here; the camera logic runs on the copy and the frame's state is published
// for the renderer hooks.
#include "camera/camera_correction.h"
#include "camera/frame_state.h"
#include "camera/host_clock.h"
#include "camera/telemetry_write.h"
#include "camera/update_camera.h"
#include "camera/view_pose.h"
#include "diagnostics/reports.h"
#include "math/types.h"
#include "patch/hooks.h"

using corvane::diagnostics::ReportSkeletalDiagnostics;
using corvane::diagnostics::ReportWorldDiagnostics;
using corvane::math::isFiniteDouble;
using corvane::math::Matrix4x4;
using corvane::math::RigidTransform;
using corvane::patch::hostViewCopy;
using namespace corvane::camera;

uint64_t CORVANE_HOSTCALL ViewCopyHook(void* destination, void* source, uint64_t a3, uint64_t a4) {
  const uint64_t result = hostViewCopy.load(std::memory_order_acquire)(destination, source, a3, a4);

  const RigidTransform before = captureViewPose(destination);
  UpdateCamera(destination, source);
  const RigidTransform after = captureViewPose(destination);

  Matrix4x4 forward{};
  Matrix4x4 inverse{};
  const bool correctionValid = ComputeCameraCorrection(before, after, &forward, &inverse);
  publishCameraCorrection(forward, inverse, correctionValid);

  const HostClock clock = readHostClock();
  const bool timesValid = clock.present && isFiniteDouble(clock.presentationTime) && isFiniteDouble(clock.sampleTime);
  const PresentationFrame frame = publishPresentationFrame(clock.presentationTime, clock.sampleTime, timesValid);

  ReportWorldDiagnostics(frame);
  ReportSkeletalDiagnostics(frame);

  writeTelemetry(destination, source, clock, cameraEnabled, frameAlpha);
  return result;
}
