// The SVG drawing of the top structure: the page's look (visible layers,
// colours, fill, hatching, outlines, texts) with the hierarchy kept, for
// browsers and other viewers.
#pragma once

#include <string>
#include <string_view>

#include "common/out.h"
#include "gds/model.h"
#include "layers/config.h"

namespace qm {

class Progress;

// Writes the drawing of `top` into `path` from a table already read. A
// path that cannot be opened is fatal ("Couldn't open %s for writing.
// Aborting...\n"); a missing top structure is reported like the other
// writers do and leaves an SVG document without drawing.
void SVGwriteDrawing(const Console& con, const GDSlibrary& lib, const LayerTable& table, const std::string& path,
                     const std::string& top, Progress* progress = nullptr);

// Character data or an attribute value for XML: & < > " ' as references,
// valid UTF-8 kept, control bytes as the Unicode control pictures (U+2400
// and up), every other byte that is no part of valid UTF-8 (and the
// characters XML forbids) as U+FFFD.
void SVGputEscaped(Out& f, std::string_view s);
std::string SVGescape(std::string_view s);

}  // namespace qm
