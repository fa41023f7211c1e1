// A stand-in for the parts of the host the camera path reads: an image at
// `hostBase` with the clock pointer and console variables at their RVAs, a
// clock record of its own allocation, view records, the host's view-copy
// function behind `hostViewCopy` and a key state the test sets.
#pragma once
#include <cstdint>

#include "math/types.h"

constexpr uint64_t kFakeImageSize = 0x3C00000;
constexpr uint64_t kFakeClockRecordSize = 0x2E8000;
constexpr uint64_t kFakeViewSize = 0xF0;

struct FakeView {
  alignas(16) uint8_t bytes[kFakeViewSize];
};

// Maps the image and the clock record once per process, points `hostBase`,
// `hostViewCopy` and `platform.keyState` at them, installs a present clock with
// both times 0, and leaves the F10 key up.
void installCameraHost();

void setClockTimes(double presentationTime, double sampleTime);
void setClockPointer(const void* record);  // null: no clock record
void useOwnClock();                        // the valid clock record again
void setClockIdentity(uint64_t identity);  // first 8 bytes of the clock record
uint64_t validClockIdentity();
uint8_t* clockRecord();

void setF10Down(bool down);
int32_t& hostConsoleValue(uint64_t rva);

// Writes origin (both copies) and axes of a view record.
void setViewPose(FakeView& view, const float origin[3], const float axes[9]);
void readViewPose(const FakeView& view, float origin[3], float axes[9]);

// What the stand-in view-copy function saw last, and how often it ran.
struct ViewCopyCall {
  void* destination;
  void* source;
  uint64_t a3;
  uint64_t a4;
};
extern ViewCopyCall lastViewCopyCall;
extern uint64_t viewCopyCalls;
// The stand-in's result for these arguments.
uint64_t expectedViewCopyResult(void* destination, uint64_t a3, uint64_t a4);

// Axes of a turn by `degrees` about the vertical axis (z), as the host stores
// them: three axis vectors, each a column of the camera's world matrix.
void yawAxes(double degrees, float axes[9]);
