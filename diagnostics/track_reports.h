// Per-track report lines, logged after the summary lines of a due report. Each
// selects under its table's lock and logs after releasing it.
#pragma once
#include <cstddef>

#include "camera/frame_state.h"

using corvane::camera::PresentationFrame;

constexpr size_t kObservedVtablesTextCapacity = 384;

// "0x1E55408:3,0x77:1" for the observed-vtables field of the world summary.
void buildObservedVtablesText(char (&text)[kObservedVtablesTextCapacity + 1]);
void reportWorldTrackLines(const PresentationFrame& frame);
void reportNonRigidTrackLines(const PresentationFrame& frame);
void reportSkeletalTrackLines(const PresentationFrame& frame);
void reportOwnerlessTrackLines(const PresentationFrame& frame);
