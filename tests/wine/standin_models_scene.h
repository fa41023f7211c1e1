// The stand-in game's models, shadows and skeletons played under Wine through
// the places corvane.dll patched (model_scene_drive.h), every frame checked,
// and the adjusted counts of the report at frame 600 in corvane.log compared
// with what the driver observed.
#pragma once
#include <cstddef>
#include <cstdint>

struct ModelSceneOptions {
  uint64_t frames;           // 0: no model scene
  uint32_t rendererThreads;  // 1 or 2 (the default)
  wchar_t logPath[1024];     // corvane.log beside the DLL
};

// "--models N" and "--renderer-threads T", and the directory of "--dll PATH".
// False with a message printed when an option is malformed.
bool parseModelSceneOptions(int argc, wchar_t** argv, ModelSceneOptions* options);
// Drives the scene; each failure goes through check(). Writes a short summary.
void driveModelScene(const ModelSceneOptions& options, char* summary, size_t capacity);
