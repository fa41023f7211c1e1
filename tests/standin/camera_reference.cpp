#include "tests/standin/camera_reference.h"

#include <cmath>
#include <cstring>

#include "tests/support/reference.h"

namespace {

constexpr double kTolerance = 1e-7;
constexpr double kLongestInterval = 0.05;
constexpr double kLongestJump = 5.0;
constexpr double kWidestTurnDegrees = 45.0;
constexpr double kLowestAlpha = -0.25;
constexpr double kHighestAlpha = 2.0;

// The axis vectors are the columns of the rotation.
double turnDegrees(const float from[9], const float to[9]) {
  return static_cast<double>(ref::angleBetween(ref::fromColumns(from), ref::fromColumns(to)) * 180 / ref::kPi);
}

double distance(const float a[3], const float b[3]) {
  double sum = 0.0;
  for (int i = 0; i < 3; ++i) sum += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
  return std::sqrt(sum);
}

ReferenceSample sampleOf(double time, const float origin[3], const float axes[9]) {
  ReferenceSample s;
  s.time = time;
  std::memcpy(s.origin, origin, sizeof s.origin);
  std::memcpy(s.axes, axes, sizeof s.axes);
  return s;
}

}  // namespace

ReferenceView referenceFrame(CameraReference& reference, double presentationTime, double sampleTime,
                             const float origin[3], const float axes[9]) {
  ReferenceView view{};
  const ReferenceSample sample = sampleOf(sampleTime, origin, axes);
  bool reset = !reference.valid || sampleTime < reference.current.time - kTolerance;
  if (!reset && sampleTime > reference.current.time + kTolerance) {
    reset = sampleTime - reference.current.time > kLongestInterval ||
            distance(origin, reference.current.origin) > kLongestJump ||
            turnDegrees(reference.current.axes, axes) > kWidestTurnDegrees;
    if (!reset) {
      reference.previous = reference.current;
      reference.current = sample;
    }
  }
  if (reset) {
    reference.valid = true;
    reference.previous = reference.current = sample;
    return view;
  }
  const ReferenceSample& from = reference.previous;
  const ReferenceSample& to = reference.current;
  const double interval = to.time - from.time;
  if (interval <= kTolerance || interval > kLongestInterval) return view;

  double alpha = (presentationTime - from.time) / interval;
  alpha = std::fmax(kLowestAlpha, std::fmin(kHighestAlpha, alpha));
  view.carried = true;
  view.alpha = alpha;
  for (int i = 0; i < 3; ++i)
    view.origin[i] = static_cast<float>(from.origin[i] + (static_cast<double>(to.origin[i]) - from.origin[i]) * alpha);
  const ref::Mat3 turned = ref::arcBlend(ref::fromColumns(from.axes), ref::fromColumns(to.axes), alpha);
  for (int column = 0; column < 3; ++column)
    for (int row = 0; row < 3; ++row) view.axes[column * 3 + row] = static_cast<float>(turned.a[row][column]);
  return view;
}
