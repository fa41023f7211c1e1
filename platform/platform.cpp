#include "platform/platform.h"

namespace corvane::os {

PlatformOps platform = defaultPlatform();

void resetPlatform() { platform = defaultPlatform(); }

}  // namespace corvane::os
