// The PostScript page writer: page fit, then one drawing pass per visible
// layer entry, walking the top structure through all its references.
//
// A pass walks only what can draw on its layer (WalkPlan::layer): nothing
// it leaves out can write a byte (elements on other layers write nothing,
// and the short-wire message only comes from wires that are drawn), so its
// output is that of a walk through everything.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/out.h"
#include "common/progress.h"
#include "geom/extent.h"
#include "geom/outline.h"
#include "geom/transf.h"
#include "geom/walk.h"
#include "layers/load.h"
#include "ps/ps.h"

namespace qm {
namespace {

// A colour component as written: interpreters clamp to [0, 1] anyway, so
// values that are no finite number (or absurdly large) are written as the
// bound they stand for.
double colour(double v) {
  if (!(v >= -1e9)) return 0;
  if (v > 1e9) return 1;
  return v;
}

// The layer name in the "% Layer" comment, with the bytes that would end
// the comment written as escapes so that the rest of the name stays inside.
void putCommentName(Out& f, const std::string& name) {
  for (unsigned char c : name) {
    if (c == '\n' || c == '\r' || c == '\f') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      f.put(std::string_view(buf));
    } else {
      f.put(static_cast<char>(c));
    }
  }
}

// One coordinate line is put together here and written at once: the
// integers come out as "%d" writes them.
class Line {
 public:
  Line& num(int64_t v) {
    char tmp[24];
    char* e = tmp + sizeof tmp;
    char* s = e;
    uint64_t u = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    do {
      *--s = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u);
    if (v < 0) buf_[n_++] = '-';
    while (s < e) buf_[n_++] = *s++;
    return *this;
  }
  Line& ch(char c) {
    buf_[n_++] = c;
    return *this;
  }
  // x / 100 and y / 100, truncated toward zero, separated by a blank.
  Line& point(GDSpoint p) { return num(p.x / 100).ch(' ').num(p.y / 100); }
  Line& text(std::string_view t) {
    for (char c : t) buf_[n_++] = c;
    return *this;
  }
  void to(Out& f) { f.write(buf_, static_cast<std::size_t>(n_)); }

 private:
  char buf_[128];  // four 64-bit numbers and a keyword fit many times
  int n_ = 0;
};

// How a page walks: arrays as lattice translation, then the array's
// placement; references in the top structure composed with the identity.
WalkPlan pagePlan(const LayerEntry& e) {
  WalkPlan plan;
  plan.members = MemberOrder::LatticeThenPlacement;
  plan.composeTopRefs = true;
  plan.layer = e.gdsno;
  return plan;
}

// Draws the placed elements of one pass.
class PSpainter final : public PlacedSink {
 public:
  PSpainter(const Console& con, Out& f) : con_(con), f_(f) {}

  void begin(const LayerEntry& e) {
    e_ = &e;
    fontRef_ = PSfontName(e.name);
  }

  void boundary(const GDSboundary& b) override {
    if (b.layer != e_->gdsno || b.npoints <= 0) return;
    const int32_t n = b.npoints;
    if (n > kLongPolygon) {
      // Line by line, without room for all of it at once.
      for (const char* end : {"closepath stroke\n", "closepath\n"}) {
        f_.commit(polygon(f_.reserve(kLineMax), b.points + n - 1, 1));
        for (int32_t i = n - 2; i >= 0; --i) {
          char* q = f_.reserve(kLineMax);
          q = putPoint(q, b.points[i]);
          f_.commit(putText(q, " l\n"));
        }
        f_.put(std::string_view(end));
      }
      area();
      return;
    }
    // Formatted straight into the stream's buffer: this is the bulk of a
    // page. A polygon is written twice; the second time as a copy of the
    // first one's bytes.
    char* q = f_.reserve(2 * kLineMax * static_cast<std::size_t>(n) + kRectMax + 32);
    if (GDSisRectangle(b)) {
      const GDSpoint p0 = b.points[0];
      const GDSpoint p2 = b.points[2];
      q = putPoint(q, p0);
      *q++ = ' ';
      // The sizes are below 2^32 / 100.
      q = formatInt32Wide(q, static_cast<int32_t>((static_cast<int64_t>(p2.x) - p0.x) / 100));
      *q++ = ' ';
      q = formatInt32Wide(q, static_cast<int32_t>((static_cast<int64_t>(p2.y) - p0.y) / 100));
      q = putText(q, " rectstroke\n");
      q = polygon(q, b.points, n);
    } else {
      char* first = q;
      char* last = polygon(q, b.points, n);
      q = putText(last, "closepath stroke\n");
      std::memcpy(q, first, static_cast<std::size_t>(last - first));
      q += last - first;
    }
    f_.commit(putText(q, "closepath\n"));
    area();
  }

  // What follows the outline of a boundary: a fill, a pattern or nothing.
  void area() {
    if (e_->fill) {
      f_.put(std::string_view("fill\n"));
    } else if (e_->hatch == 1 || e_->hatch == 2) {
      f_.put(fontRef_);
      f_.put(std::string_view(" findfont patternfill\n"));
    }
  }

  void path(const GDSpath& p) override {
    if (p.layer != e_->gdsno) return;
    GDSboundary outline = PathToBoundary(con_, p, outline_);
    if (outline.npoints <= 0 || !outline.points) return;
    boundary(outline);
  }

  void text(const GDStext& t, const GDStransf& parent) override {
    if (t.layer != e_->gdsno) return;
    double size = 20 * t.mag;
    char buf[64];
    // A size that prints as zero cannot be shown, one beyond any real of
    // the interpreter cannot be read: such a text is not drawn.
    if (!(std::fabs(size) <= 1e30)) return;
    std::snprintf(buf, sizeof buf, "%.3f", size);
    if (std::strcmp(buf, "0.000") == 0 || std::strcmp(buf, "-0.000") == 0) return;
    GDStransf m = GDScomposeTransf(t.transf, parent);
    f_.put(std::string_view("/Helvetica "));
    f_.put(std::string_view(buf));
    f_.put(std::string_view(" f\n"));
    GDSpoint o = GDStransfPoint(GDSpoint{0, 0}, m);
    PSputString(f_, t.string);
    Line().ch(' ').point(o).text(" t\n").to(f_);
  }

 private:
  // The longest line of a polygon ("x y l\n" with two 9-byte numbers) and
  // of a rectangle ("x y w h rectstroke\n"). Numbers are formatted with
  // room for 11 bytes each, written over by what follows.
  static constexpr std::size_t kLineMax = 9 + 1 + 9 + 3;
  static constexpr std::size_t kRectMax = 9 + 1 + 9 + 1 + 11 + 1 + 11 + 11;
  // Polygons up to this many points are formatted in one piece of buffer.
  static constexpr int32_t kLongPolygon = 1 << 16;

  template <std::size_t N>
  static char* putText(char* q, const char (&t)[N]) {
    std::memcpy(q, t, N - 1);
    return q + N - 1;
  }
  // x / 100 and y / 100, truncated toward zero, separated by a blank.
  static char* putPoint(char* q, GDSpoint pt) {
    q = formatInt32Wide(q, pt.x / 100);
    *q++ = ' ';
    return formatInt32Wide(q, pt.y / 100);
  }
  // The path of a polygon: its last point first, then back to the first.
  static char* polygon(char* q, const GDSpoint* p, int32_t n) {
    auto line = [&q](GDSpoint pt, char op) {
      q = putPoint(q, pt);
      q[0] = ' ';
      q[1] = op;
      q[2] = '\n';
      q += 3;
    };
    line(p[n - 1], 'm');
    for (int32_t i = n - 2; i >= 0; --i) line(p[i], 'l');
    return q;
  }

  const Console& con_;
  Out& f_;
  const LayerEntry* e_ = nullptr;
  std::string fontRef_;
  std::vector<GDSpoint> outline_;  // outline of one wire
};

}  // namespace

void PSwriteBoundary(const Console& con, Out& f, const GDSboundary& b, const LayerEntry& e) {
  PSpainter paint(con, f);
  paint.begin(e);
  paint.boundary(b);
}

void PSwritePath(const Console& con, Out& f, const GDSpath& p, const LayerEntry& e) {
  PSpainter paint(con, f);
  paint.begin(e);
  paint.path(p);
}

void PSwriteSref(const Console& con, Out& f, const GDSlibrary& lib, const GDSsref& r, const GDStransf& parent,
                 const LayerEntry& e) {
  PSpainter paint(con, f);
  paint.begin(e);
  walkPlacedSref(lib, r, parent, pagePlan(e), paint);
}

void PSwriteAref(const Console& con, Out& f, const GDSlibrary& lib, const GDSaref& a, const GDStransf& parent,
                 const LayerEntry& e) {
  PSpainter paint(con, f);
  paint.begin(e);
  walkPlacedAref(lib, a, parent, pagePlan(e), paint);
}

void PSwriteText(const Console& con, Out& f, const GDStext& t, const GDStransf& parent, const LayerEntry& e) {
  PSpainter paint(con, f);
  paint.begin(e);
  paint.text(t, parent);
}

void PSwritePage(const Console& con, const GDSlibrary& lib, LayerTable& table, const std::string& psPath,
                 const std::string& configPath, const std::string& top, const Walks& walks,
                 Progress* progress) {
  if (LoadLayerConfig(con, configPath, table) < 2) return;
  PSdrawPage(con, lib, table, psPath, top, walks, progress);
}

void PSdrawPage(const Console& con, const GDSlibrary& lib, const LayerTable& table, const std::string& psPath,
                const std::string& top, const Walks& walks, Progress* progress) {
  const int count = table.layerCount;
  std::unique_ptr<Out> file = openOutFile(psPath);
  if (!file) fatal("Couldn't open %s for writing. Aborting...\n", psPath.c_str());
  Out& f = *file;

  PSwritePrologue(f);
  for (int i = 1; i < count; ++i) PSwriteHatch(f, table[i]);
  f.put(std::string_view("%%End of prologue\n"));

  const GDSstruct* s = GDSfindStruct(con, lib, top);
  if (!s) {
    con.err.printf("Couldn't find the structure named \"%s\"\n", top.c_str());
    closeOutFile(*file, psPath);
    return;
  }

  // Page fit. Nothing drawn counts as an extent of one point at the
  // origin; the differences are taken wide enough never to overflow.
  GDSbbox e = walks.extent(con, lib, *s);
  if (e.empty()) e = GDSbbox{0, 0, 0, 0};
  double scalex = 52020.0 / static_cast<double>(static_cast<int64_t>(e.maxx) - e.minx);
  double scaley = 67320.0 / static_cast<double>(static_cast<int64_t>(e.maxy) - e.miny);
  con.err.printf("scalex = %f, scaley = %f\n", scalex, scaley);
  double scale = scaley <= scalex ? scaley : scalex;
  if (std::isinf(scale)) scale = 1.0;  // a single point: no size to fit
  f.printf("%f %f scale\n", scale, scale);
  f.printf("%f %f translate\n", 45.9 / scale - e.minx / 100.0, 59.4 / scale - e.miny / 100.0);
  f.put(std::string_view("0 setlinewidth\n"));

  PSpainter paint(con, f);
  for (int i = 1; i < count; ++i) {
    const LayerEntry& entry = table[i];
    if (entry.hidden) continue;
    if (progress) progress->writing("PostScript", entry.name, i, count - 1);
    f.put(std::string_view("% Layer "));
    putCommentName(f, entry.name);
    f.put('\n');
    f.printf("gsave\n%.3f %.3f %.3f setrgbcolor\nnewpath\n", colour(entry.red), colour(entry.green),
             colour(entry.blue));
    paint.begin(entry);
    walks.place(lib, *s, pagePlan(entry), paint);
  }
  f.put(std::string_view("showpage\n"));
  closeOutFile(*file, psPath);
}

}  // namespace qm
