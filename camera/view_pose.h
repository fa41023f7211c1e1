// The camera of a host view record as a rigid pose: origin widened to 64-bit,
// the nine axis components copied as they are (each axis vector is a column).
#pragma once
#include "math/types.h"

namespace corvane::camera {

math::RigidTransform captureViewPose(const void* view);
// Writes the pose back: the origin, narrowed to 32-bit, into both origin copies,
// and the nine axis components.
void writeViewPose(void* view, const math::RigidTransform& pose);
// The host's origin (three floats at +0xA8) and axes (nine floats at +0xCC).
void readViewOrigin(const void* view, float origin[3]);
void readViewAxes(const void* view, float axes[9]);

}  // namespace corvane::camera
