#include "tests/standin/standin_models.h"

#include <cmath>
#include <cstring>

#include "tests/standin/standin_host.h"

namespace {

constexpr uint32_t kPaddedHostBits = 0x5A000000u;

ReceivedCopy received[kMostSceneModels];
bool modelsWritten = false;

void store(uint8_t* at, const void* value, size_t size) { std::memcpy(at, value, size); }

uint8_t* ownerBytes(size_t model, int which) { return standInHost.base + kStandInOwnersRva + (model * 2 + which) * 64; }

}  // namespace

const SceneModel kStandardSceneModels[] = {
    {ModelPath::kRest, false, 0.0f, ModelOwner::kReadable, 0, 0},
    {ModelPath::kLine, false, 0.0f, ModelOwner::kReadable, 0, 0},
    {ModelPath::kArc, false, 0.0f, ModelOwner::kReadable, 0, 0},
    {ModelPath::kDoor, false, 0.0f, ModelOwner::kReadable, 0, 0},
    {ModelPath::kMirrored, false, 0.0f, ModelOwner::kReadable, 0, 0},
    {ModelPath::kScaled, false, 0.0f, ModelOwner::kReadable, 0, 0},
    {ModelPath::kStretched, false, 0.0f, ModelOwner::kReadable, 0, 0},
    {ModelPath::kTeleport, false, 0.0f, ModelOwner::kReadable, 0, 0},
    {ModelPath::kMirrorFlip, false, 0.0f, ModelOwner::kReadable, 0, 0},
    {ModelPath::kArc, true, 0.0f, ModelOwner::kReadable, 30, 5},      // world character
    {ModelPath::kRest, true, 0.0f, ModelOwner::kReadable, 256, 0},    // world crowd rig
    {ModelPath::kLine, true, 0.0f, ModelOwner::kNone, 64, 7},         // cinematic
    {ModelPath::kRest, true, 50.0f, ModelOwner::kReadable, 1, 0},     // first-person hands
    {ModelPath::kRest, true, 12.5f, ModelOwner::kUnreadable, 30, 0},  // first person, owner gone
    {ModelPath::kRest, true, 0.0f, ModelOwner::kUnreadable, 256, 3},  // no usable owner
};
const size_t kStandardSceneModelCount = sizeof kStandardSceneModels / sizeof kStandardSceneModels[0];

uint8_t* sceneRecord(size_t model) { return standInHost.base + kStandInModelsRva + model * kStandInModelStride; }

size_t sceneRecordLength(const SceneModel& model) {
  return model.skinned ? kStandInSkinnedLength : kStandInStaticLength;
}

size_t sceneModelOf(const void* record) {
  const uint8_t* first = sceneRecord(0);
  const auto* at = static_cast<const uint8_t*>(record);
  if (at < first || (at - first) % kStandInModelStride != 0) return kMostSceneModels;
  const size_t model = static_cast<size_t>(at - first) / kStandInModelStride;
  return model < kMostSceneModels ? model : kMostSceneModels;
}

WideMatrix pathMatrix(ModelPath path, size_t model, long double s, uint64_t tick) {
  const long double lane = 6.0L * static_cast<long double>(model);
  switch (path) {
    case ModelPath::kRest: return wideRotation(0, 0, 1, 15.0L + model, -20.0L + lane, 3.0L, 0.5L);
    case ModelPath::kLine: return wideRotation(0, 0, 1, 20.0L, 10.0L + 6.0L * s, -4.0L + lane + 2.0L * s, 1.5L);
    case ModelPath::kArc: {
      const long double a = 90.0L * s;  // degrees
      const long double r = a * ref::kPi / 180.0L;
      return wideRotation(0, 0, 1, a + 90.0L, 30.0L + 8.0L * std::cos(r), lane + 8.0L * std::sin(r), 0.25L);
    }
    case ModelPath::kDoor: {
      const WideMatrix hinge = wideRotation(0, 0, 1, 50.0L * std::sin(1.5L * s), -12.0L, lane, 0.0L);
      return wideProduct(hinge, wideRotation(1, 0, 0, 0.0L, 0.9L, 0.0L, 1.0L));
    }
    case ModelPath::kMirrored:
      return wideScaledColumns(wideRotation(0.6L, 0.0L, 0.8L, 10.0L + 30.0L * s, 2.0L - 3.0L * s, lane, 4.0L), -1.0L,
                               1.0L, 1.0L);
    case ModelPath::kScaled:
      return wideScaledColumns(wideRotation(0, 1, 0, 25.0L * s, 5.0L + 4.0L * s, lane, -2.0L), 1.5L, 1.5L, 1.5L);
    case ModelPath::kStretched:
      return wideScaledColumns(wideRotation(0, 0, 1, 40.0L * s, 1.0L + 2.0L * s, lane, 0.0L), 1.0L, 1.3L, 1.0L);
    case ModelPath::kTeleport:
      return wideRotation(0, 0, 1, -30.0L, 7.0L * s + (tick >= kTeleportTick ? 100.0L : 0.0L), lane, 2.0L);
    case ModelPath::kMirrorFlip: {
      const WideMatrix m = wideRotation(0, 0, 1, 60.0L, -5.0L + 5.0L * s, lane, 1.0L);
      return tick >= kMirrorFlipTick ? wideScaledColumns(m, -1.0L, 1.0L, 1.0L) : m;
    }
  }
  return wideIdentity();
}

WideMatrix derivedFactor(int which) {
  return which == 1 ? wideRotation(0, 1, 0, 35.0L, 0.5L, -1.0L, 2.0L) : wideRotation(1, 0, 0, -20.0L, 0.0L, 3.0L, 1.0L);
}

void writeModelFields(uint8_t* record, const SceneModel& m, size_t salt, const uint8_t* owner, const uint8_t* asset) {
  const uint8_t* identity = standInHost.base + (m.skinned ? kStandInSkinnedClassRva : kStandInStaticClassRva);
  store(record, &identity, 8);
  for (size_t b = 8; b < sceneRecordLength(m); ++b)  // host bytes that tell positions apart
    if (b < 0x20 || b >= 0x220) record[b] = static_cast<uint8_t>(b * 7 + salt);
  store(record + kStandInDepthOffset, &m.depth, 4);
  store(record + kStandInOwnerOffset, &owner, 8);
  if (!m.skinned) return;
  const uint32_t padded = ((m.joints + 7) / 8 * 8) | kPaddedHostBits;
  store(record + kStandInJointsOffset, &m.joints, 4);
  store(record + kStandInAssetOffset, &asset, 8);
  store(record + kStandInPaddedOffset, &padded, 4);
}

void writeModelSlots(uint8_t* record, const WideMatrix& w, bool first) {
  const WideMatrix forms[4] = {w, wideInverse(w), wideProduct(derivedFactor(1), w), wideProduct(derivedFactor(2), w)};
  float current[4][16];
  for (int k = 0; k < 4; ++k) narrowMatrix(forms[k], current[k]);
  for (int k = 0; k < 4; ++k) {
    // The previous group is what the current one was on the frame before.
    const uint8_t* previous = first ? reinterpret_cast<const uint8_t*>(current[k]) : record + kStandInCurrentSlots[k];
    std::memmove(record + kStandInPreviousSlots[k], previous, 64);
    std::memcpy(record + kStandInCurrentSlots[k], current[k], 64);
  }
}

void startModels(const ModelScene& scene) {
  std::memset(sceneRecord(0), 0, kMostSceneModels * kStandInModelStride);
  std::memset(ownerBytes(0, 0), 0, kMostSceneModels * 2 * 64);
  std::memset(received, 0, sizeof received);
  modelsWritten = false;
  for (size_t i = 0; i < scene.count && i < kMostSceneModels; ++i) {
    const SceneModel& m = scene.models[i];
    const uint8_t* owner = m.owner == ModelOwner::kReadable ? ownerBytes(i, 0)
                           : m.owner == ModelOwner::kNone   ? nullptr
                                                            : reinterpret_cast<const uint8_t*>(kUnreadableOwner);
    writeModelFields(sceneRecord(i), m, i, owner, ownerBytes(i, 1));
  }
}

void writeModelsForFrame(const ModelScene& scene, uint64_t tick, uint32_t simulationHz) {
  const long double seconds = static_cast<long double>(tick) / simulationHz;
  for (size_t i = 0; i < scene.count && i < kMostSceneModels; ++i)
    writeModelSlots(sceneRecord(i), pathMatrix(scene.models[i].path, i, seconds, tick), !modelsWritten);
  modelsWritten = true;
}

ReceivedCopy& receivedCopy(size_t model) { return received[model]; }

uint64_t sceneGpuCopy(const GpuCopyCall& call) {
  if (call.block == nullptr) return 0;
  uint64_t marker;
  const uint8_t* record;
  std::memcpy(&marker, call.block, 8);
  std::memcpy(&record, call.block + 8, 8);
  const uint64_t model = marker ^ kSceneBlockMarker;
  if (model >= kMostSceneModels || record == nullptr) return 0;
  ReceivedCopy& r = received[model];
  const uint8_t* identity;
  std::memcpy(&identity, record, 8);
  const bool skinned = identity == standInHost.base + kStandInSkinnedClassRva;
  r.calls += 1;
  r.record = record;
  std::memcpy(r.bytes, record, skinned ? kStandInSkinnedLength : kStandInStaticLength);
  return kSceneGpuCopyResult + model;
}
