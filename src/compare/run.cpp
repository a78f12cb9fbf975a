#include "compare/run.hpp"

#include <algorithm> // clamp, max
#include <cmath>     // isfinite, fabs
#include <cstdint>
#include <limits>

#include "compare/stats.hpp"
#include "io/format.hpp"
#include "io/tick_clock.hpp"

namespace nurbs_interp {

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// What a run carries from one step to the next.
struct run_state {
    double u = 0.0;         // the method's parameter
    double s = 0.0;         // travelled length, mm
    double drift = 0.0;     // travelled minus commanded over the counted steps, mm
    double commanded = 0.0; // sum of v*T over the steps made, mm
    double total = 0.0;     // the profile's whole commanded travel, mm
    double accurate = 0.0;  // the accurate length from u = 0 to u, mm
    double err_abs = 0.0;   // sum of |v*T - ds| over the counted steps, mm
    double err_sq = 0.0;    // sum of (v*T - ds)^2 over them, mm^2
    std::size_t err_steps = 0;
    long long iter_sum = 0;
    int stalled = 0;      // consecutive stalled samples
    double stall_u = 0.0; // where the stall began
    std::size_t stall_from = 0;
    double origin = 0.0; // when the method's motion began (it starts over at a joint), s
    double now = 0.0;    // the start of the current period, s
    axis_tracker axes;   // the positions reached
};

// Where a step happened, for the messages: " at t = <start> s from u = <u>".
std::string where(const compare_step &in, double now) {
    return " at t = " + fmt("%.9g", now) + " s from u = " + fmt("%.17g", in.u);
}

// Returns why the step from in.u to un (true length ds) fails its method, or "" when it does
// not: a parameter that is not finite or below 0, a step length that is not finite, a step
// back along the curve, or a jump of several times the commanded length.
std::string step_failure(const compare_step &in, double un, double ds, double now) {
    // The longest step the profile's own kinematics allow over one period.
    const double reach =
        in.v * in.T + std::fabs(in.a) * in.T * in.T / 2 + std::fabs(in.j) * in.T * in.T * in.T / 6;
    if (!std::isfinite(un)) return "non-finite parameter (" + fmt("%g", un) + ")" + where(in, now);
    if (un < 0.0)
        return "left the curve before its start: u = " + fmt("%.17g", un) + where(in, now);
    if (!std::isfinite(ds))
        return "non-finite step length to u = " + fmt("%.17g", un) + where(in, now);
    if (ds < -COMPARE_BACK_TOL)
        return "moved backwards by " + fmt("%.3g", -ds) + " mm" + where(in, now);
    if (ds > COMPARE_JUMP_FACTOR * reach + COMPARE_BACK_TOL)
        return "jumped " + fmt("%.6g", ds) + " mm in one period, " + fmt("%.3g", ds / reach) +
               " times v*T + |a|T^2/2 + |j|T^3/6 = " + fmt("%.3g", reach) + " mm," + where(in, now);
    return "";
}

// Returns why the step from ua to ub, ds long by the quadrature, fails its method because the
// accurate length between its ends (to_b from u = 0 to ub, st.accurate to ua) is another: the
// tool passed a stretch of the curve the quadrature did not sample. "" when they agree.
std::string travel_failure(const run_state &st, double ua, double ub, double ds, double to_b) {
    const double accurate = to_b - st.accurate;
    if (std::fabs(accurate - ds) <= COMPARE_TRAVEL_TOL + COMPARE_TRAVEL_REL * std::fabs(accurate))
        return "";
    const std::string place = "from u = " + fmt("%.17g", ua) + " to " + fmt("%.17g", ub);
    return "passed " + fmt("%.6g", accurate) +
           " mm of the curve in one period (its accurate length " + place +
           ") where the step's quadrature measured " + fmt("%.6g", ds) +
           " mm: a stretch of the curve inside the step that adaptive Simpson never sampled, " +
           "at t = " + fmt("%.9g", st.now) + " s";
}

// Returns why reaching the curve's end fails the method, or "": the profile still commands more
// travel than the drift bound allows (it was made for a longer path, or the method went faster
// than its measured steps say). `left` is that travel, mm.
std::string end_failure(const run_state &st, const compare_step &in, double left, double length) {
    const double bound = drift_bound(st.total);
    if (!(left > bound)) return "";
    return "reached the curve's end at t = " + fmt("%.9g", st.now + in.T) + " s at a feed of " +
           fmt("%.6g", in.v) + " mm/s with " + fmt("%.6g", left) +
           " mm of the profile's commanded travel still to go (bound " + fmt("%.3g", bound) +
           " mm): the profile commands " + fmt("%.6f", st.total) + " mm, the curve is " +
           fmt("%.6f", length) + " mm long";
}

// Returns why the drift fails the method, or "".
std::string drift_failure(const run_state &st, const compare_step &in) {
    const double bound = drift_bound(st.commanded);
    if (std::fabs(st.drift) <= bound) return "";
    return "drifted " + fmt("%.6g", st.drift) + " mm from the commanded length " +
           fmt("%.6g", st.commanded) + " mm (bound " + fmt("%.3g", bound) +
           " mm) by t = " + fmt("%.9g", st.now + in.T) + " s, at s = " + fmt("%.6g", st.s) + " mm";
}

// Counts a stalled sample; returns the failure once COMPARE_STALL_SAMPLES are in a row.
std::string stall_failure(run_state &st, const compare_step &in, double ds, std::size_t i) {
    const double ideal = in.v * in.T;
    if (in.v < COMPARE_MIN_FEED) return "";
    if (ds >= COMPARE_STALL_FRACTION * ideal) {
        st.stalled = 0;
        return "";
    }
    if (st.stalled++ == 0) {
        st.stall_u = in.u;
        st.stall_from = i;
    }
    if (st.stalled < COMPARE_STALL_SAMPLES) return "";
    return "stopped advancing: " + std::to_string(COMPARE_STALL_SAMPLES) +
           " samples with feed >= 1 mm/s each covered less than 1% of v*T, from t = " +
           fmt("%.9g", static_cast<double>(st.stall_from) * in.T) +
           " s at u = " + fmt("%.17g", st.stall_u);
}

// Returns the true length of the step from ua to ub (ua <= ub or back), by the driver's
// quadrature; under the split policy in pieces at the joints it passes, as the controller that
// splits its steps there measures them (across a kink the quadrature resolves it only to about
// 1e-11 mm).
double step_length(const compare_setup &setup, double ua, double ub) {
    const auto simpson = [&](double a, double b) {
        return adaptiveSimpsons(nurbs_arc_len, setup.curve, a, b, COMPARE_QUAD_EPS,
                                COMPARE_QUAD_DEPTH);
    };
    if (setup.policy == joint_policy::through || !(ua < ub)) return simpson(ua, ub);
    double ds = 0, a = ua;
    for (std::size_t k = next_joint(setup.joints, ua);
         k < setup.joints.u.size() && setup.joints.u[k] < ub; ++k) {
        ds += simpson(a, std::nextafter(setup.joints.u[k], a));
        a = setup.joints.u[k];
    }
    return ds + simpson(a, ub);
}

// Counts how the last corrector loop ended.
void count_stop(corrector_stops &s, const corrector_report &c) {
    switch (c.stop) {
    case corrector_stop::tolerance:
        ++s.tolerance;
        break;
    case corrector_stop::stagnation:
        ++s.stagnation;
        s.stagnation_residual_max = std::max(s.stagnation_residual_max, c.residual);
        break;
    case corrector_stop::bound:
        ++s.bound;
        break;
    case corrector_stop::guard:
        ++s.guard;
        break;
    }
}

// Runs one timed servo cycle of `method` under the setup's joint policy and returns the new
// parameter; records its time and iterations into r at sample i.
double timed_step(const compare_method &method, const compare_step &in, const compare_setup &setup,
                  double tick_ns, method_result &r, run_state &st, std::size_t i) {
    r.u_in[i] = in.u;
    r.s_in[i] = in.s;
    r.t_in[i] = in.t;
    if (method.save) method.save(&r.state_in[i * method.state_size]);
    double restart = -1;
    const std::int64_t t0 = tick_count();
    const double un = policy_step(method, in, setup.policy, setup.joints, &restart);
    const std::int64_t t1 = tick_count();
    if (restart >= 0) st.origin = st.now + restart;
    r.steps = i + 1;
    r.call_ns[i] = static_cast<double>(t1 - t0) * tick_ns;
    if (method_iterative(method)) {
        const corrector_report c = method.corrector();
        st.iter_sum += c.iterations;
        r.iter_max = std::max(r.iter_max, c.iterations);
        count_stop(r.stops, c);
    }
    return un;
}

// Scores and checks the step from in.u to un; returns false when the run ends (at the curve's
// end, or failed).
bool account_step(const compare_step &in, double un, const compare_setup &setup, method_result &r,
                  run_state &st, std::size_t i) {
    // The tool stands on the curve: a parameter outside [0, 1] is measured at the end it is
    // past (the evaluator's end rules), so a step is never longer than the curve.
    const double ua = std::clamp(in.u, 0.0, 1.0);
    const double ub = std::isfinite(un) ? std::clamp(un, 0.0, 1.0) : ua;
    const double ds = step_length(setup, ua, ub);
    r.reason = step_failure(in, un, ds, st.now);
    if (!r.reason.empty()) return r.failed = true, false;
    const double to_b = setup.arc ? arc_length_to(*setup.arc, ub) : NaN;
    if (setup.arc) {
        r.reason = travel_failure(st, ua, ub, ds, to_b);
        if (!r.reason.empty()) return r.failed = true, false;
    }
    r.chord_err[i] = chord_error(setup.curve, ua, ub);
    r.at_joint[i] = crosses_joint(setup.joints, ua, ub);
    cart_point P;
    nurbs_deBoor_eval(ub, -1, setup.curve, &P, nullptr, nullptr, nullptr);
    const axis_difference d = axis_tracker_add(st.axes, P, in.T);
    r.axis_jerk[i] = axis_largest(d.jerk);
    axis_extremes_add(r.axis, d, setup.limits);
    const double ideal = in.v * in.T;
    const bool at_end = un >= 1.0 || setup.curve_length - (st.s + ds) < COMPARE_END_TOL;
    // Only a step that the curve's end cuts short of v*T is left out of the statistics.
    if (!(at_end && ds <= ideal)) {
        st.drift += ds - ideal;
        st.err_abs += std::fabs(ideal - ds);
        st.err_sq += (ideal - ds) * (ideal - ds);
        ++st.err_steps;
        if (in.v >= COMPARE_MIN_FEED) r.rel_err[i] = std::fabs(ideal - ds) / ideal;
    }
    st.commanded += ideal;
    st.s += ds;
    st.u = un;
    st.accurate = to_b;
    r.reason = drift_failure(st, in);
    if (!r.reason.empty()) return r.failed = true, false;
    if (at_end) {
        r.reached_end = true;
        r.end_time = static_cast<double>(i + 1) * in.T;
        // What the profile still commands: the rest of this period (cut short by the end) and
        // every later sample.
        const double left = (st.total - st.commanded) + std::max(0.0, ideal - ds);
        r.profile_left = left;
        if (setup.arc) r.reason = end_failure(st, in, left, setup.curve_length);
        if (!r.reason.empty()) r.failed = true;
        return false;
    }
    r.reason = stall_failure(st, in, ds, i);
    if (!r.reason.empty()) return r.failed = true, false;
    return true;
}

} // namespace

double drift_bound(double commanded) {
    return COMPARE_DRIFT_TOL + COMPARE_DRIFT_REL * commanded;
}

double chord_error(nurbs_curve *curve, double u0, double u1) {
    if (!(u1 != u0)) return 0.0;
    cart_point a, b, p;
    nurbs_deBoor_eval(u0, -1, curve, &a, nullptr, nullptr, nullptr);
    nurbs_deBoor_eval(u1, -1, curve, &b, nullptr, nullptr, nullptr);
    const cart_point ab{b.x - a.x, b.y - a.y, b.z - a.z};
    const double len2 = sq_modulus(&ab);
    double worst = 0.0;
    for (int k = 1; k <= COMPARE_CHORD_POINTS; ++k) {
        const double u = u0 + (u1 - u0) * (double(k) / (COMPARE_CHORD_POINTS + 1));
        nurbs_deBoor_eval(u, -1, curve, &p, nullptr, nullptr, nullptr);
        const cart_point ap{p.x - a.x, p.y - a.y, p.z - a.z};
        // Distance to the segment: to the nearest point of it (its ends included).
        const double t = len2 > 0 ? std::clamp(dotprod(&ap, &ab) / len2, 0.0, 1.0) : 0.0;
        const cart_point q{a.x + t * ab.x, a.y + t * ab.y, a.z + t * ab.z};
        worst = std::max(worst, cart_dist(&p, &q));
    }
    return worst;
}

method_result run_method(const compare_method &method, const compare_setup &setup,
                         const feed_profile &prof) {
    const std::size_t n = prof.v.size();
    const double T = setup.period;
    const double tick_ns = 1e9 / static_cast<double>(tick_frequency());
    method_result r;
    r.name = method.name;
    r.residual = method.residual ? method.residual : "";
    r.period = T;
    r.policy = setup.policy;
    r.samples = n;
    r.iterative = method_iterative(method);
    r.rel_err.assign(n, NaN);
    r.chord_err.assign(n, NaN);
    r.call_ns.assign(n, NaN);
    r.at_joint.assign(n, 0);
    r.axis_jerk.assign(n, NaN);
    r.u_in.assign(n, NaN);
    r.s_in.assign(n, NaN);
    r.t_in.assign(n, NaN);
    r.state_in.assign(method.save ? n * method.state_size : 0, 0);

    if (method.start) method.start();
    const std::size_t progress_every = std::max<std::size_t>(1, n / 100);
    run_state st;
    st.total = feed_profile_travel(prof, T);
    st.accurate = setup.arc ? 0.0 : NaN;
    r.profile_left = st.total;
    for (std::size_t i = 0; i < n; ++i) {
        if (setup.progress && i % progress_every == 0) setup.progress(setup.progress_ctx, i, n);
        st.now = double(i) * T;
        const compare_step in{st.u,      st.s,        prof.v[i],
                              prof.a[i], prof.j[i],   st.now - st.origin,
                              T,         setup.curve, setup.fcp};
        const double un = timed_step(method, in, setup, tick_ns, r, st, i);
        if (!account_step(in, un, setup, r, st, i)) break;
    }
    if (setup.progress) setup.progress(setup.progress_ctx, n, n);
    r.end_u = st.u;
    r.drift = st.drift;
    r.travelled = st.s;
    r.commanded = st.commanded;
    r.accurate = st.accurate;
    if (!r.reached_end) r.profile_left = st.total - st.commanded;
    r.len_err_sum = st.err_abs;
    r.len_err_steps = st.err_steps;
    r.len_err_ms = st.err_steps ? st.err_sq / static_cast<double>(st.err_steps) : NaN;
    r.iter_mean = r.steps ? static_cast<double>(st.iter_sum) / static_cast<double>(r.steps) : NaN;
    summarise(r);
    return r;
}

method_result run_method(const compare_method &method, nurbs_curve *curve, double curve_length,
                         const feed_profile &prof, compare_progress progress, void *progress_ctx) {
    compare_setup setup;
    setup.curve = curve;
    setup.curve_length = curve_length;
    setup.progress = progress;
    setup.progress_ctx = progress_ctx;
    return run_method(method, setup, prof);
}

} // namespace nurbs_interp
