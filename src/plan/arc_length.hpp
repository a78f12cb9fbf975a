// Accurate arc length s(u) and its inverse u(s) for the tools that build and check inputs.
// Gauss-Legendre quadrature inside each knot span, where the speed |C'(u)| is smooth, gives
// the length to within a few units of the last place; Newton's method inverts it. This is
// the reference that the feedrate correction table is fitted to and measured against; it is
// not the driver's quadrature (adaptiveSimpsons), which it only has to agree with closely.
#pragma once

#include <vector>

#include "nurbs.hpp"

namespace nurbs_interp {

// Cumulative arc length at the distinct knots of a loaded curve.
struct arc_table {
    nurbs_curve *curve = nullptr;
    std::vector<double> u_knot; // distinct knots, 0 = u_knot[0] < ... < u_knot.back() = 1
    std::vector<double> s_knot; // arc length from u = 0 to each of them
};

// Fills `tab` for `curve`, which must stay loaded while the table is used.
void arc_table_build(nurbs_curve *curve, arc_table *tab);

// Returns the total length of the curve (the last entry of s_knot).
double arc_table_length(const arc_table &tab);

// Returns the arc length of the curve between the parameters a <= b of one knot span.
double arc_length_in_span(nurbs_curve *curve, double a, double b);

// Returns the arc length from u = 0 to u (u clamped to [0, 1]).
double arc_length_to(const arc_table &tab, double u);

// Returns the parameter u with arc_length_to(tab, u) = s, by safeguarded Newton iteration
// inside the knot span that holds s. s at or beyond the ends gives 0 or 1.
double arc_param_at(const arc_table &tab, double s);

} // namespace nurbs_interp
