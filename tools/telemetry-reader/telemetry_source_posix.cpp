#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "tools/telemetry-reader/telemetry_source.h"

using corvane::camera::kTelemetrySize;

const char kGameExecutable[] = "Dishonored2.exe";

namespace {

void blockName(uint32_t processId, char* name, size_t capacity) {
  std::snprintf(name, capacity, "/Local_CorvaneTelemetry-%lu", static_cast<unsigned long>(processId));
}

}  // namespace

OpenResult openTelemetrySource(uint32_t processId, TelemetrySource* source, char* detail, size_t capacity) {
  char name[64];
  blockName(processId, name, sizeof name);
  const int fd = shm_open(name, O_RDONLY, 0);
  if (fd < 0) {
    if (errno == ENOENT) return OpenResult::kNoSuchBlock;
    std::snprintf(detail, capacity, "shm_open %s: %s", name, std::strerror(errno));
    return OpenResult::kFailed;
  }
  void* view = mmap(nullptr, kTelemetrySize, PROT_READ, MAP_SHARED, fd, 0);
  const int mapError = errno;
  close(fd);
  if (view == MAP_FAILED) {
    std::snprintf(detail, capacity, "mmap %s: %s", name, std::strerror(mapError));
    return OpenResult::kFailed;
  }
  source->block = static_cast<const TelemetryBlock*>(view);
  source->handle = nullptr;
  source->process = nullptr;
  source->processId = processId;
  return OpenResult::kOpened;
}

void closeTelemetrySource(TelemetrySource* source) {
  if (source->block != nullptr) munmap(const_cast<TelemetryBlock*>(source->block), kTelemetrySize);
  source->block = nullptr;
}

// Here the block's name stands for the game: it goes when the game removes it.
bool telemetryGameRunning(const TelemetrySource& source) {
  char name[64];
  blockName(source.processId, name, sizeof name);
  const int fd = shm_open(name, O_RDONLY, 0);
  if (fd < 0) return errno != ENOENT;
  close(fd);
  return true;
}

// A game under Wine shows its executable's name as the process name.
bool findGameProcess(uint32_t* processId, bool* several) {
  *several = false;
  bool found = false;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
    if (*end != 0 || pid == 0 || pid > UINT32_MAX) continue;
    char path[64], comm[64] = "";
    std::snprintf(path, sizeof path, "/proc/%lu/comm", pid);
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) continue;
    const bool read = std::fgets(comm, sizeof comm, file) != nullptr;
    std::fclose(file);
    if (!read) continue;
    comm[std::strcspn(comm, "\n")] = 0;
    if (strcasecmp(comm, kGameExecutable) != 0) continue;
    if (found) {
      *several = true;
      break;
    }
    *processId = static_cast<uint32_t>(pid);
    found = true;
  }
  closedir(proc);
  return found;
}
