// Steps across joints: the split policy against the through policy on curves with joints (a
// circle with doubled knots, a stadium whose straight edge is shorter than one step), and the
// policy step itself with test doubles: a step that lands on a joint, two joints in one step, a
// joint in the last step, the restart of a method's history; and every method landing exactly
// on a joint at a constant feed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "compare/joint_step.hpp"
#include "compare/methods.hpp"
#include "compare/run.hpp"
#include "core/interpolate.hpp"
#include "plan/arc_length.hpp"
#include "plan/joints.hpp"
#include "shapes/reference_curves.hpp"
#include "shapes/suite_curves.hpp"
#include "profile_util.hpp"
#include "test_curves.hpp"

using namespace nurbs_interp;

namespace {

// Runs `method` over `prof` on the measured curve m under `policy`.
method_result run_policy(const compare_method &method, test_curves::measured_curve &m,
                         const feed_profile &prof, joint_policy policy) {
    compare_setup setup;
    setup.curve = &m.curve;
    setup.curve_length = arc_table_length(m.arc);
    setup.joints = joints_of(m.arc);
    setup.policy = policy;
    return run_method(method, setup, prof);
}

TEST(JointStep, SplitKeepsEveryMethodAtItsLevelAcrossTheJointsOfACircle) {
    // The circle with doubled knots and spans 1, 2, 1, 3 units long: |C'| jumps at its three
    // joints. At a constant 200 mm/s (its length is 314 mm: 6283 steps) every method, split at
    // the joints, misses them by no more than ten times what it misses elsewhere.
    test_curves::measured_curve m(suite_circle());
    ASSERT_EQ(joints_of(m.arc).u.size(), 3u);
    const feed_profile prof = test_util::make_profile(6000, [](std::size_t) { return 200.0; });
    for (const compare_method &method : compare_methods()) {
        if (method.table) continue; // FCP needs a table for this curve (the session fits one)
        const method_result split = run_policy(method, m, prof, joint_policy::split);
        ASSERT_FALSE(split.failed) << method.name << ": " << split.reason;
        ASSERT_FALSE(std::isnan(split.fluct_joints)) << method.name << ": no step at a joint";
        EXPECT_LE(split.fluct_joints, 10 * split.fluct_elsewhere + 1e-12) << method.name;
        // Through them, the methods that step from derivatives at u miss the joint steps by far
        // more than elsewhere (the case split is for).
        const method_result through = run_policy(method, m, prof, joint_policy::through);
        if (std::string(method.name) == "RK2") {
            EXPECT_GT(through.fluct_joints, 1000 * through.fluct_elsewhere);
        }
    }
}

TEST(JointStep, ThroughIsTheMethodsOwnStepBitForBit) {
    // The run under through gives the very parameters of calling the method step by step.
    test_curves::measured_curve m(suite_circle());
    const feed_profile prof = test_util::make_profile(500, [](std::size_t) { return 250.0; });
    for (const char *name : {"RK2", "AdamsMoulton", "Taylor2"}) {
        const compare_method &method = *find_compare_method(name);
        const method_result r = run_policy(method, m, prof, joint_policy::through);
        if (method.start) method.start();
        double u = 0, s = 0;
        for (std::size_t i = 0; i + 1 < r.steps; ++i) {
            const compare_step in{
                u,       s, prof.v[i], prof.a[i], prof.j[i], double(i) * SERVO_PERIOD, SERVO_PERIOD,
                &m.curve};
            const double un = method.step(in);
            ASSERT_EQ(un, r.u_in[i + 1]) << name << " step " << i;
            s += adaptiveSimpsons(nurbs_arc_len, &m.curve, u, un, 1e-12, 30);
            u = un;
        }
    }
}

TEST(JointStep, TwoJointsInOneStepAndAJointInTheLastStep) {
    // A stadium whose straight edges are 0.01 mm long: a step of 0.0625 mm passes two joints
    // (both ends of the second edge); the profile ends in the step that passes the second.
    test_curves::measured_curve m(stadium(20, 0.01));
    const joint_list joints = joints_of(m.arc);
    ASSERT_EQ(joints.u.size(), 5u);
    EXPECT_NEAR(joints.s[1] - joints.s[0], M_PI * 10, 1e-9);
    EXPECT_NEAR(joints.s[3] - joints.s[2], 0.01, 1e-12);
    const std::size_t n = std::size_t(joints.s[3] / 0.0625) + 1;
    const feed_profile prof = test_util::make_profile(n, [](std::size_t) { return 250.0; });
    const compare_method &rk2 = *find_compare_method("RK2");
    const method_result r = run_policy(rk2, m, prof, joint_policy::split);
    EXPECT_FALSE(r.failed) << r.reason;
    EXPECT_EQ(r.steps, n);
    EXPECT_TRUE(r.at_joint[n - 1]) << "the last step passes the second joint";
    EXPECT_LT(r.fluct_joints, 10 * r.fluct_elsewhere);
    std::size_t at_joints = 0;
    for (std::size_t i = 0; i < r.steps; ++i)
        at_joints += r.at_joint[i];
    EXPECT_EQ(at_joints, 3u) << "one step passed two joints at once";
    // Through the joints RK2 steps from the speed of the 0.01 mm edge over the whole period:
    // it jumps half the stadium at once.
    const method_result through = run_policy(rk2, m, prof, joint_policy::through);
    EXPECT_TRUE(through.failed);
    EXPECT_NE(through.reason.find("jumped"), std::string::npos) << through.reason;
}

// A test double that steps exactly v T / 10 in u (a line of length 10 mm per unit of u) and
// records the starts it is given.
std::vector<double> G_starts;
double tenth_step(const compare_step &in) {
    G_starts.push_back(in.u);
    return in.u + in.v * in.T / 10;
}
int G_restarts = 0;

// The speed of the test double's "line", 10 mm per unit of u.
double ten(double, void *) {
    return 10.0;
}

TEST(JointStep, ALandingOnAJointEndsOnItAndTheNextPeriodStartsOverFromIt) {
    // The policy step alone, with joints at u = 0.5 and 0.7 on a 10 mm "line" (s = 10 u).
    set_joint_integrand(ten);
    const joint_list joints{{0.5, 0.7}, {5.0, 7.0}};
    compare_method m{"tenth", "", tenth_step, [] { ++G_restarts; }};
    double restart = -1;
    // Ending on the joint, exactly or within rounding on either side: the tool goes to the
    // joint (its last parameter before it), the method does not step across it.
    const double before = std::nextafter(0.5, 0.0);
    for (double u0 : {0.25, 0.25 + 1e-13, 0.25 - 1e-13}) {
        G_starts.clear();
        const compare_step onto{u0, 2.5, 250, 0, 0, 0, 0.01, nullptr};
        EXPECT_EQ(policy_step(m, onto, joint_policy::split, joints, &restart), before) << u0;
        EXPECT_TRUE(G_starts.empty()) << u0;
    }
    // The next period has the joint ahead at no distance: the method starts over from the
    // joint, its motion counted from the period's start.
    G_starts.clear();
    G_restarts = 0;
    EXPECT_EQ(policy_step(m, {before, 5.0, 100, 0, 0, 0, 0.01, nullptr}, joint_policy::split,
                          joints, &restart),
              0.6);
    EXPECT_EQ(G_starts, std::vector<double>{0.5});
    EXPECT_EQ(G_restarts, 1);
    EXPECT_EQ(restart, 0.0);
    // Short of the joint by more than rounding (1e-6 mm): the method's own step.
    G_starts.clear();
    EXPECT_EQ(policy_step(m, {0.25 - 1e-7, 2.5, 250, 0, 0, 0, 0.01, nullptr}, joint_policy::split,
                          joints, &restart),
              0.5 - 1e-7);
    EXPECT_EQ(G_starts, std::vector<double>{0.25 - 1e-7});
    EXPECT_FALSE(crosses_joint(joints, 0.25, 0.5)) << "ending on a joint is not crossing it";
    EXPECT_TRUE(crosses_joint(joints, 0.45, 0.55));
    // The through policy never splits.
    G_starts.clear();
    policy_step(m, {0.45, 4.5, 250, 0, 0, 0, 0.01, nullptr}, joint_policy::through, joints,
                &restart);
    EXPECT_EQ(G_starts, std::vector<double>{0.45});
    EXPECT_EQ(crosses_joint(joints, 0.45, 0.7), true);
    set_joint_integrand(nullptr);
}

// A quarter circle 80 mm long (radius 160 / pi) and a straight edge of 50 mm, degree 2, a
// doubled knot between: |C'| and the curvature jump at the joint, s = 80 mm = 1280 x 0.0625.
curve_def arc_then_edge() {
    const double R = 160 / M_PI, w = std::sqrt(0.5);
    curve_def d;
    d.deg = 2;
    d.points = {{R, 0, 0, 1}, {R, R, 0, w}, {0, R, 0, 1}, {-25, R, 0, 1}, {-50, R, 0, 1}};
    d.knots = {0, 0, 0, 1, 1, 2, 2, 2};
    return d;
}

TEST(JointStep, EveryMethodLandsExactlyOnAJointAtAMultipleOfTheStep) {
    // At a constant 250 mm/s the 1280th period ends on the joint at s = 80 mm, on the rounded
    // rectangle (an edge, then a corner arc) and on an arc followed by an edge. Under split
    // the landing and the periods after it miss by no more than a method misses on either
    // side of the joint (or the landing's rounding, JOINT_LANDING_TOL of the step), and the
    // positions reached imply no more axis jerk at the landing than the path's own (the
    // curvature's jump).
    for (const curve_def &d : {rounded_rectangle(100, 60, 10), arc_then_edge()}) {
        test_curves::measured_curve m(d);
        ASSERT_NEAR(joints_of(m.arc).s[0], 80.0, 1e-12);
        const feed_profile prof = test_util::make_profile(1400, [](std::size_t) { return 250.0; });
        for (const compare_method &method : compare_methods()) {
            if (method.table) continue; // FCP needs a table for this curve (the session fits one)
            const method_result r = run_policy(method, m, prof, joint_policy::split);
            ASSERT_FALSE(r.failed) << method.name << ": " << r.reason;
            // What the method misses on either side of the joint, away from it.
            double sides = 0;
            for (std::size_t i = 1200; i < 1400; ++i)
                if (i < 1270 || i > 1290) sides = std::max(sides, r.rel_err[i]);
            const double bound = std::max(2 * sides, 2 * JOINT_LANDING_TOL) + 1e-12;
            for (std::size_t i : {1279, 1280, 1281})
                EXPECT_LE(r.rel_err[i], bound) << method.name << " at period " << i;
            EXPECT_LE(r.axis_jerk[1279], 2 * r.axis_jerk[1281] + 1) << method.name;
        }
    }
    // Through the joint, RK2 steps from the arc's derivatives onto the edge: the case split is
    // for (7e-4 of the step at the landing).
    test_curves::measured_curve m(arc_then_edge());
    const feed_profile prof = test_util::make_profile(1400, [](std::size_t) { return 250.0; });
    const method_result through =
        run_policy(*find_compare_method("RK2"), m, prof, joint_policy::through);
    EXPECT_GT(through.rel_err[1279], 1e-5);
}

TEST(JointStep, AdamsMoultonStartsItsHistoryOverAtTheJoint) {
    // Across a joint of the circle, Adams-Moulton's history holds the joint and nothing before
    // it, and its next periods are start-up periods again (they count from the joint).
    test_curves::measured_curve m(suite_circle());
    const joint_list joints = joints_of(m.arc);
    const compare_method &am = *find_compare_method("AdamsMoulton");
    const double uj = joints.u[0], sj = joints.s[0];
    const double v = 250, T = SERVO_PERIOD;
    // A period that starts 0.02 mm before the joint.
    const double s0 = sj - 0.02, u0 = arc_param_at(m.arc, s0);
    reset_adams_moulton_history(u0 - 0.001, u0 - 0.002);
    double restart = -1;
    const compare_step in{u0, s0, v, 0, 0, 1.0, T, &m.curve};
    const double un = policy_step(am, in, joint_policy::split, joints, &restart);
    double um1 = -1, um2 = -1;
    adams_moulton_history(&um1, &um2);
    EXPECT_EQ(um1, uj) << "the step went to the joint and on from there";
    EXPECT_EQ(um2, 0.0) << "nothing from before the joint";
    EXPECT_NEAR(restart, 0.02 / v, 1e-9) << "the motion started over at the joint";
    EXPECT_NEAR(arc_length_to(m.arc, un) - s0, v * T, 1e-9);
}

} // namespace
