// The session's models at any scale: N world models on the closed-form paths
// (the kinds cycle: line, arc, door, mirrored, non-uniformly scaled,
// teleport, sheared), first-person hands, M skinned characters of J joints each, and
// two shadow caster lists (list 0 of K entries over the world models, list 1
// over the characters). The host's records, palettes and lists live in memory
// the caller provides (the game's heap: nothing requires them inside the
// image), written with the stand-in's own record, palette and caster writers.
// With `still`, that share of the world models stands still (kPathStill), the
// moving ones spread among them.
//
// Items are numbered: world models 0..N-1, hands N..N+H-1, characters after.
// With `churn_every` the world models come and go: every churn, an eighth of
// them is retired (its record's class identity cleared, as a freed object
// leaves it) and reappears in another record, a never-used one or one
// retired earlier, so record addresses are both reused and new over time.
#pragma once
#include <cstddef>
#include <cstdint>

#include "tests/session/session_measure.h"
#include "tests/session/session_paths.h"
#include "tests/session/session_scene.h"

// Bytes of host memory the scene needs (records, owners, palettes, lists):
// sessionRegionBytes in each of max(1, heap_regions) regions, or all of them
// in one area.
size_t sessionRegionBytes(const SessionScene& scene);
size_t sessionModelBytes(const SessionScene& scene);

// Builds the records in `area` (zeroed, sessionModelBytes long; with
// heap_regions, cut into that many regions one after the other) and sets the
// stand-in host's GPU-copy, upload and shadow-build behaviours. The stand-in
// image must be written (its class identities are named by address).
bool startSessionModels(const SessionScene& scene, uint8_t* area, size_t bytes);
// The same in max(1, heap_regions) separate regions (zeroed, `regionBytes` each).
bool startSessionModelsInRegions(const SessionScene& scene, uint8_t* const* regions, size_t regionBytes);

// The host's state for presented frame `frame` showing simulation `tick`:
// churn (when due), every record's slot groups, palettes and list entries.
void writeSessionModels(uint64_t frame, uint64_t tick);

// The renderer's calls, one item or list at a time (any thread).
size_t sessionDrawnItems();
uint64_t drawSessionItem(size_t item);
size_t sessionCharacters();
uint64_t uploadSessionCharacter(size_t character);
uint64_t buildSessionShadows(int list);

// Compares what the stand-in functions received on this frame with the true
// poses at the frame's presentation time, row by row: the world models' kinds,
// "hands", "joint-line", "shadow-<kind>"; never-rules count violations (a
// teleport's frame after the jump not showing the new sample, a refused
// model not shown as the game drew it, a mirrored model losing its mirror).
// Large scenes are measured on a spread subset of at most kMeasuredPerFrame
// items of each group.
constexpr uint32_t kMeasuredPerFrame = 512;
void measureSessionModels(SessionSummary& summary, const SessionFrame& frame);

// What one tracked item showed on the frame before, for its step.
struct PreviousShown {
  bool valid;
  int row;
  double presented[3];
  double truth[3];
};
// Adds a presented pose against the truth to the row of that name (its
// position and rotation error, and the step since `previous` when that was in
// the same row) and returns the row; null when the summary is full.
RowFigures* measureShown(SessionSummary& summary, const char* rowName, const PathPose& presented, const PathPose& truth,
                         PreviousShown& previous);

// The x of item 0's presented and true position on the latest measured frame
// (NaN without world models), for the trace.
void sessionModelTrace(double* truthX, double* presentedX);

// Churn so far: retirements, of which into a record used before.
struct SessionChurn {
  uint64_t retired;
  uint64_t reused;
  uint64_t fresh;
};
SessionChurn sessionChurn();
