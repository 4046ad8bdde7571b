// Generates large libraries for the benchmarks.
//   gen_layout flat  FILE [rects]      one structure with `rects` rectangles (2M: about 128 MB)
//   gen_layout deep  FILE [refs]       millions of references and arrays over a few levels
//   gen_layout chipa FILE [blocks]     100 blocks x 1000 placements of 50 leaf cells on 10 layers
//   gen_layout chipb FILE              the same with arrays of arrays, rotated, mirrored, magnified placements
//   gen_layout chipc FILE [levels]     each level places the one below twice (20 levels)
//   gen_layout config FILE [layers]    layers 1 to 10 configured, that many of them visible
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "../tests/gdsw.h"

using namespace gdsw;

namespace {

void leafCells(Gds& g, int count, int layers) {
  for (int c = 0; c < count; ++c) {
    g.bgnstr("LEAF" + std::to_string(c));
    for (int e = 0; e < 20; ++e) {
      int layer = 1 + (c + e) % layers;
      int x = (e % 5) * 300, y = (e / 5) * 300;
      if (e % 4 == 3)
        g.path(layer, 0, e % 2 ? 2 : 0, 40, {{x, y}, {x + 200, y}, {x + 200, y + 200}});
      else if (e % 4 == 2)
        g.boundary(layer, 0, {{x, y}, {x + 250, y}, {x + 100, y + 250}, {x, y}});
      else
        g.rect(layer, 0, x, y, x + 250, y + 250);
    }
    g.endstr();
  }
}

bool write(const char* path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
  return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: gen_layout flat|deep|chipa|chipb|chipc|config FILE [N]\n";
    return 2;
  }
  std::string mode = argv[1];
  const char* path = argv[2];
  long n = argc > 3 ? std::atol(argv[3]) : 0;
  Gds g;
  if (mode == "config") {
    // Layers 1 to 10 are configured; the first `n` are visible.
    int layers = n ? static_cast<int>(n) : 10;
    std::string cfg;
    for (int l = 1; l <= 10; ++l) {
      cfg += "newlayer name L" + std::to_string(l) + " gdsno " + std::to_string(l) +
             (l <= layers ? " hidden no\n" : " hidden yes\n");
      cfg += " red 0." + std::to_string(l % 10) + " green 0.5 blue 0.3\n";
      if (l % 3 == 0) cfg += " hatch single angle 45 step 1\n";
      else if (l % 3 == 1) cfg += " fill yes\n";
      cfg += " thickness 0.2 depth " + std::to_string(l) + "\nendlayer\n";
    }
    return write(path, cfg) ? 0 : 1;
  }
  g.lib("BENCH");
  if (mode == "flat") {
    long rects = n ? n : 2000000;
    g.bgnstr("TOP");
    for (long i = 0; i < rects; ++i) {
      long x = (i % 2000) * 1000, y = (i / 2000) * 1000;
      g.rect(1 + static_cast<int>(i % 8), 0, x, y, x + 600, y + 400);
    }
    g.endstr();
  } else if (mode == "deep") {
    long refs = n ? n : 2000000;
    leafCells(g, 50, 8);
    long perMid = 2000, mids = refs / perMid;
    for (long m = 0; m < mids; ++m) {
      g.bgnstr("MID" + std::to_string(m));
      for (long r = 0; r < perMid; ++r) {
        std::string leaf = "LEAF" + std::to_string((m + r) % 50);
        if (r % 20 == 0)
          g.aref(leaf, 4, 3, {{r * 10, 0}, {r * 10 + 8000, 0}, {r * 10, 6000}});
        else if (r % 3 == 0)
          g.sref(leaf, r * 10, m, {true, (r % 2) != 0, false, 1, true, 90.0 * (r % 4)});
        else
          g.sref(leaf, r * 10, m);
      }
      g.endstr();
    }
    g.bgnstr("TOP");
    for (long m = 0; m < mids; ++m) g.sref("MID" + std::to_string(m), 0, m * 100000);
    g.endstr();
  } else if (mode == "chipa" || mode == "chipb") {
    bool fancy = mode == "chipb";
    const int blocks = !fancy && n > 0 ? static_cast<int>(n) : 100;
    leafCells(g, 50, 10);
    for (int b = 0; b < blocks; ++b) {
      g.bgnstr("BLOCK" + std::to_string(b));
      if (!fancy) {
        for (int p = 0; p < 1000; ++p) g.sref("LEAF" + std::to_string((b + p) % 50), (p % 40) * 2000, (p / 40) * 2000);
      } else {
        // 1000 placements: 40 arrays of 5x5 members, half of them rotated, mirrored or magnified.
        for (int a = 0; a < 40; ++a) {
          std::string leaf = "LEAF" + std::to_string((b + a) % 50);
          int x = (a % 8) * 12000, y = (a / 8) * 12000;
          Placement pl;
          if (a % 4 == 1) pl = {true, false, false, 1, true, 90};
          if (a % 4 == 2) pl = {true, true, true, 1.5, false, 0};
          if (a % 4 == 3) pl = {true, true, false, 1, true, 30};
          // Lattice points: P2 and P3 are the images of (5*2000, 0) and (0, 5*2000).
          if (a % 4 == 1)
            g.aref(leaf, 5, 5, {{x, y}, {x, y + 10000}, {x - 10000, y}}, pl);
          else if (a % 4 == 2)
            g.aref(leaf, 5, 5, {{x, y}, {x + 15000, y}, {x, y - 15000}}, pl);
          else if (a % 4 == 3)
            g.aref(leaf, 5, 5, {{x, y}, {x + 8660, y + 5000}, {x + 5000, y - 8660}}, pl);
          else
            g.aref(leaf, 5, 5, {{x, y}, {x + 10000, y}, {x, y + 10000}}, pl);
        }
      }
      g.endstr();
    }
    g.bgnstr("ROW");
    for (int b = 0; b < 10; ++b) g.sref("BLOCK" + std::to_string(b * 10), b * 110000, 0);
    g.endstr();
    g.bgnstr("TOP");
    if (!fancy) {
      for (int b = 0; b < blocks; ++b) g.sref("BLOCK" + std::to_string(b), (b % 10) * 110000, (b / 10) * 110000);
    } else {
      // An array of rows (arrays of arrays) plus the blocks placed one by one.
      g.aref("ROW", 1, 2, {{0, 1200000}, {1200000, 1200000}, {0, 1200000 + 2 * 110000}});
      for (int b = 0; b < 100; ++b)
        g.sref("BLOCK" + std::to_string(b), (b % 10) * 110000, (b / 10) * 110000,
               {true, b % 2 == 1, false, 1, true, 180.0 * (b % 3 == 0)});
    }
    g.endstr();
  } else if (mode == "chipc") {
    int levels = n ? static_cast<int>(n) : 20;
    leafCells(g, 1, 10);
    for (int l = 1; l <= levels; ++l) {
      g.bgnstr("LEVEL" + std::to_string(l));
      std::string below = l == 1 ? "LEAF0" : "LEVEL" + std::to_string(l - 1);
      int step = 2000 << (l / 2);
      if (l % 2) {
        g.sref(below, 0, 0).sref(below, step, 0);
      } else {
        g.sref(below, 0, 0).sref(below, 0, step, {true, true, false, 1, false, 0});
      }
      g.endstr();
    }
    g.bgnstr("TOP").sref("LEVEL" + std::to_string(levels), 0, 0).endstr();
  } else {
    std::cerr << "unknown mode " << mode << "\n";
    return 2;
  }
  g.endlib();
  return write(path, g.bytes) ? 0 : 1;
}
