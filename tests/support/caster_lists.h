// Host caster lists for the shadow proxies: a 16-byte header, an entry array of
// 48-byte entries with recognisable host bytes, and the casters' transforms.
#pragma once
#include <cstdint>
#include <vector>

#include "math/types.h"

using namespace corvane::math;

struct TestCasterList {
  uint8_t* header;
  uint8_t* entries;
  std::vector<Matrix4x4*> transforms;  // null where the entry has none

  uint32_t count() const { return static_cast<uint32_t>(transforms.size()); }
  std::vector<uint8_t> entryBytes() const;
  std::vector<Matrix4x4> transformValues() const;
};

// `count` casters at the placements x = 1, 2, 3, ... ; `nullEvery` > 0 leaves
// every nullEvery-th entry without a transform. The count word's high byte and
// the header's last four bytes carry host data.
TestCasterList newCasterList(uint32_t count, uint32_t nullEvery = 0, uint32_t countHighByte = 0x01);
