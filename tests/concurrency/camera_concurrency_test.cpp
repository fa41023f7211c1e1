// The view-copy hook publishing while other threads read what it publishes:
// an outside reader of the telemetry record and renderer threads copying the
// frame state. Meant to run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "bootstrap/install.h"
#include "camera/frame_state.h"
#include "camera/telemetry.h"
#include "camera/telemetry_access.h"
#include "camera/update_camera.h"
#include "tests/support/camera_fixture.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;

namespace {

constexpr int kFrames = 20000;

class CameraConcurrencyTest : public CameraHostTest {
 protected:
  void SetUp() override {
    CameraHostTest::SetUp();
    publishTelemetryInto(block);
    // With the switch off the presented view is the source: every field of a
    // consistent record follows from the frame number alone.
    setF10Down(true);
  }
  // Frame k: times k and k + 0.5, origin (k, 2k, -k).
  void runFrames() {
    for (int k = 1; k <= kFrames; ++k) {
      const CameraPose pose{{float(k), float(2 * k), float(-k)}, double(k % 360)};
      frame(double(k), double(k) + 0.5, pose);
    }
    done.store(true);
  }
  alignas(64) TelemetryBlock block;
  std::atomic<bool> done{false};
};

void expectConsistent(const TelemetryBlock& t) {
  if (t.sequence == 0) return;  // nothing written yet
  const double k = double(t.sequence / 2);
  ASSERT_EQ(t.sequence % 2, 0u);
  ASSERT_EQ(t.presentationTime, k);
  ASSERT_EQ(t.sampleTime, k + 0.5);
  ASSERT_EQ(t.enabled, 0u);
  ASSERT_EQ(t.modified, 0u);
  const float origin[3] = {float(k), float(2 * k), float(-k)};
  ASSERT_EQ(0, std::memcmp(t.sourceOrigin, origin, sizeof origin));
  ASSERT_EQ(0, std::memcmp(t.outputOrigin, origin, sizeof origin));
  float axes[9];
  yawAxes(double(uint64_t(k) % 360), axes);
  ASSERT_EQ(0, std::memcmp(t.sourceAxes, axes, sizeof axes));
  ASSERT_EQ(0, std::memcmp(t.outputAxes, axes, sizeof axes));
}

TEST_F(CameraConcurrencyTest, TelemetryReaderNeverSeesATornRecord) {
  std::atomic<uint64_t> consistent{0};
  std::thread reader([&] {
    uint64_t lastSequence = 0;
    TelemetryBlock copy;
    while (!done.load()) {
      if (!readTelemetrySnapshot(&block, &copy)) continue;
      expectConsistent(copy);
      ASSERT_GE(copy.sequence, lastSequence);
      lastSequence = copy.sequence;
      consistent.fetch_add(1);
    }
    ASSERT_TRUE(readTelemetrySnapshot(&block, &copy));
    expectConsistent(copy);
    EXPECT_EQ(copy.sequence, 2u * kFrames);
  });
  runFrames();
  reader.join();
  EXPECT_GT(consistent.load(), 0u);
}

TEST_F(CameraConcurrencyTest, RendererThreadsCopyWholeFrames) {
  const uint64_t base = copyPresentationFrame().presentationSerial;
  std::vector<std::thread> renderers;
  for (int r = 0; r < 3; ++r) {
    renderers.emplace_back([&] {
      uint64_t lastSerial = 0, lastCameraSerial = 0, lastLatest = 0;
      while (!done.load()) {
        const PresentationFrame f = copyPresentationFrame();
        if (f.presentationSerial > base) {
          ASSERT_EQ(f.presentationTime, double(f.presentationSerial - base));
          ASSERT_EQ(f.sampleTime, f.presentationTime + 0.5);
          ASSERT_TRUE(f.timesValid);
        }
        ASSERT_GE(f.presentationSerial, lastSerial);
        lastSerial = f.presentationSerial;
        ASSERT_GE(latestPresentationSerial.load(), lastLatest);
        lastLatest = latestPresentationSerial.load();
        const CameraCorrection c = copyCameraCorrection();
        ASSERT_GE(c.cameraSerial, lastCameraSerial);
        lastCameraSerial = c.cameraSerial;
        if (c.cameraSerial > 1) {
          ASSERT_TRUE(c.currentValid && c.previousValid);
        }
      }
    });
  }
  runFrames();
  for (std::thread& t : renderers) t.join();
  EXPECT_EQ(copyPresentationFrame().presentationSerial, base + kFrames);
  EXPECT_EQ(latestPresentationSerial.load(), base + kFrames);
}

}  // namespace
