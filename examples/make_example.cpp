// Writes the bundled example layout: a few cells, an array, a wire and a
// text. Build and run: see the README.
#include <fstream>
#include <iostream>

#include "../tests/gdsw.h"

int main(int argc, char** argv) {
  using namespace gdsw;
  const char* path = argc > 1 ? argv[1] : "demo.gds";
  Gds g;
  g.lib("DEMO");
  // A transistor-like cell: diffusion, a poly gate and two contacts.
  g.bgnstr("FET")
      .rect(1, 0, 0, 0, 4000, 2000)
      .path(2, 0, 2, 400, {{2000, -600}, {2000, 2600}})
      .rect(3, 0, 400, 600, 1200, 1400)
      .rect(3, 0, 2800, 600, 3600, 1400)
      .endstr();
  // A row cell: two transistors, one mirrored, joined by a metal wire.
  g.bgnstr("PAIR")
      .sref("FET", 0, 0)
      .sref("FET", 9000, 2000, {true, true})
      .path(4, 0, 0, 600, {{800, 1000}, {800, 3500}, {8200, 3500}, {8200, 1000}})
      .text(4, 0, "OUT", 4500, 3500)
      .endstr();
  // The top: a 3 by 2 array of pairs, a rotated pair and a triangle.
  g.bgnstr("TOP")
      .aref("PAIR", 3, 2, {{0, 0}, {36000, 0}, {0, 12000}})
      .sref("PAIR", 42000, -4000, {true, false, false, 1, true, 90})
      .boundary(5, 0, {{-2000, -2000}, {8000, -2000}, {3000, -6000}, {-2000, -2000}})
      .text(5, 0, "quillmask demo", 0, -8000)
      .endstr();
  g.endlib();
  std::ofstream f(path, std::ios::binary);
  f << g.bytes;
  if (!f) {
    std::cerr << "cannot write " << path << "\n";
    return 1;
  }
  return 0;
}
