#include "geom/outline.h"

#include <bit>
#include <cmath>
#include <cstdint>

#include "common/out.h"
#include "gds/numeric.h"

namespace qm {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;

// The sines and cosines of the angles that wires along the axes give: the
// angles of their segments (0, pi/2, pi, -pi/2) and the half differences
// and mitre directions computed from two of them, each computed once by
// std::sin and std::cos. A lookup gives the bits those calls give.
class AxisTrig {
 public:
  AxisTrig() {
    const double axis[] = {0.0, kHalfPi, kPi, -kHalfPi};
    for (double a : axis) add(a);
    for (double alpha : axis)
      for (double beta : axis) {
        add((alpha - beta) / 2);
        add((alpha + beta + kPi) / 2);
      }
  }
  // Null for an angle not in the table.
  const double* find(double angle) const {
    const auto k = std::bit_cast<uint64_t>(angle);
    for (std::size_t i = 0; i < n_; ++i)
      if (key_[i] == k) return val_[i];
    return nullptr;
  }

 private:
  void add(double angle) {
    if (find(angle)) return;
    key_[n_] = std::bit_cast<uint64_t>(angle);
    val_[n_][0] = std::sin(angle);
    val_[n_][1] = std::cos(angle);
    ++n_;
  }
  static constexpr std::size_t kMax = 4 + 2 * 4 * 4;
  uint64_t key_[kMax] = {};
  double val_[kMax][2] = {};
  std::size_t n_ = 0;
};

const AxisTrig& axisTrig() {
  static const AxisTrig table;
  return table;
}

double sinOf(double a) {
  const double* v = axisTrig().find(a);
  return v ? v[0] : std::sin(a);
}
double cosOf(double a) {
  const double* v = axisTrig().find(a);
  return v ? v[1] : std::cos(a);
}

// False when the wire turns back on itself at cur.
bool mitre(int32_t w, GDSpoint prev, GDSpoint cur, GDSpoint next, GDSpoint& off) {
  double alpha = SegmentAngle(prev.x, prev.y, cur.x, cur.y);
  double beta = SegmentAngle(cur.x, cur.y, next.x, next.y);
  double cs = cosOf((alpha - beta) / 2);
  if (std::fabs(cs) < 1e-8) return false;
  double r = static_cast<double>(w) / cs;
  double gamma = (alpha + beta + kPi) / 2;
  off = {truncSat(cosOf(gamma) * r), truncSat(sinOf(gamma) * r)};
  return true;
}

struct Summer {
  bool clamped = false;
  int32_t operator()(int64_t v) {
    if (v > INT32_MAX || v < INT32_MIN) clamped = true;
    return clampInt32(v);
  }
};

}  // namespace

double SegmentAngle(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (x1 == x2) return y2 > y1 ? kHalfPi : -kHalfPi;
  double dy = wrapSub32(y2, y1);
  double dx = wrapSub32(x2, x1);
  const double q = std::fabs(dy) / std::fabs(dx);
  double a = q == 0 ? q : std::atan(q);  // atan(+0) is +0
  if (y2 >= y1) return x2 >= x1 ? a : kPi - a;
  return x2 >= x1 ? 2 * kPi - a : kPi + a;
}

GDSpoint EndOffset(int32_t w, GDSpoint p, GDSpoint q) {
  double theta = SegmentAngle(p.x, p.y, q.x, q.y);
  double wd = w;
  return {truncSat(sinOf(theta) * (-wd)), truncSat(cosOf(theta) * wd)};
}

GDSpoint MitreOffset(int32_t w, GDSpoint prev, GDSpoint cur, GDSpoint next) {
  GDSpoint off;
  if (!mitre(w, prev, cur, next, off)) fatal("%s", kReversalMessage);
  return off;
}

OutlineResult PathOutline(const GDSpath& path, std::vector<GDSpoint>& out, bool* clamped) {
  const int32_t w = path.width / 2;
  const int32_t n = path.npoints;
  if (n <= 1) return OutlineResult::Short;
  const GDSpoint* p = path.points;
  const std::size_t N = static_cast<std::size_t>(n);
  out.resize(2 * N + 1);
  Summer sum;
  using I = int64_t;

  GDSpoint o = EndOffset(w, p[0], p[1]);
  // Extended ends move back by half the width; custom ends (tolerant
  // reading) by their own extension, computed the same way.
  GDSpoint b = path.hasExtensions ? EndOffset(path.bgnextn, p[0], p[1]) : o;
  if (path.pathtype == 0) {
    out[0] = {sum(I{p[0].x} + o.x), sum(I{p[0].y} + o.y)};
    out[2 * N - 1] = {sum(I{p[0].x} - o.x), sum(I{p[0].y} - o.y)};
  } else {
    out[0] = {sum(I{p[0].x} + o.x - b.y), sum(I{p[0].y} + o.y + b.x)};
    out[2 * N - 1] = {sum(I{p[0].x} - o.x - b.y), sum(I{p[0].y} - o.y + b.x)};
  }
  out[2 * N] = out[0];

  for (std::size_t i = 1; i + 1 < N; ++i) {
    GDSpoint m;
    if (!mitre(w, p[i - 1], p[i], p[i + 1], m)) {
      if (clamped && sum.clamped) *clamped = true;
      return OutlineResult::Reversal;
    }
    out[i] = {sum(I{p[i].x} + m.x), sum(I{p[i].y} + m.y)};
    out[2 * N - 1 - i] = {sum(I{p[i].x} - m.x), sum(I{p[i].y} - m.y)};
  }

  GDSpoint e = EndOffset(w, p[N - 2], p[N - 1]);
  GDSpoint f = path.hasExtensions ? EndOffset(path.endextn, p[N - 2], p[N - 1]) : e;
  const I x = p[N - 1].x;
  const I y = p[N - 1].y;
  if (path.pathtype == 0) {
    out[N - 1] = {sum(x + e.x), sum(y + e.y)};
    out[N] = {sum(x - e.x), sum(y - e.y)};
  } else {
    out[N - 1] = {sum(x + e.x + f.y), sum(y + e.y - f.x)};
    out[N] = {sum(x - e.x + f.y), sum(y - e.y - f.x)};
  }
  if (clamped && sum.clamped) *clamped = true;
  return OutlineResult::Ok;
}

GDSboundary PathToBoundary(const Console& con, const GDSpath& path, std::vector<GDSpoint>& pts) {
  GDSboundary b;
  b.layer = path.layer;
  b.datatype = path.datatype;
  switch (PathOutline(path, pts)) {
    case OutlineResult::Short:
      con.err.put(kShortWireMessage);
      return b;
    case OutlineResult::Reversal:
      fatal("%s", kReversalMessage);
    case OutlineResult::Ok:
      break;
  }
  b.npoints = 2 * path.npoints + 1;
  b.points = pts.data();
  return b;
}

}  // namespace qm
