#include "skeletal/test_seam.h"

#include <cstring>

#include "skeletal/pose_upload_hook.h"
#include "skeletal/skeletal_tracks.h"

namespace corvane::skeletal {

void resetSkeletalTablesForTests() {
  os::ExclusiveGuard guard(skeletalTableLock);
  std::memset(skeletalTracks, 0, sizeof skeletalTracks);
  std::memset(ownerlessTracks, 0, sizeof ownerlessTracks);
}

void resetPoseUploadOnceFlagsForTests() {
  firstPersonApplied.store(0);
  worldApplied.store(0);
}

}  // namespace corvane::skeletal
