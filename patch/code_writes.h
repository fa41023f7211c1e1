// Writing patch bytes into live host code that other threads may be running.
#pragma once
#include <cstddef>
#include <cstdint>

// Replaces the 5 bytes of a call instruction at `site` with `patch` using one
// 8-byte store of the 8 bytes site..site+7 (the 3 bytes after the call are
// written back unchanged). The 8 bytes must lie in one 64-byte cache line, so a
// thread executing the call sees either the old or the new instruction.
void writeCallPatch(uint8_t* site, const uint8_t (&patch)[5]);

// Writes `length` (at least 14, at most 32) patch bytes at a 16-byte aligned
// function entry: the first 16 bytes with one aligned 16-byte store (bytes of
// the 16 beyond `length` are written back unchanged), then the rest. The jump
// in the first 14 bytes is therefore complete the moment it becomes visible.
void writeEntryPatch(uint8_t* site, const uint8_t* patch, size_t length);
