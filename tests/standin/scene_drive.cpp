#include "tests/standin/scene_drive.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "tests/standin/standin_clock.h"

namespace {

// Rounding allowed against the reference (same inputs, 64-bit arithmetic
// narrowed to 32-bit) and against the true path (32-bit samples, extrapolated
// up to one further interval).
constexpr double kReferenceOriginTolerance = 1e-6;
constexpr float kReferenceAxisTolerance = 1e-5f;
constexpr double kPathOriginTolerance = 2e-6;
constexpr double kPathAxisTolerance = 1e-4;

double relativeDifference(double value, double wanted) {
  return std::fabs(value - wanted) / std::fmax(1.0, std::fabs(wanted));
}

bool onlyPoseDiffers(const uint8_t* presented, const uint8_t* copy) {
  for (size_t i = 0; i < kStandInViewLength; ++i) {
    const bool pose = (i >= kSceneViewOrigin && i < kSceneViewOrigin + 12) ||
                      (i >= kSceneViewOriginCopy && i < kSceneViewOriginCopy + 12) ||
                      (i >= kSceneViewAxes && i < kSceneViewAxes + 36);
    if (!pose && presented[i] != copy[i]) return false;
  }
  return true;
}

void fillViewBytes(uint8_t* view, uint8_t seed) {
  for (size_t i = 0; i < kStandInViewLength; ++i) view[i] = static_cast<uint8_t>(i * 13 + seed);
}

}  // namespace

void startScene(SceneRun& run, const ScriptedScene& scene) {
  run.scene = scene;
  run.reference = CameraReference{};
  run.nextFrame = 0;
  fillViewBytes(run.source, 0x21);
  startStandInClock();
}

SceneFrameCheck driveSceneFrame(SceneRun& run) {
  SceneFrameCheck c{};
  c.frame = run.nextFrame++;
  c.times = sceneFrame(run.scene, c.frame);
  writeSceneView(run.scene, c.times.tick, run.source);
  setStandInClockTimes(c.times.presentationTime, c.times.sampleTime);
  alignas(16) uint8_t sourceBefore[kStandInViewLength];
  std::memcpy(sourceBefore, run.source, sizeof sourceBefore);
  fillViewBytes(run.destination, static_cast<uint8_t>(0x5A + c.frame));

  const uint64_t a3 = 0x3333000000000000ull + c.frame, a4 = 0x4444000000000000ull ^ c.frame;
  const uint64_t wanted = 0x600D000000000000ull + c.frame;
  standInHost.viewCopy.result = wanted;
  const uint64_t calls = standInHost.viewCopy.count.load();
  const uint64_t result = gameCallsViewCopy(run.destination, run.source, a3, a4);
  const ViewCopyCall call = standInHost.viewCopy.lastCall();

  c.hostCalledOnce = standInHost.viewCopy.count.load() == calls + 1 && call.destination == run.destination &&
                     call.source == run.source && call.a3 == a3 && call.a4 == a4;
  c.resultReturned = result == wanted;
  c.sourceKept = std::memcmp(run.source, sourceBefore, sizeof sourceBefore) == 0;
  std::memcpy(c.presentedOrigin, run.destination + kSceneViewOrigin, sizeof c.presentedOrigin);
  std::memcpy(c.presentedAxes, run.destination + kSceneViewAxes, sizeof c.presentedAxes);
  c.originCopiesEqual =
      std::memcmp(run.destination + kSceneViewOrigin, run.destination + kSceneViewOriginCopy, 12) == 0;

  float hostOrigin[3], hostAxes[9];
  std::memcpy(hostOrigin, run.source + kSceneViewOrigin, sizeof hostOrigin);
  std::memcpy(hostAxes, run.source + kSceneViewAxes, sizeof hostAxes);
  c.expected = referenceFrame(run.reference, c.times.presentationTime, c.times.sampleTime, hostOrigin, hostAxes);

  if (!c.expected.carried) {
    c.untouchedAsExpected = std::memcmp(run.destination, run.source, kStandInViewLength) == 0;
    c.otherBytesKept = c.matchesReference = c.matchesPath = true;
    return c;
  }
  c.untouchedAsExpected = true;
  c.otherBytesKept = onlyPoseDiffers(run.destination, run.source);
  bool axesMatch = true;
  for (int i = 0; i < 3; ++i)
    c.originError = std::fmax(c.originError, relativeDifference(c.presentedOrigin[i], c.expected.origin[i]));
  for (int i = 0; i < 9; ++i)
    axesMatch = axesMatch && std::fabs(c.presentedAxes[i] - c.expected.axes[i]) <= kReferenceAxisTolerance;
  c.matchesReference = c.originError <= kReferenceOriginTolerance && axesMatch;

  // Both samples of the pair lie on the same side of the cut, so the path
  // between and beyond them is the scene's own.
  const ScenePose truth = scenePathAt(run.scene, c.times.presentationTime, c.times.tick);
  bool pathAxes = true;
  for (int i = 0; i < 3; ++i)
    c.pathError = std::fmax(c.pathError, relativeDifference(c.presentedOrigin[i], truth.origin[i]));
  for (int i = 0; i < 9; ++i)
    pathAxes = pathAxes && std::fabs(c.presentedAxes[i] - truth.axes[i]) <= kPathAxisTolerance;
  c.matchesPath = c.pathError <= kPathOriginTolerance && pathAxes;
  return c;
}

bool sceneFrameGood(const SceneFrameCheck& c) {
  return c.hostCalledOnce && c.resultReturned && c.sourceKept && c.untouchedAsExpected && c.otherBytesKept &&
         c.originCopiesEqual && c.matchesReference && c.matchesPath;
}

void describeSceneFrame(const SceneFrameCheck& c, char* text, size_t capacity) {
  std::snprintf(text, capacity,
                "frame %llu (tick %llu, P=%.9f S=%.9f, %s alpha=%.6f): host call %d, result %d, source kept %d, "
                "untouched %d, other bytes kept %d, origin copies %d, reference %d (origin error %.3g), path %d "
                "(origin error %.3g); presented (%.7g, %.7g, %.7g), reference (%.7g, %.7g, %.7g)",
                static_cast<unsigned long long>(c.frame), static_cast<unsigned long long>(c.times.tick),
                c.times.presentationTime, c.times.sampleTime, c.expected.carried ? "carried" : "host view",
                c.expected.alpha, c.hostCalledOnce, c.resultReturned, c.sourceKept, c.untouchedAsExpected,
                c.otherBytesKept, c.originCopiesEqual, c.matchesReference, c.originError, c.matchesPath, c.pathError,
                c.presentedOrigin[0], c.presentedOrigin[1], c.presentedOrigin[2], c.expected.origin[0],
                c.expected.origin[1], c.expected.origin[2]);
}
