// Helpers of the scene tests: libraries and layer tables built in memory,
// an in-process run of the scene writer, and the check that POV-Ray parses
// and renders a scene.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/out.h"
#include "plain_walks.h"
#include "gds/model.h"
#include "geom/transf.h"
#include "layers/config.h"
#include "model_builder.h"
#include "pov/pov.h"
#include "runner.h"

namespace povtest {

using qm::GDSpoint;
using qm::GDStransf;

// Libraries built by hand; references by name, buckets as the reader
// orders them (doneAsRead()).
using LibBuilder = qmtest::ModelBuilder;

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
  {
    qm::CaptureStd cap;
    if (plain) plainwalks::writeScene(lib, table, d.file("result.pov"), top);
    else qm::POVwriteScene(lib, table, d.file("result.pov"), top);
    r.out = cap.out();
    r.err = cap.err();
  }
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
