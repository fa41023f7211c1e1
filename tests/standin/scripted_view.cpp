#include "tests/standin/scripted_view.h"

#include <cmath>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kStartOrigin[3] = {104.25, -48.5, 21.75};
constexpr double kVelocity[3] = {3.5, -1.25, 0.125};  // units per second
constexpr double kStartYawDegrees = 30.0;
constexpr double kTurnDegreesPerSecond = 72.0;
constexpr double kTiltDegrees = -12.0;
constexpr double kCutOffset[3] = {40.0, 25.0, -3.0};  // far beyond any jump limit

}  // namespace

SceneFrame sceneFrame(const ScriptedScene& scene, uint64_t frame) {
  // Integer division keeps the latest tick exact: tick n is simulated at
  // n / simulationHz, and frame k presented at k / presentationHz.
  const uint64_t tick = frame * scene.simulationHz / scene.presentationHz;
  return {tick, scene.startTime + static_cast<double>(frame) / scene.presentationHz,
          scene.startTime + static_cast<double>(tick) / scene.simulationHz};
}

ScenePose scenePathAt(const ScriptedScene& scene, double time, uint64_t tick) {
  const double elapsed = time - scene.startTime;
  const bool cut = scene.cutTick != 0 && tick >= scene.cutTick;
  ScenePose pose;
  for (int i = 0; i < 3; ++i) pose.origin[i] = kStartOrigin[i] + kVelocity[i] * elapsed + (cut ? kCutOffset[i] : 0.0);
  // Turn about the vertical (z) after tilting about x: world = Rz(yaw) * Rx(tilt).
  const double yaw = (kStartYawDegrees + kTurnDegreesPerSecond * elapsed) * kPi / 180.0;
  const double tilt = kTiltDegrees * kPi / 180.0;
  const double cy = std::cos(yaw), sy = std::sin(yaw), ct = std::cos(tilt), st = std::sin(tilt);
  const double columns[9] = {cy, sy, 0.0, -sy * ct, cy * ct, st, sy * st, -cy * st, ct};
  std::memcpy(pose.axes, columns, sizeof columns);
  return pose;
}

void writeSceneView(const ScriptedScene& scene, uint64_t tick, uint8_t* view) {
  const ScenePose pose = scenePathAt(scene, scene.startTime + static_cast<double>(tick) / scene.simulationHz, tick);
  float origin[3], axes[9];
  for (int i = 0; i < 3; ++i) origin[i] = static_cast<float>(pose.origin[i]);
  for (int i = 0; i < 9; ++i) axes[i] = static_cast<float>(pose.axes[i]);
  std::memcpy(view + kSceneViewOrigin, origin, sizeof origin);
  std::memcpy(view + kSceneViewOriginCopy, origin, sizeof origin);
  std::memcpy(view + kSceneViewAxes, axes, sizeof axes);
}
