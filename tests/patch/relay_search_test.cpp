// Where the view-copy relay lands, on chosen address-space maps.
#include <gtest/gtest.h>

#include "patch/relay_search.h"
#include "tests/patch/fake_address_space.h"

using namespace corvane::patch;

namespace {

constexpr uintptr_t kSite = 0x140A395A6ull;
constexpr uintptr_t kLow = kSite - 0x70000000ull;  // 0xD0A395A6
constexpr uintptr_t kHigh = kSite + 0x70000000ull;

MemoryRegion used(uintptr_t base, uintptr_t size) { return {base, size, kMemCommit, kPageReadOnly}; }

class RelaySearch : public ::testing::Test {
 protected:
  void SetUp() override { useFakeAddressSpace(&space); }
  void TearDown() override { resetPlatform(); }
  uintptr_t search(uintptr_t site = kSite) { return reinterpret_cast<uintptr_t>(allocateRelayNear(site)); }
  FakeAddressSpace space;
};

TEST_F(RelaySearch, StartsAtTheWindowsLowEndNotAtTheFreeRegionsBase) {
  // Everything below the site is one free range reaching down to 0.
  space.regions = {used(0x140000000ull, 0x4000000)};
  EXPECT_EQ(search(), 0xD0A40000ull);  // kLow aligned up to 64 KiB
  ASSERT_FALSE(space.queries.empty());
  EXPECT_EQ(space.queries.front(), kLow);
}

TEST_F(RelaySearch, SkipsAFreeRegionWithoutAnAlignedGranule) {
  // Free gap 0xE0001000..0xE000F000 holds no 64 KiB boundary.
  space.regions = {used(0xC0000000ull, 0x20001000ull), used(0xE000F000ull, 0x1000), used(0xE0020000ull, 0x10000)};
  EXPECT_EQ(search(), 0xE0010000ull);
  EXPECT_EQ(space.allocationAttempts, (std::vector<uintptr_t>{0xE0010000ull}));
}

TEST_F(RelaySearch, ARefusedAllocationMovesOnToTheNextFreeRegion) {
  space.regions = {used(0xC0000000ull, 0x20000000ull), used(0xE0100000ull, 0x100000)};
  space.refusedAllocations = {0xE0000000ull};
  // The rest of the refused region (0xE0010000 and up) is not tried.
  EXPECT_EQ(search(), 0xE0200000ull);
  EXPECT_EQ(space.allocationAttempts, (std::vector<uintptr_t>{0xE0000000ull, 0xE0200000ull}));
}

TEST_F(RelaySearch, LowEndIsRaisedToTheLowestApplicationAddress) {
  space.limits.lowestAddress = 0x30000;
  EXPECT_EQ(search(0x50000000ull), 0x30000ull);
  EXPECT_EQ(space.queries.front(), 0x30000ull);
}

TEST_F(RelaySearch, HighEndIsLoweredToTheHighestApplicationAddress) {
  // Everything from the lowest address up to 0x7FFFFFF0000 is in use; the only
  // free granule left would end past the highest application address.
  space.limits.highestAddress = 0x7FFFFFF0FFFull;
  space.regions = {used(0x10000, 0x7FFFFFF0000ull - 0x10000)};
  EXPECT_EQ(search(0x7FFF0000000ull), 0u);
  EXPECT_TRUE(space.allocationAttempts.empty());
  // One more page of room and the granule fits.
  space.limits.highestAddress = 0x7FFFFFF1000ull;
  space.queries.clear();
  EXPECT_EQ(search(0x7FFF0000000ull), 0x7FFFFFF0000ull);
}

TEST_F(RelaySearch, EmptyWindowFailsWithoutQuerying) {
  space.limits.lowestAddress = kHigh;
  EXPECT_EQ(search(), 0u);
  EXPECT_TRUE(space.queries.empty());
}

TEST_F(RelaySearch, AFailedQueryEndsTheSearch) {
  space.regions = {used(0xC0000000ull, 0x20000000ull)};
  space.failQueryAt = 0xE0000000ull;
  EXPECT_EQ(search(), 0u);
  EXPECT_TRUE(space.allocationAttempts.empty());
}

TEST_F(RelaySearch, NoFreeGranuleBeforeTheHighEndFails) {
  space.regions = {used(0xC0000000ull, kHigh - 0xC0000000ull + 0x1000)};
  EXPECT_EQ(search(), 0u);
  // A free granule whose page would end past the high end is not tried.
  space.regions = {used(0xC0000000ull, kHigh - 0x800 - 0xC0000000ull)};
  space.limits.allocationGranularity = 0x1000;
  space.allocationAttempts.clear();
  EXPECT_EQ(search(), 0u);
  EXPECT_TRUE(space.allocationAttempts.empty());
}

}  // namespace
