// Writing patch bytes into live host code that other threads may be running.
#pragma once
#include <cstddef>
#include <cstdint>

namespace corvane::patch {

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

// One function entry to rewrite: its patch bytes, and the trampoline that holds
// the entry's displaced instructions at the same offsets as the entry does.
struct EntryWrite {
  uint8_t* site;
  const uint8_t* patch;
  size_t length;
  const uint8_t* trampoline;
};

// Writes the entries (writeEntryPatch each, then flushes them) while the
// process's other threads are held: it lists and opens them first, suspends
// them, moves every thread whose instruction pointer lies inside an entry's
// bytes, past its first, to the same offset in that entry's trampoline, writes,
// and resumes them. A thread at an entry's first byte stays: the new jump there
// is complete. Nothing is written, and false returned, when a thread cannot be
// listed, suspended, read or moved; `trampolineInUse` then tells whether a
// thread was already moved into a trampoline (which must not be released).
// Between suspending and resuming nothing allocates, logs or takes a lock.
// For the install worker only (the thread handles are held in static storage).
bool writeEntriesHoldingThreads(const EntryWrite* entries, size_t count, bool* trampolineInUse);

}  // namespace corvane::patch
