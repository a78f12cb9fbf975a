#include "plan/feed_cap.hpp"

#include <algorithm> // clamp, max, min
#include <cmath>     // ceil, cbrt, cos, fabs, floor, sqrt
#include <numbers>   // pi
#include <stdexcept> // runtime_error when a capped move does not finish

#include "io/format.hpp"

namespace nurbs_interp {

double chord_cap(double rho, const feed_cap_limits &lim) {
    const double d = lim.chord_tol, r = std::max(rho, d);
    return (2 / lim.period) * std::sqrt(2 * r * d - d * d);
}

double centripetal_cap(double rho, const feed_cap_limits &lim) {
    return std::sqrt(lim.centripetal * rho);
}

double feed_cap_at_radius(double rho, const feed_cap_limits &lim) {
    return std::max(lim.floor,
                    std::min({lim.vmax, chord_cap(rho, lim), centripetal_cap(rho, lim)}));
}

feed_cap_table feed_cap_from_cells(std::vector<double> cells, double cell) {
    feed_cap_table t;
    t.cell = cell;
    t.cap = std::move(cells);
    const std::size_t nb = (t.cap.size() + FEED_CAP_BLOCK - 1) / FEED_CAP_BLOCK;
    t.block_min.assign(nb, HUGE_VAL);
    for (std::size_t i = 0; i < t.cap.size(); ++i)
        t.block_min[i / FEED_CAP_BLOCK] = std::min(t.block_min[i / FEED_CAP_BLOCK], t.cap[i]);
    t.sparse.push_back(t.block_min);
    for (std::size_t w = 1; 2 * w <= nb; w *= 2) {
        const std::vector<double> &prev = t.sparse.back();
        std::vector<double> next(nb - 2 * w + 1);
        for (std::size_t b = 0; b < next.size(); ++b)
            next[b] = std::min(prev[b], prev[b + w]);
        t.sparse.push_back(std::move(next));
    }
    return t;
}

feed_cap_table feed_cap_slice(const feed_cap_table &t, double a, double b) {
    const long n = std::max(1L, long(std::ceil((b - a) / t.cell)));
    std::vector<double> cells(n);
    for (long i = 0; i < n; ++i)
        cells[i] = feed_cap_min(t, a + double(i) * t.cell, a + double(i + 1) * t.cell);
    return feed_cap_from_cells(std::move(cells), t.cell);
}

double feed_cap_min(const feed_cap_table &t, double s0, double s1) {
    const long last = long(t.cap.size()) - 1;
    const long i0 = std::clamp(long(std::floor(s0 / t.cell)), 0L, last);
    const long i1 = std::clamp(long(std::floor(s1 / t.cell)), i0, last);
    double m = HUGE_VAL;
    const long b0 = i0 / FEED_CAP_BLOCK + 1, b1 = i1 / FEED_CAP_BLOCK; // whole blocks b0 .. b1-1
    if (b1 <= b0) {
        for (long i = i0; i <= i1; ++i)
            m = std::min(m, t.cap[i]);
        return m;
    }
    for (long i = i0; i < b0 * FEED_CAP_BLOCK; ++i)
        m = std::min(m, t.cap[i]);
    for (long i = b1 * FEED_CAP_BLOCK; i <= i1; ++i)
        m = std::min(m, t.cap[i]);
    int k = 0;
    while ((2L << k) <= b1 - b0)
        ++k;
    return std::min({m, t.sparse[k][b0], t.sparse[k][b1 - (1L << k)]});
}

namespace {

// The cap sampled along a curve, in increasing arc length.
struct cap_samples {
    std::vector<double> s;           // arc length, mm
    std::vector<double> c;           // cap, mm/s
    std::vector<char> low;           // the geometric cap is below the floor
    std::vector<cart_point> tangent; // unit tangent (0 where |C'| = 0)
};

// Adds the sample at parameter u, arc length sm.
void add_sample(cap_samples &x, nurbs_curve *curve, const feed_cap_limits &lim, double sm,
                double u) {
    cart_point P, d1, d2, d3;
    nurbs_deBoor_eval(u, -1, curve, &P, &d1, &d2, &d3);
    const double rho = curvature_rad_at_point(&d1, &d2);
    feed_cap_limits bare = lim;
    bare.floor = 0;
    double cap = lim.geometric ? feed_cap_at_radius(rho, bare) : lim.vmax;
    if (lim.machine)
        cap = std::min(cap, axis_feed_cap(path_frame_at(d1, d2, d3), *lim.machine, lim.path_acc).v);
    const double speed = modulus(&d1);
    x.s.push_back(sm);
    x.c.push_back(std::max(cap, lim.floor));
    x.low.push_back(cap < lim.floor);
    x.tangent.push_back(speed > 0 ? cart_point{d1.x / speed, d1.y / speed, d1.z / speed}
                                  : cart_point{0, 0, 0});
}

// Returns the cap sampled at least once per cell length, evenly in u inside each knot span.
cap_samples sample_caps(nurbs_curve *curve, const arc_table &tab, const feed_cap_limits &lim,
                        double cell) {
    cap_samples x;
    add_sample(x, curve, lim, 0.0, 0.0);
    for (std::size_t k = 0; k + 1 < tab.u_knot.size(); ++k) {
        const double u0 = tab.u_knot[k], u1 = tab.u_knot[k + 1];
        const long m = std::max(1L, long(std::ceil((tab.s_knot[k + 1] - tab.s_knot[k]) / cell)));
        for (long i = 1; i <= m; ++i) {
            const double u = i == m ? u1 : u0 + (u1 - u0) * (double(i) / double(m));
            add_sample(x, curve, lim, i == m ? tab.s_knot[k + 1] : arc_length_to(tab, u), u);
        }
    }
    return x;
}

// Lowers to the floor both samples around every sharp turn of the tangent (and every sample
// where |C'| = 0), recording where; a turn within `cell` of a stop is the stop's, not floored.
void floor_sharp_turns(cap_samples &x, const feed_cap_limits &lim, double cell, feed_cap_table *t) {
    const double cos_sharp = std::cos(FEED_CAP_SHARP_TURN_DEG * std::numbers::pi / 180);
    auto at_stop = [&](double s) {
        const auto it = std::lower_bound(lim.stops.begin(), lim.stops.end(), s - cell);
        return it != lim.stops.end() && *it <= s + cell;
    };
    for (std::size_t i = 0; i < x.s.size(); ++i) {
        const bool stopped = dotprod(&x.tangent[i], &x.tangent[i]) == 0;
        const bool turns = i > 0 && dotprod(&x.tangent[i - 1], &x.tangent[i]) < cos_sharp;
        if ((!stopped && !turns) || at_stop(x.s[i])) continue;
        if (turns) x.c[i - 1] = lim.floor;
        x.c[i] = lim.floor;
        if (t->sharp_count++ < 8 && (t->sharp.empty() || x.s[i] > t->sharp.back() + 1e-6))
            t->sharp.push_back(x.s[i]);
    }
}

} // namespace

feed_cap_table feed_cap_from_curve(nurbs_curve *curve, const arc_table &tab,
                                   const feed_cap_limits &lim, double cell) {
    const double cells_needed = std::ceil(arc_table_length(tab) / cell);
    if (!(cells_needed <= double(FEED_CAP_MAX_CELLS)))
        throw plan_error("the feed cap of a " + fmt("%.6g", arc_table_length(tab)) +
                         " mm path needs " + fmt("%.6g", cells_needed) + " cells of " +
                         fmt("%g", cell) + " mm, more than the bound of " +
                         std::to_string(FEED_CAP_MAX_CELLS));
    feed_cap_table t;
    cap_samples x = sample_caps(curve, tab, lim, cell);
    floor_sharp_turns(x, lim, cell, &t);
    const std::vector<double> &s = x.s, &c = x.c;
    const double length = s.back();
    std::vector<double> cells(std::max(1L, long(std::ceil(length / cell))), HUGE_VAL);
    const long last = long(cells.size()) - 1;
    auto cell_of = [&](double v) { return std::clamp(long(std::floor(v / cell)), 0L, last); };
    double floored = 0;
    for (std::size_t i = 0; i + 1 < s.size(); ++i) {
        const double lo = std::min(c[i], c[i + 1]);
        for (long k = cell_of(s[i]); k <= cell_of(s[i + 1]); ++k)
            cells[k] = std::min(cells[k], lo);
        if (x.low[i] || x.low[i + 1]) floored += s[i + 1] - s[i];
        // A local minimum between samples: the vertex of the parabola through three samples.
        if (i > 0 && c[i] <= c[i - 1] && c[i] <= c[i + 1] && s[i] > s[i - 1] && s[i + 1] > s[i]) {
            const double h0 = s[i] - s[i - 1], h1 = s[i + 1] - s[i];
            const double d0 = (c[i] - c[i - 1]) / h0, d1 = (c[i + 1] - c[i]) / h1;
            const double curv = (d1 - d0) / (h0 + h1); // half the second derivative
            if (curv > 0) {
                // Slope at s[i] of the parabola, then its vertex.
                const double slope = d0 + curv * h0;
                const double dx = -slope / (2 * curv);
                const double vertex = c[i] + slope * dx + curv * dx * dx;
                if (dx > -h0 && dx < h1) {
                    long k = cell_of(s[i] + dx);
                    cells[k] = std::min(cells[k], std::max(vertex, lim.floor));
                }
            }
        }
    }
    for (const feed_cap_limits::point_cap &p : lim.point_caps)
        cells[cell_of(p.s)] = std::min(cells[cell_of(p.s)], p.cap.v);
    feed_cap_table table = feed_cap_from_cells(std::move(cells), cell);
    table.floored = floored;
    table.sharp = std::move(t.sharp);
    table.sharp_count = t.sharp_count;
    return table;
}

namespace {

// Where the planned motion stands at a sample: driver arc length, feed, acceleration.
struct motion_state {
    double s, v, a;
};

// The braking jerk for one period and whether the move stops inside it.
struct brake_step {
    double j;
    bool stops;
};

struct capped_planner {
    const feed_cap_table &cap;
    double travel, acc, jerk, period;
    feed_plan_stats stats;

    // Advances x by one period of constant jerk j; the driver moves on by v*T.
    void advance(motion_state *x, double j) const {
        const double T = period, a = x->a;
        x->s = x->s + x->v * T;
        x->a = a + j * T;
        x->v = x->v + a * T + 0.5 * j * T * T;
    }

    // Returns the jerk of full braking from (v, a): the lowest jerk that keeps a >= -acc and
    // keeps the state able to ease off to rest, v >= a^2 / (2 jerk); once v is on that bound
    // the jerk is +jerk. When the ease-off ends inside this period (2v <= -aT), the move stops
    // with the jerk a^2 / (2v) that brings v and a to 0 together.
    brake_step brake(double v, double a) const {
        const double T = period, J = jerk;
        if (v <= 0 && a >= 0) return {0, true};
        if (a < 0 && 2 * v <= -a * T) return {std::min(a * a / (2 * v), J), true};
        // New acceleration x must satisfy x^2/(2J) - xT/2 - (v + aT/2) <= 0.
        const double c = v + 0.5 * a * T;
        const double x_lo = J * (0.5 * T - std::sqrt(0.25 * T * T + 2 * c / J));
        const double j = std::max({-J, (-acc - a) / T, (x_lo - a) / T});
        return {std::min(j, J), false};
    }

    // Returns the highest feed inside a period that starts at (v, a) with jerk j: above both
    // samples when a > 0 and the jerk turns the acceleration round within the period.
    double inner_peak(double v, double a, double j) const {
        if (a > 0 && j < 0 && a < -j * period) return v - a * a / (2 * j);
        return v;
    }

    // Returns the duration of full braking from feed v at zero acceleration, plus slack for the
    // periods' discretisation: an upper bound of the time to stop from v with a <= 0.
    double stop_time(double v) const {
        const double t = v * jerk >= acc * acc ? acc / jerk + v / acc : 2 * std::sqrt(v / jerk);
        return t + 3 * period;
    }

    // True if full braking from x keeps every sample under the cap and stops within travel.
    bool safe(motion_state x) {
        ++stats.checks;
        const double T = period;
        for (;;) {
            if (!(x.v >= 0) || x.v > feed_cap_min(cap, x.s, x.s + x.v * T)) return false;
            // Riding the bound v = a^2/(2 jerk) accumulates the rounding of v (~1e-11 mm/s
            // from 250 mm/s down); 1e-9 mm/s of slack keeps that from failing the check.
            if (x.a < 0 && x.v < x.a * x.a / (2 * jerk) * (1 - 1e-9) - 1e-9) return false;
            const brake_step b = brake(x.v, x.a);
            if (b.stops) return x.s + x.v * T <= travel;
            const double peak = inner_peak(x.v, x.a, b.j);
            if (peak > x.v && peak > feed_cap_min(cap, x.s, x.s + x.v * T)) return false;
            if (x.a <= 0) {
                // From here the feed only falls: done if it is under the cap all the way to
                // where braking ends at the latest, and that is short of the travel.
                const double reach = x.v * stop_time(x.v);
                if (x.s + reach + x.v * T <= travel &&
                    x.v <= feed_cap_min(cap, x.s, x.s + reach + x.v * T))
                    return true;
            }
            advance(&x, b.j);
        }
    }
};

// Returns the highest feed v >= c from which an S-curve ramp down to c (acceleration 0 at
// both ends) fits in the distance d: the ramp's length (v + c)/2 * duration(v - c) is d.
double ramp_start_feed(double c, double d, double acc, double jerk) {
    if (!(d > 0)) return c;
    // Acceleration limit reached: duration dv/acc + acc/jerk, a quadratic in dv.
    const double p = c / acc + acc / (2 * jerk), q = c * acc / jerk - d;
    const double dv = (-p + std::sqrt(p * p - 2 * q / acc)) * acc;
    if (dv >= acc * acc / jerk) return c + dv;
    // Pure jerk ramp: duration 2 sqrt(dv/jerk); with x = sqrt(dv), x^3 + 2cx = d sqrt(jerk),
    // increasing in x: Newton from above converges monotonically.
    const double rhs = d * std::sqrt(jerk);
    double x = std::max(std::cbrt(rhs), 1e-300);
    for (int it = 0; it < 60; ++it) {
        const double step = (x * x * x + 2 * c * x - rhs) / (3 * x * x + 2 * c);
        x -= step;
        if (!(std::fabs(step) > 1e-15 * x)) break;
    }
    return c + x * x;
}

// Returns the cap lowered so that every cell's cap can be met by an S-curve ramp that starts
// at acceleration 0: the lower envelope over cells i of ramp_start_feed(cap_i, s_i - s). A
// backward sweep; a cell already under the envelope of the cells after it adds nothing.
std::vector<double> look_ahead_cells(const feed_cap_table &t, double acc, double jerk) {
    std::vector<double> v = t.cap;
    for (long i = long(v.size()) - 1; i >= 0; --i) {
        if (t.cap[i] > v[i]) continue;
        for (long k = i - 1; k >= 0; --k) {
            const double r = ramp_start_feed(t.cap[i], (i - k) * t.cell, acc, jerk);
            if (r >= v[k]) break;
            v[k] = r;
        }
    }
    return v;
}

} // namespace

feed_profile feed_plan_capped(const feed_cap_table &cap_in, double travel, double acc, double jerk,
                              double period, feed_plan_stats *stats, long max_samples,
                              double end_gap) {
    // Planning against the cap itself, the greedy choice meets a falling cap at full
    // deceleration and must then ease off far below it; against the look-ahead curve it
    // arrives level.
    const feed_cap_table cap =
        feed_cap_from_cells(look_ahead_cells(cap_in, acc, jerk), cap_in.cell);
    capped_planner pl{cap, travel, acc, jerk, period, {}};
    feed_profile p;
    auto push = [&](double v, double a, double j) {
        p.v.push_back(v);
        p.a.push_back(a);
        p.j.push_back(j);
    };
    motion_state x{0, 0, 0};
    // Bisection ends when the jerk is known to this fraction of the limit.
    const double j_tol = 1e-6 * jerk;
    for (long k = 0;; ++k) {
        if (k >= max_samples)
            throw plan_error("the curvature-limited plan needs more than " +
                             std::to_string(max_samples) + " samples (bound)");
        const bool at_rest = x.v == 0 && x.a == 0;
        const brake_step b = pl.brake(x.v, x.a);
        if (b.stops && !at_rest) {
            // Comes to rest inside this period (at the end, or, should a cap force it, on
            // the way, from where the move starts again).
            push(x.v, x.a, b.j);
            x = {x.s + x.v * period, 0, 0};
            continue;
        }
        auto try_jerk = [&](double j) {
            const double peak = pl.inner_peak(x.v, x.a, j);
            if (peak > x.v && peak > feed_cap_min(cap, x.s, x.s + x.v * period)) return false;
            motion_state y = x;
            pl.advance(&y, j);
            return pl.safe(y);
        };
        double lo = b.j, hi = std::min(jerk, (acc - x.a) / period);
        if (hi < lo) hi = lo;
        if (try_jerk(hi)) {
            lo = hi;
        } else {
            // lo should be safe: it continues the braking that the last period's check accepted.
            bool checked = false;
            while (hi - lo > j_tol) {
                const double mid = 0.5 * (lo + hi);
                if (try_jerk(mid)) {
                    lo = mid;
                    checked = true;
                } else {
                    hi = mid;
                }
            }
            if (!checked && !try_jerk(lo)) ++pl.stats.forced;
        }
        // At rest, and no move worth starting fits: the end.
        if (at_rest && k > 0 && (lo <= j_tol || travel - x.s < end_gap)) {
            push(0, 0, 0);
            break;
        }
        push(x.v, x.a, lo);
        pl.advance(&x, lo);
    }
    if (stats) *stats = pl.stats;
    return p;
}

feed_profile feed_plan_with_stops(const feed_cap_table &cap, const std::vector<double> &stops,
                                  double travel, double acc, double jerk, double period,
                                  feed_plan_stats *stats, long max_samples) {
    feed_profile p;
    feed_plan_stats total;
    double at = 0; // where the tool stands, the driver's travel
    std::vector<double> targets;
    for (double s : stops)
        if (s > 0 && s < travel) targets.push_back(s);
    targets.push_back(travel);
    for (std::size_t k = 0; k < targets.size(); ++k) {
        const bool last = k + 1 == targets.size();
        feed_plan_stats st;
        const feed_profile seg = feed_plan_capped(
            feed_cap_slice(cap, at, targets[k]), targets[k] - at, acc, jerk, period, &st,
            max_samples - long(p.v.size()), last ? 1e-4 : FEED_STOP_GAP);
        // The last sample at rest before a stop and the first of the next move stand at the
        // same place: one of them is enough.
        if (!p.v.empty()) {
            p.v.pop_back();
            p.a.pop_back();
            p.j.pop_back();
        }
        p.v.insert(p.v.end(), seg.v.begin(), seg.v.end());
        p.a.insert(p.a.end(), seg.a.begin(), seg.a.end());
        p.j.insert(p.j.end(), seg.j.begin(), seg.j.end());
        at += feed_profile_travel(seg, period);
        total.checks += st.checks;
        total.forced += st.forced;
    }
    if (stats) *stats = total;
    return p;
}

feed_limit_ratios feed_limits_check(const feed_profile &p,
                                    const std::function<double(double, double)> &cap_over,
                                    double acc, double jerk, double period) {
    feed_limit_ratios r;
    r.lowest_cap = HUGE_VAL;
    r.slowest_mid = HUGE_VAL;
    double s = 0;
    for (std::size_t k = 0; k < p.v.size(); ++k) {
        const double c = cap_over(s, s + p.v[k] * period);
        r.cap = std::max(r.cap, p.v[k] / c);
        r.acc = std::max(r.acc, std::fabs(p.a[k]) / acc);
        r.jerk = std::max(r.jerk, std::fabs(p.j[k]) / jerk);
        r.lowest_cap = std::min(r.lowest_cap, c);
        s += p.v[k] * period;
    }
    for (std::size_t k = 1; k + 1 < p.v.size(); ++k)
        if (p.v[k] < p.v[k - 1] && p.v[k] <= p.v[k + 1] && p.v[k + 1] > 0)
            r.slowest_mid = std::min(r.slowest_mid, p.v[k]);
    r.travel = s;
    return r;
}

} // namespace nurbs_interp
