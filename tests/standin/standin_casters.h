// Shadow caster lists of the stand-in game, one per caster-list build: a
// 16-byte header (entry array, a count word whose low 24 bits count the
// entries and whose high byte is host data, four more host bytes) and
// 48-byte entries whose transform pointers point at the scene's model records
// (+0x20, the current world matrix), at a copy of a model's world matrix kept
// elsewhere (found only by its contents), or nowhere (null, or an address
// that cannot be read). The build behaviour keeps what each build received:
// the header, the entries and the 64 bytes behind every readable pointer.
#pragma once
#include <cstddef>
#include <cstdint>

#include "tests/standin/standin_models.h"

constexpr uint64_t kStandInCastersRva = 0x1600000;
constexpr size_t kMostCasters = 64;
constexpr size_t kStandInCasterBytes = 48;
constexpr uint32_t kCasterCountHostBits = 0x7E000000u;
constexpr uint64_t kUnreadableTransform = 0x80;

// What an entry of a list stands for.
struct CasterInfo {
  size_t model;  // the scene model whose transform it shows; kMostSceneModels: none
  bool copy;     // points at a copy of the model's matrix, not into its record
  const void* transform;
};

struct CasterList {
  uint8_t* header;
  uint8_t* entries;
  uint32_t count;
  CasterInfo casters[kMostCasters];
};

// Entry `index` of an entry array: host bytes around the transform pointer.
void writeCasterEntry(uint8_t* entries, uint32_t index, const void* transform);
// A list header naming `count` entries at `entries`, with host data.
void writeCasterHeader(uint8_t* header, const uint8_t* entries, uint32_t count, uint32_t hostData);

// List 0: every model's record, then a null and an unreadable pointer. List 1:
// a copy of the first moving static model's matrix, every skinned model's
// record, and a null pointer.
void startCasters(const ModelScene& scene);
CasterList& sceneCasterList(int which);
// Refreshes the copies from the records (after writeModelsForFrame).
void writeCastersForFrame();

struct ReceivedList {
  uint32_t calls;
  uint8_t header[16];
  uint32_t count;
  uint8_t entries[kMostCasters * kStandInCasterBytes];
  const void* transforms[kMostCasters];
  float values[kMostCasters][16];  // behind the readable pointers
};
ReceivedList& receivedList(int which);
void clearReceivedLists();
// The build behaviour; returns a value that names the build.
uint64_t sceneShadowBuild(int which, const struct ShadowBuildCall& call);
constexpr uint64_t kSceneShadowResult = 0x5AD0;
