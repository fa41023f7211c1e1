// The high-FPS camera driven through the view-copy hook: which frames are
// interpolated, where the presented view lies, and which inputs reset the
// history or leave the host's view alone.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cmath>

#include "camera/test_seam.h"
#include "camera/update_camera.h"
#include "tests/support/camera_fixture.h"

using namespace corvane::camera;

namespace {

// The true presented pose for two samples and a fraction, computed apart from
// the system: straight-line origin, yaw angle blended linearly.
struct Expected {
  float origin[3];
  double yaw;
};
Expected truePath(const CameraPose& from, const CameraPose& to, double alpha) {
  Expected e;
  for (int i = 0; i < 3; ++i)
    e.origin[i] = static_cast<float>(from.origin[i] + (double(to.origin[i]) - from.origin[i]) * alpha);
  e.yaw = from.yawDegrees + (to.yawDegrees - from.yawDegrees) * alpha;
  return e;
}

const CameraPose kA{{100.0f, 20.0f, 3.0f}, 10.0};
const CameraPose kB{{101.0f, 20.5f, 3.0f}, 30.0};
constexpr double kT0 = 10.0;
constexpr double kDt = 0.02;

class CameraInterpolationTest : public CameraHostTest {
 protected:
  // Two samples kDt apart: the first frame resets, the second shifts.
  void twoSamples(double presentationTime) {
    frame(kT0, kT0, kA);
    ASSERT_TRUE(presentsHostView()) << "a reset leaves the host's view";
    frame(presentationTime, kT0 + kDt, kB);
  }
};

TEST_F(CameraInterpolationTest, FractionFollowsPresentationTimeWithinItsClamp) {
  struct Case {
    double presentation;
    double alpha;
  };
  const Case cases[] = {
      {kT0 + kDt, 1.0},          // at the latest sample
      {kT0 + 1.5 * kDt, 1.5},    // one and a half intervals past the previous one
      {kT0 + 2.0 * kDt, 2.0},    // the cap
      {kT0 + 3.0 * kDt, 2.0},    // beyond the cap
      {kT0 + 0.5 * kDt, 0.5},    // between the samples
      {kT0 - 1.0 * kDt, -0.25},  // the floor
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.alpha);
    resetCameraStateForTests();
    twoSamples(c.presentation);
    const double exact = (c.presentation - kT0) / ((kT0 + kDt) - kT0);
    const double expectedAlpha = exact >= 2.0 ? 2.0 : (exact < -0.25 ? -0.25 : exact);
    EXPECT_NEAR(frameAlpha, c.alpha, 1e-9);
    EXPECT_EQ(frameAlpha, expectedAlpha);
    const Expected e = truePath(kA, kB, expectedAlpha);
    expectPresented(e.origin, e.yaw);
  }
}

TEST_F(CameraInterpolationTest, PresentationAtTheLatestSampleShowsThatSample) {
  twoSamples(kT0 + kDt);
  EXPECT_EQ(frameAlpha, 1.0);
  expectPresented(kB.origin, kB.yawDegrees);
}

TEST_F(CameraInterpolationTest, FramesBetweenSamplesKeepInterpolatingTheSamePair) {
  twoSamples(kT0 + kDt);
  // Same sample time (within the tolerance): the copied pose only serves checks.
  const CameraPose elsewhere{{101.5f, 20.5f, 3.0f}, 35.0};
  frame(kT0 + 1.25 * kDt, kT0 + kDt + 5e-8, elsewhere);
  EXPECT_NEAR(frameAlpha, 1.25, 1e-9);
  const Expected e = truePath(kA, kB, frameAlpha);
  expectPresented(e.origin, e.yaw);
  frame(kT0 + 1.5 * kDt, kT0 + kDt - 5e-8, elsewhere);  // and slightly below it
  EXPECT_NEAR(frameAlpha, 1.5, 1e-9);
}

TEST_F(CameraInterpolationTest, SampleIntervalOfExactlyTheLimitStillInterpolates) {
  frame(0.0, 0.0, kA);
  frame(0.05, 0.05, kB);
  ASSERT_EQ(0.05 - 0.0, 0.05);
  EXPECT_EQ(frameAlpha, 1.0);
  expectPresented(kB.origin, kB.yawDegrees);
}

TEST_F(CameraInterpolationTest, SampleIntervalJustOverTheLimitResets) {
  frame(0.0, 0.0, kA);
  frame(0.05 + 1e-6, 0.05 + 1e-6, kB);
  EXPECT_TRUE(std::isnan(frameAlpha));
  EXPECT_TRUE(presentsHostView());
  // The reset made the new sample both previous and current: nothing to blend yet.
  frame(0.06, 0.05 + 1e-6, kB);
  EXPECT_TRUE(std::isnan(frameAlpha));
  EXPECT_TRUE(presentsHostView());
}

TEST_F(CameraInterpolationTest, JumpDistanceLimitIsInclusive) {
  const CameraPose atLimit{{105.0f, 20.0f, 3.0f}, 10.0};
  frame(kT0, kT0, kA);
  frame(kT0 + 1.5 * kDt, kT0 + kDt, atLimit);
  EXPECT_NEAR(frameAlpha, 1.5, 1e-9);
  const Expected e = truePath(kA, atLimit, frameAlpha);
  expectPresented(e.origin, e.yaw);

  resetCameraStateForTests();
  const CameraPose beyond{{105.01f, 20.0f, 3.0f}, 10.0};
  frame(kT0, kT0, kA);
  frame(kT0 + 1.5 * kDt, kT0 + kDt, beyond);
  EXPECT_TRUE(std::isnan(frameAlpha));
  EXPECT_TRUE(presentsHostView());
}

TEST_F(CameraInterpolationTest, TurnOf44DegreesIsAcceptedAnd46Resets) {
  const CameraPose turned44{{100.0f, 20.0f, 3.0f}, kA.yawDegrees + 44.0};
  frame(kT0, kT0, kA);
  frame(kT0 + 0.5 * kDt, kT0 + kDt, turned44);
  EXPECT_NEAR(frameAlpha, 0.5, 1e-9);
  const Expected e = truePath(kA, turned44, frameAlpha);
  expectPresented(e.origin, e.yaw);

  resetCameraStateForTests();
  const CameraPose turned46{{100.0f, 20.0f, 3.0f}, kA.yawDegrees + 46.0};
  frame(kT0, kT0, kA);
  frame(kT0 + 0.5 * kDt, kT0 + kDt, turned46);
  EXPECT_TRUE(std::isnan(frameAlpha));
  EXPECT_TRUE(presentsHostView());
}

TEST_F(CameraInterpolationTest, ClockGoingBackResetsToTheNewSample) {
  twoSamples(kT0 + kDt);
  const CameraPose back{{100.5f, 20.0f, 3.0f}, 12.0};
  frame(kT0 + kDt, kT0 + 0.5 * kDt, back);
  EXPECT_TRUE(std::isnan(frameAlpha));
  EXPECT_TRUE(presentsHostView());
  // The next sample blends from the one after the reset, not from the old pair.
  frame(kT0 + 2.0 * kDt, kT0 + 1.5 * kDt, kB);
  EXPECT_NEAR(frameAlpha, 1.5, 1e-6);
  const Expected e = truePath(back, kB, frameAlpha);
  expectPresented(e.origin, e.yaw);
}

TEST_F(CameraInterpolationTest, AnotherSourceViewResets) {
  twoSamples(kT0 + kDt);
  FakeView other{};
  float axes[9];
  yawAxes(kB.yawDegrees, axes);
  setViewPose(other, kB.origin, axes);
  setClockTimes(kT0 + 2.5 * kDt, kT0 + 2 * kDt);
  frameFrom(other);
  EXPECT_TRUE(std::isnan(frameAlpha));
  EXPECT_TRUE(presentsHostView());
}

TEST_F(CameraInterpolationTest, UntrustedInputsLeaveTheHostViewAndInvalidate) {
  struct Spoiler {
    const char* name;
    void (*spoil)(FakeView& source);
    void (*restore)();
  };
  static uint8_t* unreadable =
      static_cast<uint8_t*>(mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  const Spoiler spoilers[] = {
      {"origin copies disagree", [](FakeView& s) { s.bytes[0xC4] ^= 1; }, [] {}},
      {"NaN in an axis", [](FakeView& s) { reinterpret_cast<uint32_t*>(s.bytes + 0xCC)[4] = 0x7FC00000u; }, [] {}},
      {"NaN in the origin",
       [](FakeView& s) {
         reinterpret_cast<uint32_t*>(s.bytes + 0xA8)[1] = 0x7F800000u;
         reinterpret_cast<uint32_t*>(s.bytes + 0xC0)[1] = 0x7F800000u;
       },
       [] {}},
      {"no clock record", [](FakeView&) { setClockPointer(nullptr); }, [] { useOwnClock(); }},
      {"foreign clock record", [](FakeView&) { setClockIdentity(validClockIdentity() + 8); },
       [] { setClockIdentity(validClockIdentity()); }},
      {"unreadable clock record", [](FakeView&) { setClockPointer(unreadable); }, [] { useOwnClock(); }},
      {"non-finite presentation time", [](FakeView&) { setClockTimes(NAN, kT0 + 2 * kDt); }, [] {}},
      {"non-finite sample time", [](FakeView&) { setClockTimes(kT0 + 2 * kDt, INFINITY); }, [] {}},
  };
  for (const Spoiler& s : spoilers) {
    SCOPED_TRACE(s.name);
    resetCameraStateForTests();
    twoSamples(kT0 + kDt);
    ASSERT_EQ(frameAlpha, 1.0);
    // A frame that would interpolate, but for the spoiled input.
    const CameraPose c{{102.0f, 21.0f, 3.0f}, 40.0};
    setClockTimes(kT0 + 2.5 * kDt, kT0 + 2 * kDt);
    float axes[9];
    yawAxes(c.yawDegrees, axes);
    setViewPose(source, c.origin, axes);
    s.spoil(source);
    frameFrom(source);
    EXPECT_TRUE(std::isnan(frameAlpha));
    EXPECT_TRUE(presentsHostView());
    s.restore();
    // The history is gone: the next good frame only resets.
    frame(kT0 + 3.5 * kDt, kT0 + 3 * kDt, c);
    EXPECT_TRUE(std::isnan(frameAlpha));
    EXPECT_TRUE(presentsHostView());
  }
}

TEST_F(CameraInterpolationTest, F10TogglesOncePerPressAndLogsTheNewState) {
  twoSamples(kT0 + kDt);
  setF10Down(true);
  frame(kT0 + 2.5 * kDt, kT0 + 2 * kDt, kB);
  EXPECT_FALSE(cameraEnabled);
  EXPECT_TRUE(presentsHostView());
  EXPECT_TRUE(std::isnan(frameAlpha));
  frame(kT0 + 3.5 * kDt, kT0 + 3 * kDt, kB);  // still held: no second toggle
  EXPECT_FALSE(cameraEnabled);
  setF10Down(false);
  frame(kT0 + 4.5 * kDt, kT0 + 4 * kDt, kA);
  EXPECT_FALSE(cameraEnabled);
  EXPECT_TRUE(presentsHostView());

  // The press that enables: this frame only resets, the next sample blends.
  setF10Down(true);
  frame(kT0 + 5.5 * kDt, kT0 + 5 * kDt, kA);
  EXPECT_TRUE(cameraEnabled);
  EXPECT_TRUE(std::isnan(frameAlpha));
  EXPECT_TRUE(presentsHostView());
  setF10Down(false);
  frame(kT0 + 6.5 * kDt, kT0 + 6 * kDt, kB);
  EXPECT_NEAR(frameAlpha, 1.5, 1e-6);
  const Expected e = truePath(kA, kB, frameAlpha);
  expectPresented(e.origin, e.yaw);

  const std::vector<std::string> expected = {"F10: high-FPS camera and first-person prediction disabled.",
                                             "F10: high-FPS camera and first-person prediction enabled."};
  EXPECT_EQ(logLines(), expected);
}

}  // namespace
