// layergen --lyp: reads a KLayout layer-properties file (XML) and writes a
// layer configuration, one block per layer entry with a LAYER/DATATYPE
// source. See README.md ("Configurations from layer-properties files") for
// how each property maps to the configuration, in particular how a dither
// pattern becomes fill or hatching.
#include "lyp.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <numbers>
#include <optional>
#include <set>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace layergen {
namespace {

// A problem that stops the run; its text is the whole message after the
// program and file name.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string s(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(s.data(), s.size() + 1, fmt, ap2);
  va_end(ap2);
  return s;
}

std::string baseName(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string readWholeFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw Failure(format("cannot open: %s", std::strerror(errno)));
  std::string data;
  char buf[1 << 16];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
  bool bad = std::ferror(f) != 0;
  int err = errno;
  std::fclose(f);
  if (bad) throw Failure(format("cannot read: %s", std::strerror(err)));
  return data;
}

std::string trim(const std::string& s) {
  const char* ws = " \t\r\n\f\v";
  std::size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

// Text fit for one comment line of the configuration: printable ASCII only,
// not too long for the reader's line buffer.
std::string commentText(const std::string& s) {
  std::string out;
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    out.push_back(c >= 0x20 && c < 0x7f ? ch : '?');
    if (out.size() >= 200) break;
  }
  return out;
}

// Text quoted in a message.
std::string quoted(const std::string& s) { return "'" + commentText(s) + "'"; }

// ---------------------------------------------------------------------------
// Dither patterns

// How a pattern is drawn on the page and on the plot.
struct Style {
  bool fill = false;
  int hatch = 0;  // 0 none, 1 single, 2 cross
  double angle = 0;
  double step = 0;
  std::string how;  // a few words for the comment above the block
};

// One pattern pixel is taken as 1/96 inch on paper. Single hatching of a
// configuration puts its lines step * 72 / 25.4 units of 1/300 inch apart,
// cross hatching step units of 1/300 inch apart.
constexpr double kSingleStepPerPixel = 25.4 * 300.0 / (96.0 * 72.0);
constexpr double kCrossStepPerPixel = 300.0 / 96.0;
constexpr double kHalfRoot2 = 0.70710678118654752;  // sin 45 degrees
constexpr double kSin22 = 0.38268343236508978;      // sin 22.5 degrees

// A pattern of lines in one or two directions, or something else.
struct Shape {
  enum Kind { Solid, Hollow, Lines, Crossed, Other } kind = Other;
  double angle1 = 0, angle2 = 0;  // degrees in [0, 180), page orientation
  double spacing = 0;             // perpendicular distance of the lines, in pixels
  double density = 0;             // set pixels / all pixels
  std::string what;               // the pattern's look in words
};

Style styleOf(const Shape& s) {
  Style st;
  auto isAxis = [](double a) { return std::fabs(a) < 1e-9 || std::fabs(a - 90) < 1e-9; };
  switch (s.kind) {
    case Shape::Solid:
      st.fill = true;
      st.how = "solid: filled";
      return st;
    case Shape::Hollow:
      st.how = "hollow: outlines only";
      return st;
    case Shape::Lines:
      if (!isAxis(s.angle1)) {
        st.hatch = 1;
        st.angle = s.angle1;
        st.step = s.spacing * kSingleStepPerPixel;
        st.how = "lines at " + format("%.2f", s.angle1) + " degrees: single hatching";
        return st;
      }
      st.how = (std::fabs(s.angle1) < 1e-9 ? "horizontal" : "vertical") +
               std::string(" lines, which the page cannot hatch: outlines only");
      return st;
    case Shape::Crossed: {
      // Cross hatching draws lines at +theta and -theta; keep the angle at
      // which the two families cross.
      double a = std::min(s.angle1, s.angle2), b = std::max(s.angle1, s.angle2);
      st.hatch = 2;
      st.angle = (a + 180 - b) / 2;
      st.step = s.spacing * kCrossStepPerPixel;
      st.how = "crossed lines at " + format("%.2f", a) + " and " + format("%.2f", b) + " degrees: cross hatching";
      return st;
    }
    case Shape::Other:
      break;
  }
  if (s.density >= 0.75) {
    st.fill = true;
    st.how = s.what + ": filled";
  } else {
    st.how = s.what + ": outlines only";
  }
  return st;
}

// The standard patterns, by index, as the layer-properties format numbers
// them (I0, I1, ...). Their bitmaps are not in the file; each is described
// by its look. Spacing is the perpendicular distance of its lines in pixels.
struct StandardPattern {
  const char* look;
  Shape::Kind kind;
  double angle1, angle2, spacing;
};
const StandardPattern kStandard[] = {
    {"solid", Shape::Solid, 0, 0, 0},                                  // I0
    {"hollow", Shape::Hollow, 0, 0, 0},                                // I1
    {"dotted", Shape::Other, 0, 0, 0},                                 // I2
    {"coarsely dotted", Shape::Other, 0, 0, 0},                        // I3
    {"left-hatched", Shape::Lines, 135, 0, 4 * kHalfRoot2},             // I4
    {"lightly left-hatched", Shape::Lines, 135, 0, 8 * kHalfRoot2},     // I5
    {"strongly left-hatched dense", Shape::Lines, 135, 0, 4 * kHalfRoot2},   // I6
    {"strongly left-hatched sparse", Shape::Lines, 135, 0, 8 * kHalfRoot2},  // I7
    {"right-hatched", Shape::Lines, 45, 0, 4 * kHalfRoot2},             // I8
    {"lightly right-hatched", Shape::Lines, 45, 0, 8 * kHalfRoot2},     // I9
    {"strongly right-hatched dense", Shape::Lines, 45, 0, 4 * kHalfRoot2},   // I10
    {"strongly right-hatched sparse", Shape::Lines, 45, 0, 8 * kHalfRoot2},  // I11
    {"cross-hatched", Shape::Crossed, 45, 135, 4 * kHalfRoot2},         // I12
    {"lightly cross-hatched", Shape::Crossed, 45, 135, 8 * kHalfRoot2},  // I13
    {"checkerboard", Shape::Other, 0, 0, 0},                           // I14
    {"strongly cross-hatched sparse", Shape::Crossed, 45, 135, 8 * kHalfRoot2},  // I15
    {"heavy checkerboard", Shape::Other, 0, 0, 0},                     // I16
    {"hollow bubbles", Shape::Other, 0, 0, 0},                         // I17
    {"solid bubbles", Shape::Other, 0, 0, 0},                          // I18
    {"pyramids", Shape::Other, 0, 0, 0},                               // I19
    {"turned pyramids", Shape::Other, 0, 0, 0},                        // I20
    {"plus signs", Shape::Other, 0, 0, 0},                             // I21
    {"minus signs", Shape::Other, 0, 0, 0},                            // I22
    {"22.5 degree lines down", Shape::Lines, 157.5, 0, 8 * kSin22},  // I23
    {"22.5 degree lines up", Shape::Lines, 22.5, 0, 8 * kSin22},     // I24
    {"67.5 degree lines down", Shape::Lines, 112.5, 0, 8 * kSin22},  // I25
    {"67.5 degree lines up", Shape::Lines, 67.5, 0, 8 * kSin22},     // I26
    {"22.5 degree cross-hatched", Shape::Crossed, 22.5, 157.5, 8 * kSin22},  // I27
    {"zig-zag", Shape::Other, 0, 0, 0},                                // I28
    {"sine waves", Shape::Other, 0, 0, 0},                             // I29
    {"dense unordered dots", Shape::Other, 0, 0, 0},                   // I30
    {"light unordered dots", Shape::Other, 0, 0, 0},                   // I31
    {"vertical dense", Shape::Lines, 90, 0, 2},                        // I32
    {"vertical", Shape::Lines, 90, 0, 4},                              // I33
    {"vertical thick", Shape::Lines, 90, 0, 4},                        // I34
    {"vertical sparse", Shape::Lines, 90, 0, 8},                       // I35
    {"vertical sparse thick", Shape::Lines, 90, 0, 8},                 // I36
    {"horizontal dense", Shape::Lines, 0, 0, 2},                       // I37
    {"horizontal", Shape::Lines, 0, 0, 4},                             // I38
    {"horizontal thick", Shape::Lines, 0, 0, 4},                       // I39
    {"horizontal sparse", Shape::Lines, 0, 0, 8},                      // I40
    {"horizontal sparse thick", Shape::Lines, 0, 0, 8},                // I41
    {"grid dense", Shape::Crossed, 0, 90, 2},                          // I42
    {"grid", Shape::Crossed, 0, 90, 4},                                // I43
    {"grid thick", Shape::Crossed, 0, 90, 4},                          // I44
    {"grid sparse", Shape::Crossed, 0, 90, 8},                         // I45
    {"grid sparse thick", Shape::Crossed, 0, 90, 8},                   // I46
};

Shape standardShape(std::size_t index) {
  const StandardPattern& p = kStandard[index];
  Shape s;
  s.kind = p.kind;
  s.angle1 = p.angle1;
  s.angle2 = p.angle2;
  s.spacing = p.spacing;
  s.what = p.look;
  return s;
}

// A custom pattern's bitmap, repeated in both directions. Row 0 is the top
// line as written in the file.
class Bitmap {
 public:
  Bitmap(int w, int h, std::vector<char> bits) : w_(w), h_(h), bits_(std::move(bits)) {}
  int width() const { return w_; }
  int height() const { return h_; }
  bool at(int x, int y) const {
    x %= w_;
    y %= h_;
    if (x < 0) x += w_;
    if (y < 0) y += h_;
    return bits_[static_cast<std::size_t>(y) * w_ + x] != 0;
  }

 private:
  int w_, h_;
  std::vector<char> bits_;
};

// Steps along which lines are looked for: (dx, dy) in pixels, dy down the
// bitmap, shortest first.
constexpr int kSteps[][2] = {{1, 0}, {0, 1}, {1, 1},  {1, -1}, {2, 1},  {2, -1}, {1, 2},  {1, -2},
                             {3, 1}, {3, -1}, {1, 3}, {1, -3}, {3, 2}, {3, -2}, {2, 3}, {2, -3}};

double stepAngle(int dx, int dy) {
  // The page's y axis points up, the bitmap's rows go down.
  double a = std::atan2(static_cast<double>(-dy), static_cast<double>(dx)) * 180.0 / std::numbers::pi;
  if (a < 0) a += 180;
  if (a >= 180 - 1e-9) a -= 180;
  return a;
}

// Perpendicular distance of the lines that the pixels in `on` form along
// (dx, dy): the lines crossing each row (or column, for shallow lines) are
// counted and the mean distance along the row is projected.
double lineSpacing(const Bitmap& bm, const std::vector<char>& on, int dx, int dy) {
  int w = bm.width(), h = bm.height();
  auto onAt = [&](int x, int y) { return on[static_cast<std::size_t>((y % h + h) % h) * w + (x % w + w) % w] != 0; };
  double angle = stepAngle(dx, dy) * std::numbers::pi / 180.0;
  bool byRows = std::abs(dy) >= std::abs(dx);
  int lanes = byRows ? h : w, len = byRows ? w : h;
  long runs = 0;
  for (int i = 0; i < lanes; ++i)
    for (int j = 0; j < len; ++j) {
      bool cur = byRows ? onAt(j, i) : onAt(i, j);
      bool prev = byRows ? onAt(j - 1, i) : onAt(i, j - 1);
      if (cur && !prev) ++runs;
    }
  if (runs == 0) return len;  // lines along the scan: one per lane
  double along = static_cast<double>(len) * lanes / static_cast<double>(runs);
  return along * (byRows ? std::fabs(std::sin(angle)) : std::fabs(std::cos(angle)));
}

Shape classify(const Bitmap& bm) {
  int w = bm.width(), h = bm.height();
  long total = static_cast<long>(w) * h, set = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) set += bm.at(x, y);
  Shape s;
  s.density = static_cast<double>(set) / static_cast<double>(total);
  if (set == 0) {
    s.kind = Shape::Hollow;
    return s;
  }
  if (set == total) {
    s.kind = Shape::Solid;
    return s;
  }
  if (s.density >= 0.75) {
    s.kind = Shape::Other;
    s.what = "a nearly solid pattern";
    return s;
  }
  // For each step: the pixels inside a line along it (both neighbours along
  // the step set) and the pixels on such a line (at least one neighbour).
  struct Family {
    int dx, dy;
    long inside;
    std::vector<char> on;
  };
  std::vector<Family> fams;
  for (const auto& st : kSteps) {
    // Longer steps would meet the pattern's own repetition: on a tile four
    // pixels wide, three to the right is one to the left.
    if (2 * std::abs(st[0]) >= w || 2 * std::abs(st[1]) >= h) continue;
    Family f{st[0], st[1], 0, std::vector<char>(static_cast<std::size_t>(total), 0)};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (!bm.at(x, y)) continue;
        bool fwd = bm.at(x + f.dx, y + f.dy), back = bm.at(x - f.dx, y - f.dy);
        if (fwd && back) ++f.inside;
        if (fwd || back) f.on[static_cast<std::size_t>(y) * w + x] = 1;
      }
    fams.push_back(std::move(f));
  }
  // Every pixel inside lines of two directions: a lattice of dots or a tint,
  // not lines.
  int full = 0;
  for (const Family& f : fams) full += f.inside >= 0.9 * static_cast<double>(set);
  // Shortest steps first; a direction counts when most of the pattern lies
  // inside its lines and it adds pixels the accepted ones do not explain.
  std::vector<const Family*> chosen;
  std::vector<char> covered(static_cast<std::size_t>(total), 0);
  if (full < 2) {
    for (const Family& f : fams) {
      if (f.inside < 0.5 * static_cast<double>(set) * (chosen.empty() ? 1.0 : 0.5)) continue;
      long added = 0;
      for (long i = 0; i < total; ++i) added += f.on[i] && !covered[i];
      if (added < 0.1 * static_cast<double>(set)) continue;
      chosen.push_back(&f);
      for (long i = 0; i < total; ++i) covered[i] |= f.on[i];
    }
  }
  long explained = 0;
  for (long i = 0; i < total; ++i) explained += covered[i];
  if (chosen.empty() || chosen.size() > 2 || explained < 0.9 * static_cast<double>(set)) {
    s.kind = Shape::Other;
    s.what = full >= 2 ? "a lattice of dots" : "a stipple";
    return s;
  }
  const Family& a = *chosen[0];
  s.angle1 = stepAngle(a.dx, a.dy);
  s.spacing = lineSpacing(bm, a.on, a.dx, a.dy);
  if (chosen.size() == 1) {
    s.kind = Shape::Lines;
    return s;
  }
  const Family& b = *chosen[1];
  s.kind = Shape::Crossed;
  s.angle2 = stepAngle(b.dx, b.dy);
  s.spacing = (s.spacing + lineSpacing(bm, b.on, b.dx, b.dy)) / 2;
  return s;
}

struct CustomPattern {
  std::string name;
  Shape shape;
};

CustomPattern readCustomPattern(const pugi::xml_node& node, std::size_t index) {
  CustomPattern cp;
  cp.name = trim(node.child_value("name"));
  std::vector<std::string> lines;
  for (pugi::xml_node line : node.child("pattern").children("line")) lines.emplace_back(line.child_value());
  std::string which = format("custom dither pattern C%zu", index);
  if (lines.empty()) throw Failure(which + " has no <pattern> lines");
  std::size_t w = lines[0].size();
  if (w == 0 || w > 64 || lines.size() > 64)
    throw Failure(which + format(" is %zu by %zu pixels; 1 to 64 each way are allowed", w, lines.size()));
  std::vector<char> bits;
  for (std::size_t r = 0; r < lines.size(); ++r) {
    const std::string& l = lines[r];
    if (l.size() != w)
      throw Failure(which + format(": line %zu has %zu pixels, line 1 has %zu", r + 1, l.size(), w));
    for (char c : l) {
      if (c == '*' || c == 'x' || c == 'X' || c == '#')
        bits.push_back(1);
      else if (c == '.' || c == ' ' || c == '-')
        bits.push_back(0);
      else
        throw Failure(which + format(": line %zu holds %s; pixels are * (set) or . (clear)", r + 1, quoted(l).c_str()));
    }
  }
  cp.shape = classify(Bitmap(static_cast<int>(w), static_cast<int>(lines.size()), std::move(bits)));
  return cp;
}

// The shape of the pattern named by a <dither-pattern> value.
std::optional<Shape> patternShape(const std::string& ref, const std::vector<CustomPattern>& custom,
                                  std::string& label) {
  label = ref;
  if (ref.size() < 2 || (ref[0] != 'I' && ref[0] != 'C') ||
      ref.find_first_not_of("0123456789", 1) != std::string::npos || ref.size() > 6)
    return std::nullopt;
  std::size_t n = std::stoul(ref.substr(1));
  if (ref[0] == 'I') {
    if (n >= std::size(kStandard)) return std::nullopt;
    return standardShape(n);
  }
  if (n >= custom.size()) return std::nullopt;
  if (!custom[n].name.empty()) label += " (" + commentText(custom[n].name) + ")";
  Shape s = custom[n].shape;
  return s;
}

// ---------------------------------------------------------------------------
// Layer entries

struct Source {
  int layer = 0;
  int datatype = -1;  // -1: every datatype
  bool operator<(const Source& o) const { return std::tie(layer, datatype) < std::tie(o.layer, o.datatype); }
};

std::string sourceText(const Source& s) {
  return s.datatype < 0 ? format("%d/*", s.layer) : format("%d/%d", s.layer, s.datatype);
}

bool parseNumber(const std::string& t, int& v) {
  if (t.empty() || t.size() > 5 || t.find_first_not_of("0123456789") != std::string::npos) return false;
  v = std::stoi(t);
  return v <= 65535;
}

// LAYER/DATATYPE, optionally followed by @N (the layout it comes from);
// DATATYPE may be * for every datatype.
std::optional<Source> parseSource(std::string text) {
  text = trim(text);
  std::size_t at = text.find('@');
  if (at != std::string::npos) text = trim(text.substr(0, at));
  std::size_t slash = text.find('/');
  if (slash == std::string::npos) return std::nullopt;
  Source s;
  std::string l = trim(text.substr(0, slash)), d = trim(text.substr(slash + 1));
  if (!parseNumber(l, s.layer)) return std::nullopt;
  if (d == "*") {
    s.datatype = -1;
  } else if (!parseNumber(d, s.datatype)) {
    return std::nullopt;
  }
  return s;
}

struct Colour {
  double r = 0.5, g = 0.5, b = 0.5;
};

std::optional<Colour> parseColour(const std::string& t) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (t.empty() || t[0] != '#') return std::nullopt;
  std::string h = t.substr(1);
  for (char c : h)
    if (hex(c) < 0) return std::nullopt;
  Colour c;
  if (h.size() == 3) {
    c.r = hex(h[0]) * 17 / 255.0;
    c.g = hex(h[1]) * 17 / 255.0;
    c.b = hex(h[2]) * 17 / 255.0;
  } else if (h.size() == 6 || h.size() == 8) {
    std::size_t o = h.size() - 6;  // #aarrggbb: the alpha is not used
    c.r = (hex(h[o]) * 16 + hex(h[o + 1])) / 255.0;
    c.g = (hex(h[o + 2]) * 16 + hex(h[o + 3])) / 255.0;
    c.b = (hex(h[o + 4]) * 16 + hex(h[o + 5])) / 255.0;
  } else {
    return std::nullopt;
  }
  return c;
}

struct Entry {
  Source src;
  std::string lypName;  // as in the file
  std::string name;     // a configuration word
  Colour colour;
  bool hidden = false;
  Shape shape;
  std::string patternLabel;
};

// A value of <visible> or <valid>.
bool parseFlag(const pugi::xml_node& props, const char* element, const std::string& where) {
  pugi::xml_node n = props.child(element);
  if (!n) return true;
  std::string v = trim(n.child_value());
  if (v == "true" || v == "1") return true;
  if (v == "false" || v == "0") return false;
  throw Failure(format("<%s> of %s is %s; true or false expected", element, where.c_str(), quoted(v).c_str()));
}

// Letters, digits, '_', '.' and '-' stay; anything else becomes '_'. The
// result is one token for the configuration reader and a plain name for the
// page's pattern fonts.
std::string configWord(const std::string& s) {
  std::string w;
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                c == '.' || c == '-';
    w.push_back(keep ? ch : '_');
    if (w.size() >= 100) break;
  }
  return w;
}

class LypReader {
 public:
  LypReader(const std::string& file, const std::vector<CustomPattern>& custom, std::vector<std::string>& warnings)
      : file_(file), custom_(custom), warnings_(warnings) {}

  // Walks the entries in file order, members of a group in place of the
  // group; a hidden or invalid group hides its members.
  std::vector<Entry> read(const pugi::xml_node& root) {
    std::vector<Entry> out;
    struct Item {
      pugi::xml_node node;
      bool parentShown;
    };
    std::vector<Item> todo;
    auto pushChildren = [&](const pugi::xml_node& parent, const char* tag, bool shown) {
      std::vector<Item> kids;
      for (pugi::xml_node n : parent.children(tag)) kids.push_back({n, shown});
      todo.insert(todo.end(), kids.rbegin(), kids.rend());
    };
    pushChildren(root, "properties", true);
    std::size_t ordinal = 0;
    while (!todo.empty()) {
      Item it = todo.back();
      todo.pop_back();
      ++ordinal;
      std::string lypName = trim(it.node.child_value("name"));
      std::string srcText = trim(it.node.child_value("source"));
      std::string where = format("entry %zu", ordinal);
      if (!lypName.empty()) where += " " + quoted(lypName);
      bool shown = it.parentShown && parseFlag(it.node, "visible", where) && parseFlag(it.node, "valid", where);
      if (it.node.child("group-members")) {
        pushChildren(it.node, "group-members", shown);
        continue;
      }
      std::optional<Source> src = parseSource(srcText);
      if (!src) {
        warnings_.push_back(format("%s: skipping %s: its source %s is not LAYER/DATATYPE", file_.c_str(),
                                   where.c_str(), quoted(srcText).c_str()));
        continue;
      }
      Entry e;
      e.src = *src;
      e.lypName = lypName;
      e.hidden = !shown;
      where += " (" + sourceText(e.src) + ")";
      e.colour = colour(it.node, where);
      std::string ref = trim(it.node.child_value("dither-pattern"));
      if (ref.empty()) {
        e.shape.kind = Shape::Hollow;
        e.patternLabel = "none";
      } else if (std::optional<Shape> s = patternShape(ref, custom_, e.patternLabel)) {
        e.shape = *s;
      } else {
        warnings_.push_back(format("%s: %s: unknown dither pattern %s, drawn as outlines", file_.c_str(),
                                   where.c_str(), quoted(ref).c_str()));
        e.shape.kind = Shape::Hollow;
        e.patternLabel = commentText(ref) + " (unknown)";
      }
      out.push_back(std::move(e));
    }
    return out;
  }

 private:
  Colour colour(const pugi::xml_node& props, const std::string& where) {
    for (const char* tag : {"fill-color", "frame-color"}) {
      std::string t = trim(props.child_value(tag));
      if (t.empty()) continue;
      std::optional<Colour> c = parseColour(t);
      if (!c) throw Failure(format("<%s> of %s is %s; a colour #rrggbb expected", tag, where.c_str(), quoted(t).c_str()));
      return *c;
    }
    return Colour{};
  }

  const std::string& file_;
  const std::vector<CustomPattern>& custom_;
  std::vector<std::string>& warnings_;
};

// ---------------------------------------------------------------------------
// The stack table

struct Level {
  double depth, thickness;
};

double parseMicrons(const std::string& t, bool& ok) {
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  ok = !t.empty() && end && *end == '\0' && errno == 0 && std::isfinite(v);
  return v;
}

std::map<Source, Level> readStack(const std::string& path) {
  std::string data = readWholeFile(path);
  std::map<Source, Level> levels;
  std::size_t lineNo = 0;
  for (std::size_t pos = 0; pos < data.size();) {
    std::size_t nl = data.find('\n', pos);
    std::string line = data.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? data.size() : nl + 1;
    ++lineNo;
    std::size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::vector<std::string> f;
    for (std::size_t i = 0; i < line.size();) {
      while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
      std::size_t b = i;
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
      if (i > b) f.push_back(line.substr(b, i - b));
    }
    if (f.empty()) continue;
    auto bad = [&](const std::string& why) {
      return Failure(format("line %zu: %s; expected LAYER/DATATYPE depth thickness", lineNo, why.c_str()));
    };
    if (f.size() != 3) throw bad(format("%zu fields", f.size()));
    std::optional<Source> src = parseSource(f[0]);
    if (!src || f[0].find('@') != std::string::npos) throw bad(quoted(f[0]) + " is not LAYER/DATATYPE");
    bool ok1, ok2;
    Level lv{parseMicrons(f[1], ok1), parseMicrons(f[2], ok2)};
    if (!ok1) throw bad("depth " + quoted(f[1]) + " is not a number");
    if (!ok2) throw bad("thickness " + quoted(f[2]) + " is not a number");
    if (lv.thickness < 0) throw bad("thickness " + quoted(f[2]) + " is negative");
    if (!levels.emplace(*src, lv).second) throw bad(sourceText(*src) + " given twice");
  }
  return levels;
}

// ---------------------------------------------------------------------------

std::vector<CustomPattern> readCustomPatterns(const pugi::xml_node& root) {
  std::vector<CustomPattern> out;
  for (pugi::xml_node n : root.children("custom-dither-pattern")) out.push_back(readCustomPattern(n, out.size()));
  return out;
}

void giveNames(std::vector<Entry>& entries) {
  std::set<std::string> used;
  for (Entry& e : entries) {
    std::string base = configWord(e.lypName);
    std::string tag = e.src.datatype < 0 ? format("L%d", e.src.layer) : format("L%d_%d", e.src.layer, e.src.datatype);
    if (base.empty()) base = tag;
    std::string name = base;
    if (used.count(name)) name = base + "_" + tag;
    for (int k = 2; used.count(name); ++k) name = base + "_" + tag + format(".%d", k);
    used.insert(name);
    e.name = name;
  }
}

}  // namespace

LypOutcome configFromLyp(const LypRequest& req) {
  LypOutcome res;
  std::string current = req.lypPath;
  try {
    std::string data = readWholeFile(req.lypPath);
    pugi::xml_document doc;
    pugi::xml_parse_result pr = doc.load_buffer(data.data(), data.size(),
                                                pugi::parse_default | pugi::parse_comments | pugi::parse_ws_pcdata_single);
    if (pr.status == pugi::status_no_document_element) throw Failure("not a layer-properties file: it holds no XML element");
    if (!pr) {
      std::size_t off = std::min(static_cast<std::size_t>(std::max<std::ptrdiff_t>(pr.offset, 0)), data.size());
      std::size_t line = 1 + static_cast<std::size_t>(std::count(data.begin(), data.begin() + off, '\n'));
      std::size_t lineStart = data.rfind('\n', off == 0 ? 0 : off - 1);
      std::size_t col = lineStart == std::string::npos || off == 0 ? off + 1 : off - lineStart;
      throw Failure(format("not well-formed XML at line %zu, column %zu: %s", line, col, pr.description()));
    }
    pugi::xml_node root = doc.document_element();
    if (std::strcmp(root.name(), "layer-properties-tabs") == 0) {
      pugi::xml_node first = root.child("layer-properties");
      if (!first) throw Failure("not a layer-properties file: <layer-properties-tabs> holds no <layer-properties>");
      root = first;
    }
    if (std::strcmp(root.name(), "layer-properties") != 0)
      throw Failure(format("not a layer-properties file: the root element is <%s>, not <layer-properties>",
                           commentText(root.name()).c_str()));
    std::vector<CustomPattern> custom = readCustomPatterns(root);
    std::vector<Entry> found = LypReader(req.lypPath, custom, res.warnings).read(root);

    // One entry per source: the first one.
    std::vector<Entry> entries;
    std::set<Source> seen;
    for (Entry& e : found) {
      if (seen.insert(e.src).second) {
        entries.push_back(std::move(e));
      } else {
        res.warnings.push_back(format("%s: %s is listed again as %s; the first entry is kept", req.lypPath.c_str(),
                                      sourceText(e.src).c_str(), quoted(e.lypName).c_str()));
      }
    }
    if (entries.empty()) throw Failure("no layer entry with a LAYER/DATATYPE source");
    giveNames(entries);

    std::map<Source, Level> stack;
    if (!req.stackPath.empty()) {
      current = req.stackPath;
      stack = readStack(req.stackPath);
      current = req.lypPath;
    }

    // The page and the plot pick shapes by layer number alone, so only one
    // entry of a number may carry fill or hatching: the first visible one
    // (the first one when none is visible). The others add outlines.
    std::map<int, std::size_t> styleOwner;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      auto it = styleOwner.find(entries[i].src.layer);
      if (it == styleOwner.end())
        styleOwner.emplace(entries[i].src.layer, i);
      else if (entries[it->second].hidden && !entries[i].hidden)
        it->second = i;
    }

    // Entries of one layer number stand together, where the number first
    // appears, with the style owner last: the page strokes every shape of
    // the number once per entry, and the last stroke's colour is the one
    // seen.
    std::vector<std::size_t> order;
    std::set<int> placed;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      int layer = entries[i].src.layer;
      if (!placed.insert(layer).second) continue;
      for (std::size_t j = i; j < entries.size(); ++j)
        if (entries[j].src.layer == layer && j != styleOwner[layer]) order.push_back(j);
      order.push_back(styleOwner[layer]);
    }

    std::string& out = res.text;
    out += "# Layer configuration written by layergen from " + commentText(baseName(req.lypPath)) + "\n";
    for (pugi::xml_node n = doc.first_child(); n && n != doc.document_element(); n = n.next_sibling()) {
      if (n.type() != pugi::node_comment) continue;
      std::string text = n.value();
      for (std::size_t pos = 0; pos <= text.size();) {
        std::size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() + 1 : nl + 1;
        line = commentText(trim(line));
        out += line.empty() ? "#\n" : "# " + line + "\n";
      }
    }
    out += "\n";
    for (std::size_t i : order) {
      const Entry& e = entries[i];
      Style st = styleOf(e.shape);
      std::string how = st.how;
      if (styleOwner[e.src.layer] != i && (st.fill || st.hatch)) {
        const Entry& owner = entries[styleOwner[e.src.layer]];
        how += format("; outlines only, as layer %d takes its fill and hatching from %s", e.src.layer,
                      owner.name.c_str());
        st = Style{};
      }
      out += "# " + commentText(e.lypName.empty() ? e.name : e.lypName) + " " + sourceText(e.src) + ": pattern " +
             e.patternLabel + ", " + commentText(how) + "\n";
      out += format("newlayer\n gdsno %d\n", e.src.layer);
      if (e.src.datatype >= 0) out += format(" datatype %d\n", e.src.datatype);
      out += format(" hidden %s\n name %s\n", e.hidden ? "yes" : "no", e.name.c_str());
      out += format(" red %.3f\n green %.3f\n blue %.3f\n", e.colour.r, e.colour.g, e.colour.b);
      out += format(" fill %s\n hatch %s\n", st.fill ? "yes" : "no",
                    st.hatch == 1 ? "single" : st.hatch == 2 ? "cross" : "no");
      if (st.hatch) out += format(" angle %.2f\n step %.2f\n", st.angle, st.step);
      double thickness = 0.1, depth = 0.1 * e.src.layer;
      auto lv = stack.find(e.src);
      if (lv == stack.end()) lv = stack.find(Source{e.src.layer, -1});
      if (lv != stack.end()) {
        thickness = lv->second.thickness;
        depth = lv->second.depth;
      }
      out += format(" thickness %f\n depth %f\nendlayer\n\n", thickness, depth);
    }
    res.ok = true;
  } catch (const Failure& f) {
    res.ok = false;
    res.text.clear();
    res.error = current + ": " + f.what();
  } catch (const std::exception& x) {
    res.ok = false;
    res.text.clear();
    res.error = current + ": " + x.what();
  }
  return res;
}

}  // namespace layergen
