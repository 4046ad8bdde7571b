#include "main/run.h"

#include "hpgl/hpgl.h"
#include "layers/config.h"
#include "pov/pov.h"
#include "ps/ps.h"

namespace qm {

void RunWriters(const GDSlibrary& lib, const std::string& top, const std::string& configPath,
                const std::string& psPath, const std::string& povPath, const std::string& hpglPath) {
  // The PostScript writer reads the configuration; the writers after it
  // use the table as it leaves it.
  LayerTable table;
  PSwritePage(lib, table, psPath, configPath, top);
  POVwriteScene(lib, table, povPath, top);
  HPGLwritePlot(lib, table, hpglPath, top);
}

}  // namespace qm
