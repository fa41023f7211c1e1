// Real machine code: the installers patch the stand-in host, and calls made as
// the game makes them run through the patches, the hook bodies and their stubs
// into the host's own functions, with every argument and the result intact.
#include <cstring>

#include "patch/hooks.h"
#include "patch/stubs.h"
#include "tests/patch/standin_fixture.h"
#include "tests/standin/standin_host.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint64_t read64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Spies stand between a hook body and the stub it calls, to prove that a call
// went through the hook body; each forwards to the stub it replaced.
int viewCopySpyCalls = 0;
ViewCopyFunction realViewCopy = nullptr;
uint64_t CORVANE_HOSTCALL viewCopySpy(void* d, void* s, uint64_t a3, uint64_t a4) {
  ++viewCopySpyCalls;
  return realViewCopy(d, s, a3, a4);
}
int gpuCopySpyCalls = 0;
GpuCopyFunction realGpuCopy = nullptr;
uint64_t CORVANE_HOSTCALL gpuCopySpy(void** out, uint64_t v, float f, const uint8_t* block) {
  ++gpuCopySpyCalls;
  return realGpuCopy(out, v, f, block);
}
int poseUploadSpyCalls = 0;
PoseUploadFunction realPoseUpload = nullptr;
uint64_t CORVANE_HOSTCALL poseUploadSpy(uint8_t* record, uint64_t v) {
  ++poseUploadSpyCalls;
  return realPoseUpload(record, v);
}
int shadowSpyCalls[2] = {0, 0};
ShadowBuild0Function realShadow0 = nullptr;
ShadowBuild1Function realShadow1 = nullptr;
uint64_t CORVANE_HOSTCALL shadow0Spy(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6) {
  ++shadowSpyCalls[0];
  return realShadow0(a1, a2, list, a4, a5, a6);
}
uint64_t CORVANE_HOSTCALL shadow1Spy(uint64_t a1, uint64_t a2, void* list, uint64_t a4, uint64_t a5, float a6,
                                     int32_t a7, uint64_t a8) {
  ++shadowSpyCalls[1];
  return realShadow1(a1, a2, list, a4, a5, a6, a7, a8);
}

class PatchedHost : public StandInHostTest {
 protected:
  void SetUp() override {
    StandInHostTest::SetUp();
    original = snapshot();
    ASSERT_TRUE(installCameraHook());
    ASSERT_TRUE(installGpuCopyHook());
    ASSERT_TRUE(installPoseUploadHook());
    ASSERT_TRUE(installShadowProxies());
  }
  SiteSnapshot original;
};

TEST_F(PatchedHost, LogsOneSuccessLinePerInstaller) {
  EXPECT_EQ(log(),
            (std::vector<std::string>{
                "Installed Dishonored 2 high-FPS camera hook at RVA 0xA395A6; F10 toggles it.",
                "Installed renderer model GPU-copy hook at RVA 0x3ACD00 (first-person roots=1, world transforms=1, "
                "cinematic transforms=1).",
                "Installed experimental skeletal hook at pose-upload RVA 0x2D0C80 (first-person=1, world=1, "
                "cinematic=1); CPU poses remain unmodified and presentation palettes are substituted only during "
                "synchronous GPU upload.",
                "Installed coherent renderer-only shadow caster-list proxies at build RVAs 0x3CA3B0 and 0x3CACE0."}));
}

TEST_F(PatchedHost, CallSiteLeadsThroughTheRelayAndKeepsTheBytesAfterIt) {
  const uint8_t* call = site(kViewCopySite);
  ASSERT_EQ(call[0], 0xE8);
  int32_t displacement;
  std::memcpy(&displacement, call + 1, 4);
  const uint8_t* relay = call + 5 + displacement;
  EXPECT_EQ(relay, viewCopyRelay.load());
  EXPECT_EQ(Bytes(relay, relay + 2), (Bytes{0x48, 0xB8}));
  EXPECT_EQ(read64(relay + 2), reinterpret_cast<uint64_t>(&ViewCopyHook));
  EXPECT_EQ(Bytes(call + 5, call + 8), Bytes(original[kViewCopySite].begin() + 5, original[kViewCopySite].begin() + 8));
  EXPECT_EQ(reinterpret_cast<uint8_t*>(hostViewCopy.load()), base + 0x64A90);
}

TEST_F(PatchedHost, EntriesJumpToTheirHookBodiesAndKeepTheBytesAfterThePatch) {
  struct Entry {
    size_t index;
    const void* hook;
    void* trampoline;
  } entries[] = {
      {kGpuCopySite, reinterpret_cast<const void*>(&GpuCopyHook), reinterpret_cast<void*>(gpuCopyTrampoline.load())},
      {kPoseUploadSite, reinterpret_cast<const void*>(&PoseUploadHook),
       reinterpret_cast<void*>(poseUploadTrampoline.load())},
      {kShadowBuild0Site, reinterpret_cast<const void*>(&shadowCasterProxy0), shadowTrampolines[0].load()},
      {kShadowBuild1Site, reinterpret_cast<const void*>(&shadowCasterProxy1), shadowTrampolines[1].load()},
  };
  for (const Entry& e : entries) {
    SCOPED_TRACE(e.index);
    const uint8_t* at = site(e.index);
    const size_t length = patchSites[e.index].length;
    EXPECT_EQ(Bytes(at, at + 6), (Bytes{0xFF, 0x25, 0, 0, 0, 0}));
    EXPECT_EQ(read64(at + 6), reinterpret_cast<uint64_t>(e.hook));
    EXPECT_EQ(Bytes(at + 14, at + length), Bytes(length - 14, 0x90));
    EXPECT_EQ(Bytes(at + length, at + 48), Bytes(original[e.index].begin() + length, original[e.index].end()));
    ASSERT_NE(e.trampoline, nullptr);
    const uint8_t* t = static_cast<const uint8_t*>(e.trampoline);
    EXPECT_EQ(Bytes(t, t + length), Bytes(original[e.index].begin(), original[e.index].begin() + length));
    EXPECT_EQ(read64(t + length + 6), reinterpret_cast<uint64_t>(at + length));
  }
  EXPECT_EQ(gpuCopyInstalled.load(), reinterpret_cast<void*>(gpuCopyTrampoline.load()));
  EXPECT_EQ(poseUploadInstalled.load(), reinterpret_cast<void*>(poseUploadTrampoline.load()));
}

TEST_F(PatchedHost, ViewCopyCallReachesTheHostFunctionThroughTheHook) {
  realViewCopy = hostViewCopy.exchange(viewCopySpy);
  viewCopySpyCalls = 0;
  standInHost.viewCopy.result = 0xC0FFEE0012345678ull;
  alignas(16) uint8_t source[kStandInViewLength];
  alignas(16) uint8_t destination[kStandInViewLength] = {};
  for (size_t i = 0; i < sizeof source; ++i) source[i] = static_cast<uint8_t>(i * 7 + 1);

  const uint64_t result = gameCallsViewCopy(destination, source, 0x1111222233334444ull, 0x5555666677778888ull);

  hostViewCopy.store(realViewCopy);
  EXPECT_EQ(result, 0xC0FFEE0012345678ull);
  EXPECT_EQ(viewCopySpyCalls, 1);
  ASSERT_EQ(standInHost.viewCopy.count.load(), 1u);
  const ViewCopyCall call = standInHost.viewCopy.lastCall();
  EXPECT_EQ(call.destination, destination);
  EXPECT_EQ(call.source, source);
  EXPECT_EQ(call.a3, 0x1111222233334444ull);
  EXPECT_EQ(call.a4, 0x5555666677778888ull);
  EXPECT_EQ(std::memcmp(destination, source, sizeof source), 0);
}

TEST_F(PatchedHost, GpuCopyCallRunsTheWholeHostFunctionThroughTheTrampoline) {
  realGpuCopy = gpuCopyTrampoline.exchange(gpuCopySpy);
  gpuCopySpyCalls = 0;
  standInHost.gpuCopy.result = 0x0123456789ABCDEFull;
  void* slot = nullptr;
  const uint8_t block[16] = {};  // no model record behind it

  const uint64_t result = gameCallsGpuCopy(&slot, 0xFEDCBA9876543210ull, -2.5f, block);

  gpuCopyTrampoline.store(realGpuCopy);
  EXPECT_EQ(result, 0x0123456789ABCDEFull);
  EXPECT_EQ(gpuCopySpyCalls, 1);
  ASSERT_EQ(standInHost.gpuCopy.count.load(), 1u);
  const GpuCopyCall call = standInHost.gpuCopy.lastCall();
  EXPECT_EQ(call.outSlot, &slot);
  EXPECT_EQ(call.value, 0xFEDCBA9876543210ull);
  EXPECT_EQ(call.f, -2.5f);
  EXPECT_EQ(call.block, block);
}

constexpr uint64_t kArithmeticFlags = 0x8D5;  // CF PF AF ZF SF OF

TEST(PoseUploadFlags, StandInSeesTheCompareOfTheUploadPendingByte) {
  // Unpatched host: the flags the host's own instruction after the compare sees.
  useFreshLibraryDirectory();
  ASSERT_NE(useNativeStandInHost(), nullptr);
  std::vector<uint8_t> record(0x2130, 0);
  record[0x1FB1] = 0;
  gameCallsPoseUpload(record.data(), 1);
  EXPECT_NE(standInHost.poseUpload.lastCall().flags & 0x40, 0u) << "ZF after comparing 0 with 0";
  record[0x1FB1] = 0x80;
  gameCallsPoseUpload(record.data(), 1);
  EXPECT_EQ(standInHost.poseUpload.lastCall().flags & 0xC0, 0x80u) << "SF set, ZF clear for 0x80";
}

TEST_F(PatchedHost, PoseUploadCallKeepsTheComparesFlagsAcrossTheTrampoline) {
  realPoseUpload = poseUploadTrampoline.exchange(poseUploadSpy);
  poseUploadSpyCalls = 0;
  std::vector<uint8_t> record(0x2130, 0);
  for (uint8_t pending : {0x00, 0x01, 0x80, 0xFF}) {
    SCOPED_TRACE(static_cast<int>(pending));
    record[0x1FB1] = pending;
    // The flags of the same compare executed here.
    uint64_t expectedFlags;
    __asm__ volatile("cmpb $0, %1\n\tpushfq\n\tpopq %0" : "=r"(expectedFlags) : "m"(record[0x1FB1]) : "cc");
    standInHost.poseUpload.result = 0x1000u + pending;
    const uint64_t result = gameCallsPoseUpload(record.data(), 0xABCDEF0000000000ull + pending);
    EXPECT_EQ(result, 0x1000u + pending);
    const PoseUploadCall call = standInHost.poseUpload.lastCall();
    EXPECT_EQ(call.record, record.data());
    EXPECT_EQ(call.value, 0xABCDEF0000000000ull + pending);
    EXPECT_EQ(call.flags & kArithmeticFlags, expectedFlags & kArithmeticFlags);
  }
  poseUploadTrampoline.store(realPoseUpload);
  EXPECT_EQ(poseUploadSpyCalls, 4);
}

TEST_F(PatchedHost, ShadowBuildCallsPassEveryArgumentIncludingTheStackOnes) {
  realShadow0 =
      reinterpret_cast<ShadowBuild0Function>(shadowTrampolines[0].exchange(reinterpret_cast<void*>(shadow0Spy)));
  realShadow1 =
      reinterpret_cast<ShadowBuild1Function>(shadowTrampolines[1].exchange(reinterpret_cast<void*>(shadow1Spy)));
  shadowSpyCalls[0] = shadowSpyCalls[1] = 0;
  standInHost.shadowBuild[0].result = 0xAAAA0000BBBB1111ull;
  standInHost.shadowBuild[1].result = 0xCCCC2222DDDD3333ull;
  uint8_t list0[64] = {}, list1[64] = {};

  const uint64_t r0 = gameCallsShadowBuild0(0x0101010101010101ull, 0x0202020202020202ull, list0, 0x0404040404040404ull,
                                            0x0505050505050505ull, 6.75f);
  const uint64_t r1 = gameCallsShadowBuild1(0x1111111111111111ull, 0x1212121212121212ull, list1, 0x1414141414141414ull,
                                            0x1515151515151515ull, -16.125f, -17, 0x1818181818181818ull);

  shadowTrampolines[0].store(reinterpret_cast<void*>(realShadow0));
  shadowTrampolines[1].store(reinterpret_cast<void*>(realShadow1));
  EXPECT_EQ(r0, 0xAAAA0000BBBB1111ull);
  EXPECT_EQ(r1, 0xCCCC2222DDDD3333ull);
  EXPECT_EQ(shadowSpyCalls[0], 1);
  EXPECT_EQ(shadowSpyCalls[1], 1);
  const ShadowBuildCall c0 = standInHost.shadowBuild[0].lastCall();
  EXPECT_EQ(c0.a1, 0x0101010101010101ull);
  EXPECT_EQ(c0.a2, 0x0202020202020202ull);
  EXPECT_EQ(c0.list, list0);
  EXPECT_EQ(c0.a4, 0x0404040404040404ull);
  EXPECT_EQ(c0.a5, 0x0505050505050505ull);
  EXPECT_EQ(c0.a6, 6.75f);
  const ShadowBuildCall c1 = standInHost.shadowBuild[1].lastCall();
  EXPECT_EQ(c1.a1, 0x1111111111111111ull);
  EXPECT_EQ(c1.a2, 0x1212121212121212ull);
  EXPECT_EQ(c1.list, list1);
  EXPECT_EQ(c1.a4, 0x1414141414141414ull);
  EXPECT_EQ(c1.a5, 0x1515151515151515ull);
  EXPECT_EQ(c1.a6, -16.125f);
  EXPECT_EQ(c1.a7, -17);
  EXPECT_EQ(c1.a8, 0x1818181818181818ull);
}

}  // namespace
