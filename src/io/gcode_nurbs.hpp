// NURBS curves from a G-code program: the G06.2 block sequences as CNC controllers take them.
//
//   G06.2 [P<rank>] K<knot> X<x> Y<y> [Z<z>] [R<weight>] [F<feed>]   first control point
//   K<knot> X<x> Y<y> [Z<z>] [R<weight>]                             one block per point
//   K<knot>                                                          exactly <rank> blocks
//
// rank = degree + 1 (default 4). An axis left out keeps the last value programmed for it
// anywhere earlier in the program (0 if never); R is 1 where it is left out. Words are
// case-insensitive; block numbers, comments ("(...)", "; ..."), "%" lines and other words
// (F, M, S, T, G05, ...) are skipped. A number may carry an exponent as %g writes it
// ("X1e1" is X 10, "Y1.5E-3" Y 0.0015): an e or E directly after the digits, then an optional
// sign and digits; "X1 E1" stays X 1 and a word E 1. Lengths are millimetres: after G20
// (inches) X, Y and Z are multiplied by 25.4, G21 returns to millimetres; knots and weights
// are taken as written. A UTF-8 byte-order mark at the start of the file is skipped.
#pragma once

#include <cstdio>
#include <istream>
#include <string>
#include <vector>

#include "core/curve_def.hpp"
#include "io/import_error.hpp"

namespace nurbs_interp {

// One curve of a program and the line of its G06.2 block (1-based).
struct gcode_curve {
    curve_def curve;
    unsigned line = 0;
    // "note: <name>:<line>: ..." when its coordinates were converted from inches; else empty.
    std::string note;
};

// Returns every NURBS curve of the program read from `in`, in program order; `name` is the
// file name the messages carry. Throws import_error "<name>:<line>: <what>" on a malformed
// block sequence, a word that is not a number, incremental mode (G91) at a curve, more than
// IMPORT_MAX_POINTS control points, a coordinate beyond a double in millimetres, a curve the curve
// file cannot hold, or no curve at all.
std::vector<gcode_curve> read_gcode_nurbs(std::istream &in, const std::string &name);

// As above, from the program text `text` (for tests and fuzzing).
std::vector<gcode_curve> read_gcode_nurbs_text(const std::string &text, const std::string &name);

// As above, from the file at `path`, read once and whole (at most IMPORT_MAX_BYTES); a file
// that does not open or is larger is an import_error too.
std::vector<gcode_curve> read_gcode_nurbs(const std::string &path);

// How a program frames the curve it cuts: its heading, the heights and the feeds.
struct gcode_job {
    std::vector<std::string> heading; // lines after the opening "%": program number, comments
    double safe_z = 5;                // rapid height, mm
    double cut_z = -2;                // cutting height, mm
    double plunge_feed = 200;         // mm/min
    double feed = 600;                // along the curve, mm/min
};

// Writes a program that cuts `c` (curve_def_problem found nothing): "%", the heading, set-up
// (G21 G90 G17), a rapid to the curve's start at safe_z, the plunge to cut_z, the G06.2
// sequence of the curve (rank deg + 1; an axis equal to the one before and a weight of 1 left
// out, as a post-processor writes them; Z only in dimension 3), the retract, M30 and "%".
// Every number reads back to the same double (no exponent: G-code numbers have none), so
// read_gcode_nurbs gives the curve back exactly. False on a write error.
bool gcode_nurbs_write(std::FILE *f, const curve_def &c, const gcode_job &job);

} // namespace nurbs_interp
