// The benchmark curve's design, a five-petal flower: round lobes with S-shaped flanks, joined
// by sharp notches. The path is closed and never crosses itself.
//
// The shape is given by its curvature as a function of arc length sigma (its intrinsic
// equation), so every property is set directly: a Gaussian bump of curvature turns the path by
// a chosen angle over a chosen width. Per petal of path length P:
//   notch at P/4:   turn -NOTCH_TURN (a right-hand return), width NOTCH_W: radius of curvature
//                   1.74 mm at its apex
//   lobe at 3P/4:   turn 2*pi/5 + NOTCH_TURN (the round end of the petal), width LOBE_W
//   flanks:         curvature FLANK_K * sin(2*pi*(sigma - P/4)/P), bowing the petals
// The five petals are identical and turn 5*(2*pi/5) = 2*pi, so the flower closes on itself.
// The heading is a sum of erf terms and a cosine, exact in closed form; positions are
// integrated by Gauss-Legendre.
//
// Control points are the flower's points at arc lengths sigma(tau_i), tau_i the Greville
// abscissae of the clamped uniform knots in knot-span units (0, 1/3, 1, 2, ..., m-1, m-1/3, m),
// so that the clamped ends do not change the parameter speed. The control spacing d = dsigma/dtau
// is a smooth periodic function of the knot-span index, one period per petal:
//   d = D exp(SPACING_A1 cos(theta) + SPACING_A2 cos(2 theta)),
// theta = 0 at a notch and pi at a lobe,
// so the spacing is closest at the lobes (the slowest parameter speed), about three times as
// wide at the notches and widest on the flanks; |C'(u)| = m d varies by more than 10x.
// What the feedrate correction table has to follow is u(s), and two things make u(s) hard to
// fit: the third derivative of u(s) jumps at every knot (C''' of a cubic is piecewise constant;
// the jump grows with the rate of change of curvature and of the spacing from one span to the
// next), and u(s) bends where the spacing changes quickly per millimetre. Hence the spacing
// changes by at most 4 % per knot span and is nearly uniform over a notch; at the notches,
// where the curvature changes fastest, table pieces cannot reach across a knot, so the notches
// get a wider spacing than the lobes (fewer, longer spans there) and the slow parameter speed
// sits on the lobes, where the curvature changes slowly. Weights vary smoothly with sigma
// within [0.7, 1.3].
#pragma once

#include "core/curve_def.hpp"

namespace nurbs_interp {

// Returns the flower: 2000 control points, degree 3, planar, clamped uniform knots (none
// given), centred on the origin to whole millimetres. Written with %.17g it is the bundled
// curve file, byte for byte.
curve_def flower_curve();

} // namespace nurbs_interp
