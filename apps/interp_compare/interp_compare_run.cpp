#include "interp_compare_run.hpp"

#include <algorithm> // nth_element, max
#include <array>
#include <cctype> // tolower
#include <cmath>  // isfinite, sqrt, ceil, fabs
#include <cstdint>
#include <cstdio> // snprintf
#include <limits>

#include "interpolate.hpp"
#include "tick_clock.hpp"

namespace nurbs_interp {

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// ---- The library's interpolators, each with the evaluation it needs at its parameter ----

double step_fcp(const compare_step &in) {
    return get_u_FCP(in.s, in.v, in.T);
}

double step_taylor2(const compare_step &in) {
    cart_point P, d1, d2;
    nurbs_deBoor_eval(in.u, -1, in.curve, &P, &d1, &d2, nullptr);
    return get_u_Taylor2(in.v, in.a, in.u, in.T, &d1, &d2);
}

double step_taylor3(const compare_step &in) {
    cart_point P, d1, d2, d3;
    nurbs_deBoor_eval(in.u, -1, in.curve, &P, &d1, &d2, &d3);
    return get_u_Taylor3(in.v, in.a, in.j, in.u, in.T, &d1, &d2, &d3);
}

double step_taylor2_ds(const compare_step &in) {
    cart_point P, d1, d2;
    nurbs_deBoor_eval(in.u, -1, in.curve, &P, &d1, &d2, nullptr);
    return get_u_Taylor2_ds(in.v * in.T, in.u, in.T, &d1, &d2);
}

double step_taylor3_ds(const compare_step &in) {
    cart_point P, d1, d2, d3;
    nurbs_deBoor_eval(in.u, -1, in.curve, &P, &d1, &d2, &d3);
    return get_u_Taylor3_ds(in.v * in.T, in.u, in.T, &d1, &d2, &d3);
}

double step_rk2(const compare_step &in) {
    cart_point P, d1;
    nurbs_deBoor_eval(in.u, -1, in.curve, &P, &d1, nullptr, nullptr);
    return get_u_RK2(in.v, in.u, in.T, &P, &d1, in.curve);
}

// Evaluates the curve itself.
double step_t3sia(const compare_step &in) {
    return get_u_T3SIA(in.v, in.a, in.j, in.u, in.T, in.curve);
}

// Evaluates the curve itself (during start-up) and measures it.
double step_adams_moulton(const compare_step &in) {
    return get_u_AdamsMoulton(in.u, in.v, in.T, in.t, in.curve);
}

void start_adams_moulton() {
    reset_adams_moulton_history(0.0, 0.0);
}

double step_newton(const compare_step &in) {
    cart_point P, d1, d2;
    nurbs_deBoor_eval(in.u, -1, in.curve, &P, &d1, &d2, nullptr);
    return get_u_NewtonRaphson(in.u, in.v, in.T, in.curve, &P, &d1, &d2);
}

const std::array<compare_method, 9> METHODS = {{
    {"FCP", nullptr, step_fcp, false},
    {"Taylor2", nullptr, step_taylor2, false},
    {"Taylor3", nullptr, step_taylor3, false},
    {"Taylor2_ds", nullptr, step_taylor2_ds, false},
    {"Taylor3_ds", nullptr, step_taylor3_ds, false},
    {"RK2", nullptr, step_rk2, false},
    {"T3SIA", nullptr, step_t3sia, true},
    {"AdamsMoulton", start_adams_moulton, step_adams_moulton, false},
    {"NewtonRaphson", nullptr, step_newton, true},
}};

std::string lower(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Clock ticks to nanoseconds.
double ns_per_tick() {
    return 1e9 / static_cast<double>(tick_frequency());
}

std::string fmt(const char *format, double x) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, x);
    return buf;
}

} // namespace

std::span<const compare_method> compare_methods() {
    return METHODS;
}

const compare_method *find_compare_method(const std::string &name) {
    std::string key = lower(name);
    if (key.rfind("get_u_", 0) == 0) key.erase(0, 6);
    for (const compare_method &m : METHODS)
        if (lower(m.name) == key) return &m;
    return nullptr;
}

double nearest_rank(std::vector<double> &values, double p) {
    if (values.empty()) return NaN;
    const double rank = std::ceil(p * static_cast<double>(values.size()));
    const std::size_t k = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    const auto kth = values.begin() + static_cast<std::ptrdiff_t>(std::min(k, values.size() - 1));
    std::nth_element(values.begin(), kth, values.end());
    return *kth;
}

method_result run_method(const compare_method &method, nurbs_curve *curve, double curve_length,
                         const feed_profile &prof, compare_progress progress, void *progress_ctx) {
    const std::size_t n = prof.v.size();
    const double T = COMPARE_PERIOD;
    const double tick_ns = ns_per_tick();
    method_result r;
    r.name = method.name;
    r.samples = n;
    r.iterative = method.iterative;
    r.rel_err.assign(n, NaN);
    r.call_ns.assign(n, NaN);

    if (method.start) method.start();
    const std::size_t progress_every = std::max<std::size_t>(1, n / 100);
    double u = 0.0;
    double s = 0.0;
    double drift = 0.0;
    long long iter_sum = 0;
    int stalled = 0;
    double stall_u = 0.0;
    std::size_t stall_from = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (progress && i % progress_every == 0) progress(progress_ctx, i, n);
        const double v = prof.v[i];
        const compare_step in{u, s, v, prof.a[i], prof.j[i], static_cast<double>(i) * T, T, curve};

        const std::int64_t t0 = tick_count();
        const double un = method.step(in);
        const std::int64_t t1 = tick_count();

        r.steps = i + 1;
        r.call_ns[i] = static_cast<double>(t1 - t0) * tick_ns;
        if (method.iterative) {
            const int it = interp_last_iterations();
            iter_sum += it;
            r.iter_max = std::max(r.iter_max, it);
        }
        if (!std::isfinite(un)) {
            r.failed = true;
            r.reason = "non-finite parameter (" + fmt("%g", un) + ") at t = " + fmt("%.5f", in.t) +
                       " s from u = " + fmt("%.17g", u);
            break;
        }
        // The tool stands on the curve: a parameter outside [0, 1] is measured at the end it
        // is past (the evaluator's end rules), so a step is never longer than the curve.
        const double ua = std::clamp(u, 0.0, 1.0);
        const double ub = std::clamp(un, 0.0, 1.0);
        const double ds =
            adaptiveSimpsons(nurbs_arc_len, curve, ua, ub, COMPARE_QUAD_EPS, COMPARE_QUAD_DEPTH);
        if (!std::isfinite(ds)) {
            r.failed = true;
            r.reason = "non-finite step length from u = " + fmt("%.17g", u) + " to " +
                       fmt("%.17g", un) + " at t = " + fmt("%.5f", in.t) + " s";
            break;
        }
        // A controller's parameter never leaves the curve at its start, nor moves back along it
        // (beyond a micrometre of rounding), whatever the feed.
        if (un < 0.0) {
            r.failed = true;
            r.reason = "left the curve before its start: u = " + fmt("%.17g", un) +
                       " at t = " + fmt("%.5f", in.t) + " s from u = " + fmt("%.17g", u);
            break;
        }
        if (ds < -COMPARE_BACK_TOL) {
            r.failed = true;
            r.reason = "moved backwards by " + fmt("%.3g", -ds) +
                       " mm at t = " + fmt("%.5f", in.t) + " s from u = " + fmt("%.17g", u);
            break;
        }
        const double ideal = v * T;
        const bool at_end = un >= 1.0 || curve_length - (s + ds) < COMPARE_END_TOL;
        // The step that reaches the end is cut short by the curve, not by the method.
        if (!at_end) {
            drift += ds - ideal;
            if (v >= COMPARE_MIN_FEED) r.rel_err[i] = std::fabs(ideal - ds) / ideal;
        }
        s += ds;
        u = un;
        if (at_end) {
            r.reached_end = true;
            r.end_time = static_cast<double>(i + 1) * T;
            break;
        }
        if (v >= COMPARE_MIN_FEED && ds < COMPARE_STALL_FRACTION * ideal) {
            if (stalled++ == 0) {
                stall_u = in.u;
                stall_from = i;
            }
            if (stalled >= COMPARE_STALL_SAMPLES) {
                r.failed = true;
                r.reason =
                    "stopped advancing: " + std::to_string(COMPARE_STALL_SAMPLES) +
                    " samples with feed >= 1 mm/s each covered less than 1% of v*T, from t = " +
                    fmt("%.5f", static_cast<double>(stall_from) * T) +
                    " s at u = " + fmt("%.17g", stall_u);
                break;
            }
        } else if (v >= COMPARE_MIN_FEED) {
            stalled = 0;
        }
    }
    if (progress) progress(progress_ctx, n, n);
    r.end_u = u;
    r.drift = drift;

    // Statistics over what was run.
    double sq = 0.0;
    for (double e : r.rel_err) {
        if (std::isnan(e)) continue;
        ++r.scored;
        r.fluct_max = std::max(r.fluct_max, e);
        sq += e * e;
    }
    r.fluct_rms = r.scored ? std::sqrt(sq / static_cast<double>(r.scored)) : NaN;
    if (!r.scored) r.fluct_max = NaN;
    r.iter_mean = r.steps ? static_cast<double>(iter_sum) / static_cast<double>(r.steps) : NaN;
    std::vector<double> times(r.call_ns.begin(),
                              r.call_ns.begin() + static_cast<std::ptrdiff_t>(r.steps));
    r.t_median = nearest_rank(times, 0.5);
    r.t_p99 = nearest_rank(times, 0.99);
    r.t_p9999 = nearest_rank(times, 0.9999);
    r.t_max = times.empty() ? NaN : *std::max_element(times.begin(), times.end());
    return r;
}

timer_overhead measure_timer_overhead(std::size_t pairs) {
    std::vector<double> d(pairs);
    const double tick_ns = ns_per_tick();
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::int64_t t0 = tick_count();
        const std::int64_t t1 = tick_count();
        d[i] = static_cast<double>(t1 - t0) * tick_ns;
    }
    timer_overhead o;
    o.pairs = pairs;
    o.median_ns = nearest_rank(d, 0.5);
    o.p99_ns = nearest_rank(d, 0.99);
    return o;
}

std::string format_summary(const std::vector<method_result> &results) {
    const std::vector<std::string> head = {
        "method",        "steps",        "fluct max [1]", "fluct RMS [1]", "drift [mm]",
        "iter mean [1]", "iter max [1]", "median [ns]",   "p99 [ns]",      "p99.99 [ns]",
        "max [ns]",      "max [% T]",    "status"};
    std::vector<std::vector<std::string>> rows;
    rows.push_back(head);
    auto num = [](const char *f, double x) { return std::isnan(x) ? std::string("-") : fmt(f, x); };
    for (const method_result &r : results) {
        std::string status;
        if (r.failed)
            status = "FAILED: " + r.reason;
        else if (r.reached_end)
            status = "ok, reached u = 1 at t = " + fmt("%.5f", r.end_time) + " s";
        else
            status = "ok, profile ended at u = " + fmt("%.12f", r.end_u);
        rows.push_back(
            {r.name, std::to_string(r.steps), num("%.3e", r.fluct_max), num("%.3e", r.fluct_rms),
             num("%.3e", r.drift), r.iterative ? num("%.2f", r.iter_mean) : "-",
             r.iterative && r.steps ? std::to_string(r.iter_max) : "-", num("%.0f", r.t_median),
             num("%.0f", r.t_p99), num("%.0f", r.t_p9999), num("%.0f", r.t_max),
             num("%.2f", r.t_max / (COMPARE_PERIOD * 1e9) * 100), status});
    }
    std::vector<std::size_t> width(head.size(), 0);
    for (const auto &row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            width[c] = std::max(width[c], row[c].size());
    std::string out;
    for (const auto &row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::size_t pad = width[c] - row[c].size();
            if (c == 0) // the name left-aligned, numbers right-aligned
                line += row[c] + std::string(pad, ' ');
            else if (c + 1 == row.size()) // the status last, unpadded
                line += "  " + row[c];
            else
                line += "  " + std::string(pad, ' ') + row[c];
        }
        out += line + "\n";
    }
    return out;
}

} // namespace nurbs_interp
