// Joint palettes of the stand-in's skinned characters (SceneModel with
// `skinned`): every joint turns about its own axis at its own rate and drifts
// at its own velocity, a closed-form pose of the simulation time; entries from
// `joints` up to the padded count hold fixed host bytes. The upload behaviour
// declines while the record's pending byte is not positive (as the host does,
// so the forced retry is what makes a declined upload happen) and keeps, per
// model, the palette bytes it read during the accepting call.
#pragma once
#include <cstddef>
#include <cstdint>

#include "tests/standin/standin_models.h"

constexpr uint64_t kStandInPalettesRva = 0x1500000;
constexpr uint64_t kStandInPaletteStride = 0x4000;
constexpr size_t kStandInEntryFloats = 12;
constexpr uint64_t kStandInPaletteFlagsOffset = 0x1FB0;
constexpr uint64_t kStandInUploadPendingOffset = 0x1FB1;
constexpr uint64_t kStandInPaletteOffset = 0x1FF8;
constexpr uint8_t kScenePaletteFlags = 0x47;

float* scenePalette(size_t model);
uint32_t paddedJoints(uint32_t joints);

// Joint `joint` of a model at simulation time `seconds`, as a transform.
WideMatrix jointPose(size_t model, uint32_t joint, long double seconds);

// Points every skinned record at its palette.
void startPalettes(const ModelScene& scene);
// The palettes for `tick`, and each record's pending byte and flags for
// presented frame `frame` (nothing pending on every declineEvery-th frame).
void writePalettesForFrame(const ModelScene& scene, uint64_t tick, uint32_t simulationHz, uint64_t frame);

struct ReceivedUpload {
  uint32_t calls;
  int8_t pendingSeen[2];
  uint8_t flagsSeen[2];
  const float* paletteSeen[2];
  bool accepted;
  float entries[256 * kStandInEntryFloats];  // the padded entries read during the accepting call
};
ReceivedUpload& receivedUpload(size_t model);
void clearReceivedUploads();
// The upload behaviour: records into the model's ReceivedUpload; returns
// `value` + 1 on an upload and 0 when declined.
uint64_t sceneUpload(const struct PoseUploadCall& call);
