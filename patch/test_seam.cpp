#include "patch/test_seam.h"

#include "patch/hooks.h"

namespace corvane::patch {

void resetHookPointersForTests() {
  hostViewCopy.store(nullptr);
  gpuCopyTrampoline.store(nullptr);
  gpuCopyInstalled.store(nullptr);
  poseUploadTrampoline.store(nullptr);
  poseUploadInstalled.store(nullptr);
  shadowTrampolines[0].store(nullptr);
  shadowTrampolines[1].store(nullptr);
  viewCopyRelay.store(nullptr);
}

}  // namespace corvane::patch
