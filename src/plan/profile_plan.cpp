#include "plan/profile_plan.hpp"

#include <algorithm> // max_element
#include <cmath>
#include <cstdio>

#include "io/format.hpp"
#include "plan/joints.hpp"
#include "plan/plan_check.hpp"

namespace nurbs_interp {

feed_cap_limits capped_limits(const capped_request &req, const machine_limits &m,
                              nurbs_curve *curve, const arc_table &arc) {
    feed_cap_limits lim;
    lim.vmax = req.cruise;
    lim.chord_tol = req.chord_tol;
    lim.centripetal = req.centripetal;
    lim.period = m.period;
    lim.geometric = req.geometric;
    lim.floor = machine_has_axes(m) ? 0.0 : req.floor_share * req.cruise;
    if (machine_has_axes(m)) {
        lim.machine = &m;
        lim.path_acc = machine_path_acc(m, req.acc);
        for (double u : curve_corners(curve))
            lim.stops.push_back(arc_length_to(arc, u));
        for (const curvature_jump &j : curvature_jumps(curve)) {
            const axis_cap c = jump_feed_cap(j.dk, m, m.period);
            if (c.v < req.cruise) lim.point_caps.push_back({arc_length_to(arc, j.u), c});
        }
    }
    return lim;
}

capped_plan plan_caps(nurbs_curve *curve, const arc_table &arc, const machine_limits &m,
                      const capped_request &req, double target) {
    capped_plan plan;
    plan.lim = capped_limits(req, m, curve, arc);
    plan.cap = feed_cap_from_curve(curve, arc, plan.lim, req.cap_cell);
    plan.target = target;
    plan.path_acc = machine_path_acc(m, req.acc);
    plan.path_jerk = machine_path_jerk(m, req.jerk);
    return plan;
}

std::vector<std::string> cap_warnings(const feed_cap_table &cap, const feed_cap_limits &lim) {
    std::vector<std::string> w;
    if (cap.floored > 0)
        w.push_back("over " + fmt("%.6g", cap.floored) +
                    " mm the curve's cap is below the floor of " + fmt("%g", lim.floor) +
                    " mm/s; the floor is used there");
    if (cap.sharp_count > 0) {
        std::string where;
        for (double s : cap.sharp)
            where += (where.empty() ? "" : ", ") + fmt("%.6g", s);
        w.push_back("the tangent turns sharply or |C'| vanishes at " +
                    std::to_string(cap.sharp_count) + " samples (arc length " + where +
                    (cap.sharp_count > long(cap.sharp.size()) ? ", ..." : "") +
                    " mm); the cap is the floor of " + fmt("%g", lim.floor) + " mm/s there");
    }
    return w;
}

void refuse_non_finite(const feed_profile &p, const std::string &source) {
    for (std::size_t k = 0; k < p.v.size(); ++k)
        if (!std::isfinite(p.v[k]) || !std::isfinite(p.a[k]) || !std::isfinite(p.j[k]))
            throw plan_error(source +
                             ": the planned profile holds a number that is not finite "
                             "at sample " +
                             std::to_string(k + 1) + "; nothing written");
}

// Throws unless `prof` keeps every axis within its limits at every sample (to a relative slack
// of `slack`) and reaches `target` (to 1e-3 mm).
static void verify_axes(const feed_profile &prof, const arc_table &arc, const machine_limits &m,
                        double target, double slack, const std::string &source) {
    const double travel = feed_profile_travel(prof, m.period);
    if (!(travel > target - 1e-3))
        throw plan_error(source + ": the axis limits allow no feed at s = " + fmt("%.6f", travel) +
                         " mm (a sharp turn or a stop of the "
                         "parametrisation away from a knot); nothing written");
    const axis_check c = check_profile_axes(prof, arc, m);
    if (c.ratio > 1 + slack)
        throw plan_error(source + ": the plan exceeds the " + limit_name(c.kind, c.axis) +
                         " limit by a factor " + fmt("%.9g", c.ratio) + " at sample " +
                         std::to_string(c.sample) + " (t = " + fmt("%.6f", c.t) +
                         " s, s = " + fmt("%.6f", c.s) + " mm); nothing written");
}

// Throws plan_error naming `source` when the shares planner's work would pass its bound: each
// period it bisects the jerk (about SHARES_BISECTIONS checks), and each check brakes the motion
// to rest period by period; at the cruise feed that takes (v/A + A/J)/T periods. The estimate
// is the samples at the cruise feed times that: an upper bound of the work (a check stops early
// once the feed only falls under the cap).
void refuse_slow_shares_plan(const capped_plan &plan, double T, const std::string &source) {
    const double v = plan.lim.vmax, A = plan.path_acc, J = plan.path_jerk;
    const double samples = (plan.target / v + 2 * (v / A + A / J)) / T;
    const double work = samples * SHARES_BISECTIONS * ((v / A + A / J) / T + 3);
    if (work > SHARES_MAX_WORK)
        throw plan_error(source + ": the shares planner would take about " + fmt("%.3g", work) +
                         " braking steps (" + fmt("%.3g", samples) + " samples, each braking " +
                         fmt("%.3g", (v / A + A / J) / T) +
                         " periods to rest), more than its bound of " +
                         fmt("%.3g", SHARES_MAX_WORK) +
                         " (minutes of work); the optimal planner's time grows with the samples "
                         "alone (--planner optimal); nothing written");
}

void plan_profile(capped_plan &plan, const arc_table &arc, const machine_limits &m,
                  const capped_request &req, const std::string &source) {
    const double T = m.period;
    refuse_slow_shares_plan(plan, T, source);
    plan.profile = plan.lim.machine
                       ? feed_plan_with_stops(plan.cap, plan.lim.stops, plan.target, plan.path_acc,
                                              plan.path_jerk, T, &plan.stats)
                       : feed_plan_capped(plan.cap, plan.target, plan.path_acc, plan.path_jerk, T,
                                          &plan.stats);
    refuse_non_finite(plan.profile, source);
    if (plan.lim.machine) verify_axes(plan.profile, arc, m, plan.target, req.axis_slack, source);
    if (T != SERVO_PERIOD) plan.profile.period = T;
}

// Prints which limit binds over how much of the path, as one summary line.
static void print_binding(std::FILE *out, const capped_plan &plan, const arc_table &arc) {
    const double travel = feed_profile_travel(plan.profile, plan.lim.period);
    std::string text;
    for (const binding &b :
         binding_report(plan.profile, arc, plan.lim, plan.path_acc, plan.path_jerk))
        text += (text.empty() ? "" : ", ") + b.limit + " " + fmt("%.6g", b.length) + " mm (" +
                fmt("%.1f", 100 * b.length / travel) + " %)";
    std::fprintf(out, "  binding (feed, |a| or |j| within 1 %% of the limit): %s\n", text.c_str());
}

void print_capped_plan(std::FILE *out, const capped_plan &plan, const capped_request &req,
                       const arc_table &arc, const machine_limits &m) {
    const feed_profile &prof = plan.profile;
    const double T = m.period;
    const feed_limit_ratios r = feed_limits_check(
        prof, [&](double s0, double s1) { return feed_cap_min(plan.cap, s0, s1); }, plan.path_acc,
        plan.path_jerk, T);
    if (req.geometric)
        std::fprintf(out,
                     "  curvature-limited: chord tolerance %g mm, centripetal %g mm/s^2, cruise "
                     "%g mm/s, acc %g mm/s^2, jerk %g mm/s^3\n",
                     req.chord_tol, req.centripetal, req.cruise, req.acc, req.jerk);
    if (plan.lim.machine)
        std::fprintf(out,
                     "  axes %s; path acceleration %g mm/s^2, path jerk %g mm/s^3; servo period "
                     "%g s; %zu stops at corners\n",
                     machine_text(m).c_str(), plan.path_acc, plan.path_jerk, T,
                     plan.lim.stops.size());
    std::fprintf(out,
                 "  target %.9f mm, travel %.9f mm; top feed %.9g mm/s, slowest between start "
                 "and stop %s; lowest cap met %.6g mm/s\n",
                 plan.target, feed_profile_travel(prof, T),
                 *std::max_element(prof.v.begin(), prof.v.end()),
                 std::isfinite(r.slowest_mid) ? (fmt("%.6g", r.slowest_mid) + " mm/s").c_str()
                                              : "none (it never slows between them)",
                 r.lowest_cap);
    std::fprintf(out, "  worst feed/cap %.12f, |a|/A %.12f, |j|/J %.12f; %ld checks, %ld forced\n",
                 r.cap, r.acc, r.jerk, plan.stats.checks, plan.stats.forced);
    if (plan.lim.machine) {
        const axis_check c = check_profile_axes(prof, arc, m);
        std::fprintf(out,
                     "  worst axis quantity: %s at %.12f of its limit (sample %zu from 0, s = %.6f "
                     "mm)\n",
                     limit_name(c.kind, c.axis).c_str(), c.ratio, c.sample, c.s);
        print_binding(out, plan, arc);
    }
}

feed_bounds optimal_bounds(const capped_request &req, const machine_limits &m, bool path_given) {
    feed_bounds b;
    b.machine = m;
    b.cruise = req.cruise;
    const bool path = path_given || !machine_has_axes(m);
    b.path_acc = path ? req.acc : HUGE_VAL;
    b.path_jerk = path ? req.jerk : HUGE_VAL;
    b.geometric = req.geometric;
    b.chord_tol = req.chord_tol;
    b.centripetal = req.centripetal;
    return b;
}

optimal_profile plan_profile_optimal(const arc_table &arc, const feed_bounds &b, double target,
                                     const std::string &source, const optimal_options &opt,
                                     const std::function<void(double)> &progress) {
    optimal_profile plan;
    plan.bounds = b;
    plan.target = target;
    const std::vector<double> corners = curve_corners(arc.curve);
    plan.corners = corners.size();
    try {
        plan.profile = plan_optimal(arc, b, corners, target, opt, &plan.stats, progress);
        plan.realised_share = opt.realised_share;
    } catch (const plan_error &e) {
        throw plan_error(source + ": " + e.what() + "; nothing written");
    }
    refuse_non_finite(plan.profile, source);
    if (b.machine.period != SERVO_PERIOD) plan.profile.period = b.machine.period;
    return plan;
}

namespace {

// Prints, per limit of b, the largest ratio the profile reaches and over how much of its travel
// the limit binds, and the axes the path does not move along.
void print_limit_usage(std::FILE *out, const feed_profile &prof, const arc_table &arc,
                       const feed_bounds &b) {
    const double T = b.machine.period;
    std::fprintf(out, "  per limit, the largest ratio to it and where it binds (within 1 %%, "
                      "share of the path):\n");
    const double travel = feed_profile_travel(prof, T);
    const std::vector<limit_use> use = limit_usage(prof, arc, b);
    for (int k = 0; k < 3; ++k) {
        bool moves = false, limited = false;
        for (const limit_use &u : use)
            if (u.limit.rfind(std::string(AXIS_NAMES[k]) + " ", 0) == 0) {
                limited = true;
                moves = moves || u.worst > 0;
            }
        if (limited && !moves)
            std::fprintf(out, "    %s: the path does not move along it (no limit of it binds)\n",
                         AXIS_NAMES[k]);
    }
    for (const limit_use &u : use) {
        if (u.worst == 0 && u.limit != "any limit") continue;
        if (u.limit == "any limit")
            std::fprintf(out, "    some limit binds over %.1f %% of the path\n",
                         100 * u.binding / travel);
        else
            std::fprintf(out, "    %-32s %.9f  %5.1f %%\n", u.limit.c_str(), u.worst,
                         100 * u.binding / travel);
    }
}

} // namespace

void print_optimal_plan(std::FILE *out, const optimal_profile &plan, const arc_table &arc) {
    const feed_bounds &b = plan.bounds;
    const feed_profile &prof = plan.profile;
    const double T = b.machine.period;
    const optimal_stats &st = plan.stats;
    auto limit = [](double x, const char *unit) {
        return x < HUGE_VAL ? fmt("%g", x) + " " + unit : std::string("none");
    };
    if (machine_has_axes(b.machine))
        std::fprintf(out, "  axes %s\n", machine_text(b.machine).c_str());
    std::fprintf(out,
                 "  path: cruise %g mm/s, acceleration %s, jerk %s%s; servo period %g s; %zu rests "
                 "at corners\n",
                 b.cruise, limit(b.path_acc, "mm/s^2").c_str(),
                 limit(b.path_jerk, "mm/s^3").c_str(),
                 machine_has_axes(b.machine) && b.path_acc == HUGE_VAL
                     ? " (the axes' own limits bind instead)"
                     : "",
                 T, plan.corners);
    if (!st.sharp.empty()) {
        std::string where;
        for (double s : st.sharp)
            where += (where.empty() ? "" : ", ") + fmt("%.6f", s);
        std::fprintf(out,
                     "  rests where the path turns sharply away from a knot (|C'| vanishes: a cusp "
                     "or a reversal): s = %s mm\n",
                     where.c_str());
    }
    if (b.geometric)
        std::fprintf(out, "  curvature-limited: chord tolerance %g mm, centripetal %g mm/s^2\n",
                     b.chord_tol, b.centripetal);
    std::fprintf(out,
                 "  planner: time-optimal, %zu grid nodes, %d linear programmes, every limit "
                 "planned at %g %% below itself (%d plan%s); %s\n",
                 st.nodes, st.passes, 100 * st.margin, st.tries, st.tries == 1 ? "" : "s",
                 plan.realised_share > 0
                     ? ("the motion realised in steps of one period kept within " +
                        fmt("%g", 100 * plan.realised_share) + " % of the jerk limits" +
                        (st.unrealised > 0
                             ? " (but on " + std::to_string(st.unrealised) + " stretch" +
                                   (st.unrealised == 1 ? "" : "es") + ", where that left no plan)"
                             : ""))
                           .c_str()
                     : "the motion realised in steps of one period not held to the plan "
                       "(--realised-share 0)");
    if (st.unconverged > 0)
        std::fprintf(out,
                     "  on %zu stretch%s the solver found no answer before the passes converged: "
                     "the last whole pass's plan is kept (within the limits, perhaps slower)\n",
                     st.unconverged, st.unconverged == 1 ? "" : "es");
    std::fprintf(out, "  target %.9f mm, travel %.9f mm; top feed %.9g mm/s\n", plan.target,
                 feed_profile_travel(prof, T), *std::max_element(prof.v.begin(), prof.v.end()));
    std::fprintf(out,
                 "  duration %.6f s (%zu periods); acceleration-limited time on the planner's grid "
                 "%.6f s (a jerk-limited plan cannot be faster than that, to the grid's "
                 "resolution)\n",
                 double(prof.v.size() - 1) * T, prof.v.size() - 1, st.acc_limited_time);
    print_limit_usage(out, prof, arc, b);
}

} // namespace nurbs_interp
