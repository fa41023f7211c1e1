// A stand-in for the host's side of the skinned-pose upload: skinned model
// records at their real offsets, palettes built from known rotations, and an
// upload function that records what it received.
#pragma once
#include <cstdint>

#include "math/types.h"
#include "platform/platform.h"

using namespace corvane::math;

// Maps the host image region once, points hostBase at it, sets the upload stub
// and marks the hook installed. Safe to call repeatedly.
void setUpSkinnedHost();

// Fresh zeroed memory that isReadableRange accepts (never freed).
void* hostAllocate(size_t size, size_t alignment = 16);
// An address whose page is mapped without access.
const void* unreadableAddress();

struct SkinnedRecordShape {
  float depth = 0.0f;
  const void* owner = nullptr;  // null: a fresh readable owner
  const void* asset = nullptr;  // null: a fresh readable asset
  uint32_t joints = 8;
  uint32_t padded = 8;
  int8_t pending = 1;
  uint8_t flags = 0x06;
};
uint8_t* newSkinnedRecord(const SkinnedRecordShape& shape, Matrix3x4** paletteOut);

void setRecordPalette(uint8_t* record, const Matrix3x4* palette);
Matrix3x4* recordPalette(uint8_t* record);
int8_t recordPending(const uint8_t* record);
uint8_t recordFlags(const uint8_t* record);
void setRecordPending(uint8_t* record, int8_t pending);
void setRecordDepth(uint8_t* record, float depth);
void setRecordOwner(uint8_t* record, const void* owner);

// A rigid joint: rotation by `degrees` about the unit axis (ax, ay, az), then translation.
Matrix3x4 rigidJoint(double ax, double ay, double az, double degrees, double tx, double ty, double tz);

// Entries behind every palette the stand-in allocates (room for padded counts
// beyond the joint limit).
constexpr uint32_t kHostPaletteCapacity = 272;

// What the recording upload function saw on the calling thread.
struct UploadLog {
  int calls;
  int accepted;
  int8_t pendingSeen[2];
  uint8_t flagsSeen[2];
  const void* paletteSeen[2];
  uint64_t valueSeen;
  uint32_t receivedCount;
  Matrix3x4 received[kHostPaletteCapacity];  // the palette bytes of the accepting call
  bool declineAll;                           // test-controlled: the host refuses every call
};
UploadLog& uploadLog();  // thread-local
void clearUploadLog();

// The host's upload: declines when told to or when nothing is pending;
// otherwise copies the `padded` entries behind the palette field, clears the
// pending byte and sets flag bit 0x02. Returns `value` + 1 on an upload.
uint64_t CORVANE_HOSTCALL recordingPoseUpload(uint8_t* record, uint64_t value);
// The same host behaviour without touching the log, for computing the fields
// that the host alone would leave in a record copy.
uint64_t simulateHostUpload(uint8_t* record, uint64_t value);
