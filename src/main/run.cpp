#include "main/run.h"

#include "hpgl/hpgl.h"
#include "layers/config.h"
#include "layers/load.h"
#include "pov/pov.h"
#include "ps/ps.h"
#include "svg/svg.h"

namespace qm {

void RunWriters(const Console& con, const GDSlibrary& lib, const std::string& top, const std::string& configPath,
                const std::string& psPath, const std::string& povPath, const std::string& hpglPath,
                const WriterChoice& choice, Progress* progress) {
  // The PostScript writer reads the configuration; the writers after it
  // use the table as it leaves it. Without the page it is read alone.
  LayerTable table;
  if (choice.ps) PSwritePage(con, lib, table, psPath, configPath, top, fastWalks(), progress);
  else LoadLayerConfig(con, configPath, table);
  if (choice.pov) POVwriteScene(con, lib, table, povPath, top, progress);
  if (choice.hpgl) HPGLwritePlot(con, lib, table, hpglPath, top, fastWalks(), progress);
  if (choice.svg) SVGwriteDrawing(con, lib, table, choice.svgPath, top, progress);
}

}  // namespace qm
