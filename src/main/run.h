// The writer sequence.
#pragma once

#include <string>

#include "gds/model.h"

namespace qm {

class Progress;

// Which drawings a run writes. The default is the three drawings of the
// sequence; the SVG drawing comes after them when chosen.
struct WriterChoice {
  bool ps = true;
  bool pov = true;
  bool hpgl = true;
  bool svg = false;
  std::string svgPath = "result.svg";
  // Threads drawing at the same time: 0 for one per processor, 1 for one
  // drawing after the other. The files and the bytes printed are the same.
  unsigned threads = 0;
};

// Writes the chosen drawings. The layer configuration is read once, with
// the page writer's messages and failures, whichever run. `progress`, when
// given, hears each writer and its layer.
void RunWriters(const Console& con, const GDSlibrary& lib, const std::string& top, const std::string& configPath,
                const std::string& psPath, const std::string& povPath, const std::string& hpglPath,
                const WriterChoice& choice = WriterChoice{}, Progress* progress = nullptr);

}  // namespace qm
