#include "world/content_key.h"

#include "math/blend.h"

uint64_t contentKey(const Matrix4x4& m) {
  uint64_t key = fnv1a64(m.m, sizeof m.m);
  return key == 0 ? 1 : key;
}
