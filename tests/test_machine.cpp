// The machine behind the path: the axis kinematics against finite differences of positions,
// the axis shares against the closed form of circular motion, profiles planned with axis
// limits (make_profile) checked sample by sample, independently of the planner, on the bundled
// curve, a circle, the part outline with its corners and a cusp; and the machine file, read
// and refused as a user writes it.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "plan/arc_length.hpp"
#include "io/feed_profile.hpp"
#include "io/machine_file.hpp"
#include "plan/joints.hpp"
#include "plan/machine.hpp"
#include "plan/plan_check.hpp"
#include "test_curves.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;

namespace {

const std::string BIN = NURBS_BIN_DIR;
const std::string MACHINES = NURBS_BUNDLED_DATA "/machines";

// The point at arc length s.
cart_point point_at(const arc_table &arc, double s) {
    cart_point P;
    nurbs_deBoor_eval(arc_param_at(arc, s), -1, arc.curve, &P, nullptr, nullptr, nullptr);
    return P;
}

TEST(AxisKinematics, MatchFiniteDifferencesOfPositionsOnACircle) {
    // A circle of radius 50 at a constant 200 mm/s: the axes move with velocity V along the
    // tangent and acceleration V^2/R toward the centre; central differences of the positions
    // in time agree to O(h^2).
    test_curves::measured_curve m(circle9(50));
    const double V = 200, h = 1e-4, R = 50;
    for (double s : {10.0, 77.7, 150.0, 222.2, 300.0}) {
        const cart_point a = point_at(m.arc, s - V * h), b = point_at(m.arc, s),
                         c = point_at(m.arc, s + V * h);
        cart_point P, d1, d2, d3, vel, acc, jerk;
        nurbs_deBoor_eval(arc_param_at(m.arc, s), -1, &m.curve, &P, &d1, &d2, &d3);
        compute_axial_vaj(&vel, &acc, &jerk, &d1, &d2, &d3, V, 0, 0);
        EXPECT_NEAR(vel.x, (c.x - a.x) / (2 * h), 1e-3) << s;
        EXPECT_NEAR(vel.y, (c.y - a.y) / (2 * h), 1e-3) << s;
        EXPECT_NEAR(acc.x, (c.x - 2 * b.x + a.x) / (h * h), 1e-2) << s;
        EXPECT_NEAR(acc.y, (c.y - 2 * b.y + a.y) / (h * h), 1e-2) << s;
        // Centripetal: V^2/R, pointing at the centre; the axis jerk of uniform circular motion
        // is V^3/R^2 in size.
        EXPECT_NEAR(std::hypot(acc.x, acc.y), V * V / R, 1e-9 * V * V / R);
        EXPECT_NEAR(acc.x * b.x + acc.y * b.y, -V * V / R * R, 1e-6);
        EXPECT_NEAR(std::hypot(jerk.x, jerk.y), V * V * V / (R * R), 1e-6 * V * V * V / (R * R));
    }
}

// Runs make_profile with `args`, writing `out`; returns its status and puts its output in *text.
int make_profile(const std::string &args, const std::string &out, std::string *text) {
    test_util::temp_dir dir;
    const int status = test_util::run(BIN + "/make_profile " + args + " -o " + out, dir.file("out"),
                                      dir.file("err"));
    *text = test_util::read_file(dir.file("out")) + test_util::read_file(dir.file("err"));
    return status;
}

// Returns the largest ratios to the limits of `m` of the axis accelerations and jerks that
// second and third differences of the positions at the samples give ((P_k+1 - 2 P_k + P_k-1) /
// T^2, (P_k+2 - 3 P_k+1 + 3 P_k - P_k-1) / T^3): the motion as the driver would produce it,
// independent of the planner and of compute_axial_vaj.
std::pair<double, double> realised_ratios(const feed_profile &p, const arc_table &arc,
                                          const machine_limits &m) {
    std::vector<cart_point> pts;
    double s = 0;
    for (double v : p.v) {
        pts.push_back(point_at(arc, s));
        s += v * m.period;
    }
    double acc = 0, jerk = 0;
    const double T = m.period;
    auto axis = [](const cart_point &q, int i) { return i == 0 ? q.x : i == 1 ? q.y : q.z; };
    for (std::size_t k = 1; k + 1 < pts.size(); ++k)
        for (int i = 0; i < 3; ++i) {
            const double a =
                (axis(pts[k + 1], i) - 2 * axis(pts[k], i) + axis(pts[k - 1], i)) / (T * T);
            if (m.acc[i] > 0) acc = std::max(acc, std::fabs(a) / m.acc[i]);
            if (k + 2 >= pts.size() || !(m.jerk[i] > 0)) continue;
            const double j = (axis(pts[k + 2], i) - 3 * axis(pts[k + 1], i) + 3 * axis(pts[k], i) -
                              axis(pts[k - 1], i)) /
                             (T * T * T);
            jerk = std::max(jerk, std::fabs(j) / m.jerk[i]);
        }
    return {acc, jerk};
}

TEST(AxisPlan, ProfilesStayWithinTheAxisLimitsSampleBySample) {
    test_util::temp_dir dir;
    {
        std::FILE *f = std::fopen(dir.file("circle.nurbs").c_str(), "w");
        curve_file_write(f, circle9(20));
        std::fclose(f);
    }
    const struct {
        std::string curve, machine;
        machine_limits limits;
    } cases[] = {{NURBS_BUNDLED_DATA "/S1200X30quorbel.nurbs",
                  "mill",
                  {{500, 500, 400}, {5000, 5000, 4000}, {2e5, 2e5, 1.5e5}, 0.00025}},
                 {dir.file("circle.nurbs"),
                  "router",
                  {{250, 250, 100}, {1500, 1500, 800}, {3e4, 3e4, 2e4}, 0.001}},
                 // Corners (rests) and arcs meeting lines (curvature jumps, feed capped there).
                 {NURBS_BUNDLED_DATA "/curves/part_outline.nurbs",
                  "router",
                  {{250, 250, 100}, {1500, 1500, 800}, {3e4, 3e4, 2e4}, 0.001}}};
    for (const auto &c : cases) {
        std::string text;
        const std::string out = dir.file(c.machine + ".txt");
        ASSERT_EQ(
            make_profile("--config " + MACHINES + "/" + c.machine + ".toml --curve " + c.curve, out,
                         &text),
            0)
            << text;
        EXPECT_NE(text.find("per limit, the largest ratio to it and where it binds"),
                  std::string::npos)
            << text;
        const feed_profile p = read_feed_profile_checked(out);
        EXPECT_EQ(profile_period(p), c.limits.period);
        nurbs_curve curve;
        nurbs_curve_alloc_file(c.curve.c_str(), &curve);
        arc_table arc;
        arc_table_build(&curve, &arc);
        EXPECT_LE(check_profile_axes(p, arc, c.limits).ratio, 1 + 1e-9) << c.machine;
        // The positions the driver would reach: their second and third differences stay within
        // the limits to the discretisation (a few percent), curvature jumps included.
        const auto [acc, jerk] = realised_ratios(p, arc, c.limits);
        EXPECT_LE(acc, 1.05) << c.curve;
        EXPECT_LE(jerk, 1.05) << c.curve;
    }
}

TEST(AxisPlan, AConfigFileAndTheOptionsGiveTheSameProfile) {
    test_util::temp_dir dir;
    std::string a, b;
    const std::string curve = " --curve " NURBS_BUNDLED_DATA "/curves/helix.nurbs";
    ASSERT_EQ(make_profile("--config " + MACHINES + "/router.toml" + curve, dir.file("a.txt"), &a),
              0)
        << a;
    ASSERT_EQ(make_profile("--axis-vel 250,250,100 --axis-acc 1500,1500,800 "
                           "--axis-jerk 30000,30000,20000 --period 0.001" +
                               curve,
                           dir.file("b.txt"), &b),
              0)
        << b;
    EXPECT_EQ(test_util::read_file(dir.file("a.txt")), test_util::read_file(dir.file("b.txt")));
    EXPECT_NE(test_util::read_file(dir.file("a.txt")).find("# period 0.001 s"), std::string::npos);
    // Options on the command line win over the file.
    ASSERT_EQ(make_profile("--config " + MACHINES + "/router.toml --period 0.0005" + curve,
                           dir.file("c.txt"), &a),
              0);
    EXPECT_NE(test_util::read_file(dir.file("c.txt")).find("# period 0.0005 s"), std::string::npos);
    // A wrong value in the file is named with its file and line.
    test_util::write_file(dir.file("bad.toml"), "axis-vel = [250, -1, 100]\n");
    EXPECT_EQ(make_profile("--config " + dir.file("bad.toml") + curve, dir.file("d.txt"), &a), 2);
    EXPECT_NE(a.find("bad.toml:1: axis-vel: -1 is outside [0.001, 1e+06] mm/s"), std::string::npos)
        << a;
    // A misspelt key is refused, not ignored.
    test_util::write_file(dir.file("typo.toml"),
                          "axis-vel = [250, 250, 100]\naxis-jrek = [1, 1, 1]\n");
    EXPECT_EQ(make_profile("--config " + dir.file("typo.toml") + curve, dir.file("e.txt"), &a), 2);
    EXPECT_NE(a.find("axis-jrek"), std::string::npos) << a;
}

TEST(AxisPlan, CornersAreStopsAndACuspAwayFromAKnotIsRefused) {
    // The part outline: four sharp corners in its slot, each a knot where the tangent turns by
    // 90 degrees. The plan comes to rest on each, to within 1e-9 mm.
    test_util::temp_dir dir;
    const std::string outline = NURBS_BUNDLED_DATA "/curves/part_outline.nurbs";
    std::string text;
    ASSERT_EQ(make_profile("--config " + MACHINES + "/mill.toml --curve " + outline,
                           dir.file("p.txt"), &text),
              0)
        << text;
    nurbs_curve curve;
    nurbs_curve_alloc_file(outline.c_str(), &curve);
    arc_table arc;
    arc_table_build(&curve, &arc);
    const std::vector<double> corners = curve_corners(&curve);
    ASSERT_EQ(corners.size(), 4u);
    const feed_profile p = read_feed_profile_checked(dir.file("p.txt"));
    std::vector<double> rests;
    double s = 0;
    for (std::size_t k = 0; k < p.v.size(); ++k) {
        if (p.v[k] == 0 && k > 0 && k + 1 < p.v.size()) rests.push_back(s);
        s += p.v[k] * 0.00025;
    }
    ASSERT_EQ(rests.size(), corners.size());
    for (std::size_t i = 0; i < corners.size(); ++i)
        EXPECT_NEAR(rests[i], arc_length_to(arc, corners[i]), 1e-9) << i;
    // A cubic whose speed vanishes inside its one span (a cusp at t = 1/2): no feed passes it
    // within finite axis accelerations, and it is no knot to stop at.
    test_util::write_file(dir.file("cusp.nurbs"),
                          "N4\tL3\tD2\nX0\tY0\tP1\nX10\tY10\tP1\nX0\tY10\tP1\nX10\tY0\tP1\n");
    EXPECT_EQ(make_profile("--config " + MACHINES + "/mill.toml --curve " + dir.file("cusp.nurbs"),
                           dir.file("q.txt"), &text),
              1);
    EXPECT_NE(text.find("the axis limits allow no feed at s ="), std::string::npos) << text;
    EXPECT_FALSE(std::ifstream(dir.file("q.txt")).good()) << "nothing written";
}

TEST(AxisShares, TheTangentialAccelerationAndTheCentripetalCapBindTogetherOnAnArc) {
    // On a circle of radius R about the origin, at feed V and path acceleration A, axis k
    // accelerates by t_k A + n_k V^2 / R (t the unit tangent, n = -P / R toward the centre):
    // closed form, independent of the planner's frame. At the axis cap and the path
    // acceleration limit together (accelerating or braking) every axis stays within its limit;
    // where the cap binds at 45 degrees both terms count (0.5 + 0.5 / sqrt(2) of the limit).
    const double R = 20;
    for (double tilt : {0.0, 0.6}) {
        test_curves::measured_curve c(circle9(R, tilt));
        machine_limits m;
        m.vel = {1e6, 1e6, 1e6}; // the acceleration shares alone
        m.acc = tilt == 0 ? std::array<double, 3>{1500, 1500, 1500}
                          : std::array<double, 3>{1500, 1200, 800};
        const double A = machine_path_acc(m, 1e12);
        double worst = 0;
        for (int i = 0; i <= 400; ++i) { // u = 1/8, 3/8, ...: 45 degrees on the nine-point circle
            const double u = i / 400.0;
            cart_point P, d1, d2, d3;
            nurbs_deBoor_eval(u, -1, &c.curve, &P, &d1, &d2, &d3);
            const axis_cap cap = axis_feed_cap(path_frame_at(d1, d2, d3), m, A);
            ASSERT_EQ(cap.kind, limit_kind::axis_acc) << u;
            const double V = cap.v, speed = modulus(&d1);
            for (int k = 0; k < 3; ++k) {
                const double t = axis_component(d1, k) / speed, n = -axis_component(P, k) / R;
                for (double a : {A, -A})
                    worst = std::max(worst, std::fabs(t * a + n * V * V / R) / m.acc[k]);
            }
        }
        EXPECT_LE(worst, 1 + 1e-9) << "tilt " << tilt;
        if (tilt == 0) {
            EXPECT_NEAR(worst, 0.5 + 0.5 / std::sqrt(2.0), 1e-12);
        }
    }
}

// ---------------------------------------------------------------- machine files

machine_file parsed(const std::string &text) {
    return parse_machine_file(text, "m.toml");
}

// Returns the message parsing `text` fails with ("" when it parses).
std::string refusal(const std::string &text) {
    try {
        parsed(text);
    } catch (const machine_file_error &e) {
        return e.what();
    }
    return "";
}

TEST(MachineFile, ReadsTheMachineKeysAsTomlWritesThem) {
    const machine_file m = parsed("# a router\n"
                                  "\"axis-vel\" = [250, 250.0, 1e2]  # mm/s\n"
                                  "axis-acc = [\n  1_500,\n  1500,   # Y\n  800,\n]\r\n"
                                  "\n"
                                  "axis-jerk=[3e4,3e4,2e4]\n"
                                  "period = 0.001\n");
    EXPECT_EQ(*m.vel, (std::array<double, 3>{250, 250, 100}));
    EXPECT_EQ(*m.acc, (std::array<double, 3>{1500, 1500, 800}));
    EXPECT_EQ(*m.jerk, (std::array<double, 3>{3e4, 3e4, 2e4}));
    EXPECT_EQ(*m.period, 0.001);
    const machine_file partial = parsed("axis-vel = 250, 250, 100\n");
    EXPECT_TRUE(partial.vel && !partial.acc && !partial.jerk && !partial.period);
}

TEST(MachineFile, AnythingButAMachineKeyInRangeIsRefusedNamingFileAndLine) {
    const struct {
        std::string text, message;
    } cases[] = {
        {"axis-vel = [250, 250, 100]\no = \"victim.txt\"\n",
         "m.toml:2: unknown key \"o\": a machine file holds only axis-vel, axis-acc, axis-jerk "
         "and period (outputs, curves and other options belong on the command line)"},
        {"axis-jrek = [1, 1, 1]\n", "m.toml:1: unknown key \"axis-jrek\""},
        {"[machine]\naxis-vel = [250, 250, 100]\n",
         "m.toml:1: [machine]: sections are not used in a machine file; write its keys "
         "(axis-vel, axis-acc, axis-jerk and period) at the top level, without a section line"},
        {"period = 0.001\nperiod = 0.002\n", "m.toml:2: period is given twice (first on line 1)"},
        {"axis-vel = [250, 250]\n",
         "m.toml:1: axis-vel takes three numbers, the limits of X, Y and Z ([X, Y, Z]); this "
         "gives 2"},
        {"axis-acc = [1500, \"fast\", 800]\n", "m.toml:1: axis-acc: \"\"fast\"\" is not a number"},
        {"axis-jerk = [3e4, nan, 2e4]\n", "m.toml:1: axis-jerk: \"nan\" is not a number"},
        {"axis-vel = [250, -1, 100]\n", "m.toml:1: axis-vel: -1 is outside [0.001, 1e+06] mm/s"},
        {"period = 10\n", "m.toml:1: period: 10 is outside [1e-05, 0.1] s"},
        {"period = [0.001]\n", "m.toml:1: period takes one number, not an array"},
        {"\naxis-vel = [250,\n250,\n", "m.toml:2: axis-vel: the array is not closed with ] "
                                       "before the end"},
        {"axis-vel [250, 250, 100]\n", "m.toml:1: expected a line \"key = value\""},
        {"period =\n", "m.toml:1: period has no value"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(refusal(c.text).rfind(c.message, 0), 0u) << refusal(c.text);
}

TEST(MachineFile, AMissingLimitIsRefusedNamedAndAMissingPeriodTakesTheDefaultSaidAloud) {
    test_util::temp_dir dir;
    const std::string curve = " --curve " NURBS_BUNDLED_DATA "/curves/circle.nurbs";
    std::string text;
    test_util::write_file(dir.file("m.toml"), "axis-vel = [250, 250, 100]\n"
                                              "axis-acc = [1500, 1500, 800]\nperiod = 0.001\n");
    EXPECT_EQ(make_profile("--config " + dir.file("m.toml") + curve, dir.file("a.txt"), &text), 2);
    EXPECT_NE(text.find("m.toml: the machine file gives no axis-jerk: a machine needs all three "
                        "axis limits (axis-vel, axis-acc, axis-jerk, X,Y,Z each), from the file or "
                        "the command line (--axis-jerk)"),
              std::string::npos)
        << text;
    // The command line may give what the file leaves out.
    EXPECT_EQ(make_profile("--config " + dir.file("m.toml") + " --axis-jerk 3e4,3e4,2e4" + curve,
                           dir.file("b.txt"), &text),
              0)
        << text;
    EXPECT_NE(test_util::read_file(dir.file("b.txt")).find("# period 0.001 s"), std::string::npos);
    // No period: the default, and a line that says so.
    test_util::write_file(dir.file("n.toml"), "axis-vel = [250, 250, 100]\naxis-acc = [1500, 1500, "
                                              "800]\naxis-jerk = [3e4, 3e4, 2e4]\n");
    ASSERT_EQ(make_profile("--config " + dir.file("n.toml") + curve, dir.file("c.txt"), &text), 0)
        << text;
    EXPECT_NE(text.find("make_profile: note: " + dir.file("n.toml") +
                        " gives no period: the default 0.00025 s applies"),
              std::string::npos)
        << text;
    EXPECT_EQ(profile_period(read_feed_profile_checked(dir.file("c.txt"))), 0.00025);
}

TEST(MachineFile, AComparisonRunsAProfileAtItsOwnPeriodAndSaysWhereTheFilesDiffers) {
    // interp_compare and interp_suite alike: a machine file's period is not imposed on a
    // profile; --period is, and its refusal says how to run at the profile's own.
    test_util::temp_dir dir;
    test_util::write_file(dir.file("m.toml"), "axis-vel = [250, 250, 100]\naxis-acc = [1500, "
                                              "1500, 800]\naxis-jerk = [3e4, 3e4, 2e4]\n"
                                              "period = 0.001\n");
    feed_profile p;
    for (int i = 0; i < 400; ++i) {
        p.v.push_back(i < 200 ? i * 0.5 : 100);
        p.a.push_back(0);
        p.j.push_back(0);
    }
    std::FILE *f = std::fopen(dir.file("p.txt").c_str(), "w");
    ASSERT_TRUE(feed_profile_write(f, p));
    std::fclose(f);
    test_util::write_file(dir.file("suite.txt"),
                          NURBS_BUNDLED_DATA "/S1200X30quorbel.nurbs p.txt\n");
    const std::string note = ": note: " + dir.file("p.txt") +
                             " runs at 0.00025 s, the period it was made for (it has no period "
                             "line), not at the machine file " +
                             dir.file("m.toml") + "'s period 0.001 s";
    const std::string compare =
        BIN + "/interp_compare --methods FCP --profile " + dir.file("p.txt");
    const std::string suite = BIN + "/interp_suite --no-plots --manifest " + dir.file("suite.txt") +
                              " --out " + dir.file("out");
    for (const std::string &tool : {compare, suite}) {
        const int status =
            test_util::run(tool + " --config " + dir.file("m.toml"), dir.file("o"), dir.file("e"));
        const std::string err = test_util::read_file(dir.file("e"));
        EXPECT_EQ(status, 0) << err;
        EXPECT_NE(err.find(note), std::string::npos) << err;
        EXPECT_EQ(test_util::run(tool + " --period 0.001", dir.file("o"), dir.file("e")), 1);
        EXPECT_NE(test_util::read_file(dir.file("e"))
                      .find("this run's is 0.001 s (--period); without --period it runs at "
                            "0.00025 s, the period it was made for"),
                  std::string::npos)
            << test_util::read_file(dir.file("e"));
    }
    EXPECT_NE(test_util::read_file(dir.file("out/summary.csv")).find(",0.00025,"),
              std::string::npos);
}

} // namespace
