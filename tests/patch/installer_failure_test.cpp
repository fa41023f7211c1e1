// Every reason an installer refuses: the message, and the host left as it was.
#include <sys/mman.h>

#include <algorithm>

#include "patch/hooks.h"
#include "tests/patch/fake_address_space.h"
#include "tests/patch/standin_fixture.h"

namespace {

using Lines = std::vector<std::string>;

// Allocations: the first `allowed` succeed, later ones are refused. Releases
// are recorded and carried out.
int allocationsAllowed = 0;
std::vector<void*> allocated;
std::vector<void*> released;
void* limitedAllocate(void* address, size_t size) {
  if (allocationsAllowed-- <= 0) return nullptr;
  void* p = defaultPlatform().allocatePages(address, size);
  allocated.push_back(p);
  return p;
}
void recordedRelease(void* address, size_t size) {
  released.push_back(address);
  defaultPlatform().releasePages(address, size);
}
bool refusedProtect(void*, size_t, uint32_t, uint32_t*) { return false; }

class InstallerRefusals : public StandInHostTest {
 protected:
  void SetUp() override {
    StandInHostTest::SetUp();
    allocationsAllowed = 1000;
    allocated.clear();
    released.clear();
    platform.allocatePages = limitedAllocate;
    platform.releasePages = recordedRelease;
    before = snapshot();
  }
  void expectHostUnchanged() { EXPECT_EQ(snapshot(), before); }
  SiteSnapshot before;
};

TEST_F(InstallerRefusals, CameraWithoutAnyFreeRegionNearTheSite) {
  platform.queryRegion = [](const void*, MemoryRegion*) { return false; };
  EXPECT_FALSE(installCameraHook());
  EXPECT_EQ(log(), Lines{"Unable to allocate a relay within rel32 range; patch not installed."});
  expectHostUnchanged();
  EXPECT_EQ(viewCopyRelay.load(), nullptr);
  // The host function's address is known before any check.
  EXPECT_EQ(reinterpret_cast<uint8_t*>(hostViewCopy.load()), base + 0x64A90);
}

TEST_F(InstallerRefusals, CameraWithTheSiteProtectionRefused) {
  platform.protectPages = refusedProtect;
  EXPECT_FALSE(installCameraHook());
  EXPECT_EQ(log(), Lines{"VirtualProtect failed at the view-copy call site; patch not installed."});
  expectHostUnchanged();
  EXPECT_EQ(viewCopyRelay.load(), nullptr);
  EXPECT_EQ(released, allocated) << "the unused relay page is given back";
}

TEST_F(InstallerRefusals, RendererHooksSwitchedOff) {
  settings.stabilizeFirstPersonHands = settings.worldTransforms = settings.cinematicTransforms = 0;
  settings.worldSkeletons = settings.firstPersonSkeletons = settings.cinematicSkeletons = 0;
  settings.shadowTransforms = 0;
  EXPECT_FALSE(installGpuCopyHook());
  EXPECT_FALSE(installPoseUploadHook());
  EXPECT_FALSE(installShadowProxies());
  EXPECT_EQ(log(), (Lines{"Renderer model GPU-copy features are disabled by configuration.",
                          "Skeletal interpolation is disabled by configuration.",
                          "Shadow-transform interpolation is disabled by configuration."}));
  expectHostUnchanged();
  EXPECT_TRUE(allocated.empty());
}

TEST_F(InstallerRefusals, OneSwitchOfAGroupIsEnough) {
  settings.stabilizeFirstPersonHands = settings.worldTransforms = 0;
  settings.worldSkeletons = settings.firstPersonSkeletons = 0;
  EXPECT_TRUE(installGpuCopyHook());
  EXPECT_TRUE(installPoseUploadHook());
  EXPECT_EQ(log(),
            (Lines{"Installed renderer model GPU-copy hook at RVA 0x3ACD00 (first-person roots=0, world transforms=0, "
                   "cinematic transforms=1).",
                   "Installed experimental skeletal hook at pose-upload RVA 0x2D0C80 (first-person=0, world=0, "
                   "cinematic=1); CPU poses remain unmodified and presentation palettes are substituted only during "
                   "synchronous GPU upload."}));
}

TEST_F(InstallerRefusals, EntryBytesThatDiffer) {
  site(kGpuCopySite)[18] ^= 0x01;
  site(kPoseUploadSite)[0] ^= 0x80;
  before = snapshot();
  EXPECT_FALSE(installGpuCopyHook());
  EXPECT_FALSE(installPoseUploadHook());
  EXPECT_EQ(log(), (Lines{"Renderer GPU-copy bytes do not match; renderer model features were not installed.",
                          "Skinned-pose upload bytes do not match; skeletal interpolation was not installed."}));
  expectHostUnchanged();
  EXPECT_TRUE(allocated.empty());
  EXPECT_EQ(gpuCopyTrampoline.load(), nullptr);
  EXPECT_EQ(poseUploadTrampoline.load(), nullptr);
}

TEST_F(InstallerRefusals, EntryTrampolinesRefused) {
  allocationsAllowed = 0;
  EXPECT_FALSE(installGpuCopyHook());
  EXPECT_FALSE(installPoseUploadHook());
  EXPECT_EQ(
      log(),
      (Lines{"Unable to allocate the renderer GPU-copy trampoline; hands stabilization was not installed.",
             "Unable to allocate the skinned-pose upload trampoline; skeletal interpolation was not installed."}));
  expectHostUnchanged();
  EXPECT_EQ(gpuCopyTrampoline.load(), nullptr);
  EXPECT_EQ(poseUploadTrampoline.load(), nullptr);
}

TEST_F(InstallerRefusals, EntryProtectionRefused) {
  platform.protectPages = refusedProtect;
  EXPECT_FALSE(installGpuCopyHook());
  EXPECT_FALSE(installPoseUploadHook());
  EXPECT_EQ(log(), (Lines{"VirtualProtect failed at the renderer GPU-copy boundary; renderer model features were not "
                          "installed.",
                          "VirtualProtect failed at the skinned-pose upload boundary; skeletal interpolation was not "
                          "installed."}));
  expectHostUnchanged();
  EXPECT_EQ(allocated.size(), 2u);
  EXPECT_EQ(released, allocated);
  EXPECT_EQ(gpuCopyTrampoline.load(), nullptr);
  EXPECT_EQ(gpuCopyInstalled.load(), nullptr);
  EXPECT_EQ(poseUploadTrampoline.load(), nullptr);
  EXPECT_EQ(poseUploadInstalled.load(), nullptr);
}

TEST_F(InstallerRefusals, ShadowEntryZeroDiffers) {
  site(kShadowBuild0Site)[14] = 0x09;
  before = snapshot();
  EXPECT_FALSE(installShadowProxies());
  EXPECT_EQ(log(), Lines{"Shadow caster-build entry 0 bytes do not match; shadow transforms were not installed."});
  expectHostUnchanged();
  EXPECT_TRUE(allocated.empty());
}

TEST_F(InstallerRefusals, ShadowEntryOneDifferingLeavesEntryZeroUnpatched) {
  site(kShadowBuild1Site)[3] = 0x25;
  before = snapshot();
  EXPECT_FALSE(installShadowProxies());
  EXPECT_EQ(log(), Lines{"Shadow caster-build entry 1 bytes do not match; shadow transforms were not installed."});
  expectHostUnchanged();
  EXPECT_EQ(allocated.size(), 1u);
  EXPECT_EQ(released, allocated) << "entry 0's trampoline is given back";
  EXPECT_EQ(shadowTrampolines[0].load(), nullptr);
  EXPECT_EQ(shadowTrampolines[1].load(), nullptr);
}

TEST_F(InstallerRefusals, ShadowTrampolinesRefused) {
  for (int allowed : {0, 1}) {
    SCOPED_TRACE(allowed);
    allocationsAllowed = allowed;
    allocated.clear();
    released.clear();
    EXPECT_FALSE(installShadowProxies());
    EXPECT_EQ(log().back(),
              "Unable to allocate shadow caster-build trampolines; shadow transforms were not installed.");
    expectHostUnchanged();
    EXPECT_EQ(released, allocated);
    EXPECT_EQ(shadowTrampolines[0].load(), nullptr);
    EXPECT_EQ(shadowTrampolines[1].load(), nullptr);
  }
}

TEST_F(InstallerRefusals, ShadowProtectionRefused) {
  static std::vector<std::pair<uintptr_t, size_t>> asked;
  asked.clear();
  platform.protectPages = [](void* address, size_t size, uint32_t, uint32_t*) {
    asked.emplace_back(reinterpret_cast<uintptr_t>(address), size);
    return false;
  };
  EXPECT_FALSE(installShadowProxies());
  EXPECT_EQ(log(), Lines{"VirtualProtect failed for shadow caster-build entries; shadow transforms were not "
                         "installed."});
  expectHostUnchanged();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].first, reinterpret_cast<uintptr_t>(site(kShadowBuild0Site)));
  EXPECT_EQ(asked[0].second, 2367u);
  EXPECT_EQ(allocated.size(), 2u);
  EXPECT_EQ(released, allocated);
  EXPECT_EQ(shadowTrampolines[0].load(), nullptr);
  EXPECT_EQ(shadowTrampolines[1].load(), nullptr);
}

}  // namespace
