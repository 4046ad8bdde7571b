#include "gds/transf.h"

#include <cmath>

#include "common/out.h"
#include "gds/numeric.h"

namespace qm {

namespace {
constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;
}  // namespace

int32_t GDSround(double v) {
  if (std::isnan(v)) return INT32_MIN;
  double s = v < 0 ? v - 0.5 : v + 0.5;
  return truncSat(s);
}

GDStransf GDSmakeTransf(GDSpoint origin, int mirror, double angle, double mag) {
  double r = (kPi * angle) / 180;
  // cos(±0) is 1 and sin(±0) is ±0: the common unrotated placement needs
  // no call.
  double C = r == 0 ? 1.0 : std::cos(r);
  double S = r == 0 ? r : std::sin(r);
  GDStransf t;
  t.a = C * mag;
  t.b = S * (-mag);
  t.tx = origin.x;
  t.c = S * mag;
  t.d = C * mag;
  t.ty = origin.y;
  if (mirror != 0) {
    t.b = S * mag;
    t.d = -(C * mag);
  }
  return t;
}

GDSpoint GDStransfPoint(GDSpoint p, const GDStransf& t) {
  double x = p.x;
  double y = p.y;
  return {GDSround((t.a * x + t.b * y) + t.tx), GDSround((t.c * x + t.d * y) + t.ty)};
}

GDSpoint GDSinvtransfPoint(GDSpoint p, const GDStransf& t) {
  double det = t.d * t.a - t.c * t.b;
  if (det == 0) fatal("Error in GDSinvtransfPoint(): matrix cannot be inverted\n");
  double x = p.x;
  double y = p.y;
  double u = (x - t.tx) / det;
  double v = (y - t.ty) / det;
  return {GDSround(t.d * u - t.b * v), GDSround(t.a * v - t.c * u)};
}

GDStransf GDScomposeTransf(const GDStransf& f, const GDStransf& s) {
  GDStransf r;
  r.a = s.a * f.a + s.b * f.c;
  r.b = s.a * f.b + s.b * f.d;
  r.tx = (s.a * f.tx + s.b * f.ty) + s.tx;
  r.c = s.c * f.a + s.d * f.c;
  r.d = s.c * f.b + s.d * f.d;
  r.ty = (s.c * f.tx + s.d * f.ty) + s.ty;
  return r;
}

GDStransf GDSoffsetTransf(const GDStransf& t, GDSpoint offset) {
  GDStransf r = t;
  r.tx = static_cast<double>(offset.x) + t.tx;
  r.ty = static_cast<double>(offset.y) + t.ty;
  return r;
}

double GDSdecomposeTransf(const GDStransf& t, int* mirror, double* mag) {
  if (mag) *mag = std::sqrt(t.d * t.d + t.c * t.c);
  if (mirror) *mirror = (t.b * t.c > 0 || t.a * t.d < 0) ? 1 : 0;
  if (std::fabs(t.a) < 1e-14) return t.c > 0 ? 90 : -90;
  const double q = t.c / t.a;
  double theta = q == 0 ? q : std::atan(q);  // atan(±0) is ±0
  if (t.a < 0) theta += kPi;
  return 90 * theta / kHalfPi;
}

void GDStransfPoints(GDSpoint* pts, int32_t n, const GDStransf& t) {
  for (int32_t i = 0; i < n; ++i) pts[i] = GDStransfPoint(pts[i], t);
}

int32_t GDStransfWidth(int32_t width, const GDStransf& t) {
  double mag = std::sqrt(t.d * t.d + t.c * t.c);
  if (mag == 1.0) return width;
  return truncSat(mag * width);
}

}  // namespace qm
