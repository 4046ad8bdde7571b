// The HP-GL/2 plot in PCL.
#pragma once

#include <string>

#include "common/out.h"
#include "gds/model.h"
#include "geom/walk.h"
#include "layers/config.h"

namespace qm {

class Progress;

// The whole writer: header, pen colours, plot size and scaling, one pen
// pass per visible entry of the table, trailer. Run only when a top
// structure was named. `walks` measures the top structure and walks each
// pass.
void HPGLwritePlot(const Console& con, const GDSlibrary& lib, const LayerTable& table, const std::string& path,
                   const std::string& top, const Walks& walks = fastWalks(), Progress* progress = nullptr);

// The pieces of the plot, for the writer and its tests.
void HPGLwriteHeader(Out& f);
void HPGLwriteTrailer(Out& f);
// "PC" with the pen and its colour; nothing for a hidden entry.
void HPGLwritePenColor(Out& f, const LayerEntry& e);
// "FT1", "FT3,..." or "FT4,..." after the entry's fill and hatching;
// nothing when the entry has neither.
void HPGLwriteFillType(Out& f, double scale, const LayerEntry& e);
// One boundary as stored (ER/RR for a rectangle, PM ... EP/FP otherwise),
// when it lies on the entry's layer.
void HPGLwriteBoundary(Out& f, const GDSboundary& b, const LayerEntry& e);
// One text placed under `parent`, when it lies on the entry's layer.
void HPGLwriteText(Out& f, const GDStext& t, const GDStransf& parent, const LayerEntry& e);

// The plot geometry of an extent. An empty extent counts as (0, 0, 0, 0)
// and the differences of the coordinates are taken in 64 bits, so they
// never wrap. The reported scale factors follow the plain formulas and are
// inf for a zero width or height; the plot values never are: a zero width
// takes the height, a zero height the width, both zero become 100, and
// every integer is clamped to the 32-bit range.
struct HPGLgeometry {
  double reportScalex = 0;  // "scalex = %f, scaley = %f" and "scale = %f"
  double reportScaley = 0;
  double scale = 0;         // plotter units per user unit, used in the plot
  int32_t length = 0;       // plot length L
  int32_t sc[4] = {0, 0, 0, 0};  // SC xmin, xmax, ymin, ymax
};
HPGLgeometry HPGLplotGeometry(int32_t minx, int32_t miny, int32_t maxx, int32_t maxy, bool empty);

}  // namespace qm
