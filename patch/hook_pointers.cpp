#include "patch/hooks.h"

namespace corvane::patch {

std::atomic<ViewCopyFunction> hostViewCopy{nullptr};
std::atomic<GpuCopyFunction> gpuCopyTrampoline{nullptr};
std::atomic<void*> gpuCopyInstalled{nullptr};
std::atomic<PoseUploadFunction> poseUploadTrampoline{nullptr};
std::atomic<void*> poseUploadInstalled{nullptr};
std::atomic<void*> shadowTrampolines[2] = {nullptr, nullptr};
std::atomic<void*> viewCopyRelay{nullptr};

}  // namespace corvane::patch
