// The per-frame write of the shared camera record (skipped without a block).
#pragma once
#include "camera/host_clock.h"

void writeTelemetry(const void* destination, const void* source, const HostClock& clock, bool enabled,
                    double alpha);
