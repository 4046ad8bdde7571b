// Compressed libraries: recognised by their first bytes, from a named file,
// redirected standard input or a pipe, and read exactly as the plain
// library; a damaged stream is a read error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gdsw.h"
#include "runner.h"

using namespace gdsw;
using qmtest::TempDir;

namespace {

const char* kConfig =
    "newlayer\n name M1 gdsno 1 hidden no fill yes red 0.1 green 0.1 blue 0.9 depth 1 thickness 0.3\nendlayer\n"
    "newlayer\n name M2 gdsno 2 hidden no hatch single angle 30 step 50 depth 2 thickness 0.4\nendlayer\n"
    "newlayer\n name T5 gdsno 5 hidden no hatch cross angle 45 step 20 depth 3 thickness 1\nendlayer\n";

enum class Via { File, Stdin, Pipe };

struct Outcome {
  int status = -1;
  std::string out, err, listing, ps, pov, plt;
};

std::string fileOrNone(const TempDir& d, const char* name) { return d.exists(name) ? d.read(name) : "<none>"; }

Outcome runOn(const std::string& input, Via via, const std::vector<std::string>& extra) {
  TempDir d;
  d.write("c.cfg", kConfig);
  std::vector<std::string> args;
  if (via == Via::File) {
    d.write("in", input);
    args = {"-i", "in"};
  }
  args.insert(args.end(), extra.begin(), extra.end());
  auto r = qmtest::run(QM_BIN, args, d.path(), via == Via::File ? "" : input, via == Via::Pipe);
  return {r.status, r.out, r.err, fileOrNone(d, "result.txt"), fileOrNone(d, "result.ps"),
          fileOrNone(d, "result.pov"), fileOrNone(d, "result.plt")};
}

void expectSame(const Outcome& a, const Outcome& b, const std::string& what) {
  EXPECT_EQ(a.status, b.status) << what;
  EXPECT_EQ(a.out, b.out) << what;
  EXPECT_EQ(a.err, b.err) << what;
  EXPECT_EQ(a.listing, b.listing) << what;
  EXPECT_EQ(a.ps, b.ps) << what;
  EXPECT_EQ(a.pov, b.pov) << what;
  EXPECT_EQ(a.plt, b.plt) << what;
}

std::string everyKind() {
  Gds g;
  g.header().bgnlib({98, 1, 15, 9, 5, 7, 99, 12, 31, 23, 59, 58}).libname("DEMO").units(0.001, 1e-9);
  g.bgnstr("LEAF")
      .boundary(1, 0, {{0, 0}, {0, 1000}, {2000, 1000}, {2000, 0}, {0, 0}})
      .path(2, 0, 0, 200, {{0, 0}, {10000, 0}, {10000, 5000}})
      .boundary(1, 0, {{0, 0}, {500, 500}, {1000, 0}, {0, 0}})
      .endstr();
  g.bgnstr("TOP")
      .sref("LEAF", 100, -200)
      .aref("LEAF", 2, 3, {{0, 0}, {40000, 0}, {0, 30000}})
      .text(5, 3, "ABC", 7, 8, 0x15)
      .sref("LATER", 1, 2, {true, true, true, 2.0, true, 90.0})
      .endstr();
  g.bgnstr("LATER").rect(2, 0, 0, 0, 3000, 3000).endstr();
  g.endlib();
  return g.bytes;
}

// Many structures and elements: the decompressed stream spans many blocks
// and records straddle their edges.
std::string large() {
  Gds g;
  g.lib("BIG");
  for (int s = 0; s < 40; ++s) {
    g.bgnstr("CELL" + std::to_string(s));
    for (int e = 0; e < 1500; ++e) {
      int x = (e * 7919 + s * 104729) % 100000;
      if (e % 3 == 0)
        g.path(1 + e % 2, 0, 0, 40, {{x, e}, {x + 300, e}, {x + 300, e + 400}});
      else
        g.rect(1 + e % 2, 0, x, e, x + 250, e + 130);
    }
    g.endstr();
  }
  g.bgnstr("TOP");
  for (int s = 0; s < 40; ++s) g.sref("CELL" + std::to_string(s), s * 1000, 0);
  g.endstr().endlib();
  return g.bytes;
}

struct Fixture {
  const char* what;
  std::string lib;
  std::vector<std::string> args;
};

std::vector<Fixture> fixtures() {
  auto lib = [] { return Gds().lib(); };
  return {
      {"every element kind, drawn", everyKind(), {"-s", "TOP", "-c", "c.cfg"}},
      {"listing only", everyKind(), {}},
      {"no structures", lib().endlib().bytes, {}},
      {"early end at a NODE", lib().bgnstr("A").endstr().bgnstr("B").rec(NODE).endstr().endlib().bytes, {}},
      {"missing ENDLIB after a structure", lib().bgnstr("A").endstr().rec(LAYER, i2(1)).bytes, {}},
      {"cut inside a record", Gds().header().bytes + std::string("\x00\x08\x02\x06" "AB", 6), {}},
      {"bytes after ENDLIB", lib().bgnstr("A").rect(1, 0, 0, 0, 5, 5).endstr().endlib().bytes + "\x01\x02junk", {}},
      {"tolerant with put-back records",
       lib().bgnstr("A")
           .rec(TEXT).rec(LAYER, i2(5)).rec(TEXTTYPE, i2(0)).rec(WIDTH, i4(10)).rec(XY, i4(1) + i4(2))
           .rec(STRING, "T").rec(PROPATTR, i2(1)).rec(PROPVALUE, "v").rec(ENDEL)
           .endstr().endlib().bytes,
       {"-t"}},
      {"large, drawn", large(), {"-s", "TOP", "-c", "c.cfg"}},
  };
}

TEST(Compressed, ReadExactlyAsThePlainLibrary) {
  for (const auto& f : fixtures()) {
    SCOPED_TRACE(f.what);
    Outcome plain = runOn(f.lib, Via::File, f.args);
    std::string gz = qmtest::gzip(f.lib);
    // Members cut at odd places, inside records and inside the header.
    std::vector<std::size_t> cuts;
    for (std::size_t at : {std::size_t{1}, std::size_t{7}, f.lib.size() / 3 + 1, f.lib.size() / 2 + 3})
      if (at < f.lib.size() && (cuts.empty() || at > cuts.back())) cuts.push_back(at);
    std::string members = qmtest::gzip(f.lib, cuts);
    std::string padded = gz + std::string(2048, '\0');  // blocked to a tape-like size
    expectSame(plain, runOn(gz, Via::File, f.args), "file");
    expectSame(plain, runOn(gz, Via::Stdin, f.args), "redirected standard input");
    expectSame(plain, runOn(gz, Via::Pipe, f.args), "pipe");
    expectSame(plain, runOn(members, Via::Pipe, f.args), "several members, pipe");
    expectSame(plain, runOn(members, Via::File, f.args), "several members, file");
    expectSame(plain, runOn(padded, Via::File, f.args), "zero padding after the stream");
  }
}

TEST(Compressed, DamagedStreamsAreReadErrors) {
  const std::string lib = everyKind();
  const Outcome plain = runOn(lib, Via::File, {});
  const std::string gz = qmtest::gzip(lib);
  ASSERT_GT(gz.size(), 40u);
  std::string badCheck = gz;
  badCheck[gz.size() - 6] = static_cast<char>(badCheck[gz.size() - 6] ^ 0x5a);  // the CRC-32 of the data
  std::string badLength = gz;
  badLength[gz.size() - 2] = static_cast<char>(badLength[gz.size() - 2] ^ 1);  // the length of the data
  struct Case {
    const char* what;
    std::string input;
  } cases[] = {
      {"magic bytes only", gz.substr(0, 2)},
      {"cut in the header", gz.substr(0, 6)},
      {"cut in the data", gz.substr(0, gz.size() / 2)},
      {"trailer missing", gz.substr(0, gz.size() - 8)},
      {"last byte missing", gz.substr(0, gz.size() - 1)},
      {"wrong check value", badCheck},
      {"wrong length", badLength},
      {"garbage after the stream", gz + "GDS"},
      {"second member cut", gz + gz.substr(0, 12)},
      {"magic bytes, then no stream", std::string("\x1f\x8b", 2) + lib},
  };
  for (const auto& c : cases) {
    for (Via via : {Via::File, Via::Pipe}) {
      SCOPED_TRACE(std::string(c.what) + (via == Via::Pipe ? ", pipe" : ", file"));
      Outcome r = runOn(c.input, via, {});
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "Error in reading the GDS file. Aborting\n");
      // Whatever was echoed is what the plain library echoes first.
      EXPECT_EQ(plain.out.substr(0, r.out.size()), r.out);
    }
  }
}

// A plain library is never taken for a compressed one: its first record is
// a HEADER, and a record of 0x1f8b bytes is not.
TEST(Compressed, OnlyTheMagicBytesStartAStream) {
  // A whole first record of 0x1f8a bytes that is not a HEADER.
  Outcome r = runOn(std::string("\x1f\x8a\x02\x06", 4) + std::string(0x1f8a - 4, 'A') + everyKind(), Via::File, {});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "HEADER is missing. Aborting\n");
  r = runOn(std::string(1, '\x1f'), Via::Pipe, {});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error in reading the GDS file. Aborting\n");
  // An empty compressed stream holds an empty library.
  r = runOn(qmtest::gzip(""), Via::Pipe, {});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "HEADER is missing. Aborting\n");
}

}  // namespace
