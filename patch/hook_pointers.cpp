#include "patch/hooks.h"

std::atomic<ViewCopyFunction> hostViewCopy{nullptr};
std::atomic<GpuCopyFunction> gpuCopyTrampoline{nullptr};
std::atomic<void*> gpuCopyInstalled{nullptr};
std::atomic<PoseUploadFunction> poseUploadTrampoline{nullptr};
std::atomic<void*> poseUploadInstalled{nullptr};
std::atomic<void*> shadowTrampolines[2] = {nullptr, nullptr};
std::atomic<void*> viewCopyRelay{nullptr};

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
