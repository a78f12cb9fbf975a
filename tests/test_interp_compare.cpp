// The interp_compare program end to end on the bundled curve with a short profile: its
// report, CSV and plot, its options, and its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "compare/report.hpp"
#include "compare/methods.hpp"
#include "compare/run.hpp"
#include "plan/joints.hpp"
#include "compare/stats.hpp"
#include "core/interpolate.hpp"
#include "profile_util.hpp"
#include "test_curves.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;

namespace {

using test_util::csv_fields;
using test_util::make_profile;
using test_util::profile_text;
using test_util::ramp_profile;
using test_util::read_file;
using test_util::run;
using test_util::temp_dir;
using test_util::unwrapped;
using test_util::write_file;

constexpr double T = COMPARE_PERIOD;
const std::string PROGRAM = NURBS_BIN_DIR "/interp_compare";
const std::string BUNDLED_CURVE = NURBS_BUNDLED_DATA "/S1200X30quorbel.nurbs";

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

// The first word of a row's status: "ok," or "FAILED:" ("" when the row has none).
std::string status_of(const std::vector<std::string> &row) {
    for (const std::string &w : row)
        if (w == "ok," || w == "FAILED:") return w;
    return "";
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
    ASSERT_EQ(compare("--profile " + profile + " --columns all --csv " + csv + " --plot " + png), 0)
        << read_file(err);
    const std::string text = read_file(out);

    for (const compare_method &m : compare_methods()) {
        const std::vector<std::string> row = row_of(text, m.name);
        ASSERT_GE(row.size(), 24u) << m.name << " row missing in\n" << text;
        EXPECT_EQ(status_of(row), "ok,") << m.name << ": " << text;
        // FCP's table belongs to the curve it was made for; the others measure this curve.
        if (std::string(m.name) != "FCP") {
            EXPECT_EQ(row[1], std::to_string(SAMPLES)) << m.name;
        }
    }
    // Newton-Raphson iterates the measured length to 1e-12 mm on steps of 0.25 um and more.
    const std::vector<std::string> newton = row_of(text, "NewtonRaphson");
    EXPECT_LT(std::stod(newton[2]), 1e-9) << text;
    EXPECT_NE(unwrapped(text).find("the clock's own cost (two back-to-back readings, 1000000 "
                                   "pairs): median "),
              std::string::npos)
        << text;
    EXPECT_NE(unwrapped(text).find("\nnoise: a step that only reads the clock, timed like the "
                                   "methods (the same work between the steps) 1200 times: median "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("worst replayed [ns]"), std::string::npos);
    // Newton-Raphson's worst replayed step is a real cost: a few microseconds, not the tens
    // that interruptions add (the limit, 10% of the period, is the target for a servo cycle).
    EXPECT_LT(std::stod(newton[19]), 25000.0) << text;

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
    EXPECT_EQ(width, 2 + 5 * 9);
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
                    "RK2_chord_err_mm,Taylor3_chord_err_mm,RK2_at_joint,RK2_axis_jerk_mm_s3,"
                    "Taylor3_at_joint,Taylor3_axis_jerk_mm_s3");
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

TEST_F(InterpCompareProgram, AFailingPlotKeepsTheFinishedCsvAndLeavesNoTemporary) {
    // A gnuplot that fails: the run is done, its CSV complete, so it stays; the plot's old
    // file stays as it was.
    const std::string bin = dir.file("bin");
    std::filesystem::create_directory(bin);
    write_file(bin + "/gnuplot", "#!/bin/sh\ncat >/dev/null\nexit 3\n");
    std::filesystem::permissions(bin + "/gnuplot", std::filesystem::perms::owner_all);
    const std::string csv = dir.file("run.csv"), png = dir.file("run.png");
    write_file(png, "earlier png\n");
    const int status =
        run("PATH=" + bin + ":/usr/bin:/bin " + PROGRAM + " --methods FCP --curve " +
                BUNDLED_CURVE + " --profile " + profile + " --csv " + csv + " --plot " + png,
            out, err);
    EXPECT_EQ(status, 1);
    EXPECT_NE(read_file(err).find("gnuplot failed"), std::string::npos) << read_file(err);
    EXPECT_EQ(read_file(csv).rfind("time_s,feed_mm_s,FCP_rel_err", 0), 0u);
    EXPECT_EQ(read_file(png), "earlier png\n");
    EXPECT_EQ(strays({"run.csv", "run.png", "bin"}), std::vector<std::string>{});
}

TEST_F(InterpCompareProgram, HelpExplainsOptionsAndColumns) {
    ASSERT_EQ(run(PROGRAM + " --help", out, err), 0);
    const std::string help = read_file(out);
    for (const char *word :
         {"--curve", "--profile", "--methods", "--csv", "--plot", "timer overhead", "stopped",
          "NewtonRaphson", "1 mm/s", "--realtime", "--fcp-table", "worst replayed", "noise line",
          "--summary", "--columns", "len_err_sum_mm", "Bundled data:"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
    // Each closing paragraph once.
    for (const std::string &tool : {PROGRAM, std::string(NURBS_BIN_DIR "/interp_suite")}) {
        ASSERT_EQ(run(tool + " --help", out, err), 0);
        const std::string text = read_file(out);
        for (const char *paragraph : {"Exit status", "Outputs"}) {
            std::size_t count = 0;
            for (std::size_t at = 0; (at = text.find(paragraph, at)) != std::string::npos; ++at)
                ++count;
            EXPECT_EQ(count, 1u) << tool << ": " << paragraph;
        }
    }
}

TEST(InterpCompareFcpTable, OnAnotherCurveFcpRunsWithATableFittedForIt) {
    // A quarter circle of radius 20 mm: the compiled-in table was made for the 3.5 m flower.
    temp_dir dir;
    const double R = 20, w = std::sqrt(0.5);
    write_file(dir.file("arc.nurbs"),
               test_util::curve_text({{R, 0, 0, 1}, {R, R, 0, w}, {0, R, 0, 1}}, 2));
    const std::string out = dir.file("out"), err = dir.file("err");
    ASSERT_EQ(run(NURBS_BIN_DIR "/make_profile --cruise 100 --curve " + dir.file("arc.nurbs") +
                      " -o " + dir.file("p.txt"),
                  out, err),
              0)
        << read_file(err);
    const std::string base = PROGRAM + " --methods FCP,RK2 --columns all --curve " +
                             dir.file("arc.nurbs") + " --profile " + dir.file("p.txt");
    ASSERT_EQ(run(base, out, err), 0) << read_file(err);
    const std::string fitted = unwrapped(read_file(out));
    EXPECT_NE(fitted.find("fitted a table for E <= 1e-10 mm: "), std::string::npos) << fitted;
    const std::vector<std::string> row = row_of(fitted, "FCP");
    ASSERT_GE(row.size(), 24u) << fitted;
    EXPECT_EQ(status_of(row), "ok,") << fitted;
    EXPECT_LT(std::stod(row[2]), 1e-6) << "a table fitted for the curve follows it";

    // The compiled-in table, forced: its row fails, it does not read "ok".
    ASSERT_EQ(run(base + " --fcp-table builtin", out, err), 0) << read_file(err);
    const std::vector<std::string> forced = row_of(read_file(out), "FCP");
    EXPECT_EQ(status_of(forced), "FAILED:") << read_file(out);

    // The same table from fcp_fit --format data (the same target, feed and samples) gives the
    // same row, to the last digit.
    ASSERT_EQ(run(NURBS_BIN_DIR "/fcp_fit --format data --tolerance 1e-10 --feed 100 --samples 16 "
                                "-o " +
                      dir.file("t.txt") + " " + dir.file("arc.nurbs"),
                  out, err),
              0)
        << read_file(err);
    ASSERT_EQ(run(base + " --fcp-table " + dir.file("t.txt"), out, err), 0) << read_file(err);
    const std::vector<std::string> from_file = row_of(read_file(out), "FCP");
    ASSERT_GE(from_file.size(), 6u);
    for (int k : {1, 2, 3, 4, 5})
        EXPECT_EQ(from_file[k], row[k]) << k;
    // An output may not be the table it reads.
    EXPECT_EQ(
        run(base + " --fcp-table " + dir.file("t.txt") + " --csv " + dir.file("t.txt"), out, err),
        1);
    EXPECT_NE(read_file(err).find("refusing to overwrite an input"), std::string::npos);
}

TEST(InterpCompareFcpTable, TheTablesErrorHoldsInUseAndALooseTableIsNotRun) {
    // A smooth random cubic without joints: every step of FCP misses v*T by at most the E max
    // the fitted table reports (the driver re-bases every step on the true travelled length),
    // to within the step measurement's own tolerance.
    temp_dir dir;
    {
        std::FILE *f = std::fopen(dir.file("random.nurbs").c_str(), "w");
        curve_file_write(f, test_curves::random_cubic(40, 2));
        std::fclose(f);
    }
    const std::string out = dir.file("out"), err = dir.file("err");
    ASSERT_EQ(run(NURBS_BIN_DIR "/make_profile --curve " + dir.file("random.nurbs") + " -o " +
                      dir.file("r.txt"),
                  out, err),
              0);
    ASSERT_EQ(run(PROGRAM + " --curve " + dir.file("random.nurbs") + " --profile " +
                      dir.file("r.txt") + " --methods FCP --csv " + dir.file("r.csv"),
                  out, err),
              0)
        << read_file(err);
    const std::string text = unwrapped(read_file(out));
    const std::size_t at = text.find(", E max ");
    ASSERT_NE(at, std::string::npos) << text;
    const double e_max = std::stod(text.substr(at + 8));
    EXPECT_GT(e_max, 1e-10);
    std::istringstream csv(read_file(dir.file("r.csv")));
    std::string line;
    std::getline(csv, line);
    double worst = 0; // the largest |v T - ds| in mm
    while (std::getline(csv, line)) {
        std::istringstream f(line);
        std::string t, v, rel;
        std::getline(f, t, ',');
        std::getline(f, v, ',');
        std::getline(f, rel, ',');
        if (!rel.empty()) worst = std::max(worst, std::stod(rel) * std::stod(v) * T);
    }
    EXPECT_GT(worst, 0.0);
    EXPECT_LE(worst, 1.02 * e_max + 1e-12) << "a step misses by more than the table's E";

    // A quarter circle of radius 20 mm for the rest.
    const double R = 20, w = std::sqrt(0.5);
    write_file(dir.file("arc.nurbs"),
               test_util::curve_text({{R, 0, 0, 1}, {R, R, 0, w}, {0, R, 0, 1}}, 2));
    ASSERT_EQ(run(NURBS_BIN_DIR "/make_profile --cruise 100 --curve " + dir.file("arc.nurbs") +
                      " -o " + dir.file("p.txt"),
                  out, err),
              0);
    const std::string base = PROGRAM + " --columns all --curve " + dir.file("arc.nurbs") +
                             " --profile " + dir.file("p.txt");
    // Without FCP among the methods no table is fitted.
    ASSERT_EQ(run(base + " --methods RK2", out, err), 0);
    EXPECT_EQ(read_file(out).find("FCP"), std::string::npos) << read_file(out);

    // A table of one straight piece, u = s / length, misses by millimetres: not run, FAILED.
    write_file(dir.file("line.txt"), "FCP table: 2 breakpoints\nS 0\nS 31.415926535897931\n"
                                     "C 0 0 0 0 1 0\n");
    ASSERT_EQ(run(base + " --methods FCP,RK2 --fcp-table " + dir.file("line.txt"), out, err), 0);
    const std::vector<std::string> row = row_of(read_file(out), "FCP");
    EXPECT_EQ(status_of(row), "FAILED:") << read_file(out);
    EXPECT_EQ(row[1], "0") << "no step was run";
    EXPECT_NE(unwrapped(read_file(out))
                  .find("more than a whole step v*T = 0.025 mm at the "
                        "profile's top feed: not a table, not run"),
              std::string::npos)
        << read_file(out);
    EXPECT_EQ(status_of(row_of(read_file(out), "RK2")), "ok,");
}

TEST(InterpSuite, AShortenedSuiteWritesAllThreeOutputs) {
    temp_dir dir;
    const std::string out = dir.file("stdout"), err = dir.file("stderr");
    const bool plots = have_gnuplot();
    const std::string cmd = NURBS_BIN_DIR
                            "/interp_suite --manifest " NURBS_BUNDLED_DATA
                            "/curves/suite.txt --samples 300 --config " NURBS_BUNDLED_DATA
                            "/machines/router.toml --out " +
                            dir.file("suite") + (plots ? "" : " --no-plots");
    ASSERT_EQ(run(cmd, out, err), 0) << read_file(err);
    // One row per curve, profile, policy (a curve with joints has both) and method, a header,
    // and every run ok on its curve.
    std::istringstream csv(read_file(dir.file("suite/summary.csv")));
    std::string line;
    std::getline(csv, line);
    const std::vector<std::string> head = csv_fields(line);
    ASSERT_GE(head.size(), 8u) << line;
    EXPECT_EQ(std::vector<std::string>(head.begin(), head.begin() + 5),
              (std::vector<std::string>{"curve", "profile", "joints", "period_s", "method"}));
    EXPECT_EQ(head[head.size() - 2], "planned_for_machine");
    EXPECT_EQ(head.back(), "status");
    const auto at = [&](const char *name) {
        return std::size_t(std::find(head.begin(), head.end(), name) - head.begin());
    };
    std::size_t rows = 0, pairs = 0;
    std::istringstream manifest(read_file(NURBS_BUNDLED_DATA "/curves/suite.txt"));
    while (std::getline(manifest, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string curve_file, w;
        words >> curve_file;
        nurbs_curve c;
        nurbs_curve_alloc_file((NURBS_BUNDLED_DATA "/curves/" + curve_file).c_str(), &c);
        const std::size_t policies = curve_joints(c).empty() ? 1 : 2;
        while (words >> w)
            pairs += policies;
    }
    csv.clear();
    while (std::getline(csv, line)) {
        ++rows;
        const std::vector<std::string> f = csv_fields(line);
        ASSERT_EQ(f.size(), head.size()) << line;
        // The router's axis limits give every run its ratios; its file's period is not used.
        EXPECT_NE(f[at("axis_jerk_ratio")], "-") << line;
        const bool router = f[1].find("_router") != std::string::npos;
        EXPECT_EQ(f[3], router ? "0.001" : "0.00025") << line;
        // The router's profiles were planned for it: ok. The others ask more of its axes than
        // it has (2500 mm/s^2 of path acceleration, 50000 mm/s^3 of jerk): their rows are
        // marked, never a plain ok beside ratios above 1.
        EXPECT_EQ(f[at("planned_for_machine")], router ? "yes" : "no") << line;
        // Every run ok, but the Taylor steps in time: on the router's profiles, planned as fast
        // as its axes allow, they drift from the commanded length (by design they do not
        // correct it).
        const bool taylor_in_time = f[4] == "Taylor2" || f[4] == "Taylor3";
        if (router && taylor_in_time)
            EXPECT_TRUE(f.back().substr(0, 2) == "ok" || f.back().rfind("FAILED: drifted ", 0) == 0)
                << line;
        else
            EXPECT_EQ(f.back().substr(0, 3), router ? "ok" : "ok*") << line;
        if (!router) {
            EXPECT_GT(std::stod(f[at("axis_jerk_ratio")]), 1.0) << line;
        }
        EXPECT_NE(f[at("len_err_sum_mm")], "-") << line;
    }
    EXPECT_EQ(rows, pairs * compare_methods().size());
    const std::string md = read_file(dir.file("suite/summary.md"));
    EXPECT_EQ(md.rfind("| curve | profile | joints | period [s] | method |", 0), 0u);
    // The terminal gets the overview, one line per run, not the summary's rows.
    const std::string overview = read_file(out);
    EXPECT_EQ(overview.find("| curve |"), std::string::npos);
    EXPECT_LT(std::count(overview.begin(), overview.end(), '\n'), long(pairs + 10)) << overview;
    EXPECT_NE(overview.find("S1200X30quorbel.nurbs  fprof_router.txt"), std::string::npos)
        << overview;
    EXPECT_NE(overview.find("*: the profile was not planned for the machine"), std::string::npos)
        << overview;
    if (plots) {
        EXPECT_EQ(read_file(dir.file("suite/circle__circle_fprof.png")).substr(1, 3), "PNG");
        EXPECT_EQ(read_file(dir.file("suite/circle__circle_fprof__split.png")).substr(1, 3), "PNG");
    }
    EXPECT_NE(read_file(err).find("interp_suite: [2/"), std::string::npos) << "progress";
}

// A gnuplot that only records that it was started (and the script it was given).
std::string fake_gnuplot(const temp_dir &dir) {
    const std::string bin = dir.file("bin");
    std::filesystem::create_directory(bin);
    write_file(bin + "/gnuplot", "#!/bin/sh\ncat >" + dir.file("gnuplot-ran") + "\nexit 3\n");
    std::filesystem::permissions(bin + "/gnuplot", std::filesystem::perms::owner_all);
    return "PATH=" + bin + ":/usr/bin:/bin ";
}

TEST_F(InterpCompareProgram, APlotPathCannotBecomeAGnuplotCommand) {
    const std::string path = fake_gnuplot(dir);
    const std::string plot = "\"$(printf 'x\\nsystem \"touch pwned\"\\n.png')\"";
    EXPECT_EQ(run("cd " + dir.path.string() + " && " + path + PROGRAM + " --methods FCP --curve " +
                      BUNDLED_CURVE + " --profile " + profile + " --plot " + plot,
                  out, err),
              1);
    EXPECT_NE(read_file(err).find("--plot \"x\\x0asystem \"touch pwned\"\\x0a.png\": holds a "
                                  "control character (byte 0x0a); refused, gnuplot would read it "
                                  "as the end of a command"),
              std::string::npos)
        << read_file(err);
    EXPECT_EQ(read_file(out), "") << "refused before the run";
    EXPECT_FALSE(std::filesystem::exists(dir.file("gnuplot-ran")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("pwned")));
    EXPECT_EQ(strays({"bin"}), std::vector<std::string>{});
}

// Returns the copy of the bundled file `rel` (under data/) at `to`, with its folders.
void copy_bundled(const std::string &rel, const std::string &to) {
    std::filesystem::create_directories(std::filesystem::path(to).parent_path());
    std::filesystem::copy_file(NURBS_BUNDLED_DATA "/" + rel, to);
}

TEST(InterpSuite, ManifestMistakesAndOutputsOverInputsAreRefusedBeforeAnyRun) {
    temp_dir dir;
    const std::string out = dir.file("stdout"), err = dir.file("stderr");
    const std::string suite = NURBS_BIN_DIR "/interp_suite --samples 20 ";
    copy_bundled("curves/circle.nurbs", dir.file("m/c.nurbs"));
    copy_bundled("curves/circle_fprof.txt", dir.file("m/p.txt"));
    // A missing file on the second line: named before the first line runs.
    write_file(dir.file("m/late.txt"), "c.nurbs p.txt\nc.nurbs missing.txt\n");
    EXPECT_EQ(
        run(suite + "--no-plots --manifest " + dir.file("m/late.txt") + " --out " + dir.file("o1"),
            out, err),
        1);
    EXPECT_EQ(read_file(err), "interp_suite: " + dir.file("m/late.txt") +
                                  ":2: " + dir.file("m/missing.txt") +
                                  ": cannot open the feed profile (No such file or directory)\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("o1")));
    // The manifest is named like an output in --out.
    write_file(dir.file("m/summary.md"), "c.nurbs p.txt\n");
    EXPECT_EQ(
        run(suite + "--no-plots --manifest " + dir.file("m/summary.md") + " --out " + dir.file("m"),
            out, err),
        1);
    EXPECT_NE(read_file(err).find("summary.md (--out) is the input"), std::string::npos)
        << read_file(err);
    EXPECT_EQ(read_file(dir.file("m/summary.md")), "c.nurbs p.txt\n");
    // A profile named like the plot of another run (c with p.txt: c__p.png).
    const std::string path = fake_gnuplot(dir);
    copy_bundled("curves/circle_fprof.txt", dir.file("m/c__p.png"));
    write_file(dir.file("m/plots.txt"), "c.nurbs p.txt c__p.png\n");
    EXPECT_EQ(
        run(path + suite + "--manifest " + dir.file("m/plots.txt") + " --out " + dir.file("m"), out,
            err),
        1);
    EXPECT_NE(read_file(err).find("c__p.png (--out) is the input"), std::string::npos)
        << read_file(err);
    // An output directory gnuplot would read as a command.
    write_file(dir.file("m/ok.txt"), "c.nurbs p.txt\n");
    EXPECT_EQ(run(path + suite + "--manifest " + dir.file("m/ok.txt") + " --out \"" +
                      dir.file("o\n") + "\"",
                  out, err),
              1);
    EXPECT_NE(read_file(err).find("holds a control character (byte 0x0a)"), std::string::npos)
        << read_file(err);
    EXPECT_EQ(read_file(err).find("interp_suite: [1/"), std::string::npos) << "no run started";
    EXPECT_FALSE(std::filesystem::exists(dir.file("o\n")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("gnuplot-ran")));
    EXPECT_EQ(read_file(dir.file("m/c__p.png")), read_file(dir.file("m/p.txt")));
    // --period on the command line: every profile must have been made for it, checked before
    // the first run (here the second line's profile is for 1 ms).
    copy_bundled("curves/circle_fprof_router.txt", dir.file("m/r.txt"));
    write_file(dir.file("m/periods.txt"), "c.nurbs r.txt\nc.nurbs p.txt\n");
    const std::string periods = "--no-plots --manifest " + dir.file("m/periods.txt");
    EXPECT_EQ(run(suite + periods + " --period 0.001 --out " + dir.file("o2"), out, err), 1);
    EXPECT_NE(read_file(err).find("p.txt: the profile was made for a servo period of 0.00025 s "
                                  "(it has no period line), this run's is 0.001 s"),
              std::string::npos)
        << read_file(err);
    EXPECT_EQ(read_file(err).find("interp_suite: [1/"), std::string::npos) << "no run started";
    // A machine file's period is not used: each profile runs at its own.
    write_file(dir.file("m/machine.toml"), "axis-vel = [250, 250, 100]\naxis-acc = [1500, 1500, "
                                           "800]\naxis-jerk = [3e4, 3e4, 2e4]\nperiod = 0.001\n");
    ASSERT_EQ(run(suite + periods + " --config " + dir.file("m/machine.toml") + " --out " +
                      dir.file("o3"),
                  out, err),
              0)
        << read_file(err);
    const std::string csv = read_file(dir.file("o3/summary.csv"));
    EXPECT_NE(csv.find("c.nurbs,r.txt,through,0.001,"), std::string::npos) << csv;
    EXPECT_NE(csv.find("c.nurbs,p.txt,through,0.00025,"), std::string::npos) << csv;
}

TEST(InterpSuite, CurvesOfOneNameInTwoFoldersAndQuotedPathsAreToldApart) {
    temp_dir dir;
    const std::string out = dir.file("stdout"), err = dir.file("stderr");
    copy_bundled("curves/circle.nurbs", dir.file("a/curve.nurbs"));
    copy_bundled("curves/helix.nurbs", dir.file("b/curve.nurbs"));
    copy_bundled("curves/circle_fprof.txt", dir.file("my profiles/p.txt"));
    write_file(dir.file("suite.txt"), "a/curve.nurbs \"my profiles/p.txt\"\n"
                                      "b/curve.nurbs \"my profiles/p.txt\"\n");
    ASSERT_EQ(run(NURBS_BIN_DIR "/interp_suite --no-plots --samples 30 --manifest " +
                      dir.file("suite.txt") + " --out " + dir.file("o"),
                  out, err),
              0)
        << read_file(err);
    std::istringstream csv(read_file(dir.file("o/summary.csv")));
    std::string line;
    std::getline(csv, line);
    std::set<std::string> curves;
    while (std::getline(csv, line))
        curves.insert(line.substr(0, line.find(",p.txt,")));
    EXPECT_EQ(curves, (std::set<std::string>{"a/curve.nurbs", "b/curve.nurbs"}));
    EXPECT_NE(read_file(err).find("interp_suite: [2/2] b/curve.nurbs"), std::string::npos);
}

// ---- Results a reader can believe: the profile and the machine a run is measured against ----

// The rounded rectangle a user writes by hand (100 x 50 mm, corners of radius 10 mm: straight
// edges as collinear points, quarter circles of weight sqrt(2)/2, doubled knots at the joints),
// and a machine file of their own.
struct RoundedRectangle : ::testing::Test {
    temp_dir dir;
    std::string curve = dir.file("rrect.nurbs"), machine = dir.file("mine.toml");
    std::string out = dir.file("stdout"), err = dir.file("stderr");
    void SetUp() override {
        const double w = std::sqrt(0.5);
        const double pts[17][3] = {
            {10, 0, 1},   {50, 0, 1},   {90, 0, 1},  {100, 0, w}, {100, 10, 1}, {100, 25, 1},
            {100, 40, 1}, {100, 50, w}, {90, 50, 1}, {50, 50, 1}, {10, 50, 1},  {0, 50, w},
            {0, 40, 1},   {0, 25, 1},   {0, 10, 1},  {0, 0, w},   {10, 0, 1}};
        std::string text = "N17\tL2\tD2\nK0\nK0\nK0\n";
        for (int k = 1; k < 8; ++k)
            text += "K" + std::to_string(k) + "\nK" + std::to_string(k) + "\n";
        text += "K8\nK8\nK8\n";
        char line[96];
        for (const auto &p : pts) {
            std::snprintf(line, sizeof line, "X%.17g\tY%.17g\tP%.17g\n", p[0], p[1], p[2]);
            text += line;
        }
        write_file(curve, text);
        write_file(machine, "axis-vel = [200, 200, 50]\naxis-acc = [1000, 1000, 500]\n"
                            "axis-jerk = [20000, 20000, 10000]\nperiod = 0.0005\n");
    }
    int tool(const std::string &cmd) { return run(NURBS_BIN_DIR "/" + cmd, out, err); }
    // The rows of a summary CSV after its header, as fields.
    std::vector<std::vector<std::string>> summary_rows(const std::string &path) {
        std::istringstream in(read_file(path));
        std::string line;
        std::vector<std::vector<std::string>> rows;
        while (std::getline(in, line))
            rows.push_back(csv_fields(line));
        return rows;
    }
};

TEST_F(RoundedRectangle, AProfileForAnotherCurveIsRefusedBeforeTheRunAndItsOwnRunsOk) {
    // The bundled 3499 mm profile on this 283 mm curve: every method would meet the end at
    // 250 mm/s with most of the profile left.
    const std::string bundled = NURBS_BUNDLED_DATA "/fprof.txt";
    EXPECT_EQ(tool("interp_compare --curve " + curve + " --profile " + bundled), 1);
    EXPECT_EQ(read_file(out), "") << "refused before the run";
    const std::string why = read_file(err);
    EXPECT_NE(why.find(bundled + ": the profile commands 3498.8"), std::string::npos) << why;
    EXPECT_NE(why.find("the curve " + curve + " (282.831853 mm"), std::string::npos) << why;
    EXPECT_NE(why.find("made for a longer path"), std::string::npos) << why;
    EXPECT_NE(why.find("make_profile --curve " + curve), std::string::npos) << why;
    // The same line in a suite's manifest: refused, naming the line, before the first run.
    std::filesystem::copy_file(bundled, dir.file("fprof.txt"));
    ASSERT_EQ(tool("make_profile --curve " + curve + " -o " + dir.file("own.txt")), 0)
        << read_file(err);
    write_file(dir.file("suite.txt"), "rrect.nurbs own.txt\nrrect.nurbs fprof.txt\n");
    EXPECT_EQ(tool("interp_suite --no-plots --manifest " + dir.file("suite.txt") + " --out " +
                   dir.file("o")),
              1);
    EXPECT_NE(read_file(err).find(dir.file("suite.txt") + ":2: " + dir.file("fprof.txt") +
                                  ": the profile commands"),
              std::string::npos)
        << read_file(err);
    EXPECT_EQ(read_file(err).find("interp_suite: [1/"), std::string::npos) << "no run started";
    // Its own profile (make_profile's, 0.5 mm short of the end): every method that runs ok
    // says where it ended, the summary in its CSV; Newton-Raphson runs ok.
    ASSERT_EQ(tool("interp_compare --curve " + curve + " --profile " + dir.file("own.txt") +
                   " --summary " + dir.file("s.csv")),
              0)
        << read_file(err);
    EXPECT_NE(unwrapped(read_file(out))
                  .find("ends 0.500000 mm before the curve's end (make_profile "
                        "plans 0.5 mm short of it)"),
              std::string::npos)
        << read_file(out);
    const auto rows = summary_rows(dir.file("s.csv"));
    ASSERT_EQ(rows.size(), 1 + compare_methods().size());
    for (std::size_t k = 1; k < rows.size(); ++k) {
        const std::string &status = rows[k].back();
        EXPECT_TRUE(status.rfind("ok, profile ended at u = ", 0) == 0 ||
                    status.rfind("FAILED: ", 0) == 0)
            << status;
        if (rows[k][7] == "NewtonRaphson") {
            EXPECT_EQ(status.rfind("ok", 0), 0u) << status;
        }
    }
}

TEST_F(RoundedRectangle, RowsAgainstAMachineTheProfileWasNotPlannedForAreMarked) {
    // Planned for the user's machine: the ratios are within the limits, the rows plain ok.
    ASSERT_EQ(tool("make_profile --config " + machine + " --curve " + curve + " -o " +
                   dir.file("planned.txt")),
              0)
        << read_file(err);
    const std::string methods = " --methods RK2,NewtonRaphson --curve " + curve;
    ASSERT_EQ(tool("interp_compare --config " + machine + methods + " --profile " +
                   dir.file("planned.txt") + " --summary " + dir.file("planned.csv")),
              0)
        << read_file(err);
    EXPECT_NE(
        unwrapped(read_file(out)).find("the profile was planned within this machine's limits"),
        std::string::npos)
        << read_file(out);
    for (const auto &row : summary_rows(dir.file("planned.csv"))) {
        if (row[0] == "curve") continue;
        EXPECT_EQ(row[4], machine);
        EXPECT_EQ(row[row.size() - 2], "yes");
        EXPECT_EQ(row.back().find('*'), std::string::npos) << row.back();
    }
    // The plain 250 mm/s profile against the same limits: it asks more of the axes than they
    // have. Ratios far above 1 beside "ok" would read as a pass: the rows are marked.
    ASSERT_EQ(tool("make_profile --curve " + curve + " -o " + dir.file("plain.txt")), 0);
    ASSERT_EQ(tool("interp_compare --axis-vel 200,200,50 --axis-acc 1000,1000,500 "
                   "--axis-jerk 20000,20000,10000" +
                   methods + " --profile " + dir.file("plain.txt") + " --summary " +
                   dir.file("plain.csv")),
              0)
        << read_file(err);
    const std::string text = read_file(out);
    EXPECT_NE(unwrapped(text).find("the profile was NOT planned for this machine"),
              std::string::npos)
        << text;
    for (const char *name : {"RK2", "NewtonRaphson"}) {
        const std::vector<std::string> row = row_of(text, name);
        ASSERT_GE(row.size(), 2u) << text;
        EXPECT_EQ(row[1], "ok*") << text;
        EXPECT_EQ(std::count_if(row.begin() + 2, row.end(),
                                [](const std::string &cell) { return cell.back() == '*'; }),
                  2)
            << "both ratio cells are marked: " << text;
    }
    for (const auto &row : summary_rows(dir.file("plain.csv"))) {
        if (row[0] == "curve") continue;
        EXPECT_EQ(row[row.size() - 2], "no");
        EXPECT_NE(row.back().find("a machine the profile was not planned for"), std::string::npos)
            << row.back();
    }
}

TEST_F(RoundedRectangle, AStretchOfCurveNoStepMeasuresFailsItsMethods) {
    // The hostile curve: 30 mm of its 140 inside 2e-9 of parameter (knots 1e-9 apart), the
    // parameter speed the same on both sides. A 140 mm profile at 100 mm/s.
    write_file(dir.file("cluster.nurbs"), "N6\tL2\tD2\nK0\nK0\nK0\nK0.5\nK0.500000001\n"
                                          "K0.500000002\nK1\nK1\nK1\nX0\tY0\tP1\n"
                                          "X27.5\tY0\tP1\nX55\tY0\tP1\nX55\tY30\tP1\n"
                                          "X82.5\tY30\tP1\nX110\tY30\tP1\n");
    ASSERT_EQ(tool("make_profile --cruise 100 --curve " + dir.file("cluster.nurbs") + " -o " +
                   dir.file("c.txt")),
              0)
        << read_file(err);
    ASSERT_EQ(tool("interp_compare --columns all --methods NewtonRaphson,RK2 --curve " +
                   dir.file("cluster.nurbs") + " --profile " + dir.file("c.txt")),
              0)
        << read_file(err);
    const std::string text = read_file(out);
    for (const char *name : {"NewtonRaphson", "RK2"}) {
        EXPECT_EQ(status_of(row_of(text, name)), "FAILED:") << text;
    }
    EXPECT_NE(text.find("adaptive Simpson never sampled"), std::string::npos) << text;
    // The hand-written rectangle with its own profile: the same methods ok.
    ASSERT_EQ(tool("make_profile --curve " + curve + " -o " + dir.file("own.txt")), 0);
    ASSERT_EQ(tool("interp_compare --columns all --methods NewtonRaphson,RK2 --curve " + curve +
                   " --profile " + dir.file("own.txt")),
              0);
    for (const char *name : {"NewtonRaphson", "RK2"}) {
        EXPECT_EQ(status_of(row_of(read_file(out), name)), "ok,") << read_file(out);
    }
}

TEST_F(InterpCompareProgram, TheSummaryFileHoldsTheConsoleTablesColumnsAndTheRunsSettings) {
    const std::string summary = dir.file("s.csv");
    ASSERT_EQ(compare("--profile " + profile + " --columns all --summary " + summary), 0)
        << read_file(err);
    const std::string text = read_file(out);
    std::istringstream lines(read_file(summary));
    std::string line;
    std::getline(lines, line);
    const std::vector<std::string> head = csv_fields(line);
    const std::size_t first = std::find(head.begin(), head.end(), "method") - head.begin();
    ASSERT_EQ(std::vector<std::string>(head.begin(), head.begin() + first),
              (std::vector<std::string>{"curve", "profile", "joints", "period_s", "machine",
                                        "fcp_table", "fcp_e_max_mm"}));
    std::size_t rows = 0;
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = csv_fields(line);
        ASSERT_EQ(f.size(), head.size()) << line;
        EXPECT_EQ(f[0], BUNDLED_CURVE);
        EXPECT_EQ(f[1], profile);
        EXPECT_EQ(f[3], "0.00025");
        EXPECT_EQ(f[4], "-") << "no machine";
        // The console's row: the method, then every column of the summary in the same order
        // and text, then the status in full.
        const std::vector<std::string> row = row_of(text, f[first]);
        ASSERT_GT(row.size(), head.size() - first - 2) << f[first] << "\n" << text;
        for (std::size_t c = first; c + 2 < head.size(); ++c)
            EXPECT_EQ(row[c - first], f[c]) << head[c] << " of " << f[first];
        EXPECT_EQ(f[head.size() - 2], "-"); // planned_for_machine
        EXPECT_NE(unwrapped(text).find(f.back()), std::string::npos) << f.back();
        ++rows;
    }
    EXPECT_EQ(rows, compare_methods().size());

    // By default the table, and every line around it, fits 100 columns (but a word longer than
    // a line, such as a long path, which stands on a line of its own); the summary as Markdown
    // holds the same rows with every column, the settings above them.
    ASSERT_EQ(compare("--profile " + profile + " --summary " + dir.file("s.md")), 0);
    std::istringstream console(read_file(out));
    while (std::getline(console, line)) {
        const std::size_t word = line.find_first_not_of(' ');
        if (word != std::string::npos && line.find(' ', word) == std::string::npos) continue;
        EXPECT_LE(line.size(), 100u) << line;
    }
    EXPECT_EQ(row_of(read_file(out), "NewtonRaphson")[1], "ok");
    const std::string md = read_file(dir.file("s.md"));
    EXPECT_NE(md.find("| period [s] | 0.00025 |"), std::string::npos) << md;
    EXPECT_NE(md.find("| method | steps | fluct max [1] |"), std::string::npos) << md;
    const std::size_t head_at = md.find("| method |");
    const std::string md_head = md.substr(head_at, md.find('\n', head_at) - head_at);
    for (const compare_method &m : compare_methods()) {
        const std::size_t at = md.find("\n| " + std::string(m.name) + " |");
        ASSERT_NE(at, std::string::npos) << m.name << "\n" << md;
        const std::string md_row = md.substr(at + 1, md.find('\n', at + 1) - at - 1);
        EXPECT_EQ(std::count(md_row.begin(), md_row.end(), '|'),
                  std::count(md_head.begin(), md_head.end(), '|'))
            << md_row;
    }

    // Columns chosen by name, in their order; an unknown name is a usage error.
    ASSERT_EQ(compare("--profile " + profile + " --methods RK2 --columns median_ns,fluct_max"), 0);
    const std::vector<std::string> top = row_of(read_file(out), "method");
    EXPECT_EQ(top, (std::vector<std::string>{"method", "status", "median", "fluct", "max"}));
    EXPECT_EQ(compare("--profile " + profile + " --columns fluct_max,bogus"), 2);
    EXPECT_NE(read_file(err).find("\"bogus\" is not a column (all, or some of: steps, fluct_max"),
              std::string::npos)
        << read_file(err);
}

TEST_F(InterpCompareProgram, TheCsvTimeColumnResolvesEveryPeriod) {
    // 0.125 ms: the samples are 0.000125 s apart, so five decimals would merge them.
    feed_profile p = ramp_profile(400);
    p.period = 0.000125;
    write_file(profile, profile_text(p) + "# period 0.000125 s\n");
    const std::string csv = dir.file("t.csv");
    ASSERT_EQ(compare("--profile " + profile + " --methods RK2 --csv " + csv), 0) << read_file(err);
    std::istringstream lines(read_file(csv));
    std::string line;
    std::getline(lines, line);
    for (int k = 0; std::getline(lines, line); ++k)
        EXPECT_NEAR(std::stod(line.substr(0, line.find(','))), k * 0.000125, 1e-15) << line;
}

// A gnuplot that keeps the script it is given in `script` and hands it to the real one.
std::string recording_gnuplot(const temp_dir &dir, const std::string &script) {
    const std::string bin = dir.file("rec");
    std::filesystem::create_directory(bin);
    std::FILE *which = popen("command -v gnuplot", "r");
    char real[512] = "";
    if (which) {
        if (!std::fgets(real, sizeof real, which)) real[0] = 0;
        pclose(which);
    }
    std::string path = real;
    path = path.substr(0, path.find('\n'));
    write_file(bin + "/gnuplot", "#!/bin/sh\ntee " + script + " | " + path + "\n");
    std::filesystem::permissions(bin + "/gnuplot", std::filesystem::perms::owner_all);
    return "PATH=" + bin + ":$PATH ";
}

// Returns the numbers of every "set <what> [lo:hi]" line of a gnuplot script, in order.
std::vector<std::pair<double, double>> ranges(const std::string &script, const std::string &what) {
    std::vector<std::pair<double, double>> r;
    const std::string key = "set " + what + " [";
    for (std::size_t at = 0; (at = script.find(key, at)) != std::string::npos; ++at) {
        const std::size_t lo = at + key.size(), colon = script.find(':', lo);
        r.emplace_back(std::stod(script.substr(lo, colon - lo)),
                       std::stod(script.substr(colon + 1)));
    }
    return r;
}

TEST_F(InterpCompareProgram, APlotSaysWhatItShowsAndKeepsItsExtremesInside) {
    if (!have_gnuplot())
        GTEST_SKIP()
            << "gnuplot is not installed (CI installs it: scripts/ensure_deps.sh gnuplot-nox)";
    const std::string script = dir.file("script.gp"), csv = dir.file("r.csv");
    const std::string svg = dir.file("r.svg");
    ASSERT_EQ(run(recording_gnuplot(dir, script) + PROGRAM + " --curve " + BUNDLED_CURVE +
                      " --profile " + profile + " --csv " + csv + " --plot " + svg,
                  out, err),
              0)
        << read_file(err);
    EXPECT_NE(read_file(svg).find("<svg"), std::string::npos) << "SVG, told by the extension";
    const std::string gp = read_file(script);
    // The title: the run's settings, one label per line of it, none of them cut.
    std::string title;
    for (std::size_t at = 0; (at = gp.find("set label ", at)) != std::string::npos; ++at) {
        const std::size_t q = gp.find('\'', at);
        title += gp.substr(q + 1, gp.find('\'', q + 1) - q - 1) + " ";
    }
    for (const std::string &part :
         {"curve " + BUNDLED_CURVE, "profile " + profile, std::string("T = 0.25 ms"),
          std::string("joints through"), std::string("no machine")})
        EXPECT_NE(title.find(part), std::string::npos) << part << " in " << title;
    EXPECT_EQ(gp.find("dotted: joints"), std::string::npos) << "the flower has no joints";
    // The ranges: time with room at both ends; the worst error and the top feed inside.
    double worst = 0, top = 0;
    std::istringstream lines(read_file(csv));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = csv_fields(line);
        top = std::max(top, std::stod(f[1]));
        for (std::size_t m = 0; m < compare_methods().size(); ++m)
            if (!f[2 + 2 * m].empty()) worst = std::max(worst, std::stod(f[2 + 2 * m]));
    }
    const auto x = ranges(gp, "xrange");
    ASSERT_EQ(x.size(), 1u) << gp;
    EXPECT_LT(x[0].first, 0.0);
    EXPECT_GT(x[0].second, (SAMPLES - 1) * T);
    const auto y = ranges(gp, "yrange"); // feed error, axis jerk, feed
    ASSERT_EQ(y.size(), 3u) << gp;
    EXPECT_GT(y[0].second, 1.5 * worst);
    EXPECT_GT(y[2].second, 1.05 * top);
    EXPECT_EQ(y[2].first, 0.0);
    // Nine methods, nine colours and nine dash patterns.
    const std::string errors = gp.substr(gp.find("plot ", gp.find("relative feed error")));
    std::set<std::string> colours, dashes;
    for (std::size_t at = 0; (at = errors.find(" lc rgb '", at)) != std::string::npos; ++at) {
        colours.insert(errors.substr(at + 9, 7));
        const std::size_t dt = errors.find(" dt ", at) + 4;
        dashes.insert(errors.substr(dt, errors.find(' ', dt) - dt));
        if (colours.size() == compare_methods().size()) break;
    }
    EXPECT_EQ(colours.size(), compare_methods().size());
    EXPECT_EQ(dashes.size(), compare_methods().size());
    EXPECT_NE(gp.find("'path, XY [mm]'"), std::string::npos);

    // An extension no terminal writes is refused before the run, the old file kept.
    write_file(dir.file("r.jpg"), "earlier\n");
    EXPECT_EQ(compare("--profile " + profile + " --plot " + dir.file("r.jpg")), 1);
    EXPECT_EQ(read_file(out), "");
    EXPECT_NE(read_file(err).find("PNG (.png), SVG (.svg) or PDF (.pdf)"), std::string::npos)
        << read_file(err);
    EXPECT_EQ(read_file(dir.file("r.jpg")), "earlier\n");
}

} // namespace
