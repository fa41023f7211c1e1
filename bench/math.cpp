// Speed of the transform math on the paths the hooks take per frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "math/blend.h"
#include "math/palette_blend.h"
#include "math/transform.h"

using namespace corvane::math;

namespace {

// Rotation about a unit axis (Rodrigues), row-major 3x3.
void axisAngle(double x, double y, double z, double angle, double r[9]) {
  const double n = std::sqrt(x * x + y * y + z * z);
  x /= n, y /= n, z /= n;
  const double s = std::sin(angle), c = std::cos(angle), k = 1 - c;
  const double m[9] = {c + x * x * k,     x * y * k - z * s, x * z * k + y * s, y * x * k + z * s, c + y * y * k,
                       y * z * k - x * s, z * x * k - y * s, z * y * k + x * s, c + z * z * k};
  std::memcpy(r, m, sizeof m);
}

void product(const double a[9], const double b[9], double out[9]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
}

Matrix3x4 joint(const double r[9], std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-50, 50);
  Matrix3x4 m;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m.m[4 * i + j] = float(r[3 * i + j]);
    m.m[4 * i + 3] = float(u(rng));
  }
  return m;
}

// Pairs of palettes whose joints are `apart` radians from each other.
void palettes(uint32_t count, double apart, std::vector<Matrix3x4>* from, std::vector<Matrix3x4>* to) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> u(-1, 1), angle(0, 3.1);
  from->clear();
  to->clear();
  for (uint32_t i = 0; i < count; ++i) {
    double a[9], step[9], b[9];
    axisAngle(u(rng), u(rng), u(rng) + 1.5, angle(rng), a);
    axisAngle(u(rng) + 1.5, u(rng), u(rng), apart, step);
    product(a, step, b);
    from->push_back(joint(a, rng));
    to->push_back(joint(b, rng));
  }
}

Matrix4x4 scaled(double angle, double scale, double tx) {
  double r[9];
  axisAngle(0.3, 1, -0.2, angle, r);
  Matrix4x4 m{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m.m[4 * i + j] = float(r[3 * i + j] * scale);
    m.m[4 * i + 3] = float(tx * (i + 1));
  }
  m.m[15] = 1;
  return m;
}

void BM_decomposeScaledRigid(benchmark::State& state) {
  const Matrix4x4 m = scaled(0.8, 1.5, 10);
  RigidTransform out;
  double scale;
  bool mirrored;
  for (auto _ : state) {
    benchmark::DoNotOptimize(decomposeScaledRigid(m, &out, &scale, &mirrored));
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_decomposeScaledRigid);

void BM_interpolateMatrix4x4(benchmark::State& state) {
  const Matrix4x4 a = scaled(0.8, 1.0, 10), b = scaled(0.8 + double(state.range(0)) / 1000, 1.2, 12);
  Matrix4x4 out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(interpolateMatrix4x4(a, b, 0.4, &out));
    benchmark::DoNotOptimize(out);
  }
}
// Argument: milliradians between the pair (10: linear branch, 500: trigonometric).
BENCHMARK(BM_interpolateMatrix4x4)->Arg(10)->Arg(500);

void BM_interpolateMatrix3x4Array(benchmark::State& state) {
  const uint32_t joints = uint32_t(state.range(0));
  std::vector<Matrix3x4> from, to, out(joints);
  palettes(joints, double(state.range(1)) / 1000, &from, &to);
  for (auto _ : state) {
    benchmark::DoNotOptimize(interpolateMatrix3x4Array(from.data(), to.data(), joints, 0.4, out.data()));
    benchmark::ClobberMemory();
  }
  state.counters["ns/joint"] =
      benchmark::Counter(double(joints), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
// Arguments: joints, milliradians between paired joints.
BENCHMARK(BM_interpolateMatrix3x4Array)->Args({64, 10})->Args({256, 10})->Args({64, 500})->Args({256, 500});

// The blend kernels alone, without the public function's validation: the one
// chosen for this processor, and the baseline one every x86-64 has.
template <void (*kKernel)(const Matrix3x4*, const Matrix3x4*, uint32_t, double, Matrix3x4*)>
void BM_paletteKernel(benchmark::State& state) {
  const uint32_t joints = uint32_t(state.range(0));
  std::vector<Matrix3x4> from, to, out(joints);
  palettes(joints, double(state.range(1)) / 1000, &from, &to);
  for (auto _ : state) {
    kKernel(from.data(), to.data(), joints, 0.4, out.data());
    benchmark::ClobberMemory();
  }
  state.counters["ns/joint"] =
      benchmark::Counter(double(joints), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK_TEMPLATE(BM_paletteKernel, blendRigidPalette)
    ->Name("BM_blendRigidPalette")
    ->Args({256, 10})
    ->Args({256, 500});
BENCHMARK_TEMPLATE(BM_paletteKernel, blendRigidPaletteSse2)->Name("BM_blendRigidPaletteSse2")->Args({256, 10});

// The blend from kept rotations and translations (taken once, outside the
// loop), and taking the rotations.
void BM_blendRotatedPalette(benchmark::State& state) {
  const uint32_t joints = uint32_t(state.range(0));
  std::vector<Matrix3x4> from, to, out(joints);
  palettes(joints, double(state.range(1)) / 1000, &from, &to);
  static PaletteRotations fromRotations, toRotations;
  static PaletteTranslations fromTranslations;
  paletteTranslations(from.data(), joints, &fromTranslations);
  paletteRotations(from.data(), joints, &fromRotations);
  paletteRotations(to.data(), joints, &toRotations);
  for (auto _ : state) {
    blendRotatedPalette(fromTranslations, fromRotations, to.data(), toRotations, joints, 0.4, out.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_blendRotatedPalette)->Args({256, 10})->Args({256, 500});

void BM_paletteRotations(benchmark::State& state) {
  std::vector<Matrix3x4> from, to;
  palettes(256, 0.01, &from, &to);
  static PaletteRotations rotations;
  for (auto _ : state) {
    paletteRotations(from.data(), 256, &rotations);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_paletteRotations);

void BM_digestMatrix3x4Array(benchmark::State& state) {
  std::vector<Matrix3x4> from, to;
  palettes(256, 0.01, &from, &to);
  for (auto _ : state) benchmark::DoNotOptimize(digestMatrix3x4Array(from.data(), 256));
  state.SetBytesProcessed(int64_t(state.iterations()) * 256 * 48);
}
BENCHMARK(BM_digestMatrix3x4Array);

// The serial bound of FNV-1a: one xor and one multiply per byte, each
// depending on the last.
void BM_serialFnvReference(benchmark::State& state) {
  std::vector<Matrix3x4> from, to;
  palettes(256, 0.01, &from, &to);
  for (auto _ : state) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(from.data());
    uint64_t h = kFnvStart;
    for (size_t i = 0; i < 256 * 48; ++i) {
      h ^= p[i];
      h *= kFnvPrime;
    }
    benchmark::DoNotOptimize(h);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 256 * 48);
  state.counters["ns/joint"] =
      benchmark::Counter(256, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_serialFnvReference);

}  // namespace
