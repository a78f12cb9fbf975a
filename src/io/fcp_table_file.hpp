// The feedrate correction table as a plain-text file, for tables held at run time (fitted
// for a curve by fcp_fit --format data, read by interp_compare --fcp-table):
//
//   FCP table: <B> breakpoints
//   # comment lines (starting with '#') may stand anywhere after the first line
//   S <s_0>            B lines: the breakpoints, ascending from s_0 = 0 to the total length
//   ...
//   C <c0> ... <c5>    B - 1 lines: piece j, highest power first, in t = (s - s_j) / s_last
//   ...
//
// Every number is printed with %.17g, so a table reads back to the same doubles.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include "core/interpolate.hpp" // fcp_table

namespace nurbs_interp {

// The most breakpoints a table file may have.
inline constexpr long FCP_FILE_MAX_BREAKPOINTS = 1000001;

// A table file that could not be read; the message names the file and line.
struct fcp_file_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Writes `table` in the format above; `comment` lines (without "# ") follow the first line.
// False on a write error.
bool fcp_table_write(std::FILE *out, const fcp_table &table,
                     const std::vector<std::string> &comment);

// Reads a table file. Throws fcp_file_error ("<path>:<line>: <what>") when it does not open,
// does not follow the format, holds a number that is not finite, or breakpoints that do not
// rise strictly from 0.
fcp_table fcp_table_read(const std::string &path);

} // namespace nurbs_interp
