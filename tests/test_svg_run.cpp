// The command line of the SVG drawing and of the choice of drawings: the
// default run is untouched, only the chosen files are created, the layer
// configuration is read once with the page's messages, bad lists are usage
// errors before anything is read or written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <pugixml.hpp>
#include <string>
#include <vector>

#include "gdsw.h"
#include "runner.h"

using namespace gdsw;
using qmtest::TempDir;

namespace {

std::string library() {
  Gds g;
  g.lib("SVGRUN")
      .bgnstr("SUB").rect(1, 0, 0, 0, 1000, 1000).path(2, 0, 2, 200, {{0, 0}, {3000, 0}}).endstr()
      .bgnstr("TOP").rect(1, 0, 0, 0, 10000, 20000).sref("SUB", 500, 500).text(2, 0, "hi", 0, 0).endstr()
      .endlib();
  return g.bytes;
}

const char* kConfig =
    "newlayer name metal gdsno 1 hidden no red 1 fill yes endlayer\n"
    "newlayer name poly gdsno 2 hidden no hatch single angle 45 step 1 endlayer\n";

const std::vector<std::string> kDrawings = {"result.ps", "result.pov", "result.plt", "result.svg"};

struct SvgRunCase {
  TempDir d;
  qmtest::RunResult r;
  SvgRunCase(std::vector<std::string> extra, const std::string& config = kConfig) {
    d.write("in.gds", library());
    if (!config.empty()) d.write("layers.cfg", config);
    std::vector<std::string> args = {"-i", "in.gds", "-s", "TOP", "-c", "layers.cfg"};
    args.insert(args.end(), extra.begin(), extra.end());
    r = qmtest::quillmask(args, d.path());
  }
  std::vector<std::string> written() const {
    std::vector<std::string> w;
    for (const auto& f : kDrawings)
      if (d.exists(f)) w.push_back(f);
    return w;
  }
};

bool parses(const std::string& svg) {
  pugi::xml_document doc;
  return static_cast<bool>(doc.load_buffer(svg.data(), svg.size()));
}

TEST(SvgRun, DefaultRunIsByteForByteTheSame) {
  SvgRunCase plain({});
  ASSERT_EQ(plain.r.status, 0) << plain.r.err;
  EXPECT_EQ(plain.written(), (std::vector<std::string>{"result.ps", "result.pov", "result.plt"}));
  // The three drawings named explicitly are the default run.
  SvgRunCase three({"--only", "ps,pov,hpgl"});
  EXPECT_EQ(three.r.status, 0);
  EXPECT_EQ(three.r.out, plain.r.out);
  EXPECT_EQ(three.r.err, plain.r.err);
  EXPECT_EQ(three.written(), plain.written());
  // With the SVG file the three come first and unchanged; the SVG drawing
  // only adds its own lines at the end.
  SvgRunCase svg({"-g", "out.svg"});
  EXPECT_EQ(svg.r.status, 0);
  EXPECT_EQ(svg.r.out.substr(0, plain.r.out.size()), plain.r.out);
  EXPECT_EQ(svg.r.err.substr(0, plain.r.err.size()), plain.r.err);
  EXPECT_EQ(svg.r.err.substr(plain.r.err.size()), "minx = 0, miny = 0, maxx = 10000, maxy = 20000\n");
  EXPECT_EQ(svg.r.out.substr(plain.r.out.size()), "\"TOP\"\n");
  for (const char* f : {"result.ps", "result.pov", "result.plt", "result.txt"}) {
    EXPECT_EQ(svg.d.read(f), plain.d.read(f)) << f;
    EXPECT_EQ(three.d.read(f), plain.d.read(f)) << f;
  }
  EXPECT_TRUE(parses(svg.d.read("out.svg")));
  EXPECT_FALSE(svg.d.exists("result.svg"));
}

TEST(SvgRun, OnlyTheChosenDrawingsAreWritten) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> files;
  };
  const std::vector<Case> cases = {
      {{"--only", "svg"}, {"result.svg"}},
      {{"-o", "pov"}, {"result.pov"}},
      {{"-o", "hpgl,ps"}, {"result.ps", "result.plt"}},
      {{"-o", "svg,svg,pov"}, {"result.pov", "result.svg"}},
      {{"-o", "ps", "-g", "x.svg"}, {"result.ps"}},          // the SVG file alone does not add it
      {{"-g", "x.svg", "-o", "pov", "-o", "svg"}, {}},          // the last list counts: x.svg only
  };
  for (const Case& c : cases) {
    SvgRunCase run(c.args);
    ASSERT_EQ(run.r.status, 0) << run.r.err;
    EXPECT_EQ(run.written(), c.files) << c.args[1];
    EXPECT_TRUE(run.d.exists("result.txt"));
  }
  SvgRunCase last({"-g", "x.svg", "-o", "pov", "-o", "svg"});
  EXPECT_TRUE(last.d.exists("x.svg"));
  EXPECT_TRUE(parses(last.d.read("x.svg")));
}

TEST(SvgRun, ConfigurationReadOnceWithThePagesMessages) {
  SvgRunCase plain({});
  SvgRunCase svg({"--only", "svg"});
  ASSERT_EQ(svg.r.status, 0);
  // Standard output: the configuration's lines exactly as for the page,
  // then the one search of the SVG writer.
  const std::size_t cfgEnd = plain.r.out.find('\n', plain.r.out.rfind("thickness = ")) + 1;
  ASSERT_GT(cfgEnd, 0u);
  EXPECT_EQ(svg.r.out, plain.r.out.substr(0, cfgEnd) + "\"TOP\"\n");
  // Standard error: no page, scene or plot lines.
  EXPECT_EQ(svg.r.err, "minx = 0, miny = 0, maxx = 10000, maxy = 20000\n");
  // The scene alone: the default run's lines without the page's fit before
  // them and the plot's after them.
  SvgRunCase pov({"--only", "pov"});
  const std::string pageFit = "minx = 0, miny = 0, maxx = 10000, maxy = 20000\nscalex = 5.202000, scaley = 3.366000\n";
  ASSERT_EQ(plain.r.err.substr(0, pageFit.size()), pageFit);
  EXPECT_EQ(pov.r.err, plain.r.err.substr(pageFit.size(), pov.r.err.size()));
  EXPECT_EQ(pov.r.out.substr(0, cfgEnd), plain.r.out.substr(0, cfgEnd));
  EXPECT_EQ(pov.d.read("result.pov"), plain.d.read("result.pov"));
}

TEST(SvgRun, ConfigurationFailuresAreThePagesWhateverIsDrawn) {
  struct Case {
    std::string config;  // empty: no file
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"", 1, "Couldn't open layers.cfg for reading. Aborting...\n"},
      {"newlayer red\n", 1, "Syntax error at line 1: missing number\n"},
      {"newlayer hatch yes\n", 1, "Syntax error at line 1: unknown token yes\n"},
  };
  for (const Case& c : cases) {
    SvgRunCase page({}, c.config);
    for (const char* only : {"svg", "pov,svg", "hpgl"}) {
      SvgRunCase run({"--only", only}, c.config);
      EXPECT_EQ(run.r.status, c.status) << only;
      EXPECT_EQ(run.r.err, c.err) << only;
      EXPECT_EQ(run.r.err, page.r.err);
      EXPECT_EQ(run.r.out, page.r.out);
      EXPECT_TRUE(run.written().empty());
    }
  }
  // No layer block: no page, but the other chosen drawings, the SVG among
  // them, are written (and draw nothing).
  SvgRunCase none({"--only", "ps,svg"}, "# nothing\n");
  EXPECT_EQ(none.r.status, 0);
  EXPECT_EQ(none.written(), (std::vector<std::string>{"result.svg"}));
  EXPECT_TRUE(parses(none.d.read("result.svg")));
}

TEST(SvgRun, FilesOfOtherDrawingsAreNotTouched) {
  TempDir d;
  d.write("in.gds", library());
  d.write("layers.cfg", kConfig);
  for (const char* f : {"result.ps", "result.pov", "result.plt"}) d.write(f, "keep");
  struct stat before;
  ASSERT_EQ(stat(d.file("result.ps").c_str(), &before), 0);
  auto r = qmtest::quillmask({"-i", "in.gds", "-s", "TOP", "-c", "layers.cfg", "--only", "svg"}, d.path());
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat after;
  ASSERT_EQ(stat(d.file("result.ps").c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  for (const char* f : {"result.ps", "result.pov", "result.plt"}) EXPECT_EQ(d.read(f), "keep") << f;
}

TEST(SvgRun, BadListsAreUsageErrorsBeforeAnythingIsRead) {
  struct Case {
    std::string list, message;
  };
  const std::string tail = "The drawings are ps, pov, hpgl and svg, separated by commas.\nUsage:\n";
  const std::vector<Case> cases = {
      {"png", "Unknown drawing \"png\" in the option --only.\n"},
      {"PS", "Unknown drawing \"PS\" in the option --only.\n"},
      {"ps,svg,", "Empty drawing name in the list \"ps,svg,\" of the option --only.\n"},
      {",svg", "Empty drawing name in the list \",svg\" of the option --only.\n"},
      {"ps,,svg", "Empty drawing name in the list \"ps,,svg\" of the option --only.\n"},
      {"", "Empty drawing name in the list \"\" of the option --only.\n"},
      {"ps svg", "Unknown drawing \"ps svg\" in the option --only.\n"},
  };
  for (const Case& c : cases) {
    TempDir d;
    d.write("in.gds", library());
    auto r = qmtest::quillmask({"-i", "in.gds", "-s", "TOP", "--only", c.list, "-h"}, d.path());
    EXPECT_EQ(r.status, 1) << c.list;
    EXPECT_EQ(r.err.substr(0, c.message.size() + tail.size()), c.message + tail) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(d.exists("result.txt")) << c.list;  // nothing read, nothing written
  }
  for (const char* opt : {"--only", "-o", "--svgfile", "-g"}) {
    TempDir d;
    auto r = qmtest::quillmask({opt}, d.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("Missing argument for the option ") + opt + ". Exiting...\n");
  }
  // Without a top structure the list is checked, and nothing is drawn.
  TempDir d;
  d.write("in.gds", library());
  auto r = qmtest::quillmask({"-i", "in.gds", "--only", "svg", "-g", "x.svg"}, d.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(d.exists("x.svg"));
}

TEST(SvgRun, OutputFailuresAndHierarchyFaults) {
  {
    SvgRunCase run({"--only", "svg", "-g", "no/such/dir/x.svg"});
    EXPECT_EQ(run.r.status, 1);
    EXPECT_EQ(run.r.err, "Couldn't open no/such/dir/x.svg for writing. Aborting...\n");
  }
  {
    SvgRunCase run({"-g", "/dev/full"});
    EXPECT_EQ(run.r.status, 1);
    const std::string want = "Couldn't write /dev/full. Aborting...\n";
    ASSERT_GE(run.r.err.size(), want.size());
    EXPECT_EQ(run.r.err.substr(run.r.err.size() - want.size()), want);
    EXPECT_TRUE(run.d.exists("result.plt"));  // the drawings before it are complete
  }
  // A structure placing itself: the same stop as in the other drawings.
  TempDir d;
  Gds g;
  g.lib("CYC").bgnstr("A").rect(1, 0, 0, 0, 10, 10).sref("A", 100, 0).endstr().endlib();
  d.write("in.gds", g.bytes);
  d.write("layers.cfg", kConfig);
  auto page = qmtest::quillmask({"-i", "in.gds", "-s", "A", "-c", "layers.cfg", "-o", "ps"}, d.path());
  auto svg = qmtest::quillmask({"-i", "in.gds", "-s", "A", "-c", "layers.cfg", "-o", "svg"}, d.path());
  EXPECT_EQ(page.status, 1);
  EXPECT_EQ(svg.status, 1);
  EXPECT_NE(svg.err.find("Cyclic reference to structure \"A\". Aborting\n"), std::string::npos) << svg.err;
  EXPECT_EQ(svg.err, page.err);
}

}  // namespace
