// Writing a curve file: a curve as control points, weights and a knot vector of its own, as
// the importers read it from other formats, printed so that it reads back exactly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace nurbs_interp {

// A curve as a file states it: Cartesian control points with weights, the knots as given (any
// clamped range; the loader maps them onto [0, 1]).
struct curve_def {
    std::uint32_t deg = 3;
    std::uint32_t dim = 2; // 2: z is 0 and not written
    struct point {
        double x = 0, y = 0, z = 0, w = 1;
    };
    std::vector<point> points;
    std::vector<double> knots; // points.size() + deg + 1 values
};

// Returns what keeps `c` from being a curve the loader takes (empty: nothing): the degree, the
// counts, a non-finite or non-positive weight, a non-finite coordinate, or the knot vector
// (knot_vector_problem). `*at` receives the index of the point or knot concerned.
std::string curve_def_problem(const curve_def &c, std::size_t *at);

// Writes `c` as a curve file: the header, one "K%.17g" line per knot, one point line per
// control point (%.17g: every value reads back to the same double). False on a write error.
bool curve_file_write(std::FILE *out, const curve_def &c);

// Returns the text curve_file_write writes for `c`; throws std::bad_alloc.
std::string curve_file_text(const curve_def &c);

} // namespace nurbs_interp
