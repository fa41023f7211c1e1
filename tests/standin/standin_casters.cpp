#include "tests/standin/standin_casters.h"

#include <cstring>

#include "tests/standin/standin_host.h"

namespace {

CasterList lists[2];
ReceivedList receivedLists[2];
uint8_t* copyOf = nullptr;  // the copied matrix
size_t copiedModel = kMostSceneModels;

uint8_t* region(uint64_t offset) { return standInHost.base + kStandInCastersRva + offset; }

void addCaster(CasterList& list, size_t model, bool copy, const void* transform) {
  list.casters[list.count] = {model, copy, transform};
  writeCasterEntry(list.entries, list.count, transform);
  ++list.count;
}

void finishHeader(CasterList& list, uint32_t hostData) {
  writeCasterHeader(list.header, list.entries, list.count, hostData);
}

}  // namespace

void writeCasterEntry(uint8_t* entries, uint32_t index, const void* transform) {
  uint8_t* entry = entries + static_cast<size_t>(index) * kStandInCasterBytes;
  for (size_t b = 0; b < kStandInCasterBytes; ++b) entry[b] = static_cast<uint8_t>(0x30 + b + 5 * index);
  std::memcpy(entry + 8, &transform, 8);
}

void writeCasterHeader(uint8_t* header, const uint8_t* entries, uint32_t count, uint32_t hostData) {
  const uint32_t word = count | kCasterCountHostBits;
  std::memcpy(header, &entries, 8);
  std::memcpy(header + 8, &word, 4);
  std::memcpy(header + 12, &hostData, 4);
}

void startCasters(const ModelScene& scene) {
  std::memset(region(0), 0, 0x10000);
  std::memset(lists, 0, sizeof lists);
  clearReceivedLists();
  for (int which = 0; which < 2; ++which) {
    lists[which].header = region(which * 0x20);
    lists[which].entries = region(0x100 + which * 0x1000);
  }
  copyOf = region(0x3000);
  copiedModel = kMostSceneModels;
  const size_t models = scene.count < kMostSceneModels ? scene.count : kMostSceneModels;
  for (size_t i = 0; i < models; ++i) addCaster(lists[0], i, false, sceneRecord(i) + kStandInCurrentSlots[0]);
  addCaster(lists[0], kMostSceneModels, false, nullptr);
  addCaster(lists[0], kMostSceneModels, false, reinterpret_cast<const void*>(kUnreadableTransform));
  for (size_t i = 0; i < models && copiedModel == kMostSceneModels; ++i)
    if (!scene.models[i].skinned && scene.models[i].path != ModelPath::kRest) copiedModel = i;
  if (copiedModel != kMostSceneModels) addCaster(lists[1], copiedModel, true, copyOf);
  for (size_t i = 0; i < models; ++i)
    if (scene.models[i].skinned) addCaster(lists[1], i, false, sceneRecord(i) + kStandInCurrentSlots[0]);
  addCaster(lists[1], kMostSceneModels, false, nullptr);
  finishHeader(lists[0], 0x13572468u);
  finishHeader(lists[1], 0x24681357u);
}

CasterList& sceneCasterList(int which) { return lists[which]; }

void writeCastersForFrame() {
  if (copiedModel != kMostSceneModels) std::memcpy(copyOf, sceneRecord(copiedModel) + kStandInCurrentSlots[0], 64);
}

ReceivedList& receivedList(int which) { return receivedLists[which]; }

void clearReceivedLists() { std::memset(receivedLists, 0, sizeof receivedLists); }

uint64_t sceneShadowBuild(int which, const ShadowBuildCall& call) {
  ReceivedList& r = receivedLists[which];
  r.calls += 1;
  if (call.list == nullptr) return kSceneShadowResult + which;
  std::memcpy(r.header, call.list, 16);
  const uint8_t* entries;
  uint32_t word;
  std::memcpy(&entries, r.header, 8);
  std::memcpy(&word, r.header + 8, 4);
  r.count = word & 0x00FFFFFFu;
  if (r.count > kMostCasters) return kSceneShadowResult + which;
  std::memcpy(r.entries, entries, r.count * kStandInCasterBytes);
  for (uint32_t i = 0; i < r.count; ++i) {
    const uint8_t* transform;
    std::memcpy(&transform, entries + i * kStandInCasterBytes + 8, 8);
    r.transforms[i] = transform;
    // The host reads what it can: the stand-in knows its own bad pointers.
    if (transform != nullptr && transform != reinterpret_cast<const uint8_t*>(kUnreadableTransform))
      std::memcpy(r.values[i], transform, 64);
  }
  return kSceneShadowResult + which;
}
