// Curves with known answers, for tests and benches: exact circles and conics whose lengths
// have closed forms, a stadium, strongly weighted cubics, a smooth random cubic and a single
// span of the highest degree.
#pragma once

#include "core/curve_def.hpp"

namespace nurbs_interp {

// The full circle of radius R as nine points (weights 1 and sqrt(2)/2 alternating, degree 2,
// knots 0,0,0,1,1,2,2,3,3,4,4,4: the usual way), in the plane z = 0 tilted by `tilt` radians
// about the x axis.
curve_def circle9(double R, double tilt = 0);

// The ellipse with semi-axes a and b: the nine-point circle stretched (an affine image of a
// rational curve is the rational curve of the images).
curve_def ellipse9(double a, double b);

// The full circle of radius R as seven points: the three tangent points at -90, 30 and 150
// degrees (weight 1) and the corners of the circumscribed triangle between them (weight 1/2).
curve_def circle7(double R);

// A stadium: two straight edges of length L joined by half circles of radius R (each two
// quarter arcs), degree 2, doubled knots at every joint. Length 2 pi R + 2 L.
curve_def stadium(double R, double L);

// A cubic zigzag of n points 10 mm apart in x whose weights alternate hi and 1/hi, starting
// with hi (so that both ends are heavy when n is odd).
curve_def alternating_weights(int n, double hi);

// A smooth random cubic of n points: a random walk of steps 20..35 mm turning by at most 35
// degrees, weights in [0.8, 1.25], and a non-uniform knot vector (spans 0.5..1.5 units, no
// interior knot repeated).
curve_def random_cubic(int n, unsigned seed);

// A single-span curve of degree 25: 26 points on a widening spiral, weights 1 +- 0.3.
curve_def degree25();

} // namespace nurbs_interp
