// The comparison harness in-process: its statistics and failure detection with test-double
// methods on a straight line (where every step length is known), the method table, and the
// chord error against exact values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring> // memcpy: a test method's state
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "compare/replay.hpp"
#include "compare/report.hpp"
#include "compare/run.hpp"
#include "compare/session.hpp"
#include "compare/stats.hpp"
#include "core/interpolate.hpp"
#include "plan/feed_ramp.hpp"
#include "profile_util.hpp"
#include "test_curves.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;

namespace {

using test_util::make_profile;
using test_util::profile_text;
using test_util::ramp_profile;
using test_util::read_file;
using test_util::run;
using test_util::write_file;

constexpr double T = COMPARE_PERIOD;
const std::string BUNDLED_CURVE = NURBS_BUNDLED_DATA "/S1200X30quorbel.nurbs";

// The straight line C(u) = (LINE_LEN*u, 0): every step's true length is LINE_LEN * du.
constexpr double LINE_LEN = 1.0; // mm

struct CompareRunLine : ::testing::Test {
    nurbs_curve curve;
    void SetUp() override {
        test_util::load_curve(test_util::straight_line(8, 3, LINE_LEN), 3, &curve);
    }
};

// What the recording double saw: the largest mismatch of the travelled length it was given
// against the length to its parameter, and of its time against sample index * T.
double G_worst_s_mismatch = 0;
double G_worst_t_mismatch = 0;
std::size_t G_calls = 0;

// Steps 1% too far at feeds of 1 mm/s and more, twice too far below; records its inputs.
double overshooting_step(const compare_step &in) {
    G_worst_s_mismatch = std::max(G_worst_s_mismatch, std::fabs(in.s - LINE_LEN * in.u));
    G_worst_t_mismatch =
        std::max(G_worst_t_mismatch, std::fabs(in.t - static_cast<double>(G_calls) * T));
    ++G_calls;
    const double factor = in.v >= COMPARE_MIN_FEED ? 1.01 : 2.0;
    return in.u + factor * in.v * in.T / LINE_LEN;
}

TEST_F(CompareRunLine, StatisticsScoreOnlyFastStepsThatEndBeforeTheCurveEnd) {
    // 100 mm/s is 0.025 mm per period, so the 1 mm line ends in the 40th step (1.01 * 39.6);
    // every fifth sample is slow (0.5 mm/s) and wildly wrong, and must not be scored.
    const feed_profile prof =
        make_profile(60, [](std::size_t i) { return i % 5 == 4 ? 0.5 : 100.0; });
    G_worst_s_mismatch = G_worst_t_mismatch = 0;
    G_calls = 0;
    const compare_method m{"overshoot", "", overshooting_step};
    const method_result r = run_method(m, &curve, LINE_LEN, prof);

    // The expected run, step by step: where the parameter lands and which steps are scored.
    // The end step counts only when it is longer than v*T (the curve did not cut it short).
    double u = 0, drift = 0, err_sum = 0, err_sq = 0;
    std::size_t steps = 0, scored = 0, counted = 0;
    bool end_counted = false;
    for (std::size_t i = 0; i < prof.v.size(); ++i) {
        ++steps;
        const double factor = prof.v[i] >= 1 ? 1.01 : 2.0;
        const double un = u + factor * prof.v[i] * T / LINE_LEN;
        const double ds = (std::min(un, 1.0) - u) * LINE_LEN;
        if (un >= 1 && ds <= prof.v[i] * T) break;
        drift += ds - prof.v[i] * T;
        err_sum += std::fabs(ds - prof.v[i] * T);
        err_sq += (ds - prof.v[i] * T) * (ds - prof.v[i] * T);
        ++counted;
        scored += prof.v[i] >= 1;
        u = un;
        if (un >= 1) {
            end_counted = true;
            break;
        }
    }
    ASSERT_FALSE(r.failed) << r.reason;
    EXPECT_TRUE(r.reached_end);
    EXPECT_EQ(r.steps, steps);
    EXPECT_NEAR(r.end_time, static_cast<double>(steps) * T, 1e-15);
    EXPECT_EQ(r.scored, scored);
    // The line's speed is constant, so the quadrature is exact up to rounding of ~1e-16 per
    // step relative to the step: 1e-9 leaves room and still tells 1% from anything else.
    EXPECT_NEAR(r.fluct_max, 0.01, 1e-9);
    EXPECT_NEAR(r.fluct_rms, 0.01, 1e-9);
    EXPECT_NEAR(r.drift, drift, 1e-12);
    // The figures papers report: every step but an end step cut short, slow ones included.
    EXPECT_EQ(r.len_err_steps, counted);
    EXPECT_NEAR(r.len_err_sum, err_sum, 1e-12);
    EXPECT_NEAR(r.len_err_ms, err_sq / double(counted), 1e-12 * err_sq / double(counted));
    EXPECT_TRUE(std::isnan(r.rel_err[4])) << "a slow sample was scored";
    EXPECT_EQ(std::isnan(r.rel_err[steps - 1]), !end_counted)
        << "the end step is scored exactly when the curve did not cut it short";
    EXPECT_TRUE(std::isnan(r.call_ns[steps])) << "a time recorded after the end";
    EXPECT_FALSE(std::isnan(r.call_ns[steps - 1]));
    // The method is handed the measured travelled length (not the commanded one, which is 1%
    // shorter) and the time of its sample.
    EXPECT_LT(G_worst_s_mismatch, 1e-12);
    EXPECT_EQ(G_worst_t_mismatch, 0.0);
}

double nan_at_sample_5(const compare_step &in) {
    return in.t >= 5 * T - 1e-12 ? std::nan("") : in.u + in.v * in.T / LINE_LEN;
}
double stuck(const compare_step &in) {
    return in.u;
}
double backwards(const compare_step &in) {
    return in.u - 1e-9;
}
double jumping_back(const compare_step &in) {
    return in.t >= 10 * T - 1e-12 ? in.u - 1e-3 : in.u + in.v * in.T / LINE_LEN;
}
double creeping(const compare_step &in) {
    return in.u + 1e-15; // moves, but by about 1e-15 mm per period: no motion at 2 mm/s
}
double halving_the_rest(const compare_step &in) {
    // Steps v*T until the rest is shorter than two steps, then halves it: approaches the end
    // without ever reaching u = 1.
    return in.u + std::min(in.v * in.T / LINE_LEN, (1 - in.u) / 2);
}

TEST_F(CompareRunLine, BrokenMethodsFailInTheirRowAndOthersRunOn) {
    const feed_profile prof = make_profile(300, [](std::size_t) { return 2.0; });
    const compare_method nan_method{"nan_double", "", nan_at_sample_5};
    const compare_method stuck_method{"stuck_double", "", stuck};
    const compare_method back_method{"backwards_double", "", backwards};
    const compare_method creep_method{"creeping_double", "", creeping};
    const compare_method jump_method{"jumping_back_double", "", jumping_back};
    const compare_method *newton = find_compare_method("NewtonRaphson");
    ASSERT_NE(newton, nullptr);

    std::vector<method_result> res;
    res.push_back(run_method(nan_method, &curve, LINE_LEN, prof));
    res.push_back(run_method(stuck_method, &curve, LINE_LEN, prof));
    res.push_back(run_method(back_method, &curve, LINE_LEN, prof));
    res.push_back(run_method(creep_method, &curve, LINE_LEN, prof));
    res.push_back(run_method(jump_method, &curve, LINE_LEN, prof));
    res.push_back(run_method(*newton, &curve, LINE_LEN, prof));

    EXPECT_TRUE(res[0].failed);
    EXPECT_EQ(res[0].steps, 6u);
    EXPECT_NE(res[0].reason.find("non-finite"), std::string::npos) << res[0].reason;
    for (int k : {1, 3}) {
        EXPECT_TRUE(res[k].failed) << res[k].name;
        EXPECT_EQ(res[k].steps, static_cast<std::size_t>(COMPARE_STALL_SAMPLES)) << res[k].name;
        EXPECT_NE(res[k].reason.find("stopped advancing"), std::string::npos) << res[k].reason;
    }
    // Below u = 0 at the first step; back along the curve at the eleventh.
    EXPECT_TRUE(res[2].failed);
    EXPECT_EQ(res[2].steps, 1u);
    EXPECT_NE(res[2].reason.find("left the curve before its start"), std::string::npos);
    EXPECT_TRUE(res[4].failed);
    EXPECT_EQ(res[4].steps, 11u);
    EXPECT_NE(res[4].reason.find("moved backwards by"), std::string::npos) << res[4].reason;
    EXPECT_FALSE(res[5].failed) << res[5].reason;
    EXPECT_EQ(res[5].steps, prof.v.size());

    // Each row of the table carries its own verdict.
    std::istringstream table(format_summary(res));
    std::string line;
    std::getline(table, line); // header
    EXPECT_NE(line.find("[ns]"), std::string::npos);
    EXPECT_NE(line.find("[mm]"), std::string::npos);
    for (const method_result &r : res) {
        ASSERT_TRUE(std::getline(table, line));
        EXPECT_EQ(line.rfind(r.name, 0), 0u) << line;
        EXPECT_EQ(line.find("FAILED: ") != std::string::npos, r.failed) << line;
        if (r.failed) {
            EXPECT_NE(line.find(r.reason), std::string::npos) << line;
        }
    }
}

TEST_F(CompareRunLine, ArrivingAtTheEndWithoutClampingIsNotAStall) {
    // 2 mm/s is 5e-4 mm per period: 1998 full steps, then halving the last 1e-3 mm leaves less
    // than COMPARE_END_TOL = 1e-6 mm after 10 more.
    const feed_profile prof = make_profile(3000, [](std::size_t) { return 2.0; });
    const compare_method m{"halving_double", "", halving_the_rest};
    const method_result r = run_method(m, &curve, LINE_LEN, prof);
    EXPECT_FALSE(r.failed) << r.reason;
    EXPECT_TRUE(r.reached_end);
    EXPECT_GT(r.steps, 2000u);
    EXPECT_LT(r.steps, 2020u);
    EXPECT_LT(r.end_u, 1.0);
}

TEST_F(CompareRunLine, StandingStillIsNotAStall) {
    // At a feed of 0 (and below 1 mm/s) a parameter that does not move is correct.
    const feed_profile prof =
        make_profile(3 * COMPARE_STALL_SAMPLES, [](std::size_t i) { return i % 2 ? 0.0 : 0.5; });
    const compare_method stuck_method{"stuck_double", "", stuck};
    const method_result r = run_method(stuck_method, &curve, LINE_LEN, prof);
    EXPECT_FALSE(r.failed) << r.reason;
    EXPECT_EQ(r.steps, prof.v.size());
    EXPECT_EQ(r.scored, 0u);
    EXPECT_TRUE(std::isnan(r.fluct_max));
}

TEST(CompareRun, AdamsMoultonSeesTheMotionsTimeAndAFreshHistory) {
    nurbs_curve curve;
    nurbs_curve_alloc_file(BUNDLED_CURVE.c_str(), &curve);
    const double len = adaptiveSimpsons(nurbs_arc_len, &curve, 0.0, 1.0, 1e-12, 30);
    const compare_method *am = find_compare_method("get_u_AdamsMoulton");
    const compare_method *rk2 = find_compare_method("RK2");
    ASSERT_NE(am, nullptr);
    ASSERT_NE(rk2, nullptr);
    // Its first two periods (ct = 0 and T) are RK2 steps; from ct = 2T on it uses its history.
    for (std::size_t n : {1, 2, 3}) {
        const feed_profile prof = make_profile(n, [](std::size_t) { return 100.0; });
        const double u_am = run_method(*am, &curve, len, prof).end_u;
        const double u_rk2 = run_method(*rk2, &curve, len, prof).end_u;
        if (n < 3)
            EXPECT_EQ(u_am, u_rk2) << n << " samples";
        else
            EXPECT_NE(u_am, u_rk2) << n << " samples";
    }
    // A stale history from another motion does not change a run.
    const feed_profile prof = ramp_profile(200);
    reset_adams_moulton_history(0.0, 0.0);
    const method_result first = run_method(*am, &curve, len, prof);
    reset_adams_moulton_history(0.5, 0.25);
    const method_result second = run_method(*am, &curve, len, prof);
    EXPECT_FALSE(first.failed) << first.reason;
    ASSERT_EQ(first.steps, second.steps);
    EXPECT_EQ(first.end_u, second.end_u);
}

TEST(CompareRun, NearestRankPercentilesAndMethodNames) {
    std::vector<double> v;
    for (int i = 100; i >= 1; --i)
        v.push_back(i);
    EXPECT_EQ(nearest_rank(v, 0.5), 50);
    EXPECT_EQ(nearest_rank(v, 0.99), 99);
    EXPECT_EQ(nearest_rank(v, 0.9999), 100);
    std::vector<double> one = {7};
    EXPECT_EQ(nearest_rank(one, 0.5), 7);
    std::vector<double> none;
    EXPECT_TRUE(std::isnan(nearest_rank(none, 0.5)));

    EXPECT_EQ(compare_methods().size(), 9u);
    for (const compare_method &m : compare_methods()) {
        EXPECT_EQ(find_compare_method(m.name), &m);
        EXPECT_EQ(find_compare_method("get_u_" + std::string(m.name)), &m);
    }
    EXPECT_EQ(find_compare_method("newtonraphson"), find_compare_method("NewtonRaphson"));
    EXPECT_EQ(find_compare_method("Newton"), nullptr);
    EXPECT_EQ(find_compare_method(""), nullptr);
}

double jumping_ahead(const compare_step &in) {
    // Right until 0.01 mm, then to the end in one step (as the compiled-in table does on a
    // curve it was not made for).
    return in.u >= 0.01 / LINE_LEN ? 1.0 : in.u + in.v * in.T / LINE_LEN;
}
double running_ahead(const compare_step &in) {
    return in.u + 2.0 * in.v * in.T / LINE_LEN; // twice v*T: within the jump bound, drifting
}

TEST_F(CompareRunLine, JumpsAndDriftFailEvenWhenTheyReachTheEnd) {
    const feed_profile prof = make_profile(2000, [](std::size_t) { return 40.0; }); // 0.01 mm
    const method_result jump =
        run_method(compare_method{"jump", "", jumping_ahead}, &curve, LINE_LEN, prof);
    EXPECT_TRUE(jump.failed);
    EXPECT_FALSE(jump.reached_end) << "reaching the end by a jump is not an ok run";
    EXPECT_NE(jump.reason.find("jumped 0.99 mm in one period"), std::string::npos) << jump.reason;
    EXPECT_NE(jump.reason.find("at t = 0.00025 s"), std::string::npos) << jump.reason;

    // Twice v*T is no jump, but 0.1 mm + 1e-4 of the commanded length is crossed after about
    // 10 steps of 0.01 mm ahead: a failure with its time and place, not "ok, reached u = 1".
    const method_result ahead =
        run_method(compare_method{"ahead", "", running_ahead}, &curve, LINE_LEN, prof);
    EXPECT_TRUE(ahead.failed);
    EXPECT_NE(ahead.reason.find("drifted 0.1"), std::string::npos) << ahead.reason;
    EXPECT_EQ(ahead.steps, 11u);
}

TEST(CompareRun, ChordErrorOfALineIsZeroAndOfACircleIsTheSagitta) {
    nurbs_curve line;
    test_util::load_curve(test_util::straight_line(6, 3, 10.0), 3, &line);
    EXPECT_EQ(chord_error(&line, 0.1, 0.3), 0.0);
    EXPECT_EQ(chord_error(&line, 0.5, 0.5), 0.0);
    // The exact rational quarter circle of radius R: its parametrisation is not uniform in
    // angle, but the curve between two points is an arc, so the largest distance from the
    // chord is the sagitta R (1 - cos(theta/2)), theta the angle between the two points. The
    // midpoint in u is not the midpoint in angle, so the 15 samples find it to within the
    // sagitta's change over one sample spacing: below 1e-3 relative for these steps.
    nurbs_curve arc;
    const double R = 50, w = std::sqrt(0.5);
    test_util::load_curve({{R, 0, 0, 1}, {R, R, 0, w}, {0, R, 0, 1}}, 2, &arc);
    for (double u0 : {0.0, 0.3, 0.7})
        for (double du : {1e-4, 1e-2, 0.2}) {
            cart_point a, b;
            nurbs_deBoor_eval(u0, -1, &arc, &a, nullptr, nullptr, nullptr);
            nurbs_deBoor_eval(u0 + du, -1, &arc, &b, nullptr, nullptr, nullptr);
            const double theta = std::atan2(b.y, b.x) - std::atan2(a.y, a.x);
            const double sagitta = R * (1 - std::cos(theta / 2));
            EXPECT_NEAR(chord_error(&arc, u0, u0 + du), sagitta, 1e-3 * sagitta + 1e-15)
                << u0 << " " << du;
        }
}

TEST(CompareRun, RealisedAxisJerkOfAnExactMethodIsZeroOnALineAndVCubedOverRSquaredOnACircle) {
    // Newton-Raphson at a constant feed: the third differences of the positions it reaches,
    // once past the start from rest, are the axis jerk of the motion itself: none on a line,
    // v^3/R^2 in size on a circle (its largest component between that over sqrt 2 and that).
    const compare_method *newton = find_compare_method("NewtonRaphson");
    const double v = 200, R = 50;
    const feed_profile prof = make_profile(1200, [&](std::size_t) { return v; });
    nurbs_curve line, arc;
    test_util::load_curve(test_util::straight_line(6, 3, 100.0), 3, &line);
    const double w = std::sqrt(0.5);
    test_util::load_curve({{R, 0, 0, 1}, {R, R, 0, w}, {0, R, 0, 1}}, 2, &arc);
    const method_result on_line = run_method(*newton, &line, 100.0, prof);
    const method_result on_arc = run_method(*newton, &arc, M_PI * R / 2, prof);
    ASSERT_FALSE(on_line.failed || on_arc.failed) << on_line.reason << on_arc.reason;
    const double expected = v * v * v / (R * R);
    double line_max = 0, arc_min = HUGE_VAL, arc_max = 0;
    for (std::size_t k = 4; k < 1000; ++k) {
        line_max = std::max(line_max, on_line.axis_jerk[k]);
        arc_min = std::min(arc_min, on_arc.axis_jerk[k]);
        arc_max = std::max(arc_max, on_arc.axis_jerk[k]);
    }
    EXPECT_LT(line_max, 1.0); // mm/s^3: the positions' rounding over T^3
    EXPECT_NEAR(arc_max, expected, 1e-3 * expected);
    EXPECT_NEAR(arc_min, expected / std::sqrt(2.0), 1e-3 * expected);
}

// A double that carries state between steps: each step goes v*T plus a growing drift of its
// own counter, so its result depends on how many steps it has made.
double G_counter = 0;
double counting_step(const compare_step &in) {
    G_counter += 1;
    return in.u + in.v * in.T / LINE_LEN + 1e-12 * G_counter;
}
void save_counter(void *state) {
    std::memcpy(state, &G_counter, sizeof G_counter);
}
void restore_counter(const void *state) {
    std::memcpy(&G_counter, state, sizeof G_counter);
}

TEST_F(CompareRunLine, ReplayRestoresTheStateAndFindsTheWorkOfTheWorstStep) {
    const feed_profile prof = make_profile(400, [](std::size_t) { return 2.0; });
    compare_setup setup;
    setup.curve = &curve;
    setup.curve_length = LINE_LEN;
    // With its state saved and restored, every rerun gives the run's result.
    G_counter = 0;
    const compare_method stateful{
        "stateful",      "",    counting_step, [] { G_counter = 0; }, nullptr, save_counter,
        restore_counter, false, sizeof(double)};
    method_result r = run_method(stateful, setup, prof);
    ASSERT_FALSE(r.failed) << r.reason;
    replay_worst(stateful, setup, prof, r);
    EXPECT_TRUE(r.replayed);
    EXPECT_EQ(r.replay_error, "");
    EXPECT_EQ(G_counter, 400.0) << "the state the run left is given back";
    // Without them the replay sees the counter of the end of the run: an error, not a figure.
    const compare_method forgetful{"forgetful", "", counting_step, [] { G_counter = 0; }};
    method_result f = run_method(forgetful, setup, prof);
    replay_worst(forgetful, setup, prof, f);
    EXPECT_NE(f.replay_error.find("did not give the run's result"), std::string::npos);

    // Adams-Moulton's history is its state; its costliest step has integrand calls to count.
    const compare_method *am = find_compare_method("AdamsMoulton");
    method_result a = run_method(*am, setup, prof);
    ASSERT_FALSE(a.failed) << a.reason;
    replay_worst(*am, setup, prof, a);
    EXPECT_EQ(a.replay_error, "");
    EXPECT_GT(a.worst_calls, 0);
    EXPECT_GT(a.worst_replayed_ns, 0.0);
    EXPECT_LT(a.worst_replayed_sample, prof.v.size());
}

// ---- Never ok over a wrong run: the step lengths, the curve's end, the profile, the machine ----

// A profile of constant feed v (mm/s) whose travel is `travel` mm at period T, rounded down to
// whole samples.
feed_profile constant_travel(double v, double travel) {
    return make_profile(std::size_t(travel / (v * T)), [v](std::size_t) { return v; });
}

// The setup of a run of the curve of `m` with its accurate lengths.
compare_setup checked_setup(test_curves::measured_curve &m, joint_policy policy) {
    compare_setup setup;
    setup.curve = &m.curve;
    setup.curve_length = arc_table_length(m.arc);
    setup.arc = &m.arc;
    setup.policy = policy;
    setup.joints = joints_of(m.arc);
    return setup;
}

TEST(CompareRunTravel, AStretchTheQuadratureNeverSamplesFailsAndPlainCurvesRunOk) {
    // Degree 2, six points, interior knots 1e-9 apart: the straight runs (0,0)-(55,0) and
    // (55,30)-(110,30) at the same parameter speed on both sides, and the 30 mm between them
    // inside 2e-9 of parameter, where no Simpson step over a period ever samples.
    curve_def cluster;
    cluster.deg = 2;
    cluster.points = {{0, 0, 0, 1},   {27.5, 0, 0, 1},  {55, 0, 0, 1},
                      {55, 30, 0, 1}, {82.5, 30, 0, 1}, {110, 30, 0, 1}};
    cluster.knots = {0, 0, 0, 0.5, 0.5 + 1e-9, 0.5 + 2e-9, 1, 1, 1};
    test_curves::measured_curve m(cluster);
    // The polygon's three legs, to the curve's 3e-7 mm of rounding at the double knots.
    ASSERT_NEAR(arc_table_length(m.arc), 140.0, 1e-6);
    // make_profile's plan for it: rest to 100 mm/s and back, 139.5 mm.
    const feed_profile prof = feed_move_fit(139.5, 100, 2500, 50000, T).profile;
    for (const char *name : {"NewtonRaphson", "RK2"}) {
        const compare_method &method = *find_compare_method(name);
        // Measured by the quadrature alone, the run looks whole: it meets u = 1 a quarter of
        // the profile early with every step the right length.
        const method_result blind = run_method(method, &m.curve, arc_table_length(m.arc), prof);
        EXPECT_FALSE(blind.failed) << blind.reason;
        EXPECT_LT(blind.fluct_max, 1e-9);
        // Checked against the accurate length, the step across the knots fails the method, at
        // the 55 mm the tool reaches first.
        const method_result r = run_method(method, checked_setup(m, joint_policy::through), prof);
        EXPECT_TRUE(r.failed) << name;
        EXPECT_NE(r.reason.find("mm of the curve in one period"), std::string::npos) << r.reason;
        EXPECT_NE(r.reason.find("never sampled"), std::string::npos) << r.reason;
        EXPECT_NEAR(r.accurate, 55, 0.05);
    }
    // Plain curves with joints, strong weights and uneven knots: every method's every step
    // agrees with the accurate length, through the joints and split at them.
    const curve_def plain[] = {stadium(20, 30), alternating_weights(9, 4), random_cubic(12, 5)};
    for (const curve_def &c : plain) {
        test_curves::measured_curve p(c);
        const feed_profile run = constant_travel(100, arc_table_length(p.arc) - PROFILE_END_SLACK);
        for (joint_policy policy : {joint_policy::through, joint_policy::split})
            for (const compare_method &method : compare_methods()) {
                if (method.table) continue; // FCP's table belongs to another curve
                const method_result r = run_method(method, checked_setup(p, policy), run);
                EXPECT_EQ(r.reason.find("never sampled"), std::string::npos)
                    << method.name << ": " << r.reason;
                if (!r.failed) {
                    EXPECT_NEAR(r.travelled, r.accurate, 1e-9 * double(r.steps)) << method.name;
                }
            }
    }
}

TEST(CompareRunTravel, AProfileForALongerPathFailsAtTheCurvesEndAndIsToldBeforeTheRun) {
    nurbs_curve line;
    test_util::load_curve(test_util::straight_line(8, 3, 10.0), 3, &line);
    arc_table arc;
    arc_table_build(&line, &arc);
    compare_setup setup;
    setup.curve = &line;
    setup.curve_length = 10.0;
    setup.arc = &arc;
    const compare_method &newton = *find_compare_method("NewtonRaphson");
    // As make_profile plans it, 0.5 mm short: the profile ends before the curve does.
    const feed_profile fits = constant_travel(100, 9.5);
    const method_result ok = run_method(newton, setup, fits);
    EXPECT_FALSE(ok.failed) << ok.reason;
    EXPECT_FALSE(ok.reached_end);
    EXPECT_NEAR(10.0 - ok.accurate, 0.5, 1e-9);
    EXPECT_EQ(profile_fit_of(fits, T, 10.0).verdict, profile_travel::fits);
    // 12 mm on a 10 mm line: the end comes with 2 mm of the profile left, at 100 mm/s.
    const feed_profile longer = constant_travel(100, 12.0);
    const method_result r = run_method(newton, setup, longer);
    EXPECT_TRUE(r.failed);
    EXPECT_NE(r.reason.find("reached the curve's end"), std::string::npos) << r.reason;
    EXPECT_NE(r.reason.find("at a feed of 100 mm/s with 2 mm of the profile's commanded travel "
                            "still to go"),
              std::string::npos)
        << r.reason;
    const profile_fit f = profile_fit_of(longer, T, 10.0);
    EXPECT_EQ(f.verdict, profile_travel::too_long);
    EXPECT_NE(profile_fit_refusal(f, "p.txt", "line.nurbs").find("made for a longer path"),
              std::string::npos);
    // Within the drift bound (0.1 mm + 1e-4 of the travel) the end is no failure: 10.05 mm.
    const feed_profile just_over = constant_travel(100, 10.05);
    const method_result close = run_method(newton, setup, just_over);
    EXPECT_FALSE(close.failed) << close.reason;
    EXPECT_TRUE(close.reached_end);
    EXPECT_NEAR(close.profile_left, 0.05, 1e-6);
    EXPECT_EQ(profile_fit_of(just_over, T, 10.0).verdict, profile_travel::fits);
    // A profile much shorter than the curve is a partial run, said so.
    EXPECT_EQ(profile_fit_of(constant_travel(100, 2.0), T, 10.0).verdict, profile_travel::partial);
    EXPECT_EQ(profile_fit_refusal(profile_fit_of(constant_travel(100, 2.0), T, 10.0), "p", "c"),
              "");
}

TEST(CompareRunMachine, AProfileIsPlannedForAMachineWhenItsOwnPlanKeepsTheLimits) {
    // 100 mm/s round a circle of radius 50 mm: the axes accelerate by up to v^2/R = 200 mm/s^2
    // and jerk by up to v^3/R^2 = 400 mm/s^3; their velocities reach 100 mm/s.
    test_curves::measured_curve circle(circle9(50));
    const feed_profile prof = constant_travel(100, 300);
    machine_limits roomy;
    roomy.vel = {1000, 1000, 1000};
    roomy.acc = {400, 400, 400};
    roomy.jerk = {1e6, 1e6, 1e6};
    const machine_fit fine = machine_fit_of(plan_axis_motion(prof, circle.arc, T, &roomy), &roomy);
    EXPECT_TRUE(fine.machine);
    EXPECT_TRUE(fine.within);
    EXPECT_NEAR(fine.ratio, 0.5, 1e-6); // 200 of 400 mm/s^2, the largest of the three ratios
    EXPECT_STREQ(fine.what, "acceleration");
    machine_limits tight = roomy;
    tight.acc = {100, 100, 100};
    const machine_fit over = machine_fit_of(plan_axis_motion(prof, circle.arc, T, &tight), &tight);
    EXPECT_FALSE(over.within);
    EXPECT_NEAR(over.ratio, 2.0, 1e-6);
    EXPECT_NE(machine_fit_text(over).find("NOT planned for this machine"), std::string::npos);
    // No machine: nothing to be planned for.
    EXPECT_FALSE(machine_fit_of(plan_axis_motion(prof, circle.arc, T, nullptr), nullptr).machine);
}

TEST(CompareRun, NoiseFloorIsTheDistributionOfAnEmptyStep) {
    const noise_floor n = measure_noise(5000, compare_setup{});
    EXPECT_EQ(n.samples, 5000u);
    EXPECT_GT(n.median_ns, 0.0);
    EXPECT_LE(n.median_ns, n.p9999_ns);
    EXPECT_LE(n.p9999_ns, n.max_ns);
}

TEST(CompareSession, ResultsAreBoundedAndDroppedFromMemory) {
    // 80 bytes per sample and method; a method's state beyond two doubles counts as well.
    const std::vector<const compare_method *> nine = methods_in_list("");
    EXPECT_EQ(result_memory_problem(1388888, nine), "");
    EXPECT_EQ(result_memory_problem(1388890, nine),
              "1388890 samples x 9 methods need 1 GB of results (bound: 1 GB)");
    compare_method stateful{"big", "", nullptr};
    stateful.state_size = 1016; // 1000 bytes beyond two doubles: 1080 bytes per sample
    EXPECT_EQ(result_memory_problem(925925, {&stateful}), "");
    EXPECT_NE(result_memory_problem(925926, {&stateful}), "");
    // The suite keeps a result's statistics alone: its per-sample arrays' memory goes.
    method_result r = unrun_method(*find_compare_method("RK2"), 10000, "why");
    r.u_in.assign(10000, 0.0);
    r.state_in.assign(100, 1);
    drop_per_sample(r);
    EXPECT_EQ(r.rel_err.capacity() + r.chord_err.capacity() + r.call_ns.capacity() +
                  r.axis_jerk.capacity() + r.u_in.capacity() + r.state_in.capacity() +
                  r.at_joint.capacity(),
              0u);
    EXPECT_EQ(r.reason, "why");
}

} // namespace
