// Palette interpolation: a skinned model's uploads become time samples in its
// track, and the last two distinct rigid palettes are blended to the moment
// being presented.
#pragma once
#include <cstdint>

#include "camera/frame_state.h"
#include "math/types.h"

namespace corvane::skeletal {

// What a prepared presentation palette stands for; read by the hook and by
// recordUpload after the host accepted the substituted upload.
struct PaletteUpload {
  const uint8_t* model;
  const void* ownerKey;
  uint64_t trackId;
  uint64_t presentationSerial;
  uint64_t hash;  // digestMatrix3x4Array of the presentation palette over `joints`
  double alpha;
  bool firstPerson;
  bool cinematic;
};

// Blend limits of a pair.
constexpr double kMaxJointTravel = 16.0;
constexpr double kMaxJointTurnDegrees = 90.0;

// Samples the record's palette into its track and, when a pair is ready, writes
// the blended palette (its first `padded` entries) into `presentationPalette`.
// True when a palette and its `upload` are ready for substitution; on false
// nothing has been written to either output.
bool preparePalette(const uint8_t* record, math::Matrix3x4* presentationPalette, PaletteUpload* upload);
// Statistics of a substituted upload the host accepted.
void recordUpload(const PaletteUpload& upload);

}  // namespace corvane::skeletal
