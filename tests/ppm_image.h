// Binary PPM images (P6, 8 bits per sample), as gs and POV-Ray write them,
// for tests that look at the pixels of a rendered drawing.
#pragma once

#include <cctype>
#include <cstdlib>
#include <string>

namespace qmtest {

struct PpmImage {
  int width = 0, height = 0;
  std::string px;
  // The red, green and blue samples of pixel (x, y), y counting from the top.
  const unsigned char* at(int x, int y) const {
    return reinterpret_cast<const unsigned char*>(px.data()) + (static_cast<std::size_t>(y) * width + x) * 3;
  }
  // How many pixels `pred(r, g, b)` accepts.
  template <class Pred>
  long count(Pred pred) const {
    long n = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const unsigned char* p = at(x, y);
        n += pred(p[0], p[1], p[2]) ? 1 : 0;
      }
    return n;
  }
};

// "P6", width, height, maximum 255, each after white space or comment lines,
// then one white space character and the samples.
inline bool parsePpm(const std::string& data, PpmImage& out) {
  std::size_t pos = 0;
  auto field = [&]() {
    while (pos < data.size() && (std::isspace(static_cast<unsigned char>(data[pos])) || data[pos] == '#')) {
      if (data[pos] == '#') pos = data.find('\n', pos);
      if (pos == std::string::npos) return std::string();
      ++pos;
    }
    std::size_t b = pos;
    while (pos < data.size() && !std::isspace(static_cast<unsigned char>(data[pos]))) ++pos;
    return data.substr(b, pos - b);
  };
  if (field() != "P6") return false;
  out.width = std::atoi(field().c_str());
  out.height = std::atoi(field().c_str());
  if (field() != "255" || out.width <= 0 || out.height <= 0 || pos >= data.size()) return false;
  out.px = data.substr(pos + 1);
  return out.px.size() == static_cast<std::size_t>(out.width) * out.height * 3;
}

}  // namespace qmtest
