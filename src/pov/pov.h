// The POV-Ray scene: identifiers and scene writer.
#pragma once

#include <string>

#include "gds/model.h"
#include "layers/config.h"

namespace qm {

std::string POVescapeName(const std::string& name);
std::string POVhexName(const std::string& name);
std::string POVtextureName(const LayerTable& table, int i);
std::string POVlayerTexture(const LayerTable& table, int32_t layer, int32_t datatype);

void POVwriteScene(const GDSlibrary& lib, const LayerTable& table, const std::string& path,
                   const std::string& top);

}  // namespace qm
