// A curve as points, weights and knots: what a curve file states, what the importers read from
// other formats and what a program builds in memory; its check, and the loaded record made
// from it in memory, the same record, bit for bit, as loading a file of the same numbers.
#pragma once

#include <cstddef>   // size_t
#include <cstdint>   // the degree and dimension
#include <stdexcept> // curve_def_error
#include <string>
#include <vector>

#include "nurbs.hpp" // nurbs_ctrl_pt, nurbs_curve

namespace nurbs_interp {

// A curve definition: Cartesian control points with their weights, and the knots as given
// (any clamped range: loading maps them onto [0, 1]), or none for the clamped uniform knot
// vector (a curve file without K lines).
struct curve_def {
    std::uint32_t deg = 3;
    std::uint32_t dim = 2;             // 2: planar, z taken as 0 (and not written to a file)
    std::vector<nurbs_ctrl_pt> points; // x, y, z as they are (not multiplied by w), weight w
    std::vector<double> knots;         // points.size() + deg + 1 values, or empty
};

// Why a definition does not make a curve: the problem, and the index of the point or knot
// it concerns (0 when it concerns the curve as a whole).
struct curve_def_error : std::runtime_error {
    std::size_t at;
    curve_def_error(const std::string &problem, std::size_t index)
        : std::runtime_error(problem), at(index) {}
};

// Returns what keeps `c` from being a curve (empty: nothing), the checks an importer makes:
// the degree (2 to NURBS_MAX_DEGREE), the dimension, the counts (at least deg + 1 points, and
// few enough for the record's 32-bit counts), a coordinate that is not finite (z only in
// dimension 3), a weight that is not positive and finite, and a given knot vector (its count,
// then knot_vector_problem). `*at` receives the index of the point or knot concerned.
std::string curve_def_problem(const curve_def &c, std::size_t *at);

// Returns the knots of `c` as given, or when none are given the clamped uniform vector the
// loader makes (knot_setup_uniform's values) for a writer whose format must state them.
// Assumes at least deg + 1 points.
std::vector<double> curve_def_knots(const curve_def &c);

// Loads `def` into `curve` as nurbs_curve_alloc_file loads a file stating the same numbers:
// every array and count the same, bit for bit (z is 0 in dimension 2). Throws curve_def_error
// when curve_def_problem finds something, or when given knots fall together once mapped onto
// [0, 1]; nothing is allocated into the record then. A record is loaded once.
void nurbs_curve_alloc_def(const curve_def &def, nurbs_curve *curve);

} // namespace nurbs_interp
