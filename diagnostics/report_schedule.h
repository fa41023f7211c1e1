// When the periodic reports are due: each kind keeps the serial of its next
// report, first at 600, then 1200 serials after the frame that wrote one.
#pragma once
#include <atomic>
#include <cstdint>

#include "camera/frame_state.h"

namespace corvane::diagnostics {

using camera::PresentationFrame;

extern std::atomic<uint64_t> nextWorldReport;
extern std::atomic<uint64_t> nextSkeletalReport;

// True for the one caller that claims this frame's report of the kind; only
// frames with valid times can be due.
bool claimReport(std::atomic<uint64_t>& next, const PresentationFrame& frame);

}  // namespace corvane::diagnostics
