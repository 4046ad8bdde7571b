// The HP-GL/2 plot in PCL.
#pragma once

#include <string>

#include "gds/model.h"
#include "layers/config.h"

namespace qm {

void HPGLwritePlot(const GDSlibrary& lib, const LayerTable& table, const std::string& path,
                   const std::string& top);

}  // namespace qm
