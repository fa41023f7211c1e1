#include "tests/session/win_frame.h"

#include <cmath>
#include <cstring>

#include "tests/session/session_models.h"
#include "tests/session/win_renderer.h"
#include "tests/session/win_timing.h"
#include "tests/standin/standin_clock.h"

namespace {

constexpr const char* kCostNames[kCostKinds] = {
    "view-copy", "gpu-copy",       "pose-upload",   "shadow-lists",
    "all-hooks", "of-which-probe", "outside-probe", "gpu-copy-outside-probe"};
// The trace covers one second of the camera's strafe.
constexpr double kTraceFrom = 0.5, kTraceTo = 1.5;
constexpr const char* kCameraMotions[3] = {"camera-strafe", "camera-turn", "camera-stand"};

// View record offsets of the camera.
constexpr size_t kViewOrigin = 0xA8, kViewOriginCopy = 0xC0, kViewAxes = 0xCC;

void writeCameraView(uint8_t* view, const PathPose& pose) {
  float origin[3], axes[9];
  for (int row = 0; row < 3; ++row) origin[row] = static_cast<float>(pose.m[row * 4 + 3]);
  for (int column = 0; column < 3; ++column)
    for (int row = 0; row < 3; ++row) axes[column * 3 + row] = static_cast<float>(pose.m[row * 4 + column]);
  std::memcpy(view + kViewOrigin, origin, sizeof origin);
  std::memcpy(view + kViewOriginCopy, origin, sizeof origin);
  std::memcpy(view + kViewAxes, axes, sizeof axes);
}

PathPose readCameraView(const uint8_t* view) {
  float origin[3], axes[9];
  std::memcpy(origin, view + kViewOrigin, sizeof origin);
  std::memcpy(axes, view + kViewAxes, sizeof axes);
  PathPose p{};
  p.m[15] = 1.0;
  for (int row = 0; row < 3; ++row) p.m[row * 4 + 3] = origin[row];
  for (int column = 0; column < 3; ++column)
    for (int row = 0; row < 3; ++row) p.m[row * 4 + column] = axes[column * 3 + row];
  return p;
}

// The camera's row: its motion when the previous sample, the latest one and
// the presentation time all lie in one piece of the path.
const char* cameraRow(const SessionScene& scene, const SessionFrame& f) {
  const double sample = f.sampleTime - kSessionStartTime, shown = f.presentationTime - kSessionStartTime;
  const double previous = sample - tickSeconds(scene);
  if (previous < 0.0 || pathPiece(kPathCamera, 0, previous) != pathPiece(kPathCamera, 0, shown)) return "camera-change";
  return kCameraMotions[cameraMotion(shown)];
}

// A renderer thread's share of a frame's `count` calls of `call` (every
// `threads`-th from `thread` on), each call timed.
template <auto call>
uint64_t timedShare(uint32_t thread, uint32_t threads, size_t count) {
  uint64_t spent = 0;
  for (size_t i = thread; i < count; i += threads) {
    const uint64_t start = ticksNow();
    call(i);
    spent += ticksNow() - start;
  }
  return spent;
}
uint64_t drawShare(uint32_t thread, uint32_t threads) {
  return timedShare<drawSessionItem>(thread, threads, sessionDrawnItems());
}
uint64_t shadowShare(uint32_t thread, uint32_t threads) { return timedShare<buildSessionShadows>(thread, threads, 2); }
uint64_t uploadShare(uint32_t thread, uint32_t threads) {
  return timedShare<uploadSessionCharacter>(thread, threads, sessionCharacters());
}

}  // namespace

bool startSession(SessionRun& run, const SessionScene& scene, uint8_t* base, FILE* trace) {
  run.scene = scene;
  run.base = base;
  run.trace = trace;
  run.camera = PreviousShown{};
  for (CostHistogram& c : run.costs) clearCost(c);
  std::memset(&run.summary, 0, sizeof run.summary);
  for (size_t i = 0; i < kStandInViewLength; ++i) run.source[i] = static_cast<uint8_t>(i * 29 + 3);
  startStandInClock();
  std::fprintf(trace, "presentation_time,camera_truth_x,camera_presented_x,model_truth_x,model_presented_x\n");
  return true;
}

void driveSessionFrame(SessionRun& run, uint64_t frame) {
  const SessionFrame f = sessionFrame(run.scene, frame);
  const double sample = f.sampleTime - kSessionStartTime, shown = f.presentationTime - kSessionStartTime;
  writeSessionModels(frame, f.tick);

  // The game's latest simulated camera, then the frame's view copy.
  writeCameraView(run.source, pathPose(kPathCamera, 0, sample));
  setStandInClockTimes(f.presentationTime, f.sampleTime);
  takeThreadTicks();
  const uint64_t start = ticksNow();
  gameCallsViewCopy(run.destination, run.source, frame, 0);
  const uint64_t spent = ticksNow() - start;
  const ThreadTicks inside = takeThreadTicks();
  const double viewNs = ticksToNs(spent - inside.standIn);

  const PathPose truth = pathPose(kPathCamera, 0, shown);
  const PathPose presented = readCameraView(run.destination);
  measureShown(run.summary, cameraRow(run.scene, f), presented, truth, run.camera);

  addCost(run.costs[kCostViewCopy], viewNs);
  double allNs = viewNs, probeNs = ticksToNs(inside.probe);

  // The renderer's calls of the frame, on its threads: every model's GPU
  // copy, both caster-list builds, every character's palette upload.
  // Probes are counted per item: per model drawn, per caster-list entry, per upload.
  const SessionScene& s = run.scene;
  addProbes(run.summary, "view-copy", inside.probeCalls, 1);
  if (sessionDrawnItems() != 0) {
    const PhaseCost c = runRendererPhase(drawShare);
    addCost(run.costs[kCostGpuCopy], c.hookNs);
    addCost(run.costs[kCostGpuCopyOutsideProbes], c.hookNs - c.probeNs);
    addProbes(run.summary, "gpu-copy", c.probeCalls, sessionDrawnItems());
    allNs += c.hookNs, probeNs += c.probeNs;
  }
  if (s.casters != 0 || s.skinned != 0) {
    const PhaseCost c = runRendererPhase(shadowShare);
    addCost(run.costs[kCostShadowLists], c.hookNs);
    addProbes(run.summary, "shadow-lists", c.probeCalls, static_cast<uint64_t>(s.casters) + s.skinned);
    allNs += c.hookNs, probeNs += c.probeNs;
  }
  if (s.skinned != 0) {
    const PhaseCost c = runRendererPhase(uploadShare);
    addCost(run.costs[kCostPoseUpload], c.hookNs);
    addProbes(run.summary, "pose-upload", c.probeCalls, s.skinned);
    allNs += c.hookNs, probeNs += c.probeNs;
  }
  addCost(run.costs[kCostAllHooks], allNs);
  addCost(run.costs[kCostProbes], probeNs);
  addCost(run.costs[kCostOutsideProbes], allNs - probeNs);
  measureSessionModels(run.summary, f);

  if (shown >= kTraceFrom && shown < kTraceTo) {
    double modelTruth, modelPresented;
    sessionModelTrace(&modelTruth, &modelPresented);
    if (std::isnan(modelTruth)) std::fprintf(run.trace, "%.9f,%.6f,%.6f,nan,nan\n", shown, truth.m[3], presented.m[3]);
    else
      std::fprintf(run.trace, "%.9f,%.6f,%.6f,%.6f,%.6f\n", shown, truth.m[3], presented.m[3], modelTruth,
                   modelPresented);
  }
}

void finishSession(SessionRun& run) {
  for (uint32_t k = 0; k < kCostKinds; ++k)
    if (run.costs[k].samples != 0) setCost(run.summary, kCostNames[k], run.costs[k]);
}
