// The PostScript page: prologue, hatch-pattern fonts and page writer.
#pragma once

#include <string>

#include "common/out.h"
#include "gds/model.h"
#include "layers/config.h"

namespace qm {

void PSwritePrologue(Out& f);
// Fatal for horizontal or vertical hatching.
void PSwriteHatch(Out& f, const LayerEntry& e);

// Opens and reads the configuration into `table`, then writes the page.
void PSwritePage(const GDSlibrary& lib, LayerTable& table, const std::string& psPath,
                 const std::string& configPath, const std::string& top);

}  // namespace qm
