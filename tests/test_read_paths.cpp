// The fast way of reading (the echo formatted on a second thread, memory
// sized from the input's length) against the plain one: the same bytes on
// standard output, standard error and in the listing, the same failure
// message and status, for a regular file, a pipe and a compressed input,
// whole and broken off at any place.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/out.h"
#include "gds/reader.h"
#include "gdsw.h"
#include "runner.h"

using namespace gdsw;
using qmtest::TempDir;

namespace {

enum class Input { File, Pipe, Compressed };

struct Outcome {
  int status = 0;
  std::string out, err, listing;
};

// Reads `bytes` as the program does, the failure message written where the
// program writes it.
Outcome read(const std::string& bytes, Input how, bool plain, bool tolerant = false,
             std::unique_ptr<qm::GDSlibrary>* keep = nullptr) {
  TempDir d;
  int fd = -1;
  int writeEnd = -1;
  if (how == Input::Pipe) {
    int p[2];
    EXPECT_EQ(::pipe(p), 0);
    fd = p[0];
    writeEnd = p[1];
  } else {
    d.write("in.gds", how == Input::Compressed ? qmtest::gzip(bytes, {bytes.size() / 2}) : bytes);
    fd = ::open(d.file("in.gds").c_str(), O_RDONLY);
  }
  // The pipe is fed as the reader takes it, in pieces of the pipe's size.
  std::thread feeder;
  if (writeEnd >= 0)
    feeder = std::thread([&] {
      std::size_t at = 0;
      while (at < bytes.size()) {
        ssize_t w = ::write(writeEnd, bytes.data() + at, bytes.size() - at);
        if (w <= 0) break;
        at += static_cast<std::size_t>(w);
      }
      ::close(writeEnd);
    });
  Outcome o;
  qm::Out listing{qm::Out::Memory{}};
  {
    qm::CaptureStd cap;
    try {
      qm::ReadOptions opt;
      opt.plain = plain;
      opt.tolerant = tolerant;
      auto lib = qm::GDSreadLibrary(cap.console(), fd, listing, opt);
      EXPECT_NE(lib, nullptr);
      if (keep) *keep = std::move(lib);
    } catch (const qm::Failure& f) {
      (f.onStdout ? cap.console().out : cap.console().err).put(f.message);
      o.status = f.status;
    }
    o.out = cap.out();
    o.err = cap.err();
  }
  o.listing = listing.str();
  if (feeder.joinable()) {
    // A failed read leaves bytes in the pipe: take them so the feeder ends.
    char sink[65536];
    while (::read(fd, sink, sizeof sink) > 0) {
    }
    feeder.join();
  }
  ::close(fd);
  return o;
}

// Elements of every kind, with warnings among them, `n` times over in one
// structure, then a structure placing it.
std::string mixed(int n) {
  Gds g;
  g.lib("PATHS");
  g.rec(REFLIBS, std::string(44, 'a'), 6);
  g.bgnstr("LEAF").rect(1, 0, 0, 0, 10, 10).endstr();
  g.bgnstr("MIX");
  for (int i = 0; i < n; ++i) {
    g.rect(1 + i % 5, i % 3, i, -i, i + 600, i + 400);
    g.boundary(2, 1, {{0, 0}, {i, 7}, {-i, 900000}, {0, 0}});
    g.path(3, 0, i % 10 == 0 ? 1 : 2, 40 + i, {{i, i}, {i + 5, i}, {i + 5, i + 5}});
    g.sref(i % 2 ? "LEAF" : "MISSING", i * 3, -i * 7, i % 4 ? Placement{true, i % 3 == 0, true, 1.5, true, 90.0 * (i % 4)} : Placement{});
    g.aref("LEAF", 1 + i % 4, 2, {{i, 0}, {i + 4000, 0}, {i, 6000}});
    g.text(4, 1, "label" + std::to_string(i), i, i, i % 100 == 0 ? 0xffff : 0x15);
    if (i % 250 == 0) g.rec(60, "xx");  // an unknown record: a warning on standard error
    if (i % 500 == 0) g.path(3, 0, 7, 10, {{0, 0}, {1, 1}});  // an unknown path type
  }
  g.endstr();
  g.bgnstr("TOP").sref("MIX", 0, 0).aref("MIX", 2, 2, {{0, 0}, {2000, 0}, {0, 2000}}).endstr();
  g.endlib();
  return g.bytes;
}

// Many references in one structure: more than a megabyte of them, so that
// they go straight to the structure's vector, and an input long enough for
// the storage to be sized from it and filled ahead.
std::string manyRefs() {
  Gds g;
  g.lib("REFS");
  g.bgnstr("LEAF").rect(1, 0, 0, 0, 10, 10).endstr();
  g.bgnstr("TOP");
  for (int i = 0; i < 160000; ++i) g.sref("LEAF", i, i % 1000);
  for (int i = 0; i < 2000; ++i) g.rect(2, 0, i, 0, i + 5, 5);
  g.endstr().endlib();
  return g.bytes;
}

// Many rectangles: the flat case, longer than the size from which the
// point storage is sized ahead.
std::string manyRects() {
  Gds g;
  g.lib("FLAT").bgnstr("TOP");
  for (int i = 0; i < 70000; ++i) g.rect(1 + i % 8, 0, (i % 2000) * 1000, (i / 2000) * 1000, i % 2000 * 1000 + 600, 400);
  g.endstr().endlib();
  return g.bytes;
}

// Blocks of references (an echo formatted on the spot) and blocks of
// rectangles (formatted on the second thread), in turn: the echo changes
// hands several times.
std::string alternating() {
  Gds g;
  g.lib("TURNS");
  g.bgnstr("LEAF").rect(1, 0, 0, 0, 10, 10).endstr();
  g.bgnstr("TOP");
  for (int block = 0; block < 5; ++block)
    for (int i = 0; i < 20000; ++i) {
      if (block % 2 == 0) g.sref("LEAF", i, block);
      else g.rect(1 + i % 3, 0, i, block, i + 5, block + 5);
    }
  g.endstr().endlib();
  return g.bytes;
}

// Many small structures, with boxes among their boundaries (tolerant
// reading), long enough for the storage to be sized ahead: the elements of
// each structure are gathered, then stored at their exact size.
std::string manySmall() {
  auto name = [](int k) {
    char b[16];
    std::snprintf(b, sizeof b, "S%d", k);
    return std::string(b);
  };
  Gds g;
  g.lib("SMALL");
  for (int s = 0; s < 2500; ++s) {
    g.bgnstr(name(s));
    for (int i = 0; i < 40; ++i) {
      g.sref(name((s + i) % 2500 / 2 * 2 + 1), i * 10, -s);
      if (i % 4 == 0) g.rect(1 + i % 3, s % 2, i, s, i + 9, s + 9);
      if (i % 13 == 0) g.rec(BOX).rec(LAYER, i2(5), 2).rec(BOXTYPE, i2(i), 2)
                           .rec(XY, xy({{0, 0}, {0, i}, {i, i}, {i, 0}, {0, 0}}), 3).rec(ENDEL);
      if (i % 20 == 0) g.path(2, 0, 2, 10 + i, {{0, 0}, {i, s}});
      if (i % 39 == 0) g.text(3, 1, name(s), s, i);
      if (i % 17 == 0) g.aref(name(s % 7), 2, 3, {{0, 0}, {200, 0}, {0, 300}});
    }
    g.endstr();
  }
  g.endlib();
  return g.bytes;
}

// Everything the model holds, transforms to the bit.
std::string dump(const qm::GDSlibrary& lib) {
  std::string o;
  char b[400];
  auto pts = [&](const qm::GDSpoint* p, int32_t n) {
    for (int32_t k = 0; k < n; ++k) o += std::to_string(p[k].x) + "," + std::to_string(p[k].y) + " ";
  };
  auto tf = [&](const qm::GDStransf& t) {
    std::snprintf(b, sizeof b, "[%a %a %a %a %a %a]", t.a, t.b, t.tx, t.c, t.d, t.ty);
    o += b;
  };
  o += lib.libname + "|" + lib.lastmod + "|" + lib.lastacc + "\n";
  for (const auto& n : lib.names) o += "name " + n + "\n";
  for (const auto& s : lib.structs) {
    o += "struct " + s.strname + "\n";
    for (const auto& l : s.layers) o += "layer " + std::to_string(l.layer) + "/" + std::to_string(l.datatype) + "\n";
    for (const auto& c : s.cells) {
      std::snprintf(b, sizeof b, "cell %d %u: ", c.kind, c.idx);
      o += b;
      if (c.kind == qm::KIND_BOUNDARY) {
        const auto& e = s.boundary(c);
        o += std::to_string(e.layer) + "/" + std::to_string(e.datatype) + " ";
        pts(e.points, e.npoints);
      } else if (c.kind == qm::KIND_PATH) {
        const auto& e = s.path(c);
        std::snprintf(b, sizeof b, "%d/%d t%d w%d e%d %d %d ", e.layer, e.datatype, e.pathtype, e.width,
                      e.hasExtensions, e.bgnextn, e.endextn);
        o += b;
        pts(e.points, e.npoints);
      } else if (c.kind == qm::KIND_SREF) {
        const auto& e = s.sref(c);
        o += std::to_string(e.structptr) + " " + std::to_string(e.sname);
        tf(e.transf);
      } else if (c.kind == qm::KIND_AREF) {
        const auto& e = s.aref(c);
        std::snprintf(b, sizeof b, "%d %d %dx%d %d/%d", e.structptr, e.sname, e.cols, e.rows, e.colspace, e.rowspace);
        o += b;
        tf(e.transf);
      } else if (c.kind == qm::KIND_TEXT) {
        const auto& e = s.text(c);
        std::snprintf(b, sizeof b, "%d/%d %d %d %d %a ", e.layer, e.datatype, e.hjust, e.vjust, e.font, e.mag);
        o += b + e.string;
        tf(e.transf);
      }
      o += "\n";
    }
  }
  return o;
}

void expectSame(const Outcome& fast, const Outcome& plain, const std::string& what) {
  EXPECT_EQ(fast.status, plain.status) << what;
  EXPECT_TRUE(fast.out == plain.out) << what << ": standard output differs (" << fast.out.size() << " against "
                                     << plain.out.size() << " bytes)";
  EXPECT_EQ(fast.err, plain.err) << what;
  EXPECT_TRUE(fast.listing == plain.listing) << what << ": listing differs";
}

// Every input kind, fast against plain; the plain reads of the file and of
// the pipe agree too.
void compareAll(const std::string& bytes, const std::string& what, bool tolerant = false) {
  Outcome plainFile = read(bytes, Input::File, true, tolerant);
  expectSame(read(bytes, Input::File, false, tolerant), plainFile, what + ", file");
  expectSame(read(bytes, Input::Pipe, false, tolerant), plainFile, what + ", pipe");
  expectSame(read(bytes, Input::Pipe, true, tolerant), plainFile, what + ", plain pipe");
  Outcome plainGz = read(bytes, Input::Compressed, true, tolerant);
  expectSame(read(bytes, Input::Compressed, false, tolerant), plainGz, what + ", compressed");
}

TEST(ReadPaths, WholeLibrariesReadAlike) {
  const std::string small = mixed(3), large = mixed(6000);
  compareAll(small, "small");
  compareAll(large, "large");
  compareAll(large, "large, tolerant", true);
  compareAll(manyRefs(), "many references");
  compareAll(manyRects(), "many rectangles");
  compareAll(alternating(), "references and rectangles in turn");
  // The plain read shows what is compared: an echo with warnings among it.
  Outcome o = read(large, Input::File, true);
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.err.find("Unknown record type\n"), std::string::npos);
  EXPECT_NE(o.err.find("Unknown pathtype 7. Used butt end instead\n"), std::string::npos);
  EXPECT_NE(o.out.find("Sref at 3,-7, angle = 9.00e+01, mag = 1.50e+00, mirror = 0 of cell named \"LEAF\"\n"),
            std::string::npos);
}

// The model itself, read the fast way from a file (storage sized ahead,
// pages filled on another thread) and from a pipe (storage growing), is
// the one the plain read builds.
TEST(ReadPaths, ModelsReadAlike) {
  struct Case {
    const char* what;
    std::string bytes;
    bool tolerant;
  };
  const std::vector<Case> cases = {
      {"mixed", mixed(6000), false},
      {"many references", manyRefs(), false},
      {"many rectangles", manyRects(), false},
      {"many small structures", manySmall(), true},
  };
  for (const Case& c : cases) {
    std::unique_ptr<qm::GDSlibrary> plain, file, pipe;
    Outcome o = read(c.bytes, Input::File, true, c.tolerant, &plain);
    ASSERT_EQ(o.status, 0) << c.what << o.err;
    expectSame(read(c.bytes, Input::File, false, c.tolerant, &file), o, c.what);
    expectSame(read(c.bytes, Input::Pipe, false, c.tolerant, &pipe), o, c.what);
    ASSERT_TRUE(plain && file && pipe) << c.what;
    const std::string want = dump(*plain);
    EXPECT_GT(want.size(), c.bytes.size() / 4) << c.what;
    EXPECT_TRUE(dump(*file) == want) << c.what << ": the model read from a file differs";
    EXPECT_TRUE(dump(*pipe) == want) << c.what << ": the model read from a pipe differs";
  }
  // What the boxes look like in the listing: in place, among boundaries.
  Outcome o = read(manySmall(), Input::File, false, true);
  const std::size_t last = o.listing.find("Read a struct named S2499 which contains the layers:\n");
  ASSERT_NE(last, std::string::npos);
  const std::string cells = o.listing.substr(o.listing.find("and the cells:\n:", last));
  EXPECT_EQ(cells.rfind("and the cells:\n:TEXT, BOX, SREF(S39), SREF(S37), SREF(S37), BOUNDARY, SREF(S35), SREF(S35), "
                        "AREF(S0), SREF(S33), SREF(S33), BOUNDARY, SREF(S31), SREF(S31), SREF(S29), SREF(S29), "
                        "BOUNDARY, SREF(S27), SREF(S27), BOX, SREF(S25), ", 0),
            0u) << cells.substr(0, 300);
  EXPECT_NE(cells.find("SREF(S1), SREF(S1), AREF(S0), TEXT, PATH, BOX, BOUNDARY, SREF(S2499), \n\n"), std::string::npos)
      << cells;
}

// A library cut off anywhere: the same echo up to the cut, then the same
// message and status.
TEST(ReadPaths, CutOffLibrariesFailAlike) {
  for (const std::string& whole : {mixed(6000), manyRects(), alternating()}) {
    for (double at : {0.001, 0.3, 0.5, 0.77, 0.999}) {
      // Cut inside a record: one byte after a record start.
      std::size_t cut = static_cast<std::size_t>(static_cast<double>(whole.size()) * at) | 1;
      std::string part = whole.substr(0, cut);
      compareAll(part, "cut at " + std::to_string(cut));
      Outcome o = read(part, Input::File, true);
      EXPECT_EQ(o.status, 1);
    }
  }
}

// A broken element in the middle of a long library: the failures on
// standard error and on standard output (a broken array).
TEST(ReadPaths, BrokenElementsFailAlike) {
  struct Case {
    const char* name;
    std::string element;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"boundary without datatype", Gds().rec(BOUNDARY).rec(LAYER, i2(1), 2).rec(XY, xy({{0, 0}}), 3).rec(ENDEL).bytes,
       "Missing DATATYPE field in BOUNDARY element. Abort!\n"},
      {"mirrored array", Gds().aref("LEAF", 2, 2, {{0, 0}, {-100, 0}, {0, 100}}).bytes,
       "Error in AREF! Found a y-axis mirrored array. This is impossible so I'm exiting.\n"},
      {"path without width", Gds().rec(PATH).rec(LAYER, i2(1), 2).rec(DATATYPE, i2(0), 2).rec(PATHTYPE, i2(0), 2)
                                 .rec(XY, xy({{0, 0}, {1, 1}}), 3).rec(ENDEL).bytes,
       "Missing WIDTH field in PATH element. Abort!\n"},
  };
  const std::string whole = mixed(6000);
  // Just before the structure TOP: after every element of MIX.
  const std::size_t mid = whole.find(std::string("\x00\x04\x07\x00", 4), whole.size() / 2);
  ASSERT_NE(mid, std::string::npos);
  for (const Case& c : cases) {
    std::string broken = whole.substr(0, mid) + c.element + whole.substr(mid);
    compareAll(broken, c.name);
    Outcome o = read(broken, Input::Pipe, false);
    EXPECT_EQ(o.status, 1) << c.name;
    const std::string& where = std::string(c.message).rfind("Error in AREF", 0) == 0 ? o.out : o.err;
    ASSERT_GE(where.size(), std::string(c.message).size()) << c.name;
    EXPECT_EQ(where.substr(where.size() - std::string(c.message).size()), c.message) << c.name;
  }
}

// Standard output and error on one file, buffered as the program buffers
// them: messages among the echo land at the same places.
TEST(ReadPaths, SharedFileGetsTheSameInterleaving) {
  Gds g;
  g.lib("NOISY").bgnstr("TOP");
  for (int i = 0; i < 60000; ++i) {
    g.rect(1, 0, i, 0, i + 5, 5);
    g.rec(60, "xx");  // "Unknown record type\n" on standard error
  }
  const std::string whole = g.endstr().endlib().bytes;
  for (const std::string& bytes : {whole, whole.substr(0, whole.size() * 2 / 3)}) {
    std::string shared[2];
    for (bool plain : {true, false}) {
      TempDir d;
      d.write("in.gds", bytes);
      int fd = ::open(d.file("in.gds").c_str(), O_RDONLY);
      int outFd = ::open(d.file("both").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
      {
        qm::Out o(outFd, false, std::size_t{1} << 20);
        qm::Out e(outFd, false, std::size_t{1} << 16);
        const qm::Console con{o, e};
        qm::Out listing{qm::Out::Memory{}};
        try {
          qm::ReadOptions opt;
          opt.plain = plain;
          qm::GDSreadLibrary(con, fd, listing, opt);
        } catch (const qm::Failure& f) {
          (f.onStdout ? o : e).put(f.message);
        }
        o.flush();
        e.flush();
      }
      ::close(outFd);
      ::close(fd);
      shared[plain] = d.read("both");
    }
    EXPECT_GT(shared[1].size(), std::size_t{1} << 20);
    EXPECT_TRUE(shared[0] == shared[1]) << "the shared file differs (" << bytes.size() << " bytes of input)";
  }
}

}  // namespace
