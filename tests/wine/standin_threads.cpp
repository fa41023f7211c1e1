// Host threads inside the entries while Corvane patches them.
//
//   --park: before corvane.dll is loaded, one thread is created suspended at
//     every instruction boundary of each entry's displaced bytes, its context
//     set as the entry's earlier instructions would have left it (stack pointer,
//     stored registers, pushed rdi) with the call's arguments in place. After
//     the install each is resumed alone and must finish the host function with
//     every argument and the result intact.
//   --hammer N: N threads call the four entries in a tight loop from before the
//     install until the drive; none may fault.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "tests/standin/standin_host.h"
#include "tests/wine/standin_driver.h"

namespace {

enum Entry { kGpu, kPose, kShadow0, kShadow1, kEntryCount };
const char* const kEntryNames[kEntryCount] = {"gpu", "pose", "shadow0", "shadow1"};
const uint64_t kEntryRvas[kEntryCount] = {kStandInGpuCopyRva, kStandInPoseUploadRva, kStandInShadowBuildRva[0],
                                          kStandInShadowBuildRva[1]};

// Instruction boundaries inside each entry's displaced bytes.
struct Boundary {
  Entry entry;
  uint32_t offset;
};
constexpr Boundary kBoundaries[] = {
    {kGpu, 0},   {kGpu, 5},     {kGpu, 11},    {kGpu, 12},     {kPose, 0},    {kPose, 5},    {kPose, 6},
    {kPose, 10}, {kShadow0, 0}, {kShadow0, 5}, {kShadow0, 10}, {kShadow1, 0}, {kShadow1, 5}, {kShadow1, 10},
};
constexpr size_t kParkedCount = sizeof kBoundaries / sizeof kBoundaries[0];
constexpr size_t kRecordBytes = 0x2130;
constexpr size_t kUploadPending = 0x1FB1;

struct Parked {
  HANDLE thread;
  uint64_t args[8];
  float f;
  void* slot;
};
Parked parked[kParkedCount];
size_t parkedCount = 0;
uint8_t* poseRecord = nullptr;
void* outSlots[kParkedCount];

uint64_t expectedResult(size_t i) { return 0x600D0000ull + (i << 4); }

// Where a parked call returns: ExitThread with the host function's result.
uint8_t* landing() {
  static uint8_t* code = nullptr;
  if (code != nullptr) return code;
  code = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  if (code == nullptr) return nullptr;
  const uint64_t exitThread = reinterpret_cast<uint64_t>(&ExitThread);
  static const uint8_t kHead[] = {0x89, 0xC1, 0x48, 0x83,
                                  0xEC, 0x20, 0x48, 0xB8};  // mov ecx,eax; sub rsp,20h; mov rax,
  static const uint8_t kTail[] = {0xFF, 0xD0, 0xCC};        // call rax; int3
  std::memcpy(code, kHead, sizeof kHead);
  std::memcpy(code + sizeof kHead, &exitThread, 8);
  std::memcpy(code + sizeof kHead + 8, kTail, sizeof kTail);
  FlushInstructionCache(GetCurrentProcess(), code, 64);
  return code;
}

DWORD WINAPI neverRuns(void*) { return 0xDEAD; }

void put64(uint64_t at, uint64_t value) { std::memcpy(reinterpret_cast<void*>(at), &value, 8); }

bool park(size_t i, uint8_t* base) {
  const Boundary b = kBoundaries[i];
  Parked& p = parked[i];
  p.slot = &outSlots[i];
  p.f = -1.25f - static_cast<float>(i);
  for (int a = 0; a < 8; ++a) p.args[a] = 0x1000000000000000ull * (a + 1) + i;
  if (b.entry == kGpu) {
    p.args[0] = reinterpret_cast<uint64_t>(p.slot);
    p.args[3] = 0;  // no block: a pass-through for the hook at the entry's first byte
  } else if (b.entry == kPose) {
    p.args[0] = reinterpret_cast<uint64_t>(poseRecord);
  } else {
    p.args[2] = 0;  // no caster list
    p.args[6] &= 0x7FFFFFFF;
  }
  p.thread = CreateThread(nullptr, 0, neverRuns, nullptr, CREATE_SUSPENDED, nullptr);
  if (p.thread == nullptr || landing() == nullptr) return false;
  alignas(16) CONTEXT c;
  std::memset(&c, 0, sizeof c);
  c.ContextFlags = CONTEXT_FULL;
  if (!GetThreadContext(p.thread, &c)) return false;

  // As the caller leaves it, on the thread's own stack (Wine runs a thread only
  // there): the return address on top, rsp = 8 (mod 16), the stack arguments
  // above the four home slots.
  uint64_t rsp = ((c.Rsp - 0x400) & ~uint64_t{0xF}) - 8;
  put64(rsp, reinterpret_cast<uint64_t>(landing()));
  put64(rsp + 0x28, p.args[4]);
  uint32_t bits;
  std::memcpy(&bits, &p.f, 4);
  put64(rsp + 0x30, bits);
  put64(rsp + 0x38, p.args[6]);
  put64(rsp + 0x40, p.args[7]);
  c.Rcx = p.args[0];
  c.Rdx = p.args[1];
  c.R8 = p.args[2];
  c.R9 = p.args[3];
  c.Rbx = 0xB0B0B0B0B0B0B0B0ull;
  c.Rsi = 0x5151515151515151ull;
  c.Rdi = 0xD1D1D1D1D1D1D1D1ull;
  std::memset(&c.FltSave.XmmRegisters[2], 0, 16);
  std::memcpy(&c.FltSave.XmmRegisters[2], &p.f, 4);
  // What the entry's instructions before the boundary did.
  if (b.entry == kGpu) {
    if (b.offset > 0) put64(rsp + 8, c.Rbx);         // mov [rsp+8],rbx
    if (b.offset > 5) put64(rsp + 0x18, bits);       // movss [rsp+18h],xmm2
    if (b.offset > 11) rsp -= 8, put64(rsp, c.Rdi);  // push rdi
  } else if (b.entry == kPose) {
    if (b.offset > 0) put64(rsp + 0x20, c.Rsi);     // mov [rsp+20h],rsi
    if (b.offset > 5) rsp -= 8, put64(rsp, c.Rdi);  // push rdi
    if (b.offset > 6) rsp -= 0x40;                  // sub rsp,40h
  } else {
    if (b.offset > 0) put64(rsp + 0x18, c.R8);   // mov [rsp+18h],r8
    if (b.offset > 5) put64(rsp + 0x10, c.Rdx);  // mov [rsp+10h],rdx
  }
  c.Rsp = rsp;
  c.Rip = reinterpret_cast<uint64_t>(base + kEntryRvas[b.entry] + b.offset);
  return SetThreadContext(p.thread, &c) != FALSE;
}

bool sameFloat(float a, float b) { return std::memcmp(&a, &b, 4) == 0; }

// Resumes one parked thread and checks what the host function received.
void finishParked(size_t i) {
  const Boundary b = kBoundaries[i];
  const Parked& p = parked[i];
  const uint64_t expected = expectedResult(i);
  bool same = false;
  uint64_t calls = 0;
  switch (b.entry) {
    case kGpu:
      standInHost.gpuCopy.result = expected;
      calls = standInHost.gpuCopy.count.load();
      break;
    case kPose:
      standInHost.poseUpload.result = expected;
      calls = standInHost.poseUpload.count.load();
      break;
    default:
      standInHost.shadowBuild[b.entry - kShadow0].result = expected;
      calls = standInHost.shadowBuild[b.entry - kShadow0].count.load();
  }
  ResumeThread(p.thread);
  DWORD code = 0;
  const bool ended = WaitForSingleObject(p.thread, 10000) == WAIT_OBJECT_0 && GetExitCodeThread(p.thread, &code);
  if (b.entry == kGpu) {
    const GpuCopyCall call = standInHost.gpuCopy.lastCall();
    same = standInHost.gpuCopy.count.load() == calls + 1 && call.outSlot == p.slot && call.value == p.args[1] &&
           sameFloat(call.f, p.f) && call.block == nullptr;
  } else if (b.entry == kPose) {
    uint64_t flags;
    __asm__ volatile("cmpb $0, %1\n\tpushfq\n\tpopq %0" : "=r"(flags) : "m"(poseRecord[kUploadPending]) : "cc");
    const PoseUploadCall call = standInHost.poseUpload.lastCall();
    same = standInHost.poseUpload.count.load() == calls + 1 && call.record == poseRecord && call.value == p.args[1] &&
           (call.flags & 0x8D5) == (flags & 0x8D5);
  } else {
    const int entry = b.entry - kShadow0;
    const ShadowBuildCall call = standInHost.shadowBuild[entry].lastCall();
    same = standInHost.shadowBuild[entry].count.load() == calls + 1 && call.a1 == p.args[0] && call.a2 == p.args[1] &&
           call.list == nullptr && call.a4 == p.args[3] && call.a5 == p.args[4] && sameFloat(call.a6, p.f);
    if (entry == 1) same = same && call.a7 == static_cast<int32_t>(p.args[6]) && call.a8 == p.args[7];
  }
  check(ended && code == static_cast<DWORD>(expected),
        "%s: a thread parked at +%u finished the host function with its result", kEntryNames[b.entry], b.offset);
  check(same, "%s: a thread parked at +%u handed the host function every argument unchanged", kEntryNames[b.entry],
        b.offset);
  CloseHandle(p.thread);
}

volatile LONG stopHammer = 0;
constexpr int kMaxHammers = 8;
HANDLE hammers[kMaxHammers];
volatile LONG hammerLoops[kMaxHammers];
int hammerCount = 0;

DWORD WINAPI hammer(void* index) {
  const auto i = reinterpret_cast<uintptr_t>(index);
  void* slot = nullptr;
  while (stopHammer == 0) {
    gameCallsGpuCopy(&slot, i, 1.0f, nullptr);
    gameCallsPoseUpload(poseRecord, i);
    gameCallsShadowBuild0(i, i, nullptr, i, i, 2.0f);
    gameCallsShadowBuild1(i, i, nullptr, i, i, 3.0f, 4, i);
    InterlockedIncrement(&hammerLoops[i]);
  }
  return 0;
}

}  // namespace

bool startThreadsAtTheEntries(int argc, wchar_t** argv) {
  bool park = false;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--park") == 0) park = true;
    if (std::wcscmp(argv[i], L"--hammer") == 0 && i + 1 < argc) hammerCount = _wtoi(argv[i + 1]);
  }
  if (hammerCount > kMaxHammers) return false;
  if (!park && hammerCount == 0) return true;
  poseRecord = static_cast<uint8_t*>(VirtualAlloc(nullptr, kRecordBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (poseRecord == nullptr) return false;
  poseRecord[kUploadPending] = 1;
  if (park) {
    for (parkedCount = 0; parkedCount < kParkedCount; ++parkedCount)
      if (!::park(parkedCount, standInHost.base)) return false;
  }
  for (int i = 0; i < hammerCount; ++i) {
    hammers[i] = CreateThread(nullptr, 0, hammer, reinterpret_cast<void*>(static_cast<uintptr_t>(i)), 0, nullptr);
    if (hammers[i] == nullptr) return false;
  }
  // Every hammer is in its loop before corvane.dll is loaded.
  for (int i = 0; i < hammerCount; ++i)
    while (hammerLoops[i] == 0) Sleep(1);
  return true;
}

void finishThreadsAtTheEntries() {
  if (hammerCount > 0) {
    enterPlace("the entries, called in a loop during the install");
    LONG before[kMaxHammers];
    for (int i = 0; i < hammerCount; ++i) before[i] = hammerLoops[i];
    for (int i = 0; i < hammerCount; ++i)
      while (hammerLoops[i] == before[i]) Sleep(1);  // a full loop through the patched entries
    InterlockedExchange(&stopHammer, 1);
    for (int i = 0; i < hammerCount; ++i) {
      check(WaitForSingleObject(hammers[i], 10000) == WAIT_OBJECT_0, "hammer %d: ended", i);
      CloseHandle(hammers[i]);
    }
  }
  for (size_t i = 0; i < parkedCount; ++i) {
    enterPlace(kEntryNames[kBoundaries[i].entry]);
    finishParked(i);
  }
  parkedCount = 0;
  hammerCount = 0;
}
