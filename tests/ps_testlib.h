// Hand-built libraries and page helpers for the PostScript writer tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "common/out.h"
#include "gds/model.h"
#include "layers/config.h"

namespace pstest {

using Pts = std::vector<std::pair<int32_t, int32_t>>;

// Builds a library in memory. Structures and cells are added in list
// order (the order the walks visit them), not in file order.
class LibBuilder {
 public:
  qm::GDSlibrary lib;

  int add(const std::string& name) {
    lib.structs.emplace_back();
    lib.structs.back().strname = name;
    return static_cast<int>(lib.structs.size()) - 1;
  }
  qm::GDSstruct& at(int s) { return lib.structs[static_cast<std::size_t>(s)]; }

  qm::GDSpoint* points(const Pts& p) {
    qm::GDSpoint* q = lib.arena.alloc(p.size());
    for (std::size_t i = 0; i < p.size(); ++i) q[i] = qm::GDSpoint{p[i].first, p[i].second};
    return q;
  }
  void cell(int s, int32_t kind, std::size_t idx) {
    at(s).cells.push_back(qm::GDScell{kind, static_cast<uint32_t>(idx)});
  }
  void bucket(int s, int32_t layer, int32_t datatype) {
    for (const auto& l : at(s).layers)
      if (l.layer == layer && l.datatype == datatype) return;
    at(s).layers.insert(at(s).layers.begin(), qm::GDSlayer{layer, datatype});
  }

  LibBuilder& boundary(int s, int32_t layer, const Pts& p, int32_t datatype = 0) {
    qm::GDSboundary b;
    b.layer = layer;
    b.datatype = datatype;
    b.npoints = static_cast<int32_t>(p.size());
    b.points = points(p);
    at(s).boundaries.push_back(b);
    cell(s, qm::KIND_BOUNDARY, at(s).boundaries.size() - 1);
    bucket(s, layer, datatype);
    return *this;
  }
  LibBuilder& rect(int s, int32_t layer, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                   int32_t datatype = 0) {
    return boundary(s, layer, {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}}, datatype);
  }
  LibBuilder& path(int s, int32_t layer, int32_t pathtype, int32_t width, const Pts& p,
                   int32_t datatype = 0) {
    qm::GDSpath w;
    w.layer = layer;
    w.datatype = datatype;
    w.pathtype = pathtype;
    w.width = width;
    w.npoints = static_cast<int32_t>(p.size());
    w.points = points(p);
    at(s).paths.push_back(w);
    cell(s, qm::KIND_PATH, at(s).paths.size() - 1);
    bucket(s, layer, datatype);
    return *this;
  }
  int32_t name(const std::string& n) {
    lib.names.push_back(n);
    return static_cast<int32_t>(lib.names.size()) - 1;
  }
  // structptr -1 leaves the reference unbound.
  LibBuilder& sref(int s, int32_t structptr, const qm::GDStransf& t, const std::string& sname = "X") {
    qm::GDSsref r;
    r.structptr = structptr;
    r.sname = name(sname);
    r.transf = t;
    at(s).srefs.push_back(r);
    cell(s, qm::KIND_SREF, at(s).srefs.size() - 1);
    return *this;
  }
  LibBuilder& aref(int s, int32_t structptr, int32_t cols, int32_t rows, int32_t colspace,
                   int32_t rowspace, const qm::GDStransf& t) {
    qm::GDSaref a;
    a.structptr = structptr;
    a.sname = name("A");
    a.cols = cols;
    a.rows = rows;
    a.colspace = colspace;
    a.rowspace = rowspace;
    a.transf = t;
    at(s).arefs.push_back(a);
    cell(s, qm::KIND_AREF, at(s).arefs.size() - 1);
    return *this;
  }
  LibBuilder& text(int s, int32_t layer, const std::string& str, const qm::GDStransf& t,
                   double mag = 1.0) {
    qm::GDStext x;
    x.layer = layer;
    x.string = str;
    x.transf = t;
    x.mag = mag;
    at(s).texts.push_back(x);
    cell(s, qm::KIND_TEXT, at(s).texts.size() - 1);
    bucket(s, layer, 0);
    return *this;
  }
  LibBuilder& other(int s, int32_t kind) {
    cell(s, kind, 0);
    return *this;
  }
  qm::GDSlibrary& done() {
    lib.buildIndex();
    return lib;
  }
};

// A translation, and a placement as the readers make it (mirror about x,
// then rotation, then magnification, then the origin).
inline qm::GDStransf shift(double x, double y) { return qm::GDStransf{1, 0, x, 0, 1, y}; }

// A layer block of the configuration file.
inline std::string block(const std::string& name, int gdsno, const std::string& extra = "",
                         bool hidden = false) {
  return "newlayer name " + name + " gdsno " + std::to_string(gdsno) + " hidden " +
         (hidden ? "yes" : "no") + " " + extra + " endlayer\n";
}

}  // namespace pstest
