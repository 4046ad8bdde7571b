// Extents of elements and structures, and the rectangle test.
#pragma once

#include <climits>

#include "common/out.h"
#include "gds/model.h"

namespace qm {

struct GDSbbox {
  int32_t minx = INT32_MAX;
  int32_t miny = INT32_MAX;
  int32_t maxx = -INT32_MAX;
  int32_t maxy = -INT32_MAX;
  void merge(const GDSbbox& e) {
    if (e.minx < minx) minx = e.minx;
    if (e.miny < miny) miny = e.miny;
    if (e.maxx > maxx) maxx = e.maxx;
    if (e.maxy > maxy) maxy = e.maxy;
  }
  void merge(GDSpoint p) {
    if (p.x < minx) minx = p.x;
    if (p.y < miny) miny = p.y;
    if (p.x > maxx) maxx = p.x;
    if (p.y > maxy) maxy = p.y;
  }
  bool empty() const { return minx == INT32_MAX && miny == INT32_MAX && maxx == -INT32_MAX && maxy == -INT32_MAX; }
  bool operator==(const GDSbbox&) const = default;
};

int GDSisRectangle(const GDSboundary& b);
GDSbbox GDSbboxBoundary(const GDSboundary& b);
GDSbbox GDSbboxPath(const Console& con, const GDSpath& p);
GDSbbox GDSbboxSref(const Console& con, const GDSlibrary& lib, const GDSsref& r, const GDStransf& parent);
GDSbbox GDSbboxAref(const Console& con, const GDSlibrary& lib, const GDSaref& a, const GDStransf& parent);
GDSbbox GDSbboxText(const GDStext& t);
// Prints "minx = %d, miny = %d, maxx = %d, maxy = %d\n" on standard error.
// The reference extents walk every instance (walkPlaced) when a cycle is
// reachable; otherwise they reuse, per structure and linear part,
// the extent of an earlier walk wherever it gives the same points (same
// results, same messages).
GDSbbox GDSbboxStruct(const Console& con, const GDSlibrary& lib, const GDSstruct& s);

}  // namespace qm
