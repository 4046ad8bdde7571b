// Tolerant reading: each tolerated record, what strict reading says of it,
// and identical results for libraries that strict reading accepts.
#include <gtest/gtest.h>

#include "gdsw.h"
#include "runner.h"

using namespace gdsw;
using qmtest::TempDir;

namespace {

std::string R(int type, const std::string& data = {}) { return Gds().rec(type, data).bytes; }
const std::string kLayer = R(LAYER, i2(3)), kDt = R(DATATYPE, i2(0)), kEndel = R(ENDEL);
const std::string kXy5 = R(XY, xy({{0, 0}, {0, 100}, {200, 100}, {200, 0}, {0, 0}}));
const std::string kProps = R(PROPATTR, i2(1)) + R(PROPVALUE, strdata("net1"));
const std::string kDone = "For the time being, please look at the file result.txt\n";

std::string lib(const std::string& body) {
  return Gds().lib().bgnstr("A").raw(body).endstr().bgnstr("B").endstr().endlib().bytes;
}

TEST(Tolerant, EachToleratedRecord) {
  TempDir d;
  struct Case {
    const char* what;
    std::string body;
    std::string strictErr;   // strict reading stops (or ends early) with this
    int strictStatus;
    std::string tolerantOut;  // a line tolerant reading echoes
    std::string tolerantErr;  // what tolerant reading reports before the closing line
  } cases[] = {
      {"ELFLAGS and PLEX before a boundary", R(BOUNDARY) + R(ELFLAGS, i2(0)) + R(PLEX, i4(1)) + kLayer + kDt + kXy5 + kEndel,
       "Missing LAYER field in BOUNDARY element. Abort!\n", 1, "Boundary on layer 3, datatype 0:\npoint[0] = 0 0\n",
       "Skipped 1 ELFLAGS records\nSkipped 1 PLEX records\n"},
      {"properties on a boundary", R(BOUNDARY) + kLayer + kDt + kXy5 + kProps + kProps + kEndel,
       "Missing ENDEL field in BOUNDARY element. Abort!\n", 1, "Boundary on layer 3, datatype 0:\n",
       "Skipped 2 PROPATTR records\nSkipped 2 PROPVALUE records\n"},
      {"properties on an instance", R(SREF) + R(SNAME, "B") + R(XY, i4(5) + i4(6)) + kProps + kEndel,
       "Missing ENDEL field in SREF element. Abort!\n", 1,
       "Sref at 5,6, angle = 0.00e+00, mag = 1.00e+00, mirror = 0 of cell named \"B\"\n",
       "Skipped 1 PROPATTR records\nSkipped 1 PROPVALUE records\n"},
      {"PLEX before an array", R(AREF) + R(PLEX, i4(1)) + R(SNAME, "B") + R(COLROW, i2(2) + i2(1)) +
           R(XY, xy({{0, 0}, {20, 0}, {0, 10}})) + kEndel,
       "Missing SNAME field in AREF element. Abort!\n", 1, "Aref at 0,0/ of cell named \"B\", c/r  = 2/1",
       "Skipped 1 PLEX records\n"},
      {"wire without PATHTYPE", R(PATH) + kLayer + kDt + R(WIDTH, i4(20)) + R(XY, xy({{0, 0}, {100, 0}})) + kEndel,
       "Missing PATHTYPE field in PATH element. Abort!\n", 1, "Path on layer 3, datatype 0, of type 0 with width = 20:\n",
       ""},
      {"wire without WIDTH", R(PATH) + kLayer + kDt + R(PATHTYPE, i2(2)) + R(XY, xy({{0, 0}, {100, 0}})) + kEndel,
       "Missing WIDTH field in PATH element. Abort!\n", 1, "Path on layer 3, datatype 0, of type 2 with width = 0:\n", ""},
      {"custom ends with extensions",
       R(PATH) + kLayer + kDt + R(PATHTYPE, i2(4)) + R(WIDTH, i4(20)) + R(BGNEXTN, i4(5)) + R(ENDEXTN, i4(-3)) +
           R(XY, xy({{0, 0}, {100, 0}})) + kEndel,
       "Custom ended path not supported. Used extended instead\nMissing XY field in PATH element. Abort!\n", 1,
       "Path on layer 3, datatype 0, of type 2 with width = 20:\n", ""},
      {"custom ends without extensions",
       R(PATH) + kLayer + kDt + R(PATHTYPE, i2(4)) + R(WIDTH, i4(20)) + R(XY, xy({{0, 0}, {100, 0}})) + kEndel,
       "Custom ended path not supported. Used extended instead\n", 0,
       "Path on layer 3, datatype 0, of type 2 with width = 20:\n",
       "Custom ended path not supported. Used extended instead\n"},
      {"text without PRESENTATION", R(TEXT) + kLayer + R(TEXTTYPE, i2(0)) + R(XY, i4(1) + i4(2)) + R(STRING, "AB") + kEndel,
       "Missing PRESENTATION field in TEXT element. Abort!\n", 1,
       "String on layer 3, datatype 0, at 1,2 = \"AB\"\nhjust = 0, vjust = 0,", ""},
      {"wire attributes in a text",
       R(TEXT) + kLayer + R(TEXTTYPE, i2(0)) + R(PRESENTATION, i2(0)) + R(PATHTYPE, i2(0)) + R(WIDTH, i4(-5)) +
           R(XY, i4(1) + i4(2)) + R(STRING, "AB") + kProps + kEndel,
       "Missing STRANS or XY field in TEXT element. Abort!\n", 1, "String on layer 3, datatype 0, at 1,2 = \"AB\"\n",
       "Skipped 1 WIDTH records\nSkipped 1 PATHTYPE records\nSkipped 1 PROPATTR records\nSkipped 1 PROPVALUE records\n"},
      {"ANGLE before MAG", R(SREF) + R(SNAME, "B") + R(STRANS, i2(0)) + R(ANGLE, r8(90)) + R(MAG, r8(2)) +
           R(XY, i4(0) + i4(0)) + kEndel,
       "Missing XY field in SREF element. Abort!\n", 1, "angle = 9.00e+01, mag = 2.00e+00, mirror = 0", ""},
      {"a BOX", R(BOX) + kLayer + R(BOXTYPE, i2(7)) + kXy5 + kEndel, "READING BOX NOT YET IMPLEMENTED\n", 0,
       "Box on layer 3, boxtype 7:\npoint[0] = 0 0\npoint[1] = 0 100\n", ""},
      {"a NODE", R(NODE) + kLayer + R(NODETYPE, i2(1)) + R(XY, i4(0) + i4(0)) + kEndel,
       "READING NODE NOT YET IMPLEMENTED\n", 0, "strname = B\n", "Skipped 1 NODE records\n"},
  };
  for (const auto& c : cases) {
    std::string input = lib(c.body);
    auto strict = qmtest::quillmask({}, d.path(), input);
    EXPECT_EQ(strict.status, c.strictStatus) << c.what;
    EXPECT_EQ(strict.err, c.strictErr + (c.strictStatus == 0 ? kDone : "")) << c.what;
    auto tol = qmtest::quillmask({"--tolerant"}, d.path(), input);
    EXPECT_EQ(tol.status, 0) << c.what << tol.err;
    EXPECT_NE(tol.out.find(c.tolerantOut), std::string::npos) << c.what << "\n" << tol.out;
    EXPECT_EQ(tol.err, c.tolerantErr + kDone) << c.what;
    EXPECT_NE(tol.out.find("strname = B\n"), std::string::npos) << c.what;  // the library is read to its end
  }
}

TEST(Tolerant, BoxIsListedAndDrawnLikeABoundary) {
  TempDir d;
  std::string input = Gds().lib().bgnstr("TOP").raw(R(BOX) + kLayer + R(BOXTYPE, i2(0)) + kXy5 + kEndel).endstr().endlib().bytes;
  d.write("c", "newlayer gdsno 3 hidden no fill yes endlayer\n");
  auto r = qmtest::quillmask({"-t", "-s", "TOP", "-c", "c"}, d.path(), input);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(d.read("result.txt"),
            "Read a struct named TOP which contains the layers:\nno. 3, type 0,\nand the cells:\n:BOX, \n\n");
  EXPECT_NE(d.read("result.ps").find("0 0 2 1 rectstroke\n"), std::string::npos);
  EXPECT_NE(d.read("result.pov").find(" box {"), std::string::npos);
  EXPECT_NE(d.read("result.plt").find("PU0,0ER2,1"), std::string::npos);
}

// Libraries that strict reading accepts give the same bytes either way.
TEST(Tolerant, StrictLibrariesGiveIdenticalResults) {
  std::vector<std::string> libs;
  {
    Gds g;
    g.lib().bgnstr("LEAF").rect(1, 0, 0, 0, 100, 50).path(2, 0, 1, 10, {{0, 0}, {50, 50}, {100, 0}});
    g.text(1, 0, "x", 3, 4, 0x0F).endstr();
    g.bgnstr("TOP").sref("LEAF", 10, 10, {true, true, true, 2, true, 30});
    g.aref("LEAF", 3, 2, {{0, 0}, {600, 0}, {0, 200}}).sref("MISSING", 0, 0).rec(60).endstr().endlib();
    libs.push_back(g.bytes);
  }
  libs.push_back(Gds().lib().bgnstr("TOP").path(4, 1, 4, 30, {{0, 0}, {0, 100}}).endstr().endlib().bytes);
  libs.push_back(Gds().lib().bgnstr("TOP").rec(BOUNDARY).rec(LAYER, i2(1)).rec(XY).bytes);
  TempDir a, b;
  std::string cfg = "newlayer gdsno 1 hidden no fill yes endlayer newlayer gdsno 2 hidden no hatch cross angle 45 endlayer\n";
  a.write("c", cfg);
  b.write("c", cfg);
  for (const auto& input : libs) {
    auto strict = qmtest::quillmask({"-s", "TOP", "-c", "c"}, a.path(), input);
    auto tol = qmtest::quillmask({"-s", "TOP", "-c", "c", "--tolerant"}, b.path(), input);
    EXPECT_EQ(strict.status, tol.status);
    EXPECT_EQ(strict.out, tol.out);
    EXPECT_EQ(strict.err, tol.err);
    for (const char* f : {"result.txt", "result.ps", "result.pov", "result.plt"}) {
      EXPECT_EQ(a.exists(f), b.exists(f)) << f;
      if (a.exists(f)) {
        EXPECT_EQ(a.read(f), b.read(f)) << f;
      }
    }
  }
}

}  // namespace

namespace {

std::string customWire(int width, int bgn, int end, const Pts& p) {
  return R(PATH) + kLayer + kDt + R(PATHTYPE, i2(4)) + R(WIDTH, i4(width)) + R(BGNEXTN, i4(bgn)) +
         R(ENDEXTN, i4(end)) + R(XY, xy(p)) + kEndel;
}

TEST(Tolerant, CustomWireEndsFollowTheirExtensions) {
  TempDir d;
  d.write("c", "newlayer gdsno 3 hidden no fill yes endlayer\n");
  auto extent = [&](const std::string& body) {
    std::string input = Gds().lib().bgnstr("TOP").raw(body).endstr().endlib().bytes;
    auto r = qmtest::quillmask({"-t", "-s", "TOP", "-c", "c"}, d.path(), input);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.err.substr(0, r.err.find('\n'));
  };
  // Start moved back by 5, end pulled in by 3.
  EXPECT_EQ(extent(customWire(20, 5, -3, {{0, 0}, {100, 0}})), "minx = -5, miny = -10, maxx = 97, maxy = 10");
  // Under a magnified, rotated reference the extensions scale with the width.
  std::string input = Gds().lib().bgnstr("W").raw(customWire(20, 5, -3, {{0, 0}, {100, 0}})).endstr()
                          .bgnstr("TOP").sref("W", 0, 0, {true, false, true, 2, true, 90}).endstr().endlib().bytes;
  auto r = qmtest::quillmask({"-t", "-s", "TOP", "-c", "c"}, d.path(), input);
  EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "minx = -20, miny = -10, maxx = 20, maxy = 194");
  // Extensions of half the width give exactly the extended-end outline.
  Pts bent = {{0, 0}, {300, 40}, {320, 500}, {-100, 510}};
  std::string a = Gds().lib().bgnstr("TOP").raw(customWire(36, 18, 18, bent)).endstr().endlib().bytes;
  std::string b = Gds().lib().bgnstr("TOP").path(3, 0, 2, 36, bent).endstr().endlib().bytes;
  auto ra = qmtest::quillmask({"-t", "-s", "TOP", "-c", "c"}, d.path(), a);
  std::string psA = d.read("result.ps"), povA = d.read("result.pov"), pltA = d.read("result.plt");
  auto rb = qmtest::quillmask({"-t", "-s", "TOP", "-c", "c"}, d.path(), b);
  EXPECT_EQ(ra.err, rb.err);
  EXPECT_EQ(psA, d.read("result.ps"));
  EXPECT_EQ(povA, d.read("result.pov"));
  EXPECT_EQ(pltA, d.read("result.plt"));
}

}  // namespace
