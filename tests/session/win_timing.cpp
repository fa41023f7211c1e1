#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "tests/session/win_timing.h"

#include <x86intrin.h>

#include <cstring>

#include "tests/standin/standin_clock.h"
#include "tests/standin/standin_host.h"

namespace {

double nsPerTick = 1.0;
thread_local ThreadTicks ticks;

using ViewCopyFn = uint64_t(CORVANE_HOSTCALL*)(void*, void*, uint64_t, uint64_t);
using GpuCopyFn = uint64_t(CORVANE_HOSTCALL*)(void**, uint64_t, float, const uint8_t*);
using PoseUploadFn = uint64_t(CORVANE_HOSTCALL*)(uint8_t*, uint64_t);
using Shadow0Fn = uint64_t(CORVANE_HOSTCALL*)(uint64_t, uint64_t, void*, uint64_t, uint64_t, float);
using Shadow1Fn = uint64_t(CORVANE_HOSTCALL*)(uint64_t, uint64_t, void*, uint64_t, uint64_t, float, int32_t, uint64_t);
using VirtualQueryFn = SIZE_T(WINAPI*)(LPCVOID, PMEMORY_BASIC_INFORMATION, SIZE_T);

ViewCopyFn viewCopy;
GpuCopyFn gpuCopy;
PoseUploadFn poseUpload;
Shadow0Fn shadow0;
Shadow1Fn shadow1;
VirtualQueryFn virtualQuery;

uint64_t CORVANE_HOSTCALL timedViewCopy(void* d, void* s, uint64_t a3, uint64_t a4) {
  const uint64_t t = ticksNow();
  const uint64_t r = viewCopy(d, s, a3, a4);
  ticks.standIn += ticksNow() - t;
  return r;
}
uint64_t CORVANE_HOSTCALL timedGpuCopy(void** slot, uint64_t v, float f, const uint8_t* block) {
  const uint64_t t = ticksNow();
  const uint64_t r = gpuCopy(slot, v, f, block);
  ticks.standIn += ticksNow() - t;
  return r;
}
uint64_t CORVANE_HOSTCALL timedPoseUpload(uint8_t* record, uint64_t v) {
  const uint64_t t = ticksNow();
  const uint64_t r = poseUpload(record, v);
  ticks.standIn += ticksNow() - t;
  return r;
}
uint64_t CORVANE_HOSTCALL timedShadow0(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6) {
  const uint64_t t = ticksNow();
  const uint64_t r = shadow0(a1, a2, list, a4, a5, a6);
  ticks.standIn += ticksNow() - t;
  return r;
}
uint64_t CORVANE_HOSTCALL timedShadow1(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6,
                                       int32_t a7, uint64_t a8) {
  const uint64_t t = ticksNow();
  const uint64_t r = shadow1(a1, a2, list, a4, a5, a6, a7, a8);
  ticks.standIn += ticksNow() - t;
  return r;
}
SIZE_T WINAPI timedVirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length) {
  const uint64_t t = ticksNow();
  const SIZE_T r = virtualQuery(address, info, length);
  ticks.probe += ticksNow() - t;
  ++ticks.probeCalls;
  return r;
}

// The stand-in entries are written with mov rax, imm64; jmp rax.
bool isJump(const uint8_t* at) { return at[0] == 0x48 && at[1] == 0xB8 && at[10] == 0xFF && at[11] == 0xE0; }

}  // namespace

uint64_t ticksNow() { return __rdtsc(); }

void calibrateTicks(unsigned milliseconds) {
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const uint64_t first = ticksNow();
  Sleep(milliseconds);
  QueryPerformanceCounter(&now);
  const uint64_t last = ticksNow();
  const double ns = 1e9 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  nsPerTick = last > first ? ns / static_cast<double>(last - first) : 1.0;
}

double ticksToNs(uint64_t value) { return static_cast<double>(value) * nsPerTick; }

ThreadTicks takeThreadTicks() {
  const ThreadTicks taken = ticks;
  ticks = ThreadTicks{};
  return taken;
}

bool redirectStandIn(uint8_t* entry, size_t searchBytes, const void* wrapper, void** original) {
  for (size_t i = 0; i + 12 <= searchBytes; ++i) {
    if (!isJump(entry + i)) continue;
    std::memcpy(original, entry + i + 2, 8);
    const uint64_t target = reinterpret_cast<uint64_t>(wrapper);
    std::memcpy(entry + i + 2, &target, 8);
    FlushInstructionCache(GetCurrentProcess(), entry + i, 12);
    return true;
  }
  return false;
}

bool wrapStandIns(uint8_t* base) {
  // The GPU-copy, pose-upload and shadow entries keep the game's prologue
  // bytes, undo them and then jump; the view copy jumps at once.
  constexpr size_t kSearch = 64;
  bool ok = redirectStandIn(base + kStandInViewCopyRva, 12, reinterpret_cast<const void*>(&timedViewCopy),
                            reinterpret_cast<void**>(&viewCopy));
  ok = redirectStandIn(base + kStandInGpuCopyRva, kSearch, reinterpret_cast<const void*>(&timedGpuCopy),
                       reinterpret_cast<void**>(&gpuCopy)) &&
       ok;
  ok = redirectStandIn(base + kStandInPoseUploadRva, kSearch, reinterpret_cast<const void*>(&timedPoseUpload),
                       reinterpret_cast<void**>(&poseUpload)) &&
       ok;
  ok = redirectStandIn(base + kStandInShadowBuildRva[0], kSearch, reinterpret_cast<const void*>(&timedShadow0),
                       reinterpret_cast<void**>(&shadow0)) &&
       ok;
  ok = redirectStandIn(base + kStandInShadowBuildRva[1], kSearch, reinterpret_cast<const void*>(&timedShadow1),
                       reinterpret_cast<void**>(&shadow1)) &&
       ok;
  return ok;
}

bool timeAddressProbes() {
  auto* module = reinterpret_cast<uint8_t*>(GetModuleHandleW(L"corvane.dll"));
  if (module == nullptr) return false;
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS64*>(module + reinterpret_cast<IMAGE_DOS_HEADER*>(module)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return false;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(module + directory.VirtualAddress); d->Name != 0; ++d) {
    if (lstrcmpiA(reinterpret_cast<const char*>(module + d->Name), "KERNEL32.dll") != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA64*>(module + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA64*>(module + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(module + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "VirtualQuery") != 0) continue;
      DWORD old = 0;
      if (!VirtualProtect(&slots->u1.Function, 8, PAGE_READWRITE, &old)) return false;
      virtualQuery = reinterpret_cast<VirtualQueryFn>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONGLONG>(&timedVirtualQuery);
      VirtualProtect(&slots->u1.Function, 8, old, &old);
      return true;
    }
  }
  return false;
}
