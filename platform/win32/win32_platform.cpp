// The shipping backend: the Windows calls with the flags, sizes and order the
// system depends on.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <tlhelp32.h>

#include <cstddef>
#include <cstring>

#include "platform/platform.h"
#include "platform/system_sha256.h"

namespace corvane::os {

namespace {

void* mainModule() { return reinterpret_cast<void*>(GetModuleHandleW(nullptr)); }

uint32_t moduleFileName(void* module, wchar_t* buffer, uint32_t capacity) {
  return GetModuleFileNameW(static_cast<HMODULE>(module), buffer, capacity);
}

void disableThreadNotifications(void* module) { DisableThreadLibraryCalls(static_cast<HMODULE>(module)); }

bool startThread(ThreadProc proc) {
  HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(proc), nullptr, 0, nullptr);
  if (thread == nullptr) return false;
  CloseHandle(thread);
  return true;
}

uint32_t currentProcessId() { return GetCurrentProcessId(); }

void systemLimits(SystemLimits* out) {
  SYSTEM_INFO info;
  std::memset(&info, 0, sizeof info);
  GetSystemInfo(&info);
  out->lowestAddress = reinterpret_cast<uintptr_t>(info.lpMinimumApplicationAddress);
  out->highestAddress = reinterpret_cast<uintptr_t>(info.lpMaximumApplicationAddress);
  out->allocationGranularity = info.dwAllocationGranularity;
}

bool queryRegion(const void* address, MemoryRegion* out) {
  MEMORY_BASIC_INFORMATION info;
  static_assert(sizeof(MEMORY_BASIC_INFORMATION) == 48, "region record is 48 bytes");
  if (VirtualQuery(address, &info, sizeof info) == 0) return false;
  out->base = reinterpret_cast<uintptr_t>(info.BaseAddress);
  out->size = info.RegionSize;
  out->state = info.State;
  out->protect = info.Protect;
  return true;
}

// From the stack pointer up to the base the thread's information block (gs:)
// gives, with no system call: the pages of the live frames, committed (a frame
// touches its pages in order). Nothing when the stack pointer lies outside the
// block's limit and base (a stack the program switched to on its own).
bool currentStack(uintptr_t* low, uintptr_t* high) {
  uintptr_t limit, base, sp;
  __asm__("movq %%gs:%c1, %0" : "=r"(limit) : "i"(offsetof(NT_TIB, StackLimit)));
  __asm__("movq %%gs:%c1, %0" : "=r"(base) : "i"(offsetof(NT_TIB, StackBase)));
  __asm__("movq %%rsp, %0" : "=r"(sp));
  *low = sp;
  *high = base;
  return limit <= sp && sp < base;
}

void* allocatePages(void* address, size_t size) {
  return VirtualAlloc(address, size, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
}

void releasePages(void* address, size_t) { VirtualFree(address, 0, MEM_RELEASE); }

bool protectPages(void* address, size_t size, uint32_t protection, uint32_t* previous) {
  DWORD old = 0;
  BOOL ok = VirtualProtect(address, size, protection, &old);
  *previous = old;
  return ok != FALSE;
}

void flushCode(const void* address, size_t size) { FlushInstructionCache(GetCurrentProcess(), address, size); }

int readIniInt(const wchar_t* section, const wchar_t* key, int fallback, const wchar_t* path) {
  return static_cast<int>(GetPrivateProfileIntW(section, key, fallback, path));
}

void debugOutput(const char* text) { OutputDebugStringA(text); }

bool appendToFile(const wchar_t* path, const char* data, size_t length) {
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, data, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
  return ok != FALSE && written == length;
}

constexpr DWORD kHashReadSize = 1048576;

bool hashFileSha256(const wchar_t* path, uint8_t digest[32]) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;

  bool result = false;
  SystemSha256* hash = systemSha256Begin();
  uint8_t* readBuffer = nullptr;
  if (hash != nullptr) readBuffer = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kHashReadSize));
  if (readBuffer != nullptr) {
    for (;;) {
      DWORD read = 0;
      if (!ReadFile(file, readBuffer, kHashReadSize, &read, nullptr)) break;
      if (read == 0) {
        result = systemSha256Finish(hash, digest);
        hash = nullptr;
        break;
      }
      if (!systemSha256Update(hash, readBuffer, read)) break;
    }
  }

  if (readBuffer != nullptr) HeapFree(GetProcessHeap(), 0, readBuffer);
  if (hash != nullptr) systemSha256Finish(hash, nullptr);
  CloseHandle(file);
  return result;
}

void* createSharedMapping(const wchar_t* name, uint32_t size, uint32_t* error) {
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
  if (mapping == nullptr) *error = GetLastError();
  return mapping;
}

void* mapSharedView(void* mapping, uint32_t size, uint32_t* error) {
  void* view = MapViewOfFile(static_cast<HANDLE>(mapping), FILE_MAP_WRITE, 0, 0, size);
  if (view == nullptr) *error = GetLastError();
  return view;
}

void closeSharedMapping(void* mapping) { CloseHandle(static_cast<HANDLE>(mapping)); }

int16_t keyState(int virtualKey) { return GetAsyncKeyState(virtualKey); }

bool allocateThreadSlot(uint32_t* index) {
  const DWORD slot = TlsAlloc();
  if (slot == TLS_OUT_OF_INDEXES) return false;
  *index = slot;
  return true;
}

void* threadSlotValue(uint32_t index) { return TlsGetValue(index); }

bool setThreadSlotValue(uint32_t index, void* value) { return TlsSetValue(index, value) != FALSE; }

constexpr DWORD kThreadAccess = THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_SET_CONTEXT;

bool openOtherThreads(void** threads, uint32_t capacity, uint32_t* count) {
  *count = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  const DWORD process = GetCurrentProcessId();
  const DWORD self = GetCurrentThreadId();
  bool complete = true;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more && complete; more = Thread32Next(snapshot, &entry)) {
    const bool ours = entry.dwSize >= offsetof(THREADENTRY32, th32OwnerProcessID) + sizeof entry.th32OwnerProcessID &&
                      entry.th32OwnerProcessID == process && entry.th32ThreadID != self;
    entry.dwSize = sizeof entry;
    if (!ours) continue;
    HANDLE thread = OpenThread(kThreadAccess, FALSE, entry.th32ThreadID);
    if (thread == nullptr) {
      // A thread that ended since the snapshot has no id any more.
      complete = GetLastError() == ERROR_INVALID_PARAMETER;
      continue;
    }
    if (*count == capacity) {
      CloseHandle(thread);
      complete = false;
      continue;
    }
    threads[(*count)++] = thread;
  }
  CloseHandle(snapshot);
  if (!complete) {
    while (*count > 0) CloseHandle(static_cast<HANDLE>(threads[--*count]));
  }
  return complete;
}

bool suspendThread(void* thread) { return SuspendThread(static_cast<HANDLE>(thread)) != static_cast<DWORD>(-1); }

void resumeThread(void* thread) { ResumeThread(static_cast<HANDLE>(thread)); }

// GetThreadContext also waits until a suspension has taken effect.
bool threadInstructionPointer(void* thread, uintptr_t* address) {
  alignas(16) CONTEXT context;
  std::memset(&context, 0, sizeof context);
  context.ContextFlags = CONTEXT_CONTROL;
  if (!GetThreadContext(static_cast<HANDLE>(thread), &context)) return false;
  *address = context.Rip;
  return true;
}

bool setThreadInstructionPointer(void* thread, uintptr_t address) {
  alignas(16) CONTEXT context;
  std::memset(&context, 0, sizeof context);
  context.ContextFlags = CONTEXT_CONTROL;
  if (!GetThreadContext(static_cast<HANDLE>(thread), &context)) return false;
  context.Rip = address;
  return SetThreadContext(static_cast<HANDLE>(thread), &context) != FALSE;
}

void closeThread(void* thread) { CloseHandle(static_cast<HANDLE>(thread)); }

constexpr PlatformOps kWin32Platform = {
    mainModule,
    moduleFileName,
    disableThreadNotifications,
    startThread,
    currentProcessId,
    systemLimits,
    queryRegion,
    currentStack,
    allocatePages,
    releasePages,
    protectPages,
    flushCode,
    readIniInt,
    debugOutput,
    appendToFile,
    hashFileSha256,
    createSharedMapping,
    mapSharedView,
    closeSharedMapping,
    keyState,
    allocateThreadSlot,
    threadSlotValue,
    setThreadSlotValue,
    openOtherThreads,
    suspendThread,
    resumeThread,
    threadInstructionPointer,
    setThreadInstructionPointer,
    closeThread,
};

}  // namespace

const PlatformOps& defaultPlatform() { return kWin32Platform; }

}  // namespace corvane::os
