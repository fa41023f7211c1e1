// The stand-in host: an image with the game's layout, written into memory the
// caller provides, whose functions record what they receive. It is the game as
// far as Corvane relies on it, and nothing more. Plain C++ with the host's
// calling convention, so it builds natively and with mingw-w64.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"  // CORVANE_HOSTCALL

// The image spans RVAs up to this size; the caller provides it readable,
// writable and executable, page aligned and zero filled.
constexpr size_t kStandInImageSize = 0x3C00000;

// Where the stand-in's functions lie in the image. The stand-in keeps its own
// copy of the game's layout rather than borrowing Corvane's constants.
constexpr uint64_t kStandInViewCopyRva = 0x64A90;
constexpr uint64_t kStandInViewCopyCallRva = 0xA395A6;
constexpr uint64_t kStandInViewCopyCallerRva = kStandInViewCopyCallRva - 4;  // sub rsp,28h
constexpr uint64_t kStandInGpuCopyRva = 0x3ACD00;
constexpr uint64_t kStandInPoseUploadRva = 0x2D0C80;
constexpr uint64_t kStandInShadowBuildRva[2] = {0x3CA3B0, 0x3CACE0};

// Bytes of a view record that the view-copy function copies.
constexpr size_t kStandInViewLength = 0xF0;

struct ViewCopyCall {
  void* destination;
  void* source;
  uint64_t a3;
  uint64_t a4;
};

struct GpuCopyCall {
  void** outSlot;
  uint64_t value;
  float f;
  const uint8_t* block;
};

struct PoseUploadCall {
  uint8_t* record;
  uint64_t value;
  uint64_t flags;  // RFLAGS as the instruction after the entry's compare sees them
};

struct ShadowBuildCall {
  uint64_t a1;
  uint64_t a2;
  void* list;
  uint64_t a4;
  uint64_t a5;
  float a6;
  int32_t a7;   // entry 1 only
  uint64_t a8;  // entry 1 only
};

// What one stand-in function received: the number of calls, the last call's
// arguments, and the value the function returns (set by the test).
template <typename Call>
struct CallRecord {
  std::atomic<uint64_t> count{0};
  std::atomic<uint64_t> result{0};
  Call last{};
  std::atomic_flag busy = ATOMIC_FLAG_INIT;

  void record(const Call& call) {
    while (busy.test_and_set(std::memory_order_acquire)) {}
    last = call;
    busy.clear(std::memory_order_release);
    count.fetch_add(1, std::memory_order_acq_rel);
  }
  Call lastCall() {
    while (busy.test_and_set(std::memory_order_acquire)) {}
    Call copy = last;
    busy.clear(std::memory_order_release);
    return copy;
  }
  void clear() {
    count.store(0);
    result.store(0);
    while (busy.test_and_set(std::memory_order_acquire)) {}
    last = Call{};
    busy.clear(std::memory_order_release);
  }
};

struct StandInHost {
  uint8_t* base = nullptr;
  CallRecord<ViewCopyCall> viewCopy;
  CallRecord<GpuCopyCall> gpuCopy;
  CallRecord<PoseUploadCall> poseUpload;
  CallRecord<ShadowBuildCall> shadowBuild[2];
  // What a scene makes a stand-in function do with each call beyond recording
  // it: the behaviour's result is returned. Null: `result` is returned. The
  // behaviours may run on several threads at once.
  uint64_t (*gpuCopyBehaviour)(const GpuCopyCall& call) = nullptr;
  uint64_t (*poseUploadBehaviour)(const PoseUploadCall& call) = nullptr;
  uint64_t (*shadowBuildBehaviour)(int entry, const ShadowBuildCall& call) = nullptr;
};

// One host per process, as in the game.
extern StandInHost standInHost;

// Writes the image's code into `base` (kStandInImageSize bytes) and clears the
// records and behaviours. Writing it again restores every patch site's original bytes, clears
// the clock pointer and sets every console variable to 0 (standin_clock.h).
void buildStandInHost(uint8_t* base);

// Protects the image as the game's loader leaves its sections, once its code is
// written: the pages that hold the stand-in's functions (each with up to 64
// bytes after its entry) execute-read, every other page from the lowest RVA the
// game's image is used at read-write. `protect`
// changes one page range to a kPage* protection and tells whether it could.
bool protectStandInImage(uint8_t* base, bool (*protect)(void* address, size_t size, uint32_t protection));

// The host's own callers, entering the image as the game does.
// The view copy is reached through its caller, which holds the call site.
uint64_t gameCallsViewCopy(void* destination, void* source, uint64_t a3, uint64_t a4);
uint64_t gameCallsGpuCopy(void** outSlot, uint64_t value, float f, const uint8_t* block);
uint64_t gameCallsPoseUpload(uint8_t* record, uint64_t value);
uint64_t gameCallsShadowBuild0(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6);
uint64_t gameCallsShadowBuild1(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6, int32_t a7,
                               uint64_t a8);
