// The stand-in game as a DLL that the stand-in executable loads before
// corvane.dll: it writes the game's image into the executable's image section,
// and after Corvane has installed it checks the five places and plays the game's
// calls through them.
#pragma once
#include <cstddef>
#include <cstdint>

// The five places, in the order of the install sequence; on the command line
// "view", "gpu", "pose", "shadow0" and "shadow1".
enum DrivenPlace : size_t {
  kPlaceViewCopy = 0,
  kPlaceGpuCopy = 1,
  kPlacePoseUpload = 2,
  kPlaceShadow0 = 3,
  kPlaceShadow1 = 4,
  kPlaceCount = 5,
};

// One named check of the drive; a failure is printed at once.
void check(bool ok, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Names the call in progress, so that a fault inside it is reported by name.
void enterPlace(const char* what);

// The game's calls through one place, with inputs that every hook body must
// hand to the host unchanged whatever the settings (no clock record behind the
// frames; model records that are absent, unreadable or of no interpolated
// kind; caster lists without transforms). Each checks that the stand-in
// function received every argument unchanged and that its result came back.
void driveViewCopy();
void driveGpuCopy();
void drivePoseUpload();
void driveShadowBuild(int entry);

// Host threads inside the entries while Corvane installs (standin_threads.cpp):
// started by the build from "--park" and "--hammer N", finished and checked by
// the drive before anything else.
bool startThreadsAtTheEntries(int argc, wchar_t** argv);
void finishThreadsAtTheEntries();
