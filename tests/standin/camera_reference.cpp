#include "tests/standin/camera_reference.h"

#include <cmath>
#include <cstring>

namespace {

constexpr double kTolerance = 1e-7;
constexpr double kLongestInterval = 0.05;
constexpr double kLongestJump = 5.0;
constexpr double kWidestTurnDegrees = 45.0;
constexpr double kLowestAlpha = -0.25;
constexpr double kHighestAlpha = 2.0;
constexpr double kPi = 3.14159265358979323846;

// 3x3 matrices with the axis vectors as columns: m[row][column].
struct Matrix {
  double m[3][3];
};

Matrix fromAxes(const float axes[9]) {
  Matrix r;
  for (int column = 0; column < 3; ++column)
    for (int row = 0; row < 3; ++row) r.m[row][column] = axes[column * 3 + row];
  return r;
}

Matrix product(const Matrix& a, const Matrix& b) {
  Matrix r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}

Matrix transposed(const Matrix& a) {
  Matrix r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = a.m[j][i];
  return r;
}

// Angle (radians) and unit axis of the rotation `relative`.
double rotationOf(const Matrix& relative, double axis[3]) {
  const double trace = relative.m[0][0] + relative.m[1][1] + relative.m[2][2];
  const double c = std::fmax(-1.0, std::fmin(1.0, (trace - 1.0) / 2.0));
  axis[0] = relative.m[2][1] - relative.m[1][2];
  axis[1] = relative.m[0][2] - relative.m[2][0];
  axis[2] = relative.m[1][0] - relative.m[0][1];
  const double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  if (length > 0.0)
    for (int i = 0; i < 3; ++i) axis[i] /= length;
  return std::acos(c);
}

// Rodrigues: the rotation by `angle` about the unit `axis`.
Matrix rotationAbout(const double axis[3], double angle) {
  const double s = std::sin(angle), v = 1.0 - std::cos(angle);
  const double x = axis[0], y = axis[1], z = axis[2];
  return {{{1 - v * (y * y + z * z), -s * z + v * x * y, s * y + v * x * z},
           {s * z + v * x * y, 1 - v * (x * x + z * z), -s * x + v * y * z},
           {-s * y + v * x * z, s * x + v * y * z, 1 - v * (x * x + y * y)}}};
}

double turnDegrees(const float from[9], const float to[9]) {
  double axis[3];
  return rotationOf(product(transposed(fromAxes(from)), fromAxes(to)), axis) * 180.0 / kPi;
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
  const Matrix start = fromAxes(from.axes);
  double axis[3];
  const double angle = rotationOf(product(transposed(start), fromAxes(to.axes)), axis);
  const Matrix turned = product(start, rotationAbout(axis, angle * alpha));
  for (int column = 0; column < 3; ++column)
    for (int row = 0; row < 3; ++row) view.axes[column * 3 + row] = static_cast<float>(turned.m[row][column]);
  return view;
}
