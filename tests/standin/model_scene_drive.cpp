#include "tests/standin/model_scene_drive.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

#include "tests/standin/standin_casters.h"
#include "tests/standin/standin_host.h"
#include "tests/standin/standin_palettes.h"

namespace {

constexpr double kTolerance = 2e-5;
constexpr long double kExtrapolationCap = 0.008333334L;
constexpr long double kLongestJump = 64.0L;
constexpr long double kWidestTurn = 90.0L;
constexpr long double kLargestScaleRatio = 1.1L;
constexpr long double kLowestPaletteAlpha = -0.25L;
constexpr long double kHighestPaletteAlpha = 2.0L;
constexpr uint8_t kRetryFlagsMask = 0xF9;
constexpr size_t kFailureTextBytes = 256;
constexpr uint64_t kFreshFrames = 2;
// The first frames make every renderer call on one thread: they create the
// tracks (whose ids the reports print) and log the once-only lines, so the
// log's order does not depend on how the threads interleave.
constexpr uint64_t kSingleThreadFrames = 8;

// The last two distinct samples of one model's world matrix.
struct WorldReference {
  bool seen, pair;
  uint64_t tick;
  long double previousTime, currentTime;
  WideMatrix previous, current;
  bool preparedLastFrame;  // the last frame interpolated this model
  WideMatrix lastPresented;
};

struct PaletteReference {
  bool seen, pair;
  uint64_t tick;
  long double previousTime, currentTime;
  float previous[256 * kStandInEntryFloats];
  float current[256 * kStandInEntryFloats];
};

struct HostState {  // a skinned record's fields the upload must leave as they were
  const float* palette;
  int8_t pending;
  uint8_t flags;
};

}  // namespace

struct ModelSceneRun {
  ModelScene models;
  SceneRun camera;
  WorldReference world[kMostSceneModels];
  PaletteReference palettes[kMostSceneModels];
  // The model's latest carried copy: its frame, the matrix the GPU received
  // and the host's matrix it was carried from. A shadow lookup finds a
  // correction published up to kFreshFrames frames earlier for the same host
  // matrix.
  bool everCarried[kMostSceneModels];
  uint64_t lastCarriedFrame[kMostSceneModels];
  float lastCarried[kMostSceneModels][16];
  uint8_t lastCarriedHost[kMostSceneModels][64];
  void* outSlots[kMostSceneModels];
  uint64_t results[kMostSceneModels];
  uint8_t hostRecords[kMostSceneModels][kStandInSkinnedLength];
  ModelSceneTally tally;
  ModelSceneTally atReport;
  uint64_t reportFrame;
  uint64_t failures;
  char texts[kKeptFailureTexts][kFailureTextBytes];
};

namespace {

ModelSceneRun run;
uint64_t currentFrame = 0;
// FNV-1a over every byte the stand-in's renderer functions received, in model
// order: equal digests from two builds mean they handed the game the same bytes.
uint64_t receivedDigest = 0x14650FB0739D0383ull;
void digest(const void* data, size_t length) {
  for (size_t k = 0; k < length; ++k)
    receivedDigest = (receivedDigest ^ static_cast<const uint8_t*>(data)[k]) * 0x100000001B3ull;
}

void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void fail(const char* format, ...) {
  if (run.failures < kKeptFailureTexts) {
    char* text = run.texts[run.failures];
    const int n = std::snprintf(text, kFailureTextBytes, "frame %llu: ", static_cast<unsigned long long>(currentFrame));
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(text + n, kFailureTextBytes - n, format, args);
    va_end(args);
  }
  ++run.failures;
}

// Runs `work(thread, threads)` on the renderer threads and waits for them.
template <typename Work>
void onRendererThreads(Work work) {
  const uint32_t threads = run.models.rendererThreads < 2 || currentFrame < kSingleThreadFrames ? 1 : 2;
  if (threads == 1) {
    work(0u, 1u);
    return;
  }
  std::thread other([&] { work(1u, 2u); });
  work(0u, 2u);
  other.join();
}

bool followedByWorldPass(const SceneModel& m) {
  if (m.depth != 0.0f || m.path == ModelPath::kStretched) return false;
  if (!m.skinned) return true;
  return m.owner != ModelOwner::kNone || m.joints <= 64;
}

bool cinematic(const SceneModel& m) { return m.skinned && m.depth == 0.0f && m.owner == ModelOwner::kNone; }

bool paletteFollowed(const SceneModel& m) {
  if (!m.skinned) return false;
  if (m.depth > 0.0f && m.depth < 100.0f) return true;
  return m.owner == ModelOwner::kReadable || m.joints <= 64;
}

WideMatrix slot(const uint8_t* record, size_t offset) {
  float m[16];
  std::memcpy(m, record + offset, 64);
  return widenMatrix(m);
}

double slotError(const uint8_t* record, size_t offset, const WideMatrix& wanted) {
  float m[16];
  std::memcpy(m, record + offset, 64);
  return relativeError(m, wanted);
}

bool pairUsable(const WorldReference& r) {
  long double sp, sc;
  bool mp, mc;
  ref::Mat3 rp, rc;
  if (!r.pair || !widePlacement(r.previous, &sp, &mp, &rp) || !widePlacement(r.current, &sc, &mc, &rc)) return false;
  return mp == mc && wideDistance(r.previous, r.current) <= kLongestJump &&
         wideTurnDegrees(r.previous, r.current) <= kWidestTurn && sc / sp <= kLargestScaleRatio &&
         sp / sc <= kLargestScaleRatio;
}

void sampleWorld(size_t i, uint64_t tick, long double sampleTime) {
  WorldReference& r = run.world[i];
  const WideMatrix a = slot(sceneRecord(i), kStandInCurrentSlots[0]);
  if (!r.seen) {
    r.seen = true;
    r.current = a;
    r.currentTime = sampleTime;
    r.tick = tick;
  } else if (tick != r.tick) {
    r.previous = r.current;
    r.previousTime = r.currentTime;
    r.current = a;
    r.currentTime = sampleTime;
    r.tick = tick;
    r.pair = true;
  }
}

void samplePalette(size_t i, uint64_t tick, long double sampleTime) {
  PaletteReference& r = run.palettes[i];
  const size_t floats = paddedJoints(run.models.models[i].joints) * kStandInEntryFloats;
  if (r.seen && tick == r.tick) return;
  if (r.seen) {
    std::memcpy(r.previous, r.current, floats * sizeof(float));
    r.previousTime = r.currentTime;
    r.pair = true;
  }
  r.seen = true;
  r.tick = tick;
  r.currentTime = sampleTime;
  std::memcpy(r.current, scenePalette(i), floats * sizeof(float));
}

bool onlySlotsDiffer(const uint8_t* got, const uint8_t* host, size_t length) {
  return std::memcmp(got, host, 0x20) == 0 && std::memcmp(got + 0x220, host + 0x220, length - 0x220) == 0;
}

void checkGpuCopy(size_t i, const SceneFrame& times) {
  const SceneModel& m = run.models.models[i];
  const size_t length = sceneRecordLength(m);
  const ReceivedCopy& got = receivedCopy(i);
  const uint8_t* host = run.hostRecords[i];
  WorldReference& r = run.world[i];
  digest(got.bytes + 0x20, 0x200);  // the eight transforms (the rest holds addresses)
  if (std::memcmp(sceneRecord(i), host, length) != 0)
    fail("model %d: the host's record was written", static_cast<int>(i));
  if (got.calls != 1 || run.results[i] != kSceneGpuCopyResult + i) {
    fail("model %d: the GPU copy ran %u times, result 0x%llX", static_cast<int>(i), got.calls,
         static_cast<unsigned long long>(run.results[i]));
    return;
  }
  const bool usable = followedByWorldPass(m) && m.path != ModelPath::kRest && pairUsable(r);
  const bool carried = got.record != sceneRecord(i);
  const bool preparedBefore = r.preparedLastFrame;
  r.preparedLastFrame = false;
  if (!usable) {
    if (carried || std::memcmp(got.bytes, host, length) != 0)
      fail("model %d: refused, but the GPU copy got other matrices", static_cast<int>(i));
    if (run.outSlots[i] != &run.outSlots[i]) fail("model %d: a pass-through wrote the out-slot", static_cast<int>(i));
    return;
  }
  const long double dt = r.currentTime - r.previousTime;
  const long double target =
      std::fmin(static_cast<long double>(times.presentationTime), r.currentTime + kExtrapolationCap);
  const long double alpha = (std::fmax(target, r.previousTime) - r.previousTime) / dt;
  WideMatrix presented;
  if (!wideBlend(r.previous, r.current, alpha, &presented)) {
    fail("model %d: the driver cannot blend its own pair", static_cast<int>(i));
    return;
  }
  const WideMatrix previousPresented = preparedBefore ? r.lastPresented : presented;
  r.preparedLastFrame = true;
  r.lastPresented = presented;
  const double worldError = slotError(got.bytes, kStandInCurrentSlots[0], presented);
  if (worldError > kTolerance)
    fail("model %d: world matrix off the blend at alpha %.6f by %.3g", static_cast<int>(i), static_cast<double>(alpha),
         worldError);
  if (!carried) {
    // Nothing to change (the blend equals the host's matrices within the
    // tolerances), so the host's record went through.
    if (std::memcmp(got.bytes, host, length) != 0)
      fail("model %d: a pass-through with other bytes", static_cast<int>(i));
    return;
  }
  run.everCarried[i] = true;
  run.lastCarriedFrame[i] = currentFrame;
  std::memcpy(run.lastCarried[i], got.bytes + kStandInCurrentSlots[0], 64);
  std::memcpy(run.lastCarriedHost[i], host + kStandInCurrentSlots[0], 64);
  ++run.tally.carried;
  run.tally.carriedSkinned += m.skinned;
  run.tally.carriedCinematic += cinematic(m);
  if (!onlySlotsDiffer(got.bytes, host, length))
    fail("model %d: bytes outside the slot groups changed", static_cast<int>(i));
  if (run.outSlots[i] != sceneRecord(i))
    fail("model %d: the out-slot does not hold the host's record", static_cast<int>(i));
  const WideMatrix* groups[2] = {&presented, &previousPresented};
  const size_t* offsets[2] = {kStandInCurrentSlots, kStandInPreviousSlots};
  for (int g = 0; g < 2; ++g) {
    const WideMatrix& w = *groups[g];
    const WideMatrix forms[4] = {w, wideInverse(w), wideProduct(derivedFactor(1), w), wideProduct(derivedFactor(2), w)};
    for (int k = 0; k < 4; ++k) {
      const double e = slotError(got.bytes, offsets[g][k], forms[k]);
      if (e > kTolerance)
        fail("model %d: %s form %d off by %.3g", static_cast<int>(i), g == 0 ? "current" : "previous", k, e);
    }
  }
}

void checkShadowBuild(int which, const uint8_t* headerBefore, const uint8_t* entriesBefore, uint64_t result) {
  const CasterList& list = sceneCasterList(which);
  const ReceivedList& got = receivedList(which);
  digest(got.values, sizeof(float) * 16 * got.count);
  if (result != kSceneShadowResult + which || got.calls != 1) fail("shadow %d: build ran %u times", which, got.calls);
  if (std::memcmp(list.header, headerBefore, 16) != 0 ||
      std::memcmp(list.entries, entriesBefore, list.count * kStandInCasterBytes) != 0)
    fail("shadow %d: the host's list was written", which);
  if (got.count != list.count || std::memcmp(got.header + 8, list.header + 8, 8) != 0) {
    fail("shadow %d: the list header reached the host changed", which);
    return;
  }
  bool any = false;
  for (uint32_t c = 0; c < list.count; ++c) {
    const CasterInfo& info = list.casters[c];
    const size_t model = info.model;
    const bool wanted = model < kMostSceneModels && run.everCarried[model] &&
                        currentFrame - run.lastCarriedFrame[model] <= kFreshFrames &&
                        std::memcmp(run.lastCarriedHost[model], sceneRecord(model) + kStandInCurrentSlots[0], 64) == 0;
    const uint8_t* entry = got.entries + c * kStandInCasterBytes;
    const uint8_t* hostEntry = list.entries + c * kStandInCasterBytes;
    if (std::memcmp(entry, hostEntry, 8) != 0 || std::memcmp(entry + 16, hostEntry + 16, 32) != 0)
      fail("shadow %d caster %u: host bytes changed", which, c);
    if (!wanted) {
      if (got.transforms[c] != info.transform)
        fail("shadow %d caster %u: unmatched, but not its own transform", which, c);
      continue;
    }
    any = true;
    if (got.transforms[c] == info.transform) {
      fail("shadow %d caster %u: its model was carried, its shadow was not", which, c);
      continue;
    }
    ++run.tally.shadowCarried;
    const double e = relativeError(got.values[c], widenMatrix(run.lastCarried[model]));
    if (e > kTolerance) fail("shadow %d caster %u: off its model's carried matrix by %.3g", which, c, e);
  }
  const bool substituted = std::memcmp(got.header, list.header, 8) != 0;
  if (substituted != any) fail("shadow %d: substitute list %d, carried casters %d", which, substituted, any);
  run.tally.shadowLists += substituted;
}

void checkUpload(size_t i, const HostState& before, uint64_t value, uint64_t result, const SceneFrame& times) {
  const SceneModel& m = run.models.models[i];
  const ReceivedUpload& got = receivedUpload(i);
  digest(got.entries, sizeof got.entries);
  uint8_t* record = sceneRecord(i);
  const float* palette;
  std::memcpy(&palette, record + kStandInPaletteOffset, 8);
  if (palette != before.palette || static_cast<int8_t>(record[kStandInUploadPendingOffset]) != before.pending ||
      record[kStandInPaletteFlagsOffset] != before.flags)
    fail("skin %d: palette pointer, pending byte or flags not the host's after the call", static_cast<int>(i));
  const PaletteReference& r = run.palettes[i];
  const bool blend = paletteFollowed(m) && r.pair;
  const uint32_t padded = paddedJoints(m.joints);
  run.tally.uploads += got.calls;
  if (before.pending <= 0) {
    if (!blend) {
      if (got.calls != 1 || result != 0)
        fail("skin %d: a declined pass-through ran %u times", static_cast<int>(i), got.calls);
      run.tally.declined += result == 0;
      return;
    }
    if (got.calls != 2 || got.pendingSeen[1] != 1 || got.flagsSeen[1] != (before.flags & kRetryFlagsMask) ||
        result != value + 1) {
      fail("skin %d: no forced retry (calls %u)", static_cast<int>(i), got.calls);
      return;
    }
    ++run.tally.forced;
  } else if (got.calls != 1 || result != value + 1) {
    fail("skin %d: upload ran %u times, result %llu", static_cast<int>(i), got.calls,
         static_cast<unsigned long long>(result));
    return;
  }
  const float* seen = got.paletteSeen[got.calls - 1];
  const bool substituted = seen != before.palette;
  if (!blend) {
    if (substituted || std::memcmp(got.entries, before.palette, padded * kStandInEntryFloats * 4) != 0)
      fail("skin %d: refused, but the upload read another palette", static_cast<int>(i));
    return;
  }
  if (!substituted) {
    fail("skin %d: a pair, but the host's palette was uploaded", static_cast<int>(i));
    return;
  }
  ++run.tally.palettesCarried;
  long double alpha =
      (static_cast<long double>(times.presentationTime) - r.previousTime) / (r.currentTime - r.previousTime);
  alpha = std::fmax(kLowestPaletteAlpha, std::fmin(kHighestPaletteAlpha, alpha));
  double worst = 0.0;
  for (uint32_t j = 0; j < m.joints; ++j) {
    WideMatrix wanted;
    if (!wideBlend(widenEntry(r.previous + j * kStandInEntryFloats), widenEntry(r.current + j * kStandInEntryFloats),
                   alpha, &wanted)) {
      fail("skin %d: the driver cannot blend joint %u", static_cast<int>(i), j);
      return;
    }
    float entry[16] = {};
    std::memcpy(entry, got.entries + j * kStandInEntryFloats, 48);
    entry[15] = 1.0f;
    worst = std::fmax(worst, relativeError(entry, wanted));
  }
  if (worst > kTolerance)
    fail("skin %d: palette off the blend at alpha %.6f by %.3g", static_cast<int>(i), static_cast<double>(alpha),
         worst);
  const size_t tail = (padded - m.joints) * kStandInEntryFloats;
  if (std::memcmp(got.entries + m.joints * kStandInEntryFloats, before.palette + m.joints * kStandInEntryFloats,
                  tail * 4) != 0)
    fail("skin %d: entries past the joint count are not the host's", static_cast<int>(i));
}

}  // namespace

ModelSceneRun& modelSceneRun() { return run; }

void startModelScene(const ModelScene& models, const ScriptedScene& camera) {
  receivedDigest = 0x14650FB0739D0383ull;
  const uint64_t reportFrame = run.reportFrame;
  std::memset(static_cast<void*>(&run), 0, sizeof run);
  run.reportFrame = reportFrame == 0 ? 599 : reportFrame;
  run.models = models;
  if (run.models.count > kMostSceneModels) run.models.count = kMostSceneModels;
  startModels(run.models);
  startPalettes(run.models);
  startCasters(run.models);
  standInHost.gpuCopyBehaviour = sceneGpuCopy;
  standInHost.poseUploadBehaviour = sceneUpload;
  standInHost.shadowBuildBehaviour = sceneShadowBuild;
  startScene(run.camera, camera);
}

bool driveModelSceneFrame() {
  const uint64_t failuresBefore = run.failures;
  const uint64_t frame = run.camera.nextFrame;
  currentFrame = frame;
  const SceneFrame times = sceneFrame(run.camera.scene, frame);
  const uint32_t hz = run.camera.scene.simulationHz;
  const size_t n = run.models.count;
  writeModelsForFrame(run.models, times.tick, hz);
  writePalettesForFrame(run.models, times.tick, hz, frame);
  writeCastersForFrame();
  for (size_t i = 0; i < n; ++i) {
    std::memcpy(run.hostRecords[i], sceneRecord(i), sceneRecordLength(run.models.models[i]));
    sampleWorld(i, times.tick, times.sampleTime);
    if (run.models.models[i].skinned) samplePalette(i, times.tick, times.sampleTime);
  }
  if (frame == run.reportFrame) run.atReport = run.tally;

  const SceneFrameCheck view = driveSceneFrame(run.camera);
  if (!sceneFrameGood(view)) {
    char text[768];
    describeSceneFrame(view, text, sizeof text);
    fail("view: %s", text);
  }

  std::memset(static_cast<void*>(&receivedCopy(0)), 0, sizeof(ReceivedCopy) * kMostSceneModels);
  onRendererThreads([&](uint32_t thread, uint32_t threads) {
    for (size_t i = thread; i < n; i += threads) {
      alignas(16) uint8_t block[16];
      const uint64_t marker = kSceneBlockMarker | i;
      const uint8_t* record = sceneRecord(i);
      std::memcpy(block, &marker, 8);
      std::memcpy(block + 8, &record, 8);
      run.outSlots[i] = &run.outSlots[i];
      run.results[i] = gameCallsGpuCopy(&run.outSlots[i], 0x77 + i, 0.5f, block);
    }
  });
  run.tally.gpuCopies += n;
  for (size_t i = 0; i < n; ++i) checkGpuCopy(i, times);

  uint8_t headers[2][16], entries[2][kMostCasters * kStandInCasterBytes];
  for (int w = 0; w < 2; ++w) {
    std::memcpy(headers[w], sceneCasterList(w).header, 16);
    std::memcpy(entries[w], sceneCasterList(w).entries, sceneCasterList(w).count * kStandInCasterBytes);
  }
  clearReceivedLists();
  uint64_t shadowResults[2] = {};
  onRendererThreads([&](uint32_t thread, uint32_t threads) {
    for (uint32_t w = thread; w < 2; w += threads)
      shadowResults[w] = w == 0 ? gameCallsShadowBuild0(1, 2, sceneCasterList(0).header, 4, 5, 6.0f)
                                : gameCallsShadowBuild1(1, 2, sceneCasterList(1).header, 4, 5, 6.0f, 7, 8);
  });
  run.tally.shadowBuilds += 2;
  for (int w = 0; w < 2; ++w) checkShadowBuild(w, headers[w], entries[w], shadowResults[w]);

  HostState before[kMostSceneModels] = {};
  uint64_t uploadResults[kMostSceneModels] = {};
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* record = sceneRecord(i);
    std::memcpy(&before[i].palette, record + kStandInPaletteOffset, 8);
    before[i].pending = static_cast<int8_t>(record[kStandInUploadPendingOffset]);
    before[i].flags = record[kStandInPaletteFlagsOffset];
  }
  clearReceivedUploads();
  onRendererThreads([&](uint32_t thread, uint32_t threads) {
    for (size_t i = thread; i < n; i += threads)
      if (run.models.models[i].skinned) uploadResults[i] = gameCallsPoseUpload(sceneRecord(i), 0x900 + i);
  });
  for (size_t i = 0; i < n; ++i)
    if (run.models.models[i].skinned) checkUpload(i, before[i], 0x900 + i, uploadResults[i], times);

  ++run.tally.frames;
  return run.failures == failuresBefore;
}

const ModelSceneTally& modelSceneTally() { return run.tally; }
void setReportFrame(uint64_t frame) { run.reportFrame = frame; }
const ModelSceneTally& tallyAtReport() { return run.atReport; }
uint64_t modelSceneFailures() { return run.failures; }
uint64_t modelSceneReceivedDigest() { return receivedDigest; }

const char* modelSceneFailureText(int index) {
  return index >= 0 && index < kKeptFailureTexts && static_cast<uint64_t>(index) < run.failures ? run.texts[index] : "";
}

bool reportMatchesTally(const char* log, uint64_t frame, char* message, size_t capacity) {
  struct Field {
    const char* line;  // the line's start, with frame=%llu
    const char* key;   // the text just before the number
    uint64_t wanted;
  };
  const ModelSceneTally& t = run.atReport;
  const Field fields[] = {
      {"World diagnostics frame=%llu:", ", adjusted=", t.carried},
      {"World diagnostics frame=%llu:", "(skinned=", t.carriedSkinned},
      {"World cinematic frame=%llu:", " adjusted=", t.carriedCinematic},
      {"Shadow transform frame=%llu:", "] adjusted=", t.shadowCarried},
      {"Shadow transform frame=%llu:", "proxy[calls=", t.shadowBuilds},
      {"Shadow transform frame=%llu:", " lists=", t.shadowLists},
      {"Skeletal diagnostics frame=%llu:", "upload[prepared=", t.palettesCarried},
      {"Skeletal diagnostics frame=%llu:", " adjusted=", t.palettesCarried},
      {"Skeletal diagnostics frame=%llu:", " forced=", t.forced},
  };
  size_t used = 0;
  if (capacity > 0) message[0] = 0;
  bool good = true;
  for (const Field& f : fields) {
    char start[96];
    std::snprintf(start, sizeof start, f.line, static_cast<unsigned long long>(frame));
    const char* line = std::strstr(log, start);
    const char* end = line != nullptr ? std::strchr(line, '\n') : nullptr;
    const char* key = line != nullptr ? std::strstr(line, f.key) : nullptr;
    unsigned long long got = 0;
    const bool found =
        key != nullptr && (end == nullptr || key < end) && std::sscanf(key + std::strlen(f.key), "%llu", &got) == 1;
    if (found && got == f.wanted) continue;
    good = false;
    if (used < capacity)
      used += std::snprintf(message + used, capacity - used, "%s%s%s: %s%llu, driver saw %llu", used ? "; " : "", start,
                            f.key, found ? "" : "missing ", got, static_cast<unsigned long long>(f.wanted));
  }
  return good;
}
