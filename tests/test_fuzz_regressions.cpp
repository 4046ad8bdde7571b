// Replays the inputs kept in fuzz/regressions (and the seeds in
// fuzz/corpus) through the built program, the way the fuzz target of each
// folder uses them:
//   reader/  the input as the library, read strictly and tolerantly;
//   run/     the input read tolerantly and drawn, with the fixed layer
//            configuration of the fuzz target and its top structure (the
//            last STRNAME of the input);
//   config/  the input as the layer configuration of a small drawing.
// Each run must end with status 0, or with status 1 and a message. The
// seed folders must hold inputs, and the findings kept for run/ too.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "../fuzz/fuzz_inputs.h"
#include "gdsw.h"
#include "limits_runner.h"
#include "runner.h"

namespace {

namespace fs = std::filesystem;

// The kept findings of a target, and its seeds too. The seeds must be
// there: a replay of nothing passes nothing. The findings' folder may be
// missing (no finding kept for that target) but not unreadable.
std::vector<fs::path> inputs(const char* kind) {
  std::vector<fs::path> v;
  std::size_t seeds = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    fs::path dir = fs::path(QM_SOURCE_DIR) / "fuzz" / folder / kind;
    if (std::string(folder) == "regressions" && !fs::exists(dir)) continue;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
      if (e.is_regular_file()) v.push_back(e.path());
    EXPECT_FALSE(ec) << dir << ": " << ec.message();
    if (std::string(folder) == "corpus") seeds = v.size();
  }
  EXPECT_GT(seeds, 0u) << "no seeds in fuzz/corpus/" << kind;
  std::sort(v.begin(), v.end());
  return v;
}

void expectOrderly(const qmtest::TimedResult& r, const fs::path& input) {
  SCOPED_TRACE(input.filename().string());
  EXPECT_FALSE(r.signaled) << "signal " << r.status - 128 << "\n" << r.err.substr(0, 2000);
  EXPECT_FALSE(r.timedOut);
  EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status;
  if (r.status == 1) {
    EXPECT_FALSE(r.err.empty());
  }
}

constexpr double kDeadline = 120;

TEST(FuzzRegressions, Reader) {
  for (const fs::path& in : inputs("reader")) {
    for (bool tolerant : {false, true}) {
      qmtest::TempDir d;
      std::vector<std::string> args{"-i", in.string()};
      if (tolerant) args.push_back("-t");
      expectOrderly(qmtest::runTimed(QM_BIN, args, d.path(), kDeadline, {}, "/dev/null", false), in);
    }
  }
}

TEST(FuzzRegressions, Run) {
  const std::vector<fs::path> all = inputs("run");
  EXPECT_TRUE(std::any_of(all.begin(), all.end(),
                          [](const fs::path& p) { return p.parent_path().parent_path().filename() == "regressions"; }))
      << "the findings kept in fuzz/regressions/run are gone";
  for (const fs::path& in : all) {
    qmtest::TempDir d;
    d.write("run.layers.config", qmfuzz::kRunConfig);
    std::string top = qmfuzz::TopName(qmtest::readFile(in.string()));
    auto r = qmtest::runTimed(QM_BIN, {"-t", "-i", in.string(), "-s", top, "-c", "run.layers.config", "-g", "run.svg"},
                              d.path(), kDeadline, {}, "/dev/null", false);
    expectOrderly(r, in);
    if (r.status == 0 && d.exists("run.svg")) {
      pugi::xml_document doc;
      std::string svg = d.read("run.svg");
      EXPECT_TRUE(doc.load_buffer(svg.data(), svg.size())) << in.filename().string();
    }
  }
}

TEST(FuzzRegressions, Config) {
  gdsw::Gds g;
  g.lib("CFG").bgnstr("TOP");
  for (int layer = 0; layer < 12; ++layer) g.rect(layer, layer % 3, 0, 0, 100 + layer, 100);
  g.path(2, 1, 2, 10, {{0, 0}, {50, 50}, {100, 0}});
  g.text(1, 0, "t", 5, 5);
  g.endstr().endlib();
  for (const fs::path& in : inputs("config")) {
    qmtest::TempDir d;
    d.write("in.gds", g.bytes);
    auto r = qmtest::runTimed(QM_BIN, {"-i", "in.gds", "-s", "TOP", "-c", in.string()}, d.path(), kDeadline, {},
                              "/dev/null", false);
    expectOrderly(r, in);
  }
}

}  // namespace
