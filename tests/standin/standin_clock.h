// The host's frame clock and console-variable values in the stand-in image.
#pragma once
#include <cstddef>
#include <cstdint>

// The clock pointer, the clock class identity and the clock's two times.
constexpr uint64_t kStandInClockPointerRva = 0x288D608;
constexpr uint64_t kStandInClockClassRva = 0x1F02138;
constexpr uint64_t kStandInPresentationTimeOffset = 0x2E7490;
constexpr uint64_t kStandInSampleTimeOffset = 0x2E74E0;
constexpr size_t kStandInClockRecordBytes = kStandInSampleTimeOffset + sizeof(double);
// The clock record itself lives in a gap of the image that no host address
// uses (between the view-copy call site and the model class identities), so
// it needs no allocation of its own on either build.
constexpr uint64_t kStandInClockRecordRva = 0x1000000;

// Console-variable values (32-bit integers).
constexpr uint64_t kStandInFrameSpinningRva = 0x288E958;    // com_disableFrameSpinning
constexpr uint64_t kStandInTripleBufferingRva = 0x359E228;  // Triple Buffering
constexpr uint64_t kStandInMouseFixRva = 0x3BF2FA8;         // g_fixMouseSensibility

// Writes the clock record (its class identity, both times 0) and points the
// clock pointer at it. Returns the record.
uint8_t* startStandInClock();
// Clears the clock pointer: the host has no clock record.
void stopStandInClock();
void setStandInClockTimes(double presentationTime, double sampleTime);

struct StandInConsoleValues {
  int32_t frameSpinning;
  int32_t tripleBuffering;
  int32_t mouseFix;
};
void setStandInConsoleValues(const StandInConsoleValues& values);
StandInConsoleValues standInConsoleValues();
