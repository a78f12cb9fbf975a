// The comparison's report as text: the summary table, the per-sample CSV, and the suite's
// summary over several curves and profiles (CSV and Markdown).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "compare/replay.hpp" // noise_floor
#include "compare/run.hpp"
#include "compare/stats.hpp" // timer_overhead

namespace nurbs_interp {

// Returns what each column of the summary table holds, for --help.
std::string compare_columns_help();

// What a comparison ran on, for the lines above its table.
struct run_description {
    std::string curve;
    double length = 0; // mm
    std::size_t joints = 0;
    joint_policy policy = joint_policy::through;
    std::string profile;
    const feed_profile *prof = nullptr;
    double period = COMPARE_PERIOD;
    std::string machine; // the axis limits, as text ("" : none)
    timer_overhead overhead;
};

// Returns the lines above the table: the curve, the profile and the period, what is measured,
// and the timer overhead.
std::string run_header(const run_description &d);

// Returns the noise line: the distribution of a step that only reads the clock, and what the
// replay columns mean.
std::string noise_text(const noise_floor &noise);

// Returns, for each method with a corrector loop, how its loops ended, one line each.
std::string stops_text(const std::vector<method_result> &results);

// Returns the aligned summary table, one row per result, units in the column headers.
std::string format_summary(const std::vector<method_result> &results);

// Writes the per-sample CSV: time_s, feed_mm_s, then per method <name>_rel_err and
// <name>_call_ns, then per method <name>_chord_err_mm, then per method <name>_at_joint (1 where
// the step crossed a joint) and <name>_axis_jerk_mm_s3 (empty where not scored or not run).
void write_csv(std::FILE *f, const feed_profile &prof, const std::vector<method_result> &res);

// The results of one curve and profile in the suite, and the names it gives them.
struct suite_run {
    std::string curve, profile;
    std::vector<method_result> results; // their statistics (per-sample arrays may be dropped)
};

// Returns the suite's summary as CSV: a header, then one row per run and method: curve, profile,
// joints (the policy), period_s, method, the numbers, status (quoted).
std::string suite_summary_csv(const std::vector<suite_run> &runs);

// Returns the same as a Markdown table.
std::string suite_summary_markdown(const std::vector<suite_run> &runs);

} // namespace nurbs_interp
