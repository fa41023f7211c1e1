#include "tools/telemetry-reader/telemetry_csv.h"

#include <charconv>
#include <cmath>
#include <cstdio>

const char kTelemetryCsvHeader[] =
    "sequence,enabled,modified,presentationTime,sampleTime,alpha,sourceX,sourceY,sourceZ,outputX,outputY,outputZ";

namespace {

// Numbers spelled the same on every C runtime: the shortest text that reads
// back as the same value, and nan/inf/-inf.
template <typename T>
int number(char* out, size_t capacity, T value) {
  if (std::isnan(value)) return std::snprintf(out, capacity, "nan");
  if (std::isinf(value)) return std::snprintf(out, capacity, value > 0 ? "inf" : "-inf");
  const std::to_chars_result r = std::to_chars(out, out + capacity, value);
  if (r.ec != std::errc() || r.ptr == out + capacity) return -1;
  *r.ptr = 0;
  return static_cast<int>(r.ptr - out);
}

}  // namespace

bool formatTelemetryCsv(const TelemetryBlock& r, char* line, size_t capacity) {
  size_t used = 0;
  auto advance = [&](int written) {
    if (written < 0 || static_cast<size_t>(written) >= capacity - used) return false;
    used += static_cast<size_t>(written);
    return true;
  };
  if (!advance(std::snprintf(line, capacity, "%llu,%u,%u", static_cast<unsigned long long>(r.sequence), r.enabled,
                             r.modified)))
    return false;
  const double times[3] = {r.presentationTime, r.sampleTime, r.alpha};
  for (double t : times)
    if (!advance(std::snprintf(line + used, capacity - used, ",")) || !advance(number(line + used, capacity - used, t)))
      return false;
  const float* origins[2] = {r.sourceOrigin, r.outputOrigin};
  for (const float* origin : origins)
    for (int i = 0; i < 3; ++i)
      if (!advance(std::snprintf(line + used, capacity - used, ",")) ||
          !advance(number(line + used, capacity - used, origin[i])))
        return false;
  return true;
}
