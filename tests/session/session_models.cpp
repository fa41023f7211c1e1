#include "tests/session/session_models.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "tests/standin/standin_casters.h"
#include "tests/standin/standin_host.h"
#include "tests/standin/standin_models.h"
#include "tests/standin/standin_palettes.h"

namespace {

constexpr size_t kStaticStride = 0x1D00;   // a static record, rounded up
constexpr size_t kSkinnedStride = 0x2200;  // a skinned record, rounded up
constexpr size_t kOwnerBytes = 64;
constexpr size_t kListHeaderBytes = 64;
constexpr float kHandsDepth = 50.0f;
constexpr double kExtrapolationCap = 0.008333334;
// A mirrored model may come out this much further from the truth than the
// game drew it before it counts as streaking.
constexpr double kMirroredSlack = 1e-3;
constexpr uint32_t kChurnGroups = 8;
constexpr uint32_t kCharacterJointsHostData = 0x5AD0CA57u;
// The heap layout: each object behind a block header, on the heap's 16-byte grain.
constexpr size_t kHeapHeaderBytes = 16;
constexpr size_t kHeapGrain = 16;
constexpr uint64_t kHeapOrderSeed = 0x4EA9C0DEull;

struct Item {
  uint8_t* record;
  size_t slot;  // static items: index of the record slot in use
  bool first;   // its slot groups have not been written yet
};

// Where every object of the scene lives.
struct Layout {
  std::vector<uint8_t*> staticRecords;  // per slot
  std::vector<uint8_t*> skinnedRecords;
  std::vector<uint8_t*> owners;  // two per item
  std::vector<uint8_t*> palettes;
  uint8_t* headers[2];
  uint8_t* entries[2];
};

struct State {
  SessionScene scene;
  Layout at;
  size_t staticSlots;
  size_t paletteStride;
  std::vector<PathKind> kinds;  // per world model
  uint32_t counts[2];
  std::vector<Item> items;
  std::vector<bool> slotUsed;
  std::vector<size_t> freeSlots;  // ring (FIFO) of the records no item holds; always full
  size_t freeHead;
  std::vector<float> receivedWorld;  // 16 per item
  std::vector<const uint8_t*> receivedRecord;
  std::vector<void*> outSlots;
  std::vector<float> receivedPalette;     // paletteStride / 4 per character
  std::vector<float> receivedCasters[2];  // 16 per entry
  std::vector<PreviousShown> shownWorld, shownHands, shownJoints, shownShadows;
  uint64_t tick;
  uint64_t previousTick;  // the tick shown before the current one
  bool anyTick;
  SessionChurn churn;
  double traceTruth, tracePresented;
};

State state;

const char* shadowRowName(PathKind kind) {
  static const char* const kNames[kPathKindCount] = {
      "shadow-camera", "shadow-hands",    "shadow-line",    "shadow-arc",   "shadow-door", "shadow-mirrored",
      "shadow-scaled", "shadow-teleport", "shadow-sheared", "shadow-joint", "shadow-still"};
  return kind < kPathKindCount ? kNames[kind] : "shadow-other";
}

uint32_t worldModels() { return state.scene.worldModels; }
PathKind worldKind(size_t item) { return state.kinds[item]; }
size_t firstCharacter() { return static_cast<size_t>(state.scene.worldModels) + state.scene.hands; }

size_t alignUp(size_t n) { return (n + 63) / 64 * 64; }

size_t spareSlots(const SessionScene& s) { return s.churnEvery != 0 ? s.worldModels / kChurnGroups + 8 : 0; }
size_t staticSlotsOf(const SessionScene& s) { return s.worldModels + spareSlots(s) + s.hands; }
size_t itemsOf(const SessionScene& s) { return static_cast<size_t>(s.worldModels) + s.hands + s.skinned; }
size_t paletteStrideOf(const SessionScene& s) {
  return alignUp(paddedJoints(s.joints) * kStandInEntryFloats * sizeof(float));
}
size_t regionsOf(const SessionScene& s) { return s.heapRegions != 0 ? s.heapRegions : 1; }

// splitmix64, for the heap's allocation order.
uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Places every object: packed, each kind in one block of the one region, in
// item order (heap_regions 0); or as a game's heap leaves them, each object
// allocated on its own in an order unrelated to the items, the allocations
// dealt over the regions in turn: neighbours in memory belong to unrelated
// items, and an item's record, owners and palette mostly lie in different
// regions.
// With null `regions` nothing is written and the return value is the bytes
// each region needs.
size_t layOut(const SessionScene& s, uint8_t* const* regions, Layout* out) {
  const size_t slots = staticSlotsOf(s), items = itemsOf(s), stride = paletteStrideOf(s);
  Layout l;
  l.staticRecords.assign(slots, nullptr);
  l.skinnedRecords.assign(s.skinned, nullptr);
  l.owners.assign(items * 2, nullptr);
  l.palettes.assign(s.skinned, nullptr);
  struct Object {
    uint8_t** where;
    size_t bytes;
    int block;  // packed: objects of one block lie back to back
  };
  std::vector<Object> objects;
  for (size_t i = 0; i < slots; ++i) objects.push_back({&l.staticRecords[i], kStaticStride, 0});
  for (size_t c = 0; c < s.skinned; ++c) objects.push_back({&l.skinnedRecords[c], kSkinnedStride, 1});
  for (size_t o = 0; o < items * 2; ++o) objects.push_back({&l.owners[o], kOwnerBytes, 2});
  for (size_t c = 0; c < s.skinned; ++c) objects.push_back({&l.palettes[c], stride, 3});
  for (int list = 0; list < 2; ++list) objects.push_back({&l.headers[list], kListHeaderBytes, 4});
  objects.push_back({&l.entries[0], s.casters * kStandInCasterBytes, 5});
  objects.push_back({&l.entries[1], s.skinned * kStandInCasterBytes, 6});

  std::vector<size_t> used(regionsOf(s), 0);
  if (s.heapRegions == 0) {
    // Block after block, each on a 64-byte boundary.
    for (size_t k = 0; k < objects.size(); ++k) {
      if (k == 0 || objects[k].block != objects[k - 1].block) used[0] = alignUp(used[0]);
      *objects[k].where = regions != nullptr ? regions[0] + used[0] : nullptr;
      used[0] += objects[k].bytes;
    }
    used[0] = alignUp(used[0]);
  } else {
    std::vector<std::pair<uint64_t, size_t>> order;
    for (size_t k = 0; k < objects.size(); ++k) order.push_back({mix(kHeapOrderSeed ^ k), k});
    std::sort(order.begin(), order.end());
    for (size_t n = 0; n < order.size(); ++n) {
      const Object& o = objects[order[n].second];
      const size_t r = n % used.size();
      used[r] += kHeapHeaderBytes;
      *o.where = regions != nullptr ? regions[r] + used[r] : nullptr;
      used[r] += (o.bytes + kHeapGrain - 1) / kHeapGrain * kHeapGrain;
    }
  }
  if (out != nullptr) *out = std::move(l);
  return *std::max_element(used.begin(), used.end());
}

WideMatrix wide(const PathPose& p) {
  WideMatrix w;
  for (int k = 0; k < 16; ++k) w.m[k] = p.m[k];
  return w;
}

PathPose fromFloats(const float* m, int rows) {
  PathPose p{};
  for (int k = 0; k < rows * 4; ++k) p.m[k] = m[k];
  if (rows == 3) p.m[15] = 1.0;
  return p;
}

double seconds(uint64_t tick) { return static_cast<double>(tick) / state.scene.simulationHz; }

uint8_t* ownerOf(size_t item, int which) { return state.at.owners[item * 2 + which]; }
uint8_t* staticRecord(size_t slot) { return state.at.staticRecords[slot]; }
float* palette(size_t character) { return reinterpret_cast<float*>(state.at.palettes[character]); }

SceneModel worldSceneModel() { return {ModelPath::kLine, false, 0.0f, ModelOwner::kReadable, 0, 0}; }

void placeItem(size_t item, size_t slot) {
  Item& it = state.items[item];
  const bool hands = item >= worldModels();
  SceneModel m = worldSceneModel();
  if (hands) m.depth = kHandsDepth;
  it.record = staticRecord(slot);
  it.slot = slot;
  it.first = true;
  std::memset(it.record, 0, kStaticStride);
  writeModelFields(it.record, m, item * 13 + slot, ownerOf(item, 0), nullptr);
  state.slotUsed[slot] = true;
}

void writeCharacterRecord(size_t c) {
  SceneModel m{ModelPath::kRest, true, 0.0f, ModelOwner::kReadable, state.scene.joints, 0};
  uint8_t* record = state.at.skinnedRecords[c];
  const size_t item = firstCharacter() + c;
  writeModelFields(record, m, item, ownerOf(item, 0), ownerOf(item, 1));
  float* p = palette(c);
  std::memcpy(record + kStandInPaletteOffset, &p, 8);
  record[kStandInUploadPendingOffset] = 1;
  record[kStandInPaletteFlagsOffset] = kScenePaletteFlags;
  state.items[item] = {record, 0, true};
}

void pointCasters(size_t item) {
  const uint32_t n = worldModels();
  const uint8_t* transform = state.items[item].record + kStandInCurrentSlots[0];
  for (size_t c = item; c < state.counts[0]; c += n)
    writeCasterEntry(state.at.entries[0], static_cast<uint32_t>(c), transform);
}

void churn(uint64_t generation) {
  for (size_t i = generation % kChurnGroups; i < worldModels(); i += kChurnGroups) {
    if (state.freeSlots.empty()) return;
    // The oldest free record is taken and the retired one takes its place at the ring's end.
    const size_t next = state.freeSlots[state.freeHead];
    Item& it = state.items[i];
    std::memset(it.record, 0, 8);  // freed: no class identity any more
    state.freeSlots[state.freeHead] = it.slot;
    state.freeHead = (state.freeHead + 1) % state.freeSlots.size();
    const bool reused = state.slotUsed[next];
    placeItem(i, next);
    pointCasters(i);
    ++state.churn.retired;
    (reused ? state.churn.reused : state.churn.fresh) += 1;
  }
}

uint64_t gpuCopyBehaviour(const GpuCopyCall& call) {
  if (call.block == nullptr) return 0;
  uint64_t marker;
  const uint8_t* record;
  std::memcpy(&marker, call.block, 8);
  std::memcpy(&record, call.block + 8, 8);
  const uint64_t item = marker ^ kSceneBlockMarker;
  if (item >= state.items.size() || record == nullptr) return 0;
  state.receivedRecord[item] = record;
  std::memcpy(&state.receivedWorld[item * 16], record + kStandInCurrentSlots[0], 64);
  return kSceneGpuCopyResult + item;
}

uint64_t uploadBehaviour(const PoseUploadCall& call) {
  const std::vector<uint8_t*>& records = state.at.skinnedRecords;
  const size_t c = static_cast<size_t>(std::find(records.begin(), records.end(), call.record) - records.begin());
  if (c >= state.scene.skinned || static_cast<int8_t>(call.record[kStandInUploadPendingOffset]) <= 0) return 0;
  const float* p;
  std::memcpy(&p, call.record + kStandInPaletteOffset, 8);
  std::memcpy(&state.receivedPalette[c * state.paletteStride / 4], p, state.paletteStride);
  return call.value + 1;
}

uint64_t shadowBehaviour(int which, const ShadowBuildCall& call) {
  if (call.list == nullptr) return 0;
  const uint8_t* entries;
  uint32_t word;
  std::memcpy(&entries, call.list, 8);
  std::memcpy(&word, static_cast<const uint8_t*>(call.list) + 8, 4);
  const uint32_t count = word & 0x00FFFFFFu;
  if (count != state.counts[which]) return 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* transform;
    std::memcpy(&transform, entries + static_cast<size_t>(i) * kStandInCasterBytes + 8, 8);
    if (transform != nullptr) std::memcpy(&state.receivedCasters[which][i * 16], transform, 64);
  }
  return kSceneShadowResult + which;
}

double distance3(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

void measure(SessionSummary& summary, const char* rowName, const PathPose& presented, const PathPose& truth,
             PreviousShown& previous, double residual, bool violation) {
  RowFigures* row = measureShown(summary, rowName, presented, truth, previous);
  if (row == nullptr) return;
  row->residualSum += residual;
  row->violations += violation ? 1 : 0;
}

double determinant(const PathPose& p) {
  const double* m = p.m;
  return m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) + m[2] * (m[4] * m[9] - m[5] * m[8]);
}

// Every n-th of `count`, n chosen prime to the kinds' cycle so that each kind is measured.
size_t strideFor(size_t count) {
  size_t n = (count + kMeasuredPerFrame - 1) / kMeasuredPerFrame;
  if (n <= 1) return 1;
  while (n % 2 == 0 || n % 3 == 0 || n % 7 == 0) ++n;
  return n;
}

}  // namespace

size_t sessionRegionBytes(const SessionScene& s) { return layOut(s, nullptr, nullptr); }

size_t sessionModelBytes(const SessionScene& s) { return sessionRegionBytes(s) * regionsOf(s); }

bool startSessionModels(const SessionScene& scene, uint8_t* area, size_t bytes) {
  if (bytes < sessionModelBytes(scene)) return false;
  std::vector<uint8_t*> regions;
  for (size_t r = 0; r < regionsOf(scene); ++r) regions.push_back(area + r * sessionRegionBytes(scene));
  return startSessionModelsInRegions(scene, regions.data(), sessionRegionBytes(scene));
}

bool startSessionModelsInRegions(const SessionScene& scene, uint8_t* const* regions, size_t regionBytes) {
  if (regionBytes < sessionRegionBytes(scene) || scene.joints == 0 || scene.joints > 256 || scene.casters > 0xFFFFFF ||
      (scene.casters != 0 && scene.worldModels == 0))
    return false;
  State& s = state;
  s.scene = scene;
  layOut(scene, regions, &s.at);
  s.staticSlots = staticSlotsOf(scene);
  s.paletteStride = paletteStrideOf(scene);
  s.counts[0] = scene.casters;
  s.counts[1] = scene.skinned;
  // The moving models are spread evenly among the still ones and cycle the paths.
  s.kinds.assign(scene.worldModels, kPathStill);
  const double moving = 1.0 - scene.still;
  for (size_t i = 0, n = 0; i < scene.worldModels; ++i)
    if (static_cast<size_t>(std::floor((i + 1) * moving + 1e-9)) > n)
      s.kinds[i] = kWorldModelKinds[n++ % kWorldModelKindCount];
  const size_t items = itemsOf(scene);

  s.items.assign(items, Item{});
  s.slotUsed.assign(s.staticSlots, false);
  s.freeSlots.clear();
  s.freeHead = 0;
  for (size_t slot = scene.worldModels + scene.hands; slot < s.staticSlots; ++slot) s.freeSlots.push_back(slot);
  s.receivedWorld.assign(items * 16, 0.0f);
  s.receivedRecord.assign(items, nullptr);
  s.outSlots.assign(items, nullptr);
  s.receivedPalette.assign(scene.skinned * s.paletteStride / 4, 0.0f);
  s.receivedCasters[0].assign(static_cast<size_t>(scene.casters) * 16, 0.0f);
  s.receivedCasters[1].assign(static_cast<size_t>(scene.skinned) * 16, 0.0f);
  s.shownWorld.assign(scene.worldModels, PreviousShown{});
  s.shownHands.assign(scene.hands, PreviousShown{});
  s.shownJoints.assign(static_cast<size_t>(scene.skinned) * scene.joints, PreviousShown{});
  s.shownShadows.assign(scene.casters, PreviousShown{});
  s.anyTick = false;
  s.tick = s.previousTick = 0;
  s.churn = SessionChurn{};
  s.traceTruth = s.tracePresented = std::numeric_limits<double>::quiet_NaN();

  for (size_t i = 0; i < scene.worldModels + scene.hands; ++i) placeItem(i, i);
  for (size_t c = 0; c < scene.skinned; ++c) writeCharacterRecord(c);
  for (size_t i = 0; i < scene.worldModels; ++i) pointCasters(i);
  for (size_t c = 0; c < scene.skinned; ++c)
    writeCasterEntry(s.at.entries[1], static_cast<uint32_t>(c),
                     s.items[firstCharacter() + c].record + kStandInCurrentSlots[0]);
  writeCasterHeader(s.at.headers[0], s.at.entries[0], s.counts[0], 0x13572468u);
  writeCasterHeader(s.at.headers[1], s.at.entries[1], s.counts[1], kCharacterJointsHostData);

  standInHost.gpuCopyBehaviour = gpuCopyBehaviour;
  standInHost.poseUploadBehaviour = uploadBehaviour;
  standInHost.shadowBuildBehaviour = shadowBehaviour;
  return true;
}

void writeSessionModels(uint64_t frame, uint64_t tick) {
  State& s = state;
  if (s.scene.churnEvery != 0 && frame != 0 && frame % s.scene.churnEvery == 0) churn(frame / s.scene.churnEvery);
  const bool newTick = !s.anyTick || tick != s.tick;
  if (newTick && s.anyTick) s.previousTick = s.tick;
  s.anyTick = true;
  s.tick = tick;
  const double t = seconds(tick);
  for (size_t i = 0; i < s.items.size(); ++i) {
    Item& it = s.items[i];
    PathPose pose;
    if (i < worldModels()) pose = pathPose(worldKind(i), static_cast<uint32_t>(i), t);
    else if (i < firstCharacter()) pose = pathPose(kPathHands, static_cast<uint32_t>(i - worldModels()), t);
    else pose = pathPose(kPathJoint, static_cast<uint32_t>(i), 0.0);  // characters stand; their joints move
    writeModelSlots(it.record, wide(pose), it.first);
    it.first = false;
  }
  for (size_t c = 0; c < s.scene.skinned; ++c) {
    uint8_t* record = s.items[firstCharacter() + c].record;
    record[kStandInUploadPendingOffset] = 1;
    record[kStandInPaletteFlagsOffset] = kScenePaletteFlags;
    if (!newTick) continue;
    float* p = palette(c);
    const uint32_t joints = s.scene.joints;
    for (uint32_t j = 0; j < paddedJoints(joints); ++j) {
      float* entry = p + j * kStandInEntryFloats;
      if (j >= joints) {
        for (size_t e = 0; e < kStandInEntryFloats; ++e) entry[e] = static_cast<float>(1000 + 13 * j + e);
        continue;
      }
      const PathPose pose = pathPose(kPathJoint, static_cast<uint32_t>(c * joints + j), t);
      for (size_t e = 0; e < kStandInEntryFloats; ++e) entry[e] = static_cast<float>(pose.m[e]);
    }
  }
}

size_t sessionDrawnItems() { return state.items.size(); }

uint64_t drawSessionItem(size_t item) {
  alignas(16) uint8_t block[16];
  const uint64_t marker = kSceneBlockMarker | item;
  const uint8_t* record = state.items[item].record;
  std::memcpy(block, &marker, 8);
  std::memcpy(block + 8, &record, 8);
  state.receivedRecord[item] = nullptr;
  state.outSlots[item] = &state.outSlots[item];
  return gameCallsGpuCopy(&state.outSlots[item], 0x77 + item, 0.5f, block);
}

size_t sessionCharacters() { return state.scene.skinned; }

uint64_t uploadSessionCharacter(size_t c) {
  return gameCallsPoseUpload(state.items[firstCharacter() + c].record, 0x900 + c);
}

uint64_t buildSessionShadows(int list) {
  if (state.counts[list] == 0) return 0;
  return list == 0 ? gameCallsShadowBuild0(1, 2, state.at.headers[0], 4, 5, 6.0f)
                   : gameCallsShadowBuild1(1, 2, state.at.headers[1], 4, 5, 6.0f, 7, 8);
}

void measureSessionModels(SessionSummary& summary, const SessionFrame& f) {
  State& s = state;
  const double shown = f.presentationTime - kSessionStartTime;
  const double lead = f.presentationTime - f.sampleTime;
  const double beyondCap = lead > kExtrapolationCap ? lead - kExtrapolationCap : 0.0;
  const bool jumpPossible = s.previousTick != s.tick;
  const size_t n = worldModels();
  const size_t step = strideFor(n);
  for (size_t i = 0; i < n; i += step) {
    const PathKind kind = worldKind(i);
    const uint8_t* host = s.items[i].record + kStandInCurrentSlots[0];
    const float* got = &s.receivedWorld[i * 16];
    const PathPose presented = fromFloats(got, 4);
    const PathPose truth = pathPose(kind, static_cast<uint32_t>(i), shown);
    const bool asDrawn = std::memcmp(got, host, 64) == 0;
    bool violation = s.receivedRecord[i] == nullptr;  // the GPU copy never ran
    double residual = 0.0;
    if (kind == kPathLine) residual = pathSpeed(kind, static_cast<uint32_t>(i), shown) * beyondCap;
    if (kind == kPathScaled || kind == kPathSheared) violation |= !asDrawn;  // never interpolated
    if (kind == kPathTeleport && jumpPossible &&
        pathPiece(kind, static_cast<uint32_t>(i), seconds(s.previousTick)) !=
            pathPiece(kind, static_cast<uint32_t>(i), seconds(s.tick)))
      violation |= !asDrawn;
    if (kind == kPathMirrored) {
      float hostFloats[16];
      std::memcpy(hostFloats, host, 64);
      const PathPose drawn = fromFloats(hostFloats, 4);
      double a[3], b[3], t[3];
      poseTranslation(presented, a);
      poseTranslation(drawn, b);
      poseTranslation(truth, t);
      violation |= determinant(presented) >= 0.0 || distance3(a, t) > distance3(b, t) + kMirroredSlack;
    }
    measure(summary, pathKindName(kind), presented, truth, s.shownWorld[i], residual, violation);
    if (i == 0) {
      s.traceTruth = truth.m[3];
      s.tracePresented = presented.m[3];
    }
  }
  for (size_t h = 0; h < s.scene.hands; ++h) {
    const size_t item = n + h;
    measure(summary, "hands", fromFloats(&s.receivedWorld[item * 16], 4),
            pathPose(kPathHands, static_cast<uint32_t>(h), shown), s.shownHands[h], 0.0,
            s.receivedRecord[item] == nullptr);
  }
  const size_t joints = static_cast<size_t>(s.scene.skinned) * s.scene.joints;
  const size_t floatsPerCharacter = s.paletteStride / 4;
  for (size_t k = 0, jstep = strideFor(joints); k < joints; k += jstep) {
    const size_t c = k / s.scene.joints, j = k % s.scene.joints;
    const float* entry = &s.receivedPalette[c * floatsPerCharacter + j * kStandInEntryFloats];
    measure(summary, "joint-line", fromFloats(entry, 3), pathPose(kPathJoint, static_cast<uint32_t>(k), shown),
            s.shownJoints[k], 0.0, false);
  }
  for (size_t c = 0, cstep = strideFor(s.counts[0]); c < s.counts[0]; c += cstep) {
    const size_t model = c % n;
    const PathKind kind = worldKind(model);
    const double residual = kind == kPathLine ? pathSpeed(kind, static_cast<uint32_t>(model), shown) * beyondCap : 0.0;
    measure(summary, shadowRowName(kind), fromFloats(&s.receivedCasters[0][c * 16], 4),
            pathPose(kind, static_cast<uint32_t>(model), shown), s.shownShadows[c], residual, false);
  }
}

void sessionModelTrace(double* truthX, double* presentedX) {
  *truthX = state.traceTruth;
  *presentedX = state.tracePresented;
}

SessionChurn sessionChurn() { return state.churn; }

RowFigures* measureShown(SessionSummary& summary, const char* rowName, const PathPose& presented, const PathPose& truth,
                         PreviousShown& previous) {
  RowFigures* row = summaryRow(summary, rowName);
  if (row == nullptr) return nullptr;
  const int index = static_cast<int>(row - summary.rows);
  double p[3], t[3];
  poseTranslation(presented, p);
  poseTranslation(truth, t);
  addPositionError(*row, distance3(p, t));
  addRotationError(*row, rotationDegreesBetween(presented, truth));
  if (previous.valid && previous.row == index)
    addStep(*row, distance3(p, previous.presented), distance3(t, previous.truth));
  previous.valid = true;
  previous.row = index;
  std::memcpy(previous.presented, p, sizeof p);
  std::memcpy(previous.truth, t, sizeof t);
  return row;
}
