// Read-only access to the telemetry block of another process.
#pragma once
#include <cstddef>
#include <cstdint>

#include "camera/telemetry.h"

enum class OpenResult { kOpened, kNoSuchBlock, kFailed };

struct TelemetrySource {
  const TelemetryBlock* block;
  void* handle;
};

// "Local\CorvaneTelemetry-<pid>" on Windows, "/Local_CorvaneTelemetry-<pid>"
// as shared memory elsewhere. On kFailed, `detail` holds a reason.
OpenResult openTelemetrySource(uint32_t processId, TelemetrySource* source, char* detail, size_t capacity);
void closeTelemetrySource(TelemetrySource* source);
