// The programmes are solved over windows of the grid, one after another (a window's start
// taken from the one before it, its end from the last pass), so that the work grows with the
// length of the path, not with its square; see jerk_pass for why every window has a solution.
#include "plan/jerk_pass.hpp"

#include <algorithm> // max, min
#include <array>
#include <memory> // unique_ptr
#include <cmath>  // fabs, sqrt

#include <coin/ClpSimplex.hpp>
#include <coin/CoinPackedMatrix.hpp>

#include "plan/reachable.hpp"

namespace nurbs_interp {

namespace {

// Columns per node: x, its slope x', and a bound of the slope's magnitude (penalised a little,
// so that among equally fast feeds the programme takes the one that does not accelerate for
// nothing: without it a cruise at the cap may swing its acceleration from node to node).
int col_x(std::size_t i) {
    return int(3 * i);
}
int col_d(std::size_t i) {
    return int(3 * i + 1);
}
int col_p(std::size_t i) {
    return int(3 * i + 2);
}
inline constexpr double SLOPE_PENALTY = 1e-5;
// The lowest feed (mm/s) a jerk row is restricted at: below it the tangent's slope would grow
// without bound.
inline constexpr double Y_FLOOR = 1e-6;
// How far x may fall from one pass to the next (a factor): the tangent gives more room at a
// lower x, which a single node could otherwise take by dropping almost to rest.
inline constexpr double TRUST_DROP = 4;
// The largest objective weight, against 1 for a node of mean length at the top feed.
inline constexpr double OBJECTIVE_RANGE = 1e8;

// The rows of a programme under construction: coefficients by row, two-sided bounds.
struct lp_rows {
    std::vector<int> row, col;
    std::vector<double> val, lo, hi;
    int count = 0;

    int add(std::initializer_list<std::pair<int, double>> terms, double l, double h) {
        for (const auto &[c, v] : terms)
            if (v != 0) add_term(count, c, v);
        return close_row(l, h);
    }

    void add_term(int r, int c, double v) {
        row.push_back(r);
        col.push_back(c);
        val.push_back(v);
    }

    // Ends the row being added with its bounds; returns its index.
    int close_row(double l, double h) {
        lo.push_back(l == -HUGE_VAL ? -COIN_DBL_MAX : l);
        hi.push_back(h == HUGE_VAL ? COIN_DBL_MAX : h);
        return count++;
    }
};

// A jerk limit |L| <= J / sqrt(x) at node `node` (of the window) as two rows, L + c x <= B and
// -L + c x <= B, c and B set by the pass; `dk` is x's own coefficient in L.
struct jerk_row {
    int up, down;
    std::size_t node;
    double limit, dk;
};

// The velocity-like cap of x at node n (both frames at a curvature jump), mm^2/s^2.
double velocity_cap(const path_node &n, const feed_bounds &b) {
    double v = std::min(feed_cap_at(n.left, b).v, feed_cap_at(n.right, b).v);
    if (n.jump) {
        const cart_point dk{n.right.k.x - n.left.k.x, n.right.k.y - n.left.k.y,
                            n.right.k.z - n.left.k.z};
        v = std::min(v, jump_feed_at(dk, b).v);
    }
    return v * v;
}

// The programme over the nodes [first, first + n) of the grid.
class window_lp {
  public:
    window_lp(const std::vector<path_node> &nodes, std::size_t first, std::size_t n,
              const feed_bounds &b, const std::vector<double> &cap, double scale, double realised)
        : nodes_(nodes), first_(first), n_(n), realised_(realised), period_(b.machine.period) {
        lp_rows rows;
        std::vector<double> lo(3 * n), hi(3 * n), obj(3 * n, 0.0);
        const double dmax = b.path_acc < HUGE_VAL ? 2 * scale * b.path_acc : COIN_DBL_MAX;
        for (std::size_t i = 0; i < n; ++i) {
            const path_node &nd = node(i);
            lo[col_x(i)] = 0;
            hi[col_x(i)] = cap[first + i];
            lo[col_d(i)] = -dmax;
            hi[col_d(i)] = dmax;
            lo[col_p(i)] = 0;
            hi[col_p(i)] = COIN_DBL_MAX;
            rows.add({{col_p(i), 1}, {col_d(i), -1}}, 0, HUGE_VAL);
            rows.add({{col_p(i), 1}, {col_d(i), 1}}, 0, HUGE_VAL);
            if (i > 0 || first > 0) add_acc_rows(rows, i, nd.left, b, scale);
            if (nd.jump || (i == 0 && first == 0)) add_acc_rows(rows, i, nd.right, b, scale);
            if (i > 0) add_jerk_rows(rows, i, i - 1, nd.left, b, scale);
            if (i + 1 < n) {
                add_jerk_rows(rows, i, i + 1, nd.right, b, scale);
                // The interval's quadratic: x_{i+1} - x_i = h (x'_i + x'_{i+1}) / 2; and x at its
                // middle, (x_i + x_{i+1})/2 + h (x'_i - x'_{i+1})/8, within the lower cap of its
                // ends (where both ends are at the cap, the largest x of the interval) and at
                // least 0 (the feed cannot pass through rest with the acceleration turning).
                const double h = node(i + 1).s - nd.s;
                rows.add({{col_x(i + 1), 1},
                          {col_x(i), -1},
                          {col_d(i), -0.5 * h},
                          {col_d(i + 1), -0.5 * h}},
                         0, 0);
                rows.add({{col_x(i + 1), 0.5},
                          {col_x(i), 0.5},
                          {col_d(i), 0.125 * h},
                          {col_d(i + 1), -0.125 * h}},
                         0, std::min(cap[first + i], cap[first + i + 1]));
            }
        }
        if (realised_ > 0)
            for (std::size_t i = 0; i < n; ++i)
                add_realised_rows(rows, i);
        CoinPackedMatrix m(false, rows.row.data(), rows.col.data(), rows.val.data(),
                           CoinBigIndex(rows.val.size()));
        m.setDimensions(rows.count, int(3 * n));
        lp_.setLogLevel(0);
        lp_.loadProblem(m, lo.data(), hi.data(), obj.data(), rows.lo.data(), rows.hi.data());
        for (int k = 0; k < 3; ++k)
            jerk_[k] = scale * b.machine.jerk[k];

        lp_.setOptimizationDirection(-1);
        // Geometric scaling: the restricted rows' coefficients of x span many decades, and with
        // the solver's default (geometric then equilibrium) its dual simplex ends in long primal
        // clean-ups (three times the time on the bundled curve).
        lp_.scaling(1);
    }

    // Fixes x and x' at node i of the window (after the restriction, which sets x's bounds).
    void pin(std::size_t i, double x, double d) {
        lp_.setColumnBounds(col_x(i), x, x);
        lp_.setColumnBounds(col_d(i), d, d);
    }

    // Holds each jerk row at |L| <= J / sqrt(xa) and x within xa at the free nodes: within the
    // limit for every x <= xa, with no gain from a lower x.
    void restrict_flat(const std::vector<double> &xa, const std::vector<double> &cap) {
        for (const jerk_row &r : jrows_) {
            const double y = std::sqrt(std::max(xa[first_ + r.node], Y_FLOOR * Y_FLOOR));
            set_jerk_row(r, 0, r.limit / y);
        }
        for (std::size_t i = 0; i < n_; ++i)
            lp_.setColumnBounds(col_x(i), 0, std::min(cap[first_ + i], xa[first_ + i]));
        restrict_realised(xa, true);
    }

    // Restricts each jerk row at the feed y = sqrt(x) of `point`: J / sqrt(x) is convex, so its
    // tangent at y^2, 3J/(2y) - J x/(2y^3), lies below it; |L| within the tangent is within the
    // limit for every x, and `point` itself meets it. A free x may fall to point / TRUST_DROP.
    void restrict_at(const std::vector<double> &point, const std::vector<double> &cap) {
        for (const jerk_row &r : jrows_) {
            const double y = std::sqrt(std::max(point[first_ + r.node], Y_FLOOR * Y_FLOOR));
            set_jerk_row(r, r.limit / (2 * y * y * y), 1.5 * r.limit / y);
        }
        for (std::size_t i = 0; i < n_; ++i)
            lp_.setColumnBounds(col_x(i), std::min(cap[first_ + i], point[first_ + i]) / TRUST_DROP,
                                cap[first_ + i]);
        restrict_realised(point, false);
    }

    // Sets the objective to the time sum h / v linearised at `point`: -h x / (2 y^3) per node, so
    // that a slow node weighs as much as the time it costs. The weights are scaled so that a node
    // of mean length at the window's top feed weighs 1, and held below OBJECTIVE_RANGE: the
    // solver's tolerances are absolute, and weights near them would not be optimised at all.
    void time_objective(const std::vector<double> &point) {
        double top = 0;
        for (std::size_t i = 0; i < n_; ++i)
            top = std::max(top, point[first_ + i]);
        const double mean = (nodes_[first_ + n_ - 1].s - nodes_[first_].s) / double(n_);
        const double unit = std::sqrt(top) * top / mean;
        for (std::size_t i = 0; i < n_; ++i) {
            const double y = std::max(std::sqrt(point[first_ + i]), Y_FLOOR);
            const std::size_t g = first_ + i;
            const double hl = g > 0 ? nodes_[g].s - nodes_[g - 1].s : 0,
                         hr = g + 1 < nodes_.size() ? nodes_[g + 1].s - nodes_[g].s : 0;
            const double w = std::min(OBJECTIVE_RANGE, unit * 0.5 * (hl + hr) / (y * y * y));
            lp_.setObjectiveCoefficient(col_x(i), w);
            lp_.setObjectiveCoefficient(col_p(i), -SLOPE_PENALTY * w);
        }
    }

    // Solves; on success writes x and x' into x[first..] and d[first..] up to node `keep`
    // (exclusive, window-relative). `first_solve`: the programme's first solve, scaled afresh.
    bool solve(std::vector<double> &x, std::vector<double> &d, std::size_t keep,
               bool first_solve) {
        lp_.dual();
        // Every window has a solution (see jerk_pass); a later solve's failure is the solver's
        // numerics with the scaling of an earlier pass (the restriction's coefficients of x
        // change from pass to pass and span many decades near a rest): scale again, then start
        // afresh, then with the solver's other scaling. A first solve's failure is the
        // programme's own (the caller plans otherwise), and on a long window each try costs
        // seconds.
        for (int attempt = 0; attempt < 4 && lp_.status() != 0 && !first_solve; ++attempt) {
            lp_.setWhatsChanged(0);
            if (attempt >= 1) lp_.allSlackBasis(true);
            if (attempt >= 2) lp_.scaling(3);
            if (attempt == 3)
                lp_.primal();
            else
                lp_.dual();
        }
        lp_.scaling(1);
        if (lp_.status() != 0) return false;
        const double *sol = lp_.primalColumnSolution();
        for (std::size_t i = 0; i < keep; ++i) {
            x[first_ + i] = std::max(sol[col_x(i)], 0.0);
            d[first_ + i] = sol[col_d(i)];
        }
        return true;
    }

    int status() const { return lp_.status(); }

  private:
    const path_node &node(std::size_t i) const { return nodes_[first_ + i]; }

    void set_jerk_row(const jerk_row &r, double c, double bound) {
        lp_.modifyCoefficient(r.up, col_x(r.node), r.dk + c, true);
        lp_.modifyCoefficient(r.down, col_x(r.node), -r.dk + c, true);
        lp_.setRowUpper(r.up, bound);
        lp_.setRowUpper(r.down, bound);
    }

    // Adds the acceleration rows of node i for frame f: |C_s,k x'/2 + C_ss,k x| <= A_k.
    void add_acc_rows(lp_rows &r, std::size_t i, const path_frame &f, const feed_bounds &b,
                      double scale) {
        for (int k = 0; k < 3; ++k) {
            const double t = axis_component(f.t, k), kap = axis_component(f.k, k);
            const double A = scale * b.machine.acc[k];
            if (A > 0 && (t != 0 || kap != 0)) r.add({{col_d(i), 0.5 * t}, {col_x(i), kap}}, -A, A);
        }
    }

    // Adds the jerk rows of node i on the interval from i to `o` (o = i + 1 or i - 1) for frame
    // f: L = C_s,k x''/2 + 3/2 C_ss,k x' + C_sss,k x, with the interval's x'' = (x'_hi - x'_lo)/h.
    void add_jerk_rows(lp_rows &r, std::size_t i, std::size_t o, const path_frame &f,
                       const feed_bounds &b, double scale) {
        const double h = std::fabs(node(o).s - node(i).s);
        const double cd_o = (o > i ? 1 : -1) / h, cd_i = -cd_o; // x'' = cd_o d_o + cd_i d_i
        auto rows = [&](double t, double kap, double dk, double limit) {
            const double ci = 0.5 * t * cd_i + 1.5 * kap, co = 0.5 * t * cd_o;
            // x's entry is always made (1 stands for it until the pass sets it): adding an entry
            // to the solver's packed matrix later moves the whole matrix.
            r.add_term(r.count, col_x(i), 1);
            const int up = r.add({{col_d(i), ci}, {col_d(o), co}}, -HUGE_VAL, 0);
            r.add_term(r.count, col_x(i), 1);
            const int down = r.add({{col_d(i), -ci}, {col_d(o), -co}}, -HUGE_VAL, 0);
            jrows_.push_back({up, down, i, scale * limit, dk});
        };
        for (int k = 0; k < 3; ++k) {
            const double t = axis_component(f.t, k), kap = axis_component(f.k, k),
                         dk = axis_component(f.dk, k);
            if (b.machine.jerk[k] > 0 && (t != 0 || kap != 0 || dk != 0))
                rows(t, kap, dk, b.machine.jerk[k]);
        }
        if (b.path_jerk < HUGE_VAL) rows(1, 0, 0, b.path_jerk);
    }

    const std::vector<path_node> &nodes_;
    std::size_t first_, n_;

    // Adds the rows of node i that keep the motion the driver realises close to the plan (see
    // restrict_realised), each with a coefficient of x that the pass sets.
    void add_realised_rows(lp_rows &r, std::size_t i) {
        realised_rows rr;
        auto pair = [&](std::initializer_list<std::pair<int, double>> terms, int *out) {
            std::vector<std::pair<int, double>> t(terms);
            for (int sign : {1, -1}) {
                const int row = r.count;
                for (const auto &[c, v] : t)
                    if (v != 0) r.add_term(row, c, sign * v);
                r.add_term(row, col_x(i), 1); // set by the pass
                r.close_row(-HUGE_VAL, HUGE_VAL);
                out[sign > 0 ? 0 : 1] = row;
            }
        };
        pair({{col_d(i), 1}}, rr.slope);
        if (i > 0) {
            const double h = node(i).s - node(i - 1).s;
            pair({{col_d(i), 1 / h}, {col_d(i - 1), -1 / h}}, rr.curve_left);
        }
        if (i + 1 < n_) {
            const double h = node(i + 1).s - node(i).s;
            pair({{col_d(i + 1), 1 / h}, {col_d(i), -1 / h}}, rr.curve_right);
        }
        if (i > 0 && i + 1 < n_) {
            const double hl = node(i).s - node(i - 1).s, hr = node(i + 1).s - node(i).s;
            pair({{col_d(i + 1), 1 / hr}, {col_d(i), -1 / hr - 1 / hl}, {col_d(i - 1), 1 / hl}},
                 rr.step);
        }
        realised_rows_.push_back(rr);
    }

    // The driver moves v T per period, which realises the feed v - aT/2 to first order: the
    // axis jerk of that motion differs from the plan's by (3 C_sss,k v^2 a + 3 C_ss,k v j +
    // C_s,k dj/dt) T/2. Where the curvature is large the first two can be many times the limit,
    // however small the jerk planned (the plan then lives on curvature terms that cancel at the
    // point but not over a period), and the third is half of every step of the path jerk
    // v x''/2 at a node. Each is held within realised_ of the axis's jerk limit:
    //   |x'| x <= 4 r J / (3 T |C_sss,k|),  |x''| x <= 4 r J / (3 T |C_ss,k|) (each side),
    //   |x''_R - x''_L| sqrt(x) <= 4 r J / |C_s,k|.
    // The bounds c/x and c/sqrt(x) are convex in x: their tangents at the pass's point x0
    // (2c/x0 - c x/x0^2 and 3c/(2y) - c x/(2y^3), y = sqrt(x0)) restrict them for every x; the
    // first pass, with x <= x0, uses c/x0 and c/y.
    void restrict_realised(const std::vector<double> &point, bool flat) {
        if (!(realised_ > 0)) return;
        for (std::size_t i = 0; i < n_; ++i) {
            const double x0 = std::max(point[first_ + i], Y_FLOOR * Y_FLOOR), y = std::sqrt(x0);
            double c_slope = HUGE_VAL, c_curve = HUGE_VAL, c_step = HUGE_VAL;
            for (int k = 0; k < 3; ++k) {
                const double J = jerk_[k];
                if (!(J > 0)) continue;
                for (const path_frame *f : {&node(i).left, &node(i).right}) {
                    const double dk = std::fabs(axis_component(f->dk, k)),
                                 kap = std::fabs(axis_component(f->k, k)),
                                 t = std::fabs(axis_component(f->t, k));
                    const double c = 4 * realised_ * J / (3 * period_);
                    if (dk > 0) c_slope = std::min(c_slope, c / dk);
                    if (kap > 0) c_curve = std::min(c_curve, c / kap);
                    if (t > 0) c_step = std::min(c_step, 4 * realised_ * J / t);
                }
            }
            const realised_rows &rr = realised_rows_[i];
            auto inverse = [&](const int *rows, double c) { // |L| x <= c
                for (int q = 0; q < 2 && rows[q] >= 0; ++q) {
                    const bool none = !(c < HUGE_VAL);
                    lp_.modifyCoefficient(rows[q], col_x(i), none || flat ? 0 : c / (x0 * x0),
                                          true);
                    lp_.setRowUpper(rows[q], none ? COIN_DBL_MAX : flat ? c / x0 : 2 * c / x0);
                }
            };
            auto inverse_root = [&](const int *rows, double c) { // |L| sqrt(x) <= c
                for (int q = 0; q < 2 && rows[q] >= 0; ++q) {
                    const bool none = !(c < HUGE_VAL);
                    lp_.modifyCoefficient(rows[q], col_x(i), none || flat ? 0 : c / (2 * y * y * y),
                                          true);
                    lp_.setRowUpper(rows[q], none ? COIN_DBL_MAX : flat ? c / y : 1.5 * c / y);
                }
            };
            inverse(rr.slope, c_slope);
            inverse(rr.curve_left, c_curve);
            inverse(rr.curve_right, c_curve);
            inverse_root(rr.step, c_step);
        }
    }

    // The rows of restrict_realised at one node (-1: none).
    struct realised_rows {
        int slope[2] = {-1, -1}, curve_left[2] = {-1, -1}, curve_right[2] = {-1, -1},
            step[2] = {-1, -1};
    };
    double realised_, period_;
    std::array<double, 3> jerk_{};
    std::vector<realised_rows> realised_rows_;
    ClpSimplex lp_;
    std::vector<jerk_row> jrows_;
};

// A window of the grid: its first node, the nodes it keeps (the next window starts there), and
// its last node (the ones after `keep` look ahead).
struct window_span {
    std::size_t first, keep, last;
};

// Returns the windows over n nodes: each keeps about WINDOW_KEEP nodes and looks ahead over at
// least WINDOW_AHEAD nodes and over the distance `ahead(i)` from its last kept node i.
std::vector<window_span> windows_over(const std::vector<path_node> &nodes,
                                      const std::vector<double> &ahead, std::size_t keep,
                                      std::size_t min_ahead) {
    const std::size_t n = nodes.size();
    std::vector<window_span> w;
    for (std::size_t first = 0;;) {
        const std::size_t k = std::min(first + keep, n - 1);
        std::size_t last = std::min(k + min_ahead, n - 1);
        while (last + 1 < n && nodes[last].s < nodes[k].s + ahead[k])
            ++last;
        if (last + 1 == n || k + 1 == n) {
            w.push_back({first, n - 1, n - 1});
            return w;
        }
        w.push_back({first, k, last});
        first = k;
    }
}

// Returns how far a window looks ahead of each node it keeps, mm: twice the distance to brake
// from the acceleration-limited feed xa there with the smallest limits, so that what it keeps
// can still brake for what comes after it.
std::vector<double> braking_lookahead(const std::vector<double> &xa, const feed_bounds &b) {
    double acc = b.path_acc, jerk = b.path_jerk;
    for (int k = 0; k < 3; ++k) {
        if (b.machine.acc[k] > 0) acc = std::min(acc, b.machine.acc[k]);
        if (b.machine.jerk[k] > 0) jerk = std::min(jerk, b.machine.jerk[k]);
    }
    std::vector<double> ahead(xa.size());
    for (std::size_t i = 0; i < xa.size(); ++i) {
        const double v = std::sqrt(xa[i]);
        ahead[i] = 2 * (xa[i] / (2 * acc) + v * acc / jerk);
    }
    return ahead;
}

// Makes every interval's quadratic end exactly at the next node's x: the solver meets the rows
// x_{i+1} - x_i = h (x'_i + x'_{i+1}) / 2 only to its tolerance (about 1e-8 of x), and that much
// of a step in v between samples 10 us apart is a jerk above the limit. x is rebuilt from the
// first node by the rows themselves, and what that leaves at the last node (pinned) spread
// evenly over the stretch.
void close_quadratics(grid_feed &g) {
    const std::size_t n = g.s.size();
    if (n < 2) return;
    const double end = g.x[n - 1];
    std::vector<double> x(n);
    x[0] = g.x[0];
    for (std::size_t i = 0; i + 1 < n; ++i)
        x[i + 1] = x[i] + 0.5 * (g.s[i + 1] - g.s[i]) * (g.d[i] + g.d[i + 1]);
    const double miss = end - x[n - 1], length = g.s[n - 1] - g.s[0];
    for (std::size_t i = 0; i < n; ++i)
        g.x[i] = std::max(x[i] + miss * (g.s[i] - g.s[0]) / length, 0.0);
}

} // namespace

std::vector<double> node_caps(const std::vector<path_node> &nodes, const feed_bounds &b,
                              double margin) {
    const double scale = 1 - margin, vel = (1 - 0.1 * margin) * (1 - 0.1 * margin);
    std::vector<double> cap(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        // The velocity-like caps keep a tenth of the margin: between nodes the feed may rise a
        // little above both ends of an interval.
        const path_node &nd = nodes[i];
        cap[i] = acc_feed_cap(nd.left, b,
                              acc_feed_cap(nd.right, b, vel * velocity_cap(nd, b), scale), scale);
    }
    return cap;
}

double grid_feed_time(const grid_feed &g) {
    double t = 0;
    for (std::size_t i = 0; i + 1 < g.s.size(); ++i) {
        const double v0 = std::sqrt(std::max(g.x[i], 0.0)),
                     v1 = std::sqrt(std::max(g.x[i + 1], 0.0));
        t += 2 * (g.s[i + 1] - g.s[i]) / (v0 + v1);
    }
    return t;
}

jerk_pass_result jerk_pass(const std::vector<path_node> &nodes, const feed_bounds &b,
                           const feed_end &start, const feed_end &end,
                           const jerk_pass_options &opt) {
    jerk_pass_result res;
    const std::size_t n = nodes.size();
    const double scale = 1 - opt.margin;
    const std::vector<double> cap = node_caps(nodes, b, opt.margin);
    grid_feed &g = res.feed;
    g.s.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        g.s[i] = nodes[i].s;
    const std::vector<double> xa = reachable_feed(nodes, b, cap, start.x, end.x, scale);
    g.x = xa;
    g.d.assign(n, 0.0);
    res.acc_limited_time = grid_feed_time(g);
    const std::vector<window_span> windows =
        windows_over(nodes, braking_lookahead(xa, b), opt.window, 20);
    std::vector<double> x = xa, d(n, 0.0), point = xa;
    double last = -HUGE_VAL;
    // Each window's programme is kept from pass to pass: the next solve starts from its basis.
    std::vector<std::unique_ptr<window_lp>> lps(windows.size());
    for (int pass = 0; pass < opt.max_passes; ++pass) {
        for (std::size_t wi = 0; wi < windows.size(); ++wi) {
            const window_span &w = windows[wi];
            if (!lps[wi])
                lps[wi] = std::make_unique<window_lp>(nodes, w.first, w.last - w.first + 1, b, cap,
                                                      scale, opt.realised_share);
            window_lp &lp = *lps[wi];
            if (pass == 0)
                lp.restrict_flat(xa, cap);
            else
                lp.restrict_at(point, cap);
            lp.time_objective(point);
            // The start: the stretch's, or what the window before kept. The end: the
            // stretch's; in the first pass rest (every window can brake to rest, so the next one
            // can always follow this one's way), later the last pass's feed (which meets its
            // own restriction).
            if (w.first == 0)
                lp.pin(0, start.x, start.dx);
            else
                lp.pin(0, x[w.first], d[w.first]);
            if (w.last + 1 == n)
                lp.pin(w.last - w.first, end.x, end.dx);
            else if (pass == 0)
                lp.pin(w.last - w.first, 0, 0);
            else
                lp.pin(w.last - w.first, x[w.last], d[w.last]); // not reached yet this pass
            ++res.passes;
            if (!lp.solve(x, d, w.last + 1 == n ? w.last - w.first + 1 : w.keep - w.first + 1,
                          pass == 0)) {
                // After a whole pass the feed of that pass is a plan within the limits, and
                // this pass only improves it: when the solver cannot follow, keep that one.
                if (pass > 0) {
                    ++res.unsolved;
                    close_quadratics(g);
                    res.ok = true;
                    return res;
                }
                res.why = "a jerk-limited programme has no solution (solver status " +
                          std::to_string(lp.status()) + ", pass " + std::to_string(pass + 1) +
                          ", from s = " + std::to_string(nodes[w.first].s) + " mm)";
                return res;
            }
        }
        point = x;
        g.x = x;
        g.d = d;
        const double value = -grid_feed_time(g);
        if (pass > 1 && value - last <= opt.tolerance * std::fabs(value)) break;
        last = value;
    }
    close_quadratics(g);
    res.ok = true;
    return res;
}

} // namespace nurbs_interp
