#include "plan/joints.hpp"

#include <cmath> // cos

namespace nurbs_interp {

std::vector<double> curve_joints(const nurbs_curve &curve) {
    std::vector<double> joints;
    const std::uint32_t deg = curve.deg, first = deg + 1, end = curve.ncp; // interior: [first, end)
    for (std::uint32_t i = first; i < end;) {
        std::uint32_t run = 1;
        while (i + run < end && curve.knots[i + run] == curve.knots[i])
            ++run;
        if (run + 1 >= deg && curve.knots[i] > 0 && curve.knots[i] < 1)
            joints.push_back(curve.knots[i]);
        i += run;
    }
    return joints;
}

void eval_left_of_knot(nurbs_curve *curve, double u, cart_point *P, cart_point *d1, cart_point *d2,
                       cart_point *d3) {
    int k = nurbs_find_span(int(curve->ncp), int(curve->deg), u, curve->knots.data());
    while (k > int(curve->deg) && !(curve->knots[k - 1] < curve->knots[k]))
        --k;
    nurbs_deBoor_eval(u, k - 1, curve, P, d1, d2, d3);
}

std::vector<double> curve_corners(nurbs_curve *curve) {
    std::vector<double> corners;
    for (std::uint32_t i = curve->deg + 1; i < curve->ncp; ++i) {
        const double u = curve->knots[i];
        if (u == curve->knots[i - 1] || !(u > 0 && u < 1)) continue;
        cart_point P, left, right;
        eval_left_of_knot(curve, u, &P, &left, nullptr, nullptr);
        nurbs_deBoor_eval(u, -1, curve, &P, &right, nullptr, nullptr);
        const double c = dotprod(&left, &right) / (modulus(&left) * modulus(&right));
        if (!(c >= std::cos(CORNER_TURN))) corners.push_back(u);
    }
    return corners;
}

} // namespace nurbs_interp
