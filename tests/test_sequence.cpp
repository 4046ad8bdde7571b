// The writer sequence, run through the program: PostScript, POV-Ray and
// HPGL, in that order, each finding the top structure itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gdsw.h"
#include "hpgl/plotread.h"
#include "runner.h"

using namespace gdsw;
using qmtest::TempDir;

namespace {

const std::string kHeader = "\x1b%-1BBPINNP64MC1QL100WU0PW0.13\n";
const std::string kTrailer = "PUSP0PG;\n";

// TOP (0, 0)-(10000, 20000) on layer 1 with an SREF of SUB and a text on
// layer 2.
std::string library() {
  Gds g;
  g.lib("SEQ")
      .bgnstr("SUB").rect(1, 0, 0, 0, 1000, 1000).endstr()
      .bgnstr("TOP").rect(1, 0, 0, 0, 10000, 20000).sref("SUB", 0, 0).text(2, 0, "hi", 0, 0).endstr()
      .endlib();
  return g.bytes;
}

const char* kConfig =
    "# two layers\n"
    "newlayer name metal gdsno 1 hidden no red 1 fill yes endlayer\n"
    "newlayer name label gdsno 2 hidden no endlayer\n";

std::size_t count(const std::string& s, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = s.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

struct SeqRun {
  TempDir d;
  qmtest::RunResult r;
  explicit SeqRun(const std::string& config, std::vector<std::string> extra = {}, const std::string& top = "TOP") {
    d.write("in.gds", library());
    if (!config.empty()) d.write("layers.cfg", config);
    std::vector<std::string> args = {"-i", d.file("in.gds"), "-s", top, "-c", "layers.cfg"};
    args.insert(args.end(), extra.begin(), extra.end());
    r = qmtest::quillmask(args, d.path());
  }
};

TEST(WriterSequence, OrderPostScriptPovHpgl) {
  SeqRun run(kConfig);
  const auto& r = run.r;
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(run.d.exists("result.ps"));
  ASSERT_TRUE(run.d.exists("result.pov"));
  ASSERT_TRUE(run.d.exists("result.plt"));
  // The PostScript writer's lines come first, the HPGL writer's last.
  const std::string ps = "minx = 0, miny = 0, maxx = 10000, maxy = 20000\nscalex = 5.202000, scaley = 3.366000\n";
  const std::string hpgl =
      "minx = 0, miny = 0, maxx = 10000, maxy = 20000\n"
      "scalex = 341.376000, scaley = 216.408000\n"
      "scale = 341.376000\n";
  EXPECT_EQ(r.err.substr(0, ps.size()), ps) << r.err;
  EXPECT_TRUE(endsWith(r.err, hpgl)) << r.err;
  EXPECT_EQ(count(r.err, "scale = "), 1u);
  // The configuration is read once, before any structure is looked up;
  // the last lookup is the HPGL writer's.
  const std::size_t cfg = r.out.find("dummy hidden layer body\n");
  ASSERT_NE(cfg, std::string::npos);
  EXPECT_EQ(count(r.out, "dummy hidden layer body\n"), 1u);
  EXPECT_EQ(r.out.find("\"TOP\"\n"), r.out.find("\n", r.out.rfind("thickness")) + 1) << r.out;
  EXPECT_TRUE(endsWith(r.out, "\"TOP\"\n"));

  const std::string plt = run.d.read("result.plt");
  EXPECT_EQ(plt, kHeader +
                     "PC1,255,0,0PC2,0,0,0\n"
                     "PS34137,68275;\n"
                     "IP0,0,34137,68275SC-5,105,-5,205\n"
                     "SP1\nFT1\n"
                     "PU0,0ER10,10PU0,0RR10,10\n"
                     "PU0,0ER100,200PU0,0RR100,200\n"
                     "SP2\n"
                     "SR0.020000,0.020000PU0,0LO6LBhi\x03\n" +
                     kTrailer);
  auto p = qm::plotread::parse(plt);
  EXPECT_TRUE(p.ok()) << p.error;
  EXPECT_TRUE(p.finished());
  // Read back: SUB's square and TOP's rectangle edged and filled in red on
  // pen 1, then the label in black on pen 2.
  using Shape = qm::plotread::Shape;
  using Point = qm::plotread::Point;
  ASSERT_EQ(p.shapes.size(), 5u);
  const Shape::Kind kinds[] = {Shape::EdgeRect, Shape::FillRect, Shape::EdgeRect, Shape::FillRect, Shape::Label};
  const std::vector<Point> corners[] = {{{0, 0}, {10, 10}}, {{0, 0}, {10, 10}}, {{0, 0}, {100, 200}},
                                        {{0, 0}, {100, 200}}, {{0, 0}}};
  for (std::size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(p.shapes[i].kind, kinds[i]);
    EXPECT_EQ(p.shapes[i].points, corners[i]);
    EXPECT_EQ(p.shapes[i].pen, i < 4 ? 1 : 2);
    EXPECT_EQ(p.shapes[i].colour, (i < 4 ? qm::plotread::Colour{255, 0, 0} : qm::plotread::Colour{0, 0, 0}));
  }
  EXPECT_EQ(p.shapes[1].fillType, 1);
  EXPECT_EQ(p.shapes[4].label, "hi");
}

// A writer that stops the program stops the writers after it; the files
// of the writers before it stay as written.
TEST(WriterSequence, FailingWriterStopsTheOnesAfterIt) {
  {
    SeqRun run(kConfig, {"-v", "/nonexistent-dir/x.pov"});
    EXPECT_EQ(run.r.status, 1);
    EXPECT_TRUE(endsWith(run.r.err, "Couldn't open /nonexistent-dir/x.pov for writing. Aborting...\n"));
    EXPECT_TRUE(endsWith(run.d.read("result.ps"), "showpage\n"));
    EXPECT_FALSE(run.d.exists("result.plt"));
  }
  {
    SeqRun run(kConfig, {"-H", "/nonexistent-dir/x.plt"});
    EXPECT_EQ(run.r.status, 1);
    EXPECT_TRUE(endsWith(run.r.err, "Couldn't open /nonexistent-dir/x.plt for writing. Aborting...\n"));
    EXPECT_TRUE(endsWith(run.d.read("result.ps"), "showpage\n"));
    EXPECT_TRUE(run.d.exists("result.pov"));
    EXPECT_EQ(count(run.r.err, "scale = "), 0u);
  }
  {
    // -H names the plot file.
    SeqRun run(kConfig, {"--hpglfile", "plot.hpgl"});
    EXPECT_EQ(run.r.status, 0);
    EXPECT_FALSE(run.d.exists("result.plt"));
    EXPECT_TRUE(endsWith(run.d.read("plot.hpgl"), kTrailer));
  }
}

TEST(WriterSequence, MissingTopStructureIsReportedByEachWriter) {
  SeqRun run(kConfig, {}, "NOPE");
  const auto& r = run.r;
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "Couldn't find the structure named \"NOPE\"\n"
            "Couldn't find the structure named \"NOPE\"\n"
            "Couldn't find the structure named \"NOPE\"\n");
  // Every lookup passes every structure.
  EXPECT_EQ(count(r.out, "\"TOP\"\n\"SUB\"\n"), 3u);
  EXPECT_TRUE(endsWith(run.d.read("result.ps"), "%%End of prologue\n"));
  EXPECT_TRUE(run.d.exists("result.pov"));
  // The plot holds the header and the pen colours, no trailer.
  EXPECT_EQ(run.d.read("result.plt"), kHeader + "PC1,255,0,0PC2,0,0,0");
}

TEST(WriterSequence, UnreadableConfigurationStopsBeforePovAndHpgl) {
  SeqRun run("");  // no configuration file
  EXPECT_EQ(run.r.status, 1);
  EXPECT_EQ(run.r.err, "Couldn't open layers.cfg for reading. Aborting...\n");
  EXPECT_TRUE(run.d.exists("result.txt"));
  EXPECT_FALSE(run.d.exists("result.ps"));
  EXPECT_FALSE(run.d.exists("result.pov"));
  EXPECT_FALSE(run.d.exists("result.plt"));
}

TEST(WriterSequence, ConfigurationWithCommentsOnly) {
  SeqRun run("# nothing here\n#newlayer gdsno 1 hidden no endlayer\n");
  const auto& r = run.r;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(run.d.exists("result.ps"));
  EXPECT_TRUE(run.d.exists("result.pov"));
  const std::string plt = run.d.read("result.plt");
  EXPECT_EQ(plt, kHeader + "\nPS34137,68275;\nIP0,0,34137,68275SC-5,105,-5,205\n" + kTrailer);
  auto p = qm::plotread::parse(plt);
  EXPECT_TRUE(p.ok()) << p.error;
  EXPECT_TRUE(p.shapes.empty());
  EXPECT_EQ(count(r.out, "dummy hidden layer body\n"), 1u);
  EXPECT_EQ(r.out.find("new layer body"), std::string::npos);
  EXPECT_TRUE(endsWith(r.err, "scale = 341.376000\n"));
}

}  // namespace
