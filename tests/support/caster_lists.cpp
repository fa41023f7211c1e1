#include "tests/support/caster_lists.h"

#include <cstring>

#include "tests/support/model_host.h"

std::vector<uint8_t> TestCasterList::entryBytes() const { return {entries, entries + count() * 48}; }

std::vector<Matrix4x4> TestCasterList::transformValues() const {
  std::vector<Matrix4x4> values;
  for (Matrix4x4* t : transforms) values.push_back(t != nullptr ? *t : Matrix4x4{});
  return values;
}

TestCasterList newCasterList(uint32_t count, uint32_t nullEvery, uint32_t countHighByte) {
  TestCasterList list;
  list.header = allocateHostBytes(16);
  list.entries = allocateHostBytes(static_cast<size_t>(count) * 48 + 48);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* entry = list.entries + static_cast<size_t>(i) * 48;
    for (int b = 0; b < 48; ++b) entry[b] = static_cast<uint8_t>(i * 7 + b);
    Matrix4x4* transform = nullptr;
    if (nullEvery == 0 || (i + 1) % nullEvery != 0) {
      transform = reinterpret_cast<Matrix4x4*>(allocateHostBytes(64));
      *transform = placementMatrix({0, 1.0 + i, 0.5, -0.25});
    }
    std::memcpy(entry + 8, &transform, 8);
    list.transforms.push_back(transform);
  }
  std::memcpy(list.header, &list.entries, 8);
  const uint32_t countWord = (countHighByte << 24) | count;
  std::memcpy(list.header + 8, &countWord, 4);
  const uint32_t hostData = 0xABCD1234;
  std::memcpy(list.header + 12, &hostData, 4);
  return list;
}
