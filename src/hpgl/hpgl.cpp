// The HP-GL/2 plot writer: PCL escape and header, pen colours, plot size
// and scaling, then one pen pass per visible layer entry, walking the top
// structure through all its references.
//
// Transforms: a top-level SREF hands its own transform to the walk of its
// structure; a nested SREF composes its own transform with the one of its
// parent; an array member composes the lattice translation with the array's
// transform and then with the parent's. Each composition is done in exactly
// this order, so that coordinates agree to the unit.
//
// A pass walks only what can draw on its layer (WalkPlan::layer): nothing
// it leaves out can write a byte (elements on other layers write nothing,
// and the short-wire message only comes from wires on the pass's layer),
// so its output is that of a walk through everything.
//
// Numbers: the 32-bit differences of an extent are taken in 64 bits, so
// they never wrap; every double turned into an integer of the plot is
// clamped to the 32-bit range first (NaN becomes 0).
#include "hpgl/hpgl.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "common/out.h"
#include "common/progress.h"
#include "geom/extent.h"
#include "geom/outline.h"
#include "geom/transf.h"
#include "geom/walk.h"

namespace qm {
namespace {

// Truncation toward zero of a double into the 32-bit range.
int32_t toInt(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// The longest "<a>x,y": a two-letter command with a pair of 32-bit integers.
constexpr std::size_t kPairMax = 2 + 11 + 1 + 11;

// Writes "<a>x,y" at p; returns the end.
inline char* pairAt(char* p, const char* cmd, int64_t x, int64_t y) {
  *p++ = cmd[0];
  *p++ = cmd[1];
  p = formatInt32Wide(p, static_cast<int32_t>(x));
  *p++ = ',';
  return formatInt32Wide(p, static_cast<int32_t>(y));
}

// Boundaries up to this many points are formatted in one piece of buffer.
constexpr int32_t kLongPolygon = 1 << 16;

// Writes "<a>x,y" at the end of the stream.
inline void putPair(Out& f, const char* cmd, int64_t x, int64_t y) {
  f.commit(pairAt(f.reserve(kPairMax), cmd, x, y));
}

// How a plot walks: arrays as lattice translation and the array's own
// transform, then the parent's; a reference in the top structure hands
// its own transform to the walk unchanged; boxes are drawn as boundaries.
WalkPlan plotPlan(const LayerEntry& e) {
  WalkPlan plan;
  plan.members = MemberOrder::OwnThenParent;
  plan.composeTopRefs = false;
  plan.boxes = true;
  plan.layer = e.gdsno;
  return plan;
}

// Draws the placed elements of one pen pass.
class HPGLpainter final : public PlacedSink {
 public:
  HPGLpainter(const Console& con, Out& f) : con_(con), f_(f) {}

  void begin(const LayerEntry& e) { e_ = &e; }

  void boundary(const GDSboundary& b) override { HPGLwriteBoundary(f_, b, *e_); }

  void path(const GDSpath& p) override {
    if (p.layer != e_->gdsno) return;
    GDSboundary outline = PathToBoundary(con_, p, outline_);
    if (outline.npoints <= 0 || !outline.points) return;
    boundary(outline);
  }

  void text(const GDStext& t, const GDStransf& parent) override { HPGLwriteText(f_, t, parent, *e_); }

 private:
  const Console& con_;
  Out& f_;
  const LayerEntry* e_ = nullptr;
  std::vector<GDSpoint> outline_;  // outline of one wire
};

}  // namespace

void HPGLwriteHeader(Out& f) { f.put(std::string_view("\x1b%-1BBPINNP64MC1QL100WU0PW0.13\n")); }

void HPGLwriteTrailer(Out& f) { f.put(std::string_view("PUSP0PG;\n")); }

void HPGLwritePenColor(Out& f, const LayerEntry& e) {
  if (e.hidden) return;
  f.printf("PC%d,%d,%d,%d", e.gdsno, toInt(0.5 + e.red * 255), toInt(0.5 + e.green * 255),
           toInt(0.5 + e.blue * 255));
}

void HPGLwriteFillType(Out& f, double scale, const LayerEntry& e) {
  if (e.fill) {
    f.put(std::string_view("FT1\n"));
    return;
  }
  if (e.hatch != 1 && e.hatch != 2) return;
  // An angle that is no finite number cannot be written; it counts as 0.
  double angle = std::isfinite(e.angle) ? e.angle : 0.0;
  f.printf("FT%d,%d,%.2f\n", e.hatch == 1 ? 3 : 4, toInt(40 * e.step / scale), angle);
}

void HPGLwriteBoundary(Out& f, const GDSboundary& b, const LayerEntry& e) {
  // A boundary without points has no first corner to go to: nothing.
  if (b.layer != e.gdsno || b.npoints <= 0 || !b.points) return;
  const GDSpoint* p = b.points;
  const bool area = e.fill || e.hatch;
  if (b.npoints > kLongPolygon) {
    // Pair by pair, without room for all of it at once (never a rectangle).
    putPair(f, "PU", p[0].x / 100, p[0].y / 100);
    f.put(std::string_view("PM0"));
    for (int32_t i = 1; i < b.npoints; ++i) putPair(f, "PD", p[i].x / 100, p[i].y / 100);
    f.put(std::string_view(area ? "PM2EPFP\n" : "PM2EP\n"));
    return;
  }
  // The whole element is formatted straight into the stream's buffer.
  char* q = f.reserve(kPairMax * (static_cast<std::size_t>(b.npoints) + 3) + 16);
  auto text = [&q](std::string_view t) {
    std::memcpy(q, t.data(), t.size());
    q += t.size();
  };
  q = pairAt(q, "PU", p[0].x / 100, p[0].y / 100);
  if (GDSisRectangle(b)) {
    const int64_t w = (static_cast<int64_t>(p[2].x) - p[0].x) / 100;
    const int64_t h = (static_cast<int64_t>(p[2].y) - p[0].y) / 100;
    q = pairAt(q, "ER", w, h);
    if (area) {
      q = pairAt(q, "PU", p[0].x / 100, p[0].y / 100);
      q = pairAt(q, "RR", w, h);
    }
  } else {
    text("PM0");
    for (int32_t i = 1; i < b.npoints; ++i) q = pairAt(q, "PD", p[i].x / 100, p[i].y / 100);
    text("PM2EP");
    if (area) text("FP");
  }
  *q++ = '\n';
  f.commit(q);
}

void HPGLwriteText(Out& f, const GDStext& t, const GDStransf& parent, const LayerEntry& e) {
  if (t.layer != e.gdsno) return;
  GDStransf m = GDScomposeTransf(t.transf, parent);
  const double size = 0.02 * t.mag;
  f.printf("SR%f,%f", size, size);
  GDSpoint o = GDStransfPoint(GDSpoint{0, 0}, m);
  putPair(f, "PU", o.x / 100, o.y / 100);
  f.put(std::string_view("LO6LB"));
  // The label ends at the end-of-text character written after it: one
  // inside the string would end it early, so those are left out. The
  // string ends at its first NUL, as a C string does.
  for (char c : t.string) {
    if (c == '\0') break;
    if (c != '\x03') f.put(c);
  }
  f.put(std::string_view("\x03\n"));
}

HPGLgeometry HPGLplotGeometry(int32_t minx, int32_t miny, int32_t maxx, int32_t maxy, bool empty) {
  if (empty) minx = miny = maxx = maxy = 0;
  HPGLgeometry g;
  int64_t w = static_cast<int64_t>(maxx) - minx;
  int64_t h = static_cast<int64_t>(maxy) - miny;
  g.reportScalex = 3413760.0 / static_cast<double>(w);
  g.reportScaley = 4328160.0 / static_cast<double>(h);
  // The plot itself needs a size in both directions.
  if (w < 0) w = 0;
  if (h < 0) h = 0;
  if (w == 0 && h == 0) {
    w = h = 100;
  } else if (w == 0) {
    w = h;
  } else if (h == 0) {
    h = w;
  }
  g.scale = 3413760.0 / static_cast<double>(w);
  g.length = toInt(34137.6 * static_cast<double>(h) / static_cast<double>(w));
  const double m = 1706.88 / g.scale;
  g.sc[0] = toInt(static_cast<double>(minx / 100) - m);
  g.sc[1] = toInt(m + static_cast<double>(maxx / 100));
  g.sc[2] = toInt(static_cast<double>(miny / 100) - m);
  g.sc[3] = toInt(m + static_cast<double>(maxy / 100));
  return g;
}

void HPGLwritePlot(const Console& con, const GDSlibrary& lib, const LayerTable& table, const std::string& path,
                   const std::string& top, const Walks& walks, Progress* progress) {
  std::unique_ptr<Out> file = openOutFile(path);
  if (!file) fatal("Couldn't open %s for writing. Aborting...\n", path.c_str());
  Out& f = *file;

  const int count = std::min<int>(table.layerCount, static_cast<int>(table.entries.size()));
  HPGLwriteHeader(f);
  for (int i = 0; i < count; ++i) HPGLwritePenColor(f, table[i]);

  const GDSstruct* s = GDSfindStruct(con, lib, top);
  if (!s) {
    con.err.printf("Couldn't find the structure named \"%s\"\n", top.c_str());
    closeOutFile(*file, path);
    return;
  }

  GDSbbox e = walks.extent(con, lib, *s);
  HPGLgeometry g = HPGLplotGeometry(e.minx, e.miny, e.maxx, e.maxy, e.empty());
  con.err.printf("scalex = %f, scaley = %f\n", g.reportScalex, g.reportScaley);
  f.printf("\nPS%d,%d;\n", 34137, g.length);
  con.err.printf("scale = %f\n", g.reportScalex);
  f.printf("IP%d,%d,%d,%dSC%d,%d,%d,%d\n", 0, 0, 34137, g.length, g.sc[0], g.sc[1], g.sc[2], g.sc[3]);

  HPGLpainter paint(con, f);
  for (int i = 0; i < count; ++i) {
    const LayerEntry& entry = table[i];
    if (entry.hidden) continue;
    if (progress) progress->writing("HP-GL/2", entry.name, i, count - 1);
    f.printf("SP%d\n", entry.gdsno);
    HPGLwriteFillType(f, g.scale, entry);
    paint.begin(entry);
    walks.place(lib, *s, plotPlan(entry), paint);
  }
  HPGLwriteTrailer(f);
  closeOutFile(*file, path);
}

}  // namespace qm
