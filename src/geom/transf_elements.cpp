#include "geom/transf.h"

#include <cmath>

#include "gds/numeric.h"

namespace qm {

namespace {

// A transform that only moves points by whole units (small enough that a
// sum with a 32-bit coordinate is exact in a double): for it,
// GDSround((x + 0*y) + tx) is x + tx saturated to 32 bits.
bool wholeTranslation(const GDStransf& t) {
  constexpr double kLimit = 1099511627776.0;  // 2^40
  return t.a == 1 && t.b == 0 && t.c == 0 && t.d == 1 && std::fabs(t.tx) <= kLimit && std::fabs(t.ty) <= kLimit &&
         t.tx == std::trunc(t.tx) && t.ty == std::trunc(t.ty);
}

}  // namespace

void GDStransfPointsTo(const GDSpoint* src, int32_t n, GDSpoint* dst, const GDStransf& t) {
  if (wholeTranslation(t)) {
    const auto dx = static_cast<int64_t>(t.tx);
    const auto dy = static_cast<int64_t>(t.ty);
    for (int32_t i = 0; i < n; ++i) dst[i] = GDSpoint{clampInt32(src[i].x + dx), clampInt32(src[i].y + dy)};
    return;
  }
  for (int32_t i = 0; i < n; ++i) dst[i] = GDStransfPoint(src[i], t);
}

void GDStransfBoundary(GDSboundary& b, const GDStransf& t) { GDStransfPoints(b.points, b.npoints, t); }

void GDStransfPathWidths(GDSpath& p, const GDStransf& t) {
  p.width = GDStransfWidth(p.width, t);
  if (p.hasExtensions) {
    p.bgnextn = GDStransfWidth(p.bgnextn, t);
    p.endextn = GDStransfWidth(p.endextn, t);
  }
}

void GDStransfPath(GDSpath& p, const GDStransf& t) {
  GDStransfPoints(p.points, p.npoints, t);
  GDStransfPathWidths(p, t);
}

}  // namespace qm
