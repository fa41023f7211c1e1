// Field access of the shared telemetry record for its one writer and any
// reader. Every field is stored and loaded as a whole with relaxed atomic
// operations (plain moves on x86-64); the odd/even `sequence` with full fences
// around the field stores makes a copy consistent.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstring>

#include "camera/telemetry.h"

namespace corvane::camera {

namespace telemetry_access {

template <typename T>
inline void put(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}
template <typename T>
inline T get(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}
inline void putDouble(double& field, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  put(reinterpret_cast<uint64_t&>(field), bits);
}
inline double getDouble(const double& field) {
  const uint64_t bits = get(reinterpret_cast<const uint64_t&>(field));
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
inline void putFloats(float* fields, const float* values, int count) {
  for (int i = 0; i < count; ++i) {
    uint32_t bits;
    std::memcpy(&bits, &values[i], sizeof bits);
    put(reinterpret_cast<uint32_t&>(fields[i]), bits);
  }
}
inline void getFloats(const float* fields, float* values, int count) {
  for (int i = 0; i < count; ++i) {
    const uint32_t bits = get(reinterpret_cast<const uint32_t&>(fields[i]));
    std::memcpy(&values[i], &bits, sizeof bits);
  }
}

}  // namespace telemetry_access

// One attempt at a consistent copy of the record: false while a write is in
// progress or when a write overlapped the copy; then try again.
inline bool readTelemetrySnapshot(const TelemetryBlock* block, TelemetryBlock* out) {
  using namespace telemetry_access;
  const uint64_t first =
      std::atomic_ref<uint64_t>(const_cast<uint64_t&>(block->sequence)).load(std::memory_order_acquire);
  if (first & 1) return false;
  out->sequence = first;
  out->version = get(block->version);
  out->size = get(block->size);
  out->enabled = get(block->enabled);
  out->modified = get(block->modified);
  out->presentationTime = getDouble(block->presentationTime);
  out->sampleTime = getDouble(block->sampleTime);
  out->alpha = getDouble(block->alpha);
  getFloats(block->sourceOrigin, out->sourceOrigin, 3);
  getFloats(block->outputOrigin, out->outputOrigin, 3);
  getFloats(block->sourceAxes, out->sourceAxes, 9);
  getFloats(block->outputAxes, out->outputAxes, 9);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  const uint64_t second =
      std::atomic_ref<uint64_t>(const_cast<uint64_t&>(block->sequence)).load(std::memory_order_relaxed);
  return first == second;
}

}  // namespace corvane::camera
