// What a fitted feedrate correction table is worth, as text: the report fcp_fit prints and
// writes into the table's comment, and the refusal of a table that misses a step by more than
// the step itself.
#pragma once

#include <string>
#include <vector>

#include "plan/arc_length.hpp"
#include "plan/table_fit.hpp"

namespace nurbs_interp {

// Returns the report lines of `table` measured as `acc` (by fcp_measure with `samples` per
// piece) on the curve of `arc` whose total length is `total`, for steps of feed * period:
//   [0] E, the true arc-length miss (in use and within the pieces), and max |u_table - u|
//   [1] the largest mismatch between adjacent pieces at a breakpoint
//   [2] the last piece at the last breakpoint, and the curve length
//   [3] where the fit is hardest (piece, s range, u, |C'|, radius of curvature)
//   [4] what E implies for a step at `feed`: E / (v*T)
//   [5] how far a step across a joint misses on the piece it starts on
std::vector<std::string> fcp_report_lines(const fcp_table &table, const fcp_accuracy &acc,
                                          const arc_table &arc, int samples, double total,
                                          double feed, double period);

// Returns "" when `table` holds only finite numbers and misses no step of `step` mm by more than
// `step`; else what is wrong ("the table misses a step by up to E max = .. mm (piece ..,
// s = .. mm of ..), more than a whole step v*T = .. mm").
std::string fcp_table_miss(const fcp_table &table, const fcp_accuracy &acc, double step);

} // namespace nurbs_interp
