// Helpers of the scene tests: libraries and layer tables built in memory,
// an in-process run of the scene writer, and the check that POV-Ray parses
// and renders a scene.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "common/out.h"
#include "plain_walks.h"
#include "gds/model.h"
#include "geom/transf.h"
#include "layers/config.h"
#include "model_builder.h"
#include "need_tool.h"
#include "pov/pov.h"
#include "render.h"
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

// The scene rendered at 160 x 120 by POV-Ray; fails the test when POV-Ray
// reports an error or writes no picture.
inline qmtest::Raster renderScene(const std::string& scene) {
  qmtest::TempDir d;
  d.write("scene.pov", scene);
  std::string e = qmtest::renderPov(d.path(), "scene.pov", "scene.png", 160, 120);
  EXPECT_EQ(e, "") << scene;
  EXPECT_EQ(d.read("stderr.txt").find("Parse Error"), std::string::npos) << d.read("stderr.txt") << "\n" << scene;
  qmtest::Raster img = qmtest::readPng(d.file("scene.png"), &e);
  EXPECT_EQ(img.width, 160) << e;
  EXPECT_EQ(img.height, 120) << e;
  return img;
}

// POV-Ray parses and renders the scene without an error, and shows what
// it holds. The scene's own camera may see nothing (it stands at a height
// fitted to the extent, below solids that are lifted high), so the scene
// is also rendered from straight above with the whole extent in view:
// pixels are lit when the final object places solids (prisms or boxes)
// with a texture of some colour, and all black otherwise.
inline void expectRenders(const std::string& scene) {
  QM_NEED_TOOL("povray");
  renderScene(scene);
  const std::size_t cam = scene.find("\ncamera {\n");
  double x1 = 0, z1 = 0, x0 = 0, z0 = 0;
  const std::size_t box = scene.find("// Bounding box is (");
  if (cam == std::string::npos || box == std::string::npos ||
      std::sscanf(scene.c_str() + box, "// Bounding box is (%lf,%lf)-(%lf,%lf)", &x1, &z1, &x0, &z0) != 4)
    return;
  const std::size_t camEnd = scene.find("\n}\n", cam + 1);
  ASSERT_NE(camEnd, std::string::npos);
  const double cx = (x0 + x1) / 2, cz = (z0 + z1) / 2;
  const double w = std::max(std::fabs(x1 - x0), 1.0) * 1.4, h = std::max(std::fabs(z1 - z0), 1.0) * 1.4;
  const double side = std::max(w, h * 4 / 3);
  char above[512];
  std::snprintf(above, sizeof above,
                "\ncamera {\n orthographic\n location <%f,1e7,%f>\n sky <0,0,1>\n look_at <%f,0,%f>\n"
                " right <%f,0,0>\n up <0,0,%f>\n}\n",
                cx, cz, cx, cz, side, side * 3 / 4);
  const std::string seen = scene.substr(0, cam) + above + scene.substr(camEnd + 3);
  qmtest::Raster img = renderScene(seen);
  int lit = 0;
  for (std::size_t i = 0; i + 2 < img.px.size(); i += 3)
    lit += img.px[i] > 16 || img.px[i + 1] > 16 || img.px[i + 2] > 16;
  bool coloured = false;
  for (std::size_t at = scene.find("pigment {"); at != std::string::npos; at = scene.find("pigment {", at + 1)) {
    double r = 0, g = 0, b = 0;
    const std::size_t c = scene.find("color rgb <", at);
    if (c != std::string::npos && std::sscanf(scene.c_str() + c, "color rgb <%lf,%lf,%lf>", &r, &g, &b) == 3)
      coloured = coloured || r > 0.1 || g > 0.1 || b > 0.1;
  }
  const bool solids = (scene.find("prism {") != std::string::npos || scene.find("box {") != std::string::npos) &&
                      scene.find("\nobject { ") != std::string::npos;
  if (solids && coloured) {
    EXPECT_GT(lit, 0) << "nothing to see from above in\n" << seen;
  } else {
    EXPECT_EQ(lit, 0) << seen;
  }
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
    if (plain) plainwalks::writeScene(cap.console(), lib, table, d.file("result.pov"), top);
    else qm::POVwriteScene(cap.console(), lib, table, d.file("result.pov"), top);
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
