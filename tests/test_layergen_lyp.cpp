// layergen --lyp: configurations from layer-properties files, run as built.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/out.h"
#include "gdsw.h"
#include "layers/config.h"
#include "need_tool.h"
#include "ppm_image.h"
#include "runner.h"

namespace {

// A <properties> element.
std::string props(const std::string& source, const std::string& pattern = "I0", const std::string& colour = "#ff0000",
                  const std::string& name = "", const std::string& extra = "") {
  std::string s = "  <properties>\n";
  if (!colour.empty()) s += "    <fill-color>" + colour + "</fill-color>\n";
  if (!pattern.empty()) s += "    <dither-pattern>" + pattern + "</dither-pattern>\n";
  s += extra;
  if (!name.empty()) s += "    <name>" + name + "</name>\n";
  s += "    <source>" + source + "</source>\n  </properties>\n";
  return s;
}

// A <custom-dither-pattern> element from its rows, top row first.
std::string custom(const std::vector<std::string>& rows, const std::string& name = "") {
  std::string s = "  <custom-dither-pattern>\n    <pattern>\n";
  for (const std::string& r : rows) s += "      <line>" + r + "</line>\n";
  s += "    </pattern>\n    <order>0</order>\n";
  if (!name.empty()) s += "    <name>" + name + "</name>\n";
  return s + "  </custom-dither-pattern>\n";
}

std::string lypFile(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<layer-properties>\n" + body + "</layer-properties>\n";
}

// Runs layergen --lyp on `lyp` (and --stack on `stack` when given).
qmtest::RunResult gen(const std::string& lyp, const std::string& stack = "") {
  qmtest::TempDir d;
  d.write("in.lyp", lyp);
  std::vector<std::string> args = {"--lyp", "in.lyp"};
  if (!stack.empty()) {
    d.write("in.stack", stack);
    args.insert(args.end(), {"--stack", "in.stack"});
  }
  return qmtest::run(QM_LAYERGEN, args, d.path());
}

// The configuration read back by quillmask's reader, which must not complain.
struct ReadBack {
  qm::LayerTable table;
  int count = 0;
  std::string err;
  // The entry for (layer, datatype); datatype -1: the entry without one.
  const qm::LayerEntry* find(int layer, int datatype) const {
    for (int i = 1; i < count; ++i) {
      const qm::LayerEntry& e = table[i];
      if (e.gdsno == layer && (datatype < 0 ? e.hasDatatype == 0 : e.hasDatatype && e.datatype == datatype))
        return &e;
    }
    return nullptr;
  }
};

ReadBack readBack(const std::string& text) {
  ReadBack rb;
  std::FILE* f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  {
    qm::CaptureStd cap;
    rb.count = qm::ReadLayerConfig(cap.console(), f, rb.table);
    rb.err = cap.err();
  }
  std::fclose(f);
  return rb;
}

TEST(LayergenLyp, WholeOutputOfOneEntry) {
  std::string lyp =
      "<?xml version=\"1.0\"?>\n<!-- Example layers\n  two lines -->\n<layer-properties>\n" +
      props("8/0", "I8", "#3366cc", "Metal1.drawing") + "</layer-properties>\n";
  auto r = gen(lyp);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "# Layer configuration written by layergen from in.lyp\n"
            "# Example layers\n"
            "# two lines\n"
            "\n"
            "# Metal1.drawing 8/0: pattern I8, lines at 45.00 degrees: single hatching\n"
            "newlayer\n gdsno 8\n datatype 0\n hidden no\n name Metal1.drawing\n"
            " red 0.200\n green 0.400\n blue 0.800\n fill no\n hatch single\n angle 45.00\n step 3.12\n"
            " thickness 0.100000\n depth 0.800000\nendlayer\n\n");
}

TEST(LayergenLyp, DitherPatternsBecomeFillOrHatching) {
  struct Case {
    const char* what;
    std::string pattern;                // the <dither-pattern> value
    std::vector<std::string> bitmap;    // the custom pattern it names, if any
    int fill, hatch;
    double angle;
  } cases[] = {
      {"standard solid", "I0", {}, 1, 0, 0},
      {"standard hollow", "I1", {}, 0, 0, 0},
      {"standard dotted", "I2", {}, 0, 0, 0},
      {"standard left-hatched", "I4", {}, 0, 1, 135},
      {"standard right-hatched", "I9", {}, 0, 1, 45},
      {"standard cross-hatched", "I12", {}, 0, 2, 45},
      {"standard 22.5 degree up", "I24", {}, 0, 1, 22.5},
      {"standard 22.5 degree cross", "I27", {}, 0, 2, 22.5},
      {"standard vertical", "I33", {}, 0, 0, 0},
      {"standard horizontal", "I38", {}, 0, 0, 0},
      {"standard grid", "I43", {}, 0, 2, 45},
      {"unknown standard index", "I47", {}, 0, 0, 0},
      {"no such custom pattern", "C5", {}, 0, 0, 0},
      {"custom full", "C0", {"****", "****", "****", "****"}, 1, 0, 0},
      {"custom blank", "C0", {"....", "....", "....", "...."}, 0, 0, 0},
      {"custom blank written with spaces", "C0", {"    ", "    "}, 0, 0, 0},
      {"custom rising diagonal", "C0",
       {"...*....", "..*.....", ".*......", "*.......", ".......*", "......*.", ".....*..", "....*..."}, 0, 1, 45},
      {"custom falling diagonal", "C0", {"*...", ".*..", "..*.", "...*"}, 0, 1, 135},
      {"custom shallow lines", "C0",
       {"**......", "..**....", "....**..", "......**"}, 0, 1, 153.43},
      {"custom crossed diagonals", "C0", {"*...*...", ".*.*.*.*", "..*...*.", ".*.*.*.*"}, 0, 2, 45},
      {"custom square grid", "C0", {"********", "*...*...", "*...*...", "*...*..."}, 0, 2, 45},
      {"custom vertical lines", "C0", {"*...", "*...", "*...", "*..."}, 0, 0, 0},
      {"custom horizontal lines", "C0", {"....", "****", "....", "...."}, 0, 0, 0},
      {"custom checkerboard", "C0", {"*.*.", ".*.*", "*.*.", ".*.*"}, 0, 0, 0},
      {"custom sparse dots", "C0", {"*...", "....", "..*.", "...."}, 0, 0, 0},
      {"custom scattered stipple", "C0",
       {"......*.", ".*......", "....*...", "........", "..*....*", "........", "*.....*.", "...*...."}, 0, 0, 0},
      {"custom nearly full", "C0", {"****", "*.**", "****", "***."}, 1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string body = props("5/0", c.pattern);
    if (!c.bitmap.empty()) body += custom(c.bitmap);
    auto r = gen(lypFile(body));
    ASSERT_EQ(r.status, 0) << r.err;
    ReadBack rb = readBack(r.out);
    EXPECT_EQ(rb.err, "");
    ASSERT_EQ(rb.count, 2);
    const qm::LayerEntry& e = rb.table[1];
    EXPECT_EQ(e.fill, c.fill);
    EXPECT_EQ(e.hatch, c.hatch);
    if (c.hatch) {
      EXPECT_NEAR(e.angle, c.angle, 0.006);
      EXPECT_GT(e.step, 0);
      // The page cannot hatch horizontally or vertically.
      EXPECT_NE(std::fmod(e.angle, 90.0), 0.0);
    }
  }
}

TEST(LayergenLyp, CustomPatternsAreNumberedInFileOrder) {
  std::string body = props("1/0", "C1") + props("2/0", "C0") + custom({"****", "****"}, "full") +
                     custom({"*...", ".*..", "..*.", "...*"}, "falling");
  auto r = gen(lypFile(body));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("# L1_0 1/0: pattern C1 (falling), lines at 135.00 degrees: single hatching\n"),
            std::string::npos)
      << r.out;
  ReadBack rb = readBack(r.out);
  EXPECT_EQ(rb.find(1, 0)->hatch, 1);
  EXPECT_EQ(rb.find(2, 0)->fill, 1);
}

TEST(LayergenLyp, SourcesNamesColoursAndVisibility) {
  std::string body = props("8/0@1", "I0", "#ff8000", "Metal 1 (drawing)") +  // layout suffix
                     props(" 9/3 ", "I1", "#abc") +                          // no name, short colour
                     props("10/*", "I1", "", "any", "    <frame-color>#00ff00</frame-color>\n") +
                     props("11/0", "I1", "#000000", "off", "    <visible>false</visible>\n") +
                     props("12/0", "I1", "#000000", "bad", "    <valid>false</valid>\n") +
                     props("13/0", "I1", "#000000", "any") +  // a name already taken
                     props("METAL1", "I1", "#000000", "byname") +  // no layer number: skipped
                     props("8/0", "I1", "#000000", "again");      // the same source: the first wins
  auto r = gen(lypFile(body));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("in.lyp: skipping entry 7 'byname': its source 'METAL1' is not LAYER/DATATYPE"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("in.lyp: 8/0 is listed again as 'again'; the first entry is kept"), std::string::npos)
      << r.err;
  ReadBack rb = readBack(r.out);
  EXPECT_EQ(rb.err, "");
  ASSERT_EQ(rb.count, 7);

  const qm::LayerEntry* m1 = rb.find(8, 0);
  ASSERT_NE(m1, nullptr);
  EXPECT_EQ(m1->name, "Metal_1__drawing_");
  EXPECT_EQ(m1->hidden, 0);
  EXPECT_EQ(m1->red, 1.0);
  EXPECT_EQ(m1->green, 0.502);
  EXPECT_EQ(m1->blue, 0.0);
  EXPECT_EQ(m1->fill, 1);

  const qm::LayerEntry* unnamed = rb.find(9, 3);
  ASSERT_NE(unnamed, nullptr);
  EXPECT_EQ(unnamed->name, "L9_3");
  EXPECT_EQ(unnamed->red, 0.667);
  EXPECT_EQ(unnamed->green, 0.733);
  EXPECT_EQ(unnamed->blue, 0.8);

  const qm::LayerEntry* any = rb.find(10, -1);  // every datatype of 10
  ASSERT_NE(any, nullptr);
  EXPECT_EQ(any->name, "any");
  EXPECT_EQ(any->green, 1.0);  // from the frame colour

  EXPECT_EQ(rb.find(11, 0)->hidden, 1);
  EXPECT_EQ(rb.find(12, 0)->hidden, 1);
  EXPECT_EQ(rb.find(13, 0)->name, "any_L13_0");
}

TEST(LayergenLyp, GroupsAreFlattened) {
  // A group member is a <group-members> element holding what a <properties>
  // element holds.
  auto member = [](const std::string& p) {
    std::string m = p;
    m.replace(m.find("<properties>"), 12, "<group-members>");
    m.replace(m.find("</properties>"), 13, "</group-members>");
    return m;
  };
  std::string body = props("1/0", "I0", "#111111", "before") +
                     "  <properties>\n    <name>group</name>\n    <source>*/*@*</source>\n" +
                     member(props("2/0", "I0", "#ff0000", "inner.a")) +
                     member(props("3/0", "I1", "#00ff00", "inner.b")) + "  </properties>\n" +
                     "  <properties>\n    <visible>false</visible>\n" +
                     member(props("4/0", "I0", "#0000ff", "gone")) + "  </properties>\n" +
                     props("5/0", "I0", "#222222", "after");
  auto r = gen(lypFile(body));
  ASSERT_EQ(r.status, 0) << r.err;
  ReadBack rb = readBack(r.out);
  ASSERT_EQ(rb.count, 6) << r.out;
  EXPECT_EQ(rb.table[1].name, "before");
  EXPECT_EQ(rb.table[2].name, "inner.a");
  EXPECT_EQ(rb.table[3].name, "inner.b");
  EXPECT_EQ(rb.table[4].name, "gone");
  EXPECT_EQ(rb.table[4].hidden, 1);
  EXPECT_EQ(rb.table[5].name, "after");
  EXPECT_EQ(rb.table[2].hidden, 0);
}

// The page and the plot draw every shape of a layer number once per entry:
// one entry of a number carries the fill or hatching, the others outline,
// and the styled one comes last.
TEST(LayergenLyp, OneStyledEntryPerLayerNumber) {
  std::string body = props("8/0", "I9", "#0000ff", "m1", "    <visible>false</visible>\n") +
                     props("8/1", "I0", "#00ff00", "m1pin") + props("7/0", "I0", "#ff0000", "other") +
                     props("8/2", "I12", "#ff00ff", "m1text");
  auto r = gen(lypFile(body));
  ASSERT_EQ(r.status, 0) << r.err;
  ReadBack rb = readBack(r.out);
  ASSERT_EQ(rb.count, 5);
  // m1 is hidden, so the first visible entry of 8 (m1pin) keeps its fill.
  EXPECT_EQ(rb.table[1].name, "m1");
  EXPECT_EQ(rb.table[1].hatch, 0);
  EXPECT_EQ(rb.table[2].name, "m1text");
  EXPECT_EQ(rb.table[2].hatch, 0);
  EXPECT_EQ(rb.table[2].fill, 0);
  EXPECT_EQ(rb.table[3].name, "m1pin");
  EXPECT_EQ(rb.table[3].fill, 1);
  EXPECT_EQ(rb.table[4].name, "other");
  EXPECT_EQ(rb.table[4].fill, 1);
  EXPECT_NE(r.out.find("# m1text 8/2: pattern I12, crossed lines at 45.00 and 135.00 degrees: cross hatching; "
                       "outlines only, as layer 8 takes its fill and hatching from m1pin\n"),
            std::string::npos)
      << r.out;
}

TEST(LayergenLyp, StackSetsDepthAndThickness) {
  std::string body = props("8/0", "I0") + props("8/2", "I1") + props("10/0", "I1") + props("66/0", "I1");
  std::string stack =
      "# metal stack\n"
      "8/0   1.46 0.42   # metal1\n"
      "\n"
      "8/*\t2.0\t0.5\n"
      "66/0 5.09 0.54\n"
      "99/0 1 1\n";  // not in the file: no effect
  auto r = gen(lypFile(body), stack);
  ASSERT_EQ(r.status, 0) << r.err;
  ReadBack rb = readBack(r.out);
  ASSERT_EQ(rb.count, 5);
  EXPECT_EQ(rb.find(8, 0)->depth, 1.46);
  EXPECT_EQ(rb.find(8, 0)->thickness, 0.42);
  EXPECT_EQ(rb.find(8, 2)->depth, 2.0);
  EXPECT_EQ(rb.find(8, 2)->thickness, 0.5);
  EXPECT_EQ(rb.find(66, 0)->depth, 5.09);
  // Not in the table: the generator's defaults.
  EXPECT_EQ(rb.find(10, 0)->depth, 1.0);
  EXPECT_EQ(rb.find(10, 0)->thickness, 0.1);
}

TEST(LayergenLyp, BadInputStopsWithNothingOnStandardOutput) {
  struct Case {
    const char* what;
    std::string lyp, stack, message;
  } cases[] = {
      {"not XML", "hello\n", "", "in.lyp: not a layer-properties file: it holds no XML element"},
      {"empty", "", "", "in.lyp: not a layer-properties file: it holds no XML element"},
      {"broken XML", "<layer-properties>\n<properties>\n</layer-properties>\n", "",
       "in.lyp: not well-formed XML at line 3, column"},
      {"another XML", "<html><body/></html>", "",
       "in.lyp: not a layer-properties file: the root element is <html>, not <layer-properties>"},
      {"no layers", lypFile(""), "", "in.lyp: no layer entry with a LAYER/DATATYPE source"},
      {"bad colour", lypFile(props("1/0", "I0", "red")), "",
       "in.lyp: <fill-color> of entry 1 (1/0) is 'red'; a colour #rrggbb expected"},
      {"bad flag", lypFile(props("1/0", "I0", "#000000", "x", "    <visible>maybe</visible>\n")), "",
       "in.lyp: <visible> of entry 1 'x' is 'maybe'; true or false expected"},
      {"ragged custom pattern", lypFile(props("1/0", "C0") + custom({"**..", "*."})), "",
       "in.lyp: custom dither pattern C0: line 2 has 2 pixels, line 1 has 4"},
      {"strange pixel", lypFile(props("1/0", "C0") + custom({"*o*."})), "",
       "in.lyp: custom dither pattern C0: line 1 holds '*o*.'"},
      {"stack: two fields", lypFile(props("1/0")), "1/0 0.5\n",
       "in.stack: line 1: 2 fields; expected LAYER/DATATYPE depth thickness"},
      {"stack: bad number", lypFile(props("1/0")), "# c\n1/0 0.5 thick\n",
       "in.stack: line 2: thickness 'thick' is not a number"},
      {"stack: bad source", lypFile(props("1/0")), "metal1 0.5 0.1\n",
       "in.stack: line 1: 'metal1' is not LAYER/DATATYPE"},
      {"stack: twice", lypFile(props("1/0")), "1/0 1 1\n1/0 2 2\n", "in.stack: line 2: 1/0 given twice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = gen(c.lyp, c.stack);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("layergen: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  // Files that cannot be read.
  qmtest::TempDir d;
  auto r = qmtest::run(QM_LAYERGEN, {"--lyp", "missing.lyp"}, d.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "layergen: missing.lyp: cannot open: No such file or directory\n");
  d.write("ok.lyp", lypFile(props("1/0")));
  r = qmtest::run(QM_LAYERGEN, {"--lyp", "ok.lyp", "--stack", "."}, d.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "layergen: .: cannot read: Is a directory\n");
}

TEST(LayergenLyp, UsageErrors) {
  qmtest::TempDir d;
  d.write("ok.lyp", lypFile(props("1/0")));
  struct Case {
    std::vector<std::string> args;
    std::string first;
  } cases[] = {
      {{"--lyp"}, "layergen: --lyp needs a file name\n"},
      {{"--lyp="}, "layergen: --lyp needs a file name\n"},
      {{"--stack", "s"}, "layergen: --stack needs --lyp\n"},
      {{"--lyp", "ok.lyp", "--lyp", "ok.lyp"}, "layergen: --lyp given twice\n"},
      {{"--lyp", "ok.lyp", "-x"}, "layergen: unknown argument '-x'\n"},
      {{"--verbose", "--lyp=ok.lyp"}, "layergen: unknown argument '--verbose'\n"},
  };
  for (const Case& c : cases) {
    auto r = qmtest::run(QM_LAYERGEN, c.args, d.path(), "poly x 1 0\n");
    EXPECT_EQ(r.status, 1) << c.first;
    EXPECT_EQ(r.out, "") << c.first;
    EXPECT_EQ(r.err.rfind(c.first + "usage: layergen", 0), 0u) << r.err;
  }
  // Both spellings of the option give the same file; standard input is not read.
  auto a = qmtest::run(QM_LAYERGEN, {"--lyp", "ok.lyp"}, d.path(), "poly x 1 0\n");
  auto b = qmtest::run(QM_LAYERGEN, {"--lyp=ok.lyp"}, d.path());
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(a.out, b.out);
  EXPECT_EQ(a.out.find("poly"), std::string::npos);
}

// --- the real PDK file, when it is there ---------------------------------

std::string pdkFile(const std::string& name) {
  return std::string(QM_SOURCE_DIR) + "/../shared/pdk/" + name;
}

TEST(LayergenLyp, RealPdkFileGivesTheBundledConfiguration) {
  std::string lyp = pdkFile("sg13g2.lyp");
  if (!std::filesystem::exists(lyp)) GTEST_SKIP() << "no " << lyp;
  qmtest::TempDir d;
  auto r = qmtest::run(QM_LAYERGEN, {"--lyp", lyp, "--stack", std::string(QM_SOURCE_DIR) + "/examples/sg13g2.stack"},
                       d.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // examples/make_sg13g2_config.sh made the bundled file this way.
  EXPECT_EQ(r.out, qmtest::readFile(std::string(QM_SOURCE_DIR) + "/examples/sg13g2.layers.config"));
  EXPECT_NE(r.out.find("# Copyright 2024 IHP PDK Authors\n"), std::string::npos);

  ReadBack rb = readBack(r.out);
  EXPECT_EQ(rb.err, "");
  EXPECT_EQ(rb.count, 378);
  const qm::LayerEntry* m1 = rb.find(8, 0);
  ASSERT_NE(m1, nullptr);
  EXPECT_EQ(m1->name, "Metal1.drawing");
  EXPECT_EQ(m1->hidden, 0);
  EXPECT_EQ(m1->hatch, 1);  // the PDK's m1 pattern: rising diagonal lines
  EXPECT_EQ(m1->angle, 45);
  EXPECT_EQ(m1->red, 0.224);  // #39bfff
  EXPECT_EQ(m1->green, 0.749);
  EXPECT_EQ(m1->blue, 1.0);
  EXPECT_EQ(m1->depth, 1.46);
  EXPECT_EQ(m1->thickness, 0.42);
  const qm::LayerEntry* m3 = rb.find(30, 0);
  EXPECT_EQ(m3->hatch, 1);  // m3 falls the other way
  EXPECT_EQ(m3->angle, 135);
  EXPECT_EQ(rb.find(1, 0)->name, "Activ.drawing");
  EXPECT_EQ(rb.find(1, 0)->hatch, 0);  // a stipple: outlines
  EXPECT_EQ(rb.find(1, 2)->hidden, 1);  // Activ.pin is not valid
  EXPECT_EQ(rb.find(134, 0)->depth, 14.23);
}

// --- drawn by quillmask ---------------------------------------------------

using Raster = qmtest::PpmImage;
using qmtest::parsePpm;

TEST(LayergenLyp, GeneratedColoursAndPatternsShowOnThePage) {
  QM_NEED_TOOL("gs");
  std::string body = props("1/0", "I0", "#ff0000", "filled") + props("2/0", "C0", "#0000ff", "hatched") +
                     custom({"...*", "..*.", ".*..", "*..."});
  qmtest::TempDir d;
  auto g = gen(lypFile(body));
  ASSERT_EQ(g.status, 0) << g.err;
  d.write("layers.config", g.out);
  gdsw::Gds lib;
  // Side by side, each 100 by 100 microns; the page scale fits 200 microns
  // into 520.2 points.
  lib.lib().bgnstr("TOP").rect(1, 0, 0, 0, 100000, 100000).rect(2, 0, 100000, 0, 200000, 100000).endstr().endlib();
  d.write("in.gds", lib.bytes);
  auto q = qmtest::quillmask({"-i", "in.gds", "-s", "TOP", "-c", "layers.config"}, d.path());
  ASSERT_EQ(q.status, 0) << q.err;
  auto gs = qmtest::run("/bin/sh", {"-c", "exec gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=ppmraw -r72 "
                                           "-sOutputFile=page.ppm result.ps"},
                        d.path());
  ASSERT_EQ(gs.status, 0) << gs.err;
  Raster img;
  ASSERT_TRUE(parsePpm(d.read("page.ppm"), img));
  // One point per pixel; rows count from the top of the page. The
  // drawing starts at (45.9, 59.4) points and each square is 260.1 wide.
  auto sample = [&](double x0, double x1, int& red, int& blue, int& white, int& total) {
    for (double x = x0; x < x1; x += 2)
      for (double y = 80; y < 300; y += 2) {
        const unsigned char* p = img.at(static_cast<int>(x), img.height - static_cast<int>(y));
        ++total;
        red += p[0] > 200 && p[1] < 60 && p[2] < 60;
        blue += p[0] < 60 && p[1] < 60 && p[2] > 200;
        white += p[0] > 200 && p[1] > 200 && p[2] > 200;
      }
  };
  int red = 0, blue = 0, white = 0, total = 0;
  sample(60, 290, red, blue, white, total);
  EXPECT_EQ(red, total);  // filled solid
  red = blue = white = 0, total = 0;
  sample(320, 550, red, blue, white, total);
  EXPECT_EQ(red, 0);
  EXPECT_GT(blue, total / 50);  // hatch lines in the layer's colour...
  EXPECT_GT(white, total / 2);  // ...over white
}

TEST(LayergenLyp, BundledConfigurationDrawsALayout) {
  QM_NEED_TOOL("gs");
  QM_NEED_TOOL("povray");
  qmtest::TempDir d;
  gdsw::Gds lib;
  lib.lib().bgnstr("TOP").rect(1, 0, 0, 0, 10000, 4000).rect(8, 0, 1000, 1000, 9000, 3000);
  lib.rect(8, 2, 1000, 2500, 1500, 3000).rect(10, 0, 6000, 0, 8000, 6000).endstr().endlib();
  d.write("in.gds", lib.bytes);
  auto q = qmtest::quillmask(
      {"-i", "in.gds", "-s", "TOP", "-c", std::string(QM_SOURCE_DIR) + "/examples/sg13g2.layers.config"}, d.path());
  ASSERT_EQ(q.status, 0) << q.err;
  EXPECT_EQ(q.err.find("Warning"), std::string::npos) << q.err;
  auto gs = qmtest::run("/bin/sh", {"-c", "exec gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=ppmraw -r72 "
                                           "-sOutputFile=page.ppm result.ps"},
                        d.path());
  ASSERT_EQ(gs.status, 0) << gs.err;
  Raster img;
  ASSERT_TRUE(parsePpm(d.read("page.ppm"), img));
  // Activ's green outline and Metal1's #39bfff hatching are on the page.
  int green = 0, m1 = 0;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      const unsigned char* p = img.at(x, y);
      green += p[0] < 60 && p[1] > 200 && p[2] < 60;
      m1 += p[0] < 100 && p[1] > 150 && p[1] < 230 && p[2] > 200;
    }
  EXPECT_GT(green, 200);
  EXPECT_GT(m1, 500);
  auto pov = qmtest::run("/bin/sh", {"-c", "exec povray +Iresult.pov +Oscene.png +W160 +H120 -D -V +FN"}, d.path());
  EXPECT_EQ(pov.status, 0) << pov.err;
  EXPECT_EQ(pov.err.find("Parse Error"), std::string::npos) << pov.err;
  EXPECT_TRUE(d.exists("scene.png"));
}

}  // namespace
