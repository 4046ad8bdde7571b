// The PostScript page writer: page fit, passes, references, failures, and
// the fast walk against the plain one.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/out.h"
#include "plain_walks.h"
#include "gdsw.h"
#include "ps/ps.h"
#include "ps_testlib.h"
#include "runner.h"
#include "failure.h"

using pstest::LibBuilder;
using pstest::block;
using pstest::shift;
using qmtest::TempDir;

namespace {

struct Page {
  bool written = false;
  std::string ps, out, err;
  int layerCount = 0;
};

Page page(const qm::GDSlibrary& lib, const std::string& config, const std::string& top = "TOP",
          const qm::Walks& walks = qm::fastWalks()) {
  TempDir d;
  d.write("layers", config);
  Page p;
  qm::LayerTable table;
  {
    qm::CaptureStd cap;
    qm::PSwritePage(cap.console(), lib, table, d.file("out.ps"), d.file("layers"), top, walks);
    p.out = cap.out();
    p.err = cap.err();
  }
  p.written = d.exists("out.ps");
  if (p.written) p.ps = d.read("out.ps");
  p.layerCount = table.layerCount;
  return p;
}

std::string prologue() {
  qm::Out o{qm::Out::Memory{}};
  qm::PSwritePrologue(o);
  return o.str();
}

// What follows the fit lines.
std::string body(const std::string& ps) {
  std::size_t k = ps.find("0 setlinewidth\n");
  return k == std::string::npos ? std::string() : ps.substr(k + 15);
}

std::string fitLines(const std::string& ps) {
  std::size_t a = ps.find("%%End of prologue\n");
  std::size_t b = ps.find("0 setlinewidth\n");
  if (a == std::string::npos || b == std::string::npos) return {};
  return ps.substr(a + 18, b - a - 18);
}

// Runs the page writer with a fresh table (the configuration's progress
// lines are not looked at where it is used).
void quietPage(const qm::Console& con, const qm::GDSlibrary& lib, const std::string& ps, const std::string& config) {
  qm::LayerTable table;
  qm::PSwritePage(con, lib, table, ps, config, "TOP");
}

const std::string kEmpty = "minx = 2147483647, miny = 2147483647, maxx = -2147483647, maxy = -2147483647\n";

TEST(PsPage, PageFit) {
  struct Case {
    int x0, y0, x1, y1;
    std::string err, fit;
  } cases[] = {
      {0, 0, 10000, 20000, "minx = 0, miny = 0, maxx = 10000, maxy = 20000\nscalex = 5.202000, scaley = 3.366000\n",
       "3.366000 3.366000 scale\n13.636364 17.647059 translate\n"},
      {-5000, 1000, 15000, 11000,
       "minx = -5000, miny = 1000, maxx = 15000, maxy = 11000\nscalex = 2.601000, scaley = 6.732000\n",
       "2.601000 2.601000 scale\n67.647059 12.837370 translate\n"},
      // Zero width: scalex is infinite, scaley is used.
      {100, 0, 100, 20000, "minx = 100, miny = 0, maxx = 100, maxy = 20000\nscalex = inf, scaley = 3.366000\n",
       "3.366000 3.366000 scale\n12.636364 17.647059 translate\n"},
      // A single point: no size to fit, scale 1.
      {500, -700, 500, -700, "minx = 500, miny = -700, maxx = 500, maxy = -700\nscalex = inf, scaley = inf\n",
       "1.000000 1.000000 scale\n40.900000 66.400000 translate\n"},
      // The widest extent: the differences do not overflow.
      {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX,
       "minx = -2147483648, miny = -2147483648, maxx = 2147483647, maxy = 2147483647\n"
       "scalex = 0.000012, scaley = 0.000016\n",
       "0.000012 0.000012 scale\n25264513.505000 26379124.394706 translate\n"},
  };
  for (const auto& c : cases) {
    LibBuilder b;
    int top = b.add("TOP");
    b.rect(top, 1, c.x0, c.y0, c.x1, c.y1);
    Page p = page(b.done(), block("poly", 1));
    EXPECT_EQ(p.err, c.err);
    EXPECT_EQ(fitLines(p.ps), c.fit);
  }
}

TEST(PsPage, EmptyExtentDrawsAtScaleOne) {
  LibBuilder b;
  int top = b.add("TOP");
  b.text(top, 1, "only text", shift(100000, 100000));
  b.path(top, 1, 0, 10, {{5, 5}});  // one point: no outline
  Page p = page(b.done(), block("poly", 1));
  const std::string shortWire = "PathToBoundary(): don't know to handle wires < 2 pts yet\n";
  EXPECT_EQ(p.err, shortWire + kEmpty + "scalex = inf, scaley = inf\n" + shortWire);
  EXPECT_EQ(fitLines(p.ps), "1.000000 1.000000 scale\n45.900000 59.400000 translate\n");
  EXPECT_EQ(body(p.ps),
            "% Layer poly\ngsave\n0.000 0.000 0.000 setrgbcolor\nnewpath\n"
            "/Helvetica 20.000 f\n(only text) 1000 1000 t\nshowpage\n");
}

TEST(PsPage, WholePage) {
  LibBuilder b;
  int top = b.add("TOP");
  b.text(top, 2, "L2", shift(0, 0));
  b.boundary(top, 2, {{0, 0}, {1000, 0}, {0, 1000}, {0, 0}});
  b.rect(top, 1, 0, 0, 10000, 20000);
  int other = b.add("OTHER");
  b.rect(other, 1, 0, 0, 5, 5);
  std::string config = "# layers\n" + block("poly", 1, "fill yes red 1 green 0.5 blue 0.25") +
                       block("metal1", 2, "hatch single angle 45 step 1 red 0 green 0 blue 1") +
                       block("via", 3, "hatch cross angle 135 step 3", true);
  Page p = page(b.done(), config);
  ASSERT_TRUE(p.written);
  EXPECT_EQ(p.layerCount, 4);
  std::string expect = prologue() +
                       "4.01 4.01 [300 72 div 0 0 300 72 div 0 0]\n{ %definepattern\n  2 setlinecap\n"
                       "  2.00 0.00 m 4.01 2.00 l\n  0.00 2.00 m 2.00 4.01 l\n"
                       "  0.1 setlinewidth stroke\n} bind\n/FONTmetal1 true definepattern pop\n\n"
                       "4.24 4.24 [300 72 div 0 0 300 72 div 0 0]\n{ %definepattern\n  2 setlinecap\n"
                       "  2.12 0.00 m 0.00 2.12 l\n  4.24 2.12 m 2.12 4.24 l\n"
                       "  2.12 4.24 m 0.00 2.12 l\n  4.24 2.12 m 2.12 0.00 l\n"
                       "  0.1 setlinewidth stroke\n} bind\n/FONTvia true definepattern pop\n\n"
                       "%%End of prologue\n"
                       "3.366000 3.366000 scale\n13.636364 17.647059 translate\n0 setlinewidth\n"
                       "% Layer poly\ngsave\n1.000 0.500 0.250 setrgbcolor\nnewpath\n"
                       "0 0 100 200 rectstroke\n0 0 m\n100 0 l\n100 200 l\n0 200 l\n0 0 l\nclosepath\nfill\n"
                       "% Layer metal1\ngsave\n0.000 0.000 1.000 setrgbcolor\nnewpath\n"
                       "/Helvetica 20.000 f\n(L2) 0 0 t\n"
                       "0 0 m\n0 10 l\n10 0 l\n0 0 l\nclosepath stroke\n"
                       "0 0 m\n0 10 l\n10 0 l\n0 0 l\nclosepath\n/FONTmetal1 findfont patternfill\n"
                       "showpage\n";
  EXPECT_EQ(p.ps, expect);
  EXPECT_EQ(p.err, "minx = 0, miny = 0, maxx = 10000, maxy = 20000\nscalex = 5.202000, scaley = 3.366000\n");
  EXPECT_TRUE(p.out.starts_with("dummy hidden layer body\nnew layer body\n")) << p.out;
  EXPECT_TRUE(p.out.ends_with("thickness = 0.00\n\"TOP\"\n")) << p.out;
}

TEST(PsPage, LayerSelectionIgnoresDatatype) {
  LibBuilder b;
  int top = b.add("TOP");
  b.rect(top, {5, 3}, 0, 0, 1000, 1000);
  b.rect(top, 6, 0, 0, 90000, 90000);  // no entry: never drawn, but fits the page
  std::string config = block("five", 5) + block("fivedt", 5, "datatype 7") + block("hid", 5, "", true);
  Page p = page(b.done(), config);
  const std::string drawn = "0 0 10 10 rectstroke\n0 0 m\n10 0 l\n10 10 l\n0 10 l\n0 0 l\nclosepath\n";
  EXPECT_EQ(body(p.ps), "% Layer five\ngsave\n0.000 0.000 0.000 setrgbcolor\nnewpath\n" + drawn +
                            "% Layer fivedt\ngsave\n0.000 0.000 0.000 setrgbcolor\nnewpath\n" + drawn + "showpage\n");
  EXPECT_TRUE(p.err.starts_with("minx = 0, miny = 0, maxx = 90000, maxy = 90000\n"));
}

TEST(PsPage, HiddenEntriesOnly) {
  LibBuilder b;
  int top = b.add("TOP");
  b.rect(top, 1, 0, 0, 10000, 20000);
  Page p = page(b.done(), block("poly", 1, "fill yes", true) + block("m", 2, "hatch cross angle 45 step 3", true));
  std::string fonts = p.ps.substr(prologue().size());
  EXPECT_TRUE(p.ps.starts_with(prologue()));
  EXPECT_TRUE(fonts.starts_with("4.24 4.24 ["));
  EXPECT_TRUE(p.ps.ends_with("/FONTm true definepattern pop\n\n%%End of prologue\n"
                             "3.366000 3.366000 scale\n13.636364 17.647059 translate\n0 setlinewidth\nshowpage\n"));
}

TEST(PsPage, LayerNamesThatAreNotPostScriptNames) {
  LibBuilder b;
  int top = b.add("TOP");
  b.rect(top, 1, 0, 0, 1000, 1000);
  Page p = page(b.done(), block("a(b)%c", 1, "hatch single angle 30 step 2") + block("x\ry", 1));
  EXPECT_NE(p.ps.find("} bind\n(FONTa\\(b\\)%c) cvn true definepattern pop\n\n"), std::string::npos);
  EXPECT_NE(p.ps.find("\n% Layer a(b)%c\ngsave\n"), std::string::npos);
  EXPECT_NE(p.ps.find("closepath\n(FONTa\\(b\\)%c) cvn findfont patternfill\n"), std::string::npos);
  // A carriage return would end the comment: written as an escape.
  EXPECT_NE(p.ps.find("\n% Layer x\\015y\ngsave\n"), std::string::npos);
}

TEST(PsPage, ColoursThatAreNoNumbers) {
  LibBuilder b;
  int top = b.add("TOP");
  b.rect(top, 1, 0, 0, 1000, 1000);
  Page p = page(b.done(), block("a", 1, "red nan green inf blue -inf") + block("b", 1, "red 1e300 green -2 blue 0.5"));
  EXPECT_NE(p.ps.find("gsave\n0.000 1.000 0.000 setrgbcolor\n"), std::string::npos) << p.ps;
  EXPECT_NE(p.ps.find("gsave\n1.000 -2.000 0.500 setrgbcolor\n"), std::string::npos) << p.ps;
  EXPECT_EQ(p.ps.find("nan"), std::string::npos);
  EXPECT_EQ(p.ps.find("inf"), std::string::npos);
}

TEST(PsPage, MissingTopStructure) {
  LibBuilder b;
  b.add("B");
  b.add("A");
  b.rect(0, 1, 0, 0, 10, 10);
  Page p = page(b.done(), block("poly", 1, "hatch single angle 45 step 1"), "NOPE");
  ASSERT_TRUE(p.written);
  EXPECT_TRUE(p.ps.ends_with("/FONTpoly true definepattern pop\n\n%%End of prologue\n"));
  EXPECT_EQ(p.err, "Couldn't find the structure named \"NOPE\"\n");
  EXPECT_TRUE(p.out.ends_with("\"B\"\n\"A\"\n")) << p.out;
}

TEST(PsPage, ConfigurationWithoutLayers) {
  LibBuilder b;
  b.add("TOP");
  Page p = page(b.done(), "# nothing here\n\n");
  EXPECT_FALSE(p.written);
  EXPECT_EQ(p.layerCount, 1);
  EXPECT_EQ(p.out, "dummy hidden layer body\n");
  EXPECT_EQ(p.err, "");
}

TEST(PsFailure, PageFailuresStopTheRun) {
  LibBuilder b;
  int top = b.add("TOP");
  b.rect(top, 1, 0, 0, 10, 10);
  qm::GDSlibrary& lib = b.done();
  TempDir d;
  d.write("layers", block("poly", 1));
  EXPECT_FAILURE(quietPage(con, lib, d.file("out.ps"), d.file("missing")),
              1,
              "^Couldn't open " + d.file("missing") + " for reading\\. Aborting\\.\\.\\.\n$");
  EXPECT_FALSE(d.exists("out.ps"));
  EXPECT_FAILURE(quietPage(con, lib, d.file("no/such/dir.ps"), d.file("layers")),
              1,
              "^Couldn't open " + d.file("no/such/dir.ps") + " for writing\\. Aborting\\.\\.\\.\n$");
  // Hatching that cannot be drawn, on a hidden entry no element uses: the
  // file keeps what was written before.
  d.write("bad", block("poly", 1, "hatch cross angle 45 step 2") + block("flat", 9, "hatch single angle 180", true));
  EXPECT_FAILURE(quietPage(con, lib, d.file("bad.ps"), d.file("bad")), 1,
              "^Horizontal/vertical hatching not supported yet\\.\n"
              "Please check layer \"flat\" configuration\\. Exiting\\.\n$");
  std::string bad = d.read("bad.ps");
  EXPECT_TRUE(bad.starts_with(prologue()));
  EXPECT_TRUE(bad.ends_with("/FONTpoly true definepattern pop\n\n")) << bad;
}

TEST(PsPage, References) {
  LibBuilder b;
  int top = b.add("TOP");
  int cell = b.add("CELL");
  b.rect(cell, 1, 0, 0, 1000, 500);
  b.path(cell, 1, 0, 200, {{0, 0}, {0, 1000}});
  b.text(cell, 1, "c", shift(100, 100), 2);
  // Rotated by 90 degrees about the origin and moved to (10000, 0); then an
  // array of 2 x 1 members 3000 apart, magnified by 2; then an unbound one.
  b.sref(top, cell, qm::GDStransf{0, -1, 10000, 1, 0, 0});
  b.aref(top, cell, 2, 1, 3000, 0, qm::GDStransf{2, 0, 0, 0, 2, 20000});
  b.sref(top, -1, shift(0, 0), "GHOST");
  Page p = page(b.done(), block("poly", 1));
  auto rect = [](const std::string& r, const std::string& poly) {
    return r + " rectstroke\n" + poly + "closepath\n";
  };
  const std::string expect =
      "% Layer poly\ngsave\n0.000 0.000 0.000 setrgbcolor\nnewpath\n"
      // The reference: (x, y) goes to (10000 - y, x).
      + rect("100 0 -5 10", "100 0 m\n100 10 l\n95 10 l\n95 0 l\n100 0 l\n") +
      rect("100 -1 -10 2", "100 -1 m\n100 1 l\n90 1 l\n90 -1 l\n100 -1 l\n") +
      "/Helvetica 40.000 f\n(c) 99 1 t\n"
      // Member (0, 0): (x, y) goes to (2x, 2y + 20000), the wire is twice as wide.
      + rect("0 200 20 10", "0 200 m\n20 200 l\n20 210 l\n0 210 l\n0 200 l\n") +
      rect("-2 200 4 20", "-2 200 m\n2 200 l\n2 220 l\n-2 220 l\n-2 200 l\n") +
      "/Helvetica 40.000 f\n(c) 2 202 t\n"
      // Member (1, 0): 3000 further in the structure's own frame.
      + rect("60 200 20 10", "60 200 m\n80 200 l\n80 210 l\n60 210 l\n60 200 l\n") +
      rect("58 200 4 20", "58 200 m\n62 200 l\n62 220 l\n58 220 l\n58 200 l\n") +
      "/Helvetica 40.000 f\n(c) 62 202 t\n"
      // The unbound reference draws nothing.
      "showpage\n";
  EXPECT_EQ(body(p.ps), expect);
  EXPECT_EQ(p.err, "minx = -200, miny = -100, maxx = 10000, maxy = 22000\nscalex = 5.100000, scaley = 3.046154\n");
}

// A hierarchy with every kind of placement, several layers and wires that
// have no outline, drawn in both walk modes.
qm::GDSlibrary& busyLibrary(LibBuilder& b) {
  int top = b.add("TOP");
  int mid = b.add("MID");
  int leaf = b.add("LEAF");
  int lone = b.add("LONE");
  b.rect(leaf, 1, 0, 0, 700, 300);
  b.boundary(leaf, 2, {{0, 0}, {500, 100}, {100, 400}, {0, 0}});
  b.path(leaf, 3, 2, 50, {{0, 0}, {300, 0}, {300, 300}});
  b.path(leaf, 1, 0, 40, {{7, 7}});
  b.text(leaf, 4, "leaf(1)", shift(10, 20));
  b.rect(lone, 9, 0, 0, 100, 100);
  b.sref(mid, leaf, qm::GDStransf{0, -1, 1000, 1, 0, 0});
  b.aref(mid, leaf, 3, 2, 1500, -900, qm::GDStransf{-1.5, 0, 0, 0, 1.5, 500});
  b.sref(mid, -1, shift(5, 5), "NOWHERE");
  b.path(mid, 2, 0, 30, {{0, 0}, {0, 900}, {400, 900}});
  b.aref(top, mid, 2, 3, 10000, 8000, qm::GDStransf{0.7071067811865476, -0.7071067811865475, 0, 0.7071067811865475,
                                                     0.7071067811865476, 0});
  b.sref(top, leaf, qm::GDStransf{1, 0, -3000, 0, -1, -3000});
  b.sref(top, lone, shift(-9000, 0));
  b.text(top, 4, "top", shift(-500, -500), 0.75);
  b.other(top, qm::KIND_NODE);
  b.other(top, qm::KIND_BOX);
  b.rect(top, 7, -12000, -12000, 30000, 30000);
  return b.done();
}

TEST(PsPage, FastWalkMatchesPlainWalk) {
  std::string config = block("one", 1, "fill yes red 0.5") + block("two", 2, "hatch single angle 60 step 2") +
                       block("three", 3, "hatch cross angle 120 step 5") + block("four", 4) +
                       block("oneagain", 1, "hatch single angle 10 step 1") + block("hidden", 2, "", true) +
                       block("none", 11);
  Page fast, plain;
  {
    LibBuilder b;
    fast = page(busyLibrary(b), config);
  }
  {
    LibBuilder b;
    plain = page(busyLibrary(b), config, "TOP", plainwalks::walks());
  }
  ASSERT_TRUE(fast.written);
  EXPECT_EQ(fast.ps, plain.ps);
  EXPECT_EQ(fast.err, plain.err);
  EXPECT_EQ(fast.out, plain.out);
  // The one-point wire of LEAF is drawn by both passes of layer 1, once per
  // instance: 2 x 3 x (1 + 3 x 2) through the arrays plus the direct one.
  const std::string shortWire = "PathToBoundary(): don't know to handle wires < 2 pts yet\n";
  std::size_t n = 0;
  for (std::size_t k = fast.err.find(shortWire); k != std::string::npos; k = fast.err.find(shortWire, k + 1)) ++n;
  EXPECT_EQ(n, (6 * 7 + 1) * 3u);  // page fit + two passes
  EXPECT_NE(fast.ps.find("(leaf\\(1\\)) "), std::string::npos);
}

TEST(PsFailure, CyclicReferenceStops) {
  LibBuilder b;
  int top = b.add("TOP");
  int a = b.add("A");
  b.rect(a, 1, 0, 0, 10, 10);
  b.sref(top, a, shift(0, 0));
  b.sref(a, top, shift(100, 0));
  qm::GDSlibrary& lib = b.done();
  TempDir d;
  d.write("layers", block("poly", 1));
  EXPECT_FAILURE(quietPage(con, lib, d.file("out.ps"), d.file("layers")), 1,
              "Cyclic reference to structure \"TOP\"\\. Aborting\n");
}

// The same failures through the program: the status, the message and the
// files left behind.
TEST(PsProgram, FailuresEndTheRun) {
  gdsw::Gds g;
  g.lib("LIB").bgnstr("TOP").rect(1, 0, 0, 0, 1000, 1000).endstr().endlib();
  {
    TempDir d;
    d.write("chip.gds", g.bytes);
    d.write(".layers.config", block("poly", 1));
    auto r = qmtest::quillmask({"-i", "chip.gds", "-s", "TOP", "-p", "no/such/dir/x.ps"}, d.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.ends_with("Couldn't open no/such/dir/x.ps for writing. Aborting...\n")) << r.err;
    EXPECT_FALSE(d.exists("result.pov"));
    EXPECT_FALSE(d.exists("result.plt"));
  }
  {
    TempDir d;
    d.write("chip.gds", g.bytes);
    d.write("cfg", block("poly", 1, "hatch single") + block("m", 2));
    auto r = qmtest::quillmask({"-i", "chip.gds", "-s", "TOP", "-c", "cfg"}, d.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.ends_with("Horizontal/vertical hatching not supported yet.\n"
                                "Please check layer \"poly\" configuration. Exiting.\n"))
        << r.err;
    EXPECT_EQ(d.read("result.ps"), prologue());
    EXPECT_FALSE(d.exists("result.pov"));
  }
  {
    TempDir d;
    d.write("chip.gds", g.bytes);
    auto r = qmtest::quillmask({"-i", "chip.gds", "-s", "TOP"}, d.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.ends_with("Couldn't open .layers.config for reading. Aborting...\n")) << r.err;
    EXPECT_FALSE(d.exists("result.ps"));
  }
}

}  // namespace
