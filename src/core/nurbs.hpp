// The NURBS curve: record, curve-file loader and release, span search, rational de Boor
// evaluation of the point and its first three derivatives, and arc length by adaptive Simpson
// quadrature.
#pragma once

#include <cmath>     // fabs, isnan in the quadrature template
#include <cstdint>   // the record's 32-bit counts
#include <cstdio>    // FILE for loading from a stream
#include <memory>    // unique_ptr for the arrays no operation fills
#include <stdexcept> // nurbs_file_error
#include <string>
#include <utility> // move
#include <vector>

#include "geometric.hpp"

// Sub-knot samples per knot span (the factor 1000 in nsubk).
inline constexpr std::uint32_t NUM_SUBKL = 1000;
// Quadrature points; kept with the record's constants, no operation uses it.
inline constexpr int QUADPTS = 7;

// A control point with weight; after loading it holds the homogeneous form (x*w, y*w, z*w, w).
struct nurbs_ctrl_pt {
    double x;
    double y;
    double z;
    double w;
};

// The curve record. Counts are unsigned 32-bit; every array is owned by the record, so a
// record is released exactly once by nurbs_curve_free or by going out of scope.
struct nurbs_curve {
    std::uint32_t deg = 0;                        // degree p
    std::uint32_t ncp = 0;                        // number of control points n
    std::uint32_t nk = 0;                         // number of knots, n + p + 1
    std::uint32_t nsubk = 0;                      // sub-knot samples, 1000*(n - p) + 1
    std::uint32_t k_start = 0;                    // not used by any operation
    std::uint32_t k_end = 0;                      // not used by any operation
    std::vector<double> knots;                    // clamped uniform knot vector, nk values
    std::vector<double> knots_1d;                 // knots[1] .. knots[nk-2]
    std::vector<double> knots_2d;                 // knots[2] .. knots[nk-3]
    std::vector<double> knots_3d;                 // knots[3] .. knots[nk-4]
    std::vector<nurbs_ctrl_pt> control_points;    // n homogeneous points
    std::vector<nurbs_ctrl_pt> control_points_1d; // n-1: first-derivative polygon
    std::vector<nurbs_ctrl_pt> control_points_2d; // n-2: second-derivative polygon
    std::vector<nurbs_ctrl_pt> control_points_3d; // n-3: third-derivative polygon
    std::vector<nurbs_ctrl_pt> tmp_pts;           // de Boor scratch, p+1 points
    std::vector<nurbs_ctrl_pt> tmp_pts_1d;        // p points
    std::vector<nurbs_ctrl_pt> tmp_pts_2d;        // p-1 points
    std::vector<nurbs_ctrl_pt> tmp_pts_3d;        // p-2 points
    // Allocated with the curve and never filled or read: left uninitialised so that untouched
    // pages cost no memory (subku and subkL hold 1000 values per knot span).
    std::unique_ptr<double[]> ctp_u; // 4*n values
    std::unique_ptr<double[]> kL;    // nk values
    std::unique_ptr<double[]> subku; // nsubk values
    std::unique_ptr<double[]> subkL; // nsubk values
    double L = 0.0;                  // not used by any operation
};

namespace nurbs_interp {

// The highest degree the loader takes: that of widely used CAD kernels. A de Boor level costs
// (deg + 1)^2 / 2 blends, so the bound also bounds the cost of one evaluation.
inline constexpr std::uint32_t NURBS_MAX_DEGREE = 25;

// Why a curve file was not loaded. `open_failed` carries the driver's fixed message for a
// file that does not open (and the errno of the failed open); `bad_content` carries
// "<path>:<line>: <what is wrong>".
struct nurbs_file_error : std::runtime_error {
    enum kind_t { open_failed, bad_content };
    kind_t kind;
    std::string path; // the file that was to be loaded
    int open_errno = 0;
    nurbs_file_error(kind_t k, const std::string &message, std::string file = {}, int err = 0)
        : std::runtime_error(message), kind(k), path(std::move(file)), open_errno(err) {}
};

// The exact line printed on standard output when a curve file does not open.
inline constexpr const char *NURBS_OPEN_ERROR = "!!! ERROR: could not open .nurbs file !!!\n";

// What a loader does with content after the last control point the header promises.
enum class nurbs_trailing {
    ignored, // not read (nurbs_curve_alloc_file, the driver's loader)
    refused  // anything but white space: "<name>:<line>: ..." (the tools' checked loading)
};

// Loads a curve from an open stream, as nurbs_curve_alloc_file does; `name` is the file name
// its messages carry. The stream stays open. With `trailing` refused, a further control point
// line or any text after the last control point is a bad_content error naming its line.
void nurbs_curve_load_stream(std::FILE *f, const std::string &name, nurbs_curve *curve,
                             nurbs_trailing trailing = nurbs_trailing::ignored);

// Returns what is wrong with a knot vector of a degree-`deg` curve (empty: nothing), and in
// `*at` the 0-based index of the knot it concerns. A knot vector must be finite,
// non-decreasing, clamped (its first deg + 1 values equal, its last deg + 1 equal, and no more
// than that many at either end), span a positive range, and repeat no interior value more
// than deg times. Needs k.size() >= 2 (deg + 1).
std::string knot_vector_problem(const std::vector<double> &k, std::uint32_t deg, std::size_t *at);

// Returns the knots mapped onto [0, 1], (k - k_first) / (k_last - k_first), with the clamped
// ends exactly 0 and 1. Assumes knot_vector_problem found nothing.
std::vector<double> knots_on_unit_interval(const std::vector<double> &k, std::uint32_t deg);

// Fills knots (from `unit`, as knots_on_unit_interval gives them) and the derivative knot
// vectors knots_1d, knots_2d, knots_3d as knot_setup_uniform does (arrays already sized).
void knot_setup_given(nurbs_curve *curve, const std::vector<double> &unit);

// The refusal of knots that pass knot_vector_problem but not once mapped onto [0, 1].
inline constexpr const char *KNOTS_MERGED_ON_UNIT =
    "knots too close to tell apart once mapped onto [0, 1]";

// Returns why the record cannot hold `ncp` points of degree `deg` (its 32-bit counts nk,
// nsubk and the 4*ncp values of ctp_u would overflow), or "" when it can. Assumes ncp >= deg.
std::string record_size_problem(std::uint64_t ncp, std::uint64_t deg);

// Returns the loaded record of the degree-`deg` curve over `points` (Cartesian, as read):
// counts, homogeneous points, the knots (`unit`, as knots_on_unit_interval gives them, or
// clamped uniform when empty), the derivative polygons and every other array. Both ways of
// loading, from a file and from a definition, end here. Assumes a curve the loaders checked.
nurbs_curve nurbs_curve_prepare(std::vector<nurbs_ctrl_pt> points, std::uint32_t deg,
                                const std::vector<double> &unit);

} // namespace nurbs_interp

// Loads the curve file at `path` (null: "./../curve.nurbs") into `curve`, allocating and
// filling every array. Throws nurbs_interp::nurbs_file_error when the file does not open or
// does not hold a curve of degree >= 2 with >= deg+1 finite points of positive weight; nothing
// is allocated into the record then. A record is loaded once.
void nurbs_curve_alloc_file(const char *path, nurbs_curve *curve);

// Releases all sixteen arrays; the counts stay as they were.
void nurbs_curve_free(nurbs_curve *curve);

// Fills knots, knots_1d, knots_2d, knots_3d from deg, ncp and nk (arrays already sized).
void knot_setup_uniform(nurbs_curve *curve);

// homo[i] = (w*x, w*y, w*z) of cart[i] for i < len; the weight of `homo` is not written.
// The arrays may be the same.
void cart2homo_vect(const nurbs_ctrl_pt *cart, nurbs_ctrl_pt *homo, std::uint32_t len);

// cart[i] = (x/w, y/w, z/w) of homo[i] for i < len; the weight of `cart` is not written.
void homo2cart_vect(const nurbs_ctrl_pt *homo, nurbs_ctrl_pt *cart, std::uint32_t len);

// Multiplies x, y, z of pt[i] by C for i < len; len <= 0 changes nothing.
void scale_pts(nurbs_ctrl_pt *pt, double C, std::int32_t len);

// Returns the knot span k with U[k] <= u < U[k+1] for the n control points of a degree-p
// curve; n itself when u >= U[n+1]. Start rule: u below U[p] gives p; a NaN gives the first
// midpoint (p + n + 1) / 2, where the bisection stops.
int nurbs_find_span(int n, int p, double u, const double *U);

// Evaluates the curve at u into Pt and, when non-null, dPt, ddPt, dddPt (a derivative only
// together with all lower ones). ek < 0 looks the span up; ek >= 0 must be a span in
// [deg, ncp-1]. End rule: any u >= 1 evaluates at the curve's end; start rule: any u < 0
// at its start. A NaN u gives NaN outputs. Writes only the record's scratch arrays.
// At a knot repeated inside the vector the span is the one the search defines,
// U[k] <= u < U[k+1]: the derivatives there are those from the right. The third derivative of
// a degree-2 curve comes from a homogeneous third derivative of 0.
void nurbs_deBoor_eval(double u, int ek, nurbs_curve *curve, cart_point *Pt, cart_point *dPt,
                       cart_point *ddPt, cart_point *dddPt);

// The arc-length integrand: returns the speed |C'(u)| of the curve `data` points to.
double nurbs_arc_len(double u, void *data);

// An integrand of the quadrature: value at u with an untyped context passed through.
using arc_len_integrand = double (*)(double u, void *data);

// Returns the integral of f over [a, b] by adaptive Simpson quadrature with Richardson
// extrapolation, tolerance epsilon and at most maxRecursionDepth levels of refinement.
double adaptiveSimpsons(arc_len_integrand f, void *data, double a, double b, double epsilon,
                        int maxRecursionDepth);

// One refinement step on [a, b]: S is the Simpson estimate there, fa, fb, fc the integrand at
// a, b and the midpoint, bottom the budget left. Returns the step's estimate.
double adaptiveSimpsonsAux(arc_len_integrand f, void *data, double a, double b, double epsilon,
                           double S, double fa, double fb, double fc, int bottom);

namespace nurbs_interp {

// Evaluates the point and first derivative at the n parameters u[0..n-1] into Pt[i], dPt[i],
// several at a time (four lanes), each exactly as nurbs_deBoor_eval(u[i], -1, curve, &Pt[i],
// &dPt[i], nullptr, nullptr) does, bit for bit (parameters outside [0, 1) and NaN included).
void nurbs_eval_batch(nurbs_curve *curve, const double *u, std::size_t n, cart_point *Pt,
                      cart_point *dPt);

// Writes speed[i] = nurbs_arc_len(u[i], curve) for i < n, evaluated as nurbs_eval_batch does.
void nurbs_arc_len_batch(nurbs_curve *curve, const double *u, std::size_t n, double *speed);

// The batch kernels: the baseline (two SSE2 registers per four lanes), AVX2 (one register), or
// automatic (AVX2 where the CPU has it, the default).
enum class batch_isa { automatic, baseline, avx2 };

// Selects the batch kernel (for tests of both paths); false when the CPU lacks it.
bool set_batch_kernel(batch_isa isa);

// Returns adaptiveSimpsons(nurbs_arc_len, curve, a, b, epsilon, maxRecursionDepth) bit for bit:
// every value, sum and acceptance decision is the recursion's, but the integrand is evaluated
// level by level (the quarter points of all steps still open at one level in one batch).
double simpson_arc_length_batched(nurbs_curve *curve, double a, double b, double epsilon,
                                  int maxRecursionDepth);

// The quadrature with the integrand as any callable g(u). Same values, same call order and
// same integrand points as adaptiveSimpsons; lets a caller wrap the integrand (to count calls
// or show progress) without an indirect call per point.
template <class G>
double simpson_aux(G &g, double a, double b, double epsilon, double S, double fa, double fb,
                   double fc, int bottom) {
    const double c = (a + b) / 2;
    const double h = b - a;
    const double d = (a + c) / 2;
    const double e = (c + b) / 2;
    const double fd = g(d);
    const double fe = g(e);
    const double Sleft = (h / 12) * ((4 * fd + fa) + fc);
    const double Sright = (h / 12) * ((4 * fe + fc) + fb);
    const double S2 = Sleft + Sright;
    const double diff = S2 - S;
    // A NaN difference can never be accepted; refining it further only spends the budget.
    if (bottom <= 0 || std::fabs(diff) <= 15 * epsilon || std::isnan(diff)) return S2 + diff / 15;
    const double left = simpson_aux(g, a, c, epsilon / 2, Sleft, fa, fc, fd, bottom - 1);
    const double right = simpson_aux(g, c, b, epsilon / 2, Sright, fc, fb, fe, bottom - 1);
    return left + right;
}

template <class G>
double simpson_integrate(G &g, double a, double b, double epsilon, int maxRecursionDepth) {
    const double c = (a + b) / 2;
    const double h = b - a;
    const double fa = g(a);
    const double fb = g(b);
    const double fc = g(c);
    const double S = (h / 6) * ((4 * fc + fa) + fb);
    return simpson_aux(g, a, b, epsilon, S, fa, fb, fc, maxRecursionDepth);
}

} // namespace nurbs_interp
