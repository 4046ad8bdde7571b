// Scene identifiers against the POV-Ray that is installed: every word it
// refuses as an identifier is escaped, and structures whose names escape to
// one identifier still get one declaration each.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "gdsw.h"
#include "need_tool.h"
#include "pov/pov.h"
#include "pov_testlib.h"
#include "render.h"
#include "ppm_image.h"
#include "runner.h"

namespace {

std::vector<std::string> allReservedWords() {
  std::vector<std::string> words;
  for (const char* const* p = qm::POVreservedWords; **p; ++p) words.emplace_back(*p);
  for (const char* const* p = qm::POVmoreReservedWords; **p; ++p) words.emplace_back(*p);
  return words;
}

// Runs POV-Ray on `scene` in `d`, writing a PPM image; returns the result.
qmtest::RunResult povray(const qmtest::TempDir& d, const std::string& scene, int w = 160, int h = 120) {
  d.write("scene.pov", scene);
  return qmtest::run("/bin/sh",
                     {"-c", "exec povray +Iscene.pov +Oscene.ppm +FP +W" + std::to_string(w) + " +H" +
                                std::to_string(h) + " -D -V"},
                     d.path());
}

// The line of the first parse error POV-Ray reports, 0 when none.
int errorLine(const std::string& messages) {
  std::size_t at = messages.find("' line ");
  if (at == std::string::npos || messages.find("Parse Error") == std::string::npos) return 0;
  return std::atoi(messages.c_str() + at + 7);
}

TEST(PovReserved, TablesHoldEveryWordTheInstalledPovRayRefuses) {
  QM_NEED_TOOL("povray");
  std::filesystem::path exe = std::filesystem::canonical(qmtest::programPath("povray"));
  // The reserved words are spelled out in the program itself: every run of
  // lower-case identifier characters in it is a candidate. Declaring the candidates
  // that the tables do not hold must work.
  std::string bin = qmtest::readFile(exe.string());
  ASSERT_GT(bin.size(), 100000u);
  auto identChar = [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  };
  std::set<std::string> candidates;
  for (std::size_t i = 0; i < bin.size();) {
    if (!identChar(static_cast<unsigned char>(bin[i]))) {
      ++i;
      continue;
    }
    std::size_t b = i;
    while (i < bin.size() && identChar(static_cast<unsigned char>(bin[i]))) ++i;
    // The linker keeps one copy of a string that ends another one (abs in
    // fabs), so every tail of a run is a candidate too.
    std::string run = bin.substr(b, i - b);
    if (run.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos) continue;
    for (std::size_t k = 0; k < run.size(); ++k)
      if (run[k] >= 'a' && run[k] <= 'z' && run.size() - k <= 40) candidates.insert(run.substr(k));
  }
  std::vector<std::string> reserved = allReservedWords();
  for (const std::string& w : reserved) {
    EXPECT_TRUE(qm::POVisReserved(w)) << w;
    // Every reserved word is among the program's words (user_defined is
    // reserved from 3.7.1 on).
    if (w != "user_defined") {
      EXPECT_TRUE(candidates.count(w)) << "not in the program: " << w;
    }
  }
  std::vector<std::string> others;
  for (const std::string& w : candidates)
    if (!qm::POVisReserved(w)) others.push_back(w);
  ASSERT_GT(others.size(), 200u);
  std::string scene;
  for (const std::string& w : others) scene += "#declare " + w + " = 1;\n";
  qmtest::TempDir d;
  qmtest::RunResult r = povray(d, scene, 8, 8);
  int line = errorLine(r.err);
  EXPECT_EQ(line, 0) << "POV-Ray refuses " << (line > 0 && line <= static_cast<int>(others.size()) ? others[line - 1] : "?")
                     << " as an identifier:\n" << r.err;
  EXPECT_EQ(r.status, 0) << r.err;

  // And the words of the second table are really refused: declared one
  // after another, each stops the parse at its own line.
  std::vector<std::string> more;
  for (const char* const* p = qm::POVmoreReservedWords; **p; ++p)
    if (candidates.count(*p)) more.emplace_back(*p);
  for (std::size_t k = 0; k < more.size(); k += 37) {  // a spread sample keeps the test short
    r = povray(d, "#declare ok_word = 1;\n#declare " + more[k] + " = 1;\n", 8, 8);
    EXPECT_EQ(errorLine(r.err), 2) << more[k] << "\n" << r.err;
  }
}

TEST(PovReserved, StructuresNamedLikeReservedWordsRender) {
  QM_NEED_TOOL("povray");
  std::vector<std::string> words = allReservedWords();
  // One structure per word, each a square in a row of its own; TOP places
  // them all.
  gdsw::Gds g;
  g.lib();
  for (std::size_t i = 0; i < words.size(); ++i) {
    int x = static_cast<int>(i % 30) * 100, y = static_cast<int>(i / 30) * 100;
    g.bgnstr(words[i]).rect(1, 0, x, y, x + 80, y + 80).endstr();
  }
  g.bgnstr("TOP");
  for (const std::string& w : words) g.sref(w, 0, 0);
  g.endstr().endlib();
  qmtest::TempDir d;
  d.write("in.gds", g.bytes);
  d.write("layers", "newlayer name m gdsno 1 hidden no red 1 green 0 blue 0 depth 1 thickness 1 endlayer\n");
  qmtest::RunResult q = qmtest::quillmask({"-i", "in.gds", "-s", "TOP", "-c", "layers"}, d.path());
  ASSERT_EQ(q.status, 0) << q.err;
  std::string scene = d.read("result.pov");
  for (const std::string& w : words) EXPECT_NE(scene.find("#declare " + w + "K = \n"), std::string::npos) << w;

  qmtest::RunResult r = povray(d, scene);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(errorLine(r.err), 0) << r.err;
  qmtest::PpmImage img;
  ASSERT_TRUE(qmtest::parsePpm(d.read("scene.ppm"), img));
  long red = img.count([](int r, int g, int b) { return r > 100 && g < 60 && b < 60; });
  EXPECT_GT(red, img.width * img.height / 20);
}

// --- names that escape to one identifier ---------------------------------

// TOP places a-b (red, on the left) and a.b (blue, on the right).
std::string collidingLibrary(const std::vector<std::string>& extra = {}) {
  gdsw::Gds g;
  g.lib();
  g.bgnstr("a-b").rect(1, 0, 0, 0, 1000, 1000).endstr();
  g.bgnstr("a.b").rect(2, 0, 0, 0, 1000, 1000).endstr();
  for (const std::string& n : extra) g.bgnstr(n).rect(1, 0, 0, 0, 10, 10).endstr();
  g.bgnstr("TOP").sref("a-b", 0, 0).sref("a.b", 2000, 0);
  for (const std::string& n : extra) g.sref(n, 0, 3000);
  g.endstr().endlib();
  return g.bytes;
}

const char* kTwoColours =
    "newlayer name r gdsno 1 hidden no red 1 green 0 blue 0 depth 1 thickness 1 endlayer\n"
    "newlayer name b gdsno 2 hidden no red 0 green 0 blue 1 depth 1 thickness 1 endlayer\n";

std::string sceneOf(const std::string& gds, const std::string& config = kTwoColours) {
  qmtest::TempDir d;
  d.write("in.gds", gds);
  d.write("layers", config);
  qmtest::RunResult q = qmtest::quillmask({"-i", "in.gds", "-s", "TOP", "-c", "layers"}, d.path());
  EXPECT_EQ(q.status, 0) << q.err;
  return d.read("result.pov");
}

TEST(PovReserved, CollidingNamesGetDistinctIdentifiers) {
  std::string scene = sceneOf(collidingLibrary());
  // Byte order: a-b (0x2d) before a.b (0x2e) keeps the identifier.
  EXPECT_EQ(povtest::countOf(scene, "#declare aE_b = \n box"), 1u) << scene;
  EXPECT_EQ(povtest::countOf(scene, "#declare aE_b_2 = \n box"), 1u) << scene;
  std::size_t ab = scene.find("#declare aE_b = \n");
  EXPECT_NE(scene.find("texture { GDS_TEX_1 }", ab), std::string::npos);
  EXPECT_NE(scene.find(" object { aE_b \n  scale < 1.000000,1.0,1.000000>\n  rotate < 0.0,-0.000000,0.0 >\n"
                       "  translate <0.000000,0.0,0.000000 >\n"),
            std::string::npos)
      << scene;
  EXPECT_NE(scene.find(" object { aE_b_2 \n  scale < 1.000000,1.0,1.000000>\n  rotate < 0.0,-0.000000,0.0 >\n"
                       "  translate <2000.000000,0.0,0.000000 >\n"),
            std::string::npos)
      << scene;

  // An identifier in use is skipped; names cut to 40 characters make room.
  std::string scene2 = sceneOf(collidingLibrary({"aE_b_2", "a:b"}));
  EXPECT_NE(scene2.find("#declare aE_b_2 = \n"), std::string::npos);  // the clean name keeps its own
  EXPECT_NE(scene2.find("#declare aE_b_3 = \n"), std::string::npos);  // a.b
  EXPECT_NE(scene2.find("#declare aE_b_4 = \n"), std::string::npos);  // a:b
  std::string longA = std::string(38, 'x') + "-", longB = std::string(38, 'x') + ".";
  std::string scene3 = sceneOf(collidingLibrary({longA, longB}));
  EXPECT_NE(scene3.find("#declare " + std::string(38, 'x') + "E_ = \n"), std::string::npos) << scene3;
  EXPECT_NE(scene3.find("#declare " + std::string(38, 'x') + "_2 = \n"), std::string::npos) << scene3;
}

TEST(PovReserved, CollidingNamesRenderBothStructures) {
  QM_NEED_TOOL("povray");
  std::string scene = sceneOf(collidingLibrary());
  qmtest::TempDir d;
  qmtest::RunResult r = povray(d, scene);
  ASSERT_EQ(r.status, 0) << r.err;
  qmtest::PpmImage img;
  ASSERT_TRUE(qmtest::parsePpm(d.read("scene.ppm"), img));
  long red = img.count([](int r, int g, int b) { return r > 100 && g < 60 && b < 60; });
  long blue = img.count([](int r, int g, int b) { return b > 100 && r < 60 && g < 60; });
  EXPECT_GT(red, 100);
  EXPECT_GT(blue, 100);
}

// The same library through the plain walks gives the same scene.
TEST(PovReserved, CollisionsTheSameInBothWalks) {
  povtest::LibBuilder b;
  int ab = b.add("a-b");
  b.rect(ab, 1, 0, 0, 10, 10);
  int adb = b.add("a.b");
  b.rect(adb, 1, 0, 0, 10, 10);
  int top = b.add("TOP");
  b.sref(top, "a.b").sref(top, "a-b", povtest::GDStransf{1, 0, 50, 0, 1, 0});
  const qm::GDSlibrary& lib = b.doneAsRead();
  povtest::Layer l = povtest::plainLayer(1);
  l.thickness = 1;
  qm::LayerTable t = povtest::makeTable({l});
  povtest::SceneRun fast = povtest::writeScene(lib, t, "TOP");
  povtest::SceneRun plain = povtest::writeScene(lib, t, "TOP", true);
  EXPECT_EQ(fast.scene, plain.scene);
  EXPECT_EQ(fast.out, plain.out);
  EXPECT_EQ(fast.err, plain.err);
  EXPECT_NE(fast.scene.find("#declare aE_b_2 = \n"), std::string::npos) << fast.scene;
}

}  // namespace
