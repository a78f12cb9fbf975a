// The comparison's report as text: the summary table and the per-sample CSV.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "compare/run.hpp"

namespace nurbs_interp {

// Returns the aligned summary table, one row per result, units in the column headers.
std::string format_summary(const std::vector<method_result> &results);

// Writes the per-sample CSV: time_s, feed_mm_s, then per method <name>_rel_err and
// <name>_call_ns, then per method <name>_chord_err_mm (empty where not scored or not run).
void write_csv(std::FILE *f, const feed_profile &prof, const std::vector<method_result> &res);

} // namespace nurbs_interp
