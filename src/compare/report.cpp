#include "compare/report.hpp"

#include <algorithm> // max
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

// One column of the report of a result: its header in the table (unit in brackets), what it
// is (for --help; empty: said by the column before), its name in the suite's CSV (null: not in
// the suite's summary), and its text for a result.
struct result_column {
    const char *header, *help, *csv;
    std::string (*value)(const method_result &);
};

const result_column COLUMNS[] = {
    {"steps",
     "calls made; a method stops at the curve's end (u >= 1, or less than 1e-6 mm of the curve "
     "left after its step) or when it fails",
     "steps", [](const method_result &r) { return std::to_string(r.steps); }},
    {"fluct max [1]",
     "max of |v*T - ds| / (v*T) over the steps with v >= 1 mm/s, ds the step's true length (the "
     "step that reaches the end is left out when the curve cuts it short of v*T)",
     "fluct_max", [](const method_result &r) { return num("%.3e", r.fluct_max); }},
    {"fluct max at joints [1]",
     "the same over the steps that cross a joint (a knot where |C'| or C'' jumps; - : none)",
     "fluct_max_at_joints", [](const method_result &r) { return num("%.3e", r.fluct_joints); }},
    {"fluct max elsewhere [1]", "the same over the other steps", "fluct_max_elsewhere",
     [](const method_result &r) { return num("%.3e", r.fluct_elsewhere); }},
    {"fluct RMS [1]", "RMS of the same over all scored steps", "fluct_rms",
     [](const method_result &r) { return num("%.3e", r.fluct_rms); }},
    {"chord err max [mm]",
     "the largest distance of the curve from a step's chord (15 samples per step)",
     "chord_err_max_mm", [](const method_result &r) { return num("%.3e", r.chord_max); }},
    {"drift [mm]", "sum of (ds - v*T): travelled minus commanded length, positive when ahead",
     "drift_mm", [](const method_result &r) { return num("%.3e", r.drift); }},
    {"axis acc max [mm/s^2]",
     "the largest axis acceleration the positions reached imply: second differences of C(u_k) over "
     "T (the tool at rest before the first sample)",
     "axis_acc_max_mm_s2",
     [](const method_result &r) { return r.steps ? num("%.3e", r.axis.acc_max) : "-"; }},
    {"axis jerk max [mm/s^3]", "the largest axis jerk: third differences of C(u_k) over T",
     "axis_jerk_max_mm_s3",
     [](const method_result &r) { return r.steps ? num("%.3e", r.axis.jerk_max) : "-"; }},
    {"axis acc/limit [1]",
     "the largest ratio of an axis acceleration to its limit (--axis-acc; - : none given)",
     "axis_acc_ratio", [](const method_result &r) { return num("%.3g", r.axis.acc_ratio); }},
    {"axis jerk/limit [1]", "the same for the jerk (--axis-jerk)", "axis_jerk_ratio",
     [](const method_result &r) { return num("%.3g", r.axis.jerk_ratio); }},
    {"iter mean [1]", "corrector updates per call (methods with a corrector loop)", nullptr,
     [](const method_result &r) { return r.iterative ? num("%.2f", r.iter_mean) : "-"; }},
    {"iter max [1]", "the most updates of one call", nullptr,
     [](const method_result &r) {
         return r.iterative && r.steps ? std::to_string(r.iter_max) : std::string("-");
     }},
    {"median [ns]",
     "cycle time: the curve evaluation at u plus the interpolator call (and, under --joints split, "
     "the split), nearest-rank percentiles and maximum; the timer overhead is included, not "
     "subtracted",
     "median_ns", [](const method_result &r) { return num("%.0f", r.t_median); }},
    {"p99 [ns]", "", nullptr, [](const method_result &r) { return num("%.0f", r.t_p99); }},
    {"p99.99 [ns]", "", nullptr, [](const method_result &r) { return num("%.0f", r.t_p9999); }},
    {"max [ns]", "", nullptr, [](const method_result &r) { return num("%.0f", r.t_max); }},
    {"max [% T]", "the maximum cycle time as a share of the servo period", nullptr,
     [](const method_result &r) { return num("%.2f", of_period(r, r.t_max)); }},
    {"worst replayed [ns]",
     "the cost of the method's worst input without the machine's interruptions: after the run, its "
     "64 slowest steps and the 16 with the most integrand calls and the 16 with the most corrector "
     "updates (counted in an untimed rerun) run again alone 400 times each, the state restored "
     "before each; the largest median",
     "worst_replayed_ns",
     [](const method_result &r) {
         return r.replayed ? num("%.0f", r.worst_replayed_ns) : std::string("-");
     }},
    {"replayed [% T]", "its share of the period", nullptr,
     [](const method_result &r) {
         return r.replayed ? num("%.2f", of_period(r, r.worst_replayed_ns)) : std::string("-");
     }},
    {"its calls [1]", "that step's integrand calls", nullptr,
     [](const method_result &r) {
         return r.replayed ? std::to_string(r.worst_calls) : std::string("-");
     }},
    {"its iters [1]", "that step's corrector updates", nullptr,
     [](const method_result &r) {
         return r.iterative && r.replayed ? std::to_string(r.worst_iterations) : std::string("-");
     }},
};

// Returns the status column of a result.
std::string status_text(const method_result &r) {
    if (r.failed) return "FAILED: " + r.reason;
    if (r.reached_end) return "ok, reached u = 1 at t = " + fmt("%.5f", r.end_time) + " s";
    return "ok, profile ended at u = " + fmt("%.12f", r.end_u);
}

// Returns the rows laid out in columns: the first left-aligned, the last unpadded, the others
// right-aligned.
std::string align(const std::vector<std::vector<std::string>> &rows) {
    std::vector<std::size_t> width(rows.front().size(), 0);
    for (const auto &row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            width[c] = std::max(width[c], row[c].size());
    std::string out;
    for (const auto &row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::size_t pad = width[c] - row[c].size();
            if (c == 0)
                line += row[c] + std::string(pad, ' ');
            else if (c + 1 == row.size())
                line += "  " + row[c];
            else
                line += "  " + std::string(pad, ' ') + row[c];
        }
        out += line + "\n";
    }
    return out;
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

// Returns the cells of one suite row: the run's names, then the suite's columns, then status.
std::vector<std::string> suite_cells(const suite_run &run, const method_result &r, bool markdown) {
    const auto field = [&](const std::string &t) { return markdown ? md_field(t) : csv_field(t); };
    std::vector<std::string> cells = {field(run.curve), field(run.profile),
                                      joint_policy_name(r.policy), fmt("%g", r.period), r.name};
    for (const result_column &c : COLUMNS)
        if (c.csv) cells.push_back(c.value(r));
    const std::string outcome = r.failed ? "FAILED: " + r.reason : "ok";
    cells.push_back(markdown ? md_field(outcome) : csv_quoted(outcome));
    return cells;
}

// Returns `text` wrapped at 92 characters, each line indented by `indent` spaces.
std::string wrapped(const std::string &text, std::size_t indent) {
    std::string out, line;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find(' ', pos), text.size());
        const std::string word = text.substr(pos, end - pos);
        if (!line.empty() && line.size() + 1 + word.size() > 92 - indent) {
            out += std::string(indent, ' ') + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        pos = end + 1;
    }
    if (!line.empty()) out += std::string(indent, ' ') + line + "\n";
    return out;
}

} // namespace

std::string compare_columns_help() {
    std::string out = "Summary table (standard output), one row per method:\n";
    std::string names;
    for (const result_column &c : COLUMNS) {
        names += (names.empty() ? "" : ", ") + std::string(c.header);
        if (*c.help == 0) continue;
        out += "  " + names + "\n" + wrapped(c.help, 6);
        names.clear();
    }
    out += "  status\n" +
           wrapped("ok (where the motion ended) or FAILED with the reason, time and place: a "
                   "non-finite parameter; a parameter below 0; a step back along the curve by "
                   "more than 1e-6 mm; a jump (a step longer than 3 (v T + |a| T^2/2 + |j| T^3/6) "
                   "+ 1e-6 mm); a drift beyond 0.1 mm + 1e-4 of the commanded length; or stopped "
                   "advancing: 100 consecutive samples with v >= 1 mm/s whose steps each covered "
                   "less than 1% of v*T; for FCP also a table that misses by more than a step",
                   6);
    return out;
}

std::string run_header(const run_description &d) {
    const double T = d.period;
    return "curve " + d.curve + ": length " + fmt("%.6f", d.length) + " mm (per knot span); " +
           std::to_string(d.joints) + " joints, steps across them: " + joint_policy_name(d.policy) +
           "\nprofile " + d.profile + ": " + std::to_string(d.prof->v.size()) +
           " samples at T = " + fmt("%g", T) + " s (" + fmt("%.5f", double(d.prof->v.size()) * T) +
           " s of motion), commanded length " +
           "sum(v*T) = " + fmt("%.6f", feed_profile_travel(*d.prof, T)) + " mm" +
           (d.machine.empty() ? "" : "; axis limits: " + d.machine) +
           "\nfeed fluctuation |v*T - ds|/(v*T): ds = true step length (adaptive Simpson, "
           "1e-12, depth 30), steps with v >= 1 mm/s except an end step cut short by the curve; "
           "chord error: max distance of the curve from the step's chord, 15 samples per step; "
           "axis acc and jerk: second and third differences over T of the positions reached\n"
           "cycle time = curve evaluation at u + interpolator call, nearest-rank percentiles; "
           "timer overhead (back-to-back clock reads, " +
           std::to_string(d.overhead.pairs) + " pairs): median " +
           fmt("%.0f", d.overhead.median_ns) + " ns, p99 " + fmt("%.0f", d.overhead.p99_ns) +
           " ns, included in the times below, not subtracted\n\n";
}

std::string noise_text(const noise_floor &noise) {
    return "noise: a step that only reads the clock, timed like the methods (the same work "
           "between the steps) " +
           std::to_string(noise.samples) + " times: median " + fmt("%.0f", noise.median_ns) +
           " ns, p99.99 " + fmt("%.0f", noise.p9999_ns) + " ns, max " + fmt("%.0f", noise.max_ns) +
           " ns (maxima above this are the machine interrupting the process); \"worst "
           "replayed\": the largest median of " +
           std::to_string(COMPARE_REPLAY_REPEATS) + " repetitions of each of the " +
           std::to_string(COMPARE_REPLAY_SLOWEST) + " slowest steps and of the " +
           std::to_string(COMPARE_REPLAY_HARDEST) +
           " with the most integrand calls and corrector updates, each run alone with the "
           "method's state restored before every repetition; \"its calls\", \"its iters\": "
           "that step's integrand calls (counted in an untimed rerun) and corrector updates\n";
}

std::string stops_text(const std::vector<method_result> &results) {
    std::string out;
    for (const method_result &r : results) {
        if (!r.iterative) continue;
        const corrector_stops &s = r.stops;
        out += r.name + ": corrector loops ended by the tolerance " + std::to_string(s.tolerance) +
               " times, when an update no longer reduced the residual " +
               std::to_string(s.stagnation) + " times (kept residual at most " +
               fmt("%.3g", s.stagnation_residual_max) + " " + r.residual +
               "), at the bound of 100 updates " + std::to_string(s.bound) + " times, by a guard " +
               std::to_string(s.guard) + " times\n";
    }
    return out;
}

std::string format_summary(const std::vector<method_result> &results) {
    std::vector<std::vector<std::string>> rows(1, {"method"});
    for (const result_column &c : COLUMNS)
        rows[0].push_back(c.header);
    rows[0].push_back("status");
    for (const method_result &r : results) {
        rows.push_back({r.name});
        for (const result_column &c : COLUMNS)
            rows.back().push_back(c.value(r));
        rows.back().push_back(status_text(r));
    }
    return align(rows);
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
        std::fprintf(f, "%.5f,%.17g", static_cast<double>(i) * T, prof.v[i]);
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

std::string suite_summary_csv(const std::vector<suite_run> &runs) {
    std::string out = "curve,profile,joints,period_s,method";
    for (const result_column &c : COLUMNS)
        if (c.csv) out += std::string(",") + c.csv;
    out += ",status\n";
    for (const suite_run &run : runs)
        for (const method_result &r : run.results) {
            const std::vector<std::string> cells = suite_cells(run, r, false);
            for (std::size_t k = 0; k < cells.size(); ++k)
                out += cells[k] + (k + 1 < cells.size() ? "," : "\n");
        }
    return out;
}

std::string suite_summary_markdown(const std::vector<suite_run> &runs) {
    std::string head = "| curve | profile | joints | period [s] | method |",
                rule = "|---|---|---|---:|---|";
    for (const result_column &c : COLUMNS)
        if (c.csv) {
            head += std::string(" ") + c.header + " |";
            rule += "---:|";
        }
    std::string out = head + " status |\n" + rule + "---|\n";
    for (const suite_run &run : runs)
        for (const method_result &r : run.results) {
            out += "|";
            for (const std::string &cell : suite_cells(run, r, true))
                out += " " + cell + " |";
            out += "\n";
        }
    return out;
}

} // namespace nurbs_interp
