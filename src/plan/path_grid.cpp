#include "plan/path_grid.hpp"

#include <algorithm> // min, max, upper_bound
#include <cmath>     // acos, fabs

#include "io/format.hpp"
#include "plan/feed_cap.hpp" // plan_error
#include "plan/joints.hpp"   // eval_left_of_knot

namespace nurbs_interp {

path_frame frame_at_param(nurbs_curve *curve, double u) {
    cart_point P, d1, d2, d3;
    nurbs_deBoor_eval(u, -1, curve, &P, &d1, &d2, &d3);
    return path_frame_at(d1, d2, d3);
}

path_frame frame_left_of(nurbs_curve *curve, double u) {
    cart_point P, d1, d2, d3;
    eval_left_of_knot(curve, u, &P, &d1, &d2, &d3);
    return path_frame_at(d1, d2, d3);
}

namespace {

// The angle between two unit tangents, rad.
double turn(const cart_point &a, const cart_point &b) {
    const double c = dotprod(&a, &b);
    return std::acos(std::clamp(c, -1.0, 1.0));
}

// True when the difference of a and b is more than `rel` of the larger (both finite).
bool changes(double a, double b, double rel) {
    return std::fabs(a - b) > rel * std::max(std::fabs(a), std::fabs(b));
}

// One end of an interval being refined: node and steady feed on either side.
struct grid_end {
    path_node node;
    double feed_left, feed_right;
};

// The recursive refinement of one knot-free interval, appending to `out` every node after `a`
// up to and including `b`.
struct refiner {
    const arc_table &arc;
    const grid_spacing &sp;
    const steady_feed_fn &feed;
    std::vector<path_node> &out;
    double min_width; // mm: an interval this short is not halved

    grid_end at(double u) const {
        grid_end e;
        e.node.u = u;
        e.node.s = arc_length_to(arc, u);
        e.node.left = e.node.right = frame_at_param(arc.curve, u);
        e.feed_left = e.feed_right = feed(e.node.right);
        return e;
    }

    bool too_coarse(const grid_end &a, const grid_end &b) const {
        const double len = b.node.s - a.node.s;
        if (!(len > min_width)) return false;
        const double slow = std::min(a.feed_right, b.feed_left);
        return len > sp.max_length || len > sp.max_time * slow ||
               turn(a.node.right.t, b.node.left.t) > sp.max_turn ||
               changes(a.feed_right, b.feed_left, sp.max_change);
    }

    void refine(const grid_end &a, const grid_end &b, int depth) {
        if (out.size() >= sp.max_nodes)
            throw plan_error("the plan's grid needs more than " + std::to_string(sp.max_nodes) +
                             " nodes (bound)");
        if (depth < 60 && too_coarse(a, b)) {
            const grid_end m = at(0.5 * (a.node.u + b.node.u));
            if (m.node.s > a.node.s && m.node.s < b.node.s) {
                refine(a, m, depth + 1);
                refine(m, b, depth + 1);
                return;
            }
        }
        out.push_back(b.node);
    }
};

} // namespace

std::vector<path_node> path_grid_build(const arc_table &arc, path_place pa, path_place pb,
                                       const grid_spacing &sp, const steady_feed_fn &feed) {
    nurbs_curve *curve = arc.curve;
    const double s0 = pa.s, s1 = pb.s;
    // Base points: the stretch's ends and the distinct knots inside it.
    std::vector<double> base{pa.u};
    for (std::size_t k = 1; k + 1 < arc.u_knot.size(); ++k)
        if (arc.u_knot[k] > pa.u && arc.u_knot[k] < pb.u) base.push_back(arc.u_knot[k]);
    base.push_back(pb.u);
    const std::vector<double> joints = curve_joints(*curve);
    auto is_knot = [&](double u) {
        return std::binary_search(arc.u_knot.begin(), arc.u_knot.end(), u);
    };
    std::vector<path_node> out;
    refiner r{arc, sp, feed, out, 1e-9 * std::max(1.0, s1 - s0)};
    auto base_end = [&](std::size_t i) {
        grid_end e = r.at(base[i]);
        e.node.s = i == 0 ? s0 : i + 1 == base.size() ? s1 : e.node.s;
        if (is_knot(base[i]) && base[i] > 0 && base[i] < 1) {
            e.node.left = frame_left_of(curve, base[i]);
            e.feed_left = feed(e.node.left);
            e.node.jump = std::binary_search(joints.begin(), joints.end(), base[i]);
        }
        return e;
    };
    grid_end a = base_end(0);
    out.push_back(a.node);
    for (std::size_t i = 1; i < base.size(); ++i) {
        const grid_end b = base_end(i);
        r.refine(a, b, 0);
        a = b;
    }
    return out;
}

std::size_t path_grid_split(const arc_table &arc, std::vector<path_node> &nodes,
                            const std::function<bool(std::size_t)> &too_long,
                            std::size_t max_nodes) {
    std::vector<path_node> out;
    out.reserve(nodes.size());
    std::size_t split = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        out.push_back(nodes[i]);
        if (i + 1 == nodes.size() || !too_long(i)) continue;
        path_node m;
        m.u = 0.5 * (nodes[i].u + nodes[i + 1].u);
        m.s = arc_length_to(arc, m.u);
        if (!(m.s > nodes[i].s && m.s < nodes[i + 1].s)) continue;
        m.left = m.right = frame_at_param(arc.curve, m.u);
        out.push_back(m);
        ++split;
    }
    if (out.size() > max_nodes)
        throw plan_error("the plan's grid needs more than " + std::to_string(max_nodes) +
                         " nodes (bound)");
    nodes = std::move(out);
    return split;
}

} // namespace nurbs_interp
