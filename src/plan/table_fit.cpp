#include "table_fit.hpp"

#include <algorithm> // max
#include <cmath>     // fabs, pow, sqrt
#include <stdexcept> // a curve no table can follow
#include <string>

namespace nurbs_interp {

namespace {

// Intervals at whose inner ends a trial piece's error is measured. A piece that reaches across
// a knot (where the third derivative of u(s) jumps) has its error peak off the middle, between
// the points of a coarse sampling: with seven points the worst piece of a 400-piece table
// reached 2.4 times the bound that the sampling saw.
constexpr int TRIAL_POINTS = 16;

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
    int k = nurbs_find_span(int(curve->ncp), int(curve->deg), u, curve->knots.data());
    while (k > int(curve->deg) && !(curve->knots[k - 1] < curve->knots[k]))
        --k;
    cart_point P, d1, d2;
    nurbs_deBoor_eval(u, k - 1, curve, &P, &d1, &d2, nullptr);
    const double v2 = sq_modulus(&d1);
    return {u, 1 / std::sqrt(v2), -dotprod(&d1, &d2) / (v2 * v2)};
}

// A joint: an interior knot repeated at least deg - 1 times, where C' or C'' may jump, so
// u(s) has no continuous second derivative there and a breakpoint must stand on it.
struct joint {
    double s;              // its arc length (accurate)
    knot_data left, right; // u and its derivatives from either side
};

// Returns the joints of the curve of `arc`, in increasing s.
std::vector<joint> joints_of(const arc_table &arc) {
    const nurbs_curve *c = arc.curve;
    std::vector<joint> j;
    for (std::size_t k = 1; k + 1 < arc.u_knot.size(); ++k) {
        const double u = arc.u_knot[k];
        std::uint32_t mult = 0;
        for (double v : c->knots)
            mult += v == u;
        if (mult + 1 >= c->deg)
            j.push_back(
                {arc.s_knot[k], derivatives_left_of(arc.curve, u), derivatives_at(arc.curve, u)});
    }
    return j;
}

// Returns the joint at arc length s, or null.
const joint *joint_at(const std::vector<joint> &joints, double s) {
    for (const joint &j : joints)
        if (j.s == s) return &j;
    return nullptr;
}

// Returns the breakpoint data: the parameter at every breakpoint by accurate inversion (0 and
// 1 exactly at the ends, the knot itself at a joint) and its derivatives there, from the right.
std::vector<knot_data> breakpoint_data(const arc_table &arc, const std::vector<double> &sbrk,
                                       const std::vector<joint> &joints) {
    std::vector<knot_data> d(sbrk.size());
    for (std::size_t k = 0; k < sbrk.size(); ++k) {
        const joint *jt = joint_at(joints, sbrk[k]);
        const double u = k == 0 ? 0.0 : k + 1 == sbrk.size() ? 1.0 : arc_param_at(arc, sbrk[k]);
        d[k] = jt ? jt->right : derivatives_at(arc.curve, u);
    }
    return d;
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

// Returns the table for the given breakpoints; a piece that ends on a joint takes the data
// from the joint's left.
fcp_table build(const arc_table &arc, const std::vector<double> &sbrk,
                const std::vector<joint> &joints) {
    fcp_table t;
    t.sbrk = sbrk;
    const std::vector<knot_data> d = breakpoint_data(arc, sbrk, joints);
    const double len = sbrk.back();
    for (std::size_t j = 0; j + 1 < sbrk.size(); ++j) {
        const joint *end = joint_at(joints, sbrk[j + 1]);
        t.tht.push_back(
            hermite_piece(d[j], end ? end->left : d[j + 1], (sbrk[j + 1] - sbrk[j]) / len, len));
    }
    return t;
}

// Returns the largest error of the quintic Hermite piece over [s0, s1] at TRIAL_POINTS - 1
// evenly spaced interior points as arc length, |u_piece(s) - u(s)| |C'(u(s))| in mm (what a
// driver that re-bases every step on the true travelled length misses its step by), with `a`
// the data at s0 and len the table's total length; `b` receives the data at s1 (u = 1 when
// `last`; the given `end` when not null, a joint's left side).
double trial_error(const arc_table &arc, double s0, double s1, const knot_data &a, double len,
                   bool last, knot_data *b, const knot_data *end = nullptr) {
    *b = end ? *end : derivatives_at(arc.curve, last ? 1.0 : arc_param_at(arc, s1));
    const std::array<double, FCP_TABLE_ORD> c = hermite_piece(a, *b, (s1 - s0) / len, len);
    double e = 0;
    for (int i = 1; i < TRIAL_POINTS; ++i) {
        const double s = s0 + (s1 - s0) * (double(i) / TRIAL_POINTS);
        const double u = fcp_horner(c.data(), (s - s0) / len);
        const double u_true = arc_param_at(arc, s);
        e = std::max(e, std::fabs(u - u_true) * nurbs_arc_len(u_true, arc.curve));
    }
    return e;
}

// Places breakpoints greedily from s = 0: each piece is made as long as it can be with its
// error at most eps (doubling, then bisection on its length). Pieces are not moved onto knots:
// ending a piece on the last knot before its reach shortens it without lowering its error much
// (the knot's jump then sits in the piece's middle instead of near its end), which cost a
// factor 1.6 in the error reached with 400 pieces. Returns the breakpoints (the last one
// `total`), or an empty vector when more than max_pieces pieces are needed.
std::vector<double> greedy_breakpoints(const arc_table &arc, const std::vector<joint> &joints,
                                       double total, double eps, int max_pieces) {
    const std::vector<double> &sk = arc.s_knot;
    std::vector<double> s = {0.0};
    knot_data a = derivatives_at(arc.curve, 0.0), b;
    double h = sk[1] - sk[0];
    std::size_t next = 0; // the next joint
    while (s.back() < total) {
        if (int(s.size()) > max_pieces) return {};
        const double s0 = s.back();
        // A piece may reach the next joint but not cross it.
        const joint *jt = next < joints.size() ? &joints[next] : nullptr;
        const double reach = jt ? jt->s : total;
        // Grow the trial length until it fails (or reaches the joint or the end), then bisect.
        double lo = 0, hi = h;
        for (;;) {
            const bool stop = s0 + hi >= reach;
            const double e = trial_error(arc, s0, stop ? reach : s0 + hi, a, total, stop && !jt, &b,
                                         stop && jt ? &jt->left : nullptr);
            if (e > eps) break;
            if (stop) {
                lo = hi = reach - s0;
                break;
            }
            lo = hi;
            hi *= 2;
        }
        for (int it = 0; it < 12 && hi - lo > 1e-9 * total; ++it) {
            const double mid = 0.5 * (lo + hi);
            if (trial_error(arc, s0, s0 + mid, a, total, false, &b) <= eps)
                lo = mid;
            else
                hi = mid;
        }
        if (lo <= 0) // eps below what any piece can reach here
            return {};
        const double s1 = std::min(s0 + lo, reach);
        if (s1 >= reach && jt) {
            a = jt->right;
            s.push_back(jt->s);
            ++next;
        } else {
            const bool last = s1 >= total;
            a = derivatives_at(arc.curve, last ? 1.0 : arc_param_at(arc, s1));
            s.push_back(last ? total : s1);
        }
        h = lo;
    }
    return s;
}

} // namespace

double fcp_table_eval(const fcp_table &table, int j, double s) {
    return fcp_horner(table.tht[j].data(), (s - table.sbrk[j]) / table.sbrk.back());
}

fcp_table fcp_fit(const arc_table &arc, double total_length, int brk_len) {
    const int pieces = brk_len - 1;
    // Bisect (in log scale) for the smallest error bound (mm) that the greedy placement meets
    // with at most `pieces` pieces, from a bound it meets.
    double lo = 1e-16 * total_length, hi = 1e-6 * total_length;
    const std::vector<joint> joints = joints_of(arc);
    std::vector<double> best = greedy_breakpoints(arc, joints, total_length, hi, pieces);
    for (int grow = 0; best.empty(); ++grow) {
        if (grow == 30)
            throw std::runtime_error("no table of " + std::to_string(pieces) +
                                     " pieces follows this curve's u(s)");
        lo = hi;
        hi *= 10;
        best = greedy_breakpoints(arc, joints, total_length, hi, pieces);
    }
    for (int it = 0; it < 24; ++it) {
        const double mid = std::sqrt(lo * hi);
        std::vector<double> s = greedy_breakpoints(arc, joints, total_length, mid, pieces);
        if (s.empty()) {
            lo = mid;
        } else {
            hi = mid;
            best = std::move(s);
        }
    }
    // Fewer pieces than allowed: split the longest ones in half.
    while (int(best.size()) - 1 < pieces) {
        std::size_t j = 0;
        for (std::size_t k = 1; k + 1 < best.size(); ++k)
            if (best[k + 1] - best[k] > best[j + 1] - best[j]) j = k;
        best.insert(best.begin() + j + 1, 0.5 * (best[j] + best[j + 1]));
    }
    return build(arc, best, joints);
}

fcp_accuracy fcp_measure(const fcp_table &table, const arc_table &arc, int samples) {
    fcp_accuracy acc;
    const int pieces = int(table.tht.size());
    for (int j = 0; j < pieces; ++j) {
        for (int i = 0; i <= samples; ++i) {
            const double s =
                table.sbrk[j] + (table.sbrk[j + 1] - table.sbrk[j]) * (double(i) / samples);
            const double u = j + 1 == pieces && i == samples ? 1.0 : arc_param_at(arc, s);
            const double e = std::fabs(fcp_table_eval(table, j, s) - u);
            const double e_s = e * nurbs_arc_len(u, arc.curve);
            acc.max_u_err = std::max(acc.max_u_err, e);
            if (e_s > acc.max_s_err || acc.worst_piece < 0) {
                acc.max_s_err = e_s;
                acc.worst_piece = j;
                acc.worst_s = s;
            }
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
