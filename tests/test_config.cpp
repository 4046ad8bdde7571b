// Layer configuration parser and lookup.
#include <gtest/gtest.h>
#include <unistd.h>
#include <fcntl.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/out.h"
#include "plain_walks.h"
#include "layers/config.h"
#include "failure.h"

namespace {

using qm::LayerEntry;
using qm::LayerTable;

// A stream holding exactly these bytes (NUL bytes included).
std::FILE* streamOf(const std::string& text) {
  std::FILE* f = std::tmpfile();
  if (!f) return nullptr;
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  return f;
}

struct Parsed {
  int count = 0;
  std::string out, err;
};

Parsed parseText(const std::string& text, LayerTable& table) {
  Parsed p;
  std::FILE* f = streamOf(text);
  EXPECT_NE(f, nullptr);
  {
    qm::CaptureStd cap;
    p.count = qm::ReadLayerConfig(cap.console(), f, table);
    p.out = cap.out();
    p.err = cap.err();
  }
  std::fclose(f);
  return p;
}

// Parses `text` as the program would, standard output and error collected.
qmtest::Outcome parseFailing(const std::string& text) {
  return qmtest::runCaptured([&](const qm::Console& con) {
    LayerTable table;
    std::FILE* f = streamOf(text);
    struct Close {
      std::FILE* f;
      ~Close() { std::fclose(f); }
    } close{f};
    qm::ReadLayerConfig(con, f, table);
  });
}

// Parsing `text` must stop with status 1 and exactly `err` on standard
// error.
#define EXPECT_PARSE_DIES(text, message)                     \
  do {                                                       \
    const qmtest::Outcome parsed_ = parseFailing(text);      \
    EXPECT_EQ(parsed_.status, 1);                            \
    EXPECT_EQ(parsed_.err, std::string(message));            \
  } while (0)

std::string layerLine(const std::string& name, int gdsno, int type, int hidden, double r, double g, double b,
                      int fill, int hatch, double angle, double step, double depth, double thick) {
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "layername = %s, gdsno = %d, type = %d, hidden = %d, red = %.2f, green = %.2f, blue = %.2f,\n"
                " fill = %d hatch = %d, angle = %.2f, step = %.2f, depth = %.2f, thickness = %.2f\n",
                name.c_str(), gdsno, type, hidden, r, g, b, fill, hatch, angle, step, depth, thick);
  return buf;
}

TEST(LayerConfig, EmptyOrCommentOnlyFileGivesTheFallbackEntryOnly) {
  for (const char* text : {"", "# nothing here\n#newlayer gdsno 3 endlayer\n", "\n\n  \t \n", "#"}) {
    LayerTable t;
    Parsed p = parseText(text, t);
    EXPECT_EQ(p.count, 1) << text;
    EXPECT_EQ(t.layerCount, 1);
    EXPECT_EQ(p.out, "dummy hidden layer body\n");
    EXPECT_EQ(p.err, "");
    const LayerEntry& e = t[0];
    EXPECT_EQ(e.name, "NULL");
    EXPECT_EQ(e.gdsno, -1);
    EXPECT_EQ(e.hasDatatype, 0);
    EXPECT_EQ(e.hidden, 1);
    EXPECT_EQ(e.red, 0);
    EXPECT_EQ(e.green, 0);
    EXPECT_EQ(e.blue, 0);
    EXPECT_EQ(e.fill, 0);
    EXPECT_EQ(e.hatch, 0);
    EXPECT_EQ(e.angle, 0);
    EXPECT_EQ(e.step, 100);
    EXPECT_EQ(e.thickness, 0);
    EXPECT_EQ(e.depth, 0);
  }
}

TEST(LayerConfig, FullBlockSetsEveryField) {
  LayerTable t;
  Parsed p = parseText(
      "# metal\n"
      "newlayer\n name metal1\n gdsno 16 datatype 3\n hidden no\n fill yes\n hatch single\n"
      " red 0.25 green 0.5\tblue 0.75\n angle 30 step 2.5 thickness 0.4 depth 1.25\nendlayer\n",
      t);
  EXPECT_EQ(p.count, 2);
  EXPECT_EQ(p.out, "dummy hidden layer body\nnew layer body\n" +
                       layerLine("metal1", 16, 3, 0, 0.25, 0.5, 0.75, 1, 1, 30, 2.5, 1.25, 0.4));
  EXPECT_EQ(p.err, "");
  const LayerEntry& e = t[1];
  EXPECT_EQ(e.name, "metal1");
  EXPECT_EQ(e.gdsno, 16);
  EXPECT_EQ(e.datatype, 3);
  EXPECT_EQ(e.hasDatatype, 1);
  EXPECT_EQ(e.hidden, 0);
  EXPECT_EQ(e.red, 0.25);
  EXPECT_EQ(e.green, 0.5);
  EXPECT_EQ(e.blue, 0.75);
  EXPECT_EQ(e.fill, 1);
  EXPECT_EQ(e.hatch, 1);
  EXPECT_EQ(e.angle, 30);
  EXPECT_EQ(e.step, 2.5);
  EXPECT_EQ(e.thickness, 0.4);
  EXPECT_EQ(e.depth, 1.25);
}

TEST(LayerConfig, ProgressLineFormats) {
  // No name, no datatype, hidden by default; the whole block on one line.
  LayerTable t;
  Parsed p = parseText("newlayer gdsno 7 hatch cross fill false hidden true endlayer\n", t);
  EXPECT_EQ(p.out,
            "dummy hidden layer body\nnew layer body\n"
            "layername = Layer7, gdsno = 7, type = -1, hidden = 1, red = 0.00, green = 0.00, blue = 0.00,\n"
            " fill = 0 hatch = 2, angle = 0.00, step = 100.00, depth = 0.00, thickness = 0.00\n");
  EXPECT_EQ(t[1].name, "Layer7");
  EXPECT_EQ(t[1].hidden, 1);
  EXPECT_EQ(t[1].hatch, 2);
}

TEST(LayerConfig, WordValues) {
  struct Case {
    const char* text;
    int hidden, fill, hatch;
  } cases[] = {
      {"newlayer endlayer", 1, 0, 0},
      {"newlayer hidden no endlayer", 0, 0, 0},
      {"newlayer hidden false fill true endlayer", 0, 1, 0},
      {"newlayer hidden yes fill yes hatch cross endlayer", 1, 1, 2},
      {"newlayer fill no hatch single endlayer", 1, 0, 1},
      {"newlayer hatch cross hatch no endlayer", 1, 0, 0},
      {"newlayer hatch single hatch false endlayer", 1, 0, 0},
  };
  for (const Case& c : cases) {
    LayerTable t;
    parseText(c.text, t);
    EXPECT_EQ(t[1].hidden, c.hidden) << c.text;
    EXPECT_EQ(t[1].fill, c.fill) << c.text;
    EXPECT_EQ(t[1].hatch, c.hatch) << c.text;
  }
}

// The normalisation written out as repeated subtraction and addition.
double angleByLoop(double a) {
  while (a > 180) a -= 180;
  while (a < 0) a += 180;
  return a;
}

TEST(LayerConfig, AngleNormalisation) {
  struct Case {
    const char* value;
    double expect;
  } cases[] = {
      {"370", 10},  {"-30", 150}, {"360", 180},   {"-180", 0},  {"180", 180}, {"0", 0},
      {"540", 180}, {"-0.5", 179.5}, {"45.5", 45.5}, {"181", 1}, {"-360", 0}, {"1e6", 100},
  };
  for (const Case& c : cases) {
    LayerTable t;
    parseText(std::string("newlayer angle ") + c.value + " endlayer", t);
    EXPECT_EQ(t[1].angle, c.expect) << c.value;
  }
  // Same bits as the step-by-step loop, fractions included.
  for (const char* v : {"1000.3", "-1000.3", "370.1", "-180.0000000001", "-1e-300", "179.99999999999997",
                        "123456.789", "-98765.4321", "1e7"}) {
    LayerTable t;
    parseText(std::string("newlayer angle ") + v + " endlayer", t);
    double want = angleByLoop(std::strtod(v, nullptr));
    EXPECT_EQ(std::memcmp(&t[1].angle, &want, sizeof want), 0) << v << " " << t[1].angle << " " << want;
  }
  // Huge values end in range instead of looping for ever; NaN stays NaN.
  {
    LayerTable t;
    parseText("newlayer angle 1e300 endlayer angle -1e300 endlayer angle nan endlayer", t);
    EXPECT_GE(t[1].angle, 0);
    EXPECT_LE(t[1].angle, 180);
    EXPECT_GE(t[2].angle, 0);
    EXPECT_LE(t[2].angle, 180);
    EXPECT_TRUE(std::isnan(t[3].angle));
  }
}

TEST(LayerConfig, NumbersTakeTheirLongestPrefix) {
  struct Case {
    const char* text;
    int gdsno;
    double red;
  } cases[] = {
      {"gdsno 12 red 0.5", 12, 0.5},
      {"gdsno 12x red 0.5abc", 12, 0.5},
      {"gdsno +3 red +1e-1", 3, 0.1},
      {"gdsno -4 red -.5", -4, -0.5},
      {"gdsno 007 red 2.", 7, 2},
      {"gdsno 1.9 red 1.5.5", 1, 1.5},
      {"gdsno 0x10 red 0x10", 0, 16},
      {"gdsno 5\r red 0.5\r", 5, 0.5},
      {"gdsno \v8 red \f0.25", 8, 0.25},
      {"gdsno 4294967301 red 1e2", 5, 100},
  };
  for (const Case& c : cases) {
    LayerTable t;
    Parsed p = parseText(std::string("newlayer ") + c.text + " endlayer\n", t);
    EXPECT_EQ(t[1].gdsno, c.gdsno) << c.text;
    EXPECT_EQ(t[1].red, c.red) << c.text;
    EXPECT_EQ(p.err, "") << c.text;
  }
}

TEST(LayerConfig, PendingColourRules) {
  LayerTable t;
  Parsed p = parseText(
      "newlayer red 0.5 green 0.25 blue 0.125 gdsno 1 endlayer\n"
      // A block without newlayer keeps the pending colour of the previous one.
      "gdsno 2 endlayer\n"
      // Colours between endlayer and newlayer are thrown away by newlayer.
      "red 1 green 1 blue 1 newlayer gdsno 3 endlayer\n"
      // newlayer twice works on the same entry.
      "newlayer gdsno 4 red 0.75 name first newlayer gdsno 5 endlayer\n",
      t);
  EXPECT_EQ(p.count, 5);
  EXPECT_EQ(t[1].red, 0.5);
  EXPECT_EQ(t[1].green, 0.25);
  EXPECT_EQ(t[1].blue, 0.125);
  EXPECT_EQ(t[2].gdsno, 2);
  EXPECT_EQ(t[2].red, 0.5);
  EXPECT_EQ(t[2].green, 0.25);
  EXPECT_EQ(t[2].blue, 0.125);
  // A never-used slot: visible, step 0, named after its gdsno.
  EXPECT_EQ(t[2].hidden, 0);
  EXPECT_EQ(t[2].step, 0);
  EXPECT_EQ(t[2].name, "Layer2");
  EXPECT_EQ(t[3].red, 0);
  EXPECT_EQ(t[3].green, 0);
  EXPECT_EQ(t[3].blue, 0);
  EXPECT_EQ(t[4].gdsno, 5);
  EXPECT_EQ(t[4].red, 0);
  EXPECT_EQ(t[4].name, "Layer5");
  EXPECT_NE(p.out.find(layerLine("Layer2", 2, -1, 0, 0.5, 0.25, 0.125, 0, 0, 0, 0, 0, 0)), std::string::npos);
}

TEST(LayerConfig, KeywordsAfterTheLastBlockHaveNoEffect) {
  LayerTable t;
  Parsed p = parseText("newlayer gdsno 1 endlayer\nnewlayer gdsno 9 name x red 1\n", t);
  EXPECT_EQ(p.count, 2);
  EXPECT_EQ(t.layerCount, 2);
  EXPECT_EQ(p.out, "dummy hidden layer body\nnew layer body\n" +
                       layerLine("Layer1", 1, -1, 1, 0, 0, 0, 0, 0, 0, 100, 0, 0) + "new layer body\n");
}

TEST(LayerConfig, OtherTokensAreEchoed) {
  LayerTable t;
  Parsed p = parseText(
      "newlayer red 0.5 # comment\n"
      "Red colour 12 Xyz _x \xc3\x84rger ( #endlayer\n"
      "gdsno 3 endlayer\n",
      t);
  EXPECT_EQ(p.count, 2);
  EXPECT_EQ(p.err,
            "token = #\ntoken = comment\ntoken = Red\ntoken = colour\ntoken = 12\ntoken = Xyz\n"
            "token = _x\ntoken = \xc3\x84rger\ntoken = (\ntoken = #endlayer\n");
  EXPECT_EQ(t[1].red, 0.5);
  EXPECT_EQ(t[1].gdsno, 3);
}

TEST(LayerConfig, NameTakesAnyToken) {
  LayerTable t;
  parseText("newlayer name endlayer endlayer newlayer name #poly gdsno 2 endlayer\n", t);
  EXPECT_EQ(t[1].name, "endlayer");
  EXPECT_EQ(t[2].name, "#poly");
}

TEST(LayerConfig, LongLinesAreReadIn1023BytePieces) {
  // The second piece of a long line starts with '#': it is a comment, so the
  // "endlayer" in it is not seen.
  {
    std::string first = "newlayer gdsno 3";
    first.resize(1023, ' ');
    LayerTable t;
    Parsed p = parseText(first + "#x endlayer\nendlayer\n", t);
    EXPECT_EQ(p.count, 2);
    EXPECT_EQ(t[1].gdsno, 3);
    EXPECT_EQ(p.err, "");
  }
  // A token cut by the piece boundary becomes two tokens.
  {
    std::string first = "newlayer gdsno 1";
    first.resize(1021, ' ');
    first += "12";  // "12" ends the first piece, "34" starts the second
    LayerTable t;
    Parsed p = parseText(first + "34 endlayer\n", t);
    EXPECT_EQ(t[1].gdsno, 1);
    EXPECT_EQ(p.err, "token = 12\ntoken = 34\n");
  }
  // A line of exactly 1023 characters plus its newline counts as two lines;
  // a line of 1022 plus its newline as one.
  for (int len : {1022, 1023, 1024, 2046, 2047}) {
    std::string line(static_cast<std::size_t>(len), ' ');
    int pieces = (len + 1 + 1022) / 1023;
    std::string expect = "Syntax error at line " + std::to_string(pieces + 1) + ": unknown token bogus\n";
    EXPECT_PARSE_DIES(line + "\nbogus\n", expect);
  }
  // A cut keyword is reported with the number of the piece it ends.
  {
    std::string first(1021, ' ');
    EXPECT_PARSE_DIES(first + "red 0.5\n", "Syntax error at line 1: unknown token re\n");
  }
}

TEST(LayerConfig, NulByteEndsTheLine) {
  LayerTable t;
  Parsed p = parseText(std::string("newlayer gdsno 5\0 endlayer red 1\n", 33) + "endlayer\n", t);
  EXPECT_EQ(p.count, 2);
  EXPECT_EQ(t[1].gdsno, 5);
  EXPECT_EQ(t[1].red, 0);
}

TEST(LayerConfig, OnlyBlankTabAndNewlineSeparate) {
  LayerTable t;
  Parsed p = parseText("newlayer\tgdsno\t6\tendlayer\n", t);
  EXPECT_EQ(t[1].gdsno, 6);
  EXPECT_PARSE_DIES("# crlf\r\nnewlayer\r\nhidden no\r\n", "Syntax error at line 2: unknown token newlayer\r\n");
  EXPECT_PARSE_DIES("newlayer hidden no\r\n", "Syntax error at line 1: unknown token no\r\n");
}

TEST(LayerConfig, SyntaxErrors) {
  struct Case {
    std::string text;
    std::string err;
  } cases[] = {
      {"# one\nnewlayer red\n0.5\n", "Syntax error at line 2: missing number\n"},
      {"green", "Syntax error at line 1: missing number\n"},
      {"\n\nblue \t\n", "Syntax error at line 3: missing number\n"},
      {"gdsno\n", "Syntax error at line 1: missing number\n"},
      {"datatype\n", "Syntax error at line 1: missing number\n"},
      {"angle\n", "Syntax error at line 1: missing number\n"},
      {"step\n", "Syntax error at line 1: missing number\n"},
      {"thickness\n", "Syntax error at line 1: missing number\n"},
      {"depth\n", "Syntax error at line 1: missing number\n"},
      {"#\n#\nhidden\nno\n", "Syntax error at line 3: missing token\n"},
      {"fill\n", "Syntax error at line 1: missing token\n"},
      {"hatch\n", "Syntax error at line 1: missing token\n"},
      {"newlayer\nname\nmetal\n", "Syntax error at line 2: missing layer name\n"},
      {"newlayer hatch yes\n", "Syntax error at line 1: unknown token yes\n"},
      {"newlayer hatch true\n", "Syntax error at line 1: unknown token true\n"},
      {"hidden maybe\n", "Syntax error at line 1: unknown token maybe\n"},
      {"fill 1\n", "Syntax error at line 1: unknown token 1\n"},
      {"hidden Yes\n", "Syntax error at line 1: unknown token Yes\n"},
      {"newlayer red 0.5 # the comment\n", "token = #\nSyntax error at line 1: unknown token the\n"},
      {"\nrgb 1 1 1\n", "Syntax error at line 2: unknown token rgb\n"},
      {"endlayers\n", "Syntax error at line 1: unknown token endlayers\n"},
      {"Name x newLayer\n", "token = Name\ntoken = x\nSyntax error at line 1: unknown token newLayer\n"},
      {"a b d e f g h n r s t\n", "Syntax error at line 1: unknown token a\n"},
      {"bx\n", "Syntax error at line 1: unknown token bx\n"},
      {"tx\n", "Syntax error at line 1: unknown token tx\n"},
      {"red abc\n", "Syntax error at line 1: bad number syntax abc\n"},
      {"gdsno x1\n", "Syntax error at line 1: bad number syntax x1\n"},
      {"datatype -\n", "Syntax error at line 1: bad number syntax -\n"},
      {"step .\n", "Syntax error at line 1: bad number syntax .\n"},
      {"depth e5\n", "Syntax error at line 1: bad number syntax e5\n"},
      {"# c\n# c\n\nthickness #\n", "Syntax error at line 4: bad number syntax #\n"},
      {"angle inf\n", "Syntax error at line 1: bad number syntax inf\n"},
      {"angle -1e400\n", "Syntax error at line 1: bad number syntax -1e400\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_PARSE_DIES(c.text, c.err);
  }
}

TEST(LayerConfig, TableHolds1023Blocks) {
  std::string text;
  for (int i = 1; i <= 1023; ++i) text += "newlayer gdsno " + std::to_string(i) + " endlayer\n";
  LayerTable t;
  Parsed p = parseText(text + "newlayer gdsno 9999 red 1 name extra\n", t);
  EXPECT_EQ(p.count, 1024);
  EXPECT_EQ(t[1023].gdsno, 1023);
  EXPECT_EQ(t[1023].name, "Layer1023");
  EXPECT_EQ(p.err, "");
  EXPECT_PARSE_DIES(text + "# one more\nnewlayer gdsno 1024\nendlayer\n", "Syntax error at line 1026: too many layers\n");
}

// Lookup.

std::string lookupTable(LayerTable& t) {
  return parseText(
             "newlayer gdsno 5 name any5 endlayer\n"      // 1
             "newlayer gdsno 5 datatype 2 endlayer\n"     // 2
             "newlayer gdsno 8 name first8 endlayer\n"    // 3
             "newlayer gdsno 8 name later8 endlayer\n"    // 4
             "newlayer gdsno 9 datatype 1 endlayer\n"     // 5
             "newlayer gdsno 9 datatype 1 endlayer\n"     // 6
             "newlayer gdsno 9 endlayer\n"                // 7
             "newlayer gdsno -7 datatype -3 endlayer\n",  // 8
             t)
      .err;
}

std::string warning(int layer, int datatype) {
  return "Warning: Layer " + std::to_string(layer) + ", datatype " + std::to_string(datatype) +
         " found with no corresponding\n layer entry in configuration file.\n";
}

TEST(LayerLookup, Rules) {
  for (bool plain : {false, true}) {
    LayerTable t;
    lookupTable(t);
    struct Case {
      int layer, datatype, index;
      bool warns;
    } cases[] = {
        {5, 2, 2, false}, {5, 7, 1, false}, {5, 0, 1, false}, {8, 0, 4, false},  {9, 1, 5, false},
        {9, 0, 7, false}, {6, 0, 0, true},  {-1, 0, 0, false}, {-1, 42, 0, false}, {-7, -3, 8, false},
        {-7, 3, 0, true}, {2147483647, -2147483647 - 1, 0, true},
    };
    for (const Case& c : cases) {
      // Twice: the warning comes again on every failed lookup.
      for (int round = 0; round < 2; ++round) {
        qm::CaptureStd cap;
        EXPECT_EQ(plain ? plainwalks::findLayerEntry(cap.console(), t, c.layer, c.datatype) : t.FindLayerEntry(cap.console(), c.layer, c.datatype),
                  c.index)
            << c.layer << "/" << c.datatype;
        EXPECT_EQ(cap.err(), c.warns ? warning(c.layer, c.datatype) : "") << c.layer << "/" << c.datatype;
      }
    }
  }
}

TEST(LayerLookup, FastAndPlainAgree) {
  LayerTable t;
  lookupTable(t);
  auto sweep = [&](bool plain) {
    qm::CaptureStd cap;
    std::string got;
    for (int round = 0; round < 2; ++round)
      for (int l = -8; l <= 10; ++l)
        for (int d = -4; d <= 3; ++d)
          got += std::to_string(plain ? plainwalks::findLayerEntry(cap.console(), t, l, d) : t.FindLayerEntry(cap.console(), l, d)) + ",";
    return got + cap.err();
  };
  std::string plain = sweep(true);
  EXPECT_EQ(sweep(false), plain);
}

TEST(LayerLookup, FollowsAReparsedTable) {
  LayerTable t;
  parseText("newlayer gdsno 3 endlayer\n", t);
  {
    qm::CaptureStd cap;
    EXPECT_EQ(t.FindLayerEntry(cap.console(), 4, 0), 0);
    EXPECT_EQ(t.FindLayerEntry(cap.console(), 3, 0), 1);
  }
  parseText("newlayer gdsno 4 endlayer\nnewlayer gdsno 3 endlayer\n", t);
  qm::CaptureStd cap;
  EXPECT_EQ(t.FindLayerEntry(cap.console(), 4, 0), 1);
  EXPECT_EQ(t.FindLayerEntry(cap.console(), 3, 0), 2);
  EXPECT_EQ(cap.err(), "");
}

}  // namespace
