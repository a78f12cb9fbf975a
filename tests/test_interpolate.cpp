// Tests of the interpolate module: the u(s) table lookup, the Taylor steps, the iterative and
// multistep steps on curves with known geometry, and the axis kinematics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "FCP_init.hpp" // the compiled-in table, for reference values
#include "interpolate.hpp"

namespace {

constexpr double T = 0.00025;
constexpr double PI = 3.141592653589793;
const double NaN = std::nan("");

struct wpt {
    double x, y, w;
};

// Loads a curve written to a temporary file; the file is removed again.
std::unique_ptr<nurbs_curve> make_curve(const std::string &name, const std::vector<wpt> &pts,
                                        unsigned deg) {
    const auto path = std::filesystem::temp_directory_path() / ("interp_test_" + name + ".nurbs");
    std::FILE *f = std::fopen(path.c_str(), "w");
    std::fprintf(f, "N%zu\tL%u\tD2\n", pts.size(), deg);
    for (const wpt &p : pts)
        std::fprintf(f, "X%.17g\tY%.17g\tP%.17g\n", p.x, p.y, p.w);
    std::fclose(f);
    auto curve = std::make_unique<nurbs_curve>();
    nurbs_curve_alloc_file(path.c_str(), curve.get());
    std::filesystem::remove(path);
    return curve;
}

// A smooth rational cubic of 300 control points: a five-lobed loop, weights in [0.7, 1.3].
std::unique_ptr<nurbs_curve> make_lobed_curve() {
    std::vector<wpt> pts;
    for (int i = 0; i < 300; ++i) {
        const double th = 1.9 * PI * i / 299;
        const double r = 60 + 25 * std::sin(5 * th);
        pts.push_back({r * std::cos(th), r * std::sin(th), 1 + 0.3 * std::sin(3 * th)});
    }
    return make_curve("lobed", pts, 3);
}

// Arc length of `c` over [a, b] by 5-point Gauss-Legendre on 8 sub-intervals per knot span
// touched: independent of the adaptive Simpson quadrature, exact to rounding for short steps.
double gl_length(nurbs_curve *c, double a, double b) {
    static const double x[5] = {0, -0.5384693101056831, 0.5384693101056831, -0.906179845938664,
                                0.906179845938664};
    static const double w[5] = {0.5688888888888889, 0.4786286704993665, 0.4786286704993665,
                                0.2369268850561891, 0.2369268850561891};
    std::vector<double> cuts{a};
    for (double k : c->knots)
        if (k > std::min(a, b) && k < std::max(a, b)) cuts.push_back(k);
    cuts.push_back(b);
    if (b < a) std::sort(cuts.begin() + 1, cuts.end() - 1, std::greater<double>());
    double sum = 0;
    for (size_t i = 0; i + 1 < cuts.size(); ++i)
        for (int m = 0; m < 8; ++m) {
            const double lo = cuts[i] + (cuts[i + 1] - cuts[i]) * m / 8;
            const double h = (cuts[i + 1] - cuts[i]) / 8;
            for (int q = 0; q < 5; ++q)
                sum += w[q] * (h / 2) * nurbs_arc_len(lo + h / 2 * (1 + x[q]), c);
        }
    return sum;
}

// A point of a curve with its first three derivatives (the third NaN for degree 2).
struct jet {
    cart_point P, d, dd, ddd;
};
jet eval_jet(nurbs_curve *c, double u) {
    jet e;
    nurbs_deBoor_eval(u, -1, c, &e.P, &e.d, &e.dd, &e.ddd);
    return e;
}

struct curves : testing::Test {
    static inline std::unique_ptr<nurbs_curve> line, circle, lobed, bundled;
    static void SetUpTestSuite() {
        // C(u) = u*(30, 40): speed 50 everywhere (one Bezier segment, equally spaced points).
        line =
            make_curve("line", {{0, 0, 1}, {10, 40.0 / 3, 1}, {20, 80.0 / 3, 1}, {30, 40, 1}}, 3);
        // The exact quarter circle of radius 10.
        circle = make_curve("circle", {{10, 0, 1}, {10, 10, std::sqrt(2.0) / 2}, {0, 10, 1}}, 2);
        lobed = make_lobed_curve();
        const std::string path = std::string(NURBS_BUNDLED_DATA) + "/S1200X30quorbel.nurbs";
        if (std::filesystem::exists(path)) {
            bundled = std::make_unique<nurbs_curve>();
            nurbs_curve_alloc_file(path.c_str(), bundled.get());
        }
    }
    // The realistic curves: ours, and the benchmark curve once it is bundled.
    static std::vector<std::pair<const char *, nurbs_curve *>> realistic() {
        std::vector<std::pair<const char *, nurbs_curve *>> r{{"lobed", lobed.get()}};
        if (bundled) r.push_back({"bundled", bundled.get()});
        return r;
    }
};

// ---- u(s) table ----

// Piece j of the compiled-in table at arc length s.
double table_piece(int j, double s) {
    const double t = (s - FCP_SBRK[j]) / FCP_SBRK[BRK_LEN - 1];
    double u = FCP_THT[j][0];
    for (int i = 1; i < FCP_ORD; i++)
        u = FCP_THT[j][i] + u * t;
    return u;
}

TEST(fcp, find_span_brackets_and_always_ends) {
    const double U[5] = {0, 1, 2, 4, 8};
    for (double u = 0; u < 8; u += 0.125) {
        const int i = find_span(5, 0, u, U);
        EXPECT_TRUE(U[i] <= u && u < U[i + 1]) << u;
    }
    EXPECT_EQ(find_span(5, 0, 8, U), 4);
    EXPECT_EQ(find_span(5, 0, INFINITY, U), 4);
    EXPECT_EQ(find_span(5, 2, 3, U), 2);
    // Below the first searchable value, or NaN: the lowest index instead of an endless loop.
    EXPECT_EQ(find_span(5, 0, -1, U), 0);
    EXPECT_EQ(find_span(5, 2, 1.5, U), 2);
    EXPECT_EQ(find_span(5, 1, NaN, U), 1);
}

TEST(fcp, piece_is_chosen_by_the_travelled_length) {
    for (int k = 0; k < BRK_LEN - 1; ++k) // on a breakpoint: that piece at t = 0, its c5
        EXPECT_EQ(get_u_FCP(FCP_SBRK[k], 0, T), FCP_THT[k][FCP_ORD - 1]) << k;
    for (int k = 1; k < BRK_LEN - 1; ++k) { // crossing a breakpoint: the lower piece
        const double s = std::nextafter(FCP_SBRK[k], 0.0);
        EXPECT_EQ(get_u_FCP(s, 500, T), table_piece(k - 1, 500 * T + s)) << k;
    }
    // At and past the last breakpoint the last piece continues, unclamped.
    const double end = FCP_SBRK[BRK_LEN - 1];
    EXPECT_EQ(get_u_FCP(end, 400, T), table_piece(BRK_LEN - 2, 400 * T + end));
    EXPECT_EQ(get_u_FCP(end + 5, 0, T), table_piece(BRK_LEN - 2, end + 5));
    // Below 0 the first piece, before its first breakpoint; NaN gives NaN.
    EXPECT_EQ(get_u_FCP(-1, 0, T), table_piece(0, -1));
    EXPECT_TRUE(std::isnan(get_u_FCP(NaN, 100, T)));
}

TEST(fcp, eval_is_the_zero_feed_step_and_prints_the_search_result) {
    const double end = FCP_SBRK[BRK_LEN - 1];
    testing::internal::CaptureStdout();
    const double u0 = FCP_eval(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "FCP: s=0.000000 jbrk=0\n");
    EXPECT_EQ(u0, get_u_FCP(0, 0, T));
    for (double s : {0.3 * end, 0.77 * end, end, end + 1}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(FCP_eval(s), get_u_FCP(s, 0, T)) << s;
        testing::internal::GetCapturedStdout();
    }
}

// ---- Taylor steps ----

TEST(taylor, time_steps_have_their_order_on_a_known_motion) {
    // C(u) = u^2 * (0.6, 0.8): arc length s = u^2, so u(t) = sqrt(s(t)) exactly for the motion
    // s(t) = s0 + v t + a t^2/2 + j t^3/6. Halving T must cut the error by 8 (second order
    // step) and by 16 (third order step): a wrong term or sign breaks the ratio.
    const double u = 0.5, v = 0.3, a = 0.5, j = 2;
    const cart_point d{0.6 * 2 * u, 0.8 * 2 * u, 0}, dd{1.2, 1.6, 0}, ddd{0, 0, 0};
    auto err = [&](double h, bool third) {
        const double exact = std::sqrt(u * u + v * h + a * h * h / 2 + j * h * h * h / 6);
        return (third ? get_u_Taylor3(v, a, j, u, h, &d, &dd, &ddd)
                      : get_u_Taylor2(v, a, u, h, &d, &dd)) -
               exact;
    };
    EXPECT_NEAR(err(0.02, false) / err(0.01, false), 8, 0.5);
    EXPECT_NEAR(err(0.02, true) / err(0.01, true), 16, 1.0);
    // Unit speed line: u + vT + aT^2/2 (+ jT^3/6); no motion gives u itself.
    const cart_point t{0.6, 0.8, 0}, z{0, 0, 0};
    EXPECT_NEAR(get_u_Taylor2(v, a, u, 0.1, &t, &z), u + 0.03 + 0.0025, 1e-16);
    EXPECT_NEAR(get_u_Taylor3(v, a, j, u, 0.1, &t, &z, &z), u + 0.03 + 0.0025 + 2e-3 / 6, 1e-16);
    EXPECT_EQ(get_u_Taylor2(0, 0, u, 0.1, &d, &dd), u);
    EXPECT_EQ(get_u_Taylor3(0, 0, 0, u, 0.1, &d, &dd, &ddd), u);
}

TEST_F(curves, arc_steps_are_the_first_order_step) {
    // Newton-Raphson starts from this step: u + ds/|C'|, whatever T and finite higher
    // derivatives are passed.
    const cart_point other{3, -7, 1};
    for (double u : {0.0, 0.13, 0.5, 0.871}) {
        const jet e = eval_jet(lobed.get(), u);
        const double first = (1 / modulus(&e.d)) * 0.0625 + u;
        EXPECT_EQ(get_u_Taylor2_ds(0.0625, u, T, &e.d, &e.dd), first);
        EXPECT_EQ(get_u_Taylor2_ds(0.0625, u, 1.0, &e.d, &other), first);
        EXPECT_EQ(get_u_Taylor3_ds(0.0625, u, T, &e.d, &e.dd, &e.ddd), first);
        EXPECT_EQ(get_u_Taylor3_ds(0.0625, u, 7.0, &e.d, &other, &other), first);
        EXPECT_EQ(get_u_Taylor3_ds(0, u, T, &e.d, &e.dd, &e.ddd), u);
    }
}

TEST(taylor, clamp_to_exactly_one_from_above_only) {
    const cart_point d{3, 4, 0}, dd{1, -2, 0}, ddd{0.5, 0.5, 0};
    const cart_point z{0, 0, 0};
    EXPECT_EQ(get_u_Taylor2(1e9, 0, 0.9, T, &d, &dd), 1.0);
    EXPECT_EQ(get_u_Taylor3(1e9, 1e9, 1e9, 0.9, T, &d, &z, &z), 1.0);
    EXPECT_EQ(get_u_Taylor2_ds(1e9, 0.9, T, &d, &dd), 1.0);
    EXPECT_EQ(get_u_Taylor3_ds(1e9, 0.9, T, &d, &dd, &ddd), 1.0);
    EXPECT_EQ(get_u_Taylor2_ds(-10, 0.5, T, &d, &dd), 0.5 - 2.0); // no lower clamp
    EXPECT_LT(get_u_Taylor3(-1e6, 0, 0, 0.1, T, &d, &z, &z), 0.0);
    EXPECT_TRUE(std::isnan(get_u_Taylor2(NaN, 0, 0.5, T, &d, &dd)));
}

TEST_F(curves, diff_arclength_measures_from_the_set_start) {
    set_global_nurbs_curve(circle.get());
    EXPECT_EQ(diff_arclength(0), 0.0); // start and target at their initial 0
    EXPECT_NEAR(diff_arclength(1), -5 * PI, 1e-10);
    set_diff_arclength_target(0.5, 2.0); // u = 0.5 is the circle's 45 degree point
    EXPECT_NEAR(diff_arclength(1), 2.0 - 2.5 * PI, 1e-10);
    EXPECT_EQ(diff_arclength(0.5), 2.0);
    set_diff_arclength_target(0, 0);
}

// ---- Iterative and multistep steps ----

TEST_F(curves, steps_are_exact_on_a_constant_speed_line) {
    const double u = 0.3, v = 100, want = u + v * T / 50;
    const jet e = eval_jet(line.get(), u);
    EXPECT_NEAR(get_u_RK2(v, u, T, &e.P, &e.d, line.get()), want, 1e-15);
    EXPECT_NEAR(get_u_T3SIA(v, 0, 0, u, T, line.get()), want, 1e-15);
    EXPECT_NEAR(get_u_NewtonRaphson(u, v, T, line.get(), &e.P, &e.d, &e.dd), want, 1e-15);
    // Equally spaced history: the three candidates coincide and the inverse quadratic step has
    // no information (M = 0); the Newton fallback still lands on v*T.
    reset_adams_moulton_history(0.2, 0.1);
    EXPECT_NEAR(get_u_AdamsMoulton(u, v, T, 1.0, line.get()), want, 1e-15);
    double m1, m2;
    adams_moulton_history(&m1, &m2);
    EXPECT_EQ(m1, u);
    EXPECT_EQ(m2, 0.2);
}

TEST_F(curves, rk2_keeps_the_heun_step_without_a_real_root) {
    // Steps of 25 mm on the lobed curve: where the Heun step overshoots around a lobe, the
    // linearised chord equation has no real root and the Heun value itself comes back.
    int kept = 0;
    for (int k = 0; k < 200; ++k) {
        const double u = 0.005 * k, v = 1e5;
        const jet e = eval_jet(lobed.get(), u);
        const double K1 = v / modulus(&e.d);
        const jet f = eval_jet(lobed.get(), u + T * K1);
        const double K2 = v / modulus(&f.d);
        const double heun = (K1 + K2) * (T * 0.5) + u;
        const double got = get_u_RK2(v, u, T, &e.P, &e.d, lobed.get());
        ASSERT_TRUE(std::isfinite(got)) << u;
        kept += got == heun && heun < 1;
    }
    EXPECT_GT(kept, 0);
}

TEST_F(curves, iterative_steps_clamp_to_exactly_one) {
    for (auto [name, c] : realistic()) {
        const double u = 0.9995, v = 4e5; // 100 mm per period, far beyond the end
        const jet e = eval_jet(c, u);
        EXPECT_EQ(get_u_RK2(v, u, T, &e.P, &e.d, c), 1.0) << name;
        EXPECT_EQ(get_u_T3SIA(v, 0, 0, u, T, c), 1.0) << name;
        EXPECT_EQ(get_u_NewtonRaphson(u, v, T, c, &e.P, &e.d, &e.dd), 1.0) << name;
        reset_adams_moulton_history(0.999, 0.9985);
        EXPECT_EQ(get_u_AdamsMoulton(u, v, T, 0, c), 1.0) << name;
        EXPECT_EQ(get_u_AdamsMoulton(u, v, T, 1, c), 1.0) << name;
    }
}

TEST_F(curves, t3sia_zero_feed_returns_its_predictor_and_otherwise_corrects) {
    // v = 0: u + T^2 a / (2|C'|) + (T^3/6) j/|C'|, unclamped even beyond the end.
    const double u = 0.9999, a = 1e9, j = 1e10;
    const jet e = eval_jet(lobed.get(), u);
    const double sig = modulus(&e.d);
    const double want = u + T * T * a / (2 * sig) + (T * T * T / 6) * (j / sig);
    const double got = get_u_T3SIA(0, a, j, u, T, lobed.get());
    EXPECT_GT(got, 1.0);
    EXPECT_NEAR(got, want, 1e-15 * want);
    EXPECT_EQ(interp_last_iterations(), 0);
    get_u_T3SIA(100, 0, 0, 0.4, T, lobed.get());
    EXPECT_GE(interp_last_iterations(), 1);
}

TEST_F(curves, newton_ignores_the_start_point) {
    const jet e = eval_jet(lobed.get(), 0.6);
    const cart_point junk{1e300, -1e300, NaN};
    const double a = get_u_NewtonRaphson(0.6, 250, T, lobed.get(), &e.P, &e.d, &e.dd);
    EXPECT_EQ(get_u_NewtonRaphson(0.6, 250, T, lobed.get(), &junk, &e.d, &e.dd), a);
    EXPECT_EQ(get_u_NewtonRaphson(0.6, 250, T, lobed.get(), nullptr, &e.d, &e.dd), a);
}

TEST_F(curves, adams_moulton_starts_up_by_time_and_always_shifts_the_history) {
    // At v = 0 the start-up (Heun) step returns u exactly, while the multistep step only finds
    // u again through its interpolation: that tells the branches apart.
    nurbs_curve *c = lobed.get();
    double m1, m2;
    for (double ct : {0.0, std::nextafter(2 * T, 0.0), 2 * T}) {
        reset_adams_moulton_history(0.4999, 0.4997);
        const double got = get_u_AdamsMoulton(0.5, 0, T, ct, c);
        const jet e = eval_jet(c, 0.5);
        if (ct < 2 * T)
            EXPECT_EQ(got, get_u_RK2(0, 0.5, T, &e.P, &e.d, c)) << ct;
        else
            EXPECT_NE(got, 0.5);
        EXPECT_NEAR(got, 0.5, 1e-9);
        adams_moulton_history(&m1, &m2);
        EXPECT_EQ(m1, 0.5);
        EXPECT_EQ(m2, 0.4999);
    }
}

// Step error tolerances, measured (max over the realistic curves, feeds 10 to 500 mm/s; see
// the printout of the test below) with about 3x margin: RK2 4e-7 * v*T (its correction uses
// an arc length at 1e-6, depth 5); Adams-Moulton 7.3e-7 * v*T (lengths at 1e-8, depth 10,
// which the extrapolating interpolation amplifies); Newton-Raphson 4e-13 mm.
constexpr double RK2_REL_TOL = 1.2e-6, AM_REL_TOL = 2.2e-6;

TEST_F(curves, steps_land_on_the_feed_at_10_to_500_mm_per_s) {
    for (auto [name, c] : realistic()) {
        double worst_rk2 = 0, worst_am = 0, worst_t3 = 0, worst_nr = 0;
        for (double v : {10.0, 50.0, 250.0, 500.0})
            for (int k = 0; k < 60; ++k) {
                const double u0 = 0.003 + 0.97 * k / 59, ds = v * T;
                const jet e = eval_jet(c, u0);
                auto err = [&](double a, double b) { return std::fabs(gl_length(c, a, b) - ds); };
                const double nr = err(u0, get_u_NewtonRaphson(u0, v, T, c, &e.P, &e.d, &e.dd));
                EXPECT_LE(nr, 1e-11) << name << " v=" << v << " u=" << u0;
                const double rk2 = err(u0, get_u_RK2(v, u0, T, &e.P, &e.d, c)) / ds;
                EXPECT_LE(rk2, RK2_REL_TOL) << name << " v=" << v << " u=" << u0;
                worst_t3 = std::max(worst_t3, err(u0, get_u_T3SIA(v, 0, 0, u0, T, c)) / ds);
                double u = u0;
                for (int step = 0; step < 6; ++step) {
                    const double next = get_u_AdamsMoulton(u, v, T, step * T, c);
                    if (step >= 2) {
                        EXPECT_LE(err(u, next) / ds, AM_REL_TOL) << name << " v=" << v;
                        worst_am = std::max(worst_am, err(u, next) / ds);
                    }
                    u = next;
                }
                worst_nr = std::max(worst_nr, nr);
                worst_rk2 = std::max(worst_rk2, rk2);
            }
        std::printf("%s: max |ds - v*T|/(v*T): RK2 %.3g, Adams-Moulton %.3g, T3SIA %.3g; "
                    "Newton-Raphson max |ds - v*T| %.3g mm\n",
                    name, worst_rk2, worst_am, worst_t3, worst_nr);
    }
}

TEST_F(curves, adams_moulton_runs_a_whole_move) {
    // Accelerate at 2500 mm/s^2 to 250 mm/s, cruise, brake to rest 0.5 mm before the end.
    for (auto [name, c] : realistic()) {
        const double length = gl_length(c, 0, 1), acc = 2500;
        double u = 0, s = 0, worst = 0;
        long steps = 0;
        for (; s < length - 0.5; ++steps) {
            const double t = steps * T;
            const double v =
                std::min({250.0, acc * (t + T), std::sqrt(2 * acc * (length - 0.5 - s))});
            if (v * T < 1e-6) break;
            const double next = get_u_AdamsMoulton(u, v, T, t, c);
            ASSERT_TRUE(std::isfinite(next) && next > u) << name << " step " << steps;
            const double err = std::fabs(gl_length(c, u, next) - v * T);
            if (steps >= 2) {
                ASSERT_LE(err, AM_REL_TOL * v * T + 1e-10) << name << " step " << steps;
            }
            worst = std::max(worst, err);
            u = next;
            s += v * T;
        }
        EXPECT_NEAR(gl_length(c, u, 1), 0.5, 1e-3) << name;
        std::printf("%s: whole move, %ld steps, worst |ds - v*T| %.3g mm\n", name, steps, worst);
    }
}

TEST_F(curves, parameters_outside_the_curve_end_every_loop) {
    // Non-finite or negative parameters and feeds: every step returns (no hang, no stray read;
    // the sanitizer build checks the latter), and its result is NaN or at most 1.
    const double bad[] = {NaN, -0.5, -double(INFINITY), double(INFINITY), 2.0};
    for (auto [name, c] : realistic())
        for (double u : bad)
            for (double v : {NaN, -100.0, double(INFINITY), 100.0}) {
                const jet e = eval_jet(c, u);
                auto ok = [](double r) { return std::isnan(r) || r <= 1.0; };
                EXPECT_TRUE(ok(get_u_RK2(v, u, T, &e.P, &e.d, c)));
                EXPECT_TRUE(ok(get_u_T3SIA(v, 0, 0, u, T, c)));
                EXPECT_LE(interp_last_iterations(), 100);
                EXPECT_TRUE(ok(get_u_NewtonRaphson(u, v, T, c, &e.P, &e.d, &e.dd)));
                EXPECT_LE(interp_last_iterations(), 100);
                EXPECT_TRUE(ok(get_u_AdamsMoulton(u, v, T, 1.0, c)));
            }
    reset_adams_moulton_history(0, 0);
}

// ---- Axis kinematics ----

struct vaj {
    cart_point v, a, j;
};
vaj axial(cart_point d, cart_point dd, cart_point ddd, double Vt, double At, double Jt) {
    vaj r;
    compute_axial_vaj(&r.v, &r.a, &r.j, &d, &dd, &ddd, Vt, At, Jt);
    return r;
}
void expect_near(const cart_point &p, double x, double y, double tol) {
    EXPECT_NEAR(p.x, x, tol);
    EXPECT_NEAR(p.y, y, tol);
    EXPECT_NEAR(p.z, 0, tol);
}

TEST(axial, line_and_unit_speed_circle) {
    const double Vt = 120, At = 900, Jt = 2e4;
    const cart_point z{0, 0, 0};
    vaj r = axial({3, 4, 0}, z, z, Vt, At, Jt); // a line at constant parameter speed
    expect_near(r.v, 0.6 * Vt, 0.8 * Vt, 1e-12);
    expect_near(r.a, 0.6 * At, 0.8 * At, 1e-12);
    expect_near(r.j, 0.6 * Jt, 0.8 * Jt, 1e-10);
    // Circle of radius R at unit speed, at angle th: tangent tg, inward normal nm.
    const double R = 20, th = 0.7, c = std::cos(th), s = std::sin(th);
    r = axial({-s, c, 0}, {-c / R, -s / R, 0}, {s / (R * R), -c / (R * R), 0}, Vt, At, Jt);
    const double at = At, an = Vt * Vt / R, jt = Jt - Vt * Vt * Vt / (R * R), jn = 3 * Vt * At / R;
    expect_near(r.v, -s * Vt, c * Vt, 1e-12);
    expect_near(r.a, -s * at - c * an, c * at - s * an, 1e-10);
    expect_near(r.j, -s * jt - c * jn, c * jt - s * jn, 1e-8);
}

TEST_F(curves, axial_split_is_parametrisation_free_and_reads_before_writing) {
    jet e = eval_jet(lobed.get(), 0.37);
    const vaj r = axial(e.d, e.dd, e.ddd, 250, 2500, 5e4);
    auto scaled = [](cart_point p, double k) { return cart_point{p.x * k, p.y * k, p.z * k}; };
    // The same point run at twice the parameter speed: C' x2, C'' x4, C''' x8.
    const vaj r2 = axial(scaled(e.d, 2), scaled(e.dd, 4), scaled(e.ddd, 8), 250, 2500, 5e4);
    expect_near(r2.v, r.v.x, r.v.y, 1e-12 * 250);
    expect_near(r2.a, r.a.x, r.a.y, 1e-12 * 1e5);
    expect_near(r2.j, r.j.x, r.j.y, 1e-12 * 1e8);
    // Outputs written over the inputs: the same values.
    compute_axial_vaj(&e.d, &e.dd, &e.ddd, &e.d, &e.dd, &e.ddd, 250, 2500, 5e4);
    EXPECT_TRUE(0 == std::memcmp(&e.d, &r.v, sizeof r.v) &&
                0 == std::memcmp(&e.dd, &r.a, sizeof r.a) &&
                0 == std::memcmp(&e.ddd, &r.j, sizeof r.j));
    // No path motion: no axis motion.
    const vaj r0 = axial(e.P, e.P, e.P, 0, 0, 0);
    expect_near(r0.j, 0, 0, 0);
    // Zero speed: the split is undefined, every output NaN (not a silent 0 or inf).
    const vaj rn = axial({0, 0, 0}, {1, 2, 0}, {3, 4, 0}, 250, 2500, 5e4);
    for (const cart_point &p : {rn.v, rn.a, rn.j})
        EXPECT_TRUE(std::isnan(p.x) && std::isnan(p.y) && std::isnan(p.z));
}

} // namespace
