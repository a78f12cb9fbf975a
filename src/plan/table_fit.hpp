// Building the feedrate correction table of a curve: a piecewise quintic u(s) in the layout of
// the FCP_init header, its fit, its accuracy and the header text.
//
// Layout: breakpoints sbrk[0] = 0 < ... < sbrk[B-1] = total length; piece j covers
// sbrk[j] <= s < sbrk[j+1] and holds c0..c5, highest power first, of
//   u = c0 t^5 + c1 t^4 + c2 t^3 + c3 t^2 + c4 t + c5,  t = (s - sbrk[j]) / sbrk[B-1],
// with c5 the parameter at sbrk[j].
//
// A table's error E is the true arc-length miss S(u_table(s)) - s, S the accurate arc length
// of arc_length.hpp: how far from s the tool stands when the table sends it to u_table(s). The
// driver re-bases every step on the true travelled length, so a step misses v*T by E at the
// step's end. get_u_FCP takes the piece the step starts on, also where the step ends up to
// v*T (the reach) past the piece's end, so E covers every piece and its reach.
#pragma once

#include <array>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "plan/arc_length.hpp"
#include "core/curve_identity.hpp" // what the header says the table was made for
#include "core/interpolate.hpp"    // FCP_PIECE_COEFFS, fcp_horner

namespace nurbs_interp {

// Coefficients per piece (the header's FCP_ORD).
inline constexpr int FCP_TABLE_ORD = FCP_PIECE_COEFFS;

// How well a table follows u(s), as get_u_FCP uses it: a step that starts on piece j takes
// piece j, also where it ends up to `reach` (v*T) past the piece's end. Errors are the true
// arc-length miss |S(u_table(s)) - s| in mm.
struct fcp_accuracy {
    double max_u_err = 0;        // max |u_table(s) - u(s)|, as the miss over |C'| there
    double max_s_err = 0;        // E: the largest miss over every piece and its reach, joints'
                                 // reaches aside, mm
    double piece_s_err = 0;      // the same within the pieces only, mm
    double joint_reach_err = 0;  // the same past a joint (a step across it), mm
    int worst_piece = -1;        // piece where max_s_err occurs
    bool worst_past_end = false; // ... in its reach
    double worst_s = 0;          // and its arc length
    double worst_u = 0;          // and the table's parameter there
    double max_mismatch = 0;     // max |piece j at sbrk[j+1] - c5 of piece j+1|
    int mismatch_piece = -1;     // the j of max_mismatch
    double end_err = 0;          // last piece at the last breakpoint, minus 1
};

// Returns the value of piece j at arc length s, evaluated as the interpolator does:
// t = (s - sbrk[j]) / sbrk.back(), Horner's rule from c0.
double fcp_table_eval(const fcp_table &table, int j, double s);

inline constexpr int FIT_MAX_PASSES = 60;
inline constexpr int FIT_MAX_TRIALS = 40;
// Trial pieces a fit scores at the most before it takes the best table it has (or gives up):
// about ten seconds of work on a curve of degree 3, whatever its shape.
inline constexpr long FIT_MAX_TRIAL_TOTAL = 600000;
inline constexpr int FIT_TOLERANCE_TRIES = 4;
// Samples of a trial piece: evenly spaced in s inside it, and over its reach.
inline constexpr int FIT_TRIAL_POINTS = 16;
inline constexpr int FIT_REACH_POINTS = 4;
// The samples per piece with which a fit compares tables (E as fcp_measure finds it with them).
inline constexpr int FIT_CHECK_SAMPLES = 64;
// The search for the bound stops at this share of the length: below it the error is rounding.
inline constexpr double FIT_BOUND_FLOOR = 1e-14;

// Called during a fit with the share of the work done (0..1, an estimate).
using fit_progress = std::function<void(double)>;

// What a fit did: how many placements of the breakpoints it tried, how many trial pieces it
// scored, and the E (mm) of the table it returned, as fcp_measure finds it with
// FIT_CHECK_SAMPLES (a fit for a tolerance: the bound it placed the table for).
struct fcp_fit_stats {
    int placements = 0;
    long trials = 0;
    double bound = 0;
};

// Fits a table of `brk_len` breakpoints (>= 2) to the curve of `arc`. The last breakpoint is
// `total_length` (the accurate length: any other value is a miss at the curve's end); the
// others lie on the accurate arc-length scale, and a breakpoint stands on every joint
// (joints.hpp). Each piece is the quintic Hermite interpolant of u, du/ds = 1/|C'| and
// d2u/ds2 = -(C'.C'')/|C'|^4 at its first breakpoint (from the right) and either at its last
// (from the left: the table is C2 there) or at the end of its reach, v*T past it (then it meets
// the next piece within E), whichever misses less: the second wins where a piece is shorter
// than a few reaches or its reach crosses a knot, where u''' jumps.
// The pieces are placed greedily, each as long as a common bound on its miss allows, scored at
// FIT_TRIAL_POINTS points evenly spaced in s, FIT_REACH_POINTS over `reach` mm past its end, at
// every knot in between and where a parabola through the largest sample and its neighbours
// peaks (no reach past a joint or the curve's end). The bound is the smallest that brk_len - 1
// pieces meet, found to within 0.2 % by a search that models the piece count as proportional to
// bound^(-1/6) (a quintic piece's error grows as the sixth power of its length); pieces are then
// split (the longest first) up to brk_len - 1 where the halves stay within the table's largest
// error. Where the curve allows no smaller bound somewhere (a reach across a strong knot or a
// tight bend: a step from just before it is taken on one polynomial, whatever the pieces), the
// fit also takes the fit for half the pieces split up to brk_len - 1, and keeps the better:
// so E, as fcp_measure finds it with FIT_CHECK_SAMPLES, never grows with the pieces asked for
// (down to FIT_BOUND_FLOOR of the length, where it is rounding).
// Bounded work: at most FIT_MAX_PASSES placements a search, of at most 2 (brk_len - 1) pieces,
// each piece in at most FIT_MAX_TRIALS trials, and max_trials trial pieces in all; the best
// table found by then is kept. Throws fit_error when the joints need more pieces than
// brk_len - 1, or no bound is met (within max_trials).
fcp_table fcp_fit(const arc_table &arc, double total_length, int brk_len, double reach,
                  const fit_progress &progress = {}, fcp_fit_stats *stats = nullptr,
                  long max_trials = FIT_MAX_TRIAL_TOTAL);

// A table fitted for a target E, with its accuracy.
struct fcp_fit_result {
    fcp_table table;
    fcp_accuracy acc; // by fcp_measure with the samples asked for
};

// Fits a table for a target: the fewest pieces the greedy placement needs so that E, measured
// by fcp_measure with `samples` per piece, is at most `tolerance` mm; placed at a bound a
// little below the tolerance and placed again at a smaller one while the measure misses it (at
// most FIT_TOLERANCE_TRIES placements). Throws fit_error when the curve allows no such table
// (somewhere no piece misses by less: it says where), more than `max_pieces` pieces would be
// needed, max_trials are spent, or the tolerance is not met.
fcp_fit_result fcp_fit_tolerance(const arc_table &arc, double total_length, double tolerance,
                                 double reach, int max_pieces, int samples,
                                 const fit_progress &progress = {}, fcp_fit_stats *stats = nullptr,
                                 long max_trials = FIT_MAX_TRIAL_TOTAL);

// Why no table was fitted.
struct fit_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Measures `table` against the accurate arc length: the miss S(u_table(s)) - s at `samples`
// points of every piece evenly spaced in s, at samples / 4 (at least 4) points over `reach` mm
// past its end, at every knot in between, and where a parabola through the largest sample and
// its neighbours peaks. S(u_table(s)) is the accurate length to the piece's first parameter c5
// plus the 7-point Gauss rule over the table's parameters from there, piece by piece, split at
// knots and at the parts of the adaptive quadrature: independent of how the table was made.
fcp_accuracy fcp_measure(const fcp_table &table, const arc_table &arc, int samples, double reach);

// True when every breakpoint and coefficient of `table` is finite.
bool fcp_table_finite(const fcp_table &table);

// Writes the FCP_init header for `table`, made for the curve `made_for`; `comment` lines
// (without "// ") go at the top. Every number is printed with %.17g, so the same table gives
// the same bytes.
void fcp_write_header(std::FILE *out, const fcp_table &table, const curve_identity &made_for,
                      const std::vector<std::string> &comment);

} // namespace nurbs_interp
