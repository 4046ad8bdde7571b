#include "geom/extent.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/out.h"
#include "gds/numeric.h"
#include "geom/outline.h"
#include "geom/transf.h"
#include "geom/walk.h"
#include "geom/walkcache.h"

namespace qm {

// ---- elements ----

int GDSisRectangle(const GDSboundary& b) {
  if (b.npoints != 5) return 0;
  const GDSpoint* p = b.points;
  if (p[0].x == p[1].x) return (p[0].y == p[3].y && p[1].y == p[2].y && p[2].x == p[3].x) ? 1 : 0;
  return (p[0].y == p[1].y && p[0].x == p[3].x && p[1].x == p[2].x && p[2].y == p[3].y) ? 1 : 0;
}

GDSbbox GDSbboxBoundary(const GDSboundary& b) {
  GDSbbox e;
  for (int32_t i = 0; i < b.npoints; ++i) e.merge(b.points[i]);
  return e;
}

GDSbbox GDSbboxPath(const Console& con, const GDSpath& p) {
  std::vector<GDSpoint> outline;
  GDSboundary b = PathToBoundary(con, p, outline);
  if (b.points == nullptr) return GDSbbox{};
  return GDSbboxBoundary(b);
}

GDSbbox GDSbboxText(const GDStext&) { return GDSbbox{}; }

namespace {

// ---- the walk of every instance ----

// Measures every placed element: the extent as the walk of placed elements
// gives it, each instance walked and each element copied.
class ExtentSink final : public PlacedSink {
 public:
  explicit ExtentSink(const Console& con) : con_(con) {}
  GDSbbox box;
  void boundary(const GDSboundary& b) override { box.merge(GDSbboxBoundary(b)); }
  void path(const GDSpath& p) override { box.merge(GDSbboxPath(con_, p)); }
  void text(const GDStext& t, const GDStransf&) override { box.merge(GDSbboxText(t)); }

 private:
  const Console& con_;
};

constexpr WalkPlan kExtentPlan{};

// ---- the memoised walk ----
//
// An extent is the minimum and maximum over every point measured (starting
// from the empty extent, whose maxima lie one above the smallest value).
// The walk below collects those points like the walk above and gives the
// same extent and the same messages; where a structure is placed by a
// translation by whole units whose memo stands for it (see ExtentMemo), it
// takes the memo instead of walking the structure again. Only the
// short-wire message can come out of a walk whose memo is clean, so a memo
// prints that message its counted number of times.

constexpr double kTwo51 = 2251799813685248.0;
constexpr double kMaxShift = 1099511627776.0;  // 2^40: farther translations are walked

GDSbbox toBbox(const PointBox& p) {
  GDSbbox e;
  if (!p.any) return e;
  e.minx = p.minx;
  e.miny = p.miny;
  e.maxx = std::max(p.maxx, e.maxx);
  e.maxy = std::max(p.maxy, e.maxy);
  return e;
}

bool whole(double v) { return std::floor(v) == v && std::fabs(v) < kTwo51; }

// A transform, with what the memoised walk needs to know of it: whether its
// translation is by whole units (then the walk below it is the walk under
// its linear part alone, shifted), and whether its linear part is the
// identity.
struct Acc {
  GDStransf t;
  bool whole = false;
  bool ident = false;
  int64_t sx = 0;
  int64_t sy = 0;
  explicit Acc(const GDStransf& tr) : t(tr) {
    ident = t.a == 1 && t.b == 0 && t.c == 0 && t.d == 1;
    if (std::floor(t.tx) == t.tx && std::floor(t.ty) == t.ty && std::fabs(t.tx) <= kMaxShift &&
        std::fabs(t.ty) <= kMaxShift) {
      whole = true;
      sx = static_cast<int64_t>(t.tx);
      sy = static_cast<int64_t>(t.ty);
    }
  }
  bool shift() const { return whole && ident; }
  // Linear part a, d of +-1 and b, c of 0: array members are then moved by
  // whole units along each axis on its own.
  bool axial() const {
    return t.b == 0 && t.c == 0 && (t.a == 1 || t.a == -1) && (t.d == 1 || t.d == -1);
  }
};

double errorBound(const ExtentMemo& m, double shift) {
  return 4.0 * (static_cast<double>(m.depth) + 2) * 0x1p-53 * (2 * m.maxAbs + shift + 2);
}

bool exactUnder(const ExtentMemo& m, double shift) { return m.exact && m.maxAbs + shift < kTwo51; }

// Whether the memo stands for the walk under every translation with x in
// [x0, x1] and y in [y0, y1].
bool stands(const ExtentMemo& m, int64_t x0, int64_t x1, int64_t y0, int64_t y1) {
  if (m.poisoned || m.state != 2) return false;
  if (m.reach.any) {
    constexpr int64_t lo = int64_t{INT32_MIN} + 1;
    constexpr int64_t hi = int64_t{INT32_MAX} - 1;
    if (m.reach.minx + x0 < lo || m.reach.maxx + x1 > hi || m.reach.miny + y0 < lo || m.reach.maxy + y1 > hi)
      return false;
  }
  const double shift = static_cast<double>(std::max({std::abs(x0), std::abs(x1), std::abs(y0), std::abs(y1)}));
  if (exactUnder(m, shift)) return true;
  return m.margin > errorBound(m, shift);
}

void addShifted(PointBox& to, const PointBox& from, int64_t x0, int64_t x1, int64_t y0, int64_t y1) {
  if (!from.any) return;
  to.add(static_cast<int32_t>(from.minx + x0), static_cast<int32_t>(from.miny + y0));
  to.add(static_cast<int32_t>(from.maxx + x1), static_cast<int32_t>(from.maxy + y1));
}

uint64_t satMul(uint64_t a, uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
  return a * b;
}
uint64_t satAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

void printShortWire(Out& e, uint64_t n) {
  for (uint64_t k = 0; k < n; ++k) e.put(kShortWireMessage);
}

// Range of the 32-bit products k*space for k in [0, count).
void productRange(int32_t count, int32_t space, int64_t& lo, int64_t& hi) {
  const int64_t last = int64_t{count - 1} * space;
  if (last >= INT32_MIN && last <= INT32_MAX) {
    lo = std::min<int64_t>(0, last);
    hi = std::max<int64_t>(0, last);
    return;
  }
  lo = hi = 0;
  for (int32_t k = 1; k < count; ++k) {
    const int32_t v = wrapMul32(k, space);
    lo = std::min<int64_t>(lo, v);
    hi = std::max<int64_t>(hi, v);
  }
}

ExtentMemo& memoOf(const GDSlibrary& lib, GDSlibrary::WalkCache& c, int32_t idx, const Acc& acc);

// Whether a wire stands in structure idx or anywhere below it.
bool wiresBelow(const GDSlibrary& lib, GDSlibrary::WalkCache& c, int32_t idx) {
  if (c.wiresBelow.size() != lib.structs.size()) {
    c.wiresBelow.assign(lib.structs.size(), 0);
    // Components come children first.
    for (int32_t v : c.sccMembers) {
      const auto i = static_cast<std::size_t>(v);
      uint8_t w = lib.structs[i].paths.empty() ? 0 : 1;
      for (uint32_t k = c.childStart[i]; k < c.childStart[i + 1] && !w; ++k)
        w = c.wiresBelow[static_cast<std::size_t>(c.child[k])];
      c.wiresBelow[i] = w;
    }
    // Inside a cycle the order above is not children first: spread until
    // nothing changes (cycles are walked plainly anyway).
    for (bool changed = true; changed;) {
      changed = false;
      for (std::size_t i = 0; i < lib.structs.size(); ++i) {
        if (c.wiresBelow[i]) continue;
        for (uint32_t k = c.childStart[i]; k < c.childStart[i + 1]; ++k)
          if (c.wiresBelow[static_cast<std::size_t>(c.child[k])]) {
            c.wiresBelow[i] = 1;
            changed = true;
            break;
          }
      }
    }
  }
  return c.wiresBelow[static_cast<std::size_t>(idx)] != 0;
}

bool finiteAndModest(const GDStransf& t) {
  for (double v : {t.a, t.b, t.tx, t.c, t.d, t.ty})
    if (!(std::fabs(v) < 1e15)) return false;
  return true;
}

// Silent: computes a memo (counts messages, records fatal errors, gathers
// the figures of ExtentMemo). Otherwise: the printing walk.
template <bool Silent>
class Walker {
 public:
  // err: where the printing walk writes its messages (null when silent).
  Walker(const GDSlibrary& lib, GDSlibrary::WalkCache& c, ExtentMemo* m, Out* err = nullptr)
      : lib_(lib), c_(c), m_(m), err_(err) {}

  PointBox box;   // printing walk
  bool stop = false;

  void cells(const GDSstruct& s, const Acc& acc, uint64_t d) {
    for (const GDScell& cell : s.cells) {
      switch (cell.kind) {
        case KIND_BOUNDARY:
          boundary(s.boundary(cell), acc, d);
          break;
        case KIND_PATH:
          path(s.path(cell), acc, d);
          break;
        case KIND_SREF: {
          const GDSsref& r = s.sref(cell);
          const Acc child(GDScomposeTransf(r.transf, acc.t));
          if constexpr (Silent) noteCompose(child.t, r.transf, acc.t);
          instance(r.structptr, child, d + 1);
          break;
        }
        case KIND_AREF:
          aref(s.aref(cell), acc, d);
          break;
        default:
          break;
      }
      if constexpr (Silent) {
        if (stop) return;
      }
    }
  }

  void instance(int32_t ptr, const Acc& acc, uint64_t d) {
    if (ptr < 0 || static_cast<std::size_t>(ptr) >= lib_.structs.size()) return;
    if (acc.whole) {
      const ExtentMemo& cm = memoOf(lib_, c_, ptr, acc);
      if (stands(cm, acc.sx, acc.sx, acc.sy, acc.sy)) {
        take(cm, acc.sx, acc.sx, acc.sy, acc.sy, 1, d);
        return;
      }
      if constexpr (Silent) {
        poison();
        return;
      }
    }
    cells(lib_.structs[static_cast<std::size_t>(ptr)], acc, d);
  }

  void aref(const GDSaref& a, const Acc& parent, uint64_t d) {
    if (a.cols <= 0 || a.rows <= 0) return;
    const Acc acc(GDScomposeTransf(a.transf, parent.t));
    if constexpr (Silent) noteCompose(acc.t, a.transf, parent.t);
    const int32_t ptr = a.structptr;
    if (ptr < 0 || static_cast<std::size_t>(ptr) >= lib_.structs.size()) return;
    if (acc.whole && acc.axial()) {
      // Member (i, j) is placed by the linear part of acc and the
      // translation (a*i*colspace + tx, d*j*rowspace + ty).
      int64_t x0, x1, y0, y1;
      productRange(a.cols, a.colspace, x0, x1);
      productRange(a.rows, a.rowspace, y0, y1);
      if (acc.t.a < 0) {
        const int64_t lo = -x1;
        x1 = -x0;
        x0 = lo;
      }
      if (acc.t.d < 0) {
        const int64_t lo = -y1;
        y1 = -y0;
        y0 = lo;
      }
      x0 += acc.sx;
      x1 += acc.sx;
      y0 += acc.sy;
      y1 += acc.sy;
      const ExtentMemo& cm = memoOf(lib_, c_, ptr, acc);
      if (stands(cm, x0, x1, y0, y1)) {
        if constexpr (Silent) {
          for (int64_t v : {x0, x1, y0, y1}) noteValue(static_cast<double>(v));
        }
        take(cm, x0, x1, y0, y1, satMul(static_cast<uint64_t>(a.cols), static_cast<uint64_t>(a.rows)), d + 2);
        return;
      }
      if constexpr (Silent) {
        poison();
        return;
      }
    }
    if constexpr (!Silent) {
      // Without wires below, every coordinate measured in member (i, j) is
      // a monotone function of the member's translation, which is monotone
      // in i and in j on its own (while the lattice products do not wrap):
      // the members at the four corners reach every extreme, and nothing
      // below prints a message. A large array under any placement is then
      // measured by its corners.
      const int64_t lastCol = int64_t{a.cols - 1} * a.colspace;
      const int64_t lastRow = int64_t{a.rows - 1} * a.rowspace;
      if (static_cast<int64_t>(a.cols) * a.rows > 4 && lastCol >= INT32_MIN && lastCol <= INT32_MAX &&
          lastRow >= INT32_MIN && lastRow <= INT32_MAX && finiteAndModest(acc.t) && !wiresBelow(lib_, c_, ptr)) {
        for (int32_t i : {0, a.cols - 1}) {
          for (int32_t j : {0, a.rows - 1}) {
            const GDStransf member = GDSoffsetTransf(GDSidentity, {wrapMul32(i, a.colspace), wrapMul32(j, a.rowspace)});
            instance(ptr, Acc(GDScomposeTransf(member, acc.t)), d + 2);
            if (a.rows == 1) break;
          }
          if (a.cols == 1) break;
        }
        return;
      }
    } else if (static_cast<int64_t>(a.cols) * a.rows > 64) {
      // Measured by the printing walk, which has shorter ways for it.
      poison();
      return;
    }
    for (int32_t i = 0; i < a.cols; ++i) {
      for (int32_t j = 0; j < a.rows; ++j) {
        const GDStransf member =
            GDSoffsetTransf(GDSidentity, {wrapMul32(i, a.colspace), wrapMul32(j, a.rowspace)});
        const Acc m(GDScomposeTransf(member, acc.t));
        if constexpr (Silent) noteCompose(m.t, member, acc.t);
        instance(ptr, m, d + 2);
        if constexpr (Silent) {
          if (stop) return;
        }
      }
    }
  }

 private:
  void poison() {
    m_->poisoned = true;
    stop = true;
  }

  void addPoint(int32_t x, int32_t y) {
    if constexpr (Silent) {
      m_->box.add(x, y);
      m_->reach.add(x, y);
    } else {
      box.add(x, y);
    }
  }

  void noteValue(double v) {
    const double av = std::fabs(v);
    if (!(av <= m_->maxAbs)) m_->maxAbs = std::isnan(av) ? INFINITY : av;
    if (!whole(v)) m_->exact = false;
  }

  void noteCompose(const GDStransf& r, const GDStransf& f, const GDStransf& s) {
    if (m_->exact && (!whole(s.a * f.tx + s.b * f.ty) || !whole(s.c * f.tx + s.d * f.ty))) m_->exact = false;
    noteValue(r.tx);
    noteValue(r.ty);
  }

  // A value rounded to a coordinate.
  int32_t rounded(double q, double v, uint64_t d) {
    if constexpr (Silent) {
      if (m_->exact && !whole(q)) m_->exact = false;
      noteValue(v);
      if (d > m_->depth) m_->depth = d;
      if (std::isfinite(v)) {
        const double dist = std::fabs(v - (std::floor(v) + 0.5));
        if (dist < m_->margin) m_->margin = dist;
      } else {
        m_->margin = 0;
      }
      if (!(v > -2147483648.5 && v < 2147483647.5)) poison();
    }
    return GDSround(v);
  }

  int32_t shifted(int32_t x, int64_t s, uint64_t d) {
    const int64_t v = int64_t{x} + s;
    if constexpr (Silent) {
      noteValue(static_cast<double>(v));
      if (d > m_->depth) m_->depth = d;
      if (v > INT32_MAX || v < INT32_MIN) poison();
    }
    return clampInt32(v);
  }

  // Transformed copy of the points into copy_ (the centre line of a wire,
  // or a boundary).
  void transformPoints(const GDSpoint* pts, int32_t n, const Acc& acc, uint64_t d) {
    copy_.resize(static_cast<std::size_t>(std::max(n, 0)));
    const GDStransf& t = acc.t;
    for (int32_t i = 0; i < n; ++i) {
      GDSpoint p = pts[i];
      if (acc.shift()) {
        p = {shifted(p.x, acc.sx, d + 1), shifted(p.y, acc.sy, d + 1)};
      } else {
        const double x = p.x;
        const double y = p.y;
        const double qx = t.a * x + t.b * y;
        const double qy = t.c * x + t.d * y;
        p = {rounded(qx, qx + t.tx, d + 1), rounded(qy, qy + t.ty, d + 1)};
      }
      copy_[static_cast<std::size_t>(i)] = p;
    }
  }

  void boundary(const GDSboundary& b, const Acc& acc, uint64_t d) {
    transformPoints(b.points, b.npoints, acc, d);
    for (int32_t i = 0; i < b.npoints; ++i) addPoint(copy_[static_cast<std::size_t>(i)].x, copy_[static_cast<std::size_t>(i)].y);
  }

  void path(const GDSpath& p, const Acc& acc, uint64_t d) {
    if (p.npoints <= 1) {
      if constexpr (Silent) {
        m_->msgs = satAdd(m_->msgs, 1);
      } else {
        err_->put(kShortWireMessage);
      }
      return;
    }
    transformPoints(p.points, p.npoints, acc, d);
    if constexpr (Silent) {
      if (stop) return;
      for (const GDSpoint& q : copy_) m_->reach.add(q.x, q.y);
    }
    GDSpath copy = p;
    copy.points = copy_.data();
    copy.width = GDStransfWidth(p.width, acc.t);
    if (copy.hasExtensions) {
      copy.bgnextn = GDStransfWidth(p.bgnextn, acc.t);
      copy.endextn = GDStransfWidth(p.endextn, acc.t);
    }
    std::vector<GDSpoint>& outline = outline_;
    bool clamped = false;
    switch (PathOutline(copy, outline, &clamped)) {
      case OutlineResult::Ok:
        break;
      case OutlineResult::Short:
        return;  // not reached: checked above
      case OutlineResult::Reversal:
        if constexpr (Silent) {
          poison();
          return;
        } else {
          fatal("%s", kReversalMessage);
        }
    }
    if constexpr (Silent) {
      if (clamped) poison();
    }
    for (const GDSpoint& q : outline) addPoint(q.x, q.y);
  }

  // The memo of a structure placed by the translations [x0, x1] x [y0, y1]
  // (`count` instances), at chain depth d.
  void take(const ExtentMemo& cm, int64_t x0, int64_t x1, int64_t y0, int64_t y1, uint64_t count, uint64_t d) {
    const uint64_t msgs = satMul(cm.msgs, count);
    if constexpr (Silent) {
      addShifted(m_->box, cm.box, x0, x1, y0, y1);
      addShifted(m_->reach, cm.reach, x0, x1, y0, y1);
      m_->msgs = satAdd(m_->msgs, msgs);
      const double shift = static_cast<double>(std::max({std::abs(x0), std::abs(x1), std::abs(y0), std::abs(y1)}));
      if (!exactUnder(cm, shift)) {
        m_->exact = false;
        m_->margin = std::min(m_->margin, cm.margin - errorBound(cm, shift));
      }
      m_->maxAbs = std::max(m_->maxAbs, cm.maxAbs + shift + 1);
      m_->depth = std::max(m_->depth, d + cm.depth);
    } else {
      addShifted(box, cm.box, x0, x1, y0, y1);
      printShortWire(*err_, msgs);
    }
  }

  const GDSlibrary& lib_;
  GDSlibrary::WalkCache& c_;
  ExtentMemo* m_;
  Out* err_;
  std::vector<GDSpoint> copy_;     // transformed points of one element
  std::vector<GDSpoint> outline_;  // outline of one wire
};

// The memo of structure idx under the linear part of acc.
ExtentMemo& memoOf(const GDSlibrary& lib, GDSlibrary::WalkCache& c, int32_t idx, const Acc& acc) {
  const GDStransf& t = acc.t;
  ExtentMemo& m = acc.ident ? c.memo[static_cast<std::size_t>(idx)] : c.linearMemo[MemoKey(idx, t.a, t.b, t.c, t.d)];
  if (m.state != 0) return m;  // done, or being computed (a cycle: never stands)
  m.state = 1;
  Walker<true> w(lib, c, &m);
  w.cells(lib.structs[static_cast<std::size_t>(idx)], Acc(acc.ident ? GDSidentity : GDStransf{t.a, t.b, 0, t.c, t.d, 0}), 0);
  m.state = 2;
  return m;
}

bool fast(const GDSlibrary& lib, const GDSstruct* s, int32_t ptr) {
  if (s) return !reachesCycle(lib, *s);
  return !reachesCycle(lib, ptr);
}

}  // namespace

GDSbbox GDSbboxSref(const Console& con, const GDSlibrary& lib, const GDSsref& r, const GDStransf& parent) {
  if (!fast(lib, nullptr, r.structptr)) {
    ExtentSink sink(con);
    walkPlacedSref(lib, r, parent, kExtentPlan, sink);
    return sink.box;
  }
  auto& c = walkGraphOf(lib);
  Walker<false> w(lib, c, nullptr, &con.err);
  w.instance(r.structptr, Acc(GDScomposeTransf(r.transf, parent)), 1);
  return toBbox(w.box);
}

GDSbbox GDSbboxAref(const Console& con, const GDSlibrary& lib, const GDSaref& a, const GDStransf& parent) {
  if (!fast(lib, nullptr, a.structptr)) {
    ExtentSink sink(con);
    walkPlacedAref(lib, a, parent, kExtentPlan, sink);
    return sink.box;
  }
  auto& c = walkGraphOf(lib);
  Walker<false> w(lib, c, nullptr, &con.err);
  w.aref(a, Acc(parent), 0);
  return toBbox(w.box);
}

GDSbbox GDSbboxStruct(const Console& con, const GDSlibrary& lib, const GDSstruct& s) {
  GDSbbox box;
  if (!fast(lib, &s, -1)) {
    ExtentSink sink(con);
    walkPlaced(lib, s, kExtentPlan, sink);
    box = sink.box;
  } else {
    auto& c = walkGraphOf(lib);
    Walker<false> w(lib, c, nullptr, &con.err);
    w.cells(s, Acc(GDSidentity), 0);
    box = toBbox(w.box);
  }
  con.err.printf("minx = %d, miny = %d, maxx = %d, maxy = %d\n", box.minx, box.miny, box.maxx, box.maxy);
  return box;
}

}  // namespace qm
