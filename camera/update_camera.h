// The camera logic run on every presented frame after the host copied its view:
// the engine settings settle once, F10 switches the high-FPS camera, and while it
// is on the copied view is carried to the presentation time.
#pragma once
#include <atomic>
#include <cstdint>

#include "camera/frame_state.h"
#include "math/types.h"

namespace corvane::camera {

// Camera interpolation limits; the clock's own (same sample, largest gap, the
// factor's range) are in camera/frame_state.h.
constexpr double kMaxJumpDistance = 5.0;  // host world units between consecutive samples
constexpr double kMaxJumpAngle = 45.0;    // degrees between consecutive samples

constexpr int kVirtualKeyF10 = 0x79;
constexpr uint16_t kKeyDownBit = 0x8000;

// The last two camera samples of one source view.
struct CameraHistory {
  bool valid;
  const void* sourceView;  // identity only, never read
  double previousSampleTime;
  double currentSampleTime;
  math::RigidTransform previous;
  math::RigidTransform current;
};

enum FrameCapState : int32_t { kFrameCapPending = 0, kFrameCapApplied = 1, kFrameCapDeclined = 2 };
enum MouseState : int32_t { kMousePending = 0, kMouseApplied = 1, kMouseAlreadyStable = 2 };

// State of the view-copy thread (no lock: one caller at a time).
extern CameraHistory cameraHistory;
extern bool cameraEnabled;  // the F10 switch, on at load
extern bool f10WasDown;
extern double frameAlpha;  // fraction used by this frame, NaN when not interpolated
// One-time settling states, moved with compare-and-exchange.
extern std::atomic<int32_t> frameCapState;
extern std::atomic<int32_t> mouseState;

void UpdateCamera(void* destination, const void* source);
// The frame cap and mouse-sensitivity halves, each settling at most once.
void ApplyEngineSettings();

}  // namespace corvane::camera
