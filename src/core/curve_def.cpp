#include "curve_def.hpp"

#include <cmath>   // isfinite
#include <utility> // move

namespace nurbs_interp {

std::string curve_def_problem(const curve_def &c, std::size_t *at) {
    *at = 0;
    if (c.deg < 2 || c.deg > NURBS_MAX_DEGREE)
        return "degree " + std::to_string(c.deg) + " is outside 2.." +
               std::to_string(NURBS_MAX_DEGREE);
    if (c.dim != 2 && c.dim != 3) return "dimension " + std::to_string(c.dim) + " is not 2 or 3";
    if (c.points.size() < c.deg + 1)
        return std::to_string(c.points.size()) +
               " control points are fewer than degree + 1 = " + std::to_string(c.deg + 1);
    if (std::string too_many = record_size_problem(c.points.size(), c.deg); !too_many.empty())
        return too_many;
    for (std::size_t i = 0; i < c.points.size(); ++i) {
        *at = i;
        const nurbs_ctrl_pt &p = c.points[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || (c.dim == 3 && !std::isfinite(p.z)))
            return "control point " + std::to_string(i + 1) +
                   " has a coordinate that is not finite";
        if (!(p.w > 0) || !std::isfinite(p.w))
            return "control point " + std::to_string(i + 1) + " has a weight that is not positive";
    }
    *at = 0;
    if (c.knots.empty()) return "";
    if (c.knots.size() != c.points.size() + c.deg + 1) {
        *at = c.knots.size();
        return std::to_string(c.knots.size()) + " knots for " + std::to_string(c.points.size()) +
               " control points of degree " + std::to_string(c.deg) + "; it takes " +
               std::to_string(c.points.size() + c.deg + 1);
    }
    return knot_vector_problem(c.knots, c.deg, at);
}

std::vector<double> curve_def_knots(const curve_def &c) {
    if (!c.knots.empty()) return c.knots;
    // The loader's own knots: those of a record of these counts.
    nurbs_curve r;
    r.deg = c.deg;
    r.ncp = static_cast<std::uint32_t>(c.points.size());
    r.nk = r.ncp + r.deg + 1;
    r.knots.resize(r.nk);
    r.knots_1d.resize(r.nk - 2);
    r.knots_2d.resize(r.nk - 4);
    r.knots_3d.resize(r.nk - 6);
    knot_setup_uniform(&r);
    return std::move(r.knots);
}

void nurbs_curve_alloc_def(const curve_def &def, nurbs_curve *curve) {
    std::size_t at = 0;
    if (std::string problem = curve_def_problem(def, &at); !problem.empty())
        throw curve_def_error(problem, at);
    std::vector<double> unit;
    if (!def.knots.empty()) {
        unit = knots_on_unit_interval(def.knots, def.deg);
        if (!knot_vector_problem(unit, def.deg, &at).empty())
            throw curve_def_error(KNOTS_MERGED_ON_UNIT, at);
    }
    // A planar file states no z: its points are read with z = 0.
    std::vector<nurbs_ctrl_pt> points = def.points;
    if (def.dim == 2)
        for (nurbs_ctrl_pt &p : points)
            p.z = 0.0;
    *curve = nurbs_curve_prepare(std::move(points), def.deg, unit);
}

} // namespace nurbs_interp
