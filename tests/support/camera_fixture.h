// A gtest fixture for driving the view-copy hook frame by frame against the
// stand-in host of camera_host.h, with a fresh log directory per test.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "camera/telemetry.h"
#include "tests/support/camera_host.h"

struct CameraPose {
  float origin[3];
  double yawDegrees;
};

class CameraHostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // One presented frame: the clock holds these times, the source view holds
  // `pose`, and the hook copies it into `destination`.
  uint64_t frame(double presentationTime, double sampleTime, const CameraPose& pose);
  uint64_t frameFrom(FakeView& source);

  // The destination equals what the host copied (the source), byte for byte.
  bool presentsHostView() const;
  // Origin and yaw of the presented view, within float rounding.
  void expectPresented(const float origin[3], double yawDegrees) const;

  std::vector<std::string> logLines() const;
  // `block`, zeroed with its version and size, is where the hook publishes.
  void publishTelemetryInto(corvane::camera::TelemetryBlock& block);

  FakeView destination{};
  FakeView source{};
};
