// The scripted camera scene played through the patched call site under Wine,
// with the real corvane.dll, and optionally the telemetry reader following the
// frames from a second process.
#pragma once
#include <cstddef>
#include <cstdint>

struct SceneOptions {
  uint64_t frames;                 // 0: no scene
  const wchar_t* telemetryReader;  // corvane-telemetry-reader.exe, or null
  uint64_t readerFrames;           // lines the reader is asked for
  bool readerSummary;              // the reader finds the game itself and prints its summary
  const wchar_t* outputDirectory;  // where the reader's output is kept
  bool expectConsole;
  int32_t expectedConsole[3];  // com_disableFrameSpinning, Triple Buffering, g_fixMouseSensibility
};

// "--scene N", "--telemetry-reader PATH", "--reader-frames N", "--reader-summary",
// "--expect-console A,B,C", and the directory of "--dll PATH". False with a
// message printed when an option is malformed.
bool parseSceneOptions(int argc, wchar_t** argv, SceneOptions* options);
// "--console A,B,C": the console-variable values the stand-in game starts with.
bool applyConsoleOption(int argc, wchar_t** argv);

// Drives the scene (every frame checked against the camera reference and the
// path) while the reader, if any, follows it; then checks the reader's lines
// against the driven frames and the console values. Writes a short summary.
void driveScene(const SceneOptions& options, char* summary, size_t capacity);
