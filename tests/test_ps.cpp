// PostScript prologue, hatch fonts, element writers and page writer.
#include <gtest/gtest.h>

#include <cstdio>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "common/out.h"
#include "ps/ps.h"
#include "ps_testlib.h"
#include "runner.h"
#include "failure.h"

using pstest::LibBuilder;
using pstest::block;
using pstest::shift;
using qmtest::TempDir;

namespace {

std::string prologue() {
  qm::Out o{qm::Out::Memory{}};
  qm::PSwritePrologue(o);
  return o.str();
}

qm::LayerEntry entry(int gdsno, int fill = 0, int hatchKind = 0, const std::string& name = "poly") {
  qm::LayerEntry e;
  e.name = name;
  e.gdsno = gdsno;
  e.fill = fill;
  e.hatch = hatchKind;
  return e;
}

qm::LayerEntry hatchEntry(const std::string& name, int hatch, double angle, double step) {
  qm::LayerEntry e = entry(0, 0, hatch, name);
  e.angle = angle;
  e.step = step;
  return e;
}

std::string hatch(const qm::LayerEntry& e) {
  qm::Out o{qm::Out::Memory{}};
  qm::PSwriteHatch(o, e);
  return o.str();
}

qm::GDSboundary boundaryOf(std::vector<qm::GDSpoint>& pts, int layer = 1) {
  qm::GDSboundary b;
  b.layer = layer;
  b.npoints = static_cast<int32_t>(pts.size());
  b.points = pts.data();
  return b;
}

std::string drawBoundary(std::vector<qm::GDSpoint> pts, const qm::LayerEntry& e, int layer = 1) {
  qm::Out o{qm::Out::Memory{}};
  qm::CaptureStd cap;
  qm::PSwriteBoundary(cap.console(), o, boundaryOf(pts, layer), e);
  return o.str();
}

// ---------------------------------------------------------------- prologue

TEST(PsPrologue, FixedLinesInOrder) {
  std::string p = prologue();
  EXPECT_EQ(p.rfind("%!PS-Adobe-2.0\n%%EndComments\n"
                    "/m { %def\n  moveto\n} bind def\n\n"
                    "/l { %def\n  lineto\n} bind def\n\n"
                    "/t { %def\n  moveto show\n} bind def\n\n",
                    0),
            0u);
  const char* ordered[] = {
      "/selectfont where { %ifelse\n", "  %true\n", "  pop\n", "  %false\n",
      "    exch findfont exch scalefont setfont\n", "} ifelse\n",
      "/f /selectfont load def\n[] 0 setdash\n\n", "/definepattern { %def\n",
      "(12345678901234567890123456789012)", "definefont", "} bind def\n\n/patternpath { %def\n",
      "} bind def\n\n/patternfill { %def\n  gsave\n  clip patternpath\n  grestore\n  newpath\n"
      "} bind def\n\n"};
  std::size_t at = 0;
  for (const char* s : ordered) {
    std::size_t k = p.find(s, at);
    ASSERT_NE(k, std::string::npos) << s;
    at = k + 1;
  }
  EXPECT_TRUE(p.ends_with("  newpath\n} bind def\n\n"));
  EXPECT_EQ(p.back(), '\n');

  // Well-formed as a program: printable ASCII and newlines only; outside
  // comments and strings, procedures and arrays open and close in order
  // and are all closed at the end; every name the page calls is defined
  // once at the outermost level.
  std::string nesting;
  std::map<std::string, int> outer;
  bool comment = false;
  int paren = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const char c = p[i];
    ASSERT_TRUE(c == '\n' || (c >= ' ' && c <= '~')) << "byte " << i;
    if (comment) {
      comment = c != '\n';
      continue;
    }
    if (paren) {
      paren += c == '(' ? 1 : c == ')' ? -1 : 0;
      continue;
    }
    if (c == '%') comment = true;
    if (c == '(') paren = 1;
    if (c == '{' || c == '[') nesting.push_back(c);
    if (c == '}' || c == ']') {
      ASSERT_FALSE(nesting.empty()) << "unopened " << c << " at " << i;
      ASSERT_EQ(nesting.back(), c == '}' ? '{' : '[') << "at " << i;
      nesting.pop_back();
    }
    if (c == '/' && nesting.empty() && (i == 0 || p[i - 1] == '\n')) {
      std::size_t end = p.find_first_of(" \n", i);
      ++outer[p.substr(i + 1, end - i - 1)];
    }
  }
  EXPECT_TRUE(nesting.empty());
  EXPECT_EQ(paren, 0);
  EXPECT_FALSE(comment);
  for (const char* name : {"m", "l", "t", "f", "definepattern", "patternpath", "patternfill"})
    EXPECT_EQ(outer[name], 1) << name;
}

// ------------------------------------------------------------------ hatches

TEST(PsHatch, CellsAndSegments) {
  struct Case {
    qm::LayerEntry e;
    std::string text;
  } cases[] = {
      {hatchEntry("metal1", 1, 45, 1),
       "4.01 4.01 [300 72 div 0 0 300 72 div 0 0]\n{ %definepattern\n  2 setlinecap\n"
       "  2.00 0.00 m 4.01 2.00 l\n  0.00 2.00 m 2.00 4.01 l\n"
       "  0.1 setlinewidth stroke\n} bind\n/FONTmetal1 true definepattern pop\n\n"},
      {hatchEntry("metal1", 1, 135, 1),
       "4.01 4.01 [300 72 div 0 0 300 72 div 0 0]\n{ %definepattern\n  2 setlinecap\n"
       "  2.00 0.00 m 0.00 2.00 l\n  4.01 2.00 m 2.00 4.01 l\n"
       "  0.1 setlinewidth stroke\n} bind\n/FONTmetal1 true definepattern pop\n\n"},
      {hatchEntry("via", 2, 45, 3),
       "4.24 4.24 [300 72 div 0 0 300 72 div 0 0]\n{ %definepattern\n  2 setlinecap\n"
       "  2.12 0.00 m 4.24 2.12 l\n  0.00 2.12 m 2.12 4.24 l\n"
       "  2.12 4.24 m 4.24 2.12 l\n  0.00 2.12 m 2.12 0.00 l\n"
       "  0.1 setlinewidth stroke\n} bind\n/FONTvia true definepattern pop\n\n"},
      {hatchEntry("via", 2, 120, 3),
       "3.46 6.00 [300 72 div 0 0 300 72 div 0 0]\n{ %definepattern\n  2 setlinecap\n"
       "  1.73 0.00 m 0.00 3.00 l\n  3.46 3.00 m 1.73 6.00 l\n"
       "  1.73 6.00 m 0.00 3.00 l\n  3.46 3.00 m 1.73 0.00 l\n"
       "  0.1 setlinewidth stroke\n} bind\n/FONTvia true definepattern pop\n\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(hatch(c.e), c.text) << c.e.angle;
  EXPECT_EQ(hatch(hatchEntry("x", 1, 30, 2)).substr(0, 12), "11.34 6.55 [");
}

TEST(PsHatch, NothingWithoutHatching) {
  EXPECT_EQ(hatch(hatchEntry("poly", 0, 45, 1)), "");
  EXPECT_EQ(hatch(hatchEntry("poly", 0, 0, 1)), "");  // the angle is not looked at
}

TEST(PsHatch, DegenerateSpacingStillGivesACell) {
  // No spacing, a negative one and one that is no number: every written
  // value is a positive finite number.
  EXPECT_EQ(hatch(hatchEntry("a", 1, 45, 0)).substr(0, 10), "0.01 0.01 ");
  EXPECT_EQ(hatch(hatchEntry("a", 1, 45, -1)), hatch(hatchEntry("a", 1, 45, 1)));
  EXPECT_EQ(hatch(hatchEntry("a", 2, 150, -3)), hatch(hatchEntry("a", 2, 150, 3)));
  std::string h = hatch(hatchEntry("a", 1, 45, std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ(h.substr(0, 10), "0.01 0.01 ");
  h = hatch(hatchEntry("a", 1, 1e-9, 100));
  EXPECT_EQ(h.substr(0, 18), "1000000.00 283.46 ");
  for (const auto& e : {hatchEntry("a", 1, 45, 0), hatchEntry("a", 1, 45, 1e300),
                        hatchEntry("a", 2, 179.9999999, 1)}) {
    std::string t = hatch(e);
    EXPECT_EQ(t.find("nan"), std::string::npos) << t;
    EXPECT_EQ(t.find("inf"), std::string::npos) << t;
    EXPECT_EQ(t.find("-"), std::string::npos) << t;
  }
}

TEST(PsFailure, HorizontalOrVerticalHatchingStops) {
  for (double angle : {0.0, 90.0, 180.0}) {
    for (int kind : {1, 2}) {
      EXPECT_FAILURE(hatch(hatchEntry("poly", kind, angle, 1)), 1,
                  "^Horizontal/vertical hatching not supported yet\\.\n"
                  "Please check layer \"poly\" configuration\\. Exiting\\.\n$");
    }
  }
}

TEST(PsHatch, FontNames) {
  EXPECT_EQ(qm::PSfontName("poly"), "/FONTpoly");
  EXPECT_EQ(qm::PSfontName(""), "/FONT");
  EXPECT_EQ(qm::PSfontName("m1_#!@$&*.;:'\"=+-~`^|?,"), "/FONTm1_#!@$&*.;:'\"=+-~`^|?,");
  EXPECT_EQ(qm::PSfontName("a(b"), "(FONTa\\(b) cvn");
  EXPECT_EQ(qm::PSfontName("p/q"), "(FONTp/q) cvn");
  EXPECT_EQ(qm::PSfontName("50%"), "(FONT50%) cvn");
  EXPECT_EQ(qm::PSfontName("x\\)"), "(FONTx\\\\\\)) cvn");
  EXPECT_EQ(qm::PSfontName("\xe9t\x7f\r"), "(FONT\\351t\\177\\015) cvn");
  for (const char* n : {"<a>", "[a]", "{a}", "a b"}) EXPECT_TRUE(qm::PSfontName(n).ends_with(") cvn")) << n;
  std::string h = hatch(hatchEntry("a{b", 1, 45, 1));
  EXPECT_TRUE(h.ends_with("} bind\n(FONTa{b) cvn true definepattern pop\n\n")) << h;
}

TEST(PsText, StringEscapes) {
  EXPECT_EQ(qm::PSstring("ABC"), "(ABC)");
  EXPECT_EQ(qm::PSstring(""), "()");
  EXPECT_EQ(qm::PSstring("a(b)c\\d"), "(a\\(b\\)c\\\\d)");
  EXPECT_EQ(qm::PSstring(std::string("\n\t\x1f\x7f\x80\xff ~", 8)), "(\\012\\011\\037\\177\\200\\377 ~)");
  EXPECT_EQ(qm::PSstring(std::string("a\0b", 3)), "(a\\000b)");
}

// ---------------------------------------------------------- element writers

TEST(PsElements, RectangleAndPolygon) {
  std::vector<qm::GDSpoint> rect = {{0, 0}, {0, 1000}, {2000, 1000}, {2000, 0}, {0, 0}};
  const std::string area = "0 0 m\n20 0 l\n20 10 l\n0 10 l\n0 0 l\nclosepath\n";
  EXPECT_EQ(drawBoundary(rect, entry(1)), "0 0 20 10 rectstroke\n" + area);
  EXPECT_EQ(drawBoundary(rect, entry(1, 1)), "0 0 20 10 rectstroke\n" + area + "fill\n");
  EXPECT_EQ(drawBoundary(rect, entry(1, 0, 1)),
            "0 0 20 10 rectstroke\n" + area + "/FONTpoly findfont patternfill\n");
  EXPECT_EQ(drawBoundary(rect, entry(1, 0, 2, "a b")),
            "0 0 20 10 rectstroke\n" + area + "(FONTa b) cvn findfont patternfill\n");
  // Filled and hatched: filled solid.
  EXPECT_EQ(drawBoundary(rect, entry(1, 1, 1)), "0 0 20 10 rectstroke\n" + area + "fill\n");
  // Another layer: nothing.
  EXPECT_EQ(drawBoundary(rect, entry(2, 1)), "");

  const std::string tri = "0 0 m\n0 10 l\n10 0 l\n0 0 l\n";
  EXPECT_EQ(drawBoundary({{0, 0}, {1000, 0}, {0, 1000}, {0, 0}}, entry(1)),
            tri + "closepath stroke\n" + tri + "closepath\n");
}

TEST(PsElements, CoordinatesTruncateTowardZero) {
  // 123456 -> 1234, -678 -> -6, -150 -> -1, -99 -> 0; the rectangle's size is
  // the difference divided, not the difference of the divided values.
  EXPECT_EQ(drawBoundary({{-150, -99}, {123456, -678}, {0, 0}}, entry(1)),
            "0 0 m\n1234 -6 l\n-1 0 l\nclosepath stroke\n0 0 m\n1234 -6 l\n-1 0 l\nclosepath\n");
  EXPECT_EQ(drawBoundary({{-150, -150}, {-150, 99}, {99, 99}, {99, -150}, {-150, -150}}, entry(1)).substr(0, 22),
            "-1 -1 2 2 rectstroke\n-");
  // Extreme corners: the size is taken without overflow.
  std::string big = drawBoundary({{INT32_MIN, INT32_MIN}, {INT32_MIN, INT32_MAX}, {INT32_MAX, INT32_MAX},
                                  {INT32_MAX, INT32_MIN}, {INT32_MIN, INT32_MIN}},
                                 entry(1));
  EXPECT_EQ(big.substr(0, big.find('\n')), "-21474836 -21474836 42949672 42949672 rectstroke");
}

TEST(PsElements, LongPolygonsLineByLine) {
  // Polygons far longer than the stream's buffer, with extreme and
  // negative coordinates, after a rectangle that leaves the buffer part
  // full: every line as printf writes it, the polygon twice.
  for (int32_t n : {3, 1000, 70000}) {
    std::vector<qm::GDSpoint> pts;
    for (int32_t i = 0; i < n; ++i)
      pts.push_back({i % 3 == 0 ? INT32_MIN + i : INT32_MAX - 7 * i, (i % 2 ? -1 : 1) * (i * 9973 % 1000003)});
    std::string lines;
    char buf[64];
    for (int32_t i = n - 1; i >= 0; --i) {
      std::snprintf(buf, sizeof buf, "%d %d %c\n", pts[static_cast<std::size_t>(i)].x / 100,
                    pts[static_cast<std::size_t>(i)].y / 100, i == n - 1 ? 'm' : 'l');
      lines += buf;
    }
    std::vector<qm::GDSpoint> rect = {{0, 0}, {0, 1000}, {2000, 1000}, {2000, 0}, {0, 0}};
    qm::Out o{qm::Out::Memory{}};
    qm::CaptureStd cap;
    for (int k = 0; k < 2000; ++k) qm::PSwriteBoundary(cap.console(), o, boundaryOf(rect), entry(1, 1));
    const std::size_t before = o.str().size();
    qm::PSwriteBoundary(cap.console(), o, boundaryOf(pts), entry(1, 1));
    EXPECT_EQ(o.str().substr(before), lines + "closepath stroke\n" + lines + "closepath\nfill\n") << n;
  }
}

TEST(PsElements, OddBoundaries) {
  EXPECT_EQ(drawBoundary({}, entry(1, 1)), "");
  EXPECT_EQ(drawBoundary({{500, 700}}, entry(1, 1)), "5 7 m\nclosepath stroke\n5 7 m\nclosepath\nfill\n");
}

TEST(PsElements, Text) {
  qm::GDStext t;
  t.layer = 3;
  t.string = "ABC";
  auto draw = [&](const qm::GDStransf& parent, const qm::LayerEntry& e) {
    qm::Out o{qm::Out::Memory{}};
    qm::CaptureStd cap;
    qm::PSwriteText(cap.console(), o, t, parent, e);
    return o.str();
  };
  EXPECT_EQ(draw(qm::GDSidentity, entry(3)), "/Helvetica 20.000 f\n(ABC) 0 0 t\n");
  EXPECT_EQ(draw(qm::GDSidentity, entry(4)), "");
  // Only the position follows the transforms; the size is the text's own.
  t.transf = shift(250, -250);
  t.mag = 0.5;
  t.string = "a(b)";
  EXPECT_EQ(draw(qm::GDStransf{0, -3, 1000, 3, 0, 0}, entry(3)), "/Helvetica 10.000 f\n(a\\(b\\)) 17 7 t\n");
  // A size that prints as zero, or that no interpreter can read, is not drawn.
  for (double mag : {0.0, 1e-5, -2e-5, 1e40, std::numeric_limits<double>::infinity()}) {
    t.mag = mag;
    EXPECT_EQ(draw(qm::GDSidentity, entry(3)), "") << mag;
  }
  t.mag = -1;
  EXPECT_EQ(draw(qm::GDSidentity, entry(3)).substr(0, 21), "/Helvetica -20.000 f\n");
}

}  // namespace
