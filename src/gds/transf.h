// Points and affine transforms of placements, with the one rounding rule.
#pragma once

#include <cstdint>

namespace qm {

struct GDSpoint {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const GDSpoint&) const = default;
};

// Maps (x, y) to (a*x + b*y + tx, c*x + d*y + ty).
struct GDStransf {
  double a = 1, b = 0, tx = 0, c = 0, d = 1, ty = 0;
};

inline constexpr GDStransf GDSidentity{1, 0, 0, 0, 1, 0};

// Halves away from zero; values beyond the signed 32-bit range saturate.
int32_t GDSround(double v);
GDStransf GDSmakeTransf(GDSpoint origin, int mirror, double angle, double mag);
GDSpoint GDStransfPoint(GDSpoint p, const GDStransf& t);
// Fatal when the transform cannot be inverted.
GDSpoint GDSinvtransfPoint(GDSpoint p, const GDStransf& t);
// first applied first, then second.
GDStransf GDScomposeTransf(const GDStransf& first, const GDStransf& second);
GDStransf GDSoffsetTransf(const GDStransf& t, GDSpoint offset);
// Returns the angle in degrees.
double GDSdecomposeTransf(const GDStransf& t, int* mirror, double* mag);

// In-place transforms of point lists (boundaries and paths).
void GDStransfPoints(GDSpoint* pts, int32_t n, const GDStransf& t);
// The width of a path under t: scaled by the magnification of t, truncated.
int32_t GDStransfWidth(int32_t width, const GDStransf& t);

}  // namespace qm
