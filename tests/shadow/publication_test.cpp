// The shadow publication tables: freshness, the two searches, ambiguity, and
// what a full probe sequence does.
#include <gtest/gtest.h>

#include <vector>

#include "diagnostics/counters.h"
#include "shadow/publication.h"
#include "shadow/test_seam.h"
#include "tests/support/model_host.h"
#include "world/content_key.h"

using namespace corvane::diagnostics;
using namespace corvane::shadow;
using namespace corvane::world;

namespace {

class ShadowPublicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useModelHost();
    resetShadowPublicationForTests();
  }
  const Matrix4x4 model = placementMatrix({15, 3, 4, 5});
  const Matrix4x4 correction = placementMatrix({0, 0.25});
  const void* address = reinterpret_cast<const void*>(0x5550'0000'0020ull);
  const void* elsewhere = reinterpret_cast<const void*>(0x6660'0000'0040ull);
};

TEST_F(ShadowPublicationTest, DirectMatchIsFreshForTwoSerials) {
  publishShadowCorrection(address, contentKey(model), correction, 100);
  const uint64_t direct = read(counters.shadow.matchesDirect);
  const uint64_t misses = read(counters.shadow.cacheMiss);
  Matrix4x4 found{};
  ASSERT_TRUE(findShadowCorrection(address, model, 102, &found));
  EXPECT_EQ(maxDifference(found, correction), 0.0f);
  EXPECT_EQ(read(counters.shadow.matchesDirect), direct + 1);
  EXPECT_FALSE(findShadowCorrection(address, model, 103, &found));
  EXPECT_EQ(read(counters.shadow.cacheMiss), misses + 1);
}

TEST_F(ShadowPublicationTest, StaleDirectSlotFallsBackToTheContentSearch) {
  publishShadowCorrection(address, contentKey(model), correction, 100);
  const Matrix4x4 other = placementMatrix({0, 9});
  publishShadowCorrection(elsewhere, contentKey(model), other, 103);
  const uint64_t content = read(counters.shadow.matchesContent);
  Matrix4x4 found{};
  ASSERT_TRUE(findShadowCorrection(address, model, 103, &found));
  EXPECT_EQ(maxDifference(found, other), 0.0f);
  EXPECT_EQ(read(counters.shadow.matchesContent), content + 1);
}

TEST_F(ShadowPublicationTest, ChangedContentsEndTheDirectSearch) {
  publishShadowCorrection(address, contentKey(model), correction, 100);
  Matrix4x4 found{};
  const uint64_t misses = read(counters.shadow.cacheMiss);
  EXPECT_FALSE(findShadowCorrection(address, placementMatrix({15, 3, 4, 6}), 100, &found));
  EXPECT_EQ(read(counters.shadow.cacheMiss), misses + 1);
}

TEST_F(ShadowPublicationTest, ContentMatchFromAnotherAddressAndAmbiguity) {
  publishShadowCorrection(address, contentKey(model), correction, 50);
  Matrix4x4 found{};
  ASSERT_TRUE(findShadowCorrection(elsewhere, model, 51, &found));
  EXPECT_EQ(maxDifference(found, correction), 0.0f);

  // The same model publishing again replaces its slot: still one candidate.
  const Matrix4x4 newer = placementMatrix({0, 0.5});
  publishShadowCorrection(address, contentKey(model), newer, 51);
  ASSERT_TRUE(findShadowCorrection(elsewhere, model, 51, &found));
  EXPECT_EQ(maxDifference(found, newer), 0.0f);

  // A second model with the same contents: the caster keeps its own transform.
  const void* third = reinterpret_cast<const void*>(0x7770'0000'0000ull);
  publishShadowCorrection(third, contentKey(model), correction, 51);
  const uint64_t ambiguous = read(counters.shadow.matchesAmbiguous);
  EXPECT_FALSE(findShadowCorrection(elsewhere, model, 52, &found));
  EXPECT_EQ(read(counters.shadow.matchesAmbiguous), ambiguous + 1);
  // Out of the freshness window of one of them, the other matches again.
  publishShadowCorrection(third, contentKey(model), correction, 54);
  EXPECT_TRUE(findShadowCorrection(elsewhere, model, 54, &found));
}

// `count` distinct addresses whose pointer-table probe sequences start together.
std::vector<const void*> collidingAddresses(size_t count) {
  std::vector<const void*> out;
  const uint32_t target = shadowPointerSlot(reinterpret_cast<const void*>(0x4000'0000'0000ull), 0);
  for (uint64_t p = 0x4000'0000'0000ull; out.size() < count; p += 0x40) {
    if (shadowPointerSlot(reinterpret_cast<const void*>(p), 0) == target)
      out.push_back(reinterpret_cast<const void*>(p));
  }
  return out;
}

std::vector<uint64_t> collidingKeys(size_t count) {
  std::vector<uint64_t> out;
  const uint32_t target = shadowContentSlot(1, 0);
  for (uint64_t k = 1; out.size() < count; ++k) {
    if (shadowContentSlot(k, 0) == target) out.push_back(k);
  }
  return out;
}

TEST_F(ShadowPublicationTest, FullPointerSequenceReusesTheFirstStaleSlotOrMisses) {
  const auto addresses = collidingAddresses(kShadowProbes + 1);
  for (size_t i = 0; i < kShadowProbes; ++i) publishShadowCorrection(addresses[i], 1000 + i, correction, 1000);
  const void* newcomer = addresses[kShadowProbes];
  const uint64_t published = read(counters.shadow.published);
  const uint64_t misses = read(counters.shadow.capacityMissPointer);
  const uint64_t contentMisses = read(counters.shadow.capacityMissContent);
  publishShadowCorrection(newcomer, 5000, correction, 1600);
  EXPECT_EQ(read(counters.shadow.capacityMissPointer), misses + 1);
  EXPECT_EQ(read(counters.shadow.published), published);
  EXPECT_EQ(read(counters.shadow.capacityMissContent), contentMisses);

  // 601 serials later a stale slot of the sequence is taken.
  publishShadowCorrection(newcomer, 5000, correction, 1601);
  EXPECT_EQ(read(counters.shadow.published), published + 1);
  EXPECT_EQ(read(counters.shadow.capacityMissPointer), misses + 1);
  // It is the newcomer's slot from now on: found directly.
  publishShadowCorrection(newcomer, contentKey(model), correction, 1601);
  const uint64_t direct = read(counters.shadow.matchesDirect);
  Matrix4x4 found{};
  EXPECT_TRUE(findShadowCorrection(newcomer, model, 1601, &found));
  EXPECT_EQ(read(counters.shadow.matchesDirect), direct + 1);
}

TEST_F(ShadowPublicationTest, FullContentSequenceMissesButStillPublishesByPointer) {
  const auto keys = collidingKeys(kShadowProbes + 1);
  for (size_t i = 0; i < kShadowProbes; ++i) {
    publishShadowCorrection(reinterpret_cast<const void*>(0x1000'0000 + i * 0x1000), keys[i], correction, 10);
  }
  const uint64_t published = read(counters.shadow.published);
  const uint64_t contentMisses = read(counters.shadow.capacityMissContent);
  publishShadowCorrection(address, keys[kShadowProbes], correction, 11);
  EXPECT_EQ(read(counters.shadow.published), published + 1);
  EXPECT_EQ(read(counters.shadow.capacityMissContent), contentMisses + 1);
  publishShadowCorrection(address, keys[kShadowProbes], correction, 611);
  EXPECT_EQ(read(counters.shadow.capacityMissContent), contentMisses + 1) << "a stale slot is reused";
}

}  // namespace
