// The 144-byte shared-memory camera record an outside program reads. Its layout
// is an interface: offsets are binding.
#pragma once
#include <cstddef>
#include <cstdint>

namespace corvane::camera {

struct TelemetryBlock {
  uint64_t sequence;  // odd while a write is in progress
  uint32_t version;   // 1
  uint32_t size;      // 144
  uint32_t enabled;
  uint32_t modified;
  double presentationTime;
  double sampleTime;
  double alpha;
  float sourceOrigin[3];
  float outputOrigin[3];
  float sourceAxes[9];
  float outputAxes[9];
};

constexpr uint32_t kTelemetryVersion = 1;
constexpr uint32_t kTelemetrySize = 144;

static_assert(sizeof(TelemetryBlock) == kTelemetrySize, "telemetry block is 144 bytes");
static_assert(offsetof(TelemetryBlock, enabled) == 0x10);
static_assert(offsetof(TelemetryBlock, presentationTime) == 0x18);
static_assert(offsetof(TelemetryBlock, alpha) == 0x28);
static_assert(offsetof(TelemetryBlock, sourceOrigin) == 0x30);
static_assert(offsetof(TelemetryBlock, outputOrigin) == 0x3C);
static_assert(offsetof(TelemetryBlock, sourceAxes) == 0x48);
static_assert(offsetof(TelemetryBlock, outputAxes) == 0x6C);

}  // namespace corvane::camera
