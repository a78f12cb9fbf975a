// Joints of a curve: the interior knots where the parametrisation kinks. A knot repeated m times
// in a degree-p curve leaves the curve C^(p-m) there, so at m >= p - 1 the first or second
// derivative may jump: |C'| or its rate of change, and with them u(s)' or u(s)'', change
// abruptly although the curve itself may be smooth (every full circle written as a NURBS has
// such knots). The table fitter puts a breakpoint on each; the comparison steps across them.
#pragma once

#include <vector>

#include "nurbs.hpp"

namespace nurbs_interp {

// Returns the joints of a loaded curve: its distinct interior knots (strictly between 0 and 1)
// repeated at least deg - 1 times, ascending.
std::vector<double> curve_joints(const nurbs_curve &curve);

} // namespace nurbs_interp
