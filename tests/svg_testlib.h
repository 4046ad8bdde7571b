// Helpers of the SVG tests: the drawing of a hand-built library, the
// document parsed with a real XML parser, and PNG images read with libpng.
#pragma once

#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdlib>

#include <pugixml.hpp>
#include <string>
#include <vector>

#include "common/out.h"
#include "gds/model.h"
#include "layers/load.h"
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
    qm::LoadLayerConfig(d.file("layers"), table);
  }
  {
    qm::CaptureStd cap;
    qm::SVGwriteDrawing(lib, table, d.file("out.svg"), top);
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

// The full path of a program on the PATH (empty when there is none).
inline std::string programPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string cand = dirs.substr(start, end - start) + "/" + name;
    if (end > start && ::access(cand.c_str(), X_OK) == 0) return cand;
    start = end + 1;
  }
  return {};
}

// An RGB image.
struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> px;
  const unsigned char* at(int x, int y) const {
    return px.data() + 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x));
  }
};

inline bool readPng(const std::string& path, Image& img) {
  png_image pi{};
  pi.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&pi, path.c_str())) return false;
  pi.format = PNG_FORMAT_RGB;
  img.width = static_cast<int>(pi.width);
  img.height = static_cast<int>(pi.height);
  img.px.assign(PNG_IMAGE_SIZE(pi), 0);
  if (!png_image_finish_read(&pi, nullptr, img.px.data(), 0, nullptr)) {
    png_image_free(&pi);
    return false;
  }
  return true;
}

}  // namespace svgtest
