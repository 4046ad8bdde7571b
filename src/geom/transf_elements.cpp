#include "geom/transf.h"

namespace qm {

void GDStransfBoundary(GDSboundary& b, const GDStransf& t) { GDStransfPoints(b.points, b.npoints, t); }

void GDStransfPath(GDSpath& p, const GDStransf& t) {
  GDStransfPoints(p.points, p.npoints, t);
  p.width = GDStransfWidth(p.width, t);
  if (p.hasExtensions) {
    p.bgnextn = GDStransfWidth(p.bgnextn, t);
    p.endextn = GDStransfWidth(p.endextn, t);
  }
}

}  // namespace qm
