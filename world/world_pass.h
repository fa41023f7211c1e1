// The world-transform interpolation pass: feeds a model's track with the host's
// samples and yields the pairs that carry the record's current and previous
// world matrices onto the matrices interpolated to the presented moment.
#pragma once
#include <cstdint>

#include "camera/frame_state.h"
#include "math/types.h"

namespace corvane::patch {
struct ReadableRegionMemo;
}

namespace corvane::world {

using camera::PresentationFrame;
using math::Matrix4x4;

struct WorldCorrection {
  Matrix4x4 currentForward;
  Matrix4x4 currentInverse;
  Matrix4x4 previousForward;
  Matrix4x4 previousInverse;
  uint64_t presentationSerial;  // 0 until the pass fills it
};

// Tolerances of the world pass, host clock units and host distance units.
constexpr double kMaxExtrapolation = 0.008333334;
constexpr double kUnitScaleTolerance = 1e-4;
constexpr double kSameDistanceTolerance = 1e-4;
constexpr double kSameAngleDegrees = 0.001;
constexpr double kSameScaleTolerance = 1e-4;
constexpr double kMaxPairDistance = 64.0;
constexpr double kMaxPairAngleDegrees = 90.0;
constexpr double kMaxPairScaleRatio = 1.1;
constexpr float kNonRigidChangeThreshold = 1e-4f;

// True when a and b are not the same rigid placement within the tolerances (a
// value exactly at its tolerance is the same).
bool transformsDiffer(const Matrix4x4& a, const Matrix4x4& b, double distanceTolerance, double angleTolerance,
                      double scaleTolerance);

// True when all four matrices and the serial of `out` are set and the record is
// to be rewritten; false leaves the host's transforms in use.
bool prepareWorldCorrection(const uint8_t* record, const PresentationFrame& frame, WorldCorrection* out);
// The same within a hook call that already probed the record. With `key`, a
// call that returns true also fills it with contentKey of the host's current
// world matrix as the pass read it (kept in the track while that matrix stays).
using patch::ReadableRegionMemo;
struct MatrixKey {
  Matrix4x4 matrix;
  uint64_t key;
};
bool prepareWorldCorrection(ReadableRegionMemo& probes, const uint8_t* record, const PresentationFrame& frame,
                            WorldCorrection* out, MatrixKey* key = nullptr);

}  // namespace corvane::world
