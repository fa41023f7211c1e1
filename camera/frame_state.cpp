#include "camera/frame_state.h"

#include "platform/locks.h"

namespace {
SlimLock correctionLock;
SlimLock presentationLock;
CameraCorrection cameraCorrection;
PresentationFrame presentationFrame;
}  // namespace

std::atomic<uint64_t> latestPresentationSerial{0};

CameraCorrection copyCameraCorrection() {
  SharedGuard guard(correctionLock);
  return cameraCorrection;
}

PresentationFrame copyPresentationFrame() {
  SharedGuard guard(presentationLock);
  return presentationFrame;
}

void publishCameraCorrection(const Matrix4x4& forward, const Matrix4x4& inverse, bool valid) {
  ExclusiveGuard guard(correctionLock);
  cameraCorrection.previousForward = cameraCorrection.currentForward;
  cameraCorrection.previousInverse = cameraCorrection.currentInverse;
  cameraCorrection.previousValid = cameraCorrection.currentValid;
  cameraCorrection.cameraSerial += 1;
  cameraCorrection.currentForward = forward;
  cameraCorrection.currentInverse = inverse;
  cameraCorrection.currentValid = valid;
}

PresentationFrame publishPresentationFrame(double presentationTime, double sampleTime, bool timesValid) {
  PresentationFrame published;
  {
    ExclusiveGuard guard(presentationLock);
    presentationFrame.presentationSerial += 1;
    presentationFrame.presentationTime = presentationTime;
    presentationFrame.sampleTime = sampleTime;
    presentationFrame.timesValid = timesValid;
    published = presentationFrame;
  }
  latestPresentationSerial.store(published.presentationSerial, std::memory_order_release);
  return published;
}
