#include "platform/platform.h"

PlatformOps platform = defaultPlatform();

void resetPlatform() { platform = defaultPlatform(); }
