// The time-optimal planner against closed forms and independent computations: the seven-phase
// S-curve on a line and on the edges of a square, the steady feed sqrt(A R) on a circle, the
// axis limits sample by sample and by the positions' differences on the butterfly of the
// literature and the bundled curve, an acceleration-limited lower bound computed here, and a
// planar path not braked by Z.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "io/curve_load.hpp"
#include "plan/joints.hpp"
#include "plan/optimal_plan.hpp"
#include "shapes/reference_curves.hpp"
#include "test_curves.hpp"

namespace {

using namespace nurbs_interp;
using test_curves::measured_curve;

// Returns the shortest rest-to-rest time over L with feed <= V, |acceleration| <= A and
// |jerk| <= J along a line: two S-curve ramps and a cruise, or, when L is too short for V, two
// ramps to the peak feed that fits (bisection).
double s_curve_time(double L, double V, double A, double J) {
    auto ramp = [&](double v, double *t, double *d) {
        *t = v * J >= A * A ? v / A + A / J : 2 * std::sqrt(v / J);
        *d = 0.5 * v * *t;
    };
    double t, d;
    ramp(V, &t, &d);
    if (2 * d <= L) return 2 * t + (L - 2 * d) / V;
    double lo = 0, hi = V;
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        ramp(mid, &t, &d);
        (2 * d <= L ? lo : hi) = mid;
    }
    ramp(lo, &t, &d);
    return 2 * t;
}

// The time a stop into rest adds at most here (about a third of A/J: its S-curve takes a share
// of the rest's jerk, optimal_plan.cpp).
inline constexpr double STOP_COST = 0.06;

// The limits of a machine with the same limits on every axis, and the path's own none.
feed_bounds machine_bounds(double V, double A, double J, double T) {
    feed_bounds b;
    b.machine.vel = {V, V, V};
    b.machine.acc = {A, A, A};
    b.machine.jerk = {J, J, J};
    b.machine.period = T;
    b.cruise = V;
    return b;
}

// Plans the whole curve of `arc` (a rest at every corner).
feed_profile plan_all(const arc_table &arc, const feed_bounds &b) {
    return plan_optimal(arc, b, curve_corners(arc.curve), arc_table_length(arc));
}

double duration(const feed_profile &p, double T) {
    return double(p.v.size() - 1) * T;
}

// The largest ratio to the limits of the axis acceleration and jerk the driver realises: the
// second and third differences over T of the curve's points at its travel, the tool at rest
// before the first sample and after the last.
std::pair<double, double> realised(const feed_profile &p, const arc_table &arc,
                                   const machine_limits &m) {
    std::vector<cart_point> pts;
    double s = 0;
    cart_point P;
    nurbs_deBoor_eval(0, -1, arc.curve, &P, nullptr, nullptr, nullptr);
    pts.push_back(P);
    pts.push_back(P);
    for (double v : p.v) {
        nurbs_deBoor_eval(arc_param_at(arc, s), -1, arc.curve, &P, nullptr, nullptr, nullptr);
        pts.push_back(P);
        s += v * m.period;
    }
    pts.push_back(pts.back());
    pts.push_back(pts.back());
    const double T = m.period;
    double acc = 0, jerk = 0;
    for (std::size_t k = 1; k + 2 < pts.size(); ++k)
        for (int i = 0; i < 3; ++i) {
            const double a = (axis_component(pts[k + 1], i) - 2 * axis_component(pts[k], i) +
                              axis_component(pts[k - 1], i)) /
                             (T * T);
            const double j = (axis_component(pts[k + 2], i) - 3 * axis_component(pts[k + 1], i) +
                              3 * axis_component(pts[k], i) - axis_component(pts[k - 1], i)) /
                             (T * T * T);
            acc = std::max(acc, std::fabs(a) / m.acc[i]);
            jerk = std::max(jerk, std::fabs(j) / m.jerk[i]);
        }
    return {acc, jerk};
}

// Returns the shortest acceleration-limited time along the curve of `arc` under per-axis
// velocity and acceleration limits (feed <= cruise), from rest to rest: forward and backward
// Euler passes through the phase plane on a uniform grid of n intervals, each node's feasible
// accelerations found from the axis limits at its exact point. A jerk-limited plan cannot be
// faster.
double acc_limited_time(const arc_table &arc, const feed_bounds &b, long n) {
    const double L = arc_table_length(arc), h = L / double(n);
    std::vector<path_frame> f(n + 1);
    std::vector<double> x(n + 1);
    auto range = [&](const path_frame &fr, double v2, double *lo, double *hi) {
        *lo = -1e300;
        *hi = 1e300;
        for (int k = 0; k < 3; ++k) {
            const double t = axis_component(fr.t, k), kap = axis_component(fr.k, k),
                         A = b.machine.acc[k];
            if (std::fabs(t) < 1e-15) {
                if (std::fabs(kap) * v2 > A) return false;
                continue;
            }
            double a1 = (-A - kap * v2) / t, a2 = (A - kap * v2) / t;
            if (a1 > a2) std::swap(a1, a2);
            *lo = std::max(*lo, a1);
            *hi = std::min(*hi, a2);
        }
        return *lo <= *hi;
    };
    for (long i = 0; i <= n; ++i) {
        cart_point P, d1, d2, d3;
        nurbs_deBoor_eval(arc_param_at(arc, double(i) * h), -1, arc.curve, &P, &d1, &d2, &d3);
        cart_point v, a, j;
        compute_axial_vaj(&v, &a, &j, &d1, &d2, &d3, 1, 0, 0);
        f[i] = {v, a, j};
        double cap = b.cruise * b.cruise, lo, hi;
        for (int k = 0; k < 3; ++k)
            if (std::fabs(axis_component(v, k)) > 0)
                cap = std::min(cap, std::pow(b.machine.vel[k] / axis_component(v, k), 2));
        if (!range(f[i], cap, &lo, &hi)) {
            double l = 0, r = cap;
            for (int it = 0; it < 100; ++it) {
                const double mid = 0.5 * (l + r);
                (range(f[i], mid, &lo, &hi) ? l : r) = mid;
            }
            cap = l;
        }
        x[i] = cap;
    }
    x[0] = x[n] = 0;
    double lo, hi;
    for (long i = 0; i < n; ++i)
        if (range(f[i], x[i], &lo, &hi)) x[i + 1] = std::min(x[i + 1], x[i] + 2 * h * hi);
    for (long i = n; i > 0; --i)
        if (range(f[i], x[i], &lo, &hi)) x[i - 1] = std::min(x[i - 1], x[i] - 2 * h * lo);
    double t = 0;
    for (long i = 0; i < n; ++i)
        t += 2 * h / (std::sqrt(x[i]) + std::sqrt(x[i + 1]));
    return t;
}

// Every sample within every limit (the planner's own check, which compute_axial_vaj makes) and
// the driver's realised motion within 5 % of the limits.
void expect_within(const feed_profile &p, const arc_table &arc, const feed_bounds &b,
                   double realised_bound = 1.05) {
    const bound_check c = check_profile_bounds(p, arc, b);
    EXPECT_LE(c.ratio, 1 + 1e-9) << c.limit << " at s = " << c.s;
    const auto [acc, jerk] = realised(p, arc, b.machine);
    EXPECT_LE(acc, realised_bound);
    EXPECT_LE(jerk, realised_bound);
}

TEST(OptimalPlan, ALineTakesTheSevenPhaseSCurveTime) {
    // 100 mm along X, parametrised at constant speed: the axis limits are the path's.
    const measured_curve line({2, 2, {{0, 0, 0, 1}, {50, 0, 0, 1}, {100, 0, 0, 1}}, {}});
    for (const double L : {100.0, 3.0}) { // cruise reached; too short for it
        const feed_bounds b = machine_bounds(250, 2000, 20000, 0.001);
        const feed_profile p = plan_optimal(line.arc, b, {}, L);
        const double t = s_curve_time(L, 250, 2000, 20000);
        // At most 2 % and one stop's cost over: every limit is planned 0.5 % below itself, the
        // stop is at a fraction of the jerk (optimal_plan.cpp), the period rounds the end up.
        EXPECT_GE(duration(p, 0.001), t - 0.001) << L;
        EXPECT_LE(duration(p, 0.001), 1.02 * t + STOP_COST) << L;
        EXPECT_NEAR(feed_profile_travel(p, 0.001), L, 1e-9 * L);
        expect_within(p, line.arc, b);
    }
}


TEST(OptimalPlan, AnAxisAlignedSquareRestsAtItsCornersAndTakesFourSCurves) {
    // A square of side 50 as a degree-2 curve with doubled knots: four straight edges, each at
    // constant speed, corners at u = 1/4, 1/2, 3/4.
    const measured_curve square({2,
                                 2,
                                 {{0, 0, 0, 1},
                                  {25, 0, 0, 1},
                                  {50, 0, 0, 1},
                                  {50, 25, 0, 1},
                                  {50, 50, 0, 1},
                                  {25, 50, 0, 1},
                                  {0, 50, 0, 1},
                                  {0, 25, 0, 1},
                                  {0, 0, 0, 1}},
                                 {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1}});
    const feed_bounds b = machine_bounds(250, 1500, 30000, 0.001);
    const feed_profile p = plan_all(square.arc, b);
    const double t = 4 * s_curve_time(50, 250, 1500, 30000);
    EXPECT_GE(duration(p, 0.001), t - 0.001);
    EXPECT_LE(duration(p, 0.001), 1.02 * t + 4 * STOP_COST);
    // At rest on each corner, to within 1e-9 mm.
    std::vector<double> rests;
    double s = 0;
    for (std::size_t k = 1; k + 1 < p.v.size(); ++k) {
        s += p.v[k - 1] * 0.001;
        if (p.v[k] == 0) rests.push_back(s);
    }
    ASSERT_EQ(rests.size(), 3u);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(rests[c], 50.0 * (c + 1), 1e-9);
    expect_within(p, square.arc, b);
}

TEST(OptimalPlan, OnACircleTheSteadyFeedIsTheCentripetalOne) {
    // Radius 50, only a centripetal limit A (the path's acceleration and jerk generous): the
    // feed settles at sqrt(A R) all round.
    const double R = 50, A = 1500;
    const measured_curve circle(circle9(R));
    feed_bounds b;
    b.machine.period = 0.001;
    b.cruise = 1e4;
    b.path_acc = 1e5;
    b.path_jerk = 1e7;
    b.geometric = true;
    b.chord_tol = 10;
    b.centripetal = A;
    const feed_profile p = plan_all(circle.arc, b);
    const double v = std::sqrt(A * R);
    double s = 0, lo = HUGE_VAL, hi = 0;
    const double L = arc_table_length(circle.arc);
    for (double f : p.v) {
        if (s > 0.25 * L && s < 0.75 * L) {
            lo = std::min(lo, f);
            hi = std::max(hi, f);
        }
        s += f * 0.001;
    }
    EXPECT_LE(hi, v);
    EXPECT_GE(lo, 0.99 * v); // the velocity-like caps are planned 0.05 % below themselves
    EXPECT_LE(check_profile_bounds(p, circle.arc, b).ratio, 1 + 1e-9);
}

TEST(OptimalPlan, TheButterflyWithinTheAxisLimitsAboveTheAccelerationLimitedBound) {
    // The 51-point butterfly of the interpolation literature, per-axis limits V 250, A 2000,
    // J 20000 at 1 ms (a published minimum-time reference: 4.57 s; plans of two papers 6.31 s
    // and 6.86 s).
    nurbs_curve curve;
    load_curve_checked(NURBS_BUNDLED_DATA "/curves/butterfly.nurbs", &curve);
    arc_table arc;
    arc_table_build(&curve, &arc);
    const feed_bounds b = machine_bounds(250, 2000, 20000, 0.001);
    const feed_profile p = plan_all(arc, b);
    expect_within(p, arc, b);
    const double bound = acc_limited_time(arc, b, 100000);
    EXPECT_GT(bound, 3.1); // 3.15 s as the issue's own reference computes it
    EXPECT_GT(duration(p, 0.001), bound);
    EXPECT_LT(duration(p, 0.001), 5.5); // 5.23 s when written; the published plans 6.31, 6.86
    // The continuous plan alone is within 1 % of the reference: the share held back for the
    // motion the driver realises is what the default costs here.
    optimal_options o;
    o.realised_share = 0;
    const feed_profile q = plan_optimal(arc, b, {}, arc_table_length(arc), o);
    EXPECT_LT(duration(q, 0.001), 1.02 * 4.57);
    EXPECT_LE(check_profile_bounds(q, arc, b).ratio, 1 + 1e-9);
}

TEST(OptimalPlan, TheBundledCurveOnTheRouterWithinItsLimits) {
    nurbs_curve curve;
    load_curve_checked(NURBS_BUNDLED_DATA "/S1200X30quorbel.nurbs", &curve);
    arc_table arc;
    arc_table_build(&curve, &arc);
    feed_bounds b;
    b.machine = {{250, 250, 100}, {1500, 1500, 800}, {30000, 30000, 20000}, 0.001};
    const feed_profile p = plan_all(arc, b);
    expect_within(p, arc, b);
    EXPECT_GT(duration(p, 0.001), acc_limited_time(arc, b, 400000));
    EXPECT_LT(duration(p, 0.001), 1.03 * 15.03); // the minimum-time reference
}

TEST(OptimalPlan, LimitsFarApartStillGiveAPlanWithinThem) {
    // A jerk limit far below the acceleration's (5 s to reach it): the S-curve from rest may not
    // end at a share of the acceleration limit the feed cannot turn from in time. An acceleration
    // limit far below the jerk's: the solver may find no answer to a later pass, whose last
    // whole pass is a plan. Both were refused ("a jerk-limited programme has no solution").
    const measured_curve circle(circle9(50));
    for (const auto &[A, J] : {std::pair{5000.0, 1000.0}, std::pair{5.0, 1e5}}) {
        const feed_bounds b = machine_bounds(250, A, J, 0.001);
        feed_profile p;
        ASSERT_NO_THROW(p = plan_all(circle.arc, b)) << "A " << A << ", J " << J;
        EXPECT_LE(check_profile_bounds(p, circle.arc, b).ratio, 1 + 1e-9);
        EXPECT_GT(duration(p, 0.001), acc_limited_time(circle.arc, b, 100000));
    }
}

TEST(OptimalPlan, WithAJerkLimitHighAgainstTheAccelerationsTheStopIsRealisedWithinIt) {
    // A 50, J 1e5 at 1 ms: the plan could turn from braking at A to rest within a period; the
    // driver, moving v T at the feed where it stands, then realised 1.71 A in its last steps.
    const measured_curve circle(circle9(50));
    const feed_bounds b = machine_bounds(250, 50, 1e5, 0.001);
    expect_within(plan_all(circle.arc, b), circle.arc, b);
}

TEST(OptimalPlan, APlanarPathIsNotBrakedByZ) {
    const measured_curve circle(circle9(50));
    feed_bounds b;
    b.machine = {{250, 250, 100}, {1500, 1500, 800}, {30000, 30000, 20000}, 0.001};
    const feed_profile p = plan_all(circle.arc, b);
    b.machine.vel[2] = 1e-3;
    b.machine.acc[2] = 1e-3;
    b.machine.jerk[2] = 1e-3;
    const feed_profile q = plan_all(circle.arc, b);
    EXPECT_EQ(p.v, q.v);
}

} // namespace
