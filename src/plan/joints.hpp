// Joints of a curve: the interior knots where the parametrisation kinks. A knot repeated m times
// in a degree-p curve leaves the curve C^(p-m) there, so at m >= p - 1 the first or second
// derivative may jump: |C'| or its rate of change, and with them u(s)' or u(s)'', change
// abruptly although the curve itself may be smooth (every full circle written as a NURBS has
// such knots). The table fitter puts a breakpoint on each; the comparison steps across them.
#pragma once

#include <vector>

#include "core/geometric.hpp"
#include "core/nurbs.hpp"

namespace nurbs_interp {

// Returns the joints of a loaded curve: its distinct interior knots (strictly between 0 and 1)
// repeated at least deg - 1 times, ascending.
std::vector<double> curve_joints(const nurbs_curve &curve);

// Evaluates the curve at the knot u on the span that ends there (the evaluator itself takes the
// one that starts there): the point and C', C'', C''' from the left, as nurbs_deBoor_eval
// writes them (any of d1, d2, d3 may be null, a higher one only with the lower ones).
void eval_left_of_knot(nurbs_curve *curve, double u, cart_point *P, cart_point *d1, cart_point *d2,
                       cart_point *d3);

// Returns the corners of a loaded curve: its distinct interior knots where the tangent turns
// (its directions on either side differ by more than CORNER_TURN rad, or C' vanishes on a side:
// a reversal), as parameters, ascending. No feed through a corner keeps the axis accelerations
// finite: a plan with axis limits comes to rest there.
std::vector<double> curve_corners(nurbs_curve *curve);

inline constexpr double CORNER_TURN = 1e-6;

// A joint where the curvature vector C_ss (the second derivative by arc length) jumps: an arc
// meeting a line or another radius, tangent but not curvature continuous.
struct curvature_jump {
    double u;      // the joint's parameter
    cart_point dk; // C_ss on its right minus C_ss on its left, 1/mm
};

// Returns the joints of a loaded curve that are not corners, each with the jump of C_ss there
// (rounding where the curvature is continuous), ascending.
std::vector<curvature_jump> curvature_jumps(nurbs_curve *curve);

} // namespace nurbs_interp
