// A small GDSII record writer for building test fixtures in code.
#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gdsw {

enum Rec : int {
  HEADER = 0, BGNLIB = 1, LIBNAME = 2, UNITS = 3, ENDLIB = 4, BGNSTR = 5, STRNAME = 6,
  ENDSTR = 7, BOUNDARY = 8, PATH = 9, SREF = 10, AREF = 11, TEXT = 12, LAYER = 13,
  DATATYPE = 14, WIDTH = 15, XY = 16, ENDEL = 17, SNAME = 18, COLROW = 19, NODE = 21,
  TEXTTYPE = 22, PRESENTATION = 23, STRING = 25, STRANS = 26, MAG = 27, ANGLE = 28,
  REFLIBS = 31, FONTS = 32, PATHTYPE = 33, ELFLAGS = 38, NODETYPE = 42, PROPATTR = 43,
  PROPVALUE = 44, BOX = 45, BOXTYPE = 46, PLEX = 47, BGNEXTN = 48, ENDEXTN = 49,
  LIBDIRSIZE = 57, SRFNAME = 58, LIBSECUR = 59,
};

inline std::string i2(int v) {
  auto u = static_cast<uint16_t>(v);
  return std::string{static_cast<char>(u >> 8), static_cast<char>(u & 0xff)};
}
inline std::string i4(int64_t v) {
  auto u = static_cast<uint32_t>(v);
  return std::string{static_cast<char>(u >> 24), static_cast<char>((u >> 16) & 0xff),
                     static_cast<char>((u >> 8) & 0xff), static_cast<char>(u & 0xff)};
}
// GDSII excess-64 real.
inline std::string r8(double v) {
  std::string s(8, '\0');
  if (v == 0) return s;
  int sign = v < 0;
  v = std::fabs(v);
  int e = 0;
  while (v >= 1) { v /= 16; ++e; }
  while (v < 1.0 / 16) { v *= 16; --e; }
  auto m = static_cast<uint64_t>(std::llround(std::ldexp(v, 56)));
  if (m >> 56) { m >>= 4; ++e; }
  s[0] = static_cast<char>((sign << 7) | ((e + 64) & 0x7f));
  for (int i = 7; i >= 1; --i) { s[static_cast<size_t>(i)] = static_cast<char>(m & 0xff); m >>= 8; }
  return s;
}
inline std::string strdata(std::string_view s) {
  std::string d(s);
  if (d.size() % 2) d.push_back('\0');
  return d;
}

using Pts = std::vector<std::pair<int64_t, int64_t>>;
inline std::string xy(const Pts& p) {
  std::string d;
  for (auto& [x, y] : p) d += i4(x) + i4(y);
  return d;
}

struct Placement {
  bool strans = false;
  bool mirror = false;
  bool hasMag = false;
  double mag = 1;
  bool hasAngle = false;
  double angle = 0;
};

class Gds {
 public:
  std::string bytes;

  // A raw record: length, type, data type byte, data.
  Gds& rec(int type, std::string_view data = {}, int dtype = 0) {
    size_t len = data.size() + 4;
    bytes += static_cast<char>((len >> 8) & 0xff);
    bytes += static_cast<char>(len & 0xff);
    bytes += static_cast<char>(type);
    bytes += static_cast<char>(dtype);
    bytes += data;
    return *this;
  }
  Gds& raw(std::string_view b) { bytes += b; return *this; }

  Gds& header() { return rec(HEADER, i2(600), 2); }
  Gds& bgnlib(std::initializer_list<int> dates = {98, 1, 15, 9, 5, 7, 99, 2, 16, 10, 6, 8}) {
    std::string d;
    for (int v : dates) d += i2(v);
    return rec(BGNLIB, d, 2);
  }
  Gds& libname(std::string_view n) { return rec(LIBNAME, strdata(n), 6); }
  Gds& units(double u = 0.001, double m = 1e-9) { return rec(UNITS, r8(u) + r8(m), 5); }
  // HEADER, BGNLIB, LIBNAME, UNITS.
  Gds& lib(std::string_view name = "LIB") { return header().bgnlib().libname(name).units(); }
  Gds& endlib() { return rec(ENDLIB); }
  Gds& bgnstr(std::string_view name) {
    std::string d;
    for (int i = 0; i < 12; ++i) d += i2(1);
    rec(BGNSTR, d, 2);
    return rec(STRNAME, strdata(name), 6);
  }
  Gds& endstr() { return rec(ENDSTR); }

  Gds& boundary(int layer, int datatype, const Pts& p) {
    return rec(BOUNDARY).rec(LAYER, i2(layer), 2).rec(DATATYPE, i2(datatype), 2).rec(XY, xy(p), 3).rec(ENDEL);
  }
  // Axis-parallel rectangle as the usual five points.
  Gds& rect(int layer, int datatype, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    return boundary(layer, datatype, {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}});
  }
  Gds& path(int layer, int datatype, int pathtype, int width, const Pts& p) {
    return rec(PATH).rec(LAYER, i2(layer), 2).rec(DATATYPE, i2(datatype), 2).rec(PATHTYPE, i2(pathtype), 2)
        .rec(WIDTH, i4(width), 3).rec(XY, xy(p), 3).rec(ENDEL);
  }
  Gds& placement(const Placement& pl) {
    if (!pl.strans) return *this;
    rec(STRANS, i2(pl.mirror ? 0x8000 : 0), 1);
    if (pl.hasMag) rec(MAG, r8(pl.mag), 5);
    if (pl.hasAngle) rec(ANGLE, r8(pl.angle), 5);
    return *this;
  }
  Gds& sref(std::string_view name, int64_t x, int64_t y, const Placement& pl = {}) {
    rec(SREF).rec(SNAME, strdata(name), 6);
    placement(pl);
    return rec(XY, i4(x) + i4(y), 3).rec(ENDEL);
  }
  Gds& aref(std::string_view name, int cols, int rows, const Pts& p3, const Placement& pl = {}) {
    rec(AREF).rec(SNAME, strdata(name), 6);
    placement(pl);
    return rec(COLROW, i2(cols) + i2(rows), 2).rec(XY, xy(p3), 3).rec(ENDEL);
  }
  Gds& text(int layer, int texttype, std::string_view s, int64_t x, int64_t y, int presentation = 0,
            const Placement& pl = {}) {
    rec(TEXT).rec(LAYER, i2(layer), 2).rec(TEXTTYPE, i2(texttype), 2).rec(PRESENTATION, i2(presentation), 1);
    placement(pl);
    return rec(XY, i4(x) + i4(y), 3).rec(STRING, strdata(s), 6).rec(ENDEL);
  }
};

}  // namespace gdsw
