// The SVG drawing writer.
//
// The document draws what the page draws, in the page's order: one group
// per visible layer entry, in table order, at the root. Each group uses the
// definition of the top structure on that entry's GDSII layer; such a
// definition holds the structure's own shapes on the layer and <use>
// elements for the references whose structures hold something on it. So
// every structure is written once per layer it holds (children before
// parents), and the layers stack across instances exactly as the page's
// passes do. When the instances lie apart at every level, each structure
// is written once with all its layers instead, and the top drawn once (see
// "Whole structures" below).
//
// Inside a definition no whitespace separates the elements: a browser
// copies every node of a definition, text nodes too, for each instance.
//
// The root group turns database units with y up into the picture. Hatching
// is a pattern in that root frame, shown through a mask made of the layer's
// shapes: as on the page, it keeps its angle and spacing whatever the
// placement of an instance. Texts keep their size and stay upright as on
// the page; their definitions are written per structure, layer and linear
// part of the placement, in a frame with y down.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "common/out.h"
#include "common/progress.h"
#include "geom/extent.h"
#include "geom/outline.h"
#include "geom/transf.h"
#include "geom/walk.h"
#include "svg/svg.h"

namespace qm {
namespace {

// The 32-bit product of a lattice index and a spacing, wrapping as the
// hardware does (the page's lattice).
int32_t latticeOffset(int32_t i, int32_t space) {
  return static_cast<int32_t>(static_cast<uint32_t>(i) * static_cast<uint32_t>(space));
}

// A number of a transform or a size: finite, without noise below 1e-12,
// at most 12 significant digits, never "-0".
void putNum(Out& f, double v) {
  if (!std::isfinite(v) || std::fabs(v) < 1e-12) v = 0;
  if (std::fabs(v) < 1e15 && v == std::floor(v)) {
    f.putInt(static_cast<long long>(v));
    return;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.12g", v);
  f.put(std::string_view(buf));
}

// A colour component as the page writes it (three decimals), as a byte.
int colourByte(double v) {
  if (!(v >= 0)) return 0;
  if (v >= 1) return 255;
  double page = std::round(v * 1000) / 1000;
  return static_cast<int>(std::lround(page * 255));
}

std::string colourOf(const LayerEntry& e) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", colourByte(e.red), colourByte(e.green), colourByte(e.blue));
  return buf;
}

// Short identifiers: a letter and a base-36 number.
void putId(Out& f, char kind, uint32_t n) {
  char buf[16];
  char* e = buf + sizeof buf;
  char* p = e;
  do {
    *--p = "0123456789abcdefghijklmnopqrstuvwxyz"[n % 36];
    n /= 36;
  } while (n);
  *--p = kind;
  f.write(p, static_cast<std::size_t>(e - p));
}

// The linear part of an accumulated placement (texts keep their own
// orientation, so only their positions follow it).
struct Linear {
  double a = 1, b = 0, c = 0, d = 1;
  GDStransf transf() const { return GDStransf{a, b, 0, c, d, 0}; }
  static Linear of(const GDStransf& t) { return Linear{t.a, t.b, t.c, t.d}; }
};

// A rough extent of texts (their anchor, size and length), to keep them in
// the view.
struct Box {
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  bool empty() const { return x0 > x1; }
  void add(double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    x0 = std::min(x0, x);
    y0 = std::min(y0, y);
    x1 = std::max(x1, x);
    y1 = std::max(y1, y);
  }
  void add(const Box& b, double dx, double dy) {
    if (b.empty()) return;
    add(b.x0 + dx, b.y0 + dy);
    add(b.x1 + dx, b.y1 + dy);
  }
};

class SvgWriter {
 public:
  SvgWriter(const GDSlibrary& lib, const LayerTable& table, Out& f)
      : lib_(lib), table_(table), file_(f), f_(&f), textsBelow_(lib.structs.size(), 0) {}

  void write(const GDSstruct& top, int32_t topIdx, const GDSbbox& extent);

 private:
  uint32_t geomChild(int32_t idx, int32_t layer);
  uint32_t geomDef(int32_t idx, int32_t layer);
  uint32_t textChild(int32_t idx, int32_t layer, const Linear& l);
  uint32_t textDef(int32_t idx, int32_t layer, const Linear& l);
  // Whether a text stands in the structure or below it (true also where a
  // cycle is reachable, so that the walk that meets it still does).
  bool textsBelow(int32_t idx);

  // Whole structures: all visible layers in one definition (see below).
  struct Whole {
    int state = 0;  // 0 not looked at, 1 being looked at, 2 known
    bool drawn = false;    // something visible below
    bool stacks = false;   // its instances and own shapes lie apart, down to any depth
    bool hatched = false;  // a hatched layer below
    Box box;               // extent of what is drawn, in its own frame
    uint32_t id = 0;
  };
  const Whole& whole(int32_t idx);
  uint32_t wholeDef(int32_t idx);
  void putArray(const GDSaref& a, uint32_t child, uint32_t row);
  // The six numbers of an SVG matrix() for t.
  void putMatrix(const GDStransf& t);

  void putPolygon(const GDSpoint* p, int32_t n);
  void putBoundary(const GDSboundary& b);
  void putUse(char kind, uint32_t id, const GDStransf& t);
  void putTranslatedUse(char kind, uint32_t id, double x, double y);
  void putPattern(int entry, const LayerEntry& e, double scale, const GDSbbox& page);
  bool drawableText(const GDStext& t, double* size) const;

  const GDSlibrary& lib_;
  const LayerTable& table_;
  Out& file_;
  Out* f_;  // where definitions are written now
  uint32_t next_ = 0;
  std::unordered_map<uint64_t, uint32_t> geomIds_;
  std::map<std::tuple<int32_t, int32_t, double, double, double, double>, uint32_t> textIds_;
  std::vector<uint8_t> textsBelow_;  // 0 not known, 1 being looked at, 2 none, 3 some
  std::unordered_map<uint32_t, Box> textBox_;  // in the frame of each text definition (y down)
  std::vector<GDSpoint> outline_;
  std::vector<Whole> whole_;
  std::vector<int> shown_;  // visible entries, in table order
};

uint64_t geomKey(int32_t idx, int32_t layer) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(idx)) << 32) | static_cast<uint32_t>(layer);
}

// ---------------------------------------------------------------------------
// Shapes

void SvgWriter::putPolygon(const GDSpoint* p, int32_t n) {
  f_->put("<path d=\"M");
  for (int32_t i = 0; i < n; ++i) {
    char* q = f_->reserve(32);
    if (i == 1) *q++ = 'L';
    else if (i > 1) *q++ = ' ';
    q = formatInt(q, p[i].x);
    *q++ = ' ';
    q = formatInt(q, p[i].y);
    f_->commit(q);
  }
  f_->put("Z\"/>");
}

void SvgWriter::putBoundary(const GDSboundary& b) {
  if (b.npoints < 2 || !b.points) return;
  if (GDSisRectangle(b)) {
    const GDSpoint p0 = b.points[0];
    const GDSpoint p2 = b.points[2];
    char* q = f_->reserve(96);
    std::memcpy(q, "<path d=\"M", 10);
    q += 10;
    q = formatInt(q, p0.x);
    *q++ = ' ';
    q = formatInt(q, p0.y);
    *q++ = 'H';
    q = formatInt(q, p2.x);
    *q++ = 'V';
    q = formatInt(q, p2.y);
    *q++ = 'H';
    q = formatInt(q, p0.x);
    std::memcpy(q, "Z\"/>", 4);
    f_->commit(q + 4);
    return;
  }
  putPolygon(b.points, b.npoints);
}

// A reference as a <use>: x and y alone for a translation.
void SvgWriter::putUse(char kind, uint32_t id, const GDStransf& t) {
  if (t.a == 1 && t.b == 0 && t.c == 0 && t.d == 1) {
    putTranslatedUse(kind, id, t.tx, t.ty);
    return;
  }
  f_->put("<use href=\"#");
  putId(*f_, kind, id);
  f_->put("\" transform=\"matrix(");
  putMatrix(t);
  f_->put(")\"/>");
}

void SvgWriter::putTranslatedUse(char kind, uint32_t id, double x, double y) {
  f_->put("<use href=\"#");
  putId(*f_, kind, id);
  f_->put('"');
  if (std::isfinite(x) && std::fabs(x) >= 1e-12) {
    f_->put(" x=\"");
    putNum(*f_, x);
    f_->put('"');
  }
  if (std::isfinite(y) && std::fabs(y) >= 1e-12) {
    f_->put(" y=\"");
    putNum(*f_, y);
    f_->put('"');
  }
  f_->put("/>");
}

// ---------------------------------------------------------------------------
// Geometry definitions: structure idx on GDSII layer `layer`. 0 when the
// structure holds nothing drawn on it, down to any depth.

uint32_t SvgWriter::geomChild(int32_t idx, int32_t layer) {
  auto it = geomIds_.find(geomKey(idx, layer));
  if (it != geomIds_.end()) return it->second;
  Descent d(lib_, idx);
  if (!d.target()) return 0;
  return geomDef(idx, layer);
}

uint32_t SvgWriter::geomDef(int32_t idx, int32_t layer) {
  const uint64_t key = geomKey(idx, layer);
  auto found = geomIds_.find(key);
  if (found != geomIds_.end()) return found->second;
  const GDSstruct& s = lib_.structs[static_cast<std::size_t>(idx)];
  if (!hasLayerBelow(lib_, idx, layer)) {
    geomIds_.emplace(key, 0);
    return 0;
  }
  // The referenced definitions first (children before parents), and the
  // rows of the arrays that have more than one row and column.
  struct Ref {
    uint32_t child = 0;
    uint32_t row = 0;
  };
  std::vector<Ref> refs(s.srefs.size() + s.arefs.size());
  bool any = false;
  for (const GDScell& c : s.cells) {
    if (c.kind == KIND_SREF) {
      const GDSsref& r = s.sref(c);
      if (r.structptr < 0) continue;
      Ref& ref = refs[c.idx];
      ref.child = geomChild(r.structptr, layer);
      any = any || ref.child;
    } else if (c.kind == KIND_AREF) {
      const GDSaref& a = s.aref(c);
      if (a.structptr < 0 || a.cols <= 0 || a.rows <= 0) continue;
      Ref& ref = refs[s.srefs.size() + c.idx];
      ref.child = geomChild(a.structptr, layer);
      if (!ref.child) continue;
      any = true;
      if (a.cols > 1 && a.rows > 1) {
        ref.row = ++next_;
        f_->put("<g id=\"");
        putId(*f_, 'r', ref.row);
        f_->put("\">");
        for (int32_t i = 0; i < a.cols; ++i) putTranslatedUse('g', ref.child, latticeOffset(i, a.colspace), 0);
        f_->put("</g>\n");
      }
    } else if (c.kind == KIND_BOUNDARY) {
      const GDSboundary& b = s.boundary(c);
      any = any || (b.layer == layer && b.npoints >= 2 && b.points);
    } else if (c.kind == KIND_PATH) {
      const GDSpath& p = s.path(c);
      any = any || (p.layer == layer && p.npoints >= 2);
    }
  }
  if (!any) {
    geomIds_.emplace(key, 0);
    return 0;
  }
  const uint32_t id = ++next_;
  f_->put("<g id=\"");
  putId(*f_, 'g', id);
  f_->put("\"><title>");
  SVGputEscaped(*f_, s.strname);
  f_->put("</title>");
  for (const GDScell& c : s.cells) {
    switch (c.kind) {
      case KIND_BOUNDARY: {
        const GDSboundary& b = s.boundary(c);
        if (b.layer == layer) putBoundary(b);
        break;
      }
      case KIND_PATH: {
        const GDSpath& p = s.path(c);
        if (p.layer != layer) break;
        switch (PathOutline(p, outline_)) {
          case OutlineResult::Short: break;
          case OutlineResult::Reversal: fatal("%s", kReversalMessage);
          case OutlineResult::Ok: putPolygon(outline_.data(), 2 * p.npoints + 1); break;
        }
        break;
      }
      case KIND_SREF: {
        const Ref& ref = refs[c.idx];
        if (ref.child) putUse('g', ref.child, s.sref(c).transf);
        break;
      }
      case KIND_AREF: {
        const Ref& ref = refs[s.srefs.size() + c.idx];
        if (ref.child) putArray(s.aref(c), ref.child, ref.row);
        break;
      }
      default:
        break;
    }
  }
  f_->put("</g>\n");
  geomIds_.emplace(key, id);
  return id;
}

// ---------------------------------------------------------------------------
// Text definitions: the texts on `layer` of structure idx and below it,
// placed by a transform with linear part l, in a frame with y down.

// The page's rule: a size that prints as zero or lies beyond any real of
// the interpreter is not drawn.
bool SvgWriter::drawableText(const GDStext& t, double* size) const {
  double s = 20 * t.mag;
  if (!(std::fabs(s) <= 1e30)) return false;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", s);
  if (std::strcmp(buf, "0.000") == 0 || std::strcmp(buf, "-0.000") == 0) return false;
  *size = std::strtod(buf, nullptr) * 100;  // database units
  return true;
}

uint32_t SvgWriter::textChild(int32_t idx, int32_t layer, const Linear& l) {
  auto it = textIds_.find({idx, layer, l.a, l.b, l.c, l.d});
  if (it != textIds_.end()) return it->second;
  Descent d(lib_, idx);
  if (!d.target()) return 0;
  return textDef(idx, layer, l);
}

bool SvgWriter::textsBelow(int32_t idx) {
  const auto i = static_cast<std::size_t>(idx);
  if (textsBelow_[i] != 0) return textsBelow_[i] != 2;
  textsBelow_[i] = 1;
  const GDSstruct& s = lib_.structs[i];
  bool any = !s.texts.empty();
  for (const GDSsref& r : s.srefs)
    if (!any && r.structptr >= 0) any = textsBelow(r.structptr);
  for (const GDSaref& a : s.arefs)
    if (!any && a.structptr >= 0) any = textsBelow(a.structptr);
  textsBelow_[i] = any ? 3 : 2;
  return any;
}

uint32_t SvgWriter::textDef(int32_t idx, int32_t layer, const Linear& l) {
  // Nothing to write and nothing to meet below: no lookup, no walk.
  if (!textsBelow(idx)) return 0;
  const auto key = std::make_tuple(idx, layer, l.a, l.b, l.c, l.d);
  auto found = textIds_.find(key);
  if (found != textIds_.end()) return found->second;
  const GDSstruct& s = lib_.structs[static_cast<std::size_t>(idx)];
  if (!hasLayerBelow(lib_, idx, layer)) {
    textIds_.emplace(key, 0);
    return 0;
  }
  const GDStransf lt = l.transf();
  std::vector<uint32_t> refs(s.srefs.size() + s.arefs.size(), 0);
  bool any = false;
  for (const GDScell& c : s.cells) {
    if (c.kind == KIND_SREF) {
      const GDSsref& r = s.sref(c);
      if (r.structptr < 0) continue;
      uint32_t& id = refs[c.idx];
      id = textChild(r.structptr, layer, Linear::of(GDScomposeTransf(r.transf, lt)));
      any = any || id;
    } else if (c.kind == KIND_AREF) {
      const GDSaref& a = s.aref(c);
      if (a.structptr < 0 || a.cols <= 0 || a.rows <= 0) continue;
      uint32_t& id = refs[s.srefs.size() + c.idx];
      id = textChild(a.structptr, layer, Linear::of(GDScomposeTransf(a.transf, lt)));
      any = any || id;
    } else if (c.kind == KIND_TEXT) {
      double size;
      const GDStext& t = s.text(c);
      any = any || (t.layer == layer && drawableText(t, &size));
    }
  }
  if (!any) {
    textIds_.emplace(key, 0);
    return 0;
  }
  const uint32_t id = ++next_;
  Box box;
  f_->put("<g id=\"");
  putId(*f_, 't', id);
  f_->put("\">");
  for (const GDScell& c : s.cells) {
    switch (c.kind) {
      case KIND_TEXT: {
        const GDStext& t = s.text(c);
        double size;
        if (t.layer != layer || !drawableText(t, &size)) break;
        const double x = l.a * t.transf.tx + l.b * t.transf.ty;
        const double y = -(l.c * t.transf.tx + l.d * t.transf.ty);
        f_->put("<text x=\"");
        putNum(*f_, std::round(x));
        f_->put("\" y=\"");
        putNum(*f_, std::round(y));
        f_->put("\" font-size=\"");
        putNum(*f_, std::fabs(size));
        f_->put('"');
        if (size < 0) {
          // A negative size turns the glyphs half a turn, as scalefont does.
          f_->put(" transform=\"rotate(180 ");
          putNum(*f_, std::round(x));
          f_->put(' ');
          putNum(*f_, std::round(y));
          f_->put(")\"");
        }
        f_->put('>');
        {
          const double s = size < 0 ? -1 : 1;
          box.add(std::round(x), std::round(y) + 0.3 * s * size);
          box.add(std::round(x) + s * 0.7 * size * static_cast<double>(t.string.size()), std::round(y) - s * size);
        }
        SVGputEscaped(*f_, t.string);
        f_->put("</text>");
        break;
      }
      case KIND_SREF: {
        uint32_t child = refs[c.idx];
        if (!child) break;
        GDStransf m = GDScomposeTransf(s.sref(c).transf, lt);
        putTranslatedUse('t', child, m.tx, -m.ty);
        box.add(textBox_[child], m.tx, -m.ty);
        break;
      }
      case KIND_AREF: {
        uint32_t child = refs[s.srefs.size() + c.idx];
        if (!child) break;
        const GDSaref& a = s.aref(c);
        GDStransf p = GDScomposeTransf(a.transf, lt);
        for (int32_t i = 0; i < a.cols; ++i) {
          for (int32_t j = 0; j < a.rows; ++j) {
            const double ox = latticeOffset(i, a.colspace), oy = latticeOffset(j, a.rowspace);
            const double ux = p.a * ox + p.b * oy + p.tx, uy = -(p.c * ox + p.d * oy + p.ty);
            putTranslatedUse('t', child, ux, uy);
            box.add(textBox_[child], ux, uy);
          }
        }
        break;
      }
      default:
        break;
    }
  }
  f_->put("</g>\n");
  textBox_[id] = box;
  textIds_.emplace(key, id);
  return id;
}

// ---------------------------------------------------------------------------
// Whole structures. When the instances and the own shapes of every
// structure below the top lie apart (their extents do not even touch), a
// structure drawn with all its layers at once, in table order, shows what
// the layer passes show: no instance covers another. Then each structure is
// written once with every layer it holds, and the document draws the top
// once, which keeps the file about as large as the library and the viewer's
// work to one instance per placement. Hatching is then a pattern fill in
// the frame of each instance, so structures that hold a hatched layer must
// be placed by translations alone (the lines keep their angle and spacing;
// their phase follows the instance).

// The extent of box b placed by t.
Box placedBox(const Box& b, const GDStransf& t) {
  Box r;
  if (b.empty()) return r;
  for (double x : {b.x0, b.x1})
    for (double y : {b.y0, b.y1}) r.add(t.a * x + t.b * y + t.tx, t.c * x + t.d * y + t.ty);
  return r;
}

bool translation(const GDStransf& t) { return t.a == 1 && t.b == 0 && t.c == 0 && t.d == 1; }

// Whether every instance lies apart from the other instances and from
// every own shape (own shapes may overlap each other: they are written in
// table order); false also when finding out would take long.
struct Item {
  Box box;
  bool instance;
};
bool apart(std::vector<Item>& items) {
  std::sort(items.begin(), items.end(), [](const Item& p, const Item& q) { return p.box.x0 < q.box.x0; });
  std::size_t budget = 64 * items.size() + 1000000;
  std::vector<const Item*> active[2];  // own shapes, instances
  for (const Item& b : items) {
    for (int k = b.instance ? 0 : 1; k < 2; ++k) {
      std::vector<const Item*>& list = active[k];
      std::size_t kept = 0;
      for (const Item* a : list) {
        if (a->box.x1 < b.box.x0) continue;  // wholly to the left of all that follows
        list[kept++] = a;
        if (a->box.y0 <= b.box.y1 && b.box.y0 <= a->box.y1) return false;
        if (--budget == 0) return false;
      }
      list.resize(kept);
    }
    active[b.instance ? 1 : 0].push_back(&b);
  }
  return true;
}

const SvgWriter::Whole& SvgWriter::whole(int32_t idx) {
  Whole& w0 = whole_[static_cast<std::size_t>(idx)];
  if (w0.state == 2) return w0;
  if (w0.state == 1) {  // a cycle (callers exclude them): never whole
    return w0;
  }
  w0.state = 1;
  const GDSstruct& s = lib_.structs[static_cast<std::size_t>(idx)];
  const auto shown = [&](int32_t layer) {
    for (int e : shown_)
      if (table_[e].gdsno == layer) return true;
    return false;
  };
  const auto hatchedLayer = [&](int32_t layer) {
    for (int e : shown_) {
      const LayerEntry& le = table_[e];
      if (le.gdsno == layer && !le.fill && (le.hatch == 1 || le.hatch == 2)) return true;
    }
    return false;
  };
  bool stacks = true, hatched = false;
  Box own;
  std::vector<Item> boxes;
  const auto child = [&](int32_t ptr, const GDStransf& t, const Box* lattice) {
    const Whole& c = whole(ptr);
    if (!c.drawn) return;
    stacks = stacks && c.stacks && (!c.hatched || translation(t));
    hatched = hatched || c.hatched;
    Box b = c.box;
    if (lattice) {
      Box m;
      m.add(b, lattice->x0, lattice->y0);
      m.add(b, lattice->x1, lattice->y1);
      b = m;
    }
    boxes.push_back({placedBox(b, t), true});
  };
  for (const GDScell& c : s.cells) {
    switch (c.kind) {
      case KIND_BOUNDARY: {
        const GDSboundary& b = s.boundary(c);
        if (b.npoints < 2 || !b.points || !shown(b.layer)) break;
        own = Box{};
        for (int32_t i = 0; i < b.npoints; ++i) own.add(b.points[i].x, b.points[i].y);
        boxes.push_back({own, false});
        hatched = hatched || hatchedLayer(b.layer);
        break;
      }
      case KIND_PATH: {
        const GDSpath& p = s.path(c);
        if (p.npoints < 2 || !shown(p.layer)) break;
        switch (PathOutline(p, outline_)) {
          case OutlineResult::Short: break;
          case OutlineResult::Reversal: stacks = false; break;
          case OutlineResult::Ok:
            own = Box{};
            for (int32_t i = 0; i < 2 * p.npoints + 1; ++i) own.add(outline_[i].x, outline_[i].y);
            boxes.push_back({own, false});
            hatched = hatched || hatchedLayer(p.layer);
            break;
        }
        break;
      }
      case KIND_SREF: {
        const GDSsref& r = s.sref(c);
        if (r.structptr >= 0) child(r.structptr, r.transf, nullptr);
        break;
      }
      case KIND_AREF: {
        const GDSaref& a = s.aref(c);
        if (a.structptr < 0 || a.cols <= 0 || a.rows <= 0) break;
        const double ex = static_cast<double>(a.cols - 1) * a.colspace;
        const double ey = static_cast<double>(a.rows - 1) * a.rowspace;
        if (std::fabs(ex) > INT32_MAX || std::fabs(ey) > INT32_MAX) stacks = false;  // the lattice wraps
        const Whole& cw = whole(a.structptr);
        if (cw.drawn) {
          // Members apart from each other.
          if (a.cols > 1 && !(cw.box.x1 - cw.box.x0 < std::fabs(static_cast<double>(a.colspace)))) stacks = false;
          if (a.rows > 1 && !(cw.box.y1 - cw.box.y0 < std::fabs(static_cast<double>(a.rowspace)))) stacks = false;
        }
        Box lattice;
        lattice.add(0, 0);
        lattice.add(ex, ey);
        child(a.structptr, a.transf, &lattice);
        break;
      }
      default:
        break;
    }
  }
  Whole& w = whole_[static_cast<std::size_t>(idx)];
  w.state = 2;
  w.drawn = !boxes.empty();
  w.hatched = hatched;
  bool instances = false;
  for (const Item& b : boxes) {
    w.box.add(b.box, 0, 0);
    instances = instances || b.instance;
  }
  w.stacks = stacks && (!instances || apart(boxes));
  return w;
}

// Whether the polygon (the closing point may repeat the first) is simple:
// at least three corners, no edge meets another except its neighbours at
// their shared corner. `reverse` tells whether it turns clockwise. Large
// polygons and those spread wider than 2^26 units are not looked at (false).
bool simplePolygon(const GDSpoint* p, int32_t n, bool* reverse) {
  if (n > 1 && p[n - 1].x == p[0].x && p[n - 1].y == p[0].y) --n;
  if (n < 3 || n > 64) return false;
  const int64_t lim = int64_t{1} << 26;
  std::vector<int64_t> x(static_cast<std::size_t>(n)), y(static_cast<std::size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    x[i] = static_cast<int64_t>(p[i].x) - p[0].x;
    y[i] = static_cast<int64_t>(p[i].y) - p[0].y;
    if (x[i] <= -lim || x[i] >= lim || y[i] <= -lim || y[i] >= lim) return false;
  }
  const auto orient = [&](int a, int b, int c) {
    const int64_t v = (x[b] - x[a]) * (y[c] - y[a]) - (y[b] - y[a]) * (x[c] - x[a]);
    return (v > 0) - (v < 0);
  };
  const auto within = [&](int a, int b, int c) {  // c on the line through a and b: between them?
    return std::min(x[a], x[b]) <= x[c] && x[c] <= std::max(x[a], x[b]) && std::min(y[a], y[b]) <= y[c] &&
           y[c] <= std::max(y[a], y[b]);
  };
  int64_t area = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t j = (i + 1) % n;
    if (x[i] == x[j] && y[i] == y[j]) return false;
    area += x[i] * y[j] - x[j] * y[i];
  }
  if (area == 0) return false;
  for (int32_t i = 0; i < n; ++i) {
    const int a = i, b = (i + 1) % n;
    // The next edge must not fold back onto this one.
    const int c = (i + 2) % n;
    if (orient(a, b, c) == 0 && (x[b] - x[a]) * (x[c] - x[b]) + (y[b] - y[a]) * (y[c] - y[b]) < 0) return false;
    for (int32_t j = i + 2; j < n; ++j) {
      if (i == 0 && j == n - 1) continue;  // neighbours across the closing corner
      const int d = j, e = (j + 1) % n;
      const int o1 = orient(a, b, d), o2 = orient(a, b, e), o3 = orient(d, e, a), o4 = orient(d, e, b);
      if (o1 * o2 < 0 && o3 * o4 < 0) return false;
      if ((o1 == 0 && within(a, b, d)) || (o2 == 0 && within(a, b, e)) || (o3 == 0 && within(d, e, a)) ||
          (o4 == 0 && within(d, e, b)))
        return false;
    }
  }
  *reverse = area < 0;
  return true;
}

void SvgWriter::putMatrix(const GDStransf& t) {
  const double v[6] = {t.a, t.c, t.b, t.d, t.tx, t.ty};
  for (int i = 0; i < 6; ++i) {
    if (i) f_->put(' ');
    putNum(*f_, v[i]);
  }
}

// Translated members of an array, as the layer definitions place them.
void SvgWriter::putArray(const GDSaref& a, uint32_t child, uint32_t row) {
  const GDStransf& t = a.transf;
  const bool linear = !(translation(t) && t.tx == 0 && t.ty == 0);
  if (linear) {
    f_->put("<g transform=\"matrix(");
    putMatrix(t);
    f_->put(")\">");
  }
  if (row) {
    for (int32_t j = 0; j < a.rows; ++j) putTranslatedUse('r', row, 0, latticeOffset(j, a.rowspace));
  } else {
    for (int32_t i = 0; i < a.cols; ++i)
      for (int32_t j = 0; j < a.rows; ++j)
        putTranslatedUse('g', child, latticeOffset(i, a.colspace), latticeOffset(j, a.rowspace));
  }
  if (linear) f_->put("</g>");
}

uint32_t SvgWriter::wholeDef(int32_t idx) {
  Whole& w = whole_[static_cast<std::size_t>(idx)];
  if (!w.drawn) return 0;
  if (w.id) return w.id;
  const GDSstruct& s = lib_.structs[static_cast<std::size_t>(idx)];
  struct Ref {
    uint32_t child = 0;
    uint32_t row = 0;
  };
  std::vector<Ref> refs(s.srefs.size() + s.arefs.size());
  for (const GDScell& c : s.cells) {
    if (c.kind == KIND_SREF) {
      const GDSsref& r = s.sref(c);
      if (r.structptr >= 0) refs[c.idx].child = wholeDef(r.structptr);
    } else if (c.kind == KIND_AREF) {
      const GDSaref& a = s.aref(c);
      if (a.structptr < 0 || a.cols <= 0 || a.rows <= 0) continue;
      Ref& ref = refs[s.srefs.size() + c.idx];
      ref.child = wholeDef(a.structptr);
      if (ref.child && a.cols > 1 && a.rows > 1) {
        ref.row = ++next_;
        f_->put("<g id=\"");
        putId(*f_, 'r', ref.row);
        f_->put("\">");
        for (int32_t i = 0; i < a.cols; ++i) putTranslatedUse('g', ref.child, latticeOffset(i, a.colspace), 0);
        f_->put("</g>\n");
      }
    }
  }
  const uint32_t id = ++next_;
  f_->put("<g id=\"");
  putId(*f_, 'g', id);
  f_->put("\"><title>");
  SVGputEscaped(*f_, s.strname);
  f_->put("</title>");
  // The own shapes, layer entry by layer entry in table order. The shapes
  // of one entry share one path wherever that draws the same: outlines
  // alone always; filled or hatched shapes when each is a simple polygon,
  // all written turned the same way, so that the nonzero rule fills their
  // union. Every other shape has a path of its own.
  for (int e : shown_) {
    const LayerEntry& entry = table_[e];
    const bool filled = entry.fill || entry.hatch == 1 || entry.hatch == 2;
    const std::string colour = colourOf(entry);
    const auto open = [&] {
      f_->put("<path fill=\"");
      if (entry.fill) {
        f_->put(colour);
      } else if (filled) {
        f_->put("url(#");
        putId(*f_, 'p', static_cast<uint32_t>(e));
        f_->put(')');
      } else {
        f_->put("none");
      }
      f_->put("\" stroke=\"");
      f_->put(colour);
      f_->put("\" d=\"");
    };
    // Pass 0: the shapes that share a path; pass 1: the others.
    for (int pass = 0; pass < 2; ++pass) {
      bool opened = false;
      for (const GDScell& c : s.cells) {
        const GDSpoint* pts = nullptr;
        int32_t n = 0;
        bool rect = false;
        if (c.kind == KIND_BOUNDARY) {
          const GDSboundary& b = s.boundary(c);
          if (b.layer != entry.gdsno || b.npoints < 2 || !b.points) continue;
          pts = b.points;
          n = b.npoints;
          rect = GDSisRectangle(b);
        } else if (c.kind == KIND_PATH) {
          const GDSpath& p = s.path(c);
          if (p.layer != entry.gdsno || PathOutline(p, outline_) != OutlineResult::Ok) continue;
          pts = outline_.data();
          n = 2 * p.npoints + 1;
        } else {
          continue;
        }
        bool reverse = false;
        const bool shared = rect || !filled || simplePolygon(pts, n, &reverse);
        if (shared != (pass == 0)) continue;
        if (!opened || pass == 1) {
          if (opened) f_->put("\"/>");
          open();
          opened = true;
        }
        char* q = f_->reserve(96);
        if (rect) {
          // Lower left corner first, turning left.
          const int32_t x0 = std::min(pts[0].x, pts[2].x), x1 = std::max(pts[0].x, pts[2].x);
          const int32_t y0 = std::min(pts[0].y, pts[2].y), y1 = std::max(pts[0].y, pts[2].y);
          *q++ = 'M';
          q = formatInt(q, x0);
          *q++ = ' ';
          q = formatInt(q, y0);
          *q++ = 'H';
          q = formatInt(q, x1);
          *q++ = 'V';
          q = formatInt(q, y1);
          *q++ = 'H';
          q = formatInt(q, x0);
          *q++ = 'Z';
          f_->commit(q);
          continue;
        }
        f_->commit(q);
        for (int32_t i = 0; i < n; ++i) {
          const GDSpoint& p = pts[reverse ? n - 1 - i : i];
          q = f_->reserve(32);
          *q++ = i == 0 ? 'M' : i == 1 ? 'L' : ' ';
          q = formatInt(q, p.x);
          *q++ = ' ';
          q = formatInt(q, p.y);
          f_->commit(q);
        }
        f_->put('Z');
      }
      if (opened) f_->put("\"/>");
    }
  }
  // The instances, which lie apart.
  for (const GDScell& c : s.cells) {
    if (c.kind == KIND_SREF) {
      const Ref& ref = refs[c.idx];
      if (ref.child) putUse('g', ref.child, s.sref(c).transf);
    } else if (c.kind == KIND_AREF) {
      const Ref& ref = refs[s.srefs.size() + c.idx];
      if (ref.child) putArray(s.aref(c), ref.child, ref.row);
    }
  }
  f_->put("</g>\n");
  w.id = id;
  return id;
}

// ---------------------------------------------------------------------------
// Hatching: the page's pattern cell, in the page's units and at its place
// on the page, expressed in database units.

double printed2(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return std::strtod(buf, nullptr);
}

double cellSide(double v) {
  if (!(v >= 0.01)) return 0.01;
  if (v > 1e6) return 1e6;
  return v;
}

void SvgWriter::putPattern(int entry, const LayerEntry& e, double scale, const GDSbbox& page) {
  // One pattern unit is 1/300 inch on the page; one point is 100 / scale
  // database units. The cells are counted from the corner of the page.
  const double unit = 24.0 / scale;
  const double ox = page.minx - 4590.0 / scale;
  const double oy = page.miny - 5940.0 / scale;
  const double step = e.step < 0 ? -e.step : e.step;
  const double spacing = e.hatch == 1 ? step * 72 / 25.4 : step;  // between lines, in pattern units
  double w, h;
  std::vector<double> seg;  // x1 y1 x2 y2 ..., pattern units
  if (e.angle == 0 || e.angle == 90 || e.angle == 180) {
    // Lines along an axis, which the page cannot draw.
    w = h = cellSide(printed2(spacing));
    if (e.angle == 90) seg = {w / 2, 0, w / 2, h};
    else seg = {0, h / 2, w, h / 2};
  } else {
    const double theta = 3.141592653589793 * e.angle / 180;
    w = spacing / std::sin(theta);
    h = spacing / std::cos(theta);
    const bool rising = std::cos(theta) > 0;
    w = printed2(cellSide(w));
    h = printed2(cellSide(rising ? h : -h));
    if (rising) {
      seg = {w / 2, 0, w, h / 2, 0, h / 2, w / 2, h};
      if (e.hatch == 2) seg.insert(seg.end(), {w / 2, h, w, h / 2, 0, h / 2, w / 2, 0});
    } else {
      seg = {w / 2, 0, 0, h / 2, w, h / 2, w / 2, h};
      if (e.hatch == 2) seg.insert(seg.end(), {w / 2, h, 0, h / 2, w, h / 2, w / 2, 0});
    }
  }
  f_->put("<pattern id=\"");
  putId(*f_, 'p', static_cast<uint32_t>(entry));
  f_->put("\" patternUnits=\"userSpaceOnUse\" x=\"");
  putNum(*f_, ox);
  f_->put("\" y=\"");
  putNum(*f_, oy);
  f_->put("\" width=\"");
  putNum(*f_, w * unit);
  f_->put("\" height=\"");
  putNum(*f_, h * unit);
  f_->put("\">\n<path fill=\"none\" stroke=\"");
  f_->put(colourOf(e));
  f_->put("\" stroke-linecap=\"square\" shape-rendering=\"crispEdges\" d=\"");
  for (std::size_t k = 0; k + 3 < seg.size(); k += 4) {
    f_->put(k ? " M" : "M");
    putNum(*f_, seg[k] * unit);
    f_->put(' ');
    putNum(*f_, seg[k + 1] * unit);
    f_->put('L');
    putNum(*f_, seg[k + 2] * unit);
    f_->put(' ');
    putNum(*f_, seg[k + 3] * unit);
  }
  f_->put("\"/>\n</pattern>\n");
}

// ---------------------------------------------------------------------------
// The document

void SvgWriter::write(const GDSstruct& top, int32_t topIdx, const GDSbbox& extent) {
  // The page's fit, for the hatch cells.
  GDSbbox e = extent.empty() ? GDSbbox{0, 0, 0, 0} : extent;
  const double w = static_cast<double>(static_cast<int64_t>(e.maxx) - e.minx);
  const double h = static_cast<double>(static_cast<int64_t>(e.maxy) - e.miny);
  const double scalex = 52020.0 / w, scaley = 67320.0 / h;
  double scale = scaley <= scalex ? scaley : scalex;
  if (std::isinf(scale)) scale = 1.0;

  const int count = std::min(table_.layerCount, static_cast<int>(table_.entries.size()));
  struct Pass {
    int entry;
    uint32_t geom;
    uint32_t text;
  };
  std::vector<Pass> passes;
  TopDescent guard(lib_, top);

  // The texts first, kept aside: they can reach beyond the extent, and the
  // view holds them too.
  Out texts{Out::Memory{}};
  f_ = &texts;
  Box view;
  view.add(e.minx, e.miny);
  view.add(e.maxx, e.maxy);
  for (int i = 1; i < count; ++i) {
    const LayerEntry& entry = table_[i];
    if (entry.hidden) continue;
    Pass p{i, 0, textDef(topIdx, entry.gdsno, Linear{})};
    if (p.text) {
      const Box& b = textBox_[p.text];
      if (!b.empty()) {
        view.add(b.x0, -b.y1);
        view.add(b.x1, -b.y0);
      }
    }
    passes.push_back(p);
  }
  f_ = &file_;
  const double limit = 4.0e9;  // texts far away do not stretch the view beyond the coordinate range
  const double vx0 = std::max(view.x0, -limit), vy0 = std::max(view.y0, -limit);
  const double vx1 = std::min(view.x1, limit), vy1 = std::min(view.y1, limit);

  // The view: with a margin of 2 per cent of its longer side; the longer
  // side shown 1200 pixels long.
  const double longer = std::max(vx1 - vx0, vy1 - vy0);
  const double margin = longer > 0 ? std::ceil(longer * 0.02) : 1;
  const double vw = vx1 - vx0 + 2 * margin, vh = vy1 - vy0 + 2 * margin;
  const double pw = vw >= vh ? 1200 : std::max(1.0, std::round(1200 * vw / vh));
  const double ph = vh >= vw ? 1200 : std::max(1.0, std::round(1200 * vh / vw));

  f_->put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  f_->put("<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"");
  putNum(*f_, pw);
  f_->put("\" height=\"");
  putNum(*f_, ph);
  f_->put("\" viewBox=\"0 0 ");
  putNum(*f_, vw);
  f_->put(' ');
  putNum(*f_, vh);
  f_->put("\">\n<title>");
  SVGputEscaped(*f_, top.strname);
  f_->put("</title>\n<style>path{vector-effect:non-scaling-stroke}text{white-space:pre}</style>\n<defs>\n");
  f_->put(texts.str());

  // The root frame: database units with y up, the view's corner at the
  // origin.
  const auto putRoot = [&] {
    f_->put("<g transform=\"matrix(1 0 0 -1 ");
    putNum(*f_, margin - vx0);
    f_->put(' ');
    putNum(*f_, margin + vy1);
    f_->put(")\" stroke-width=\"1\" font-family=\"Helvetica, Arial, sans-serif\">\n");
  };
  bool texted = false;
  for (const Pass& p : passes) texted = texted || p.text;
  if (!texted && !reachesCycle(lib_, topIdx)) {
    for (const Pass& p : passes) shown_.push_back(p.entry);
    whole_.assign(lib_.structs.size(), Whole{});
    if (whole(topIdx).stacks) {
      for (const Pass& p : passes) {
        const LayerEntry& entry = table_[p.entry];
        if (!entry.fill && (entry.hatch == 1 || entry.hatch == 2) && hasLayerBelow(lib_, topIdx, entry.gdsno))
          putPattern(p.entry, entry, scale, e);
      }
      const uint32_t id = wholeDef(topIdx);
      f_->put("</defs>\n");
      putRoot();
      if (id) {
        f_->put("<use href=\"#");
        putId(*f_, 'g', id);
        f_->put("\"/>\n");
      }
      f_->put("</g>\n</svg>\n");
      return;
    }
    shown_.clear();
  }

  for (Pass& p : passes) p.geom = geomDef(topIdx, table_[p.entry].gdsno);
  const auto putView = [&] {
    f_->put("x=\"");
    putNum(*f_, vx0 - margin);
    f_->put("\" y=\"");
    putNum(*f_, vy0 - margin);
    f_->put("\" width=\"");
    putNum(*f_, vw);
    f_->put("\" height=\"");
    putNum(*f_, vh);
    f_->put('"');
  };
  for (const Pass& p : passes) {
    const LayerEntry& entry = table_[p.entry];
    if (!p.geom || entry.fill || (entry.hatch != 1 && entry.hatch != 2)) continue;
    putPattern(p.entry, entry, scale, e);
    f_->put("<mask id=\"");
    putId(*f_, 'm', static_cast<uint32_t>(p.entry));
    f_->put("\" maskUnits=\"userSpaceOnUse\" ");
    putView();
    f_->put(">\n<use href=\"#");
    putId(*f_, 'g', p.geom);
    f_->put("\" fill=\"#fff\" stroke=\"none\"/>\n</mask>\n");
  }
  f_->put("</defs>\n");

  putRoot();
  for (const Pass& p : passes) {
    const LayerEntry& entry = table_[p.entry];
    if (!p.geom && !p.text) continue;
    const std::string colour = colourOf(entry);
    f_->put("<g data-layer=\"");
    SVGputEscaped(*f_, entry.name);
    f_->put("\">\n");
    if (p.geom) {
      f_->put("<use href=\"#");
      putId(*f_, 'g', p.geom);
      f_->put(entry.fill ? "\" fill=\"" : "\" fill=\"none");
      if (entry.fill) f_->put(colour);
      f_->put("\" stroke=\"");
      f_->put(colour);
      f_->put("\"/>\n");
      if (!entry.fill && (entry.hatch == 1 || entry.hatch == 2)) {
        f_->put("<rect ");
        putView();
        f_->put(" fill=\"url(#");
        putId(*f_, 'p', static_cast<uint32_t>(p.entry));
        f_->put(")\" mask=\"url(#");
        putId(*f_, 'm', static_cast<uint32_t>(p.entry));
        f_->put(")\"/>\n");
      }
    }
    if (p.text) {
      f_->put("<use href=\"#");
      putId(*f_, 't', p.text);
      f_->put("\" transform=\"scale(1 -1)\" fill=\"");
      f_->put(colour);
      f_->put("\" stroke=\"none\"/>\n");
    }
    f_->put("</g>\n");
  }
  f_->put("</g>\n</svg>\n");
}

}  // namespace

void SVGwriteDrawing(const Console& con, const GDSlibrary& lib, const LayerTable& table, const std::string& path,
                     const std::string& top, Progress* progress) {
  if (progress) progress->writing("SVG");
  std::unique_ptr<Out> f = openOutFile(path);
  if (!f) fatal("Couldn't open %s for writing. Aborting...\n", path.c_str());
  const GDSstruct* s = GDSfindStruct(con, lib, top);
  if (!s) {
    con.err.printf("Couldn't find the structure named \"%s\"\n", top.c_str());
    f->put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"1\" height=\"1\" viewBox=\"0 0 1 1\">\n"
           "<title>no structure named ");
    SVGputEscaped(*f, top);
    f->put("</title>\n</svg>\n");
    closeOutFile(*f, path);
    return;
  }
  GDSbbox extent = GDSbboxStruct(con, lib, *s);
  SvgWriter w(lib, table, *f);
  w.write(*s, structIndex(lib, *s), extent);
  closeOutFile(*f, path);
}

}  // namespace qm
