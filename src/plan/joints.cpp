#include "plan/joints.hpp"

#include <algorithm> // binary_search
#include <cmath>     // cos

#include "plan/machine.hpp" // path_frame_at

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

std::vector<curvature_jump> curvature_jumps(nurbs_curve *curve) {
    std::vector<curvature_jump> jumps;
    const std::vector<double> corners = curve_corners(curve);
    for (double u : curve_joints(*curve)) {
        if (std::binary_search(corners.begin(), corners.end(), u)) continue;
        cart_point P, l1, l2, l3, r1, r2, r3;
        eval_left_of_knot(curve, u, &P, &l1, &l2, &l3);
        nurbs_deBoor_eval(u, -1, curve, &P, &r1, &r2, &r3);
        const cart_point left = path_frame_at(l1, l2, l3).k, right = path_frame_at(r1, r2, r3).k;
        jumps.push_back({u, {right.x - left.x, right.y - left.y, right.z - left.z}});
    }
    return jumps;
}

} // namespace nurbs_interp
