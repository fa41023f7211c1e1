// The CSV form of one telemetry record.
#pragma once
#include <cstddef>

#include "camera/telemetry.h"

using corvane::camera::TelemetryBlock;

extern const char kTelemetryCsvHeader[];
// One line without its line end; false if it does not fit.
bool formatTelemetryCsv(const TelemetryBlock& record, char* line, size_t capacity);
