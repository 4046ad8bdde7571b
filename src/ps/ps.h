// The PostScript page: prologue, hatch-pattern fonts and page writer.
#pragma once

#include <string>
#include <string_view>

#include "common/out.h"
#include "gds/model.h"
#include "geom/walk.h"
#include "layers/config.h"

namespace qm {

class Progress;

void PSwritePrologue(Out& f);
// Fatal for horizontal or vertical hatching.
void PSwriteHatch(Out& f, const LayerEntry& e);

// Opens and reads the configuration into `table`, then writes the page.
// `walks` measures the top structure and walks each pass; `progress`, when
// given, hears the layer being drawn.
void PSwritePage(const Console& con, const GDSlibrary& lib, LayerTable& table, const std::string& psPath,
                 const std::string& configPath, const std::string& top, const Walks& walks = fastWalks(),
                 Progress* progress = nullptr);
// The page alone, from a table already read (at least one layer block).
void PSdrawPage(const Console& con, const GDSlibrary& lib, const LayerTable& table, const std::string& psPath,
                const std::string& top, const Walks& walks = fastWalks(), Progress* progress = nullptr);

// The element writers of one drawing pass (the pass of entry `e`): the
// drawing the page writer does, for a single element (references walked
// with their structures).
void PSwriteBoundary(const Console& con, Out& f, const GDSboundary& b, const LayerEntry& e);
void PSwritePath(const Console& con, Out& f, const GDSpath& p, const LayerEntry& e);
void PSwriteSref(const Console& con, Out& f, const GDSlibrary& lib, const GDSsref& r, const GDStransf& parent,
                 const LayerEntry& e);
void PSwriteAref(const Console& con, Out& f, const GDSlibrary& lib, const GDSaref& a, const GDStransf& parent,
                 const LayerEntry& e);
void PSwriteText(const Console& con, Out& f, const GDStext& t, const GDStransf& parent, const LayerEntry& e);

// The pattern font of a layer as it is written in the file: "/FONTname"
// when the name is made of regular characters only, else the escaped
// string turned into a name, "(FONTname) cvn".
std::string PSfontName(std::string_view layerName);
// A PostScript string literal: ( ) and \ escaped, bytes outside 32..126
// as \ooo.
std::string PSstring(std::string_view s);
// The same, written straight to the stream.
void PSputString(Out& f, std::string_view s);

}  // namespace qm
