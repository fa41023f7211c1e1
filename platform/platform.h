// The operating-system seam. Every call Corvane makes into the operating system
// goes through the record `platform`, so tests can replace single operations
// with fakes (a chosen address-space map, a refused allocation, an unwritable
// log directory) and the native build can run the same code on Linux.
#pragma once
#include <cstddef>
#include <cstdint>

namespace corvane::os {

#if defined(_WIN32)
#define CORVANE_HOSTCALL
#else
// The host is Windows x64 code; hook bodies and host function pointers use its
// calling convention on every build.
#define CORVANE_HOSTCALL __attribute__((ms_abi))
#endif

// The page: the unit of protection and of the smallest allocation.
constexpr uintptr_t kPageSize = 4096;

// Memory states and protections, with the values the Windows API uses.
constexpr uint32_t kMemCommit = 0x1000;
constexpr uint32_t kMemReserve = 0x2000;
constexpr uint32_t kMemFree = 0x10000;
constexpr uint32_t kPageNoAccess = 0x01;
constexpr uint32_t kPageReadOnly = 0x02;
constexpr uint32_t kPageReadWrite = 0x04;
constexpr uint32_t kPageWriteCopy = 0x08;
constexpr uint32_t kPageExecute = 0x10;
constexpr uint32_t kPageExecuteRead = 0x20;
constexpr uint32_t kPageExecuteReadWrite = 0x40;
constexpr uint32_t kPageExecuteWriteCopy = 0x80;
constexpr uint32_t kPageGuard = 0x100;

// One region of the address space as a region query reports it.
struct MemoryRegion {
  uintptr_t base;
  uintptr_t size;
  uint32_t state;    // kMemCommit, kMemReserve or kMemFree
  uint32_t protect;  // kPage* with modifier bits
};

struct SystemLimits {
  uintptr_t lowestAddress;
  uintptr_t highestAddress;
  uint32_t allocationGranularity;
};

using ThreadProc = uint32_t(CORVANE_HOSTCALL*)(void*);

struct PlatformOps {
  // Loader and threads.
  void* (*mainModule)();  // load address of the process's main module, or null
  // Full path of a module (null: the main module), into a buffer of `capacity`
  // wide characters; returns the length written, 0 on failure.
  uint32_t (*moduleFileName)(void* module, wchar_t* buffer, uint32_t capacity);
  void (*disableThreadNotifications)(void* module);
  bool (*startThread)(ThreadProc proc);  // handle closed at once; nobody waits
  uint32_t (*currentProcessId)();

  // Address space and code patching.
  void (*systemLimits)(SystemLimits* out);
  bool (*queryRegion)(const void* address, MemoryRegion* out);
  // The calling thread's live stack, [low, high): its frames from the stack
  // pointer up to the stack's base, committed and readable. False when the
  // build cannot tell (then every probe queries).
  bool (*currentStack)(uintptr_t* low, uintptr_t* high);
  // Commit and reserve `size` bytes read-write-execute, at `address` or, when it
  // is null, anywhere. Null on failure.
  void* (*allocatePages)(void* address, size_t size);
  void (*releasePages)(void* address, size_t size);
  bool (*protectPages)(void* address, size_t size, uint32_t protection, uint32_t* previous);
  void (*flushCode)(const void* address, size_t size);

  // Files, settings, debugger output.
  // Integer value of a key of an INI file: `fallback` when the file, section or
  // key is missing, otherwise the value's leading decimal integer (0 if none).
  int (*readIniInt)(const wchar_t* section, const wchar_t* key, int fallback, const wchar_t* path);
  void (*debugOutput)(const char* text);
  // Appends `length` bytes to the file in one write, creating it when absent.
  bool (*appendToFile)(const wchar_t* path, const char* data, size_t length);
  // SHA-256 of a whole file, streamed in 1 MiB reads. False when the file cannot
  // be opened or read or the digest cannot be computed.
  bool (*hashFileSha256)(const wchar_t* path, uint8_t digest[32]);

  // Named shared memory. Handles are opaque; `error` receives the system's error
  // code on failure.
  void* (*createSharedMapping)(const wchar_t* name, uint32_t size, uint32_t* error);
  void* (*mapSharedView)(void* mapping, uint32_t size, uint32_t* error);
  void (*closeSharedMapping)(void* mapping);

  // Keyboard: the asynchronous key state (bit 15 set while the key is down).
  int16_t (*keyState)(int virtualKey);

  // Thread-local storage: a slot whose value starts null in every thread.
  bool (*allocateThreadSlot)(uint32_t* index);
  void* (*threadSlotValue)(uint32_t index);
  bool (*setThreadSlotValue)(uint32_t index, void* value);

  // The process's other threads, held still while code they may be running is
  // rewritten. `openOtherThreads` opens every thread of the process except the
  // calling one into `threads` (at most `capacity`) and stores the count; false
  // when they cannot all be listed and opened (a thread that ended meanwhile is
  // left out). Only the operations between suspend and resume run while the
  // threads are held: they neither allocate nor take a lock.
  bool (*openOtherThreads)(void** threads, uint32_t capacity, uint32_t* count);
  bool (*suspendThread)(void* thread);
  void (*resumeThread)(void* thread);
  // The instruction pointer of a suspended thread.
  bool (*threadInstructionPointer)(void* thread, uintptr_t* address);
  bool (*setThreadInstructionPointer)(void* thread, uintptr_t address);
  void (*closeThread)(void* thread);
};

// The operations in use. Starts as the backend of this build; tests may replace
// single members and restore them with `resetPlatform`.
extern PlatformOps platform;
const PlatformOps& defaultPlatform();
void resetPlatform();

}  // namespace corvane::os
