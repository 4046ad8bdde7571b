#include "hpgl_check.h"

#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>

namespace hpglcheck {

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
    return true;
  }

  bool command() {
    if (pos_ + 2 > d_.size() || !isUpper(d_[pos_]) || !isUpper(d_[pos_ + 1]))
      return err("expected a mnemonic");
    Command c;
    c.name = std::string(d_.substr(pos_, 2));
    const Rule* r = rule(c.name);
    if (!r && c.name != "LB") return err("unknown mnemonic " + c.name);
    pos_ += 2;
    if (c.name == "LB") {
      std::size_t end = d_.find('\x03', pos_);
      if (end == std::string_view::npos) return err("LB without its terminator");
      c.label = std::string(d_.substr(pos_, end - pos_));
      pos_ = end + 1;
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
    if (pos_ < d_.size() && d_[pos_] == ';') ++pos_;
    if (pos_ < d_.size() && d_[pos_] != '\n' && !isUpper(d_[pos_]))
      return err("unexpected byte after " + c.name);
    if (!check(c)) return false;
    plot_.commands.push_back(std::move(c));
    return true;
  }

  static bool whole(double v) { return v == std::floor(v); }

  // Values and state: polygon mode, pen position, the shapes drawn.
  bool check(const Command& c) {
    const auto& p = c.params;
    const std::string& n = c.name;
    if (polygonMode_ && n != "PU" && n != "PD" && n != "PM") return err(n + " inside polygon mode");
    if (n == "NP" && p[0] < 1) return err("bad pen count");
    if (n == "MC" && p[0] != 0 && p[0] != 1) return err("bad merge control");
    if (n == "QL" && (p[0] < 0 || p[0] > 100)) return err("bad quality level");
    if (n == "WU" && p[0] != 0 && p[0] != 1) return err("bad width unit");
    if (n == "PW" && p[0] < 0) return err("bad pen width");
    if ((n == "PC" || n == "SP") && p[0] < 0) return err("bad pen number");
    if (n == "PS" && (p[0] < 0 || p[1] < 0)) return err("bad plot size");
    if (n == "FT") {
      if (!whole(p[0])) return err("bad fill type");
      int t = static_cast<int>(p[0]);
      if (t == 1 && p.size() != 1) return err("FT1 takes no spacing");
      if ((t == 3 || t == 4) && (p.size() != 3 || !whole(p[1]))) return err("FT3/FT4 need spacing and angle");
      if (t != 1 && t != 3 && t != 4) return err("unexpected fill type");
      fillType_ = t;
    }
    if (n == "LO") {
      static const std::set<int> kOrigins = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13,
                                             14, 15, 16, 17, 18, 19, 21};
      if (!kOrigins.count(static_cast<int>(p[0]))) return err("bad label origin");
    }
    if (n == "SP") pen_ = static_cast<int>(p[0]);
    if (n == "SR") size_ = p[0];
    if (n == "PU" || n == "PD") {
      for (std::size_t i = 0; i + 1 < p.size(); i += 2) {
        x_ = static_cast<int64_t>(p[i]);
        y_ = static_cast<int64_t>(p[i + 1]);
        if (polygonMode_) {
          if (n == "PU") return err("PU with a move inside a polygon");
          poly_.push_back({x_, y_});
        }
      }
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
      int64_t x1 = x_ + static_cast<int64_t>(p[0]), y1 = y_ + static_cast<int64_t>(p[1]);
      shape(n == "ER" ? Shape::EdgeRect : Shape::FillRect, {{x_, y_}, {x1, y1}});
      buffer_ = {{x_, y_}, {x_, y1}, {x1, y1}, {x1, y_}};
      hasBuffer_ = true;
    }
    if (n == "EP" || n == "FP") {
      if (!hasBuffer_) return err(n + " without a polygon");
      shape(n == "EP" ? Shape::EdgePolygon : Shape::FillPolygon, buffer_);
    }
    if (n == "LB") {
      Shape s{Shape::Label, pen_, fillType_, {{x_, y_}}, c.label, size_};
      plot_.shapes.push_back(std::move(s));
    }
    return true;
  }

  void shape(Shape::Kind k, std::vector<std::pair<int64_t, int64_t>> pts) {
    plot_.shapes.push_back(Shape{k, pen_, fillType_, std::move(pts), {}, 0});
  }

  std::string_view d_;
  std::size_t pos_ = 0;
  Plot plot_;
  bool polygonMode_ = false;
  bool hasBuffer_ = false;
  int pen_ = 0;
  int fillType_ = 0;
  double size_ = 0;
  int64_t x_ = 0, y_ = 0;
  std::vector<std::pair<int64_t, int64_t>> poly_, buffer_;
};

}  // namespace

Plot parse(std::string_view data) { return Parser(data).run(); }

}  // namespace hpglcheck
