// The outline polygon of a wire.
#pragma once

#include <vector>

#include "common/out.h"
#include "gds/model.h"

namespace qm {

double SegmentAngle(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
GDSpoint EndOffset(int32_t w, GDSpoint p, GDSpoint q);
// Fatal when the wire turns back on itself.
GDSpoint MitreOffset(int32_t w, GDSpoint prev, GDSpoint cur, GDSpoint next);

// Writes the 2n+1 outline points of the wire into `pts` and returns the
// outline as a boundary on the path's layer and datatype whose points live
// in `pts`. With fewer than 2 points: prints the message, returns a boundary
// with npoints 0 and points null (callers draw or measure nothing).
GDSboundary PathToBoundary(const Console& con, const GDSpath& path, std::vector<GDSpoint>& pts);

// The same outline without printing or stopping: Short for a wire of fewer
// than 2 points (pts untouched), Reversal when it turns back on itself (pts
// partly written). Sets *clamped when a point sum left the 32-bit range and
// was saturated.
enum class OutlineResult { Ok, Short, Reversal };
OutlineResult PathOutline(const GDSpath& path, std::vector<GDSpoint>& pts, bool* clamped = nullptr);

inline constexpr const char* kShortWireMessage = "PathToBoundary(): don't know to handle wires < 2 pts yet\n";
inline constexpr const char* kReversalMessage = "Internal algorithm error: cos((alpha - beta)/2) = 0\n";

}  // namespace qm
