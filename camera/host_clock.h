// The host's frame clock: the record behind the clock pointer, with the time of
// the frame being presented and the time of the latest simulation state.
#pragma once
#include <cstdint>

struct HostClock {
  bool present;  // pointer set, record readable and of the clock class
  double presentationTime;
  double sampleTime;
};

// Reads the clock as the host holds it now; both times are 0.0 when absent.
HostClock readHostClock();

// Tests only: probe the next clock pointer again, as after load.
void forgetVerifiedClockForTests();
