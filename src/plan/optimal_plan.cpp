#include "plan/optimal_plan.hpp"

#include <algorithm> // min, max
#include <cmath>     // cbrt, cos, fabs, isfinite
#include <numbers>   // pi

#include "io/format.hpp"
#include "plan/feed_cap.hpp" // plan_error
#include "plan/feed_sampler.hpp"
#include "plan/jerk_pass.hpp"
#include "plan/joints.hpp"
#include "plan/plan_check.hpp"
#include "plan/reachable.hpp"

namespace nurbs_interp {

namespace {

// The derivatives by arc length at the driver's travel s.
path_frame frame_at_length(const arc_table &arc, double s) {
    return frame_at_param(arc.curve, arc_param_at(arc, s));
}

// Returns the worst ratio to the limits of `b` (each at `scale` of itself) of the motion v, a,
// j at a point of frame f.
double motion_ratio(const path_frame &f, const feed_bounds &b, double v, double a, double j,
                    double scale) {
    double r = 0;
    for (int k = 0; k < 3; ++k) {
        const double t = axis_component(f.t, k), kap = axis_component(f.k, k),
                     dk = axis_component(f.dk, k);
        if (b.machine.acc[k] > 0)
            r = std::max(r, std::fabs(t * a + kap * v * v) / (scale * b.machine.acc[k]));
        if (b.machine.jerk[k] > 0)
            r = std::max(r, std::fabs(t * j + dk * v * v * v + 3 * kap * v * a) /
                                (scale * b.machine.jerk[k]));
    }
    r = std::max({r, std::fabs(a) / (scale * b.path_acc), std::fabs(j) / (scale * b.path_jerk)});
    return r;
}

// The share of a rest's jerk the S-curve into it takes (its length in time follows, at the same
// share of the rest's acceleration): the driver's last step before a rest is cut short
// (feed_sampler) and the step before it is about 4.5 j T^2, which the axes see over one period
// as they come to rest. At 0.15 that stays within the limit (the last steps into the router's
// rests on the part outline reach 0.66 of the jerk limit, 4.4 at the full jerk); each stop
// takes about A/(3J) longer (a line of 100 mm at 2000 mm/s^2 and
// 20000 mm/s^3: 0.683 s against 0.628 s at the full jerk).
inline constexpr double STOP_JERK_SHARE = 0.15;

// True when every component of f is finite (|C'| vanishes nowhere near).
bool finite_frame(const path_frame &f) {
    return std::isfinite(f.t.x + f.t.y + f.t.z + f.k.x + f.k.y + f.k.z + f.dk.x + f.dk.y + f.dk.z);
}

// Returns the frame at u on the side `side` (+1: the span that starts at u, -1: the one that ends
// there). Where |C'| vanishes at u (a cusp, a reversal), the frame a little way off on that
// side: the tangent there is the direction the path takes leaving u.
path_frame frame_beside(nurbs_curve *curve, double u, int side) {
    const bool knot = std::binary_search(curve->knots.begin(), curve->knots.end(), u);
    path_frame f = side < 0 && knot ? frame_left_of(curve, u) : frame_at_param(curve, u);
    for (double e = 1e-12; !finite_frame(f) && e < 1e-3; e *= 10)
        f = frame_at_param(curve, std::clamp(u + side * e, 0.0, 1.0));
    return f;
}

// Returns the S-curve from rest (sign +1) or into rest (-1) at a rest whose frames on the
// stretch's side and on the other are `inside` and `outside` (equal but at a corner); `at(d)`
// gives the frame at distance d from the rest into the stretch. Its jerk is the largest the rest
// allows on both sides (the rest's sample carries it, and the driver may stand a rounding on
// either side), lowered until the motion along the curve (checked at four points) is within
// the limits; tau makes the acceleration at its end `share` of the rest's acceleration limit (or
// the whole limit, see below), or the curve `max_length` long if that is shorter; into a rest
// with `realised` > 0 it may go on further (below).
rest_curve rest_curve_for(const path_frame &inside, const path_frame &outside,
                          const std::function<path_frame(double)> &at, const feed_bounds &b,
                          double scale, double share, double max_length, double sign,
                          bool long_curve, double realised) {
    const double J_rest = scale * std::min(rest_jerk_at(inside, b), rest_jerk_at(outside, b));
    double J = J_rest * (sign < 0 ? STOP_JERK_SHARE : 1.0);
    const double A = scale * rest_acc_at(inside, b);
    if (!(J > 0 && J < HUGE_VAL && A > 0 && A < HUGE_VAL))
        throw plan_error("no limit bounds the path's jerk or acceleration at a rest");
    // The driver moves v T per period at the feed where it stands, so that a feed v with
    // acceleration a is realised with an acceleration off by about a^2 T / (2 v): j T on an
    // S-curve of jerk j, which its jerk of at most `share` A / T keeps within share A (and the
    // curve lasts a period at least). Beyond the curve the plan's jerk J' leaves it off by up to
    // J' T; where that is more than share A (a jerk limit high against the acceleration's), the
    // curve goes on towards the full A, down from the feed A T / (2 share) from which the rest
    // of the braking is realised within share A too; as far as half the steady feed there, so
    // that the plan beyond has room to turn (`long_curve`).
    // Into a rest, the plan before the curve may brake at up to the rest's full jerk J_r while
    // the feed is still low, and steps of v T realise the path jerk j off by about
    // (T/2) (a/v) (2j - a^2/v): where the curve begins (v = a^2 / (2J)) that is
    // 2 J (J_r - J) T / a for j = J_r, so the curve goes on until its acceleration is
    // 2 J (1 - J/J_r) T / `realised` and that stays within `realised` of J_r (on the router's
    // part outline the positions' third differences fall from 1.12 to 1.03 of the jerk limit).
    const double T = b.machine.period;
    J = std::min(J, share * A / T);
    double end_share = share;
    if (long_curve && scale * rest_jerk_at(inside, b) * T > share * A)
        end_share = std::clamp(std::sqrt(J * steady_feed_at(inside, b).v) / A, share, 1.0);
    if (long_curve && sign < 0 && realised > 0)
        end_share = std::clamp(2 * J * (1 - J / J_rest) * T / (realised * A), end_share, 1.0);
    rest_curve r;
    for (int it = 0; it < 60; ++it) {
        r.jerk = J;
        r.tau = std::min(end_share * A / J, std::cbrt(6 * max_length / J));
        double worst = 0;
        for (double q : {0.25, 0.5, 0.75, 1.0}) {
            const double t = q * r.tau, v = 0.5 * J * t * t, a = sign * J * t;
            worst = std::max(worst, motion_ratio(at(J * t * t * t / 6), b, v, a, J, scale));
        }
        if (worst <= 1) return r;
        J *= std::min(0.9, 0.9 / worst);
    }
    throw plan_error("no S-curve from rest fits the limits at a rest");
}

// A point inside a stretch where the path turns sharply away from a knot (a cusp, a reversal:
// |C'| vanishes there): the plan rests there too.
struct sharp_point {
    path_place at;
};

// Throws sharp_point for the first interval of `nodes` over which the tangent turns by more
// than FEED_CAP_SHARP_TURN_DEG (the grid is refined until it turns by far less wherever the
// path is smooth), or the first node where |C'| vanishes.
void find_sharp_point(const arc_table &arc, const std::vector<path_node> &nodes) {
    const double cos_sharp = std::cos(FEED_CAP_SHARP_TURN_DEG * std::numbers::pi / 180);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (!finite_frame(nodes[i].left) || !finite_frame(nodes[i].right))
            throw sharp_point{{nodes[i].s, nodes[i].u}};
        if (i + 1 < nodes.size() &&
            !(dotprod(&nodes[i].right.t, &nodes[i + 1].left.t) >= cos_sharp)) {
            const double u = 0.5 * (nodes[i].u + nodes[i + 1].u);
            throw sharp_point{{arc_length_to(arc, u), u}};
        }
    }
}

// Returns v^2 of the fastest move from rest with path jerk j and acceleration a at distance d:
// the S-curve v = j t^2/2 until the acceleration reaches a, then constant acceleration (a bound
// of the planned feed near a rest, which sets how fine the grid is there).
double rest_reach(double j, double a, double d) {
    const double d1 = a * a * a / (6 * j * j);
    if (d <= d1) {
        const double v = 0.5 * j * std::cbrt(6 * d / j) * std::cbrt(6 * d / j);
        return v * v;
    }
    const double v1 = 0.5 * a * a / j;
    return v1 * v1 + 2 * a * (d - d1);
}

// True when the feed g falls below a tenth of the rest curves' feed sqrt(x_end) at a node
// between its ends: a plan that would take the sampler almost forever to pass.
bool stalls(const grid_feed &g, double x_end) {
    for (std::size_t i = 1; i + 1 < g.x.size(); ++i)
        if (g.x[i] < 0.01 * x_end) return true;
    return false;
}

// Throws plan_error when the move cannot leave the rest at s with the jerk j0: it leaves with a
// sample standing on the rest, and where the path turns sharply there without a knot (a cusp),
// its curvature admits no feed at all.
void check_leaves_rest(const arc_table &arc, const feed_bounds &b, double s, double j0) {
    const double T = b.machine.period, v_kick = 0.5 * j0 * T * T;
    const path_frame f0 = check_frame_at(arc, s);
    if (motion_ratio(f0, b, v_kick, j0 * T, j0, 1) > 1 || v_kick > feed_cap_at(f0, b).v)
        throw plan_error(
            std::string(machine_has_axes(b.machine) ? "the axis limits" : "the limits") +
            " allow no feed at s = " + fmt("%.6f", s) +
            " mm (the path turns sharply there away from a knot: a cusp" +
            (machine_has_axes(b.machine) ? ")"
                                         : "; --planner shares plans through it at a floor feed)"));
}

// Returns the grid of the stretch from a to b between the ends of its S-curves at the rests
// (`plan`'s start and stop; A0, A1: the rests' acceleration limits at `scale`). Throws
// sharp_point for a sharp turn the grid finds.
std::vector<path_node> stretch_grid(const arc_table &arc, const feed_bounds &b,
                                    const optimal_options &opt, double scale,
                                    const stretch_plan &plan, path_place pa, path_place pb,
                                    double A0, double A1) {
    const double e0 = rest_curve_length(plan.start), e1 = rest_curve_length(plan.stop);
    const path_place ga{pa.s + e0, arc_param_at(arc, pa.s + e0)},
        gb{pb.s - e1, arc_param_at(arc, pb.s - e1)};
    std::vector<path_node> nodes = path_grid_build(
        arc, ga, gb, opt.spacing, [&](const path_frame &f) { return steady_feed_at(f, b).v; });
    const double v0 = 0.5 * plan.start.jerk * plan.start.tau * plan.start.tau,
                 v1 = 0.5 * plan.stop.jerk * plan.stop.tau * plan.stop.tau;
    // Where the feed is low for other reasons than the geometry (near a rest, braking for a
    // bend ahead) the steady feed overrates it: refine where the reachable feed takes longer
    // than the grid's time over an interval.
    find_sharp_point(arc, nodes);
    for (int round = 0; round < 40; ++round) {
        std::vector<double> xa =
            reachable_feed(nodes, b, node_caps(nodes, b, 1 - scale), v0 * v0, v1 * v1, scale);
        for (std::size_t i = 0; i < nodes.size(); ++i)
            xa[i] = std::min({xa[i], rest_reach(plan.start.jerk, A0, nodes[i].s - pa.s),
                              rest_reach(plan.stop.jerk, A1, pb.s - nodes[i].s)});
        // Also where the feed changes by more than a fifth over an interval: the jerk
        // v (C_s,k x''/2 + ...) is checked at the nodes, and between them the product of a
        // rising feed and a falling bracket can exceed both ends.
        const auto slow = [&](std::size_t i) {
            const double lo = std::min(xa[i], xa[i + 1]), hi = std::max(xa[i], xa[i + 1]);
            return nodes[i + 1].s - nodes[i].s > opt.spacing.max_time * std::sqrt(lo) ||
                   hi > 1.44 * lo;
        };
        if (path_grid_split(arc, nodes, slow, opt.spacing.max_nodes) == 0) break;
    }
    return nodes;
}

// A stretch whose jerk-limited programme the solver found no answer to.
struct stretch_unsolved {
    std::string why;
};

// The plan of one stretch between rests at places a and b, its S-curves at the rests ending at
// `rest_share` of the rest's acceleration (or further, `long_rest`: see rest_curve_for). Throws
// stretch_unsolved when the solver finds no plan.
stretch_plan plan_stretch_with(const arc_table &arc, const feed_bounds &b, path_place pa,
                               path_place pb, const optimal_options &opt, double scale,
                               double rest_share, bool long_rest, optimal_stats *st) {
    nurbs_curve *curve = arc.curve;
    const path_frame fa = frame_beside(curve, pa.u, 1),
                     fa_left = pa.u > 0 ? frame_beside(curve, pa.u, -1) : fa;
    const path_frame fb = frame_beside(curve, pb.u, -1),
                     fb_right = pb.u < 1 ? frame_beside(curve, pb.u, 1) : fb;
    const double eighth = 0.125 * (pb.s - pa.s);
    stretch_plan plan;
    plan.s0 = pa.s;
    plan.s1 = pb.s;
    plan.start = rest_curve_for(
        fa, fa_left, [&](double d) { return d > 0 ? frame_at_length(arc, pa.s + d) : fa; }, b,
        scale, rest_share, eighth, 1, long_rest, opt.realised_share);
    plan.stop = rest_curve_for(
        fb, fb_right, [&](double d) { return d > 0 ? frame_at_length(arc, pb.s - d) : fb; }, b,
        scale, rest_share, eighth, -1, long_rest, opt.realised_share);
    check_leaves_rest(arc, b, pa.s, plan.start.jerk);
    const double A0 = scale * std::min(rest_acc_at(fa, b), rest_acc_at(fa_left, b)),
                 A1 = scale * std::min(rest_acc_at(fb, b), rest_acc_at(fb_right, b));
    const std::vector<path_node> nodes = stretch_grid(arc, b, opt, scale, plan, pa, pb, A0, A1);
    const double v0 = 0.5 * plan.start.jerk * plan.start.tau * plan.start.tau,
                 v1 = 0.5 * plan.stop.jerk * plan.stop.tau * plan.stop.tau;
    jerk_pass_options jo;
    jo.margin = 1 - scale;
    jo.realised_share = opt.realised_share;
    const feed_end start{v0 * v0, 2 * plan.start.jerk * plan.start.tau},
        end{v1 * v1, -2 * plan.stop.jerk * plan.stop.tau};
    jerk_pass_result r = jerk_pass(nodes, b, start, end, jo);
    // The rows that keep the realised motion near the plan can leave a window without a solution
    // the solver finds, or bring the feed almost to rest between nodes (the restriction's room
    // grows as x falls): then the stretch is planned without them, and the summary's realised
    // figure says what that costs.
    const bool unrealised =
        jo.realised_share > 0 && (!r.ok || stalls(r.feed, std::min(start.x, end.x)));
    if (unrealised) {
        jo.realised_share = 0;
        r = jerk_pass(nodes, b, start, end, jo);
    }
    if (!r.ok)
        throw stretch_unsolved{"between s = " + fmt("%.6f", pa.s) + " and " + fmt("%.6f", pb.s) +
                               " mm: " + r.why};
    if (stalls(r.feed, std::min(start.x, end.x)))
        throw plan_error("between s = " + fmt("%.6f", pa.s) + " and " + fmt("%.6f", pb.s) +
                         " mm: the plan's feed falls almost to rest between the rests");
    if (unrealised) ++st->unrealised;
    st->nodes += nodes.size();
    st->passes += r.passes;
    if (r.unsolved > 0) ++st->unconverged;
    st->acc_limited_time += r.acc_limited_time + plan.start.tau + plan.stop.tau;
    plan.feed = r.feed;
    return plan;
}

// The plan of one stretch between rests at places a and b. Where the state an S-curve from or
// into rest ends in leaves the programme no room (a jerk limit far below the acceleration's:
// the feed cannot turn before the acceleration-limited feed), the S-curves end at the rest's
// share of the acceleration, then at an eighth of that, up to three times.
stretch_plan plan_stretch(const arc_table &arc, const feed_bounds &b, path_place pa, path_place pb,
                          const optimal_options &opt, double scale, optimal_stats *st) {
    double share = opt.rest_share;
    for (int k = 0;; ++k) {
        try {
            return plan_stretch_with(arc, b, pa, pb, opt, scale, share, k == 0, st);
        } catch (const stretch_unsolved &e) {
            if (k == 4) throw plan_error(e.why);
        }
        if (k > 0) share /= 8;
    }
}

// The most points away from knots at which a plan rests.
inline constexpr std::size_t MAX_SHARP_POINTS = 10000;

// Returns the samples of the plan resting at `rests` (ascending, from 0 to the target), each
// limit at 1 - margin of itself. Throws sharp_point for a sharp turn that is not a rest yet.
feed_profile plan_rests(const arc_table &arc, const feed_bounds &b,
                        const std::vector<path_place> &rests, const optimal_options &opt,
                        double margin, optimal_stats *st,
                        const std::function<void(double)> &progress) {
    st->stretches = rests.size() - 1;
    feed_profile p;
    double s = 0;
    for (std::size_t k = 0; k + 1 < rests.size(); ++k) {
        const stretch_plan plan = plan_stretch(arc, b, rests[k], rests[k + 1], opt, 1 - margin, st);
        // The rest that ends a stretch and the one that starts the next stand at the same
        // place: the next one's (with its start jerk) is enough.
        if (!p.v.empty()) {
            p.v.pop_back();
            p.a.pop_back();
            p.j.pop_back();
        }
        sample_stretch(plan, b.machine.period, &p, &s, PROFILE_MAX_SAMPLES);
        progress(double(k + 1) / double(rests.size() - 1));
    }
    return p;
}

// Returns the quarter of the smallest acceleration over jerk limit of `b`, s (0.01 s when none),
// at least four periods.
double jerk_time_scale(const feed_bounds &b) {
    double t = HUGE_VAL;
    for (int k = 0; k < 3; ++k)
        if (b.machine.acc[k] > 0 && b.machine.jerk[k] > 0)
            t = std::min(t, b.machine.acc[k] / b.machine.jerk[k]);
    if (b.path_acc < HUGE_VAL && b.path_jerk < HUGE_VAL) t = std::min(t, b.path_acc / b.path_jerk);
    // Not below four periods: the samples would not see a finer grid.
    return std::max(t < HUGE_VAL ? 0.25 * t : 0.01, 4 * b.machine.period);
}

} // namespace

bound_check check_profile_bounds(const feed_profile &p, const arc_table &arc,
                                 const feed_bounds &b) {
    bound_check worst;
    auto consider = [&](double r, const std::string &limit, std::size_t k, double s) {
        if (r > worst.ratio) worst = {r, limit, k, s};
    };
    if (machine_has_axes(b.machine)) {
        const axis_check c = check_profile_axes(p, arc, b.machine);
        consider(c.ratio, limit_name(c.kind, c.axis), c.sample, c.s);
    }
    const double T = b.machine.period;
    double s = 0;
    for (std::size_t k = 0; k < p.v.size(); ++k) {
        if (p.v[k] > 0) {
            const bound_feed cap = feed_cap_at(check_frame_at(arc, s), b);
            consider(p.v[k] / cap.v, limit_name(cap.kind, cap.axis), k, s);
        }
        consider(std::fabs(p.a[k]) / b.path_acc, limit_name(limit_kind::path_acc, -1), k, s);
        consider(std::fabs(p.j[k]) / b.path_jerk, limit_name(limit_kind::path_jerk, -1), k, s);
        s += p.v[k] * T;
    }
    return worst;
}

feed_profile plan_optimal(const arc_table &arc, const feed_bounds &b,
                          const std::vector<double> &stops, double target,
                          const optimal_options &opt_in, optimal_stats *stats,
                          const std::function<void(double)> &progress) {
    optimal_options opt = opt_in;
    if (opt.spacing.max_time == 0) opt.spacing.max_time = jerk_time_scale(b);
    // The rests as places: the corners' own knots, the target's parameter.
    std::vector<path_place> rests{{0, 0}};
    for (double u : stops) {
        const double s = arc_length_to(arc, u);
        if (s > 0 && s < target) rests.push_back({s, u});
    }
    rests.push_back({target, arc_param_at(arc, target)});
    double margin = opt.margin;
    bound_check last;
    std::vector<double> sharp;
    for (int attempt = 1; attempt <= opt.max_tries;) {
        optimal_stats st;
        feed_profile p;
        try {
            p = plan_rests(arc, b, rests, opt, margin, &st, [&](double done) {
                if (progress) progress((attempt - 1 + done) / opt.max_tries);
            });
        } catch (const sharp_point &at) {
            // A rest there too, and the stretches planned again.
            if (sharp.size() >= MAX_SHARP_POINTS)
                throw plan_error("the path turns sharply away from a knot at more than " +
                                 std::to_string(MAX_SHARP_POINTS) + " points (bound)");
            sharp.push_back(at.at.s);
            rests.insert(std::upper_bound(
                             rests.begin(), rests.end(), at.at,
                             [](const path_place &a, const path_place &b) { return a.s < b.s; }),
                         at.at);
            continue;
        }
        last = check_profile_bounds(p, arc, b);
        if (last.ratio <= 1 + opt.slack) {
            st.tries = attempt;
            st.margin = margin;
            st.sharp = sharp;
            if (stats) *stats = st;
            return p;
        }
        ++attempt;
        margin *= 2;
    }
    throw plan_error("no plan within the limits: with a margin of " + fmt("%g", margin / 2) +
                     " the " + last.limit + " is exceeded by a factor " + fmt("%.9g", last.ratio) +
                     " at sample " + std::to_string(last.sample) + " (from 0," +
                     " s = " + fmt("%.6f", last.s) + " mm)");
}

} // namespace nurbs_interp
