// Pictures made by real consumers, for the tests that look at them: a
// PostScript page rendered by ghostscript, an SVG rendered by headless
// Chromium, a POV-Ray scene rendered by POV-Ray; PNG files read with
// libpng.
#pragma once

#include <string>
#include <vector>

namespace qmtest {

// An RGB picture, row 0 at the top.
struct Raster {
  int width = 0, height = 0;
  std::vector<unsigned char> px;  // 3 bytes a pixel
  // The pixel at column c, row r (both clamped into the picture).
  const unsigned char* at(int c, int r) const;
  bool empty() const { return width <= 0 || height <= 0; }
};

// Reads a PNG file as 8-bit RGB (any alpha composed onto white); an empty
// raster and a message in `error` when it cannot.
Raster readPng(const std::string& path, std::string* error = nullptr);

// Whether a pixel is within `tol` of the colour in every channel.
bool near(const unsigned char* p, int r, int g, int b, int tol = 40);
// Whether a pixel differs from white by more than `tol` in some channel.
bool inked(const unsigned char* p, int tol = 24);

// The full path of a program on the PATH, empty when there is none.
std::string programPath(const std::string& name);

// Each renderer writes `png` (in `dir`) and returns "" on success, or what
// went wrong (status and messages of the program, or a missing picture).
// A Letter page at `dpi` pixels per inch.
std::string renderPostScript(const std::string& dir, const std::string& ps, const std::string& png, int dpi);
// The SVG file shown by headless Chromium as an image of width x height
// CSS pixels in a window of that size.
std::string renderSvg(const std::string& dir, const std::string& svg, const std::string& png, int width,
                      int height);
// The POV-Ray scene at width x height.
std::string renderPov(const std::string& dir, const std::string& pov, const std::string& png, int width,
                      int height);

}  // namespace qmtest
