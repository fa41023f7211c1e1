#include "camera/frame_state.h"

#include <cstring>

#include "platform/locks.h"

namespace corvane::camera {

CameraCorrection cameraCorrection;
PresentationFrame presentationFrame;
std::atomic<uint64_t> frameSequence{0};
std::atomic<uint64_t> frameWords[kFrameWords];

namespace {
os::SlimLock correctionLock;

// The presentation frame is read by every renderer hook call, on several
// threads at once, so readers take no lock: the frame lives in atomic words
// behind a sequence that is odd while the one writer (under presentationLock)
// rewrites them, and a reader retries when the sequence moved. A reader that
// keeps meeting a write falls back to the lock, which the writer holds
// throughout.
os::SlimLock presentationLock;
constexpr int kOptimisticReads = 64;

uint64_t bitsOf(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

double doubleOf(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

PresentationFrame loadFrameWords() {
  PresentationFrame frame{};
  frame.presentationTime = doubleOf(frameWords[0].load(std::memory_order_relaxed));
  frame.sampleTime = doubleOf(frameWords[1].load(std::memory_order_relaxed));
  frame.presentationSerial = frameWords[2].load(std::memory_order_relaxed);
  frame.timesValid = frameWords[3].load(std::memory_order_relaxed) != 0;
  return frame;
}
}  // namespace

std::atomic<uint64_t> latestPresentationSerial{0};

CameraCorrection copyCameraCorrection() {
  os::SharedGuard guard(correctionLock);
  return cameraCorrection;
}

PresentationFrame copyPresentationFrame() {
  for (int attempt = 0; attempt < kOptimisticReads; ++attempt) {
    const uint64_t before = frameSequence.load(std::memory_order_acquire);
    if ((before & 1) != 0) continue;
    const PresentationFrame frame = loadFrameWords();
    std::atomic_thread_fence(std::memory_order_acquire);
    if (frameSequence.load(std::memory_order_relaxed) == before) return frame;
  }
  os::SharedGuard guard(presentationLock);
  return loadFrameWords();
}

void publishCameraCorrection(const Matrix4x4& forward, const Matrix4x4& inverse, bool valid) {
  os::ExclusiveGuard guard(correctionLock);
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
    os::ExclusiveGuard guard(presentationLock);
    presentationFrame.presentationSerial += 1;
    presentationFrame.presentationTime = presentationTime;
    presentationFrame.sampleTime = sampleTime;
    presentationFrame.timesValid = timesValid;
    published = presentationFrame;
    const uint64_t sequence = frameSequence.load(std::memory_order_relaxed);
    frameSequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    frameWords[0].store(bitsOf(published.presentationTime), std::memory_order_relaxed);
    frameWords[1].store(bitsOf(published.sampleTime), std::memory_order_relaxed);
    frameWords[2].store(published.presentationSerial, std::memory_order_relaxed);
    frameWords[3].store(published.timesValid ? 1 : 0, std::memory_order_relaxed);
    frameSequence.store(sequence + 2, std::memory_order_release);
  }
  latestPresentationSerial.store(published.presentationSerial, std::memory_order_release);
  return published;
}

}  // namespace corvane::camera
