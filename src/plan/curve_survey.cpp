#include "plan/curve_survey.hpp"

#include <algorithm> // min, max
#include <cmath>     // HUGE_VAL

#include "plan/arc_length.hpp"

namespace nurbs_interp {

curve_survey survey_curve(nurbs_curve *curve, int per_span) {
    curve_survey r;
    arc_table tab;
    arc_table_build(curve, &tab);
    r.length = arc_table_length(tab);
    r.wmin = r.rmin = r.vmin = HUGE_VAL;
    r.wmax = r.rmax = r.vmax = -HUGE_VAL;
    for (const nurbs_ctrl_pt &c : curve->control_points) {
        r.wmin = std::min(r.wmin, c.w);
        r.wmax = std::max(r.wmax, c.w);
    }
    auto sample = [&](double u) {
        cart_point P, d1, d2;
        nurbs_deBoor_eval(u, -1, curve, &P, &d1, &d2, nullptr);
        const double rho = curvature_rad_at_point(&d1, &d2);
        if (rho < r.rmin) {
            r.rmin = rho;
            r.u_rmin = u;
        }
        if (rho > r.rmax) {
            r.rmax = rho;
            r.u_rmax = u;
        }
        const double v = modulus(&d1);
        r.vmin = std::min(r.vmin, v);
        r.vmax = std::max(r.vmax, v);
        ++r.samples;
    };
    // Every non-empty knot span, from its start (its end is the next span's start).
    for (std::uint32_t i = curve->deg; i < curve->ncp; ++i) {
        const double u0 = curve->knots[i], u1 = curve->knots[i + 1];
        if (!(u1 > u0)) continue;
        for (int k = 0; k < per_span; ++k)
            sample(u0 + (u1 - u0) * (double(k) / per_span));
    }
    sample(1.0);
    return r;
}

} // namespace nurbs_interp
