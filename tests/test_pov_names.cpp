// Scene identifiers: escaped structure names, the X form and texture names.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "common/out.h"
#include "pov/pov.h"
#include "pov_testlib.h"

namespace {

using qm::POVescapeName;
using qm::POVhexName;

TEST(PovNames, ReservedWordTable) {
  int n = 0;
  std::set<std::string> seen;
  int hypercomplex = -1, hollow = -1;
  for (const char* const* p = qm::POVreservedWords; **p; ++p, ++n) {
    seen.insert(*p);
    if (std::strcmp(*p, "hypercomplex") == 0) hypercomplex = n;
    if (std::strcmp(*p, "hollow") == 0) hollow = n;
  }
  EXPECT_EQ(n, 458);
  EXPECT_EQ(seen.size(), 458u);
  EXPECT_EQ(std::string(qm::POVreservedWords[0]), "aa_level");
  EXPECT_EQ(std::string(qm::POVreservedWords[457]), "z");
  EXPECT_EQ(hypercomplex + 1, hollow);
  // Every word gets the K; nothing else changes it.
  for (const char* const* p = qm::POVreservedWords; **p; ++p) EXPECT_EQ(POVescapeName(*p), std::string(*p) + "K");
}

TEST(PovNames, Escapes) {
  const std::string n40 = std::string(40, 'a');
  const std::string n19 = std::string(19, 'a');
  struct Case {
    std::string in, want;
  } cases[] = {
      {"box", "boxK"},
      {"Box", "Box"},
      {"union", "unionK"},
      {"x", "xK"},
      {"X", "X"},
      {"1abc", "E_abc"},
      {"_top", "E_top"},
      {"a_1", "a_1"},
      {"a-b", "aE_b"},
      {"a.b", "aE_b"},
      {"123", "E_23"},
      {"a b$c", "aE_bE_c"},
      {"caf\xc3\xa9", "cafE_E_"},
      {"", ""},
      {n40, n40},
      {n19 + "-" + n19, n19 + "E_" + n19},
  };
  for (const auto& c : cases) EXPECT_EQ(POVescapeName(c.in), c.want) << c.in;
}

TEST(PovNames, HexForm) {
  EXPECT_EQ(POVhexName("AB"), "X004241");
  EXPECT_EQ(POVhexName("j"), "X006B");
  EXPECT_EQ(POVhexName(""), "X00");
  // Values 10 to 15 are the letters B to G.
  EXPECT_EQ(POVhexName("\xaf"), "X00BG");
  // At most 19 bytes: the terminator and the last 18 characters.
  std::string longName = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string x = POVhexName(longName);
  EXPECT_EQ(x.size(), 39u);
  EXPECT_EQ(x.substr(0, 3), "X00");
  EXPECT_EQ(x, POVhexName("zzz" + longName.substr(longName.size() - 18)));
}

TEST(PovNames, FallsBackToHexForm) {
  const std::string n41(41, 'a');
  EXPECT_EQ(POVescapeName(n41), POVhexName(n41));
  EXPECT_EQ(POVescapeName("GDS_TEX_5"), POVhexName("GDS_TEX_5"));
  EXPECT_EQ(POVescapeName("GDS_TEX"), "GDS_TEX");
  // 40 characters with one bad character: no room for the replacement.
  std::string bad40 = std::string(20, 'a') + "-" + std::string(19, 'a');
  EXPECT_EQ(POVescapeName(bad40), POVhexName(bad40));
  // 30 characters: ten replacements fit, the eleventh does not.
  std::string ten = std::string(20, 'a') + std::string(10, '.');
  std::string eleven = std::string(19, 'a') + std::string(11, '.');
  EXPECT_EQ(POVescapeName(ten).size(), 40u);
  EXPECT_EQ(POVescapeName(ten)[0], 'a');
  EXPECT_EQ(POVescapeName(eleven), POVhexName(eleven));
  // Two long names ending in the same 18 characters meet.
  std::string tail(18, 'q');
  EXPECT_EQ(POVescapeName(std::string(30, 'a') + tail), POVescapeName(std::string(30, 'b') + tail));
}

TEST(PovNames, TextureNames) {
  qm::LayerTable t = povtest::makeTable({povtest::plainLayer(5), povtest::plainLayer(5, 2), povtest::plainLayer(-3)});
  EXPECT_EQ(qm::POVtextureName(t, 0), "GDS_TEX_-1");
  EXPECT_EQ(qm::POVtextureName(t, 1), "GDS_TEX_5");
  EXPECT_EQ(qm::POVtextureName(t, 2), "GDS_TEX_5_2");
  EXPECT_EQ(qm::POVtextureName(t, 3), "GDS_TEX_-3");

  qm::CaptureStd cap;
  EXPECT_EQ(qm::POVlayerTexture(cap.console(), t, 5, 2), "GDS_TEX_5_2");
  EXPECT_EQ(qm::POVlayerTexture(cap.console(), t, 5, 7), "GDS_TEX_5");
  EXPECT_EQ(cap.err(), "");
  EXPECT_EQ(qm::POVlayerTexture(cap.console(), t, 6, 1), "GDS_TEX_-1");
  EXPECT_EQ(cap.err(),
            "Warning: Layer 6, datatype 1 found with no corresponding\n layer entry in configuration file.\n");
}

}  // namespace
