// What a feedrate correction table was made for: the curve's control-point count, degree and a
// checksum of its knots and control points as loaded, and its accurate length. A table follows
// u(s) of one curve only; on any other it sends the tool to the wrong parameters.
#pragma once

#include <cstdint>
#include <string>

#include "nurbs.hpp" // nurbs_curve

namespace nurbs_interp {

struct curve_identity {
    std::uint32_t points = 0;   // control points
    std::uint32_t degree = 0;   //
    std::uint64_t checksum = 0; // curve_checksum
    double length = 0;          // the accurate arc length, mm (said, not compared here)
};

// Returns the 64-bit FNV-1a hash of the bytes of a loaded curve's degree, control-point count,
// knot vector and homogeneous control points (x w, y w, z w, w), in this order: the same for
// the same file on any machine with IEEE doubles of one byte order, different (but for a
// collision) when any number that shapes the curve differs by a bit.
std::uint64_t curve_checksum(const nurbs_curve &curve);

// Returns `length` with the count, degree and checksum of `curve`.
curve_identity identity_of(const nurbs_curve &curve, double length);

// Returns "" when `curve` is the curve `made_for` describes (count, degree and checksum equal),
// else how they differ ("2000 points, degree 3, checksum 0x...; this curve: 9 points, ...").
std::string identity_mismatch(const curve_identity &made_for, const nurbs_curve &curve);

} // namespace nurbs_interp
