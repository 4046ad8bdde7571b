// The scene as the program writes it, from a GDSII file and a layer
// configuration.
#include <gtest/gtest.h>

#include <string>

#include "gdsw.h"
#include "pov_testlib.h"
#include "runner.h"

namespace {

using gdsw::Gds;
using gdsw::Placement;

const char* kConfig =
    "# two visible layers and a hidden one\n"
    "newlayer name metal1 gdsno 1 hidden no red 1 green 0.5 blue 0.25 depth 2 thickness 1 endlayer\n"
    "newlayer name via gdsno 2 datatype 1 hidden no green 1 depth 5 thickness 0.5 endlayer\n"
    "newlayer name well gdsno 3 hidden yes endlayer\n";

// TOP holds an array of CELL, a mirrored and rotated CELL and a wire; CELL
// holds a rectangle, a triangle and a text.
std::string chip() {
  Gds g;
  g.lib("CHIP");
  g.bgnstr("CELL");
  g.rect(1, 0, 0, 0, 40, 20);
  g.boundary(2, 1, {{0, 0}, {30, 0}, {0, 30}, {0, 0}});
  g.text(9, 0, "label", 5, 5);
  g.endstr();
  g.bgnstr("TOP");
  g.aref("CELL", 2, 3, {{0, 0}, {200, 0}, {0, 300}});
  Placement pl;
  pl.strans = true;
  pl.mirror = true;
  pl.hasAngle = true;
  pl.angle = 90;
  g.sref("CELL", 500, 0, pl);
  g.path(1, 0, 0, 10, {{0, -50}, {400, -50}, {400, -20}});
  g.endstr();
  g.endlib();
  return g.bytes;
}

TEST(PovRun, SceneOfAChip) {
  qmtest::TempDir d;
  d.write("chip.gds", chip());
  d.write(".layers.config", kConfig);
  qmtest::RunResult r = qmtest::quillmask({"-i", "chip.gds", "-s", "TOP"}, d.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::string scene = d.read("result.pov");
  // CELL first, then TOP; the texts's unconfigured layer only warns.
  std::size_t cell = scene.find("#declare CELL = union {\n");
  std::size_t top = scene.find("#declare TOP = union {\n prism {\n");
  ASSERT_NE(cell, std::string::npos) << scene;
  ASSERT_NE(top, std::string::npos) << scene;
  EXPECT_LT(cell, top);
  EXPECT_NE(scene.find("  scale < 1.000000,1.0,-1.000000>\n  rotate < 0.0,-90.000000,0.0 >\n"
                       "  translate <500.000000,0.0,0.000000 >\n"),
            std::string::npos)
      << scene;
  EXPECT_EQ(povtest::countOf(scene, "//Sref\n"), 7u);
  EXPECT_EQ(povtest::countOf(scene, "//Aref:\n"), 1u);
  EXPECT_NE(r.err.find("Rendering Aref->POV\n  Rows: 3\n  Cols: 2\n  RowSpace: 100\n  ColSpace: 100\n"),
            std::string::npos);
  EXPECT_NE(scene.find("object { TOP scale <1.0,1000.000000,1.0> }\n// end of povray file\n"), std::string::npos);
  povtest::expectRenders(scene);
}

TEST(PovRun, MissingTopStructureLeavesAnEmptyScene) {
  qmtest::TempDir d;
  d.write("chip.gds", chip());
  d.write(".layers.config", kConfig);
  qmtest::RunResult r = qmtest::quillmask({"-i", "chip.gds", "-s", "NOPE", "-v", "scene.pov"}, d.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(d.exists("scene.pov"));
  EXPECT_EQ(d.read("scene.pov"), "");
  EXPECT_EQ(povtest::countOf(r.err, "Couldn't find the structure named \"NOPE\"\n"), 3u);
}

TEST(PovRun, UnwritableSceneStopsTheRun) {
  qmtest::TempDir d;
  d.write("chip.gds", chip());
  d.write(".layers.config", kConfig);
  qmtest::RunResult r = qmtest::quillmask({"-i", "chip.gds", "-s", "TOP", "-v", "no/such/dir.pov"}, d.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Couldn't open no/such/dir.pov for writing. Aborting...\n"), std::string::npos) << r.err;
  EXPECT_TRUE(d.exists("result.ps"));
  EXPECT_FALSE(d.exists("result.plt"));
}

TEST(PovRun, ConfigurationWithoutLayersDrawsNothing) {
  qmtest::TempDir d;
  d.write("chip.gds", chip());
  d.write(".layers.config", "# only a comment\n");
  qmtest::RunResult r = qmtest::quillmask({"-i", "chip.gds", "-s", "TOP"}, d.path());
  EXPECT_EQ(r.status, 0) << r.err;
  std::string scene = d.read("result.pov");
  EXPECT_EQ(scene.find("#declare"), std::string::npos) << scene;
  EXPECT_EQ(scene.find("object {"), std::string::npos) << scene;
  const std::string tail = "light_source { <530.000000,815.000000,-55.000000> color rgb <1.0, 1.0, 1.0> }\n\n"
                           "// end of povray file\n";
  ASSERT_GE(scene.size(), tail.size());
  EXPECT_EQ(scene.substr(scene.size() - tail.size()), tail);
  povtest::expectRenders(scene);
}

// A top name holding a line break stays inside the header comment.
TEST(PovRun, ControlBytesInNamesStayInsideComments) {
  qmtest::TempDir d;
  d.write("layers.config", "newlayer name m\r1 gdsno 1 hidden no endlayer\n");
  d.write("in.gds", Gds().lib().bgnstr("A\nB").rect(1, 0, 0, 0, 40, 20).endstr().endlib().bytes);
  auto r = qmtest::quillmask({"-i", "in.gds", "-s", "A\nB", "-c", "layers.config"}, d.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::string scene = d.read("result.pov");
  EXPECT_NE(scene.find("// Top level cell is A\\012B (or AE_B if escaping is needed.)\n"), std::string::npos);
  EXPECT_NE(scene.find("// Layer name: m\\0151 \n"), std::string::npos);
  povtest::expectRenders(scene);
}

}  // namespace
