#include "layers/load.h"

#include <cstdio>

#include "common/out.h"

namespace qm {

int LoadLayerConfig(const Console& con, const std::string& configPath, LayerTable& table) {
  std::FILE* cfg = std::fopen(configPath.c_str(), "r");
  if (!cfg) fatal("Couldn't open %s for reading. Aborting...\n", configPath.c_str());
  int count = ReadLayerConfig(con, cfg, table);
  table.layerCount = count;
  std::fclose(cfg);
  return count;
}

}  // namespace qm
