// A loaded method over the installed core: get_u_Taylor2 with C' and C'' at u from the
// program's evaluation routines, the built-in Taylor2's step in another library.
#include "interpolate.hpp"
#include "nurbs_method.h"

namespace {

double taylor2_core_step(void *, const nurbs_method_step *in) {
    double d1[3], d2[3];
    in->curve->eval(in->curve->curve, in->u, nullptr, d1, d2, nullptr);
    const cart_point c1{d1[0], d1[1], d1[2]}, c2{d2[0], d2[1], d2[2]};
    return get_u_Taylor2(in->v, in->a, in->u, in->T, &c1, &c2);
}

const nurbs_method METHODS[] = {{
    .name = "Taylor2_core",
    .about = "the installed core's get_u_Taylor2 (v, a; C', C'' from the program's routines)",
    .step = taylor2_core_step,
}};

} // namespace

NURBS_METHOD_LIBRARY(METHODS)
