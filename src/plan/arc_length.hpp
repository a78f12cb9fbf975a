// Arc length s(u) and its inverse u(s): the one length every tool prints and uses.
//
// Each non-empty knot span is integrated on its own: inside a span the speed |C'(u)| is a
// smooth rational function, while at a knot it may kink or jump, and a rule laid across the
// whole curve can be fooled by its symmetry (a full circle's four quarters make the first step
// of a whole-interval Simpson rule agree with itself). Inside a span the quadrature adapts to
// the integrand: the span starts in ARC_MIN_PARTS equal parts, each integrated by the 15-point
// Gauss-Kronrod rule with the embedded 7-point Gauss rule as its error estimate, and the part
// with the largest estimate is halved until the estimates sum to at most ARC_REL_TOL of the
// span's length (a fixed-order rule per span is what strong weights defeat: the speed then
// peaks sharply inside a span). The parts a span ends up with are its partition; a length to a
// parameter inside a part is the 15-point rule from the part's start, which is at least as
// accurate there as on the whole part.
//
// Not the driver's quadrature (adaptiveSimpsons over [0, 1]), which keeps its own algorithm
// and is only compared with this one.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <limits>
#include <vector>

#include "core/nurbs.hpp"

namespace nurbs_interp {

// The error estimates of a span's parts sum to at most this share of its length.
inline constexpr double ARC_REL_TOL = 1e-13;
// A span shorter than this share of the largest coordinate of its control points is held to
// ARC_REL_TOL of that share instead of its own length (the rounding of its points is no
// smaller).
inline constexpr double ARC_SCALE_FLOOR = 1e-3;
// Parts a span starts in.
inline constexpr int ARC_MIN_PARTS = 4;
// A part this narrow (as a share of its span) is not halved again: the evaluation's rounding
// leaves nothing to resolve below it. Its estimate is its chord, and its span is counted in
// arc_table::unconverged.
inline constexpr double ARC_MIN_PART = 1e-13;
// A part at a span's end whose estimate falls short of its inscribed polygon by more than this
// share of the polygon has missed part of the curve (see arc_length.cpp).
inline constexpr double ARC_SHORTFALL = 0.01;
// Parts a span may be cut into at the most; a span that needs more is left at the accuracy
// reached (counted in arc_table::unconverged).
inline constexpr int ARC_MAX_PARTS = 4096;

// A parameter interval cut into the parts on which the quadrature converged.
struct span_partition {
    std::size_t span = std::numeric_limits<std::size_t>::max(); // index of its arc_table span
    std::vector<double> u; // part ends, ascending: u.front() and u.back() are the interval's ends
    std::vector<double> s; // arc length from u.front() to u[i]; s.back() is the interval's length
    double error = 0;      // the sum of the parts' error estimates, mm
    bool converged = true; // the estimates met ARC_REL_TOL within ARC_MAX_PARTS parts
};

// Cumulative arc length at the distinct knots of a loaded curve, and the partitions of recently
// used spans. Not for concurrent use (the partitions are cached as they are asked for).
struct arc_table {
    nurbs_curve *curve = nullptr;
    std::vector<double> u_knot;  // distinct knots, 0 = u_knot[0] < ... < u_knot.back() = 1
    std::vector<double> s_knot;  // arc length from u = 0 to each of them
    double error = 0;            // sum of every span's error estimate, mm
    std::size_t unconverged = 0; // spans left short of ARC_REL_TOL
    mutable std::array<span_partition, 64> cache; // span k's partition in slot k % 64
};

// Returns the adaptive partition of [u0, u1], an interval inside one knot span of `curve`.
span_partition partition_span(nurbs_curve *curve, double u0, double u1);

// Returns the arc length of the curve between the parameters a <= b of one knot span.
double arc_length_in_span(nurbs_curve *curve, double a, double b);

// Fills `tab` for `curve`, which must stay loaded while the table is used. `progress`, when
// given, is called with the share of spans done (0..1) about a hundred times.
void arc_table_build(nurbs_curve *curve, arc_table *tab,
                     const std::function<void(double)> &progress = {});

// Returns the total length of the curve (the last entry of s_knot).
double arc_table_length(const arc_table &tab);

// Returns the partition of span k (0 <= k < u_knot.size() - 1), computed on first use.
const span_partition &arc_span_partition(const arc_table &tab, std::size_t k);

// Returns the index of the span holding u (the last one for u >= 1, the first for u <= 0).
std::size_t arc_span_of(const arc_table &tab, double u);

// Returns the arc length from u = 0 to u (u clamped to [0, 1]).
double arc_length_to(const arc_table &tab, double u);

// Returns the parameter u with arc_length_to(tab, u) = s, by safeguarded Newton iteration
// inside the part of the span that holds s. s at or beyond the ends gives 0 or 1.
double arc_param_at(const arc_table &tab, double s);

} // namespace nurbs_interp
