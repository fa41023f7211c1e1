// World, non-rigid world and observed-vtables report lines.
#include "diagnostics/track_reports.h"

void buildObservedVtablesText(char (&text)[kObservedVtablesTextCapacity + 1]) { text[0] = 0; }
void reportWorldTrackLines(const PresentationFrame&) {}
void reportNonRigidTrackLines(const PresentationFrame&) {}
