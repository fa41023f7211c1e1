#include "tools/telemetry-reader/telemetry_summary.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

SummaryFigures emptyFigures() {
  SummaryFigures f{};
  f.alphaLow = INFINITY;
  f.alphaHigh = -INFINITY;
  return f;
}

// Applies one change to both the interval and the whole run.
template <typename Change>
void tally(SummaryState* s, Change change) {
  change(s->interval);
  change(s->whole);
}

double originStep(const float* from, const float* to) {
  double sum = 0.0;
  for (int i = 0; i < 3; ++i) {
    const double d = static_cast<double>(to[i]) - static_cast<double>(from[i]);
    sum += d * d;
  }
  return std::sqrt(sum);
}

bool poseMoved(const float* fromOrigin, const float* fromAxes, const float* toOrigin, const float* toAxes) {
  return std::memcmp(fromOrigin, toOrigin, 3 * sizeof(float)) != 0 ||
         std::memcmp(fromAxes, toAxes, 9 * sizeof(float)) != 0;
}

// Adds one measured step to the current run; once the run holds a full window,
// the step at its centre is compared with the window's mean.
void addStep(SummaryState* s, double source, double presented) {
  const uint32_t slot = s->runLength % kSummaryWindow;
  s->sourceSteps[slot] = source;
  s->presentedSteps[slot] = presented;
  ++s->runLength;
  if (s->runLength < kSummaryWindow) return;
  double sourceMean = 0.0, presentedMean = 0.0;
  for (uint32_t i = 0; i < kSummaryWindow; ++i) {
    sourceMean += s->sourceSteps[i];
    presentedMean += s->presentedSteps[i];
  }
  sourceMean /= kSummaryWindow;
  presentedMean /= kSummaryWindow;
  const uint32_t centre = (s->runLength - 1 - kSummaryHalfWindow) % kSummaryWindow;
  const double ds = s->sourceSteps[centre] - sourceMean, dp = s->presentedSteps[centre] - presentedMean;
  tally(s, [&](SummaryFigures& f) {
    ++f.irregularSteps;
    f.irregularSource += ds * ds;
    f.irregularPresented += dp * dp;
  });
}

bool finiteTimes(const TelemetryBlock& r) { return std::isfinite(r.presentationTime) && std::isfinite(r.sampleTime); }

bool clockAdvances(const TelemetryBlock& prev, const TelemetryBlock& cur) {
  return finiteTimes(prev) && finiteTimes(cur) && cur.presentationTime > prev.presentationTime &&
         cur.sampleTime >= prev.sampleTime;
}

// The game's rates, from every pair of frames read whose clock advanced, with
// the frames the reader missed between them: the sequence tells how many were
// presented, and the sample time how many samples arrived (one per sample
// interval seen last, at least one when it changed).
uint64_t countRates(SummaryState* s, const TelemetryBlock& prev, const TelemetryBlock& cur, uint64_t presented) {
  const double sampleStep = cur.sampleTime - prev.sampleTime;
  uint64_t samples = sampleStep > 0.0 ? 1 : 0;
  if (presented == 1 && sampleStep > 0.0) s->sampleInterval = sampleStep;
  if (presented > 1 && sampleStep > 0.0 && s->sampleInterval > 0.0)
    samples = static_cast<uint64_t>(std::fmax(1.0, std::round(sampleStep / s->sampleInterval)));
  tally(s, [&](SummaryFigures& f) {
    f.frames += presented;
    f.clockSeconds += cur.presentationTime - prev.presentationTime;
    f.samples += samples;
  });
  return samples;
}

void judgePair(SummaryState* s, const TelemetryBlock& prev, const TelemetryBlock& cur) {
  if (cur.enabled == 0) {
    tally(s, [](SummaryFigures& f) { ++f.f10Off; });
    s->runLength = 0;
  }
  if (!clockAdvances(prev, cur)) {
    if (cur.enabled != 0) tally(s, [](SummaryFigures& f) { ++f.badClock; });
    s->runLength = 0;
    s->tickMoved = -1;
    return;
  }
  const bool sampleChanged = cur.sampleTime != prev.sampleTime;
  const bool sourceMoved = poseMoved(prev.sourceOrigin, prev.sourceAxes, cur.sourceOrigin, cur.sourceAxes);
  const bool presentedMoved = poseMoved(prev.outputOrigin, prev.outputAxes, cur.outputOrigin, cur.outputAxes);
  const double sourceStep = originStep(prev.sourceOrigin, cur.sourceOrigin);
  const double presentedStep = originStep(prev.outputOrigin, cur.outputOrigin);

  bool cutNow = false;
  if (sampleChanged) {
    if (s->cutSamplesLeft > 0) --s->cutSamplesLeft;
    if (sourceMoved && s->lastTickStep > 0.0 && sourceStep > kSummaryCutFactor * s->lastTickStep) {
      cutNow = true;
      // The cut, then the frames until the game has two samples after it,
      // which the camera needs to carry again.
      s->cutSamplesLeft = 2;
    } else if (sourceStep > 0.0) {
      s->lastTickStep = sourceStep;
    }
    s->tickMoved = sourceMoved ? 1 : 0;
  }
  if (cur.enabled == 0) return;
  if (cutNow || s->cutSamplesLeft > 0) {
    tally(s, [](SummaryFigures& f) { ++f.cut; });
    s->runLength = 0;
    return;
  }
  if (s->tickMoved != 1 && !sourceMoved && !presentedMoved) {
    tally(s, [](SummaryFigures& f) { ++f.still; });
    s->runLength = 0;
    return;
  }
  const bool carried = !std::isnan(cur.alpha);
  tally(s, [&](SummaryFigures& f) {
    ++f.measured;
    f.repeatedSource += !sourceMoved;
    f.repeatedPresented += !presentedMoved;
    if (carried) {
      ++f.interpolated;
      f.alphaLow = std::fmin(f.alphaLow, cur.alpha);
      f.alphaHigh = std::fmax(f.alphaHigh, cur.alpha);
    }
  });
  addStep(s, sourceStep, presentedStep);
}

double percent(uint64_t part, uint64_t whole) { return whole ? 100.0 * static_cast<double>(part) / whole : 0.0; }

}  // namespace

void startSummary(SummaryState* state) {
  std::memset(state, 0, sizeof *state);
  state->tickMoved = -1;
  state->interval = state->whole = emptyFigures();
}

void addSummaryFrame(SummaryState* s, const TelemetryBlock& frame) {
  if (s->havePrevious) {
    const uint64_t presented = (frame.sequence - s->previous.sequence) / 2;
    const uint64_t samples = frame.sequence > s->previous.sequence && clockAdvances(s->previous, frame)
                                 ? countRates(s, s->previous, frame, presented)
                                 : 0;
    if (frame.sequence > s->previous.sequence && presented == 1) {
      judgePair(s, s->previous, frame);
    } else {
      // Frames the reader did not see (or a block written anew): no pair, and
      // whether the game's last sample moved the camera is not known.
      if (frame.sequence > s->previous.sequence) tally(s, [&](SummaryFigures& f) { f.missed += presented - 1; });
      s->runLength = 0;
      s->tickMoved = -1;
      // A cut among the frames missed still needs its two samples.
      if (samples > 0 && s->lastTickStep > 0.0 &&
          originStep(s->previous.sourceOrigin, frame.sourceOrigin) > kSummaryCutFactor * s->lastTickStep * samples)
        s->cutSamplesLeft = 2;
    }
  }
  s->previous = frame;
  s->havePrevious = true;
}

SummaryFigures takeSummaryInterval(SummaryState* state) {
  const SummaryFigures taken = state->interval;
  state->interval = emptyFigures();
  return taken;
}

double summaryIrregularity(uint64_t steps, double squares) {
  return steps ? std::sqrt(squares / static_cast<double>(steps)) : 0.0;
}

bool formatSummaryLine(const SummaryFigures& f, char* line, size_t capacity) {
  size_t used = 0;
  bool fits = true;
  auto add = [&](const char* format, auto... values) {
    if (!fits) return;
    const int n = std::snprintf(line + used, capacity - used, format, values...);
    if (n < 0 || static_cast<size_t>(n) >= capacity - used) fits = false;
    else used += static_cast<size_t>(n);
  };
  if (capacity == 0) return false;
  line[0] = 0;
  if (f.frames == 0) {
    add("no frames with a running clock");
  } else {
    add("%.1f fps presented | %.1f Hz simulated", f.frames / f.clockSeconds, f.samples / f.clockSeconds);
    if (f.measured == 0) {
      add(" | camera: nothing measured");
    } else {
      add(" | interpolated %.1f%%", percent(f.interpolated, f.measured));
      if (f.interpolated) add(" (alpha %.2f..%.2f)", f.alphaLow, f.alphaHigh);
      add(" | camera: repeated frames %.1f%% -> %.1f%%", percent(f.repeatedSource, f.measured),
          percent(f.repeatedPresented, f.measured));
      if (f.irregularSteps) {
        const double source = summaryIrregularity(f.irregularSteps, f.irregularSource);
        const double presented = summaryIrregularity(f.irregularSteps, f.irregularPresented);
        add(", step irregularity %.5f -> %.5f", source, presented);
        if (source > 0.0) add(" (%+.1f%%)", 100.0 * (presented - source) / source);
      }
    }
  }
  const uint64_t apart[5] = {f.f10Off, f.badClock, f.still, f.cut, f.missed};
  const char* const names[5] = {"F10 off", "clock invalid or not advancing", "camera still", "after a cut",
                                "missed by the reader"};
  bool first = true;
  for (int i = 0; i < 5; ++i) {
    if (apart[i] == 0) continue;
    add(first ? " | not measured: %llu %s" : ", %llu %s", static_cast<unsigned long long>(apart[i]), names[i]);
    first = false;
  }
  return fits;
}
