// A method of one's own, run by interp_compare and interp_suite beside the built-in ones: the
// classical fourth-order Runge-Kutta step of du/ds = 1 / |C'(u)| over the arc step v*T.
//
// The parameter after an arc length h from u solves du/ds = 1/|C'(u)|; four evaluations of the
// speed |C'| per servo period give u + h/6 (k1 + 2 k2 + 2 k3 + k4), exact to O(h^5). The
// curve is evaluated through the routines the program hands over (in->curve), so this file
// needs nothing but nurbs_method.h.
#include <cmath>

#include "nurbs_method.h"

namespace {

// Returns 1 / |C'(u)|: du/ds at u.
double du_ds(const nurbs_method_curve *c, double u) {
    double d1[3];
    c->eval(c->curve, u, nullptr, d1, nullptr, nullptr);
    return 1.0 / std::sqrt(d1[0] * d1[0] + d1[1] * d1[1] + d1[2] * d1[2]);
}

// One servo period: the step of length v*T from in->u. Needs no context and keeps no state.
double rk4_ds_step(void *, const nurbs_method_step *in) {
    const double h = in->v * in->T;
    const nurbs_method_curve *c = in->curve;
    const double k1 = du_ds(c, in->u);
    const double k2 = du_ds(c, in->u + h / 2 * k1);
    const double k3 = du_ds(c, in->u + h / 2 * k2);
    const double k4 = du_ds(c, in->u + h * k3);
    const double u = in->u + h / 6 * (k1 + 2 * k2 + 2 * k3 + k4);
    return u > 1.0 ? 1.0 : u; // as the built-in methods: the curve's end is u = 1
}

const nurbs_method METHODS[] = {{
    .name = "RK4_ds",
    .about = "classical Runge-Kutta of du/ds = 1/|C'| over v*T (four C' per step)",
    .step = rk4_ds_step,
}};

} // namespace

NURBS_METHOD_LIBRARY(METHODS)
