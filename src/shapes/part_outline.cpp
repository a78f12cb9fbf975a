#include "shapes/part_outline.hpp"

#include <cmath>
#include <numbers>

namespace nurbs_interp {

namespace {

constexpr double CORNER_RADIUS = 10;

// Returns the last control point of the outline (its current end).
const nurbs_ctrl_pt &end_of(const part_outline &o) {
    return o.curve.points.back();
}

// Appends a piece ending at `to` with middle control point `mid` of weight `w`, `len` long.
void add_piece(part_outline &o, nurbs_ctrl_pt mid, double w, nurbs_ctrl_pt to, double len) {
    mid.w = w;
    to.w = 1;
    o.curve.points.push_back(mid);
    o.curve.points.push_back(to);
    o.length += len;
    o.joints.push_back(o.length);
}

// Appends a straight edge to (x, y): its middle control point half-way along it.
void add_line(part_outline &o, double x, double y) {
    const nurbs_ctrl_pt &a = end_of(o);
    const double len = std::hypot(x - a.x, y - a.y);
    add_piece(o, {(a.x + x) / 2, (a.y + y) / 2, 0, 1}, 1, {x, y, 0, 1}, len);
}

// Appends a quarter circle of CORNER_RADIUS to (x, y) whose end tangents meet at (cx, cy).
void add_arc(part_outline &o, double cx, double cy, double x, double y) {
    add_piece(o, {cx, cy, 0, 1}, std::sqrt(2.0) / 2, {x, y, 0, 1},
              std::numbers::pi * CORNER_RADIUS / 2);
}

} // namespace

part_outline plate_outline() {
    part_outline o;
    o.curve.deg = 2;
    o.curve.dim = 2;
    o.curve.points.push_back({60, 0, 0, 1});
    add_line(o, 110, 0);
    add_arc(o, 120, 0, 120, 10);
    add_line(o, 120, 70);
    add_arc(o, 120, 80, 110, 80);
    add_line(o, 70, 80);
    add_line(o, 70, 65); // the slot, sharp corners
    add_line(o, 50, 65);
    add_line(o, 50, 80);
    add_line(o, 10, 80);
    add_arc(o, 0, 80, 0, 70);
    add_line(o, 0, 10);
    add_arc(o, 0, 0, 10, 0);
    add_line(o, 60, 0);
    std::vector<double> &k = o.curve.knots;
    k = {0, 0, 0};
    for (std::size_t i = 0; i + 1 < o.joints.size(); ++i)
        k.insert(k.end(), 2, o.joints[i]);
    k.insert(k.end(), 3, o.length);
    return o;
}

} // namespace nurbs_interp
