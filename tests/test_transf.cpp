// Placement transforms: rounding, building, composing, inverting, reading
// back, and the in-place transforms of boundaries and paths.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "gds/model.h"
#include "geom/transf.h"
#include "geom_testlib.h"
#include "failure.h"

using namespace qm;

namespace {

TEST(Transf, RoundHalvesAwayFromZeroAndSaturates) {
  struct Case {
    double v;
    int32_t want;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {2.5, 3},
      {-2.5, -3},
      {0.5, 1},
      {-0.5, -1},
      {-0.4, 0},
      {0.4, 0},
      {0.49999999999999994, 1},
      {-0.0, 0},
      {1e-300, 0},
      {2147483646.5, 2147483647},
      {2147483647.0, 2147483647},
      {2147483647.4, 2147483647},
      {2147483647.5, INT32_MAX},
      {1e10, INT32_MAX},
      {inf, INT32_MAX},
      {-2147483648.0, INT32_MIN},
      {-2147483648.4, INT32_MIN},
      {-2147483648.5, INT32_MIN},
      {-1e10, INT32_MIN},
      {-inf, INT32_MIN},
      {nan, INT32_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(GDSround(c.v), c.want) << c.v;
}

TEST(Transf, MakeTransfRotatesMirrorsScalesAndMoves) {
  GDStransf r90 = GDSmakeTransf({0, 0}, 0, 90, 1);
  EXPECT_EQ(r90.a, 6.123233995736766e-17);
  EXPECT_EQ(r90.d, 6.123233995736766e-17);
  EXPECT_EQ(r90.b, -1.0);
  EXPECT_EQ(r90.c, 1.0);
  EXPECT_EQ(GDStransfPoint({1000, 0}, r90), (GDSpoint{0, 1000}));

  GDStransf m = GDSmakeTransf({100, 200}, 1, 0, 1);
  EXPECT_EQ(GDStransfPoint({5, 7}, m), (GDSpoint{105, 193}));

  // Reflection first, then rotation, then magnification, then the origin.
  GDStransf all = GDSmakeTransf({10, 20}, 1, 90, 2);
  EXPECT_EQ(GDStransfPoint({3, 4}, all), (GDSpoint{10 + 8, 20 + 6}));
  // A negative magnification is used as it is.
  EXPECT_EQ(GDStransfPoint({3, 4}, GDSmakeTransf({0, 0}, 0, 0, -1)), (GDSpoint{-3, -4}));
}

TEST(Transf, ComposeAppliesFirstThenSecond) {
  GDStransf t = GDSmakeTransf({10, 0}, 0, 0, 1);
  GDStransf r = GDSmakeTransf({0, 0}, 0, 90, 1);
  EXPECT_EQ(GDStransfPoint({0, 0}, GDScomposeTransf(t, r)), (GDSpoint{0, 10}));
  EXPECT_EQ(GDStransfPoint({0, 0}, GDScomposeTransf(r, t)), (GDSpoint{10, 0}));
  GDStransf c = GDScomposeTransf(GDSidentity, GDSidentity);
  EXPECT_EQ(c.a, 1.0);
  EXPECT_EQ(c.b, 0.0);
  EXPECT_EQ(c.tx, 0.0);
  EXPECT_EQ(c.d, 1.0);
}

TEST(Transf, OffsetAddsAfterTheTransform) {
  GDStransf o = GDSoffsetTransf(GDSidentity, {30, -40});
  EXPECT_EQ(o.tx, 30.0);
  EXPECT_EQ(o.ty, -40.0);
  EXPECT_EQ(o.a, 1.0);
  EXPECT_EQ(GDStransfPoint({1, 2}, o), (GDSpoint{31, -38}));
  GDStransf r = GDSoffsetTransf(GDSmakeTransf({1, 1}, 0, 90, 1), {5, 5});
  EXPECT_EQ(GDStransfPoint({10, 0}, r), (GDSpoint{6, 16}));
}

TEST(Transf, InverseMapsBack) {
  EXPECT_EQ(GDSinvtransfPoint({10, 0}, GDSmakeTransf({0, 0}, 0, 90, 1)), (GDSpoint{0, -10}));
  EXPECT_EQ(GDSinvtransfPoint({300, 100}, GDSmakeTransf({100, 100}, 0, 0, 2)), (GDSpoint{100, 0}));
  EXPECT_EQ(GDSinvtransfPoint({0, 300}, GDSmakeTransf({0, 0}, 1, 0, 1)), (GDSpoint{0, -300}));
  EXPECT_EQ(GDSinvtransfPoint({141, 141}, GDSmakeTransf({0, 0}, 0, 45, 1)), (GDSpoint{199, 0}));
}

TEST(TransfFailure, SingularInverseIsFatal) {
  EXPECT_FAILURE(GDSinvtransfPoint({1, 1}, GDSmakeTransf({0, 0}, 0, 0, 0)), 1,
              "^Error in GDSinvtransfPoint\\(\\): matrix cannot be inverted\n$");
}

TEST(Transf, DecomposeReadsAngleMagnificationAndMirror) {
  struct Case {
    GDStransf t;
    double angle;
    double mag;
    int mirror;
  };
  const Case cases[] = {
      {GDSidentity, 0, 1, 0},
      {GDSmakeTransf({5, 5}, 1, 90, 2), 90, 2, 1},
      {GDSmakeTransf({5, 5}, 0, 270, 2), -90, 2, 0},
      {GDSmakeTransf({5, 5}, 1, 0, 2), 0, 2, 1},
      {GDSmakeTransf({0, 0}, 0, -180, 1), 180, 1, 0},
      {GDSmakeTransf({0, 0}, 0, 45, 3), 45, 3, 0},
  };
  for (const Case& c : cases) {
    int mirror = -1;
    double mag = -1;
    double angle = GDSdecomposeTransf(c.t, &mirror, &mag);
    EXPECT_NEAR(angle, c.angle, 1e-9);
    EXPECT_NEAR(mag, c.mag, 1e-12);
    EXPECT_EQ(mirror, c.mirror);
  }
  int mirror;
  double mag;
  EXPECT_EQ(GDSdecomposeTransf(GDSidentity, &mirror, &mag), 0.0);
  EXPECT_EQ(mag, 1.0);
  // |a| below 1e-14 reads as a quarter turn.
  GDStransf q{1e-15, -1, 0, -1, 1e-15, 0};
  EXPECT_EQ(GDSdecomposeTransf(q, &mirror, &mag), -90.0);
}

TEST(Transf, PathWidthTruncatesUnlessMagnificationIsOne) {
  struct Case {
    double mag;
    int32_t width;
    int32_t want;
  };
  const Case cases[] = {
      {0.5, 3, 1}, {0.5, -3, -1}, {1.0, 7, 7}, {2.0, 7, 14}, {1.5, 3, 4}, {0, 9, 0}, {1e10, 1000, INT32_MAX},
  };
  for (const Case& c : cases) {
    std::vector<GDSpoint> pts{{2, 2}, {4, 4}};
    GDSpath p;
    p.width = c.width;
    p.npoints = 2;
    p.points = pts.data();
    p.pathtype = 2;
    GDStransfPath(p, GDSmakeTransf({10, 0}, 0, 0, c.mag));
    EXPECT_EQ(p.width, c.want) << c.mag << " " << c.width;
    EXPECT_EQ(p.pathtype, 2);
    EXPECT_EQ(GDStransfWidth(c.width, GDSmakeTransf({0, 0}, 1, 90, c.mag)), c.want);
  }
  // A rotated transform whose magnification reads back just below 1.
  GDStransf t = GDSidentity;
  t.c = 0.9999999999999999;
  t.d = 0;
  EXPECT_EQ(GDStransfWidth(10, t), 9);
}

TEST(Transf, BoundaryPointsGoThroughTheTransformInOrder) {
  std::vector<GDSpoint> pts{{0, 0}, {0, 10}, {20, 10}, {20, 0}, {0, 0}};
  GDSboundary b;
  b.npoints = 5;
  b.points = pts.data();
  GDStransfBoundary(b, GDSmakeTransf({100, 0}, 0, 90, 1));
  const std::vector<GDSpoint> want{{100, 0}, {90, 0}, {90, 20}, {100, 20}, {100, 0}};
  EXPECT_EQ(pts, want);
}

TEST(Transf, PointsToGiveThePointsOfEachPointsTransform) {
  // Whole translations take a path of their own; every transform must give
  // what GDStransfPoint gives, saturation and signed zeros included.
  const GDSpoint pts[] = {{0, 0},          {1, -1},          {-7, 12345},          {INT32_MAX, INT32_MAX},
                          {INT32_MIN, 0},  {0, INT32_MIN},   {INT32_MAX, INT32_MIN}, {-2147483647, 2147483646},
                          {99, -99},       {-100, 100}};
  GDStransf negZero{1, -0.0, 0, -0.0, 1, 0};
  GDStransf fractional{1, 0, 0.5, 0, 1, -0.5};
  GDStransf huge{1, 0, 1e15, 0, 1, -1e15};
  GDStransf beyond{1, 0, 1099511627777.0, 0, 1, 3};
  GDStransf notANumber{1, 0, std::numeric_limits<double>::quiet_NaN(), 0, 1, 0};
  GDStransf infinite{1, 0, std::numeric_limits<double>::infinity(), 0, 1, 0};
  const GDStransf transforms[] = {
      GDSidentity,
      GDSmakeTransf({100, -200}, 0, 0, 1),
      GDSmakeTransf({INT32_MAX, INT32_MIN}, 0, 0, 1),
      GDSmakeTransf({-5, 5}, 0, -0.0, 1),
      GDSmakeTransf({0, 0}, 1, 0, 1),
      GDSmakeTransf({3, 4}, 0, 90, 1),
      GDSmakeTransf({3, 4}, 1, 270, 2),
      GDSmakeTransf({3, 4}, 0, 30, 0.75),
      GDSmakeTransf({0, 0}, 0, 0, 1.5),
      GDScomposeTransf(GDSmakeTransf({10, 20}, 0, 0, 1), GDSmakeTransf({-30, 40}, 0, 0, 1)),
      GDSoffsetTransf(GDSidentity, {INT32_MIN, INT32_MAX}),
      negZero,
      fractional,
      huge,
      beyond,
      notANumber,
      infinite,
  };
  const int32_t n = static_cast<int32_t>(std::size(pts));
  for (const GDStransf& t : transforms) {
    std::vector<GDSpoint> out(static_cast<std::size_t>(n));
    GDStransfPointsTo(pts, n, out.data(), t);
    std::vector<GDSpoint> inPlace(std::begin(pts), std::end(pts));
    GDStransfPointsTo(inPlace.data(), n, inPlace.data(), t);
    for (int32_t i = 0; i < n; ++i) {
      const GDSpoint want = GDStransfPoint(pts[i], t);
      EXPECT_EQ(out[static_cast<std::size_t>(i)], want) << t.tx << "," << t.ty << " point " << i;
      EXPECT_EQ(inPlace[static_cast<std::size_t>(i)], want) << t.tx << "," << t.ty << " point " << i;
    }
  }
}

}  // namespace
