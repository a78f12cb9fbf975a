// Measured properties of a curve, for the reports of the tools: weights, length, and the ranges
// of the radius of curvature and of the parameter speed: sampled evenly in every knot span, the
// smallest radius and both speed extremes then refined between the samples.
#pragma once

#include "core/nurbs.hpp"

namespace nurbs_interp {

struct curve_survey {
    double wmin = 0, wmax = 0;   // weights of the control points
    double length = 0;           // the accurate arc length (arc_length.hpp), mm
    double rmin = 0, u_rmin = 0; // smallest radius of curvature, mm, and where (refined)
    double rmax = 0, u_rmax = 0; // largest (capped at 1e13 on straight stretches), and where
                                 // (sampled only)
    double vmin = 0, vmax = 0;   // parameter speed |C'(u)|, mm per unit u (refined)
    long samples = 0;            // parameters evaluated, refinement included
};

// Returns the survey of `curve` at `per_span` evenly spaced parameters per knot span (u = 0
// and 1 included, and each span's end from inside it, where a joint's left side differs).
// Radius of curvature is curvature_rad_at_point of C' and C'' (all three coordinates), speed
// |C'(u)|. The smallest radius, the smallest and the largest speed are refined by golden-section
// search between the neighbours of the SURVEY_REFINE best sampled local extremes (an extreme
// between two samples is missed by up to a few percent at 64 samples a span).
curve_survey survey_curve(nurbs_curve *curve, int per_span);

inline constexpr int SURVEY_REFINE = 4;

} // namespace nurbs_interp
