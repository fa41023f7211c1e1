// A stand-in for the host's memory as the world and shadow hooks see it: an
// image region behind `hostBase`, model records and caster lists built in
// readable memory, recording stand-ins for the host functions, and rigid
// matrices composed independently of the product's math.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "math/types.h"
#include "platform/platform.h"

using namespace corvane::math;

// Maps the image region once and points `hostBase` at it; also installs the
// recording host functions behind the GPU-copy and shadow stubs.
void useModelHost();

// Zero-filled memory in one readable arena, 64-byte aligned.
uint8_t* allocateHostBytes(size_t size);
// `size` bytes that end exactly at an inaccessible page.
uint8_t* allocateBytesBeforeNoAccess(size_t size);

const void* testStaticModelClass();
const void* testSkinnedModelClass();

// A rigid placement: yaw about z in degrees, translation, uniform scale, and a
// reflection of the x axis when mirrored. Composed in 64-bit.
struct Placement {
  double yawDegrees = 0.0;
  double x = 0.0, y = 0.0, z = 0.0;
  double scale = 1.0;
  bool mirrored = false;
};
Matrix4x4 placementMatrix(const Placement& p);
Matrix4x4 placementInverse(const Placement& p);
Matrix4x4 identityMatrix();
// a * b in 64-bit, for expectations.
Matrix4x4 product(const Matrix4x4& a, const Matrix4x4& b);
float maxDifference(const Matrix4x4& a, const Matrix4x4& b);

// A zeroed model record of the static (7376 bytes) or skinned (8496 bytes) class.
uint8_t* newStaticRecord();
// Skinned: joints and padded count, asset (readable), owner as given.
uint8_t* newSkinnedRecord(uint32_t joints, uint32_t padded, const void* owner);
void writeMatrix(uint8_t* record, uint64_t offset, const Matrix4x4& m);
Matrix4x4 readMatrix(const uint8_t* record, uint64_t offset);
// Writes the four current and the four previous forms: world, inverse and two
// derived matrices (fixed rigid left factors times the world matrix).
void setWorldMatrices(uint8_t* record, const Placement& current, const Placement& previous);
void setDepth(uint8_t* record, float depth);
void setOwner(uint8_t* record, const void* owner);
// A fresh distinct owner address.
const void* newOwner();
// The left factors that setWorldMatrices uses for the derived matrices.
Matrix4x4 derivedFactor1();
Matrix4x4 derivedFactor2();

// A 16-byte block naming `record`, opaque bytes 0-7 set to a marker.
uint8_t* newModelRefBlock(const uint8_t* record);
constexpr uint64_t kBlockMarker = 0x1122334455667788ull;

// What the stand-in GPU-copy function saw on this thread's last call.
struct GpuCopyCall {
  void** outSlot;
  uint64_t value;
  float f;
  const uint8_t* block;
  uint64_t blockMarker;
  const uint8_t* record;
  std::vector<uint8_t> recordBytes;  // kSkinnedModelRecordLength bytes at call time
};
GpuCopyCall& lastGpuCopyCall();
extern std::atomic<uint64_t> gpuCopyCalls;
// The stand-in's result (differs per call) and what it writes into the out-slot.
uint64_t gpuCopyResultFor(uint64_t callNumber);
constexpr uintptr_t kHostOutSlotValue = 0xDEAD0000;

// What the stand-in shadow build saw on this thread's last call: the list
// header and the entries and transforms it pointed to at call time.
struct ShadowBuildCall {
  int which;
  const void* list;
  uint64_t args[6];
  uint64_t header[2];
  std::vector<uint8_t> entries;
  std::vector<Matrix4x4> transforms;  // one per entry; zero for a null pointer
};
ShadowBuildCall& lastShadowBuildCall();
extern std::atomic<uint64_t> shadowBuildCalls;
constexpr uint64_t kShadowBuildResult = 0x5EED;
// Set to make the stand-in build call a proxy from inside (re-entry).
extern thread_local void (*shadowBuildInner)();

void resetTestSettings();
