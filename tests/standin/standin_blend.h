// The stand-in's own transform arithmetic, in long double and independent of
// Corvane's math: composing placements, inverting them, and blending two
// samples (translation and scale linearly, rotation along the shortest arc
// about the fixed axis of the relative turn) as the interpolated transforms
// must come out.
#pragma once
#include <cstdint>

// A 4x4 transform, row-major, acting on column vectors (translation in
// elements 3, 7 and 11).
struct WideMatrix {
  long double m[16];
};

WideMatrix wideIdentity();
WideMatrix wideProduct(const WideMatrix& a, const WideMatrix& b);
// Inverse of an affine transform (any invertible linear part).
WideMatrix wideInverse(const WideMatrix& a);
// Rotation by `degrees` about the unit axis (x, y, z), then translation (tx, ty, tz).
WideMatrix wideRotation(long double x, long double y, long double z, long double degrees, long double tx = 0,
                        long double ty = 0, long double tz = 0);
// Scales the linear part's columns (the model side): x by sx, y by sy, z by sz.
WideMatrix wideScaledColumns(const WideMatrix& a, long double sx, long double sy, long double sz);

void narrowMatrix(const WideMatrix& a, float out[16]);
WideMatrix widenMatrix(const float m[16]);
// The 12 floats of a 3x4 palette entry (rows of four) as a transform.
WideMatrix widenEntry(const float entry[12]);

// The blend of two placements at `alpha` (not clamped). False when either
// is not a rotation times a uniform scale (with at most a reflection of its
// x column), or when one is mirrored and the other is not.
bool wideBlend(const WideMatrix& from, const WideMatrix& to, long double alpha, WideMatrix* out);
// Uniform scale and mirror flag of a placement; false when it is not one.
bool widePlacement(const WideMatrix& a, long double* scale, bool* mirrored, WideMatrix* rotation);
// Angle (degrees) of the turn between the rotations of two placements.
long double wideTurnDegrees(const WideMatrix& a, const WideMatrix& b);
long double wideDistance(const WideMatrix& a, const WideMatrix& b);

// Largest difference of the 16 elements: linear and bottom-row elements
// relative to max(1, |wanted|), translations relative to max(1, its length).
double relativeError(const float got[16], const WideMatrix& wanted);
