// Builds a library in memory, structure by structure, for the tests of the
// walks and writers. Structures are added in the order of the library's
// list (the first added is the last of the file); cells are added in the
// order of their structure's list. Points live in the library's arena.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "gds/model.h"

namespace qmtest {

using Pts = std::vector<qm::GDSpoint>;

// A layer bucket: a layer alone means datatype 0.
struct Bucket {
  Bucket(int32_t l, int32_t d = 0) : layer(l), datatype(d) {}  // implicit: a layer alone
  int32_t layer;
  int32_t datatype;
};

class ModelBuilder {
 public:
  qm::GDSlibrary lib;

  int32_t add(const std::string& name) {
    lib.structs.emplace_back();
    lib.structs.back().strname = name;
    return static_cast<int32_t>(lib.structs.size()) - 1;
  }
  qm::GDSstruct& at(int32_t s) { return lib.structs[static_cast<std::size_t>(s)]; }

  ModelBuilder& boundary(int32_t s, Bucket on, const Pts& pts) {
    qm::GDSboundary b;
    b.layer = on.layer;
    b.datatype = on.datatype;
    b.npoints = static_cast<int32_t>(pts.size());
    b.points = points(pts);
    return cell(s, qm::KIND_BOUNDARY, at(s).boundaries, b, &on);
  }
  ModelBuilder& rect(int32_t s, Bucket on, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    return boundary(s, on, {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}});
  }
  ModelBuilder& path(int32_t s, Bucket on, int32_t pathtype, int32_t width, const Pts& pts) {
    qm::GDSpath p;
    p.layer = on.layer;
    p.datatype = on.datatype;
    p.pathtype = pathtype;
    p.width = width;
    p.npoints = static_cast<int32_t>(pts.size());
    p.points = points(pts);
    return cell(s, qm::KIND_PATH, at(s).paths, p, &on);
  }
  // The text type stands as the datatype of the bucket.
  ModelBuilder& text(int32_t s, Bucket on, const std::string& str = "T", const qm::GDStransf& t = qm::GDSidentity,
                     double mag = 1.0) {
    qm::GDStext x;
    x.layer = on.layer;
    x.datatype = on.datatype;
    x.string = str;
    x.transf = t;
    x.mag = mag;
    return cell(s, qm::KIND_TEXT, at(s).texts, x, &on);
  }

  // References bound to a structure index (-1 leaves them unbound), under
  // a name of their own ...
  ModelBuilder& sref(int32_t s, int32_t structptr, const qm::GDStransf& t = qm::GDSidentity,
                     const std::string& name = "X") {
    return cell(s, qm::KIND_SREF, at(s).srefs, qm::GDSsref{structptr, intern(name), t});
  }
  ModelBuilder& aref(int32_t s, int32_t structptr, int32_t cols, int32_t rows, int32_t colspace, int32_t rowspace,
                     const qm::GDStransf& t = qm::GDSidentity, const std::string& name = "A") {
    return cell(s, qm::KIND_AREF, at(s).arefs,
                qm::GDSaref{structptr, intern(name), cols, rows, colspace, rowspace, t});
  }
  // ... or by name, bound by done() to the first structure of that name.
  ModelBuilder& sref(int32_t s, const std::string& name, const qm::GDStransf& t = qm::GDSidentity) {
    byName_.push_back({s, qm::KIND_SREF, static_cast<uint32_t>(at(s).srefs.size())});
    return sref(s, -1, t, name);
  }
  ModelBuilder& aref(int32_t s, const std::string& name, int32_t cols, int32_t rows, int32_t colspace,
                     int32_t rowspace, const qm::GDStransf& t = qm::GDSidentity) {
    byName_.push_back({s, qm::KIND_AREF, static_cast<uint32_t>(at(s).arefs.size())});
    return aref(s, -1, cols, rows, colspace, rowspace, t, name);
  }
  // A cell of a kind without payload (node, box).
  ModelBuilder& other(int32_t s, int32_t kind) {
    at(s).cells.push_back(qm::GDScell{kind, 0});
    return *this;
  }

  // The name index and the references made by name. The buckets stay as
  // added: each new one in front of the others.
  qm::GDSlibrary& done() {
    lib.buildIndex();
    for (const Pending& p : byName_) {
      qm::GDSstruct& st = at(p.s);
      int32_t& ptr = p.kind == qm::KIND_SREF ? st.srefs[p.idx].structptr : st.arefs[p.idx].structptr;
      const int32_t sname = p.kind == qm::KIND_SREF ? st.srefs[p.idx].sname : st.arefs[p.idx].sname;
      ptr = lib.indexOf(lib.name(sname));
    }
    return lib;
  }
  // The same, with the buckets in reverse order of first appearance in the
  // file, as the reader leaves them.
  qm::GDSlibrary& doneAsRead() {
    for (auto& s : lib.structs) {
      s.layers.clear();
      for (std::size_t k = s.cells.size(); k-- > 0;) {
        const qm::GDScell& c = s.cells[k];
        if (c.kind == qm::KIND_BOUNDARY) addBucket(s, {s.boundary(c).layer, s.boundary(c).datatype});
        else if (c.kind == qm::KIND_PATH) addBucket(s, {s.path(c).layer, s.path(c).datatype});
        else if (c.kind == qm::KIND_TEXT) addBucket(s, {s.text(c).layer, s.text(c).datatype});
      }
    }
    return done();
  }

 private:
  struct Pending {
    int32_t s;
    int32_t kind;
    uint32_t idx;
  };

  qm::GDSpoint* points(const Pts& pts) {
    qm::GDSpoint* p = lib.arena.alloc(pts.size());
    for (std::size_t i = 0; i < pts.size(); ++i) p[i] = pts[i];
    return p;
  }
  template <class T>
  ModelBuilder& cell(int32_t s, int32_t kind, qm::GDSstruct::Elements<T>& payloads, const T& payload,
                     const Bucket* on = nullptr) {
    payloads.push_back(payload);
    at(s).cells.push_back(qm::GDScell{kind, static_cast<uint32_t>(payloads.size() - 1)});
    if (on) addBucket(at(s), *on);
    return *this;
  }
  static void addBucket(qm::GDSstruct& s, Bucket on) {
    for (const auto& l : s.layers)
      if (l.layer == on.layer && l.datatype == on.datatype) return;
    s.layers.insert(s.layers.begin(), qm::GDSlayer{on.layer, on.datatype});
  }
  int32_t intern(const std::string& name) {
    auto [it, fresh] = names_.try_emplace(name, static_cast<int32_t>(lib.names.size()));
    if (fresh) lib.names.push_back(name);
    return it->second;
  }

  std::unordered_map<std::string, int32_t> names_;
  std::vector<Pending> byName_;
};

}  // namespace qmtest
