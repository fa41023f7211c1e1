// Load-time entry and the install worker.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "camera/telemetry.h"
#include "platform/platform.h"

namespace corvane::bootstrap {

extern void* ownModule;
extern std::atomic<uint8_t> workerStarted;
extern void* telemetryMapping;
extern camera::TelemetryBlock* telemetryView;

constexpr uint32_t kProcessAttach = 1;

// The loader entry's work: records the module and starts the worker once.
bool dllAttach(void* module, uint32_t reason);
constexpr size_t kMappingNameCapacity = 96;
// "Local\CorvaneTelemetry-<process id in decimal>".
void formatTelemetryMappingName(uint32_t processId, wchar_t (&name)[kMappingNameCapacity]);

// The whole install sequence; runs once on its own thread.
uint32_t CORVANE_HOSTCALL installWorker(void* unused);

}  // namespace corvane::bootstrap
