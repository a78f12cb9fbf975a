// The feedrate correction table fitter, checked independently of it: on exact circles, where
// the arc length to a point is R times its polar angle, and by stepping a table as get_u_FCP
// does against an independent quadrature.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "plan/arc_length.hpp"
#include "shapes/flower.hpp"
#include "shapes/suite_curves.hpp"
#include "plan/joints.hpp"
#include "plan/table_fit.hpp"
#include "test_curves.hpp"

using namespace nurbs_interp;
using namespace test_curves;

namespace {

// The step a 250 mm/s feed covers in one servo period: how far past a piece's end a step that
// starts on it may reach.
constexpr double STEP = 250 * SERVO_PERIOD;

// Returns the largest error, as arc length in mm, of steps taken as get_u_FCP takes them: from
// `count` random arc lengths s (seeded), a step of a random length up to STEP with the piece s
// lies on; the true parameter at the step's end from `u_at`. Only steps that stay on one side
// of every joint in `joint_s` count (a step across a joint is the stepping's matter).
template <class U>
double stepped_error(const fcp_table &t, nurbs_curve *c, U u_at, int count,
                     const std::vector<double> &joint_s = {}) {
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> frac(0.0, 1.0);
    const double len = t.sbrk.back();
    double worst = 0;
    for (int k = 0; k < count; ++k) {
        const double s = (len - STEP) * frac(gen), ds = STEP * frac(gen);
        bool across = false;
        for (double j : joint_s)
            across = across || (s < j && s + ds > j);
        if (across) continue;
        const double u = u_at(s + ds);
        worst = std::max(worst, std::fabs(fcp_runtime_u(t, s, ds, 1.0) - u) * nurbs_arc_len(u, c));
    }
    return worst;
}

// Returns the parameter at polar angle s / R on a circle of radius R about the origin
// traversed counter-clockwise from (R, 0) (bisection on the curve's own points).
double circle_param(nurbs_curve *c, double R, double s) {
    double lo = 0, hi = 1;
    for (int it = 0; it < 200 && hi - lo > 0; ++it) {
        const double mid = 0.5 * (lo + hi);
        cart_point P;
        nurbs_deBoor_eval(mid, -1, c, &P, nullptr, nullptr, nullptr);
        double a = std::atan2(P.y, P.x);
        if (a < 0) a += 2 * M_PI;
        if (mid > 0.99 && a < 1) a += 2 * M_PI; // the closing quarter comes back to angle 0
        (R * a < s ? lo : hi) = mid;
        if (hi == mid && lo == mid) break;
    }
    return 0.5 * (lo + hi);
}

TEST(TableFit, QuarterCircleTableReachesItsReportedAccuracy) {
    nurbs_curve c;
    const double R = 10, w = std::sqrt(0.5);
    curve_def d;
    d.deg = 2;
    d.points = {{R, 0, 0, 1}, {R, R, 0, w}, {0, R, 0, 1}};
    d.knots = {0, 0, 0, 1, 1, 1};
    load(d, &c);
    arc_table arc;
    arc_table_build(&c, &arc);
    const double len = M_PI * R / 2;
    const fcp_table t = fcp_fit(arc, len, 9, STEP);
    ASSERT_EQ(t.sbrk.size(), 9u);
    ASSERT_EQ(t.tht.size(), 8u);
    EXPECT_TRUE(fcp_table_finite(t));
    EXPECT_EQ(t.sbrk.front(), 0.0);
    EXPECT_EQ(t.sbrk.back(), len);
    const fcp_accuracy acc = fcp_measure(t, arc, 64, STEP);
    // Independently: the point at the table's parameter lies at angle s / R.
    double worst = 0;
    for (int k = 0; k <= 4000; ++k) {
        const double s = len * k / 4000.0;
        cart_point P;
        nurbs_deBoor_eval(fcp_runtime_u(t, s, 0, 0), -1, &c, &P, nullptr, nullptr, nullptr);
        worst = std::max(worst, std::fabs(R * std::atan2(P.y, P.x) - s));
    }
    // fcp_measure samples 64 points per piece and 16 past its end, this check 4001 over the
    // whole curve: the same error to within its variation between samples (a few percent).
    EXPECT_LE(worst, 1.1 * acc.max_s_err + 1e-13);
    EXPECT_GE(worst, 0.3 * acc.max_s_err);
    EXPECT_LT(acc.max_s_err, 1e-6) << "8 quintic pieces follow a quarter circle closely";
    EXPECT_LE(acc.max_mismatch, 1e-15);
}

TEST(TableFit, AHeaderIsWrittenOnlyFromFiniteNumbers) {
    fcp_table t;
    t.sbrk = {0.0, 1.0};
    t.tht = {{0, 0, 0, 0, 1, 0}};
    EXPECT_TRUE(fcp_table_finite(t));
    t.tht[0][2] = NAN;
    EXPECT_FALSE(fcp_table_finite(t));
    t.tht[0][2] = 0;
    t.sbrk[1] = INFINITY;
    EXPECT_FALSE(fcp_table_finite(t));
}

TEST(TableFit, BreakpointsStandOnTheJointsOfACircleWithDoubledKnots) {
    // The full circle, a quarter per span with doubled knots between: the parameter speed jumps
    // at the joints, so u(s) has a kink there that no piece may straddle.
    measured_curve m(suite_circle());
    nurbs_curve &c = m.curve;
    const arc_table &arc = m.arc;
    const double R = 50, len = 2 * M_PI * R;
    const fcp_table t = fcp_fit(arc, len, 41, STEP);
    std::vector<double> joints;
    for (int q = 1; q < 4; ++q) {
        const double joint = arc.s_knot[q];
        EXPECT_NEAR(joint, q * len / 4, 1e-9);
        EXPECT_NE(std::find(t.sbrk.begin(), t.sbrk.end(), joint), t.sbrk.end()) << q;
        joints.push_back(joint);
    }
    // Independently, the point at the table's parameter lies at polar angle s / R, also where
    // a step ends past a breakpoint (joints aside).
    auto u_at = [&](double s) { return circle_param(&c, R, s); };
    EXPECT_LT(stepped_error(t, &c, u_at, 4000, joints), 1e-6) << "40 pieces, none across a kink";
    // Two breakpoints cannot hold four quarters: the joints need four pieces at least.
    EXPECT_THROW(fcp_fit(arc, len, 2, STEP), std::runtime_error);
}

TEST(TableFit, NinePointCircleTableHoldsToATenthOfANanometre) {
    measured_curve m(circle9(50));
    nurbs_curve &c = m.curve;
    const arc_table &arc = m.arc;
    const double len = arc_table_length(arc);
    const fcp_table t = fcp_fit(arc, len, 401, STEP);
    const fcp_accuracy acc = fcp_measure(t, arc, 64, STEP);
    EXPECT_LE(acc.max_s_err, 1e-7);
    std::vector<double> joints(arc.s_knot.begin() + 1, arc.s_knot.end() - 1);
    const double stepped = stepped_error(
        t, &c, [&](double s) { return circle_param(&c, 50, s); }, 20000, joints);
    EXPECT_LE(stepped, std::max(1.1 * acc.max_s_err, 1e-12));
}

TEST(TableFit, RandomCubicTableHoldsWhereTheDriverUsesIt) {
    // A smooth random cubic of 40 points with a non-uniform knot vector: E at most 1e-7 mm,
    // and steps taken as get_u_FCP takes them (the piece of the start, up to v*T past its end)
    // miss by no more than E, against an independent inversion of an independent quadrature.
    measured_curve m(random_cubic(40, 2));
    nurbs_curve &c = m.curve;
    const arc_table &arc = m.arc;
    const fcp_table t = fcp_fit(arc, arc_table_length(arc), 401, STEP);
    const fcp_accuracy acc = fcp_measure(t, arc, 64, STEP);
    EXPECT_LE(acc.max_s_err, 1e-7);
    // Reference u(s): the span by bisection on the knots' reference lengths, then Newton on the
    // composite quadrature from the span's start.
    std::vector<double> s_knot = {0};
    for (std::size_t k = 0; k + 1 < arc.u_knot.size(); ++k)
        s_knot.push_back(s_knot.back() + reference_length(&c, arc.u_knot[k], arc.u_knot[k + 1]));
    auto u_at = [&](double s) {
        const std::size_t k = std::min<std::size_t>(
            std::upper_bound(s_knot.begin(), s_knot.end(), s) - s_knot.begin() - 1,
            s_knot.size() - 2);
        double u = arc.u_knot[k] + (arc.u_knot[k + 1] - arc.u_knot[k]) *
                                       ((s - s_knot[k]) / (s_knot[k + 1] - s_knot[k]));
        for (int it = 0; it < 8; ++it)
            u -= double(composite_length(&c, arc.u_knot[k], u) - (s - s_knot[k])) /
                 nurbs_arc_len(u, &c);
        return u;
    };
    EXPECT_LE(stepped_error(t, &c, u_at, 3000), 1.1 * acc.max_s_err);
}

TEST(TableFit, ASingleSpanOfTheHighestDegreeIsFitted) {
    measured_curve m(degree25());
    const fcp_table t = fcp_fit(m.arc, arc_table_length(m.arc), 401, STEP);
    EXPECT_TRUE(fcp_table_finite(t));
    EXPECT_LE(fcp_measure(t, m.arc, 16, STEP).max_s_err, 1e-7);
}

// The true miss of a table, S(u_table(s)) - s, computed independently of the fitter and of the
// arc table: S from composite 20-point Gauss-Legendre per knot span (long double sums), the
// table evaluated as get_u_FCP evaluates it (the piece of the step's start), at `in` points of
// every piece evenly spaced in s and `past` points over `reach` mm past its end (not past a
// joint, nor the curve's end).
struct true_miss {
    nurbs_curve *c;
    std::vector<double> u_knot;
    std::vector<long double> s_knot;

    explicit true_miss(nurbs_curve *curve) : c(curve) {
        for (unsigned i = c->deg; i <= c->ncp; ++i)
            if (u_knot.empty() || c->knots[i] > u_knot.back()) u_knot.push_back(c->knots[i]);
        s_knot.push_back(0);
        for (std::size_t k = 0; k + 1 < u_knot.size(); ++k)
            s_knot.push_back(s_knot.back() + composite_length(c, u_knot[k], u_knot[k + 1]));
    }

    // Returns the length from u = 0 to u (the tool stands at the curve's end for u >= 1).
    long double S(double u) const {
        if (u >= 1) return s_knot.back();
        const std::size_t k = std::min<std::size_t>(
            std::upper_bound(u_knot.begin(), u_knot.end(), u) - u_knot.begin() - 1,
            u_knot.size() - 2);
        return s_knot[k] + composite_length(c, u_knot[k], u);
    }

    // Returns the largest |S(u_table(s)) - s| of `t`.
    double of(const fcp_table &t, double reach, int in = 128, int past = 32) const {
        std::vector<double> joint_s;
        for (double u : curve_joints(*c))
            joint_s.push_back(double(S(u)));
        double worst = 0;
        const double len = t.sbrk.back();
        for (std::size_t j = 0; j + 1 < t.sbrk.size(); ++j) {
            const double a = t.sbrk[j], b = t.sbrk[j + 1];
            double end = b;
            if (j + 2 < t.sbrk.size()) {
                end = std::min(b + reach, len);
                for (double k : joint_s)
                    if (k >= b - 1e-9) {
                        end = std::min(end, k);
                        break;
                    }
            }
            auto miss = [&](double s) {
                const double ut = fcp_runtime_u(t, a, s - a, 1.0);
                return std::fabs(double(S(ut) - (long double)s));
            };
            for (int i = 1; i <= in; ++i)
                worst = std::max(worst, miss(a + (b - a) * i / in));
            for (int i = 1; i <= past && end > b; ++i)
                worst = std::max(worst, miss(b + (end - b) * i / past));
        }
        return worst;
    }
};

TEST(TableFit, EIsTheTrueMissOnTheTurnedEllipseTheSpiralAndWeightedCurves) {
    // The fitter's E (fcp_measure: the 7-point Gauss rule from each piece's start on the arc
    // table) against the independent true miss: E is never an understatement (the true miss
    // at its denser samples is at most 5 % above it, plus what long double sums of 1e3 mm
    // resolve) nor a gross overstatement. On the tight bend and the weighted quartic the miss
    // changes fast with s, where |u_table - u| |C'| (the old estimate) understates it.
    struct curve_case {
        const char *name;
        curve_def def;
        int brk;
    };
    for (const curve_case &k :
         {curve_case{"turned ellipse", ellipse_turned(60, 30, M_PI / 6), 41},
          curve_case{"turned ellipse", ellipse_turned(60, 30, M_PI / 6), 201},
          curve_case{"spiral", spiral_pocket(300, 2, 2, 12), 401},
          curve_case{"weighted quartic", random_quartic_3d(25, 19, 0.4, 4.3), 201},
          curve_case{"tight bend", tight_bend(BEND_HALF_GAP), 101}}) {
        measured_curve m(k.def);
        const fcp_table t = fcp_fit(m.arc, arc_table_length(m.arc), k.brk, STEP);
        const double E = fcp_measure(t, m.arc, 64, STEP).max_s_err;
        const double truth = true_miss(&m.curve).of(t, STEP, 48, 12);
        EXPECT_LE(truth, 1.05 * E + 2e-13) << k.name << " " << k.brk;
        EXPECT_GE(truth, 0.8 * E - 2e-13) << k.name << " " << k.brk;
        EXPECT_EQ(t.sbrk.back(), arc_table_length(m.arc)) << "ends at the accurate length";
    }
}

TEST(TableFit, MorePiecesNeverMakeAWorseTable) {
    // E as pieces double, down to what a curve allows: on the spiral a reach across a strong
    // knot near its centre, on the quartic and the bend a reach across a tight turn, set a
    // smallest E that more pieces do not lower; below it the greedy placement can meet a bound
    // with fewer pieces that it misses with more, and the fit keeps the better table.
    for (const curve_def &d : {spiral_pocket(300, 2, 2, 12), random_quartic_3d(25, 19, 0.4, 4.3),
                               tight_bend(BEND_HALF_GAP), random_cubic(40, 2)}) {
        measured_curve m(d);
        double last = HUGE_VAL;
        for (int pieces = 25; pieces <= 800; pieces *= 2) {
            const double E = fcp_measure(fcp_fit(m.arc, arc_table_length(m.arc), pieces + 1, STEP),
                                         m.arc, 64, STEP)
                                 .max_s_err;
            EXPECT_LE(E, last) << pieces << " pieces, " << d.points.size() << " points";
            last = E;
        }
    }
}

TEST(TableFit, ATargetEIsMetWithTheFewestPiecesTheFitNeeds) {
    measured_curve m(ellipse_turned(60, 30, M_PI / 6));
    const double len = arc_table_length(m.arc);
    const true_miss truth(&m.curve);
    int last = 0;
    for (double target : {1e-5, 1e-7, 1e-9}) {
        fcp_fit_stats stats;
        const fcp_fit_result r = fcp_fit_tolerance(m.arc, len, target, STEP, 10000, 64, {}, &stats);
        EXPECT_LE(r.acc.max_s_err, target);
        EXPECT_EQ(r.acc.max_s_err, fcp_measure(r.table, m.arc, 64, STEP).max_s_err);
        EXPECT_LE(truth.of(r.table, STEP, 64, 16), 1.05 * target);
        const int pieces = int(r.table.tht.size());
        EXPECT_GT(pieces, last) << "a tighter target takes more pieces";
        // Not many more than needed: the table of half as many pieces misses the target.
        EXPECT_GT(fcp_measure(fcp_fit(m.arc, len, pieces / 2 + 1, STEP), m.arc, 64, STEP).max_s_err,
                  target)
            << pieces;
        last = pieces;
    }
    // Below what the curve allows (the bend's reach across its tip), a refusal that says so.
    measured_curve bend(tight_bend(BEND_HALF_GAP));
    EXPECT_THROW(fcp_fit_tolerance(bend.arc, arc_table_length(bend.arc), 1e-7, STEP, 10000, 64),
                 fit_error);
}

TEST(TableFit, ATinyCurveIsFittedAndEveryFitStopsAtItsBudget) {
    // Five points, a double knot at 1e-12 or 1e-15 (degree 2: a joint there): a span that
    // short in u holds 10 mm of the curve. It is fitted (the benchmark BM_fcp_fit states how
    // fast) within the work bound; a fit whose budget of trial pieces runs out keeps the best
    // table it found, or, having none, says so.
    curve_def d;
    d.deg = 2;
    d.points = {{0, 0, 0, 1}, {10, 0, 0, 1}, {20, 5, 0, 1}, {30, 0, 0, 1}, {40, 10, 0, 1}};
    for (double knot : {1e-12, 1e-15}) {
        d.knots = {0, 0, 0, knot, knot, 1, 1, 1};
        measured_curve m(d);
        const double len = arc_table_length(m.arc);
        fcp_fit_stats stats;
        const fcp_table t = fcp_fit(m.arc, len, 1001, STEP, {}, &stats);
        EXPECT_LE(stats.trials, FIT_MAX_TRIAL_TOTAL);
        EXPECT_TRUE(fcp_table_finite(t));
        const double E = fcp_measure(t, m.arc, 64, STEP).max_s_err;
        EXPECT_LE(E, 1e-9) << knot;
        // Too few to place one table: refused, naming the bound.
        try {
            fcp_fit(m.arc, len, 1001, STEP, {}, nullptr, 5);
            ADD_FAILURE() << "a fit of 5 trial pieces placed a table";
        } catch (const fit_error &e) {
            EXPECT_NE(std::string(e.what()).find("within 5 trial pieces"), std::string::npos)
                << e.what();
        }
    }
    // A search cut short (half the trials of the whole fit): the best table it found, no better.
    measured_curve m(random_cubic(40, 2));
    const double len = arc_table_length(m.arc);
    fcp_fit_stats full, cut;
    const double E =
        fcp_measure(fcp_fit(m.arc, len, 401, STEP, {}, &full), m.arc, 64, STEP).max_s_err;
    const fcp_table c = fcp_fit(m.arc, len, 401, STEP, {}, &cut, full.trials / 2);
    EXPECT_LT(cut.placements, full.placements);
    EXPECT_EQ(c.tht.size(), 400u);
    EXPECT_GE(fcp_measure(c, m.arc, 64, STEP).max_s_err, E);
}

TEST(TableFit, FillingUpToTheAskedPiecesNeverRaisesTheError) {
    // On the flower (a knot every 3 mm, the third derivative of u(s) jumping at each) a piece
    // can miss by more when split in half: at 100 mm/s the placement met 2.01e-6 mm with 397
    // pieces, and halving the longest three made the table miss by 2.97e-6 mm.
    measured_curve m(flower_curve());
    const double reach = 100 * SERVO_PERIOD;
    const fcp_table t = fcp_fit(m.arc, arc_table_length(m.arc), 401, reach);
    ASSERT_EQ(t.tht.size(), 400u);
    EXPECT_LE(fcp_measure(t, m.arc, 64, reach).max_s_err, 2.1e-6);
}

} // namespace
