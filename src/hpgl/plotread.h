// A small, strict HP-GL/2 reader. It accepts exactly the language the plot
// writer speaks (the PCL escape that enters HP-GL/2, then BP IN NP MC QL WU
// PW PC PS IP SC SP FT PU PD ER RR PM EP FP SR LO LB PG), plus polylines in
// the encoded form (PE, both the 8-bit and the 7-bit alphabet), and rejects
// everything else: unknown mnemonics, bad parameter syntax, wrong parameter
// counts or values, LB without its terminator, PE without its semicolon or
// with a value cut short, polygon mode entered twice, left without being
// entered or never left, EP/FP without a polygon, pen-up moves inside a
// polygon, and commands that have no place inside polygon mode.
//
// Besides the commands it keeps what the plot draws, with the pen, the pen
// colour, the fill type and the scaling in force when it was drawn.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm::plotread {

struct Command {
  std::string name;            // two-letter mnemonic; "ESC" for the PCL escape
  std::vector<double> params;  // numeric parameters, in order (PE: none)
  std::string label;           // LB: the text before the terminator
};

struct Point {
  double x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

// Pen colour as the plot sets it with PC (components as written, usually
// 0 to 255). Pens without PC have the default palette: pen 0 white, 1
// black, 2 red, 3 green, 4 yellow, 5 blue, 6 magenta, 7 cyan, the rest
// black.
struct Colour {
  double r = 0, g = 0, b = 0;
  bool operator==(const Colour&) const = default;
};

// What the plot draws, in order: rectangles edged (ER) and filled (RR),
// polygons edged (EP) and filled (FP), pen-down lines (PD outside polygon
// mode, and the pen-down moves of PE), labels (LB). Coordinates are the
// absolute user units of the plot.
struct Shape {
  enum Kind { EdgeRect, FillRect, EdgePolygon, FillPolygon, Line, Label } kind = EdgeRect;
  int pen = 0;           // pen selected by the last SP (or PE's pen flag)
  int fillType = 0;      // last FT type (0 when none was given)
  std::vector<Point> points;  // rectangle: both corners; polygon: vertices; line: its points
  std::string label;     // Label: its text
  double size = 0;       // Label: SR width (per cent of P2x - P1x)
  double height = 0;     // Label: SR height (per cent of P2y - P1y)
  int origin = 1;        // Label: LO value in force
  Colour colour;         // the pen's colour when drawn
  double fillSpacing = 0;  // FT3/FT4: spacing in user units (0: the default)
  double fillAngle = 0;    // FT3/FT4: angle in degrees
};

// Scaling points and user window: user (x, y) lies at plotter units
// p1 + (x - sc.lo) * (p2 - p1) / (sc.hi - sc.lo) in each direction.
struct Scaling {
  double p1x = 0, p1y = 0, p2x = 0, p2y = 0;  // IP
  bool hasIP = false;
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;  // SC
  bool hasSC = false;
};

struct Plot {
  std::vector<Command> commands;
  std::vector<Shape> shapes;
  std::string error;  // empty when the plot is well-formed
  double plotLength = 0, plotWidth = 0;  // PS, when given
  bool hasSize = false;
  Scaling scaling;    // the last IP and SC
  double penWidth = 0.35;  // last PW (in the unit of the last WU)
  bool relativeWidth = false;  // WU1: pen width in per cent of the P1-P2 diagonal

  bool ok() const { return error.empty(); }
  // The last command is PG (a finished plot).
  bool finished() const { return !commands.empty() && commands.back().name == "PG"; }
  // Mnemonics in order, e.g. "ESC BP IN ...".
  std::string mnemonics() const;
  // Number of commands with this mnemonic.
  int count(std::string_view name) const;
  // First command with this mnemonic, or null.
  const Command* find(std::string_view name) const;
};

Plot parse(std::string_view data);

}  // namespace qm::plotread
