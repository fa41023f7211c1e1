// Read-only access to the telemetry block of another process.
#pragma once
#include <cstddef>
#include <cstdint>

#include "camera/telemetry.h"

using corvane::camera::TelemetryBlock;

enum class OpenResult { kOpened, kNoSuchBlock, kFailed };

struct TelemetrySource {
  const TelemetryBlock* block;
  void* handle;
  void* process;  // what tells whether the game still runs; may be null
  uint32_t processId;
};

// "Local\CorvaneTelemetry-<pid>" on Windows, "/Local_CorvaneTelemetry-<pid>"
// as shared memory elsewhere. On kFailed, `detail` holds a reason.
OpenResult openTelemetrySource(uint32_t processId, TelemetrySource* source, char* detail, size_t capacity);
void closeTelemetrySource(TelemetrySource* source);
// False once the game has closed (its process ended, or its block is gone).
bool telemetryGameRunning(const TelemetrySource& source);

// The game's executable name, and the first running process of that name:
// false when there is none. `several` tells whether there are more.
extern const char kGameExecutable[];
bool findGameProcess(uint32_t* processId, bool* several);
