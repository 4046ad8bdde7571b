// A standard cell written the way common open-process libraries write
// them (wires without PATHTYPE, labels without PRESENTATION, instance
// properties, a BOX, custom wire ends), drawn with tolerant reading and
// the bundled layer configuration; the page and the scene must show it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "gdsw.h"
#include "hpgl/plotread.h"
#include "need_tool.h"
#include "render.h"
#include "runner.h"

using namespace gdsw;
using qmtest::TempDir;

namespace {

std::string R(int type, const std::string& data = {}) { return Gds().rec(type, data).bytes; }

// A wire as such libraries write it: no PATHTYPE.
std::string wire(int layer, int dt, int width, const Pts& p) {
  return R(PATH) + R(LAYER, i2(layer)) + R(DATATYPE, i2(dt)) + R(WIDTH, i4(width)) + R(XY, xy(p)) + R(ENDEL);
}
// A label as such libraries write it: no PRESENTATION, a property.
std::string label(int layer, int dt, const std::string& s, int x, int y) {
  return R(TEXT) + R(LAYER, i2(layer)) + R(TEXTTYPE, i2(dt)) + R(XY, i4(x) + i4(y)) + R(STRING, strdata(s)) +
         R(PROPATTR, i2(1)) + R(PROPVALUE, strdata(s)) + R(ENDEL);
}

std::string inverterLibrary() {
  Gds g;
  g.lib("stdcells");
  g.bgnstr("inv_1");
  g.rect(64, 20, -190, 910, 1570, 2910);                     // nwell
  g.rect(65, 20, 250, 240, 1130, 740).rect(65, 20, 250, 1780, 1130, 2380);  // diffusion
  g.raw(wire(66, 20, 150, {{690, 110}, {690, 2560}}));      // poly gate
  g.rect(66, 44, 480, 1900, 650, 2070).rect(66, 44, 730, 380, 900, 550);   // contacts
  g.rect(67, 20, 100, 0, 1280, 240).rect(67, 20, 100, 2480, 1280, 2720);   // rails
  g.raw(R(PATH) + R(LAYER, i2(68)) + R(DATATYPE, i2(20)) + R(PATHTYPE, i2(4)) + R(WIDTH, i4(140)) +
        R(BGNEXTN, i4(70)) + R(ENDEXTN, i4(0)) + R(XY, xy({{100, 1360}, {1280, 1360}})) + R(ENDEL));  // metal
  g.raw(R(BOX) + R(LAYER, i2(67)) + R(BOXTYPE, i2(44)) +
        R(XY, xy({{1000, 1200}, {1000, 1370}, {1170, 1370}, {1170, 1200}, {1000, 1200}})) + R(ENDEL));
  g.raw(label(67, 5, "A", 300, 1360)).raw(label(67, 5, "Y", 1000, 1360)).raw(label(67, 16, "VPWR", 640, 2600));
  g.endstr();
  g.bgnstr("top");
  g.raw(R(SREF) + R(SNAME, strdata("inv_1")) + R(XY, i4(0) + i4(0)) + R(PROPATTR, i2(61)) + R(PROPVALUE, "u1") +
        R(ENDEL));
  g.raw(R(SREF) + R(SNAME, strdata("inv_1")) + R(STRANS, i2(0x8000)) + R(ANGLE, r8(180)) + R(XY, i4(3000) + i4(0)) +
        R(ENDEL));
  g.endstr().endlib();
  return g.bytes;
}

TEST(StandardCell, StrictReadingRejectsItTolerantReadingDrawsIt) {
  TempDir d;
  d.write("cell.gds", inverterLibrary());
  auto strict = qmtest::quillmask({"-i", "cell.gds"}, d.path());
  EXPECT_EQ(strict.status, 1);
  EXPECT_EQ(strict.err, "Missing PATHTYPE field in PATH element. Abort!\n");

  std::string cfg = std::string(QM_SOURCE_DIR) + "/examples/sky130.layers.config";
  auto r = qmtest::quillmask({"--tolerant", "-i", "cell.gds", "-s", "top", "-c", cfg}, d.path());
  ASSERT_EQ(r.status, 0) << r.err;
  // Labels and pins are hidden without a warning; every drawn layer is configured.
  EXPECT_EQ(r.err.find("Warning"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Skipped 4 PROPATTR records\n"), std::string::npos) << r.err;
  std::string ps = d.read("result.ps");
  EXPECT_NE(ps.find("% Layer met1\n"), std::string::npos);
  EXPECT_NE(ps.find("showpage\n"), std::string::npos);
  std::string pov = d.read("result.pov");
  EXPECT_NE(pov.find("#declare inv_1 = union {"), std::string::npos);
  EXPECT_NE(d.read("result.plt").find("PUSP0PG;\n"), std::string::npos);
  // The plot read back: well-formed, finished, the diffusion filled on
  // pen 65 (two rectangles in each of the two instances). The pen's colour
  // is the one of the last entry for layer 65, the contacts' (plot pens go
  // by layer number alone).
  auto plot = qm::plotread::parse(d.read("result.plt"));
  ASSERT_TRUE(plot.ok()) << plot.error;
  EXPECT_TRUE(plot.finished());
  int diffusion = 0;
  for (const auto& sh : plot.shapes)
    diffusion += sh.kind == qm::plotread::Shape::FillRect && sh.pen == 65 &&
                 sh.colour == qm::plotread::Colour{38, 115, 38};
  EXPECT_EQ(diffusion, 4);
}

// The page and the scene of the cell, rendered: the diffusion's green
// inside both transistors of both instances, white between the
// instances; lit solids in the scene.
TEST(StandardCell, PageAndSceneShowTheCell) {
  QM_NEED_TOOL("gs");
  QM_NEED_TOOL("povray");
  TempDir d;
  d.write("cell.gds", inverterLibrary());
  std::string cfg = std::string(QM_SOURCE_DIR) + "/examples/sky130.layers.config";
  auto r = qmtest::quillmask({"--tolerant", "-i", "cell.gds", "-s", "top", "-c", cfg}, d.path());
  ASSERT_EQ(r.status, 0) << r.err;

  const std::string ps = d.read("result.ps");
  const std::size_t at = ps.find(" scale\n");
  ASSERT_NE(at, std::string::npos);
  double s = 0, s2 = 0, tx = 0, ty = 0;
  ASSERT_EQ(std::sscanf(ps.c_str() + ps.rfind('\n', at) + 1, "%lf %lf scale\n%lf %lf translate", &s, &s2, &tx, &ty), 4);
  std::string e = qmtest::renderPostScript(d.path(), "result.ps", "page.png", 72);
  ASSERT_EQ(e, "");
  qmtest::Raster page = qmtest::readPng(d.file("page.png"), &e);
  ASSERT_FALSE(page.empty()) << e;
  auto at72 = [&](double x, double y) {
    return page.at(static_cast<int>(s * (x / 100 + tx)), page.height - 1 - static_cast<int>(s * (y / 100 + ty)));
  };
  // The lower diffusion of inv_1, left of the gate and clear of the
  // contact, and the same in the mirrored and turned instance at x 3000
  // (well inside: the page draws coordinates cut to whole hundreds).
  for (double x = 350; x <= 550; x += 50)
    for (double y = 300; y <= 600; y += 50) {
      EXPECT_TRUE(qmtest::near(at72(x, y), 77, 191, 77)) << x << "," << y;
      EXPECT_TRUE(qmtest::near(at72(3000 - x, y), 77, 191, 77)) << 3000 - x << "," << y;
    }
  EXPECT_FALSE(qmtest::inked(at72(1500, 100)));
  EXPECT_FALSE(qmtest::inked(at72(1500, 800)));

  e = qmtest::renderPov(d.path(), "result.pov", "scene.png", 160, 120);
  ASSERT_EQ(e, "");
  qmtest::Raster scene = qmtest::readPng(d.file("scene.png"), &e);
  ASSERT_EQ(scene.width, 160) << e;
  int lit = 0;
  for (std::size_t i = 0; i < scene.px.size(); i += 3) lit += scene.px[i] > 16 || scene.px[i + 1] > 16 || scene.px[i + 2] > 16;
  EXPECT_GT(lit, 160 * 120 / 50);
}

}  // namespace
