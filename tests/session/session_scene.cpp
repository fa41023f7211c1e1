#include "tests/session/session_scene.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Longest key or value the description accepts.
constexpr size_t kFieldLength = 64;

bool readUnsigned(const char* value, uint64_t* out) {
  if (*value == 0 || *value == '-') return false;
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(value, &end, 10);
  if (*end != 0) return false;
  *out = parsed;
  return true;
}

bool readNumber(const char* value, double* out) {
  char* end = nullptr;
  const double parsed = std::strtod(value, &end);
  if (*value == 0 || *end != 0 || !std::isfinite(parsed)) return false;
  *out = parsed;
  return true;
}

void trim(char* text) {
  size_t length = std::strlen(text);
  while (length > 0 && std::isspace(static_cast<unsigned char>(text[length - 1]))) text[--length] = 0;
  size_t start = 0;
  while (std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  std::memmove(text, text + start, length - start + 1);
}

bool fits32(uint64_t value) { return value <= 0xFFFFFFFFull; }

// splitmix64: a well-mixed 64-bit value per frame, independent of call order.
uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

bool parseSessionScene(const char* text, SessionScene* scene, char* error, size_t capacity) {
  SessionScene s;
  double seconds = -1.0;
  uint64_t frames = 0;
  int lineNumber = 0;
  for (const char* line = text; line != nullptr && *line != 0;) {
    ++lineNumber;
    const char* end = std::strchr(line, '\n');
    const size_t length = end != nullptr ? static_cast<size_t>(end - line) : std::strlen(line);
    char buffer[2 * kFieldLength + 8];
    const size_t kept = length < sizeof buffer - 1 ? length : sizeof buffer - 1;
    std::memcpy(buffer, line, kept);
    buffer[kept] = 0;
    line = end != nullptr ? end + 1 : nullptr;
    if (char* comment = std::strchr(buffer, '#')) *comment = 0;
    trim(buffer);
    if (buffer[0] == 0) continue;
    char* equals = std::strchr(buffer, '=');
    bool good = equals != nullptr && length < sizeof buffer - 1;
    if (good) {
      *equals = 0;
      char* key = buffer;
      char* value = equals + 1;
      trim(key);
      trim(value);
      uint64_t u = 0;
      if (std::strcmp(key, "simulation_hz") == 0)
        good = readUnsigned(value, &u) && u > 0 && fits32(u), s.simulationHz = static_cast<uint32_t>(u);
      else if (std::strcmp(key, "presentation_hz") == 0)
        good = readUnsigned(value, &u) && u > 0 && fits32(u), s.presentationHz = static_cast<uint32_t>(u);
      else if (std::strcmp(key, "jitter") == 0)
        good = readNumber(value, &s.jitter) && s.jitter >= 0.0 && s.jitter < 1.0;
      else if (std::strcmp(key, "seconds") == 0) good = readNumber(value, &seconds) && seconds > 0.0;
      else if (std::strcmp(key, "frames") == 0) good = readUnsigned(value, &frames) && frames > 0;
      else if (std::strcmp(key, "world_models") == 0)
        good = readUnsigned(value, &u) && fits32(u), s.worldModels = static_cast<uint32_t>(u);
      else if (std::strcmp(key, "skinned") == 0)
        good = readUnsigned(value, &u) && fits32(u), s.skinned = static_cast<uint32_t>(u);
      else if (std::strcmp(key, "joints") == 0)
        good = readUnsigned(value, &u) && u > 0 && fits32(u), s.joints = static_cast<uint32_t>(u);
      else if (std::strcmp(key, "casters") == 0)
        good = readUnsigned(value, &u) && fits32(u), s.casters = static_cast<uint32_t>(u);
      else if (std::strcmp(key, "threads") == 0)
        good = readUnsigned(value, &u) && u > 0 && u <= 16, s.threads = static_cast<uint32_t>(u);
      else if (std::strcmp(key, "hands") == 0)
        good = readUnsigned(value, &u) && u <= 16, s.hands = static_cast<uint32_t>(u);
      else if (std::strcmp(key, "churn_every") == 0) good = readUnsigned(value, &s.churnEvery);
      else if (std::strcmp(key, "still") == 0) good = readNumber(value, &s.still) && s.still >= 0.0 && s.still <= 1.0;
      else if (std::strcmp(key, "heap_regions") == 0)
        good = readUnsigned(value, &u) && u <= 64, s.heapRegions = static_cast<uint32_t>(u);
      else if (std::strcmp(key, "seed") == 0) good = readUnsigned(value, &s.seed);
      else if (std::strcmp(key, "report_every") == 0) good = readUnsigned(value, &s.reportEvery);
      else good = false;
    }
    if (!good) {
      std::snprintf(error, capacity, "line %d is not a known key = valid value", lineNumber);
      return false;
    }
  }
  if (frames != 0 && seconds > 0.0) {
    std::snprintf(error, capacity, "give seconds or frames, not both");
    return false;
  }
  if (frames != 0) s.frames = frames;
  else if (seconds > 0.0) s.frames = static_cast<uint64_t>(std::llround(seconds * s.presentationHz));
  else s.frames = 6ull * s.presentationHz;
  *scene = s;
  return true;
}

SessionFrame sessionFrame(const SessionScene& scene, uint64_t frame) {
  SessionFrame f{};
  f.frame = frame;
  if (scene.jitter == 0.0) {
    // Integer division keeps the latest tick exact.
    f.tick = frame * scene.simulationHz / scene.presentationHz;
    f.presentationTime = kSessionStartTime + static_cast<double>(frame) / scene.presentationHz;
  } else {
    const double unit = static_cast<double>(mix(scene.seed * 0x100000001B3ull ^ frame) >> 11) * 0x1.0p-53;  // [0, 1)
    double offset = static_cast<double>(frame) + (unit - 0.5) * scene.jitter;
    if (offset < 0.0) offset = 0.0;
    const double elapsed = offset / scene.presentationHz;
    f.tick = static_cast<uint64_t>(std::floor(elapsed * scene.simulationHz));
    f.presentationTime = kSessionStartTime + elapsed;
  }
  f.sampleTime = kSessionStartTime + static_cast<double>(f.tick) / scene.simulationHz;
  return f;
}
