// The camera installer at the edges of a relative call's reach: a relay
// 0x80000004 bytes above the site (displacement 0x7FFFFFFF) or 0x7FFFFFFB below
// it (displacement -0x80000000) is used; one byte further is refused.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>

#include "bootstrap/host_interface.h"
#include "patch/hooks.h"
#include "patch/test_seam.h"
#include "tests/patch/fake_address_space.h"
#include "tests/support/library_dir.h"

using namespace corvane::bootstrap;
using namespace corvane::patch;

namespace {

constexpr uintptr_t kFarPage = 0x80000000;
constexpr uintptr_t kSiteOffset = 0x5A6;  // offset 0x26 of a cache line, as in the host
const uint8_t kSiteBytes[8] = {0xE8, 0xE5, 0xB4, 0x62, 0xFF, 0x48, 0x83, 0xC4};

bool allowProtect(void*, size_t, uint32_t, uint32_t* previous) {
  *previous = kPageExecuteRead;
  return true;
}

// Two usable pages 2 GiB apart inside one reservation; the call site lies in
// one of them and the fake allocator hands out the relay in the other.
class RelayReach : public ::testing::Test {
 protected:
  void SetUp() override {
    useFreshLibraryDirectory();
    void* p = mmap(nullptr, kFarPage + 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    reservation = static_cast<uint8_t*>(p);
    ASSERT_EQ(mprotect(reservation, 4096, PROT_READ | PROT_WRITE), 0);
    ASSERT_EQ(mprotect(reservation + kFarPage, 4096, PROT_READ | PROT_WRITE), 0);
    useFakeAddressSpace(&space);
    platform.protectPages = allowProtect;
  }
  void TearDown() override {
    resetPlatform();
    resetHookPointersForTests();
    hostBase = nullptr;
    munmap(reservation, kFarPage + 4096);
  }
  // Places the site at `siteAt`, lets the search return site + distance, installs.
  bool installWithRelayAt(uint8_t* siteAt, int64_t distance) {
    std::memcpy(siteAt, kSiteBytes, sizeof kSiteBytes);
    hostBase = siteAt - kViewCopyCallSiteRva;
    relay = siteAt + distance;
    space.allocationResult = relay;
    return installCameraHook();
  }
  std::vector<uint8_t> bytesAt(const uint8_t* p) { return {p, p + 8}; }

  FakeAddressSpace space;
  uint8_t* reservation = nullptr;
  uint8_t* relay = nullptr;
};

TEST_F(RelayReach, HighestReachableRelayIsUsed) {
  uint8_t* siteAt = reservation + kSiteOffset;
  ASSERT_TRUE(installWithRelayAt(siteAt, 0x80000004ll));
  EXPECT_EQ(bytesAt(siteAt), (std::vector<uint8_t>{0xE8, 0xFF, 0xFF, 0xFF, 0x7F, 0x48, 0x83, 0xC4}));
  EXPECT_EQ(viewCopyRelay.load(), relay);
  EXPECT_EQ(relay[0], 0x48);
  EXPECT_EQ(readLogLines(),
            std::vector<std::string>{"Installed Dishonored 2 high-FPS camera hook at RVA 0xA395A6; F10 toggles it."});
}

TEST_F(RelayReach, OneByteHigherIsRefused) {
  uint8_t* siteAt = reservation + kSiteOffset;
  EXPECT_FALSE(installWithRelayAt(siteAt, 0x80000005ll));
  EXPECT_EQ(bytesAt(siteAt), std::vector<uint8_t>(kSiteBytes, kSiteBytes + 8));
  EXPECT_EQ(readLogLines(), std::vector<std::string>{"Allocated relay is outside rel32 range; patch not installed."});
  EXPECT_EQ(viewCopyRelay.load(), nullptr);
  EXPECT_EQ(space.released, std::vector<void*>{relay});
}

TEST_F(RelayReach, LowestReachableRelayIsUsedOneByteLowerIsNot) {
  uint8_t* siteAt = reservation + kFarPage + kSiteOffset;
  EXPECT_FALSE(installWithRelayAt(siteAt, -0x7FFFFFFCll));
  EXPECT_EQ(bytesAt(siteAt), std::vector<uint8_t>(kSiteBytes, kSiteBytes + 8));
  ASSERT_TRUE(installWithRelayAt(siteAt, -0x7FFFFFFBll));
  EXPECT_EQ(bytesAt(siteAt), (std::vector<uint8_t>{0xE8, 0x00, 0x00, 0x00, 0x80, 0x48, 0x83, 0xC4}));
  EXPECT_EQ(readLogLines(),
            (std::vector<std::string>{"Allocated relay is outside rel32 range; patch not installed.",
                                      "Installed Dishonored 2 high-FPS camera hook at RVA 0xA395A6; F10 toggles it."}));
}

}  // namespace
