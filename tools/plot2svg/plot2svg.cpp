// plot2svg: draws an HP-GL/2 plot written by quillmask as an SVG picture.
//
//   plot2svg [in.plt [out.svg]]     ("-" or nothing: standard input/output)
//
// The plot is read by the strict plot reader; a plot it refuses is not
// drawn: the reason goes to standard error and the status is 1, with
// nothing written.
//
// The picture is the plot's page: PS gives its size in plotter units, IP
// and SC map the plot's user units onto it, y up. It fills the window of
// a browser (or an <img> of any size) with the page's proportions.
// Pens keep their PC colours. Edges (ER, EP) and pen-down lines (PD, PE)
// are drawn as hairlines, one screen pixel wide at any zoom, as a preview
// shows a fine pen; filled rectangles and polygons (RR, FP) are filled
// solid (FT1) or hatched (FT3 parallel, FT4 crossed) with hairlines at the
// plot's spacing and angle. Labels stand at their position with their size
// and origin (LO). Later shapes cover earlier ones.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "common/out.h"
#include "hpgl/plotread.h"

namespace {

using qm::plotread::Colour;
using qm::plotread::Plot;
using qm::plotread::Point;
using qm::plotread::Shape;

const char kUsage[] =
    "usage: plot2svg [in.plt [out.svg]]\n"
    "  Draws an HP-GL/2 plot written by quillmask as an SVG picture.\n"
    "  Without in.plt (or with -) the plot is read from standard input,\n"
    "  without out.svg (or with -) the picture goes to standard output.\n"
    "  Edges are hairlines; fills and hatching are drawn as the plot has them.\n";

// Reads a whole file (or standard input for "-"); false when it cannot.
bool readAll(const std::string& path, std::string& data) {
  std::FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[1 << 16];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
  const bool ok = !std::ferror(f);
  if (f != stdin) std::fclose(f);
  return ok;
}

// A number of the picture: at most two decimals, no trailing zeros.
void num(qm::Out& o, double v) {
  if (!std::isfinite(v)) v = 0;
  double r = std::round(v * 100) / 100;
  if (r == 0) r = 0;  // no "-0"
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%.2f", r);
  while (n > 0 && buf[n - 1] == '0') --n;
  if (n > 0 && buf[n - 1] == '.') --n;
  o.write(buf, static_cast<std::size_t>(n));
}

// A colour component as written (0 to 255) clamped to a byte.
int component(double c) {
  if (!(c > 0)) return 0;
  if (c > 255) return 255;
  return static_cast<int>(std::lround(c));
}

void colour(qm::Out& o, const Colour& c) {
  o.printf("#%02x%02x%02x", component(c.r), component(c.g), component(c.b));
}

// Text as XML character data: markup characters escaped, bytes of 0x80
// and above taken as Latin-1, control bytes (which XML cannot hold) shown
// by their control pictures.
void text(qm::Out& o, std::string_view s) {
  for (unsigned char c : s) {
    switch (c) {
      case '&': o.put(std::string_view("&amp;")); break;
      case '<': o.put(std::string_view("&lt;")); break;
      case '>': o.put(std::string_view("&gt;")); break;
      case '"': o.put(std::string_view("&quot;")); break;
      default:
        if (c < 0x20 || c == 0x7f) {
          o.printf("&#x%x;", c == 0x7f ? 0x2421 : 0x2400 + c);
        } else if (c >= 0x80) {
          o.printf("&#x%x;", c);
        } else {
          o.put(static_cast<char>(c));
        }
    }
  }
}

// Where user units land on the page (plotter units, y down as SVG wants).
class Page {
 public:
  explicit Page(const Plot& p) {
    const auto& s = p.scaling;
    double p1x = 0, p1y = 0, p2x = 0, p2y = 0;
    if (s.hasIP) {
      p1x = s.p1x, p1y = s.p1y, p2x = s.p2x, p2y = s.p2y;
    }
    if (p.hasSize) {
      width_ = p.plotLength;
      height_ = p.plotWidth;
    } else if (s.hasIP) {
      width_ = std::max(p1x, p2x);
      height_ = std::max(p1y, p2y);
    }
    if (s.hasSC) {
      axis(s.xmin, s.xmax, p1x, p2x, fx_, ox_);
      axis(s.ymin, s.ymax, p1y, p2y, fy_, oy_);
    }
    if (!p.hasSize && !s.hasIP) {
      // No page given: the drawing's own extent.
      double maxx = 0, maxy = 0;
      for (const Shape& sh : p.shapes)
        for (const Point& q : sh.points) {
          maxx = std::max(maxx, ox_ + q.x * fx_);
          maxy = std::max(maxy, oy_ + q.y * fy_);
        }
      width_ = maxx;
      height_ = maxy;
    }
    if (!(width_ >= 1)) width_ = 1;
    if (!(height_ >= 1)) height_ = 1;
    diagonal_ = std::hypot(p2x - p1x, p2y - p1y);
    if (!(diagonal_ > 0)) diagonal_ = std::hypot(width_, height_);
    p2p1x_ = std::fabs(p2x - p1x);
    p2p1y_ = std::fabs(p2y - p1y);
  }

  double x(double ux) const { return ox_ + ux * fx_; }
  double y(double uy) const { return height_ - (oy_ + uy * fy_); }
  double width() const { return width_; }
  double height() const { return height_; }
  double fx() const { return fx_; }
  double diagonal() const { return diagonal_; }
  double p2p1x() const { return p2p1x_; }
  double p2p1y() const { return p2p1y_; }

 private:
  // One direction of SC: user lo..hi onto plotter p1..p2. A window of no
  // width keeps user units as plotter units.
  static void axis(double lo, double hi, double p1, double p2, double& f, double& o) {
    f = hi != lo ? (p2 - p1) / (hi - lo) : 1.0;
    o = p1 - lo * f;
  }

  double width_ = 0, height_ = 0;
  double fx_ = 1, fy_ = 1, ox_ = 0, oy_ = 0;
  double diagonal_ = 0, p2p1x_ = 0, p2p1y_ = 0;
};

class Writer {
 public:
  Writer(qm::Out& o, const Plot& p) : o_(o), p_(p), page_(p) {}

  void write() {
    o_.put(std::string_view("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"));
    // The picture fills the window it is shown in, keeping its proportions.
    o_.put(std::string_view(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100%\" height=\"100%\" viewBox=\"0 0 "));
    num(o_, page_.width());
    o_.put(' ');
    num(o_, page_.height());
    o_.put(std::string_view("\">\n"));
    o_.put(std::string_view(
        "<style>.e{fill:none;stroke-width:1px;vector-effect:non-scaling-stroke;"
        "stroke-linejoin:round}.f{stroke:none;fill-rule:evenodd}"
        "text{font-family:sans-serif;white-space:pre}</style>\n"));
    o_.put(std::string_view("<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n"));
    patterns();
    for (const Shape& s : p_.shapes) shape(s);
    o_.put(std::string_view("</svg>\n"));
  }

 private:
  using HatchKey = std::tuple<int, int, int, int, double, double>;  // type, r, g, b, spacing, angle

  static bool hatched(const Shape& s) {
    return (s.kind == Shape::FillRect || s.kind == Shape::FillPolygon) && (s.fillType == 3 || s.fillType == 4);
  }
  static HatchKey key(const Shape& s) {
    return {s.fillType, component(s.colour.r), component(s.colour.g), component(s.colour.b), s.fillSpacing,
            s.fillAngle};
  }

  // One pattern per hatch in use.
  void patterns() {
    for (const Shape& s : p_.shapes) {
      if (!hatched(s)) continue;
      HatchKey k = key(s);
      if (hatches_.count(k)) continue;
      const int id = static_cast<int>(hatches_.size());
      hatches_[k] = id;
      if (id == 0) o_.put(std::string_view("<defs>\n"));
      double step = std::fabs(s.fillSpacing * page_.fx());
      if (!(step > 0)) step = page_.diagonal() / 100;  // the default spacing
      o_.printf("<pattern id=\"h%d\" patternUnits=\"userSpaceOnUse\" width=\"", id);
      num(o_, step);
      o_.put(std::string_view("\" height=\""));
      num(o_, step);
      o_.put(std::string_view("\" patternTransform=\"rotate("));
      num(o_, -std::fmod(s.fillAngle, 360.0));
      o_.put(std::string_view(")\"><path class=\"e\" stroke=\""));
      colour(o_, s.colour);
      o_.put(std::string_view("\" d=\"M0 "));
      num(o_, step / 2);
      o_.put('H');
      num(o_, step);
      if (s.fillType == 4) {
        o_.put('M');
        num(o_, step / 2);
        o_.put(std::string_view(" 0V"));
        num(o_, step);
      }
      o_.put(std::string_view("\"/></pattern>\n"));
    }
    if (!hatches_.empty()) o_.put(std::string_view("</defs>\n"));
  }

  void point(const Point& q) {
    num(o_, page_.x(q.x));
    o_.put(',');
    num(o_, page_.y(q.y));
  }

  void paint(const Shape& s, bool fill) {
    if (!fill) {
      o_.put(std::string_view(" class=\"e\" stroke=\""));
      colour(o_, s.colour);
    } else if (hatched(s)) {
      o_.printf(" class=\"f\" fill=\"url(#h%d)", hatches_.at(key(s)));
    } else {
      o_.put(std::string_view(" class=\"f\" fill=\""));
      colour(o_, s.colour);
    }
    o_.put('"');
  }

  void shape(const Shape& s) {
    switch (s.kind) {
      case Shape::EdgeRect:
      case Shape::FillRect: {
        const double x0 = page_.x(s.points[0].x), y0 = page_.y(s.points[0].y);
        const double x1 = page_.x(s.points[1].x), y1 = page_.y(s.points[1].y);
        o_.put(std::string_view("<rect x=\""));
        num(o_, std::min(x0, x1));
        o_.put(std::string_view("\" y=\""));
        num(o_, std::min(y0, y1));
        o_.put(std::string_view("\" width=\""));
        num(o_, std::fabs(x1 - x0));
        o_.put(std::string_view("\" height=\""));
        num(o_, std::fabs(y1 - y0));
        o_.put('"');
        paint(s, s.kind == Shape::FillRect);
        o_.put(std::string_view("/>\n"));
        break;
      }
      case Shape::EdgePolygon:
      case Shape::FillPolygon:
      case Shape::Line: {
        o_.put(std::string_view(s.kind == Shape::Line ? "<polyline points=\"" : "<polygon points=\""));
        for (std::size_t i = 0; i < s.points.size(); ++i) {
          if (i) o_.put(' ');
          point(s.points[i]);
        }
        o_.put('"');
        paint(s, s.kind == Shape::FillPolygon);
        o_.put(std::string_view("/>\n"));
        break;
      }
      case Shape::Label: label(s); break;
    }
  }

  // SR sizes are per cent of the distance between the scaling points; the
  // character height is taken as the cap height of the font.
  void label(const Shape& s) {
    const double capHeight = std::fabs(s.height) / 100 * page_.p2p1y();
    const double fontSize = capHeight / 0.72;
    int o = s.origin == 21 ? 1 : s.origin > 10 ? s.origin - 10 : s.origin;
    const int column = (o - 1) / 3;  // left, centre, right
    const int row = (o - 1) % 3;     // bottom, middle, top
    o_.put(std::string_view("<text x=\""));
    num(o_, page_.x(s.points[0].x));
    o_.put(std::string_view("\" y=\""));
    num(o_, page_.y(s.points[0].y));
    o_.put(std::string_view("\" font-size=\""));
    num(o_, fontSize);
    o_.put('"');
    if (column == 1) o_.put(std::string_view(" text-anchor=\"middle\""));
    if (column == 2) o_.put(std::string_view(" text-anchor=\"end\""));
    if (row == 1) o_.put(std::string_view(" dy=\"0.36em\""));
    if (row == 2) o_.put(std::string_view(" dy=\"0.72em\""));
    o_.put(std::string_view(" fill=\""));
    colour(o_, s.colour);
    o_.put(std::string_view("\">"));
    text(o_, s.label);
    o_.put(std::string_view("</text>\n"));
  }

  qm::Out& o_;
  const Plot& p_;
  Page page_;
  std::map<HatchKey, int> hatches_;
};

int Run(const qm::Console& con, const std::vector<std::string>& args) {
  if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
    con.out.put(std::string_view(kUsage));
    return 0;
  }
  if (args.size() > 2 || (!args.empty() && args[0].size() > 1 && args[0][0] == '-')) {
    con.err.put(std::string_view(kUsage));
    return 1;
  }
  const std::string in = args.empty() ? "-" : args[0];
  const std::string outPath = args.size() < 2 ? "-" : args[1];
  const std::string inName = in == "-" ? "standard input" : in;

  std::string data;
  if (!readAll(in, data)) qm::fatal("plot2svg: cannot read %s: %s\n", inName.c_str(), std::strerror(errno));
  if (data.empty()) qm::fatal("plot2svg: %s is empty\n", inName.c_str());
  const Plot plot = qm::plotread::parse(data);
  if (!plot.ok()) qm::fatal("plot2svg: %s is no plot quillmask writes: %s\n", inName.c_str(), plot.error.c_str());

  if (outPath == "-") {
    Writer(con.out, plot).write();
    con.out.flush();
    if (con.out.failed()) qm::fatal("plot2svg: cannot write standard output\n");
    return 0;
  }
  std::unique_ptr<qm::Out> file = qm::openOutFile(outPath);
  if (!file) qm::fatal("plot2svg: cannot open %s for writing: %s\n", outPath.c_str(), std::strerror(errno));
  Writer(*file, plot).write();
  if (!file->close()) qm::fatal("plot2svg: cannot write %s\n", outPath.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qm::Out out(1, false);
  qm::Out err(2, false, std::size_t{1} << 16);
  const qm::Console con{out, err};
  int status;
  try {
    status = Run(con, std::vector<std::string>(argv + 1, argv + argc));
  } catch (const qm::Failure& f) {
    (f.onStdout ? out : err).put(f.message);
    status = f.status;
  }
  out.flush();
  err.flush();
  return status;
}
