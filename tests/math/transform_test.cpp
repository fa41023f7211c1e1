// Rigidity tests, decompositions, inverses and products against the
// long-double reference, with the boundaries of every tolerance.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "math/blend.h"
#include "math/palette_blend.h"
#include "math/quaternion.h"
#include "math/transform.h"
#include "tests/support/reference.h"

namespace {

Matrix4x4 identity4() {
  Matrix4x4 m{};
  m.m[0] = m.m[5] = m.m[10] = m.m[15] = 1.0f;
  return m;
}

Matrix3x4 identity3() {
  Matrix3x4 m{};
  m.m[0] = m.m[5] = m.m[10] = 1.0f;
  return m;
}

Matrix3x4 diagonal3(float a, float b, float c) {
  Matrix3x4 m{};
  m.m[0] = a;
  m.m[5] = b;
  m.m[10] = c;
  return m;
}

Matrix4x4 diagonal4(float a, float b, float c) {
  Matrix4x4 m = identity4();
  m.m[0] = a;
  m.m[5] = b;
  m.m[10] = c;
  return m;
}

// Sentinel contents to prove an output was left alone.
template <typename T>
T filled() {
  T value;
  std::memset(&value, 0xA5, sizeof value);
  return value;
}
template <typename T>
bool untouched(const T& value) {
  const T sentinel = filled<T>();
  return std::memcmp(&value, &sentinel, sizeof value) == 0;
}

TEST(Rigidity, IdentityWithAnyTranslationPassesAndEveryNonFiniteElementFails) {
  Matrix3x4 m = identity3();
  m.m[3] = 1e6f;
  m.m[7] = -3.5f;
  m.m[11] = 0.25f;
  EXPECT_TRUE(isRigidMatrix3x4(m));
  const float bad[] = {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                       std::numeric_limits<float>::quiet_NaN()};
  for (int i = 0; i < 12; ++i) {
    for (float v : bad) {
      Matrix3x4 f = m;
      f.m[i] = v;
      EXPECT_FALSE(isRigidMatrix3x4(f)) << "element " << i;
      Matrix4x4 g = identity4();
      g.m[i] = v;
      RigidTransform out = filled<RigidTransform>();
      EXPECT_FALSE(decomposeRigid(g, &out)) << "element " << i;
      EXPECT_TRUE(untouched(out));
    }
  }
  for (int i = 0; i < 16; ++i) {
    Matrix4x4 g = identity4();
    g.m[i] = -std::numeric_limits<float>::infinity();
    EXPECT_FALSE(isFiniteMatrix4x4(g)) << "element " << i;
    g.m[i] = std::numeric_limits<float>::denorm_min();
    EXPECT_TRUE(isFiniteMatrix4x4(g)) << "element " << i;
  }
  for (int i = 12; i < 16; ++i) {
    Matrix4x4 g = identity4();
    g.m[i] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(isFiniteMatrix4x4(g));
    Matrix4x4 inv = filled<Matrix4x4>();
    EXPECT_FALSE(inverseAffine(g, &inv));
    EXPECT_TRUE(untouched(inv));
  }
}

TEST(Rigidity, SquaredRowLengthToleranceOnEveryRow) {
  const float pass = float(std::sqrt(1.009L));
  const float fail = float(std::sqrt(1.011L));
  const float shortFail = float(std::sqrt(0.989L));
  EXPECT_TRUE(isRigidMatrix3x4(diagonal3(pass, pass, pass)));
  for (int row = 0; row < 3; ++row) {
    float d[3] = {1, 1, 1};
    d[row] = pass;
    EXPECT_TRUE(isRigidMatrix3x4(diagonal3(d[0], d[1], d[2]))) << row;
    d[row] = fail;
    EXPECT_FALSE(isRigidMatrix3x4(diagonal3(d[0], d[1], d[2]))) << row;
    d[row] = shortFail;
    EXPECT_FALSE(isRigidMatrix3x4(diagonal3(d[0], d[1], d[2]))) << row;
  }
}

TEST(Rigidity, BottomRowExactlyAtToleranceIsAffine) {
  for (int i = 12; i < 15; ++i) {
    Matrix4x4 m = identity4();
    m.m[i] = 0.001f;
    RigidTransform out;
    EXPECT_TRUE(decomposeRigid(m, &out)) << i;
    m.m[i] = -0.001f;
    EXPECT_TRUE(decomposeRigid(m, &out)) << i;
    m.m[i] = std::nextafter(0.001f, 1.0f);
    EXPECT_FALSE(decomposeRigid(m, &out)) << i;
  }
  Matrix4x4 m = identity4();
  m.m[15] = 1.0009f;
  RigidTransform out;
  EXPECT_TRUE(decomposeRigid(m, &out));
  m.m[15] = 1.0011f;
  EXPECT_FALSE(decomposeRigid(m, &out));
}

// Rows (1, b, 0) and (c, d, 0): the 64-bit dot product c + b*d is steered onto
// 0.01 exactly by searching b and d; the next float d puts it just above.
TEST(Rigidity, OrthogonalityExactlyAtTolerancePassesAndTheNextValueFails) {
  const double target = 0.01;
  const float c = 0.01f;
  float b = 0, exact = 0;
  for (float d = 0.999f; d < 1.001f && exact == 0; d = std::nextafter(d, 2.0f)) {
    b = float((target - double(c)) / double(d));
    if (1.0 * double(c) + double(b) * double(d) + 0.0 * 0.0 == target) exact = d;
  }
  const float above = std::nextafter(exact, 2.0f);
  for (float candidate : {exact, above}) {
    Matrix3x4 m = identity3();
    m.m[1] = b;
    m.m[4] = c;
    m.m[5] = candidate;
    EXPECT_EQ(isRigidMatrix3x4(m), candidate == exact);
    // The same deviation between rows 0 and 2, and between rows 1 and 2.
    Matrix3x4 n = identity3();
    n.m[2] = b;
    n.m[8] = c;
    n.m[10] = candidate;
    EXPECT_EQ(isRigidMatrix3x4(n), candidate == exact);
    Matrix3x4 o = identity3();
    o.m[6] = b;
    o.m[9] = c;
    o.m[10] = candidate;
    EXPECT_EQ(isRigidMatrix3x4(o), candidate == exact);
  }
}

TEST(Rigidity, ShearedZeroAndMirroredMatricesFail) {
  Matrix3x4 sheared = identity3();
  sheared.m[1] = 0.05f;  // rows stay within length tolerance, not orthogonal
  EXPECT_FALSE(isRigidMatrix3x4(sheared));
  EXPECT_FALSE(isRigidMatrix3x4(Matrix3x4{}));
  EXPECT_FALSE(isRigidMatrix3x4(diagonal3(-1, 1, 1)));
  EXPECT_FALSE(isRigidMatrix3x4(diagonal3(1, -1, 1)));
  EXPECT_FALSE(isRigidMatrix3x4(diagonal3(-1, -1, -1)));
  EXPECT_TRUE(isRigidMatrix3x4(diagonal3(-1, -1, 1)));  // a half turn
  // Denormals are finite: a denormal off-diagonal element is a negligible deviation.
  Matrix3x4 tiny = identity3();
  tiny.m[1] = std::numeric_limits<float>::denorm_min();
  EXPECT_TRUE(isRigidMatrix3x4(tiny));
}

TEST(Decompose, RandomRigidScaledAndMirroredRoundTrips) {
  ref::Random random(1);
  for (int n = 0; n < 3000; ++n) {
    const ref::Mat3 r = random.rotation();
    const bool mirrored = n % 3 == 2;
    ref::Real scale = n % 3 == 0 ? 1 : std::exp(random.uniform(std::log(0.001L), std::log(90.0L)));
    if (n % 3 != 0 && std::fabs(scale - 1) < 0.05L) scale = 1.1L;  // near 1 a scaled matrix is still rigid
    const ref::Vec3 t{{random.uniform(-5000, 5000), random.uniform(-5000, 5000), random.uniform(-5000, 5000)}};
    const Matrix4x4 m = ref::affine(r, scale, mirrored, t);

    RigidTransform rigid;
    EXPECT_EQ(decomposeRigid(m, &rigid), scale == 1 && !mirrored);
    double s = 0;
    bool mir = !mirrored;
    ASSERT_TRUE(decomposeScaledRigid(m, &rigid, &s, &mir)) << n;
    EXPECT_EQ(mir, mirrored);
    EXPECT_NEAR(s, double(scale), double(scale) * 1e-6);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(rigid.translation[i], double(m.m[4 * i + 3]));
      for (int j = 0; j < 3; ++j) {
        // Stored column by column; the mirror sits in the first column.
        const ref::Real expected = r.a[i][j];
        EXPECT_NEAR(rigid.rotation[3 * j + i], double(expected), 1e-6) << n;
      }
    }
    Matrix4x4 back;
    composeScaledRigid(rigid, s, mir, &back);
    for (int i = 0; i < 16; ++i) {
      EXPECT_NEAR(back.m[i], m.m[i], 2e-6 * double(scale) + 1e-9) << n << " element " << i;
    }
  }
}

TEST(Decompose, ScaledMirroredAndRefusedCases) {
  RigidTransform out;
  double scale = 0;
  bool mirrored = false;
  ASSERT_TRUE(decomposeScaledRigid(diagonal4(-1, 1, 1), &out, &scale, &mirrored));
  EXPECT_EQ(scale, 1.0);
  EXPECT_TRUE(mirrored);

  const ref::Mat3 r = ref::axisAngle({{1, 2, 3}}, 0.7L);
  const Matrix4x4 m15 = ref::affine(r, 1.5L, false, {{1, 2, 3}});
  EXPECT_FALSE(decomposeRigid(m15, &out));
  ASSERT_TRUE(decomposeScaledRigid(m15, &out, &scale, &mirrored));
  EXPECT_NEAR(scale, 1.5, 1e-6);
  EXPECT_FALSE(mirrored);
  Matrix4x4 back;
  composeScaledRigid(out, scale, mirrored, &back);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(back.m[i], m15.m[i], 2e-5);

  EXPECT_FALSE(decomposeScaledRigid(diagonal4(1.25f, 1, 1), &out, &scale, &mirrored));
  EXPECT_FALSE(decomposeScaledRigid(ref::affine(r, 0.00005L, false, {}), &out, &scale, &mirrored));
  EXPECT_FALSE(decomposeScaledRigid(ref::affine(r, 150, false, {}), &out, &scale, &mirrored));
  EXPECT_NEAR(scale, 150, 1e-3);  // known once the row lengths are

  Matrix4x4 lifted = identity4();
  lifted.m[14] = 0.002f;
  EXPECT_FALSE(decomposeRigid(lifted, &out));
  EXPECT_FALSE(decomposeScaledRigid(lifted, &out, &scale, &mirrored));
  Matrix4x4 inv;
  EXPECT_FALSE(inverseAffine(lifted, &inv));

  // Zero matrix: a scale of 0 is reported and refused.
  Matrix4x4 zero{};
  zero.m[15] = 1;
  scale = -1;
  EXPECT_FALSE(decomposeScaledRigid(zero, &out, &scale, &mirrored));
  EXPECT_EQ(scale, 0.0);
  // All-denormal linear part: finite, but far below the smallest scale.
  const float dn = std::numeric_limits<float>::denorm_min() * 8;
  EXPECT_FALSE(decomposeScaledRigid(diagonal4(dn, dn, dn), &out, &scale, &mirrored));
  EXPECT_GT(scale, 0.0);
  EXPECT_LT(scale, 1e-40);
  // Sheared at scale 2: uniform row lengths, rows not orthogonal.
  Matrix4x4 sheared = diagonal4(2, 2, 2);
  sheared.m[1] = 0.1f;
  sheared.m[0] = float(std::sqrt(4.0L - 0.01L));
  EXPECT_FALSE(decomposeScaledRigid(sheared, &out, &scale, &mirrored));
  EXPECT_NEAR(scale, 2.0, 1e-6);
  // A mirror that is also non-uniform fails both attempts.
  EXPECT_FALSE(decomposeScaledRigid(diagonal4(-1.25f, 1, 1), &out, &scale, &mirrored));
  EXPECT_FALSE(mirrored);
}

TEST(Decompose, ScaleLimitsAreExclusiveBelowAndInclusiveAbove) {
  RigidTransform out;
  double scale = 0;
  bool mirrored = false;
  EXPECT_TRUE(decomposeScaledRigid(diagonal4(100, 100, 100), &out, &scale, &mirrored));
  EXPECT_EQ(scale, 100.0);
  const float over = std::nextafter(100.0f, 200.0f);
  EXPECT_FALSE(decomposeScaledRigid(diagonal4(over, over, over), &out, &scale, &mirrored));

  // Rows (v, 0, 0), (0, v, 0), (0, y, v): the third row length moves with y
  // in steps fine enough to put the mean row length on 0.0001 exactly.
  const float v = 0.0001f;
  float exact = 0, above = 0;
  const ref::Real l2 = 3 * 0.0001L - 2 * ref::Real(v);
  float y = float(0.99L * std::sqrt(l2 * l2 - ref::Real(v) * v));
  for (int i = 0; i < 3000000 && (exact == 0 || above == 0); ++i, y = std::nextafter(y, 1.0f)) {
    const double l2 = std::sqrt(0.0 * 0.0 + double(y) * double(y) + double(v) * double(v));
    const double mean = (double(v) + double(v) + l2) / 3.0;
    if (mean == 0.0001 && exact == 0) exact = y;
    if (mean > 0.0001 && above == 0) above = y;
  }
  ASSERT_NE(exact, 0.0f);
  ASSERT_NE(above, 0.0f);
  Matrix4x4 m = diagonal4(v, v, v);
  m.m[9] = exact;
  EXPECT_FALSE(decomposeScaledRigid(m, &out, &scale, &mirrored));
  EXPECT_EQ(scale, 0.0001);
  m.m[9] = above;
  EXPECT_TRUE(decomposeScaledRigid(m, &out, &scale, &mirrored));
  EXPECT_GT(scale, 0.0001);
}

TEST(Inverse, RandomProductsAgainstReference) {
  ref::Random random(2);
  for (int n = 0; n < 2000; ++n) {
    const ref::Mat3 r = random.rotation();
    const ref::Real scale = std::exp(random.uniform(std::log(0.01L), std::log(50.0L)));
    const ref::Vec3 t{{random.uniform(-1000, 1000), random.uniform(-1000, 1000), random.uniform(-1000, 1000)}};
    const Matrix4x4 m = ref::affine(r, scale, n % 2 == 1, t);
    Matrix4x4 inv;
    ASSERT_TRUE(inverseAffine(m, &inv));
    EXPECT_EQ(inv.m[12], 0.0f);
    EXPECT_EQ(inv.m[15], 1.0f);
    // Reference inverse of the float matrix: linear^-1 and -linear^-1 * t.
    const ref::Mat3 lin = ref::linear(m);
    ref::Mat3 expected;
    const ref::Real det = lin.a[0][0] * (lin.a[1][1] * lin.a[2][2] - lin.a[1][2] * lin.a[2][1]) -
                          lin.a[0][1] * (lin.a[1][0] * lin.a[2][2] - lin.a[1][2] * lin.a[2][0]) +
                          lin.a[0][2] * (lin.a[1][0] * lin.a[2][1] - lin.a[1][1] * lin.a[2][0]);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        const int i1 = (j + 1) % 3, i2 = (j + 2) % 3, j1 = (i + 1) % 3, j2 = (i + 2) % 3;
        expected.a[i][j] = (lin.a[i1][j1] * lin.a[i2][j2] - lin.a[i1][j2] * lin.a[i2][j1]) / det;
      }
    }
    for (int i = 0; i < 3; ++i) {
      ref::Real tr = 0, magnitude = 0;
      for (int j = 0; j < 3; ++j) {
        EXPECT_NEAR(inv.m[4 * i + j], double(expected.a[i][j]), 1e-6 / double(scale)) << n;
        tr -= expected.a[i][j] * m.m[4 * j + 3];
        magnitude += std::fabs(expected.a[i][j] * m.m[4 * j + 3]);
      }
      EXPECT_NEAR(inv.m[4 * i + 3], double(tr), double(magnitude) * 6e-7) << n;
    }
    Matrix4x4 product;
    multiplyMatrix4x4(m, inv, &product);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(product.m[4 * i + j], i == j ? 1.0 : 0.0, 2e-6);
    }
  }
}

TEST(Inverse, DeterminantLimitIsInclusive) {
  // Rows (a, 0, e), (0, 1, 0), (g, 0, 1): determinant a - e*g in 64-bit.
  const float a = 1e-8f;
  auto search = [&](double target, float* e, float* g) {
    for (float gv = 1.0f; gv < 2.0f; gv = std::nextafter(gv, 2.0f)) {
      const float ev = float((double(a) - target) / double(gv));
      if (double(a) - double(ev) * double(gv) == target) {
        *e = ev;
        *g = gv;
        return true;
      }
    }
    return false;
  };
  for (double target : {1e-8, std::nextafter(1e-8, 0.0)}) {
    float e = 0, g = 0;
    ASSERT_TRUE(search(target, &e, &g));
    Matrix4x4 m = diagonal4(a, 1, 1);
    m.m[2] = e;
    m.m[8] = g;
    Matrix4x4 inv = filled<Matrix4x4>();
    EXPECT_EQ(inverseAffine(m, &inv), target == 1e-8);
    if (target != 1e-8) {
      EXPECT_TRUE(untouched(inv));
    }
    // Negated determinant: the limit is on the magnitude.
    m.m[0] = -m.m[0];
    m.m[2] = -m.m[2];
    EXPECT_EQ(inverseAffine(m, &inv), target == 1e-8);
  }
  Matrix4x4 inv;
  EXPECT_FALSE(inverseAffine(diagonal4(1e-9f, 1, 1), &inv));
  Matrix4x4 zero{};
  zero.m[15] = 1;
  EXPECT_FALSE(inverseAffine(zero, &inv));
}

TEST(Multiply, FullFourByFourProductWithSignedZeros) {
  ref::Random random(3);
  Matrix4x4 a, b;
  for (int i = 0; i < 16; ++i) {
    a.m[i] = float(random.uniform(-10, 10));
    b.m[i] = float(random.uniform(-10, 10));
  }
  Matrix4x4 p, sse2, avx;
  multiplyMatrix4x4(a, b, &p);
  multiplyMatrix4x4Sse2(a, b, &sse2);
  if (avxPaletteBlendAvailable()) multiplyMatrix4x4Avx(a, b, &avx);
  else avx = sse2;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      ref::Real s = 0;
      double inOrder = 0.0;  // the defined order: 64-bit sums from +0.0, rounded once
      for (int k = 0; k < 4; ++k) {
        s += ref::Real(a.m[4 * i + k]) * b.m[4 * k + j];
        inOrder += double(a.m[4 * i + k]) * double(b.m[4 * k + j]);
      }
      EXPECT_NEAR(p.m[4 * i + j], double(s), 1e-5);
      for (const Matrix4x4* kernel : {&p, &sse2, &avx}) EXPECT_EQ(kernel->m[4 * i + j], float(inOrder));
    }
  // Cancellation: only the defined order of the sums gives 1 (2^60 - 2^60 first).
  Matrix4x4 ones, cancelling{};
  for (float& v : ones.m) v = 1.0f;
  cancelling.m[0] = 0x1p60f;
  cancelling.m[4] = -0x1p60f;
  cancelling.m[8] = 1.0f;
  multiplyMatrix4x4(ones, cancelling, &p);
  multiplyMatrix4x4Sse2(ones, cancelling, &sse2);
  EXPECT_EQ(p.m[0], 1.0f);
  EXPECT_EQ(sse2.m[0], 1.0f);
  // Accumulation starts at +0.0, so a sum of negative zeros is +0.0.
  Matrix4x4 negZero;
  for (float& v : negZero.m) v = -0.0f;
  Matrix4x4 one = identity4();
  multiplyMatrix4x4(negZero, one, &p);
  for (float v : p.m) EXPECT_FALSE(std::signbit(v));
  // The slot rewrite's kernels, in place, give each product's bits (the AVX one
  // keeps W' and V*W' in registers between products).
  SlotForms in{a, b, ones, cancelling}, want;
  multiplyMatrix4x4(b, in.world, &want.world);
  multiplyMatrix4x4(in.inverse, a, &want.inverse);
  multiplyMatrix4x4(in.inverse, want.world, &p);
  multiplyMatrix4x4(in.derived1, p, &want.derived1);
  multiplyMatrix4x4(in.derived2, p, &want.derived2);
  for (auto kernel : {rewriteSlotFormsSse2, rewriteSlotFormsAvx, rewriteSlotForms}) {
    if (kernel == rewriteSlotFormsAvx && !avxPaletteBlendAvailable()) continue;
    SlotForms forms = in;
    kernel(b, a, forms, &forms);
    EXPECT_EQ(std::memcmp(&forms, &want, sizeof forms), 0);
  }
  // In place: the identity on the right reproduces the left factor.
  const Matrix4x4 before = a;
  multiplyMatrix4x4(a, one, &a);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(a.m[i], before.m[i]);
}

// Worked out by hand: m is 2 R + (4, -2, 6) with R the 120-degree turn about
// (1, 1, 1), which permutes the axes; a blend from the identity turns about the
// same axis (60 degrees: entries 2/3 and -1/3; 180 degrees: -1/3 and 2/3).
// The quarter turn about z (x to y) decomposed: its rotation block is stored
// column by column and the quaternion conversion reads it in row order, so the
// quaternion is the transposed turn's, which turns the axes (v + w t + q x t
// with t = 2 q x v) x to -y, y to x; blends and angles are unaffected.
TEST(PinnedResults, InverseRelativeAndBlendOfAThirdTurn) {
  const Matrix4x4 m{{0, 0, 2, 4, 2, 0, 0, -2, 0, 2, 0, 6, 0, 0, 0, 1}};
  const Matrix4x4 shift{{1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
  Matrix4x4 inverse, forward, backward, half, beyond;
  ASSERT_TRUE(inverseAffine(m, &inverse));
  ASSERT_TRUE(relativeTransforms(shift, m, &forward, &backward));
  ASSERT_TRUE(interpolateMatrix4x4(identity4(), m, 0.5, &half));
  ASSERT_TRUE(interpolateMatrix4x4(identity4(), m, 1.5, &beyond));
  const float a = -2.5f / 3, b = 5.0f / 3;  // scale 2.5 times -1/3 and 2/3
  RigidTransform quarter;
  ASSERT_TRUE(decomposeRigid(Matrix4x4{{0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}, &quarter));
  const Quaternion q = quaternionFromRotation(quarter.rotation);
  const double u[3] = {q.x, q.y, q.z};
  auto cross = [&u](const double* v, int r) {
    return u[(r + 1) % 3] * v[(r + 2) % 3] - u[(r + 2) % 3] * v[(r + 1) % 3];
  };
  Matrix4x4 turned = identity4();
  for (int c = 0; c < 3; ++c) {
    const double v[3] = {double(c == 0), double(c == 1), double(c == 2)};
    const double t[3] = {2 * cross(v, 0), 2 * cross(v, 1), 2 * cross(v, 2)};
    for (int r = 0; r < 3; ++r) turned.m[4 * r + c] = float(v[r] + q.w * t[r] + cross(t, r));
  }
  const struct {
    const Matrix4x4& got;
    Matrix4x4 expected;
  } cases[] = {
      {inverse, {{0, 0.5f, 0, 1, 0, 0, 0.5f, -3, 0.5f, 0, 0, -2, 0, 0, 0, 1}}},
      {forward, {{0, 0, 2, 4, 2, 0, 0, -4, 0, 2, 0, 6, 0, 0, 0, 1}}},
      {backward, {{0, 0.5f, 0, 2, 0, 0, 0.5f, -3, 0.5f, 0, 0, -2, 0, 0, 0, 1}}},
      {half, {{1, -0.5f, 1, 2, 1, 1, -0.5f, -1, -0.5f, 1, 1, 3, 0, 0, 0, 1}}},
      {beyond, {{a, b, b, 6, b, a, b, -3, b, b, a, 9, 0, 0, 0, 1}}},
      {turned, {{0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}},
  };
  for (const auto& c : cases)
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(c.got.m[i], c.expected.m[i], 2e-6) << (&c - cases) << " element " << i;
}

TEST(Relative, ForwardAndBackwardReproduceThePair) {
  ref::Random random(4);
  for (int n = 0; n < 1000; ++n) {
    const bool mirrored = n % 2 == 1;
    const Matrix4x4 a =
        ref::affine(random.rotation(), random.uniform(0.5, 2), mirrored,
                    {{random.uniform(-100, 100), random.uniform(-100, 100), random.uniform(-100, 100)}});
    const Matrix4x4 b =
        ref::affine(random.rotation(), random.uniform(0.5, 2), mirrored,
                    {{random.uniform(-100, 100), random.uniform(-100, 100), random.uniform(-100, 100)}});
    Matrix4x4 forward, backward, pa, pb;
    ASSERT_TRUE(relativeTransforms(a, b, &forward, &backward));
    multiplyMatrix4x4(forward, a, &pb);
    multiplyMatrix4x4(backward, b, &pa);
    for (int i = 0; i < 16; ++i) {
      EXPECT_NEAR(pb.m[i], b.m[i], 1e-4) << n;
      EXPECT_NEAR(pa.m[i], a.m[i], 1e-4) << n;
    }
  }
  const Matrix4x4 plain = diagonal4(1, 1, 1), mirror = diagonal4(-1, 1, 1);
  Matrix4x4 forward, backward;
  EXPECT_FALSE(relativeTransforms(plain, mirror, &forward, &backward));
  EXPECT_FALSE(relativeTransforms(mirror, plain, &forward, &backward));
  Matrix4x4 sheared = identity4();
  sheared.m[1] = 0.5f;
  EXPECT_FALSE(relativeTransforms(plain, sheared, &forward, &backward));
}

}  // namespace
