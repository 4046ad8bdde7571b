// A small, strict HP-GL/2 reader for the plot tests. It accepts exactly the
// language the plot writer speaks (the PCL escape that enters HP-GL/2, then
// BP IN NP MC QL WU PW PC PS IP SC SP FT PU PD ER RR PM EP FP SR LO LB PG)
// and rejects everything else: unknown mnemonics, bad parameter syntax,
// wrong parameter counts or values, LB without its terminator, polygon mode
// entered twice, left without being entered or never left, EP/FP without a
// polygon, and commands that have no place inside polygon mode.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hpglcheck {

struct Command {
  std::string name;            // two-letter mnemonic; "ESC" for the PCL escape
  std::vector<double> params;  // numeric parameters, in order
  std::string label;           // LB: the text before the terminator
};

// What the plot draws, in order: rectangles edged (ER) and filled (RR),
// polygons edged (EP) and filled (FP), labels (LB). Coordinates are the
// absolute user units of the plot.
struct Shape {
  enum Kind { EdgeRect, FillRect, EdgePolygon, FillPolygon, Label } kind;
  int pen = 0;        // pen selected by the last SP
  int fillType = 0;   // last FT type (0 when none was given)
  std::vector<std::pair<int64_t, int64_t>> points;  // rectangle: both corners; polygon: vertices
  std::string label;  // Label: its text
  double size = 0;    // Label: SR width
};

struct Plot {
  std::vector<Command> commands;
  std::vector<Shape> shapes;
  std::string error;  // empty when the plot is well-formed
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

}  // namespace hpglcheck
