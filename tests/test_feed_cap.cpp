// Tests of the curvature-limited feed planner and of the profile it made, fprof_curvature.txt.
// Every property is measured here independently of the planner: the cap from its own formula
// at the exact arc length (Newton on the Gauss-Legendre length, not the planner's cap table),
// the cell minima by plain scans, a = dv/dt and j = da/dt from the samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <unistd.h>

#include "plan/arc_length.hpp"
#include "plan/feed_cap.hpp"
#include "plan/feed_ramp.hpp"
#include "core/nurbs.hpp"
#include "io/feed_profile.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;

namespace {

constexpr double T = 0.00025;
constexpr double ACC = 2500, JERK = 50000;
const std::string CURVE = NURBS_BUNDLED_DATA "/S1200X30quorbel.nurbs";
const std::string CAPPED = NURBS_BUNDLED_DATA "/fprof_curvature.txt";

// The cap written out from its definition: cruise, chord error, centripetal acceleration.
double cap_formula(double rho, double vmax, double delta, double ac) {
    const double chord = 2 / T * std::sqrt(2 * rho * delta - delta * delta);
    return std::min({vmax, chord, std::sqrt(ac * rho)});
}

// Radius of curvature |C'|^3 / |C' x C''| of a planar curve at u.
double radius(nurbs_curve *c, double u) {
    cart_point P, d1, d2;
    nurbs_deBoor_eval(u, -1, c, &P, &d1, &d2, nullptr);
    const double sp = std::hypot(d1.x, d1.y);
    return sp * sp * sp / std::fabs(d1.x * d2.y - d1.y * d2.x);
}

using ratios = feed_limit_ratios;

// Measures a profile as the driver runs it (feed_limits_check, with the cap(s0, s1) given) and
// asserts a = dv/dt and j = da/dt between samples and non-negative feed.
ratios measure(const feed_profile &p, const std::function<double(double, double)> &cap) {
    for (std::size_t k = 0; k < p.v.size(); ++k) {
        EXPECT_GE(p.v[k], 0.0) << k;
        if (k + 1 == p.v.size()) break;
        // Jerk is constant over a period (the last one may stop early), so the mean of dv/dt
        // lies between the two accelerations and the mean of da/dt between 0 and j_k; the
        // slack is the rounding of the differences (v <= 250, T = 2.5e-4: ~1e-10 relative).
        const double dv = (p.v[k + 1] - p.v[k]) / T, da = (p.a[k + 1] - p.a[k]) / T;
        EXPECT_GE(dv, std::min(p.a[k], p.a[k + 1]) - 1e-6) << k;
        EXPECT_LE(dv, std::max(p.a[k], p.a[k + 1]) + 1e-6) << k;
        EXPECT_GE(da, std::min(0.0, p.j[k]) - 1e-4) << k;
        EXPECT_LE(da, std::max(0.0, p.j[k]) + 1e-4) << k;
        if (::testing::Test::HasFailure()) break;
    }
    return feed_limits_check(p, cap, ACC, JERK, T);
}

// Lowest of cells[floor(s0/h) .. floor(s1/h)], by a plain scan.
double scan_min(const std::vector<double> &cells, double h, double s0, double s1) {
    const long last = long(cells.size()) - 1;
    const long i0 = std::clamp(long(std::floor(s0 / h)), 0L, last);
    const long i1 = std::clamp(long(std::floor(s1 / h)), i0, last);
    return *std::min_element(cells.begin() + i0, cells.begin() + i1 + 1);
}

// Limits: the planner keeps |a| <= A and |j| <= J up to the rounding of a + jT (1e-12); the
// cap is met exactly against the cells it planned with.
void expect_within_limits(const ratios &r, double cap_tol) {
    EXPECT_LE(r.cap, 1 + cap_tol);
    EXPECT_LE(r.acc, 1 + 1e-12);
    EXPECT_LE(r.jerk, 1 + 1e-12);
}

// ---------------------------------------------------------------- the cap and its table

TEST(FeedCap, FollowsEachLimitWhereItBindsAndStaysSaneBelowTheTolerance) {
    feed_cap_limits lim; // 250 mm/s, delta 1e-3 mm, 2500 mm/s^2, T 2.5e-4 s, floor 2.5 mm/s
    for (double rho : {1.0, 5.0, 24.9, 25.1, 1e3, 1e13})
        EXPECT_NEAR(feed_cap_at_radius(rho, lim), cap_formula(rho, 250, 1e-3, 2500), 1e-12 * 250)
            << rho;
    // A tight tolerance makes the chord cap the binding one on a 100 mm radius.
    lim.chord_tol = 1e-6;
    EXPECT_NEAR(feed_cap_at_radius(100, lim), 8000 * std::sqrt(2e-4 - 1e-12), 1e-9);
    EXPECT_LT(feed_cap_at_radius(100, lim), std::sqrt(2500 * 100.0));
    // Below rho = delta the chord cap keeps 2 delta / T; with a large centripetal limit that is
    // what shows; it never falls to zero or NaN as the formula would below delta/2.
    lim.chord_tol = 0.01;
    lim.centripetal = 1e9;
    lim.floor = 0;
    EXPECT_DOUBLE_EQ(feed_cap_at_radius(0.004, lim), 2 * 0.01 / T);
    EXPECT_DOUBLE_EQ(feed_cap_at_radius(0.01, lim), 2 * 0.01 / T);
    double prev = 0;
    for (double rho = 1e-6; rho < 1e4; rho *= 1.1) {
        const double c = feed_cap_at_radius(rho, lim);
        ASSERT_TRUE(c > 0 && c >= prev) << rho; // positive and non-decreasing in rho
        prev = c;
    }
    // The floor: a cusp (rho -> 0) still leaves the floor.
    lim.centripetal = 2500;
    lim.floor = 2.5;
    EXPECT_EQ(feed_cap_at_radius(0.0, lim), 2.5);
}

TEST(FeedCap, RangeMinimumAgreesWithAScan) {
    // Ranges inside one block, across one boundary and across many, at both ends of the table.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> val(1, 100);
    for (std::size_t n : {1u, 63u, 64u, 65u, 1000u, 4099u}) {
        std::vector<double> cells(n);
        for (double &c : cells)
            c = val(rng);
        const feed_cap_table t = feed_cap_from_cells(cells, 0.5);
        std::uniform_real_distribution<double> pos(-1, 0.5 * n + 1);
        for (int q = 0; q < 3000; ++q) {
            double a = pos(rng), b = pos(rng);
            if (a > b) std::swap(a, b);
            ASSERT_EQ(feed_cap_min(t, a, b), scan_min(cells, 0.5, a, b))
                << n << " " << a << " " << b;
        }
    }
}

// ---------------------------------------------------------------- the planner

TEST(CappedPlan, BrakesAheadOfNotchesAndMeetsEveryLimit) {
    // 250 mm/s with a 40 mm/s stretch of 2 mm at 100 mm, a single 0.01 mm cell at 15 mm/s at
    // 200 mm, and a slow rise; the move ends short of 300 mm.
    const double h = 0.01;
    std::vector<double> cells(31000, 250.0);
    for (long i = 10000; i < 10200; ++i)
        cells[i] = 40;
    cells[20000] = 15;
    for (long i = 25000; i < 27000; ++i)
        cells[i] = 60 + 0.1 * (i - 25000);
    const feed_cap_table t = feed_cap_from_cells(cells, h);
    feed_plan_stats st;
    const feed_profile p = feed_plan_capped(t, 300, ACC, JERK, T, &st);
    EXPECT_EQ(st.forced, 0);
    ASSERT_GT(p.v.size(), 100u);
    EXPECT_EQ(p.v.front(), 0.0);
    EXPECT_EQ(p.a.front(), 0.0);
    EXPECT_EQ(p.v.back(), 0.0);
    EXPECT_EQ(p.a.back(), 0.0);
    const ratios r = measure(p, [&](double s0, double s1) { return scan_min(cells, h, s0, s1); });
    expect_within_limits(r, 0.0);
    // Ends at most at the target and within a period's travel at the lowest feed of it.
    EXPECT_LE(r.travel, 300.0);
    EXPECT_GT(r.travel, 300.0 - 1e-6);
    // The caps bind: the move reaches the cruise feed and the 40 mm/s stretch is crossed at
    // 40 mm/s (not far below it), and the whole move takes no longer than needed (a plan
    // through 40 mm/s over the whole notch length costs < 0.3 s more than one without it).
    EXPECT_NEAR(*std::max_element(p.v.begin(), p.v.end()), 250.0, 1e-6);
    double s = 0, v_notch = 0;
    for (double v : p.v) {
        if (s >= 100.5 && s <= 101.5) v_notch = std::max(v_notch, v);
        s += v * T;
    }
    EXPECT_GT(v_notch, 0.999 * 40);
    const double free_time = feed_move_time(feed_move_plan(300, 250, ACC, JERK));
    EXPECT_LT((p.v.size() - 1) * T, free_time + 0.6);
}

TEST(CappedPlan, UnderAFlatCapItIsTheSCurveMove) {
    // With nothing but the cruise feed to respect the plan is the rest-to-rest S-curve: same
    // peak, same duration to within a few periods (the greedy choice rounds to periods).
    for (double len : {5.0, 40.0, 200.0}) {
        const feed_cap_table t =
            feed_cap_from_cells(std::vector<double>(long(len / 0.01) + 10, 250.0), 0.01);
        const feed_profile p = feed_plan_capped(t, len, ACC, JERK, T);
        const feed_move m = feed_move_plan(len, 250, ACC, JERK);
        EXPECT_NEAR(*std::max_element(p.v.begin(), p.v.end()), m.peak, 1e-3 * m.peak) << len;
        EXPECT_NEAR((p.v.size() - 1) * T, feed_move_time(m), 4 * T) << len;
        EXPECT_LE(feed_profile_travel(p, T), len);
        EXPECT_GT(feed_profile_travel(p, T), len - 1e-6);
    }
}

TEST(CappedPlan, HoldsTheChordOrTheCentripetalCapOnACircle) {
    // A quarter circle of radius 100 mm (length 50 pi): the cap is constant, and the plan must
    // cruise exactly at it. delta = 1e-6 mm makes the chord cap bind (113.1 mm/s); with a large
    // delta and 100 mm/s^2 centripetal the centripetal cap does (100 mm/s).
    nurbs_curve c;
    const double R = 100, w = std::sqrt(0.5);
    test_util::load_curve({{R, 0, 0, 1}, {R, R, 0, w}, {0, R, 0, 1}}, 2, &c);
    arc_table tab;
    arc_table_build(&c, &tab);
    ASSERT_NEAR(arc_table_length(tab), M_PI * R / 2, 1e-9);
    struct limit_case {
        double delta, ac, expect;
    };
    for (const limit_case &lc :
         {limit_case{1e-6, 2500, 8000 * std::sqrt(2e-4 - 1e-12)}, limit_case{0.01, 100, 100}}) {
        feed_cap_limits lim;
        lim.chord_tol = lc.delta;
        lim.centripetal = lc.ac;
        EXPECT_NEAR(cap_formula(R, 250, lc.delta, lc.ac), lc.expect, 1e-9);
        const feed_cap_table t = feed_cap_from_curve(&c, tab, lim, 0.01);
        const feed_profile p = feed_plan_capped(t, arc_table_length(tab) - 0.5, ACC, JERK, T);
        // The table's cells and the constant cap agree to the curvature's rounding (~1e-13).
        const ratios r = measure(p, [&](double, double) { return lc.expect; });
        expect_within_limits(r, 1e-12);
        EXPECT_GT(r.cap, 1 - 1e-9) << lc.delta; // it does cruise at the cap
        EXPECT_LE(r.travel, arc_table_length(tab) - 0.5);
    }
}

TEST(CappedPlan, GivesUpOnAMoveThatCannotFinish) {
    const feed_cap_table t = feed_cap_from_cells(std::vector<double>(1000, 250.0), 0.01);
    EXPECT_THROW(feed_plan_capped(t, 9.0, ACC, JERK, T, nullptr, 100), std::runtime_error);
}

// ---------------------------------------------------------------- the bundled profile

// The bundled curve, its arc table, and the driver's target: its length minus 0.5 mm.
struct bundled_curve {
    nurbs_curve curve;
    arc_table tab;
    bundled_curve() {
        nurbs_curve_alloc_file(CURVE.c_str(), &curve);
        arc_table_build(&curve, &tab);
    }
};

TEST(BundledCurvatureProfile, RespectsItsCapAccelerationAndJerkAtEverySample) {
    bundled_curve b;
    const feed_profile p = read_feed_profile(CAPPED.c_str());
    ASSERT_GT(p.v.size(), 1000u);
    EXPECT_EQ(p.v.front(), 0.0);
    EXPECT_EQ(p.v.back(), 0.0);
    EXPECT_EQ(p.a.back(), 0.0);
    // The cap (defaults: 250 mm/s, delta 1e-3 mm, 2500 mm/s^2) at the exact arc length of both
    // ends of each sample's stretch, the parameter found by Newton on the Gauss-Legendre length
    // (started from the previous one: the stretches join end to start).
    double u_prev = 0, s_prev = -1, cap_prev = 0;
    auto cap_at = [&](double s) {
        if (s == s_prev) return cap_prev;
        u_prev = arc_param_at(b.tab, s);
        s_prev = s;
        cap_prev = cap_formula(radius(&b.curve, u_prev), 250, 1e-3, 2500);
        return cap_prev;
    };
    // Tolerance: the planner tabulates the cap in 0.01 mm cells from samples at most 0.01 mm
    // apart, refining minima between samples by a parabola; what is left is the third-order
    // term of the cap over 0.01 mm at the tight returns (radius 1.8 mm, curvature bump of
    // 2.1 mm standard deviation): ~1e-8 relative. 1e-7 leaves room, and a cap missed by
    // one cell (0.01 mm on a wall rising 30 mm/s per mm) would show as > 1e-3.
    const ratios r =
        measure(p, [&](double s0, double s1) { return std::min(cap_at(s0), cap_at(s1)); });
    std::printf("fprof_curvature.txt: worst feed/cap %.15g, |a|/A %.15g, |j|/J %.15g\n", r.cap,
                r.acc, r.jerk);
    expect_within_limits(r, 1e-7);
    EXPECT_GT(r.cap, 0.9999); // the cap binds somewhere
    const double target = arc_table_length(b.tab) - 0.5;
    EXPECT_LE(r.travel, target);
    EXPECT_GT(r.travel, target - 1e-6);
    // It is slower than the plain S-curve over the same length: the returns cost time.
    EXPECT_GT((p.v.size() - 1) * T, feed_move_time(feed_move_plan(target, 250, ACC, JERK)) + 0.1);
}

// Exit status of a command, its output discarded.
int run(const std::string &cmd) {
    return test_util::run(cmd, "/dev/null", "/dev/null");
}

TEST(BundledCurvatureProfile, IsWhatMakeProfileWritesAndTheDefaultModeIsUnchanged) {
    test_util::temp_dir dir;
    const std::string capped = dir.file("capped.txt"), plain = dir.file("plain.txt");
    ASSERT_EQ(run(NURBS_BIN_DIR "/make_profile --planner shares --curvature-limited --curve " +
                  CURVE + " -o " + capped),
              0);
    EXPECT_TRUE(test_util::read_file(capped) == test_util::read_file(CAPPED))
        << "regenerated curvature-limited profile differs from " << CAPPED;
    ASSERT_EQ(run(NURBS_BIN_DIR "/make_profile --curve " + CURVE + " -o " + plain), 0);
    EXPECT_TRUE(test_util::read_file(plain) ==
                test_util::read_file(NURBS_BUNDLED_DATA "/fprof.txt"))
        << "the default mode no longer writes data/fprof.txt";
}

} // namespace
