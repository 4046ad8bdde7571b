// The scene writer, run in process on libraries built in memory.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cmath>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "pov_testlib.h"
#include "failure.h"

namespace {

using namespace povtest;
using qm::GDSmakeTransf;

const std::string kWarn9 =
    "Warning: Layer 9, datatype 0 found with no corresponding\n layer entry in configuration file.\n";

// Layer 1 visible, layer 2 visible for datatype 1 only, layer 3 hidden;
// every other layer is unconfigured.
qm::LayerTable standardTable() {
  Layer m1{1, -1, false, 1, 0.5, 0.25, 2, 1, "metal1"};
  Layer v2{2, 1, false, 0, 1, 0, 5, 0.5, "via"};
  Layer h3{3, -1, true, 0, 0, 1, 1, 1, "hidden3"};
  return makeTable({m1, v2, h3});
}

std::vector<std::string> declared(const std::string& scene) {
  std::vector<std::string> names;
  std::regex re("#declare (\\w+) = (union \\{|\\n)");
  for (std::sregex_iterator it(scene.begin(), scene.end(), re), end; it != end; ++it) names.push_back((*it)[1]);
  return names;
}

std::string textures() {
  return "#declare GDS_TEX_1 = texture { // Layer name: metal1 \n"
         "     pigment {\n"
         "        color rgb <1.000000,0.500000,0.250000>\n"
         "     }\n"
         "  }\n"
         "#declare GDS_TEX_2_1 = texture { // Layer name: via \n"
         "     pigment {\n"
         "        color rgb <0.000000,1.000000,0.000000>\n"
         "     }\n"
         "  }\n";
}

// The scene of `top` under the standard table.
SceneRun standardScene(LibBuilder& b, const std::string& top = "TOP") {
  b.doneAsRead();
  return writeScene(b.lib, standardTable(), top);
}

TEST(PovScene, WholeSceneOfOneRectangle) {
  LibBuilder b;
  int top = b.add("TOP");
  b.rect(top, 1, 0, 0, 20, 10);
  SceneRun r = standardScene(b);
  EXPECT_EQ(r.scene,
            "// POVRAY file generated from quillmask-0.3.1\n"
            "// Top level cell is TOP (or TOP if escaping is needed.)\n"
            "// Bounding box is (20,10)-(0,0)\n"
            "// UserUnit: 1.000000e-03 MeterUnit: 1.000000e-09 \n"
            "// Since thickness in the config is specified in microns,\n"
            "//   the instance of the final object will be vertically scaled\n"
            "//   by 1.000000e+03 at the end of the file.\n"
            "\n"
            "camera {\n"
            " location <0.000000,30.000000,0.000000>\n"
            " look_at <10.000000,0,5.000000>\n"
            "}\n"
            "global_settings { ambient_light rgb <4.5,4.5,4.5> }\n"
            "light_source { <20.000000,30.000000,0.000000> color rgb <1.0, 1.0, 1.0> }\n"
            "\n" +
                textures() +
                "#declare TOP = \n"
                " box { <20.000000,2.000000,10.000000> <0.000000,1.000000,0.000000>\n"
                "  texture { GDS_TEX_1 }\n"
                " }\n"
                "\n"
                "object { TOP scale <1.0,1000.000000,1.0> }\n"
                "// end of povray file\n");
  // The finder echoes for the scene, the ordering and the declaration.
  EXPECT_EQ(r.out, "\"TOP\"\n\"TOP\"\n\"TOP\"\n");
  EXPECT_EQ(r.err,
            "minx = 0, miny = 0, maxx = 20, maxy = 10\n"
            "minx = 0, miny = 0, maxx = 20, maxy = 10\n"
            "scalex = 2601.000000, scaley = 6732.000000\n");
  expectRenders(r.scene);
}

TEST(PovScene, UnionOfBoxesAndPrisms) {
  LibBuilder b;
  int top = b.add("a-b");
  b.rect(top, 1, 0, 0, 20, 10);
  b.rect(top, {2, 1}, 5, 5, 8, 30);
  b.boundary(top, 1, {{0, 0}, {10, 0}, {0, 10}, {0, 0}});
  b.rect(top, 2, 0, 0, 1, 1);  // datatype 0 of layer 2 is unconfigured
  b.rect(top, 3, 0, 0, 50, 50);  // hidden
  SceneRun r = standardScene(b, "a-b");
  std::string decl = r.scene.substr(r.scene.find("#declare aE_b"));
  EXPECT_EQ(decl,
            "#declare aE_b = union {\n"
            " box { <20.000000,2.000000,10.000000> <0.000000,1.000000,0.000000>\n"
            "  texture { GDS_TEX_1 }\n"
            " }\n"
            " box { <8.000000,5.000000,30.000000> <5.000000,4.500000,5.000000>\n"
            "  texture { GDS_TEX_2_1 }\n"
            " }\n"
            " prism {\n"
            "  linear_spline 2.000000,1.000000,4\n"
            " <0.000000,0.000000>,\n"
            " <10.000000,0.000000>,\n"
            " <0.000000,10.000000>,\n"
            " <0.000000,0.000000>\n"
            "  texture { GDS_TEX_1 }\n"
            "}\n"
            "}\n"
            "object { aE_b scale <1.0,1000.000000,1.0> }\n"
            "// end of povray file\n");
  EXPECT_NE(r.scene.find("// Top level cell is a-b (or aE_b if escaping is needed.)\n"), std::string::npos);
  // Layer 2 datatype 0: once in the count, once when counting objects, once
  // in the walk.
  const std::string warn2 =
      "Warning: Layer 2, datatype 0 found with no corresponding\n layer entry in configuration file.\n";
  EXPECT_EQ(countOf(r.err, warn2), 3u);
  expectRenders(r.scene);
}

TEST(PovScene, ChildrenAreDeclaredFirstAndOnce) {
  LibBuilder b;
  int top = b.add("T");
  int a = b.add("A");
  int c = b.add("C");
  int leaf = b.add("B");
  b.sref(top, "A");
  b.sref(top, "C", GDSmakeTransf({1000, 0}, 0, 0, 1));
  b.sref(a, "B");
  b.sref(a, "B", GDSmakeTransf({0, 100}, 0, 0, 1));
  b.sref(c, "B");
  b.rect(leaf, 1, 0, 0, 10, 10);
  SceneRun r = standardScene(b, "T");
  EXPECT_EQ(declared(r.scene), (std::vector<std::string>{"B", "A", "C", "T"}));
  auto echo = [&](const char* n) { return echoFor(b.lib, n); };
  // Scene, then the ordering walk (B is walked again under A), then the
  // four declarations.
  EXPECT_EQ(r.out, echo("T") + echo("T") + echo("A") + echo("B") + echo("B") + echo("C") + echo("B") + echo("B") +
                       echo("A") + echo("C") + echo("T"));
  // A holds two objects, C one.
  EXPECT_NE(r.scene.find("#declare A = union {\n//Sref\n object { B \n"), std::string::npos);
  EXPECT_NE(r.scene.find("#declare C = \n//Sref\n object { B \n"), std::string::npos);
  EXPECT_NE(r.scene.find("object { T scale <1.0,1000.000000,1.0> }\n// end of povray file\n"), std::string::npos);
  expectRenders(r.scene);
}

TEST(PovScene, MirroredAndRotatedReferences) {
  LibBuilder b;
  int top = b.add("TOP");
  int cell = b.add("CELL");
  b.sref(top, "CELL", GDSmakeTransf({100, 200}, 1, 0, 1));
  b.sref(top, "CELL", GDSmakeTransf({-50, 0}, 0, 90, 2));
  b.rect(cell, 1, 0, 0, 10, 5);
  SceneRun r = standardScene(b);
  EXPECT_NE(r.scene.find("#declare TOP = union {\n"
                         "//Sref\n"
                         " object { CELL \n"
                         "  scale < 1.000000,1.0,-1.000000>\n"
                         "  rotate < 0.0,-0.000000,0.0 >\n"
                         "  translate <100.000000,0.0,200.000000 >\n"
                         " }\n"
                         "//Sref\n"
                         " object { CELL \n"
                         "  scale < 2.000000,1.0,2.000000>\n"
                         "  rotate < 0.0,-90.000000,0.0 >\n"
                         "  translate <-50.000000,0.0,0.000000 >\n"
                         " }\n"
                         "}\n"),
            std::string::npos)
      << r.scene;
  expectRenders(r.scene);
}

TEST(PovScene, ArrayOfTwoColumnsAndThreeRows) {
  LibBuilder b;
  int top = b.add("TOP");
  int cell = b.add("CELL");
  b.aref(top, "CELL", 2, 3, 100, 100);
  b.rect(cell, 1, 0, 0, 10, 5);
  SceneRun r = standardScene(b);
  std::string want = "#declare TOP = union {\n//Aref:\n";
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j)
      want += "//Sref\n object { CELL \n  scale < 1.000000,1.0,1.000000>\n  rotate < 0.0,-0.000000,0.0 >\n"
              "  translate <" +
              std::to_string(i * 100) + ".000000,0.0," + std::to_string(j * 100) + ".000000 >\n }\n";
  want += "}\n";
  EXPECT_NE(r.scene.find(want), std::string::npos) << r.scene;
  EXPECT_EQ(countOf(r.err, "Rendering Aref->POV\n  Rows: 3\n  Cols: 2\n  RowSpace: 100\n  ColSpace: 100\n"), 1u);
  expectRenders(r.scene);
}

TEST(PovScene, ReferencesToNothingVisibleWriteNothing) {
  LibBuilder b;
  int top = b.add("TOP");
  int hid = b.add("HID");
  b.aref(top, "HID", 2, 3, 100, 100);
  b.sref(top, "HID");
  b.rect(top, 1, 0, 0, 10, 10);
  b.rect(hid, 3, 0, 0, 10, 10);
  SceneRun r = standardScene(b);
  EXPECT_EQ(declared(r.scene), std::vector<std::string>{"TOP"});
  EXPECT_NE(r.scene.find("#declare TOP = \n//Aref:\n box {"), std::string::npos) << r.scene;
  EXPECT_EQ(r.scene.find("//Sref"), std::string::npos);
  EXPECT_EQ(r.err.find("Rendering Aref"), std::string::npos);
  expectRenders(r.scene);
}

TEST(PovScene, HiddenEntriesHaveNoTexture) {
  LibBuilder b;
  int top = b.add("TOP");
  b.rect(top, 1, 0, 0, 10, 10);
  SceneRun r = standardScene(b);
  EXPECT_EQ(countOf(r.scene, "= texture {"), 2u);
  EXPECT_EQ(r.scene.find("GDS_TEX_-1"), std::string::npos);
  EXPECT_EQ(r.scene.find("GDS_TEX_3"), std::string::npos);
  EXPECT_EQ(r.scene.find("hidden3"), std::string::npos);
}

TEST(PovScene, MissingTopStructure) {
  LibBuilder b;
  b.add("A");
  b.add("B");
  SceneRun r = standardScene(b, "NOPE");
  EXPECT_EQ(r.scene, "");
  EXPECT_EQ(r.out, "\"A\"\n\"B\"\n");
  EXPECT_EQ(r.err, "Couldn't find the structure named \"NOPE\"\n");
}

TEST(PovScene, UnwritableFileIsFatal) {
  LibBuilder b;
  b.rect(b.add("TOP"), 1, 0, 0, 1, 1);
  b.doneAsRead();
  qm::LayerTable t = standardTable();
  EXPECT_FAILURE(qm::POVwriteScene(con, b.lib, t, "/nonexistent-dir/x.pov", "TOP"), 1,
              "^Couldn't open /nonexistent-dir/x.pov for writing. Aborting...\n$");
}

TEST(PovScene, TextOnUnconfiguredLayerOnlyWarns) {
  LibBuilder b;
  int top = b.add("TOP");
  b.text(top, 9, "hello");
  b.rect(top, 1, 0, 0, 10, 10);
  SceneRun r = standardScene(b);
  EXPECT_NE(r.scene.find("#declare TOP = \n box {"), std::string::npos);
  // Once in the count of TOP's buckets, once in the walk.
  EXPECT_EQ(countOf(r.err, kWarn9), 2u);
  expectRenders(r.scene);
}

TEST(PovScene, UnboundReference) {
  LibBuilder b;
  int top = b.add("TOP");
  b.sref(top, "GHOST");
  b.rect(top, 1, 0, 0, 10, 10);
  SceneRun r = standardScene(b);
  EXPECT_EQ(declared(r.scene), std::vector<std::string>{"TOP"});
  EXPECT_EQ(r.scene.find("GHOST"), std::string::npos);
  EXPECT_NE(r.err.find("Couldn't find the structure named \"GHOST\"\n"), std::string::npos);
  // Scene, ordering (TOP, GHOST), declarations (GHOST, TOP).
  EXPECT_EQ(r.out, "\"TOP\"\n\"TOP\"\n\"TOP\"\n\"TOP\"\n\"TOP\"\n");
  expectRenders(r.scene);
}

TEST(PovScene, VisibleStructureWithoutObjectsIsAnEmptyUnion) {
  LibBuilder b;
  int top = b.add("TOP");
  int label = b.add("LABEL");
  int wire = b.add("WIRE");
  b.sref(top, "LABEL");
  b.sref(top, "WIRE");
  b.text(label, 1, "only a text");
  b.path(wire, 1, 0, 10, {{5, 5}});
  b.boundary(wire, 1, {{0, 0}, {1, 1}});  // no area: no prism
  SceneRun r = standardScene(b);
  EXPECT_NE(r.scene.find("#declare LABEL = union {\n}\n"), std::string::npos) << r.scene;
  EXPECT_NE(r.scene.find("#declare WIRE = union {\n}\n"), std::string::npos) << r.scene;
  EXPECT_NE(r.scene.find("#declare TOP = union {\n//Sref\n object { LABEL"), std::string::npos) << r.scene;
  EXPECT_NE(r.err.find("PathToBoundary(): don't know to handle wires < 2 pts yet\n"), std::string::npos);
  expectRenders(r.scene);
}

TEST(PovScene, TopWithNothingVisible) {
  LibBuilder b;
  int top = b.add("TOP");
  b.rect(top, 3, 0, 0, 10, 10);
  SceneRun r = standardScene(b);
  EXPECT_EQ(declared(r.scene), std::vector<std::string>{});
  EXPECT_EQ(r.scene.find("object {"), std::string::npos);
  std::string tail = textures() + "// end of povray file\n";
  EXPECT_EQ(r.scene.substr(r.scene.size() - tail.size()), tail);
  expectRenders(r.scene);
}

TEST(PovScene, WiresBecomeOutlines) {
  LibBuilder b;
  int top = b.add("TOP");
  b.path(top, 1, 0, 20, {{0, 0}, {100, 0}});
  b.path(top, 1, 2, 20, {{0, 0}, {100, 0}, {100, 100}});
  SceneRun r = standardScene(b);
  // The straight wire's outline is a rectangle, the bent one a prism of
  // 2n+1 points.
  EXPECT_NE(r.scene.find(" box { <100.000000,2.000000,-10.000000> <0.000000,1.000000,10.000000>\n"),
            std::string::npos)
      << r.scene;
  EXPECT_NE(r.scene.find("  linear_spline 2.000000,1.000000,7\n"), std::string::npos) << r.scene;
  expectRenders(r.scene);
}

TEST(PovScene, VerticalScaleWithoutMeterUnit) {
  LibBuilder b;
  b.rect(b.add("TOP"), 1, 0, 0, 10, 10);
  b.lib.meterunit = 0;
  SceneRun r = standardScene(b);
  EXPECT_NE(r.scene.find("// UserUnit: 1.000000e-03 MeterUnit: 0.000000e+00 \n"), std::string::npos);
  EXPECT_NE(r.scene.find("//   by 1.000000e+03 at the end of the file.\n"), std::string::npos);
  EXPECT_NE(r.scene.find("object { TOP scale <1.0,1000.000000,1.0> }\n"), std::string::npos);
  expectRenders(r.scene);
}

TEST(PovScene, SinglePointExtentKeepsTheCameraApart) {
  LibBuilder b;
  int top = b.add("TOP");
  b.sref(top, "CELL", GDSmakeTransf({40, 70}, 0, 0, 0));
  b.rect(b.add("CELL"), 1, 0, 0, 10, 10);
  SceneRun r = standardScene(b);
  EXPECT_NE(r.scene.find(" location <40.000000,1.000000,70.000000>\n look_at <40.000000,0,70.000000>\n"),
            std::string::npos)
      << r.scene;
  expectRenders(r.scene);
}

TEST(PovScene, EmptyExtent) {
  LibBuilder b;
  int top = b.add("TOP");
  b.text(top, 1, "label");
  SceneRun r = standardScene(b);
  EXPECT_NE(r.scene.find("// Bounding box is (-2147483647,-2147483647)-(2147483647,2147483647)\n"),
            std::string::npos);
  // The 32-bit differences of the empty extent wrap to 2.
  EXPECT_NE(r.scene.find(" location <2147483647.000000,4.000000,2147483647.000000>\n"
                         " look_at <0.000000,0,0.000000>\n"),
            std::string::npos)
      << r.scene;
  EXPECT_NE(r.scene.find("#declare TOP = union {\n}\nobject { TOP"), std::string::npos) << r.scene;
  EXPECT_NE(r.err.find("scalex = 26010.000000, scaley = 33660.000000\n"), std::string::npos) << r.err;
  expectRenders(r.scene);
}

TEST(PovScene, NonFiniteNumbersStayOutOfTheScene) {
  LibBuilder b;
  b.rect(b.add("TOP"), 1, 0, 0, 10, 10);
  b.doneAsRead();
  Layer odd{1, -1, false, INFINITY, NAN, 0.5, INFINITY, 1, "odd"};
  qm::LayerTable t = makeTable({odd});
  SceneRun r = writeScene(b.lib, t, "TOP");
  EXPECT_EQ(r.scene.find("inf"), std::string::npos) << r.scene;
  EXPECT_EQ(r.scene.find("nan"), std::string::npos) << r.scene;
  expectRenders(r.scene);
}

TEST(PovScene, CycleIsFatal) {
  LibBuilder b;
  int a = b.add("A");
  int c = b.add("B");
  b.sref(a, "B");
  b.sref(c, "A");
  b.rect(c, 1, 0, 0, 1, 1);
  b.doneAsRead();
  qm::LayerTable t = standardTable();
  qmtest::TempDir d;
  EXPECT_FAILURE(qm::POVwriteScene(con, b.lib, t, d.file("result.pov"), "A"), 1,
              "Cyclic reference to structure \"A\". Aborting\n");
}

TEST(PovScene, NegativeArrayCountsHoldNoMembers) {
  LibBuilder b;
  int top = b.add("TOP");
  b.aref(top, "CELL", -2, -3, 10, 10);
  b.rect(top, 1, 0, 0, 10, 10);
  b.rect(b.add("CELL"), 1, 0, 0, 5, 5);
  SceneRun r = standardScene(b);
  EXPECT_NE(r.scene.find("#declare TOP = \n//Aref:\n box {"), std::string::npos) << r.scene;
  EXPECT_EQ(r.scene.find("//Sref"), std::string::npos);
  expectRenders(r.scene);
}

// "L" + number, built without the temporary that trips the compiler's
// restrict warning.
std::string numbered(const char* prefix, int i, const char* suffix = "") {
  std::string s(prefix);
  s += std::to_string(i);
  s += suffix;
  return s;
}

// ---------------------------------------------------------------------------
// The fast walks give the plain walks' bytes.

qm::GDSlibrary* randomLibrary(LibBuilder& b, std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  int n = 2 + pick(7);
  for (int i = 0; i < n; ++i) b.add(numbered("S", i, pick(4) == 0 ? "-x" : ""));
  const int layers[] = {1, 2, 3, 9};
  for (int i = 0; i < n; ++i) {
    int cells = pick(6);
    for (int k = 0; k < cells; ++k) {
      int layer = layers[pick(4)];
      int dt = pick(2);
      int x = pick(200) - 100, y = pick(200) - 100;
      switch (pick(7)) {
        case 0:
          b.rect(i, {layer, dt}, x, y, x + 1 + pick(50), y + 1 + pick(50));
          break;
        case 1:
          b.boundary(i, {layer, dt}, {{x, y}, {x + 30, y + 5}, {x + 10, y + 40}, {x, y}});
          break;
        case 2: {
          std::vector<GDSpoint> pts;
          int np = pick(4);
          for (int p = 0; p < np; ++p) pts.push_back({x + 20 * p, y + pick(30)});
          b.path(i, {layer, dt}, pick(2) * 2, 2 * pick(10), pts);
          break;
        }
        case 3:
          b.text(i, {layer, dt}, "t");
          break;
        default: {
          // References point further down the list, or nowhere.
          std::string target = i + 1 < n && pick(6) != 0 ? b.lib.structs[static_cast<std::size_t>(i + 1 + pick(n - i - 1))].strname
                                                         : "MISSING";
          GDStransf tr = GDSmakeTransf({x, y}, pick(2), 90.0 * pick(4) + (pick(3) == 0 ? 30 : 0), 1 + pick(2));
          if (pick(2)) b.sref(i, target, tr);
          else b.aref(i, target, pick(4) - 1, 1 + pick(3), pick(50), pick(50), tr);
          break;
        }
      }
    }
  }
  b.doneAsRead();
  return &b.lib;
}

TEST(PovScene, FastAndPlainWalksAgree) {
  std::mt19937 rng(12345);
  qm::LayerTable t = standardTable();
  for (int iter = 0; iter < 40; ++iter) {
    LibBuilder b;
    randomLibrary(b, rng);
    const std::string& top = b.lib.structs[0].strname;
    SceneRun fast = writeScene(b.lib, t, top, false);
    SceneRun plain = writeScene(b.lib, t, top, true);
    ASSERT_EQ(fast.scene, plain.scene) << "iteration " << iter;
    ASSERT_EQ(fast.out, plain.out) << "iteration " << iter;
    ASSERT_EQ(fast.err, plain.err) << "iteration " << iter;
    if (iter % 8 == 0) expectRenders(fast.scene);
  }
}

// Standard output on a descriptor takes long echoes from the library
// without copying them; it must hold what a stream in memory collects,
// also when the run fails (a scene that cannot be written) and the library
// is gone before the stream is written out.
TEST(PovScene, EchoOnADescriptorAsInMemory) {
  for (bool full : {false, true}) {
    SCOPED_TRACE(full);
    auto build = [](LibBuilder& b) {
      // Many long names: every echo down to a leaf is kilobytes long.
      const int32_t top = b.add("TOP");
      const int32_t mid = b.add("MID");
      for (int i = 0; i < 300; ++i) b.add(numbered("A_LEAF_WITH_A_RATHER_LONG_NAME_", i));
      for (int i = 0; i < 300; ++i) {
        const std::string leaf = numbered("A_LEAF_WITH_A_RATHER_LONG_NAME_", i);
        b.rect(2 + i, 1 + i % 3, 0, 0, 10 + i, 10);
        b.sref(mid, leaf, GDSmakeTransf({i * 20, 0}, 0, 0, 1));
        if (i % 7 == 0) b.sref(top, leaf, GDSmakeTransf({0, i * 20}, i % 2, 90 * (i % 4), 1));
      }
      b.aref(top, "MID", 2, 3, 10000, 500);
      b.sref(top, "MID", GDSmakeTransf({-5, 7}, 0, 0, 1));
      b.doneAsRead();
    };
    qm::LayerTable t = standardTable();
    qmtest::TempDir d;
    auto scene = [&](const std::string& name) { return full ? std::string("/dev/full") : d.file(name); };
    // In memory.
    std::string memOut, memErr;
    {
      LibBuilder b;
      build(b);
      qm::CaptureStd cap;
      std::string failure;
      try {
        qm::POVwriteScene(cap.console(), b.lib, t, scene("mem.pov"), "TOP");
      } catch (const qm::Failure& f) {
        failure = f.message;
      }
      EXPECT_EQ(failure.empty(), !full);
      memOut = cap.out();
      memErr = cap.err() + failure;
    }
    // On a descriptor, the library freed before the stream is written out.
    {
      const int fd = ::open(d.file("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ASSERT_GE(fd, 0);
      qm::Out o(fd, true);
      qm::Out e{qm::Out::Memory{}};
      const qm::Console con{o, e};
      std::string failure;
      {
        auto b = std::make_unique<LibBuilder>();
        build(*b);
        try {
          qm::POVwriteScene(con, b->lib, t, scene("fd.pov"), "TOP");
        } catch (const qm::Failure& f) {
          failure = f.message;
        }
        b.reset();
        // Memory the library had may now hold anything else.
        std::string scratch(1 << 20, '#');
        EXPECT_EQ(scratch.back(), '#');
      }
      EXPECT_TRUE(o.close());
      EXPECT_EQ(e.str() + failure, memErr);
    }
    const std::string out = d.read("out.txt");
    EXPECT_GT(out.size(), 1000000u);
    EXPECT_TRUE(out == memOut) << out.size() << " against " << memOut.size();
    if (!full) {
      EXPECT_EQ(d.read("fd.pov"), d.read("mem.pov"));
    }
  }
}

// A deep shared hierarchy: the plain count is exponential, the fast one is
// not, and the bytes are the same.
TEST(PovScene, SharedHierarchyWithUnconfiguredLayers) {
  LibBuilder b;
  const int depth = 12;
  for (int i = 0; i < depth; ++i) b.add(numbered("L", i));
  for (int i = 0; i + 1 < depth; ++i) {
    b.sref(i, numbered("L", i + 1));
    b.sref(i, numbered("L", i + 1), GDSmakeTransf({100, 0}, 0, 0, 1));
  }
  b.rect(depth - 1, 1, 0, 0, 10, 10);
  b.text(depth - 1, 9, "t");
  b.doneAsRead();
  qm::LayerTable t = standardTable();
  SceneRun fast = writeScene(b.lib, t, "L0", false);
  SceneRun plain = writeScene(b.lib, t, "L0", true);
  EXPECT_EQ(fast.scene, plain.scene);
  EXPECT_EQ(fast.out, plain.out);
  EXPECT_EQ(fast.err, plain.err);
  EXPECT_GT(countOf(fast.err, kWarn9), 1000u);
  expectRenders(fast.scene);
}

}  // namespace
