// Wire outlines: segment angles, end and mitre offsets, the outline polygon,
// short wires and reversals.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geom/extent.h"
#include "geom/outline.h"
#include "gds/numeric.h"
#include "geom_testlib.h"
#include "failure.h"

using namespace qm;
using geomtest::capture;

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;

GDSpath makePath(int32_t pathtype, int32_t width, std::vector<GDSpoint>& pts) {
  GDSpath p;
  p.layer = 7;
  p.datatype = 3;
  p.pathtype = pathtype;
  p.width = width;
  p.npoints = static_cast<int32_t>(pts.size());
  p.points = pts.data();
  return p;
}

std::vector<GDSpoint> outlineOf(int32_t pathtype, int32_t width, std::vector<GDSpoint> pts) {
  GDSpath p = makePath(pathtype, width, pts);
  std::vector<GDSpoint> out;
  CaptureStd cap;
  GDSboundary b = PathToBoundary(cap.console(), p, out);
  EXPECT_EQ(b.layer, 7);
  EXPECT_EQ(b.datatype, 3);
  EXPECT_EQ(b.npoints, 2 * p.npoints + 1);
  return std::vector<GDSpoint>(b.points, b.points + b.npoints);
}

TEST(Outline, SegmentAngleConventions) {
  struct Case {
    int32_t x1, y1, x2, y2;
    double want;
  };
  const Case cases[] = {
      {0, 0, 0, 5, kHalfPi},
      {0, 0, 0, -5, -kHalfPi},
      {3, 3, 3, 3, -kHalfPi},  // coincident points
      {0, 0, 10, 0, 0},
      {0, 0, -10, 0, kPi - 0},
      {0, 0, 10, 10, std::atan(1.0)},
      {0, 0, -10, 10, kPi - std::atan(1.0)},
      {0, 0, -10, -10, kPi + std::atan(1.0)},
      {0, 0, 10, -10, 2 * kPi - std::atan(1.0)},
      {5, 7, 8, 11, std::atan(4.0 / 3.0)},
  };
  for (const Case& c : cases) EXPECT_EQ(SegmentAngle(c.x1, c.y1, c.x2, c.y2), c.want) << c.x2 << "," << c.y2;
  // Differences are 32-bit: they wrap, while the comparisons use the points.
  EXPECT_EQ(SegmentAngle(-2000000000, 0, 2000000000, 0), 0.0);
  EXPECT_EQ(SegmentAngle(0, -2000000000, 1, 2000000000), std::atan(294967296.0 / 1.0));
}

TEST(Outline, EndAndMitreOffsets) {
  EXPECT_EQ(EndOffset(10, {0, 0}, {100, 0}), (GDSpoint{0, 10}));
  EXPECT_EQ(EndOffset(10, {0, 0}, {0, 100}), (GDSpoint{-10, 0}));
  EXPECT_EQ(EndOffset(-10, {0, 0}, {100, 0}), (GDSpoint{0, -10}));
  // A straight continuation gives the end offset.
  EXPECT_EQ(MitreOffset(10, {0, 0}, {50, 0}, {100, 0}), (GDSpoint{0, 10}));
  // A right-angle corner: w times the square root of 2 on the bisector,
  // truncated toward zero.
  EXPECT_EQ(MitreOffset(10, {0, 0}, {100, 0}, {100, 100}), (GDSpoint{-9, 10}));
  EXPECT_EQ(MitreOffset(10, {0, 0}, {100, 0}, {100, -100}), (GDSpoint{10, 9}));
}

// The offsets as the plain formulas give them, every sine and cosine
// computed by a call.
GDSpoint plainEndOffset(int32_t w, GDSpoint p, GDSpoint q) {
  double theta = SegmentAngle(p.x, p.y, q.x, q.y);
  double wd = w;
  return {truncSat(std::sin(theta) * (-wd)), truncSat(std::cos(theta) * wd)};
}

GDSpoint plainMitreOffset(int32_t w, GDSpoint prev, GDSpoint cur, GDSpoint next) {
  double alpha = SegmentAngle(prev.x, prev.y, cur.x, cur.y);
  double beta = SegmentAngle(cur.x, cur.y, next.x, next.y);
  double r = static_cast<double>(w) / std::cos((alpha - beta) / 2);
  double gamma = (alpha + beta + kPi) / 2;
  return {truncSat(std::cos(gamma) * r), truncSat(std::sin(gamma) * r)};
}

TEST(Outline, OffsetsAsThePlainFormulasGiveThem) {
  // Segments along the axes, diagonal ones and others, each way, with
  // widths up to the largest; every turn between two of them that is no
  // reversal.
  const GDSpoint dirs[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {-1, 1}, {-1, -1}, {1, -1}, {3, 4}, {-4, 3}};
  const int32_t widths[] = {0, 1, 7, 40, 1000, -25, 1 << 20, INT32_MAX, INT32_MIN};
  for (int32_t w : widths) {
    for (GDSpoint d : dirs) {
      const GDSpoint p{-500, 700};
      const GDSpoint q{p.x + 100 * d.x, p.y + 100 * d.y};
      EXPECT_EQ(EndOffset(w, p, q), plainEndOffset(w, p, q)) << w << " " << d.x << "," << d.y;
      for (GDSpoint e : dirs) {
        const GDSpoint r{q.x + 300 * e.x, q.y + 300 * e.y};
        if (d.x * e.y == d.y * e.x && d.x * e.x + d.y * e.y < 0) continue;  // turns back
        EXPECT_EQ(MitreOffset(w, p, q, r), plainMitreOffset(w, p, q, r))
            << w << " " << d.x << "," << d.y << " then " << e.x << "," << e.y;
      }
    }
  }
}

TEST(Outline, Polygons) {
  using P = std::vector<GDSpoint>;
  struct Case {
    int32_t pathtype, width;
    P pts, want;
  };
  const Case cases[] = {
      {0, 20, {{0, 0}, {100, 0}}, {{0, 10}, {100, 10}, {100, -10}, {0, -10}, {0, 10}}},
      {2, 20, {{0, 0}, {100, 0}}, {{-10, 10}, {110, 10}, {110, -10}, {-10, -10}, {-10, 10}}},
      {0, 20, {{0, 0}, {0, 100}}, {{-10, 0}, {-10, 100}, {10, 100}, {10, 0}, {-10, 0}}},
      {2, 20, {{0, 0}, {0, 100}}, {{-10, -10}, {-10, 110}, {10, 110}, {10, -10}, {-10, -10}}},
      // An odd width loses its last unit.
      {0, 21, {{0, 0}, {100, 0}}, {{0, 10}, {100, 10}, {100, -10}, {0, -10}, {0, 10}}},
      // Every non-zero type extends the ends.
      {4, 20, {{0, 0}, {100, 0}}, {{-10, 10}, {110, 10}, {110, -10}, {-10, -10}, {-10, 10}}},
      // A negative width: the first half runs along the right-hand edge and
      // extended ends move inward.
      {0, -20, {{0, 0}, {100, 0}}, {{0, -10}, {100, -10}, {100, 10}, {0, 10}, {0, -10}}},
      {2, -20, {{0, 0}, {100, 0}}, {{10, -10}, {90, -10}, {90, 10}, {10, 10}, {10, -10}}},
      // A right-angle corner.
      {0,
       20,
       {{0, 0}, {100, 0}, {100, 100}},
       {{0, 10}, {91, 10}, {90, 100}, {110, 100}, {109, -10}, {0, -10}, {0, 10}}},
      {2,
       20,
       {{0, 0}, {100, 0}, {100, 100}},
       {{-10, 10}, {91, 10}, {90, 110}, {110, 110}, {109, -10}, {-10, -10}, {-10, 10}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outlineOf(c.pathtype, c.width, c.pts), c.want) << c.pathtype << " " << c.width;
  }
}

TEST(Outline, AxisParallelTwoPointWireIsARectangle) {
  for (int32_t type : {0, 2}) {
    for (std::vector<GDSpoint> pts : {std::vector<GDSpoint>{{5, 5}, {5, 500}}, std::vector<GDSpoint>{{9, 1}, {-90, 1}}}) {
      std::vector<GDSpoint> out;
      GDSpath p = makePath(type, 30, pts);
      CaptureStd cap;
      GDSboundary b = PathToBoundary(cap.console(), p, out);
      EXPECT_EQ(b.npoints, 5);
      EXPECT_EQ(GDSisRectangle(b), 1);
    }
  }
}

TEST(Outline, ShortWiresPrintAndGiveNothing) {
  for (std::vector<GDSpoint> pts : {std::vector<GDSpoint>{{1, 1}}, std::vector<GDSpoint>{}}) {
    std::vector<GDSpoint> out;
    GDSboundary b{};
    auto c = capture([&](const Console& con) {
      GDSpath p = makePath(0, 10, pts);
      b = PathToBoundary(con, p, out);
    });
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(c.err, "PathToBoundary(): don't know to handle wires < 2 pts yet\n");
    EXPECT_EQ(b.npoints, 0);
    EXPECT_EQ(b.points, nullptr);
    EXPECT_EQ(b.layer, 7);
  }
}

TEST(OutlineFailure, ReversalsAreFatal) {
  const char* msg = "^Internal algorithm error: cos\\(\\(alpha - beta\\)/2\\) = 0\n$";
  std::vector<GDSpoint> back{{0, 0}, {100, 0}, {50, 0}};
  std::vector<GDSpoint> dup{{0, 0}, {0, 100}, {0, 100}};
  std::vector<GDSpoint> out;
  EXPECT_FAILURE(PathToBoundary(con, makePath(0, 10, back), out), 1, msg);
  EXPECT_FAILURE(PathToBoundary(con, makePath(2, 10, dup), out), 1, msg);
  EXPECT_FAILURE(MitreOffset(10, {0, 0}, {100, 0}, {50, 0}), 1, msg);
  // The silent form reports it.
  EXPECT_EQ(PathOutline(makePath(0, 10, back), out), OutlineResult::Reversal);
}

TEST(Outline, SumsAndOffsetsBeyondTheRangeSaturate) {
  std::vector<GDSpoint> out;
  {
    std::vector<GDSpoint> pts{{INT32_MAX - 5, INT32_MIN + 5}, {INT32_MAX - 1, INT32_MIN + 5}};
    bool clamped = false;
    ASSERT_EQ(PathOutline(makePath(2, 100, pts), out, &clamped), OutlineResult::Ok);
    EXPECT_TRUE(clamped);
    EXPECT_EQ(out[1], (GDSpoint{INT32_MAX, INT32_MIN + 55}));
    EXPECT_EQ(out[2], (GDSpoint{INT32_MAX, INT32_MIN}));
    EXPECT_EQ(out[3], (GDSpoint{INT32_MAX - 55, INT32_MIN}));
  }
  {
    // A turn close to a reversal: the mitre offset is far beyond the range.
    std::vector<GDSpoint> pts{{0, 0}, {100000, 0}, {0, 1}};
    bool clamped = false;
    ASSERT_EQ(PathOutline(makePath(0, 2000000, pts), out, &clamped), OutlineResult::Ok);
    EXPECT_TRUE(clamped);
    GDSpoint m = MitreOffset(1000000, pts[0], pts[1], pts[2]);
    EXPECT_TRUE(m.x == INT32_MAX || m.x == INT32_MIN);
  }
  {
    std::vector<GDSpoint> pts{{0, 0}, {100, 0}};
    bool clamped = false;
    ASSERT_EQ(PathOutline(makePath(2, 100, pts), out, &clamped), OutlineResult::Ok);
    EXPECT_FALSE(clamped);
  }
}

}  // namespace
