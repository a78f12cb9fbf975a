// The bundled data and the tools that made it: the benchmark curve, the two feed profiles and
// the feedrate correction table in FCP_init.hpp, their promised properties measured
// independently, and their regeneration byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "core/FCP_init.hpp"
#include "plan/arc_length.hpp"
#include "plan/feed_cap.hpp"
#include "plan/feed_ramp.hpp"
#include "core/interpolate.hpp" // fcp_horner
#include "core/nurbs.hpp"
#include "test_util.hpp"
#include "io/feed_profile.hpp"

using namespace nurbs_interp;

namespace {

const std::string CURVE = NURBS_BUNDLED_DATA "/S1200X30quorbel.nurbs";
const std::string PROFILE = NURBS_BUNDLED_DATA "/fprof.txt";
constexpr double PERIOD = 0.00025;

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The bundled curve, loaded once for the whole program.
nurbs_curve *bundled() {
    static nurbs_curve curve;
    static bool loaded = false;
    if (!loaded) {
        nurbs_curve_alloc_file(CURVE.c_str(), &curve);
        loaded = true;
    }
    return &curve;
}

// The driver's total length of the bundled curve (adaptive Simpson, 1e-12, depth 30).
double driver_length() {
    static const double len = adaptiveSimpsons(nurbs_arc_len, bundled(), 0.0, 1.0, 1e-12, 30);
    return len;
}

double speed(nurbs_curve *c, double u) {
    return nurbs_arc_len(u, c);
}

// Independent inversion: the parameter at arc length ds past u0, by Newton's method on the
// driver's adaptive Simpson quadrature (not on the Gauss-Legendre length of arc_inverse).
double simpson_param_after(nurbs_curve *c, double u0, double ds, double u_guess) {
    double u = u_guess;
    for (int it = 0; it < 8; ++it) {
        const double f = adaptiveSimpsons(nurbs_arc_len, c, u0, u, 1e-14, 40) - ds;
        const double step = f / speed(c, u);
        u -= step;
        if (std::fabs(step) < 1e-17) break;
    }
    return u;
}

// Piece j of the compiled-in table at s, evaluated as get_u_FCP does.
double table_eval(int j, double s) {
    return fcp_horner(FCP_THT[j], (s - FCP_SBRK[j]) / FCP_SBRK[BRK_LEN - 1]);
}

// du/ds of piece j at s.
double table_slope(int j, double s) {
    const double t = (s - FCP_SBRK[j]) / FCP_SBRK[BRK_LEN - 1];
    double d = 5 * FCP_THT[j][0];
    for (int i = 1; i < FCP_ORD - 1; ++i)
        d = (5 - i) * FCP_THT[j][i] + d * t;
    return d / FCP_SBRK[BRK_LEN - 1];
}

int run(const std::string &cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

// ---------------------------------------------------------------- the bundled curve

TEST(BundledCurve, HasThePromisedShape) {
    const std::string text = slurp(CURVE);
    ASSERT_FALSE(text.empty());
    unsigned n = 0, deg = 0, dim = 0;
    ASSERT_EQ(std::sscanf(text.c_str(), "N%u\tL%u\tD%u", &n, &deg, &dim), 3);
    EXPECT_EQ(dim, 2u);
    EXPECT_EQ(deg, 3u);
    EXPECT_GE(n, 1000u);

    nurbs_curve *c = bundled();
    double wmin = 1e300, wmax = -1e300;
    for (const nurbs_ctrl_pt &p : c->control_points) {
        wmin = std::min(wmin, p.w);
        wmax = std::max(wmax, p.w);
    }
    EXPECT_GE(wmin, 0.5);
    EXPECT_LE(wmax, 2.0);
    EXPECT_GT(wmax - wmin, 0.1); // not all equal

    EXPECT_GT(driver_length(), 3000.0);
    EXPECT_LT(driver_length(), 6000.0);

    // Radius of curvature and parameter speed, 32 samples per knot span.
    const int samples = 32 * int(c->ncp - c->deg);
    double rmin = 1e300, rmax = 0, vmin = 1e300, vmax = 0;
    for (int k = 0; k <= samples; ++k) {
        cart_point P, d1, d2;
        nurbs_deBoor_eval(double(k) / samples, -1, c, &P, &d1, &d2, nullptr);
        const double v = std::hypot(d1.x, d1.y);
        const double r = v * v * v / std::fabs(d1.x * d2.y - d1.y * d2.x);
        rmin = std::min(rmin, r);
        rmax = std::max(rmax, r);
        vmin = std::min(vmin, v);
        vmax = std::max(vmax, v);
    }
    EXPECT_LT(rmin, 2.0);
    EXPECT_GT(rmax, 500.0);
    EXPECT_GT(vmax / vmin, 10.0);
    EXPECT_GT(vmin, 100.0); // never near zero: at least 100 mm per unit of u
}

TEST(BundledCurve, MakeCurveReproducesTheFileBitForBit) {
    test_util::temp_dir dir;
    const std::string tmp = dir.file("curve.nurbs");
    ASSERT_EQ(run(NURBS_BIN_DIR "/make_curve -o " + tmp), 0);
    EXPECT_TRUE(slurp(tmp) == slurp(CURVE)) << "regenerated curve differs from " << CURVE;
}

// ---------------------------------------------------------------- the feed profiles

TEST(BundledProfile, IsAConsistentJerkLimitedMoveEndingShortOfTheCurveEnd) {
    const feed_profile p = read_feed_profile(PROFILE.c_str());
    ASSERT_GT(p.v.size(), 1000u);
    EXPECT_EQ(p.v.front(), 0.0);
    EXPECT_EQ(p.v.back(), 0.0);
    const double vmax = *std::max_element(p.v.begin(), p.v.end());
    EXPECT_DOUBLE_EQ(vmax, 250.0);
    for (std::size_t k = 0; k < p.v.size(); ++k) {
        ASSERT_GE(p.v[k], 0.0) << k;
        ASSERT_LE(std::fabs(p.a[k]), 2500.0 + 1e-9) << k;
        ASSERT_LE(std::fabs(p.j[k]), 50000.0) << k;
    }
    // a = dv/dt and j = da/dt: over one period the mean of the derivative lies between its
    // values at the two samples (jerk is piecewise constant, acceleration piecewise linear);
    // the slack covers rounding of the differences (v ~ 250, T = 2.5e-4: ~1e-10 relative).
    for (std::size_t k = 0; k + 1 < p.v.size(); ++k) {
        const double dv = (p.v[k + 1] - p.v[k]) / PERIOD;
        const double da = (p.a[k + 1] - p.a[k]) / PERIOD;
        const double a_lo = std::min(p.a[k], p.a[k + 1]), a_hi = std::max(p.a[k], p.a[k + 1]);
        const double j_lo = std::min(p.j[k], p.j[k + 1]), j_hi = std::max(p.j[k], p.j[k + 1]);
        ASSERT_GE(dv, a_lo - 1e-6) << k;
        ASSERT_LE(dv, a_hi + 1e-6) << k;
        ASSERT_GE(da, j_lo - 1e-4) << k;
        ASSERT_LE(da, j_hi + 1e-4) << k;
    }
    // The driver steps s += v*T; the travel must stay inside the table (below the curve's
    // length) and end just short of the length minus 0.5 mm.
    const double travel = feed_profile_travel(p, PERIOD);
    EXPECT_LE(travel, driver_length() - 0.5 + 1e-9);
    EXPECT_GT(travel, driver_length() - 0.5 - 1e-3);
}

// ---------------------------------------------------------------- the correction table

TEST(FcpTable, LayoutAndNormalisation) {
    EXPECT_EQ(BRK_LEN, 401);
    EXPECT_EQ(FCP_ORD, 6);
    EXPECT_EQ(FCP_SBRK[0], 0.0);
    for (int k = 0; k + 1 < BRK_LEN; ++k)
        ASSERT_LT(FCP_SBRK[k], FCP_SBRK[k + 1]) << k;
    // The last breakpoint is the accurate length (the driver's steps, each measured on its own,
    // add up to it, not to its quadrature over the whole curve, which agrees here to 1e-15), the
    // length the header says the curve it was made for has; and that curve is the bundled one.
    arc_table tab;
    arc_table_build(bundled(), &tab);
    EXPECT_EQ(FCP_SBRK[BRK_LEN - 1], arc_table_length(tab));
    EXPECT_EQ(FCP_SBRK[BRK_LEN - 1], FCP_CURVE_LENGTH);
    EXPECT_NEAR(FCP_SBRK[BRK_LEN - 1], driver_length(), 1e-14 * driver_length());
    EXPECT_EQ(identity_mismatch(fcp_builtin_identity(), *bundled()), "");
    EXPECT_EQ(FCP_THT[0][5], 0.0);
    EXPECT_NEAR(table_eval(BRK_LEN - 2, FCP_SBRK[BRK_LEN - 1]), 1.0, 1e-15);
}

TEST(FcpTable, PiecesMeetAtBreakpointsInValueAndSlope) {
    // A piece ends on its breakpoint's u, du/ds = 1/|C'| and d2u/ds2 (the next starts there:
    // they agree to rounding), or was fitted to the end of its reach past it and meets the next
    // within the table's E (2.4e-6 mm) as arc length.
    double worst = 0, worst_slope = 0;
    for (int j = 0; j + 2 < BRK_LEN; ++j) {
        const double s = FCP_SBRK[j + 1];
        const double du = std::fabs(table_eval(j, s) - FCP_THT[j + 1][5]);
        worst = std::max(worst, du * speed(bundled(), FCP_THT[j + 1][5]));
        const double right = table_slope(j + 1, s);
        worst_slope = std::max(worst_slope, std::fabs(table_slope(j, s) - right) / right);
    }
    EXPECT_LE(worst, 2.4e-6);
    EXPECT_LE(worst_slope, 1e-4) << "du/ds across a breakpoint";
}

TEST(FcpTable, ParameterAtEachBreakpointAndAccuracyAgainstIndependentInversion) {
    // c5 of each piece against the driver's quadrature: the length between consecutive c5
    // must be the breakpoint spacing (1e-9 mm: the quadrature's tolerance is 1e-13 per piece).
    nurbs_curve *c = bundled();
    double max_err = 0;
    for (int j = 0; j + 1 < BRK_LEN; ++j) {
        const double u0 = FCP_THT[j][5], u1 = FCP_THT[j + 1 < BRK_LEN - 1 ? j + 1 : j][5];
        if (j + 2 < BRK_LEN) {
            ASSERT_NEAR(adaptiveSimpsons(nurbs_arc_len, c, u0, u1, 1e-13, 40),
                        FCP_SBRK[j + 1] - FCP_SBRK[j], 1e-9)
                << j;
        }
        // Inside the piece: the table against Newton on the quadrature from c5.
        for (double f : {0.3, 0.5, 0.8}) {
            const double ds = f * (FCP_SBRK[j + 1] - FCP_SBRK[j]);
            const double ut = table_eval(j, FCP_SBRK[j] + ds);
            const double u = simpson_param_after(c, u0, ds, ut);
            // The error as arc length (mm): what a step of the driver misses v*T by.
            max_err = std::max(max_err, std::fabs(ut - u) * speed(c, u));
        }
    }
    // The accuracy the table is built for: fcp_fit reports E max = 2.33e-6 mm over 64 samples
    // per piece (the breakpoints minimise the largest arc-length error).
    EXPECT_LE(max_err, 2.5e-6);
}

TEST(FcpTable, FcpFitRegeneratesTheCommittedHeaderByteForByte) {
    test_util::temp_dir dir;
    const std::string tmp = dir.file("FCP_init.hpp");
    ASSERT_EQ(run(NURBS_BIN_DIR "/fcp_fit -o " + tmp + " " + CURVE), 0);
    const std::string made = slurp(tmp),
                      committed = slurp(NURBS_SOURCE_DIR "/src/core/FCP_init.hpp");
    ASSERT_FALSE(made.empty());
    EXPECT_TRUE(made == committed) << "fcp_fit output differs from src/core/FCP_init.hpp";
}

TEST(SuiteData, ThePartOutlineIsWhatMakePartAndNurbsImportWrite) {
    test_util::temp_dir dir;
    const std::string bin = NURBS_BIN_DIR;
    ASSERT_EQ(run(bin + "/make_part --gcode " + dir.file("p.ngc") + " --dxf " + dir.file("p.dxf")),
              0);
    const std::string data = NURBS_BUNDLED_DATA "/curves/";
    EXPECT_TRUE(slurp(dir.file("p.ngc")) == slurp(data + "part_outline.ngc"));
    EXPECT_TRUE(slurp(dir.file("p.dxf")) == slurp(data + "part_outline.dxf"));
    for (const char *from : {"p.ngc", "p.dxf"}) {
        ASSERT_EQ(run(bin + "/nurbs_import -o " + dir.file("p.nurbs") + " " + dir.file(from)), 0);
        EXPECT_TRUE(slurp(dir.file("p.nurbs")) == slurp(data + "part_outline.nurbs")) << from;
    }
    // The other suite curves are make_curve's shapes.
    for (const char *shape : {"circle", "helix", "conics"}) {
        ASSERT_EQ(run(bin + "/make_curve --shape " + shape + " -o " + dir.file("c.nurbs")), 0);
        EXPECT_TRUE(slurp(dir.file("c.nurbs")) == slurp(data + shape + ".nurbs")) << shape;
    }
}

TEST(SuiteData, TheRouterProfilesAreWhatMakeProfileWritesForTheRouter) {
    test_util::temp_dir dir;
    const std::string data = NURBS_BUNDLED_DATA "/curves/";
    for (const char *curve : {"circle", "part_outline"}) {
        const std::string out = dir.file(std::string(curve) + ".txt");
        ASSERT_EQ(run(NURBS_BIN_DIR "/make_profile --config " NURBS_BUNDLED_DATA
                                    "/machines/router.toml --curve " +
                      data + curve + ".nurbs -o " + out),
                  0);
        const std::string made = slurp(out);
        EXPECT_TRUE(made == slurp(data + curve + "_fprof_router.txt")) << curve;
        EXPECT_NE(made.find("\n# period 0.001 s\n"), std::string::npos) << curve;
    }
}

} // namespace
