// The comparison's report as text: the lines above the table, the table (a compact one that
// fits a terminal, or every column), the notes below it, the per-sample CSV, the summary file
// of a run (CSV or Markdown), and the suite's summary over several curves and profiles (CSV and
// Markdown) with its short overview.
#pragma once

#include <cmath> // NAN
#include <cstdio>
#include <string>
#include <vector>

#include "compare/axis_motion.hpp" // machine_fit
#include "compare/replay.hpp"      // noise_floor
#include "compare/run.hpp"
#include "compare/session.hpp" // profile_fit
#include "compare/stats.hpp"   // timer_overhead

namespace nurbs_interp {

// The width of a terminal the compact table and the notes are laid out for, in characters.
inline constexpr std::size_t REPORT_WIDTH = 100;

// Returns what each column of the tables holds and its name for --columns, for --help.
std::string compare_columns_help();

// What a comparison ran on: its settings, for the lines above its table, its summary file and
// its plot's title.
struct run_description {
    std::string curve;
    double length = 0; // mm
    std::size_t joints = 0;
    joint_policy policy = joint_policy::through;
    std::string profile;
    const feed_profile *prof = nullptr;
    double period = COMPARE_PERIOD;
    std::string machine;    // the machine's name (its file, or "--axis-* options"); "": none
    std::string limits;     // its limits as text
    std::string fcp_table;  // the table FCP ran on ("": FCP did not run)
    std::string fcp_note;   // how it was chosen (or fitted), for the lines above the table
    std::string loaded;     // the loaded methods, what they are and how they run ("": none)
    double fcp_e_max = NAN; // its E max on this curve, mm (NaN: not measured here)
    profile_fit fit;
    machine_fit planned;
    timer_overhead overhead;
};

// Returns the lines above the table: the curve, the profile (its duration, from the first
// sample to the last, and its travel against the curve's length), the machine, what is
// measured, and the timer overhead; wrapped at REPORT_WIDTH.
std::string run_header(const run_description &d);

// Returns the run's settings in a line: curve, profile, period, joints policy and machine (or
// "no machine"), for a plot's title.
std::string run_title(const run_description &d);

// The columns of the table on standard output.
struct table_columns {
    bool all = false;                // every column, one header line each, status last in full
    std::vector<std::size_t> chosen; // the columns --columns names, in its order
    // Neither: the default set, as many of its columns (in their order of importance) as fit
    // in REPORT_WIDTH.
};

// Reads a --columns value: "all", or column names separated by commas. Returns "" or what is
// wrong (an unknown name, with the known ones).
std::string parse_columns(const std::string &list, table_columns *out);

// Returns the table, one row per result: the compact one (method, a short status, the columns
// chosen or the default ones, two header lines: name and unit; then each method's full status
// and the notes: the marks, what was left out) or the full one (cols.all).
std::string format_summary(const std::vector<method_result> &results, const run_description &d,
                           const table_columns &cols);

// Returns the full table alone (every column, status last in full).
std::string format_summary(const std::vector<method_result> &results);

// Returns the noise line: the distribution of a step that only reads the clock, and what the
// replay columns mean; wrapped at REPORT_WIDTH.
std::string noise_text(const noise_floor &noise);

// Returns, for each method with a corrector loop, how its loops ended (wrapped at REPORT_WIDTH).
std::string stops_text(const std::vector<method_result> &results);

// Writes the per-sample CSV: time_s (the start of the sample's period, sample k at k*T, in
// digits enough for any period), feed_mm_s, then per method <name>_rel_err and <name>_call_ns,
// then per method <name>_chord_err_mm, then per method <name>_at_joint (1 where the step
// crossed a joint) and <name>_axis_jerk_mm_s3 (empty where not scored or not run).
void write_csv(std::FILE *f, const feed_profile &prof, const std::vector<method_result> &res);

// Returns the summary of a run, one row per method with every column of the full table: as
// CSV (the settings as the leading columns curve, profile, period_s, joints, machine,
// fcp_table, fcp_e_max_mm, then method, status, the columns by name, planned_for_machine), or
// as Markdown (the settings as a list above the table).
std::string summary_file_text(const std::vector<method_result> &results, const run_description &d,
                              bool markdown);

// True when a summary file named `path` is written as Markdown (it ends in ".md").
bool summary_is_markdown(const std::string &path);

// The results of one curve and profile in the suite, and the names it gives them.
struct suite_run {
    std::string curve, profile;
    std::vector<method_result> results; // their statistics (per-sample arrays may be dropped)
    machine_fit planned;                // how the profile stands to the suite's machine
};

// Returns the suite's summary as CSV: a header, then one row per run and method: curve, profile,
// joints (the policy), period_s, method, the numbers, planned_for_machine, status (quoted; "ok*"
// with the reason where the profile was not planned for the machine).
std::string suite_summary_csv(const std::vector<suite_run> &runs);

// Returns the same as a Markdown table.
std::string suite_summary_markdown(const std::vector<suite_run> &runs);

// Returns the suite's short overview for a terminal: per run, the methods ok and FAILED (named),
// and whether its profile was planned for the machine.
std::string suite_overview(const std::vector<suite_run> &runs);

} // namespace nurbs_interp
