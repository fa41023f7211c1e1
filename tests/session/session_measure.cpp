#include "tests/session/session_measure.h"

#include <cmath>
#include <cstring>

void addPositionError(RowFigures& row, double error) {
  ++row.frames;
  row.positionErrorSum += error;
  row.positionErrorMax = std::fmax(row.positionErrorMax, error);
}

void addRotationError(RowFigures& row, double degrees) {
  row.rotationErrorSum += degrees;
  row.rotationErrorMax = std::fmax(row.rotationErrorMax, degrees);
}

void addStep(RowFigures& row, double presentedStep, double trueStep) {
  const double d = presentedStep - trueStep;
  row.judderSquares += d * d;
  ++row.judderSteps;
}

double meanPositionError(const RowFigures& row) { return row.frames ? row.positionErrorSum / row.frames : 0.0; }
double meanRotationError(const RowFigures& row) { return row.frames ? row.rotationErrorSum / row.frames : 0.0; }
double judderRms(const RowFigures& row) {
  return row.judderSteps ? std::sqrt(row.judderSquares / row.judderSteps) : 0.0;
}
double meanResidual(const RowFigures& row) { return row.frames ? row.residualSum / row.frames : 0.0; }

void clearCost(CostHistogram& histogram) { std::memset(&histogram, 0, sizeof histogram); }

double costBucketEdge(uint32_t index) {
  using H = CostHistogram;
  if (index < H::kFineBuckets) return static_cast<double>(index) * H::kBucketNs;
  return static_cast<double>(H::kFineBuckets) * H::kBucketNs +
         static_cast<double>(index - H::kFineBuckets) * H::kCoarseBucketNs;
}

void addCost(CostHistogram& histogram, double ns) {
  using H = CostHistogram;
  const double fineEnd = static_cast<double>(H::kFineBuckets) * H::kBucketNs;
  ns = std::fmax(ns, 0.0);
  const double bucket =
      ns < fineEnd ? std::floor(ns / H::kBucketNs) : H::kFineBuckets + std::floor((ns - fineEnd) / H::kCoarseBucketNs);
  const uint32_t index = bucket >= H::kBuckets - 1 ? H::kBuckets - 1 : static_cast<uint32_t>(bucket);
  ++histogram.counts[index];
  ++histogram.samples;
  histogram.sumNs += ns;
}

double costQuantile(const CostHistogram& histogram, double quantile) {
  if (histogram.samples == 0) return 0.0;
  // The smallest bucket whose running count reaches ceil(quantile * samples).
  uint64_t wanted = static_cast<uint64_t>(std::ceil(quantile * static_cast<double>(histogram.samples)));
  if (wanted == 0) wanted = 1;
  uint64_t seen = 0;
  for (uint32_t i = 0; i < CostHistogram::kBuckets; ++i) {
    seen += histogram.counts[i];
    if (seen >= wanted) return costBucketEdge(i);
  }
  return costBucketEdge(CostHistogram::kBuckets - 1);
}

RowFigures* summaryRow(SessionSummary& summary, const char* name) {
  for (size_t i = 0; i < summary.rowCount; ++i)
    if (std::strcmp(summary.rowNames[i], name) == 0) return &summary.rows[i];
  if (summary.rowCount == kMostRows || std::strlen(name) >= kNameLength || std::strchr(name, ' ') != nullptr)
    return nullptr;
  std::strcpy(summary.rowNames[summary.rowCount], name);
  summary.rows[summary.rowCount] = RowFigures{};
  return &summary.rows[summary.rowCount++];
}

const RowFigures* findRow(const SessionSummary& summary, const char* name) {
  for (size_t i = 0; i < summary.rowCount; ++i)
    if (std::strcmp(summary.rowNames[i], name) == 0) return &summary.rows[i];
  return nullptr;
}

void setCost(SessionSummary& summary, const char* name, const CostHistogram& histogram) {
  size_t i = 0;
  while (i < summary.costCount && std::strcmp(summary.costNames[i], name) != 0) ++i;
  if (i == kMostCosts || std::strlen(name) >= kNameLength) return;
  if (i == summary.costCount) std::strcpy(summary.costNames[summary.costCount++], name);
  summary.costSamples[i] = histogram.samples;
  summary.costMedianNs[i] = costQuantile(histogram, 0.5);
  summary.costP99Ns[i] = costQuantile(histogram, 0.99);
}

bool findCost(const SessionSummary& summary, const char* name, double* medianNs, double* p99Ns) {
  for (size_t i = 0; i < summary.costCount; ++i) {
    if (std::strcmp(summary.costNames[i], name) != 0) continue;
    *medianNs = summary.costMedianNs[i];
    *p99Ns = summary.costP99Ns[i];
    return true;
  }
  return false;
}

size_t probeIndex(const SessionSummary& summary, const char* name) {
  size_t i = 0;
  while (i < summary.probeCount && std::strcmp(summary.probeNames[i], name) != 0) ++i;
  return i;
}

void addProbes(SessionSummary& summary, const char* name, uint64_t calls, uint64_t items) {
  const size_t i = probeIndex(summary, name);
  if (i == kMostCosts || std::strlen(name) >= kNameLength || std::strchr(name, ' ') != nullptr) return;
  if (i == summary.probeCount) {
    std::strcpy(summary.probeNames[summary.probeCount++], name);
    summary.probeCalls[i] = summary.probeItems[i] = 0;
  }
  summary.probeCalls[i] += calls;
  summary.probeItems[i] += items;
}

bool findProbes(const SessionSummary& summary, const char* name, uint64_t* calls, uint64_t* items) {
  const size_t i = probeIndex(summary, name);
  if (i == summary.probeCount) return false;
  *calls = summary.probeCalls[i];
  *items = summary.probeItems[i];
  return true;
}

bool writeSummary(const SessionSummary& s, FILE* file) {
  bool ok = std::fprintf(file, "label %s\n", s.label) > 0;
  for (size_t i = 0; i < s.rowCount; ++i) {
    const RowFigures& r = s.rows[i];
    ok = ok && std::fprintf(file,
                            "row %s frames %llu pos_sum %.17g pos_max %.17g rot_sum %.17g rot_max %.17g "
                            "judder_sq %.17g judder_steps %llu residual_sum %.17g violations %llu\n",
                            s.rowNames[i], static_cast<unsigned long long>(r.frames), r.positionErrorSum,
                            r.positionErrorMax, r.rotationErrorSum, r.rotationErrorMax, r.judderSquares,
                            static_cast<unsigned long long>(r.judderSteps), r.residualSum,
                            static_cast<unsigned long long>(r.violations)) > 0;
  }
  for (size_t i = 0; i < s.costCount; ++i)
    ok = ok && std::fprintf(file, "cost %s samples %llu median_ns %.17g p99_ns %.17g\n", s.costNames[i],
                            static_cast<unsigned long long>(s.costSamples[i]), s.costMedianNs[i], s.costP99Ns[i]) > 0;
  for (size_t i = 0; i < s.probeCount; ++i)
    ok = ok && std::fprintf(file, "probes %s calls %llu items %llu\n", s.probeNames[i],
                            static_cast<unsigned long long>(s.probeCalls[i]),
                            static_cast<unsigned long long>(s.probeItems[i])) > 0;
  return ok;
}

bool readSummary(FILE* file, SessionSummary* summary) {
  SessionSummary& s = *summary;
  std::memset(&s, 0, sizeof s);
  char line[1024];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    char name[kNameLength + 1] = "";
    if (std::strncmp(line, "label ", 6) == 0) {
      if (std::sscanf(line, "label %31s", s.label) != 1) return false;
    } else if (std::strncmp(line, "row ", 4) == 0) {
      RowFigures r{};
      unsigned long long frames = 0, steps = 0, violations = 0;
      if (std::sscanf(line,
                      "row %32s frames %llu pos_sum %lf pos_max %lf rot_sum %lf rot_max %lf judder_sq %lf "
                      "judder_steps %llu residual_sum %lf violations %llu",
                      name, &frames, &r.positionErrorSum, &r.positionErrorMax, &r.rotationErrorSum, &r.rotationErrorMax,
                      &r.judderSquares, &steps, &r.residualSum, &violations) != 10)
        return false;
      r.frames = frames;
      r.judderSteps = steps;
      r.violations = violations;
      RowFigures* row = summaryRow(s, name);
      if (row == nullptr) return false;
      *row = r;
    } else if (std::strncmp(line, "cost ", 5) == 0) {
      unsigned long long samples = 0;
      double median = 0, p99 = 0;
      if (std::sscanf(line, "cost %32s samples %llu median_ns %lf p99_ns %lf", name, &samples, &median, &p99) != 4 ||
          s.costCount == kMostCosts || std::strlen(name) >= kNameLength)
        return false;
      std::strcpy(s.costNames[s.costCount], name);
      s.costSamples[s.costCount] = samples;
      s.costMedianNs[s.costCount] = median;
      s.costP99Ns[s.costCount++] = p99;
    } else if (std::strncmp(line, "probes ", 7) == 0) {
      unsigned long long calls = 0, items = 0;
      uint64_t seen[2];
      if (std::sscanf(line, "probes %32s calls %llu items %llu", name, &calls, &items) != 3 ||
          std::strlen(name) >= kNameLength || findProbes(s, name, &seen[0], &seen[1]) || s.probeCount == kMostCosts)
        return false;
      addProbes(s, name, calls, items);
    } else if (line[0] != '\n' && line[0] != '\r') {
      return false;
    }
  }
  return true;
}
