// The caster-list proxies: what the host receives, what stays untouched, and
// every list that goes through unchanged.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "camera/frame_state.h"
#include "diagnostics/counters.h"
#include "patch/hooks.h"
#include "shadow/caster_list.h"
#include "shadow/publication.h"
#include "shadow/test_seam.h"
#include "tests/support/caster_lists.h"
#include "tests/support/model_host.h"
#include "world/content_key.h"

using namespace corvane::camera;
using namespace corvane::diagnostics;
using namespace corvane::shadow;
using namespace corvane::world;

namespace {

class CasterProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useModelHost();
    resetShadowPublicationForTests();
    if (latestPresentationSerial.load() == 0) publishPresentationFrame(0.0, 0.0, true);
    serial = latestPresentationSerial.load();
  }
  // Publishes a correction for caster `i` of `list` under its own address.
  void publishFor(const TestCasterList& list, uint32_t i, const Matrix4x4& correction, uint64_t age = 0) {
    publishShadowCorrection(list.transforms[i], contentKey(*list.transforms[i]), correction, serial - age);
  }
  uint64_t callProxy0(const TestCasterList& list) { return callProxy0(list.header); }
  uint64_t callProxy0(void* list) {
    const uint64_t before = shadowBuildCalls.load();
    const uint64_t result = shadowCasterProxy0(11, 22, list, 44, 55, 6.5f);
    EXPECT_EQ(shadowBuildCalls.load(), before + 1);
    EXPECT_EQ(result, kShadowBuildResult);
    const ShadowBuildCall& call = lastShadowBuildCall();
    EXPECT_EQ(call.which, 0);
    EXPECT_EQ(call.args[0], 11u);
    EXPECT_EQ(call.args[1], 22u);
    EXPECT_EQ(call.args[3], 44u);
    EXPECT_EQ(call.args[4], 55u);
    float f;
    std::memcpy(&f, &call.args[5], 4);
    EXPECT_EQ(f, 6.5f);
    return result;
  }
  const Matrix4x4 correction = placementMatrix({0, 0.5, 0, 0});
  uint64_t serial = 0;
};

TEST_F(CasterProxyTest, MatchedCastersReachTheHostCorrectedAndTheHostListStaysUntouched) {
  TestCasterList list = newCasterList(3, 2);  // entry 1 has no transform
  publishFor(list, 0, correction);
  const auto entriesBefore = list.entryBytes();
  const auto transformsBefore = list.transformValues();
  std::vector<uint8_t> headerBefore(list.header, list.header + 16);
  const uint64_t calls = read(counters.shadow.calls);
  const uint64_t adjusted = read(counters.shadow.adjusted);
  const uint64_t lists = read(counters.shadow.proxyLists);
  const uint64_t misses = read(counters.shadow.cacheMiss);

  callProxy0(list);
  const ShadowBuildCall& call = lastShadowBuildCall();
  ASSERT_NE(call.list, list.header);
  EXPECT_EQ(call.header[1], 0xABCD1234'01000003ull) << "count word and host data carried unchanged";
  ASSERT_EQ(call.entries.size(), 3u * 48);
  EXPECT_LT(maxDifference(call.transforms[0], product(correction, *list.transforms[0])), 1e-6f);
  EXPECT_NEAR(call.transforms[0].m[3], 1.5, 1e-6);
  // Everything but the matched entry's transform pointer is the host's.
  std::vector<uint8_t> expected = entriesBefore;
  std::memcpy(expected.data() + 8, call.entries.data() + 8, 8);
  EXPECT_EQ(call.entries, expected);
  EXPECT_EQ(maxDifference(call.transforms[2], *list.transforms[2]), 0.0f);

  EXPECT_EQ(list.entryBytes(), entriesBefore);
  EXPECT_EQ(std::memcmp(list.transformValues().data(), transformsBefore.data(), 3 * 64), 0);
  EXPECT_EQ(std::vector<uint8_t>(list.header, list.header + 16), headerBefore);
  EXPECT_EQ(read(counters.shadow.calls), calls + 2);
  EXPECT_EQ(read(counters.shadow.adjusted), adjusted + 1);
  EXPECT_EQ(read(counters.shadow.proxyLists), lists + 1);
  EXPECT_EQ(read(counters.shadow.cacheMiss), misses + 1);
}

TEST_F(CasterProxyTest, SecondProxyPassesItsExtraArguments) {
  TestCasterList list = newCasterList(2);
  publishFor(list, 1, correction);
  const uint64_t result = shadowCasterProxy1(1, 2, list.header, 4, 5, 0.25f, -7, 9);
  EXPECT_EQ(result, kShadowBuildResult + 9);
  const ShadowBuildCall& call = lastShadowBuildCall();
  EXPECT_EQ(call.which, 1);
  EXPECT_NE(call.list, list.header);
  EXPECT_EQ(static_cast<int32_t>(call.args[5] >> 32), -7);
  EXPECT_NEAR(call.transforms[1].m[3], 2.5, 1e-6);
  EXPECT_EQ(maxDifference(call.transforms[0], *list.transforms[0]), 0.0f);
}

TEST_F(CasterProxyTest, FreshnessDecidesTheMatch) {
  TestCasterList list = newCasterList(2);
  publishFor(list, 0, correction, 2);
  publishFor(list, 1, correction, 3);
  callProxy0(list);
  const ShadowBuildCall& call = lastShadowBuildCall();
  ASSERT_NE(call.list, list.header);
  EXPECT_NEAR(call.transforms[0].m[3], 1.5, 1e-6);
  EXPECT_EQ(maxDifference(call.transforms[1], *list.transforms[1]), 0.0f);
}

TEST_F(CasterProxyTest, ListsWithoutMatchesGoToTheHostUnchanged) {
  TestCasterList list = newCasterList(5);
  const uint64_t lists = read(counters.shadow.proxyLists);
  const uint64_t proxyCalls = read(counters.shadow.proxyCalls);
  callProxy0(list);
  EXPECT_EQ(lastShadowBuildCall().list, list.header);
  EXPECT_EQ(read(counters.shadow.proxyLists), lists);
  EXPECT_EQ(read(counters.shadow.proxyCalls), proxyCalls + 1);

  callProxy0(nullptr);
  EXPECT_EQ(lastShadowBuildCall().list, nullptr);
  TestCasterList empty = newCasterList(0);
  callProxy0(empty);
  EXPECT_EQ(lastShadowBuildCall().list, empty.header);
  // A header that cannot be read.
  uint8_t* unreadableHeader = allocateBytesBeforeNoAccess(8);
  callProxy0(unreadableHeader);
  EXPECT_EQ(lastShadowBuildCall().list, unreadableHeader);
}

TEST_F(CasterProxyTest, LongestListIsProcessedAndLongerOnesPassThrough) {
  TestCasterList longest = newCasterList(kMaxCasterEntries);
  publishFor(longest, kMaxCasterEntries - 1, correction);
  callProxy0(longest);
  ASSERT_NE(lastShadowBuildCall().list, longest.header);
  EXPECT_NEAR(lastShadowBuildCall().transforms[kMaxCasterEntries - 1].m[3], kMaxCasterEntries + 0.5, 1e-3);

  TestCasterList tooLong = newCasterList(kMaxCasterEntries + 1);
  publishFor(tooLong, 0, correction);
  const uint64_t capacity = read(counters.shadow.proxyCapacityMiss);
  const uint64_t calls = read(counters.shadow.calls);
  callProxy0(tooLong);
  EXPECT_EQ(lastShadowBuildCall().list, tooLong.header);
  EXPECT_EQ(read(counters.shadow.proxyCapacityMiss), capacity + 1);
  EXPECT_EQ(read(counters.shadow.calls), calls);
}

TEST_F(CasterProxyTest, UnreadableEntryArrayPassesThroughWithoutCountingCasters) {
  TestCasterList list = newCasterList(2);
  uint8_t* shortEntries = allocateBytesBeforeNoAccess(48);  // room for one entry of two
  std::memcpy(shortEntries, list.entries, 48);
  std::memcpy(list.header, &shortEntries, 8);
  publishFor(list, 0, correction);
  const uint64_t calls = read(counters.shadow.calls);
  callProxy0(list);
  EXPECT_EQ(lastShadowBuildCall().list, list.header);
  EXPECT_EQ(read(counters.shadow.calls), calls);
}

TEST_F(CasterProxyTest, UnreadableAndNonFiniteCastersAreLeftAlone) {
  TestCasterList list = newCasterList(4);
  // Entry 0: a transform that cannot be read.
  const void* unreadable = allocateBytesBeforeNoAccess(32);
  std::memcpy(list.entries + 8, &unreadable, 8);
  // Entry 1: a correction whose product overflows.
  *list.transforms[1] = placementMatrix({0, 1e30, 0, 0, 1e30});
  Matrix4x4 huge = identityMatrix();
  huge.m[0] = huge.m[5] = huge.m[10] = 1e30f;
  publishFor(list, 1, huge);
  // Entry 2: a non-finite transform.
  list.transforms[2]->m[5] = std::numeric_limits<float>::infinity();
  // Entry 3: matched.
  publishFor(list, 3, correction);
  const uint64_t unreadableCount = read(counters.shadow.unreadable);
  const uint64_t adjusted = read(counters.shadow.adjusted);
  const auto entriesBefore = list.entryBytes();
  callProxy0(list);
  const ShadowBuildCall& call = lastShadowBuildCall();
  ASSERT_NE(call.list, list.header);
  EXPECT_EQ(read(counters.shadow.unreadable), unreadableCount + 1);
  EXPECT_EQ(read(counters.shadow.adjusted), adjusted + 1);
  EXPECT_EQ(std::memcmp(call.entries.data(), entriesBefore.data(), 3 * 48), 0);
  EXPECT_NEAR(call.transforms[3].m[3], 4.5, 1e-6);
}

TEST_F(CasterProxyTest, NothingIsSubstitutedBeforeTheFirstPresentedFrame) {
  TestCasterList list = newCasterList(1);
  publishFor(list, 0, correction);
  const uint64_t saved = latestPresentationSerial.exchange(0);
  callProxy0(list);
  latestPresentationSerial.store(saved);
  EXPECT_EQ(lastShadowBuildCall().list, list.header);
}

// The nested call made from inside the host function.
struct Nested {
  TestCasterList* innerList = nullptr;
  std::vector<uint8_t> outerEntries;
  const uint8_t* outerEntryArray = nullptr;
  const void* innerHanded = nullptr;
  bool outerIntact = false;
  uint64_t innerResult = 0;
};
Nested nested;

void callProxyFromInsideTheHost() {
  shadowBuildInner = nullptr;
  const ShadowBuildCall outer = lastShadowBuildCall();
  std::memcpy(&nested.outerEntryArray, outer.header, 8);
  nested.innerResult = shadowCasterProxy1(0, 0, nested.innerList->header, 0, 0, 0.0f, 0, 3);
  nested.innerHanded = lastShadowBuildCall().list;
  nested.outerIntact =
      std::memcmp(nested.outerEntryArray, outer.entries.data(), outer.entries.size()) == 0 &&
      std::memcmp(reinterpret_cast<const Matrix4x4*>(*reinterpret_cast<const uint64_t*>(nested.outerEntryArray + 8)),
                  &outer.transforms[0], 64) == 0;
}

TEST_F(CasterProxyTest, NestedCallPassesStraightThroughAndKeepsTheOuterList) {
  TestCasterList outer = newCasterList(2);
  TestCasterList inner = newCasterList(2);
  publishFor(outer, 0, correction);
  publishFor(inner, 0, correction);
  publishFor(inner, 1, correction);
  nested = Nested{};
  nested.innerList = &inner;
  const uint64_t proxyCalls = read(counters.shadow.proxyCalls);
  shadowBuildInner = callProxyFromInsideTheHost;
  shadowCasterProxy0(0, 0, outer.header, 0, 0, 0.0f);
  shadowBuildInner = nullptr;
  EXPECT_EQ(nested.innerHanded, inner.header) << "the nested call hands the host its own list";
  EXPECT_EQ(nested.innerResult, kShadowBuildResult + 3);
  EXPECT_TRUE(nested.outerIntact);
  EXPECT_EQ(read(counters.shadow.proxyCalls), proxyCalls + 1);

  // The thread's next call substitutes again.
  callProxy0(inner);
  EXPECT_NE(lastShadowBuildCall().list, inner.header);
}

}  // namespace
