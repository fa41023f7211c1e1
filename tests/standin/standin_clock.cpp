#include "tests/standin/standin_clock.h"

#include <cstring>

#include "tests/standin/standin_host.h"

namespace {

uint8_t* at(uint64_t rva) { return standInHost.base + rva; }

void store64(uint8_t* to, uint64_t value) { std::memcpy(to, &value, sizeof value); }

int32_t load32(uint64_t rva) {
  int32_t value;
  std::memcpy(&value, at(rva), sizeof value);
  return value;
}

void store32(uint64_t rva, int32_t value) { std::memcpy(at(rva), &value, sizeof value); }

}  // namespace

uint8_t* startStandInClock() {
  uint8_t* record = at(kStandInClockRecordRva);
  store64(record, reinterpret_cast<uint64_t>(at(kStandInClockClassRva)));
  setStandInClockTimes(0.0, 0.0);
  store64(at(kStandInClockPointerRva), reinterpret_cast<uint64_t>(record));
  return record;
}

void stopStandInClock() { store64(at(kStandInClockPointerRva), 0); }

void setStandInClockTimes(double presentationTime, double sampleTime) {
  uint8_t* record = at(kStandInClockRecordRva);
  std::memcpy(record + kStandInPresentationTimeOffset, &presentationTime, sizeof presentationTime);
  std::memcpy(record + kStandInSampleTimeOffset, &sampleTime, sizeof sampleTime);
}

void setStandInConsoleValues(const StandInConsoleValues& values) {
  store32(kStandInFrameSpinningRva, values.frameSpinning);
  store32(kStandInTripleBufferingRva, values.tripleBuffering);
  store32(kStandInMouseFixRva, values.mouseFix);
}

StandInConsoleValues standInConsoleValues() {
  return {load32(kStandInFrameSpinningRva), load32(kStandInTripleBufferingRva), load32(kStandInMouseFixRva)};
}
