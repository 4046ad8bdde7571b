// Drawings drawn together on several threads against one after the other:
// the same files (and no others), the same bytes on both streams and the
// same end, whether every drawing succeeds or one of them fails.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "failure.h"
#include "gds/reader.h"
#include "gdsw.h"
#include "main/run.h"
#include "runner.h"

using namespace gdsw;
using qmtest::TempDir;

namespace {

// A hierarchy that prints on both streams in every writer: lookups echo
// the structures they pass, a layer without an entry warns, a one-point
// wire complains; arrays, a rotated instance, a wire and texts.
std::string hierarchy() {
  Gds g;
  g.lib("PAR")
      .bgnstr("LEAF").rect(1, 0, 0, 0, 100, 50).rect(7, 0, 0, 0, 10, 10).endstr()
      .bgnstr("MID")
      .sref("LEAF", 0, 0)
      .aref("LEAF", 3, 2, {{0, 0}, {600, 0}, {0, 200}})
      .path(2, 0, 2, 20, {{0, 0}, {500, 0}, {500, 300}})
      .path(2, 0, 0, 20, {{5, 5}})
      .endstr()
      .bgnstr("TOP")
      .sref("MID", 0, 0)
      .sref("MID", 2000, 0, Placement{.strans = true, .hasMag = true, .mag = 2, .hasAngle = true, .angle = 90})
      .text(3, 0, "hello", 10, 10)
      .rect(1, 0, -100, -100, 3000, 3000)
      .endstr()
      .endlib();
  return g.bytes;
}

// TOP places A, and A and B place each other.
std::string cycle() {
  Gds g;
  g.lib("CYC")
      .bgnstr("A").rect(1, 0, 0, 0, 10, 10).sref("B", 0, 0).endstr()
      .bgnstr("B").rect(1, 0, 0, 0, 20, 20).sref("A", 5, 5).endstr()
      .bgnstr("TOP").rect(1, 0, 0, 0, 100, 100).sref("A", 0, 0).endstr()
      .endlib();
  return g.bytes;
}

const char* kLayers =
    "newlayer name metal gdsno 1 hidden no red 1 fill yes thickness 1 depth 0 endlayer\n"
    "newlayer name wire gdsno 2 hidden no green 1 hatch single angle 45 step 4 thickness 1 depth 1 endlayer\n"
    "newlayer name label gdsno 3 hidden no blue 1 thickness 1 depth 2 endlayer\n";

const char* kLevelHatch = "newlayer name metal gdsno 1 hidden no hatch single angle 90 endlayer\n";

const std::vector<std::string> kNames = {"result.ps", "result.pov", "result.plt", "result.svg", "same.out", "real.pov"};

struct Case {
  const char* name;
  std::string gds;
  std::string layers;
  std::string top = "TOP";
  // Sets up the folder before the run (files already there, folders).
  std::function<void(const TempDir&)> prepare = [](const TempDir&) {};
  // The drawing paths, relative to the folder ("" leaves the default).
  std::string ps = "", pov = "", hpgl = "", svg = "";
  bool withSvg = true;
};

struct Outcome {
  qmtest::Outcome run;
  std::map<std::string, std::optional<std::string>> files;
  std::map<std::string, unsigned> modes;  // permission bits, and whether a symbolic link
  std::vector<std::string> entries;  // everything in the folder afterwards
  bool operator==(const Outcome&) const = default;
};

std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

Outcome draw(const Case& c, unsigned threads) {
  TempDir d;
  d.write("in.gds", c.gds);
  d.write("layers", c.layers);
  c.prepare(d);
  auto at = [&](const std::string& p, const char* def) {
    if (p.empty()) return d.file(def);
    return p[0] == '/' ? p : d.file(p);
  };
  Outcome o;
  o.run = qmtest::runCaptured([&](const qm::Console& con) {
    int fd = ::open(d.file("in.gds").c_str(), O_RDONLY);
    qm::Out listing{qm::Out::Memory{}};
    auto lib = qm::GDSreadLibrary(con, fd, listing);
    ::close(fd);
    qm::WriterChoice choice;
    choice.threads = threads;
    choice.svg = c.withSvg;
    choice.svgPath = at(c.svg, "result.svg");
    qm::RunWriters(con, *lib, c.top, d.file("layers"), at(c.ps, "result.ps"), at(c.pov, "result.pov"),
                   at(c.hpgl, "result.plt"), choice);
  });
  // The folders differ between runs: messages name it the same way.
  for (std::string* text : {&o.run.out, &o.run.err})
    for (std::size_t at = 0; (at = text->find(d.path(), at)) != std::string::npos;) text->replace(at, d.path().size(), "DIR");
  for (const std::string& n : kNames) {
    o.files[n] = d.exists(n) ? std::optional<std::string>(d.read(n)) : std::nullopt;
    struct stat st {};
    if (::lstat(d.file(n).c_str(), &st) == 0) o.modes[n] = (st.st_mode & 07777) | (S_ISLNK(st.st_mode) ? 0x10000u : 0u);
  }
  o.entries = listing(d.path());
  return o;
}

void oldFiles(const TempDir& d) {
  for (const std::string& n : kNames) d.write(n, "old contents of " + n + "\n");
}

TEST(DrawingTogether, SameFilesAndBytesAsOneAfterTheOther) {
  const std::vector<Case> cases = {
      {.name = "every drawing succeeds", .gds = hierarchy(), .layers = kLayers},
      {.name = "drawings replace files already there", .gds = hierarchy(), .layers = kLayers, .prepare = oldFiles},
      {.name = "existing drawings keep their permission bits",
       .gds = hierarchy(), .layers = kLayers,
       .prepare =
           [](const TempDir& d) {
             oldFiles(d);
             ASSERT_EQ(::chmod(d.file("result.pov").c_str(), 0600), 0);
             ASSERT_EQ(::chmod(d.file("result.plt").c_str(), 0640), 0);
           }},
      {.name = "a drawing into a symbolic link writes the file it names",
       .gds = hierarchy(), .layers = kLayers,
       .prepare =
           [](const TempDir& d) {
             d.write("real.pov", "old\n");
             ASSERT_EQ(::symlink("real.pov", d.file("result.pov").c_str()), 0);
           }},
      {.name = "no such top structure", .gds = hierarchy(), .layers = kLayers, .top = "NOPE"},
      {.name = "a configuration without layers gives no page", .gds = hierarchy(), .layers = "# nothing\n"},
      {.name = "a cycle stops the page; the others stay as they were",
       .gds = cycle(), .layers = kLayers, .prepare = oldFiles},
      {.name = "level hatching stops the page", .gds = hierarchy(), .layers = kLevelHatch, .prepare = oldFiles},
      {.name = "the scene cannot be opened; the plot is never begun",
       .gds = hierarchy(), .layers = kLayers, .prepare = oldFiles, .pov = "no/such/folder/x.pov"},
      {.name = "the plot's target is a folder",
       .gds = hierarchy(), .layers = kLayers,
       .prepare = [](const TempDir& d) { ASSERT_EQ(::mkdir(d.file("plot").c_str(), 0777), 0); }, .hpgl = "plot"},
      {.name = "two drawings into one file", .gds = hierarchy(), .layers = kLayers, .pov = "same.out",
       .hpgl = "same.out"},
      {.name = "the scene goes to a device", .gds = hierarchy(), .layers = kLayers, .pov = "/dev/null"},
      {.name = "three drawings of the sequence only", .gds = hierarchy(), .layers = kLayers, .withSvg = false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome one = draw(c, 1);
    for (unsigned threads : {2u, 4u}) {
      const Outcome many = draw(c, threads);
      EXPECT_EQ(many.run.status, one.run.status) << threads;
      EXPECT_EQ(many.run.out, one.run.out) << threads;
      EXPECT_EQ(many.run.err, one.run.err) << threads;
      for (const std::string& n : kNames) EXPECT_EQ(many.files.at(n), one.files.at(n)) << n << ", " << threads;
      EXPECT_EQ(many.modes, one.modes) << threads;
      EXPECT_EQ(many.entries, one.entries) << threads;
    }
  }
}

// The cases above do fail where they mean to.
TEST(DrawingTogether, TheFailingCasesFail) {
  Case c{.name = "cycle", .gds = cycle(), .layers = kLayers, .prepare = oldFiles};
  Outcome o = draw(c, 3);
  EXPECT_EQ(o.run.status, 1);
  EXPECT_NE(o.run.err.find("Cyclic reference to structure"), std::string::npos) << o.run.err;
  EXPECT_EQ(o.files.at("result.pov"), "old contents of result.pov\n");
  EXPECT_EQ(o.files.at("result.plt"), "old contents of result.plt\n");

  c = Case{.name = "scene", .gds = hierarchy(), .layers = kLayers, .pov = "no/such/folder/x.pov"};
  o = draw(c, 3);
  EXPECT_EQ(o.run.status, 1);
  EXPECT_TRUE(o.files.at("result.ps").has_value());
  EXPECT_FALSE(o.files.at("result.plt").has_value());
  EXPECT_TRUE(qmtest::containsRegex(o.run.err, "Couldn't open .*no/such/folder/x.pov for writing. Aborting...\n$"))
      << o.run.err;
}

// A full disk stops the drawing it fills, in its turn, with nothing left of
// the drawings after it.
TEST(DrawingTogether, AFullDiskEndsLikeOneAfterTheOther) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Case c{.name = "full", .gds = hierarchy(), .layers = kLayers, .pov = "/dev/full"};
  const Outcome one = draw(c, 1);
  const Outcome many = draw(c, 3);
  EXPECT_EQ(one.run.status, 1);
  EXPECT_EQ(many.run, one.run);
  EXPECT_EQ(many.files, one.files);
  EXPECT_EQ(many.entries, one.entries);
}

// Through the program: --threads chooses how many, and every count gives
// the same run; a count that is no whole number from 1 to 1024 is a usage
// error before anything is read.
TEST(DrawingTogether, ThreadsOption) {
  std::optional<qmtest::RunResult> first;
  std::map<std::string, std::string> firstFiles;
  for (const char* n : {"1", "2", "7"}) {
    TempDir d;
    d.write("in.gds", hierarchy());
    d.write("layers", kLayers);
    auto r = qmtest::quillmask({"-i", "in.gds", "-s", "TOP", "-c", "layers", "-g", "result.svg", "--threads", n},
                               d.path());
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> files;
    for (const char* f : {"result.ps", "result.pov", "result.plt", "result.svg", "result.txt"}) files[f] = d.read(f);
    EXPECT_EQ(listing(d.path()).size(), 2 + 2 + files.size()) << n;  // . .. in.gds layers and the drawings
    if (!first) {
      first = r;
      firstFiles = files;
      continue;
    }
    EXPECT_EQ(r.out, first->out) << n;
    EXPECT_EQ(r.err, first->err) << n;
    EXPECT_TRUE(files == firstFiles) << n;
  }
  for (const char* bad : {"0", "", "-1", "2x", "1025", "99999999999999999999"}) {
    TempDir d;
    d.write("in.gds", hierarchy());
    auto r = qmtest::quillmask({"-i", "in.gds", "-s", "TOP", "--threads", bad}, d.path());
    EXPECT_EQ(r.status, 1) << bad;
    const std::string want =
        std::string("Bad thread count \"") + bad + "\" for the option --threads: a number from 1 to 1024.\nUsage:\n";
    EXPECT_EQ(r.err.substr(0, want.size()), want) << r.err;
    EXPECT_FALSE(d.exists("result.txt")) << bad;
  }
}

}  // namespace
