// The per-frame write of the shared camera record (skipped without a block).
#pragma once
#include "camera/host_clock.h"

namespace corvane::camera {

void writeTelemetry(const void* destination, const void* source, const HostClock& clock, bool enabled, double alpha);

}  // namespace corvane::camera
