// Building the feedrate correction table of a curve: a piecewise quintic u(s) in the layout of
// the FCP_init header, its fit, its accuracy and the header text.
//
// Layout: breakpoints sbrk[0] = 0 < ... < sbrk[B-1] = total length; piece j covers
// sbrk[j] <= s < sbrk[j+1] and holds c0..c5, highest power first, of
//   u = c0 t^5 + c1 t^4 + c2 t^3 + c3 t^2 + c4 t + c5,  t = (s - sbrk[j]) / sbrk[B-1],
// with c5 the parameter at sbrk[j].
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "arc_length.hpp"
#include "interpolate.hpp" // FCP_PIECE_COEFFS, fcp_horner

namespace nurbs_interp {

// Coefficients per piece (the header's FCP_ORD).
inline constexpr int FCP_TABLE_ORD = FCP_PIECE_COEFFS;

// How well a table follows u(s), measured against the accurate inversion of arc_inverse.
struct fcp_accuracy {
    double max_u_err = 0;    // max |u_table(s) - u(s)| over the samples
    double max_s_err = 0;    // max of the error as arc length, |u_table - u| * |C'(u)|, mm
    int worst_piece = -1;    // piece where max_s_err occurs
    double worst_s = 0;      // and its arc length
    double max_mismatch = 0; // max |piece j at sbrk[j+1] - c5 of piece j+1|
    int mismatch_piece = -1; // the j of max_mismatch
    double end_err = 0;      // last piece at the last breakpoint, minus 1
};

// Returns the value of piece j at arc length s, evaluated as the interpolator does:
// t = (s - sbrk[j]) / sbrk.back(), Horner's rule from c0.
double fcp_table_eval(const fcp_table &table, int j, double s);

// Fits a table of `brk_len` breakpoints (>= 2) to the curve of `arc`. The last breakpoint is
// `total_length` (the length the driver measures); the others are placed on the accurate
// arc-length scale. Each piece is the quintic Hermite interpolant of u, du/ds = 1/|C'| and
// d2u/ds2 = -(C'.C'')/|C'|^4 at both its ends, so the table is C2 across breakpoints.
// Breakpoints are placed greedily, each piece as long as a common bound on its arc-length
// error |u_table - u| |C'| (mm, checked at 15 interior points) allows; the bound is the
// smallest, found by bisection, that brk_len - 1 pieces can meet. Throws std::runtime_error
// when no bound up to 1e24 times the length is met.
fcp_table fcp_fit(const arc_table &arc, double total_length, int brk_len);

// Measures `table` against the accurate inversion at `samples` + 1 evenly spaced points of
// every piece (ends included).
fcp_accuracy fcp_measure(const fcp_table &table, const arc_table &arc, int samples);

// True when every breakpoint and coefficient of `table` is finite.
bool fcp_table_finite(const fcp_table &table);

// Writes the FCP_init header for `table`; `comment` lines (without "// ") go at the top.
// Every number is printed with %.17g, so the same table gives the same bytes.
void fcp_write_header(std::FILE *out, const fcp_table &table,
                      const std::vector<std::string> &comment);

} // namespace nurbs_interp
