// The readable-memory probe, on real mappings and on chosen regions.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include "patch/readable.h"
#include "platform/platform.h"

using namespace corvane::os;
using namespace corvane::patch;

namespace {

constexpr size_t kPage = 4096;

// Three pages: two read-write, then one without access, so the read-write
// region ends exactly at the third page.
class ReadableRealMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    void* p = mmap(nullptr, 3 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    base = static_cast<uint8_t*>(p);
    ASSERT_EQ(mprotect(base + 2 * kPage, kPage, PROT_NONE), 0);
  }
  void TearDown() override { munmap(base, 3 * kPage); }
  uint8_t* base = nullptr;
};

TEST_F(ReadableRealMemory, RangeEndingExactlyAtTheRegionEndIsReadableOneMoreByteIsNot) {
  uint8_t* regionEnd = base + 2 * kPage;
  EXPECT_TRUE(isReadableRange(regionEnd - 64, 64));
  EXPECT_FALSE(isReadableRange(regionEnd - 64, 65));
  EXPECT_TRUE(isReadableRange(base, 2 * kPage));
}

TEST_F(ReadableRealMemory, ReservedPagesAreNotReadable) {
  EXPECT_FALSE(isReadableRange(base + 2 * kPage, 1));
  EXPECT_FALSE(isReadableRange(base + 2 * kPage + 100, 16));
}

TEST(ReadableRange, NullZeroLengthAndWrapAroundAreRefusedBeforeAnyQuery) {
  static int queries = 0;
  queries = 0;
  platform.queryRegion = [](const void*, MemoryRegion* out) {
    ++queries;
    *out = {0, ~uintptr_t{0}, kMemCommit, kPageReadWrite};
    return true;
  };
  uint8_t local[8] = {};
  EXPECT_FALSE(isReadableRange(nullptr, 8));
  EXPECT_FALSE(isReadableRange(local, 0));
  EXPECT_FALSE(isReadableRange(reinterpret_cast<void*>(~uintptr_t{0} - 15), 32));
  EXPECT_EQ(queries, 0);
  EXPECT_TRUE(isReadableRange(local, 8));
  EXPECT_EQ(queries, 1);
  resetPlatform();
}

TEST_F(ReadableRealMemory, WithinOneCallARegionFoundReadableAnswersLaterProbesInsideIt) {
  static int queries = 0;
  queries = 0;
  platform.queryRegion = [](const void* address, MemoryRegion* out) {
    ++queries;
    return defaultPlatform().queryRegion(address, out);
  };
  ReadableRegionMemo probes;
  EXPECT_TRUE(isReadableRange(probes, base + 100, 64));
  EXPECT_TRUE(isReadableRange(probes, base + kPage, kPage));  // inside: no query
  EXPECT_EQ(queries, 1);
  EXPECT_FALSE(isReadableRange(probes, base + 2 * kPage - 8, 16));  // past its end: asked again
  EXPECT_FALSE(isReadableRange(probes, base + 2 * kPage, 8));       // outside: asked, not readable
  EXPECT_EQ(queries, 3);
  EXPECT_FALSE(isReadableRange(probes, base + 2 * kPage, 8));  // a refusal is not kept
  EXPECT_EQ(queries, 4);
  resetPlatform();
}

TEST(ReadableRange, ACallRemembersItsLatestRegionsAndForgetsTheOldest) {
  static int queries = 0;
  queries = 0;
  platform.queryRegion = [](const void* address, MemoryRegion* out) {
    *out = {reinterpret_cast<uintptr_t>(address) & ~uintptr_t{0xFFF}, 0x1000, kMemCommit, kPageReadWrite};
    return ++queries, true;
  };
  ReadableRegionMemo probes;
  const auto probe = [&](int page) {
    EXPECT_TRUE(isReadableRange(probes, reinterpret_cast<void*>(0x30000008 + 0x1000 * page), 8));
  };
  const int kept = ReadableRegionMemo::kRegions;
  for (int page = 0; page <= kept; ++page) probe(page);
  probe(kept), probe(1), probe(0);  // only the oldest, page 0, was given up
  EXPECT_EQ(queries, kept + 2);
  resetPlatform();
}

TEST(ReadableRange, ARangeOnTheThreadsLiveStackNeedsNoQuery) {
  static int queries = 0;
  queries = 0;
  platform.currentStack = [](uintptr_t* low, uintptr_t* high) { return *low = 0x20000000, *high = 0x20010000, true; };
  platform.queryRegion = [](const void*, MemoryRegion*) { return ++queries, false; };
  EXPECT_TRUE(isReadableRange(reinterpret_cast<void*>(0x20000000), 16));
  ReadableRegionMemo probes;
  EXPECT_TRUE(isReadableRange(probes, reinterpret_cast<void*>(0x2000fff0), 16));  // ends at the base
  EXPECT_EQ(queries, 0);
  EXPECT_FALSE(isReadableRange(probes, reinterpret_cast<void*>(0x2000fff0), 17));  // past the base: asked
  EXPECT_FALSE(isReadableRange(reinterpret_cast<void*>(0x1ffffff0), 32));          // from below the limit: asked
  EXPECT_EQ(queries, 2);
  resetPlatform();
}

// One region at 0x10000000 of 0x10000 bytes with the protection under test.
MemoryRegion fakeRegion;
bool fakeQuery(const void*, MemoryRegion* out) {
  *out = fakeRegion;
  return true;
}

bool readableWith(uint32_t state, uint32_t protect) {
  fakeRegion = {0x10000000, 0x10000, state, protect};
  platform.queryRegion = fakeQuery;
  const bool readable = isReadableRange(reinterpret_cast<void*>(0x10000100), 64);
  resetPlatform();
  return readable;
}

TEST(ReadableRange, ProtectionsThatAllowReading) {
  for (uint32_t protect :
       {kPageReadOnly, kPageReadWrite, kPageWriteCopy, kPageExecuteRead, kPageExecuteReadWrite, kPageExecuteWriteCopy})
    EXPECT_TRUE(readableWith(kMemCommit, protect)) << protect;
  // Modifier bits other than the guard bit (no-cache, write-combine) do not matter.
  EXPECT_TRUE(readableWith(kMemCommit, kPageReadWrite | 0x200));
  EXPECT_TRUE(readableWith(kMemCommit, kPageReadOnly | 0x400));
}

TEST(ReadableRange, ProtectionsAndStatesThatDoNot) {
  EXPECT_FALSE(readableWith(kMemCommit, kPageExecute));
  EXPECT_FALSE(readableWith(kMemCommit, kPageNoAccess));
  EXPECT_FALSE(readableWith(kMemCommit, kPageReadWrite | kPageGuard));
  EXPECT_FALSE(readableWith(kMemCommit, kPageNoAccess | kPageReadWrite));
  EXPECT_FALSE(readableWith(kMemReserve, kPageReadWrite));
  EXPECT_FALSE(readableWith(kMemFree, kPageReadWrite));
  EXPECT_FALSE(readableWith(kMemCommit, 0));
}

TEST(ReadableRange, AFailedQueryIsNotReadable) {
  platform.queryRegion = [](const void*, MemoryRegion*) { return false; };
  uint8_t local[8] = {};
  EXPECT_FALSE(isReadableRange(local, 8));
  resetPlatform();
}

}  // namespace
