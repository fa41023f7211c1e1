// For the tests only: not part of corvane.dll (patch/test_seam.cpp is built into the test programs).
#pragma once

namespace corvane::patch {

// Forgets every stub pointer (the stubs themselves are not freed).
void resetHookPointersForTests();

}  // namespace corvane::patch
