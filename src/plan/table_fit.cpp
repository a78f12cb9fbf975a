#include "plan/table_fit.hpp"

#include <algorithm> // max, stable_sort
#include <cmath>     // fabs, pow, sqrt
#include <stdexcept> // a curve no table can follow
#include <string>

#include "io/format.hpp"
#include "plan/joints.hpp"

namespace nurbs_interp {

namespace {

// Interior points, evenly spaced in u, at which a trial piece's error is measured: TRIAL_POINTS
// - 1 of them. A piece that reaches across a knot (where the third derivative of u(s) jumps) has
// its error peak off the middle, between the points of a coarse sampling: with seven points the
// worst piece of a 400-piece table reached 2.4 times the bound that the sampling saw.
constexpr int TRIAL_POINTS = 32;
// A trial whose error is within [TRIAL_ACCEPT eps, eps] is taken as the piece; the length of the
// next trial aims at TRIAL_AIM eps (so that it lands inside that window).
constexpr double TRIAL_ACCEPT = 0.98;
constexpr double TRIAL_AIM = 0.99;
// Points at which a trial piece is scored past its end.
constexpr int REACH_POINTS = 4;
// The search for the bound stops when it is bracketed this closely.
constexpr double BOUND_PRECISION = 1.002;
// Where a piece is tried to be split when the table has fewer pieces than asked for, as shares
// of its length: its middle first.
constexpr double SPLIT_POINTS[] = {0.5, 0.375, 0.625, 0.25, 0.75};

// u and its first two arc-length derivatives at one breakpoint.
struct knot_data {
    double u, du, ddu;
};

// Returns u, du/ds = 1/|C'| and d2u/ds2 = -(C'.C'')/|C'|^4 at parameter u.
knot_data derivatives_at(nurbs_curve *curve, double u) {
    cart_point P, d1, d2;
    nurbs_deBoor_eval(u, -1, curve, &P, &d1, &d2, nullptr);
    const double v2 = sq_modulus(&d1);
    return {u, 1 / std::sqrt(v2), -dotprod(&d1, &d2) / (v2 * v2)};
}

// Returns the same at a knot u from the left: on the span that ends there (the evaluator's own
// span search gives the one that starts there).
knot_data derivatives_left_of(nurbs_curve *curve, double u) {
    cart_point P, d1, d2;
    eval_left_of_knot(curve, u, &P, &d1, &d2, nullptr);
    const double v2 = sq_modulus(&d1);
    return {u, 1 / std::sqrt(v2), -dotprod(&d1, &d2) / (v2 * v2)};
}

// A breakpoint: its arc length and u(s) with its derivatives from the left (for the piece that
// ends there) and from the right (for the piece that starts there). A fixed one (an end or a
// joint) has no reach: no step is scored on the piece before it past it (see fcp_fit).
struct breakpoint {
    double s;
    knot_data left, right;
    bool fixed = false;
};

// Returns the breakpoints the placement must keep: both ends and the joints.
std::vector<breakpoint> fixed_breakpoints(const arc_table &arc, double total) {
    nurbs_curve *c = arc.curve;
    const knot_data start = derivatives_at(c, 0.0), end = derivatives_at(c, 1.0);
    std::vector<breakpoint> fixed = {{0.0, start, start, true}};
    const std::vector<double> joints = curve_joints(*c);
    for (std::size_t k = 1; k + 1 < arc.u_knot.size(); ++k) {
        const double u = arc.u_knot[k];
        if (std::binary_search(joints.begin(), joints.end(), u))
            fixed.push_back({arc.s_knot[k], derivatives_left_of(c, u), derivatives_at(c, u), true});
    }
    fixed.push_back({total, end, end, true});
    return fixed;
}

// Returns the quintic Hermite piece in t = (s - s0)/len over [0, H], H = (s1 - s0)/len,
// matching value, first and second derivative at both ends. Solved in long double so that
// the piece ends on the next breakpoint's value to the last bit or two.
std::array<double, FCP_TABLE_ORD> hermite_piece(const knot_data &a, const knot_data &b, double H,
                                                double len) {
    using ld = long double;
    const ld L = len, h = H;
    const ld u0 = a.u, d10 = ld(a.du) * L, d20 = ld(a.ddu) * L * L;
    const ld u1 = b.u, d11 = ld(b.du) * L, d21 = ld(b.ddu) * L * L;
    const ld c3 = d20 / 2;
    const ld r0 = u1 - (u0 + d10 * h + c3 * h * h);
    const ld r1 = d11 - (d10 + d20 * h);
    const ld r2 = d21 - d20;
    const ld h2 = h * h, h3 = h2 * h;
    const ld c2 = (20 * r0 - 8 * r1 * h + r2 * h2) / (2 * h3);
    const ld c1 = (-30 * r0 + 14 * r1 * h - 2 * r2 * h2) / (2 * h3 * h);
    const ld c0 = (12 * r0 - 6 * r1 * h + r2 * h2) / (2 * h3 * h2);
    return {double(c0), double(c1), double(c2), double(c3), double(d10), a.u};
}

// Returns the table on the given breakpoints.
fcp_table build(const std::vector<breakpoint> &br) {
    fcp_table t;
    const double len = br.back().s;
    for (const breakpoint &b : br)
        t.sbrk.push_back(b.s);
    for (std::size_t j = 0; j + 1 < br.size(); ++j)
        t.tht.push_back(
            hermite_piece(br[j].right, br[j + 1].left, (br[j + 1].s - br[j].s) / len, len));
    return t;
}

// Returns the largest error as arc length, |u_piece(s(u)) - u| |C'(u)| in mm, of the piece from
// breakpoint a to breakpoint b (what a driver that re-bases every step on the true travelled
// length misses its step by), at TRIAL_POINTS - 1 interior parameters evenly spaced in u, and,
// unless b is fixed, at REACH_POINTS parameters over about `reach` mm past b, where a step that
// starts on this piece ends, but not beyond u_stop (the next joint: a step across it is the
// stepping's matter, not the table's).
double piece_error(const arc_table &arc, const breakpoint &a, const breakpoint &b, double len,
                   double reach, double u_stop) {
    const std::array<double, FCP_TABLE_ORD> c =
        hermite_piece(a.right, b.left, (b.s - a.s) / len, len);
    auto error_at = [&](double u) {
        const double s = arc_length_to(arc, u);
        return std::fabs(fcp_horner(c.data(), (s - a.s) / len) - u) * nurbs_arc_len(u, arc.curve);
    };
    const double u0 = a.right.u, u1 = b.left.u;
    double e = 0;
    for (int i = 1; i < TRIAL_POINTS; ++i)
        e = std::max(e, error_at(u0 + (u1 - u0) * (double(i) / TRIAL_POINTS)));
    if (!b.fixed && reach > 0) {
        const double du = reach / nurbs_arc_len(u1, arc.curve);
        for (int i = 1; i <= REACH_POINTS; ++i)
            e = std::max(e, error_at(std::min(u_stop, u1 + du * (double(i) / REACH_POINTS))));
    }
    return e;
}

// One placement at a given error bound.
struct placement {
    const arc_table &arc;
    double len;     // the table's last breakpoint
    double reach;   // how far past its end a piece is scored, mm
    double eps;     // the bound, mm
    int cap;        // give up beyond this many pieces
    double du_hint; // the parameter length of the last piece placed
    long trials = 0;

    // Returns the breakpoint at parameter u < 1 (not a fixed one).
    breakpoint at(double u) const {
        const knot_data d = derivatives_at(arc.curve, u);
        return {arc_length_to(arc, u), d, d};
    }

    // Returns the end of the longest piece from `a` towards the fixed breakpoint `b` whose
    // error is at most eps (b itself when the whole stretch is within it), or an s of NaN
    // when not even a short piece is: a search on the piece's parameter length that predicts
    // each trial from the last by the sixth-power law and keeps the longest piece that passed.
    breakpoint extend(const breakpoint &a, const breakpoint &b) {
        const double full = b.left.u - a.right.u;
        double lo = 0, hi = HUGE_VAL, e_lo = 0, e_hi = 0;
        double du = std::min(du_hint > 0 ? du_hint : full, full);
        breakpoint best{NAN, {}, {}};
        for (int t = 0; t < FIT_MAX_TRIALS; ++t) {
            ++trials;
            breakpoint end = du >= full ? b : at(a.right.u + du);
            if (!(end.s < b.s)) end = b; // as long as the stretch, to within rounding
            const double e = piece_error(arc, a, end, len, reach, b.left.u);
            if (e <= eps) {
                lo = du;
                e_lo = e;
                best = end;
                if (end.fixed || e >= TRIAL_ACCEPT * eps) break;
            } else {
                hi = du;
                e_hi = e;
            }
            if (hi < HUGE_VAL && hi - lo <= 1e-9 * hi) break;
            // The error grows as a power of the length: the sixth from one trial, or the power
            // seen between the bracket's ends.
            double next = e > 0 ? du * std::pow(TRIAL_AIM * eps / e, 1.0 / 6) : HUGE_VAL;
            if (lo > 0 && hi < HUGE_VAL && e_lo > 0 && e_hi > e_lo)
                next = lo *
                       std::pow(TRIAL_AIM * eps / e_lo, std::log(hi / lo) / std::log(e_hi / e_lo));
            if (!(next > lo && next < hi)) // outside the bracket (or NaN): halve it
                next = hi < HUGE_VAL ? 0.5 * (lo + hi) : 2 * std::max(lo, du);
            du = std::min(next, full);
        }
        if (lo > 0) du_hint = lo;
        return best;
    }

    // Places the pieces between the fixed breakpoints; returns the breakpoints, or an empty
    // vector when more than `cap` pieces are needed or some stretch cannot meet eps.
    std::vector<breakpoint> run(const std::vector<breakpoint> &fixed) {
        std::vector<breakpoint> br = {fixed.front()};
        for (std::size_t f = 1; f < fixed.size(); ++f) {
            while (br.back().s != fixed[f].s) {
                if (int(br.size()) > cap) return {};
                const breakpoint next = extend(br.back(), fixed[f]);
                if (std::isnan(next.s)) return {};
                br.push_back(next);
            }
        }
        return br;
    }
};

// Returns the parameter where the reach of the piece ending on br[j + 1] stops: the next fixed
// breakpoint (a joint or the end).
double reach_stop(const std::vector<breakpoint> &br, std::size_t j) {
    for (std::size_t k = j + 1; k < br.size(); ++k)
        if (br[k].fixed) return br[k].left.u;
    return 1.0;
}

// Splits pieces until there are `pieces` of them without raising the largest error of the
// table (piece_error with `reach`): the longest piece first, at its middle, else nearer its
// ends; a piece no split keeps within that error is passed over for the next longest. Between
// many knots a piece's error does not fall with its length (the third derivative of u(s) jumps
// at every knot): a half can miss by more than the whole did. Throws std::runtime_error when no
// piece can be split.
void fill_up(const arc_table &arc, std::vector<breakpoint> &br, int pieces, double reach) {
    const double len = br.back().s;
    double worst = 0;
    for (std::size_t j = 0; j + 1 < br.size(); ++j)
        worst = std::max(worst, piece_error(arc, br[j], br[j + 1], len, reach, reach_stop(br, j)));
    std::vector<std::size_t> order;
    while (int(br.size()) - 1 < pieces) {
        order.resize(br.size() - 1);
        for (std::size_t j = 0; j < order.size(); ++j)
            order[j] = j;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return br[a + 1].s - br[a].s > br[b + 1].s - br[b].s;
        });
        bool split = false;
        for (std::size_t n = 0; n < order.size() && !split; ++n) {
            const std::size_t j = order[n];
            for (double t : SPLIT_POINTS) {
                const double s = br[j].s + (br[j + 1].s - br[j].s) * t;
                const knot_data d = derivatives_at(arc.curve, arc_param_at(arc, s));
                const breakpoint m{s, d, d};
                if (!(d.u > br[j].right.u && d.u < br[j + 1].left.u)) continue;
                const double stop = reach_stop(br, j);
                if (piece_error(arc, br[j], m, len, reach, stop) > worst ||
                    piece_error(arc, m, br[j + 1], len, reach, stop) > worst)
                    continue;
                br.insert(br.begin() + std::ptrdiff_t(j) + 1, m);
                split = true;
                break;
            }
        }
        if (!split)
            throw std::runtime_error("no piece of the table can be split without raising its "
                                     "error (" +
                                     std::to_string(br.size() - 1) + " pieces of " +
                                     std::to_string(pieces) + ")");
    }
}

} // namespace

double fcp_table_eval(const fcp_table &table, int j, double s) {
    return fcp_horner(table.tht[j].data(), (s - table.sbrk[j]) / table.sbrk.back());
}

fcp_table fcp_fit(const arc_table &arc, double total_length, int brk_len, double reach,
                  const fit_progress &progress) {
    const int pieces = brk_len - 1;
    const std::vector<breakpoint> fixed = fixed_breakpoints(arc, total_length);
    if (int(fixed.size()) - 1 > pieces)
        throw std::runtime_error(
            "the curve has " + std::to_string(fixed.size() - 2) +
            " joints (knots where |C'| or C'' jumps), each needing a breakpoint: a table needs at "
            "least " +
            std::to_string(fixed.size() - 1) + " pieces, not " + std::to_string(pieces));
    // The smallest bound (mm) that the placement meets with at most `pieces` pieces: lo fails,
    // hi is met. The count goes as bound^(-1/6), which predicts the next bound to try; a
    // prediction outside the bracket is replaced by its geometric middle. Below FIT_BOUND_FLOOR
    // of the length the error is rounding, and the search stops; nor can a table end closer
    // to u = 1 than total_length is to the accurate length (the last piece ends there).
    double lo = 0, hi = HUGE_VAL, eps = 1e-9 * total_length, hint = 0;
    const double floor = std::max(FIT_BOUND_FLOOR * total_length,
                                  2 * std::fabs(total_length - arc_table_length(arc)));
    std::vector<breakpoint> best;
    for (int pass = 0; pass < FIT_MAX_PASSES; ++pass) {
        if (progress) progress(std::min(0.95, pass / 14.0));
        // Once a bound is met, a placement of more pieces than allowed only has to fail.
        placement pl{arc, total_length, reach, eps, hi < HUGE_VAL ? pieces : 2 * pieces, hint};
        const std::vector<breakpoint> br = pl.run(fixed);
        const int n = br.empty() ? 0 : int(br.size()) - 1;
        if (n > 0 && n <= pieces) {
            hi = eps;
            best = br;
            hint = br[1].left.u;
            if (eps <= floor) break;
        } else {
            lo = eps;
        }
        if (lo > 0 && hi < HUGE_VAL && hi <= BOUND_PRECISION * lo) break;
        double next = n > 0 ? eps * std::pow(double(n) / (pieces - 0.5), 6) : 64 * eps;
        if (!(next > lo && next < hi))
            next = lo > 0 && hi < HUGE_VAL ? std::sqrt(lo * hi) : lo > 0 ? 64 * lo : hi / 64;
        eps = std::max(next, floor);
    }
    if (best.empty())
        throw std::runtime_error("no table of " + std::to_string(pieces) +
                                 " pieces follows this curve's u(s) (no error bound up to " +
                                 fmt("%.3g", lo) + " mm is met)");
    fill_up(arc, best, pieces, reach);
    if (progress) progress(1.0);
    return build(best);
}

namespace {

// Returns the largest error of piece j over `points` parameters evenly spaced in (u0, u1] (at
// arc lengths from the accurate length), with where it occurs.
struct piece_worst {
    double s_err = 0, u_err = 0, s = 0, u = 0;
};
piece_worst piece_scan(const fcp_table &table, const arc_table &arc, int j, double u0, double u1,
                       int points) {
    piece_worst w;
    for (int i = 1; i <= points; ++i) {
        const double u = u0 + (u1 - u0) * (double(i) / points);
        const double s = arc_length_to(arc, u);
        const double e = std::fabs(fcp_table_eval(table, j, s) - u);
        const double e_s = e * nurbs_arc_len(u, arc.curve);
        w.u_err = std::max(w.u_err, e);
        if (e_s > w.s_err) w = {e_s, w.u_err, s, u};
    }
    return w;
}

// Records w, found on piece j (past its end when `past`), as the worst error.
void set_worst(fcp_accuracy &acc, const piece_worst &w, int j, bool past) {
    acc.max_s_err = w.s_err;
    acc.worst_piece = j;
    acc.worst_s = w.s;
    acc.worst_u = w.u;
    acc.worst_past_end = past;
}

} // namespace

fcp_accuracy fcp_measure(const fcp_table &table, const arc_table &arc, int samples, double reach) {
    fcp_accuracy acc;
    const int pieces = int(table.tht.size());
    std::vector<double> ub(pieces + 1);
    for (int j = 0; j <= pieces; ++j)
        ub[j] = j == 0 ? 0.0 : j == pieces ? 1.0 : arc_param_at(arc, table.sbrk[j]);
    const std::vector<double> joints = curve_joints(*arc.curve);
    auto at_joint = [&](double u) {
        for (double k : joints)
            if (std::fabs(u - k) <= 1e-12) return true;
        return false;
    };
    for (int j = 0; j < pieces; ++j) {
        // The piece itself: its error is 0 at its first breakpoint (c5 is u there).
        const piece_worst w = piece_scan(table, arc, j, ub[j], ub[j + 1], samples);
        acc.max_u_err = std::max(acc.max_u_err, w.u_err);
        acc.piece_s_err = std::max(acc.piece_s_err, w.s_err);
        if (w.s_err > acc.max_s_err || acc.worst_piece < 0) set_worst(acc, w, j, false);
        // Past its end, where a step that starts on it ends (the next piece's first reach).
        if (j + 1 < pieces && reach > 0) {
            // Up to the next joint: a step across it is reported apart (joint_reach_err).
            double u_end = arc_param_at(arc, table.sbrk[j + 1] + reach);
            if (!at_joint(ub[j + 1]))
                for (double k : joints)
                    if (k > ub[j + 1]) {
                        u_end = std::min(u_end, k);
                        break;
                    }
            const piece_worst r =
                piece_scan(table, arc, j, ub[j + 1], u_end, std::max(4, samples / 4));
            if (at_joint(ub[j + 1])) {
                acc.joint_reach_err = std::max(acc.joint_reach_err, r.s_err);
            } else if (r.s_err > acc.max_s_err) {
                set_worst(acc, r, j, true);
            }
            acc.max_u_err = std::max(acc.max_u_err, at_joint(ub[j + 1]) ? 0.0 : r.u_err);
        }
        if (j + 1 < pieces) {
            const double m =
                std::fabs(fcp_table_eval(table, j, table.sbrk[j + 1]) - table.tht[j + 1][5]);
            if (m > acc.max_mismatch || acc.mismatch_piece < 0) {
                acc.max_mismatch = m;
                acc.mismatch_piece = j;
            }
        }
    }
    acc.end_err = fcp_table_eval(table, pieces - 1, table.sbrk.back()) - 1.0;
    return acc;
}

bool fcp_table_finite(const fcp_table &table) {
    for (double s : table.sbrk)
        if (!std::isfinite(s)) return false;
    for (const auto &row : table.tht)
        for (double c : row)
            if (!std::isfinite(c)) return false;
    return true;
}

void fcp_write_header(std::FILE *out, const fcp_table &table,
                      const std::vector<std::string> &comment) {
    for (const std::string &line : comment)
        std::fprintf(out, "// %s\n", line.c_str());
    std::fprintf(out, "// clang-format off\n");
    std::fprintf(out, "#pragma once\n\n");
    std::fprintf(out, "constexpr int BRK_LEN = %d;\n", int(table.sbrk.size()));
    std::fprintf(out, "constexpr int FCP_ORD = %d;\n\n", FCP_TABLE_ORD);
    std::fprintf(out, "static const double FCP_SBRK[BRK_LEN] = {\n");
    for (std::size_t k = 0; k < table.sbrk.size(); ++k)
        std::fprintf(out, "%s%.17g,%s", k % 4 == 0 ? "    " : " ", table.sbrk[k],
                     k % 4 == 3 || k + 1 == table.sbrk.size() ? "\n" : "");
    std::fprintf(out, "};\n\n");
    std::fprintf(out, "static const double FCP_THT[BRK_LEN - 1][FCP_ORD] = {\n");
    for (const std::array<double, FCP_TABLE_ORD> &c : table.tht)
        std::fprintf(out, "    {%.17g, %.17g, %.17g, %.17g, %.17g, %.17g},\n", c[0], c[1], c[2],
                     c[3], c[4], c[5]);
    std::fprintf(out, "};\n");
}

} // namespace nurbs_interp
