#include "tests/standin/standin_palettes.h"

#include <cmath>
#include <cstring>

#include "tests/standin/standin_host.h"

namespace {

ReceivedUpload uploads[kMostSceneModels];

}  // namespace

float* scenePalette(size_t model) {
  return reinterpret_cast<float*>(standInHost.base + kStandInPalettesRva + model * kStandInPaletteStride);
}

uint32_t paddedJoints(uint32_t joints) { return (joints + 7) / 8 * 8; }

WideMatrix jointPose(size_t model, uint32_t joint, long double s) {
  const long double j = joint, m = model;
  long double axis[3] = {std::sin(0.7L * j + m), std::cos(1.3L * j), 0.5L + 0.3L * std::sin(j)};
  const long double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  const long double degrees = 10.0L + static_cast<long double>((3 * joint) % 40) + (30.0L + (joint % 20)) * s;
  return wideRotation(axis[0] / length, axis[1] / length, axis[2] / length, degrees, 0.05L * j + 0.5L * m + 0.8L * s,
                      2.0L * std::sin(j) + (-0.3L + 0.01L * (joint % 10)) * s, 0.1L * (joint % 7) + 0.2L * s);
}

void startPalettes(const ModelScene& scene) {
  for (size_t i = 0; i < scene.count && i < kMostSceneModels; ++i) {
    if (!scene.models[i].skinned) continue;
    float* palette = scenePalette(i);
    std::memset(palette, 0, kStandInPaletteStride);
    std::memcpy(sceneRecord(i) + kStandInPaletteOffset, &palette, 8);
  }
  clearReceivedUploads();
}

void writePalettesForFrame(const ModelScene& scene, uint64_t tick, uint32_t simulationHz, uint64_t frame) {
  const long double seconds = static_cast<long double>(tick) / simulationHz;
  for (size_t i = 0; i < scene.count && i < kMostSceneModels; ++i) {
    const SceneModel& m = scene.models[i];
    if (!m.skinned) continue;
    float* palette = scenePalette(i);
    for (uint32_t j = 0; j < paddedJoints(m.joints); ++j) {
      float* entry = palette + j * kStandInEntryFloats;
      if (j >= m.joints) {  // host bytes the upload carries along
        for (size_t e = 0; e < kStandInEntryFloats; ++e) entry[e] = static_cast<float>(1000 + 13 * j + e);
        continue;
      }
      const WideMatrix pose = jointPose(i, j, seconds);
      for (size_t e = 0; e < kStandInEntryFloats; ++e) entry[e] = static_cast<float>(pose.m[e]);
    }
    uint8_t* record = sceneRecord(i);
    const bool declined = m.declineEvery != 0 && frame % m.declineEvery == 0;
    record[kStandInUploadPendingOffset] = declined ? 0 : 1;
    record[kStandInPaletteFlagsOffset] = kScenePaletteFlags;
  }
}

ReceivedUpload& receivedUpload(size_t model) { return uploads[model]; }

void clearReceivedUploads() { std::memset(uploads, 0, sizeof uploads); }

uint64_t sceneUpload(const PoseUploadCall& call) {
  const size_t model = sceneModelOf(call.record);
  if (model >= kMostSceneModels) return 0;
  ReceivedUpload& u = uploads[model];
  const int8_t pending = static_cast<int8_t>(call.record[kStandInUploadPendingOffset]);
  const float* palette;
  std::memcpy(&palette, call.record + kStandInPaletteOffset, 8);
  uint32_t joints, padded;
  std::memcpy(&joints, call.record + kStandInJointsOffset, 4);
  std::memcpy(&padded, call.record + kStandInPaddedOffset, 4);
  padded &= 0x00FFFFFFu;
  if (u.calls < 2) {
    u.pendingSeen[u.calls] = pending;
    u.flagsSeen[u.calls] = call.record[kStandInPaletteFlagsOffset];
    u.paletteSeen[u.calls] = palette;
  }
  u.calls += 1;
  if (pending <= 0 || padded > 256) return 0;
  u.accepted = true;
  std::memcpy(u.entries, palette, padded * kStandInEntryFloats * sizeof(float));
  return call.value + 1;
}
