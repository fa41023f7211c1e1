#include "patch/patch_sites.h"

#include "bootstrap/host_interface.h"
#include "patch/hooks.h"

namespace {

// mov [rsp+8],rbx; movss [rsp+18h],xmm2; push rdi; sub rsp,0C0h
constexpr uint8_t kGpuCopyEntryBytes[19] = {0x48, 0x89, 0x5C, 0x24, 0x08, 0xF3, 0x0F, 0x11, 0x54, 0x24,
                                            0x18, 0x57, 0x48, 0x81, 0xEC, 0xC0, 0x00, 0x00, 0x00};
// mov [rsp+20h],rsi; push rdi; sub rsp,40h; cmp byte [rcx+1FB1h],0
// (the compare's flags are consumed by the host instruction right after it)
constexpr uint8_t kPoseUploadEntryBytes[17] = {0x48, 0x89, 0x74, 0x24, 0x20, 0x57, 0x48, 0x83, 0xEC,
                                               0x40, 0x80, 0xB9, 0xB1, 0x1F, 0x00, 0x00, 0x00};
// mov [rsp+18h],r8; mov [rsp+10h],rdx; mov [rsp+8],rcx
constexpr uint8_t kShadowBuildEntryBytes[15] = {0x4C, 0x89, 0x44, 0x24, 0x18, 0x48, 0x89, 0x54,
                                                0x24, 0x10, 0x48, 0x89, 0x4C, 0x24, 0x08};

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
