// Measured properties of a curve, for the reports of the tools: weights, length, and the ranges
// of the radius of curvature and of the parameter speed, sampled evenly in every knot span.
#pragma once

#include "core/nurbs.hpp"

namespace nurbs_interp {

struct curve_survey {
    double wmin = 0, wmax = 0;   // weights of the control points
    double length = 0;           // the accurate arc length (arc_length.hpp), mm
    double rmin = 0, u_rmin = 0; // smallest radius of curvature, mm, and where
    double rmax = 0, u_rmax = 0; // largest (capped at 1e13 on straight stretches), and where
    double vmin = 0, vmax = 0;   // parameter speed |C'(u)|, mm per unit u
    long samples = 0;            // parameters sampled
};

// Returns the survey of `curve` at `per_span` evenly spaced parameters per knot span (u = 0
// and 1 included). Radius of curvature is curvature_rad_at_point of C' and C'' (all three
// coordinates), speed |C'(u)|.
curve_survey survey_curve(nurbs_curve *curve, int per_span);

} // namespace nurbs_interp
