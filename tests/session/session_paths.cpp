#include "tests/session/session_paths.h"

#include <cmath>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Camera: strafe speed and turn rate stay below the camera's jump limits at a
// 30 Hz simulation (4 units and 3 degrees per tick).
constexpr double kStrafeSeconds = 2.0, kTurnSeconds = 2.0, kStandSeconds = 1.0;
constexpr double kCycleSeconds = kStrafeSeconds + kTurnSeconds + kStandSeconds;
constexpr double kStrafeSpeed = 120.0;
constexpr double kTurnDegrees = 180.0;
constexpr double kTiltDegrees = -12.0;
constexpr double kCameraStart[3] = {1040.25, -480.5, 217.75};
constexpr double kHandsOffset[3] = {18.0, -9.5, -14.0};  // forward, side, down in the camera's frame

// World models.
constexpr double kLevelSpacing = 37.0;
constexpr double kModelSpeed = 90.0;
constexpr double kArcRadius = 150.0, kArcDegreesPerSecond = 60.0;
constexpr double kDoorDegreesPerSecond = 90.0;
constexpr double kTeleportPeriod = 1.0, kTeleportStep = 400.0;
constexpr double kScale[3] = {1.0, 2.5, 0.4};
constexpr double kShear = 0.5;  // of the x axis added to the y axis
constexpr double kJointSpeed = 45.0;

PathPose identity() {
  PathPose p{};
  p.m[0] = p.m[5] = p.m[10] = p.m[15] = 1.0;
  return p;
}

// Rz(yaw) * Rx(tilt) with translation t.
PathPose turned(double yawDegrees, double tiltDegrees, const double t[3]) {
  const double yaw = yawDegrees * kPi / 180.0, tilt = tiltDegrees * kPi / 180.0;
  const double cy = std::cos(yaw), sy = std::sin(yaw), ct = std::cos(tilt), st = std::sin(tilt);
  PathPose p = identity();
  const double r[9] = {cy, -sy * ct, sy * st, sy, cy * ct, -cy * st, 0.0, st, ct};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) p.m[row * 4 + column] = r[row * 3 + column];
    p.m[row * 4 + 3] = t[row];
  }
  return p;
}

void placeOf(uint32_t index, double out[3]) {
  out[0] = 200.0 + kLevelSpacing * (index % 64);
  out[1] = -300.0 + kLevelSpacing * ((index / 64) % 64);
  out[2] = 10.0 + 3.0 * (index / 4096);
}

// Speeds differ by up to 25% from item to item.
double spread(uint32_t index) { return 1.0 + 0.25 * static_cast<double>((index * 7919u) % 100u) / 100.0; }

PathPose camera(double elapsed) {
  const double cycles = std::floor(elapsed / kCycleSeconds);
  const double within = elapsed - cycles * kCycleSeconds;
  const double startYaw = kTurnDegrees * cycles;
  const double sign = std::fmod(cycles, 2.0) == 0.0 ? 1.0 : -1.0;  // every cycle strafes back
  const double strafed = std::fmin(within, kStrafeSeconds);
  const double turnedFor = std::fmin(std::fmax(within - kStrafeSeconds, 0.0), kTurnSeconds);
  double t[3];
  // Each cycle starts where the one before left the camera: the odd cycles at the far end.
  const double cycleStart = sign > 0 ? 0.0 : kStrafeSpeed * kStrafeSeconds;
  t[0] = kCameraStart[0] + cycleStart + sign * kStrafeSpeed * strafed;
  t[1] = kCameraStart[1];
  t[2] = kCameraStart[2];
  return turned(startYaw + kTurnDegrees * turnedFor / kTurnSeconds, kTiltDegrees, t);
}

void moveTo(PathPose& p, const double t[3]) {
  p.m[3] = t[0];
  p.m[7] = t[1];
  p.m[11] = t[2];
}

}  // namespace

const char* pathKindName(PathKind kind) {
  static const char* const kNames[kPathKindCount] = {"camera", "hands",    "line",    "arc",   "door", "mirrored",
                                                     "scaled", "teleport", "sheared", "joint", "still"};
  return kind < kPathKindCount ? kNames[kind] : "unknown";
}

int cameraMotion(double elapsed) {
  const double within = elapsed - std::floor(elapsed / kCycleSeconds) * kCycleSeconds;
  return within < kStrafeSeconds ? 0 : within < kStrafeSeconds + kTurnSeconds ? 1 : 2;
}

PathPose pathPose(PathKind kind, uint32_t index, double elapsed) {
  double place[3];
  placeOf(index, place);
  const double speed = kModelSpeed * spread(index);
  switch (kind) {
    case kPathCamera: return camera(elapsed);
    case kPathHands: {
      const PathPose c = camera(elapsed);
      PathPose h = c;
      for (int row = 0; row < 3; ++row) {
        double t = c.m[row * 4 + 3];
        for (int k = 0; k < 3; ++k) t += c.m[row * 4 + k] * kHandsOffset[k];
        h.m[row * 4 + 3] = t;
      }
      return h;
    }
    case kPathArc: {
      const double angle = (kArcDegreesPerSecond * spread(index) * elapsed + 17.0 * index) * kPi / 180.0;
      const double t[3] = {place[0] + kArcRadius * std::cos(angle), place[1] + kArcRadius * std::sin(angle), place[2]};
      return turned(angle * 180.0 / kPi + 90.0, 0.0, t);
    }
    case kPathDoor: {
      // 0 -> 90 -> 0 degrees, a triangle wave at a constant rate.
      const double period = 180.0 / kDoorDegreesPerSecond;
      const double phase = std::fmod(elapsed + 0.37 * index, period);
      const double angle = phase < period / 2 ? kDoorDegreesPerSecond * phase : 180.0 - kDoorDegreesPerSecond * phase;
      return turned(angle, 0.0, place);
    }
    case kPathTeleport: {
      const double jumps = std::floor(elapsed / kTeleportPeriod);
      const double t[3] = {place[0] + speed * elapsed, place[1] + kTeleportStep * std::fmod(jumps, 2.0), place[2]};
      return turned(30.0, 0.0, t);
    }
    case kPathJoint: {
      const double t[3] = {place[0] + kJointSpeed * spread(index) * elapsed, place[1] - 0.5 * kJointSpeed * elapsed,
                           place[2] + 0.25 * kJointSpeed * elapsed};
      return turned(15.0 + index % 90, 0.0, t);
    }
    case kPathStill: return turned(10.0 + index % 80, 0.0, place);
    case kPathLine:
    case kPathMirrored:
    case kPathScaled:
    case kPathSheared:
    default: {
      const double t[3] = {place[0] + speed * elapsed, place[1] - 0.5 * speed * elapsed,
                           place[2] + 0.1 * speed * elapsed};
      PathPose p = turned(25.0 + index % 45, 0.0, t);
      if (kind == kPathMirrored)
        for (int row = 0; row < 3; ++row) p.m[row * 4] = -p.m[row * 4];
      if (kind == kPathSheared)
        for (int row = 0; row < 3; ++row) p.m[row * 4 + 1] += kShear * p.m[row * 4];
      if (kind == kPathScaled)
        for (int row = 0; row < 3; ++row)
          for (int column = 0; column < 3; ++column) p.m[row * 4 + column] *= kScale[column];
      moveTo(p, t);
      return p;
    }
  }
}

int64_t pathPiece(PathKind kind, uint32_t index, double elapsed) {
  switch (kind) {
    case kPathCamera:
    case kPathHands: return static_cast<int64_t>(std::floor(elapsed / kCycleSeconds)) * 3 + cameraMotion(elapsed);
    case kPathDoor: {
      const double half = 90.0 / kDoorDegreesPerSecond;
      return static_cast<int64_t>(std::floor((elapsed + 0.37 * index) / half));
    }
    case kPathTeleport: return static_cast<int64_t>(std::floor(elapsed / kTeleportPeriod));
    default: return 0;
  }
}

void poseTranslation(const PathPose& pose, double out[3]) {
  out[0] = pose.m[3];
  out[1] = pose.m[7];
  out[2] = pose.m[11];
}

double pathSpeed(PathKind kind, uint32_t index, double elapsed) {
  constexpr double kStep = 1e-6;
  double a[3], b[3];
  poseTranslation(pathPose(kind, index, elapsed - kStep), a);
  poseTranslation(pathPose(kind, index, elapsed + kStep), b);
  return std::sqrt((b[0] - a[0]) * (b[0] - a[0]) + (b[1] - a[1]) * (b[1] - a[1]) + (b[2] - a[2]) * (b[2] - a[2])) /
         (2 * kStep);
}

double rotationDegreesBetween(const PathPose& a, const PathPose& b) {
  double ra[9], rb[9];
  for (int column = 0; column < 3; ++column) {
    double la = 0, lb = 0;
    for (int row = 0; row < 3; ++row) {
      la += a.m[row * 4 + column] * a.m[row * 4 + column];
      lb += b.m[row * 4 + column] * b.m[row * 4 + column];
    }
    la = std::sqrt(la);
    lb = std::sqrt(lb);
    for (int row = 0; row < 3; ++row) {
      ra[row * 3 + column] = la > 0 ? a.m[row * 4 + column] / la : 0.0;
      rb[row * 3 + column] = lb > 0 ? b.m[row * 4 + column] / lb : 0.0;
    }
  }
  // For rotations, |A - B| (Frobenius) = 2 sqrt(2) sin(angle / 2); unlike the
  // trace this keeps its precision for the tiny angles that matter here.
  double squares = 0;
  for (int i = 0; i < 9; ++i) squares += (ra[i] - rb[i]) * (ra[i] - rb[i]);
  const double half = std::fmin(1.0, std::sqrt(squares) / (2.0 * std::sqrt(2.0)));
  return 2.0 * std::asin(half) * 180.0 / kPi;
}
