#include "bootstrap/settings.h"

#include "bootstrap/log.h"
#include "platform/platform.h"

namespace corvane::bootstrap {

Settings settings{};

namespace {

struct SettingKey {
  const wchar_t* section;
  const wchar_t* key;
  int fallback;
  uint8_t Settings::*field;
};

// In the order they are read and logged.
constexpr SettingKey kSettingKeys[] = {
    {L"Fix", L"UnlockAbove120", 0, &Settings::unlockAbove120},
    {L"Fix", L"StabilizeMouseSensitivity", 1, &Settings::stabilizeMouseSensitivity},
    {L"Fix", L"StabilizeFirstPersonHands", 0, &Settings::stabilizeFirstPersonHands},
    {L"Interpolation", L"WorldTransforms", 0, &Settings::worldTransforms},
    {L"Interpolation", L"CinematicTransforms", 0, &Settings::cinematicTransforms},
    {L"Interpolation", L"ShadowTransforms", 0, &Settings::shadowTransforms},
    {L"Interpolation", L"FirstPersonSkeletons", 0, &Settings::firstPersonSkeletons},
    {L"Interpolation", L"WorldSkeletons", 0, &Settings::worldSkeletons},
    {L"Interpolation", L"CinematicSkeletons", 0, &Settings::cinematicSkeletons},
    {L"Diagnostics", L"Telemetry", 0, &Settings::telemetry},
};

}  // namespace

void loadSettings() {
  wchar_t path[kPathCapacity];
  // Without a usable path every switch takes its default.
  const bool havePath = pathBesideLibrary(L"corvane.ini", path);
  for (const SettingKey& k : kSettingKeys) {
    int value = havePath ? os::platform.readIniInt(k.section, k.key, k.fallback, path) : k.fallback;
    settings.*(k.field) = value != 0 ? 1 : 0;
  }
  LogMessage(
      "Configuration: UnlockAbove120=%u, StabilizeMouseSensitivity=%u, StabilizeFirstPersonHands=%u, "
      "WorldTransforms=%u, CinematicTransforms=%u, ShadowTransforms=%u, FirstPersonSkeletons=%u, "
      "WorldSkeletons=%u, CinematicSkeletons=%u, Telemetry=%u.",
      settings.unlockAbove120, settings.stabilizeMouseSensitivity, settings.stabilizeFirstPersonHands,
      settings.worldTransforms, settings.cinematicTransforms, settings.shadowTransforms, settings.firstPersonSkeletons,
      settings.worldSkeletons, settings.cinematicSkeletons, settings.telemetry);
}

}  // namespace corvane::bootstrap
