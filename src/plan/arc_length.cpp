#include "plan/arc_length.hpp"

#include <algorithm> // upper_bound, push_heap, sort
#include <cmath>     // fabs, isfinite

#include "plan/gauss_kronrod.hpp"

namespace nurbs_interp {

namespace {

// Returns the 15-point Kronrod estimate and its error over [a, b] (a, b in one knot span).
gk15_result gk15_arc(nurbs_curve *curve, double a, double b) {
    double u[GK15_POINTS], f[GK15_POINTS];
    gk15_points(a, b, u);
    nurbs_arc_len_batch(curve, u, GK15_POINTS, f);
    return gk15_combine(a, b, f);
}

// One part of a partition being refined: its ends, the curve's points there, its estimate.
struct part {
    double a, b;
    cart_point ca, cb;
    double integral, error;
    bool narrow; // at the resolution limit: not halved again
};

bool smaller_error(const part &x, const part &y) {
    return x.error < y.error;
}

cart_point point_at(nurbs_curve *curve, double u) {
    cart_point p;
    nurbs_deBoor_eval(u, -1, curve, &p, nullptr, nullptr, nullptr);
    return p;
}

// The span being cut into parts.
struct span_ctx {
    nurbs_curve *curve;
    double u0, u1;
};

// Returns the part [a, b] of the span (points ca, cb there) with its 15-point estimate and
// error estimate: the Kronrod-Gauss difference, plus, for a part at either end of the span, the
// amount by which the estimate falls short of the polygon through the curve at the part's ends
// and the 15 nodes when that is more than ARC_SHORTFALL of the polygon. A curve is never
// shorter than an inscribed polygon, so such a shortfall is certain: it is what the nodes miss
// when the curve rushes toward a control point of tiny weight within 1e-8 of a span's end.
// Inside a span every basis function is positive and the speed cannot hide such a rush; at a
// knot a basis function may start from zero to first order (a clamped end, a knot repeated to
// the degree), and a weight ratio of 1e8 then makes the rush that narrow. The margin keeps the
// rounding of points near such a rush (their evaluation loses digits there) from counting.
part measure_part(const span_ctx &sp, double a, double b, const cart_point &ca,
                  const cart_point &cb) {
    const bool at_end = a == sp.u0 || b == sp.u1;
    double u[GK15_POINTS], f[GK15_POINTS];
    gk15_points(a, b, u);
    // At the resolution limit (nodes that round onto the part's ends would be evaluated on the
    // next span, or by the end rule) the part is a straight chord to within what can be told.
    if (b - a <= ARC_MIN_PART * (sp.u1 - sp.u0) || !(u[1] > a && u[2] < b))
        return {a, b, ca, cb, cart_dist(&ca, &cb), 0.0, true};
    cart_point P[GK15_POINTS], D[GK15_POINTS];
    nurbs_eval_batch(sp.curve, u, GK15_POINTS, P, D);
    for (int i = 0; i < GK15_POINTS; ++i)
        f[i] = std::sqrt((D[i].x * D[i].x + D[i].y * D[i].y) + D[i].z * D[i].z);
    const gk15_result r = gk15_combine(a, b, f);
    double shortfall = 0;
    if (at_end) {
        // The nodes in ascending u: the left ones from the outside in, the centre, the right
        // ones from the inside out.
        static constexpr int ORDER[GK15_POINTS] = {1,  3,  5,  7, 9, 11, 13, 0,
                                                   14, 12, 10, 8, 6, 4,  2};
        double polygon = cart_dist(&ca, &P[ORDER[0]]) + cart_dist(&P[ORDER[GK15_POINTS - 1]], &cb);
        for (int i = 1; i < GK15_POINTS; ++i)
            polygon += cart_dist(&P[ORDER[i - 1]], &P[ORDER[i]]);
        if (polygon - r.integral > ARC_SHORTFALL * polygon) shortfall = polygon - r.integral;
    }
    return {a, b, ca, cb, r.integral, r.error + shortfall, false};
}

// Returns the largest Cartesian coordinate (in magnitude) of the control points that shape the
// span starting at u0.
double span_extent(const nurbs_curve *curve, double u0) {
    const int k = nurbs_find_span(int(curve->ncp), int(curve->deg), u0, curve->knots.data());
    double extent = 0;
    for (int i = std::max(0, k - int(curve->deg)); i <= k && i < int(curve->ncp); ++i) {
        const nurbs_ctrl_pt &q = curve->control_points[i];
        extent =
            std::max({extent, std::fabs(q.x / q.w), std::fabs(q.y / q.w), std::fabs(q.z / q.w)});
    }
    return extent;
}

} // namespace

span_partition partition_span(nurbs_curve *curve, double u0, double u1) {
    span_partition p;
    std::vector<part> heap;
    heap.reserve(2 * ARC_MIN_PARTS);
    double total = 0, error = 0;
    const span_ctx sp{curve, u0, u1};
    cart_point left = point_at(curve, u0);
    for (int i = 0; i < ARC_MIN_PARTS; ++i) {
        const double a = i == 0 ? u0 : u0 + (u1 - u0) * (double(i) / ARC_MIN_PARTS);
        const double b =
            i + 1 == ARC_MIN_PARTS ? u1 : u0 + (u1 - u0) * (double(i + 1) / ARC_MIN_PARTS);
        // The span's end is approached from inside it (the evaluator gives u = 1 the curve's end
        // and any other knot the next span's start; both are the same point on a curve that
        // does not break apart).
        const cart_point right = point_at(curve, b);
        heap.push_back(measure_part(sp, a, b, left, right));
        total += heap.back().integral;
        error += heap.back().error;
        left = right;
    }
    std::make_heap(heap.begin(), heap.end(), smaller_error);
    // Globally adaptive: halve the part with the largest error estimate until the estimates
    // meet the tolerance (a NaN total ends the loop: nothing can make it finite). A span much
    // shorter than its control points are far from the origin is held to a share of that
    // distance instead: its points' rounding is no smaller.
    const double floor = ARC_SCALE_FLOOR * span_extent(curve, u0);
    while (error > ARC_REL_TOL * std::max(std::fabs(total), floor) && heap.front().error > 0) {
        if (int(heap.size()) >= ARC_MAX_PARTS) {
            p.converged = false;
            break;
        }
        std::pop_heap(heap.begin(), heap.end(), smaller_error);
        part worst = heap.back();
        heap.pop_back();
        total -= worst.integral;
        error -= worst.error;
        const double mid = 0.5 * (worst.a + worst.b);
        const cart_point cm = point_at(curve, mid);
        for (const part &half : {measure_part(sp, worst.a, mid, worst.ca, cm),
                                 measure_part(sp, mid, worst.b, cm, worst.cb)}) {
            if (half.narrow) p.converged = false;
            heap.push_back(half);
            std::push_heap(heap.begin(), heap.end(), smaller_error);
            total += half.integral;
            error += half.error;
        }
    }
    std::sort(heap.begin(), heap.end(), [](const part &x, const part &y) { return x.a < y.a; });
    p.u.reserve(heap.size() + 1);
    p.s.reserve(heap.size() + 1);
    p.u.push_back(u0);
    p.s.push_back(0.0);
    for (const part &q : heap) {
        p.u.push_back(q.b);
        p.s.push_back(p.s.back() + q.integral);
        p.error += q.error;
    }
    return p;
}

double arc_length_in_span(nurbs_curve *curve, double a, double b) {
    return partition_span(curve, a, b).s.back();
}

void arc_table_build(nurbs_curve *curve, arc_table *tab,
                     const std::function<void(double)> &progress) {
    tab->curve = curve;
    tab->u_knot.clear();
    tab->s_knot.clear();
    tab->error = 0;
    tab->unconverged = 0;
    for (span_partition &p : tab->cache)
        p = span_partition{};
    for (std::uint32_t i = curve->deg; i <= curve->ncp; ++i)
        if (tab->u_knot.empty() || curve->knots[i] > tab->u_knot.back())
            tab->u_knot.push_back(curve->knots[i]);
    tab->s_knot.push_back(0.0);
    const std::size_t spans = tab->u_knot.size() - 1;
    const std::size_t every = std::max<std::size_t>(1, spans / 100);
    for (std::size_t k = 0; k < spans; ++k) {
        if (progress && k % every == 0) progress(double(k) / double(spans));
        span_partition p = partition_span(curve, tab->u_knot[k], tab->u_knot[k + 1]);
        tab->s_knot.push_back(tab->s_knot.back() + p.s.back());
        tab->error += p.error;
        tab->unconverged += p.converged ? 0 : 1;
        p.span = k;
        tab->cache[k % tab->cache.size()] = std::move(p);
    }
}

double arc_table_length(const arc_table &tab) {
    return tab.s_knot.back();
}

const span_partition &arc_span_partition(const arc_table &tab, std::size_t k) {
    span_partition &slot = tab.cache[k % tab.cache.size()];
    if (slot.span != k) {
        slot = partition_span(tab.curve, tab.u_knot[k], tab.u_knot[k + 1]);
        slot.span = k;
    }
    return slot;
}

std::size_t arc_span_of(const arc_table &tab, double u) {
    const std::size_t last = tab.u_knot.size() - 2;
    if (!(u > 0)) return 0;
    const std::size_t k =
        std::upper_bound(tab.u_knot.begin(), tab.u_knot.end(), u) - tab.u_knot.begin() - 1;
    return std::min(k, last);
}

namespace {

// Returns the index i of the part [u[i], u[i+1]] of `p` that holds u.
std::size_t part_of(const span_partition &p, double u) {
    const std::size_t i = std::upper_bound(p.u.begin(), p.u.end(), u) - p.u.begin();
    return std::min(i == 0 ? 0 : i - 1, p.u.size() - 2);
}

// Returns the length from the start of the partition to u, inside part i.
double length_in_part(nurbs_curve *curve, const span_partition &p, std::size_t i, double u) {
    return u > p.u[i] ? p.s[i] + gk15_arc(curve, p.u[i], u).integral : p.s[i];
}

} // namespace

double arc_length_to(const arc_table &tab, double u) {
    if (!(u > 0)) return 0.0;
    if (u >= 1) return tab.s_knot.back();
    const std::size_t k = arc_span_of(tab, u);
    const span_partition &p = arc_span_partition(tab, k);
    return tab.s_knot[k] + length_in_part(tab.curve, p, part_of(p, u), u);
}

double arc_param_at(const arc_table &tab, double s) {
    if (!(s > 0)) return 0.0;
    if (s >= tab.s_knot.back()) return 1.0;
    const std::size_t k = std::min<std::size_t>(
        std::upper_bound(tab.s_knot.begin(), tab.s_knot.end(), s) - tab.s_knot.begin() - 1,
        tab.u_knot.size() - 2);
    const span_partition &p = arc_span_partition(tab, k);
    const double ds = s - tab.s_knot[k];
    const std::size_t i = std::min<std::size_t>(
        std::upper_bound(p.s.begin(), p.s.end(), ds) - p.s.begin() - 1, p.s.size() - 2);
    double lo = p.u[i], hi = p.u[i + 1];
    const double part_len = p.s[i + 1] - p.s[i];
    if (!(part_len > 0)) return lo;
    double u = lo + (hi - lo) * ((ds - p.s[i]) / part_len);
    bool last = false;
    for (int it = 0; it < 60; ++it) {
        const double f = length_in_part(tab.curve, p, i, u) - ds;
        if (f == 0) break;
        if (f > 0)
            hi = u;
        else
            lo = u;
        double next = u - f / nurbs_arc_len(u, tab.curve);
        if (!(next >= lo && next <= hi)) // outside the bracket (or NaN): bisect
            next = 0.5 * (lo + hi);
        const double step = std::fabs(next - u);
        u = next;
        if (last || step == 0) break;
        // Convergence is quadratic: once the step is this small the next one is the last
        // that can change anything.
        last = step < 1e-9 * (p.u[i + 1] - p.u[i]);
    }
    return u;
}

} // namespace nurbs_interp
