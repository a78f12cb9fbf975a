#include "compare/report.hpp"

#include <algorithm> // max
#include <cmath>     // isnan

#include "io/format.hpp"

namespace nurbs_interp {

namespace {

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

} // namespace

std::string format_summary(const std::vector<method_result> &results) {
    std::vector<std::vector<std::string>> rows = {
        {"method", "steps", "fluct max [1]", "fluct RMS [1]", "chord err max [mm]", "drift [mm]",
         "iter mean [1]", "iter max [1]", "median [ns]", "p99 [ns]", "p99.99 [ns]", "max [ns]",
         "max [% T]", "worst replayed [ns]", "replayed [% T]", "its calls [1]", "its iters [1]",
         "status"}};
    auto num = [](const char *f, double x) { return std::isnan(x) ? std::string("-") : fmt(f, x); };
    for (const method_result &r : results)
        rows.push_back(
            {r.name, std::to_string(r.steps), num("%.3e", r.fluct_max), num("%.3e", r.fluct_rms),
             num("%.3e", r.chord_max), num("%.3e", r.drift),
             r.iterative ? num("%.2f", r.iter_mean) : "-",
             r.iterative && r.steps ? std::to_string(r.iter_max) : "-", num("%.0f", r.t_median),
             num("%.0f", r.t_p99), num("%.0f", r.t_p9999), num("%.0f", r.t_max),
             num("%.2f", r.t_max / (COMPARE_PERIOD * 1e9) * 100),
             !r.replayed ? "-" : num("%.0f", r.worst_replayed_ns),
             !r.replayed ? "-" : num("%.2f", r.worst_replayed_ns / (COMPARE_PERIOD * 1e9) * 100),
             !r.replayed ? "-" : std::to_string(r.worst_calls),
             r.iterative && !!r.replayed ? std::to_string(r.worst_iterations) : "-",
             status_text(r)});
    return align(rows);
}

void write_csv(std::FILE *f, const feed_profile &prof, const std::vector<method_result> &res) {
    std::fputs("time_s,feed_mm_s", f);
    for (const method_result &r : res)
        std::fprintf(f, ",%s_rel_err,%s_call_ns", r.name.c_str(), r.name.c_str());
    for (const method_result &r : res)
        std::fprintf(f, ",%s_chord_err_mm", r.name.c_str());
    std::fputc('\n', f);
    for (std::size_t i = 0; i < prof.v.size(); ++i) {
        std::fprintf(f, "%.5f,%.17g", static_cast<double>(i) * COMPARE_PERIOD, prof.v[i]);
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
        std::fputc('\n', f);
    }
}

} // namespace nurbs_interp
