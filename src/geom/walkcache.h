// The caches that the hierarchy walks keep in a library: the descent path,
// the reference graph with its cycles, the layers below each structure and
// the memoised extents. Private to src/geom.
#pragma once

#include <bit>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "gds/model.h"

namespace qm {

// The points met by a walk: true minima and maxima over every point.
struct PointBox {
  int32_t minx = INT32_MAX;
  int32_t miny = INT32_MAX;
  int32_t maxx = INT32_MIN;
  int32_t maxy = INT32_MIN;
  bool any = false;
  void add(int32_t x, int32_t y) {
    any = true;
    if (x < minx) minx = x;
    if (y < miny) miny = y;
    if (x > maxx) maxx = x;
    if (y > maxy) maxy = y;
  }
};

// What the extent walk of one structure under a linear transform M gives,
// and what decides whether that result may stand for the walk of the
// structure under M followed by a translation by whole units: the walk under
// such a transform computes every value of the walk under M, shifted by the
// translation, with a rounding error bounded through depth and maxAbs; while
// that error stays below margin, every rounded point is the shifted one
// (exactly so when every value is a whole number).
struct ExtentMemo {
  uint8_t state = 0;      // 0 not computed, 1 being computed, 2 done
  bool poisoned = false;  // a fatal error, a saturation, or a part that could not stand for its walk
  bool exact = true;      // every value computed was a whole number of magnitude below 2^51
  PointBox box;           // every point measured
  PointBox reach;         // every point computed (measured points and wire centre lines)
  uint64_t msgs = 0;      // short-wire messages printed by the walk (saturating)
  double margin = 0.5;    // least distance of a value rounded to a point from a half unit
  double maxAbs = 0;      // largest magnitude of a translation or of a value rounded to a point
  uint64_t depth = 0;     // longest chain of additions that built a rounded value
};

// A structure under a linear transform (a, b, c, d), compared bit for bit.
struct MemoKey {
  int32_t idx;
  uint64_t a, b, c, d;
  MemoKey(int32_t i, double a_, double b_, double c_, double d_)
      : idx(i), a(std::bit_cast<uint64_t>(a_)), b(std::bit_cast<uint64_t>(b_)), c(std::bit_cast<uint64_t>(c_)),
        d(std::bit_cast<uint64_t>(d_)) {}
  bool operator==(const MemoKey&) const = default;
};
struct MemoKeyHash {
  std::size_t operator()(const MemoKey& k) const {
    uint64_t h = static_cast<uint64_t>(static_cast<uint32_t>(k.idx)) * 0x9e3779b97f4a7c15ull;
    for (uint64_t v : {k.a, k.b, k.c, k.d}) h = (h ^ v) * 0x100000001b3ull + (h >> 29);
    return static_cast<std::size_t>(h);
  }
};

}  // namespace qm

struct qm::GDSlibrary::WalkCache {
  std::size_t nstructs = 0;

  // Descent path: mark[i] == level when structure i is on the path of the
  // innermost walk.
  std::vector<uint32_t> mark;
  uint32_t level = 1;

  // Reference graph: children followed by the walks (bound SREFs, bound
  // AREFs with members), in CSR form.
  bool graphReady = false;
  std::vector<uint32_t> childStart;
  std::vector<int32_t> child;
  std::vector<uint8_t> cyclic;      // a cycle is reachable from the structure
  std::vector<int32_t> sccOf;       // component of each structure
  std::vector<int32_t> sccMembers;  // structures grouped by component, children before parents
  std::vector<uint32_t> sccStart;
  std::vector<uint8_t> sccCyclic;
  // Layers used directly by boundaries, paths and texts, sorted, in CSR form.
  std::vector<uint32_t> layStart;
  std::vector<int32_t> lay;
  std::unordered_map<int32_t, std::vector<uint8_t>> below;

  std::vector<ExtentMemo> memo;  // under the identity
  std::unordered_map<MemoKey, ExtentMemo, MemoKeyHash> linearMemo;  // under other linear parts
  // A wire stands in the structure or below it (computed on first use).
  std::vector<uint8_t> wiresBelow;
};

namespace qm {

// The cache of the library, created on first use.
GDSlibrary::WalkCache& walkCacheOf(const GDSlibrary& lib);
// The reference graph, built on first use.
GDSlibrary::WalkCache& walkGraphOf(const GDSlibrary& lib);

}  // namespace qm
