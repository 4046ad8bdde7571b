// The fixed procedure set and the hatch-pattern fonts.
//
// A hatched shape is painted by clipping to it and covering its bounding
// box with rows of a Type 3 font glyph that paints one cell of the pattern.
// Cells are measured in pattern units (1/300 inch on the page), so the
// spacing of the hatch on paper does not depend on the drawing's scale.
#include <cmath>
#include <string>

#include "common/out.h"
#include "ps/ps.h"

namespace qm {
namespace {

// Written line by line, each followed by a newline.
const char* const kPrologue[] = {
    "%!PS-Adobe-2.0",
    "%%EndComments",
    "/m { %def",
    "  moveto",
    "} bind def",
    "",
    "/l { %def",
    "  lineto",
    "} bind def",
    "",
    "/t { %def",
    "  moveto show",
    "} bind def",
    "",
    "/selectfont where { %ifelse",
    "  %true",
    "  pop",
    "} { %else",
    "  %false",
    "  /selectfont { %def",
    "    exch findfont exch scalefont setfont",
    "  } bind def",
    "} ifelse",
    "/f /selectfont load def",
    "[] 0 setdash",
    "",
    // width height matrix proc key cache definepattern -> font
    "/definepattern { %def",
    "  8 dict begin",
    "    /FontDict 9 dict def",
    "    FontDict begin",
    "      /cache exch def",
    "      /key exch def",
    "      /proc exch cvx def",
    "      /mtx exch matrix invertmatrix def",
    "      /height exch def",
    "      /width exch def",
    "      /ctm matrix currentmatrix def",
    "      /ptm matrix def",
    "      /str (12345678901234567890123456789012) def",
    "    end",
    "    /FontBBox [0 0 FontDict /width get FontDict /height get] def",
    "    /FontMatrix FontDict /mtx get def",
    "    /Encoding StandardEncoding def",
    "    /FontType 3 def",
    "    /BuildChar { %def",
    "      pop begin",
    "      FontDict begin",
    "        cache { %ifelse",
    "          width 0 0 0 width height setcachedevice",
    "        } { %else",
    "          width 0 setcharwidth",
    "        } ifelse",
    "        0 0 moveto width 0 lineto width height lineto 0 height lineto",
    "        closepath clip newpath",
    "        gsave proc grestore",
    "      end",
    "      end",
    "    } def",
    "    FontDict /key get currentdict definefont",
    "  end",
    "} bind def",
    "",
    // font [matrix] patternpath -> (fills the current path's box with cells)
    "/patternpath { %def",
    "  dup type /dicttype eq { %if",
    "    matrix",
    "  } if",
    "  exch dup /FontDict get begin",
    "  8 dict begin",
    // dx dy -> the vector rounded to whole pixels; a vector shorter than one
    // pixel is first stretched to one pixel along its longer component, so
    // that a fine cell on a coarse device never collapses to nothing.
    "    /vec { %def",
    "      2 copy abs exch abs 2 copy lt { %if",
    "        exch",
    "      } if",
    "      pop",
    "      dup dup 0 gt exch 1 lt and { %if",
    "        1 exch div dup 4 -1 roll mul 3 1 roll mul 0",
    "      } if",
    "      pop",
    "      round exch round exch",
    "    } def",
    "    ctm setmatrix",
    "    exch concat",
    "    dup setfont",
    "    /FontMatrix get concat",
    "    width 0 dtransform vec",
    "    0 height dtransform vec",
    "    0 0 transform round exch round exch",
    "    ptm astore pop",
    "    ptm 0 2 copy get width div put",
    "    ptm 1 2 copy get width div put",
    "    ptm 2 2 copy get height div put",
    "    ptm 3 2 copy get height div put",
    "    ptm setmatrix",
    "    pathbbox",
    "    height div ceiling height mul /top exch def",
    "    width div ceiling width mul /right exch def",
    "    height div floor height mul /bottom exch def",
    "    width div floor width mul /left exch def",
    "    /rows top bottom sub height div ceiling cvi def",
    "    /cols right left sub width div ceiling cvi def",
    "    left bottom moveto",
    "    currentfont /FontMatrix get ptm invertmatrix pop",
    "    rows { %repeat",
    "      gsave",
    "      ptm concat",
    "      cols 32 idiv { %repeat",
    "        str show",
    "      } repeat",
    "      str 0 cols 32 mod getinterval show",
    "      grestore",
    "      0 height rmoveto",
    "    } repeat",
    "  end",
    "  end",
    "} bind def",
    "",
    // font patternfill -> (hatches the inside of the current path, clears it)
    "/patternfill { %def",
    "  gsave",
    "  clip patternpath",
    "  grestore",
    "  newpath",
    "} bind def",
    "",
    nullptr,
};

// A cell side as written: positive, large enough not to print as 0.00 and
// small enough for any interpreter's reals. A spacing that is no number
// gives the finest cell.
double cellSide(double v) {
  if (!(v >= 0.01)) return 0.01;
  if (v > 1e6) return 1e6;
  return v;
}

void segment(Out& f, double x1, double y1, double x2, double y2) {
  f.printf("  %.2f %.2f m %.2f %.2f l\n", x1, y1, x2, y2);
}

bool regularNameChar(unsigned char c) {
  if (c <= 32 || c >= 127) return false;
  switch (c) {
    case '(': case ')': case '<': case '>': case '[': case ']':
    case '{': case '}': case '/': case '%':
      return false;
    default:
      return true;
  }
}

}  // namespace

void PSputString(Out& f, std::string_view s) {
  f.put('(');
  std::size_t plain = 0;  // start of the bytes not yet written
  for (std::size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c != '(' && c != ')' && c != '\\' && c >= 32 && c <= 126) continue;
    f.write(s.data() + plain, i - plain);
    plain = i + 1;
    char esc[4] = {'\\', static_cast<char>(c), 0, 0};
    if (c < 32 || c > 126) {
      esc[1] = static_cast<char>('0' + (c >> 6));
      esc[2] = static_cast<char>('0' + ((c >> 3) & 7));
      esc[3] = static_cast<char>('0' + (c & 7));
      f.write(esc, 4);
    } else {
      f.write(esc, 2);
    }
  }
  f.write(s.data() + plain, s.size() - plain);
  f.put(')');
}

std::string PSstring(std::string_view s) {
  Out o{Out::Memory{}};
  PSputString(o, s);
  return o.str();
}

std::string PSfontName(std::string_view layerName) {
  bool regular = true;
  for (unsigned char c : layerName) regular = regular && regularNameChar(c);
  if (regular) return "/FONT" + std::string(layerName);
  std::string full = "FONT";
  full += layerName;
  return PSstring(full) + " cvn";
}

void PSwritePrologue(Out& f) {
  for (const char* const* line = kPrologue; *line; ++line) {
    f.put(std::string_view(*line));
    f.put('\n');
  }
}

void PSwriteHatch(Out& f, const LayerEntry& e) {
  if (e.hatch != 1 && e.hatch != 2) return;
  if (e.angle == 0 || e.angle == 90 || e.angle == 180) {
    fatal("Horizontal/vertical hatching not supported yet.\n"
          "Please check layer \"%s\" configuration. Exiting.\n",
          e.name.c_str());
  }
  double theta = 3.141592653589793 * e.angle / 180;
  // A negative spacing draws the same lines as its magnitude.
  double step = e.step < 0 ? -e.step : e.step;
  double w, h;
  if (e.hatch == 1) {
    w = (step * 72) / (25.4 * std::sin(theta));
    h = (step * 72) / (25.4 * std::cos(theta));
  } else {
    w = step / std::sin(theta);
    h = step / std::cos(theta);
  }
  // The lines rise to the right when the cell height is positive; decided
  // on the angle, which says the same for every spacing that is a number
  // and still says something for one that is not.
  bool rising = std::cos(theta) > 0;
  w = cellSide(w);
  h = cellSide(rising ? h : -h);
  f.printf("%.2f %.2f [300 72 div 0 0 300 72 div 0 0]\n", w, h);
  f.put("{ %definepattern\n  2 setlinecap\n");
  if (rising) {
    segment(f, w / 2, 0, w, h / 2);
    segment(f, 0, h / 2, w / 2, h);
    if (e.hatch == 2) {
      segment(f, w / 2, h, w, h / 2);
      segment(f, 0, h / 2, w / 2, 0);
    }
  } else {
    segment(f, w / 2, 0, 0, h / 2);
    segment(f, w, h / 2, w / 2, h);
    if (e.hatch == 2) {
      segment(f, w / 2, h, 0, h / 2);
      segment(f, w, h / 2, w / 2, 0);
    }
  }
  f.put("  0.1 setlinewidth stroke\n} bind\n");
  f.put(PSfontName(e.name));
  f.put(" true definepattern pop\n\n");
}

}  // namespace qm
