// Tests of the interpolator comparison: its statistics and failure detection in-process with
// test-double methods on a straight line (where every step length is known), and the
// interp_compare program end to end on the bundled curve with a short profile.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "compare_report.hpp"
#include "compare_run.hpp"
#include "compare_stats.hpp"
#include "interpolate.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;

namespace {

using test_util::read_file;
using test_util::run;
using test_util::temp_dir;
using test_util::write_file;

constexpr double T = COMPARE_PERIOD;
const std::string PROGRAM = NURBS_BIN_DIR "/interp_compare";
const std::string BUNDLED_CURVE = NURBS_BUNDLED_DATA "/S1200X30quorbel.nurbs";

// A profile of n samples with feed v(i), no acceleration or jerk.
template <class F> feed_profile make_profile(std::size_t n, F feed) {
    feed_profile p;
    for (std::size_t i = 0; i < n; ++i) {
        p.v.push_back(feed(i));
        p.a.push_back(0.0);
        p.j.push_back(0.0);
    }
    return p;
}

// The profile text: the "N=" header, then feed, acceleration and jerk per line.
std::string profile_text(const feed_profile &p) {
    std::string text = "N=" + std::to_string(p.v.size()) + "\n";
    char line[128];
    for (std::size_t i = 0; i < p.v.size(); ++i) {
        std::snprintf(line, sizeof line, "%.17g %.17g %.17g\n", p.v[i], p.a[i], p.j[i]);
        text += line;
    }
    return text;
}

// A short, smooth start: the feed ramps up to 100 mm/s in 0.1 s (constant acceleration, with
// the matching a), then cruises; n samples, about 0.2 mm per 10 ms at cruise.
feed_profile ramp_profile(std::size_t n) {
    feed_profile p;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) * T;
        p.v.push_back(t < 0.1 ? 1000.0 * t : 100.0);
        p.a.push_back(t < 0.1 ? 1000.0 : 0.0);
        p.j.push_back(0.0);
    }
    return p;
}

// ---- In-process: statistics and failure detection with test doubles ----

// The straight line C(u) = (LINE_LEN*u, 0): every step's true length is LINE_LEN * du.
constexpr double LINE_LEN = 1.0; // mm

struct InterpCompareLine : ::testing::Test {
    temp_dir dir;
    nurbs_curve curve;
    void SetUp() override {
        test_util::load_curve(dir, test_util::straight_line(8, 3, LINE_LEN), 3, &curve);
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

TEST_F(InterpCompareLine, StatisticsScoreOnlyFastStepsThatEndBeforeTheCurveEnd) {
    // 100 mm/s is 0.025 mm per period, so the 1 mm line ends in the 40th step (1.01 * 39.6);
    // every fifth sample is slow (0.5 mm/s) and wildly wrong, and must not be scored.
    const feed_profile prof =
        make_profile(60, [](std::size_t i) { return i % 5 == 4 ? 0.5 : 100.0; });
    G_worst_s_mismatch = G_worst_t_mismatch = 0;
    G_calls = 0;
    const compare_method m{"overshoot", nullptr, overshooting_step, false};
    const method_result r = run_method(m, &curve, LINE_LEN, prof);

    // The expected run, step by step: where the parameter lands and which steps are scored.
    // The end step counts only when it is longer than v*T (the curve did not cut it short).
    double u = 0, drift = 0;
    std::size_t steps = 0, scored = 0;
    bool end_counted = false;
    for (std::size_t i = 0; i < prof.v.size(); ++i) {
        ++steps;
        const double factor = prof.v[i] >= 1 ? 1.01 : 2.0;
        const double un = u + factor * prof.v[i] * T / LINE_LEN;
        const double ds = (std::min(un, 1.0) - u) * LINE_LEN;
        if (un >= 1 && ds <= prof.v[i] * T) break;
        drift += ds - prof.v[i] * T;
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

TEST_F(InterpCompareLine, BrokenMethodsFailInTheirRowAndOthersRunOn) {
    const feed_profile prof = make_profile(300, [](std::size_t) { return 2.0; });
    const compare_method nan_method{"nan_double", nullptr, nan_at_sample_5, false};
    const compare_method stuck_method{"stuck_double", nullptr, stuck, false};
    const compare_method back_method{"backwards_double", nullptr, backwards, false};
    const compare_method creep_method{"creeping_double", nullptr, creeping, false};
    const compare_method jump_method{"jumping_back_double", nullptr, jumping_back, false};
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

TEST_F(InterpCompareLine, ArrivingAtTheEndWithoutClampingIsNotAStall) {
    // 2 mm/s is 5e-4 mm per period: 1998 full steps, then halving the last 1e-3 mm leaves less
    // than COMPARE_END_TOL = 1e-6 mm after 10 more.
    const feed_profile prof = make_profile(3000, [](std::size_t) { return 2.0; });
    const compare_method m{"halving_double", nullptr, halving_the_rest, false};
    const method_result r = run_method(m, &curve, LINE_LEN, prof);
    EXPECT_FALSE(r.failed) << r.reason;
    EXPECT_TRUE(r.reached_end);
    EXPECT_GT(r.steps, 2000u);
    EXPECT_LT(r.steps, 2020u);
    EXPECT_LT(r.end_u, 1.0);
}

TEST_F(InterpCompareLine, StandingStillIsNotAStall) {
    // At a feed of 0 (and below 1 mm/s) a parameter that does not move is correct.
    const feed_profile prof =
        make_profile(3 * COMPARE_STALL_SAMPLES, [](std::size_t i) { return i % 2 ? 0.0 : 0.5; });
    const compare_method stuck_method{"stuck_double", nullptr, stuck, false};
    const method_result r = run_method(stuck_method, &curve, LINE_LEN, prof);
    EXPECT_FALSE(r.failed) << r.reason;
    EXPECT_EQ(r.steps, prof.v.size());
    EXPECT_EQ(r.scored, 0u);
    EXPECT_TRUE(std::isnan(r.fluct_max));
}

TEST(InterpCompare, AdamsMoultonSeesTheMotionsTimeAndAFreshHistory) {
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

TEST(InterpCompare, NearestRankPercentilesAndMethodNames) {
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

// ---- End to end: the program on the bundled curve ----

struct InterpCompareProgram : ::testing::Test {
    temp_dir dir;
    std::string profile = dir.file("prof.txt");
    std::string out = dir.file("stdout");
    std::string err = dir.file("stderr");
    static constexpr std::size_t SAMPLES = 1200;
    void SetUp() override { write_file(profile, profile_text(ramp_profile(SAMPLES))); }
    // Runs the program with `args` and the bundled curve; returns its exit status.
    int compare(const std::string &args) {
        return run(PROGRAM + " --curve " + BUNDLED_CURVE + " " + args, out, err);
    }
    // Files in the directory other than the ones the test made (leftover temporaries).
    std::vector<std::string> strays(const std::vector<std::string> &expected) {
        std::vector<std::string> extra;
        for (const auto &e : std::filesystem::directory_iterator(dir.path)) {
            const std::string name = e.path().filename().string();
            bool known = name == "prof.txt" || name == "stdout" || name == "stderr";
            for (const std::string &x : expected)
                known = known || name == x;
            if (!known) extra.push_back(name);
        }
        return extra;
    }
};

// Returns the whitespace-separated fields of the table row starting with `name` (empty if none).
std::vector<std::string> row_of(const std::string &text, const std::string &name) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string w; fields >> w;)
            f.push_back(w);
        if (!f.empty() && f[0] == name) return f;
    }
    return {};
}

bool have_gnuplot() {
    return std::system("command -v gnuplot >/dev/null 2>&1") == 0;
}

TEST_F(InterpCompareProgram, FullRunReportsEveryMethodAndWritesCsvAndPlot) {
    if (!have_gnuplot())
        GTEST_SKIP()
            << "gnuplot is not installed (CI installs it: scripts/ensure_deps.sh gnuplot-nox)";
    const std::string csv = dir.file("run.csv");
    const std::string png = dir.file("run.png");
    ASSERT_EQ(compare("--profile " + profile + " --csv " + csv + " --plot " + png), 0)
        << read_file(err);
    const std::string text = read_file(out);

    for (const compare_method &m : compare_methods()) {
        const std::vector<std::string> row = row_of(text, m.name);
        ASSERT_GE(row.size(), 14u) << m.name << " row missing in\n" << text;
        EXPECT_EQ(row[13], "ok,") << m.name << ": " << text;
        // FCP's table belongs to the curve it was made for; the others measure this curve.
        if (std::string(m.name) != "FCP") {
            EXPECT_EQ(row[1], std::to_string(SAMPLES)) << m.name;
        }
    }
    // Newton-Raphson iterates the measured length to 1e-12 mm on steps of 0.25 um and more.
    const std::vector<std::string> newton = row_of(text, "NewtonRaphson");
    EXPECT_LT(std::stod(newton[2]), 1e-9) << text;
    EXPECT_NE(text.find("timer overhead"), std::string::npos);

    // CSV: a header and one row per sample, two fields per method after time and feed.
    std::istringstream lines(read_file(csv));
    std::string line;
    std::size_t rows = 0;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line.rfind("time_s,feed_mm_s,FCP_rel_err,FCP_call_ns,", 0), 0u) << line;
    const auto fields = [](const std::string &l) {
        return std::count(l.begin(), l.end(), ',') + 1;
    };
    const auto width = fields(line);
    EXPECT_EQ(width, 2 + 3 * 9);
    while (std::getline(lines, line)) {
        EXPECT_EQ(fields(line), width) << "row " << rows;
        ++rows;
    }
    EXPECT_EQ(rows, SAMPLES);

    const std::string image = read_file(png);
    ASSERT_GT(image.size(), 1000u);
    EXPECT_EQ(image.substr(1, 3), "PNG");
    EXPECT_EQ(strays({"run.csv", "run.png"}), std::vector<std::string>{});
}

TEST_F(InterpCompareProgram, MethodsSubsetInTheOrderGiven) {
    const std::string csv = dir.file("sub.csv");
    ASSERT_EQ(compare("--profile " + profile + " --methods get_u_RK2,taylor3 --csv " + csv), 0)
        << read_file(err);
    const std::string text = read_file(out);
    EXPECT_FALSE(row_of(text, "RK2").empty());
    EXPECT_FALSE(row_of(text, "Taylor3").empty());
    EXPECT_TRUE(row_of(text, "NewtonRaphson").empty());
    EXPECT_LT(text.find("\nRK2 "), text.find("\nTaylor3 "));
    const std::string head = read_file(csv).substr(0, read_file(csv).find('\n'));
    EXPECT_EQ(head, "time_s,feed_mm_s,RK2_rel_err,RK2_call_ns,Taylor3_rel_err,Taylor3_call_ns,"
                    "RK2_chord_err_mm,Taylor3_chord_err_mm");
}

TEST_F(InterpCompareProgram, BadInputsFailClearlyAndLeaveOutputsAlone) {
    // Outputs from an earlier run must survive a failed one untouched, with no temporaries.
    const std::string csv = dir.file("old.csv");
    const std::string png = dir.file("old.png");
    write_file(csv, "earlier csv\n");
    write_file(png, "earlier png\n");
    const std::string outputs = " --csv " + csv + " --plot " + png;
    auto unchanged = [&](const std::string &what) {
        EXPECT_EQ(read_file(csv), "earlier csv\n") << what;
        EXPECT_EQ(read_file(png), "earlier png\n") << what;
        EXPECT_EQ(strays({"old.csv", "old.png", "bad.nurbs", "bad.txt"}),
                  std::vector<std::string>{})
            << what;
    };

    // A curve file that does not open: the path and why, on stderr.
    const std::string missing = dir.file("missing.nurbs");
    EXPECT_EQ(run(PROGRAM + " --curve " + missing + " --profile " + profile + outputs, out, err),
              1);
    EXPECT_EQ(read_file(out), "");
    EXPECT_NE(read_file(err).find(missing + ": cannot open the curve file (No such file"),
              std::string::npos)
        << read_file(err);
    unchanged("missing curve");

    // A curve file with bad content: path and line.
    const std::string bad_curve = dir.file("bad.nurbs");
    write_file(bad_curve, "N5\tL3\tD2\nX0\tY0\tP1\nX1\tYoops\tP1\n");
    EXPECT_NE(run(PROGRAM + " --curve " + bad_curve + " --profile " + profile + outputs, out, err),
              0);
    EXPECT_NE(read_file(err).find(bad_curve + ":"), std::string::npos) << read_file(err);
    unchanged("bad curve");

    // A profile with a malformed sample: path and line.
    const std::string bad_prof = dir.file("bad.txt");
    write_file(bad_prof, "N=3\n1 0 0\n2 x 0\n3 0 0\n");
    EXPECT_NE(compare("--profile " + bad_prof + outputs), 0);
    EXPECT_NE(read_file(err).find(bad_prof + ":3:"), std::string::npos) << read_file(err);
    unchanged("bad profile");

    // A missing profile.
    EXPECT_NE(compare("--profile " + dir.file("none.txt") + outputs), 0);
    EXPECT_NE(read_file(err).find(dir.file("none.txt")), std::string::npos) << read_file(err);
    unchanged("missing profile");

    // Usage errors.
    EXPECT_EQ(compare("--profile " + profile + " --methods RK2,Newton" + outputs), 2);
    EXPECT_NE(read_file(err).find("Newton"), std::string::npos) << read_file(err);
    EXPECT_EQ(compare("--profile " + profile + " --frobnicate" + outputs), 2);
    EXPECT_EQ(compare("--profile"), 2);
    unchanged("usage errors");

    // An output that cannot be created is reported before the run.
    const std::string nowhere = dir.file("no/such/dir/out.csv");
    EXPECT_NE(compare("--profile " + profile + " --csv " + nowhere), 0);
    EXPECT_NE(read_file(err).find(nowhere), std::string::npos) << read_file(err);
    EXPECT_EQ(read_file(out), "");

    // Without gnuplot a plot is refused with a clear message, and the CSV is not written.
    EXPECT_NE(run("PATH=" + dir.path.string() + " " + PROGRAM + " --curve " + BUNDLED_CURVE +
                      " --profile " + profile + outputs,
                  out, err),
              0);
    EXPECT_NE(read_file(err).find("gnuplot"), std::string::npos) << read_file(err);
    unchanged("no gnuplot");
}

TEST_F(InterpCompareProgram, HelpExplainsOptionsAndColumns) {
    ASSERT_EQ(run(PROGRAM + " --help", out, err), 0);
    const std::string help = read_file(out);
    for (const char *word : {"--curve", "--profile", "--methods", "--csv", "--plot",
                             "timer overhead", "stopped", "NewtonRaphson", "1 mm/s"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
}

} // namespace
