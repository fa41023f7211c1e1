// The reader's main loop: follows an opened block until a stop condition and
// writes CSV lines and/or the smoothness summary.
#pragma once
#include <csignal>
#include <cstdio>

#include "tools/telemetry-reader/reader_options.h"
#include "tools/telemetry-reader/telemetry_source.h"

// `csv`: where the CSV lines go, or null for none. `console`: the summary and
// the reader's own lines (with the summary off, only what it has to say at the
// end). Stops after --frames, --seconds, when `*interrupted` becomes non-zero,
// or when the game closes. Returns the exit code: 0, or 1 when the block never
// held a complete record or has a layout this reader does not know.
int followTelemetry(const TelemetrySource& source, const ReaderOptions& options, FILE* csv, FILE* console,
                    const volatile std::sig_atomic_t* interrupted);
