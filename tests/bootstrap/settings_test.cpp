#include <gtest/gtest.h>

#include "bootstrap/settings.h"
#include "platform/platform.h"
#include "tests/support/library_dir.h"

namespace {

std::string configurationLine(int u, int m, int h, int w, int c, int s, int fp, int ws, int cs, int t) {
  char text[512];
  std::snprintf(text, sizeof text,
                "Configuration: UnlockAbove120=%d, StabilizeMouseSensitivity=%d, StabilizeFirstPersonHands=%d, "
                "WorldTransforms=%d, CinematicTransforms=%d, ShadowTransforms=%d, FirstPersonSkeletons=%d, "
                "WorldSkeletons=%d, CinematicSkeletons=%d, Telemetry=%d.",
                u, m, h, w, c, s, fp, ws, cs, t);
  return text;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetPlatform();
    useFreshLibraryDirectory();
    settings = Settings{};
  }
  void TearDown() override { resetPlatform(); }
};

TEST_F(SettingsTest, MissingFileGivesDefaultsAndLogsThem) {
  loadSettings();
  EXPECT_EQ(readLogLines(), std::vector<std::string>{configurationLine(0, 1, 0, 0, 0, 0, 0, 0, 0, 0)});
  EXPECT_EQ(settings.stabilizeMouseSensitivity, 1);
}

TEST_F(SettingsTest, KeysAreReadOnlyInTheirOwnSection) {
  writeIni("[Interpolation]\nStabilizeMouseSensitivity=0\nWorldTransforms=1\n[Fix]\nUnlockAbove120=1\n");
  loadSettings();
  EXPECT_EQ(readLogLines().back(), configurationLine(1, 1, 0, 1, 0, 0, 0, 0, 0, 0));
}

TEST_F(SettingsTest, ValuesFollowTheLeadingIntegerRule) {
  // 2 and -1 are on, yes and 12abc's neighbours follow the leading digits,
  // an empty value keeps the default, leading blanks are skipped.
  writeIni(
      "[Fix]\nUnlockAbove120=2\nStabilizeMouseSensitivity=\nStabilizeFirstPersonHands=-1\n"
      "[Interpolation]\nWorldTransforms=yes\nCinematicTransforms= 7\nShadowTransforms=12abc\n"
      "FirstPersonSkeletons=0\nWorldSkeletons=abc12\n[Diagnostics]\nTelemetry=0x\n");
  loadSettings();
  EXPECT_EQ(readLogLines().back(), configurationLine(1, 1, 1, 0, 1, 1, 0, 0, 0, 0));
  EXPECT_EQ(settings.unlockAbove120, 1);  // stored as 0 or 1, never the raw value
}

TEST_F(SettingsTest, ZeroTurnsTheMouseFixOff) {
  writeIni("[Fix]\nStabilizeMouseSensitivity=0\n");
  loadSettings();
  EXPECT_EQ(settings.stabilizeMouseSensitivity, 0);
}

TEST_F(SettingsTest, AFileThatIsNotIniGivesDefaults) {
  writeIni(std::string("\x7f" "ELF\x02\x01\x01\0\0\0binary garbage = 1\n[[[", 32));
  loadSettings();
  EXPECT_EQ(readLogLines().back(), configurationLine(0, 1, 0, 0, 0, 0, 0, 0, 0, 0));
}

TEST_F(SettingsTest, LibraryPathTooLongFallsBackToDefaults) {
  platform.moduleFileName = [](void*, wchar_t* buffer, uint32_t capacity) -> uint32_t {
    for (uint32_t i = 0; i + 1 < capacity; ++i) buffer[i] = L'a';
    buffer[capacity - 1] = 0;
    return capacity;  // truncated
  };
  loadSettings();
  EXPECT_EQ(settings.stabilizeMouseSensitivity, 1);
  EXPECT_EQ(settings.worldTransforms, 0);
}

}  // namespace
