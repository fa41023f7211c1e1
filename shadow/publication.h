// Corrections published by the GPU-copy hook for the shadow caster proxies,
// keyed by the transform's address and by its contents.
#pragma once
#include <cstdint>

#include "math/types.h"

// `keyPointer` is the model's current world matrix in the host record; `key` its
// contentKey; `correction` the matrix that, on the left, gives the presented one.
void publishShadowCorrection(const void* keyPointer, uint64_t key, const Matrix4x4& correction, uint64_t serial);
bool findShadowCorrection(const void* transform, const Matrix4x4& current, uint64_t serial, Matrix4x4* correction);
