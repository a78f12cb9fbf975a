// Parameter interpolation: the interpolators that advance the curve parameter u by one servo
// period, the module state they share, and the split of path kinematics into axis kinematics.
//
// Every interpolator returns the new parameter. Apart from get_u_FCP / FCP_eval (never clamped)
// and get_u_T3SIA with a feed of exactly 0 (its predictor, unclamped), a result above 1 comes
// back as exactly 1; there is no lower clamp and a NaN passes through. Units: u dimensionless in
// [0, 1], lengths in the curve file's unit (mm), time in s, feed in mm/s, acceleration mm/s^2,
// jerk mm/s^3. Nothing here allocates. One thread: the curve's scratch arrays and the module
// state are shared, unsynchronised.
#pragma once

#include <array>  // a table row
#include <vector> // a run-time table

#include "curve_identity.hpp" // what the compiled-in table was made for
#include "geometric.hpp"      // cart_point
#include "nurbs.hpp"          // nurbs_curve, evaluation and arc length

namespace nurbs_interp {

// The servo period the bench runs the interpolators at, s. The driver keeps its own
// SERVOPERIOD of the same value; everything else (planning, comparison, tools) uses this one.
inline constexpr double SERVO_PERIOD = 0.00025;

// Coefficients per piece of a feedrate correction table (polynomials of degree at most 5).
inline constexpr int FCP_PIECE_COEFFS = 6;

// Returns the piece with coefficients c[0..5] (highest power first) at t by Horner's rule,
// c[0] first, exactly as get_u_FCP evaluates its table.
inline double fcp_horner(const double *c, double t) {
    double u = c[0];
    for (int i = 1; i < FCP_PIECE_COEFFS; i++)
        u = c[i] + u * t;
    return u;
}

// A feedrate correction table held at run time (fitted for the curve at hand, or read from a
// file), in the layout of the compiled-in one: breakpoints ascending from sbrk[0] = 0 to the
// total length in sbrk.back(); row j holds the coefficients of piece j, highest power first,
// in t = (s - sbrk[j]) / sbrk.back(). At least two breakpoints, one row fewer than them.
struct fcp_table {
    std::vector<double> sbrk;
    std::vector<std::array<double, FCP_PIECE_COEFFS>> tht;
};

// Returns the run-time table's parameter at arc length s + v*T exactly as get_u_FCP returns the
// compiled-in table's: the same search (by s), normalisation, Horner order and end rule (past
// the last breakpoint the last piece continues). Not clamped.
double fcp_runtime_u(const fcp_table &table, double s, double v, double T);

// Returns the last breakpoint of the compiled-in table: the length of the curve it was made for.
double fcp_builtin_length();

// Returns the curve the compiled-in table was made for (its header says: count, degree,
// checksum and accurate length).
curve_identity fcp_builtin_identity();

} // namespace nurbs_interp

// ---- Feedrate correction polynomial (compiled-in u(s) table of the benchmark curve) ----

// Returns the index i with U[i] <= u < U[i+1] among the n ascending values U, searching from
// index p; n - 1 when u >= U[n-1]. A u below U[p] returns p; a NaN the first midpoint
// (p + n - 1) / 2 (200 for the table), where the bisection stops.
int find_span(int n, int p, double u, const double *U);

// Returns the table's parameter at arc length s + v*T, using the piece that s lies in (a step
// that crosses a breakpoint finishes on the lower piece). Not clamped. An s at or past the
// last breakpoint uses the last piece, continued; s below 0 or NaN uses the first piece.
double get_u_FCP(double s, double v, double T);

// Diagnostic twin of get_u_FCP(s, 0, T): returns the table's parameter at s and prints
// "FCP: s=%f jbrk=%d\n" (jbrk: the breakpoint search's result) on standard output, flushed.
double FCP_eval(double s);

// ---- Interpolation context: the arc-length residual ----

// Stores the curve that diff_arclength measures; the module does not own it.
void set_global_nurbs_curve(nurbs_curve *curve);

namespace nurbs_interp {
// Sets the residual's start parameter and target arc step (both 0.0 until set).
void set_diff_arclength_target(double u_start, double ds_target);
} // namespace nurbs_interp

// Returns the target arc step minus the arc length of the stored curve from the start parameter
// to u (quadrature tolerance 1e-12, depth 20). Needs set_global_nurbs_curve first.
double diff_arclength(double u);

// ---- Taylor interpolators (closed form; the caller evaluates the derivatives at u) ----

// Returns u after one period T, second order in time, from feed v and path acceleration a.
// dPt, ddPt: C'(u), C''(u); |C'| must not be 0.
double get_u_Taylor2(double v, double a, double u, double T, const cart_point *dPt,
                     const cart_point *ddPt);

// Returns u after one period T, third order in time, from feed v, acceleration a and jerk j.
// dPt, ddPt, dddPt: C'(u), C''(u), C'''(u); |C'| must not be 0.
double get_u_Taylor3(double v, double a, double j, double u, double T, const cart_point *dPt,
                     const cart_point *ddPt, const cart_point *dddPt);

// Returns u after the arc step ds: the first-order step u + ds/|C'(u)| (the higher-order terms
// are weighted 0). T and ddPt only matter if they make the higher terms non-finite.
double get_u_Taylor2_ds(double ds, double u, double T, const cart_point *dPt,
                        const cart_point *ddPt);

// Returns u after the arc step ds: the same first-order step as get_u_Taylor2_ds.
double get_u_Taylor3_ds(double ds, double u, double T, const cart_point *dPt,
                        const cart_point *ddPt, const cart_point *dddPt);

// ---- Iterative and multistep interpolators (they evaluate and measure the curve) ----

// Returns u after one period: a Heun step of du/dt = v/|C'| with one quadratic correction from
// the measured arc length (1e-6, depth 5). Pt, dPt: C(u), C'(u) from the caller.
double get_u_RK2(double v, double u, double T, const cart_point *Pt, const cart_point *dPt,
                 nurbs_curve *curve);

// Returns u after one period: a third-order Taylor predictor in time (feed v, acceleration a,
// jerk j) corrected by Steffensen iteration on the chord time, until the residual is at most
// 0.001 s, an update stops reducing it (the better iterate is kept), or after 100 updates.
// With v exactly 0 the predictor is returned unclamped.
double get_u_T3SIA(double v, double a, double j, double u, double T, nurbs_curve *curve);

// Returns u after one period: a multistep predictor from u and the two previous parameters,
// three measured arc lengths (1e-8, depth 10) and an inverse quadratic interpolation of the
// residual (length - v*T). While ct < 2*T it returns the get_u_RK2 step instead. Every call
// shifts the history (um2 = um1, um1 = u).
double get_u_AdamsMoulton(double u, double v, double T, double ct, nurbs_curve *curve);

namespace nurbs_interp {
// Sets the Adams-Moulton history (both 0 at program start): for a new motion in this process.
void reset_adams_moulton_history(double um1_value, double um2_value);

// Reads the Adams-Moulton history: the u of the last call and of the call before it.
void adams_moulton_history(double *um1_out, double *um2_out);
} // namespace nurbs_interp

// Returns u after one period: Newton iteration on the measured arc length (1e-12, depth 30)
// from the get_u_Taylor2_ds step, until the residual is at most 1e-12 mm, an update stops
// reducing it (the better iterate is kept), or after 100 updates. ePt is not read; edPt, eddPt:
// C'(u), C''(u).
double get_u_NewtonRaphson(double u, double v, double T, nurbs_curve *curve, const cart_point *ePt,
                           const cart_point *edPt, const cart_point *eddPt);

namespace nurbs_interp {
// Returns the number of corrector updates made by the last get_u_T3SIA or get_u_NewtonRaphson
// call (0 for a T3SIA call with v = 0).
int interp_last_iterations();

// Why the corrector loop of the last get_u_T3SIA or get_u_NewtonRaphson call ended.
enum class corrector_stop {
    tolerance,  // the residual reached the tolerance (or is NaN)
    stagnation, // an update did not reduce the residual: the iterate before it was kept
    bound,      // 100 updates without either
    guard,      // a zero speed, a zero Steffensen denominator, or a runaway update
};
corrector_stop interp_last_stop();

// Returns the residual magnitude of the iterate the last T3SIA or Newton-Raphson call kept
// (s for T3SIA, mm for Newton-Raphson; for a tolerance stop, that of the iterate before the
// final update).
double interp_last_residual();

// Sets the integrand with which the interpolators measure arc length (null: nurbs_arc_len, the
// default). Only for a wrapper that returns nurbs_arc_len's values, such as one that counts
// calls; the values of every step stay the same.
void set_arc_length_integrand(arc_len_integrand f);
} // namespace nurbs_interp

// ---- Axis kinematics ----

// Writes the axis velocity v, acceleration a and jerk j for path feed Vt, acceleration At and
// jerk Jt at a point with derivatives C', C'', C''' (dPt, ddPt, dddPt). All inputs are read
// before any output is written, so outputs may alias inputs. Where 1/|C'| is not finite (a
// stopped parametrisation, |C'| = 0) the axis split is undefined: every output component is NaN.
void compute_axial_vaj(cart_point *v, cart_point *a, cart_point *j, const cart_point *dPt,
                       const cart_point *ddPt, const cart_point *dddPt, double Vt, double At,
                       double Jt);
