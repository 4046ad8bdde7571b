#include "main/run.h"

#include "hpgl/hpgl.h"
#include "layers/config.h"
#include "pov/pov.h"
#include "ps/ps.h"

namespace qm {

void RunWriters(const GDSlibrary& lib, const std::string& top, const std::string& configPath,
                const std::string& psPath, const std::string& povPath, const std::string& hpglPath,
                Progress* progress) {
  // The PostScript writer reads the configuration; the writers after it
  // use the table as it leaves it.
  LayerTable table;
  PSwritePage(lib, table, psPath, configPath, top, progress);
  POVwriteScene(lib, table, povPath, top, progress);
  HPGLwritePlot(lib, table, hpglPath, top, progress);
}

}  // namespace qm
