// The two blends, the palette hash and the start-up self-test.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>
#include <random>
#include <cstdio>
#include <utility>

#include "math/blend.h"
#include "math/palette_blend.h"
#include "math/quaternion.h"
#include "math/transform.h"
#include "tests/support/reference.h"
#include "world/content_key.h"

using namespace corvane::world;

namespace {

// Byte-wise 64-bit FNV-1a, written out independently of the library.
uint64_t referenceFnv(const void* data, size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  uint64_t h = 0x14650FB0739D0383ull;
  for (size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= 0x100000001B3ull;
  }
  return h;
}

std::vector<Matrix3x4> palette(ref::Random& random, const std::vector<ref::Mat3>& rotations) {
  std::vector<Matrix3x4> out;
  for (const ref::Mat3& r : rotations) {
    out.push_back(ref::rigid3x4(r, {{random.uniform(-50, 50), random.uniform(-50, 50), random.uniform(-50, 50)}}));
  }
  return out;
}

TEST(Hash, EmptyKnownVectorsAndEverySingleByte) {
  EXPECT_EQ(digestMatrix3x4Array(nullptr, 0), 0x14650FB0739D0383ull);
  Matrix3x4 one{};
  EXPECT_EQ(digestMatrix3x4Array(&one, 0), 0x14650FB0739D0383ull);
  Matrix4x4 identity{};
  identity.m[0] = identity.m[5] = identity.m[10] = identity.m[15] = 1.0f;
  EXPECT_EQ(contentKey(identity), 0x0919A11C38E51FE3ull);
  EXPECT_EQ(fnv1a64(&identity, 64), referenceFnv(&identity, 64));

  ref::Random random(8);
  std::vector<Matrix3x4> p(37);
  for (Matrix3x4& m : p)
    for (float& v : m.m) v = float(random.uniform(-3, 3));
  EXPECT_EQ(fnv1a64(p.data(), p.size() * sizeof(Matrix3x4)), referenceFnv(p.data(), p.size() * sizeof(Matrix3x4)));
  // Lengths that are not a multiple of the word size.
  for (size_t n : {1u, 7u, 9u, 15u, 63u})
    EXPECT_EQ(fnv1a64(p.data(), n, 5), [&] {
      uint64_t r = 5;
      for (size_t i = 0; i < n; ++i) r = (r ^ reinterpret_cast<const unsigned char*>(p.data())[i]) * 0x100000001B3ull;
      return r;
    }());
  const uint64_t d = digestMatrix3x4Array(p.data(), uint32_t(p.size()));
  EXPECT_EQ(digestMatrix3x4Array(p.data(), 0), kFnvStart);
  EXPECT_NE(digestMatrix3x4Array(p.data(), uint32_t(p.size()) - 1), d);
  unsigned char* bytes = reinterpret_cast<unsigned char*>(p.data());
  for (size_t i = 0; i < p.size() * sizeof(Matrix3x4); ++i) {
    bytes[i] ^= 0x01;
    EXPECT_NE(digestMatrix3x4Array(p.data(), uint32_t(p.size())), d) << i;
    bytes[i] ^= 0x01;
    // Two sign flips in one lane of the digest (one entry apart) must not cancel.
    if (i % 8 == 7 && i + 48 < p.size() * sizeof(Matrix3x4)) {
      bytes[i] ^= 0x80;
      bytes[i + 48] ^= 0x80;
      EXPECT_NE(digestMatrix3x4Array(p.data(), uint32_t(p.size())), d) << i;
      bytes[i] ^= 0x80;
      bytes[i + 48] ^= 0x80;
    }
  }
  Matrix3x4 negZero{};
  negZero.m[4] = -0.0f;
  EXPECT_NE(digestMatrix3x4Array(&negZero, 1), digestMatrix3x4Array(&one, 1));
}

TEST(InterpolateMatrix4x4, RandomPairsAgainstReference) {
  ref::Random random(9);
  for (int n = 0; n < 2000; ++n) {
    const bool mirrored = n % 2 == 1;
    const ref::Mat3 ra = random.rotation();
    const ref::Mat3 rb =
        random.rotationAway(ra, n % 4 < 2 ? random.uniform(0.001L, 0.05L) : random.uniform(0.2L, 2.9L));
    // Scales within 1% of 1 count as rigid (scale 1), so none are drawn there.
    auto scale = [&] { return random.uniform(0, 1) < 0.5 ? random.uniform(0.5, 0.95) : random.uniform(1.05, 2); };
    const ref::Real sa = n % 3 ? scale() : 1, sb = n % 5 ? scale() : 1;
    const ref::Vec3 ta{{random.uniform(-100, 100), random.uniform(-100, 100), random.uniform(-100, 100)}};
    const ref::Vec3 tb{{random.uniform(-100, 100), random.uniform(-100, 100), random.uniform(-100, 100)}};
    const Matrix4x4 a = ref::affine(ra, sa, mirrored, ta), b = ref::affine(rb, sb, mirrored, tb);
    const ref::Real t = random.uniform(-0.25L, 1.25L);
    Matrix4x4 out;
    ASSERT_TRUE(interpolateMatrix4x4(a, b, double(t), &out)) << n;
    const ref::Mat3 r = ref::arcBlend(ra, rb, t);
    const ref::Real s = sa + (sb - sa) * t;
    const Matrix4x4 expected = ref::affine(
        r, s, mirrored,
        {{ta.v[0] + (tb.v[0] - ta.v[0]) * t, ta.v[1] + (tb.v[1] - ta.v[1]) * t, ta.v[2] + (tb.v[2] - ta.v[2]) * t}});
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(out.m[i], expected.m[i], 3e-5) << n << " element " << i;
  }
}

TEST(InterpolateMatrix4x4, ScalesMirrorsAndRefusals) {
  const ref::Mat3 r = ref::axisAngle({{0, 1, 0}}, 0.3L);
  const Matrix4x4 a = ref::affine(r, 1, false, {{0, 0, 0}}), b = ref::affine(r, 1.5L, false, {{2, 4, -6}});
  Matrix4x4 out;
  ASSERT_TRUE(interpolateMatrix4x4(a, b, 0.5, &out));
  RigidTransform rigid;
  double scale = 0;
  bool mirrored = true;
  ASSERT_TRUE(decomposeScaledRigid(out, &rigid, &scale, &mirrored));
  EXPECT_NEAR(scale, 1.25, 1e-6);
  EXPECT_FALSE(mirrored);
  EXPECT_EQ(out.m[3], 1.0f);
  EXPECT_EQ(out.m[7], 2.0f);
  EXPECT_EQ(out.m[11], -3.0f);

  Matrix4x4 untouched;
  std::memset(&untouched, 0x5A, sizeof untouched);
  const Matrix4x4 sentinel = untouched;
  const Matrix4x4 mirror = ref::affine(r, 1, true, {});
  EXPECT_FALSE(interpolateMatrix4x4(a, mirror, 0.5, &untouched));
  EXPECT_FALSE(interpolateMatrix4x4(mirror, a, 0.5, &untouched));
  Matrix4x4 sheared = a;
  sheared.m[1] += 0.3f;
  EXPECT_FALSE(interpolateMatrix4x4(sheared, b, 0.5, &untouched));
  EXPECT_FALSE(interpolateMatrix4x4(a, sheared, 0.5, &untouched));
  Matrix4x4 lifted = b;
  lifted.m[12] = 0.01f;
  EXPECT_FALSE(interpolateMatrix4x4(a, lifted, 0.5, &untouched));
  Matrix4x4 nan = b;
  nan.m[7] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(interpolateMatrix4x4(a, nan, 0.5, &untouched));
  EXPECT_FALSE(interpolateMatrix4x4(a, b, std::numeric_limits<double>::quiet_NaN(), &untouched));
  EXPECT_FALSE(interpolateMatrix4x4(a, b, std::numeric_limits<double>::infinity(), &untouched));
  EXPECT_EQ(std::memcmp(&untouched, &sentinel, sizeof sentinel), 0);
  // Extrapolation is not clamped; in place is allowed.
  Matrix4x4 inPlace = a;
  ASSERT_TRUE(interpolateMatrix4x4(inPlace, b, 2.0, &inPlace));
  EXPECT_NEAR(inPlace.m[3], 4.0, 1e-6);
}

TEST(InterpolateMatrix3x4Array, RandomPalettesAgainstReference) {
  ref::Random random(10);
  for (int round = 0; round < 40; ++round) {
    const bool small = round % 2 == 0;
    std::vector<ref::Mat3> from, to;
    for (int j = 0; j < 64; ++j) {
      from.push_back(random.rotation());
      to.push_back(
          random.rotationAway(from.back(), small ? random.uniform(0.0001L, 0.05L) : random.uniform(0.2L, 2.9L)));
    }
    const std::vector<Matrix3x4> pf = palette(random, from), pt = palette(random, to);
    const double t = double(random.uniform(-0.25L, 2.0L));
    std::vector<Matrix3x4> out(64);
    ASSERT_TRUE(interpolateMatrix3x4Array(pf.data(), pt.data(), 64, t, out.data()));
    for (int j = 0; j < 64; ++j) {
      const Matrix3x4 r = ref::blend(pf[j], pt[j], t);
      for (int i = 0; i < 3; ++i) {
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(out[j].m[4 * i + c], r.m[4 * i + c], 1e-4) << round << ":" << j;
        const ref::Real f = pf[j].m[4 * i + 3], g = pt[j].m[4 * i + 3];
        EXPECT_NEAR(out[j].m[4 * i + 3], double(f + (g - f) * t), 2e-5) << round << ":" << j;
      }
      EXPECT_TRUE(isRigidMatrix3x4(out[j]));
    }
    // The ends reproduce the inputs; the output may be either input.
    std::vector<Matrix3x4> ends = pf;
    ASSERT_TRUE(interpolateMatrix3x4Array(ends.data(), pt.data(), 64, 1.0, ends.data()));
    for (int j = 0; j < 64; ++j)
      for (int i = 0; i < 12; ++i) EXPECT_NEAR(ends[j].m[i], pt[j].m[i], 2e-5);
    ends = pt;
    ASSERT_TRUE(interpolateMatrix3x4Array(pf.data(), ends.data(), 64, 0.0, ends.data()));
    for (int j = 0; j < 64; ++j)
      for (int i = 0; i < 12; ++i) EXPECT_NEAR(ends[j].m[i], pf[j].m[i], 2e-5);
  }
}

TEST(InterpolateMatrix3x4Array, RefusalsWriteNothing) {
  ref::Random random(11);
  std::vector<ref::Mat3> rotations;
  for (int j = 0; j < 257; ++j) rotations.push_back(random.rotation());
  std::vector<Matrix3x4> from = palette(random, rotations), to = palette(random, rotations);
  std::vector<Matrix3x4> out(257);
  std::memset(out.data(), 0x5A, out.size() * sizeof(Matrix3x4));
  const std::vector<Matrix3x4> sentinel = out;
  auto unchanged = [&] { return std::memcmp(out.data(), sentinel.data(), out.size() * sizeof(Matrix3x4)) == 0; };
  const double inf = std::numeric_limits<double>::infinity();

  EXPECT_FALSE(interpolateMatrix3x4Array(from.data(), to.data(), 0, 0.5, out.data()));
  EXPECT_FALSE(interpolateMatrix3x4Array(from.data(), to.data(), 257, 0.5, out.data()));
  EXPECT_FALSE(interpolateMatrix3x4Array(nullptr, to.data(), 10, 0.5, out.data()));
  EXPECT_FALSE(interpolateMatrix3x4Array(from.data(), nullptr, 10, 0.5, out.data()));
  EXPECT_FALSE(interpolateMatrix3x4Array(from.data(), to.data(), 10, 0.5, nullptr));
  EXPECT_FALSE(interpolateMatrix3x4Array(from.data(), to.data(), 10, inf, out.data()));
  EXPECT_FALSE(interpolateMatrix3x4Array(from.data(), to.data(), 10, -inf, out.data()));
  EXPECT_FALSE(interpolateMatrix3x4Array(from.data(), to.data(), 10, std::nan(""), out.data()));
  // One bad joint anywhere among 100 refuses the whole palette.
  for (int bad : {0, 57, 99}) {
    for (int side = 0; side < 2; ++side) {
      std::vector<Matrix3x4>& victim = side ? to : from;
      const Matrix3x4 saved = victim[bad];
      victim[bad].m[5] = 1.5f;  // stretched
      EXPECT_FALSE(interpolateMatrix3x4Array(from.data(), to.data(), 100, 0.5, out.data()));
      victim[bad] = saved;
      victim[bad].m[7] = std::numeric_limits<float>::quiet_NaN();  // translation
      EXPECT_FALSE(interpolateMatrix3x4Array(from.data(), to.data(), 100, 0.5, out.data()));
      victim[bad] = saved;
    }
  }
  EXPECT_TRUE(unchanged());
  // The joint beyond count is not inspected; 256 joints are accepted; a denormal factor is finite.
  from[100].m[0] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_TRUE(interpolateMatrix3x4Array(from.data(), to.data(), 100, 0.5, out.data()));
  from[100] = to[100];
  EXPECT_TRUE(
      interpolateMatrix3x4Array(from.data(), to.data(), 256, std::numeric_limits<double>::denorm_min(), out.data()));
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(out[255].m[i], from[255].m[i], 2e-5);
  EXPECT_EQ(std::memcmp(&out[256], &sentinel[256], sizeof(Matrix3x4)), 0);
}

// Every joint, whichever its neighbour's branch, equals the composition of the
// public quaternion operations bit for bit.
TEST(InterpolateMatrix3x4Array, EachJointIsTheComposedScalarBlend) {
  ref::Random random(12);
  for (uint32_t count : {1u, 2u, 7u, 64u, 255u, 256u}) {
    std::vector<ref::Mat3> from, to;
    for (uint32_t j = 0; j < count; ++j) {
      // Mixed: near half turns (every conversion branch), small and large steps.
      from.push_back(j % 3 == 0 ? ref::axisAngle(random.direction(), random.uniform(3.0L, 3.14159L))
                                : random.rotation());
      to.push_back(random.rotationAway(
          from.back(), random.uniform(0, 1) < 0.5 ? random.uniform(0, 0.06L) : random.uniform(0.1L, 3.1L)));
    }
    const std::vector<Matrix3x4> pf = palette(random, from), pt = palette(random, to);
    for (double t : {0.0, 0.4, 1.0, -0.25, 1.7}) {
      std::vector<Matrix3x4> out(count);
      ASSERT_TRUE(interpolateMatrix3x4Array(pf.data(), pt.data(), count, t, out.data()));
      for (uint32_t j = 0; j < count; ++j) {
        float rotation[9];
        rotationFromQuaternion(slerpQuaternion(quaternionFromMatrix3x4(pf[j]), quaternionFromMatrix3x4(pt[j]), t),
                               rotation);
        for (int k = 0; k < 9; ++k) {
          const float v = out[j].m[4 * (k / 3) + k % 3];
          EXPECT_EQ(std::memcmp(&v, &rotation[k], 4), 0) << count << ":" << j << " t=" << t;
        }
        for (int r = 0; r < 3; ++r) {
          const float f = pf[j].m[4 * r + 3], g = pt[j].m[4 * r + 3], delta = g - f;
          EXPECT_EQ(out[j].m[4 * r + 3], float(double(f) + double(delta) * t));
        }
      }
    }
  }
}

// The translation difference is a 32-bit subtraction: 1e-8 - 1 rounds to -1.
TEST(InterpolateMatrix3x4Array, TranslationDifferenceIsTakenInFloat) {
  Matrix3x4 from{}, to{}, out;
  from.m[0] = from.m[5] = from.m[10] = to.m[0] = to.m[5] = to.m[10] = 1.0f;
  from.m[3] = 1.0f;
  to.m[3] = 1e-8f;
  ASSERT_TRUE(interpolateMatrix3x4Array(&from, &to, 1, 1.0, &out));
  EXPECT_EQ(out.m[3], 0.0f);
}

// The public quaternion operations composed for one joint, as the palette
// blend defines it.
Matrix3x4 composedScalarBlend(const Matrix3x4& f, const Matrix3x4& g, double t) {
  Matrix3x4 out{};
  float rotation[9];
  rotationFromQuaternion(slerpQuaternion(quaternionFromMatrix3x4(f), quaternionFromMatrix3x4(g), t), rotation);
  for (int k = 0; k < 9; ++k) out.m[4 * (k / 3) + k % 3] = rotation[k];
  for (int r = 0; r < 3; ++r) {
    const float start = f.m[4 * r + 3], delta = g.m[4 * r + 3] - start;
    out.m[4 * r + 3] = float(double(start) + double(delta) * t);
  }
  return out;
}

// The blend of two palettes from their kept rotations (each the composed
// scalar quaternion normalised again bit for bit) and the first one's translations.
template <auto rotations, auto blend>
void blendKept(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t, Matrix3x4* out) {
  static PaletteRotations fromRotations, toRotations;
  static PaletteTranslations fromTranslations;
  rotations(from, count, &fromRotations), rotations(to, count, &toRotations);
  paletteTranslations(from, count, &fromTranslations);
  for (uint32_t j = 0; j < count; ++j) {
    const Quaternion q = normalizeQuaternion(quaternionFromMatrix3x4(from[j]));
    const Quaternion kept{fromRotations.w[j], fromRotations.x[j], fromRotations.y[j], fromRotations.z[j]};
    EXPECT_EQ(std::memcmp(&q, &kept, sizeof q), 0) << count << ":" << j;
  }
  blend(fromTranslations, fromRotations, to, toRotations, count, t, out);
}

// Every kernel behind the palette blend (the AVX ones where this processor has
// them), also from kept rotations, for every group remainder and in place,
// equals the composed scalar operations bit for bit.
TEST(PaletteKernels, EveryKernelEqualsTheComposedScalarBlend) {
  typedef void (*Kernel)(const Matrix3x4*, const Matrix3x4*, uint32_t, double, Matrix3x4*);
  std::vector<std::pair<const char*, Kernel>> kernels = {
      {"sse2", blendRigidPaletteSse2},
      {"chosen", blendRigidPalette},
      {"sse2 kept", blendKept<paletteRotationsSse2, blendRotatedPaletteSse2>},
      {"chosen kept", blendKept<paletteRotations, blendRotatedPalette>}};
  if (avxPaletteBlendAvailable())
    kernels.insert(kernels.end(), {{"avx", blendRigidPaletteAvx},
                                   {"avx kept", blendKept<paletteRotationsAvx, blendRotatedPaletteAvx>}});
  else std::printf("AVX is not available here; its kernels are not exercised\n");
  ref::Random random(13);
  for (uint32_t count : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 9u, 255u, 256u}) {
    std::vector<ref::Mat3> from, to;
    for (uint32_t j = 0; j < count; ++j) {
      from.push_back(j % 3 == 0 ? ref::axisAngle(random.direction(), random.uniform(3.0L, 3.14159L))
                                : random.rotation());
      to.push_back(
          random.rotationAway(from.back(), j % 2 == 0 ? random.uniform(0, 0.06L) : random.uniform(0.1L, 3.1L)));
    }
    const std::vector<Matrix3x4> pf = palette(random, from), pt = palette(random, to);
    for (double t : {0.0, 0.37, 1.0, -0.25, 2.0}) {
      std::vector<Matrix3x4> expected(count);
      for (uint32_t j = 0; j < count; ++j) expected[j] = composedScalarBlend(pf[j], pt[j], t);
      for (const auto& kernel : kernels) {
        std::vector<Matrix3x4> out(count + 1);
        std::memset(out.data(), 0x5A, out.size() * sizeof(Matrix3x4));
        kernel.second(pf.data(), pt.data(), count, t, out.data());
        for (uint32_t j = 0; j < count; ++j)
          EXPECT_EQ(std::memcmp(&out[j], &expected[j], sizeof(Matrix3x4)), 0)
              << kernel.first << " " << count << ":" << j << " t=" << t;
        const Matrix3x4 sentinel = out[count];
        for (int i = 0; i < 12; ++i) EXPECT_EQ(std::memcmp(&sentinel.m[i], "\x5A\x5A\x5A\x5A", 4), 0) << kernel.first;
        std::vector<Matrix3x4> inPlace = pt;
        kernel.second(pf.data(), inPlace.data(), count, t, inPlace.data());
        EXPECT_EQ(std::memcmp(inPlace.data(), expected.data(), count * sizeof(Matrix3x4)), 0) << kernel.first;
        inPlace = pf;
        kernel.second(inPlace.data(), pt.data(), count, t, inPlace.data());
        EXPECT_EQ(std::memcmp(inPlace.data(), expected.data(), count * sizeof(Matrix3x4)), 0) << kernel.first;
      }
    }
  }
}

// One joint disturbed near a tolerance, or made non-finite or mirrored, at any
// place of any palette length: every validation path refuses exactly when the
// scalar test fails some joint.
TEST(PaletteValidation, EveryPathGivesTheScalarVerdict) {
  typedef bool (*Validator)(const Matrix3x4*, const Matrix3x4*, uint32_t);
  std::vector<std::pair<const char*, Validator>> validators = {
      {"sse2", palettesAreRigidSse2}, {"public", [](const Matrix3x4* f, const Matrix3x4* g, uint32_t n) {
                                         Matrix3x4 out[kMaxPaletteJoints];
                                         return interpolateMatrix3x4Array(f, g, n, 0.5, out);
                                       }}};
  if (avxPaletteBlendAvailable()) validators.push_back({"avx", palettesAreRigidAvx});
  ref::Random random(14);
  std::vector<ref::Mat3> rotations;
  for (int j = 0; j < 256; ++j) rotations.push_back(random.rotation());
  const std::vector<Matrix3x4> from = palette(random, rotations), to = palette(random, rotations);
  const uint32_t counts[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 255, 256};
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()};
  int accepted = 0, refused = 0;
  for (int trial = 0; trial < 4000; ++trial) {
    const uint32_t count = counts[trial % 11];
    const uint32_t at = uint32_t(random.uniform(0, count - 0.001L));
    std::vector<Matrix3x4> f = from, g = to;
    Matrix3x4& m = (trial / 11) % 2 ? g[at] : f[at];
    const int row = trial % 3, other = (trial + 1) % 3;
    const double edge = (trial % 2 ? 0.01 : -0.01) + double(random.uniform(-2e-6L, 2e-6L));
    switch ((trial / 22) % 5) {
      case 0:  // every linear element moved by up to about the tolerances
        for (int k : {0, 1, 2, 4, 5, 6, 8, 9, 10}) m.m[k] += float(random.uniform(-0.008L, 0.008L));
        break;
      case 1:  // one row's squared length at the edge of its tolerance
        for (int c = 0; c < 3; ++c) m.m[4 * row + c] = float(m.m[4 * row + c] * std::sqrt(1.0 + edge));
        break;
      case 2:  // two rows' dot product at the edge of its tolerance
        for (int c = 0; c < 3; ++c) m.m[4 * row + c] = float(m.m[4 * row + c] + edge * m.m[4 * other + c]);
        break;
      case 3:  // any element not finite
        m.m[trial % 12] = specials[trial % 3];
        break;
      default:  // mirrored: rows and angles intact, determinant -1
        for (int c = 0; c < 3; ++c) m.m[4 * row + c] = -m.m[4 * row + c];
        break;
    }
    bool expected = true;
    for (uint32_t j = 0; j < count; ++j) expected &= isRigidMatrix3x4(f[j]) && isRigidMatrix3x4(g[j]);
    (expected ? accepted : refused) += 1;
    for (const auto& validator : validators)
      EXPECT_EQ(validator.second(f.data(), g.data(), count), expected) << validator.first << " trial " << trial;
    uint32_t firstFailure = 0;
    while (firstFailure < count && isRigidMatrix3x4(f[firstFailure])) ++firstFailure;
    EXPECT_EQ(firstNonRigidJointSse2(f.data(), count), firstFailure) << trial;
    EXPECT_EQ(firstNonRigidJoint(f.data(), count), firstFailure) << trial;
  }
  EXPECT_GT(accepted, 500);
  EXPECT_GT(refused, 1500);
}

TEST(SelfTest, Passes) { EXPECT_TRUE(runMathSelfTest()); }

}  // namespace
