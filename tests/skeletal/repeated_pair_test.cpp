// Calls between two simulation steps, which blend the track's pair again: what
// they prepare, and what they leave alone when they refuse.
#include <cmath>
#include <limits>

#include "math/blend.h"
#include "tests/skeletal/skeletal_fixture.h"

namespace {

class RepeatedPairTest : public SkeletalTest {
 protected:
  static constexpr uint32_t kJoints = 37, kPadded = 40;

  void SetUp() override {
    SkeletalTest::SetUp();
    SkinnedRecordShape shape;
    shape.joints = kJoints;
    shape.padded = kPadded;
    record = newSkinnedRecord(shape, &host);
  }

  // Samples the host palette written with `phase` at `sampleTime`.
  void sample(double phase, double sampleTime) {
    writePose(host, kPadded, phase);
    frame(sampleTime + 0.001, sampleTime);
    callHook(record);
  }

  void clearOutputs() {
    std::memset(out, 0x5A, sizeof out);
    std::memset(&upload, 0xA5, sizeof upload);
  }

  bool outputsUntouched() const {
    const auto* o = reinterpret_cast<const unsigned char*>(out);
    const auto* u = reinterpret_cast<const unsigned char*>(&upload);
    for (size_t i = 0; i < sizeof out; ++i)
      if (o[i] != 0x5A) return false;
    for (size_t i = 0; i < sizeof upload; ++i)
      if (u[i] != 0xA5) return false;
    return true;
  }

  uint8_t* record = nullptr;
  Matrix3x4* host = nullptr;
  Matrix3x4 out[256];
  PaletteUpload upload;
};

// The prepared palette is the public blend of the pair, bit for bit, with the
// host's padding entries after it and the hash of what was prepared.
TEST_F(RepeatedPairTest, PreparesThePublicBlendOfThePair) {
  sample(0.0, 1.00);
  const std::vector<Matrix3x4> a(host, host + kPadded);
  sample(4.0, 1.02);
  const std::vector<Matrix3x4> b(host, host + kPadded);
  for (double presentation : {1.027, 1.031, 1.06, 0.99}) {
    clearOutputs();
    frame(presentation, 1.02);
    const uint64_t prepared = read(sk().uploadPrepared);
    ASSERT_TRUE(preparePalette(record, out, &upload)) << presentation;
    EXPECT_EQ(read(sk().uploadPrepared), prepared + 1);
    double alpha = (presentation - 1.00) / (1.02 - 1.00);
    alpha = std::fmax(std::fmin(alpha, 2.0), -0.25);
    EXPECT_EQ(upload.alpha, alpha);
    Matrix3x4 expected[kJoints];
    ASSERT_TRUE(interpolateMatrix3x4Array(a.data(), b.data(), kJoints, alpha, expected));
    EXPECT_EQ(std::memcmp(out, expected, sizeof expected), 0) << presentation;
    EXPECT_EQ(std::memcmp(out + kJoints, host + kJoints, (kPadded - kJoints) * sizeof(Matrix3x4)), 0);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(out + kPadded)[0], 0x5A);
    EXPECT_EQ(upload.hash, digestMatrix3x4Array(expected, kJoints));
    EXPECT_EQ(upload.model, record);
  }
}

// A factor that is not a number is refused by the blend and drops the pair;
// new content at the same sample time restarts the track. Neither writes.
TEST_F(RepeatedPairTest, RefusalsCountAsBeforeAndWriteNothing) {
  sample(0.0, 1.00);
  sample(4.0, 1.02);
  clearOutputs();
  frame(std::numeric_limits<double>::quiet_NaN(), 1.02);
  const uint64_t rejected = read(sk().interpolationRejected);
  EXPECT_FALSE(preparePalette(record, out, &upload));
  EXPECT_EQ(read(sk().interpolationRejected), rejected + 1);
  EXPECT_TRUE(outputsUntouched());
  frame(1.025, 1.02);
  EXPECT_FALSE(preparePalette(record, out, &upload));  // the pair is gone
  EXPECT_TRUE(outputsUntouched());

  sample(8.0, 1.04);  // a new pair
  frame(1.045, 1.04);
  ASSERT_TRUE(preparePalette(record, out, &upload));
  clearOutputs();
  host[kJoints - 1].m[7] += 0.25f;  // the last blended joint moves, same sample time
  const uint64_t sameTime = read(sk().rejectedSameTime);
  const uint64_t discontinuities = read(sk().discontinuity);
  frame(1.046, 1.04);
  EXPECT_FALSE(preparePalette(record, out, &upload));
  EXPECT_EQ(read(sk().rejectedSameTime), sameTime + 1);
  EXPECT_TRUE(outputsUntouched());
  // The changed palette is the track's reference now: it is not refused again,
  // and the next sample pairs with it.
  frame(1.047, 1.04);
  EXPECT_FALSE(preparePalette(record, out, &upload));
  EXPECT_EQ(read(sk().rejectedSameTime), sameTime + 1);
  const std::vector<Matrix3x4> reference(host, host + kPadded);
  sample(12.0, 1.06);
  frame(1.065, 1.06);
  ASSERT_TRUE(preparePalette(record, out, &upload));
  Matrix3x4 expected[kJoints];
  ASSERT_TRUE(interpolateMatrix3x4Array(reference.data(), host, kJoints, upload.alpha, expected));
  EXPECT_EQ(std::memcmp(out, expected, sizeof expected), 0);
  EXPECT_EQ(read(sk().discontinuity), discontinuities);
}

}  // namespace
