// The example method (examples/methods/rk4_ds.cpp) as a reader builds it: against the package
// installed in a fresh prefix (tests/test_install_method.sh, the fixture these tests need),
// then loaded by interp_compare and interp_suite. Its row stands beside RK2's and
// Newton-Raphson's, with the figures a circle's closed forms give.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compare/run.hpp" // COMPARE_PERIOD
#include "profile_util.hpp"
#include "shapes/reference_curves.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;

namespace {

using test_util::csv_fields;
using test_util::read_file;
using test_util::run;
using test_util::temp_dir;
using test_util::write_file;

const std::string LIBRARY = NURBS_BIN_DIR "/method_example/librk4_ds.so";
const std::string CORE_LIBRARY = NURBS_BIN_DIR "/method_example/libtaylor2_core.so";

// The rows of a summary CSV by method name (the header's names as keys of each row).
struct summary {
    std::vector<std::string> head;
    std::vector<std::vector<std::string>> rows;
    // Returns the value of `column` in the row of `method` and `joints` ("" when none).
    std::string at(const std::string &method, const std::string &joints,
                   const std::string &column) const {
        std::size_t m = head.size(), j = head.size(), c = head.size();
        for (std::size_t k = 0; k < head.size(); ++k) {
            if (head[k] == "method") m = k;
            if (head[k] == "joints") j = k;
            if (head[k] == column) c = k;
        }
        for (const auto &r : rows)
            if (r.size() == head.size() && r[m] == method && r[j] == joints) return r[c];
        return "";
    }
};

summary read_summary(const std::string &path) {
    summary s;
    std::ifstream in(path);
    std::string line;
    if (std::getline(in, line)) s.head = csv_fields(line);
    while (std::getline(in, line))
        s.rows.push_back(csv_fields(line));
    return s;
}

struct MethodExample : ::testing::Test {
    // A circle of R = 50 mm at 200 mm/s: steps of 0.05 mm of arc, the profile ending 0.5 mm
    // (and a fraction of a step) before the curve's end.
    static constexpr double R = 50, V = 200;
    temp_dir dir;
    std::string curve = dir.file("circle.nurbs"), profile = dir.file("prof.txt");
    std::string out = dir.file("stdout"), err = dir.file("stderr");
    std::size_t samples = std::size_t((2 * M_PI * R - 0.5) / (V * COMPARE_PERIOD));
    void SetUp() override {
        write_file(curve, curve_file_text(circle9(R)));
        write_file(profile, test_util::profile_text(
                                test_util::make_profile(samples, [](std::size_t) { return V; })));
    }
};

TEST_F(MethodExample, InterpCompareShowsItBesideRK2AndNewtonRaphsonWithTheCirclesFigures) {
    const std::string s = dir.file("s.csv");
    ASSERT_EQ(run(NURBS_BIN_DIR "/interp_compare --curve " + curve + " --profile " + profile +
                      " --joints split --methods RK2,NewtonRaphson,RK4_ds --method-lib " + LIBRARY +
                      " --summary " + s,
                  out, err),
              0)
        << read_file(err);
    const summary sum = read_summary(s);
    for (const char *m : {"RK2", "NewtonRaphson", "RK4_ds"})
        EXPECT_EQ(sum.at(m, "split", "status").rfind("ok, profile ended at u = ", 0), 0u)
            << m << ": " << sum.at(m, "split", "status");
    // Each step 0.05 mm of arc to the quadrature's floor; its chord error the sagitta
    // R (1 - cos(vT / 2R)) (15 samples per step: within 1e-3 of it).
    EXPECT_LT(std::stod(sum.at("RK4_ds", "split", "fluct_max")), 1e-10);
    const double sagitta = R * (1 - std::cos(V * COMPARE_PERIOD / (2 * R)));
    EXPECT_NEAR(std::stod(sum.at("RK4_ds", "split", "chord_err_max_mm")), sagitta, 1e-3 * sagitta);
    // It ends where the profile's travel ends, before the curve's end by the rest.
    const double before = 2 * M_PI * R - double(samples) * V * COMPARE_PERIOD;
    char expected[64];
    std::snprintf(expected, sizeof expected, ", %.6f mm before the curve's end", before);
    EXPECT_NE(sum.at("RK4_ds", "split", "status").find(expected), std::string::npos)
        << sum.at("RK4_ds", "split", "status") << " vs " << expected;
    EXPECT_NE(test_util::unwrapped(read_file(out)).find("loaded: RK4_ds of " + LIBRARY),
              std::string::npos);
}

TEST_F(MethodExample, InterpSuiteRunsItOnEveryCurveAndPolicy) {
    write_file(dir.file("suite.txt"), "circle.nurbs prof.txt\n");
    ASSERT_EQ(run(NURBS_BIN_DIR "/interp_suite --manifest " + dir.file("suite.txt") + " --out " +
                      dir.file("out") + " --no-plots --method-lib " + LIBRARY,
                  out, err),
              0)
        << read_file(err);
    const summary sum = read_summary(dir.file("out/summary.csv"));
    for (const char *joints : {"through", "split"}) {
        EXPECT_EQ(sum.at("RK4_ds", joints, "status").rfind("ok", 0), 0u)
            << joints << ": " << sum.at("RK4_ds", joints, "status");
        EXPECT_NE(sum.at("RK2", joints, "status"), "") << joints;
    }
    EXPECT_LT(std::stod(sum.at("RK4_ds", "split", "fluct_max")), 1e-10);
}

TEST_F(MethodExample, AMethodLinkingTheInstalledCoreRunsAsTheBuiltInOneBitForBit) {
    // Taylor2_core calls the installed core's get_u_Taylor2 on the derivatives the program's
    // routines give: the built-in Taylor2's run, every per-sample figure but the times.
    const std::string csv = dir.file("r.csv");
    ASSERT_EQ(run(NURBS_BIN_DIR "/interp_compare --curve " + curve + " --profile " + profile +
                      " --methods Taylor2,Taylor2_core --method-lib " + CORE_LIBRARY + " --csv " +
                      csv,
                  out, err),
              0)
        << read_file(err);
    std::ifstream in(csv);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    const std::vector<std::string> head = csv_fields(line);
    // Pairs of columns: Taylor2_core_<what> and Taylor2_<what>, the times left out.
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    for (std::size_t k = 0; k < head.size(); ++k)
        for (std::size_t b = 0; b < head.size(); ++b)
            if (head[k].rfind("Taylor2_core_", 0) == 0 && head[k] != "Taylor2_core_call_ns" &&
                head[b] == "Taylor2_" + head[k].substr(13))
                pairs.emplace_back(k, b);
    EXPECT_EQ(pairs.size(), 4u);
    std::size_t rows = 0;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = csv_fields(line);
        ASSERT_EQ(f.size(), head.size());
        for (const auto &[k, b] : pairs)
            EXPECT_EQ(f[k], f[b]) << head[k] << " row " << rows;
        ++rows;
    }
    EXPECT_EQ(rows, samples);
}

} // namespace
