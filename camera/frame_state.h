// What the view-copy hook publishes once per presented frame for the renderer
// hooks: the first-person correction and the frame's clock values.
#pragma once
#include <atomic>
#include <cstdint>

#include "math/types.h"

struct CameraCorrection {
  Matrix4x4 currentForward;
  Matrix4x4 currentInverse;
  Matrix4x4 previousForward;
  Matrix4x4 previousInverse;
  bool currentValid;
  bool previousValid;
  uint64_t cameraSerial;
};

struct PresentationFrame {
  double presentationTime;
  double sampleTime;
  uint64_t presentationSerial;  // 1 for the first presented frame
  bool timesValid;
};

// Copy of the last published serial, for readers that do without the lock.
extern std::atomic<uint64_t> latestPresentationSerial;

// Readers: a consistent copy under the matching lock in shared mode.
CameraCorrection copyCameraCorrection();
PresentationFrame copyPresentationFrame();

// Writers (the view-copy hook only). The current pair moves to the previous one
// and the camera serial advances.
void publishCameraCorrection(const Matrix4x4& forward, const Matrix4x4& inverse, bool valid);
// Publishes the next serial with these times and returns the whole record.
PresentationFrame publishPresentationFrame(double presentationTime, double sampleTime, bool timesValid);
