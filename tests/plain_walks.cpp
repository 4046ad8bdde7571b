#include "plain_walks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "common/out.h"
#include "gds/numeric.h"
#include "geom/outline.h"
#include "geom/transf.h"
#include "hpgl/hpgl.h"
#include "pov/pov.h"
#include "ps/ps.h"

namespace plainwalks {

using namespace qm;

// ---- extents ----

namespace {

GDSbbox plainAref(const Console& con, const GDSlibrary& lib, const GDSaref& a, const GDStransf& parent);

GDSbbox plainSref(const Console& con, const GDSlibrary& lib, int32_t structptr, const GDStransf& own, const GDStransf& parent) {
  const GDStransf acc = GDScomposeTransf(own, parent);
  Descent guard(lib, structptr);
  GDSbbox box;
  const GDSstruct* s = guard.target();
  if (!s) return box;
  std::vector<GDSpoint> points;
  for (const GDScell& c : s->cells) {
    switch (c.kind) {
      case KIND_BOUNDARY: {
        GDSboundary copy = s->boundary(c);
        points.assign(copy.points, copy.points + std::max(copy.npoints, 0));
        copy.points = points.data();
        GDStransfBoundary(copy, acc);
        box.merge(GDSbboxBoundary(copy));
        break;
      }
      case KIND_PATH: {
        GDSpath copy = s->path(c);
        points.assign(copy.points, copy.points + std::max(copy.npoints, 0));
        copy.points = points.data();
        GDStransfPath(copy, acc);
        box.merge(GDSbboxPath(con, copy));
        break;
      }
      case KIND_SREF: {
        const GDSsref& r = s->sref(c);
        box.merge(plainSref(con, lib, r.structptr, r.transf, acc));
        break;
      }
      case KIND_AREF:
        box.merge(plainAref(con, lib, s->aref(c), acc));
        break;
      default:
        break;
    }
  }
  return box;
}

GDSbbox plainAref(const Console& con, const GDSlibrary& lib, const GDSaref& a, const GDStransf& parent) {
  GDSbbox box;
  for (int32_t i = 0; i < a.cols; ++i) {
    for (int32_t j = 0; j < a.rows; ++j) {
      const GDStransf member = GDSoffsetTransf(GDSidentity, {wrapMul32(i, a.colspace), wrapMul32(j, a.rowspace)});
      const GDStransf acc = GDScomposeTransf(a.transf, parent);
      box.merge(plainSref(con, lib, a.structptr, member, acc));
    }
  }
  return box;
}

}  // namespace

GDSbbox bboxSref(const Console& con, const GDSlibrary& lib, const GDSsref& r, const GDStransf& parent) {
  return plainSref(con, lib, r.structptr, r.transf, parent);
}

GDSbbox bboxAref(const Console& con, const GDSlibrary& lib, const GDSaref& a, const GDStransf& parent) {
  return plainAref(con, lib, a, parent);
}

GDSbbox bboxStruct(const Console& con, const GDSlibrary& lib, const GDSstruct& s) {
  TopDescent top(lib, s);
  GDSbbox box;
  for (const GDScell& c : s.cells) {
    switch (c.kind) {
      case KIND_BOUNDARY:
        box.merge(GDSbboxBoundary(s.boundary(c)));
        break;
      case KIND_PATH:
        box.merge(GDSbboxPath(con, s.path(c)));
        break;
      case KIND_SREF: {
        const GDSsref& r = s.sref(c);
        box.merge(plainSref(con, lib, r.structptr, r.transf, GDSidentity));
        break;
      }
      case KIND_AREF:
        box.merge(plainAref(con, lib, s.aref(c), GDSidentity));
        break;
      case KIND_TEXT:
        box.merge(GDSbboxText(s.text(c)));
        break;
      default:
        break;
    }
  }
  con.err.printf("minx = %d, miny = %d, maxx = %d, maxy = %d\n", box.minx, box.miny, box.maxx, box.maxy);
  return box;
}

// ---- placed elements ----

namespace {

class Placer {
 public:
  Placer(const GDSlibrary& lib, const WalkPlan& plan, PlacedSink& sink) : lib_(lib), plan_(plan), sink_(sink) {}

  void top(const GDSstruct& s) {
    for (const GDScell& c : s.cells) {
      switch (c.kind) {
        case KIND_BOX:
          if (plan_.boxes) sink_.boundary(s.boundary(c));
          break;
        case KIND_BOUNDARY: sink_.boundary(s.boundary(c)); break;
        case KIND_PATH: sink_.path(s.path(c)); break;
        case KIND_SREF: {
          const GDSsref& r = s.sref(c);
          if (plan_.composeTopRefs) {
            cells(r.structptr, GDScomposeTransf(r.transf, GDSidentity));
          } else {
            cells(r.structptr, r.transf);
          }
          break;
        }
        case KIND_AREF: aref(s.aref(c), GDSidentity); break;
        case KIND_TEXT: sink_.text(s.text(c), GDSidentity); break;
        default: break;
      }
    }
  }

 private:
  void aref(const GDSaref& a, const GDStransf& parent) {
    for (int32_t i = 0; i < a.cols; ++i) {
      for (int32_t j = 0; j < a.rows; ++j) {
        const GDStransf o = GDSoffsetTransf(GDSidentity, GDSpoint{wrapMul32(i, a.colspace), wrapMul32(j, a.rowspace)});
        if (plan_.members == MemberOrder::LatticeThenPlacement) {
          cells(a.structptr, GDScomposeTransf(o, GDScomposeTransf(a.transf, parent)));
        } else {
          cells(a.structptr, GDScomposeTransf(GDScomposeTransf(o, a.transf), parent));
        }
      }
    }
  }

  void cells(int32_t structptr, const GDStransf& t) {
    Descent d(lib_, structptr);
    const GDSstruct* s = d.target();
    if (!s) return;
    for (const GDScell& c : s->cells) {
      switch (c.kind) {
        case KIND_BOX:
          if (!plan_.boxes) break;
          [[fallthrough]];
        case KIND_BOUNDARY: {
          const GDSboundary& b = s->boundary(c);
          GDSboundary copy = b;
          std::vector<GDSpoint> points(b.points, b.points + std::max(b.npoints, 0));
          copy.points = b.npoints > 0 ? points.data() : nullptr;
          GDStransfBoundary(copy, t);
          sink_.boundary(copy);
          break;
        }
        case KIND_PATH: {
          const GDSpath& p = s->path(c);
          GDSpath copy = p;
          std::vector<GDSpoint> points(p.points, p.points + std::max(p.npoints, 0));
          copy.points = p.npoints > 0 ? points.data() : nullptr;
          GDStransfPath(copy, t);
          sink_.path(copy);
          break;
        }
        case KIND_SREF: {
          const GDSsref& r = s->sref(c);
          cells(r.structptr, GDScomposeTransf(r.transf, t));
          break;
        }
        case KIND_AREF: aref(s->aref(c), t); break;
        case KIND_TEXT: sink_.text(s->text(c), t); break;
        default: break;
      }
    }
  }

  const GDSlibrary& lib_;
  const WalkPlan& plan_;
  PlacedSink& sink_;
};

}  // namespace

void place(const GDSlibrary& lib, const GDSstruct& top, const WalkPlan& plan, PlacedSink& sink) {
  TopDescent guard(lib, top);
  Placer(lib, plan, sink).top(top);
}

const Walks& walks() {
  static constexpr Walks w{bboxStruct, place};
  return w;
}

// ---- layer lookup ----

int findLayerEntry(const Console& con, const LayerTable& table, int32_t layer, int32_t datatype) {
  int idx = table.ScanLayerEntry(layer, datatype);
  if (idx < 0) {
    con.err.printf("Warning: Layer %d, datatype %d found with no corresponding\n layer entry in configuration file.\n",
                 static_cast<int>(layer), static_cast<int>(datatype));
    return 0;
  }
  return idx;
}

// ---- the scene ----

namespace {

std::string commentText(const std::string& name) {
  std::string t;
  for (unsigned char c : name) {
    if (c < 32 || c == 127) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      t += buf;
    } else {
      t += static_cast<char>(c);
    }
  }
  return t;
}

int32_t wrapAdd32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

double finite(double v) { return std::isfinite(v) ? v : 0.0; }

bool isReference(const GDScell& c) { return c.kind == KIND_SREF || c.kind == KIND_AREF; }

int32_t referenceTarget(const GDSstruct& s, const GDScell& c) {
  return c.kind == KIND_SREF ? s.sref(c).structptr : s.aref(c).structptr;
}

class PlainScene {
 public:
  PlainScene(const Console& con, const GDSlibrary& lib, const LayerTable& table, Out& f)
      : con_(con), lib_(lib), table_(table), f_(f) {}

  void writeScene(const GDSstruct& top, const std::string& topName) {
    ids_ = POVdistinctIdentifiers(lib_, static_cast<int32_t>(&top - lib_.structs.data()));
    GDSbbox bb = bboxStruct(con_, lib_, top);
    std::string id = POVidentifier(ids_, topName);
    double yscale = 1e-6 / lib_.meterunit;
    if (!std::isfinite(yscale)) yscale = 1e-6 / 1e-9;
    const double minx = bb.minx, miny = bb.miny, maxx = bb.maxx;
    double h = static_cast<double>(std::llabs(static_cast<int64_t>(wrapSub32(bb.maxx, bb.minx)))) +
               static_cast<double>(std::llabs(static_cast<int64_t>(wrapSub32(bb.maxy, bb.miny))));
    if (h == 0) h = 1;
    double lookx = wrapAdd32(bb.minx, bb.maxx) / 2.0;
    double looky = wrapAdd32(bb.miny, bb.maxy) / 2.0;

    f_.put("// POVRAY file generated from quillmask-0.3.1\n");
    f_.printf("// Top level cell is %s (or %s if escaping is needed.)\n", commentText(topName).c_str(), id.c_str());
    f_.printf("// Bounding box is (%d,%d)-(%d,%d)\n", bb.maxx, bb.maxy, bb.minx, bb.miny);
    f_.printf("// UserUnit: %e MeterUnit: %e \n", finite(lib_.userunit), finite(lib_.meterunit));
    f_.put("// Since thickness in the config is specified in microns,\n");
    f_.put("//   the instance of the final object will be vertically scaled\n");
    f_.printf("//   by %e at the end of the file.\n", yscale);
    f_.put("\n");
    f_.put("camera {\n");
    f_.printf(" location <%f,%f,%f>\n", minx, h, miny);
    f_.printf(" look_at <%f,0,%f>\n", lookx, looky);
    f_.put("}\n");
    f_.put("global_settings { ambient_light rgb <4.5,4.5,4.5> }\n");
    f_.printf("light_source { <%f,%f,%f> color rgb <1.0, 1.0, 1.0> }\n", maxx, h, miny);
    f_.put("\n");

    int n = std::min(table_.layerCount, static_cast<int>(table_.entries.size()));
    for (int i = 0; i < n; ++i) {
      const LayerEntry& e = table_[i];
      if (e.hidden != 0) continue;
      f_.printf(
          "#declare %s = texture { // Layer name: %s \n     pigment {\n        color rgb <%f,%f,%f>\n     }\n  }\n",
          POVtextureName(table_, i).c_str(), commentText(e.name).c_str(), finite(e.red), finite(e.green),
          finite(e.blue));
    }

    order(topName);
    bool topDeclared = false;
    for (std::size_t k = 0; k < list_.size(); ++k) {
      bool declared = declare(list_[k]);
      if (k + 1 == list_.size()) topDeclared = declared;
    }
    if (topDeclared) f_.printf("object { %s scale <1.0,%f,1.0> }\n", id.c_str(), yscale);
    f_.put("// end of povray file\n");
  }

 private:
  int lookup(int32_t layer, int32_t datatype) { return findLayerEntry(con_, table_, layer, datatype); }
  bool visible(int i) const { return table_[i].hidden == 0; }

  // The count of a structure already on the descent path.
  int64_t countWalk(int32_t root) {
    struct Frame {
      int32_t idx;
      std::size_t pos;
      int64_t count;
    };
    std::vector<Frame> st;
    std::deque<Descent> guards;
    auto enter = [&](int32_t idx) {
      Frame fr{idx, 0, 0};
      for (const GDSlayer& l : lib_.structs[static_cast<std::size_t>(idx)].layers)
        if (visible(lookup(l.layer, l.datatype))) ++fr.count;
      st.push_back(fr);
    };
    enter(root);
    for (;;) {
      Frame& fr = st.back();
      const GDSstruct& s = lib_.structs[static_cast<std::size_t>(fr.idx)];
      if (fr.pos < s.cells.size()) {
        const GDScell& c = s.cells[fr.pos++];
        if (!isReference(c)) continue;
        int32_t child = referenceTarget(s, c);
        if (child < 0) continue;
        guards.emplace_back(lib_, child);
        enter(child);
        continue;
      }
      Frame done = fr;
      st.pop_back();
      if (st.empty()) return done.count;
      guards.pop_back();
      if (done.count > 0) ++st.back().count;
    }
  }

  int64_t countReference(int32_t structptr) {
    if (structptr < 0) return 0;
    TopDescent guard(lib_, lib_.structs[static_cast<std::size_t>(structptr)]);
    return countWalk(structptr);
  }

  void append(std::string_view name) {
    for (const auto& n : list_)
      if (n == name) return;
    list_.emplace_back(name);
  }

  void order(const std::string& topName) {
    struct PFrame {
      const GDSstruct* s;
      std::size_t pos;
      std::string_view name;
    };
    std::vector<PFrame> st;
    std::deque<Descent> guards;
    std::optional<TopDescent> top;
    const GDSstruct* s = GDSfindStruct(con_, lib_, topName);
    if (s) top.emplace(lib_, *s);
    st.push_back({s, 0, topName});
    for (;;) {
      PFrame& fr = st.back();
      if (fr.s && fr.pos < fr.s->cells.size()) {
        const GDScell& c = fr.s->cells[fr.pos++];
        if (!isReference(c)) continue;
        int32_t sname = c.kind == KIND_SREF ? fr.s->sref(c).sname : fr.s->aref(c).sname;
        int32_t ptr = referenceTarget(*fr.s, c);
        std::string_view name = lib_.name(sname);
        guards.emplace_back(lib_, ptr);
        const GDSstruct* child = GDSfindStruct(con_, lib_, name);
        st.push_back({child, 0, name});
        continue;
      }
      append(fr.name);
      st.pop_back();
      if (st.empty()) return;
      guards.pop_back();
    }
  }

  bool declare(const std::string& name) {
    const GDSstruct* s = GDSfindStruct(con_, lib_, name);
    if (!s) {
      con_.err.printf("Couldn't find the structure named \"%s\"\n", name.c_str());
      return false;
    }
    int32_t idx = static_cast<int32_t>(s - lib_.structs.data());
    int64_t visibleCount;
    {
      TopDescent guard(lib_, *s);
      visibleCount = countWalk(idx);
    }
    if (visibleCount == 0) return false;
    GDSbbox bb = bboxStruct(con_, lib_, *s);
    double dx = wrapSub32(bb.maxx, bb.minx);
    double dy = wrapSub32(bb.maxy, bb.miny);
    con_.err.printf("scalex = %f, scaley = %f\n", 52020 / dx, 67320 / dy);

    std::string id = POVidentifier(ids_, name);
    int64_t objects = 0;
    for (const GDScell& c : s->cells) {
      switch (c.kind) {
        case KIND_BOUNDARY: {
          const GDSboundary& b = s->boundary(c);
          if (visible(lookup(b.layer, b.datatype)) && b.npoints >= 3) ++objects;
          break;
        }
        case KIND_PATH: {
          const GDSpath& p = s->path(c);
          if (visible(lookup(p.layer, p.datatype)) && p.npoints >= 2) ++objects;
          break;
        }
        case KIND_SREF:
          if (countReference(s->sref(c).structptr) > 0) ++objects;
          break;
        case KIND_AREF: {
          const GDSaref& a = s->aref(c);
          if (countReference(a.structptr) > 0 && a.cols > 0 && a.rows > 0)
            objects += static_cast<int64_t>(a.cols) * a.rows;
          break;
        }
        default:
          break;
      }
    }
    bool isUnion = objects != 1;
    f_.put("#declare ");
    f_.put(id);
    f_.put(isUnion ? " = union {\n" : " = \n");
    for (const GDScell& c : s->cells) {
      switch (c.kind) {
        case KIND_BOUNDARY: {
          const GDSboundary& b = s->boundary(c);
          const LayerEntry& e = table_[lookup(b.layer, b.datatype)];
          if (e.hidden == 0 && b.npoints >= 3) writeBoundary(b, e);
          break;
        }
        case KIND_PATH: {
          const GDSpath& p = s->path(c);
          const LayerEntry& e = table_[lookup(p.layer, p.datatype)];
          if (e.hidden == 0) {
            std::vector<GDSpoint> outline;
            GDSboundary o = PathToBoundary(con_, p, outline);
            if (o.npoints > 0 && o.points) writeBoundary(o, e);
          }
          break;
        }
        case KIND_SREF: {
          const GDSsref& r = s->sref(c);
          if (countReference(r.structptr) > 0) writeSref(r.sname, r.transf, GDSidentity);
          break;
        }
        case KIND_AREF: {
          const GDSaref& a = s->aref(c);
          f_.put("//Aref:\n");
          if (countReference(a.structptr) > 0) writeAref(a, GDSidentity);
          break;
        }
        case KIND_TEXT: {
          const GDStext& t = s->text(c);
          lookup(t.layer, t.datatype);
          break;
        }
        default:
          break;
      }
    }
    f_.put(isUnion ? "}\n" : "\n");
    return true;
  }

  void num(double v) { f_.printf("%f", finite(v)); }
  void coord(int32_t v) { f_.printf("%f", static_cast<double>(v)); }

  void writeBoundary(const GDSboundary& b, const LayerEntry& e) {
    const std::string tex = POVtextureName(table_, lookup(b.layer, b.datatype));
    double top = e.depth;
    double bottom = e.depth - e.thickness;
    if (GDSisRectangle(b)) {
      const GDSpoint& p0 = b.points[0];
      const GDSpoint& p2 = b.points[2];
      f_.put(" box { <");
      coord(p2.x);
      f_.put(',');
      num(top);
      f_.put(',');
      coord(p2.y);
      f_.put("> <");
      coord(p0.x);
      f_.put(',');
      num(bottom);
      f_.put(',');
      coord(p0.y);
      f_.put(">\n  texture { ");
      f_.put(tex);
      f_.put(" }\n }\n");
      return;
    }
    f_.put(" prism {\n  linear_spline ");
    num(top);
    f_.put(',');
    num(bottom);
    f_.printf(",%d\n", b.npoints);
    for (int32_t k = 0; k < b.npoints; ++k) {
      f_.put(" <");
      coord(b.points[k].x);
      f_.put(',');
      coord(b.points[k].y);
      f_.put(k + 1 < b.npoints ? ">,\n" : ">\n");
    }
    f_.put("  texture { ");
    f_.put(tex);
    f_.put(" }\n}\n");
  }

  void writeSref(int32_t sname, const GDStransf& own, const GDStransf& t) {
    const std::string id = POVidentifier(ids_, lib_.name(sname));
    GDStransf m = GDScomposeTransf(own, t);
    f_.put("//Sref\n");
    int mirror = 0;
    double mag = 0;
    double angle = GDSdecomposeTransf(m, &mirror, &mag);
    f_.put(" object { ");
    f_.put(id);
    f_.put(" \n  scale < ");
    num(mag);
    f_.put(",1.0,");
    num(mirror ? -mag : mag);
    f_.put(">\n  rotate < 0.0,");
    num(-angle);
    f_.put(",0.0 >\n  translate <");
    num(m.tx);
    f_.put(",0.0,");
    num(m.ty);
    f_.put(" >\n }\n");
  }

  void writeAref(const GDSaref& a, const GDStransf& t) {
    con_.err.printf("Rendering Aref->POV\n  Rows: %d\n  Cols: %d\n  RowSpace: %d\n  ColSpace: %d\n", a.rows, a.cols,
                 a.rowspace, a.colspace);
    GDStransf p = GDScomposeTransf(a.transf, t);
    for (int32_t i = 0; i < a.cols; ++i)
      for (int32_t j = 0; j < a.rows; ++j)
        writeSref(a.sname, GDSoffsetTransf(GDSidentity, GDSpoint{wrapMul32(i, a.colspace), wrapMul32(j, a.rowspace)}),
                  p);
  }

  const Console& con_;
  const GDSlibrary& lib_;
  const LayerTable& table_;
  Out& f_;
  POVidentifiers ids_;  // structures whose identifiers would collide
  std::vector<std::string> list_;
};

}  // namespace

void writeScene(const Console& con, const GDSlibrary& lib, const LayerTable& table, const std::string& path,
                const std::string& top) {
  std::unique_ptr<Out> f = openOutFile(path);
  if (!f) fatal("Couldn't open %s for writing. Aborting...\n", path.c_str());
  const GDSstruct* s = GDSfindStruct(con, lib, top);
  if (!s) {
    con.err.printf("Couldn't find the structure named \"%s\"\n", top.c_str());
    closeOutFile(*f, path);
    return;
  }
  PlainScene(con, lib, table, *f).writeScene(*s, top);
  closeOutFile(*f, path);
}

void runWriters(const Console& con, const GDSlibrary& lib, const std::string& top, const std::string& configPath,
                const std::string& psPath, const std::string& povPath, const std::string& hpglPath) {
  LayerTable table;
  PSwritePage(con, lib, table, psPath, configPath, top, walks());
  writeScene(con, lib, table, povPath, top);
  HPGLwritePlot(con, lib, table, hpglPath, top, walks());
}

}  // namespace plainwalks
