// Extents of elements and structures, the rectangle test, and the shared
// rules of every walk: unbound references, cycles, layers below, deep and
// wide hierarchies, and the memoised walk against the plain one.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "geom/extent.h"
#include "geom/walk.h"
#include "geom_testlib.h"
#include "plain_walks.h"
#include "failure.h"

using namespace qm;
using geomtest::capture;
using geomtest::Captured;
using geomtest::LibBuilder;

namespace {

const char* const kShort = "PathToBoundary(): don't know to handle wires < 2 pts yet\n";

std::string line(int32_t a, int32_t b, int32_t c, int32_t d) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "minx = %d, miny = %d, maxx = %d, maxy = %d\n", a, b, c, d);
  return buf;
}

GDStransf shift(int32_t x, int32_t y) { return GDSmakeTransf({x, y}, 0, 0, 1); }

// The extent of a structure with what it printed, in one walk mode.
struct Measured {
  GDSbbox box;
  Captured c;
};
Measured measure(const GDSlibrary& lib, int32_t s, bool plain) {
  Measured m;
  const GDSstruct& st = lib.structs[static_cast<std::size_t>(s)];
  m.c = capture([&](const Console& con) { m.box = plain ? plainwalks::bboxStruct(con, lib, st) : GDSbboxStruct(con, lib, st); });
  return m;
}

// The reference extents of the walk mode.
// (Quiet: what they print is looked at elsewhere.)
GDSbbox srefExtent(bool plain, const GDSlibrary& lib, const GDSsref& r, const GDStransf& parent) {
  CaptureStd cap;
  return plain ? plainwalks::bboxSref(cap.console(), lib, r, parent) : GDSbboxSref(cap.console(), lib, r, parent);
}
GDSbbox arefExtent(bool plain, const GDSlibrary& lib, const GDSaref& a, const GDStransf& parent) {
  CaptureStd cap;
  return plain ? plainwalks::bboxAref(cap.console(), lib, a, parent) : GDSbboxAref(cap.console(), lib, a, parent);
}

// Both walk modes give `want` and print `err`.
void expectExtent(const GDSlibrary& lib, int32_t s, GDSbbox want, const std::string& err) {
  for (bool plain : {true, false}) {
    Measured m = measure(lib, s, plain);
    EXPECT_EQ(m.c.status, 0) << "plain " << plain;
    EXPECT_EQ(m.box, want) << "plain " << plain;
    EXPECT_EQ(m.c.err, err) << "plain " << plain;
    EXPECT_EQ(m.c.out, "");
  }
}

std::string numbered(const char* prefix, int k) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%d", prefix, k);
  return buf;
}

GDSbbox bbox(int32_t a, int32_t b, int32_t c, int32_t d) { return GDSbbox{a, b, c, d}; }

const std::vector<GDSpoint> kRect{{0, 0}, {0, 10}, {20, 10}, {20, 0}, {0, 0}};

TEST(Extent, IsRectangle) {
  using P = std::vector<GDSpoint>;
  struct Case {
    P pts;
    int want;
  };
  const Case cases[] = {
      {{{0, 0}, {0, 10}, {20, 10}, {20, 0}, {0, 0}}, 1},
      {{{0, 0}, {20, 0}, {20, 10}, {0, 10}, {0, 0}}, 1},
      {{{0, 0}, {0, 10}, {20, 10}, {20, 0}, {5, 5}}, 1},  // the fifth point is not examined
      {{{0, 0}, {0, 10}, {20, 10}, {20, 1}, {0, 0}}, 0},
      {{{0, 0}, {20, 0}, {20, 10}, {1, 10}, {0, 0}}, 0},
      {{{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}, 1},  // zero width and height
      {{{0, 0}, {0, 10}, {20, 10}, {20, 0}}, 0},
      {{{0, 0}, {0, 10}, {20, 10}, {20, 0}, {0, 0}, {0, 0}}, 0},
      {{}, 0},
  };
  for (const Case& c : cases) {
    P pts = c.pts;
    GDSboundary b;
    b.npoints = static_cast<int32_t>(pts.size());
    b.points = pts.data();
    EXPECT_EQ(GDSisRectangle(b), c.want) << pts.size();
  }
}

TEST(Extent, ElementExtents) {
  std::vector<GDSpoint> pts = kRect;
  GDSboundary b;
  b.npoints = 5;
  b.points = pts.data();
  EXPECT_EQ(GDSbboxBoundary(b), bbox(0, 0, 20, 10));
  b.npoints = 0;
  EXPECT_TRUE(GDSbboxBoundary(b).empty());
  // The smallest value never raises a maximum above the empty extent's.
  std::vector<GDSpoint> low{{INT32_MIN, INT32_MIN}};
  b.npoints = 1;
  b.points = low.data();
  EXPECT_EQ(GDSbboxBoundary(b), bbox(INT32_MIN, INT32_MIN, -INT32_MAX, -INT32_MAX));

  std::vector<GDSpoint> wire{{0, 0}, {100, 0}};
  GDSpath p;
  p.width = 20;
  p.pathtype = 2;
  p.npoints = 2;
  p.points = wire.data();
  CaptureStd cap;
  EXPECT_EQ(GDSbboxPath(cap.console(), p), bbox(-10, -10, 110, 10));
  EXPECT_TRUE(GDSbboxText(GDStext{}).empty());
}

TEST(Extent, StructureExamples) {
  LibBuilder L;
  const int32_t empty = L.add("EMPTY");
  const int32_t texts = L.add("TEXTS");
  const int32_t rect = L.add("RECT");
  const int32_t rot = L.add("ROT");
  const int32_t arr = L.add("ARR");
  const int32_t odd = L.add("ODD");
  L.text(texts, 1);
  L.text(texts, 2);
  L.other(texts, KIND_NODE);
  L.boundary(rect, 1, kRect);
  L.sref(rot, rect, GDSmakeTransf({100, 0}, 0, 90, 1));
  L.aref(arr, rect, 2, 1, 30, 0, GDSidentity);
  L.boundary(odd, 1, {{INT32_MIN, 5}});

  expectExtent(L.lib, empty, GDSbbox{}, line(2147483647, 2147483647, -2147483647, -2147483647));
  expectExtent(L.lib, texts, GDSbbox{}, line(2147483647, 2147483647, -2147483647, -2147483647));
  expectExtent(L.lib, rect, bbox(0, 0, 20, 10), line(0, 0, 20, 10));
  expectExtent(L.lib, rot, bbox(90, 0, 100, 20), line(90, 0, 100, 20));
  expectExtent(L.lib, arr, bbox(0, 0, 50, 10), line(0, 0, 50, 10));
  expectExtent(L.lib, odd, bbox(INT32_MIN, 5, -INT32_MAX, 5), line(INT32_MIN, 5, -2147483647, 5));
}

TEST(Extent, ReferencesUnderParentTransforms) {
  LibBuilder L;
  const int32_t rect = L.add("RECT");
  L.boundary(rect, 1, kRect);
  GDSsref r;
  r.structptr = rect;
  r.transf = shift(5, 5);
  GDSaref a;
  a.structptr = rect;
  a.cols = 2;
  a.rows = 3;
  a.colspace = 100;
  a.rowspace = 50;
  a.transf = GDSmakeTransf({0, 0}, 1, 0, 1);  // rows go down
  for (bool plain : {true, false}) {
    EXPECT_EQ(srefExtent(plain, L.lib, r, GDSidentity), bbox(5, 5, 25, 15));
    // The reference's own transform acts first, then the parent's.
    EXPECT_EQ(srefExtent(plain, L.lib, r, GDSmakeTransf({0, 0}, 0, 90, 2)), bbox(-30, 10, -10, 50));
    EXPECT_EQ(arefExtent(plain, L.lib, a, GDSidentity), bbox(0, -110, 120, 0));
    EXPECT_EQ(arefExtent(plain, L.lib, a, shift(1000, 0)), bbox(1000, -110, 1120, 0));
    a.cols = -2;
    EXPECT_TRUE(arefExtent(plain, L.lib, a, GDSidentity).empty());
    a.cols = 2;
    // Magnification -1 turns the array through both axes.
    GDSaref n = a;
    n.transf = GDSmakeTransf({0, 0}, 0, 0, -1);
    EXPECT_EQ(arefExtent(plain, L.lib, n, GDSidentity), bbox(-120, -110, 0, 0));
  }
}

TEST(Extent, PathsAreMeasuredThroughTheirOutlineAfterTheTransform) {
  LibBuilder L;
  const int32_t w = L.add("W");
  const int32_t top = L.add("TOP");
  L.path(w, 1, 0, 21, {{0, 0}, {100, 0}});
  // Magnification 2: the centre line is scaled, then the width (21 * 2 = 42).
  L.sref(top, w, GDSmakeTransf({0, 0}, 0, 0, 2));
  expectExtent(L.lib, w, bbox(0, -10, 100, 10), line(0, -10, 100, 10));
  expectExtent(L.lib, top, bbox(0, -21, 200, 21), line(0, -21, 200, 21));
}

TEST(Extent, ShortWiresPrintOncePerVisitedInstance) {
  LibBuilder L;
  const int32_t leaf = L.add("LEAF");
  const int32_t top = L.add("TOP");
  L.path(leaf, 1, 0, 10, {{5, 5}});
  L.boundary(leaf, 1, kRect);
  L.path(top, 1, 0, 10, {});
  L.aref(top, leaf, 3, 2, 100, 100, shift(7, 0));
  L.sref(top, leaf, GDSmakeTransf({0, 0}, 0, 90, 1));
  std::string err;
  for (int i = 0; i < 8; ++i) err += kShort;
  expectExtent(L.lib, top, bbox(-10, 0, 227, 110), err + line(-10, 0, 227, 110));
  expectExtent(L.lib, leaf, bbox(0, 0, 20, 10), std::string(kShort) + line(0, 0, 20, 10));
}

TEST(Extent, UnboundReferencesAreEmpty) {
  LibBuilder L;
  const int32_t top = L.add("TOP");
  L.sref(top, -1, shift(5, 5));
  L.aref(top, -1, 4, 4, 10, 10, GDSidentity);
  expectExtent(L.lib, top, GDSbbox{}, line(2147483647, 2147483647, -2147483647, -2147483647));
  L.boundary(top, 1, {{1, 2}});
  expectExtent(L.lib, top, bbox(1, 2, 1, 2), line(1, 2, 1, 2));
  GDSsref r;
  r.structptr = -1;
  CaptureStd cap;
  EXPECT_TRUE(GDSbboxSref(cap.console(), L.lib, r, GDSidentity).empty());
}

TEST(Extent, CyclesAreFatal) {
  LibBuilder L;
  const int32_t a = L.add("A");
  const int32_t b = L.add("B");
  const int32_t self = L.add("SELF");
  const int32_t top = L.add("TOP");
  const int32_t dead = L.add("DEAD");
  L.boundary(a, 1, kRect);
  L.sref(a, b, shift(1, 1));
  L.path(b, 1, 0, 10, {{1, 1}});
  L.aref(b, a, 2, 2, 10, 10, GDSidentity);
  L.sref(self, self, GDSidentity);
  L.path(top, 1, 0, 10, {{1, 1}});
  L.sref(top, a, GDSmakeTransf({0, 0}, 0, 90, 1));
  // An array without members never descends.
  L.aref(dead, dead, 0, 5, 1, 1, GDSidentity);
  L.aref(dead, dead, 3, -1, 1, 1, GDSidentity);
  L.boundary(dead, 1, kRect);

  auto cyclic = [](const std::string& name) { return "Cyclic reference to structure \"" + name + "\". Aborting\n"; };
  const std::string shortWire = kShort;
  const struct {
    int32_t s;
    std::string err;
  } cases[] = {
      {a, shortWire + cyclic("A")},
      {b, shortWire + cyclic("B")},
      {self, cyclic("SELF")},
      {top, shortWire + kShort + cyclic("A")},
  };
  for (bool plain : {true, false})
    for (const auto& c : cases) {
      Measured m = measure(L.lib, c.s, plain);
      EXPECT_EQ(m.c.status, 1) << c.s;
      EXPECT_EQ(m.c.err, c.err) << c.s;
    }
  expectExtent(L.lib, dead, bbox(0, 0, 20, 10), line(0, 0, 20, 10));
  EXPECT_TRUE(reachesCycle(L.lib, a));
  EXPECT_TRUE(reachesCycle(L.lib, top));
  EXPECT_TRUE(reachesCycle(L.lib, self));
  EXPECT_FALSE(reachesCycle(L.lib, dead));

  EXPECT_FAILURE(GDSbboxStruct(con, L.lib, L.lib.structs[static_cast<std::size_t>(self)]), 1,
              "^Cyclic reference to structure \"SELF\". Aborting\n$");
}

TEST(Extent, ReversalStopsTheWalkAfterWhatWasPrinted) {
  LibBuilder L;
  const int32_t leaf = L.add("LEAF");
  const int32_t top = L.add("TOP");
  L.path(leaf, 1, 0, 10, {{0, 0}});
  L.path(leaf, 1, 0, 10, {{0, 0}, {100, 0}, {50, 0}});
  L.path(top, 1, 0, 10, {{0, 0}});
  L.sref(top, leaf, shift(3, 3));
  for (bool plain : {true, false}) {
    Measured m = measure(L.lib, top, plain);
    EXPECT_EQ(m.c.status, 1);
    EXPECT_EQ(m.c.err, std::string(kShort) + kShort + "Internal algorithm error: cos((alpha - beta)/2) = 0\n");
  }
}

TEST(Extent, TranslationDoesNotCommuteWithRoundingOfHalves) {
  // A point at -2.5 rounds to -3; moved by 10 it is 7.5 and rounds to 8.
  LibBuilder L;
  const int32_t c = L.add("C");
  const int32_t b = L.add("B");
  const int32_t a = L.add("A");
  const int32_t arr = L.add("ARR");
  L.boundary(c, 1, {{-5, -5}});
  L.sref(b, c, GDSmakeTransf({0, 0}, 0, 0, 0.5));
  L.sref(a, b, shift(10, 10));
  L.aref(arr, b, 3, 1, 5, 0, GDSidentity);
  expectExtent(L.lib, b, bbox(-3, -3, -3, -3), line(-3, -3, -3, -3));
  expectExtent(L.lib, a, bbox(8, 8, 8, 8), line(8, 8, 8, 8));
  // Members at x shifts 0, 5 and 10: -3, 2.5 -> 3, 7.5 -> 8.
  expectExtent(L.lib, arr, bbox(-3, -3, 8, -3), line(-3, -3, 8, -3));
}

TEST(Extent, TranslationsNearTheLimits) {
  LibBuilder L;
  const int32_t c = L.add("C");
  const int32_t top = L.add("TOP");
  const int32_t back = L.add("BACK");
  L.boundary(c, 1, {{INT32_MAX - 10, 0}, {INT32_MAX, 5}});
  L.path(c, 1, 2, 40, {{INT32_MIN + 30, 0}, {INT32_MIN + 50, 0}});
  // Moved right: points saturate.
  L.sref(top, c, shift(100, 0));
  // Moved left, back into the range.
  L.sref(back, c, shift(-100, 0));
  L.aref(back, c, 2, 2, -2000000000, 1, shift(5, 0));
  for (int32_t s : {c, top, back}) {
    Measured plain = measure(L.lib, s, true);
    Measured fast = measure(L.lib, s, false);
    EXPECT_EQ(plain.box, fast.box) << s;
    EXPECT_EQ(plain.c, fast.c) << s;
  }
  EXPECT_EQ(measure(L.lib, top, true).box.maxx, INT32_MAX);
}

TEST(Extent, WideArraysArePlacedByTheirExtremeMembers) {
  LibBuilder L;
  const int32_t cell = L.add("CELL");
  const int32_t top = L.add("TOP");
  const int32_t wrap = L.add("WRAP");
  L.boundary(cell, 1, kRect);
  L.path(cell, 2, 0, 4, {{0, 0}, {0, 30}});
  L.aref(top, cell, 32767, 32767, 25, -40, shift(-7, 3));
  // i*colspace wraps as a 32-bit product.
  L.aref(wrap, cell, 32767, 1, 100000, 0, GDSidentity);

  Measured m = measure(L.lib, top, false);
  const int32_t maxx = -7 + 32766 * 25 + 20;
  const int32_t miny = 3 - 32766 * 40 + 0;
  EXPECT_EQ(m.box, bbox(-7 - 2, miny, maxx, 3 + 30));
  EXPECT_EQ(m.c.err, line(-9, miny, maxx, 33));

  Measured wf = measure(L.lib, wrap, false);
  Measured wp = measure(L.lib, wrap, true);
  EXPECT_EQ(wf.box, wp.box);
  EXPECT_EQ(wf.c, wp.c);
  EXPECT_LT(wp.box.minx, -2000000000);
}

TEST(Extent, ExponentialHierarchyOfTranslations) {
  // Level k+1 holds level k twice: 2^40 instances of the leaf.
  LibBuilder L;
  int32_t prev = L.add("L0");
  L.boundary(prev, 1, {{0, 0}, {1, 1}});
  L.path(prev, 2, 2, 2, {{0, 0}, {0, 1}});
  for (int k = 1; k <= 40; ++k) {
    const int32_t s = L.add(numbered("L", k));
    L.sref(s, prev, GDSidentity);
    L.sref(s, prev, shift(1, 1));
    prev = s;
  }
  Measured m = measure(L.lib, prev, false);
  EXPECT_EQ(m.box, bbox(-1, -1, 41, 42));
}

// A chain of `n` structures, each holding the next one.
LibBuilder chain(int32_t n, const GDStransf& step) {
  LibBuilder L;
  L.lib.structs.reserve(static_cast<std::size_t>(n));
  for (int32_t k = 0; k < n; ++k) L.add(numbered("S", k));
  for (int32_t k = 0; k + 1 < n; ++k) L.sref(k, k + 1, step);
  L.boundary(n - 1, 5, kRect);
  L.path(n - 1, 6, 0, 10, {{1, 1}});
  return L;
}

TEST(Extent, DeepChainOfTranslations) {
  const int32_t n = 100000;
  LibBuilder L = chain(n, shift(1, -2));
  geomtest::onBigStack([&] {
    for (bool plain : {false, true}) {
      Measured m = measure(L.lib, 0, plain);
      EXPECT_EQ(m.box, bbox(n - 1, -2 * (n - 1), n - 1 + 20, -2 * (n - 1) + 10));
      EXPECT_EQ(m.c.err, std::string(kShort) + line(n - 1, -2 * (n - 1), n - 1 + 20, -2 * (n - 1) + 10));
    }
  });
  EXPECT_TRUE(hasLayerBelow(L.lib, 0, 5));
  EXPECT_TRUE(hasLayerBelow(L.lib, 0, 6));
  EXPECT_FALSE(hasLayerBelow(L.lib, 0, 7));
  EXPECT_FALSE(reachesCycle(L.lib, 0));
}

TEST(Extent, DeepChainsOfRotationsAndMirrors) {
  const int32_t n = 100000;
  for (const GDStransf& step : {GDSmakeTransf({3, 1}, 0, 90, 1), GDSmakeTransf({0, 0}, 0, 90, 1),
                                GDSmakeTransf({2, 0}, 1, 0, 1)}) {
    LibBuilder L = chain(n, step);
    geomtest::onBigStack([&] {
      Measured fast = measure(L.lib, 0, false);
      Measured plain = measure(L.lib, 0, true);
      EXPECT_EQ(fast.box, plain.box);
      EXPECT_EQ(fast.c, plain.c);
      EXPECT_EQ(fast.c.status, 0);
    });
  }
}

// A failure unwinds the whole descent. AddressSanitizer follows an
// exception through at most 64 MiB of stack, so its builds use a shorter
// chain.
#if defined(__SANITIZE_ADDRESS__)
constexpr int32_t kDeepChain = 20000;
#else
constexpr int32_t kDeepChain = 100000;
#endif

TEST(WalkFailure, DeepChainWithACycleAtTheBottom) {
  const int32_t n = kDeepChain;
  LibBuilder L = chain(n, shift(1, 1));
  L.sref(n - 1, n - 2, GDSidentity);
  EXPECT_TRUE(reachesCycle(L.lib, 0));
  EXPECT_TRUE(hasLayerBelow(L.lib, 0, 42));
  for (bool plain : {false, true}) {
    EXPECT_FAILURE(
        {
          geomtest::onBigStack([&] {
            if (plain) plainwalks::bboxStruct(con, L.lib, L.lib.structs[0]);
            else GDSbboxStruct(con, L.lib, L.lib.structs[0]);
          });
        },
        1,
        "PathToBoundary\\(\\): don't know to handle wires < 2 pts yet\n"
        "Cyclic reference to structure \"" + numbered("S", n - 2) + "\"\\. Aborting\n$");
  }
}

TEST(Walk, LayersBelow) {
  LibBuilder L;
  const int32_t leaf = L.add("LEAF");
  const int32_t mid = L.add("MID");
  const int32_t top = L.add("TOP");
  const int32_t lone = L.add("LONE");
  const int32_t cyc = L.add("CYC");
  L.boundary(leaf, 1, kRect);
  L.path(leaf, 2, 0, 1, {{0, 0}, {1, 0}});
  L.text(mid, 3);
  L.sref(mid, leaf, GDSidentity);
  L.aref(top, mid, 1, 1, 0, 0, GDSidentity);
  L.aref(top, lone, 0, 1, 0, 0, GDSidentity);  // no members: counts as nothing
  L.sref(top, -1, GDSidentity);
  L.boundary(lone, 4, kRect);
  L.sref(cyc, cyc, GDSidentity);
  for (int32_t layer : {1, 2, 3}) {
    EXPECT_TRUE(hasLayerBelow(L.lib, top, layer)) << layer;
    EXPECT_TRUE(hasLayerBelow(L.lib, L.lib.structs[static_cast<std::size_t>(top)], layer)) << layer;
  }
  EXPECT_FALSE(hasLayerBelow(L.lib, top, 4));
  EXPECT_TRUE(hasLayerBelow(L.lib, lone, 4));
  EXPECT_FALSE(hasLayerBelow(L.lib, leaf, 3));
  EXPECT_TRUE(hasLayerBelow(L.lib, mid, 3));
  EXPECT_FALSE(hasLayerBelow(L.lib, -1, 1));
  // A structure that meets a cycle keeps every pass going into it.
  EXPECT_TRUE(hasLayerBelow(L.lib, cyc, 99));

  // A structure outside the library: through its references.
  GDSstruct outside;
  outside.srefs.push_back(GDSsref{leaf, 0, GDSidentity});
  EXPECT_TRUE(hasLayerBelow(L.lib, outside, 2));
  EXPECT_FALSE(hasLayerBelow(L.lib, outside, 3));
}

TEST(Walk, DescentPathsNest) {
  LibBuilder L;
  const int32_t a = L.add("A");
  const int32_t b = L.add("B");
  L.sref(a, b, GDSidentity);
  const GDSstruct& sa = L.lib.structs[static_cast<std::size_t>(a)];
  TopDescent outer(L.lib, sa);
  {
    Descent d(L.lib, b);
    EXPECT_EQ(d.target(), &L.lib.structs[static_cast<std::size_t>(b)]);
    // A walk started inside another has a path of its own.
    TopDescent inner(L.lib, sa);
    Descent again(L.lib, b);
    EXPECT_NE(again.target(), nullptr);
  }
  Descent unbound(L.lib, -1);
  EXPECT_EQ(unbound.target(), nullptr);
  Descent beyond(L.lib, 99);
  EXPECT_EQ(beyond.target(), nullptr);
  Descent db(L.lib, b);
  EXPECT_NE(db.target(), nullptr);
}

TEST(WalkFailure, DescentIntoAStructureOnThePathIsFatal) {
  LibBuilder L;
  const int32_t a = L.add("A");
  const int32_t b = L.add("B");
  EXPECT_FAILURE(
      {
        TopDescent top(L.lib, L.lib.structs[static_cast<std::size_t>(a)]);
        Descent d(L.lib, b);
        Descent again(L.lib, a);
      },
      1, "^Cyclic reference to structure \"A\". Aborting\n$");
}

// ---- memoised walk against the plain walk on random hierarchies ----

struct RandomLib {
  LibBuilder L;
  int32_t n = 0;
};

RandomLib randomLib(uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int lo, int hi) { return static_cast<int>(rng() % static_cast<uint32_t>(hi - lo + 1)) + lo; };
  auto chance = [&](int percent) { return pick(0, 99) < percent; };
  const bool far = chance(25);        // coordinates near the limits
  const bool cycles = chance(15);     // references to any structure
  const bool fatalWires = chance(15);  // wires that turn back

  RandomLib R;
  R.n = pick(3, 8);
  for (int i = 0; i < R.n; ++i) R.L.add(numbered("S", i));

  auto coord = [&]() -> int32_t {
    if (far && chance(30)) {
      int32_t d = pick(0, 3000);
      return chance(50) ? INT32_MAX - d : INT32_MIN + d;
    }
    return pick(-1000, 1000);
  };
  auto point = [&]() { return GDSpoint{coord(), coord()}; };
  const double angles[] = {0, 90, 180, 270, -90, 45, 30, 12.5, 0, 0};
  const double mags[] = {1, 2, 0.5, 1.5, 0.001, 3, 0.5, 0.25, -1};
  auto transf = [&]() -> GDStransf {
    GDSpoint o{pick(-500, 500), pick(-500, 500)};
    if (far && chance(20)) o = point();
    if (chance(55)) return GDSmakeTransf(o, 0, 0, 1);
    return GDSmakeTransf(o, pick(0, 1), angles[pick(0, 9)], mags[pick(0, 8)]);
  };
  // Instances below each structure, to keep the plain walk small.
  std::vector<double> weight(static_cast<std::size_t>(R.n), 1);

  for (int i = 0; i < R.n; ++i) {
    const int nel = pick(0, 5);
    for (int e = 0; e < nel; ++e) {
      const int kind = pick(0, 9);
      auto target = [&]() -> int32_t {
        if (chance(5)) return -1;
        if (cycles && chance(20)) return pick(0, R.n - 1);
        return i == 0 ? -1 : pick(0, i - 1);
      };
      if (kind <= 2) {
        std::vector<GDSpoint> pts;
        for (int k = pick(0, 5); k > 0; --k) pts.push_back(point());
        R.L.boundary(i, pick(0, 3), pts);
      } else if (kind <= 4) {
        std::vector<GDSpoint> pts;
        int np = chance(15) ? pick(0, 1) : pick(2, 4);
        for (int k = 0; k < np; ++k) pts.push_back(point());
        if (fatalWires && np >= 2 && chance(30)) {
          GDSpoint a = pts[np - 2], b = pts[np - 1];
          pts.push_back({a.x, a.y});
          (void)b;
        }
        const int32_t widths[] = {-21, 0, 1, 10, 21, 100, 1001};
        R.L.path(i, pick(0, 3), pick(0, 1) * 2, widths[pick(0, 6)], pts);
      } else if (kind <= 6) {
        const int32_t t = target();
        R.L.sref(i, t, transf());
        if (t >= 0 && t < i) weight[static_cast<std::size_t>(i)] += weight[static_cast<std::size_t>(t)];
      } else if (kind <= 8) {
        const int32_t t = target();
        // Larger arrays in a third of the libraries (measured by their corners).
        const int big = seed % 3 == 0 ? 8 : 3;
        const int32_t cols = pick(-1, big), rows = pick(-1, big);
        int32_t cs = pick(-300, 300), rs = pick(-300, 300);
        if (far && chance(30)) cs = coord();
        R.L.aref(i, t, cols, rows, cs, rs, transf());
        if (t >= 0 && t < i && cols > 0 && rows > 0)
          weight[static_cast<std::size_t>(i)] += cols * rows * weight[static_cast<std::size_t>(t)];
      } else {
        R.L.text(i, pick(0, 3));
      }
      if (weight[static_cast<std::size_t>(i)] > 3000) break;
    }
  }
  return R;
}

TEST(Extent, MemoisedWalkMatchesPlainWalkOnRandomHierarchies) {
  int fatalRuns = 0, runs = 0;
  for (uint32_t seed = 1; seed <= 2000; ++seed) {
    RandomLib R = randomLib(seed);
    for (int32_t s = R.n - 1; s >= 0; --s) {
      Measured plain = measure(R.L.lib, s, true);
      Measured fast = measure(R.L.lib, s, false);
      ASSERT_EQ(plain.c, fast.c) << "seed " << seed << " structure " << s;
      ASSERT_EQ(plain.box, fast.box) << "seed " << seed << " structure " << s;
      ++runs;
      if (plain.c.status) ++fatalRuns;
    }
    // References measured on their own, under a parent transform.
    const GDSstruct& last = R.L.lib.structs.back();
    for (const GDSsref& r : last.srefs) {
      const GDStransf parent = GDSmakeTransf({17, -4}, 1, 90, 1);
      Captured p, f;
      GDSbbox bp, bf;
      p = capture([&](const Console& con) { bp = plainwalks::bboxSref(con, R.L.lib, r, parent); });
      f = capture([&](const Console& con) { bf = GDSbboxSref(con, R.L.lib, r, parent); });
      ASSERT_EQ(p, f) << "seed " << seed;
      ASSERT_EQ(bp, bf) << "seed " << seed;
    }
  }
  // The hierarchies exercise both endings.
  EXPECT_GT(fatalRuns, 0);
  EXPECT_LT(fatalRuns, runs);
}

}  // namespace
