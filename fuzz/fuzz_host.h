// Host memory for the fuzzers: an image at `hostBase` whose only accessible
// pages are those the system reads by RVA, an arena where each fuzzed call gets
// its records, blocks, lists and palettes, some arena pages made inaccessible
// per call, a reserved range and an unmapped hole, and a byte-for-byte check
// that a call left the host's memory as it was outside the places the system
// may write.
#pragma once
#include <cstddef>
#include <cstdint>

#include "math/types.h"
#include "platform/platform.h"

using namespace corvane::math;
using namespace corvane::os;

// Reads the fuzzer's bytes front to back; zeros once they run out.
struct FuzzInput {
  const uint8_t* data;
  size_t size;
  size_t position;

  bool empty() const { return position >= size; }
  uint8_t byte();
  uint16_t u16();
  uint32_t u32();
  uint64_t u64();
  bool flag() { return (byte() & 1) != 0; }
  // A value in [0, bound).
  uint32_t below(uint32_t bound) { return bound == 0 ? 0 : u32() % bound; }
  void bytes(void* out, size_t length);
};

// Values that break arithmetic: NaN, infinities, denormals, huge and tiny
// magnitudes, signed zeros, or plain values most of the time.
float fuzzFloat(FuzzInput& in);
double fuzzDouble(FuzzInput& in);
// A rigid matrix (rotation about an axis, translation, uniform scale), with
// one element replaced by a hostile value now and then.
Matrix4x4 fuzzMatrix4x4(FuzzInput& in);
Matrix3x4 fuzzMatrix3x4(FuzzInput& in);
// The exact inverse of the rigid part of `m` when it is rigid, else garbage.
Matrix4x4 inverseOfRigid(const Matrix4x4& m);

// Arena: kArenaPages pages, read-write unless a call made them inaccessible.
constexpr size_t kArenaPages = 512;
constexpr size_t kArenaSize = kArenaPages * kPageSize;

// Maps everything once, points hostBase at the image, replaces the region query
// with one that knows these regions, silences
// the log, and resets every settings switch.
void setUpFuzzHost();
uint8_t* arena();
// Memory of the harness's own making outside the arena that the region query
// reports readable (everything unknown to the harness reads as free).
void registerReadableRegion(const void* base, size_t size);
// Somewhere that is never accessible: a reserved range and an unmapped hole.
uint8_t* reservedAddress();
uint8_t* unmappedAddress();
// A pointer from the fuzzer: null, into the arena (any alignment), just before
// an arena page end, into reserved or unmapped space, near the top of the
// address space, raw bits, or `good` when given.
const void* fuzzPointer(FuzzInput& in, const void* good);

// The arena pages [0, pages) that the current fuzzer uses: only these are
// snapshotted and compared, and arena pointers from the fuzzer fall in them.
void setArenaPagesInUse(size_t pages);

// Makes up to four pages (chosen by the fuzzer) of the arena pages
// [firstPage, firstPage + pageCount) inaccessible.
void protectSomeArenaPages(FuzzInput& in, size_t firstPage, size_t pageCount);
void protectArenaPage(size_t page);
// Every arena page read-write again.
void unprotectArena();
bool arenaPageReadable(size_t page);
// True when all `length` bytes at `address` lie in accessible arena pages.
bool arenaRangeReadable(const void* address, size_t length);

// Snapshot of every accessible arena page and the image's accessible pages.
void takeSnapshot();
// Places the system may write during the call being checked.
void allowWrite(const void* address, size_t length);
// Aborts with a message naming the first byte that changed outside the allowed
// places; clears the allowed places.
void checkUnchanged(const char* what);
// The snapshot's copy of an arena or image byte (for places the host itself writes).
uint8_t* snapshotCopy(const void* address);

// Settings switches from one fuzzer byte (telemetry stays off: no block is mapped).
void fuzzSettings(FuzzInput& in);
// Publishes a camera correction and a presentation frame made of fuzzer values.
void publishFuzzFrame(FuzzInput& in);
// Sets up the host for one input that uses the arena pages [0, pages) and
// reads the settings switches from the input's first bytes.
FuzzInput startFuzzInput(const uint8_t* data, size_t size, size_t pages);
// Up to `steps` steps while the fuzzer's bytes last, each a published frame
// (one step in three) or a fuzzed `call`.
void framesAndCalls(FuzzInput& in, int steps, void (*call)(FuzzInput&));
// Presentation and sample times: when `steady`, `clock` advances by up to
// 255 / `scale` and the two lie just behind and ahead of it; else hostile values.
void fuzzTimes(FuzzInput& in, bool steady, double scale, double& clock, double& presentation, double& sample);
