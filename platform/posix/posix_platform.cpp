// The native backend: the same meanings on Linux, for the native test build.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/posix_paths.h"
#include "platform/system_sha256.h"

namespace corvane::os {

namespace {

void* mainModule() {
  void* base = nullptr;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) -> int {
        *static_cast<void**>(out) = reinterpret_cast<void*>(info->dlpi_addr);
        return 1;
      },
      &base);
  return base;
}

uint32_t moduleFileName(void* module, wchar_t* buffer, uint32_t capacity) {
  char path[PATH_MAX] = {};
  if (module == nullptr) {
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return 0;
    path[n] = 0;
  } else {
    Dl_info info;
    if (dladdr(module, &info) == 0 || info.dli_fname == nullptr) return 0;
    std::snprintf(path, sizeof path, "%s", info.dli_fname);
  }
  return narrowToWide(path, buffer, capacity);
}

void disableThreadNotifications(void*) {}

struct ThreadStart {
  ThreadProc proc;
};

void* runThread(void* arg) {
  ThreadProc proc = reinterpret_cast<ThreadStart*>(arg)->proc;
  delete reinterpret_cast<ThreadStart*>(arg);
  proc(nullptr);
  return nullptr;
}

bool startThread(ThreadProc proc) {
  pthread_t thread;
  auto* start = new ThreadStart{proc};
  if (pthread_create(&thread, nullptr, runThread, start) != 0) {
    delete start;
    return false;
  }
  pthread_detach(thread);
  return true;
}

uint32_t currentProcessId() { return static_cast<uint32_t>(getpid()); }

void systemLimits(SystemLimits* out) {
  out->lowestAddress = 0x10000;
  out->highestAddress = 0x7FFFFFFEFFFF;
  out->allocationGranularity = 0x10000;
}

uint32_t protectionFromPermissions(const char* perms) {
  bool r = perms[0] == 'r', w = perms[1] == 'w', x = perms[2] == 'x';
  if (x) return r ? (w ? kPageExecuteReadWrite : kPageExecuteRead) : kPageExecute;
  if (r) return w ? kPageReadWrite : kPageReadOnly;
  return kPageNoAccess;
}

// Natively the stack is not told apart: every probe walks the map below.
bool currentStack(uintptr_t*, uintptr_t*) { return false; }

// Walks /proc/self/maps; a mapping holding the address is a committed region (a
// mapping without any permission counts as reserved), the gap around it free.
bool queryRegion(const void* address, MemoryRegion* out) {
  const uintptr_t target = reinterpret_cast<uintptr_t>(address) & ~(kPageSize - 1);
  int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[16384];
  size_t filled = 0;
  uintptr_t previousEnd = 0;
  bool found = false;
  bool eof = false;
  while (!found) {
    if (!eof && filled < sizeof buffer) {
      ssize_t n = read(fd, buffer + filled, sizeof buffer - filled);
      if (n <= 0) eof = true;
      else filled += static_cast<size_t>(n);
    }
    char* newline = static_cast<char*>(std::memchr(buffer, '\n', filled));
    if (newline == nullptr) {
      if (eof) break;
      continue;
    }
    *newline = 0;
    unsigned long long start = 0, end = 0;
    char perms[8] = {};
    if (std::sscanf(buffer, "%llx-%llx %4s", &start, &end, perms) == 3) {
      if (target < start) {
        out->base = previousEnd;
        out->size = start - previousEnd;
        out->state = kMemFree;
        out->protect = kPageNoAccess;
        found = true;
      } else if (target < end) {
        out->base = start;
        out->size = end - start;
        uint32_t protect = protectionFromPermissions(perms);
        out->state = protect == kPageNoAccess ? kMemReserve : kMemCommit;
        out->protect = protect == kPageNoAccess ? 0 : protect;
        found = true;
      }
      previousEnd = end;
    }
    size_t used = static_cast<size_t>(newline - buffer) + 1;
    std::memmove(buffer, newline + 1, filled - used);
    filled -= used;
  }
  close(fd);
  if (!found) {
    out->base = previousEnd;
    out->size = 0x800000000000ull - previousEnd;
    out->state = kMemFree;
    out->protect = kPageNoAccess;
  }
  return true;
}

void* allocatePages(void* address, size_t size) {
  int flags = MAP_PRIVATE | MAP_ANONYMOUS;
  if (address != nullptr) flags |= MAP_FIXED_NOREPLACE;
  void* p = mmap(address, size, PROT_READ | PROT_WRITE | PROT_EXEC, flags, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  if (address != nullptr && p != address) {
    munmap(p, size);
    return nullptr;
  }
  return p;
}

void releasePages(void* address, size_t size) { munmap(address, size == 0 ? kPageSize : size); }

int posixProtection(uint32_t protection) {
  switch (protection & 0xFF) {
    case kPageReadOnly: return PROT_READ;
    case kPageReadWrite:
    case kPageWriteCopy: return PROT_READ | PROT_WRITE;
    case kPageExecute: return PROT_EXEC;
    case kPageExecuteRead: return PROT_READ | PROT_EXEC;
    case kPageExecuteReadWrite:
    case kPageExecuteWriteCopy: return PROT_READ | PROT_WRITE | PROT_EXEC;
    default: return PROT_NONE;
  }
}

bool protectPages(void* address, size_t size, uint32_t protection, uint32_t* previous) {
  MemoryRegion region{};
  *previous = queryRegion(address, &region) ? region.protect : 0;
  uintptr_t begin = reinterpret_cast<uintptr_t>(address) & ~(kPageSize - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(address) + size + kPageSize - 1) & ~(kPageSize - 1);
  return mprotect(reinterpret_cast<void*>(begin), end - begin, posixProtection(protection)) == 0;
}

void flushCode(const void* address, size_t size) {
  char* begin = static_cast<char*>(const_cast<void*>(address));
  __builtin___clear_cache(begin, begin + size);
}

void debugOutput(const char* text) {
  // Natively the debugger output is standard error, kept quiet unless asked for.
  static const bool enabled = std::getenv("CORVANE_DEBUG_OUTPUT") != nullptr;
  if (enabled) std::fputs(text, stderr);
}

bool appendToFile(const wchar_t* path, const char* data, size_t length) {
  char narrow[PATH_MAX];
  if (!wideToNarrow(path, narrow, sizeof narrow)) return false;
  int fd = open(narrow, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ssize_t written = write(fd, data, length);
  close(fd);
  return written == static_cast<ssize_t>(length);
}

constexpr size_t kHashReadSize = 1048576;

bool hashFileSha256(const wchar_t* path, uint8_t digest[32]) {
  char narrow[PATH_MAX];
  if (!wideToNarrow(path, narrow, sizeof narrow)) return false;
  int fd = open(narrow, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  SystemSha256* hash = systemSha256Begin();
  auto* buffer = static_cast<unsigned char*>(std::calloc(1, kHashReadSize));
  bool result = false;
  if (hash != nullptr && buffer != nullptr) {
    for (;;) {
      ssize_t n = read(fd, buffer, kHashReadSize);
      if (n < 0) break;
      if (n == 0) {
        result = systemSha256Finish(hash, digest);
        hash = nullptr;
        break;
      }
      if (!systemSha256Update(hash, buffer, static_cast<size_t>(n))) break;
    }
  }
  std::free(buffer);
  if (hash != nullptr) systemSha256Finish(hash, nullptr);
  close(fd);
  return result;
}

struct PosixMapping {
  int fd;
};

void* createSharedMapping(const wchar_t* name, uint32_t size, uint32_t* error) {
  char narrow[256] = "/";
  // "Local\CorvaneTelemetry-42" -> "/Local_CorvaneTelemetry-42"
  if (!wideToNarrow(name, narrow + 1, sizeof narrow - 1)) {
    *error = EINVAL;
    return nullptr;
  }
  for (char* c = narrow + 1; *c; ++c)
    if (*c == '\\' || *c == '/') *c = '_';
  int fd = shm_open(narrow, O_RDWR | O_CREAT, 0600);
  if (fd < 0 || ftruncate(fd, size) != 0) {
    *error = static_cast<uint32_t>(errno);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  return new PosixMapping{fd};
}

void* mapSharedView(void* mapping, uint32_t size, uint32_t* error) {
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, static_cast<PosixMapping*>(mapping)->fd, 0);
  if (view == MAP_FAILED) {
    *error = static_cast<uint32_t>(errno);
    return nullptr;
  }
  return view;
}

void closeSharedMapping(void* mapping) {
  close(static_cast<PosixMapping*>(mapping)->fd);
  delete static_cast<PosixMapping*>(mapping);
}

int16_t keyState(int) { return 0; }

bool allocateThreadSlot(uint32_t* index) {
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) return false;
  *index = static_cast<uint32_t>(key);
  return true;
}

void* threadSlotValue(uint32_t index) { return pthread_getspecific(static_cast<pthread_key_t>(index)); }

bool setThreadSlotValue(uint32_t index, void* value) {
  return pthread_setspecific(static_cast<pthread_key_t>(index), value) == 0;
}

// Natively no thread runs host code that Corvane rewrites: the other threads are
// reported as none, and tests that need some put fakes in their place.
bool openOtherThreads(void**, uint32_t, uint32_t* count) {
  *count = 0;
  return true;
}
bool suspendThread(void*) { return false; }
void resumeThread(void*) {}
bool threadInstructionPointer(void*, uintptr_t*) { return false; }
bool setThreadInstructionPointer(void*, uintptr_t) { return false; }
void closeThread(void*) {}

constexpr PlatformOps kPosixPlatform = {
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
    readIniIntPosix,
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

const PlatformOps& defaultPlatform() { return kPosixPlatform; }

}  // namespace corvane::os
