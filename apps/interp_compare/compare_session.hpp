// One comparison session over a curve and a profile, as interp_compare and interp_suite run it:
// FCP's table chosen (or fitted) for the curve, every method run and its worst steps replayed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "compare_run.hpp"

namespace nurbs_interp {

// FCP's table for a run and the line that says which it is.
struct fcp_choice {
    std::optional<fcp_table> table; // none: the compiled-in one
    std::string note;
};

// Returns the table FCP runs with: `option` names a table file, or is "builtin" for the
// compiled-in one, or is empty: the compiled-in one when its last breakpoint is `length` to
// 1e-9, else one of 400 pieces fitted for the curve now (the note says how long that took and
// its E max). Throws when a table file cannot be read or no finite table fits.
fcp_choice choose_fcp_table(const std::string &option, nurbs_curve *curve,
                            const std::string &curve_name, double length);

// Runs every method over `prof` with a progress line "<label>[k/n] <name>" (after a warm-up run
// on the first 2000 samples when `warm_up`), replays each one's worst steps (a replay that does
// not give the run's result fails the method), and returns the results.
std::vector<method_result> run_methods(const std::vector<const compare_method *> &methods,
                                       const compare_setup &base, const feed_profile &prof,
                                       const std::string &label, bool warm_up);

} // namespace nurbs_interp
