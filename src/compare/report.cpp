// One piece past 400 lines: every output of the comparison (the tables, the summary files, the
// suite's summary) is made from the one table of columns at the top, so that a column has the
// same name, help and text wherever it appears.
#include "compare/report.hpp"

#include <algorithm> // max, find
#include <cmath>     // isnan

#include "io/format.hpp"

namespace nurbs_interp {

namespace {

std::string num(const char *f, double x) {
    return std::isnan(x) ? std::string("-") : fmt(f, x);
}

// The share of the servo period a time in ns is, in percent.
double of_period(const method_result &r, double ns) {
    return ns / (r.period * 1e9) * 100;
}

// A time in seconds as text: digits enough for any period the tools accept (1e-5 s and up)
// over the longest profile.
std::string seconds(double t) {
    return fmt("%.9g", t);
}

// One column of the report of a result: its name (for --columns and the summary files' CSV),
// its header in the full table (unit in brackets), its two header lines in the compact table
// (name and unit), what it is (for --help; empty: said by the column before), whether the suite
// keeps it, and its text for a result.
struct result_column {
    const char *key, *header, *top, *bottom, *help;
    bool suite;
    std::string (*value)(const method_result &);
};

// The columns, in the order of the full table (the new ones after the older ones, so that a
// full table's columns keep their places).
const result_column COLUMNS[] = {
    {"steps", "steps", "", "steps",
     "calls made; a method stops at the curve's end (u >= 1, or less than 1e-6 mm of the curve "
     "left after its step) or when it fails",
     true, [](const method_result &r) { return std::to_string(r.steps); }},
    {"fluct_max", "fluct max [1]", "fluct max", "[1]",
     "max of |v*T - ds| / (v*T) over the steps with v >= 1 mm/s, ds the step's true length (the "
     "step that reaches the end is left out when the curve cuts it short of v*T)",
     true, [](const method_result &r) { return num("%.3e", r.fluct_max); }},
    {"fluct_max_at_joints", "fluct max at joints [1]", "fluct max", "joints [1]",
     "the same over the steps that cross a joint (a knot where |C'| or C'' jumps; - : none)", true,
     [](const method_result &r) { return num("%.3e", r.fluct_joints); }},
    {"fluct_max_elsewhere", "fluct max elsewhere [1]", "fluct max", "others [1]",
     "the same over the other steps", true,
     [](const method_result &r) { return num("%.3e", r.fluct_elsewhere); }},
    {"fluct_rms", "fluct RMS [1]", "fluct RMS", "[1]", "RMS of the same over all scored steps",
     true, [](const method_result &r) { return num("%.3e", r.fluct_rms); }},
    {"chord_err_max_mm", "chord err max [mm]", "chord max", "[mm]",
     "the largest distance of the curve from a step's chord (15 samples per step)", true,
     [](const method_result &r) { return num("%.3e", r.chord_max); }},
    {"drift_mm", "drift [mm]", "drift", "[mm]",
     "sum of (ds - v*T): travelled minus commanded length, positive when ahead", true,
     [](const method_result &r) { return num("%.3e", r.drift); }},
    {"axis_acc_max_mm_s2", "axis acc max [mm/s^2]", "axis acc", "[mm/s^2]",
     "the largest axis acceleration the positions reached imply: second differences of C(u_k) over "
     "T (the tool at rest before the first sample)",
     true, [](const method_result &r) { return r.steps ? num("%.3e", r.axis.acc_max) : "-"; }},
    {"axis_jerk_max_mm_s3", "axis jerk max [mm/s^3]", "axis jerk", "[mm/s^3]",
     "the largest axis jerk: third differences of C(u_k) over T", true,
     [](const method_result &r) { return r.steps ? num("%.3e", r.axis.jerk_max) : "-"; }},
    {"axis_acc_ratio", "axis acc/limit [1]", "acc/limit", "[1]",
     "the largest ratio of an axis acceleration to its limit (--axis-acc; - : none given); marked "
     "* where the profile was not planned for that machine",
     true, [](const method_result &r) { return num("%.3g", r.axis.acc_ratio); }},
    {"axis_jerk_ratio", "axis jerk/limit [1]", "jerk/limit", "[1]",
     "the same for the jerk (--axis-jerk)", true,
     [](const method_result &r) { return num("%.3g", r.axis.jerk_ratio); }},
    {"iter_mean", "iter mean [1]", "iter", "mean",
     "corrector updates per call (methods with a corrector loop)", false,
     [](const method_result &r) { return r.iterative ? num("%.2f", r.iter_mean) : "-"; }},
    {"iter_max", "iter max [1]", "iter", "max", "the most updates of one call", false,
     [](const method_result &r) {
         return r.iterative && r.steps ? std::to_string(r.iter_max) : std::string("-");
     }},
    {"median_ns", "median [ns]", "median", "[ns]",
     "cycle time: the curve evaluation at u plus the interpolator call (and, under --joints split, "
     "the split), nearest-rank percentiles and maximum; the clock's own cost (the timer overhead "
     "above the table) is included, not subtracted",
     true, [](const method_result &r) { return num("%.0f", r.t_median); }},
    {"p99_ns", "p99 [ns]", "p99", "[ns]", "", false,
     [](const method_result &r) { return num("%.0f", r.t_p99); }},
    {"p9999_ns", "p99.99 [ns]", "p99.99", "[ns]", "", false,
     [](const method_result &r) { return num("%.0f", r.t_p9999); }},
    {"max_ns", "max [ns]", "max", "[ns]", "", false,
     [](const method_result &r) { return num("%.0f", r.t_max); }},
    {"max_pct_T", "max [% T]", "max", "[% T]",
     "the maximum cycle time as a share of the servo period", false,
     [](const method_result &r) { return num("%.2f", of_period(r, r.t_max)); }},
    {"worst_replayed_ns", "worst replayed [ns]", "worst", "repl [ns]",
     "the cost of the method's worst input without the machine's interruptions: after the run, its "
     "64 slowest steps and the 16 with the most integrand calls and the 16 with the most corrector "
     "updates (counted in an untimed rerun) run again alone 400 times each, the state restored "
     "before each; the largest median. Repeated back to back, a step finds the caches warm, which "
     "the run's steps (each after the run's own work between two steps) do not: for a method "
     "whose every step costs the same this can come out below the median (said below the table)",
     true,
     [](const method_result &r) {
         return r.replayed ? num("%.0f", r.worst_replayed_ns) : std::string("-");
     }},
    {"replayed_pct_T", "replayed [% T]", "repl", "[% T]", "its share of the period", false,
     [](const method_result &r) {
         return r.replayed ? num("%.2f", of_period(r, r.worst_replayed_ns)) : std::string("-");
     }},
    {"worst_calls", "its calls [1]", "its", "calls", "that step's integrand calls", false,
     [](const method_result &r) {
         return r.replayed ? std::to_string(r.worst_calls) : std::string("-");
     }},
    {"worst_iters", "its iters [1]", "its", "iters", "that step's corrector updates", false,
     [](const method_result &r) {
         return r.iterative && r.replayed ? std::to_string(r.worst_iterations) : std::string("-");
     }},
    {"len_err_ms_mm2", "len err MS [mm^2]", "MS err", "[mm^2]",
     "the mean square of the step's length error, (v*T - ds)^2 averaged over every step but an end "
     "step the curve cuts short (the steps of the drift)",
     true,
     [](const method_result &r) { return r.len_err_steps ? num("%.3e", r.len_err_ms) : "-"; }},
    {"len_err_sum_mm", "accum err [mm]", "accum err", "[mm]",
     "the accumulated error: the sum of |v*T - ds| over the same steps", true,
     [](const method_result &r) { return r.len_err_steps ? num("%.3e", r.len_err_sum) : "-"; }},
};

constexpr std::size_t NCOL = sizeof COLUMNS / sizeof COLUMNS[0];

// Returns the index of the column named `key` (NCOL: none).
std::size_t column_index(const std::string &key) {
    for (std::size_t c = 0; c < NCOL; ++c)
        if (key == COLUMNS[c].key) return c;
    return NCOL;
}

// True for the columns of ratios to a machine's limits.
bool ratio_column(std::size_t c) {
    return column_index("axis_acc_ratio") == c || column_index("axis_jerk_ratio") == c;
}

// The default columns of the compact table in the order they are shown, and the order in which
// they are given room when not all fit.
const char *const DEFAULT_SHOWN[] = {"fluct_max",        "fluct_max_at_joints", "fluct_rms",
                                     "len_err_ms_mm2",   "len_err_sum_mm",      "drift_mm",
                                     "chord_err_max_mm", "axis_acc_ratio",      "axis_jerk_ratio",
                                     "median_ns",        "worst_replayed_ns"};
const char *const DEFAULT_ROOM[] = {"fluct_max",       "median_ns",         "fluct_max_at_joints",
                                    "axis_jerk_ratio", "len_err_sum_mm",    "chord_err_max_mm",
                                    "axis_acc_ratio",  "worst_replayed_ns", "len_err_ms_mm2",
                                    "fluct_rms",       "drift_mm"};

// Returns the text of column c for r, marked * where it is a ratio to the limits of a machine
// the profile was not planned for.
std::string cell(std::size_t c, const method_result &r, const machine_fit &m, bool marks) {
    std::string text = COLUMNS[c].value(r);
    if (marks && ratio_column(c) && m.machine && !m.within && text != "-") text += "*";
    return text;
}

// True when the row of r carries the mark of a machine the profile was not planned for.
bool off_machine(const method_result &r, const machine_fit &m) {
    return !r.failed && m.machine && !m.within;
}

// Returns the status of a result in full.
std::string status_text(const method_result &r, double length, const machine_fit &m) {
    std::string s;
    if (r.failed) {
        s = "FAILED: " + r.reason;
    } else if (r.reached_end) {
        s = "ok, reached u = 1 at t = " + seconds(r.end_time) + " s";
        if (length > 0 && r.profile_left > 0)
            s += " with " + fmt("%.3g", r.profile_left) + " mm of the profile's travel left";
    } else {
        s = "ok, profile ended at u = " + fmt("%.12f", r.end_u);
        if (length > 0 && !std::isnan(r.accurate))
            s += ", " + fmt("%.6f", length - r.accurate) + " mm before the curve's end";
    }
    if (off_machine(r, m)) s += "; * axis ratios against a machine the profile was not planned for";
    return s;
}

// Returns the short status of a result: ok, ok* (see off_machine) or FAILED.
std::string status_word(const method_result &r, const machine_fit &m) {
    return r.failed ? "FAILED" : off_machine(r, m) ? "ok*" : "ok";
}

// Returns `text` wrapped at `width`, the first line after `first` (its own indentation), the
// others indented by `indent` spaces; words longer than a line stand alone.
std::string wrapped(const std::string &first, const std::string &text, std::size_t indent,
                    std::size_t width = REPORT_WIDTH) {
    std::string out, line = first;
    bool empty = true; // no word on the line yet
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find(' ', pos), text.size());
        const std::string word = text.substr(pos, end - pos);
        pos = end + 1;
        if (word.empty()) continue;
        if (!empty && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line = std::string(indent, ' ');
            empty = true;
        }
        line += (empty ? "" : " ") + word;
        empty = false;
    }
    return out + line + "\n";
}

// Returns the rows laid out in columns two blanks apart, without trailing blanks: the first
// `left` columns left-aligned (and the last one when `last_left`), the others right-aligned.
std::string align(const std::vector<std::vector<std::string>> &rows, std::size_t left,
                  bool last_left) {
    std::vector<std::size_t> width(rows.front().size(), 0);
    for (const auto &row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            width[c] = std::max(width[c], row[c].size());
    std::string out;
    for (const auto &row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string pad(width[c] - row[c].size(), ' ');
            const bool to_left = c < left || (last_left && c + 1 == row.size());
            line += (c ? "  " : "") + (to_left ? row[c] + pad : pad + row[c]);
        }
        out += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    }
    return out;
}

// Returns the width of column c of the compact table over `results`.
std::size_t compact_width(std::size_t c, const std::vector<method_result> &results,
                          const machine_fit &m) {
    std::size_t w =
        std::max(std::string(COLUMNS[c].top).size(), std::string(COLUMNS[c].bottom).size());
    for (const method_result &r : results)
        w = std::max(w, cell(c, r, m, true).size());
    return w;
}

// Returns the default columns for a run described by `d`: those that apply (joints, a machine),
// as many as fit REPORT_WIDTH in their order of room, in their shown order; `left_out`
// receives the names of those that did not fit.
std::vector<std::size_t> default_columns(const std::vector<method_result> &results,
                                         const run_description &d, std::string &left_out) {
    std::size_t used = 6; // "method"
    for (const method_result &r : results)
        used = std::max(used, r.name.size());
    used += 2 + std::string("FAILED").size();
    std::vector<bool> taken(NCOL, false);
    for (const char *key : DEFAULT_ROOM) {
        const std::size_t c = column_index(key);
        if (c == column_index("fluct_max_at_joints") && d.joints == 0) continue;
        if (ratio_column(c) && !d.planned.machine) continue;
        const std::size_t w = 2 + compact_width(c, results, d.planned);
        if (used + w <= REPORT_WIDTH) {
            used += w;
            taken[c] = true;
        } else {
            left_out += (left_out.empty() ? "" : ", ") + std::string(key);
        }
    }
    std::vector<std::size_t> shown;
    for (const char *key : DEFAULT_SHOWN)
        if (taken[column_index(key)]) shown.push_back(column_index(key));
    return shown;
}

// Returns the notes below a table: the machine's mark, and the methods whose worst replayed
// step came out below their median.
std::string table_notes(const std::vector<method_result> &results, const run_description &d) {
    std::string out, below;
    for (const method_result &r : results)
        if (r.replayed && r.worst_replayed_ns < r.t_median)
            below += (below.empty() ? "" : ", ") + r.name;
    if (d.planned.machine && !d.planned.within)
        out += wrapped("* ", machine_fit_text(d.planned), 2);
    if (!below.empty())
        out += wrapped("",
                       "worst replayed below the median (" + below +
                           "): every step of these methods costs about the same, and a step "
                           "repeated back to back finds the caches warm, which a step of the "
                           "run, after the run's own work between two steps, does not; their "
                           "median is the better figure of their cost",
                       2);
    return out;
}

// Returns the compact table with the columns `cols` and the notes below it.
std::string compact_summary(const std::vector<method_result> &results, const run_description &d,
                            const std::vector<std::size_t> &cols, const std::string &left_out) {
    std::vector<std::vector<std::string>> rows = {{"method", "status"}, {"", ""}};
    for (std::size_t c : cols) {
        rows[0].push_back(COLUMNS[c].top);
        rows[1].push_back(COLUMNS[c].bottom);
    }
    for (const method_result &r : results) {
        rows.push_back({r.name, status_word(r, d.planned)});
        for (std::size_t c : cols)
            rows.back().push_back(cell(c, r, d.planned, true));
    }
    std::string out = align(rows, 2, false) + "\nstatus:\n";
    std::size_t name = 0;
    for (const method_result &r : results)
        name = std::max(name, r.name.size());
    for (const method_result &r : results)
        out += wrapped(r.name + std::string(name + 2 - r.name.size(), ' '),
                       status_text(r, d.length, d.planned), name + 2);
    out += table_notes(results, d);
    if (!left_out.empty())
        out +=
            wrapped("",
                    "not shown, to fit " + std::to_string(REPORT_WIDTH) + " columns: " + left_out +
                        " (--columns all: every column; --columns NAME,...: a choice)",
                    2);
    return out;
}

// Returns the full table: every column, one header line each, the status last in full.
std::string full_summary(const std::vector<method_result> &results, double length,
                         const machine_fit &m) {
    std::vector<std::vector<std::string>> rows(1, {"method"});
    for (const result_column &c : COLUMNS)
        rows[0].push_back(c.header);
    rows[0].push_back("status");
    for (const method_result &r : results) {
        rows.push_back({r.name});
        for (std::size_t c = 0; c < NCOL; ++c)
            rows.back().push_back(cell(c, r, m, true));
        rows.back().push_back(status_text(r, length, m));
    }
    return align(rows, 1, true);
}

// Returns `text` quoted for CSV (quotes doubled).
std::string csv_quoted(const std::string &text) {
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// Returns `text` as a CSV field: as it is, or quoted when it holds a comma, a quote or a line
// end (a path may).
std::string csv_field(const std::string &text) {
    return text.find_first_of(",\"\r\n") == std::string::npos ? text : csv_quoted(text);
}

// Returns `text` as a Markdown table cell: '|' would end the cell, so it becomes '/'.
std::string md_field(std::string text) {
    for (std::size_t k; (k = text.find('|')) != std::string::npos;)
        text.replace(k, 1, "/");
    return text;
}

// Returns "yes", "no" or "-" (no machine): whether the profile was planned for the machine.
std::string planned_cell(const machine_fit &m) {
    return !m.machine ? "-" : m.within ? "yes" : "no";
}

// Returns the line of cells as CSV or a Markdown table row.
std::string row_text(const std::vector<std::string> &cells, bool markdown) {
    std::string out = markdown ? "|" : "";
    for (std::size_t k = 0; k < cells.size(); ++k)
        out += markdown ? " " + cells[k] + " |" : cells[k] + (k + 1 < cells.size() ? "," : "");
    return out + "\n";
}

// Returns the cells of one suite row: the run's names, then the suite's columns, then whether
// the profile was planned for the machine and the status.
std::vector<std::string> suite_cells(const suite_run &run, const method_result &r, bool markdown) {
    const auto field = [&](const std::string &t) { return markdown ? md_field(t) : csv_field(t); };
    std::vector<std::string> cells = {field(run.curve), field(run.profile),
                                      joint_policy_name(r.policy), fmt("%g", r.period), r.name};
    for (std::size_t c = 0; c < NCOL; ++c)
        if (COLUMNS[c].suite) cells.push_back(cell(c, r, run.planned, markdown));
    cells.push_back(planned_cell(run.planned));
    const std::string outcome = r.failed ? "FAILED: " + r.reason
                                : off_machine(r, run.planned)
                                    ? "ok* (axis ratios against a machine the profile was not "
                                      "planned for)"
                                    : "ok";
    cells.push_back(markdown ? md_field(outcome) : csv_quoted(outcome));
    return cells;
}

// Returns the header of the suite's summary as CSV or Markdown (its two lines).
std::string suite_head(bool markdown) {
    std::vector<std::string> names = {"curve", "profile", "joints",
                                      markdown ? "period [s]" : "period_s", "method"};
    for (const result_column &c : COLUMNS)
        if (c.suite) names.push_back(markdown ? c.header : c.key);
    names.push_back("planned_for_machine");
    names.push_back("status");
    std::string out = row_text(names, markdown);
    if (!markdown) return out;
    std::string rule = "|---|---|---|---:|---|";
    for (const result_column &c : COLUMNS)
        if (c.suite) rule += "---:|";
    return out + rule + "---|---|\n";
}

} // namespace

std::string compare_columns_help() {
    std::string out =
        "Table (standard output), one row per method, name and status first. By default "
        "the columns\n"
        "marked (d) below, as many as fit 100 characters (the curve's joints and a "
        "machine's ratios\nwhere they apply); --columns all: every column, the "
        "status last in full; --columns\nNAME,...: those named, in that order. Each "
        "method's full status follows the table.\n";
    std::string names;
    for (const result_column &c : COLUMNS) {
        const bool shown = std::find(std::begin(DEFAULT_SHOWN), std::end(DEFAULT_SHOWN),
                                     std::string(c.key)) != std::end(DEFAULT_SHOWN);
        names += (names.empty() ? "" : ", ") + std::string(c.key) + (shown ? " (d)" : "") + ": " +
                 c.header;
        if (*c.help == 0) continue;
        out += wrapped("  ", names, 4, 92) + wrapped("      ", c.help, 6, 92);
        names.clear();
    }
    out += "  status\n" +
           wrapped("      ",
                   "ok (where the motion ended), ok* (the same, the axis ratios against a "
                   "machine the profile was not planned for: its own plan exceeds the limits) or "
                   "FAILED with the reason, time and place: a non-finite parameter; a parameter "
                   "below 0; a step back along the curve by more than 1e-6 mm; a jump (a step "
                   "longer than 3 (v T + |a| T^2/2 + |j| T^3/6) + 1e-6 mm); a step whose true "
                   "length is not the curve's accurate length between its ends (to 1e-9 mm + "
                   "1e-9 of it: the quadrature missed a stretch of the curve the tool passed); a "
                   "drift beyond 0.1 mm + 1e-4 of the commanded length; the curve's end reached "
                   "with more of the profile's travel left than that bound; or stopped "
                   "advancing: 100 consecutive samples with v >= 1 mm/s whose steps each covered "
                   "less than 1% of v*T; for FCP also a table that misses by more than a step",
                   6, 92);
    return out;
}

std::string run_header(const run_description &d) {
    const double T = d.period;
    const std::size_t n = d.prof->v.size();
    std::string out = wrapped("",
                              "curve " + d.curve + ": " + fmt("%.6f", d.length) +
                                  " mm (accurate, per knot span), " + std::to_string(d.joints) +
                                  (d.joints == 1 ? " joint" : " joints") +
                                  "; steps across joints: " + joint_policy_name(d.policy),
                              2);
    out += wrapped("",
                   "profile " + d.profile + ": " + std::to_string(n) +
                       " samples at T = " + fmt("%g", T) + " s, sample k at t = k*T (" +
                       seconds(n ? double(n - 1) * T : 0.0) +
                       " s from the first to the last); commanded travel T*sum(v) = " +
                       fmt("%.6f", d.fit.commanded) + " mm, " + profile_fit_text(d.fit),
                   2);
    out +=
        d.machine.empty()
            ? "machine: none (--config FILE or --axis-*: the axis ratio columns)\n"
            : wrapped("",
                      "machine " + d.machine + ": " + d.limits + "; " + machine_fit_text(d.planned),
                      2);
    if (!d.fcp_note.empty())
        out += wrapped("", d.fcp_note, 2);
    else if (!d.fcp_table.empty())
        out += wrapped("",
                       "FCP's table: " + d.fcp_table +
                           (std::isnan(d.fcp_e_max)
                                ? ""
                                : ", E max " + fmt("%.3e", d.fcp_e_max) + " mm on this curve"),
                       2);
    if (!d.loaded.empty()) out += wrapped("", d.loaded, 2);
    out += wrapped("",
                   "measured: ds = true step length (adaptive Simpson, 1e-12, depth 30, "
                   "checked against the accurate length), feed fluctuation |v*T - ds|/(v*T) "
                   "over the steps with v >= 1 mm/s except an end step cut short by the curve; "
                   "chord error: max distance of the curve from the step's chord, 15 samples "
                   "per step; axis acc and jerk: second and third differences over T of the "
                   "positions reached",
                   2);
    out += wrapped("",
                   "cycle time = curve evaluation at u + interpolator call, nearest-rank "
                   "percentiles; the clock's own cost (two back-to-back readings, " +
                       std::to_string(d.overhead.pairs) + " pairs): median " +
                       fmt("%.0f", d.overhead.median_ns) + " ns, p99 " +
                       fmt("%.0f", d.overhead.p99_ns) +
                       " ns, included in the times below, not subtracted",
                   2);
    return out + "\n";
}

std::string run_title(const run_description &d) {
    return "curve " + d.curve + ", profile " + d.profile + ", T = " + fmt("%g", d.period * 1e3) +
           " ms, joints " + joint_policy_name(d.policy) + ", " +
           (d.machine.empty() ? std::string("no machine") : "machine " + d.machine) +
           (d.planned.machine && !d.planned.within ? " (the profile was not planned for it)" : "");
}

std::string parse_columns(const std::string &list, table_columns *out) {
    *out = table_columns{};
    if (list == "all") {
        out->all = true;
        return "";
    }
    std::size_t pos = 0;
    while (pos <= list.size()) {
        const std::size_t comma = std::min(list.find(',', pos), list.size());
        const std::string name = list.substr(pos, comma - pos);
        const std::size_t c = column_index(name);
        if (c == NCOL) {
            std::string known;
            for (const result_column &k : COLUMNS)
                known += (known.empty() ? "" : ", ") + std::string(k.key);
            return "\"" + name + "\" is not a column (all, or some of: " + known + ")";
        }
        if (std::find(out->chosen.begin(), out->chosen.end(), c) != out->chosen.end())
            return "\"" + name + "\" is named twice";
        out->chosen.push_back(c);
        pos = comma + 1;
    }
    return "";
}

std::string format_summary(const std::vector<method_result> &results, const run_description &d,
                           const table_columns &cols) {
    if (cols.all) return full_summary(results, d.length, d.planned) + table_notes(results, d);
    std::string left_out;
    const std::vector<std::size_t> shown =
        cols.chosen.empty() ? default_columns(results, d, left_out) : cols.chosen;
    return compact_summary(results, d, shown, left_out);
}

std::string format_summary(const std::vector<method_result> &results) {
    return full_summary(results, 0, machine_fit{});
}

std::string noise_text(const noise_floor &noise) {
    return wrapped(
        "",
        "noise: a step that only reads the clock, timed like the methods (the same work "
        "between the steps) " +
            std::to_string(noise.samples) + " times: median " + fmt("%.0f", noise.median_ns) +
            " ns, p99.99 " + fmt("%.0f", noise.p9999_ns) + " ns, max " + fmt("%.0f", noise.max_ns) +
            " ns (maxima above this are the machine interrupting the process); \"worst "
            "replayed\": the largest median of " +
            std::to_string(COMPARE_REPLAY_REPEATS) + " repetitions of each of the " +
            std::to_string(COMPARE_REPLAY_SLOWEST) + " slowest steps and of the " +
            std::to_string(COMPARE_REPLAY_HARDEST) +
            " with the most integrand calls and corrector updates, each run alone with the "
            "method's state restored before every repetition (back to back: warm caches); "
            "\"its calls\", \"its iters\": that step's integrand calls (counted in an "
            "untimed rerun) and corrector updates",
        2);
}

std::string stops_text(const std::vector<method_result> &results) {
    std::string out;
    for (const method_result &r : results) {
        if (!r.iterative) continue;
        const corrector_stops &s = r.stops;
        out += wrapped("",
                       r.name + ": corrector loops ended by the tolerance " +
                           std::to_string(s.tolerance) +
                           " times, when an update no longer reduced the residual " +
                           std::to_string(s.stagnation) + " times (kept residual at most " +
                           fmt("%.3g", s.stagnation_residual_max) + " " + r.residual +
                           "), at the bound of 100 updates " + std::to_string(s.bound) +
                           " times, by a guard " + std::to_string(s.guard) + " times",
                       2);
    }
    return out;
}

void write_csv(std::FILE *f, const feed_profile &prof, const std::vector<method_result> &res) {
    const double T = res.empty() ? profile_period(prof) : res.front().period;
    std::fputs("time_s,feed_mm_s", f);
    for (const method_result &r : res)
        std::fprintf(f, ",%s_rel_err,%s_call_ns", r.name.c_str(), r.name.c_str());
    for (const method_result &r : res)
        std::fprintf(f, ",%s_chord_err_mm", r.name.c_str());
    for (const method_result &r : res)
        std::fprintf(f, ",%s_at_joint,%s_axis_jerk_mm_s3", r.name.c_str(), r.name.c_str());
    std::fputc('\n', f);
    for (std::size_t i = 0; i < prof.v.size(); ++i) {
        std::fprintf(f, "%.12g,%.17g", static_cast<double>(i) * T, prof.v[i]);
        for (const method_result &r : res) {
            std::fputc(',', f);
            if (!std::isnan(r.rel_err[i])) std::fprintf(f, "%.6e", r.rel_err[i]);
            std::fputc(',', f);
            if (!std::isnan(r.call_ns[i])) std::fprintf(f, "%.0f", r.call_ns[i]);
        }
        for (const method_result &r : res) {
            std::fputc(',', f);
            if (!std::isnan(r.chord_err[i])) std::fprintf(f, "%.6e", r.chord_err[i]);
        }
        for (const method_result &r : res) {
            std::fprintf(f, ",%d,", r.at_joint[i] ? 1 : 0);
            if (!std::isnan(r.axis_jerk[i])) std::fprintf(f, "%.6e", r.axis_jerk[i]);
        }
        std::fputc('\n', f);
    }
}

bool summary_is_markdown(const std::string &path) {
    return path.size() >= 3 && path.compare(path.size() - 3, 3, ".md") == 0;
}

std::string summary_file_text(const std::vector<method_result> &results, const run_description &d,
                              bool markdown) {
    const std::string e_max = num("%.3e", d.fcp_e_max);
    if (markdown) {
        std::string out = "# interp_compare: " + md_field(d.curve) + ", " + md_field(d.profile) +
                          "\n\n| setting | value |\n|---|---|\n";
        const auto setting = [&](const std::string &name, const std::string &value) {
            out += "| " + name + " | " + md_field(value) + " |\n";
        };
        setting("curve", d.curve + ": " + fmt("%.6f", d.length) + " mm, " +
                             std::to_string(d.joints) + " joints");
        setting("profile", d.profile + ": " + std::to_string(d.prof->v.size()) +
                               " samples, commanded travel " + fmt("%.6f", d.fit.commanded) +
                               " mm, " + profile_fit_text(d.fit));
        setting("period [s]", fmt("%g", d.period));
        setting("joints", joint_policy_name(d.policy));
        setting("machine", d.machine.empty()
                               ? std::string("none")
                               : d.machine + ": " + d.limits + "; " + machine_fit_text(d.planned));
        setting("FCP's table", d.fcp_table.empty() ? std::string("-") : d.fcp_table);
        setting("FCP's E max [mm]", e_max);
        setting("timer overhead", "median " + fmt("%.0f", d.overhead.median_ns) +
                                      " ns per two readings, included in the times, not "
                                      "subtracted");
        std::vector<std::string> head = {"method"}, rule = {"---"};
        for (const result_column &c : COLUMNS) {
            head.push_back(c.header);
            rule.push_back("---:");
        }
        head.push_back("status");
        rule.push_back("---");
        out += "\n" + row_text(head, true) + row_text(rule, true);
        for (const method_result &r : results) {
            std::vector<std::string> cells = {r.name};
            for (std::size_t c = 0; c < NCOL; ++c)
                cells.push_back(cell(c, r, d.planned, true));
            cells.push_back(md_field(status_text(r, d.length, d.planned)));
            out += row_text(cells, true);
        }
        return out;
    }
    std::vector<std::string> head = {"curve",   "profile",   "joints",       "period_s",
                                     "machine", "fcp_table", "fcp_e_max_mm", "method"};
    for (const result_column &c : COLUMNS)
        head.push_back(c.key);
    head.push_back("planned_for_machine");
    head.push_back("status");
    std::string out = row_text(head, false);
    for (const method_result &r : results) {
        std::vector<std::string> cells = {csv_field(d.curve),
                                          csv_field(d.profile),
                                          joint_policy_name(d.policy),
                                          fmt("%g", d.period),
                                          csv_field(d.machine.empty() ? "-" : d.machine),
                                          csv_field(d.fcp_table.empty() ? "-" : d.fcp_table),
                                          e_max,
                                          r.name};
        for (std::size_t c = 0; c < NCOL; ++c)
            cells.push_back(cell(c, r, d.planned, false));
        cells.push_back(planned_cell(d.planned));
        cells.push_back(csv_quoted(status_text(r, d.length, d.planned)));
        out += row_text(cells, false);
    }
    return out;
}

std::string suite_summary_csv(const std::vector<suite_run> &runs) {
    std::string out = suite_head(false);
    for (const suite_run &run : runs)
        for (const method_result &r : run.results)
            out += row_text(suite_cells(run, r, false), false);
    return out;
}

std::string suite_summary_markdown(const std::vector<suite_run> &runs) {
    std::string out = suite_head(true);
    for (const suite_run &run : runs)
        for (const method_result &r : run.results)
            out += row_text(suite_cells(run, r, true), true);
    return out;
}

std::string suite_overview(const std::vector<suite_run> &runs) {
    std::vector<std::vector<std::string>> rows = {{"curve", "profile", "joints", "ok", "FAILED"}};
    std::vector<std::string> notes;
    bool marked = false;
    for (const suite_run &run : runs) {
        std::size_t ok = 0;
        std::string failed;
        for (const method_result &r : run.results) {
            if (!r.failed) ++ok;
            if (r.failed) failed += (failed.empty() ? "" : ", ") + r.name;
        }
        const bool mark = run.planned.machine && !run.planned.within && ok > 0;
        marked = marked || mark;
        rows.push_back({run.curve, run.profile,
                        run.results.empty() ? "-" : joint_policy_name(run.results[0].policy),
                        std::to_string(ok) + (mark ? "*" : ""),
                        std::to_string(run.results.size() - ok)});
        notes.push_back(failed.empty() ? "" : "FAILED: " + failed);
    }
    std::string table = align(rows, 3, false), out;
    std::size_t k = 0, pos = 0;
    for (std::size_t end; (end = table.find('\n', pos)) != std::string::npos; pos = end + 1, ++k) {
        const std::string line = table.substr(pos, end - pos);
        out += line + (k > 0 && !notes[k - 1].empty() ? "  " + notes[k - 1] : "") + "\n";
    }
    if (marked)
        out += wrapped("",
                       "*: the profile was not planned for the machine the axis ratios are "
                       "taken against (its own plan exceeds the limits): those ratios say how "
                       "far the motion is from that machine, not that it passes",
                       2);
    return out;
}

} // namespace nurbs_interp
