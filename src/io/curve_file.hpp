// Writing a curve file: a curve definition printed so that it reads back exactly, the one
// writer of the format.
#pragma once

#include <cstdio>
#include <string>

#include "core/curve_def.hpp" // curve_def

namespace nurbs_interp {

// Writes `c` as a curve file: the header, one "K%.17g" line per knot (none when the knots are
// empty: clamped uniform), one point line per control point (%.17g: every value reads back to
// the same double; no z in dimension 2). False on a write error.
bool curve_file_write(std::FILE *out, const curve_def &c);

// Returns the text curve_file_write writes for `c`; throws std::bad_alloc.
std::string curve_file_text(const curve_def &c);

} // namespace nurbs_interp
