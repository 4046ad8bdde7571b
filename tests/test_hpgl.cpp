// The HP-GL/2 plot writer: pieces, whole plots, transforms, degenerate
// extents, fast against plain walks. Every plot written here is read back
// by the strict plot reader, and every finished one drawn by plot2svg.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>

#include <pugixml.hpp>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "common/out.h"
#include "plain_walks.h"
#include "gds/reader.h"
#include "gdsw.h"
#include "geom/transf.h"
#include "hpgl/hpgl.h"
#include "hpgl/plotread.h"
#include "layers/config.h"
#include "runner.h"
#include "failure.h"

using namespace gdsw;
using qmtest::TempDir;

namespace {

const std::string kHeader = "\x1b%-1BBPINNP64MC1QL100WU0PW0.13\n";
const std::string kTrailer = "PUSP0PG;\n";
const std::string kShortWire = "PathToBoundary(): don't know to handle wires < 2 pts yet\n";

// Reads a library from GDSII bytes; its echo and its listing are
// swallowed.
std::unique_ptr<qm::GDSlibrary> load(const std::string& bytes, bool tolerant = false) {
  TempDir d;
  d.write("in.gds", bytes);
  std::unique_ptr<qm::GDSlibrary> lib;
  {
    qm::CaptureStd cap;
    qm::Out listing{qm::Out::Memory{}};
    int fd = open(d.file("in.gds").c_str(), O_RDONLY);
    qm::ReadOptions opt;
    opt.tolerant = tolerant;
    lib = qm::GDSreadLibrary(cap.console(), fd, listing, opt);
    close(fd);
  }
  return lib;
}

// A layer table as the configuration parser leaves it.
struct Table {
  qm::LayerTable t;
  Table() {
    qm::LayerEntry& e = t.entries[0];
    e.name = "NULL";
    e.gdsno = -1;
    e.hidden = 1;
    e.step = 100;
    t.layerCount = 1;
  }
  qm::LayerEntry& add(int gdsno) {
    qm::LayerEntry& e = t.entries[static_cast<std::size_t>(t.layerCount++)];
    e.name = "L" + std::to_string(gdsno);
    e.gdsno = gdsno;
    e.step = 100;
    return e;
  }
};

struct PlotResult {
  std::string file, out, err;
  bool exists = false;
};

// Draws a plot with plot2svg: a well-formed SVG with one element for
// each shape the reader found (beside the paper and the hatch patterns).
void expectDrawn(const std::string& plot, const qm::plotread::Plot& read) {
  TempDir d;
  d.write("p.plt", plot);
  auto r = qmtest::run(QM_PLOT2SVG, {"p.plt"}, d.path());
  ASSERT_EQ(r.status, 0) << r.err;
  pugi::xml_document doc;
  pugi::xml_parse_result ok = doc.load_string(r.out.c_str());
  ASSERT_TRUE(ok) << ok.description();
  std::size_t drawn = 0;
  for (pugi::xml_node n : doc.document_element().children()) {
    const std::string name = n.name();
    drawn += name == "rect" || name == "polygon" || name == "polyline" || name == "text";
  }
  EXPECT_EQ(drawn, read.shapes.size() + 1);  // and the paper
}

PlotResult plotOnce(const qm::GDSlibrary& lib, const qm::LayerTable& table, const std::string& top,
                    const qm::Walks& walks = qm::fastWalks()) {
  TempDir d;
  PlotResult r;
  {
    qm::CaptureStd cap;
    qm::HPGLwritePlot(cap.console(), lib, table, d.file("result.plt"), top, walks);
    r.out = cap.out();
    r.err = cap.err();
  }
  r.exists = d.exists("result.plt");
  r.file = d.read("result.plt");
  return r;
}

// Writes the plot with the fast and with the plain walk, expects the same
// bytes everywhere, checks the plot with the strict reader (and draws
// finished plots) and returns it.
PlotResult plot(const qm::GDSlibrary& lib, const qm::LayerTable& table, const std::string& top,
                bool convert = true) {
  PlotResult plain = plotOnce(lib, table, top, plainwalks::walks());
  PlotResult fast = plotOnce(lib, table, top);
  EXPECT_EQ(fast.file, plain.file);
  EXPECT_EQ(fast.out, plain.out);
  EXPECT_EQ(fast.err, plain.err);
  qm::plotread::Plot p = qm::plotread::parse(fast.file);
  EXPECT_TRUE(p.ok()) << p.error;
  if (convert && p.ok() && p.finished()) expectDrawn(fast.file, p);
  return fast;
}

std::string piece(void (*fn)(qm::Out&, const qm::LayerEntry&), const qm::LayerEntry& e) {
  qm::Out o{qm::Out::Memory{}};
  fn(o, e);
  return o.str();
}

qm::LayerEntry entry(int gdsno, int fill = 0, int hatch = 0) {
  qm::LayerEntry e;
  e.gdsno = gdsno;
  e.fill = fill;
  e.hatch = hatch;
  e.step = 100;
  return e;
}

std::string boundaryLine(const std::vector<qm::GDSpoint>& pts, const qm::LayerEntry& e, int layer) {
  qm::GDSboundary b;
  b.layer = layer;
  b.npoints = static_cast<int32_t>(pts.size());
  b.points = const_cast<qm::GDSpoint*>(pts.data());
  qm::Out o{qm::Out::Memory{}};
  qm::HPGLwriteBoundary(o, b, e);
  return o.str();
}

// ---------------------------------------------------------------- pieces

TEST(HpglPieces, HeaderTrailerAndPenColours) {
  qm::Out o{qm::Out::Memory{}};
  qm::HPGLwriteHeader(o);
  qm::HPGLwriteTrailer(o);
  EXPECT_EQ(o.str(), kHeader + kTrailer);
  EXPECT_EQ(o.str()[0], '\x1b');

  struct Case {
    int gdsno, hidden;
    double r, g, b;
    std::string want;
  } cases[] = {
      {5, 0, 1, 0.5, 0, "PC5,255,128,0"},
      {0, 0, 0, 0, 1, "PC0,0,0,255"},
      {70, 0, 0.2, 0.4, 0.6, "PC70,51,102,153"},
      {7, 1, 1, 1, 1, ""},  // hidden: nothing
      // Values out of range are written as computed, never wrapped.
      {3, 0, 2, -1, 1e300, "PC3,510,-254,2147483647"},
      {4, 0, std::numeric_limits<double>::quiet_NaN(), -1e300, 0, "PC4,0,-2147483648,0"},
  };
  for (const Case& c : cases) {
    qm::LayerEntry e = entry(c.gdsno);
    e.hidden = c.hidden;
    e.red = c.r;
    e.green = c.g;
    e.blue = c.b;
    EXPECT_EQ(piece(qm::HPGLwritePenColor, e), c.want) << c.gdsno;
  }
}

TEST(HpglPieces, FillTypes) {
  struct Case {
    int fill, hatch;
    double step, angle;
    std::string want;
  } cases[] = {
      {1, 0, 100, 45, "FT1\n"},
      {1, 2, 100, 45, "FT1\n"},  // fill wins over hatching
      {0, 1, 100, 45, "FT3,11,45.00\n"},
      {0, 2, 100, 45, "FT4,11,45.00\n"},
      {0, 1, 250, 150, "FT3,29,150.00\n"},
      {0, 0, 100, 45, ""},
      {0, 1, 1e300, 30, "FT3,2147483647,30.00\n"},
      {0, 2, 100, std::numeric_limits<double>::quiet_NaN(), "FT4,11,0.00\n"},
  };
  for (const Case& c : cases) {
    qm::LayerEntry e = entry(1, c.fill, c.hatch);
    e.step = c.step;
    e.angle = c.angle;
    qm::Out o{qm::Out::Memory{}};
    qm::HPGLwriteFillType(o, 341.376, e);
    EXPECT_EQ(o.str(), c.want) << c.fill << c.hatch << c.step;
  }
}

TEST(HpglPieces, RectanglesAndPolygons) {
  std::vector<qm::GDSpoint> rect = {{0, 0}, {0, 1000}, {2000, 1000}, {2000, 0}, {0, 0}};
  std::vector<qm::GDSpoint> tri = {{0, 0}, {1000, 0}, {0, 1000}, {0, 0}};
  EXPECT_EQ(boundaryLine(rect, entry(1), 1), "PU0,0ER20,10\n");
  EXPECT_EQ(boundaryLine(rect, entry(1, 1, 0), 1), "PU0,0ER20,10PU0,0RR20,10\n");
  EXPECT_EQ(boundaryLine(rect, entry(1, 0, 1), 1), "PU0,0ER20,10PU0,0RR20,10\n");
  EXPECT_EQ(boundaryLine(tri, entry(1), 1), "PU0,0PM0PD10,0PD0,10PD0,0PM2EP\n");
  EXPECT_EQ(boundaryLine(tri, entry(1, 0, 2), 1), "PU0,0PM0PD10,0PD0,10PD0,0PM2EPFP\n");
  // Another layer: nothing at all. No points: nothing.
  EXPECT_EQ(boundaryLine(rect, entry(2, 1, 0), 1), "");
  EXPECT_EQ(boundaryLine({}, entry(1), 1), "");
  // Negative coordinates truncate toward zero; differences before division.
  std::vector<qm::GDSpoint> neg = {{-150, -99}, {-150, 1}, {50, 1}, {50, -99}, {-150, -99}};
  EXPECT_EQ(boundaryLine(neg, entry(1), 1), "PU-1,0ER2,1\n");
  // Differences of extreme coordinates never wrap.
  std::vector<qm::GDSpoint> wide = {
      {-2000000000, 0}, {-2000000000, 100}, {2000000000, 100}, {2000000000, 0}, {-2000000000, 0}};
  EXPECT_EQ(boundaryLine(wide, entry(1), 1), "PU-20000000,0ER40000000,1\n");
  // Every line the boundary writer makes is accepted by the reader.
  for (const std::string& line : {boundaryLine(tri, entry(1, 1, 0), 1), boundaryLine(rect, entry(1, 1, 0), 1)}) {
    auto p = qm::plotread::parse(kHeader + line + kTrailer);
    EXPECT_TRUE(p.ok()) << p.error;
  }
}

TEST(HpglPieces, LongPolygonsPairByPair) {
  // Polygons far longer than the stream's buffer, with extreme and
  // negative coordinates: every pair as printf writes it.
  for (int32_t n : {4, 1000, 70000}) {
    std::vector<qm::GDSpoint> pts;
    for (int32_t i = 0; i < n; ++i)
      pts.push_back({i % 3 == 0 ? INT32_MIN + i : INT32_MAX - 7 * i, (i % 2 ? -1 : 1) * (i * 9973 % 1000003)});
    char buf[64];
    std::snprintf(buf, sizeof buf, "PU%d,%dPM0", pts[0].x / 100, pts[0].y / 100);
    std::string want = buf;
    for (int32_t i = 1; i < n; ++i) {
      std::snprintf(buf, sizeof buf, "PD%d,%d", pts[static_cast<std::size_t>(i)].x / 100,
                    pts[static_cast<std::size_t>(i)].y / 100);
      want += buf;
    }
    EXPECT_EQ(boundaryLine(pts, entry(1, 1, 0), 1), want + "PM2EPFP\n") << n;
  }
}

TEST(HpglPieces, Labels) {
  auto text = [](const std::string& s, double mag, const qm::GDStransf& t, const qm::GDStransf& parent,
                 int gdsno) {
    qm::GDStext x;
    x.layer = 3;
    x.string = s;
    x.mag = mag;
    x.transf = t;
    qm::Out o{qm::Out::Memory{}};
    qm::HPGLwriteText(o, x, parent, entry(gdsno));
    return o.str();
  };
  const qm::GDStransf at0 = qm::GDSmakeTransf({0, 0}, 0, 0, 1);
  EXPECT_EQ(text("ABC", 1, at0, qm::GDSidentity, 3), "SR0.020000,0.020000PU0,0LO6LBABC\x03\n");
  EXPECT_EQ(text("ABC", 1, at0, qm::GDSidentity, 4), "");
  // Only the position follows the transforms; the size is the text's own.
  const qm::GDStransf t = qm::GDSmakeTransf({1000, 0}, 0, 0, 2.5);
  const qm::GDStransf parent = qm::GDSmakeTransf({0, 500}, 1, 90, 3);
  // (0,0) -> (1000,0) -> mirror (1000,0) -> rot90 (0,1000) -> *3 (0,3000) -> (0,3500)
  EXPECT_EQ(text("x", 2.5, t, parent, 3), "SR0.050000,0.050000PU0,35LO6LBx\x03\n");
  // The end-of-text character inside the string is left out.
  EXPECT_EQ(text("A\x03" "B\x03", 1, at0, qm::GDSidentity, 3), "SR0.020000,0.020000PU0,0LO6LBAB\x03\n");
  auto p = qm::plotread::parse(kHeader + text("A\x03" "B;PG", 1, at0, qm::GDSidentity, 3) + kTrailer);
  ASSERT_TRUE(p.ok()) << p.error;
  ASSERT_EQ(p.count("LB"), 1);
  EXPECT_EQ(p.find("LB")->label, "AB;PG");
}

TEST(HpglPieces, Geometry) {
  struct Case {
    int32_t minx, miny, maxx, maxy;
    bool empty;
    double rx, ry, scale;
    int32_t length, sc0, sc1, sc2, sc3;
  } cases[] = {
      {0, 0, 10000, 20000, false, 341.376, 216.408, 341.376, 68275, -5, 105, -5, 205},
      {-5000, 1000, 15000, 11000, false, 170.688, 432.816, 170.688, 17068, -60, 160, 0, 120},
      // Zero width: the height stands in for it.
      {0, 0, 0, 5000, false, INFINITY, 865.632, 682.752, 34137, -2, 2, -2, 52},
      // Zero height: the width stands in for it.
      {0, 0, 5000, 0, false, 682.752, INFINITY, 682.752, 34137, -2, 52, -2, 2},
      // One point, and the empty extent (counted as (0,0,0,0)): 100 units
      // both ways.
      {300, 400, 300, 400, false, INFINITY, INFINITY, 34137.6, 34137, 2, 3, 3, 4},
      {INT32_MAX, INT32_MAX, -INT32_MAX, -INT32_MAX, true, INFINITY, INFINITY, 34137.6, 34137, 0, 0, 0, 0},
      // Differences beyond the 32-bit range are taken exactly.
      {-2000000000, 0, 2000000000, 1000, false, 3413760.0 / 4e9, 4328.16, 3413760.0 / 4e9, 0, -22000000,
       22000000, -2000000, 2000010},
  };
  for (const Case& c : cases) {
    qm::HPGLgeometry g = qm::HPGLplotGeometry(c.minx, c.miny, c.maxx, c.maxy, c.empty);
    EXPECT_DOUBLE_EQ(g.reportScalex, c.rx) << c.minx << " " << c.maxx;
    EXPECT_DOUBLE_EQ(g.reportScaley, c.ry) << c.minx << " " << c.maxx;
    EXPECT_DOUBLE_EQ(g.scale, c.scale) << c.minx << " " << c.maxx;
    EXPECT_EQ(g.length, c.length) << c.minx << " " << c.maxx;
    EXPECT_EQ(g.sc[0], c.sc0) << c.minx;
    EXPECT_EQ(g.sc[1], c.sc1) << c.minx;
    EXPECT_EQ(g.sc[2], c.sc2) << c.minx;
    EXPECT_EQ(g.sc[3], c.sc3) << c.minx;
  }
}

// ---------------------------------------------------------------- plots

// The whole plot of a small structure, byte for byte: extent (0, 0) to
// (10000, 20000), a filled layer, a hatched layer holding a polygon and a
// label, a hidden layer.
TEST(HpglPlot, WholePlot) {
  Gds g;
  g.lib().bgnstr("TOP")
      .rect(1, 0, 0, 0, 10000, 20000)
      .boundary(2, 0, {{0, 0}, {1000, 0}, {0, 1000}, {0, 0}})
      .text(2, 0, "ABC", 0, 0)
      .rect(3, 0, 0, 0, 500, 500)
      .endstr().endlib();
  auto lib = load(g.bytes);
  Table t;
  auto& l1 = t.add(1);
  l1.fill = 1;
  l1.red = 1;
  l1.green = 0.5;
  auto& l2 = t.add(2);
  l2.hatch = 1;
  l2.angle = 45;
  l2.blue = 1;
  t.add(3).hidden = 1;
  PlotResult r = plot(*lib, t.t, "TOP");
  EXPECT_EQ(r.file, kHeader +
                        "PC1,255,128,0PC2,0,0,255"
                        "\nPS34137,68275;\n"
                        "IP0,0,34137,68275SC-5,105,-5,205\n"
                        "SP1\nFT1\n"
                        "PU0,0ER100,200PU0,0RR100,200\n"
                        "SP2\nFT3,11,45.00\n"
                        "SR0.020000,0.020000PU0,0LO6LBABC\x03\n"
                        "PU0,0PM0PD10,0PD0,10PD0,0PM2EPFP\n" +
                        kTrailer);
  EXPECT_EQ(r.err,
            "minx = 0, miny = 0, maxx = 10000, maxy = 20000\n"
            "scalex = 341.376000, scaley = 216.408000\n"
            "scale = 341.376000\n");
  EXPECT_EQ(r.out, "\"TOP\"\n");
}

TEST(HpglPlot, SecondExtentAndScaling) {
  Gds g;
  g.lib().bgnstr("TOP").rect(1, 0, -5000, 1000, 15000, 11000).endstr().endlib();
  auto lib = load(g.bytes);
  Table t;
  t.add(1).hatch = 2;
  PlotResult r = plot(*lib, t.t, "TOP");
  EXPECT_EQ(r.file, kHeader + "PC1,0,0,0\nPS34137,17068;\nIP0,0,34137,17068SC-60,160,0,120\n" +
                        "SP1\nFT4,23,0.00\nPU-50,10ER200,100PU-50,10RR200,100\n" + kTrailer);
  EXPECT_EQ(r.err,
            "minx = -5000, miny = 1000, maxx = 15000, maxy = 11000\n"
            "scalex = 170.688000, scaley = 432.816000\n"
            "scale = 170.688000\n");
}

// Shared pens, pen 0, pens above 64; an entry without fill or hatching
// keeps the fill type of the pass before.
TEST(HpglPlot, PensAndPasses) {
  Gds g;
  g.lib().bgnstr("TOP")
      .rect(5, 0, 0, 0, 1000, 1000)
      .rect(0, 0, 0, 0, 2000, 2000)
      .rect(70, 3, 0, 0, 3000, 3000)
      .endstr().endlib();
  auto lib = load(g.bytes);
  Table t;
  auto& a = t.add(5);
  a.red = 1;
  a.fill = 1;
  auto& b = t.add(5);  // same pen, later colour
  b.green = 1;
  auto& c = t.add(0);
  c.blue = 1;
  auto& d = t.add(70);
  d.red = d.green = d.blue = 1;
  PlotResult r = plot(*lib, t.t, "TOP");
  qm::plotread::Plot p = qm::plotread::parse(r.file);
  ASSERT_TRUE(p.ok()) << p.error;
  EXPECT_EQ(r.file, kHeader +
                        "PC5,255,0,0PC5,0,255,0PC0,0,0,255PC70,255,255,255\n"
                        "PS34137,34137;\nIP0,0,34137,34137SC-1,31,-1,31\n"
                        "SP5\nFT1\nPU0,0ER10,10PU0,0RR10,10\n"
                        "SP5\nPU0,0ER10,10\n"
                        "SP0\nPU0,0ER20,20\n"
                        "SP70\nPU0,0ER30,30\n" +
                        kTrailer);
  // The reader sees the fill type of the first pass stay in force.
  ASSERT_EQ(p.shapes.size(), 5u);
  EXPECT_EQ(p.shapes[2].pen, 5);
  EXPECT_EQ(p.shapes[2].fillType, 1);
  EXPECT_EQ(p.shapes[4].pen, 70);
}

TEST(HpglPlot, NoVisibleEntry) {
  Gds g;
  g.lib().bgnstr("TOP").rect(1, 0, 0, 0, 10000, 20000).endstr().endlib();
  auto lib = load(g.bytes);
  Table t;
  t.add(1).hidden = 1;
  PlotResult r = plot(*lib, t.t, "TOP");
  EXPECT_EQ(r.file, kHeader + "\nPS34137,68275;\nIP0,0,34137,68275SC-5,105,-5,205\n" + kTrailer);
}

TEST(HpglPlot, MissingTopStructure) {
  Gds g;
  g.lib().bgnstr("A").endstr().bgnstr("B").endstr().endlib();
  auto lib = load(g.bytes);
  Table t;
  t.add(1).red = 1;
  PlotResult r = plot(*lib, t.t, "NOPE");
  EXPECT_EQ(r.file, kHeader + "PC1,255,0,0");
  EXPECT_EQ(r.err, "Couldn't find the structure named \"NOPE\"\n");
  EXPECT_EQ(r.out, "\"B\"\n\"A\"\n");
  EXPECT_FALSE(qm::plotread::parse(r.file).finished());
}

// Empty and flat extents: the report shows the plain formulas, the plot
// gets a usable size and never holds inf or nan.
TEST(HpglPlot, DegenerateExtents) {
  Gds g;
  g.lib()
      .bgnstr("TEXTONLY").text(1, 0, "T", 700, 800).endstr()
      .bgnstr("FLAT").boundary(1, 0, {{0, 0}, {0, 5000}, {0, 5000}, {0, 0}, {0, 0}}).endstr()
      .endlib();
  auto lib = load(g.bytes);
  Table t;
  t.add(1);
  PlotResult r = plot(*lib, t.t, "TEXTONLY");
  EXPECT_EQ(r.err,
            "minx = 2147483647, miny = 2147483647, maxx = -2147483647, maxy = -2147483647\n"
            "scalex = inf, scaley = inf\n"
            "scale = inf\n");
  EXPECT_EQ(r.file, kHeader + "PC1,0,0,0\nPS34137,34137;\nIP0,0,34137,34137SC0,0,0,0\n" +
                        "SP1\nSR0.020000,0.020000PU7,8LO6LBT\x03\n" + kTrailer);

  r = plot(*lib, t.t, "FLAT");
  EXPECT_EQ(r.err,
            "minx = 0, miny = 0, maxx = 0, maxy = 5000\n"
            "scalex = inf, scaley = 865.632000\n"
            "scale = inf\n");
  EXPECT_EQ(r.file, kHeader + "PC1,0,0,0\nPS34137,34137;\nIP0,0,34137,34137SC-2,2,-2,52\n" +
                        "SP1\nPU0,0ER0,50\n" + kTrailer);
  for (const char* bad : {"inf", "nan"}) EXPECT_EQ(r.file.find(bad), std::string::npos);
}

// A top-level SREF hands its own transform to its structure; nested SREFs
// are composed by the caller; array members go through the lattice, the
// array's transform and the parent's.
TEST(HpglPlot, Transforms) {
  Placement rot90;
  rot90.strans = rot90.hasAngle = true;
  rot90.angle = 90;
  Gds g;
  g.lib()
      .bgnstr("CHILD").rect(1, 0, 0, 0, 1000, 500).endstr()
      .bgnstr("MID").sref("CHILD", 2000, 0).endstr()
      .bgnstr("TOP").sref("MID", 10000, 0, rot90).endstr()
      .bgnstr("ARR").aref("CHILD", 2, 2, {{0, 0}, {2000, 0}, {0, 1000}}).endstr()
      .bgnstr("ARR90").aref("CHILD", 2, 1, {{0, 0}, {0, 2000}, {-1000, 0}}, rot90).endstr()
      .endlib();
  auto lib = load(g.bytes);
  Table t;
  t.add(1);
  // (x, y) -> (x + 2000, y) -> rotation -> (10000 - y, x + 2000)
  PlotResult r = plot(*lib, t.t, "TOP");
  EXPECT_NE(r.file.find("SP1\nPU100,20ER-5,10\n" + kTrailer), std::string::npos) << r.file;

  r = plot(*lib, t.t, "ARR");
  EXPECT_NE(r.file.find("SP1\nPU0,0ER10,5\nPU0,5ER10,5\nPU10,0ER10,5\nPU10,5ER10,5\n" + kTrailer),
            std::string::npos)
      << r.file;

  // Member (1, 0): lattice (1000, 0), then the rotation: (x, y) -> (-y, x).
  r = plot(*lib, t.t, "ARR90");
  EXPECT_NE(r.file.find("SP1\nPU0,0ER-5,10\nPU0,10ER-5,10\n" + kTrailer), std::string::npos) << r.file;
}

// Wires are drawn through their outline; under a magnified reference the
// width is scaled too. A wire of one point prints its message once per
// drawn instance and pass, and is never drawn.
TEST(HpglPlot, WiresAndShortWires) {
  Placement mag2;
  mag2.strans = mag2.hasMag = true;
  mag2.mag = 2;
  Gds g;
  g.lib()
      .bgnstr("W").path(2, 0, 0, 2000, {{0, 0}, {10000, 0}}).path(2, 0, 0, 100, {{5, 5}}).endstr()
      .bgnstr("TOP").sref("W", 0, 0).sref("W", 0, 50000, mag2).endstr()
      .endlib();
  auto lib = load(g.bytes);
  Table t;
  t.add(2);
  t.add(2);
  PlotResult r = plot(*lib, t.t, "TOP");
  std::string pass = "PU0,520ER200,-40\nPU0,10ER100,-20\n";
  EXPECT_NE(r.file.find("SP2\n" + pass + "SP2\n" + pass + kTrailer), std::string::npos) << r.file;
  std::string mine = r.err.substr(r.err.find("scale = "));
  std::size_t n = 0;
  for (std::size_t at = 0; (at = mine.find(kShortWire, at)) != std::string::npos; at += kShortWire.size()) ++n;
  EXPECT_EQ(n, 4u);  // two instances, two passes
}

// A larger hierarchy: arrays under rotated, mirrored and magnified
// references, several layers, wires, texts, unbound references, boxes,
// empty arrays; the fast walk must give exactly the plain walk's bytes.
TEST(HpglPlot, FastAndPlainAgree) {
  auto arefPts = [](int64_t x, int64_t y, int64_t w, int64_t h, bool mirror, double angle, double mag) {
    qm::GDStransf t = qm::GDSmakeTransf({static_cast<int32_t>(x), static_cast<int32_t>(y)}, mirror, angle, mag);
    qm::GDSpoint p2 = qm::GDStransfPoint({static_cast<int32_t>(w), 0}, t);
    qm::GDSpoint p3 = qm::GDStransfPoint({0, static_cast<int32_t>(h)}, t);
    return Pts{{x, y}, {p2.x, p2.y}, {p3.x, p3.y}};
  };
  Placement r90m2, mir, r30, mirr90h;
  r90m2.strans = r90m2.hasAngle = r90m2.hasMag = true;
  r90m2.angle = 90;
  r90m2.mag = 2;
  mir.strans = mir.mirror = true;
  r30.strans = r30.hasAngle = r30.hasMag = true;
  r30.angle = 30;
  r30.mag = 0.75;
  mirr90h = r90m2;
  mirr90h.mirror = true;
  mirr90h.mag = 0.5;
  Gds g;
  g.lib()
      .bgnstr("LEAF")
      .rect(1, 0, 0, 0, 1000, 400)
      .boundary(1, 1, {{0, 0}, {700, 100}, {300, 900}, {0, 0}})
      .path(2, 0, 2, 120, {{0, 0}, {500, 0}, {500, 700}})
      .path(2, 0, 0, 50, {{9, 9}})
      .text(3, 0, "leaf", 100, 100)
      .rec(BOX).rec(LAYER, i2(6), 2).rec(BOXTYPE, i2(0), 2)
      .rec(XY, xy({{0, 0}, {0, 50}, {80, 50}, {80, 0}, {0, 0}}), 3).rec(ENDEL)
      .endstr()
      .bgnstr("ONLY5").rect(5, 0, -300, -300, 300, 300).endstr()
      .bgnstr("MID")
      .sref("LEAF", 100, 200, r30)
      .aref("LEAF", 3, 2, arefPts(0, 0, 3 * 1500, 2 * 1200, false, 90, 2), r90m2)
      .aref("LEAF", -2, 3, {{0, 0}, {0, 0}, {0, 0}})
      .sref("NOWHERE", 0, 0)
      .sref("ONLY5", 5000, 5000, mir)
      .rect(4, 0, 0, 0, 100, 100)
      .endstr()
      .bgnstr("TOP")
      .aref("MID", 2, 2, arefPts(1000, -3000, 2 * 20000, 2 * 15000, true, 90, 0.5), mirr90h)
      .sref("MID", -7000, 1234, r30)
      .sref("LEAF", 0, 0)
      .path(2, 0, 0, 300, {{-1000, -1000}, {40000, -1000}})
      .text(3, 0, "top", -500, -500)
      .endstr()
      .endlib();
  auto lib = load(g.bytes, true);
  Table t;
  auto& l1 = t.add(1);
  l1.fill = 1;
  l1.red = 0.3;
  auto& l2 = t.add(2);
  l2.hatch = 2;
  l2.angle = 135;
  l2.step = 40;
  t.add(3);
  t.add(4).hidden = 1;
  t.add(5).hatch = 1;
  t.add(6).fill = 1;
  t.add(7);  // nothing anywhere
  t.add(2);  // a second pass of layer 2
  PlotResult r = plot(*lib, t.t, "TOP");
  qm::plotread::Plot p = qm::plotread::parse(r.file);
  ASSERT_TRUE(p.ok()) << p.error;
  EXPECT_TRUE(p.finished());
  EXPECT_EQ(p.count("SP"), 8);  // 7 visible passes and the trailer's SP0
  // LEAF instances: 5 of MID with 1 + 6 each, and 1 in TOP.
  const int leaves = 5 * 7 + 1;
  EXPECT_EQ(p.count("LB"), leaves + 1);
  // Layer 4 is hidden, layer 7 has nothing: no shape on their pens.
  for (const auto& s : p.shapes) {
    EXPECT_NE(s.pen, 4);
    EXPECT_NE(s.pen, 7);
  }
  // Boxes are drawn like boundaries.
  int boxes = 0;
  for (const auto& s : p.shapes)
    boxes += s.pen == 6 && (s.kind == qm::plotread::Shape::EdgeRect || s.kind == qm::plotread::Shape::EdgePolygon);
  EXPECT_EQ(boxes, leaves);
}

TEST(HpglPlot, UnboundReferencesDrawNothing) {
  Gds g;
  g.lib().bgnstr("TOP").sref("GONE", 0, 0).aref("GONE", 2, 2, {{0, 0}, {200, 0}, {0, 200}})
      .rect(1, 0, 0, 0, 100, 100).endstr().endlib();
  auto lib = load(g.bytes);
  Table t;
  t.add(1);
  PlotResult r = plot(*lib, t.t, "TOP");
  EXPECT_NE(r.file.find("SP1\nPU0,0ER1,1\n" + kTrailer), std::string::npos) << r.file;
}

TEST(HpglPlotFailure, FatalCases) {
  Gds g;
  g.lib().bgnstr("A").sref("B", 0, 0).endstr().bgnstr("B").sref("A", 0, 0).endstr()
      .bgnstr("OK").rect(1, 0, 0, 0, 10, 10).endstr().endlib();
  auto lib = load(g.bytes);
  Table t;
  t.add(1);
  EXPECT_FAILURE(qm::HPGLwritePlot(con, *lib, t.t, "/nonexistent-dir/x.plt", "OK"), 1,
              "Couldn't open /nonexistent-dir/x.plt for writing. Aborting...\n");
  TempDir d;
  EXPECT_FAILURE(qm::HPGLwritePlot(con, *lib, t.t, d.file("c.plt"), "A"), 1,
              "Cyclic reference to structure");
}

// The strict reader itself: the writer's language passes, anything else
// is refused.
TEST(HpglReader, RejectsMalformedPlots) {
  const std::string ok = kHeader + "PC1,255,0,0\nPS34137,100;\nIP0,0,34137,100SC-1,1,-1,1\nSP1\nFT3,11,45.00\n"
                                   "PU0,0ER1,1PU0,0RR1,1\nPU0,0PM0PD1,0PD0,1PM2EPFP\n"
                                   "SR0.020000,0.020000PU0,0LO6LBxy\x03\n" + kTrailer;
  auto p = qm::plotread::parse(ok);
  ASSERT_TRUE(p.ok()) << p.error;
  EXPECT_TRUE(p.finished());
  EXPECT_EQ(p.shapes.size(), 5u);
  struct Case {
    std::string name, plot;
  } bad[] = {
      {"no escape", "BPIN\n" + kTrailer},
      {"unknown mnemonic", kHeader + "XX1\n" + kTrailer},
      {"lower case", kHeader + "pu0,0\n" + kTrailer},
      {"bad number", kHeader + "PU0,,0\n" + kTrailer},
      {"dangling point", kHeader + "PU1.\n" + kTrailer},
      {"real where an integer belongs", kHeader + "PU0.5,0\n" + kTrailer},
      {"odd coordinates", kHeader + "PU0,0,1\n" + kTrailer},
      {"too many parameters", kHeader + "ER1,1,1\n" + kTrailer},
      {"junk after parameters", kHeader + "ER1,1 \n" + kTrailer},
      {"LB without terminator", kHeader + "LBabc\n" + kTrailer},
      {"PM0 nested", kHeader + "PU0,0PM0PD1,1PM0PM2\n" + kTrailer},
      {"PM2 without PM0", kHeader + "PM2EP\n" + kTrailer},
      {"polygon never closed", kHeader + "PU0,0PM0PD1,1\n"},
      {"EP without polygon", kHeader + "EP\n" + kTrailer},
      {"ER inside polygon", kHeader + "PU0,0PM0ER1,1PM2\n" + kTrailer},
      {"bad fill type", kHeader + "FT2\n" + kTrailer},
      {"FT3 without angle", kHeader + "FT3,11\n" + kTrailer},
      {"bad label origin", kHeader + "LO10\n" + kTrailer},
      {"bad quality", kHeader + "QL101\n" + kTrailer},
  };
  for (const Case& c : bad) EXPECT_FALSE(qm::plotread::parse(c.plot).ok()) << c.name;
}

}  // namespace
