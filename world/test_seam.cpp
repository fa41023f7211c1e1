#include "world/test_seam.h"

#include <cstring>

#include "world/gpu_copy_hook.h"
#include "world/identify_model.h"
#include "world/world_tracks.h"

namespace corvane::world {

using os::ExclusiveGuard;

void resetWorldTracksForTests() {
  ExclusiveGuard guard(worldTrackLock);
  ExclusiveGuard nonRigidGuard(nonRigidTrackLock);
  std::memset(static_cast<void*>(worldTrackTable), 0, sizeof worldTrackTable);
  std::memset(static_cast<void*>(worldTrackKeys), 0, sizeof worldTrackKeys);
  std::memset(static_cast<void*>(nonRigidTable), 0, sizeof nonRigidTable);
  nextWorldTrackId.store(1);
  nextNonRigidTrackId.store(1);
}

void resetGpuCopyLogFlagsForTests() {
  firstPersonLogged.store(0);
  worldLogged.store(0);
}

void resetObservedVtablesForTests() {
  for (ObservedVtable& entry : observedVtables) {
    entry.vtableRva.store(0);
    entry.count.store(0);
  }
}

}  // namespace corvane::world
