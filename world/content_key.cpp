#include "world/content_key.h"

#include "math/blend.h"

namespace corvane::world {

uint64_t contentKey(const math::Matrix4x4& m) {
  uint64_t key = math::fnv1a64(m.m, sizeof m.m);
  return key == 0 ? 1 : key;
}

}  // namespace corvane::world
