// Loading a curve file in a program: the driver's way (its fixed messages) and the tools' way
// (which path and why; curves whose arithmetic overflows refused).
#pragma once

#include <stdexcept>
#include <string>

#include "core/curve_def.hpp"
#include "core/nurbs.hpp"

namespace nurbs_interp {

// Prints a load failure as the driver reports it: the fixed line on standard output for a
// file that does not open, "<path>:<line>: ..." on standard error otherwise.
void report_load_error(const nurbs_file_error &error);

// A curve a tool cannot use; the message names the file and what is wrong.
struct curve_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Loads `path` for a tool (the file is opened once, so a FIFO or a pipe works). Throws
// curve_error: "<path>: cannot open the curve file (<why>)", the loader's "<path>:<line>: ..."
// for bad content (a control point line or any text after the last control point the header
// gives included; the driver's loader ignores it), or "<path>: ..." when a homogeneous
// control point or a derivative polygon point is not finite (coordinates and weights whose
// products overflow), or when the point, C', C'' or |C'| is not finite at the start or the
// middle of a knot span (probed, about 2*10^5 evaluations at most).
void load_curve_checked(const std::string &path, nurbs_curve *curve);

// Loads `def` as load_curve_checked loads a file stating it (a curve a tool made, checked as
// the tools will read the file it writes, without reading the output back); `name` names it in
// the messages ("<name>: <what is wrong>").
void load_curve_checked_def(const curve_def &def, const std::string &name, nurbs_curve *curve);

} // namespace nurbs_interp
