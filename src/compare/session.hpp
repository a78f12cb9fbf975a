// One comparison session over a curve and a profile, as interp_compare and interp_suite run it:
// FCP's table chosen (or fitted) for the curve, every method run and its worst steps replayed.
#pragma once

#include <cmath> // nan
#include <optional>
#include <string>
#include <vector>

#include "plan/arc_length.hpp"
#include "compare/run.hpp"

namespace nurbs_interp {

// FCP's table for a run and the line that says which it is.
struct fcp_choice {
    std::optional<fcp_table> table; // none: the compiled-in one
    std::string note;
    std::string refusal;         // not empty: the table is not one, and FCP fails with this reason
    double e_max = std::nan(""); // its E max on the curve, mm (NaN: not measured)
};

// The table fitted in process for a curve the compiled-in table was not made for: the fewest
// pieces (at most FCP_FIT_MAX_PIECES) for E <= FCP_FIT_TOLERANCE mm, measured at
// FCP_FIT_SAMPLES points per piece: 4e-7 of the shortest step the statistics count (1 mm/s
// times 0.25 ms), so that FCP's figures are the method's, not a loose table's. Where no such
// table exists (the curve's smallest E is larger), the FCP_FIT_PIECES pieces with the
// smallest E.
inline constexpr double FCP_FIT_TOLERANCE = 1e-10;
inline constexpr int FCP_FIT_MAX_PIECES = 10000;
inline constexpr int FCP_FIT_PIECES = 400;
inline constexpr int FCP_FIT_SAMPLES = 16;

// Returns the table FCP runs with: `option` names a table file, or is "builtin" for the
// compiled-in one, or is empty: the compiled-in one when it was made for this curve (its
// count, degree and checksum, curve_identity.hpp), else one fitted for the curve now for steps
// of up to `step` mm (the top feed times the period; the note says the target, how many pieces
// and how long that took, and its E max). A table from a file or fitted now is measured
// against the curve: one whose E max exceeds a whole step is refused (`refusal` says why).
// Throws when a table file cannot be read.
fcp_choice choose_fcp_table(const std::string &option, const arc_table &arc,
                            const std::string &curve_name, double step);

// Returns the longest step of a profile at period T: its top feed times T, mm.
double longest_step(const feed_profile &prof, double T);

// Returns choose_fcp_table's choice when a method of `methods` runs on a table, for steps of up
// to the profile's top feed times `period`; no choice (no table fitted) otherwise.
fcp_choice choose_fcp_table_for(const std::vector<const compare_method *> &methods,
                                const std::string &option, const arc_table &arc,
                                const std::string &curve_name, const feed_profile &prof,
                                double period);

// How a profile's commanded travel stands to the length of the curve it runs on.
enum class profile_travel { fits, partial, too_long };

struct profile_fit {
    double commanded = 0; // the profile's commanded travel, period * sum of feeds, mm
    double length = 0;    // the curve's accurate length, mm
    double bound = 0;     // the drift bound over the commanded travel, mm
    // too_long: more than `bound` beyond the curve's end (every method that follows the profile
    // meets the end with travel left: a profile for a longer path); partial: ending more than
    // PROFILE_END_SLACK + `bound` before it (the statistics cover that part of the curve);
    // fits otherwise (make_profile plans PROFILE_END_SLACK short of the end).
    profile_travel verdict = profile_travel::fits;
};

// Returns how `prof`, run at period T, stands to a curve `length` mm long.
profile_fit profile_fit_of(const feed_profile &prof, double T, double length);

// Returns the fit as a clause for the lines above a table ("ends 0.500000 mm before the curve's
// end, as make_profile plans", ...).
std::string profile_fit_text(const profile_fit &f);

// Returns "" when the profile `profile` may run on the curve `curve`, else why not: it commands
// more travel than the curve has (by more than the drift bound), and how to plan one for it.
std::string profile_fit_refusal(const profile_fit &f, const std::string &profile,
                                const std::string &curve);

// Returns the result of a method that was not run, failed for `reason`, over `samples` samples.
method_result unrun_method(const compare_method &method, std::size_t samples,
                           const std::string &reason);

// Runs every method over `prof` with a progress line "<label>[k/n] <name>" (after a warm-up run
// on the first 2000 samples when `warm_up`), replays each one's worst steps (a replay that does
// not give the run's result fails the method), and returns the results.
std::vector<method_result> run_methods(const std::vector<const compare_method *> &methods,
                                       const compare_setup &base, const feed_profile &prof,
                                       const std::string &label, bool warm_up);

// Bytes a run keeps per sample and method (seven doubles, a flag and a state of two, rounded
// up), and the most a program keeps at once.
inline constexpr double RESULT_BYTES_PER_SAMPLE = 80;
inline constexpr double MAX_RESULT_BYTES = 1e9;

// Returns "" when the results of runs of `methods` over `samples` samples fit in
// MAX_RESULT_BYTES (a method's saved state beyond two doubles per sample counted too), else what
// they would need ("<n> samples x <m> methods need <g> GB of results (bound: 1 GB)").
std::string result_memory_problem(std::size_t samples,
                                  const std::vector<const compare_method *> &methods);

// Frees the per-sample arrays of `r`, keeping its statistics (all a summary needs).
void drop_per_sample(method_result &r);

} // namespace nurbs_interp
