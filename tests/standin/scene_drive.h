// Plays the scripted scene through the stand-in image as the game would: for
// each presented frame the clock holds the frame's times, the source view the
// latest simulated pose, and the game's caller makes the view copy through the
// call site (patched or not). Each frame's presented view is checked against
// the camera reference and, where the camera was carried, against the true path
// at the presentation time.
#pragma once
#include <cstddef>
#include <cstdint>

#include "tests/standin/camera_reference.h"
#include "tests/standin/scripted_view.h"
#include "tests/standin/standin_host.h"

// What one driven frame showed. Every flag is true on a good frame.
struct SceneFrameCheck {
  uint64_t frame;
  SceneFrame times;
  ReferenceView expected;
  float presentedOrigin[3];
  float presentedAxes[9];
  bool hostCalledOnce;       // the stand-in view copy ran once with the four arguments
  bool resultReturned;       // the caller got the stand-in's result
  bool sourceKept;           // the source view is unchanged
  bool untouchedAsExpected;  // not carried: the destination is the host's copy byte for byte
  bool otherBytesKept;       // carried: only origin, its copy and the axes differ from the copy
  bool originCopiesEqual;    // both origin copies of the destination hold the same bytes
  bool matchesReference;     // carried: origin and axes equal the reference within rounding
  bool matchesPath;          // carried within one side of the cut: on the true path at the presentation time
  double originError;        // largest origin difference from the reference, relative
  double pathError;          // largest origin difference from the true path, relative
};

bool sceneFrameGood(const SceneFrameCheck& check);
// One line naming what failed, for a test's failure message.
void describeSceneFrame(const SceneFrameCheck& check, char* text, size_t capacity);

struct SceneRun {
  ScriptedScene scene;
  CameraReference reference;
  uint64_t nextFrame;
  alignas(16) uint8_t source[kStandInViewLength];
  alignas(16) uint8_t destination[kStandInViewLength];
};

// Starts the stand-in clock and the scene at frame 0 with a fresh reference.
void startScene(SceneRun& run, const ScriptedScene& scene);
// Drives the next frame through gameCallsViewCopy and checks it.
SceneFrameCheck driveSceneFrame(SceneRun& run);
