#include "tests/session/session_scene.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(SessionScene, EmptyDescriptionIsTheDefaultSession) {
  SessionScene s;
  char error[128];
  ASSERT_TRUE(parseSessionScene("", &s, error, sizeof error));
  EXPECT_EQ(s.simulationHz, 60u);
  EXPECT_EQ(s.presentationHz, 144u);
  EXPECT_EQ(s.frames, 6u * 144u);
  EXPECT_EQ(s.jitter, 0.0);
}

TEST(SessionScene, KeysCommentsAndSecondsAtTheFinalRate) {
  SessionScene s;
  char error[128];
  ASSERT_TRUE(
      parseSessionScene("# profile\nseconds = 2.5\n  simulation_hz=30 # slow\npresentation_hz = 240\n"
                        "jitter = 0.25\nworld_models = 4000\nthreads = 3\nstill = 0.85\nheap_regions = 4\n",
                        &s, error, sizeof error));
  EXPECT_EQ(s.simulationHz, 30u);
  EXPECT_EQ(s.presentationHz, 240u);
  EXPECT_EQ(s.frames, 600u);  // seconds apply at the rate given after them
  EXPECT_EQ(s.jitter, 0.25);
  EXPECT_EQ(s.worldModels, 4000u);
  EXPECT_EQ(s.threads, 3u);
  EXPECT_EQ(s.still, 0.85);
  EXPECT_EQ(s.heapRegions, 4u);
}

TEST(SessionScene, RefusesWhatItCannotPlay) {
  SessionScene s;
  char error[128];
  const char* bad[] = {
      "simulation_hz = 0\n",        "speed = 3\n",          "frames = -5\n", "jitter = 1\n",  "threads = 0\n",
      "seconds = 1\nframes = 10\n", "world_models = 12x\n", "joints\n",      "still = 1.5\n", "heap_regions = 65\n"};
  for (const char* text : bad) EXPECT_FALSE(parseSessionScene(text, &s, error, sizeof error)) << text;
  ASSERT_FALSE(parseSessionScene("seed = 2\n\nbogus = 1\n", &s, error, sizeof error));
  EXPECT_NE(std::string(error).find("line 3"), std::string::npos) << error;
}

TEST(SessionScene, FramesLeadTheirSampleByLessThanOneTick) {
  for (double jitter : {0.0, 0.6}) {
    SessionScene s;
    s.simulationHz = 30;
    s.presentationHz = 240;
    s.jitter = jitter;
    double last = -1.0;
    for (uint64_t k = 0; k < 2000; ++k) {
      const SessionFrame f = sessionFrame(s, k);
      const double lead = f.presentationTime - f.sampleTime;
      ASSERT_GE(lead, 0.0) << k;
      ASSERT_LT(lead, 1.0 / 30 + 1e-12) << k;
      ASSERT_GT(f.presentationTime, last) << k;
      last = f.presentationTime;
      EXPECT_EQ(f.sampleTime, kSessionStartTime + static_cast<double>(f.tick) / 30);
    }
  }
}

TEST(SessionScene, JitterMovesFramesTheSameWayEveryRun) {
  SessionScene s;
  s.jitter = 0.5;
  const SessionFrame a = sessionFrame(s, 77), b = sessionFrame(s, 77);
  EXPECT_EQ(a.presentationTime, b.presentationTime);
  SessionScene even;
  int moved = 0;
  for (uint64_t k = 1; k < 100; ++k)
    moved += sessionFrame(s, k).presentationTime != sessionFrame(even, k).presentationTime;
  EXPECT_GT(moved, 90);
  s.seed = 2;
  EXPECT_NE(sessionFrame(s, 77).presentationTime, a.presentationTime);
}
