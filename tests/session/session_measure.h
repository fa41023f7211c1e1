// What a session measured, row by row (an object kind in one kind of motion),
// and the per-frame cost of each hook; written to and read from a small text
// summary so that a session without Corvane and one with it can be compared.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Per-frame figures of one row.
struct RowFigures {
  uint64_t frames;
  double positionErrorSum;  // |presented - truth at presentationTime|
  double positionErrorMax;
  double rotationErrorSum;  // degrees
  double rotationErrorMax;
  double judderSquares;  // (presented step - true step)^2, frame to frame
  uint64_t judderSteps;
  double residualSum;   // what the design leaves: speed x lead beyond the extrapolation cap
  uint64_t violations;  // frames that broke a never-rule (streak across a jump, refused not as drawn)
};

void addPositionError(RowFigures& row, double error);
void addRotationError(RowFigures& row, double degrees);
void addStep(RowFigures& row, double presentedStep, double trueStep);
double meanPositionError(const RowFigures& row);
double meanRotationError(const RowFigures& row);
double judderRms(const RowFigures& row);
double meanResidual(const RowFigures& row);

// Times of one hook per frame, in nanoseconds, kept as a histogram of fixed
// size so that a run of any length takes the same memory: 10 ns buckets up to
// 2 ms, then 1 us buckets up to 202 ms; longer frames land in the last bucket.
struct CostHistogram {
  static constexpr uint32_t kBucketNs = 10;
  static constexpr uint32_t kFineBuckets = 200000;
  static constexpr uint32_t kCoarseBucketNs = 1000;
  static constexpr uint32_t kCoarseBuckets = 200000;
  static constexpr uint32_t kBuckets = kFineBuckets + kCoarseBuckets;
  uint32_t counts[kBuckets];
  uint64_t samples;
  double sumNs;
};
// The lower edge of bucket `index`, in nanoseconds.
double costBucketEdge(uint32_t index);
void clearCost(CostHistogram& histogram);
void addCost(CostHistogram& histogram, double ns);
// The value below which `quantile` of the samples lie, to the bucket (its lower edge).
double costQuantile(const CostHistogram& histogram, double quantile);

// One session's summary, as written by writeSummary.
constexpr size_t kMostRows = 32;
constexpr size_t kMostCosts = 12;
constexpr size_t kNameLength = 32;
struct SessionSummary {
  char label[kNameLength];
  size_t rowCount;
  char rowNames[kMostRows][kNameLength];
  RowFigures rows[kMostRows];
  size_t costCount;
  char costNames[kMostCosts][kNameLength];
  uint64_t costSamples[kMostCosts];
  double costMedianNs[kMostCosts];
  double costP99Ns[kMostCosts];
  // Address probes (VirtualQuery calls by corvane.dll) per kind of call:
  // the calls made and the items they were made for, over the whole session.
  size_t probeCount;
  char probeNames[kMostCosts][kNameLength];
  uint64_t probeCalls[kMostCosts];
  uint64_t probeItems[kMostCosts];
};

// The row of that name, added (zeroed) when new; null when the summary is full.
RowFigures* summaryRow(SessionSummary& summary, const char* name);
const RowFigures* findRow(const SessionSummary& summary, const char* name);
void setCost(SessionSummary& summary, const char* name, const CostHistogram& histogram);
bool findCost(const SessionSummary& summary, const char* name, double* medianNs, double* p99Ns);
void addProbes(SessionSummary& summary, const char* name, uint64_t calls, uint64_t items);
bool findProbes(const SessionSummary& summary, const char* name, uint64_t* calls, uint64_t* items);

bool writeSummary(const SessionSummary& summary, FILE* file);
bool readSummary(FILE* file, SessionSummary* summary);
