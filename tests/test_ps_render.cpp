// The written pages through a PostScript interpreter: they render without
// error at coarse and fine resolutions, and the pixels show what the
// layers say (fill colour, hatch lines, text).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "common/out.h"
#include "ps/ps.h"
#include "gdsw.h"
#include "need_tool.h"
#include "ps_testlib.h"
#include "render.h"
#include "runner.h"

using pstest::LibBuilder;
using pstest::block;
using pstest::shift;
using qmtest::TempDir;

namespace {

std::string interpreter() { return qmtest::programPath("gs"); }

// An RGB raster read from a binary PPM.
struct Raster {
  int width = 0, height = 0;
  std::string px;
  // Pixel at page point (x, y) measured from the lower-left corner, at
  // `dpi` pixels per inch.
  const unsigned char* at(double x, double y, int dpi) const {
    int c = static_cast<int>(x * dpi / 72.0);
    int r = height - 1 - static_cast<int>(y * dpi / 72.0);
    return reinterpret_cast<const unsigned char*>(px.data()) + 3 * (static_cast<std::size_t>(r) * width + c);
  }
};

bool parsePpm(const std::string& data, Raster& out) {
  std::size_t pos = 0;
  std::vector<long> vals;
  std::string magic;
  auto skip = [&] {
    for (;;) {
      while (pos < data.size() && std::isspace(static_cast<unsigned char>(data[pos]))) ++pos;
      if (pos < data.size() && data[pos] == '#') {
        while (pos < data.size() && data[pos] != '\n') ++pos;
      } else {
        return;
      }
    }
  };
  skip();
  magic = data.substr(pos, 2);
  pos += 2;
  if (magic != "P6") return false;
  for (int i = 0; i < 3; ++i) {
    skip();
    std::size_t start = pos;
    while (pos < data.size() && std::isdigit(static_cast<unsigned char>(data[pos]))) ++pos;
    if (start == pos) return false;
    vals.push_back(std::stol(data.substr(start, pos - start)));
  }
  ++pos;  // the single white space before the samples
  out.width = static_cast<int>(vals[0]);
  out.height = static_cast<int>(vals[1]);
  out.px = data.substr(pos);
  return vals[2] == 255 && out.px.size() == static_cast<std::size_t>(out.width) * out.height * 3;
}

// Renders `ps` at `dpi`; fails the test on any interpreter error.
void render(const std::string& gs, const std::string& ps, int dpi, Raster* raster = nullptr,
            double heightPoints = 792) {
  TempDir d;
  d.write("page.ps", ps);
  std::vector<std::string> args = {"-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-dFIXEDMEDIA",
                                   "-dDEVICEWIDTHPOINTS=612",
                                   "-dDEVICEHEIGHTPOINTS=" + std::to_string(static_cast<int>(heightPoints)),
                                   "-sDEVICE=ppmraw", "-r" + std::to_string(dpi),
                                   "-sOutputFile=" + (raster ? d.file("page.ppm") : std::string("/dev/null")),
                                   d.file("page.ps")};
  qmtest::RunResult r = qmtest::run(gs, args, d.path());
  EXPECT_EQ(r.status, 0) << "at " << dpi << " dpi:\n" << r.out << r.err;
  EXPECT_EQ(r.out.find("Error"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("Error"), std::string::npos) << r.err;
  if (raster) {
    EXPECT_TRUE(parsePpm(d.read("page.ppm"), *raster)) << "at " << dpi << " dpi";
  }
}

std::string writePage(const qm::GDSlibrary& lib, const std::string& config, const std::string& top = "TOP") {
  TempDir d;
  d.write("layers", config);
  qm::LayerTable table;
  qm::CaptureStd cap;
  qm::PSwritePage(cap.console(), lib, table, d.file("out.ps"), d.file("layers"), top);
  return d.exists("out.ps") ? d.read("out.ps") : std::string();
}

// The extent is 52020 database units wide, so the scale is exactly 1 and a
// database coordinate X lands at 45.9 + X / 100 points (Y at 59.4 + Y / 100).
qm::GDSlibrary& sampleLibrary(LibBuilder& b) {
  int top = b.add("TOP");
  b.rect(top, 1, 0, 0, 20000, 20000);           // filled red
  b.rect(top, 2, 30000, 0, 52020, 20000);       // hatched blue
  b.text(top, 3, "ABC", shift(0, 30000));       // black text, 20 points high
  b.path(top, 4, 0, 1000, {{0, 25000}, {52020, 25000}});  // a cross-hatched band
  return b.done();
}

const std::string kSampleConfig =
    block("fill", 1, "fill yes red 1 green 0 blue 0") +
    block("hatch", 2, "hatch single angle 45 step 2 red 0 green 0 blue 1") +
    block("text", 3, "red 0 green 0 blue 0") +
    block("band", 4, "hatch cross angle 60 step 40 red 0 green 0.6 blue 0");

bool isColour(const unsigned char* p, int r, int g, int b) {
  return std::abs(p[0] - r) < 40 && std::abs(p[1] - g) < 40 && std::abs(p[2] - b) < 40;
}

TEST(PsRender, PixelsShowFillHatchAndText) {
  QM_NEED_TOOL("gs");
  std::string gs = interpreter();
  ASSERT_FALSE(gs.empty());
  LibBuilder b;
  std::string ps = writePage(sampleLibrary(b), kSampleConfig);
  ASSERT_NE(ps.find("1.000000 1.000000 scale\n45.900000 59.400000 translate\n"), std::string::npos);

  for (int dpi : {72, 300}) {
    Raster img;
    render(gs, ps, dpi, &img, 420);
    ASSERT_GT(img.width, 0);
    // The filled layer: solid red all over the inside of its rectangle.
    int red = 0, samples = 0;
    for (double x = 50; x < 242; x += 3)
      for (double y = 63; y < 256; y += 3, ++samples) red += isColour(img.at(x, y, dpi), 255, 0, 0);
    EXPECT_EQ(red, samples) << dpi;
    // Outside every shape: white.
    EXPECT_TRUE(isColour(img.at(290, 150, dpi), 255, 255, 255));
    EXPECT_TRUE(isColour(img.at(300, 400, dpi), 255, 255, 255));
    // The text: dark pixels where ABC stands, none just above it.
    int dark = 0, above = 0;
    for (double x = 46; x < 90; x += 0.5) {
      for (double y = 360; y < 373; y += 0.5) dark += isColour(img.at(x, y, dpi), 0, 0, 0);
      for (double y = 385; y < 395; y += 0.5) above += isColour(img.at(x, y, dpi), 0, 0, 0);
    }
    EXPECT_GT(dark, 50) << dpi;
    EXPECT_EQ(above, 0) << dpi;
  }

  // The hatched layer at a resolution where its 2 mm lines are several
  // pixels apart: inside the rectangle blue lines alternate with white.
  Raster img;
  render(gs, ps, 300, &img, 420);
  int blue = 0, white = 0, rowsWithBlue = 0;
  for (double y = 70; y < 250; y += 10) {
    int inRow = 0;
    for (double x = 350; x < 560; x += 0.24) {
      const unsigned char* p = img.at(x, y, 300);
      if (isColour(p, 0, 0, 255)) ++inRow;
      else if (isColour(p, 255, 255, 255)) ++white;
    }
    blue += inRow;
    rowsWithBlue += inRow > 20;
  }
  EXPECT_EQ(rowsWithBlue, 18);
  EXPECT_GT(white, 4 * blue);  // thin lines, not a solid area
  // Lines at 45 degrees: a blue pixel has a blue neighbour diagonally.
  int diagonal = 0, checked = 0;
  for (int r = img.height - 1 - 300 * 200 / 72; r > img.height - 1 - 300 * 210 / 72; --r) {
    for (int c = 300 * 400 / 72; c < 300 * 500 / 72; ++c) {
      auto pix = [&](int rr, int cc) {
        return reinterpret_cast<const unsigned char*>(img.px.data()) + 3 * (static_cast<std::size_t>(rr) * img.width + cc);
      };
      if (!isColour(pix(r, c), 0, 0, 255)) continue;
      ++checked;
      diagonal += isColour(pix(r - 1, c + 1), 0, 0, 255) || isColour(pix(r - 1, c), 0, 0, 255) ||
                  isColour(pix(r, c + 1), 0, 0, 255);
    }
  }
  EXPECT_GT(checked, 0);
  EXPECT_EQ(diagonal, checked);
}

TEST(PsRender, EveryPageRendersAtAnyResolution) {
  QM_NEED_TOOL("gs");
  std::string gs = interpreter();
  ASSERT_FALSE(gs.empty());
  std::vector<std::string> pages;
  {
    LibBuilder b;
    pages.push_back(writePage(sampleLibrary(b), kSampleConfig));
  }
  {
    // Fine and coarse hatches, odd names, strings that need escapes, both
    // fill and hatch on one entry, spacings that are no use as they stand.
    LibBuilder b;
    int top = b.add("TOP");
    int cell = b.add("CELL");
    b.boundary(cell, 1, {{0, 0}, {4000, 300}, {2500, 3500}, {0, 0}});
    b.path(cell, 2, 2, 300, {{0, 0}, {3000, 0}, {3000, 2000}});
    b.text(cell, 3, "a(b)\\c\xe9)", shift(0, 0), 0.3);
    b.aref(top, cell, 2, 2, 5000, 4000, qm::GDStransf{0, -1, 0, 1, 0, 0});
    b.rect(top, 4, -30000, -2000, -1000, 15000);
    b.text(top, 3, "((", shift(-25000, 0), 0);
    std::string config = block("fine", 1, "hatch single angle 33 step 0.01") +
                         block("a(b)", 2, "hatch cross angle 170 step 0.5 fill yes") +
                         block("t%x", 3) + block("coarse", 4, "hatch single angle 0.001 step 100") +
                         block("zero", 1, "hatch cross angle 45 step 0") +
                         block("neg", 4, "hatch single angle 100 step -3");
    pages.push_back(writePage(b.done(), config));
  }
  {
    // Nothing to fit: scale 1.
    LibBuilder b;
    int top = b.add("TOP");
    b.text(top, 1, "alone", shift(0, 0));
    pages.push_back(writePage(b.done(), block("t", 1)));
  }
  {
    // A top structure that is not there: the page stops after the prologue.
    LibBuilder b;
    b.add("TOP");
    pages.push_back(writePage(b.done(), block("t", 1, "hatch single angle 45 step 1"), "NONE"));
  }
  for (const std::string& ps : pages) {
    ASSERT_FALSE(ps.empty());
    for (int dpi : {36, 72, 300}) render(gs, ps, dpi);
  }
}

TEST(PsRender, ThroughTheProgram) {
  QM_NEED_TOOL("gs");
  std::string gs = interpreter();
  ASSERT_FALSE(gs.empty());
  TempDir d;
  gdsw::Gds g;
  g.lib("LIB")
      .bgnstr("LEAF").rect(1, 0, 0, 0, 4000, 2000).path(2, 0, 0, 200, {{0, 0}, {4000, 2000}}).endstr()
      .bgnstr("TOP").aref("LEAF", 3, 2, {{0, 0}, {15000, 0}, {0, 6000}}).text(3, 0, "TOP (main)", 0, -2000)
      .sref("LEAF", 20000, 10000, {true, true, true, 2.0, true, 30.0}).endstr()
      .endlib();
  d.write("chip.gds", g.bytes);
  d.write("layers", block("diff", 1, "hatch cross angle 30 step 20 green 0.5") +
                        block("poly", 2, "hatch single angle 135 step 1 red 1") + block("label", 3));
  qmtest::RunResult r = qmtest::quillmask({"-i", "chip.gds", "-s", "TOP", "-c", "layers"}, d.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::string ps = d.read("result.ps");
  EXPECT_TRUE(ps.ends_with("showpage\n"));
  EXPECT_NE(ps.find("(TOP \\(main\\)) "), std::string::npos);
  for (int dpi : {36, 72, 300}) render(gs, ps, dpi);
  // The picture holds both layers' colours: the green cross-hatching of
  // the rectangles and the red hatching of the wires.
  Raster img;
  render(gs, ps, 150, &img);
  int green = 0, red = 0;
  for (std::size_t i = 0; i + 2 < img.px.size(); i += 3) {
    const auto* p = reinterpret_cast<const unsigned char*>(img.px.data()) + i;
    green += isColour(p, 0, 128, 0);
    red += isColour(p, 255, 0, 0);
  }
  EXPECT_GT(green, 2000);
  EXPECT_GT(red, 600);
}

}  // namespace
