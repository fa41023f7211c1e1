#include "patch/patch_sites.h"

#include "bootstrap/host_interface.h"
#include "patch/hooks.h"

namespace corvane::patch {

namespace {

static_assert(sizeof bootstrap::kGpuCopyEntryBytes <= kMaxDisplacedLength);
// Entry patches begin with one aligned 16-byte store.
static_assert(bootstrap::kGpuCopyRva % 16 == 0 && bootstrap::kPoseUploadRva % 16 == 0 &&
                  bootstrap::kShadowBuild0Rva % 16 == 0 && bootstrap::kShadowBuild1Rva % 16 == 0,
              "function entries are 16-byte aligned");

}  // namespace

const PatchSite patchSites[kPatchSiteCount] = {
    {bootstrap::kViewCopyCallSiteRva, bootstrap::kViewCopyCallSiteBytes, 5, StubKind::relay,
     reinterpret_cast<const void*>(&ViewCopyHook)},
    {bootstrap::kGpuCopyRva, bootstrap::kGpuCopyEntryBytes, 19, StubKind::trampoline,
     reinterpret_cast<const void*>(&GpuCopyHook)},
    {bootstrap::kPoseUploadRva, bootstrap::kPoseUploadEntryBytes, 17, StubKind::trampoline,
     reinterpret_cast<const void*>(&PoseUploadHook)},
    {bootstrap::kShadowBuild0Rva, bootstrap::kShadowBuildEntryBytes, 15, StubKind::trampoline,
     reinterpret_cast<const void*>(&shadowCasterProxy0)},
    {bootstrap::kShadowBuild1Rva, bootstrap::kShadowBuildEntryBytes, 15, StubKind::trampoline,
     reinterpret_cast<const void*>(&shadowCasterProxy1)},
};

}  // namespace corvane::patch
