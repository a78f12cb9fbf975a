#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <unistd.h>

#include "test_util.hpp"

using namespace nurbs_interp;

using namespace test_util;

namespace {

std::vector<nurbs_ctrl_pt> cubic_x_points(unsigned n) {
    // x = i^3 so that every derivative level has non-zero differences; weights 1.
    std::vector<nurbs_ctrl_pt> pts;
    for (unsigned i = 0; i < n; ++i)
        pts.push_back({double(i * i * i), double(i), 0.0, 1.0});
    return pts;
}

// Returns the factor that turned the differences of `src` into `dst` at index i (x component).
double factor(const std::vector<nurbs_ctrl_pt> &src, const std::vector<nurbs_ctrl_pt> &dst,
              unsigned i) {
    return dst[i].x / (src[i + 1].x - src[i].x);
}

// Pinned on purpose: the record's fields, counts and derivative factors are the loader's
// published layout (callers read them), here for the worked seven-point cubic.
TEST(Loader, SevenPointCubicKnotsAndFactors) {
    nurbs_curve c;
    load_curve(cubic_x_points(7), 3, &c);
    EXPECT_EQ(c.nk, 11u);
    EXPECT_EQ(c.nsubk, 4001u);
    EXPECT_EQ(c.knots, (std::vector<double>{0, 0, 0, 0, 0.25, 0.5, 0.75, 1, 1, 1, 1}));
    EXPECT_EQ(c.knots_1d, (std::vector<double>{0, 0, 0, 0.25, 0.5, 0.75, 1, 1, 1}));
    EXPECT_EQ(c.knots_2d, (std::vector<double>{0, 0, 0.25, 0.5, 0.75, 1, 1}));
    EXPECT_EQ(c.knots_3d, (std::vector<double>{0, 0.25, 0.5, 0.75, 1}));
    const double b[] = {12, 6, 4, 4, 6, 12}, cc[] = {8, 4, 4, 4, 8}, d[] = {4, 4, 4, 4};
    ASSERT_EQ(c.control_points_1d.size(), 6u);
    ASSERT_EQ(c.control_points_2d.size(), 5u);
    ASSERT_EQ(c.control_points_3d.size(), 4u);
    for (unsigned i = 0; i < 6; ++i)
        EXPECT_DOUBLE_EQ(factor(c.control_points, c.control_points_1d, i), b[i]) << i;
    for (unsigned i = 0; i < 5; ++i)
        EXPECT_DOUBLE_EQ(factor(c.control_points_1d, c.control_points_2d, i), cc[i]) << i;
    for (unsigned i = 0; i < 4; ++i)
        EXPECT_DOUBLE_EQ(factor(c.control_points_2d, c.control_points_3d, i), d[i]) << i;
    EXPECT_EQ(c.tmp_pts.size(), 4u);
    EXPECT_EQ(c.tmp_pts_3d.size(), 1u);
}

// Pinned on purpose, as above: a single span, knots at thirds, and degree 2's undefined
// third-derivative polygon.
TEST(Loader, SingleSpanAndThirdsAndDegreeTwo) {
    nurbs_curve one;
    load_curve(cubic_x_points(4), 3, &one);
    EXPECT_EQ(one.knots, (std::vector<double>{0, 0, 0, 0, 1, 1, 1, 1}));
    EXPECT_EQ(one.nsubk, 1001u);
    for (unsigned i = 0; i < 3; ++i)
        EXPECT_DOUBLE_EQ(factor(one.control_points, one.control_points_1d, i), 3.0);
    for (unsigned i = 0; i < 2; ++i)
        EXPECT_DOUBLE_EQ(factor(one.control_points_1d, one.control_points_2d, i), 2.0);
    ASSERT_EQ(one.control_points_3d.size(), 1u);
    EXPECT_DOUBLE_EQ(factor(one.control_points_2d, one.control_points_3d, 0), 1.0);

    // Interior knots come from one division each, not from a running sum of a step.
    nurbs_curve six;
    load_curve(cubic_x_points(6), 3, &six);
    EXPECT_EQ(six.knots[4], 1.0 / 3.0);
    EXPECT_EQ(six.knots[5], 2.0 / 3.0);
    EXPECT_EQ(six.nsubk, 3001u);

    // Degree 2: the third-derivative factor is 0/0, so that polygon is NaN throughout.
    nurbs_curve quad;
    load_curve(cubic_x_points(5), 2, &quad);
    ASSERT_EQ(quad.control_points_3d.size(), 2u);
    for (const nurbs_ctrl_pt &p : quad.control_points_3d)
        EXPECT_TRUE(std::isnan(p.x) && std::isnan(p.y) && std::isnan(p.z) && std::isnan(p.w));
    for (const nurbs_ctrl_pt &p : quad.control_points_2d)
        EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.w));
    EXPECT_TRUE(quad.tmp_pts_3d.empty());
}

// Pinned on purpose: the record holds homogeneous points and differenced weights.
TEST(Loader, HomogeneousPointsAndDerivativeWeights) {
    nurbs_curve c;
    std::vector<nurbs_ctrl_pt> pts = {
        {1.5, -2, 0, 2}, {3, 1, 0, 2}, {4, 4, 0, 2}, {6, 2, 0, 2}, {7, 0, 0, 2}};
    load_curve(pts, 3, &c);
    EXPECT_EQ(c.control_points[0].x, 3.0);
    EXPECT_EQ(c.control_points[0].y, -4.0);
    EXPECT_EQ(c.control_points[0].z, 0.0);
    EXPECT_EQ(c.control_points[0].w, 2.0);
    // Equal weights: the weight function is constant, so every derivative polygon has w = 0;
    // a planar file has z = 0 everywhere.
    for (const auto *poly : {&c.control_points_1d, &c.control_points_2d, &c.control_points_3d})
        for (const nurbs_ctrl_pt &p : *poly) {
            EXPECT_EQ(p.w, 0.0);
            EXPECT_EQ(p.z, 0.0);
        }
}

TEST(Loader, FormattingFreedomsReadTheSameCurve) {
    temp_dir dir;
    const std::string canonical = "N4\tL3\tD3\nX0\tY0\tZ1\tP1\nX1\tY2\tZ1\tP0.5\n"
                                  "X2\tY-1\tZ0\tP2\nX3\tY0\tZ0\tP1\n";
    const std::string loose =
        "N4 L3   D3\r\n\r\nX 0 Y0 Z 1\tP1\r\n\n\nX1.0e0  Y2  Z1 P.5\r\n"
        "X2 Y-1 Z0 P2\r\nX3\tY0\tZ0\tP1\r\nthis and anything after is ignored\n";
    nurbs_curve a, b;
    write_file(dir.file("a.nurbs"), canonical);
    write_file(dir.file("b.nurbs"), loose);
    nurbs_curve_alloc_file(dir.file("a.nurbs").c_str(), &a);
    nurbs_curve_alloc_file(dir.file("b.nurbs").c_str(), &b);
    ASSERT_EQ(a.ncp, b.ncp);
    for (unsigned i = 0; i < a.ncp; ++i) {
        EXPECT_EQ(a.control_points[i].x, b.control_points[i].x);
        EXPECT_EQ(a.control_points[i].y, b.control_points[i].y);
        EXPECT_EQ(a.control_points[i].z, b.control_points[i].z);
        EXPECT_EQ(a.control_points[i].w, b.control_points[i].w);
    }
}

TEST(Loader, NullPathOpensTheDefaultFile) {
    temp_dir dir;
    std::filesystem::create_directory(dir.path / "work");
    write_file(dir.file("curve.nurbs"), curve_text(cubic_x_points(5), 3));
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path / "work");
    nurbs_curve c;
    EXPECT_NO_THROW(nurbs_curve_alloc_file(nullptr, &c));
    std::filesystem::current_path(cwd);
    EXPECT_EQ(c.ncp, 5u);
}

// Loads `text` and returns the error message ("" when it loads).
std::string load_error(const std::string &text,
                       nurbs_file_error::kind_t expected_kind = nurbs_file_error::bad_content) {
    temp_dir dir;
    const std::string path = dir.file("bad.nurbs");
    write_file(path, text);
    nurbs_curve c;
    try {
        nurbs_curve_alloc_file(path.c_str(), &c);
    } catch (const nurbs_file_error &e) {
        EXPECT_EQ(e.kind, expected_kind);
        EXPECT_TRUE(c.control_points.empty() && c.knots.empty()) << "record touched on failure";
        std::string msg = e.what();
        const auto at = msg.find("bad.nurbs:");
        EXPECT_NE(at, std::string::npos) << msg;
        return at == std::string::npos ? msg : msg.substr(at + 4);
    }
    return "";
}

TEST(Loader, RejectsWhatItCannotLoadNamingFileAndLine) {
    const std::string pt = "X0\tY0\tP1\n";
    struct bad_case {
        std::string text, expect;
    } cases[] = {
        {"", "nurbs:1: header"},
        {" N4\tL3\tD2\n" + pt, "nurbs:1: header"},
        {"N4\tK3\tD2\n", "nurbs:1: header"},
        {"N-4\tL3\tD2\n", "nurbs:1: header"},
        {"N99999999999\tL3\tD2\n", "nurbs:1: header"},
        {"N4\tL1\tD2\n", "nurbs:1: degree 1 is below 2"},
        {"N3\tL3\tD2\n", "nurbs:1: 3 control points are fewer than degree + 1 = 4"},
        {"N4294967295\tL3\tD2\n", "nurbs:1: 4294967295 control points of degree 3 are too many"},
        {"N4294972\tL3\tD2\n", "too many"},
        {"N4\tL3\tD4\n", "nurbs:1: dimension 4 is not 2 or 3"},
        {"N4\tL3\tD2\n" + pt + pt + "X0\tY0\n", "nurbs:4: control point 3 does not match"},
        {"N4\tL3\tD3\n" + pt, "nurbs:2: control point 1 does not match \"X<x>\\tY<y>\\tZ<z>"},
        {"N4\tL3\tD2\n" + pt + pt + pt, "nurbs:4: file ends before control point 4"},
        {"N4\tL3\tD2\n" + pt + "X1\tYnan\tP1\n",
         "nurbs:3: control point 2 has a coordinate or weight that is not finite"},
        {"N4\tL3\tD2\n" + pt + "X1e999\tY0\tP1\n", "not finite"},
        {"N4\tL3\tD2\n" + pt + "X1\tY0\tP0\n",
         "nurbs:3: control point 2 has weight 0; weights must be positive"},
        {"N4\tL3\tD2\n" + pt + "X1\tY0\tP-0.5\n", "weight -0.5"},
        {"N4\tL3\tD2\n" + std::string(5000, ' ') + pt, "nurbs:2: line longer than 4096 characters"},
        {std::string("N4\tL3\tD2\nX\x01\xff\0junk", 18), "nurbs:2: control point 1 does not match"},
    };
    for (const bad_case &c : cases) {
        const std::string msg = load_error(c.text);
        EXPECT_NE(msg.find(c.expect), std::string::npos)
            << "got: " << msg << "\nwanted: " << c.expect;
    }
}

TEST(Loader, HeaderPromisingBillionsOfPointsAllocatesNothingFirst) {
    // 4294000 points of degree 3 fit the counts; the arrays would take gigabytes. The file
    // holds three points, so the loader must find that out before it sizes anything.
    const std::string text = "N4294000\tL3\tD2\nX0\tY0\tP1\nX1\tY0\tP1\nX2\tY0\tP1\n";
    EXPECT_NE(load_error(text).find("nurbs:4: file ends before control point 4"),
              std::string::npos);
}

TEST(Loader, MissingFileReportsTheFixedLine) {
    nurbs_curve c;
    try {
        nurbs_curve_alloc_file("/nonexistent/dir/x.nurbs", &c);
        FAIL() << "no error";
    } catch (const nurbs_file_error &e) {
        EXPECT_EQ(e.kind, nurbs_file_error::open_failed);
        EXPECT_STREQ(e.what(), "!!! ERROR: could not open .nurbs file !!!\n");
    }
}

// Pinned on purpose: what release leaves in the record is part of its contract.
TEST(Loader, ReleaseFreesArraysAndKeepsCounts) {
    nurbs_curve c;
    load_curve(cubic_x_points(6), 3, &c);
    nurbs_curve_free(&c);
    EXPECT_TRUE(c.control_points.empty() && c.knots_3d.empty() && c.tmp_pts.empty());
    EXPECT_EQ(c.subku, nullptr);
    EXPECT_EQ(c.ncp, 6u);
    nurbs_curve_free(&c); // a second release is harmless
}

TEST(PointArrays, HomogeneousRoundTripAndScaling) {
    nurbs_ctrl_pt p[2] = {{1.5, -2, 4, 2}, {3, 6, -9, 0.5}};
    nurbs_ctrl_pt h[2] = {{0, 0, 0, 7}, {0, 0, 0, 7}};
    cart2homo_vect(p, h, 2);
    EXPECT_EQ(h[0].x, 3.0);
    EXPECT_EQ(h[1].z, -4.5);
    EXPECT_EQ(h[0].w, 7.0); // the destination's weight is never written
    h[0].w = 2;
    h[1].w = 0.5;
    nurbs_ctrl_pt back[2] = {};
    homo2cart_vect(h, back, 2);
    EXPECT_EQ(back[0].y, -2.0);
    EXPECT_EQ(back[1].x, 3.0);
    scale_pts(p, 2.0, 1);
    EXPECT_EQ(p[0].x, 3.0);
    EXPECT_EQ(p[0].w, 2.0);
    EXPECT_EQ(p[1].x, 3.0); // beyond len
    scale_pts(p, 2.0, -1);
    EXPECT_EQ(p[0].x, 3.0);
}

TEST(SpanSearch, FindsTheSpanAndEnds) {
    const double U[] = {0, 0, 0, 0, 0.25, 0.5, 0.75, 1, 1, 1, 1};
    EXPECT_EQ(nurbs_find_span(7, 3, 0.0, U), 3);
    EXPECT_EQ(nurbs_find_span(7, 3, 0.25, U), 4);
    EXPECT_EQ(nurbs_find_span(7, 3, 0.7499999, U), 5);
    EXPECT_EQ(nurbs_find_span(7, 3, std::nextafter(1.0, 0.0), U), 6);
    EXPECT_EQ(nurbs_find_span(7, 3, 1.0, U), 7);
    EXPECT_EQ(nurbs_find_span(7, 3, -0.5, U), 3); // start rule
    EXPECT_EQ(nurbs_find_span(7, 3, NAN, U), 5);  // the first midpoint, (3 + 7 + 1) / 2
    // Any ascending knot vector, however far from uniform: the span that brackets u.
    const double skew[] = {0, 0, 0, 0, 0.01, 0.02, 0.9, 0.95, 1, 1, 1, 1};
    for (int i = 0; i < 1000; ++i) {
        const double u = i / 1000.0;
        int expect = 3;
        while (!(skew[expect] <= u && u < skew[expect + 1]))
            ++expect;
        EXPECT_EQ(nurbs_find_span(8, 3, u, skew), expect) << u;
    }
    const double single[] = {0, 0, 0, 0, 1, 1, 1, 1};
    // On one span the first midpoint is past the last span; the evaluator keeps its own
    // index in range (see Evaluator.NanGivesNanEvenOnASingleSpan).
    EXPECT_EQ(nurbs_find_span(4, 3, NAN, single), 4);
}

// Exact rational quarter circle of radius R.
std::vector<nurbs_ctrl_pt> quarter_circle(double R) {
    return {{R, 0, 0, 1}, {R, R, 0, std::sqrt(2.0) / 2}, {0, R, 0, 1}};
}

TEST(Evaluator, QuarterCircleStaysOnTheCircle) {
    nurbs_curve c;
    const double R = 7.5;
    load_curve(quarter_circle(R), 2, &c);
    for (int i = 0; i <= 200; ++i) {
        const double u = i / 200.0;
        cart_point P, d, dd;
        nurbs_deBoor_eval(u, -1, &c, &P, &d, &dd, nullptr);
        EXPECT_NEAR(std::hypot(P.x, P.y), R, 1e-15 * R * 4) << u;
        EXPECT_NEAR(P.x * d.x + P.y * d.y, 0.0, 1e-12 * R * R) << u; // tangent
    }
}

TEST(Evaluator, GrevillePointsGiveAStraightLineAtConstantSpeed) {
    nurbs_curve c;
    load_curve(straight_line(9, 3, 12.0), 3, &c);
    for (int i = 0; i <= 100; ++i) {
        const double u = i / 100.0;
        cart_point P, d, dd, ddd;
        nurbs_deBoor_eval(u, -1, &c, &P, &d, &dd, &ddd);
        EXPECT_NEAR(P.x, 12.0 * u, 1e-13);
        EXPECT_NEAR(d.x, 12.0, 1e-12);
        EXPECT_NEAR(dd.x, 0.0, 1e-10);
        EXPECT_NEAR(ddd.x, 0.0, 1e-8);
        EXPECT_EQ(P.y, 0.0);
    }
    EXPECT_NEAR(adaptiveSimpsons(nurbs_arc_len, &c, 0.0, 1.0, 1e-12, 30), 12.0, 1e-12);
}

std::vector<nurbs_ctrl_pt> random_rational_cubic(unsigned n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> coord(-10, 10), weight(0.5, 2.0);
    std::vector<nurbs_ctrl_pt> pts;
    for (unsigned i = 0; i < n; ++i)
        pts.push_back({coord(gen), coord(gen), coord(gen), weight(gen)});
    return pts;
}

TEST(Evaluator, DerivativesMatchFiniteDifferences) {
    nurbs_curve c;
    load_curve(random_rational_cubic(12, 42), 3, &c, 3);
    const double h = 1e-6;
    for (double u : {0.013, 0.2, 0.37, 0.5, 0.61, 0.88, 0.995}) {
        cart_point P, d, dd, ddd, Pp, dp, ddp, Pm, dm, ddm;
        nurbs_deBoor_eval(u, -1, &c, &P, &d, &dd, &ddd);
        nurbs_deBoor_eval(u + h, -1, &c, &Pp, &dp, &ddp, nullptr);
        nurbs_deBoor_eval(u - h, -1, &c, &Pm, &dm, &ddm, nullptr);
        auto check = [&](double exact, double plus, double minus, const char *what) {
            const double fd = (plus - minus) / (2 * h);
            EXPECT_NEAR(fd, exact, 1e-6 * (1 + std::fabs(exact))) << what << " at u=" << u;
        };
        check(d.x, Pp.x, Pm.x, "C'.x");
        check(d.z, Pp.z, Pm.z, "C'.z");
        check(dd.y, dp.y, dm.y, "C''.y");
        check(ddd.x, ddp.x, ddm.x, "C'''.x");
        check(ddd.z, ddp.z, ddm.z, "C'''.z");
    }
}

TEST(Evaluator, EndAndStartRules) {
    nurbs_curve c;
    auto pts = random_rational_cubic(8, 7);
    pts[7].w = pts[6].w; // last two weights equal: w1 = 0 at the end
    load_curve(pts, 3, &c, 3);
    cart_point P1, d1, dd1, ddd1;
    nurbs_deBoor_eval(1.0, -1, &c, &P1, &d1, &dd1, &ddd1);
    EXPECT_DOUBLE_EQ(P1.x, pts[7].x);
    EXPECT_DOUBLE_EQ(P1.z, pts[7].z);
    EXPECT_EQ(d1.y, c.control_points_1d[6].y / pts[7].w);
    for (double u : {1.5, 1e308, double(INFINITY)}) {
        cart_point P, d, dd, ddd;
        nurbs_deBoor_eval(u, -1, &c, &P, &d, &dd, &ddd);
        EXPECT_EQ(P.y, P1.y);
        EXPECT_EQ(d.x, d1.x);
        EXPECT_EQ(dd.z, dd1.z);
        EXPECT_EQ(ddd.x, ddd1.x);
    }
    cart_point Pe, de;
    nurbs_deBoor_eval(2.0, 5, &c, &Pe, &de, nullptr, nullptr); // a given span keeps the end rule
    EXPECT_EQ(Pe.x, P1.x);
    // Below 0 the curve's start, exactly as u = 0 evaluates it.
    cart_point P0, d0, dd0, ddd0;
    nurbs_deBoor_eval(0.0, -1, &c, &P0, &d0, &dd0, &ddd0);
    EXPECT_DOUBLE_EQ(P0.x, pts[0].x);
    for (double u : {-1e-300, -1.0, -double(INFINITY)}) {
        cart_point P, d, dd, ddd;
        nurbs_deBoor_eval(u, -1, &c, &P, &d, &dd, &ddd);
        EXPECT_EQ(P.x, P0.x);
        EXPECT_EQ(d.y, d0.y);
        EXPECT_EQ(dd.z, dd0.z);
        EXPECT_EQ(ddd.x, ddd0.x);
    }
}

TEST(Evaluator, NanGivesNanEvenOnASingleSpan) {
    nurbs_curve c;
    load_curve(random_rational_cubic(4, 3), 3, &c);
    cart_point P, d, dd, ddd;
    nurbs_deBoor_eval(NAN, -1, &c, &P, &d, &dd, &ddd);
    EXPECT_TRUE(std::isnan(P.x) && std::isnan(d.y) && std::isnan(dd.x) && std::isnan(ddd.x));
    EXPECT_TRUE(std::isnan(nurbs_arc_len(NAN, &c)));
}

TEST(Evaluator, OnlyRequestedLevelsRun) {
    nurbs_curve c;
    load_curve(random_rational_cubic(10, 5), 3, &c);
    for (auto *scratch : {&c.tmp_pts_1d, &c.tmp_pts_2d, &c.tmp_pts_3d})
        for (nurbs_ctrl_pt &p : *scratch)
            p = {123, 123, 123, 123};
    cart_point P;
    nurbs_deBoor_eval(0.4, -1, &c, &P, nullptr, nullptr, nullptr);
    for (auto *scratch : {&c.tmp_pts_1d, &c.tmp_pts_2d, &c.tmp_pts_3d})
        for (const nurbs_ctrl_pt &p : *scratch)
            EXPECT_EQ(p.x, 123.0);
    // A caller-given span is used as is; its polynomial piece continues beyond the span.
    cart_point Q, Qk;
    nurbs_deBoor_eval(0.4, -1, &c, &Q, nullptr, nullptr, nullptr);
    const int k = nurbs_find_span(int(c.ncp), int(c.deg), 0.4, c.knots.data());
    nurbs_deBoor_eval(0.4, k, &c, &Qk, nullptr, nullptr, nullptr);
    EXPECT_EQ(Q.x, Qk.x);
}

TEST(Evaluator, ThirdDerivativeOfADegreeTwoCurveFollowsFromAZeroHomogeneousOne) {
    // A rational quadratic has a third derivative: it matches finite differences of C''.
    nurbs_curve c;
    load_curve(quarter_circle(1.0), 2, &c);
    const double h = 1e-5;
    for (double u : {0.1, 0.5, 0.77}) {
        cart_point P, d, dd, ddd, Pp, dp, ddp, Pm, dm, ddm;
        nurbs_deBoor_eval(u, -1, &c, &P, &d, &dd, &ddd);
        nurbs_deBoor_eval(u + h, -1, &c, &Pp, &dp, &ddp, nullptr);
        nurbs_deBoor_eval(u - h, -1, &c, &Pm, &dm, &ddm, nullptr);
        // Central differences: an error of h^2 times the fifth derivative over 6, ~1e-9 here.
        EXPECT_NEAR(ddd.x, (ddp.x - ddm.x) / (2 * h), 1e-6 * (1 + std::fabs(ddd.x))) << u;
        EXPECT_NEAR(ddd.y, (ddp.y - ddm.y) / (2 * h), 1e-6 * (1 + std::fabs(ddd.y))) << u;
        EXPECT_EQ(ddd.z, 0.0);
    }
    // The end rule gives the limit of the evaluation just before the end.
    cart_point P, d, dd, ddd, Pe, de, dde, ddde;
    nurbs_deBoor_eval(1 - 1e-12, -1, &c, &P, &d, &dd, &ddd);
    nurbs_deBoor_eval(1.0, -1, &c, &Pe, &de, &dde, &ddde);
    EXPECT_NEAR(ddd.x, ddde.x, 1e-6 * std::fabs(ddde.x));
    EXPECT_TRUE(c.control_points_3d.empty()); // three points: no third-derivative polygon
}

// ---------------------------------------------------------------- explicit knot vectors

// The text of a curve file with explicit knots `k`: the curve-file writer's.
std::string curve_text_with_knots(const std::vector<nurbs_ctrl_pt> &pts, unsigned deg,
                                  const std::vector<double> &k, unsigned dim = 2) {
    return curve_file_text({deg, dim, pts, k});
}

// An evaluator written differently: Cox-de Boor basis functions on the raw knots, rational sum.
// Returns C(t) for t in the raw knot range (t at the last knot: the last control point).
cart_point cox_de_boor(const std::vector<nurbs_ctrl_pt> &pts, unsigned p,
                       const std::vector<double> &k, double t) {
    const std::size_t n = pts.size();
    if (t >= k.back()) return {pts.back().x, pts.back().y, pts.back().z};
    std::vector<double> N(k.size() - 1, 0.0);
    for (std::size_t i = 0; i + 1 < k.size(); ++i)
        N[i] = k[i] <= t && t < k[i + 1] ? 1.0 : 0.0;
    for (unsigned q = 1; q <= p; ++q)
        for (std::size_t i = 0; i + q + 1 < k.size(); ++i) {
            const double a = k[i + q] > k[i] ? (t - k[i]) / (k[i + q] - k[i]) * N[i] : 0.0;
            const double b = k[i + q + 1] > k[i + 1]
                                 ? (k[i + q + 1] - t) / (k[i + q + 1] - k[i + 1]) * N[i + 1]
                                 : 0.0;
            N[i] = a + b;
        }
    double x = 0, y = 0, z = 0, w = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double b = N[i] * pts[i].w;
        x += b * pts[i].x;
        y += b * pts[i].y;
        z += b * pts[i].z;
        w += b;
    }
    return {x / w, y / w, z / w};
}

// Loads `text` written to `name` in `dir`; returns the loader's message ("" when it loads).
std::string load_message(const temp_dir &dir, const std::string &name, const std::string &text) {
    write_file(dir.file(name), text);
    nurbs_curve c;
    try {
        nurbs_curve_alloc_file(dir.file(name).c_str(), &c);
    } catch (const nurbs_file_error &e) {
        return e.what();
    }
    return "";
}

TEST(KnotVector, FullCircleFromNinePointsWithDoubledKnotsIsExact) {
    // The classic rational circle: degree 2, knots 0,0,0,1,1,2,2,3,3,4,4,4 (written unscaled),
    // weights 1 and sqrt(2)/2 alternating, the odd points at the square's corners.
    const double R = 7.5, w = std::sqrt(0.5);
    const std::vector<nurbs_ctrl_pt> pts = {{R, 0, 0, 1},  {R, R, 0, w},  {0, R, 0, 1},
                                            {-R, R, 0, w}, {-R, 0, 0, 1}, {-R, -R, 0, w},
                                            {0, -R, 0, 1}, {R, -R, 0, w}, {R, 0, 0, 1}};
    nurbs_curve c;
    nurbs_curve_alloc_def({2, 2, pts, {0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 4}}, &c);
    EXPECT_EQ(c.knots, (std::vector<double>{0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1}));
    double worst = 0;
    for (int i = 0; i <= 4000; ++i) {
        cart_point P;
        nurbs_deBoor_eval(i / 4000.0, -1, &c, &P, nullptr, nullptr, nullptr);
        worst = std::max(worst, std::fabs(std::hypot(P.x, P.y) - R) / R);
    }
    EXPECT_LT(worst, 1e-15);
    // Quarter by quarter: over [0, 1] the speed is the same at the five first points (the
    // knots), so adaptive Simpson would accept its first estimate.
    double len = 0;
    for (int q = 0; q < 4; ++q)
        len += adaptiveSimpsons(nurbs_arc_len, &c, q / 4.0, (q + 1) / 4.0, 1e-14, 40);
    EXPECT_NEAR(len, 2 * M_PI * R, 1e-12 * 2 * M_PI * R);
    // At a doubled knot the second-derivative polygon point that the vanishing basis function
    // scales is 0, never a division by zero.
    for (const nurbs_ctrl_pt &q : c.control_points_2d)
        EXPECT_TRUE(std::isfinite(q.x) && std::isfinite(q.w));
    EXPECT_EQ(c.control_points_2d[1].x, 0.0);
    EXPECT_EQ(c.control_points_2d[1].w, 0.0);
}

TEST(KnotVector, NonUniformCurvesAgreeWithAnIndependentEvaluator) {
    struct case_t {
        unsigned deg;
        std::vector<double> k; // raw knots
    };
    const std::vector<case_t> cases = {
        {3, {-2, -2, -2, -2, -1.5, -0.2, 0.1, 0.1, 1.7, 3, 3, 3, 3}},    // cubic, 9 points
        {5, {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2.5, 2.5, 4, 4, 4, 4, 4, 4}}, // degree 5, 12 points
    };
    for (const case_t &cs : cases) {
        const std::size_t n = cs.k.size() - cs.deg - 1;
        const std::vector<nurbs_ctrl_pt> pts = random_rational_cubic(unsigned(n), 7 + cs.deg);
        nurbs_curve c;
        nurbs_curve_alloc_def({cs.deg, 3, pts, cs.k}, &c);
        const double k0 = cs.k.front(), range = cs.k.back() - cs.k.front();
        for (int i = 0; i <= 200; ++i) {
            const double u = i / 200.0;
            cart_point P;
            nurbs_deBoor_eval(u, -1, &c, &P, nullptr, nullptr, nullptr);
            const cart_point ref = cox_de_boor(pts, cs.deg, cs.k, k0 + u * range);
            EXPECT_NEAR(P.x, ref.x, 1e-12 * (1 + std::fabs(ref.x))) << cs.deg << " u=" << u;
            EXPECT_NEAR(P.y, ref.y, 1e-12 * (1 + std::fabs(ref.y))) << cs.deg << " u=" << u;
            EXPECT_NEAR(P.z, ref.z, 1e-12 * (1 + std::fabs(ref.z))) << cs.deg << " u=" << u;
        }
        // Derivatives (with respect to u on [0, 1]) against differences of the independent
        // evaluator away from the knots, where a repeated knot breaks the smoothness that the
        // differences assume. Central differences of step h: errors h^2 (first) and h^2 / 12
        // (second) times higher derivatives; with h = 1e-4 both are far below the bounds.
        const double h = 1e-4;
        for (double u : {0.07, 0.31, 0.44, 0.83}) {
            cart_point P, d, dd, ddd;
            nurbs_deBoor_eval(u, -1, &c, &P, &d, &dd, &ddd);
            const cart_point p1 = cox_de_boor(pts, cs.deg, cs.k, k0 + (u + h) * range);
            const cart_point m1 = cox_de_boor(pts, cs.deg, cs.k, k0 + (u - h) * range);
            const cart_point c0 = cox_de_boor(pts, cs.deg, cs.k, k0 + u * range);
            EXPECT_NEAR(d.x, (p1.x - m1.x) / (2 * h), 1e-5 * (1 + std::fabs(d.x))) << u;
            EXPECT_NEAR(dd.y, (p1.y - 2 * c0.y + m1.y) / (h * h), 1e-3 * (1 + std::fabs(dd.y)))
                << cs.deg << " u=" << u;
        }
    }
}

TEST(KnotVector, ExplicitUniformKnotsLoadBitForBitLikeImplicitOnes) {
    temp_dir dir;
    const std::vector<nurbs_ctrl_pt> pts = random_rational_cubic(11, 3);
    std::vector<double> k;
    for (unsigned i = 0; i < 11 + 3 + 1; ++i)
        k.push_back(i <= 3 ? 0.0 : i >= 11 ? 1.0 : double(i - 3) / double(11 - 3));
    write_file(dir.file("implicit.nurbs"), curve_text(pts, 3, 3));
    write_file(dir.file("explicit.nurbs"), curve_text_with_knots(pts, 3, k, 3));
    nurbs_curve a, b;
    nurbs_curve_alloc_file(dir.file("implicit.nurbs").c_str(), &a);
    nurbs_curve_alloc_file(dir.file("explicit.nurbs").c_str(), &b);
    EXPECT_EQ(a.knots, b.knots);
    EXPECT_EQ(a.knots_3d, b.knots_3d);
    auto same = [](const std::vector<nurbs_ctrl_pt> &x, const std::vector<nurbs_ctrl_pt> &y) {
        return x.size() == y.size() &&
               std::memcmp(x.data(), y.data(), x.size() * sizeof(nurbs_ctrl_pt)) == 0;
    };
    EXPECT_TRUE(same(a.control_points_1d, b.control_points_1d));
    EXPECT_TRUE(same(a.control_points_3d, b.control_points_3d));
    for (double u : {0.0, 0.123, 0.5, 0.999, 1.0}) {
        cart_point P[2], d[2], dd[2], ddd[2];
        nurbs_deBoor_eval(u, -1, &a, &P[0], &d[0], &dd[0], &ddd[0]);
        nurbs_deBoor_eval(u, -1, &b, &P[1], &d[1], &dd[1], &ddd[1]);
        EXPECT_EQ(std::memcmp(&P[0], &P[1], sizeof(cart_point)), 0) << u;
        EXPECT_EQ(std::memcmp(&ddd[0], &ddd[1], sizeof(cart_point)), 0) << u;
    }
}

TEST(KnotVector, AtACornerKnotTheDerivativesAreThoseFromTheRight) {
    // A cubic with an interior knot of multiplicity 3: C0 only, a corner at the control point.
    const std::vector<nurbs_ctrl_pt> pts = {{0, 0, 0, 1}, {1, 0, 0, 1}, {2, 0, 0, 1}, {3, 0, 0, 1},
                                            {3, 1, 0, 1}, {3, 2, 0, 1}, {3, 3, 0, 1}};
    nurbs_curve c;
    nurbs_curve_alloc_def({3, 2, pts, {0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2}}, &c);
    cart_point P, d, Pl, dl;
    nurbs_deBoor_eval(0.5, -1, &c, &P, &d, nullptr, nullptr);
    nurbs_deBoor_eval(std::nextafter(0.5, 0.0), -1, &c, &Pl, &dl, nullptr, nullptr);
    EXPECT_NEAR(P.x, 3.0, 1e-15);
    EXPECT_NEAR(P.y, 0.0, 1e-15);
    // From the right the path goes up (+y); just before the knot it came along +x:
    // 3 (P4 - P3) / (1/2 in u) = 6 either way.
    EXPECT_EQ(d.x, 0.0);
    EXPECT_NEAR(d.y, 6.0, 1e-12);
    EXPECT_NEAR(dl.x, 6.0, 1e-9);
    EXPECT_NEAR(dl.y, 0.0, 1e-9);
}

TEST(KnotVector, EveryMalformedKnotVectorIsRefusedWithFileAndLine) {
    temp_dir dir;
    const std::vector<nurbs_ctrl_pt> six = random_rational_cubic(6, 1); // degree 3: 10 knots
    struct bad {
        std::vector<double> k;
        const char *what;
        int line;
    };
    for (const bad &b : std::vector<bad>{
             {{0, 0, 0, 0, 2, 1, 3, 3, 3, 3}, "knot 6 (1) is below the one before it (2)", 7},
             {{0, 0, 0, 0, 1, INFINITY, 3, 3, 3, 3}, "knot 6 is not finite", 7},
             {{0, 0, 0, 0.5, 1, 2, 3, 3, 3, 3}, "the first 4 knots must be equal", 5},
             {{0, 0, 0, 0, 1, 2, 3, 3, 3, 4}, "the last 4 knots must be equal", 8},
             {{0, 0, 0, 0, 0, 2, 3, 3, 3, 3}, "more than 4 knots equal the first one", 6},
             {{0, 0, 0, 0, 1, 3, 3, 3, 3, 3}, "more than 4 knots equal the last one", 7},
             {{5, 5, 5, 5, 5, 5, 5, 5, 5, 5}, "the knots span no range", 11},
             // Finite knots whose range overflows: every knot would map to 0 or 1.
             {{-1.5e308, -1.5e308, -1.5e308, -1.5e308, 0, 1, 1.5e308, 1.5e308, 1.5e308, 1.5e308},
              "the knot range (last - first: 1.5e+308 - -1.5e+308) is not finite",
              11},
         }) {
        const std::string msg = load_message(dir, "k.nurbs", curve_text_with_knots(six, 3, b.k));
        const std::string where = dir.file("k.nurbs") + ":" + std::to_string(b.line) + ": ";
        EXPECT_EQ(msg.rfind(where, 0), 0u) << b.what << ": " << msg;
        EXPECT_NE(msg.find(b.what), std::string::npos) << msg;
    }
    // An interior knot repeated more than the degree; too few K lines; a K that is no number.
    const std::vector<nurbs_ctrl_pt> eight = random_rational_cubic(8, 2); // 12 knots
    EXPECT_NE(load_message(dir, "m.nurbs",
                           curve_text_with_knots(eight, 3, {0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2}))
                  .find(":9: knot value 1 is repeated 4 times inside the vector"),
              std::string::npos);
    EXPECT_NE(load_message(dir, "few.nurbs",
                           curve_text_with_knots(eight, 3, {0, 0, 0, 0, 1, 2, 3, 3, 3, 3}))
                  .find(":12: knot 11 of 12 does not match \"K<value>\""),
              std::string::npos);
    std::string word = curve_text_with_knots(six, 3, {0, 0, 0, 0, 1, 2, 3, 3, 3, 3});
    word.replace(word.find("K1\n"), 3, "Kx\n");
    EXPECT_NE(load_message(dir, "word.nurbs", word).find(":6: knot 5 of 10 does not match"),
              std::string::npos);
}

// An integrand that records where it was called; the value is 1 + u^2.
struct recorder {
    std::vector<double> at;
    static double f(double u, void *data) {
        static_cast<recorder *>(data)->at.push_back(u);
        return 1 + u * u;
    }
};

TEST(Quadrature, CallCountsAndOrder) {
    recorder r;
    EXPECT_EQ(adaptiveSimpsons(recorder::f, &r, 0.3, 0.3, 1e-12, 30), 0.0);
    EXPECT_EQ(r.at, std::vector<double>(5, 0.3));

    r.at.clear();
    adaptiveSimpsons(recorder::f, &r, 0.0, 1.0, 1e-3, 0);
    EXPECT_EQ(r.at, (std::vector<double>{0.0, 1.0, 0.5, 0.25, 0.75}));

    for (int D : {0, 1, 5, -3}) {
        r.at.clear();
        adaptiveSimpsons(recorder::f, &r, 0.0, 1.0, -1.0, D);
        EXPECT_EQ(r.at.size(), (1u << (std::max(D, 0) + 2)) + 1) << D;
    }
    // Depth first, left before right: after the entry's five points come the quarter points
    // of [0, 0.5].
    r.at.clear();
    adaptiveSimpsons(recorder::f, &r, 0.0, 1.0, -1.0, 1);
    EXPECT_EQ(r.at, (std::vector<double>{0, 1, 0.5, 0.25, 0.75, 0.125, 0.375, 0.625, 0.875}));
}

TEST(Quadrature, ValuesOfSimpleIntegrals) {
    auto one = [](double, void *) { return 2.5; };
    EXPECT_DOUBLE_EQ(adaptiveSimpsons(one, nullptr, 1.0, 3.0, 1e-12, 30), 5.0);
    recorder r;
    const double fwd = adaptiveSimpsons(recorder::f, &r, 0.0, 2.0, 1e-12, 30);
    const double back = adaptiveSimpsons(recorder::f, &r, 2.0, 0.0, 1e-12, 30);
    EXPECT_NEAR(fwd, 2.0 + 8.0 / 3.0, 1e-13);
    EXPECT_NEAR(back, -fwd, 1e-13);
    // Depth 0 is Boole's rule, exact for polynomials up to degree 5.
    auto quintic = [](double u, void *) { return std::pow(u, 5.0); };
    EXPECT_DOUBLE_EQ(adaptiveSimpsons(quintic, nullptr, 0.0, 1.0, 1e9, 0), 1.0 / 6.0);
}

TEST(Quadrature, NanIntegrandStopsAtOnce) {
    unsigned long calls = 0;
    auto nan_f = [](double, void *data) {
        ++*static_cast<unsigned long *>(data);
        return double(NAN);
    };
    EXPECT_TRUE(std::isnan(adaptiveSimpsons(nan_f, &calls, 0.0, 1.0, 1e-12, 30)));
    EXPECT_EQ(calls, 5u); // not 2^32 + 1
}

TEST(Quadrature, ArcLengthOfTheQuarterCircleAndPastTheEnd) {
    nurbs_curve c;
    const double R = 3.0;
    load_curve(quarter_circle(R), 2, &c);
    const double len = adaptiveSimpsons(nurbs_arc_len, &c, 0.0, 1.0, 1e-12, 30);
    EXPECT_NEAR(len, M_PI * R / 2, 1e-12 * M_PI * R / 2);
    // Beyond u = 1 the end speed is integrated as a constant.
    const double end_speed = nurbs_arc_len(1.0, &c);
    const double past = adaptiveSimpsons(nurbs_arc_len, &c, 1.0, 1.5, 1e-12, 30);
    EXPECT_NEAR(past, 0.5 * end_speed, 1e-14);
}

TEST(Quadrature, CurveIntegrandTakesTheSameCallsThroughAnyPointer) {
    // The quadrature calls the curve's speed directly; a wrapper integrand goes through the
    // generic path. Both must give the same bits.
    nurbs_curve c;
    load_curve(random_rational_cubic(40, 11), 3, &c);
    auto wrapped = [](double u, void *data) { return nurbs_arc_len(u, data); };
    for (double b : {0.001, 0.3, 1.0}) {
        EXPECT_EQ(adaptiveSimpsons(nurbs_arc_len, &c, 0.0, b, 1e-12, 30),
                  adaptiveSimpsons(wrapped, &c, 0.0, b, 1e-12, 30));
    }
    EXPECT_EQ(adaptiveSimpsonsAux(nurbs_arc_len, &c, 0.0, 0.0, 1e-12, 0.0, 1.0, 1.0, 1.0, 3), 0.0);
}

} // namespace
