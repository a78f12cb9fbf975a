#include "joints.hpp"

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

} // namespace nurbs_interp
