// What the view-copy hook publishes once per presented frame for the renderer
// hooks: the first-person correction and the frame's clock values.
#pragma once
#include <atomic>
#include <cstdint>

#include "math/types.h"

namespace corvane::camera {

using math::Matrix4x4;

struct CameraCorrection {
  Matrix4x4 currentForward;
  Matrix4x4 currentInverse;
  Matrix4x4 previousForward;
  Matrix4x4 previousInverse;
  bool currentValid;
  bool previousValid;
  uint64_t cameraSerial;
};

// Rules of the host's clock shared by everything that interpolates between two
// samples (the camera, the world pass and the skeletons), in host clock units.
constexpr double kSampleTimeTolerance = 1e-7;  // sample times closer than this are one sample
constexpr double kMaxSampleGap = 0.05;         // samples further apart are not interpolated between
// An interpolation factor is kept within [kMinAlpha, kMaxAlpha] (a NaN stays NaN).
constexpr double kMinAlpha = -0.25;
constexpr double kMaxAlpha = 2.0;
inline double clampAlpha(double alpha) {
  if (alpha >= kMaxAlpha) alpha = kMaxAlpha;
  if (alpha < kMinAlpha) alpha = kMinAlpha;
  return alpha;
}

// A track's slot (world or skeletal) not visited for more than this many
// presented frames may be taken over by another model.
constexpr uint64_t kTrackStaleSerials = 600;

struct PresentationFrame {
  double presentationTime;
  double sampleTime;
  uint64_t presentationSerial;  // 1 for the first presented frame
  bool timesValid;
};

// Copy of the last published serial, for readers that do without the lock.
extern std::atomic<uint64_t> latestPresentationSerial;

// The published state. The presentation frame is read by every renderer hook
// call, on several threads at once, so readers take no lock: the frame lives in
// frameWords (time, sample time, serial, times valid) behind frameSequence, odd
// while the one writer rewrites them; presentationFrame is the writer's own copy.
constexpr int kFrameWords = 4;
extern CameraCorrection cameraCorrection;
extern PresentationFrame presentationFrame;
extern std::atomic<uint64_t> frameSequence;
extern std::atomic<uint64_t> frameWords[kFrameWords];

// Readers: a consistent copy under the matching lock in shared mode.
CameraCorrection copyCameraCorrection();
PresentationFrame copyPresentationFrame();

// Writers (the view-copy hook only). The current pair moves to the previous one
// and the camera serial advances.
void publishCameraCorrection(const Matrix4x4& forward, const Matrix4x4& inverse, bool valid);
// Publishes the next serial with these times and returns the whole record.
PresentationFrame publishPresentationFrame(double presentationTime, double sampleTime, bool timesValid);

}  // namespace corvane::camera
