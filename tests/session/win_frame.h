// One session's state and one presented frame of it: the game's calls through
// the image (patched or not) in the order a frame makes them, what the
// renderer received, and the true poses at the frame's presentation time.
#pragma once
#include <cstdint>
#include <cstdio>

#include "tests/session/session_measure.h"
#include "tests/session/session_models.h"
#include "tests/session/session_paths.h"
#include "tests/session/session_scene.h"
#include "tests/standin/standin_host.h"

// Hook costs kept per frame.
enum CostKind : uint32_t {
  kCostViewCopy,
  kCostGpuCopy,
  kCostPoseUpload,
  kCostShadowLists,
  kCostAllHooks,
  kCostProbes,
  kCostOutsideProbes,         // all hooks but the time inside the probes
  kCostGpuCopyOutsideProbes,  // the GPU copies' share of it
  kCostKinds,
};

struct SessionRun {
  SessionScene scene;
  uint8_t* base;
  FILE* trace;
  alignas(16) uint8_t source[kStandInViewLength];
  alignas(16) uint8_t destination[kStandInViewLength];
  PreviousShown camera;
  CostHistogram costs[kCostKinds];
  SessionSummary summary;
};

bool startSession(SessionRun& run, const SessionScene& scene, uint8_t* base, FILE* trace);
void driveSessionFrame(SessionRun& run, uint64_t frame);
// Moves the cost histograms into the summary.
void finishSession(SessionRun& run);
