// For the tests only: not part of corvane.dll (shadow/test_seam.cpp is built into the test programs).
#pragma once

namespace corvane::shadow {

// Empties both publication tables.
void resetShadowPublicationForTests();
// Forgets the claimed thread slot, so that the next call claims one anew.
void resetShadowScratchSlotForTests();

}  // namespace corvane::shadow
