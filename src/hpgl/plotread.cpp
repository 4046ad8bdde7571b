#include "hpgl/plotread.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

namespace qm::plotread {

std::string Plot::mnemonics() const {
  std::string s;
  for (const Command& c : commands) {
    if (!s.empty()) s += ' ';
    s += c.name;
  }
  return s;
}

int Plot::count(std::string_view name) const {
  int n = 0;
  for (const Command& c : commands) n += c.name == name;
  return n;
}

const Command* Plot::find(std::string_view name) const {
  for (const Command& c : commands)
    if (c.name == name) return &c;
  return nullptr;
}

namespace {

// Parameter rules of one mnemonic.
struct Rule {
  const char* name;
  int minN;
  int maxN;      // -1: any number
  bool ints;     // every parameter an integer
  bool pairs;    // the count must be even
};

const Rule kRules[] = {
    {"BP", 0, 0, true, false}, {"IN", 0, 0, true, false}, {"NP", 1, 1, true, false},
    {"MC", 1, 1, true, false}, {"QL", 1, 1, true, false}, {"WU", 1, 1, true, false},
    {"PW", 1, 1, false, false}, {"PC", 4, 4, true, false}, {"PS", 2, 2, true, false},
    {"IP", 4, 4, true, false}, {"SC", 4, 4, true, false}, {"SP", 1, 1, true, false},
    {"FT", 1, 3, false, false}, {"PU", 0, -1, true, true}, {"PD", 2, -1, true, true},
    {"ER", 2, 2, true, false}, {"RR", 2, 2, true, false}, {"PM", 1, 1, true, false},
    {"EP", 0, 0, true, false}, {"FP", 0, 0, true, false}, {"SR", 2, 2, false, false},
    {"LO", 1, 1, true, false}, {"PG", 0, 1, true, false},
};

const Rule* rule(std::string_view name) {
  for (const Rule& r : kRules)
    if (name == r.name) return &r;
  return nullptr;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }

// The colour of a pen that no PC has set.
Colour defaultColour(int pen) {
  static const Colour kPalette[8] = {{255, 255, 255}, {0, 0, 0},   {255, 0, 0},   {0, 255, 0},
                                     {255, 255, 0},   {0, 0, 255}, {255, 0, 255}, {0, 255, 255}};
  return pen >= 0 && pen < 8 ? kPalette[pen] : Colour{};
}

class Parser {
 public:
  explicit Parser(std::string_view d) : d_(d) {}

  Plot run() {
    if (d_.substr(0, 5) != "\x1b%-1B") return fail("the plot does not start with ESC%-1B");
    plot_.commands.push_back(Command{"ESC", {}, {}});
    pos_ = 5;
    while (true) {
      while (pos_ < d_.size() && d_[pos_] == '\n') ++pos_;
      if (pos_ >= d_.size()) break;
      if (!command()) return plot_;
    }
    if (polygonMode_) return fail("the plot ends inside polygon mode");
    return plot_;
  }

 private:
  Plot fail(const std::string& msg) {
    if (plot_.error.empty()) {
      std::ostringstream s;
      s << msg << " (offset " << pos_ << ")";
      plot_.error = s.str();
    }
    return plot_;
  }
  bool err(const std::string& msg) {
    fail(msg);
    return false;
  }

  // One number: -?digits(.digits)?
  bool number(double& v, bool& isInt) {
    std::size_t start = pos_;
    if (pos_ < d_.size() && d_[pos_] == '-') ++pos_;
    std::size_t digits = pos_;
    while (pos_ < d_.size() && isDigit(d_[pos_])) ++pos_;
    if (pos_ == digits) return false;
    isInt = true;
    if (pos_ < d_.size() && d_[pos_] == '.') {
      ++pos_;
      std::size_t frac = pos_;
      while (pos_ < d_.size() && isDigit(d_[pos_])) ++pos_;
      if (pos_ == frac) return false;
      isInt = false;
    }
    v = std::strtod(std::string(d_.substr(start, pos_ - start)).c_str(), nullptr);
    return std::isfinite(v);
  }

  bool command() {
    if (pos_ + 2 > d_.size() || !isUpper(d_[pos_]) || !isUpper(d_[pos_ + 1]))
      return err("expected a mnemonic");
    Command c;
    c.name = std::string(d_.substr(pos_, 2));
    const Rule* r = rule(c.name);
    if (!r && c.name != "LB" && c.name != "PE") return err("unknown mnemonic " + c.name);
    pos_ += 2;
    if (c.name == "LB") {
      std::size_t end = d_.find('\x03', pos_);
      if (end == std::string_view::npos) return err("LB without its terminator");
      c.label = std::string(d_.substr(pos_, end - pos_));
      pos_ = end + 1;
    } else if (c.name == "PE") {
      if (!encoded()) return false;
    } else {
      bool allInt = true;
      if (pos_ < d_.size() && (d_[pos_] == '-' || isDigit(d_[pos_]))) {
        while (true) {
          double v;
          bool isInt;
          if (!number(v, isInt)) return err("bad parameter syntax in " + c.name);
          allInt = allInt && isInt;
          c.params.push_back(v);
          if (pos_ < d_.size() && d_[pos_] == ',') {
            ++pos_;
            continue;
          }
          break;
        }
      }
      int n = static_cast<int>(c.params.size());
      if (n < r->minN || (r->maxN >= 0 && n > r->maxN) || (r->pairs && n % 2))
        return err("wrong parameter count in " + c.name);
      if (r->ints && !allInt) return err("integer parameter expected in " + c.name);
    }
    if (c.name != "PE" && pos_ < d_.size() && d_[pos_] == ';') ++pos_;
    if (pos_ < d_.size() && d_[pos_] != '\n' && !isUpper(d_[pos_]))
      return err("unexpected byte after " + c.name);
    if (!check(c)) return false;
    plot_.commands.push_back(std::move(c));
    return true;
  }

  static bool whole(double v) { return v == std::floor(v); }

  void selectPen(int pen) {
    pen_ = pen;
    auto it = colours_.find(pen);
    colour_ = it != colours_.end() ? it->second : defaultColour(pen);
  }

  // Values and state: polygon mode, pen position, the shapes drawn.
  bool check(const Command& c) {
    const auto& p = c.params;
    const std::string& n = c.name;
    if (polygonMode_ && n != "PU" && n != "PD" && n != "PM" && n != "PE") return err(n + " inside polygon mode");
    if (n == "NP" && p[0] < 1) return err("bad pen count");
    if (n == "MC" && p[0] != 0 && p[0] != 1) return err("bad merge control");
    if (n == "QL" && (p[0] < 0 || p[0] > 100)) return err("bad quality level");
    if (n == "WU" && p[0] != 0 && p[0] != 1) return err("bad width unit");
    if (n == "PW" && p[0] < 0) return err("bad pen width");
    if ((n == "PC" || n == "SP") && p[0] < 0) return err("bad pen number");
    if (n == "PS" && (p[0] < 0 || p[1] < 0)) return err("bad plot size");
    if (n == "WU") plot_.relativeWidth = p[0] == 1;
    if (n == "PW") plot_.penWidth = p[0];
    if (n == "PS") {
      plot_.plotLength = p[0];
      plot_.plotWidth = p[1];
      plot_.hasSize = true;
    }
    if (n == "IP") {
      Scaling& s = plot_.scaling;
      s.p1x = p[0], s.p1y = p[1], s.p2x = p[2], s.p2y = p[3];
      s.hasIP = true;
    }
    if (n == "SC") {
      Scaling& s = plot_.scaling;
      s.xmin = p[0], s.xmax = p[1], s.ymin = p[2], s.ymax = p[3];
      s.hasSC = true;
    }
    if (n == "PC") {
      Colour col{p[1], p[2], p[3]};
      colours_[static_cast<int>(p[0])] = col;
      if (static_cast<int>(p[0]) == pen_) colour_ = col;
    }
    if (n == "FT") {
      if (!whole(p[0])) return err("bad fill type");
      int t = static_cast<int>(p[0]);
      if (t == 1 && p.size() != 1) return err("FT1 takes no spacing");
      if ((t == 3 || t == 4) && (p.size() != 3 || !whole(p[1]))) return err("FT3/FT4 need spacing and angle");
      if (t != 1 && t != 3 && t != 4) return err("unexpected fill type");
      fillType_ = t;
      if (t != 1) {
        fillSpacing_ = p[1];
        fillAngle_ = p[2];
      }
    }
    if (n == "LO") {
      static const std::set<int> kOrigins = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13,
                                             14, 15, 16, 17, 18, 19, 21};
      if (!kOrigins.count(static_cast<int>(p[0]))) return err("bad label origin");
      origin_ = static_cast<int>(p[0]);
    }
    if (n == "SP") selectPen(static_cast<int>(p[0]));
    if (n == "SR") {
      size_ = p[0];
      height_ = p[1];
    }
    if (n == "PU" || n == "PD") {
      std::vector<Point> line;
      if (n == "PD" && !polygonMode_) line.push_back({x_, y_});
      for (std::size_t i = 0; i + 1 < p.size(); i += 2) {
        x_ = p[i];
        y_ = p[i + 1];
        if (polygonMode_) {
          if (n == "PU") return err("PU with a move inside a polygon");
          poly_.push_back({x_, y_});
        } else if (n == "PD") {
          line.push_back({x_, y_});
        }
      }
      if (line.size() > 1) shape(Shape::Line, std::move(line));
    }
    if (n == "PM") {
      int m = static_cast<int>(p[0]);
      if (m == 0) {
        if (polygonMode_) return err("PM0 inside polygon mode");
        polygonMode_ = true;
        poly_.assign(1, {x_, y_});
      } else if (m == 1) {
        if (!polygonMode_) return err("PM1 outside polygon mode");
      } else if (m == 2) {
        if (!polygonMode_) return err("PM2 outside polygon mode");
        polygonMode_ = false;
        buffer_ = poly_;
        hasBuffer_ = true;
      } else {
        return err("bad polygon mode");
      }
    }
    if (n == "ER" || n == "RR") {
      double x1 = x_ + p[0], y1 = y_ + p[1];
      shape(n == "ER" ? Shape::EdgeRect : Shape::FillRect, {{x_, y_}, {x1, y1}});
      buffer_ = {{x_, y_}, {x_, y1}, {x1, y1}, {x1, y_}};
      hasBuffer_ = true;
    }
    if (n == "EP" || n == "FP") {
      if (!hasBuffer_) return err(n + " without a polygon");
      shape(n == "EP" ? Shape::EdgePolygon : Shape::FillPolygon, buffer_);
    }
    if (n == "LB") {
      Shape s = make(Shape::Label, {{x_, y_}});
      s.label = c.label;
      s.size = size_;
      s.height = height_;
      s.origin = origin_;
      plot_.shapes.push_back(std::move(s));
    }
    return true;
  }

  // One value of an encoded polyline: base-64 digits (base 32 in 7-bit
  // mode), least significant first, the last one from the terminating
  // range; the lowest bit of the result is the sign.
  bool encodedValue(bool seven, int64_t& v) {
    uint64_t u = 0;
    int shift = 0;
    while (true) {
      if (pos_ >= d_.size()) return err("PE value cut short");
      const int b = static_cast<unsigned char>(d_[pos_]);
      int digit;
      bool last;
      if (seven) {
        if (b < 63 || b > 126) return err("bad byte in PE value");
        last = b >= 95;
        digit = last ? b - 95 : b - 63;
      } else {
        if (b >= 63 && b <= 126) {
          last = false;
          digit = b - 63;
        } else if (b >= 191 && b <= 254) {
          last = true;
          digit = b - 191;
        } else {
          return err("bad byte in PE value");
        }
      }
      ++pos_;
      if (shift > 53) return err("PE value too large");
      u |= static_cast<uint64_t>(digit) << shift;
      shift += seven ? 5 : 6;
      if (last) break;
    }
    if (u >> 54) return err("PE value too large");
    const int64_t mag = static_cast<int64_t>(u >> 1);
    v = (u & 1) ? -mag : mag;
    return true;
  }

  // PE: flags and coordinate pairs up to the semicolon. Pairs are
  // relative to the pen position unless marked absolute, pen down unless
  // marked pen up.
  bool encoded() {
    bool seven = false, up = false, absolute = false;
    int fraction = 0;
    std::vector<Point> line;
    auto endLine = [&] {
      if (line.size() > 1) shape(Shape::Line, std::move(line));
      line.clear();
    };
    while (true) {
      if (pos_ >= d_.size()) return err("PE without its semicolon");
      const char ch = d_[pos_];
      if (ch == ';') {
        ++pos_;
        break;
      }
      int64_t v = 0;
      switch (ch) {
        case '7':
          ++pos_;
          seven = true;
          continue;
        case ':':
          ++pos_;
          if (!encodedValue(seven, v)) return false;
          if (v < 0 || v > 32767) return err("bad pen number in PE");
          endLine();
          selectPen(static_cast<int>(v));
          continue;
        case '>':
          ++pos_;
          if (!encodedValue(seven, v)) return false;
          if (v < 0 || v > 26) return err("bad fraction in PE");
          fraction = static_cast<int>(v);
          continue;
        case '<':
          ++pos_;
          up = true;
          continue;
        case '=':
          ++pos_;
          absolute = true;
          continue;
        default: break;
      }
      int64_t ex = 0, ey = 0;
      if (!encodedValue(seven, ex)) return false;
      if (pos_ < d_.size() && d_[pos_] == ';') return err("PE coordinate without its y");
      if (!encodedValue(seven, ey)) return false;
      const double scale = std::ldexp(1.0, -fraction);
      const double dx = static_cast<double>(ex) * scale, dy = static_cast<double>(ey) * scale;
      const double nx = absolute ? dx : x_ + dx, ny = absolute ? dy : y_ + dy;
      if (up) {
        if (polygonMode_) return err("pen-up move inside a polygon");
        endLine();
      } else if (polygonMode_) {
        poly_.push_back({nx, ny});
      } else {
        if (line.empty()) line.push_back({x_, y_});
        line.push_back({nx, ny});
      }
      x_ = nx;
      y_ = ny;
      up = absolute = false;
    }
    if (up || absolute) return err("PE flag without its coordinates");
    endLine();
    return true;
  }

  Shape make(Shape::Kind k, std::vector<Point> pts) const {
    Shape s;
    s.kind = k;
    s.pen = pen_;
    s.fillType = fillType_;
    s.points = std::move(pts);
    s.colour = colour_;
    s.fillSpacing = fillSpacing_;
    s.fillAngle = fillAngle_;
    return s;
  }

  void shape(Shape::Kind k, std::vector<Point> pts) { plot_.shapes.push_back(make(k, std::move(pts))); }

  std::string_view d_;
  std::size_t pos_ = 0;
  Plot plot_;
  bool polygonMode_ = false;
  bool hasBuffer_ = false;
  int pen_ = 0;
  Colour colour_ = defaultColour(0);
  std::map<int, Colour> colours_;
  int fillType_ = 0;
  double fillSpacing_ = 0, fillAngle_ = 0;
  double size_ = 0, height_ = 0;
  int origin_ = 1;
  double x_ = 0, y_ = 0;
  std::vector<Point> poly_, buffer_;
};

}  // namespace

Plot parse(std::string_view data) { return Parser(data).run(); }

}  // namespace qm::plotread
