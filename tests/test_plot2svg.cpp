// plot2svg: the plot's picture against the page's (both rendered by real
// consumers), well-formed SVG for every kind of plot, encoded polylines,
// and clear refusals of what is no plot.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "gdsw.h"
#include "hpgl/plotread.h"
#include "need_tool.h"
#include "render.h"
#include "runner.h"

using namespace gdsw;
using qmtest::Raster;
using qmtest::TempDir;

namespace {

const std::string kHeader = "\x1b%-1BBPINNP64MC1QL100WU0PW0.13\n";
const std::string kTrailer = "PUSP0PG;\n";

qmtest::RunResult plot2svg(const std::vector<std::string>& args, const std::string& cwd,
                           const std::string& stdinData = {}) {
  return qmtest::run(QM_PLOT2SVG, args, cwd, stdinData);
}

// One number of an encoded polyline, 8-bit (base 64) or 7-bit (base 32).
std::string enc(int64_t v, bool seven = false) {
  uint64_t u = v < 0 ? (static_cast<uint64_t>(-v) << 1) | 1 : static_cast<uint64_t>(v) << 1;
  const unsigned base = seven ? 32 : 64;
  std::string s;
  while (u >= base) {
    s += static_cast<char>(63 + u % base);
    u /= base;
  }
  s += static_cast<char>((seven ? 95 : 191) + u);
  return s;
}

// ------------------------------------------------------------ the picture

// Shapes of the drawing, in database units.
struct Box {
  double x0, y0, x1, y1;
};

// Where a database point lands in each picture.
struct PageMap {  // the page: "s s scale" then "tx ty translate", Letter at dpi
  double s = 0, tx = 0, ty = 0;
  int dpi = 0, height = 0;
  std::pair<int, int> px(double x, double y) const {
    double pxp = s * (x / 100 + tx) * dpi / 72, pyp = s * (y / 100 + ty) * dpi / 72;
    return {static_cast<int>(std::floor(pxp)), height - 1 - static_cast<int>(std::floor(pyp))};
  }
};
struct PlotMap {  // the plot: SC onto IP, the page of PS shown at width x height pixels
  qm::plotread::Plot plot;
  int width = 0, height = 0;
  std::pair<int, int> px(double x, double y) const {
    const auto& s = plot.scaling;
    double ux = std::trunc(x / 100), uy = std::trunc(y / 100);
    double plx = s.p1x + (ux - s.xmin) * (s.p2x - s.p1x) / (s.xmax - s.xmin);
    double ply = s.p1y + (uy - s.ymin) * (s.p2y - s.p1y) / (s.ymax - s.ymin);
    double c = plx * width / plot.plotLength, r = (plot.plotWidth - ply) * height / plot.plotWidth;
    return {static_cast<int>(std::floor(c)), static_cast<int>(std::floor(r))};
  }
};

struct Picture {
  std::string name;
  Raster img;
  std::function<std::pair<int, int>(double, double)> map;
  const unsigned char* at(double x, double y) const {
    auto [c, r] = map(x, y);
    return img.at(c, r);
  }
};

// Layers: 1 filled red, 2 filled green, 3 outlined blue, 4 cross-hatched
// purple, 5 filled orange (a wire). No two shapes overlap.
const char kConfig[] =
    "newlayer name fillred gdsno 1 hidden no fill yes red 1 green 0 blue 0 endlayer\n"
    "newlayer name fillgreen gdsno 2 hidden no fill yes red 0 green 0.6 blue 0 endlayer\n"
    "newlayer name outline gdsno 3 hidden no red 0 green 0 blue 1 endlayer\n"
    "newlayer name hatched gdsno 4 hidden no hatch cross angle 30 step 20 red 0.6 green 0 blue 0.6 endlayer\n"
    "newlayer name wire gdsno 5 hidden no fill yes red 1 green 0.5 blue 0 endlayer\n";

std::string drawing() {
  Placement rot90;
  rot90.strans = rot90.hasAngle = true;
  rot90.angle = 90;
  Gds g;
  g.lib("PREVIEW")
      .bgnstr("CELL").rect(1, 0, 0, 0, 6000, 3000).endstr()
      .bgnstr("TOP")
      .rect(1, 0, 0, 0, 30000, 20000)
      .boundary(2, 0, {{40000, 0}, {70000, 0}, {40000, 30000}, {40000, 0}})
      .rect(3, 0, 0, 30000, 30000, 60000)
      .rect(4, 0, 80000, 0, 100000, 60000)
      .path(5, 0, 0, 4000, {{40000, 45000}, {70000, 45000}})
      .sref("CELL", 66000, 18000, rot90)  // lands on (63000, 18000)-(66000, 24000)
      .endstr()
      .endlib();
  return g.bytes;
}

// Points well inside a box (15% to 85% of each side).
std::vector<std::pair<double, double>> inside(const Box& b) {
  std::vector<std::pair<double, double>> v;
  for (int i = 0; i <= 6; ++i)
    for (int j = 0; j <= 6; ++j)
      v.push_back({b.x0 + (b.x1 - b.x0) * (0.15 + 0.7 * i / 6), b.y0 + (b.y1 - b.y0) * (0.15 + 0.7 * j / 6)});
  return v;
}

TEST(Plot2svgPicture, PlotShowsWhatThePageShows) {
  QM_NEED_TOOL("gs");
  QM_NEED_TOOL("chromium");
  TempDir d;
  d.write("in.gds", drawing());
  d.write("layers", kConfig);
  auto r = qmtest::quillmask({"-i", "in.gds", "-s", "TOP", "-c", "layers"}, d.path());
  ASSERT_EQ(r.status, 0) << r.err;
  auto s = plot2svg({"result.plt", "plot.svg"}, d.path());
  ASSERT_EQ(s.status, 0) << s.err;

  // The page.
  PageMap pm;
  const std::string ps = d.read("result.ps");
  const std::size_t at = ps.find(" scale\n");
  ASSERT_NE(at, std::string::npos);
  const std::size_t line = ps.rfind('\n', at) + 1;
  double s2 = 0;
  ASSERT_EQ(std::sscanf(ps.c_str() + line, "%lf %lf scale\n%lf %lf translate", &pm.s, &s2, &pm.tx, &pm.ty), 4);
  pm.dpi = 100;
  std::string e = qmtest::renderPostScript(d.path(), "result.ps", "page.png", pm.dpi);
  ASSERT_EQ(e, "");
  Picture page{"page", qmtest::readPng(d.file("page.png"), &e), {}};
  ASSERT_FALSE(page.img.empty()) << e;
  pm.height = page.img.height;
  page.map = [pm](double x, double y) { return pm.px(x, y); };

  // The plot, read back, shown at one screen pixel per user unit across.
  PlotMap qm;
  qm.plot = qm::plotread::parse(d.read("result.plt"));
  ASSERT_TRUE(qm.plot.ok()) << qm.plot.error;
  ASSERT_TRUE(qm.plot.hasSize && qm.plot.scaling.hasIP && qm.plot.scaling.hasSC);
  qm.width = 1100;
  qm.height = static_cast<int>(std::lround(1100 * qm.plot.plotWidth / qm.plot.plotLength));
  e = qmtest::renderSvg(d.path(), "plot.svg", "plot.png", qm.width, qm.height);
  ASSERT_EQ(e, "");
  Picture plot{"plot", qmtest::readPng(d.file("plot.png"), &e), {}};
  ASSERT_FALSE(plot.img.empty()) << e;
  ASSERT_EQ(plot.img.width, qm.width);
  plot.map = [qm](double x, double y) { return qm.px(x, y); };

  struct Filled {
    Box b;
    int r, g, bl;
  } filled[] = {
      {{0, 0, 30000, 20000}, 255, 0, 0},
      {{63000, 18000, 66000, 24000}, 255, 0, 0},
      {{40000, 43000, 70000, 47000}, 255, 128, 0},
  };
  const Box outlined{0, 30000, 30000, 60000};
  const Box hatched{80000, 0, 100000, 60000};
  const Box triangleBox{40000, 0, 70000, 30000};
  // At least 3000 units from every edge of the triangle.
  auto wellInTriangle = [](double x, double y) { return x >= 43000 && y >= 3000 && (x - 40000) + y <= 25700; };

  for (const Picture* p : {&page, &plot}) {
    SCOPED_TRACE(p->name);
    // Filled shapes: their colour all over their inside.
    for (const Filled& f : filled)
      for (auto [x, y] : inside(f.b))
        EXPECT_TRUE(qmtest::near(p->at(x, y), f.r, f.g, f.bl)) << x << "," << y;
    for (auto [x, y] : inside(triangleBox)) {
      if (!wellInTriangle(x, y)) continue;
      EXPECT_TRUE(qmtest::near(p->at(x, y), 0, 153, 0)) << x << "," << y;
    }
    // The outlined rectangle: empty inside, its colour on every edge.
    for (auto [x, y] : inside(outlined)) EXPECT_FALSE(qmtest::inked(p->at(x, y))) << x << "," << y;
    for (double t : {0.2, 0.4, 0.6, 0.8}) {
      const double mx = outlined.x0 + t * (outlined.x1 - outlined.x0);
      const double my = outlined.y0 + t * (outlined.y1 - outlined.y0);
      for (auto [x, y, dx, dy] : {std::tuple{mx, outlined.y0, 0, 1}, std::tuple{mx, outlined.y1, 0, 1},
                                  std::tuple{outlined.x0, my, 1, 0}, std::tuple{outlined.x1, my, 1, 0}}) {
        auto [c, r0] = p->map(x, y);
        bool blue = false;
        for (int k = -3; k <= 3; ++k) {
          const unsigned char* q = p->img.at(c + k * dx, r0 + k * dy);
          blue = blue || (qmtest::inked(q) && q[2] > q[0] + 40 && q[2] > q[1] + 40);
        }
        EXPECT_TRUE(blue) << "edge at " << x << "," << y;
      }
    }
    // The hatched rectangle: purple lines with white between them.
    {
      auto [c0, r1] = p->map(hatched.x0 + 1500, hatched.y0 + 1500);
      auto [c1, r0] = p->map(hatched.x1 - 1500, hatched.y1 - 1500);
      int inked = 0, purple = 0, n = 0;
      for (int r = r0; r <= r1; ++r)
        for (int c = c0; c <= c1; ++c, ++n) {
          const unsigned char* q = p->img.at(c, r);
          if (!qmtest::inked(q)) continue;
          ++inked;
          purple += q[1] + 20 < q[0] && q[1] + 20 < q[2];
        }
      EXPECT_GT(inked, n / 50) << inked << " of " << n;
      EXPECT_LT(inked, n * 6 / 10) << inked << " of " << n;
      EXPECT_GT(purple, inked * 9 / 10);
    }
    // Everywhere else, well away from every shape: white.
    const Box all[] = {filled[0].b, filled[1].b, filled[2].b, outlined, hatched, triangleBox};
    int white = 0, samples = 0;
    for (double x = -4000; x <= 104000; x += 1000)
      for (double y = -2000; y <= 62000; y += 1000) {
        bool near = false;
        for (const Box& b : all) near = near || (x > b.x0 - 1500 && x < b.x1 + 1500 && y > b.y0 - 1500 && y < b.y1 + 1500);
        if (near) continue;
        ++samples;
        white += !qmtest::inked(p->at(x, y), 8);
      }
    EXPECT_GT(samples, 500);
    EXPECT_EQ(white, samples);
  }
}

// ------------------------------------------------------------ the SVG

pugi::xml_document parseSvg(const std::string& svg) {
  pugi::xml_document doc;
  pugi::xml_parse_result ok = doc.load_string(svg.c_str());
  EXPECT_TRUE(ok) << ok.description() << " at " << ok.offset << "\n" << svg.substr(0, 2000);
  EXPECT_STREQ(doc.document_element().name(), "svg");
  EXPECT_STREQ(doc.document_element().attribute("xmlns").value(), "http://www.w3.org/2000/svg");
  return doc;
}

int countElements(const pugi::xml_node& n, const char* name) {
  int k = 0;
  for (pugi::xml_node c : n.children()) k += std::string(c.name()) == name;
  return k;
}

TEST(Plot2svg, WholeRunGivesWellFormedSvg) {
  TempDir d;
  Gds g;
  g.lib("L").bgnstr("TOP")
      .rect(1, 0, 0, 0, 10000, 20000)
      .boundary(2, 0, {{0, 0}, {1000, 0}, {0, 1000}, {0, 0}})
      .text(2, 0, "a<b>&\"c\" \x01\xe9", 500, 500)
      .endstr().endlib();
  d.write("in.gds", g.bytes);
  d.write("layers",
          "newlayer name a gdsno 1 hidden no fill yes red 1 green 0.5 endlayer\n"
          "newlayer name b gdsno 2 hidden no hatch single angle 45 step 2 blue 1 endlayer\n");
  ASSERT_EQ(qmtest::quillmask({"-i", "in.gds", "-s", "TOP", "-c", "layers"}, d.path()).status, 0);
  auto r = plot2svg({"result.plt"}, d.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  pugi::xml_document doc = parseSvg(r.out);
  pugi::xml_node svg = doc.document_element();
  EXPECT_STREQ(svg.attribute("viewBox").value(), "0 0 34137 68275");
  EXPECT_STREQ(svg.attribute("width").value(), "100%");
  // ER + RR of the rectangle, EP + FP of the triangle, one label.
  EXPECT_EQ(countElements(svg, "rect"), 3);  // with the paper
  EXPECT_EQ(countElements(svg, "polygon"), 2);
  pugi::xml_node label = svg.child("text");
  ASSERT_TRUE(label);
  EXPECT_EQ(std::string(label.child_value()), "a<b>&\"c\" \u2401\u00e9");
  EXPECT_STREQ(label.attribute("text-anchor").value(), "middle");  // LO6: centred, hanging
  EXPECT_STREQ(label.attribute("fill").value(), "#0000ff");
  // The filled rectangle in the pen's colour, the triangle hatched.
  pugi::xpath_node fill = doc.select_node("//rect[@class='f']");
  ASSERT_TRUE(fill);
  EXPECT_STREQ(fill.node().attribute("fill").value(), "#ff8000");
  pugi::xpath_node tri = doc.select_node("//polygon[@class='f']");
  ASSERT_TRUE(tri);
  EXPECT_STREQ(tri.node().attribute("fill").value(), "url(#h0)");
  EXPECT_TRUE(doc.select_node("//pattern[@id='h0']"));
  // Files give the same picture as the streams.
  ASSERT_EQ(plot2svg({"-", "out.svg"}, d.path(), d.read("result.plt")).status, 0);
  EXPECT_EQ(d.read("out.svg"), r.out);
}

TEST(Plot2svg, EncodedPolylines) {
  // Relative moves from (10, 20), a pen-up move, an absolute one, a pen
  // change, fractional bits, and the 7-bit alphabet.
  const std::string pe = "PU10,20PE" + enc(5) + enc(0) + enc(0) + enc(-7) + "<" + enc(100) + enc(100) + enc(1) +
                         enc(1) + "=" + enc(-300) + enc(4000) + ":" + enc(3) + enc(1) + enc(0) + ">" + enc(2) +
                         enc(6) + enc(-2) + "7" + enc(33, true) + enc(-40, true) + ";\n";
  const std::string plt = kHeader + "PC3,10,20,30\nPS1000,1000;\nSP1\n" + pe + kTrailer;
  auto p = qm::plotread::parse(plt);
  ASSERT_TRUE(p.ok()) << p.error;
  using qm::plotread::Point;
  std::vector<std::vector<Point>> lines;
  std::vector<int> pens;
  for (const auto& s : p.shapes) {
    ASSERT_EQ(s.kind, qm::plotread::Shape::Line);
    lines.push_back(s.points);
    pens.push_back(s.pen);
  }
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], (std::vector<Point>{{10, 20}, {15, 20}, {15, 13}}));
  // After the pen-up move to (115, 113): (116, 114), then absolute (-300, 4000).
  EXPECT_EQ(lines[1], (std::vector<Point>{{115, 113}, {116, 114}, {-300, 4000}}));
  // Pen 3: (-299, 4000), then in quarters (-297.5, 3999.5), (-289.25, 3989.5).
  EXPECT_EQ(lines[2], (std::vector<Point>{{-300, 4000}, {-299, 4000}, {-297.5, 3999.5}, {-289.25, 3989.5}}));
  EXPECT_EQ(pens, (std::vector<int>{1, 1, 3}));
  EXPECT_EQ(p.shapes[2].colour, (qm::plotread::Colour{10, 20, 30}));
  // Inside polygon mode the pairs are vertices.
  auto poly = qm::plotread::parse(kHeader + "PU0,0PM0PE" + enc(10) + enc(0) + enc(0) + enc(10) + ";PM2FP\n" +
                                  kTrailer);
  ASSERT_TRUE(poly.ok()) << poly.error;
  ASSERT_EQ(poly.shapes.size(), 1u);
  EXPECT_EQ(poly.shapes[0].points, (std::vector<Point>{{0, 0}, {10, 0}, {10, 10}}));

  TempDir d;
  auto r = plot2svg({}, d.path(), plt);
  ASSERT_EQ(r.status, 0) << r.err;
  pugi::xml_document doc = parseSvg(r.out);
  EXPECT_EQ(countElements(doc.document_element(), "polyline"), 3);
  // No SC: user units are plotter units, y up on a page 1000 high.
  EXPECT_STREQ(doc.document_element().child("polyline").attribute("points").value(), "10,980 15,980 15,987");
}

TEST(Plot2svg, RefusesWhatIsNoPlot) {
  struct Case {
    std::string name, data, message;
  } cases[] = {
      {"empty", "", "is empty"},
      {"no escape", "BPIN;\n", "does not start with ESC%-1B"},
      {"unknown command", kHeader + "ZZ1;\n" + kTrailer, "unknown mnemonic ZZ"},
      {"cut in a label", kHeader + "LBabc", "LB without its terminator"},
      {"open polygon", kHeader + "PU0,0PM0PD1,1\n", "ends inside polygon mode"},
      {"PE without semicolon", kHeader + "PE" + enc(1) + enc(2), "PE without its semicolon"},
      {"PE value cut short", kHeader + "PE" + enc(1) + "?;\n", "bad byte in PE value"},
      {"PE odd coordinates", kHeader + "PE" + enc(1) + ";\n", "PE coordinate without its y"},
      {"PE pen-up in polygon", kHeader + "PU0,0PM0PE<" + enc(1) + enc(1) + ";PM2\n" + kTrailer,
       "pen-up move inside a polygon"},
      {"PE flag at the end", kHeader + "PE=;\n", "PE flag without its coordinates"},
      {"number out of range", kHeader + "PW1" + std::string(400, '0') + "\n", "bad parameter syntax in PW"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir d;
    d.write("bad.plt", c.data);
    auto r = plot2svg({"bad.plt", "out.svg"}, d.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("plot2svg: bad.plt ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(d.exists("out.svg"));
    auto s = plot2svg({}, d.path(), c.data);
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(s.err.rfind("plot2svg: standard input ", 0), 0u) << s.err;
  }
  TempDir d;
  auto r = plot2svg({"missing.plt"}, d.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "plot2svg: cannot read missing.plt: No such file or directory\n");
  r = plot2svg({"a", "b", "c"}, d.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("usage: plot2svg", 0), 0u);
  r = plot2svg({"--help"}, d.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: plot2svg", 0), 0u);
  d.write("ok.plt", kHeader + kTrailer);
  r = plot2svg({"ok.plt", "no/such/dir.svg"}, d.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "plot2svg: cannot open no/such/dir.svg for writing: No such file or directory\n");
}

}  // namespace
