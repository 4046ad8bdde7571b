// Helpers of the scene tests: libraries and layer tables built in memory,
// an in-process run of the scene writer, and the check that POV-Ray parses
// and renders a scene.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/out.h"
#include "common/walkmode.h"
#include "gds/model.h"
#include "geom/transf.h"
#include "layers/config.h"
#include "pov/pov.h"
#include "runner.h"

namespace povtest {

using qm::GDSpoint;
using qm::GDStransf;

// Builds a library structure by structure. Structures are added in the
// order of the library's list (the first added is the last of the file);
// cells are added in the order of their structure's list.
class LibBuilder {
 public:
  qm::GDSlibrary lib;

  int add(const std::string& name) {
    lib.structs.emplace_back();
    lib.structs.back().strname = name;
    return static_cast<int>(lib.structs.size()) - 1;
  }
  qm::GDSstruct& at(int s) { return lib.structs[static_cast<std::size_t>(s)]; }

  void boundary(int s, int layer, int datatype, const std::vector<GDSpoint>& pts) {
    qm::GDSboundary b;
    b.layer = layer;
    b.datatype = datatype;
    b.npoints = static_cast<int32_t>(pts.size());
    b.points = copyPoints(pts);
    at(s).boundaries.push_back(b);
    cell(s, qm::KIND_BOUNDARY, at(s).boundaries.size());
  }
  void rect(int s, int layer, int datatype, int x0, int y0, int x1, int y1) {
    boundary(s, layer, datatype, {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}});
  }
  void path(int s, int layer, int datatype, int pathtype, int width, const std::vector<GDSpoint>& pts) {
    qm::GDSpath p;
    p.layer = layer;
    p.datatype = datatype;
    p.pathtype = pathtype;
    p.width = width;
    p.npoints = static_cast<int32_t>(pts.size());
    p.points = copyPoints(pts);
    at(s).paths.push_back(p);
    cell(s, qm::KIND_PATH, at(s).paths.size());
  }
  void sref(int s, const std::string& name, const GDStransf& t = qm::GDSidentity) {
    qm::GDSsref r;
    r.sname = intern(name);
    r.transf = t;
    at(s).srefs.push_back(r);
    cell(s, qm::KIND_SREF, at(s).srefs.size());
  }
  void aref(int s, const std::string& name, int cols, int rows, int colspace, int rowspace,
            const GDStransf& t = qm::GDSidentity) {
    qm::GDSaref a;
    a.sname = intern(name);
    a.cols = cols;
    a.rows = rows;
    a.colspace = colspace;
    a.rowspace = rowspace;
    a.transf = t;
    at(s).arefs.push_back(a);
    cell(s, qm::KIND_AREF, at(s).arefs.size());
  }
  void text(int s, int layer, int texttype, const std::string& str) {
    qm::GDStext t;
    t.layer = layer;
    t.datatype = texttype;
    t.string = str;
    at(s).texts.push_back(t);
    cell(s, qm::KIND_TEXT, at(s).texts.size());
  }

  // Layer buckets in reverse order of first appearance in the file, the
  // name index and the binding of references, as the reader leaves them.
  qm::GDSlibrary& finish() {
    for (auto& s : lib.structs) {
      s.layers.clear();
      for (std::size_t k = s.cells.size(); k-- > 0;) {
        const qm::GDScell& c = s.cells[k];
        int32_t layer, datatype;
        if (c.kind == qm::KIND_BOUNDARY) layer = s.boundary(c).layer, datatype = s.boundary(c).datatype;
        else if (c.kind == qm::KIND_PATH) layer = s.path(c).layer, datatype = s.path(c).datatype;
        else if (c.kind == qm::KIND_TEXT) layer = s.text(c).layer, datatype = s.text(c).datatype;
        else continue;
        bool found = false;
        for (auto& l : s.layers) found = found || (l.layer == layer && l.datatype == datatype);
        if (!found) s.layers.insert(s.layers.begin(), qm::GDSlayer{layer, datatype});
      }
    }
    lib.buildIndex();
    for (auto& s : lib.structs) {
      for (auto& r : s.srefs) r.structptr = lib.indexOf(lib.name(r.sname));
      for (auto& a : s.arefs) a.structptr = lib.indexOf(lib.name(a.sname));
    }
    return lib;
  }

 private:
  GDSpoint* copyPoints(const std::vector<GDSpoint>& pts) {
    GDSpoint* p = lib.arena.alloc(pts.size());
    for (std::size_t i = 0; i < pts.size(); ++i) p[i] = pts[i];
    return p;
  }
  void cell(int s, int32_t kind, std::size_t count) {
    at(s).cells.push_back(qm::GDScell{kind, static_cast<uint32_t>(count - 1)});
  }
  int32_t intern(const std::string& name) {
    auto it = names_.find(name);
    if (it != names_.end()) return it->second;
    lib.names.push_back(name);
    int32_t i = static_cast<int32_t>(lib.names.size()) - 1;
    names_[name] = i;
    return i;
  }
  std::map<std::string, int32_t> names_;
};

// One configured layer block.
struct Layer {
  int gdsno = 0;
  int datatype = -1;  // -1: every datatype
  bool hidden = false;
  double red = 0, green = 0, blue = 0;
  double depth = 0, thickness = 0;
  std::string name;
};

inline Layer plainLayer(int gdsno, int datatype = -1) {
  Layer l;
  l.gdsno = gdsno;
  l.datatype = datatype;
  return l;
}

inline qm::LayerTable makeTable(const std::vector<Layer>& layers) {
  qm::LayerTable t;
  qm::LayerEntry& z = t.entries[0];
  z.name = "NULL";
  z.gdsno = -1;
  z.hidden = 1;
  z.step = 100;
  int i = 1;
  for (const Layer& l : layers) {
    qm::LayerEntry& e = t.entries[static_cast<std::size_t>(i++)];
    e.name = l.name.empty() ? "Layer" + std::to_string(l.gdsno) : l.name;
    e.hasName = true;
    e.gdsno = l.gdsno;
    e.hasDatatype = l.datatype >= 0;
    e.datatype = l.datatype >= 0 ? l.datatype : 0;
    e.hidden = l.hidden;
    e.red = l.red;
    e.green = l.green;
    e.blue = l.blue;
    e.step = 100;
    e.depth = l.depth;
    e.thickness = l.thickness;
  }
  t.layerCount = i;
  t.ClearLookupCache();
  return t;
}

// Full path of a program on the PATH, empty when there is none.
inline std::string programPath(const std::string& name) {
  std::string cmd = "command -v " + name + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {};
  char buf[4096];
  std::string r;
  while (fgets(buf, sizeof buf, p)) r += buf;
  pclose(p);
  while (!r.empty() && (r.back() == '\n' || r.back() == '\r')) r.pop_back();
  return r;
}

// POV-Ray parses and renders the scene without an error.
inline void expectRenders(const std::string& scene) {
  static const std::string povray = programPath("povray");
  if (povray.empty()) GTEST_SKIP() << "povray is not installed";
  qmtest::TempDir d;
  d.write("scene.pov", scene);
  qmtest::RunResult r = qmtest::run(povray, {"+Iscene.pov", "+Oscene.png", "+W160", "+H120", "-D", "-V", "+FN"},
                                    d.path());
  EXPECT_EQ(r.status, 0) << r.err << "\n" << scene;
  EXPECT_EQ(r.err.find("Parse Error"), std::string::npos) << r.err << "\n" << scene;
  EXPECT_TRUE(d.exists("scene.png")) << r.err;
}

struct SceneRun {
  std::string scene, out, err;
};

// Runs the scene writer in process and collects the file and both streams.
inline SceneRun writeScene(const qm::GDSlibrary& lib, const qm::LayerTable& table, const std::string& top,
                           bool plain = false) {
  qmtest::TempDir d;
  SceneRun r;
  qm::setPlainWalks(plain);
  {
    qm::CaptureStd cap;
    qm::POVwriteScene(lib, table, d.file("result.pov"), top);
    r.out = cap.out();
    r.err = cap.err();
  }
  qm::setPlainWalks(false);
  r.scene = d.read("result.pov");
  return r;
}

// The names GDSfindStruct echoes when it looks for `name`.
inline std::string echoFor(const qm::GDSlibrary& lib, const std::string& name) {
  std::string e;
  for (const auto& s : lib.structs) {
    e += "\"" + s.strname + "\"\n";
    if (s.strname == name) break;
  }
  return e;
}

inline std::size_t countOf(const std::string& hay, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + needle.size())) ++n;
  return n;
}

}  // namespace povtest
