// The slot-group rewrite: every form of the slot describes the corrected
// placement, and a non-finite input or result writes nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "tests/support/model_host.h"
#include "world/model_record.h"
#include "world/rewrite.h"

using namespace corvane::bootstrap;
using namespace corvane::world;

namespace {

struct RecordCopy {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kRecordCopyCapacity, 0);
  uint8_t* data() { return bytes.data(); }
};

TEST(RewriteSlotGroup, WorldPairMovesEveryFormOntoTheInterpolatedMatrix) {
  useModelHost();
  const Placement host{35.0, 4.0, -2.0, 1.0};
  const Placement interpolated{38.0, 4.5, -1.5, 1.2};
  RecordCopy copy;
  uint8_t* record = copy.data();
  setWorldMatrices(record, host, {30.0, 3.0, -2.0, 1.0});
  const std::vector<uint8_t> previousBefore(copy.bytes.begin() + 0x60, copy.bytes.begin() + 0xA0);

  // F = I * A^-1, G = A * I^-1.
  const Matrix4x4 forward = product(placementMatrix(interpolated), placementInverse(host));
  const Matrix4x4 inverse = product(placementMatrix(host), placementInverse(interpolated));
  ASSERT_TRUE(rewriteSlotGroup(record, kCurrentSlots, forward, inverse));

  const Matrix4x4 i = placementMatrix(interpolated);
  EXPECT_LT(maxDifference(readMatrix(record, kModelCurrentWorldOffset), i), 1e-5f);
  EXPECT_LT(maxDifference(readMatrix(record, kModelCurrentInverseOffset), placementInverse(interpolated)), 1e-5f);
  EXPECT_LT(maxDifference(readMatrix(record, kModelCurrentDerived1Offset), product(derivedFactor1(), i)), 1e-5f);
  EXPECT_LT(maxDifference(readMatrix(record, kModelCurrentDerived2Offset), product(derivedFactor2(), i)), 1e-5f);
  EXPECT_TRUE(std::equal(previousBefore.begin(), previousBefore.end(), copy.bytes.begin() + 0x60))
      << "only the named slots change";
}

TEST(RewriteSlotGroup, TranslationExample) {
  useModelHost();
  RecordCopy copy;
  uint8_t* record = copy.data();
  const Matrix4x4 w = placementMatrix({0, 10});
  const Matrix4x4 m = placementMatrix({60, 1, 2, 3});
  writeMatrix(record, 0x60, w);
  writeMatrix(record, 0xE0, placementInverse({0, 10}));
  writeMatrix(record, 0x160, product(m, w));
  writeMatrix(record, 0x1E0, product(m, w));
  ASSERT_TRUE(rewriteSlotGroup(record, 0x60, 0xE0, 0x160, 0x1E0, placementMatrix({0, 1}), placementInverse({0, 1})));
  EXPECT_EQ(maxDifference(readMatrix(record, 0x60), placementMatrix({0, 11})), 0.0f);
  EXPECT_EQ(maxDifference(readMatrix(record, 0xE0), placementMatrix({0, -11})), 0.0f);
  EXPECT_LT(maxDifference(readMatrix(record, 0x160), product(m, placementMatrix({0, 11}))), 1e-5f);
}

TEST(RewriteSlotGroup, IdentityPairKeepsTheWorldMatrixAndItsInverse) {
  useModelHost();
  RecordCopy copy;
  uint8_t* record = copy.data();
  setWorldMatrices(record, {12, 1, 2, 3}, {12, 1, 2, 3});
  const Matrix4x4 w = readMatrix(record, kModelCurrentWorldOffset);
  const Matrix4x4 v = readMatrix(record, kModelCurrentInverseOffset);
  const Matrix4x4 d1 = readMatrix(record, kModelCurrentDerived1Offset);
  ASSERT_TRUE(rewriteSlotGroup(record, kCurrentSlots, identityMatrix(), identityMatrix()));
  EXPECT_EQ(maxDifference(readMatrix(record, kModelCurrentWorldOffset), w), 0.0f);
  EXPECT_EQ(maxDifference(readMatrix(record, kModelCurrentInverseOffset), v), 0.0f);
  EXPECT_LT(maxDifference(readMatrix(record, kModelCurrentDerived1Offset), d1), 1e-5f);
}

TEST(RewriteSlotGroup, NonFiniteInputOrResultWritesNothing) {
  useModelHost();
  // Every entry of every form infinite or NaN, whatever it is multiplied by.
  const uint64_t offsets[4] = {kCurrentSlots.world, kCurrentSlots.inverse, kCurrentSlots.derived1,
                               kCurrentSlots.derived2};
  const float inf = std::numeric_limits<float>::infinity();
  for (float value : {std::numeric_limits<float>::quiet_NaN(), inf, -inf}) {
    for (int at = 0; at < 64; ++at) {  // form at / 16, entry at % 16
      RecordCopy copy;
      setWorldMatrices(copy.data(), {5, 1, 2, 3}, {5, 1, 2, 3});
      std::memcpy(copy.data() + offsets[at / 16] + 4 * (at % 16), &value, 4);
      const std::vector<uint8_t> before = copy.bytes;
      EXPECT_FALSE(rewriteSlotGroup(copy.data(), kCurrentSlots, placementMatrix({0, 1}), placementInverse({0, 1})))
          << at;
      EXPECT_EQ(copy.bytes, before) << at;
    }
  }

  // Finite inputs whose products overflow.
  RecordCopy copy;
  setWorldMatrices(copy.data(), {0, 1e30, 0, 0, 1e30}, {0, 0});
  const std::vector<uint8_t> before = copy.bytes;
  Matrix4x4 huge = identityMatrix();
  huge.m[0] = huge.m[5] = huge.m[10] = 1e30f;
  EXPECT_FALSE(rewriteSlotGroup(copy.data(), kCurrentSlots, huge, identityMatrix()));
  EXPECT_EQ(copy.bytes, before);

  // An infinite correction.
  Matrix4x4 infinite = identityMatrix();
  infinite.m[3] = inf;
  EXPECT_FALSE(rewriteSlotGroup(copy.data(), kPreviousSlots, infinite, identityMatrix()));
  EXPECT_EQ(copy.bytes, before);
}

}  // namespace
