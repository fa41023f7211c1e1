// The smoothness summary of corvane-telemetry-reader: what the presented frames
// of the telemetry block show about the game's pacing and the camera's steps,
// the game's own camera (source) against the camera as presented.
//
// The rates count every presented frame, on the game's clock. The camera is
// judged in pairs of consecutive presented frames (sequence +2).
// A pair is measured when F10 is on, both clock times are valid and advance,
// the camera is moving, and no cut lies within the last two game samples;
// otherwise it is counted apart under its reason.
//
// Step irregularity: the per-frame camera step is the distance the camera
// origin moved since the previous presented frame. For every measured frame
// with a full run of measured frames around it, its step is compared with the
// local mean step (the mean of the kSummaryHalfWindow steps on either side and
// its own); the irregularity is the root mean square of those differences, in
// the game's distance units per frame. It is the simulated session's judder
// (RMS of presented step minus true step) with the local mean standing in for
// the true step, which the reader cannot know. 0 is an even motion.
#pragma once
#include <cstddef>
#include <cstdint>

#include "camera/telemetry.h"

using corvane::camera::TelemetryBlock;

constexpr uint32_t kSummaryHalfWindow = 12;
constexpr uint32_t kSummaryWindow = 2 * kSummaryHalfWindow + 1;
// A game sample whose camera step exceeds this multiple of the previous
// moving sample's step is a cut (a teleport, a cinematic, a load).
constexpr double kSummaryCutFactor = 8.0;

struct SummaryFigures {
  uint64_t frames;        // presented frames between reads whose clock advanced
  double clockSeconds;    // the presentation time they took, summed
  uint64_t samples;       // new game samples in that time
  uint64_t measured;      // pairs in the camera figures
  uint64_t interpolated;  // measured frames the camera carried (alpha not nan)
  double alphaLow, alphaHigh;
  uint64_t repeatedSource, repeatedPresented;  // measured frames whose camera did not move
  uint64_t irregularSteps;                     // steps compared with their local mean
  double irregularSource, irregularPresented;  // sums of squared differences
  // Counted apart.
  uint64_t f10Off, badClock, still, cut, missed;
};

struct SummaryState {
  bool havePrevious;
  TelemetryBlock previous;
  int tickMoved;          // did the game's last sample move the camera: -1 unknown, 0, 1
  double lastTickStep;    // the source step of the last moving sample; 0: none
  double sampleInterval;  // the last sample-time step between consecutive frames
  int cutSamplesLeft;     // samples still to come before a cut is over
  uint32_t runLength;     // measured steps in the current run
  double sourceSteps[kSummaryWindow], presentedSteps[kSummaryWindow];
  SummaryFigures interval, whole;
};

void startSummary(SummaryState* state);
// One new frame as read from the block, in the order read.
void addSummaryFrame(SummaryState* state, const TelemetryBlock& frame);
// The figures since the last call (or the start), and a fresh interval.
SummaryFigures takeSummaryInterval(SummaryState* state);

// One line without its line end; false if it does not fit.
bool formatSummaryLine(const SummaryFigures& figures, char* line, size_t capacity);
double summaryIrregularity(uint64_t steps, double squares);
