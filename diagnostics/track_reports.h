// Per-track report lines, logged after the summary lines of a due report. Each
// selects under its table's lock and logs after releasing it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "camera/frame_state.h"

namespace corvane::diagnostics {

using camera::PresentationFrame;

constexpr size_t kObservedVtablesTextCapacity = 384;

// "0x1E55408:3,0x77:1" for the observed-vtables field of the world summary.
void buildObservedVtablesText(char (&text)[kObservedVtablesTextCapacity + 1]);
void reportWorldTrackLines(const PresentationFrame& frame);
void reportNonRigidTrackLines(const PresentationFrame& frame);
void reportSkeletalTrackLines(const PresentationFrame& frame);
void reportOwnerlessTrackLines(const PresentationFrame& frame);

// Under the table's lock: copies into `lines`, with `take` (which moves the
// track's baselines up), the first changed tracks of `table` in selection
// order; `passOf` gives a changed track's pass, 1 to `passes`, and 0 for one
// that has not changed. Returns how many are listed, `changed` how many changed.
template <class Track, size_t Count, class Line, size_t Capacity, class PassOf, class Take>
size_t takeChangedLines(Track (&table)[Count], int passes, PassOf passOf, Take take, Line (&lines)[Capacity],
                        uint64_t* changed) {
  *changed = 0;
  for (const Track& t : table) {
    if (passOf(t) != 0) *changed += 1;
  }
  size_t listed = 0;
  for (int pass = 1; pass <= passes && listed < Capacity; ++pass) {
    for (Track& t : table) {
      if (listed == Capacity) break;
      if (passOf(t) == pass) lines[listed++] = take(t);
    }
  }
  return listed;
}

}  // namespace corvane::diagnostics
