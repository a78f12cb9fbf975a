// The curves of the comparison suite beside the benchmark flower, as exact definitions: a full
// circle with a non-uniform knot vector, a three-dimensional helix, and a chain of conic arcs
// (ellipse, parabola, hyperbola, circle) joined tangentially.
#pragma once

#include "core/curve_def.hpp"

namespace nurbs_interp {

// The full circle of radius 50 mm about the origin, exactly: degree 2, nine control points
// (weights 1 and sqrt(2)/2 alternating), each quarter on its own knot span, the spans 1, 2, 1
// and 3 units long (raw knots 0,0,0,1,1,3,3,4,4,7,7,7), so that the parameter speed differs
// from quarter to quarter while the curve does not.
curve_def suite_circle();

// A helix of radius 40 mm climbing 10 mm per turn, three turns, as a rational cubic of 120
// control points on the helix at the Greville abscissae of clamped uniform knots (weights
// 1 + 0.2 sin, a smooth rational distortion of the parametrisation).
curve_def suite_helix();

// An open planar chain of four rational quadratic arcs, each on its own span with doubled knots
// between them (raw knot spans proportional to the arcs' chord lengths) and the tangent
// continuous at every joint: an elliptical quarter (semi-axes 60 and 30 mm), a parabolic arc
// (weight 1), a hyperbolic arc (weight 2) and a circular quarter of radius 20 mm.
curve_def suite_conics();

} // namespace nurbs_interp
