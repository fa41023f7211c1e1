#include <gtest/gtest.h>

#include "bootstrap/settings.h"
#include "platform/platform.h"
#include "tests/support/library_dir.h"

using namespace corvane::bootstrap;
using namespace corvane::os;

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

// The same files are read by the shipped reader under Wine (tests/wine,
// settings_*): both readers must agree.
TEST_F(SettingsTest, ValuesFollowTheLeadingIntegerRule) {
  const struct {
    const char* ini;
    std::string line;
  } rows[] = {
      // 2 and -1 are on, yes and abc12 off, 12abc follows its leading digits,
      // an empty value keeps the default, leading blanks are skipped.
      {"[Fix]\nUnlockAbove120=2\nStabilizeMouseSensitivity=\nStabilizeFirstPersonHands=-1\n"
       "[Interpolation]\nWorldTransforms=yes\nCinematicTransforms= 7\nShadowTransforms=12abc\n"
       "FirstPersonSkeletons=0\nWorldSkeletons=abc12\n[Diagnostics]\nTelemetry=0x\n",
       configurationLine(1, 1, 1, 0, 1, 1, 0, 0, 0, 0)},
      // Prefixes 0x, 0o, 0b (small letters only), quotes dropped (an empty
      // quoted value keeps the default), the sum modulo 2^32, 29 characters.
      {"[Fix]\nUnlockAbove120=0x10\nStabilizeMouseSensitivity=\"\"\nStabilizeFirstPersonHands=0b\n"
       "[Interpolation]\nWorldTransforms=0o7\nCinematicTransforms=\"1\"\nShadowTransforms=4294967296\n"
       "FirstPersonSkeletons=-0b1\nWorldSkeletons=000000000000000000000000000001\nCinematicSkeletons=0b101\n"
       "[Diagnostics]\nTelemetry=0X1\n",
       configurationLine(1, 1, 0, 1, 1, 0, 1, 0, 1, 0)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.ini);
    writeIni(row.ini);
    loadSettings();
    EXPECT_EQ(readLogLines().back(), row.line);
  }
  EXPECT_EQ(settings.unlockAbove120, 1);  // stored as 0 or 1, never the raw value
}

TEST_F(SettingsTest, ZeroTurnsTheMouseFixOff) {
  writeIni("[Fix]\nStabilizeMouseSensitivity=0\n");
  loadSettings();
  EXPECT_EQ(settings.stabilizeMouseSensitivity, 0);
}

TEST_F(SettingsTest, AFileThatIsNotIniGivesDefaults) {
  writeIni(
      std::string("\x7f"
                  "ELF\x02\x01\x01\0\0\0binary garbage = 1\n[[[",
                  32));
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
