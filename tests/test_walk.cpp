// The walk of placed elements: what it hands its sink, in which order and
// with which transforms, what a layer leaves out, and the two ways an array
// member's transform is put together.
#include <gtest/gtest.h>

#include <bit>
#include <sstream>
#include <cstdint>
#include <string>
#include <vector>

#include "geom/walk.h"
#include "gds/transf.h"
#include "model_builder.h"
#include "plain_walks.h"

namespace {

using qm::GDSpoint;
using qm::GDStransf;
using qmtest::ModelBuilder;

// Every placed element as one line: kind, layer, points or text position.
class Recorder final : public qm::PlacedSink {
 public:
  std::vector<std::string> seen;
  std::vector<GDStransf> parents;
  void boundary(const qm::GDSboundary& b) override {
    std::ostringstream s;
    s << "B" << b.layer;
    pts(s, b.points, b.npoints);
    seen.push_back(s.str());
  }
  void path(const qm::GDSpath& p) override {
    std::ostringstream s;
    s << "P" << p.layer << " w" << p.width;
    pts(s, p.points, p.npoints);
    seen.push_back(s.str());
  }
  void text(const qm::GDStext& t, const GDStransf& parent) override {
    const GDSpoint o = qm::GDStransfPoint({0, 0}, qm::GDScomposeTransf(t.transf, parent));
    std::ostringstream s;
    s << "T" << t.layer << " " << t.string;
    pts(s, &o, 1);
    seen.push_back(s.str());
    parents.push_back(parent);
  }

 private:
  static void pts(std::ostringstream& s, const GDSpoint* p, int32_t n) {
    for (int32_t i = 0; i < n; ++i) s << " (" << p[i].x << "," << p[i].y << ")";
  }
};

GDStransf shift(int32_t x, int32_t y) { return qm::GDSmakeTransf({x, y}, 0, 0, 1); }

bool sameBits(const GDStransf& a, const GDStransf& b) {
  for (auto [x, y] : {std::pair{a.a, b.a}, {a.b, b.b}, {a.tx, b.tx}, {a.c, b.c}, {a.d, b.d}, {a.ty, b.ty}})
    if (std::bit_cast<uint64_t>(x) != std::bit_cast<uint64_t>(y)) return false;
  return true;
}

struct Lib {
  ModelBuilder b;
  int32_t top, cell;
  Lib() {
    cell = b.add("CELL");
    top = b.add("TOP");
    b.rect(cell, 1, 0, 0, 10, 10);
    b.path(cell, 2, 0, 4, {{0, 0}, {0, 20}});
    b.text(cell, 1, "c");
    b.other(cell, qm::KIND_BOX);
    b.rect(top, 2, 5, 5, 6, 6);
    b.sref(top, cell, qm::GDSmakeTransf({100, 0}, 0, 0, 2));
    b.aref(top, cell, 2, 1, 30, 0, shift(0, 50));
    b.sref(top, -1, shift(1, 1), "NOWHERE");
    b.text(top, 2, "t");
    b.done();
  }
};

TEST(PlacedWalk, PlacesEveryElementInListOrder) {
  Lib L;
  Recorder r;
  qm::walkPlaced(L.b.lib, L.b.lib.structs[static_cast<std::size_t>(L.top)], qm::WalkPlan{}, r);
  const std::vector<std::string> want{
      "B2 (5,5) (5,6) (6,6) (6,5) (5,5)",
      // Magnification 2 doubles the points and the width.
      "B1 (100,0) (100,20) (120,20) (120,0) (100,0)",
      "P2 w8 (100,0) (100,40)",
      "T1 c (100,0)",
      // Array members column by column, lattice first, then the array's
      // own transform.
      "B1 (0,50) (0,60) (10,60) (10,50) (0,50)",
      "P2 w4 (0,50) (0,70)",
      "T1 c (0,50)",
      "B1 (30,50) (30,60) (40,60) (40,50) (30,50)",
      "P2 w4 (30,50) (30,70)",
      "T1 c (30,50)",
      "T2 t (0,0)",
  };
  EXPECT_EQ(r.seen, want);
  // The library is left as it was.
  const qm::GDSboundary& b = L.b.lib.structs[static_cast<std::size_t>(L.cell)].boundaries[0];
  EXPECT_EQ(b.points[2], (GDSpoint{10, 10}));
}

TEST(PlacedWalk, ALayerLeavesOutWhatCannotDrawOnIt) {
  Lib L;
  const qm::GDSstruct& top = L.b.lib.structs[static_cast<std::size_t>(L.top)];
  qm::WalkPlan plan;
  plan.layer = 2;
  Recorder two;
  qm::walkPlaced(L.b.lib, top, plan, two);
  EXPECT_EQ(two.seen, (std::vector<std::string>{"B2 (5,5) (5,6) (6,6) (6,5) (5,5)", "P2 w8 (100,0) (100,40)",
                                                "P2 w4 (0,50) (0,70)", "P2 w4 (30,50) (30,70)", "T2 t (0,0)"}));
  plan.layer = 7;
  Recorder none;
  qm::walkPlaced(L.b.lib, top, plan, none);
  EXPECT_TRUE(none.seen.empty());
}

TEST(PlacedWalk, BoxesAndTopReferencesFollowThePlan) {
  ModelBuilder b;
  const int32_t cell = b.add("CELL");
  const int32_t top = b.add("TOP");
  b.text(cell, 1, "c");
  const GDStransf own = qm::GDSmakeTransf({7, 3}, 1, 33, 0.7);
  b.sref(top, cell, own);
  b.done();
  // A box is a boundary on its bucket only when the plan says so.
  qm::GDSboundary box;
  box.layer = 4;
  box.npoints = 0;
  b.at(cell).boundaries.push_back(box);
  b.at(cell).cells.push_back(qm::GDScell{qm::KIND_BOX, 0});

  qm::WalkPlan plan;
  Recorder composed;
  qm::walkPlaced(b.lib, b.lib.structs[static_cast<std::size_t>(top)], plan, composed);
  ASSERT_EQ(composed.parents.size(), 1u);
  EXPECT_TRUE(sameBits(composed.parents[0], qm::GDScomposeTransf(own, qm::GDSidentity)));
  EXPECT_EQ(composed.seen.size(), 1u);

  plan.composeTopRefs = false;
  plan.boxes = true;
  Recorder asIs;
  qm::walkPlaced(b.lib, b.lib.structs[static_cast<std::size_t>(top)], plan, asIs);
  ASSERT_EQ(asIs.parents.size(), 1u);
  EXPECT_TRUE(sameBits(asIs.parents[0], own));
  EXPECT_EQ(asIs.seen.back(), "B4");
}

// A walk with a layer picks out, once per structure, the cells that can
// draw on it; it must hand over exactly what a walk through everything
// hands over on that layer, for every plan.
TEST(PlacedWalk, ALayerGivesWhatTheWalkThroughEverythingGivesOnIt) {
  ModelBuilder b;
  const int32_t leaf = b.add("LEAF");
  const int32_t only3 = b.add("ONLY3");
  const int32_t mid = b.add("MID");
  const int32_t top = b.add("TOP");
  b.rect(leaf, 1, 0, 0, 100, 40);
  b.rect(leaf, 2, 10, 10, 30, 90);
  b.boundary(leaf, 3, {{0, 0}, {70, 10}, {30, 90}, {0, 0}});
  b.path(leaf, 2, 2, 30, {{0, 0}, {50, 0}, {50, 70}});
  b.path(leaf, 4, 0, 12, {{5, 5}, {5, -60}, {-40, -60}});
  b.text(leaf, 1, "leaf", qm::GDSmakeTransf({10, 20}, 0, 0, 1));
  b.boundary(leaf, 5, {{0, 0}, {0, 8}, {8, 8}, {8, 0}, {0, 0}});
  b.at(leaf).cells.back().kind = qm::KIND_BOX;
  b.rect(only3, 3, -5, -5, 5, 5);
  b.sref(mid, leaf, shift(1000, -2000));
  b.sref(mid, leaf, qm::GDSmakeTransf({-300, 700}, 1, 90, 2));
  b.aref(mid, leaf, 3, 2, 150, -90, qm::GDSmakeTransf({11, 13}, 0, 0, 1.5));
  b.sref(mid, only3, shift(INT32_MAX - 3, INT32_MIN + 2));
  b.sref(mid, -1, shift(1, 1), "NOWHERE");
  b.rect(mid, 2, -1, -1, 1, 1);
  b.aref(top, mid, 2, 2, 5000, 4000, qm::GDSmakeTransf({7, 9}, 0, 30, 0.75));
  b.sref(top, mid, shift(-7000, 1234));
  b.sref(top, leaf, qm::GDSmakeTransf({0, 0}, 1, 180, 1));
  b.sref(top, only3, shift(3, 3));
  b.text(top, 2, "top");
  b.done();
  const qm::GDSstruct& t = b.lib.structs[static_cast<std::size_t>(top)];

  for (qm::MemberOrder order : {qm::MemberOrder::LatticeThenPlacement, qm::MemberOrder::OwnThenParent}) {
    for (bool composeTop : {true, false}) {
      for (bool boxes : {false, true}) {
        qm::WalkPlan plan;
        plan.members = order;
        plan.composeTopRefs = composeTop;
        plan.boxes = boxes;
        Recorder all;
        plainwalks::place(b.lib, t, plan, all);
        for (int32_t layer = 1; layer <= 6; ++layer) {
          plan.layer = layer;
          Recorder one;
          qm::walkPlaced(b.lib, t, plan, one);
          std::vector<std::string> want;
          for (const std::string& line : all.seen)
            if (std::stoi(line.substr(1)) == layer) want.push_back(line);
          EXPECT_EQ(one.seen, want) << "layer " << layer << ", boxes " << boxes << ", top " << composeTop;
        }
      }
    }
  }
}

TEST(PlacedWalk, ArrayMembersComposeInTheGivenOrder) {
  qm::GDSaref a;
  a.cols = 3;
  a.rows = 4;
  a.colspace = 1234567;
  a.rowspace = -7654321;
  a.transf = qm::GDSmakeTransf({-3, 11}, 1, 37.5, 0.3);
  const GDStransf parent = qm::GDSmakeTransf({1000001, -99}, 0, 71.25, 1.7);
  const qm::ArrayMembers placed(a, parent, qm::MemberOrder::LatticeThenPlacement);
  const qm::ArrayMembers own(a, parent, qm::MemberOrder::OwnThenParent);
  bool differ = false;
  for (int32_t i = 0; i < a.cols; ++i) {
    for (int32_t j = 0; j < a.rows; ++j) {
      const GDStransf o = qm::GDSoffsetTransf(qm::GDSidentity, {i * a.colspace, j * a.rowspace});
      const GDStransf p = qm::GDScomposeTransf(o, qm::GDScomposeTransf(a.transf, parent));
      const GDStransf q = qm::GDScomposeTransf(qm::GDScomposeTransf(o, a.transf), parent);
      EXPECT_TRUE(sameBits(placed.member(i, j), p)) << i << "," << j;
      EXPECT_TRUE(sameBits(own.member(i, j), q)) << i << "," << j;
      if (!sameBits(p, q)) differ = true;
    }
  }
  // The two orders round differently: which one a writer takes shows.
  EXPECT_TRUE(differ);
}

}  // namespace
