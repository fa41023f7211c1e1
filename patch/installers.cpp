// Placeholder until the code-patching installers land: nothing is patched.
#include "bootstrap/log.h"
#include "patch/hooks.h"

bool installCameraHook() {
  LogMessage("Unable to allocate a relay within rel32 range; patch not installed.");
  return false;
}
bool installGpuCopyHook() { return false; }
bool installPoseUploadHook() { return false; }
bool installShadowProxies() { return false; }
