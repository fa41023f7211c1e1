// Reads and writes of the skinned fields of the host's model record. Host
// records carry no alignment promise, so every field goes through memcpy.
#pragma once
#include <cstdint>
#include <cstring>

#include "bootstrap/host_interface.h"

template <typename T>
inline T readRecordField(const uint8_t* record, uint64_t offset) {
  T value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

template <typename T>
inline void writeRecordField(uint8_t* record, uint64_t offset, T value) {
  std::memcpy(record + offset, &value, sizeof value);
}

