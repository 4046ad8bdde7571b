// The SVG drawing as a document: well-formed for any bytes in names and
// strings, one definition per structure and layer, children before
// parents, layer groups in the page's pass order, texts and hatching as
// the page places them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "geom/transf.h"
#include "model_builder.h"
#include "ps_testlib.h"
#include "svg_testlib.h"

using pstest::block;
using pstest::shift;
using qmtest::ModelBuilder;

namespace {

TEST(SvgEscape, EveryByteBecomesWellFormedText) {
  struct Case {
    std::string in, want;
  };
  const std::vector<Case> cases = {
      {"plain name_1", "plain name_1"},
      {"a<b&c>\"d'", "a&lt;b&amp;c&gt;&quot;d&apos;"},
      {"&amp;", "&amp;amp;"},
      {std::string("nul\0x", 5), "nul\xe2\x90\x80x"},      // control pictures
      {"tab\tnl\n", "tab\xe2\x90\x89nl\xe2\x90\x8a"},
      {"del\x7f", "del\xe2\x90\xa1"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},  // valid UTF-8 kept
      {"\xff", "\xef\xbf\xbd"},                             // no UTF-8 at all
      {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},             // overlong
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // surrogate
      {"\xef\xbf\xbf", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // U+FFFF, not allowed in XML
      {"\xe2\x82", "\xef\xbf\xbd\xef\xbf\xbd"},             // cut short at the end
      {"\xf4\x90\x80\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // beyond U+10FFFF
  };
  for (const Case& c : cases) EXPECT_EQ(qm::SVGescape(c.in), c.want) << c.in;

  // Every single byte and every pair of bytes, inside an attribute and as
  // text, gives a document that parses and reads back as the escape says.
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; b += (a < 0x80 ? 17 : 1)) {
      std::string s{static_cast<char>(a), static_cast<char>(b)};
      std::string e = qm::SVGescape(s);
      std::string doc = "<r a=\"" + e + "\">" + e + "</r>";
      pugi::xml_document x;
      ASSERT_TRUE(x.load_buffer(doc.data(), doc.size(), pugi::parse_default, pugi::encoding_utf8)) << a << " " << b;
    }
  }
}

// A library with every kind of element, names and strings full of markup,
// control bytes and broken UTF-8.
const char kHostileBytes[] = "<&\"'>\x01\x1f\x7f\xff\xc3(\xe2\x82 ]]> --";
const std::string kHostile(kHostileBytes, sizeof kHostileBytes - 1);

qm::GDSlibrary& hostileLibrary(ModelBuilder& b) {
  int32_t leaf = b.add(kHostile + "leaf");
  b.rect(leaf, 1, 0, 0, 1000, 500);
  b.path(leaf, 2, 2, 100, {{0, 0}, {1000, 0}, {1000, 800}});
  b.text(leaf, 3, kHostile + "text", shift(100, 100));
  int32_t top = b.add(kHostile);
  b.sref(top, leaf, qm::GDSmakeTransf({5000, 0}, 1, 90, 2));
  b.aref(top, leaf, 3, 2, 2000, 1500, shift(0, 5000));
  b.sref(top, -1, qm::GDSidentity, "unbound <name>");
  b.text(top, 3, kHostile, shift(0, -1000));
  return b.done();
}

std::string hostileConfig() {
  return block("fill", 1, "fill yes red 1") + block("hatch", 2, "hatch cross angle 30 step 20 blue 1") +
         block("text", 3, "green 0.5") +
         "newlayer name <odd&name\"> gdsno 2 hidden no hatch single angle 120 step 1 endlayer\n";
}

TEST(SvgDocument, HostileNamesAndStringsGiveAValidDocument) {
  ModelBuilder b;
  svgtest::Drawing d = svgtest::draw(hostileLibrary(b), hostileConfig(), kHostile);
  ASSERT_TRUE(d.written);
  pugi::xml_document doc;
  ASSERT_TRUE(svgtest::parse(d.svg, doc));
  pugi::xml_node svg = doc.child("svg");
  ASSERT_TRUE(svg);
  EXPECT_STREQ(svg.attribute("xmlns").value(), "http://www.w3.org/2000/svg");

  // Titles carry the names (as the escape gives them back after parsing);
  // identifiers never carry a name.
  std::set<std::string> titles;
  const std::regex idForm("[a-z][0-9a-z]*");
  std::set<std::string> ids;
  int texts = 0;
  for (pugi::xml_node n : svgtest::elements(doc)) {
    std::string name = n.name();
    if (name == "title") titles.insert(n.text().get());
    if (pugi::xml_attribute id = n.attribute("id")) {
      EXPECT_TRUE(std::regex_match(id.value(), idForm)) << id.value();
      EXPECT_TRUE(ids.insert(id.value()).second) << "duplicate id " << id.value();
    }
    if (name == "text") {
      ++texts;
      std::string t = n.text().get();
      EXPECT_NE(t.find("\xe2\x90\x81"), std::string::npos) << t;  // the control picture of \x01
    }
  }
  pugi::xml_document decoded;
  std::string wrap = "<r>" + qm::SVGescape(kHostile) + "</r>";
  ASSERT_TRUE(decoded.load_buffer(wrap.data(), wrap.size()));
  const std::string topTitle = decoded.child("r").text().get();
  EXPECT_TRUE(titles.count(topTitle));
  EXPECT_TRUE(titles.count(topTitle + "leaf"));
  EXPECT_EQ(texts, 3);  // the top's own, and the leaf's once per orientation of its placements
  EXPECT_EQ(std::string(svg.child("title").text().get()), topTitle);
  // The unbound reference draws nothing and names nothing.
  EXPECT_EQ(d.svg.find("unbound"), std::string::npos);
  EXPECT_EQ(d.err.substr(0, 6), "minx =") << d.err;
}

// Every reference points to a definition written before it.
void expectChildrenBeforeParents(const pugi::xml_document& doc) {
  std::set<std::string> defined;
  for (pugi::xml_node n : svgtest::elements(doc)) {
    if (pugi::xml_attribute id = n.attribute("id")) defined.insert(id.value());
    for (const char* a : {"href", "mask", "fill"}) {
      std::string v = n.attribute(a).value();
      std::string ref;
      if (std::string(a) == "href" && v.rfind("#", 0) == 0) ref = v.substr(1);
      else if (v.rfind("url(#", 0) == 0) ref = v.substr(5, v.size() - 6);
      if (!ref.empty()) {
        EXPECT_TRUE(defined.count(ref)) << ref << " used before its definition";
      }
    }
  }
}

TEST(SvgDocument, EachStructureOncePerLayerItHolds) {
  ModelBuilder b;
  int32_t a = b.add("A");
  b.rect(a, 1, 0, 0, 100, 100).rect(a, 2, 0, 0, 50, 50);
  int32_t bb = b.add("B");
  b.rect(bb, 2, 0, 0, 10, 10);
  b.sref(bb, a, shift(200, 0));
  int32_t top = b.add("TOP");
  for (int k = 0; k < 50; ++k) b.sref(top, bb, shift(1000.0 * k, 0));
  b.aref(top, a, 40, 30, 300, 300, shift(0, 2000));
  b.aref(top, bb, 5, 1, 300, 0, shift(0, -2000));
  b.rect(top, 3, 0, 0, 10, 10);  // a hidden layer: no definition
  std::string cfg = block("one", 1, "fill yes") + block("two", 2, "hatch single angle 45 step 1") +
                    block("three", 3, "", true);
  svgtest::Drawing d = svgtest::draw(b.done(), cfg);
  pugi::xml_document doc;
  ASSERT_TRUE(svgtest::parse(d.svg, doc));
  expectChildrenBeforeParents(doc);

  std::map<std::string, int> defsPerTitle;
  int uses = 0, paths = 0;
  for (pugi::xml_node n : svgtest::elements(doc)) {
    std::string name = n.name();
    if (name == "title" && std::string(n.parent().name()) == "g") ++defsPerTitle[n.text().get()];
    if (name == "use") ++uses;
    if (name == "path" && !n.parent().attribute("patternUnits")) ++paths;
  }
  EXPECT_EQ(defsPerTitle["A"], 2);    // layers 1 and 2
  EXPECT_EQ(defsPerTitle["B"], 2);    // its own layer 2, and layer 1 through A
  EXPECT_EQ(defsPerTitle["TOP"], 2);  // the hidden layer 3 has none
  EXPECT_EQ(paths, 3);                // A's two rectangles and B's one, each written once
  // Uses grow with the references, not with the placed count: 50 sref
  // instances and the arrays' rows and columns, per layer, plus the root's.
  EXPECT_LT(uses, 2 * (50 + 40 + 30 + 5 + 2) + 10);
  EXPECT_GT(uses, 2 * 50);

  // The root: one group per visible entry, in table order, each with the
  // top's definition; the hatched one through its mask.
  pugi::xml_node root = doc.child("svg").child("g");
  std::vector<std::string> layers;
  for (pugi::xml_node g : root.children("g")) layers.push_back(g.attribute("data-layer").value());
  EXPECT_EQ(layers, (std::vector<std::string>{"one", "two"}));
  pugi::xml_node two = root.find_child_by_attribute("g", "data-layer", "two");
  EXPECT_TRUE(two.child("rect").attribute("mask"));
  EXPECT_STREQ(two.child("use").attribute("fill").value(), "none");
  EXPECT_STREQ(root.find_child_by_attribute("g", "data-layer", "one").child("use").attribute("fill").value(),
               "#000000");
}

// Instances and own shapes that lie apart at every level: each structure is
// written once with all its layers, in table order, and the top is drawn
// once. Anything that could let one instance cover another (overlapping
// instances or array members, texts, hatching under a turned placement)
// keeps the layer passes.
TEST(SvgDocument, StructuresApartHoldAllTheirLayersInOneDefinition) {
  struct Case {
    const char* what;
    int change;
    bool whole;
  };
  const Case cases[] = {
      {"apart", 0, true},
      {"overlapping instances", 1, false},
      {"touching array members", 2, false},
      {"hatched cell turned", 3, false},
      {"a text on a visible layer", 4, false},
      {"a text on a hidden layer", 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ModelBuilder b;
    int32_t leaf = b.add("LEAF");
    b.rect(leaf, 3, 0, 0, 100, 100).rect(leaf, 1, 0, 0, 100, 100).rect(leaf, 2, 20, 20, 80, 80);
    int32_t plain = b.add("PLAIN");
    b.rect(plain, 1, 0, 0, 50, 80);
    int32_t mid = b.add("MID");
    b.sref(mid, leaf, shift(0, 0));
    b.aref(mid, leaf, 3, 2, c.change == 2 ? 100 : 150, 150, shift(200, 0));
    b.sref(mid, plain, qm::GDSmakeTransf({1000, 0}, 1, 90, 2));  // turned, magnified: no hatching below
    b.path(mid, 1, 0, 10, {{0, -100}, {600, -100}});
    int32_t top = b.add("TOP");
    b.sref(top, mid, shift(0, 0));
    b.sref(top, mid, shift(c.change == 1 ? 500 : 3000, 0));
    if (c.change == 3) b.sref(top, leaf, qm::GDSmakeTransf({0, 2000}, 0, 90, 1));
    if (c.change == 4) b.text(top, 1, "T", shift(0, 3000));
    if (c.change == 5) b.text(top, 4, "T", shift(0, 3000));
    std::string cfg = block("one", 1, "fill yes") + block("two", 2, "hatch single angle 45 step 1") +
                      block("three", 3) + block("four", 4, "", true);
    svgtest::Drawing d = svgtest::draw(b.done(), cfg);
    pugi::xml_document doc;
    ASSERT_TRUE(svgtest::parse(d.svg, doc));
    expectChildrenBeforeParents(doc);
    pugi::xml_node root = doc.child("svg").child("g");
    const bool whole = !root.child("g") && std::distance(root.children("use").begin(), root.children("use").end()) == 1;
    EXPECT_EQ(whole, c.whole);
    if (!whole) continue;
    std::map<std::string, int> defsPerTitle;
    pugi::xml_node leafDef;
    for (pugi::xml_node n : svgtest::elements(doc)) {
      if (std::string(n.name()) == "title" && std::string(n.parent().name()) == "g") {
        ++defsPerTitle[n.text().get()];
        if (std::string(n.text().get()) == "LEAF") leafDef = n.parent();
      }
    }
    EXPECT_EQ(defsPerTitle, (std::map<std::string, int>{{"LEAF", 1}, {"PLAIN", 1}, {"MID", 1}, {"TOP", 1}}));
    // The leaf's layers in table order, a path each: filled, hatched, outlined.
    std::vector<std::string> fills;
    for (pugi::xml_node g : leafDef.children("path")) fills.push_back(g.attribute("fill").value());
    EXPECT_EQ(fills, (std::vector<std::string>{"#000000", "url(#p2)", "none"}));
    EXPECT_STREQ(root.child("use").attribute("href").value(),
                 (std::string("#") + doc.child("svg").child("defs").last_child().attribute("id").value()).c_str());
  }
}

// In a whole definition the shapes of one layer share a path where the
// union is the same: every outline, and filled simple polygons written
// turning left; a filled polygon that crosses itself keeps its own path.
TEST(SvgDocument, ShapesOfALayerShareAPathWhereTheUnionStays) {
  ModelBuilder b;
  int32_t top = b.add("TOP");
  for (int layer : {1, 2}) {
    const int32_t dy = layer == 1 ? 0 : 1000;
    b.boundary(top, layer, {{0, dy}, {0, 100 + dy}, {100, 100 + dy}, {100, dy}, {0, dy}});  // turning right
    b.boundary(top, layer, {{50, dy}, {300, dy}, {150, 250 + dy}, {50, dy}});             // turning left
    b.boundary(top, layer, {{400, dy}, {600, 200 + dy}, {600, dy}, {400, 200 + dy}, {400, dy}});  // crossing itself
  }
  svgtest::Drawing d = svgtest::draw(b.done(), block("filled", 1, "fill yes") + block("outlined", 2));
  pugi::xml_document doc;
  ASSERT_TRUE(svgtest::parse(d.svg, doc));
  pugi::xml_node def = doc.child("svg").child("defs").find_child_by_attribute("g", "id", "g1");
  ASSERT_TRUE(def);
  std::vector<std::pair<std::string, std::string>> paths;
  for (pugi::xml_node p : def.children("path")) paths.emplace_back(p.attribute("fill").value(), p.attribute("d").value());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"#000000", "M0 0H100V100H0ZM50 0L300 0 150 250 50 0Z"},
      {"#000000", "M400 0L600 200 600 0 400 200 400 0Z"},
      {"none", "M0 1000H100V1100H0ZM50 1000L300 1000 150 1250 50 1000ZM400 1000L600 1200 600 1000 400 1200 400 1000Z"},
  };
  EXPECT_EQ(paths, expected);
}

TEST(SvgDocument, TextsUprightAtTheirPlaceWithThePageSize) {
  ModelBuilder b;
  int32_t cell = b.add("CELL");
  b.rect(cell, 1, 0, 0, 1000, 1000);
  b.text(cell, 2, "lbl", shift(300, 100), 1.5);
  int32_t top = b.add("TOP");
  b.rect(top, 1, -10000, -10000, 10000, 10000);
  b.sref(top, cell, qm::GDSmakeTransf({5000, 0}, 1, 90, 3));  // mirrored, turned, magnified
  b.sref(top, cell, shift(-5000, 0));
  svgtest::Drawing d = svgtest::draw(b.done(), block("box", 1) + block("label", 2));
  pugi::xml_document doc;
  ASSERT_TRUE(svgtest::parse(d.svg, doc));
  expectChildrenBeforeParents(doc);
  // The texts are placed where the page places them: the placement moves
  // the anchor; size (2000 units per mag) and orientation stay the text's.
  std::vector<std::pair<double, double>> anchors;
  std::map<std::string, pugi::xml_node> byId;
  for (pugi::xml_node n : svgtest::elements(doc))
    if (n.attribute("id")) byId[n.attribute("id").value()] = n;
  pugi::xml_node label = doc.child("svg").child("g").find_child_by_attribute("g", "data-layer", "label");
  std::string topText = std::string(label.child("use").attribute("href").value()).substr(1);
  EXPECT_STREQ(label.child("use").attribute("transform").value(), "scale(1 -1)");
  for (pugi::xml_node u : byId[topText].children("use")) {
    pugi::xml_node def = byId[std::string(u.attribute("href").value()).substr(1)];
    pugi::xml_node t = def.child("text");
    EXPECT_STREQ(t.attribute("font-size").value(), "3000");
    EXPECT_FALSE(t.attribute("transform"));
    anchors.push_back({u.attribute("x").as_double() + t.attribute("x").as_double(),
                       -(u.attribute("y").as_double() + t.attribute("y").as_double())});
  }
  ASSERT_EQ(anchors.size(), 2u);
  std::set<std::pair<double, double>> got(anchors.begin(), anchors.end());
  qm::GDSpoint turned = qm::GDStransfPoint({300, 100}, qm::GDSmakeTransf({5000, 0}, 1, 90, 3));
  EXPECT_TRUE(got.count({turned.x, turned.y})) << turned.x << " " << turned.y;
  EXPECT_TRUE(got.count({-4700, 100}));
}

TEST(SvgDocument, HatchCellsAreThePagesInPageUnits) {
  // Extent 52020 units wide: the page's scale is 1, one pattern unit is 24
  // database units and the page's corner lies at (-4590, -5940).
  ModelBuilder b;
  int32_t top = b.add("TOP");
  b.rect(top, 1, 0, 0, 52020, 20000);
  b.rect(top, 2, 0, 0, 100, 100);
  svgtest::Drawing d = svgtest::draw(
      b.done(), block("single", 1, "hatch single angle 45 step 1") + block("cross", 2, "hatch cross angle 135 step 3"));
  pugi::xml_document doc;
  ASSERT_TRUE(svgtest::parse(d.svg, doc));
  std::vector<pugi::xml_node> patterns;
  for (pugi::xml_node n : svgtest::elements(doc))
    if (std::string(n.name()) == "pattern") patterns.push_back(n);
  ASSERT_EQ(patterns.size(), 2u);
  EXPECT_NEAR(patterns[0].attribute("width").as_double(), 4.01 * 24, 1e-6);
  EXPECT_NEAR(patterns[0].attribute("height").as_double(), 4.01 * 24, 1e-6);
  EXPECT_NEAR(patterns[0].attribute("x").as_double(), -4590, 1e-6);
  EXPECT_NEAR(patterns[0].attribute("y").as_double(), -5940, 1e-6);
  EXPECT_NEAR(patterns[1].attribute("width").as_double(), 4.24 * 24, 1e-6);
  // Falling lines for an angle above 90 degrees, two families for cross hatching.
  std::string seg = patterns[1].child("path").attribute("d").value();
  EXPECT_EQ(std::count(seg.begin(), seg.end(), 'M'), 4);
  EXPECT_EQ(seg.substr(0, seg.find('L')), "M50.88 0");
}

TEST(SvgDocument, MissingTopAndEmptyConfigurationStillGiveDocuments) {
  ModelBuilder b;
  int32_t top = b.add("TOP");
  b.rect(top, 1, 0, 0, 10, 10);
  qm::GDSlibrary& lib = b.done();
  svgtest::Drawing missing = svgtest::draw(lib, block("one", 1), "NOPE");
  EXPECT_EQ(missing.err, "Couldn't find the structure named \"NOPE\"\n");
  EXPECT_EQ(missing.out, "\"TOP\"\n");
  pugi::xml_document doc;
  EXPECT_TRUE(svgtest::parse(missing.svg, doc));
  svgtest::Drawing none = svgtest::draw(lib, "# no layers\n");
  EXPECT_TRUE(svgtest::parse(none.svg, doc));
  EXPECT_FALSE(doc.child("svg").child("g").child("g"));
}

}  // namespace
