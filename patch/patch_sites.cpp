#include "patch/patch_sites.h"

#include "bootstrap/host_interface.h"
#include "patch/hooks.h"

namespace {

static_assert(sizeof kGpuCopyEntryBytes <= kMaxDisplacedLength);
// Entry patches begin with one aligned 16-byte store.
static_assert(kGpuCopyRva % 16 == 0 && kPoseUploadRva % 16 == 0 && kShadowBuild0Rva % 16 == 0 &&
              kShadowBuild1Rva % 16 == 0, "function entries are 16-byte aligned");

}  // namespace

const PatchSite patchSites[kPatchSiteCount] = {
    {kViewCopyCallSiteRva, kViewCopyCallSiteBytes, 5, StubKind::relay, reinterpret_cast<const void*>(&ViewCopyHook)},
    {kGpuCopyRva, kGpuCopyEntryBytes, 19, StubKind::trampoline, reinterpret_cast<const void*>(&GpuCopyHook)},
    {kPoseUploadRva, kPoseUploadEntryBytes, 17, StubKind::trampoline,
     reinterpret_cast<const void*>(&PoseUploadHook)},
    {kShadowBuild0Rva, kShadowBuildEntryBytes, 15, StubKind::trampoline,
     reinterpret_cast<const void*>(&shadowCasterProxy0)},
    {kShadowBuild1Rva, kShadowBuildEntryBytes, 15, StubKind::trampoline,
     reinterpret_cast<const void*>(&shadowCasterProxy1)},
};
