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

// A rounded rectangle W x H mm with corner radius R, exactly: degree 2, straight edges of three
// points and quarter arcs (weights 1, sqrt(2)/2, 1), one knot span each with doubled knots
// between (raw knots 0,0,0,1,1,...,7,7,8,8,8). It starts at (R, 0) heading along +x, so its
// first joint lies at s = W - 2R. Length 2 (W - 2R) + 2 (H - 2R) + 2 pi R.
curve_def rounded_rectangle(double W, double H, double R);

// The ellipse with semi-axes a and b in four rational quarter arcs (ellipse9), turned by `turn`
// radians about the origin, on the raw knots 0,0,0,1,1,3,3,4,4,7,7,7 (quarters of 1, 2, 1 and
// 3 units: the parameter speed jumps at every joint).
curve_def ellipse_turned(double a, double b, double turn);

// A jagged random spatial quartic of n points (seeded): a random walk of steps 5..30 mm turning
// by up to 150 degrees and climbing by up to +-15 mm, random weights in [w_lo, w_hi] with both
// bounds taken, non-uniform knots as random_cubic's. Strong weights at sharp turns of the
// polygon make tight bends where the parameter speed changes fast.
curve_def random_quartic_3d(int n, unsigned seed, double w_lo, double w_hi);

// A hairpin: a cubic of nine points, uniform knots, weights 1, along y = 0 out to x = 40 mm,
// round a tight bend and back along y = 2 `half_gap`; a half gap of BEND_HALF_GAP gives a
// smallest radius of curvature of 0.07 mm at the tip, where the parameter speed is lowest.
curve_def tight_bend(double half_gap);
inline constexpr double BEND_HALF_GAP = 0.52915026221291817; // sqrt(0.28)

// A spiral pocket: a planar cubic of n points on the Archimedean spiral r = r0 + pitch
// theta / (2 pi), equally spaced in angle (so the points spread as r grows) over `turns` turns,
// clamped uniform knots, weights 1.
curve_def spiral_pocket(int n, double r0, double pitch, double turns);

} // namespace nurbs_interp
