// For the tests only: not part of corvane.dll (world/test_seam.cpp is built into the test programs).
#pragma once

namespace corvane::world {

// Empties both track tables and restarts the ids at 1.
void resetWorldTracksForTests();
// Lets the once-only "Applied" lines of both GPU-copy paths be written again.
void resetGpuCopyLogFlagsForTests();
// Empties the table of observed model classes.
void resetObservedVtablesForTests();

}  // namespace corvane::world
