// The GPU-parameter hook body itself is declared with the other hook bodies in
// patch/hooks.h; this is what else its file offers.
#pragma once
#include <atomic>
#include <cstdint>

namespace corvane::world {

// Set by the first call that writes its path's once-only "Applied" line.
extern std::atomic<uint32_t> firstPersonLogged;
extern std::atomic<uint32_t> worldLogged;

}  // namespace corvane::world
