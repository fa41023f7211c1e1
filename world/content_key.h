// The content hash by which a transform is recognised by its bytes.
#pragma once
#include <cstdint>

#include "math/types.h"

namespace corvane::world {

// 64-bit FNV-1a of the 64 bytes (start 0x14650FB0739D0383); never 0.
uint64_t contentKey(const math::Matrix4x4& m);

}  // namespace corvane::world
