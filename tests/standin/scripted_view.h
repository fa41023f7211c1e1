// A scripted camera for the stand-in game: the camera strafes at a constant
// velocity while it turns at a constant rate under a fixed downward tilt. The
// game simulates it at one rate and presents it at a higher one, so each
// presented frame carries a presentation time that runs ahead of the latest
// simulated sample by up to one tick. Optionally the camera cuts (jumps) once.
//
// Along this path, linear interpolation of the origin and spherical
// interpolation of the axes between two samples reproduce the path itself,
// inside the sample interval and beyond it; only the cut breaks that.
#pragma once
#include <cstddef>
#include <cstdint>

struct ScriptedScene {
  double startTime;         // clock value of tick 0 and frame 0
  uint32_t simulationHz;    // ticks per second
  uint32_t presentationHz;  // presented frames per second
  uint64_t cutTick;         // from this tick on the camera stands elsewhere; 0: never
};

// 60 Hz simulation presented at 144 Hz, with a cut at tick 150.
constexpr ScriptedScene kStandardScene = {12.5, 60, 144, 150};

// One presented frame: the latest simulated tick and the clock's two values.
struct SceneFrame {
  uint64_t tick;
  double presentationTime;
  double sampleTime;
};
SceneFrame sceneFrame(const ScriptedScene& scene, uint64_t frame);

// Camera pose in the host's terms: origin, and three axis vectors (the
// columns of the camera's world matrix), in 64-bit.
struct ScenePose {
  double origin[3];
  double axes[9];
};
// The true path at clock value `time`, on the side of the cut that `tick` is.
ScenePose scenePathAt(const ScriptedScene& scene, double time, uint64_t tick);

// Writes the source view the game holds after `tick` (the pose narrowed to
// 32-bit, both origin copies) into `view`; the view's other bytes are left.
void writeSceneView(const ScriptedScene& scene, uint64_t tick, uint8_t* view);

// View record offsets the scene writes and the camera reads.
constexpr size_t kSceneViewOrigin = 0xA8;
constexpr size_t kSceneViewOriginCopy = 0xC0;
constexpr size_t kSceneViewAxes = 0xCC;
