// The SVG drawing in a real browser against the page in a PostScript
// interpreter: one run writes both; headless Chromium shows the SVG at the
// page's size and place, the interpreter renders the page at the same
// resolution, and the pixels inside the drawing must agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "gdsw.h"
#include "need_tool.h"
#include "runner.h"
#include "svg_testlib.h"

using namespace gdsw;
using qmtest::TempDir;

namespace {

constexpr int kDpi = 150;
constexpr int kPageW = 612 * kDpi / 72;   // 1275
constexpr int kPageH = 792 * kDpi / 72;   // 1650

std::string R(int type, const std::string& data = {}) { return Gds().rec(type, data).bytes; }

// A wire of type 4 with its own end extensions (tolerant reading).
std::string customWire(int layer, int width, int bgn, int end, const Pts& p) {
  return R(PATH) + R(LAYER, i2(layer)) + R(DATATYPE, i2(0)) + R(PATHTYPE, i2(4)) + R(WIDTH, i4(width)) +
         R(BGNEXTN, i4(bgn)) + R(ENDEXTN, i4(end)) + R(XY, xy(p)) + R(ENDEL);
}

// A hierarchy with rotated, mirrored and magnified instances, arrays of
// arrays, wires of every type, texts, filled, hatched and outlined layers,
// and instances that overlap on different layers.
std::string library() {
  Gds g;
  g.lib("RENDER");
  g.bgnstr("FET")
      .rect(1, 0, 0, 0, 4000, 2000)                                  // diffusion, filled
      .path(2, 0, 2, 400, {{2000, -600}, {2000, 2600}})              // poly, single hatching
      .rect(3, 0, 400, 600, 1200, 1400)                              // contacts, filled
      .rect(3, 0, 2800, 600, 3600, 1400)
      .boundary(7, 0, {{0, 2400}, {4000, 2400}, {2000, 3400}, {0, 2400}})  // outline only
      .endstr();
  g.bgnstr("PAIR")
      .sref("FET", 0, 0)
      .sref("FET", 9000, 2000, {true, true})                         // mirrored
      .path(4, 0, 0, 600, {{800, 1000}, {800, 4200}, {8200, 4200}, {8200, 1000}})  // metal, falling hatching
      .text(4, 0, "OUT", 4500, 4600)
      .endstr();
  g.bgnstr("ROW").aref("PAIR", 2, 1, {{0, 0}, {24000, 0}, {0, 6000}}).endstr();
  g.bgnstr("TOP");
  // An array of arrays: 2 rows of the 2-pair row.
  g.aref("ROW", 1, 2, {{0, 0}, {24000, 0}, {0, 14000}});
  g.sref("PAIR", 30000, 26000, {true, false, false, 1, true, 90});         // turned
  g.sref("FET", 36000, 2000, {true, true, true, 2, true, 270});            // mirrored, magnified, turned
  g.sref("PAIR", 3000, 30000, {true, false, true, 0.75, true, 180});       // magnified down, upside down
  // Overlapping instances: the metal of the first must lie over the
  // diffusion of the second, which comes later in the file.
  g.sref("PAIR", 40000, 30000);
  g.sref("FET", 40500, 33800);
  // Wires of every type, a cross-hatched plane and a text.
  g.path(6, 0, 0, 800, {{0, -3000}, {12000, -3000}, {12000, -1500}});
  g.path(6, 0, 1, 800, {{14000, -3000}, {20000, -1500}});
  g.path(6, 0, 2, 800, {{22000, -3000}, {28000, -3000}, {31000, -1000}});
  g.raw(customWire(6, 800, 1500, 300, {{33000, -3000}, {40000, -3000}}));
  g.boundary(5, 0, {{42000, -4000}, {52000, -4000}, {52000, 24000}, {46000, 24000}, {42000, 10000}, {42000, -4000}});
  g.text(8, 0, "quillmask", 2000, 21000, 0, {true, false, true, 2.5, false, 0});
  g.endstr();
  g.endlib();
  return g.bytes;
}

// Hatch spacings chosen so that the page's cells are whole pixels at the
// test resolution (8.00 pattern units, 4 pixels): the interpreter rounds
// cells to pixels, the browser does not.
std::string config() {
  const double single = 8 * 25.4 * std::sin(3.141592653589793 / 4) / 72;
  const double cross = 8 * std::sin(3.141592653589793 / 4);
  char s[32], c[32];
  std::snprintf(s, sizeof s, "%.6f", single);
  std::snprintf(c, sizeof c, "%.6f", cross);
  auto block = [](const std::string& name, int gdsno, const std::string& rest) {
    return "newlayer name " + name + " gdsno " + std::to_string(gdsno) + " hidden no " + rest + " endlayer\n";
  };
  return block("diff", 1, "red 0.2 green 0.7 blue 0.2 fill yes") +
         block("poly", 2, std::string("red 0.9 green 0.1 blue 0.1 hatch single angle 45 step ") + s) +
         block("contact", 3, "red 0.1 green 0.1 blue 0.1 fill yes") +
         block("metal", 4, std::string("red 0.2 green 0.3 blue 0.9 hatch single angle 135 step ") + s) +
         block("plane", 5, std::string("red 0.1 green 0.6 blue 0.6 hatch cross angle 45 step ") + c) +
         block("wire", 6, "red 0.8 green 0.5 blue 0.0 fill yes") +
         block("mark", 7, "red 0.8 green 0.6 blue 0.0") +
         block("label", 8, "red 0.5 green 0.0 blue 0.5");
}

bool close(const unsigned char* a, const unsigned char* b) {
  for (int k = 0; k < 3; ++k)
    if (std::abs(a[k] - b[k]) > 64) return false;
  return true;
}

bool white(const unsigned char* p) { return p[0] > 235 && p[1] > 235 && p[2] > 235; }

// Whether colour s is a mix of colours p and q (what anti-aliasing makes of
// an edge between them), within the tolerance.
bool mixOf(const unsigned char* s, const unsigned char* p, const unsigned char* q) {
  double num = 0, den = 0;
  for (int k = 0; k < 3; ++k) {
    num += (s[k] - q[k]) * static_cast<double>(p[k] - q[k]);
    den += (p[k] - q[k]) * static_cast<double>(p[k] - q[k]);
  }
  double t = den > 0 ? std::clamp(num / den, 0.0, 1.0) : 0;
  for (int k = 0; k < 3; ++k)
    if (std::abs(s[k] - (q[k] + t * (p[k] - q[k]))) > 40) return false;
  return true;
}

// Share of the pixels of `a` in the box whose colour `b` shows at the same
// place or one pixel away (the two renderers place edges differently by
// up to a pixel), over all pixels and over the pixels that are not white
// in `a`. With `blends`, a pixel of `a` may also be a mix of two colours
// of `b` there: the browser smooths edges and thin lines, the interpreter
// does not.
struct Agreement {
  double all = 0, ink = 0;
};
Agreement agreement(const svgtest::Image& a, const svgtest::Image& b, int x0, int y0, int x1, int y1, bool blends) {
  long n = 0, same = 0, inkN = 0, inkSame = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const unsigned char* p = a.at(x, y);
      const unsigned char* near[9];
      int m = 0;
      bool found = false;
      for (int dy = -1; dy <= 1 && !found; ++dy) {
        for (int dx = -1; dx <= 1 && !found; ++dx) {
          near[m] = b.at(x + dx, y + dy);
          found = close(p, near[m++]);
        }
      }
      for (int i = 0; blends && !found && i < m; ++i)
        for (int j = i + 1; !found && j < m; ++j) found = mixOf(p, near[i], near[j]);
      ++n;
      same += found;
      if (!white(p)) {
        ++inkN;
        inkSame += found;
      }
    }
  }
  return {n ? static_cast<double>(same) / n : 0, inkN ? static_cast<double>(inkSame) / inkN : 1};
}

// A hierarchy whose instances lie apart at every level (drawn with one
// definition per structure): arrays of arrays, turned, mirrored and
// magnified instances of a cell without hatching, translated instances of
// hatched cells, wires of every type and a cross-hatched plane.
std::string apartLibrary() {
  Gds g;
  g.lib("APART");
  g.bgnstr("FET")
      .rect(1, 0, 0, 0, 4000, 2000)
      .path(2, 0, 2, 400, {{2000, -600}, {2000, 2600}})
      .rect(3, 0, 400, 600, 1200, 1400)
      .rect(3, 0, 2800, 600, 3600, 1400)
      .boundary(7, 0, {{0, 2400}, {4000, 2400}, {2000, 3400}, {0, 2400}})
      .endstr();
  g.bgnstr("MARK")
      .rect(1, 0, 0, 0, 3000, 1000)
      .boundary(7, 0, {{0, 1200}, {3000, 1200}, {0, 2400}, {0, 1200}})
      .rect(3, 0, 200, 200, 800, 800)
      .endstr();
  g.bgnstr("ROW").aref("FET", 3, 1, {{0, 0}, {15000, 0}, {0, 5000}}).endstr();
  g.bgnstr("TOP");
  g.aref("ROW", 1, 2, {{0, 0}, {15000, 0}, {0, 10000}});
  g.sref("MARK", 20000, 14000, {true, false, false, 1, true, 90});
  g.sref("MARK", 26000, 14000, {true, true, true, 2, true, 270});
  g.sref("MARK", 36000, 16000, {true, false, true, 0.75, true, 180});
  g.sref("FET", 40000, 20000);
  g.path(4, 0, 0, 600, {{800, 18000}, {800, 24000}, {12000, 24000}});
  g.path(6, 0, 0, 800, {{0, -3000}, {12000, -3000}, {12000, -1500}});
  g.path(6, 0, 1, 800, {{14000, -3000}, {20000, -1500}});
  g.path(6, 0, 2, 800, {{22000, -3000}, {28000, -3000}, {31000, -1000}});
  g.raw(customWire(6, 800, 1500, 300, {{33000, -3000}, {40000, -3000}}));
  g.boundary(5, 0, {{42000, -4000}, {52000, -4000}, {52000, 12000}, {46000, 12000}, {42000, 6000}, {42000, -4000}});
  g.endstr();
  g.endlib();
  return g.bytes;
}

// `whole`: the drawing holds one definition per structure and draws the top
// once (rather than once per layer).
void showsWhatThePageShows(const std::string& gds, const std::string& cfg, bool whole) {
  TempDir d;
  d.write("in.gds", gds);
  d.write("layers.cfg", cfg);
  auto r = qmtest::quillmask({"--tolerant", "-i", "in.gds", "-s", "TOP", "-c", "layers.cfg", "-g", "drawing.svg",
                              "--only", "ps,svg"},
                             d.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string svg = d.read("drawing.svg");
  pugi::xml_document doc;
  ASSERT_TRUE(svgtest::parse(svg, doc));

  // The page's fit, from its standard-error lines.
  int minx, miny, maxx, maxy;
  ASSERT_EQ(std::sscanf(r.err.c_str() + r.err.find("minx = "), "minx = %d, miny = %d, maxx = %d, maxy = %d", &minx, &miny, &maxx, &maxy), 4)
      << r.err;
  const double scale = std::min(52020.0 / (maxx - minx), 67320.0 / (maxy - miny));
  const double k = scale / 100 * kDpi / 72;  // pixels per database unit

  // Where the SVG goes: its view box and the root transform that puts
  // database units into it.
  pugi::xml_node root = doc.child("svg");
  EXPECT_EQ(!root.child("g").child("g"), whole);
  double vx, vy, vw, vh, tx, ty;
  ASSERT_EQ(std::sscanf(root.attribute("viewBox").value(), "%lf %lf %lf %lf", &vx, &vy, &vw, &vh), 4);
  ASSERT_EQ(std::sscanf(root.child("g").attribute("transform").value(), "matrix(1 0 0 -1 %lf %lf)", &tx, &ty), 2);
  const double left = 45.9 * kDpi / 72 - (minx + tx) * k;
  const double top = kPageH - 59.4 * kDpi / 72 + miny * k - ty * k;
  char html[512];
  std::snprintf(html, sizeof html,
                "<!DOCTYPE html><html><body style=\"margin:0;background:#fff\"><img src=\"drawing.svg\" "
                "style=\"position:absolute;left:%.3fpx;top:%.3fpx;width:%.3fpx;height:%.3fpx\"></body></html>\n",
                left, top, vw * k, vh * k);
  d.write("show.html", html);

  auto browser = qmtest::run(
      svgtest::programPath("chromium"),
      {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
       "--disable-background-networking", "--disable-component-update", "--disable-sync", "--hide-scrollbars",
       "--force-device-scale-factor=1", "--user-data-dir=" + d.file("profile"), "--screenshot=" + d.file("svg.png"),
       "--window-size=" + std::to_string(kPageW) + "," + std::to_string(kPageH), "file://" + d.file("show.html")},
      d.path());
  ASSERT_TRUE(d.exists("svg.png")) << browser.err;
  auto gs = qmtest::run(svgtest::programPath("gs"), {"-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sDEVICE=png16m", "-r" + std::to_string(kDpi),
                               "-dDEVICEWIDTHPOINTS=612", "-dDEVICEHEIGHTPOINTS=792", "-dFIXEDMEDIA",
                               "-sOutputFile=" + d.file("page.png"), d.file("result.ps")},
                        d.path());
  ASSERT_EQ(gs.status, 0) << gs.out << gs.err;

  svgtest::Image page, shown;
  ASSERT_TRUE(svgtest::readPng(d.file("page.png"), page));
  ASSERT_TRUE(svgtest::readPng(d.file("svg.png"), shown));
  ASSERT_EQ(page.width, kPageW);
  ASSERT_EQ(page.height, kPageH);
  ASSERT_EQ(shown.width, kPageW);
  ASSERT_EQ(shown.height, kPageH);

  // Inside the drawing: the extent on the page, less one pixel all round.
  const int x0 = static_cast<int>(std::ceil(45.9 * kDpi / 72)) + 1;
  const int x1 = static_cast<int>((45.9 + (maxx - minx) * scale / 100) * kDpi / 72) - 1;
  const int y1 = kPageH - static_cast<int>(std::ceil(59.4 * kDpi / 72)) - 1;
  const int y0 = kPageH - static_cast<int>((59.4 + (maxy - miny) * scale / 100) * kDpi / 72) + 1;
  ASSERT_LT(x0 + 100, x1);
  ASSERT_LT(y0 + 100, y1);
  Agreement pageInSvg = agreement(page, shown, x0, y0, x1, y1, false);
  Agreement svgInPage = agreement(shown, page, x0, y0, x1, y1, true);
  EXPECT_GE(pageInSvg.all, 0.97);
  EXPECT_GE(svgInPage.all, 0.97);
  // The drawn pixels alone, so that the white between shapes does not
  // carry the result.
  EXPECT_GE(pageInSvg.ink, 0.97);
  EXPECT_GE(svgInPage.ink, 0.97);
  std::printf("agreement: page in SVG %.4f (drawn %.4f), SVG in page %.4f (drawn %.4f)\n", pageInSvg.all,
              pageInSvg.ink, svgInPage.all, svgInPage.ink);
  if (::testing::Test::HasFailure()) {
    // Keep the images for a look.
    std::system(("cp " + d.file("page.png") + " " + d.file("svg.png") + " " + d.file("drawing.svg") + " /tmp/ 2>/dev/null").c_str());
  }
}

TEST(SvgRender, BrowserShowsWhatThePageShows) {
  QM_NEED_TOOL("gs");
  QM_NEED_TOOL("chromium");
  showsWhatThePageShows(library(), config(), false);
}

TEST(SvgRender, BrowserShowsWhatThePageShowsWithStructuresApart) {
  QM_NEED_TOOL("gs");
  QM_NEED_TOOL("chromium");
  showsWhatThePageShows(apartLibrary(), config(), true);
}

}  // namespace
