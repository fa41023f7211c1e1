#include "camera/host_clock.h"

#include <cstring>

#include "bootstrap/host_interface.h"
#include "patch/readable.h"

namespace corvane::camera {

const uint8_t* verifiedClock = nullptr;

namespace {

bool isReadableClock(const uint8_t* record) {
  return patch::isReadableRange(record, sizeof(uint64_t)) &&
         patch::isReadableRange(record + bootstrap::kClockPresentationTimeOffset, sizeof(double)) &&
         patch::isReadableRange(record + bootstrap::kClockSampleTimeOffset, sizeof(double));
}

double readTime(const uint8_t* record, uint64_t offset) {
  double value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

}  // namespace

HostClock readHostClock() {
  HostClock clock{false, 0.0, 0.0};
  const uint8_t* record;
  std::memcpy(&record, bootstrap::hostAddress(bootstrap::kClockPointerRva), sizeof record);
  if (record == nullptr) return clock;
  if (record != verifiedClock) {
    if (!isReadableClock(record)) return clock;
    verifiedClock = record;
  }
  uint64_t identity;
  std::memcpy(&identity, record, sizeof identity);
  if (identity != reinterpret_cast<uint64_t>(bootstrap::hostBase + bootstrap::kClockClassRva)) return clock;
  clock.present = true;
  clock.presentationTime = readTime(record, bootstrap::kClockPresentationTimeOffset);
  clock.sampleTime = readTime(record, bootstrap::kClockSampleTimeOffset);
  return clock;
}

}  // namespace corvane::camera
