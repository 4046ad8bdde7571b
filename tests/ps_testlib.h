// Hand-built libraries and page helpers for the PostScript writer tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/out.h"
#include "gds/model.h"
#include "layers/config.h"
#include "model_builder.h"

namespace pstest {

// Libraries built by hand; the buckets stay in the order the cells were
// added (done()).
using LibBuilder = qmtest::ModelBuilder;

// A translation, and a placement as the readers make it (mirror about x,
// then rotation, then magnification, then the origin).
inline qm::GDStransf shift(double x, double y) { return qm::GDStransf{1, 0, x, 0, 1, y}; }

// A layer block of the configuration file.
inline std::string block(const std::string& name, int gdsno, const std::string& extra = "",
                         bool hidden = false) {
  return "newlayer name " + name + " gdsno " + std::to_string(gdsno) + " hidden " +
         (hidden ? "yes" : "no") + " " + extra + " endlayer\n";
}

}  // namespace pstest
