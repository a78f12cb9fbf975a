// The table fitter and its measure. One piece because the placement and the measure share the
// scan of a piece (its samples, the knots it passes, the true miss), which must agree for the
// placement's bound to be the table's E.
#include "plan/table_fit.hpp"

#include <algorithm> // max, stable_sort, upper_bound
#include <cmath>     // fabs, pow, sqrt
#include <list>      // breakpoints while pieces are split
#include <string>

#include "io/format.hpp"
#include "plan/gauss_kronrod.hpp"
#include "plan/joints.hpp"

namespace nurbs_interp {

namespace {

// A trial whose error is within [TRIAL_ACCEPT eps, eps] is taken as the piece; the length of the
// next trial aims at TRIAL_AIM eps (so that it lands inside that window).
constexpr double TRIAL_ACCEPT = 0.98;
constexpr double TRIAL_AIM = 0.99;
// The search for the bound stops when it is bracketed this closely; or this closely when the
// bound that fails meets no piece somewhere (not too many pieces).
constexpr double BOUND_PRECISION = 1.002;
constexpr double STUCK_PRECISION = 1.02;
// A placement is made at this share of the tolerance of fcp_fit_tolerance first: the measure's
// denser sampling finds a little more than the placement's.
constexpr double TOLERANCE_MARGIN = 0.97;
// A piece longer than this many reaches, with no knot within a reach of its end, is not tried
// as the interpolant to the end of its reach (see scorer::error).
constexpr double EXTEND_LENGTH = 8;
// The fit for n pieces takes the better of its own placement and the fit for n / 2 pieces
// split up to n (so that more pieces never make a worse table), down to this many pieces.
constexpr int LADDER_MIN = 8;
// Where a piece is tried to be split when the table has fewer pieces than asked for, as shares
// of its length: its middle first.
constexpr double SPLIT_POINTS[] = {0.5, 0.375, 0.625, 0.25, 0.75};

// ---- The true miss of a piece ----

// Returns the integral of |C'| over [a, b] (one smooth stretch) by the 7-point Gauss rule.
double gauss7(nurbs_curve *curve, double a, double b) {
    const double m = 0.5 * (a + b), h = 0.5 * (b - a);
    const double u[7] = {m,
                         m - h * GK15_X[1],
                         m + h * GK15_X[1],
                         m - h * GK15_X[3],
                         m + h * GK15_X[3],
                         m - h * GK15_X[5],
                         m + h * GK15_X[5]};
    double f[7];
    nurbs_arc_len_batch(curve, u, 7, f);
    return h * (((G7_W[3] * f[0] + G7_W[0] * (f[1] + f[2])) + G7_W[1] * (f[3] + f[4])) +
                G7_W[2] * (f[5] + f[6]));
}

// Returns the arc length from x0 to x1 (negative when x1 < x0), both in [0, 1]: the 7-point
// Gauss rule on each piece of [x0, x1] between knots and between the parts of the adaptive
// quadrature's partition (on which that rule is what its error estimate checks), so it is as
// accurate as the arc table on a short interval and never integrates across a kink.
double length_between(const arc_table &arc, double x0, double x1) {
    if (x0 == x1) return 0.0;
    const double lo = std::min(x0, x1), hi = std::max(x0, x1);
    double sum = 0, a = lo;
    for (std::size_t k = arc_span_of(arc, lo); a < hi; ++k) {
        const double span_end = k + 1 < arc.u_knot.size() ? arc.u_knot[k + 1] : hi;
        const double end = std::min(hi, span_end);
        const span_partition &p = arc_span_partition(arc, k);
        for (auto it = std::upper_bound(p.u.begin(), p.u.end(), a); it != p.u.end() && *it < end;
             ++it) {
            sum += gauss7(arc.curve, a, *it);
            a = *it;
        }
        sum += gauss7(arc.curve, a, end);
        a = end;
        if (k + 2 >= arc.u_knot.size()) break;
    }
    return x1 < x0 ? -sum : sum;
}

// Returns the same for any parameters: the tool stands on the curve, at its end for any u >= 1
// (the evaluator's end rule) and at its start for u <= 0.
double length_between_any(const arc_table &arc, double x0, double x1) {
    return length_between(arc, std::clamp(x0, 0.0, 1.0), std::clamp(x1, 0.0, 1.0));
}

// The largest miss of a scan, and where.
struct scan_worst {
    double err = 0; // |miss|, mm
    double s = 0, u = 0;
};

// One scan of a piece: the polynomial, where it starts, and the stretches to sample.
struct piece_scan {
    const arc_table &arc;
    const double *c; // the piece's coefficients
    double s0;       // its first breakpoint
    double len;      // the table's last breakpoint
    double u0;       // its parameter at s0: c5
    double base;     // S(u0) - s0: what the miss is at the piece's start

    // A sample: its arc length, the table's parameter there, and the length from u0 to it.
    struct sample {
        double s, u, I;
    };

    // Returns the sample at s, taking the length on from `from`.
    sample at(double s, const sample &from) const {
        const double u = fcp_horner(c, (s - s0) / len);
        if (std::isnan(u)) return {s, u, NAN};
        return {s, u, from.I + length_between_any(arc, from.u, u)};
    }

    // Returns the miss of a sample, mm.
    double miss(const sample &x) const { return base + (x.I - (x.s - s0)); }

    // Scans (s_a, s_b] at n points evenly spaced in s and at the knots strictly inside, starting
    // from the sample `from` at s_a; then evaluates where the parabola through the largest
    // |miss| and its two neighbours peaks. Returns the largest |miss| and leaves the last sample
    // in `from`.
    scan_worst stretch(sample &from, double s_b, int n, std::vector<sample> &buf) const {
        buf.clear();
        buf.push_back(from);
        const double s_a = from.s;
        std::size_t k =
            std::upper_bound(arc.s_knot.begin(), arc.s_knot.end(), s_a) - arc.s_knot.begin();
        for (int i = 1; i <= n; ++i) {
            const double s = i == n ? s_b : s_a + (s_b - s_a) * (double(i) / n);
            for (; k < arc.s_knot.size() && arc.s_knot[k] < s; ++k)
                buf.push_back(at(arc.s_knot[k], buf.back()));
            buf.push_back(at(s, buf.back()));
        }
        scan_worst w;
        std::size_t m = 0;
        for (std::size_t i = 1; i < buf.size(); ++i) {
            const double e = std::fabs(miss(buf[i]));
            if (std::isnan(e)) { // a piece that is not a number anywhere is not a piece
                from = buf.back();
                return {e, buf[i].s, buf[i].u};
            }
            if (e > w.err || m == 0) {
                w = {e, buf[i].s, buf[i].u};
                m = i;
            }
        }
        from = buf.back();
        if (m >= 1 && m + 1 < buf.size()) {
            // The vertex of the parabola through (s, |miss|) at m - 1, m, m + 1.
            const double x0 = buf[m - 1].s, x1 = buf[m].s, x2 = buf[m + 1].s;
            const double y0 = std::fabs(miss(buf[m - 1])), y1 = w.err,
                         y2 = std::fabs(miss(buf[m + 1]));
            const double d0 = (y1 - y0) / (x1 - x0), d1 = (y2 - y1) / (x2 - x1);
            const double curv = (d1 - d0) / (x2 - x0);
            if (curv < 0) {
                const double xv = 0.5 * (x0 + x1) - d0 / (2 * curv);
                if (xv > x0 && xv < x2 && xv != x1) {
                    const sample v = at(xv, buf[xv < x1 ? m - 1 : m]);
                    const double e = std::fabs(miss(v));
                    if (e > w.err) w = {e, v.s, v.u};
                }
            }
        }
        return w;
    }
};

// Returns the scan of the piece with coefficients c from breakpoint (s0, u0 = c[5]) whose
// length from u = 0 is S0 (the accurate length: the miss at the start is S0 - s0).
piece_scan scan_of(const arc_table &arc, const double *c, double s0, double len, double S0) {
    return {arc, c, s0, len, c[5], S0 - s0};
}

// The errors of one piece: within it, and over its reach.
struct piece_errors {
    scan_worst in, reach;
};

// Scans a piece from s0 to s1 at n_in points (and the knots), then over (s1, reach_end] at
// n_reach points (none when reach_end <= s1).
piece_errors scan_piece(const piece_scan &ps, double s1, double reach_end, int n_in, int n_reach,
                        std::vector<piece_scan::sample> &buf) {
    piece_errors e;
    piece_scan::sample x{ps.s0, ps.u0, 0.0};
    e.in = ps.stretch(x, s1, n_in, buf);
    if (reach_end > s1) e.reach = ps.stretch(x, reach_end, n_reach, buf);
    return e;
}

// ---- Breakpoints and pieces ----

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
// joint) has no reach: no step is scored on the piece before it past it (see fcp_fit). `S` is
// the accurate length to its parameter: s itself but at the last breakpoint, which is the
// table's total length. The piece that ends here interpolates `left` at s, or, when
// `extended`, `ext` at s_ext, the end of its reach.
struct breakpoint {
    double s;
    knot_data left, right;
    bool fixed = false;
    double S = s;
    bool extended = false;
    knot_data ext{};
    double s_ext = 0;
    double ext_for = NAN; // the reach's end ext was computed for (NaN: none)
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
    fixed.push_back({total, end, end, true, arc_table_length(arc)});
    return fixed;
}

// Returns the breakpoint at parameter u (0 < u < 1, not a joint), its s the accurate length.
breakpoint breakpoint_at(const arc_table &arc, double u) {
    const knot_data d = derivatives_at(arc.curve, u);
    const double s = arc_length_to(arc, u);
    return {s, d, d, false, s};
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

// Returns the piece from breakpoint a to breakpoint b: the quintic Hermite interpolant between
// a and b, or between a and the end of b's reach when b says so.
std::array<double, FCP_TABLE_ORD> piece_between(const breakpoint &a, const breakpoint &b,
                                                double len) {
    return b.extended ? hermite_piece(a.right, b.ext, (b.s_ext - a.s) / len, len)
                      : hermite_piece(a.right, b.left, (b.s - a.s) / len, len);
}

// Returns the table on the given breakpoints.
fcp_table build(const std::vector<breakpoint> &br) {
    fcp_table t;
    const double len = br.back().s;
    for (const breakpoint &b : br)
        t.sbrk.push_back(b.s);
    for (std::size_t j = 0; j + 1 < br.size(); ++j)
        t.tht.push_back(piece_between(br[j], br[j + 1], len));
    return t;
}

// What scoring trial pieces shares: the curve, the table's length, the reach, the buffer.
struct scorer {
    const arc_table &arc;
    double len;   // the table's last breakpoint
    double reach; // how far past its end a piece is scored, mm
    int n_in = FIT_TRIAL_POINTS, n_reach = FIT_REACH_POINTS; // samples inside and past the end
    long trials = 0;
    long budget = FIT_MAX_TRIAL_TOTAL; // trials a fit may score
    std::vector<piece_scan::sample> buf;

    // Returns the largest miss, mm, of the piece from a to b as it stands, inside it and over
    // its reach up to reach_end.
    double scored(const breakpoint &a, const breakpoint &b, double reach_end) {
        const std::array<double, FCP_TABLE_ORD> c = piece_between(a, b, len);
        const piece_scan ps = scan_of(arc, c.data(), a.s, len, a.S);
        const piece_errors e = scan_piece(ps, b.s, reach_end, n_in, n_reach, buf);
        const double worst = std::max(e.in.err, e.reach.err);
        return std::isnan(e.in.err) || std::isnan(e.reach.err) ? HUGE_VAL : worst;
    }

    // Returns the largest miss, mm, of the piece from breakpoint a to breakpoint b, inside it
    // and, unless b is fixed, over `reach` mm past b (not beyond s_stop, the next fixed
    // breakpoint: a step across a joint is the stepping's matter, not the table's). Such a
    // piece is the Hermite interpolant to b, or to the end of its reach, whichever misses less:
    // the first is the better on a long smooth stretch, the second where a piece is shorter
    // than a few reaches (extrapolated over more than its own length, a quintic runs off) or
    // where the reach crosses a knot (u''' jumps there, and a piece that ends before the knot
    // carries its own u''' across). Sets b.extended to the choice.
    double error(const breakpoint &a, breakpoint &b, double s_stop) {
        ++trials;
        const double reach_end = b.fixed ? b.s : std::min(b.s + reach, s_stop);
        b.extended = false;
        const double plain = scored(a, b, reach_end);
        // (A reach cut short by a joint or the curve's end is not extended to; nor is a piece
        // many reaches long with no knot near its end: there the plain piece is the better.)
        if (!(reach_end > b.s && reach_end < s_stop)) return plain;
        const auto k = std::upper_bound(arc.s_knot.begin(), arc.s_knot.end(), b.s - reach);
        if (b.s - a.s > EXTEND_LENGTH * reach && !(k != arc.s_knot.end() && *k < reach_end))
            return plain;
        if (b.ext_for != reach_end) {
            const double u = arc_param_at(arc, reach_end);
            b.ext = derivatives_at(arc.curve, u);
            b.s_ext = arc_length_to(arc, u);
            b.ext_for = reach_end;
        }
        b.extended = true;
        const double ext = scored(a, b, reach_end);
        if (ext < plain) return ext;
        b.extended = false;
        return plain;
    }
};

// One placement at a given error bound.
struct placement {
    scorer &sc;
    double eps;         // the bound, mm
    int cap;            // give up beyond this many pieces
    double du_hint;     // the parameter length of the last piece placed
    long budget;        // give up once the scorer has scored this many trials
    bool stuck = false; // a stretch met no piece within eps (not a count or budget exceeded)
    double stuck_s = 0; // where: the start of the piece that could not be placed, mm

    // Returns the end of the longest piece from `a` towards the fixed breakpoint `b` whose
    // error is at most eps (b itself when the whole stretch is within it), or an s of NaN
    // when not even a short piece is: a search on the piece's parameter length that predicts
    // each trial from the last by the sixth-power law and keeps the longest piece that passed.
    breakpoint extend(const breakpoint &a, const breakpoint &b) {
        const double full = b.left.u - a.right.u;
        double lo = 0, hi = HUGE_VAL, e_lo = 0, e_hi = 0;
        double du = std::min(du_hint > 0 ? du_hint : full, full);
        breakpoint best{NAN, {}, {}}, last{NAN, {}, {}}; // the previous trial's end
        double last_e = 0;                               // and error
        for (int t = 0; t < FIT_MAX_TRIALS; ++t) {
            breakpoint end = du >= full ? b : breakpoint_at(sc.arc, a.right.u + du);
            if (!(end.s < b.s)) end = b; // as long as the stretch, to within rounding
            // Lengths that round to the same end are the same piece, scored already.
            const bool again = end.s == last.s;
            if (again) end = last;
            const double e = again ? last_e : sc.error(a, end, b.s);
            last = end;
            last_e = e;
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
    // vector when more than `cap` pieces are needed, some stretch cannot meet eps, or the
    // budget is spent.
    std::vector<breakpoint> run(const std::vector<breakpoint> &fixed) {
        std::vector<breakpoint> br = {fixed.front()};
        for (std::size_t f = 1; f < fixed.size(); ++f) {
            while (br.back().s != fixed[f].s) {
                if (int(br.size()) > cap || sc.trials > budget) return {};
                const breakpoint next = extend(br.back(), fixed[f]);
                if (std::isnan(next.s)) {
                    stuck = true;
                    stuck_s = br.back().s;
                    return {};
                }
                br.push_back(next);
            }
        }
        return br;
    }
};

// Returns where the reach of the piece ending on b stops, as sc scores it.
double reach_end_of(const scorer &sc, const breakpoint &b, double s_stop) {
    return b.fixed ? b.s : std::min(b.s + sc.reach, s_stop);
}

// Returns the largest error of the table on `br` as `sc` scores its pieces as they stand (with
// sc's samples: fcp_measure's E for the same samples).
double table_error(scorer &sc, const std::vector<breakpoint> &br) {
    double worst = 0, stop = br.back().s;
    for (std::size_t j = br.size() - 1; j-- > 0;) {
        if (br[j + 1].fixed) stop = br[j + 1].s;
        worst = std::max(worst, sc.scored(br[j], br[j + 1], reach_end_of(sc, br[j + 1], stop)));
    }
    return worst;
}

// Splits pieces until there are `pieces` of them without raising the largest error of the
// table, `worst` as `check` scores it (the placement's scorer sc chooses each half's form): the
// longest piece first, at its middle, else nearer its ends; a piece no split keeps within that
// error is passed over for the next longest. Between many knots a piece's error does not fall
// with its length (the third derivative of u(s) jumps at every knot): a half can miss by more
// than the whole did. Throws fit_error when no piece can be split.
void fill_up(scorer &sc, scorer &check, std::vector<breakpoint> &br, int pieces, double worst) {
    if (int(br.size()) - 1 >= pieces) return;
    std::vector<double> fixed_s; // where reaches stop
    for (const breakpoint &b : br)
        if (b.fixed) fixed_s.push_back(b.s);
    std::list<breakpoint> pts(br.begin(), br.end());
    using piece = std::pair<double, std::list<breakpoint>::iterator>; // length, start
    const auto shorter = [](const piece &x, const piece &y) {
        return x.first < y.first || (x.first == y.first && x.second->s > y.second->s);
    };
    std::vector<piece> heap;
    for (auto it = pts.begin(); std::next(it) != pts.end(); ++it)
        heap.push_back({std::next(it)->s - it->s, it});
    std::make_heap(heap.begin(), heap.end(), shorter);
    int count = int(br.size()) - 1;
    while (count < pieces) {
        if (heap.empty())
            throw fit_error("no piece of the table can be split without raising its error (" +
                            std::to_string(count) + " pieces of " + std::to_string(pieces) + ")");
        std::pop_heap(heap.begin(), heap.end(), shorter);
        const auto a = heap.back().second;
        heap.pop_back();
        const auto b = std::next(a);
        const double stop = *std::upper_bound(fixed_s.begin(), fixed_s.end(), a->s);
        for (double t : SPLIT_POINTS) {
            const double s = a->s + (b->s - a->s) * t;
            const double u = arc_param_at(sc.arc, s);
            if (!(u > a->right.u && u < b->left.u)) continue;
            breakpoint m = breakpoint_at(sc.arc, u);
            if (!(m.s > a->s && m.s < b->s)) continue;
            breakpoint next = *b;
            if (sc.error(*a, m, stop) > worst || sc.error(m, next, stop) > worst) continue;
            if (&check != &sc && (check.scored(*a, m, reach_end_of(check, m, stop)) > worst ||
                                  check.scored(m, next, reach_end_of(check, next, stop)) > worst))
                continue;
            *b = next;
            const auto mid = pts.insert(b, m);
            for (const auto start : {a, mid}) {
                heap.push_back({std::next(start)->s - start->s, start});
                std::push_heap(heap.begin(), heap.end(), shorter);
            }
            ++count;
            break;
        }
    }
    br.assign(pts.begin(), pts.end());
}

// Returns the smallest bound the search may go down to: below it the miss is rounding (of the
// length, FIT_BOUND_FLOOR of it), and no table ends closer to u = 1 than total_length is to the
// accurate length (the last piece ends there).
double bound_floor(const arc_table &arc, double total_length) {
    return std::max(FIT_BOUND_FLOOR * total_length,
                    2 * std::fabs(total_length - arc_table_length(arc)));
}

// Throws fit_error when the joints of the curve need more than `pieces` pieces.
void check_joints(const std::vector<breakpoint> &fixed, int pieces) {
    if (int(fixed.size()) - 1 > pieces)
        throw fit_error("the curve has " + std::to_string(fixed.size() - 2) +
                        " joints (knots where |C'| or C'' jumps), each needing a breakpoint: a "
                        "table needs at least " +
                        std::to_string(fixed.size() - 1) + " pieces, not " +
                        std::to_string(pieces));
}

} // namespace

double fcp_table_eval(const fcp_table &table, int j, double s) {
    return fcp_horner(table.tht[j].data(), (s - table.sbrk[j]) / table.sbrk.back());
}

namespace {

// A table's breakpoints and its E as fcp_measure finds it with FIT_CHECK_SAMPLES.
struct fitted {
    std::vector<breakpoint> br;
    double E = HUGE_VAL;
};

// What the fits of a ladder share.
struct fit_job {
    scorer &sc, &check; // the placement's scorer, and one with fcp_measure's samples
    const std::vector<breakpoint> &fixed;
    double floor;
    const fit_progress &progress;
    int placements = 0;
    double bound = 0;
    bool stuck = false; // a placement of the last search met no piece somewhere
};

// Returns the table of at most `pieces` pieces placed for the smallest bound the search finds
// (see fcp_fit), filled up to `pieces`; no breakpoints when no bound is met. Reports progress
// from p0 to p1.
fitted search(fit_job &job, int pieces, double p0, double p1) {
    scorer &sc = job.sc;
    // The smallest bound (mm) that the placement meets with at most `pieces` pieces: lo fails,
    // hi is met. The count goes as bound^(-1/6), which predicts the next bound to try; a
    // prediction outside the bracket is replaced by its geometric middle.
    // Every search starts alike, so that the fit for n pieces within a ladder is the fit for n
    // pieces on its own (what keeps E from growing with the pieces).
    double lo = 0, hi = HUGE_VAL, eps = 1e-9 * sc.len, hint = 0;
    bool lo_stuck = false; // lo failed because a stretch met no piece (not by its count)
    std::vector<breakpoint> best;
    job.stuck = false;
    for (int pass = 0; pass < FIT_MAX_PASSES && sc.trials < sc.budget; ++pass) {
        if (job.progress)
            job.progress(p0 + (p1 - p0) * std::min(0.95, std::max(pass / 14.0,
                                                                  double(sc.trials) / sc.budget)));
        ++job.placements;
        // Once a bound is met, a placement of more pieces than allowed only has to fail.
        placement pl{sc, eps, hi < HUGE_VAL ? pieces : 2 * pieces, hint, sc.budget};
        std::vector<breakpoint> br = pl.run(job.fixed);
        job.stuck = job.stuck || pl.stuck;
        const int n = br.empty() ? 0 : int(br.size()) - 1;
        if (n > 0 && n <= pieces) {
            hi = eps;
            best = std::move(br);
            hint = best[1].left.u - best[0].right.u;
            if (eps <= job.floor) break;
        } else {
            lo = eps;
            lo_stuck = pl.stuck;
        }
        // Against the smallest bound the curve allows (a stretch that meets no piece), the
        // count does not predict the bound and a closer bracket buys next to nothing.
        if (lo > 0 && hi < HUGE_VAL && hi <= (lo_stuck ? STUCK_PRECISION : BOUND_PRECISION) * lo)
            break;
        double next = n > 0 ? eps * std::pow(double(n) / (pieces - 0.5), 6) : 64 * eps;
        if (!(next > lo && next < hi))
            next = lo > 0 && hi < HUGE_VAL ? std::sqrt(lo * hi) : lo > 0 ? 64 * lo : hi / 64;
        eps = std::max(next, job.floor);
    }
    fitted f;
    if (best.empty()) {
        job.bound = lo;
        return f;
    }
    fill_up(sc, sc, best, pieces, table_error(sc, best));
    f.E = table_error(job.check, best);
    f.br = std::move(best);
    job.bound = hi;
    return f;
}

// Returns the search for `pieces`, or, when some placement of it met no piece at all somewhere
// (the curve allows no smaller bound there: a reach across a strong knot or a tight bend), the
// better (smaller E) of it and the ladder for pieces / 2 split up to `pieces` without raising
// its E. So E does not grow with the number of pieces asked for: where no bound is near the
// smallest the curve allows, doubling the pieces divides E by about 2^6; near it, the greedy
// placement meets a bound with fewer pieces that it misses with more, and the ladder keeps the
// better table.
fitted ladder(fit_job &job, int pieces, double p0, double p1) {
    const int half = pieces / 2;
    const bool can_halve = pieces >= 2 * LADDER_MIN && half >= int(job.fixed.size()) - 1;
    const double mid = can_halve ? 0.5 * (p0 + p1) : p0;
    fitted f = search(job, pieces, mid, p1);
    if (!can_halve || (!job.stuck && !f.br.empty())) return f;
    fitted g = ladder(job, half, p0, mid);
    if (g.br.empty() || !(g.E < f.E)) return f;
    try {
        fill_up(job.sc, job.check, g.br, pieces, g.E);
    } catch (const fit_error &) {
        return f;
    }
    g.E = table_error(job.check, g.br);
    return g.E < f.E ? g : f;
}

} // namespace

fcp_table fcp_fit(const arc_table &arc, double total_length, int brk_len, double reach,
                  const fit_progress &progress, fcp_fit_stats *stats, long max_trials) {
    const int pieces = brk_len - 1;
    const std::vector<breakpoint> fixed = fixed_breakpoints(arc, total_length);
    check_joints(fixed, pieces);
    scorer sc{arc, total_length, reach, FIT_TRIAL_POINTS, FIT_REACH_POINTS, 0, max_trials, {}};
    scorer check{arc, total_length, reach, FIT_CHECK_SAMPLES, FIT_CHECK_SAMPLES / 4,
                 0,   max_trials,   {}};
    fit_job job{sc, check, fixed, bound_floor(arc, total_length), progress};
    const fitted f = ladder(job, pieces, 0.0, 1.0);
    if (f.br.empty())
        throw fit_error("no table of " + std::to_string(pieces) +
                        " pieces follows this curve's u(s) (no error bound up to " +
                        fmt("%.3g", job.bound) + " mm is met" +
                        (sc.trials >= sc.budget
                             ? " within " + std::to_string(sc.budget) + " trial pieces"
                             : "") +
                        ")");
    if (stats) *stats = {job.placements, sc.trials, f.E};
    if (progress) progress(1.0);
    return build(f.br);
}

fcp_fit_result fcp_fit_tolerance(const arc_table &arc, double total_length, double tolerance,
                                 double reach, int max_pieces, int samples,
                                 const fit_progress &progress, fcp_fit_stats *stats,
                                 long max_trials) {
    const std::vector<breakpoint> fixed = fixed_breakpoints(arc, total_length);
    check_joints(fixed, max_pieces);
    const double floor = bound_floor(arc, total_length);
    if (!(tolerance > floor))
        throw fit_error("E <= " + fmt("%.3g", tolerance) +
                        " mm is below what the arithmetic resolves on this curve (" +
                        fmt("%.3g", floor) + " mm)");
    scorer sc{arc, total_length, reach, FIT_TRIAL_POINTS, FIT_REACH_POINTS, 0, max_trials, {}};
    double eps = TOLERANCE_MARGIN * tolerance;
    fcp_fit_result r;
    for (int tries = 0; tries < FIT_TOLERANCE_TRIES; ++tries) {
        if (progress) progress(double(tries) / FIT_TOLERANCE_TRIES);
        placement pl{sc, eps, max_pieces, 0.0, sc.budget};
        const std::vector<breakpoint> br = pl.run(fixed);
        if (br.empty())
            throw fit_error(
                pl.stuck ? "no table has E <= " + fmt("%.3g", tolerance) +
                               " mm on this curve: from s = " + fmt("%.3f", pl.stuck_s) +
                               " mm no piece misses by less (a step from there is taken on one "
                               "polynomial across a knot or a tight bend, however short the pieces)"
                : sc.trials > sc.budget
                    ? "no table meets E <= " + fmt("%.3g", tolerance) + " mm within " +
                          std::to_string(sc.budget) + " trial pieces"
                    : "a table needs more than " + std::to_string(max_pieces) +
                          " pieces for E <= " + fmt("%.3g", tolerance) + " mm");
        r.table = build(br);
        r.acc = fcp_measure(r.table, arc, samples, reach);
        if (stats) *stats = {tries + 1, sc.trials, eps};
        if (r.acc.max_s_err <= tolerance) {
            if (progress) progress(1.0);
            return r;
        }
        eps *= TOLERANCE_MARGIN * tolerance / r.acc.max_s_err;
        if (!(eps > floor)) break;
    }
    throw fit_error("no table meets E <= " + fmt("%.3g", tolerance) + " mm: the closest, of " +
                    std::to_string(r.table.tht.size()) + " pieces, misses by " +
                    fmt("%.3g", r.acc.max_s_err) + " mm");
}

namespace {

// Records w, found on piece j (past its end when `past`), as the worst error.
void set_worst(fcp_accuracy &acc, const scan_worst &w, int j, bool past) {
    acc.max_s_err = w.err;
    acc.worst_piece = j;
    acc.worst_s = w.s;
    acc.worst_u = w.u;
    acc.worst_past_end = past;
}

// Returns |miss| / |C'| at the worst of w: its error as a parameter.
double as_parameter(const arc_table &arc, const scan_worst &w) {
    return w.err / nurbs_arc_len(std::clamp(w.u, 0.0, 1.0), arc.curve);
}

} // namespace

fcp_accuracy fcp_measure(const fcp_table &table, const arc_table &arc, int samples, double reach) {
    fcp_accuracy acc;
    const int pieces = int(table.tht.size());
    const double len = table.sbrk.back();
    std::vector<double> joint_s;
    for (double u : curve_joints(*arc.curve))
        joint_s.push_back(arc_length_to(arc, u));
    auto at_joint = [&](double s) {
        for (double k : joint_s)
            if (std::fabs(s - k) <= 1e-12 * len) return true;
        return false;
    };
    std::vector<piece_scan::sample> buf;
    const int n_reach = std::max(4, samples / 4);
    for (int j = 0; j < pieces; ++j) {
        const double *c = table.tht[j].data();
        const double s0 = table.sbrk[j], s1 = table.sbrk[j + 1];
        const piece_scan ps = scan_of(arc, c, s0, len, arc_length_to(arc, c[5]));
        // Past its end, where a step that starts on it ends: up to the next joint (a step
        // across one is reported apart, joint_reach_err), never past the curve's end.
        const bool joint_end = j + 1 < pieces && at_joint(s1);
        double reach_end = j + 1 < pieces ? std::min(s1 + reach, len) : s1;
        if (!joint_end)
            for (double k : joint_s)
                if (k > s1 + 1e-12 * len) {
                    reach_end = std::min(reach_end, k);
                    break;
                }
        const piece_errors e = scan_piece(ps, s1, reach_end, samples, n_reach, buf);
        acc.max_u_err = std::max(acc.max_u_err, as_parameter(arc, e.in));
        acc.piece_s_err = std::max(acc.piece_s_err, e.in.err);
        if (e.in.err > acc.max_s_err || acc.worst_piece < 0 || std::isnan(e.in.err))
            set_worst(acc, e.in, j, false);
        if (joint_end) {
            acc.joint_reach_err = std::max(acc.joint_reach_err, e.reach.err);
        } else if (reach_end > s1) {
            acc.max_u_err = std::max(acc.max_u_err, as_parameter(arc, e.reach));
            if (e.reach.err > acc.max_s_err || std::isnan(e.reach.err))
                set_worst(acc, e.reach, j, true);
        }
        if (j + 1 < pieces) {
            const double m = std::fabs(fcp_table_eval(table, j, s1) - table.tht[j + 1][5]);
            if (m > acc.max_mismatch || acc.mismatch_piece < 0) {
                acc.max_mismatch = m;
                acc.mismatch_piece = j;
            }
        }
    }
    acc.end_err = fcp_table_eval(table, pieces - 1, len) - 1.0;
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

void fcp_write_header(std::FILE *out, const fcp_table &table, const curve_identity &made_for,
                      const std::vector<std::string> &comment) {
    for (const std::string &line : comment)
        std::fprintf(out, "// %s\n", line.c_str());
    std::fprintf(out, "// clang-format off\n");
    std::fprintf(out, "#pragma once\n\n");
    std::fprintf(out, "#include <cstdint>\n\n");
    std::fprintf(out, "constexpr int BRK_LEN = %d;\n", int(table.sbrk.size()));
    std::fprintf(out, "constexpr int FCP_ORD = %d;\n\n", FCP_TABLE_ORD);
    std::fprintf(out, "// The curve the table was made for (nurbs_bench refuses any other): its "
                      "control points,\n// degree, checksum of the loaded knots and points "
                      "(curve_identity.hpp) and accurate length, mm.\n");
    std::fprintf(out, "constexpr std::uint32_t FCP_CURVE_POINTS = %u;\n", made_for.points);
    std::fprintf(out, "constexpr std::uint32_t FCP_CURVE_DEGREE = %u;\n", made_for.degree);
    std::fprintf(out, "constexpr std::uint64_t FCP_CURVE_CHECKSUM = 0x%016llxULL;\n",
                 static_cast<unsigned long long>(made_for.checksum));
    std::fprintf(out, "constexpr double FCP_CURVE_LENGTH = %.17g;\n\n", made_for.length);
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
