// The length every tool prints and uses: the accurate arc length per knot span of
// arc_length.hpp, built and checked for a tool; and, beside it, the driver's own measurement
// where a tool needs that too (a table's last breakpoint).
#pragma once

#include <string>

#include "plan/arc_length.hpp"

namespace nurbs_interp {

// Builds the arc table of a loaded curve for the tool `tool`, showing "<tool>: measuring <path>
// NN%" on a terminal meanwhile. Throws curve_error naming `path` when the length is not finite
// or not positive. Warns on standard error when a span's quadrature fell short of its
// tolerance (the length is then known only to the error estimate it prints).
void tool_arc_table(nurbs_curve *curve, const std::string &path, const std::string &tool,
                    arc_table *tab);

// Returns the length the driver measures (adaptive Simpson over [0, 1], tolerance 1e-12, depth
// 30) when it agrees with `accurate` to DRIVER_LENGTH_AGREEMENT, else `accurate`, after saying so
// on standard error with both numbers (the driver's single quadrature over the whole curve can be
// fooled: on a full circle written with doubled knots its first step already agrees with itself).
double driver_length_beside(nurbs_curve *curve, double accurate, const std::string &path,
                            const std::string &tool);

inline constexpr double DRIVER_LENGTH_AGREEMENT = 1e-9;

} // namespace nurbs_interp
