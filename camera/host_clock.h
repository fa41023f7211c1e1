// The host's frame clock: the record behind the clock pointer, with the time of
// the frame being presented and the time of the latest simulation state.
#pragma once
#include <cstdint>

namespace corvane::camera {

struct HostClock {
  bool present;  // pointer set, record readable and of the clock class
  double presentationTime;
  double sampleTime;
};

// Reads the clock as the host holds it now; both times are 0.0 when absent.
HostClock readHostClock();

// The record behind the clock pointer that was last found readable. The host
// keeps one clock for the life of a session, so the probe runs only when the
// pointer changes, never on an ordinary frame.
extern const uint8_t* verifiedClock;

}  // namespace corvane::camera
