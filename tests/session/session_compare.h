// The side-by-side table of a session without Corvane and the same session
// with it, and the bounds the figures must meet.
#pragma once
#include <cstdio>

#include "tests/session/session_measure.h"

// Relative share of the "line" world models' error that may differ from the
// residual the extrapolation cap leaves.
constexpr double kResidualTolerance = 0.02;
// Least reduction of the presentation error on constant-velocity paths.
constexpr double kLeastReduction = 0.95;
// One presented frame at 240 Hz, the budget the hook cost is compared with.
constexpr double kFrameBudgetNs = 1e9 / 240.0;

// 1 - with / without; 0 when there was no error to reduce.
double reduction(double without, double with);

// Prints the table and one line per bound (PASS/FAIL, or "reported" for rows
// without a bound) to `out`; returns the number of bounds not met. A bounded
// row missing from either summary counts as not met (only the camera cut is
// bounded just when the session had one).
int compareSessions(const SessionSummary& without, const SessionSummary& with, FILE* out);
