#include "compare_session.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>

#include "arc_length.hpp"
#include "compare_replay.hpp"
#include "fcp_table_file.hpp"
#include "format.hpp"
#include "progress.hpp"
#include "table_fit.hpp"

namespace nurbs_interp {

// Returns the table FCP runs with: --fcp-table's file, the compiled-in one, or (by default, on
// a curve the compiled-in one was not made for) one fitted for the curve now.
fcp_choice choose_fcp_table(const std::string &option, nurbs_curve *curve,
                            const std::string &curve_name, double length) {
    fcp_choice c;
    const double builtin = fcp_builtin_length();
    const bool matches = std::fabs(builtin - length) <= 1e-9 * length;
    if (option == "builtin" || (option.empty() && matches)) {
        c.note = "FCP: the compiled-in table (made for a curve " + fmt("%.6f", builtin) +
                 " mm long" +
                 (matches ? ": this one"
                          : "; this curve is " + fmt("%.6f", length) + " mm, so its figures fail") +
                 ")";
        return c;
    }
    if (!option.empty()) {
        c.table = fcp_table_read(option);
        c.note = "FCP: the table of " + option + " (" + std::to_string(c.table->tht.size()) +
                 " pieces, last breakpoint " + fmt("%.6f", c.table->sbrk.back()) + " mm)";
        return c;
    }
    const auto t0 = std::chrono::steady_clock::now();
    progress_line line("fitting FCP's table for " + curve_name);
    line.show(0);
    arc_table arc;
    arc_table_build(curve, &arc);
    c.table = fcp_fit(arc, length, 401);
    if (!fcp_table_finite(*c.table))
        throw std::runtime_error(curve_name +
                                 ": no finite feedrate correction table fits this curve");
    const fcp_accuracy acc = fcp_measure(*c.table, arc, 16);
    line.done();
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    c.note = "FCP: the compiled-in table was made for a curve " + fmt("%.6f", builtin) +
             " mm long, not this one: fitted a table of 400 pieces for it in " + fmt("%.2f", secs) +
             " s, E max " + fmt("%.3e", acc.max_s_err) + " mm (16 samples per piece)";
    return c;
}

// Runs every method with a progress line (after a warm-up run on the first 2000 samples when
// `warm_up`), replays its worst steps, and returns their results.
std::vector<method_result> run_methods(const std::vector<const compare_method *> &methods,
                                       const compare_setup &base, const feed_profile &prof,
                                       const std::string &label, bool warm_up) {
    std::vector<method_result> results;
    feed_profile head;
    if (warm_up) {
        const std::size_t n = std::min<std::size_t>(prof.v.size(), 2000);
        head.v.assign(prof.v.begin(), prof.v.begin() + n);
        head.a.assign(prof.a.begin(), prof.a.begin() + n);
        head.j.assign(prof.j.begin(), prof.j.begin() + n);
    }
    for (std::size_t k = 0; k < methods.size(); ++k) {
        if (warm_up) run_method(*methods[k], base, head);
        progress_line line(label + "[" + std::to_string(k + 1) + "/" +
                           std::to_string(methods.size()) + "] " + methods[k]->name);
        compare_setup setup = base;
        setup.progress = [](void *ctx, std::size_t done, std::size_t total) {
            static_cast<progress_line *>(ctx)->show(total ? double(done) / double(total) : 1.0);
        };
        setup.progress_ctx = &line;
        results.push_back(run_method(*methods[k], setup, prof));
        method_result &r = results.back();
        replay_worst(*methods[k], setup, prof, r);
        std::vector<double>().swap(r.u_in); // the replay's inputs, no longer needed
        std::vector<double>().swap(r.s_in);
        std::vector<method_state>().swap(r.state_in);
        if (!r.replay_error.empty() && !r.failed) {
            r.failed = true;
            r.reason = r.replay_error;
        }
    }
    return results;
}

} // namespace nurbs_interp
