// A simulated game session described in a few lines of text: the simulation
// and presentation rates, frame-time jitter, length, and how much the scene
// holds. Every value has a default, so an empty description is the default
// session (60 Hz simulation presented at 144 Hz, six seconds).
//
//   # comment
//   simulation_hz = 60
//   presentation_hz = 144
//   jitter = 0.25        # +-half this fraction of a presentation interval
//   seconds = 6          # or: frames = 100000
//   world_models = 24    # models on known paths (the kinds cycle)
//   skinned = 4          # skinned characters
//   joints = 64          # joints per skinned character
//   casters = 24         # entries of each shadow caster list
//   threads = 2          # renderer threads sharing the per-model calls
//   hands = 1            # first-person models (hands) drawn each frame
//   churn_every = 0      # frames between world models coming and going; 0: never
//   still = 0            # share of the world models that stand still (the rest cycle the paths)
//   heap_regions = 0     # 0: records, owners, palettes and lists each packed in one block of one
//                        # region; N: scattered over N large regions, as a game's heap leaves them
//   seed = 1             # jitter sequence
//   report_every = 0     # frames between progress reports on the console; 0: none
#pragma once
#include <cstddef>
#include <cstdint>

struct SessionScene {
  uint32_t simulationHz = 60;
  uint32_t presentationHz = 144;
  double jitter = 0.0;
  uint64_t frames = 6 * 144;
  uint32_t worldModels = 24;
  uint32_t skinned = 4;
  uint32_t joints = 64;
  uint32_t casters = 24;
  uint32_t threads = 2;
  uint32_t hands = 1;
  uint64_t churnEvery = 0;
  double still = 0.0;
  uint32_t heapRegions = 0;
  uint64_t seed = 1;
  uint64_t reportEvery = 0;
};

// Clock value of tick 0 and frame 0: a running game's clock is not at zero.
constexpr double kSessionStartTime = 12.5;

// Reads a description. "seconds" is turned into frames at the presentation
// rate in force after the whole text is read. False, with the offending line
// in `error`, on an unknown key, a malformed value or a rate of 0.
bool parseSessionScene(const char* text, SessionScene* scene, char* error, size_t capacity);

// One presented frame: the latest simulated tick, its sample time, and the
// frame's own presentation time, which lies in [sampleTime, sampleTime + tick).
struct SessionFrame {
  uint64_t frame;
  uint64_t tick;
  double sampleTime;
  double presentationTime;
};

// Frame `frame` of the scene. Without jitter the times are exact fractions
// of the two rates; with it each frame moves by a deterministic pseudo-random
// amount (from `seed` and the frame number) and the tick follows the frame.
SessionFrame sessionFrame(const SessionScene& scene, uint64_t frame);

// Simulation interval in seconds.
inline double tickSeconds(const SessionScene& scene) { return 1.0 / scene.simulationHz; }
