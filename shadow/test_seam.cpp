#include "shadow/test_seam.h"

#include <cstring>

#include "platform/locks.h"
#include "shadow/caster_list.h"
#include "shadow/publication.h"

namespace corvane::shadow {

void resetShadowPublicationForTests() {
  os::ExclusiveGuard guard(shadowPublicationLock);
  std::memset(static_cast<void*>(pointerTable), 0, sizeof pointerTable);
  std::memset(static_cast<void*>(contentTable), 0, sizeof contentTable);
}

void resetShadowScratchSlotForTests() { slotState.store(kSlotNone); }

}  // namespace corvane::shadow
