// The ten switches of corvane.ini, read once by the install worker after the
// host passed its checks. Every switch reads 0 until then.
#pragma once
#include <cstdint>

namespace corvane::bootstrap {

struct Settings {
  uint8_t unlockAbove120;
  uint8_t stabilizeMouseSensitivity;
  uint8_t stabilizeFirstPersonHands;
  uint8_t worldTransforms;
  uint8_t cinematicTransforms;
  uint8_t shadowTransforms;
  uint8_t firstPersonSkeletons;
  uint8_t worldSkeletons;
  uint8_t cinematicSkeletons;
  uint8_t telemetry;
};

extern Settings settings;

// Reads corvane.ini beside the library and logs the configuration line.
void loadSettings();

}  // namespace corvane::bootstrap
