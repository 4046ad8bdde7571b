// Hostile and extreme input, run through the built programs: every run
// ends with its normal result or with a message and status 1, never with
// a signal, and within a deadline far above its usual time. Set
// QM_LIMITS_DUMP=<folder> to keep the GDSII fixtures there (they make good
// fuzz inputs).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <cstdio>
#include <string>
#include <vector>

#include "gdsw.h"
#include "limits_runner.h"
#include "runner.h"

namespace {

using gdsw::Gds;
using gdsw::Placement;

constexpr double kDeadline = 120;  // seconds; the runs take a few at most

// Layer 1 drawn, layer 2 hatched, layer 7 hidden.
const char kConfig[] =
    "newlayer name M1 gdsno 1 hidden no fill yes red 0 green 0 blue 1 depth 1 thickness 0.5 endlayer\n"
    "newlayer name M2 gdsno 2 hidden no hatch cross angle 45 step 20 depth 2 thickness 0.5 endlayer\n"
    "newlayer name off gdsno 7 hidden yes endlayer\n";

void dump(const std::string& name, const std::string& bytes) {
  const char* d = std::getenv("QM_LIMITS_DUMP");
  if (!d) return;
  std::filesystem::create_directories(d);
  std::ofstream(std::filesystem::path(d) / name, std::ios::binary) << bytes;
}

// A folder holding the fixture as in.gds and the configuration.
struct Fixture {
  qmtest::TempDir dir;
  Fixture(const std::string& name, const std::string& gds, const std::string& config = kConfig) {
    dir.write("in.gds", gds);
    dir.write(".layers.config", config);
    dump(name, gds);
  }
  qmtest::TimedResult run(std::vector<std::string> args, const std::function<bool()>& stopWhen = {},
                          bool keepStdout = true) const {
    args.insert(args.begin(), {"-i", "in.gds"});
    return qmtest::runTimed(QM_BIN, args, dir.path(), kDeadline, stopWhen, "/dev/null", keepStdout);
  }
};

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The three drawings of a run that completed.
void expectComplete(const qmtest::TempDir& d) {
  EXPECT_TRUE(endsWith(d.read("result.ps"), "showpage\n"));
  EXPECT_TRUE(endsWith(d.read("result.pov"), "// end of povray file\n"));
  EXPECT_TRUE(endsWith(d.read("result.plt"), "PUSP0PG;\n"));
}

// Ended normally, or with status 1 and a message (or was stopped by the
// test on purpose).
void expectOrderly(const qmtest::TimedResult& r) {
  EXPECT_FALSE(r.signaled) << "signal " << r.status - 128 << "\n" << r.err.substr(0, 2000);
  EXPECT_FALSE(r.timedOut);
  if (r.stoppedEarly) return;
  EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status;
  if (r.status == 1) {
    EXPECT_FALSE(r.err.empty());
  }
}

std::size_t countLines(const std::string& path, const std::string& prefix) {
  std::ifstream f(path, std::ios::binary);
  std::string line;
  std::size_t n = 0;
  while (std::getline(f, line))
    if (line.compare(0, prefix.size(), prefix) == 0) ++n;
  return n;
}

std::string cellName(int i) {
  std::string s = "S";
  s += std::to_string(i);
  return s;
}

// S0 references S1, ..., S99998 references S99999, which holds a
// rectangle. The leaf comes first in the file.
std::string deepChain(int depth) {
  Gds g;
  g.lib("DEEP");
  g.bgnstr(cellName(depth - 1)).rect(1, 0, 0, 0, 100, 100).endstr();
  for (int i = depth - 2; i >= 0; --i) g.bgnstr(cellName(i)).sref(cellName(i + 1), 10, 0).endstr();
  return g.endlib().bytes;
}

TEST(Limits, DeepChainReads) {
  constexpr int kDepth = 100000;
  Fixture fx("deep_chain.gds", deepChain(kDepth));
  auto r = fx.run({});
  expectOrderly(r);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "For the time being, please look at the file result.txt\n");
  EXPECT_EQ(countLines(fx.dir.file("result.txt"), "Read a struct named "), std::size_t{kDepth});
  EXPECT_EQ(countLines(r.outPath, "Fixed reference for SREF \"S"), std::size_t{kDepth - 1});
}

// The page of a 100,000-level chain is written whole, without running out
// of stack. The POV-Ray writer after it echoes the names passed by each
// structure lookup, which grows with the square of the depth (about 90 GB
// here, so standard output goes to /dev/null). Should the rest of the run
// not end by the deadline, the whole page is what counts.
TEST(Limits, DeepChainPageIsWrittenWhole) {
  constexpr int kDepth = 100000;
  Fixture fx("deep_chain.gds", deepChain(kDepth));
  auto r = fx.run({"-s", "S0"}, {}, /*keepStdout=*/false);
  EXPECT_FALSE(r.signaled) << "signal " << r.status - 128 << "\n" << r.err.substr(0, 2000);
  std::string page = fx.dir.read("result.ps");
  EXPECT_TRUE(endsWith(page, "showpage\n"));
  // The leaf lies 99,999 steps of 10 units to the right of the top, and
  // the page is fitted to it.
  EXPECT_NE(page.find("\n9999 0 1 1 rectstroke\n"), std::string::npos);
  EXPECT_NE(page.find("\n-9999.811765 0.114187 translate\n"), std::string::npos);
  if (!r.timedOut) {
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 500);
    expectComplete(fx.dir);
    EXPECT_EQ(countLines(fx.dir.file("result.pov"), "#declare S"), std::size_t{kDepth});
  }
}

// A 32767 x 32767 array whose cell draws only on a hidden layer, next to
// one visible rectangle: nothing of the array is drawn, so the run takes
// no longer than for the rectangle alone. The extent still measures the
// whole array.
TEST(Limits, HugeArrayOfNothingVisible) {
  Gds g;
  g.lib("ARR");
  g.bgnstr("CELL").rect(7, 0, 0, 0, 5, 5).endstr();
  g.bgnstr("TOP");
  g.aref("CELL", 32767, 32767, {{0, 0}, {327670, 0}, {0, 327670}});
  g.rect(1, 0, 0, 0, 1000, 1000);
  g.endstr().endlib();
  Fixture fx("huge_array.gds", g.bytes);
  auto r = fx.run({"-s", "TOP"});
  expectOrderly(r);
  ASSERT_EQ(r.status, 0) << r.err;
  expectComplete(fx.dir);
  EXPECT_NE(r.err.find("minx = 0, miny = 0, maxx = 327665, maxy = 327665\n"), std::string::npos) << r.err.substr(0, 500);
  // One rectangle on the page: the array added nothing.
  std::string page = fx.dir.read("result.ps");
  EXPECT_EQ(page.find("CELL"), std::string::npos);
}

// The same under a rotation, a magnification and a mirror, with members
// beyond the 32-bit range, and starting from the lowest corner of the
// range: still nothing drawn, and the extents do not visit the members one
// by one (that would take minutes).
TEST(Limits, HugeTransformedArrayOfNothingVisible) {
  const int64_t lo = INT32_MIN, hi = INT32_MAX;
  struct Case {
    const char* name;
    gdsw::Pts xy;
    Placement pl;
    int64_t cellSide;
  } cases[] = {
      {"rotated", {{0, 0}, {0, 327670}, {327670, 0}}, Placement{true, true, true, 2, true, 90}, 5},
      {"beyond_32_bits", {{lo, lo}, {hi, lo}, {lo, hi}}, Placement{}, hi},
      {"from_the_lowest_corner", {{lo, lo}, {hi, lo}, {lo, hi}}, Placement{}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Gds g;
    g.lib("ARR");
    g.bgnstr("CELL").rect(7, 0, 0, 0, c.cellSide, c.cellSide).endstr();
    g.bgnstr("TOP");
    g.aref("CELL", 32767, 32767, c.xy, c.pl);
    g.rect(1, 0, 0, 0, 1000, 1000);
    g.endstr().endlib();
    Fixture fx(std::string("huge_array_") + c.name + ".gds", g.bytes);
    auto r = fx.run({"-s", "TOP"});
    expectOrderly(r);
    ASSERT_EQ(r.status, 0) << r.err;
    expectComplete(fx.dir);
  }
}

// One structure referenced a million times.
TEST(Limits, MillionReferences) {
  constexpr int kRefs = 1000000;
  Gds g;
  g.lib("MANY");
  g.bgnstr("CELL").rect(1, 0, 0, 0, 50, 50).endstr();
  g.bgnstr("TOP");
  for (int i = 0; i < kRefs; ++i) g.sref("CELL", (i % 1000) * 100, (i / 1000) * 100);
  g.endstr().endlib();
  Fixture fx("million_refs.gds", g.bytes);
  auto r = fx.run({"-s", "TOP"});
  expectOrderly(r);
  ASSERT_EQ(r.status, 0) << r.err.substr(0, 500);
  expectComplete(fx.dir);
  EXPECT_EQ(countLines(r.outPath, "Fixed reference for SREF \"CELL\""), std::size_t{kRefs});
  EXPECT_NE(r.err.find("minx = 0, miny = 0, maxx = 99950, maxy = 99950\n"), std::string::npos);
  EXPECT_EQ(countLines(fx.dir.file("result.pov"), " object { CELL"), std::size_t{kRefs});
}

// Records of the greatest length the two length bytes allow, 65535.
TEST(Limits, LongestRecords) {
  constexpr std::size_t kData = 65535 - 4;
  std::string longName(kData, 'n');
  for (std::size_t i = 0; i < kData; ++i) longName[i] = static_cast<char>('a' + i % 26);
  gdsw::Pts ring, zigzag;
  for (int i = 0; i < 8190; ++i) {  // 8191 points with the closing one
    double a = 6.283185307179586 * i / 8190;
    ring.push_back({static_cast<int64_t>(100000 * std::cos(a)), static_cast<int64_t>(100000 * std::sin(a))});
    zigzag.push_back({i * 100, (i % 2) * 100});
  }
  ring.push_back(ring.front());
  zigzag.push_back({8190 * 100, 0});
  // Strings of odd length without the usual padding byte, so that every
  // record below is 65535 bytes long.
  Gds g;
  g.header().bgnlib().rec(gdsw::LIBNAME, longName).rec(gdsw::REFLIBS, std::string(kData, 'r')).units();
  g.bgnstr("LONG");
  g.rec(gdsw::STRNAME, longName);
  g.rec(gdsw::BOUNDARY).rec(gdsw::LAYER, gdsw::i2(1)).rec(gdsw::DATATYPE, gdsw::i2(0));
  g.rec(gdsw::XY, gdsw::xy(ring) + "xyz").rec(gdsw::ENDEL);  // 3 bytes beyond the last point
  g.path(2, 0, 0, 10, zigzag);
  g.rec(gdsw::TEXT).rec(gdsw::LAYER, gdsw::i2(1)).rec(gdsw::TEXTTYPE, gdsw::i2(0)).rec(gdsw::PRESENTATION, gdsw::i2(0));
  g.rec(gdsw::XY, gdsw::xy({{0, 0}})).rec(gdsw::STRING, std::string(kData, 't')).rec(gdsw::ENDEL);
  g.rec(60, std::string(kData, '\xff'));
  g.endstr();
  g.bgnstr("TOP");
  g.rec(gdsw::SREF).rec(gdsw::SNAME, longName).rec(gdsw::XY, gdsw::xy({{0, 0}})).rec(gdsw::ENDEL);
  g.endstr().endlib();
  Fixture fx("longest_records.gds", g.bytes);
  auto r = fx.run({"-s", "TOP"});
  expectOrderly(r);
  ASSERT_EQ(r.status, 0) << r.err.substr(0, 500);
  expectComplete(fx.dir);
  std::string out = qmtest::readFile(r.outPath);
  EXPECT_NE(out.find("libname = " + longName.substr(0, 1024) + "\n"), std::string::npos);
  EXPECT_NE(out.find("strname = " + longName.substr(0, 1024) + "\n"), std::string::npos);
  EXPECT_NE(out.find("point[8190] = 100000 0\n"), std::string::npos);
  EXPECT_NE(out.find("= \"" + std::string(1024, 't') + "\"\n"), std::string::npos);
  EXPECT_NE(out.find("Fixed reference for SREF \"" + longName.substr(0, 1024) + "\"\n"), std::string::npos);
  EXPECT_NE(r.err.find("Not yet handling REFLIBS!\n"), std::string::npos);
  EXPECT_NE(r.err.find("Unknown record type\n"), std::string::npos);

  // The same longest record cut short by the end of the file.
  Gds cut;
  cut.lib("CUT").bgnstr("A").rec(gdsw::XY, std::string(kData, '\0'));
  cut.bytes.resize(cut.bytes.size() - 1);
  Fixture fc("longest_record_cut.gds", cut.bytes);
  auto rc = fc.run({});
  expectOrderly(rc);
  EXPECT_EQ(rc.status, 1);
  EXPECT_EQ(rc.err, "Error in reading the GDS file. Aborting\n");
}

// Coordinates, spacings, widths and magnifications at and beyond the
// signed 32-bit limits: every drawing is written whole, except for an
// array of magnification 0, whose lattice cannot be found (its transform
// has no inverse): that is refused with a message and status 1.
TEST(Limits, CoordinatesAtTheLimits) {
  const int64_t lo = INT32_MIN, hi = INT32_MAX;
  Placement big{true, false, true, 1e10, false, 0};
  Placement flat{true, false, true, 0, false, 0};
  Placement spun{true, true, true, 1e70, true, 1e70};
  struct Case {
    const char* name;
    Gds top;  // the structure TOP, beside LEAF (unit squares on layers 1 and 2) and OFF
    std::string error;  // the message of a refused library; empty: status 0
  };
  std::vector<Case> cases;
  auto add = [&](const char* name, auto fill, const std::string& error = {}) {
    Gds g;
    g.bgnstr("TOP");
    fill(g);
    g.endstr();
    cases.push_back({name, g, error});
  };
  add("full_range_rectangle", [&](Gds& g) { g.rect(1, 0, lo, lo, hi, hi); });
  add("full_range_triangle", [&](Gds& g) { g.boundary(2, 0, {{lo, lo}, {hi, lo}, {0, hi}, {lo, lo}}); });
  add("widest_wire", [&](Gds& g) {
    g.path(1, 0, 2, INT32_MAX, {{lo, 0}, {hi, 0}});
    g.path(2, 0, 0, INT32_MIN, {{0, lo}, {0, hi}, {hi, hi}});
  });
  add("reference_at_the_corner", [&](Gds& g) {
    g.sref("LEAF", hi, hi);
    g.sref("LEAF", lo, lo, Placement{true, true, false, 1, true, 180});
  });
  add("magnified_reference", [&](Gds& g) { g.sref("LEAF", hi, lo, big); });
  add("flattened_reference", [&](Gds& g) { g.sref("LEAF", 0, 0, flat); });
  add("spun_reference", [&](Gds& g) { g.sref("LEAF", 5, 5, spun); });
  add("array_across_the_range", [&](Gds& g) { g.aref("LEAF", 2, 2, {{lo, lo}, {hi, lo}, {lo, hi}}); });
  add("array_of_widest_spacing", [&](Gds& g) { g.aref("LEAF", 2, 2, {{lo, lo}, {0, lo}, {lo, 0}}); });
  add("array_of_most_columns", [&](Gds& g) { g.aref("OFF", 32767, 2, {{lo, lo}, {hi, lo}, {lo, hi}}); });
  add("array_of_negative_counts", [&](Gds& g) { g.aref("LEAF", -32768, -1, {{hi, hi}, {hi, hi}, {hi, hi}}); });
  add("flattened_array", [&](Gds& g) { g.aref("LEAF", 2, 2, {{0, 0}, {10, 0}, {0, 10}}, flat); },
      "Error in GDSinvtransfPoint(): matrix cannot be inverted\n");
  add("magnified_array", [&](Gds& g) { g.aref("LEAF", 3, 3, {{0, 0}, {30, 0}, {0, 30}}, big); });
  add("text_at_the_corner", [&](Gds& g) {
    g.text(1, 0, "corner", lo, hi, 0x0a, spun);
    g.text(2, 0, "far", hi, lo, 0, big);
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Gds g;
    g.lib("LIMITS");
    g.bgnstr("LEAF").rect(1, 0, 0, 0, 1, 1).rect(2, 0, -1, -1, 0, 0).endstr();
    g.bgnstr("OFF").rect(7, 0, 0, 0, 1, 1).endstr();  // on a hidden layer only
    g.raw(c.top.bytes).endlib();
    Fixture fx(std::string("limits_") + c.name + ".gds", g.bytes);
    auto r = fx.run({"-s", "TOP"});
    expectOrderly(r);
    if (c.error.empty()) {
      EXPECT_EQ(r.status, 0) << r.err.substr(0, 500);
      expectComplete(fx.dir);
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_TRUE(endsWith(r.err, c.error)) << r.err.substr(0, 500);
      EXPECT_FALSE(fx.dir.exists("result.ps"));
    }
  }
}

// Names of 1024 bytes holding every byte value but NUL (which ends a
// name), in structures, references and texts; a longer name is cut to
// 1024 bytes, so it binds like its first 1024 bytes.
TEST(Limits, NamesOfEveryByte) {
  std::string name;
  for (int i = 0; name.size() < 1024; ++i) name.push_back(static_cast<char>(1 + i % 255));
  std::string top(name.rbegin(), name.rend());
  std::string longer = name + "beyond the cut";
  Gds g;
  g.lib(name);
  g.bgnstr(longer).rect(1, 0, 0, 0, 10, 10).path(2, 0, 2, 4, {{0, 0}, {0, 20}}).endstr();
  g.bgnstr(top);
  g.sref(longer, 0, 0);
  g.aref(name.substr(0, 1000), 2, 2, {{0, 0}, {40, 0}, {0, 40}});
  g.text(1, 0, name, 5, 5);
  g.endstr().endlib();
  Fixture fx("names_every_byte.gds", g.bytes);
  auto r = fx.run({"-s", top});
  expectOrderly(r);
  ASSERT_EQ(r.status, 0) << r.err.substr(0, 500);
  expectComplete(fx.dir);
  std::string out = qmtest::readFile(r.outPath);
  EXPECT_NE(out.find("libname = " + name + "\n"), std::string::npos);
  EXPECT_NE(out.find("strname = " + name + "\n"), std::string::npos);
  EXPECT_NE(out.find("strname = " + top + "\n"), std::string::npos);
  EXPECT_NE(out.find("Fixed reference for SREF \"" + name + "\"\n"), std::string::npos);
  EXPECT_NE(out.find(" = \"" + name + "\"\n"), std::string::npos);
  // The 1000-byte prefix names no structure: not bound, drawn as nothing.
  EXPECT_EQ(out.find("Fixed reference for AREF"), std::string::npos);
  std::string listing = fx.dir.read("result.txt");
  EXPECT_NE(listing.find("Read a struct named " + name + " which contains"), std::string::npos);
  EXPECT_NE(listing.find("SREF(" + name + "), "), std::string::npos);
  // In the scene's header comment control bytes are escaped, so that the
  // comment ends where it should.
  std::string inComment;
  for (unsigned char c : top) {
    if (c < 32 || c == 127) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      inComment += buf;
    } else {
      inComment += static_cast<char>(c);
    }
  }
  EXPECT_NE(fx.dir.read("result.pov").find("// Top level cell is " + inComment + " (or "), std::string::npos);
}

// The configuration is read in pieces of 1023 characters: a long line is
// several lines, and a piece may begin inside a word.
TEST(Limits, LongConfigurationLines) {
  Gds g;
  g.lib("CFG").bgnstr("TOP").rect(1, 0, 0, 0, 10, 10).endstr().endlib();
  const std::string xs(100000, 'x');
  std::string repeated;
  while (repeated.size() < 100000) repeated += "red 1 ";
  struct Case {
    const char* name;
    std::string config;
    int status;
    std::string stdoutHas;  // empty: nothing checked
  } cases[] = {
      // The name takes the rest of the first piece; the other pieces start
      // with x, which is no keyword initial, and are only echoed.
      {"long_name", "newlayer name " + xs + " gdsno 1 hidden no endlayer\n", 0,
       "layername = " + std::string(1023 - 14, 'x') + ", gdsno = 1,"},
      {"long_comment", "#" + xs + "\nnewlayer gdsno 1 hidden no endlayer\n", 0, "layername = Layer1, gdsno = 1,"},
      {"long_blanks", std::string(100000, ' ') + "newlayer gdsno 1 hidden no endlayer\n", 0,
       "layername = Layer1, gdsno = 1,"},
      // A piece that begins inside "red" ends the run with a syntax error.
      {"repeated_keywords", repeated + "\n", 1, ""},
      {"no_newline_at_all", "newlayer gdsno 1 hidden no " + std::string(100000, '\t') + "endlayer", 0,
       "layername = Layer1, gdsno = 1,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture fx("long_config.gds", g.bytes, c.config);
    auto r = fx.run({"-s", "TOP"});
    expectOrderly(r);
    EXPECT_EQ(r.status, c.status) << r.err.substr(0, 300);
    if (!c.stdoutHas.empty()) {
      EXPECT_NE(qmtest::readFile(r.outPath).find(c.stdoutHas), std::string::npos);
    }
    if (c.status == 0) {
      expectComplete(fx.dir);
    }
  }
}

TEST(Limits, EmptyAndHeaderOnlyFiles) {
  Gds header;
  header.header();
  struct Case {
    const char* name;
    std::string bytes;
    std::string err;
  } cases[] = {
      {"empty", "", "HEADER is missing. Aborting\n"},
      {"header_only", header.bytes, "Missing ENDLIB field. Abort!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool pipe : {false, true}) {
      qmtest::TempDir d;
      d.write(".layers.config", kConfig);
      auto r = qmtest::quillmask({"-s", "TOP"}, d.path(), c.bytes, pipe);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, c.err);
      EXPECT_EQ(r.out, "");
      EXPECT_TRUE(d.exists("result.txt"));
      EXPECT_EQ(d.read("result.txt"), "");
      EXPECT_FALSE(d.exists("result.ps"));
    }
  }
}

qmtest::RunResult layergen(const std::string& input) {
  qmtest::TempDir d;
  return qmtest::run(QM_LAYERGEN, {}, d.path(), input);
}

TEST(Limits, LayergenHostileInput) {
  // A word of 20 MB is a name like any other.
  std::string huge(20 << 20, 'w');
  auto r = layergen(huge + " t 5 0\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(" name " + huge + "\n"), std::string::npos);

  // A NUL byte ends the name as it is written.
  r = layergen(std::string("ab\0cd t 6 0\n", 12));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(" name ab\n"), std::string::npos);

  // A million records, half of them repeating a number.
  std::string many;
  for (int i = 0; i < 1000000; ++i) many += "L t " + std::to_string(i / 2) + " 0\n";
  r = layergen(many);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find(" gdsno 499999\n"), std::string::npos);

  // Numbers beyond int, white space only, junk.
  for (const std::string& bad : {std::string("L t 99999999999999999999 0\n"), std::string("L t 1 -2147483649\n"),
                                 std::string(5 << 20, ' '), std::string("L t 0x10 0\n")}) {
    r = layergen(bad);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: incomplete read.");
  }
  // Random bytes: the first record already lacks a number where one
  // belongs, so nothing is written.
  std::mt19937 rng(12345);
  for (int k = 0; k < 20; ++k) {
    std::string junk(1 + rng() % 100000, '\0');
    for (char& ch : junk) ch = static_cast<char>(rng());
    r = layergen(junk);
    EXPECT_EQ(r.status, 1) << k;
    EXPECT_EQ(r.err, "ERROR: incomplete read.") << k;
    EXPECT_EQ(r.out, "") << k;
  }
}

// A drawing that cannot be written whole (here: the device is full) is
// reported, and the run ends with status 1.
TEST(Limits, WriteErrorsAreReported) {
  Gds g;
  g.lib("FULL").bgnstr("TOP").rect(1, 0, 0, 0, 100, 100).endstr().endlib();
  const char* opts[] = {"-p", "-v", "-H"};
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(opts[k]);
    Fixture fx("full_device.gds", g.bytes);
    auto r = fx.run({"-s", "TOP", opts[k], "/dev/full"});
    expectOrderly(r);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("/dev/full"), std::string::npos) << r.err;
    // The writers before it finished their files; those after it never ran.
    EXPECT_EQ(k > 0, endsWith(fx.dir.read("result.ps"), "showpage\n"));
    EXPECT_EQ(k > 1, endsWith(fx.dir.read("result.pov"), "// end of povray file\n"));
    EXPECT_EQ(k == 2, fx.dir.exists("result.pov"));  // with -v the scene goes to the device
    EXPECT_FALSE(fx.dir.exists("result.plt"));
  }
}

// Standard descriptors closed by the caller: the files the program opens
// must not take their place and receive the echo or the messages.
TEST(Limits, ClosedStandardDescriptors) {
  Gds g;
  g.lib("CLOSED");
  g.bgnstr("CELL").rect(1, 0, 0, 0, 50, 50).endstr();
  g.bgnstr("TOP");
  // More than a buffer of echo and of warnings while the listing is open.
  for (int i = 0; i < 40000; ++i) g.sref("CELL", i, 0).rec(60);
  g.endstr().endlib();
  Fixture fx("closed_descriptors.gds", g.bytes);
  for (std::vector<int> closed : {std::vector<int>{1}, std::vector<int>{2}, std::vector<int>{1, 2}}) {
    SCOPED_TRACE(closed.size() == 2 ? "both" : closed[0] == 1 ? "standard output" : "standard error");
    // Input from standard input, so that the listing is the first file opened.
    auto r = qmtest::runTimed(QM_BIN, {"-s", "TOP"}, fx.dir.path(), kDeadline, {}, fx.dir.file("in.gds"), true,
                              closed);
    EXPECT_FALSE(r.signaled);
    EXPECT_EQ(r.status, 0);
    std::string listing = fx.dir.read("result.txt");
    EXPECT_EQ(listing.rfind("Read a struct named CELL which contains the layers:\n", 0), 0u);
    EXPECT_EQ(listing.find("Sref at"), std::string::npos);
    EXPECT_EQ(listing.find("Unknown record type"), std::string::npos);
    expectComplete(fx.dir);
    for (const char* f : {"result.ps", "result.pov", "result.plt"}) {
      std::string text = fx.dir.read(f);
      EXPECT_EQ(text.find("\"CELL\"\n"), std::string::npos) << f;
      EXPECT_EQ(text.find("scalex = "), std::string::npos) << f;
    }
  }
}

// A run that a writer stops keeps what was written before: the files of
// the writers before it are whole, its own file holds what it wrote so
// far, and the files of the writers after it are not touched.
TEST(Limits, FilesLeftByAStoppedRun) {
  // BAD holds a wire that turns back on itself. It is reached only through
  // an array without members: the page and the plot draw nothing of it,
  // the scene declares it and stops there.
  Gds g;
  g.lib("STOP");
  g.bgnstr("BAD").path(1, 0, 0, 10, {{0, 0}, {100, 0}, {0, 0}}).endstr();
  g.bgnstr("TOP");
  g.rect(1, 0, 0, 0, 100, 100);
  g.aref("BAD", -1, 1, {{0, 0}, {0, 0}, {0, 10}});
  g.endstr().endlib();
  const std::string kReversal = "Internal algorithm error: cos((alpha - beta)/2) = 0\n";
  {
    Fixture fx("stop_in_scene.gds", g.bytes);
    auto r = fx.run({"-s", "TOP"});
    expectOrderly(r);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(endsWith(r.err, kReversal)) << r.err;
    EXPECT_TRUE(endsWith(fx.dir.read("result.ps"), "showpage\n"));
    std::string scene = fx.dir.read("result.pov");
    EXPECT_EQ(scene.rfind("// POVRAY file generated from quillmask-0.3.1\n", 0), 0u);
    EXPECT_EQ(scene.find("// end of povray file"), std::string::npos);
    EXPECT_FALSE(fx.dir.exists("result.plt"));
  }
  {
    // An older plot stays as it was.
    Fixture fx("stop_in_scene.gds", g.bytes);
    fx.dir.write("result.plt", "an older plot\n");
    auto r = fx.run({"-s", "TOP"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(fx.dir.read("result.plt"), "an older plot\n");
  }
  {
    // The plot cannot be opened: page and scene are whole.
    Gds ok;
    ok.lib("OK").bgnstr("TOP").rect(1, 0, 0, 0, 100, 100).endstr().endlib();
    Fixture fx("plot_not_writable.gds", ok.bytes);
    auto r = fx.run({"-s", "TOP", "-H", "no/such/folder/x.plt"});
    expectOrderly(r);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(endsWith(r.err, "Couldn't open no/such/folder/x.plt for writing. Aborting...\n")) << r.err;
    EXPECT_TRUE(endsWith(fx.dir.read("result.ps"), "showpage\n"));
    EXPECT_TRUE(endsWith(fx.dir.read("result.pov"), "// end of povray file\n"));
  }
  {
    // A level hatch stops the page inside its prologue: the page is cut
    // short, the scene and the plot are not touched.
    Gds ok;
    ok.lib("OK").bgnstr("TOP").rect(2, 0, 0, 0, 100, 100).endstr().endlib();
    Fixture fx("level_hatch.gds", ok.bytes,
               "newlayer name M1 gdsno 1 hidden no endlayer\n"
               "newlayer name flat gdsno 2 hidden no hatch single angle 180 endlayer\n");
    fx.dir.write("result.pov", "an older scene\n");
    auto r = fx.run({"-s", "TOP"});
    expectOrderly(r);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(endsWith(r.err, "Please check layer \"flat\" configuration. Exiting.\n")) << r.err;
    std::string page = fx.dir.read("result.ps");
    EXPECT_FALSE(page.empty());
    EXPECT_EQ(page.find("%%End of prologue"), std::string::npos);
    EXPECT_EQ(page.find("showpage"), std::string::npos);
    EXPECT_EQ(fx.dir.read("result.pov"), "an older scene\n");
    EXPECT_FALSE(fx.dir.exists("result.plt"));
  }
}

}  // namespace
