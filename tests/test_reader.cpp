// Command line, record stream and library reader, run through the program.
#include <gtest/gtest.h>

#include "gds/records.h"
#include "gdsw.h"
#include "runner.h"

using namespace gdsw;
using qmtest::TempDir;

namespace {

const char* kUsage =
    "Usage:\n"
    "%s [options]\n"
    "where options are:\n"
    "-h, --help:              prints this message\n"
    "-H, --hpglfile \"file\":   opens \"file\" for writing HPGL\n"
    "                         defaults to result.plt\n"
    "-p, --psfile \"file\":     opens \"file\" for writing PostScript\n"
    "                         defaults to result.ps\n"
    "-v, --povfile \"file\":     opens \"file\" for writing POVRAY\n"
    "                         defaults to result.pov\n"
    "-i, --ifile \"file\":      opens \"file\" as the GDSii input file\n"
    "                         if not specified, stdin is used\n"
    "-c, --configfile \"file\": opens \"file\" as the layers definition file\n"
    "                         defaults to .layers.config\n"
    "-s, --struct \"sname\":    \"sname\" is the top cell to be printed\n"
    "                         if not specified, the names of all structures\n"
    "                         and layers # are written to stdout.\n"
    "                         No PS/HPGL file are generated\n";

std::string usage() {
  std::string u = kUsage;
  u.replace(u.find("%s"), 2, QM_BIN);
  return u;
}

// --help goes on after the usage text with the options added since.
const char* kAddedOptions =
    "-t, --tolerant:          also reads valid records the strict reader rejects\n"
    "-g, --svgfile \"file\":    also writes an SVG drawing of the top cell\n"
    "-o, --only LIST:         writes only the listed drawings (ps,pov,hpgl,svg)\n"
    "--progress:              shows a status line on a terminal while it works\n"
    "--threads N:             draws on at most N threads (1: one drawing after the other)\n"
    "--version:               prints the version and exits\n";

std::string simpleLib() {
  Gds g;
  g.lib("DEMO").bgnstr("A").rect(1, 0, 0, 0, 2000, 1000).endstr().endlib();
  return g.bytes;
}

TEST(CommandLine, HelpAndUnknownOptions) {
  TempDir d;
  auto r = qmtest::quillmask({"-s", "X", "-h", "--bogus"}, d.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, usage() + kAddedOptions);
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(d.exists("result.txt"));

  r = qmtest::quillmask({"--help"}, d.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, usage() + kAddedOptions);

  r = qmtest::quillmask({"--version", "--bogus"}, d.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "quillmask 0.3.1\n");
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(d.exists("result.txt"));

  r = qmtest::quillmask({"file.gds"}, d.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Unknown option \"file.gds\"\n" + usage());

  // No combined forms.
  r = qmtest::quillmask({"--struct=A"}, d.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Unknown option \"--struct=A\"\n" + usage());
}

TEST(CommandLine, MissingArguments) {
  TempDir d;
  struct Case {
    std::string word, message;
  } cases[] = {
      {"-i", "Missing argument for the option -ifile. Exiting...\n"},
      {"--ifile", "Missing argument for the option -ifile. Exiting...\n"},
      {"-s", "Missing argument for the option -s. Exiting...\n"},
      {"--struct", "Missing argument for the option --struct. Exiting...\n"},
      {"-c", "Missing argument for the option -c. Exiting...\n"},
      {"--configfile", "Missing argument for the option --configfile. Exiting...\n"},
      {"-p", "Missing argument for the option -p. Exiting...\n"},
      {"--psfile", "Missing argument for the option --psfile. Exiting...\n"},
      {"-v", "Missing argument for the option -v. Exiting...\n"},
      {"--povfile", "Missing argument for the option --povfile. Exiting...\n"},
      {"-H", "Missing argument for the option -H. Exiting...\n"},
      {"--hpglfile", "Missing argument for the option --hpglfile. Exiting...\n"},
  };
  for (const auto& c : cases) {
    auto r = qmtest::quillmask({"-p", "x.ps", c.word}, d.path());
    EXPECT_EQ(r.status, 1) << c.word;
    EXPECT_EQ(r.err, c.message) << c.word;
  }
}

TEST(CommandLine, InputFiles) {
  TempDir d;
  d.write("a.gds", simpleLib());
  // The first -i that cannot be opened stops the run, although the second would open.
  auto r = qmtest::quillmask({"-i", "missing.gds", "-i", "a.gds"}, d.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Couldn't open the file \"missing.gds\". Exiting...\n");
  EXPECT_FALSE(d.exists("result.txt"));

  // Without -s: listing written, no drawing.
  r = qmtest::quillmask({"-i", "a.gds"}, d.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "For the time being, please look at the file result.txt\n");
  EXPECT_TRUE(d.exists("result.txt"));
  EXPECT_FALSE(d.exists("result.ps"));
  EXPECT_FALSE(d.exists("result.pov"));
  EXPECT_FALSE(d.exists("result.plt"));

  // Standard input, as a redirected file and as a pipe, gives the same.
  auto viaFile = qmtest::quillmask({}, d.path(), simpleLib());
  auto viaPipe = qmtest::quillmask({}, d.path(), simpleLib(), true);
  EXPECT_EQ(viaFile.status, 0);
  EXPECT_EQ(viaFile.out, r.out);
  EXPECT_EQ(viaPipe.status, 0);
  EXPECT_EQ(viaPipe.out, r.out);
  EXPECT_EQ(viaPipe.err, r.err);
}

TEST(Reader, EchoAndListingOfEveryElementKind) {
  TempDir d;
  Gds g;
  g.header().bgnlib({98, 1, 15, 9, 5, 7, 99, 12, 31, 23, 59, 58}).libname("DEMO").units(0.001, 1e-9);
  g.bgnstr("LEAF")
      .boundary(1, 0, {{0, 0}, {0, 10}, {20, 10}, {20, 0}, {0, 0}})
      .path(2, 0, 0, 20, {{0, 0}, {100, 0}})
      .boundary(1, 0, {{0, 0}, {5, 5}, {10, 0}, {0, 0}})
      .endstr();
  g.bgnstr("TOP")
      .sref("LEAF", 100, -200)
      .aref("LEAF", 2, 3, {{0, 0}, {200, 0}, {0, 300}})
      .text(5, 3, "ABC", 7, 8, 0x15)
      .sref("LATER", 1, 2, {true, true, true, 2.0, true, 90.0})
      .endstr();
  g.bgnstr("LATER").endstr();
  g.endlib();
  auto r = qmtest::quillmask({}, d.path(), g.bytes);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "lastmod = 1/15/98 at 9:5:7, lastacc = 12/31/99 at 23:59:58\n"
            "libname = DEMO\n"
            "userunit = 1.000000e-03, meterunit = 1.000000e-09\n"
            "strname = LEAF\n"
            "Boundary on layer 1, datatype 0:\n"
            "point[0] = 0 0\npoint[1] = 0 10\npoint[2] = 20 10\npoint[3] = 20 0\npoint[4] = 0 0\n"
            "Path on layer 2, datatype 0, of type 0 with width = 20:\n"
            "point[0] = 0 0\npoint[1] = 100 0\n"
            "Boundary on layer 1, datatype 0:\n"
            "point[0] = 0 0\npoint[1] = 5 5\npoint[2] = 10 0\npoint[3] = 0 0\n"
            "strname = TOP\n"
            "Sref at 100,-200, angle = 0.00e+00, mag = 1.00e+00, mirror = 0 of cell named \"LEAF\"\n"
            "Aref at 0,0/ of cell named \"LEAF\", c/r  = 2/3, spacing = 100/100, mirror = 0\n"
            "String on layer 5, datatype 3, at 7,8 = \"ABC\"\n"
            "hjust = 1, vjust = 1, mag = 1.000000e+00 and angle = 0.000000e+00\n"
            "Sref at 1,2, angle = 9.00e+01, mag = 2.00e+00, mirror = 1 of cell named \"LATER\"\n"
            "strname = LATER\n"
            "Fixed reference for SREF \"LATER\"\n"
            "Fixed reference for AREF \"LEAF\"\n"
            "Fixed reference for SREF \"LEAF\"\n");
  EXPECT_EQ(r.err, "For the time being, please look at the file result.txt\n");
  EXPECT_EQ(d.read("result.txt"),
            "Read a struct named LEAF which contains the layers:\n"
            "no. 2, type 0,no. 1, type 0,\nand the cells:\n:BOUNDARY, PATH, BOUNDARY, \n\n"
            "Read a struct named TOP which contains the layers:\n"
            "no. 5, type 3,\nand the cells:\n:SREF(LATER), TEXT, AREF(LEAF), SREF(LEAF), \n\n"
            "Read a struct named LATER which contains the layers:\n"
            "\nand the cells:\n:\n\n");
}

TEST(Reader, LibraryRecordsAndDefaults) {
  TempDir d;
  Gds g;
  g.header()
      .rec(REFLIBS, "x")
      .rec(FONTS)
      .rec(LIBDIRSIZE)
      .rec(SRFNAME)
      .rec(LIBSECUR)
      .rec(40)
      .libname("ONE")
      .libname("TWO")
      .rec(BGNSTR, std::string(24, '\0'))  // no STRNAME: the empty name
      .endstr()
      .endlib()
      .rect(1, 0, 0, 0, 1, 1);  // nothing after ENDLIB is read
  auto r = qmtest::quillmask({}, d.path(), g.bytes);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "libname = ONE\nlibname = TWO\n");
  EXPECT_EQ(r.err,
            "Not yet handling REFLIBS!\nNot yet handling FONTS!\nNot yet handling LIBDIRSIZE!\n"
            "Not yet handling SRFNAME!\nNot yet handling LIBSECUR!\n"
            "For the time being, please look at the file result.txt\n");
  EXPECT_EQ(d.read("result.txt"), "Read a struct named  which contains the layers:\n\nand the cells:\n:\n\n");

  // A library without structures ends in order.
  r = qmtest::quillmask({}, d.path(), Gds().lib().endlib().bytes);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(d.read("result.txt"), "");
}

TEST(Reader, EarlyEndsKeepCompletedStructures) {
  TempDir d;
  struct Case {
    const char* what;
    std::string third;  // what stands in the third structure
    const char* message;
  } cases[] = {
      {"node", Gds().rec(NODE).bytes, "READING NODE NOT YET IMPLEMENTED\n"},
      {"box", Gds().rec(BOX).bytes, "READING BOX NOT YET IMPLEMENTED\n"},
      {"bgnstr", Gds().bgnstr("D").bytes, "Incorrect record type in GDSreadStruct()\n"},
      {"endlib", Gds().endlib().bytes, "Incorrect record type in GDSreadStruct()\n"},
  };
  for (const auto& c : cases) {
    Gds g;
    g.lib().bgnstr("A").endstr().bgnstr("B").sref("A", 0, 0).endstr().bgnstr("C").raw(c.third).endstr().endlib();
    auto r = qmtest::quillmask({}, d.path(), g.bytes);
    EXPECT_EQ(r.status, 0) << c.what;
    EXPECT_EQ(r.err, std::string(c.message) + "For the time being, please look at the file result.txt\n") << c.what;
    std::string listing = d.read("result.txt");
    EXPECT_NE(listing.find("named B "), std::string::npos) << c.what;
    EXPECT_EQ(listing.find("named C "), std::string::npos) << c.what;
    EXPECT_NE(r.out.find("Fixed reference for SREF \"A\"\n"), std::string::npos) << c.what;
  }
}

TEST(Reader, UnknownRecordsInsideStructures) {
  TempDir d;
  Gds g;
  g.lib().bgnstr("A").rec(60).rec(0xFF).rec(PROPATTR, i2(1)).rect(1, 0, 0, 0, 1, 1).endstr().endlib();
  auto r = qmtest::quillmask({}, d.path(), g.bytes);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "Unknown record type\nUnknown record type\nUnknown record type\n"
            "For the time being, please look at the file result.txt\n");
}

TEST(Reader, BindingToTheLaterOfTwoNames) {
  TempDir d;
  Gds g;
  g.lib().bgnstr("TOP").sref("DUP", 0, 0).sref("NONE", 0, 0).endstr();
  g.bgnstr("DUP").rect(1, 0, 0, 0, 1, 1).endstr();
  g.bgnstr("DUP").rect(2, 0, 0, 0, 1, 1).endstr().endlib();
  auto r = qmtest::quillmask({}, d.path(), g.bytes);
  EXPECT_EQ(r.status, 0);
  // One line per bound reference; none for the unbound one.
  std::string tail = r.out.substr(r.out.rfind("point[4]"));
  EXPECT_EQ(tail.substr(tail.find('\n') + 1), "Fixed reference for SREF \"DUP\"\n");
}

// Malformed inputs: message, stream and status.
TEST(Reader, FatalInputs) {
  TempDir d;
  auto lib = [] { return Gds().lib(); };
  auto inStruct = [&](const std::string& body) { return lib().bgnstr("S").raw(body).endstr().endlib().bytes; };
  std::string layer = Gds().rec(LAYER, i2(1)).bytes, dt = Gds().rec(DATATYPE, i2(0)).bytes;
  std::string xy5 = Gds().rec(XY, xy({{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}})).bytes;
  std::string endel = Gds().rec(ENDEL).bytes;
  std::string sname = Gds().rec(SNAME, "AB").bytes;
  std::string xy1 = Gds().rec(XY, i4(0) + i4(0)).bytes;
  std::string strans = Gds().rec(STRANS, i2(0)).bytes;
  std::string mag = Gds().rec(MAG, r8(2)).bytes, ang = Gds().rec(ANGLE, r8(90)).bytes;
  std::string colrow = Gds().rec(COLROW, i2(2) + i2(3)).bytes;
  std::string xy3 = Gds().rec(XY, xy({{0, 0}, {200, 0}, {0, 300}})).bytes;
  std::string tt = Gds().rec(TEXTTYPE, i2(0)).bytes, pres = Gds().rec(PRESENTATION, i2(0)).bytes;
  std::string str = Gds().rec(STRING, "AB").bytes;
  std::string pt = Gds().rec(PATHTYPE, i2(0)).bytes, width = Gds().rec(WIDTH, i4(10)).bytes;
  auto R = [](int type, std::string data = {}) { return Gds().rec(type, data).bytes; };
  struct Case {
    const char* what;
    std::string input;
    std::string err;
    std::string outTail = {};  // expected end of standard output
  } cases[] = {
      {"empty input", "", "HEADER is missing. Aborting\n"},
      {"not a header", R(BGNLIB), "HEADER is missing. Aborting\n"},
      {"one byte", std::string(1, '\0'), "Error in reading the GDS file. Aborting\n"},
      {"length byte alone", Gds().header().bytes + std::string(1, '\0'), "Error in reading the GDS file. Aborting\n"},
      {"length below 4", Gds().header().bytes + std::string("\x00\x02", 2), "Error in reading the GDS file. Aborting\n"},
      {"cut record", Gds().header().bytes + std::string("\x00\x08\x02\x06" "AB", 6),
       "Error in reading the GDS file. Aborting\n"},
      {"ends before BGNSTR", lib().bytes, "Missing ENDLIB field. Abort!\n"},
      {"ends after structure", lib().bgnstr("A").endstr().bytes, "Missing ENDLIB field. Abort!\n"},
      {"junk after structure", lib().bgnstr("A").endstr().rec(LAYER, i2(1)).bytes, "Missing ENDLIB field. Abort!\n"},
      {"ends inside structure", lib().bgnstr("A").bytes, "Error in reading the GDS file. Aborting\n"},
      {"short UNITS", Gds().header().rec(UNITS, r8(1)).bytes, "Bad UNITS record. Aborting\n"},
      {"short BGNLIB", Gds().header().rec(BGNLIB, std::string(22, '\0')).bytes, "Bad BGNLIB record. Aborting\n"},
      {"boundary layer", inStruct(R(BOUNDARY) + R(38, i2(0)) + layer), "Missing LAYER field in BOUNDARY element. Abort!\n"},
      {"boundary short layer", inStruct(R(BOUNDARY) + R(LAYER, "\x01")), "Bad LAYER record. Aborting\n"},
      {"boundary datatype", inStruct(R(BOUNDARY) + layer + xy5), "Missing DATATYPE field in BOUNDARY element. Abort!\n"},
      {"boundary xy", inStruct(R(BOUNDARY) + layer + dt + endel), "Missing XY field in BOUNDARY element. Abort!\n"},
      {"boundary endel", inStruct(R(BOUNDARY) + layer + dt + xy5 + R(PROPATTR, i2(1))),
       "Missing ENDEL field in BOUNDARY element. Abort!\n"},
      {"boundary at end", inStruct(R(BOUNDARY)), "Missing LAYER field in BOUNDARY element. Abort!\n"},
      {"path layer", inStruct(R(PATH) + dt), "Missing LAYER field in PATH element. Abort!\n"},
      {"path datatype", inStruct(R(PATH) + layer + pt), "Missing DATATYPE field in PATH element. Abort!\n"},
      {"path pathtype", inStruct(R(PATH) + layer + dt + width), "Missing PATHTYPE field in PATH element. Abort!\n"},
      {"path width", inStruct(R(PATH) + layer + dt + pt + xy5), "Missing WIDTH field in PATH element. Abort!\n"},
      {"path short width", inStruct(R(PATH) + layer + dt + pt + R(WIDTH, i2(1))), "Bad WIDTH record. Aborting\n"},
      {"path short pathtype", inStruct(R(PATH) + layer + dt + R(PATHTYPE)), "Bad PATHTYPE record. Aborting\n"},
      {"path xy", inStruct(R(PATH) + layer + dt + pt + width + endel), "Missing XY field in PATH element. Abort!\n"},
      {"path endel", inStruct(R(PATH) + layer + dt + pt + width + xy5 + xy5),
       "Missing ENDEL field in PATH element. Abort!\n"},
      {"sref sname", inStruct(R(SREF) + xy1), "Missing SNAME field in SREF element. Abort!\n"},
      {"sref strans", inStruct(R(SREF) + sname + mag), "Missing STRANS or XY field in SREF element. Abort!\n"},
      {"sref after strans", inStruct(R(SREF) + sname + strans + endel),
       "Missing MAG, ANGLE or XY field in SREF element. Abort!\n"},
      {"sref angle then mag", inStruct(R(SREF) + sname + strans + ang + mag + xy1),
       "Missing XY field in SREF element. Abort!\n"},
      {"sref after mag", inStruct(R(SREF) + sname + strans + mag + endel), "Missing XY field in SREF element. Abort!\n"},
      {"sref endel", inStruct(R(SREF) + sname + xy1 + xy1), "Missing ENDEL field in SREF element. Abort!\n"},
      {"sref short xy", inStruct(R(SREF) + sname + R(XY, i4(1))), "Bad XY record. Aborting\n"},
      {"sref short strans", inStruct(R(SREF) + sname + R(STRANS, "\x80")), "Bad STRANS record. Aborting\n"},
      {"sref short mag", inStruct(R(SREF) + sname + strans + R(MAG, i4(1))), "Bad MAG record. Aborting\n"},
      {"sref short angle", inStruct(R(SREF) + sname + strans + R(ANGLE, i4(1))), "Bad ANGLE record. Aborting\n"},
      {"aref sname", inStruct(R(AREF) + colrow), "Missing SNAME field in AREF element. Abort!\n"},
      {"aref strans", inStruct(R(AREF) + sname + xy3), "Missing STRANS or COLROW field in AREF element. Abort!\n"},
      {"aref after strans", inStruct(R(AREF) + sname + strans + xy3),
       "Missing MAG, ANGLE or COLROW field in AREF element. Abort!\n"},
      {"aref angle then mag", inStruct(R(AREF) + sname + strans + ang + mag + colrow),
       "Missing COLROW field in AREF element. Abort!\n"},
      {"aref xy", inStruct(R(AREF) + sname + colrow + endel), "Missing XY field in AREF element. Abort!\n"},
      {"aref short colrow", inStruct(R(AREF) + sname + R(COLROW, i2(2))), "Bad COLROW record. Aborting\n"},
      {"aref zero", inStruct(R(AREF) + sname + R(COLROW, i2(0) + i2(3)) + xy3),
       "AREF element with 0 rows/cols.  Abort!\n"},
      {"aref short xy", inStruct(R(AREF) + sname + colrow + xy1), "Bad XY record. Aborting\n"},
      {"aref endel", inStruct(R(AREF) + sname + colrow + xy3 + xy3), "Missing ENDEL field in AREF element. Abort!\n"},
      {"aref mirrored", inStruct(R(AREF) + sname + colrow + R(XY, xy({{0, 0}, {-200, 0}, {0, 300}}))), "",
       "Error in AREF! Found a y-axis mirrored array. This is impossible so I'm exiting.\n"},
      {"aref second", inStruct(R(AREF) + sname + colrow + R(XY, xy({{0, 0}, {200, 5}, {0, 300}}))), "",
       "Error in AREF! The second point in XY is broken.\n"},
      {"aref third", inStruct(R(AREF) + sname + colrow + R(XY, xy({{0, 0}, {200, 0}, {1, 300}}))), "",
       "Error in AREF! The third point in XY is broken.\n"},
      {"aref singular", inStruct(R(AREF) + sname + R(STRANS, i2(0)) + R(MAG, r8(0)) + colrow + xy3),
       "Error in GDSinvtransfPoint(): matrix cannot be inverted\n"},
      {"text layer", inStruct(R(TEXT) + tt), "Missing LAYER field in TEXT element. Abort!\n"},
      {"text texttype", inStruct(R(TEXT) + layer + dt), "Missing TEXTTYPE field in TEXT element. Abort!\n"},
      {"text presentation", inStruct(R(TEXT) + layer + tt + xy1), "Missing PRESENTATION field in TEXT element. Abort!\n"},
      {"text width", inStruct(R(TEXT) + layer + tt + pres + width), "Missing STRANS or XY field in TEXT element. Abort!\n"},
      {"text after strans", inStruct(R(TEXT) + layer + tt + pres + strans + str),
       "Missing MAG, ANGLE or XY field in TEXT element. Abort!\n"},
      {"text after mag", inStruct(R(TEXT) + layer + tt + pres + strans + mag + str),
       "Missing XY field in TEXT element. Abort!\n"},
      {"text string", inStruct(R(TEXT) + layer + tt + pres + xy1 + endel), "Missing STRING field in TEXT element. Abort!\n"},
      {"text endel", inStruct(R(TEXT) + layer + tt + pres + xy1 + str + str), "Missing ENDEL field in TEXT element. Abort!\n"},
      {"text short presentation", inStruct(R(TEXT) + layer + tt + R(PRESENTATION)), "Bad PRESENTATION record. Aborting\n"},
  };
  for (const auto& c : cases) {
    auto r = qmtest::quillmask({}, d.path(), c.input);
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
    if (!c.outTail.empty()) {
      ASSERT_GE(r.out.size(), c.outTail.size()) << c.what;
      EXPECT_EQ(r.out.substr(r.out.size() - c.outTail.size()), c.outTail) << c.what;
    }
  }
}

TEST(Reader, ListingKeepsStructuresBeforeAFatalError) {
  TempDir d;
  Gds g;
  g.lib().bgnstr("A").endstr().bgnstr("B").rect(1, 0, 0, 0, 1, 1).endstr().bgnstr("C").rec(BOUNDARY).rec(ENDEL);
  auto r = qmtest::quillmask({}, d.path(), g.bytes);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(d.read("result.txt"),
            "Read a struct named A which contains the layers:\n\nand the cells:\n:\n\n"
            "Read a struct named B which contains the layers:\nno. 1, type 0,\nand the cells:\n:BOUNDARY, \n\n");
}

TEST(Reader, PathTypesAndSignedValues) {
  TempDir d;
  Gds g;
  g.lib().bgnstr("A");
  for (int t : {0, 1, 2, 3, 4, -1}) g.path(-1, 0, t, -21, {{0, 0}, {10, 0}});
  g.rec(BOUNDARY).rec(LAYER, i2(0x8001)).rec(DATATYPE, i2(0xFFFF)).rec(XY).rec(ENDEL);
  g.endstr().endlib();
  auto r = qmtest::quillmask({}, d.path(), g.bytes);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "Round ended path not supported. Used extended instead\n"
            "Unknown pathtype 3. Used butt end instead\n"
            "Custom ended path not supported. Used extended instead\n"
            "Unknown pathtype -1. Used butt end instead\n"
            "For the time being, please look at the file result.txt\n");
  for (int stored : {0, 2, 2, 0, 2, 0}) {
    std::string line = "Path on layer -1, datatype 0, of type " + std::to_string(stored) + " with width = -21:\n";
    auto at = r.out.find(line);
    ASSERT_NE(at, std::string::npos) << stored;
    r.out.erase(at, line.size());
  }
  const std::string last = "Boundary on layer -32767, datatype -1:\n";  // no points
  EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last);
  EXPECT_EQ(d.read("result.txt"),
            "Read a struct named A which contains the layers:\nno. -32767, type -1,no. -1, type 0,\n"
            "and the cells:\n:BOUNDARY, PATH, PATH, PATH, PATH, PATH, PATH, \n\n");
}

TEST(Reader, PresentationAndPlacements) {
  TempDir d;
  struct Case {
    int presentation;
    std::string err;
    std::string line;
  } cases[] = {
      {0x0000, "", "hjust = 0, vjust = 0"},
      {0x0015, "", "hjust = 1, vjust = 1"},
      {0x002A, "", "hjust = 2, vjust = 2"},
      {0x000F, "Illegal vertical justification in TEXT element.\nIllegal horizontal justification in TEXT element.\n",
       "hjust = 1, vjust = 1"},
      {0x0040, "Undefined bits are set in PRESENTATION\n", "hjust = 0, vjust = 0"},
      {0x0106, "Undefined bits are set in PRESENTATION\n", "hjust = 2, vjust = 1"},
  };
  for (const auto& c : cases) {
    Gds g;
    g.lib().bgnstr("A").text(1, 0, "T", 0, 0, c.presentation).endstr().endlib();
    auto r = qmtest::quillmask({}, d.path(), g.bytes);
    EXPECT_EQ(r.err, c.err + "For the time being, please look at the file result.txt\n") << c.presentation;
    EXPECT_NE(r.out.find(c.line + ", mag = 1.000000e+00 and angle = 0.000000e+00\n"), std::string::npos)
        << c.presentation;
  }
  // A mirrored SREF without MAG or ANGLE; the text ignores STRANS bits.
  Gds g;
  g.lib().bgnstr("A").sref("B", -5, 6, {true, true}).text(1, 0, "T", 0, 0, 0, {true, true, true, 0.5, true, 30});
  g.endstr().endlib();
  auto r = qmtest::quillmask({}, d.path(), g.bytes);
  EXPECT_NE(r.out.find("Sref at -5,6, angle = 0.00e+00, mag = 1.00e+00, mirror = 1 of cell named \"B\"\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("hjust = 0, vjust = 0, mag = 5.000000e-01 and angle = 3.000000e+01\n"), std::string::npos);
}

TEST(Reader, ArrayLattices) {
  TempDir d;
  struct Case {
    Pts p;
    Placement pl;
    int cols, rows;
    std::string line;
  } cases[] = {
      {{{0, 0}, {200, 0}, {0, 300}}, {}, 2, 3, "spacing = 100/100, mirror = 0"},
      {{{0, 0}, {200, 0}, {0, -300}}, {}, 2, 3, "spacing = 100/100, mirror = 0"},
      {{{0, 0}, {250, 0}, {0, 350}}, {}, 2, 3, "spacing = 125/116, mirror = 0"},
      {{{0, 0}, {200, 0}, {0, 300}}, {true, true}, 2, 3, "spacing = 100/100, mirror = 1"},
      {{{0, 0}, {0, 200}, {-300, 0}}, {true, false, false, 1, true, 90}, 2, 3, "spacing = 100/100, mirror = 0"},
      {{{0, 0}, {141, 141}, {-212, 212}}, {true, false, false, 1, true, 45}, 2, 3, "spacing = 99/100, mirror = 0"},
      {{{100, 100}, {300, 100}, {100, 400}}, {true, false, true, 2}, 2, 3, "spacing = 50/50, mirror = 0"},
      {{{0, 0}, {200, 0}, {0, 300}}, {}, -2, 3, "spacing = -100/100, mirror = 0"},
      {{{0, 0}, {200, 0}, {0, -300}}, {}, 2, -3, "spacing = 100/-100, mirror = 0"},
  };
  for (const auto& c : cases) {
    Gds g;
    g.lib().bgnstr("A").aref("B", c.cols, c.rows, c.p, c.pl).endstr().endlib();
    auto r = qmtest::quillmask({}, d.path(), g.bytes);
    EXPECT_EQ(r.status, 0) << c.line;
    EXPECT_NE(r.out.find(", c/r  = " + std::to_string(c.cols) + "/" + std::to_string(c.rows) + ", " + c.line + "\n"),
              std::string::npos)
        << r.out;
  }
}

TEST(RecordStream, Decoders) {
  const uint8_t one[] = {0x41, 0x10, 0, 0, 0, 0, 0, 0};
  const uint8_t minus[] = {0xC1, 0x10, 0, 0, 0, 0, 0, 0};
  const uint8_t zero[8] = {};
  EXPECT_EQ(qm::GDSreal8(one), 1.0);
  EXPECT_EQ(qm::GDSreal8(minus), -1.0);
  EXPECT_EQ(qm::GDSreal8(zero), 0.0);
  EXPECT_EQ(qm::GDSreal8(reinterpret_cast<const uint8_t*>(r8(1e-9).data())), 1e-9);
  const uint8_t ff[] = {0xFF, 0xFF, 0xFF, 0xFE};
  EXPECT_EQ(qm::GDSint2(ff), -1);
  const uint8_t m[] = {0x80, 0x00};
  EXPECT_EQ(qm::GDSint2(m), -32768);
  EXPECT_EQ(qm::GDSint4(ff), -2);
  std::string big(1500, 'a');
  EXPECT_EQ(qm::GDSstring(reinterpret_cast<const uint8_t*>(big.data()), big.size()), std::string(1024, 'a'));
  EXPECT_EQ(qm::GDSstring(reinterpret_cast<const uint8_t*>("abc\0"), 4), "abc");
}

}  // namespace
