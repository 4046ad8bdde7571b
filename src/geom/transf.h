// Transforms of placed elements: the points and transforms themselves are
// the model's (gds/transf.h); here they act on boundaries and paths.
#pragma once

#include "gds/model.h"
#include "gds/transf.h"

namespace qm {

// In-place transforms of temporary copies: every point through t; a path's
// width is also scaled by the magnification of t (truncated), unless it is
// exactly 1.
void GDStransfBoundary(GDSboundary& b, const GDStransf& t);
void GDStransfPath(GDSpath& p, const GDStransf& t);

// The n points at src through t, written to dst (which may be src): the
// points GDStransfPoints gives, with the common placement by a whole
// translation done in integers.
void GDStransfPointsTo(const GDSpoint* src, int32_t n, GDSpoint* dst, const GDStransf& t);
// The width and extensions of a path scaled as GDStransfPath scales them;
// the points are left as they are.
void GDStransfPathWidths(GDSpath& p, const GDStransf& t);

}  // namespace qm
