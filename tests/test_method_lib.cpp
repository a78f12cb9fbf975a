// Methods loaded at run time (method_lib, contained_run, result_wire): a library refused with
// the file and the reason, a misbehaving method FAILED as a built-in one is (and the others
// going on), a run in a child process giving the result of one in this process bit for bit,
// the example method's figures on a circle, and interp_compare and interp_suite with
// --method-lib. The libraries are built from tests/method_libs/test_methods.c and
// examples/methods/rk4_ds.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring> // memcmp: results bit for bit
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h> // mkfifo
#include <vector>

#include "compare/method_lib.hpp"
#include "compare/report.hpp"
#include "compare/result_wire.hpp"
#include "compare/session.hpp"
#include "profile_util.hpp"
#include "shapes/flower.hpp"
#include "test_curves.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;

namespace {

using test_util::make_profile;
using test_util::profile_text;
using test_util::read_file;
using test_util::run;
using test_util::temp_dir;
using test_util::unwrapped;
using test_util::write_file;

const std::string COMPARE = NURBS_BIN_DIR "/interp_compare";
const std::string SUITE = NURBS_BIN_DIR "/interp_suite";

// Returns the path of a test library ("misbehaving", "clash", ..., "rk4": the example).
std::string lib(const std::string &variant) {
    return NURBS_BIN_DIR "/method_libs/libtest_methods_" + variant + ".so";
}

// The methods of the misbehaving library and of the example, loaded once for the process (a
// library is loaded once: a second time it is refused).
const std::vector<const compare_method *> &loaded() {
    static const std::vector<const compare_method *> methods = [] {
        std::vector<const compare_method *> m = load_method_library(lib("misbehaving"), {});
        const std::vector<const compare_method *> rk4 = load_method_library(lib("rk4"), m);
        m.insert(m.end(), rk4.begin(), rk4.end());
        return m;
    }();
    return methods;
}

const compare_method &method(const std::string &name) {
    const compare_method *m = find_compare_method(name, loaded());
    EXPECT_NE(m, nullptr) << name;
    return *m;
}

// Returns the message load_method_library throws for `path` ("" when it loads).
std::string refusal(const std::string &path, loaded_methods known = {}) {
    try {
        load_method_library(path, known);
    } catch (const method_library_error &e) {
        return e.what();
    }
    return "";
}

// A circle of radius R = 50 mm (nine points, joints at its quarters), measured, and the setup
// of a run on it.
struct circle_run {
    static constexpr double R = 50;
    test_curves::measured_curve circle{circle9(R)};
    compare_setup setup;
    circle_run() {
        setup.curve = &circle.curve;
        setup.curve_length = arc_table_length(circle.arc);
        setup.arc = &circle.arc;
        setup.joints = joints_of(circle.arc);
    }
};

// Returns the result named `name` among `results`.
const method_result &result(const std::vector<method_result> &results, const std::string &name) {
    for (const method_result &r : results)
        if (r.name == name) return r;
    ADD_FAILURE() << "no result for " << name;
    return results.front();
}

// True when the two arrays hold the same bits (NaN included).
bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// ---- Loading ----

TEST(MethodLib, ALibraryIsRefusedNamingTheFileAndTheReason) {
    temp_dir dir;
    write_file(dir.file("text.so"), "not a shared object\n");
    // A FIFO would block the loader's open until a writer came.
    ASSERT_EQ(mkfifo(dir.file("fifo.so").c_str(), 0600), 0);
    const struct {
        std::string path, reason;
    } cases[] = {
        {dir.file("text.so"), "cannot be loaded ("},
        {dir.file("missing.so"), "cannot open the method library (No such file or directory)"},
        {dir.path.string(), "is a directory, not a method library"},
        {dir.file("fifo.so"), "not a regular file, so not a method library"},
        {"/dev/zero", "not a regular file, so not a method library"},
        {lib("noentry"), "no entry point nurbs_interp_methods: not a method library"},
        {lib("version"), "built against version 999 of the method interface (nurbs_method.h); "
                         "this program takes version 1"},
        {lib("layout"), "its records are"},
        {lib("clash"), "method 1 (rk2): its name is that of the built-in method RK2"},
        {lib("badname"), "method 1 (my method): its name holds a character other than letters"},
    };
    for (const auto &c : cases) {
        const std::string why = refusal(c.path);
        EXPECT_EQ(why.rfind(c.path + ": ", 0), 0u) << why;
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
    // A name another library has, in other letters; a library given twice.
    const std::vector<const compare_method *> twin = load_method_library(lib("twin"), {});
    ASSERT_EQ(twin.size(), 1u);
    EXPECT_STREQ(twin[0]->library, lib("twin").c_str());
    EXPECT_NE(
        refusal(lib("twin2"), twin).find("(TWIN): its name is that of a method of " + lib("twin")),
        std::string::npos)
        << refusal(lib("twin2"), twin);
    EXPECT_NE(refusal(lib("twin"), twin).find("the library " + lib("twin") + " again"),
              std::string::npos);
    // Nothing of a refused library is known afterwards.
    EXPECT_EQ(find_compare_method("TWIN", twin), twin[0]);
    EXPECT_EQ(find_compare_method("Old", twin), nullptr);
}

TEST(MethodLib, LoadedMethodsAreFoundByNameAndListedAfterTheBuiltInOnes) {
    const std::vector<const compare_method *> &m = loaded();
    EXPECT_EQ(&method("rk4_ds"), &method("get_u_RK4_DS"));
    EXPECT_EQ(unknown_method_in("RK2,RK4_ds,Counter", m), "");
    EXPECT_NE(unknown_method_in("RK4_ds", {}).find("unknown method \"RK4_ds\""), std::string::npos);
    const std::vector<const compare_method *> all = methods_in_list("", m);
    ASSERT_EQ(all.size(), compare_methods().size() + m.size());
    EXPECT_EQ(all[compare_methods().size()], m[0]);
    EXPECT_NE(compare_method_names(m).find(", RK4_ds"), std::string::npos);
    EXPECT_EQ(loaded_method_about(method("RK4_ds")),
              "classical Runge-Kutta of du/ds = 1/|C'| over v*T (four C' per step)");
    EXPECT_EQ(method("Counter").state_size, sizeof(double));
    EXPECT_TRUE(method_iterative(method("Newton")));
    EXPECT_TRUE(method("TableReader").table);
}

// ---- Running them: contained, and exactly as the built-in ones ----

TEST(MethodLib, AMisbehavingMethodFailsWithTheReasonAndTheOthersGoOn) {
    // 2000 periods at 200 mm/s: 100 mm of the circle. Each misbehaving method turns bad 10 ms
    // into its motion.
    circle_run c;
    const feed_profile prof = make_profile(2000, [](std::size_t) { return 200.0; });
    const std::vector<const compare_method *> methods = methods_in_list(
        "RK2,NaNStep,Backwards,BeforeStart,Hang,Crash,Exits,Forgetful,Counter,Newton,"
        "NewtonRaphson",
        loaded());
    const std::vector<method_result> r = run_methods(methods, c.setup, prof, "", false);
    for (const char *ok : {"RK2", "Counter", "Newton", "NewtonRaphson"}) {
        EXPECT_FALSE(result(r, ok).failed) << ok << ": " << result(r, ok).reason;
        EXPECT_TRUE(result(r, ok).replayed) << ok;
    }
    const struct {
        const char *name, *reason;
    } failures[] = {
        {"NaNStep", "non-finite parameter (nan) at t = 0.01 s from u = "},
        {"Backwards", "moved backwards by "},
        {"BeforeStart", "left the curve before its start: u = -0.5 at t = 0.01 s"},
        {"Hang", "stopped: a call had not returned after 1 s (the bound on one call of a loaded "
                 "method), in its step from u = "},
        {"Crash", "crashed: signal 6 (Aborted) in its step from u = "},
        {"Exits", "its process exited with status 3 in its step from u = "},
        {"Forgetful", "did not give the run's result (its state was not restored)"},
    };
    for (const auto &f : failures) {
        const method_result &m = result(r, f.name);
        EXPECT_TRUE(m.failed) << f.name;
        EXPECT_NE(m.reason.find(f.reason), std::string::npos) << f.name << ": " << m.reason;
    }
    // The step a crash or a stop interrupted is named by where it started: 10 ms in.
    EXPECT_NE(result(r, "Crash").reason.find("at t = 0.01 s"), std::string::npos);
    // The corrector loop a loaded method reports is counted as the built-in ones' are.
    const method_result &newton = result(r, "Newton");
    EXPECT_TRUE(newton.iterative);
    EXPECT_GE(newton.iter_max, 1);
    EXPECT_EQ(newton.stops.tolerance + newton.stops.bound, long(newton.steps));
    EXPECT_LT(newton.fluct_max, 1e-9);
}

TEST(MethodLib, ARunInAProcessOfItsOwnGivesTheResultOfOneInThisProcessBitForBit) {
    circle_run c;
    const feed_profile prof = make_profile(3000, [](std::size_t i) { return 100.0 + 0.05 * i; });
    const std::vector<const compare_method *> methods =
        methods_in_list("Counter,Newton,RK4_ds", loaded());
    for (joint_policy policy : {joint_policy::through, joint_policy::split}) {
        c.setup.policy = policy;
        c.setup.loaded_in_process = false;
        const std::vector<method_result> child = run_methods(methods, c.setup, prof, "", false);
        c.setup.loaded_in_process = true;
        const std::vector<method_result> here = run_methods(methods, c.setup, prof, "", false);
        for (std::size_t k = 0; k < methods.size(); ++k) {
            const method_result &a = child[k], &b = here[k];
            EXPECT_FALSE(a.failed) << a.name << ": " << a.reason;
            EXPECT_TRUE(same_bits(a.rel_err, b.rel_err)) << a.name;
            EXPECT_TRUE(same_bits(a.chord_err, b.chord_err)) << a.name;
            EXPECT_TRUE(same_bits(a.axis_jerk, b.axis_jerk)) << a.name;
            EXPECT_EQ(a.at_joint, b.at_joint) << a.name;
            EXPECT_EQ(a.end_u, b.end_u) << a.name;
            EXPECT_EQ(a.travelled, b.travelled) << a.name;
            EXPECT_EQ(a.iter_mean, b.iter_mean) << a.name;
            EXPECT_EQ(a.worst_calls > 0, b.worst_calls > 0) << a.name;
            EXPECT_EQ(a.policy, policy);
        }
    }
}

TEST(MethodLib, AMethodOnTheTableReadsItAsFCPDoes) {
    // TableReader returns the run's table at s + v*T as FCP reads it: the same run bit for bit,
    // on a table fitted for the circle (through and split at its joints) and on the compiled-in
    // table of the bundled curve.
    circle_run c;
    const feed_profile prof = make_profile(5000, [](std::size_t) { return 250.0; });
    const fcp_choice fitted = choose_fcp_table("", c.circle.arc, "circle", 250 * COMPARE_PERIOD);
    ASSERT_TRUE(fitted.table.has_value());
    c.setup.fcp = &*fitted.table;
    const std::vector<const compare_method *> pair = methods_in_list("FCP,TableReader", loaded());
    for (joint_policy policy : {joint_policy::through, joint_policy::split}) {
        c.setup.policy = policy;
        const std::vector<method_result> r = run_methods(pair, c.setup, prof, "", false);
        EXPECT_FALSE(r[1].failed) << r[1].reason;
        EXPECT_TRUE(same_bits(r[0].rel_err, r[1].rel_err));
        EXPECT_EQ(r[0].end_u, r[1].end_u);
    }
    test_curves::measured_curve bundled(flower_curve());
    compare_setup setup;
    setup.curve = &bundled.curve;
    setup.curve_length = arc_table_length(bundled.arc);
    const std::vector<method_result> r =
        run_methods(pair, setup, test_util::ramp_profile(1200), "", false);
    EXPECT_TRUE(same_bits(r[0].rel_err, r[1].rel_err));
    EXPECT_EQ(r[0].end_u, r[1].end_u);
}

TEST(MethodLib, TheExampleStepsAlongACircleToItsExactFigures) {
    // RK4 in arc length at 200 mm/s on a circle of 50 mm: every step v*T = 0.05 mm of arc, to
    // the method's O(h^5) (3.7e-13 of it measured); the chord error of such a step is the
    // sagitta R (1 - cos(vT / 2R)) (the chord estimator samples 15 points, within 1e-3 of it).
    // Through the circle's joints, where the speed's derivative jumps, its stages straddle the
    // kink (1.2e-5 there); split at them it keeps its accuracy, and ends 0.5 mm before the
    // curve's end as the profile does.
    circle_run c;
    const double v = 200, L = 2 * M_PI * circle_run::R;
    ASSERT_NEAR(c.setup.curve_length, L, 1e-9);
    const std::size_t n = std::size_t((L - 0.5) / (v * COMPARE_PERIOD));
    const feed_profile prof = make_profile(n, [v](std::size_t) { return v; });
    const double sagitta = circle_run::R * (1 - std::cos(v * COMPARE_PERIOD / (2 * circle_run::R)));
    for (joint_policy policy : {joint_policy::through, joint_policy::split}) {
        c.setup.policy = policy;
        const std::vector<method_result> r =
            run_methods(methods_in_list("RK4_ds", loaded()), c.setup, prof, "", false);
        const method_result &rk4 = r[0];
        ASSERT_FALSE(rk4.failed) << rk4.reason;
        EXPECT_EQ(rk4.steps, n);
        EXPECT_TRUE(rk4.replayed);
        EXPECT_LT(rk4.fluct_elsewhere, 1e-11);
        EXPECT_NEAR(rk4.chord_max, sagitta, 1e-3 * sagitta);
        if (policy == joint_policy::split) {
            EXPECT_LT(rk4.fluct_max, 1e-11);
            EXPECT_NEAR(rk4.accurate, double(n) * v * COMPARE_PERIOD, 1e-9);
        }
    }
}

// ---- The bytes of a result ----

TEST(MethodLib, AResultTravelsAsBytesWholeOrNotAtAll) {
    method_result r;
    r.name = "x";
    r.reason = "why";
    r.rel_err = {1.5, std::nan(""), -0.0};
    r.at_joint = {0, 1, 0};
    r.state_in = {1, 2, 3, 4};
    r.stops.bound = 7;
    r.worst_replayed_sample = 42;
    const std::string bytes = result_to_bytes(r);
    method_result back;
    ASSERT_TRUE(result_from_bytes(bytes, &back));
    EXPECT_EQ(back.name, "x");
    EXPECT_EQ(back.reason, "why");
    EXPECT_TRUE(same_bits(back.rel_err, r.rel_err));
    EXPECT_EQ(back.at_joint, r.at_joint);
    EXPECT_EQ(back.state_in, r.state_in);
    EXPECT_EQ(back.stops.bound, 7);
    EXPECT_EQ(back.worst_replayed_sample, 42u);
    for (std::size_t cut : {std::size_t(0), std::size_t(5), bytes.size() - 1})
        EXPECT_FALSE(result_from_bytes(bytes.substr(0, cut), &back)) << cut;
    EXPECT_FALSE(result_from_bytes(bytes + "x", &back));
    std::string huge = bytes;
    huge[0] = '\xff'; // the name's length, far beyond the bytes there are
    EXPECT_FALSE(result_from_bytes(huge, &back));
}

// ---- The programs ----

struct MethodLibPrograms : ::testing::Test {
    temp_dir dir;
    std::string curve = dir.file("circle.nurbs"), profile = dir.file("prof.txt");
    std::string out = dir.file("stdout"), err = dir.file("stderr");
    void SetUp() override {
        write_file(curve, curve_file_text(circle9(50)));
        write_file(profile, profile_text(make_profile(2000, [](std::size_t) { return 200.0; })));
    }
    int compare(const std::string &args) {
        return run(COMPARE + " --curve " + curve + " --profile " + profile + " " + args, out, err);
    }
};

// Returns the second field (the status) of the table row of `name` ("" when there is none).
std::string row_status(const std::string &text, const std::string &name) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string first, second;
        if (fields >> first >> second && first == name) return second;
    }
    return "";
}

// Returns the CSV's columns by name: column -> values (as text), rows in order.
std::vector<std::pair<std::string, std::vector<std::string>>> csv_columns(const std::string &text) {
    std::vector<std::pair<std::string, std::vector<std::string>>> cols;
    std::istringstream in(text);
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string f;
        for (std::size_t k = 0; std::getline(fields, f, ','); ++k) {
            if (header)
                cols.push_back({f, {}});
            else if (k < cols.size())
                cols[k].second.push_back(f);
        }
        header = false;
    }
    return cols;
}

TEST_F(MethodLibPrograms, InterpCompareRunsALoadedMethodBesideTheNine) {
    // --methods before --method-lib on the command line: the name is known all the same.
    ASSERT_EQ(compare("--methods RK2,RK4_ds --method-lib " + lib("rk4") + " --summary " +
                      dir.file("s.csv")),
              0)
        << read_file(err);
    const std::string text = read_file(out);
    EXPECT_NE(unwrapped(text).find("loaded: RK4_ds of " + lib("rk4") + " (classical Runge-Kutta"),
              std::string::npos)
        << text;
    EXPECT_NE(unwrapped(text).find("each run in a process of its own"), std::string::npos);
    EXPECT_EQ(row_status(text, "RK4_ds"), "ok") << text;
    EXPECT_NE(read_file(dir.file("s.csv")).find(",RK4_ds,2000,"), std::string::npos);
    // The nine's per-sample figures are the same with a library loaded and its method run
    // beside them (all columns but the times).
    ASSERT_EQ(compare("--csv " + dir.file("nine.csv")), 0) << read_file(err);
    ASSERT_EQ(compare("--in-process --method-lib " + lib("rk4") + " --csv " + dir.file("ten.csv")),
              0)
        << read_file(err);
    EXPECT_NE(unwrapped(read_file(out)).find("run in this process (--in-process)"),
              std::string::npos);
    const auto nine = csv_columns(read_file(dir.file("nine.csv")));
    const auto ten = csv_columns(read_file(dir.file("ten.csv")));
    std::size_t compared = 0;
    for (const auto &[name, values] : nine) {
        if (name.find("_call_ns") != std::string::npos) continue;
        bool found = false;
        for (const auto &[other, other_values] : ten)
            if (other == name) {
                found = true;
                EXPECT_EQ(values, other_values) << name;
                ++compared;
            }
        EXPECT_TRUE(found) << name;
    }
    EXPECT_EQ(compared, 2 + 9 * 4u);
    for (const char *col : {"RK4_ds_rel_err", "RK4_ds_chord_err_mm", "RK4_ds_axis_jerk_mm_s3"}) {
        bool found = false;
        for (const auto &c : ten)
            found = found || c.first == col;
        EXPECT_TRUE(found) << col;
    }
}

TEST_F(MethodLibPrograms, ARefusedLibraryStopsTheProgramBeforeAnyRun) {
    write_file(dir.file("text.so"), "text\n");
    write_file(dir.file("s.csv"), "earlier\n");
    const struct {
        std::string path, reason;
    } cases[] = {{lib("clash"), "its name is that of the built-in method RK2"},
                 {lib("noentry"), "no entry point nurbs_interp_methods"},
                 {lib("version"), "built against version 999"},
                 {dir.file("text.so"), "cannot be loaded ("}};
    for (const auto &c : cases) {
        // Named in --methods too: the library's refusal, not an unknown name.
        EXPECT_EQ(compare("--methods RK2,Old --method-lib " + lib("rk4") + " --method-lib " +
                          c.path + " --summary " + dir.file("s.csv")),
                  1)
            << c.path;
        EXPECT_EQ(read_file(out), "") << c.path;
        EXPECT_NE(read_file(err).find("interp_compare: " + c.path + ": "), std::string::npos)
            << read_file(err);
        EXPECT_NE(read_file(err).find(c.reason), std::string::npos) << read_file(err);
        EXPECT_EQ(read_file(dir.file("s.csv")), "earlier\n");
    }
    // The same library twice; a name no library has is still a wrong command line.
    EXPECT_EQ(compare("--method-lib " + lib("rk4") + " --method-lib " + lib("rk4")), 1);
    EXPECT_NE(read_file(err).find("the library " + lib("rk4") + " again"), std::string::npos);
    EXPECT_EQ(compare("--method-lib " + lib("rk4") + " --methods RK5"), 2);
    EXPECT_NE(read_file(err).find("unknown method \"RK5\" (known: FCP, "), std::string::npos);
    EXPECT_NE(read_file(err).find(", RK4_ds)"), std::string::npos) << read_file(err);
    // --in-process means something only with a library.
    EXPECT_EQ(compare("--in-process"), 2);
    EXPECT_NE(read_file(err).find("--in-process requires --method-lib"), std::string::npos)
        << read_file(err);
    // A library is an input: no output may overwrite it.
    std::filesystem::copy_file(lib("rk4"), dir.file("mine.so"));
    const std::string before = read_file(dir.file("mine.so"));
    EXPECT_EQ(compare("--method-lib " + dir.file("mine.so") + " --csv " + dir.file("mine.so")), 1);
    EXPECT_EQ(read_file(dir.file("mine.so")), before);
}

TEST_F(MethodLibPrograms, TenMethodsHaveTenLineStylesInThePlot) {
    const std::string bin = dir.file("bin"), script = dir.file("script.gp");
    std::filesystem::create_directory(bin);
    write_file(bin + "/gnuplot", "#!/bin/sh\ncat >" + script + "\nexit 3\n");
    std::filesystem::permissions(bin + "/gnuplot", std::filesystem::perms::owner_all);
    run("PATH=" + bin + ":/usr/bin:/bin " + COMPARE + " --curve " + curve + " --profile " +
            profile + " --method-lib " + lib("rk4") + " --plot " + dir.file("p.png"),
        out, err);
    const std::string gp = read_file(script);
    ASSERT_NE(gp.find("relative feed error"), std::string::npos) << read_file(err);
    const std::string errors = gp.substr(gp.find("plot ", gp.find("relative feed error")));
    std::set<std::string> styles;
    for (std::size_t at = 0; (at = errors.find(" lc rgb '", at)) != std::string::npos; ++at) {
        const std::size_t dt = errors.find(" dt ", at) + 4;
        styles.insert(errors.substr(at + 9, 7) + errors.substr(dt, errors.find(' ', dt) - dt));
        if (errors.find('\n') < at) break;
    }
    EXPECT_EQ(styles.size(), 10u);
}

TEST_F(MethodLibPrograms, InterpSuiteRunsALoadedMethodInEveryRun) {
    const std::string manifest = dir.file("suite.txt"), suite_out = dir.file("out");
    write_file(manifest, "circle.nurbs prof.txt\n");
    ASSERT_EQ(run(SUITE + " --manifest " + manifest + " --out " + suite_out +
                      " --no-plots --joints both --method-lib " + lib("rk4"),
                  out, err),
              0)
        << read_file(err);
    const std::string csv = read_file(suite_out + "/summary.csv");
    for (const char *policy : {"through", "split"})
        EXPECT_NE(csv.find(std::string("circle.nurbs,prof.txt,") + policy + ",0.00025,RK4_ds,"),
                  std::string::npos)
            << csv;
    EXPECT_NE(read_file(out).find("runs of 10 methods"), std::string::npos) << read_file(out);
    // A refused library: nothing runs, nothing is written.
    std::filesystem::remove_all(suite_out);
    EXPECT_EQ(run(SUITE + " --manifest " + manifest + " --out " + suite_out +
                      " --no-plots --method-lib " + lib("clash"),
                  out, err),
              1);
    EXPECT_NE(read_file(err).find("interp_suite: " + lib("clash") + ": method 1 (rk2)"),
              std::string::npos)
        << read_file(err);
    EXPECT_FALSE(std::filesystem::exists(suite_out + "/summary.csv"));
}

} // namespace
