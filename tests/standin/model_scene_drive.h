// Plays the stand-in game's models, shadows and skeletons frame by frame
// through the image, as the game would: for each presented frame the records,
// palettes and caster lists for the frame's tick, the view copy (the scripted
// camera scene, whose clock gives the frame's times), the GPU copy of every
// model, both shadow caster-list builds, and the palette upload of every
// skinned model; the renderer's calls on `rendererThreads` threads (on one
// for the first frames, which create the tracks and log the once-only lines).
//
// Every frame is checked against what the driver works out itself (long
// double, tests/support/reference.h) from the samples the game showed and the clock:
// - a followed rigid model with a usable pair reaches the GPU copy carried to
//   alpha = (min(P, cur + 0.008333334) - prev) / (cur - prev) (never below 0)
//   in all four forms, its previous group carried to what the last frame
//   showed; anything else reaches it exactly as the host holds it;
// - a caster whose model was carried in this frame reaches the shadow build
//   with the model's carried matrix; so does one whose model was carried up
//   to two frames earlier from the same host matrix (its publication is still
//   fresh), with that frame's matrix; every other caster keeps its pointer;
// - a followed skinned character with two distinct samples uploads the blend
//   at alpha = clamp((P - prev) / (cur - prev), -0.25, 2.0), entries past the
//   joint count as the host holds them; a declined upload is retried once;
// - the host's records, palettes and lists are the same after every call.
// The scene expects every interpolation switch on (world, cinematic and
// shadow transforms; first-person, world and cinematic skeletons) and
// StabilizeFirstPersonHands off.
#pragma once
#include <cstddef>
#include <cstdint>

#include "tests/standin/scene_drive.h"
#include "tests/standin/standin_models.h"

// What the driver observed, summed over the frames.
struct ModelSceneTally {
  uint64_t frames;
  uint64_t gpuCopies;
  uint64_t carried;  // GPU copies handed a carried record copy
  uint64_t carriedSkinned;
  uint64_t carriedCinematic;
  uint64_t shadowBuilds;
  uint64_t shadowLists;      // builds handed a substitute list
  uint64_t shadowCarried;    // casters handed a carried transform
  uint64_t uploads;          // upload calls that reached the host function
  uint64_t palettesCarried;  // accepted uploads of a blended palette
  uint64_t forced;           // of those, accepted only on the retry
  uint64_t declined;         // uploads the host declined and that stayed declined
};

constexpr int kKeptFailureTexts = 8;

struct ModelSceneRun;  // the driver's state (large; keep it in static storage)
ModelSceneRun& modelSceneRun();

// Builds the scene into the image (records, palettes, lists), sets the
// stand-in's behaviours and starts the camera scene.
void startModelScene(const ModelScene& models, const ScriptedScene& camera);
// Drives and checks one frame; false when a check failed.
bool driveModelSceneFrame();
const ModelSceneTally& modelSceneTally();
// The tally as it was just before the view copy of frame `frame` (by default
// 599: the 600th view copy of a process that made no other).
void setReportFrame(uint64_t frame);
const ModelSceneTally& tallyAtReport();
uint64_t modelSceneFailures();
// A hash of every byte the game's renderer functions received so far.
uint64_t modelSceneReceivedDigest();
// The first failures, one line each.
const char* modelSceneFailureText(int index);

// Compares the adjusted counts of the world, cinematic, shadow and skeletal
// summary lines for `frame` in `log` (corvane.log's text) with the tally at
// the report. Writes what differs (or what is missing) to `message`.
bool reportMatchesTally(const char* log, uint64_t frame, char* message, size_t capacity);
