#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/telemetry-reader/telemetry_source.h"

OpenResult openTelemetrySource(uint32_t processId, TelemetrySource* source, char* detail, size_t capacity) {
  char name[64];
  std::snprintf(name, sizeof name, "/Local_CorvaneTelemetry-%lu", static_cast<unsigned long>(processId));
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
  return OpenResult::kOpened;
}

void closeTelemetrySource(TelemetrySource* source) {
  if (source->block != nullptr) munmap(const_cast<TelemetryBlock*>(source->block), kTelemetrySize);
  source->block = nullptr;
}
