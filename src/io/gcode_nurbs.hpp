// NURBS curves from a G-code program: the G06.2 block sequences as CNC controllers take them.
//
//   G06.2 [P<rank>] K<knot> X<x> Y<y> [Z<z>] [R<weight>] [F<feed>]   first control point
//   K<knot> X<x> Y<y> [Z<z>] [R<weight>]                             one block per point
//   K<knot>                                                          exactly <rank> blocks
//
// rank = degree + 1 (default 4). An axis left out keeps the last value programmed for it
// anywhere earlier in the program (0 if never); R is 1 where it is left out. Words are
// case-insensitive; block numbers, comments ("(...)", "; ..."), "%" lines and other words
// (F, M, S, T, G05, ...) are skipped. Values are taken as written (no unit conversion).
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "curve_file.hpp"
#include "import_error.hpp"

namespace nurbs_interp {

// One curve of a program and the line of its G06.2 block (1-based).
struct gcode_curve {
    curve_def curve;
    unsigned line = 0;
};

// Returns every NURBS curve of the program read from `in`, in program order; `name` is the
// file name the messages carry. Throws import_error "<name>:<line>: <what>" on a malformed
// block sequence, a word that is not a number, incremental mode (G91) at a curve, more than
// IMPORT_MAX_POINTS control points, a curve the curve file cannot hold, or no curve at all.
std::vector<gcode_curve> read_gcode_nurbs(std::istream &in, const std::string &name);

// As above, from the program text `text` (for tests and fuzzing).
std::vector<gcode_curve> read_gcode_nurbs_text(const std::string &text, const std::string &name);

// As above, from the file at `path`; a file that does not open is an import_error too.
std::vector<gcode_curve> read_gcode_nurbs(const std::string &path);

} // namespace nurbs_interp
