// Helpers of the SVG tests: the drawing of a hand-built library, the
// document parsed with a real XML parser, and PNG images read with libpng.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include <pugixml.hpp>
#include <string>
#include <vector>

#include "common/out.h"
#include "gds/model.h"
#include "layers/load.h"
#include "render.h"
#include "runner.h"
#include "svg/svg.h"

namespace svgtest {

// The drawing of `top` with the configuration text `config`, and what the
// writer printed.
struct Drawing {
  std::string svg, out, err;
  bool written = false;
};

inline Drawing draw(const qm::GDSlibrary& lib, const std::string& config, const std::string& top = "TOP") {
  qmtest::TempDir d;
  d.write("layers", config);
  qm::LayerTable table;
  Drawing r;
  {
    qm::CaptureStd quiet;
    qm::LoadLayerConfig(quiet.console(), d.file("layers"), table);
  }
  {
    qm::CaptureStd cap;
    qm::SVGwriteDrawing(cap.console(), lib, table, d.file("out.svg"), top);
    r.out = cap.out();
    r.err = cap.err();
  }
  r.written = d.exists("out.svg");
  if (r.written) r.svg = d.read("out.svg");
  return r;
}

// Parses the document; the test fails when it is not well-formed XML.
inline bool parse(const std::string& svg, pugi::xml_document& doc) {
  pugi::xml_parse_result res = doc.load_buffer(svg.data(), svg.size(), pugi::parse_default, pugi::encoding_utf8);
  EXPECT_TRUE(res) << res.description() << " at byte " << res.offset << ":\n" << svg.substr(0, 2000);
  return static_cast<bool>(res);
}

// Every element of the document in document order.
inline std::vector<pugi::xml_node> elements(const pugi::xml_document& doc) {
  std::vector<pugi::xml_node> all;
  struct Walker : pugi::xml_tree_walker {
    std::vector<pugi::xml_node>* all;
    bool for_each(pugi::xml_node& n) override {
      if (n.type() == pugi::node_element) all->push_back(n);
      return true;
    }
  } w;
  w.all = &all;
  const_cast<pugi::xml_document&>(doc).traverse(w);
  return all;
}

// Programs and pictures, as the other picture tests find and read them.
using qmtest::programPath;
using Image = qmtest::Raster;
inline bool readPng(const std::string& path, Image& img) {
  img = qmtest::readPng(path);
  return !img.empty();
}

}  // namespace svgtest
