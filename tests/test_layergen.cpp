// The layergen program, run as built.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/out.h"
#include "layers/config.h"
#include "gdsw.h"
#include "runner.h"

namespace {

qmtest::RunResult layergen(const std::string& input, const std::vector<std::string>& args = {},
                           bool pipe = false) {
  qmtest::TempDir dir;
  return qmtest::run(QM_LAYERGEN, args, dir.path(), input, pipe);
}

std::string block(int n, const std::string& name, const char* red, const char* green, const char* blue,
                  const char* depth) {
  return "newlayer\n gdsno " + std::to_string(n) + "\n hidden yes\n name " + name + "\n red " + red +
         "\n green " + green + "\n blue " + blue + "\n fill no\n hatch cross\n angle 45.0\n step 3.0\n" +
         " thickness 0.100000\n depth " + depth + "\nendlayer\n\n";
}

TEST(Layergen, WholeBlock) {
  auto r = layergen("metal1 drawing 8 0\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "newlayer\n gdsno 8\n hidden yes\n name metal1\n red 0.2\n green 0.6\n blue 0.2\n"
            " fill no\n hatch cross\n angle 45.0\n step 3.0\n thickness 0.100000\n depth 0.800000\n"
            "endlayer\n\n");
}

TEST(Layergen, ColourAndDepthFromTheLayerNumber) {
  struct Case {
    int n;
    const char *red, *green, *blue, *depth;
  } cases[] = {
      {0, "0.2", "0.2", "0.2", "0.000000"},
      {8, "0.2", "0.6", "0.2", "0.800000"},
      {255, "3.2", "0.8", "0.8", "25.500000"},
      {7, "0.2", "0.4", "0.8", "0.700000"},
      {64, "1.0", "0.2", "0.2", "6.400000"},
      {300, "3.8", "0.8", "0.2", "30.000000"},
      // Negative numbers: division and remainder truncate toward zero.
      {-1, "0.2", "0.2", "0.0", "-0.100000"},
      {-5, "0.2", "0.0", "0.0", "-0.500000"},
      {-17, "0.0", "0.2", "0.0", "-1.700000"},
      {2147483647, "26843545.6", "0.8", "0.8", "214748364.700000"},
      {-2147483647 - 1, "-26843545.4", "0.2", "0.2", "-214748364.800000"},
  };
  std::string input, expect;
  for (const Case& c : cases) {
    std::string name = "L";
    name += std::to_string(c.n);
    input += name;
    input += " t ";
    input += std::to_string(c.n);
    input += " 0\n";
    expect += block(c.n, name, c.red, c.green, c.blue, c.depth);
  }
  auto r = layergen(input);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, expect);
}

TEST(Layergen, FirstRecordOfANumberWins) {
  auto r = layergen("metal1 a 8 0\nmetal1b b 8 1\nneg c -3 0\nhigh d 999 0\nneg2 e -3 0\nhigh2 f 999 0\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, block(8, "metal1", "0.2", "0.6", "0.2", "0.800000") +
                       block(-3, "neg", "0.2", "0.2", "-0.4", "-0.300000") +
                       block(999, "high", "12.6", "0.4", "0.8", "99.900000"));
}

TEST(Layergen, RecordsMaySplitOrShareLines) {
  std::string expect = block(1, "poly", "0.2", "0.2", "0.4", "0.100000") +
                       block(2, "diff", "0.2", "0.2", "0.6", "0.200000");
  for (const char* input : {"poly x 1 0\ndiff y 2 0\n", "poly\nx\n1\n0\ndiff\ny\n2\n0", "poly x 1 0 diff y 2 0",
                            "  \n\tpoly \t x\n 1\n\n 0 diff y\t2 0 \n\n", "poly x +1 00 diff y 02 -7\r\n"}) {
    auto r = layergen(input);
    EXPECT_EQ(r.status, 0) << input;
    EXPECT_EQ(r.err, "") << input;
    EXPECT_EQ(r.out, expect) << input;
  }
  // Through a pipe, and with arguments (ignored), the same.
  auto r = layergen("poly x 1 0\ndiff y 2 0\n", {"-h", "whatever"}, true);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expect);
}

TEST(Layergen, WordsOfAnyLength) {
  std::string name(5000, 'w');
  auto r = layergen(name + " " + std::string(3000, 'v') + " 4 0\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, block(4, name, "0.2", "0.4", "0.2", "0.400000"));
}

TEST(Layergen, IncompleteRead) {
  struct Case {
    const char* input;
    std::string out;
  } cases[] = {
      {"", ""},
      {" \n\t\n", ""},
      {"poly x 1", ""},
      {"poly x", ""},
      {"poly", ""},
      {"poly x one 0\n", ""},
      {"poly x 1 zero\n", ""},
      {"poly x - 0\n", ""},
      {"poly x 1 0\ndiff y 2\n", block(1, "poly", "0.2", "0.2", "0.4", "0.100000")},
      // Numbers that do not fit an int.
      {"poly x 2147483648 0\n", ""},
      {"poly x -2147483649 0\n", ""},
      {"poly x 1 99999999999999999999999\n", ""},
      // "1x" converts 1, then "x" cannot start the fourth number.
      {"poly x 1x 0\n", ""},
  };
  for (const Case& c : cases) {
    auto r = layergen(c.input);
    EXPECT_EQ(r.status, 1) << c.input;
    EXPECT_EQ(r.err, "ERROR: incomplete read.") << c.input;
    EXPECT_EQ(r.out, c.out) << c.input;
  }
}

TEST(Layergen, OutputReadsBackAsConfiguration) {
  std::string input;
  for (int n = 0; n < 256; ++n) {
    input += "layer";
    input += std::to_string(n);
    input += " drawing ";
    input += std::to_string(n);
    input += " 0\n";
  }
  auto r = layergen(input);
  ASSERT_EQ(r.status, 0);
  std::string text = r.out;
  for (std::size_t pos = 0; (pos = text.find("hidden yes", pos)) != std::string::npos;)
    text.replace(pos, 10, "hidden no");

  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  qm::LayerTable t;
  std::string err;
  int count;
  {
    qm::CaptureStd cap;
    count = qm::ReadLayerConfig(cap.console(), f, t);
    err = cap.err();
  }
  std::fclose(f);
  EXPECT_EQ(err, "");
  ASSERT_EQ(count, 257);
  for (int n = 0; n < 256; ++n) {
    const qm::LayerEntry& e = t[n + 1];
    SCOPED_TRACE(n);
    EXPECT_EQ(e.name, std::string("layer").append(std::to_string(n)));
    EXPECT_EQ(e.gdsno, n);
    EXPECT_EQ(e.hasDatatype, 0);
    EXPECT_EQ(e.hidden, 0);
    // One decimal as written: compare with the text value read back.
    char red[16], green[16], blue[16];
    std::snprintf(red, sizeof red, "%1.1f", 0.2 + 0.2 * (n / 16));
    std::snprintf(green, sizeof green, "%1.1f", 0.2 + 0.2 * ((n % 16) / 4));
    std::snprintf(blue, sizeof blue, "%1.1f", 0.2 + 0.2 * (n % 4));
    EXPECT_EQ(e.red, std::strtod(red, nullptr));
    EXPECT_EQ(e.green, std::strtod(green, nullptr));
    EXPECT_EQ(e.blue, std::strtod(blue, nullptr));
    EXPECT_EQ(e.fill, 0);
    EXPECT_EQ(e.hatch, 2);
    EXPECT_EQ(e.angle, 45);
    EXPECT_EQ(e.step, 3);
    EXPECT_EQ(e.thickness, 0.1);
    char depth[32];
    std::snprintf(depth, sizeof depth, "%f", 0.1 * n);
    EXPECT_EQ(e.depth, std::strtod(depth, nullptr));
  }
  qm::CaptureStd cap;
  EXPECT_EQ(t.FindLayerEntry(cap.console(), 8, 5), 9);
  EXPECT_EQ(t[9].red, 0.2);
  EXPECT_EQ(t[9].green, 0.6);
  EXPECT_EQ(t[9].blue, 0.2);
  EXPECT_EQ(t[9].depth, 0.8);
}

}  // namespace

namespace {

// layergen's output, with its layers made visible, drives a whole drawing.
TEST(LayergenEndToEnd, ItsConfigurationDrawsALayout) {
  qmtest::TempDir d;
  auto gen = qmtest::run(QM_LAYERGEN, {}, d.path(), "diff x 1 0\npoly x 2 0\nmetal1 x 8 0\n");
  ASSERT_EQ(gen.status, 0);
  std::string cfg = gen.out;
  for (std::size_t at; (at = cfg.find("hidden yes")) != std::string::npos;) cfg.replace(at, 10, "hidden no");
  d.write("layers.config", cfg);
  gdsw::Gds g;
  g.lib().bgnstr("TOP").rect(1, 0, 0, 0, 4000, 2000).path(2, 0, 0, 200, {{2000, -500}, {2000, 2500}});
  g.text(8, 0, "OUT", 100, 100).endstr().endlib();
  d.write("in.gds", g.bytes);
  auto r = qmtest::quillmask({"-i", "in.gds", "-s", "TOP", "-c", "layers.config"}, d.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::string ps = d.read("result.ps");
  EXPECT_NE(ps.find("/FONTdiff true definepattern pop\n"), std::string::npos);
  EXPECT_NE(ps.find("% Layer poly\n"), std::string::npos);
  EXPECT_NE(ps.find("0 0 40 20 rectstroke\n"), std::string::npos);
  EXPECT_NE(ps.find("(OUT) 1 1 t\n"), std::string::npos);
  EXPECT_NE(d.read("result.pov").find("#declare GDS_TEX_8 = texture { // Layer name: metal1 \n"), std::string::npos);
  EXPECT_NE(d.read("result.plt").find("SP2\nFT4,"), std::string::npos);
}

}  // namespace
