// The outline of a machined plate as one clamped rational NURBS curve of degree 2 (make_part
// writes it as a G-code program and as a DXF drawing).
//
// The plate, in mm, in the XY plane, traced counter-clockwise from the middle of its bottom
// edge (60, 0), where the curve starts and ends:
//
//     (0,80) +--------------+    +--------------+ (120,80)      corners: quarter circles of
//            |     (50,80)  |    |  (70,80)     |                radius 10 about (110,10),
//            |              +----+              |                (110,70), (10,70), (10,10)
//            |       (50,65)      (70,65)       |              slot: 20 wide, 15 deep, sharp
//            |                                  |                corners
//     (0,0)  +----------------*-----------------+ (120,0)      * start and end (60, 0)
//
// Each straight edge is one degree-2 piece with its middle control point half-way along the
// edge (weight 1), so it is traced at constant speed. Each corner is an exact quarter circle:
// the control points are the arc's ends and the meeting point of its end tangents, the middle
// one with weight sqrt(2)/2. Pieces meet at doubled knots (multiplicity 2 = degree): the curve
// interpolates the joint, tangent-continuous where an edge meets an arc and with a real corner
// (the tangent jumps) at the four slot corners. The knots are the arc length at each joint
// (edges exact, arcs 5*pi), so the parameter runs over [0, 412.83...] about as the length does.
#pragma once

#include <vector>

#include "core/curve_def.hpp"

namespace nurbs_interp {

// The outline and the arc length at the end of each of its pieces.
struct part_outline {
    curve_def curve;
    std::vector<double> joints; // arc length at the end of each piece
    double length = 0;
};

// Returns the plate outline drawn at the top of this file; the knots are doubled at every
// joint and tripled at both ends.
part_outline plate_outline();

} // namespace nurbs_interp
