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
#include <functional>
#include <string>
#include <vector>

#include "plan/arc_length.hpp"
#include "core/interpolate.hpp" // FCP_PIECE_COEFFS, fcp_horner

namespace nurbs_interp {

// Coefficients per piece (the header's FCP_ORD).
inline constexpr int FCP_TABLE_ORD = FCP_PIECE_COEFFS;

// How well a table follows u(s), measured against the accurate arc length of arc_length.hpp,
// as get_u_FCP uses it: a step that starts on piece j takes piece j, also where it ends up to
// `reach` (v*T) past the piece's end.
struct fcp_accuracy {
    double max_u_err = 0;        // max |u_table(s) - u(s)| over the samples
    double max_s_err = 0;        // E: max of the error as arc length, |u_table - u| * |C'(u)|,
                                 // mm, over every piece and its reach, joints' reaches aside
    double piece_s_err = 0;      // the same within the pieces only, mm
    double joint_reach_err = 0;  // the same past a joint (a step across it), mm
    int worst_piece = -1;        // piece where max_s_err occurs
    bool worst_past_end = false; // ... in its reach
    double worst_s = 0;          // and its arc length
    double worst_u = 0;          // and its parameter
    double max_mismatch = 0;     // max |piece j at sbrk[j+1] - c5 of piece j+1|
    int mismatch_piece = -1;     // the j of max_mismatch
    double end_err = 0;          // last piece at the last breakpoint, minus 1
};

// Returns the value of piece j at arc length s, evaluated as the interpolator does:
// t = (s - sbrk[j]) / sbrk.back(), Horner's rule from c0.
double fcp_table_eval(const fcp_table &table, int j, double s);

// Called during a fit with the share of the work done (0..1, an estimate).
using fit_progress = std::function<void(double)>;

// Fits a table of `brk_len` breakpoints (>= 2) to the curve of `arc`. The last breakpoint is
// `total_length` (the curve's length); the others lie on the accurate arc-length scale. Each
// piece is the quintic Hermite interpolant of u, du/ds = 1/|C'| and d2u/ds2 = -(C'.C'')/|C'|^4
// at both its ends, so the table is C2 across breakpoints except at joints (joints.hpp), where
// each side takes the data from its own side and a breakpoint stands on every joint. The rest
// are placed greedily, each piece as long as a common bound on its error as arc length allows:
// |u_table - u| |C'| in mm, checked at 15 interior points evenly spaced in u and at 4 points
// over `reach` mm past its end (a step of v*T that starts on a piece takes that piece to its
// end, as get_u_FCP does), joints and the curve's end aside. The bound is the smallest that
// brk_len - 1 pieces meet, found to within 0.2 % by a search that models the piece count as
// proportional to bound^(-1/6) (a quintic piece's error grows as the sixth power of its
// length). When it met the bound with fewer pieces, pieces are split (the longest first) where
// the halves stay within the table's largest error. Simple knots get no breakpoint of their own: a piece ending on one would take the
// jump of u''' there into its reach. Bounded work: at most FIT_MAX_PASSES placements of at
// most 2 (brk_len - 1) pieces, each piece in at most FIT_MAX_TRIALS trials. Throws
// std::runtime_error when the joints need more pieces than brk_len - 1, or no bound is met.
fcp_table fcp_fit(const arc_table &arc, double total_length, int brk_len, double reach,
                  const fit_progress &progress = {});

inline constexpr int FIT_MAX_PASSES = 60;
inline constexpr int FIT_MAX_TRIALS = 40;
// The search for the bound stops at this share of the length: below it the error is rounding.
inline constexpr double FIT_BOUND_FLOOR = 1e-14;

// Measures `table` against the accurate arc length at `samples` points of every piece, evenly
// spaced in u between the parameters of its breakpoints (found by inverting the arc length,
// independently of how the table was made), and at samples / 4 (at least 4) points over
// `reach` mm past its end.
fcp_accuracy fcp_measure(const fcp_table &table, const arc_table &arc, int samples, double reach);

// True when every breakpoint and coefficient of `table` is finite.
bool fcp_table_finite(const fcp_table &table);

// Writes the FCP_init header for `table`; `comment` lines (without "// ") go at the top.
// Every number is printed with %.17g, so the same table gives the same bytes.
void fcp_write_header(std::FILE *out, const fcp_table &table,
                      const std::vector<std::string> &comment);

} // namespace nurbs_interp
