#include "interpolate.hpp"

#include <cmath>  // pow, sqrt, fabs, isfinite
#include <cstdio> // printf, fflush for FCP_eval's diagnostic line
#include <limits> // quiet_NaN for the undefined axis split

#include "FCP_init.hpp" // BRK_LEN, FCP_ORD, FCP_SBRK, FCP_THT: the u(s) table (this file only)

static_assert(BRK_LEN >= 2, "the feedrate correction table needs at least one piece");
static_assert(FCP_ORD == nurbs_interp::FCP_PIECE_COEFFS, "a table piece holds six coefficients");

// Interpolation context: the curve, start parameter and target step of diff_arclength.
static double G_ds_target = 0.0;
static double G_u_start = 0.0;
static nurbs_curve *G_curve = nullptr;

// The two previous parameters of get_u_AdamsMoulton (um1: last call's u, um2: the one before).
static double um1 = 0.0;
static double um2 = 0.0;

// Corrector updates of the last get_u_T3SIA / get_u_NewtonRaphson call, why its loop ended and
// the magnitude of the residual of the iterate it kept.
static int G_last_iterations = 0;
static nurbs_interp::corrector_stop G_last_stop = nurbs_interp::corrector_stop::tolerance;
static double G_last_residual = 0.0;

// The integrand of every arc length the interpolators measure: nurbs_arc_len, or a caller's
// wrapper of it that returns the same values (to count calls in a replay).
static arc_len_integrand G_integrand = nurbs_arc_len;

// Upper bound on the corrector updates of get_u_T3SIA and get_u_NewtonRaphson. Both converge in
// a handful of updates on a regular curve; the bound only stops a step that cannot converge.
static constexpr int MAX_CORRECTOR_UPDATES = 100;

// A binary search over at most 2^31 values settles in 31 halvings; more means U is not ascending.
static constexpr int MAX_SPAN_HALVINGS = 64;

// Returns u, or exactly 1 when u is above 1 (NaN passes unchanged).
static inline double clamp_to_end(double u) {
    return u >= 1.0 ? 1.0 : u;
}

// Returns the point and first derivative of the curve at u (span looked up by the evaluator).
static inline void eval_point_speed(double u, nurbs_curve *curve, cart_point *Pt, cart_point *dPt) {
    nurbs_deBoor_eval(u, -1, curve, Pt, dPt, nullptr, nullptr);
}

// ---- Feedrate correction polynomial ----

// Returns i with U[i] <= u < U[i+1] (p <= i <= n-2), n-1 for u >= U[n-1], p for u < U[p], the
// first midpoint (p + n - 1) / 2 for a NaN. Assumes U ascending with n >= 2 values; a
// non-ascending U still ends after 64 halvings.
int find_span(int n, int p, double u, const double *U) {
    if (u >= U[n - 1]) return n - 1;
    // A NaN fails every comparison of the bisection, which stops at its first midpoint.
    if (std::isnan(u)) return (p + n - 1) / 2;
    // Below the first searchable value the bisection has no interval to stop at.
    if (!(u >= U[p])) return p;
    int low = p;
    int high = n - 1;
    int mid = (low + high) / 2;
    for (int halvings = 0; halvings < MAX_SPAN_HALVINGS && (u < U[mid] || u >= U[mid + 1]);
         ++halvings) {
        if (u < U[mid])
            high = mid;
        else
            low = mid;
        mid = (low + high) / 2;
    }
    return mid;
}

// Returns the piece for a search result over n breakpoints: the last piece for a result past it.
static inline int fcp_piece(int j, int n) {
    return j > n - 2 ? n - 2 : j;
}

// Returns the parameter of a table of n breakpoints `sbrk` and rows `row(j)` at arc length
// s + v*T, on the piece that s lies in; never clamped.
template <class Rows>
static inline double fcp_table_u(int n, const double *sbrk, Rows row, double s, double v,
                                 double T) {
    const double s_new = v * T + s;
    const int j = fcp_piece(find_span(n, 0, s, sbrk), n);
    const double t = (s_new - sbrk[j]) / sbrk[n - 1];
    return nurbs_interp::fcp_horner(row(j), t);
}

static inline const double *compiled_row(int j) {
    return FCP_THT[j];
}

// Returns the table's u at s + v*T on the piece that s lies in; never clamped.
// Assumes nothing about s: past the last breakpoint the last piece continues, below 0 (or NaN)
// the first piece is used.
double get_u_FCP(double s, double v, double T) {
    return fcp_table_u(BRK_LEN, FCP_SBRK, compiled_row, s, v, T);
}

// Returns the run-time table's u at s + v*T, as get_u_FCP does.
double nurbs_interp::fcp_runtime_u(const fcp_table &table, double s, double v, double T) {
    return fcp_table_u(
        static_cast<int>(table.sbrk.size()), table.sbrk.data(),
        [&table](int j) { return table.tht[j].data(); }, s, v, T);
}

// Returns the compiled-in table's last breakpoint.
double nurbs_interp::fcp_builtin_length() {
    return FCP_SBRK[BRK_LEN - 1];
}

// Returns what the compiled-in table's header says it was made for.
nurbs_interp::curve_identity nurbs_interp::fcp_builtin_identity() {
    return {FCP_CURVE_POINTS, FCP_CURVE_DEGREE, FCP_CURVE_CHECKSUM, FCP_CURVE_LENGTH};
}

// Returns the table's u at s (same value as get_u_FCP(s, 0, T)); prints the search result.
double FCP_eval(double s) {
    const int j = find_span(BRK_LEN, 0, s, FCP_SBRK);
    std::printf("FCP: s=%f jbrk=%d\n", s, j);
    std::fflush(stdout);
    const int piece = fcp_piece(j, BRK_LEN);
    const double sn = (s - FCP_SBRK[piece]) / FCP_SBRK[BRK_LEN - 1];
    return nurbs_interp::fcp_horner(FCP_THT[piece], sn);
}

// ---- Interpolation context ----

// Stores the residual's curve; assumes the caller keeps it alive while diff_arclength runs.
void set_global_nurbs_curve(nurbs_curve *curve) {
    G_curve = curve;
}

// Stores the residual's start parameter and target arc step.
void nurbs_interp::set_diff_arclength_target(double u_start, double ds_target) {
    G_u_start = u_start;
    G_ds_target = ds_target;
}

// Returns G_ds_target minus the arc length from G_u_start to u; assumes G_curve is set.
double diff_arclength(double u) {
    const double ds_act = adaptiveSimpsons(G_integrand, G_curve, G_u_start, u, 1e-12, 20);
    const double diff_ds = G_ds_target - ds_act;
    return diff_ds;
}

// ---- Taylor interpolators ----

// Returns u after one period, second order in time; assumes |C'(u)| > 0.
double get_u_Taylor2(double v, double a, double u, double T, const cart_point *dPt,
                     const cart_point *ddPt) {
    const double sig = modulus(dPt);
    const double sig1 = dotprod(dPt, ddPt) / sig;
    const double u1 = v / sig;
    const double u2 = a / sig - ((sig1 * v) / (sig * sig)) * u1;
    const double u_new = ((u2 / 2) * T) * T + ((u1 * T) + u);
    return clamp_to_end(u_new);
}

// Returns u after one period, third order in time; assumes |C'(u)| > 0.
double get_u_Taylor3(double v, double a, double j, double u, double T, const cart_point *dPt,
                     const cart_point *ddPt, const cart_point *dddPt) {
    const double ds = v * T;
    const double sig = modulus(dPt);
    const double sig2 = dotprod(dPt, ddPt);
    const double sig3 = dotprod(ddPt, ddPt) + dotprod(dPt, dddPt);
    const double U1 = ds / sig;
    const double U2 = (std::pow(ds, 2.0) * sig2) / (2 * std::pow(sig, 4.0));
    const double U3 = (std::pow(ds, 3.0) * sig3) / (6 * std::pow(sig, 5.0));
    const double U4 = (2 * std::pow(ds, 3.0) * std::pow(sig2, 2.0)) / (3 * std::pow(sig, 7.0));
    const double U5 = (std::pow(T, 2.0) * a) / (2 * sig);
    const double U6 =
        (j / sig - ((3 * a) * v * sig2) / std::pow(sig, 4.0)) * (std::pow(T, 3.0) / 6);
    const double u_new = u + U1 - U2 - U3 + U4 + U5 + U6;
    return clamp_to_end(u_new);
}

// The two arc-length Taylor steps below weight their second- and third-order terms with 0, so
// for finite higher derivatives their result is the first-order step u + ds/|C'(u)|.
// get_u_NewtonRaphson relies on exactly that step as its starting guess. The terms are still
// formed, so a non-finite higher derivative still turns the result into NaN.

// Returns u + ds/|C'(u)| (clamped); assumes |C'(u)| > 0. T is not used.
double get_u_Taylor2_ds(double ds, double u, double /*T*/, const cart_point *dPt,
                        const cart_point *ddPt) {
    const double sig = modulus(dPt);
    const double dpC1C2 = dotprod(dPt, ddPt);
    const double u1 = 1 / sig;
    const double u2 = -dpC1C2 / std::pow(sig, 4.0);
    const double u_new = ((u1 * ds) + u) + std::pow(ds, 2.0) * (0 * u2);
    return clamp_to_end(u_new);
}

// Returns u + ds/|C'(u)| (clamped), as get_u_Taylor2_ds; assumes |C'(u)| > 0. T is not used.
double get_u_Taylor3_ds(double ds, double u, double /*T*/, const cart_point *dPt,
                        const cart_point *ddPt, const cart_point *dddPt) {
    const double sig = modulus(dPt);
    const double sig22 = sq_modulus(ddPt);
    const double dpC1C2 = dotprod(dPt, ddPt);
    const double dpC3C1 = dotprod(dddPt, dPt);
    const double du_ds = 1 / sig;
    const double d2u_ds2 = -dpC1C2 / std::pow(sig, 4.0);
    const double d3u_ds3 = (std::pow(2 * dpC1C2, 2.0) * 3) / (std::pow(sig, 5.0) * 4) -
                           (2 * (sig22 + dpC3C1)) / (2 * std::pow(sig, 3.0));
    const double u_new = (((du_ds * ds) + u) + std::pow(ds, 2.0) * (0 * d2u_ds2)) +
                         std::pow(ds, 3.0) * (0 * d3u_ds3);
    return clamp_to_end(u_new);
}

// ---- Iterative and multistep interpolators ----

// Returns the Heun step from u with one quadratic correction (clamped). Assumes Pt, dPt are
// C(u), C'(u). Without a real root the Heun value is kept; a non-finite correction (the
// quadratic degenerating, A = 0) also keeps the Heun value.
double get_u_RK2(double v, double u, double T, const cart_point *Pt, const cart_point *dPt,
                 nurbs_curve *curve) {
    cart_point nPt, ndPt, nPt_Pt;
    const double K1 = v / modulus(dPt);
    eval_point_speed(u + T * K1, curve, &nPt, &ndPt);
    const double K2 = v / modulus(&ndPt);
    const double u_tmp = (K1 + K2) * (T * 0.5) + u;
    eval_point_speed(u_tmp, curve, &nPt, &ndPt);
    const double A = std::pow(modulus(&ndPt), 2.0);
    nPt_Pt.x = nPt.x - Pt->x;
    nPt_Pt.y = nPt.y - Pt->y;
    nPt_Pt.z = nPt.z - Pt->z;
    const double dL = adaptiveSimpsons(G_integrand, curve, u, u_tmp, 1e-6, 5);
    double B = dotprod(&ndPt, &nPt_Pt);
    B = B + B;
    const double D = std::pow(dL, 2.0) - std::pow(v, 2.0) * std::pow(T, 2.0);
    double u_new = u_tmp;
    if (B * B - (4 * A) * D >= 0) {
        const double corrected = (std::sqrt(std::pow(B, 2.0) - (4 * A) * D) - B) / (A + A) + u_tmp;
        if (std::isfinite(corrected)) u_new = corrected;
    }
    return clamp_to_end(u_new);
}

// Returns the Taylor predictor corrected by Steffensen iteration on the chord time (clamped);
// with v exactly 0 the predictor itself, unclamped. Stops at a residual of at most 0.001 s;
// when an update did not reduce the residual (keeping the iterate before it); after 100
// updates; or, keeping the current iterate, when the Steffensen denominator z - y is 0 (an
// exact predictor included) or an update would move the iterate further than the predictor's
// step from u.
double get_u_T3SIA(double v, double a, double j, double u, double T, nurbs_curve *curve) {
    cart_point pPt, Pt, dPt, ddPt, dddPt;
    G_last_iterations = 0;
    const double ds = v * T;
    nurbs_deBoor_eval(u, -1, curve, &pPt, &dPt, &ddPt, &dddPt);
    const double sig = modulus(&dPt);
    const double sig2 = dotprod(&dPt, &ddPt);
    const double sig3 = dotprod(&ddPt, &ddPt) + dotprod(&dPt, &dddPt);
    const double U1 = ds / sig;
    const double U2 = std::pow(ds, 2.0) * sig2 / (std::pow(sig, 4.0) + std::pow(sig, 4.0));
    const double U3 = std::pow(ds, 3.0) * sig3 / (6 * std::pow(sig, 5.0));
    const double U4 =
        (std::pow(ds, 3.0) + std::pow(ds, 3.0)) * std::pow(sig2, 2.0) / (3 * std::pow(sig, 7.0));
    const double U5 = std::pow(T, 2.0) * a / (sig + sig);
    const double U6 = (std::pow(T, 3.0) / 6) * (j / sig - (3 * a) * v * sig2 / std::pow(sig, 4.0));
    double u_new = u + U1 - U2 - U3 + U4 + U5 + U6;
    if (v == 0) return u_new;

    const double predicted_step = std::fabs(u_new - u);
    double y;
    double u_prev = u_new, y_prev = HUGE_VAL;
    int updates = 0;
    G_last_stop = nurbs_interp::corrector_stop::tolerance;
    do {
        nurbs_deBoor_eval(u_new, -1, curve, &Pt, nullptr, nullptr, nullptr);
        double ids = cart_dist(&Pt, &pPt);
        y = ids / v - T;
        // The last update did not reduce the residual: the iterate before it is the better.
        if (std::fabs(y) > 0.001 && !(std::fabs(y) < y_prev)) {
            G_last_stop = nurbs_interp::corrector_stop::stagnation;
            u_new = u_prev;
            y = y_prev;
            break;
        }
        nurbs_deBoor_eval(u_new + y, -1, curve, &Pt, nullptr, nullptr, nullptr);
        ids = cart_dist(&Pt, &pPt);
        const double z = ids / v - T;
        const double update = y * y / (z - y);
        // The residual is a time added to a parameter; at feeds of a few um/s the rounding of
        // the chord, divided by v, swamps it and the iteration runs away (seen: u = -2.6e16
        // at v = 1.6e-5 mm/s). A correction larger than the predictor's own step is such a
        // runaway: keep the current iterate; so too when z - y is 0.
        if (z - y == 0 || std::fabs(update) > predicted_step) {
            G_last_stop = nurbs_interp::corrector_stop::guard;
            break;
        }
        y_prev = std::fabs(y);
        u_prev = u_new;
        u_new = u_new - update;
        ++updates;
    } while (std::fabs(y) > 0.001 && updates < MAX_CORRECTOR_UPDATES);
    if (G_last_stop == nurbs_interp::corrector_stop::tolerance && std::fabs(y) > 0.001)
        G_last_stop = nurbs_interp::corrector_stop::bound;
    G_last_iterations = updates;
    G_last_residual = std::fabs(y);
    return clamp_to_end(u_new);
}

// Returns the multistep step from u (clamped) and shifts the history. Assumes ct counts the
// motion's time from 0; while ct < 2*T the history is not this motion's yet and the get_u_RK2
// step is returned. The inverse quadratic interpolation is of f_i = (arc length u..up1_i) - v*T,
// so it lands where the travelled length is v*T. When it degenerates (M = 0, a non-finite
// result, or a correction larger than the step itself, as with coinciding candidates) one
// Newton step on the measured residual from up1_2 (from u if up1_2 is not finite) is taken.
double get_u_AdamsMoulton(double u, double v, double T, double ct, nurbs_curve *curve) {
    cart_point Pt, dPt;
    double u_new;
    if (ct < T + T) {
        eval_point_speed(u, curve, &Pt, &dPt);
        u_new = get_u_RK2(v, u, T, &Pt, &dPt, curve);
    } else {
        const double up1_0 = 0.125 * ((13 * u - (um1 + um1)) - 3 * um2);
        const double up1_1 = 0.1 * ((21 * u - 12 * um1) + um2);
        const double up1_2 = 0.09090909090909091 * ((20 * u - 7 * um1) - (um2 + um2));
        const double dLp1_0 = adaptiveSimpsons(G_integrand, curve, u, up1_0, 1e-8, 10);
        const double dLp1_1 = adaptiveSimpsons(G_integrand, curve, u, up1_1, 1e-8, 10);
        const double dLp1_2 = adaptiveSimpsons(G_integrand, curve, u, up1_2, 1e-8, 10);
        const double ds_target = v * T;
        const double f0 = dLp1_0 - ds_target;
        const double f1 = dLp1_1 - ds_target;
        const double f2 = dLp1_2 - ds_target;
        const double q = f0 / f1;
        const double r = f2 / f1;
        const double s = f2 / f0;
        const double N = ((1 - r) * s) * (up1_2 - up1_0) + ((r - q) * r) * (up1_2 - up1_1);
        const double M = ((q - 1) * (r - 1)) * (s - 1);
        u_new = up1_2 - N / M;
        if (M == 0 || !std::isfinite(u_new) || std::fabs(u_new - up1_2) > std::fabs(up1_2 - u)) {
            const bool from_candidate = std::isfinite(up1_2);
            const double base = from_candidate ? up1_2 : u;
            const double residual = from_candidate ? f2 : -ds_target;
            eval_point_speed(base, curve, &Pt, &dPt);
            const double step = residual / modulus(&dPt);
            u_new = std::isfinite(step) ? base - step : base;
        }
    }
    um2 = um1;
    um1 = u;
    return clamp_to_end(u_new);
}

// Sets the history that the next get_u_AdamsMoulton call reads.
void nurbs_interp::reset_adams_moulton_history(double um1_value, double um2_value) {
    um1 = um1_value;
    um2 = um2_value;
}

// Reads the history that the next get_u_AdamsMoulton call uses.
void nurbs_interp::adams_moulton_history(double *um1_out, double *um2_out) {
    *um1_out = um1;
    *um2_out = um2;
}

// Returns the Newton iterate on the measured arc length (clamped after the loop). Assumes edPt,
// eddPt are C'(u), C''(u); ePt is not read. Stops at a residual of at most 1e-12 mm; when an
// update did not reduce the residual (keeping the iterate before it); after 100 updates; or,
// keeping the current iterate, at a zero speed.
double get_u_NewtonRaphson(double u, double v, double T, nurbs_curve *curve,
                           const cart_point * /*ePt*/, const cart_point *edPt,
                           const cart_point *eddPt) {
    cart_point Pt, dPt;
    const double ds_target = v * T;
    double u_new = get_u_Taylor2_ds(ds_target, u, T, edPt, eddPt);
    double F;
    double u_prev = u_new, F_prev = HUGE_VAL;
    int updates = 0;
    G_last_stop = nurbs_interp::corrector_stop::tolerance;
    do {
        eval_point_speed(u_new, curve, &Pt, &dPt);
        const double ds_act = adaptiveSimpsons(G_integrand, curve, u, u_new, 1e-12, 30);
        F = ds_act - ds_target;
        // The last update did not reduce the residual (it sits at the quadrature's noise): the
        // iterate before it is the better, and more updates would only repeat this one.
        if (std::fabs(F) > 1e-12 && !(std::fabs(F) < F_prev)) {
            G_last_stop = nurbs_interp::corrector_stop::stagnation;
            u_new = u_prev;
            F = F_prev;
            break;
        }
        const double dF =
            std::sqrt((std::pow(dPt.x, 2.0) + std::pow(dPt.y, 2.0)) + std::pow(dPt.z, 2.0));
        if (dF == 0) {
            G_last_stop = nurbs_interp::corrector_stop::guard;
            break;
        }
        F_prev = std::fabs(F);
        u_prev = u_new;
        u_new = u_new - F / dF;
        ++updates;
    } while (std::fabs(F) > 1e-12 && updates < MAX_CORRECTOR_UPDATES);
    if (G_last_stop == nurbs_interp::corrector_stop::tolerance && std::fabs(F) > 1e-12)
        G_last_stop = nurbs_interp::corrector_stop::bound;
    G_last_iterations = updates;
    G_last_residual = std::fabs(F);
    return clamp_to_end(u_new);
}

// Returns the corrector updates of the last T3SIA or Newton-Raphson call.
int nurbs_interp::interp_last_iterations() {
    return G_last_iterations;
}

// Returns why the last T3SIA or Newton-Raphson loop ended.
nurbs_interp::corrector_stop nurbs_interp::interp_last_stop() {
    return G_last_stop;
}

// Returns the residual magnitude of the iterate the last T3SIA or Newton-Raphson call kept.
double nurbs_interp::interp_last_residual() {
    return G_last_residual;
}

// Sets the integrand the interpolators measure arc length with; null restores nurbs_arc_len.
void nurbs_interp::set_arc_length_integrand(arc_len_integrand f) {
    G_integrand = f ? f : nurbs_arc_len;
}

// ---- Axis kinematics ----

// Writes axis velocity, acceleration and jerk; assumes dPt, ddPt, dddPt are C', C'', C''' at
// one parameter. Every working value is formed before the first output is written.
void compute_axial_vaj(cart_point *v, cart_point *a, cart_point *j, const cart_point *dPt,
                       const cart_point *ddPt, const cart_point *dddPt, double Vt, double At,
                       double Jt) {
    const cart_point c1 = *dPt, c2 = *ddPt, c3 = *dddPt;
    const double u_s = 1 / modulus(&c1);
    if (!std::isfinite(u_s)) {
        // |C'| = 0: no tangent, so no split of the path motion onto the axes.
        const double nan = std::numeric_limits<double>::quiet_NaN();
        *v = {nan, nan, nan};
        *a = {nan, nan, nan};
        *j = {nan, nan, nan};
        return;
    }
    const double u_ss = -dotprod(&c1, &c2) * std::pow(u_s, 4.0);
    const double u_sss = (std::pow(dotprod(&c1, &c2), 2.0) * 4) * std::pow(u_s, 7.0) -
                         (dotprod(&c2, &c2) + dotprod(&c1, &c3)) * std::pow(u_s, 5.0);
    cart_point C_s, C_ss, C_sss;
    C_s.x = c1.x * u_s;
    C_s.y = c1.y * u_s;
    C_s.z = c1.z * u_s;
    C_ss.x = c1.x * u_ss + (c2.x * u_s) * u_s;
    C_ss.y = c1.y * u_ss + (c2.y * u_s) * u_s;
    C_ss.z = c1.z * u_ss + (c2.z * u_s) * u_s;
    C_sss.x = c1.x * u_sss + ((((c3.x * u_s) * u_s) * u_s) + ((3 * c2.x) * u_s) * u_ss);
    C_sss.y = c1.y * u_sss + ((((c3.y * u_s) * u_s) * u_s) + ((3 * c2.y) * u_s) * u_ss);
    C_sss.z = c1.z * u_sss + ((((c3.z * u_s) * u_s) * u_s) + ((3 * c2.z) * u_s) * u_ss);

    v->x = C_s.x * Vt;
    v->y = C_s.y * Vt;
    v->z = C_s.z * Vt;
    a->x = C_s.x * At + (C_ss.x * Vt) * Vt;
    a->y = C_s.y * At + (C_ss.y * Vt) * Vt;
    a->z = C_s.z * At + (C_ss.z * Vt) * Vt;
    j->x = C_s.x * Jt + ((((C_sss.x * Vt) * Vt) * Vt) + (((3 * C_ss.x) * Vt) * At));
    j->y = C_s.y * Jt + ((((C_sss.y * Vt) * Vt) * Vt) + (((3 * C_ss.y) * Vt) * At));
    j->z = C_s.z * Jt + ((((C_sss.z * Vt) * Vt) * Vt) + (((3 * C_ss.z) * Vt) * At));
}
