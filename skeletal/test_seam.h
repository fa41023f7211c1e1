// For the tests only: not part of corvane.dll (skeletal/test_seam.cpp is built into the test programs).
#pragma once

namespace corvane::skeletal {

// Empties both skeletal track tables (ids keep counting).
void resetSkeletalTablesForTests();
// Lets the once-only "Applied" lines of the pose upload be logged again.
void resetPoseUploadOnceFlagsForTests();

}  // namespace corvane::skeletal
