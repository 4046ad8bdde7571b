// Writes the seed inputs of the fuzz targets (fuzz/corpus/reader and
// fuzz/corpus/run) with the test record writer. The seeds are kept in the
// tree; run this to make them again after changing it:
//   fuzz_make_seeds fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "../tests/gdsw.h"

namespace {

using gdsw::Gds;
using gdsw::Placement;

void save(const std::filesystem::path& dir, const std::string& name, const Gds& g) {
  std::filesystem::create_directories(dir);
  std::ofstream f(dir / name, std::ios::binary);
  f << g.bytes;
  if (!f) {
    std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
    std::exit(1);
  }
}

// Every element kind the strict reader takes, with and without placement.
Gds basic() {
  Gds g;
  g.lib("BASIC");
  g.bgnstr("LEAF");
  g.rect(1, 0, 0, 0, 1000, 500);
  g.boundary(2, 1, {{0, 0}, {300, 900}, {600, 0}, {0, 0}});
  g.path(2, 0, 0, 100, {{0, 0}, {1000, 0}, {1000, 1000}});
  g.path(0, 0, 1, 50, {{0, 0}, {500, 500}});
  g.path(10, 0, 2, 40, {{-100, 0}, {0, 300}, {200, 300}});
  g.path(1, 0, 4, 20, {{0, 0}, {0, 700}});
  g.text(1, 0, "pin A", 100, 200, 0x15);
  g.text(3, 2, "hidden", 0, 0, 0x0a, Placement{true, true, true, 2.0, true, 90});
  g.endstr();
  g.bgnstr("TOP");
  g.sref("LEAF", 0, 0);
  g.sref("LEAF", 5000, 0, Placement{true, true, true, 0.5, true, 45});
  g.aref("LEAF", 3, 2, {{0, 5000}, {6000, 5000}, {0, 9000}});
  g.endstr();
  g.endlib();
  return g;
}

// The records that only tolerant reading takes.
Gds tolerant() {
  Gds g;
  g.header().bgnlib().libname("TOL").rec(gdsw::REFLIBS, std::string(90, '\0')).rec(gdsw::FONTS, std::string(8, 'f'));
  g.units().rec(gdsw::LIBSECUR, gdsw::i2(1) + gdsw::i2(2) + gdsw::i2(3));
  g.bgnstr("CELL");
  g.rec(gdsw::BOX).rec(gdsw::LAYER, gdsw::i2(1)).rec(gdsw::BOXTYPE, gdsw::i2(0));
  g.rec(gdsw::XY, gdsw::xy({{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}})).rec(gdsw::ENDEL);
  g.rec(gdsw::NODE).rec(gdsw::LAYER, gdsw::i2(1)).rec(gdsw::NODETYPE, gdsw::i2(0));
  g.rec(gdsw::XY, gdsw::xy({{5, 5}})).rec(gdsw::ENDEL);
  g.rec(gdsw::PATH).rec(gdsw::ELFLAGS, gdsw::i2(0)).rec(gdsw::PLEX, gdsw::i4(7));
  g.rec(gdsw::LAYER, gdsw::i2(2)).rec(gdsw::DATATYPE, gdsw::i2(0)).rec(gdsw::PATHTYPE, gdsw::i2(4));
  g.rec(gdsw::WIDTH, gdsw::i4(30)).rec(gdsw::BGNEXTN, gdsw::i4(15)).rec(gdsw::ENDEXTN, gdsw::i4(-5));
  g.rec(gdsw::XY, gdsw::xy({{0, 0}, {100, 0}, {100, 100}}));
  g.rec(gdsw::PROPATTR, gdsw::i2(1)).rec(gdsw::PROPVALUE, gdsw::strdata("net")).rec(gdsw::ENDEL);
  g.rec(gdsw::PATH).rec(gdsw::LAYER, gdsw::i2(1)).rec(gdsw::DATATYPE, gdsw::i2(0));
  g.rec(gdsw::XY, gdsw::xy({{0, 0}, {0, 50}})).rec(gdsw::ENDEL);
  g.rec(gdsw::TEXT).rec(gdsw::LAYER, gdsw::i2(10)).rec(gdsw::TEXTTYPE, gdsw::i2(0));
  g.rec(gdsw::PATHTYPE, gdsw::i2(0)).rec(gdsw::WIDTH, gdsw::i4(5));
  g.rec(gdsw::STRANS, gdsw::i2(0)).rec(gdsw::ANGLE, gdsw::r8(30)).rec(gdsw::MAG, gdsw::r8(3));
  g.rec(gdsw::XY, gdsw::xy({{1, 2}})).rec(gdsw::STRING, gdsw::strdata("no presentation")).rec(gdsw::ENDEL);
  g.endstr();
  g.bgnstr("TOLTOP");
  g.sref("CELL", 10, 10, Placement{true, false, false, 1, true, 180});
  g.endstr();
  g.endlib();
  return g;
}

// Three levels, arrays with every placement, an unbound reference.
Gds hierarchy() {
  Gds g;
  g.lib("HIER");
  g.bgnstr("VIA");
  g.rect(2, 1, -50, -50, 50, 50);
  g.endstr();
  g.bgnstr("WIRE");
  g.path(1, 0, 2, 60, {{0, 0}, {2000, 0}, {2000, -1500}, {2600, -900}});
  g.sref("VIA", 0, 0);
  g.sref("VIA", 2000, 0, Placement{true, false, true, 1.5, false, 0});
  g.endstr();
  g.bgnstr("ROW");
  g.aref("WIRE", 4, 1, {{0, 0}, {12000, 0}, {0, 800}});
  g.aref("WIRE", 2, 3, {{0, 0}, {0, 6000}, {-3000, 0}}, Placement{true, false, false, 1, true, 90});
  g.aref("WIRE", 2, 2, {{100, 100}, {100, -3900}, {2100, 100}}, Placement{true, true, false, 1, true, 270});
  g.sref("MISSING", 1, 1);
  g.endstr();
  g.bgnstr("CHIP");
  g.sref("ROW", 0, 0);
  g.sref("ROW", 0, 20000, Placement{true, true, true, 0.25, true, 33.5});
  g.rect(0, 0, -1000, -1000, 30000, 30000);
  g.text(10, 0, "CHIP", 15000, 15000, 0x05, Placement{true, false, true, 10, false, 0});
  g.endstr();
  g.endlib();
  return g;
}

// Odd corners of the format that are still valid.
Gds edges() {
  Gds g;
  g.header().bgnlib({-1, 13, 40, 25, 61, 61, 32767, -32768, 0, 0, 0, 0}).libname("");
  g.units(1e-300, 1e300);
  g.bgnstr("");
  g.endstr();
  g.bgnstr("odd");
  g.rec(gdsw::STRNAME, std::string("o\0dd", 4));
  g.rect(-1, -1, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  g.boundary(5, 0, {{1, 1}});
  g.path(1, 0, 2, -100, {{0, 0}, {INT32_MAX, 0}});
  g.rec(60, "junk");
  g.text(1, 0, std::string(1100, 'x'), -5, -5, 0xffff);
  g.endstr();
  g.bgnstr("odd");
  g.sref("odd", 0, 0);
  g.sref("", 0, 0, Placement{true, false, true, 0, true, -1e10});
  g.aref("o", -2, 32767, {{0, 0}, {2, 0}, {0, 32767}});
  g.endstr();
  g.endlib();
  g.rect(1, 0, 0, 0, 1, 1);  // after ENDLIB: never read
  return g;
}

Gds minimal() {
  Gds g;
  g.lib("MIN").endlib();
  return g;
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path out = argc > 1 ? argv[1] : "fuzz/corpus";
  save(out / "reader", "basic.gds", basic());
  save(out / "reader", "tolerant.gds", tolerant());
  save(out / "reader", "edges.gds", edges());
  save(out / "reader", "minimal.gds", minimal());
  save(out / "run", "basic.gds", basic());
  save(out / "run", "tolerant.gds", tolerant());
  save(out / "run", "hierarchy.gds", hierarchy());
  return 0;
}
