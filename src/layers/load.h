// Reading the layer configuration file of a run.
#pragma once

#include <string>

#include "layers/config.h"

namespace qm {

// Opens the configuration file, reads it into the table and sets its
// layerCount, which it also returns. A file that cannot be opened prints
// "Couldn't open %s for reading. Aborting...\n" and ends the program with
// status 1; syntax errors end it as ReadLayerConfig says.
int LoadLayerConfig(const Console& con, const std::string& configPath, LayerTable& table);

}  // namespace qm
