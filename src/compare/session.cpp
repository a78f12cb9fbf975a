#include "compare/session.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>

#include "plan/arc_length.hpp"
#include "compare/method_lib.hpp"
#include "compare/replay.hpp"
#include "compare/stats.hpp"
#include "io/fcp_table_file.hpp"
#include "io/format.hpp"
#include "io/progress.hpp"
#include "plan/table_fit.hpp"
#include "plan/table_report.hpp"

namespace nurbs_interp {

namespace {

// Sets the refusal of `c` when its table, measured as `acc`, misses a step of `step` mm by more
// than the step. Returns its E max.
double refuse_if_missing(fcp_choice &c, const fcp_accuracy &acc, double step) {
    const std::string miss = fcp_table_miss(*c.table, acc, step);
    if (!miss.empty()) c.refusal = miss + " at the profile's top feed: not a table, not run";
    return acc.max_s_err;
}

// Fits FCP's table for the curve of `arc`: the fewest pieces for E <= FCP_FIT_TOLERANCE, or,
// where the curve allows no such table (a reach across a strong knot or a tight bend: see
// table_fit.hpp), the table of FCP_FIT_PIECES pieces with the smallest E; sets the note, or
// the refusal when no table fits.
void fit_in_process(fcp_choice &c, const arc_table &arc, const std::string &curve_name, double step,
                    const std::string &builtin) {
    const auto t0 = std::chrono::steady_clock::now();
    progress_line line("fitting FCP's table for " + curve_name);
    const auto shown = [&](double done) { line.show(done); };
    const double length = arc_table_length(arc);
    std::string target;
    fcp_accuracy acc;
    try {
        try {
            fcp_fit_result r = fcp_fit_tolerance(arc, length, FCP_FIT_TOLERANCE, step,
                                                 FCP_FIT_MAX_PIECES, FCP_FIT_SAMPLES, shown);
            c.table = std::move(r.table);
            acc = r.acc;
            target = "for E <= " + fmt("%.3g", FCP_FIT_TOLERANCE) +
                     " mm: " + std::to_string(c.table->tht.size()) + " pieces";
        } catch (const fit_error &e) {
            c.table = fcp_fit(arc, length, FCP_FIT_PIECES + 1, step, shown);
            acc = fcp_measure(*c.table, arc, FCP_FIT_SAMPLES, step);
            target = "of " + std::to_string(FCP_FIT_PIECES) + " pieces with the smallest E (" +
                     e.what() + ")";
        }
    } catch (const fit_error &e) {
        line.done();
        c.table.reset();
        c.refusal = std::string("no table fits this curve: ") + e.what();
        c.note = builtin + ", not this one, and " + c.refusal;
        return;
    }
    const double e = c.e_max = refuse_if_missing(c, acc, step);
    line.done();
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    c.note = builtin + ", not this one: fitted a table " + target + ", in " + fmt("%.2f", secs) +
             " s, E max " + fmt("%.3e", e) + " mm (" + std::to_string(FCP_FIT_SAMPLES) +
             " samples per piece, steps of up to " + fmt("%g", step) + " mm)";
}

} // namespace

fcp_choice choose_fcp_table(const std::string &option, const arc_table &arc,
                            const std::string &curve_name, double step) {
    fcp_choice c;
    const double length = arc_table_length(arc);
    const curve_identity made_for = fcp_builtin_identity();
    const bool matches = identity_mismatch(made_for, *arc.curve).empty();
    const std::string builtin = "FCP: the compiled-in table was made for a curve " +
                                fmt("%.6f", made_for.length) + " mm long";
    if (option == "builtin" || (option.empty() && matches)) {
        c.note = "FCP: the compiled-in table (made for a curve " + fmt("%.6f", made_for.length) +
                 " mm long" +
                 (matches ? ": this one"
                          : "; this curve is " + fmt("%.6f", length) +
                                " mm and not that one, so its figures fail") +
                 ")";
        return c;
    }
    if (!option.empty()) {
        c.table = fcp_table_read(option);
        const double e = c.e_max =
            refuse_if_missing(c, fcp_measure(*c.table, arc, FCP_FIT_SAMPLES, step), step);
        c.note = "FCP: the table of " + option + " (" + std::to_string(c.table->tht.size()) +
                 " pieces, last breakpoint " + fmt("%.6f", c.table->sbrk.back()) + " mm), E max " +
                 fmt("%.3e", e) + " mm on this curve";
        return c;
    }
    fit_in_process(c, arc, curve_name, step, builtin);
    return c;
}

fcp_choice choose_fcp_table_for(const std::vector<const compare_method *> &methods,
                                const std::string &option, const arc_table &arc,
                                const std::string &curve_name, const feed_profile &prof,
                                double period) {
    bool table = false;
    for (const compare_method *m : methods)
        table = table || m->table;
    if (!table) return {};
    return choose_fcp_table(option, arc, curve_name, longest_step(prof, period));
}

double longest_step(const feed_profile &prof, double T) {
    double top = 0;
    for (double v : prof.v)
        top = std::max(top, v);
    return top * T;
}

profile_fit profile_fit_of(const feed_profile &prof, double T, double length) {
    profile_fit f;
    f.commanded = feed_profile_travel(prof, T);
    f.length = length;
    f.bound = drift_bound(f.commanded);
    if (f.commanded > length + f.bound)
        f.verdict = profile_travel::too_long;
    else if (f.commanded < length - PROFILE_END_SLACK - f.bound)
        f.verdict = profile_travel::partial;
    return f;
}

std::string profile_fit_text(const profile_fit &f) {
    const double short_by = f.length - f.commanded;
    if (f.verdict == profile_travel::partial)
        return "ends " + fmt("%.6f", short_by) + " mm before the curve's end: covers " +
               fmt("%.3g", 100 * f.commanded / f.length) +
               " % of the curve, the figures are for that part";
    return (short_by >= 0 ? "ends " + fmt("%.6f", short_by) + " mm before the curve's end"
                          : "runs " + fmt("%.6f", -short_by) + " mm past the curve's end") +
           " (make_profile plans " + fmt("%g", PROFILE_END_SLACK) + " mm short of it)";
}

std::string profile_fit_refusal(const profile_fit &f, const std::string &profile,
                                const std::string &curve) {
    if (f.verdict != profile_travel::too_long) return "";
    return profile + ": the profile commands " + fmt("%.6f", f.commanded) + " mm of travel, " +
           fmt("%.6f", f.commanded - f.length) + " mm more than the curve " + curve + " (" +
           fmt("%.6f", f.length) + " mm; the bound is " + fmt("%.3g", f.bound) +
           " mm): it was made for a longer path, and every method would meet the curve's end "
           "with travel left (make_profile --curve " +
           curve + " plans a profile for this curve, " + fmt("%g", PROFILE_END_SLACK) +
           " mm short of its end)";
}

method_result unrun_method(const compare_method &method, std::size_t samples,
                           const std::string &reason) {
    method_result r;
    r.name = method.name;
    r.samples = samples;
    r.iterative = method_iterative(method);
    r.residual = method.residual ? method.residual : "";
    r.failed = true;
    r.reason = reason;
    const double NaN = std::nan("");
    r.rel_err.assign(samples, NaN);
    r.chord_err.assign(samples, NaN);
    r.call_ns.assign(samples, NaN);
    r.axis_jerk.assign(samples, NaN);
    r.at_joint.assign(samples, 0);
    summarise(r);
    return r;
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
        const compare_method &method = *methods[k];
        if (method.table && !base.fcp_refusal.empty()) {
            results.push_back(unrun_method(method, prof.v.size(), base.fcp_refusal));
            continue;
        }
        // The run of one method, in this process, or for a loaded one in a process of its own.
        const auto run = [&] {
            if (warm_up) run_method(method, base, head);
            progress_line line(label + "[" + std::to_string(k + 1) + "/" +
                               std::to_string(methods.size()) + "] " + method.name);
            compare_setup setup = base;
            setup.progress = [](void *ctx, std::size_t done, std::size_t total) {
                static_cast<progress_line *>(ctx)->show(total ? double(done) / double(total) : 1.0);
            };
            setup.progress_ctx = &line;
            method_result r = run_method(method, setup, prof);
            replay_worst(method, setup, prof, r);
            std::vector<double>().swap(r.u_in); // the replay's inputs, no longer needed
            std::vector<double>().swap(r.s_in);
            std::vector<unsigned char>().swap(r.state_in);
            if (!r.replay_error.empty() && !r.failed) {
                r.failed = true;
                r.reason = r.replay_error;
            }
            return r;
        };
        results.push_back(method.library ? run_loaded_method(method, base, prof.v.size(), run)
                                         : run());
    }
    return results;
}

std::string result_memory_problem(std::size_t samples,
                                  const std::vector<const compare_method *> &methods) {
    double per_sample = 0;
    for (const compare_method *m : methods)
        per_sample +=
            RESULT_BYTES_PER_SAMPLE + double(std::max<std::size_t>(m->state_size, 16) - 16);
    const double bytes = per_sample * double(samples);
    if (bytes <= MAX_RESULT_BYTES) return "";
    return std::to_string(samples) + " samples x " + std::to_string(methods.size()) +
           " methods need " + fmt("%.3g", bytes / 1e9) + " GB of results (bound: 1 GB)";
}

void drop_per_sample(method_result &r) {
    // Assigned new, empty vectors: "= {}" would only clear them and keep their memory.
    r.rel_err = std::vector<double>();
    r.chord_err = std::vector<double>();
    r.call_ns = std::vector<double>();
    r.at_joint = std::vector<char>();
    r.axis_jerk = std::vector<double>();
    r.u_in = std::vector<double>();
    r.s_in = std::vector<double>();
    r.t_in = std::vector<double>();
    r.state_in = std::vector<unsigned char>();
}

} // namespace nurbs_interp
