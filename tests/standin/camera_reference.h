// What the presented view must be, worked out independently of Corvane's own
// code from the samples the game showed and the clock: the last two distinct
// samples of the one source view, reset on a jump in time, distance or angle;
// the fraction (presentation - previous) / (current - previous) clamped to
// [-0.25, 2.0]; the origin carried linearly and the axes turned along the
// shortest arc between the two samples. The camera switch stays on.
#pragma once
#include <cstdint>

struct ReferenceSample {
  double time;
  float origin[3];
  float axes[9];
};

struct CameraReference {
  bool valid;
  ReferenceSample previous;
  ReferenceSample current;
};

// The view as the camera must present it for one frame.
struct ReferenceView {
  bool carried;  // false: the host's copy stays as it is
  double alpha;  // the fraction when carried
  float origin[3];
  float axes[9];
};

// Takes one frame's host view (origin and axes as copied) and clock values,
// advances the sample history and returns the expected presented view. The
// clock is present and finite and the view finite with equal origin copies.
ReferenceView referenceFrame(CameraReference& reference, double presentationTime, double sampleTime,
                             const float origin[3], const float axes[9]);
