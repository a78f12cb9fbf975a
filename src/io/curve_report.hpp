// Loading a curve file in a program: the load failure printed the way the programs report it.
#pragma once

#include <string>

#include "nurbs.hpp"

namespace nurbs_interp {

// Prints a load failure as the driver reports it: the fixed line on standard output for a
// file that does not open, "<path>:<line>: ..." on standard error otherwise.
void report_load_error(const nurbs_file_error &error);

// Loads `path` as nurbs_curve_alloc_file does; on failure prints the error as the driver does
// and returns false.
bool load_curve_or_report(const char *path, nurbs_curve *curve);

} // namespace nurbs_interp
