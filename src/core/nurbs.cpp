#include "nurbs.hpp"

#include <cerrno>  // errno of a failed open
#include <cmath>   // isfinite, sqrt
#include <cstdio>  // fopen, printf for the fixed open-failure line
#include <new>     // bad_alloc
#include <utility> // move

#include "curve_def.hpp"
#include "text_scan.hpp"

using namespace nurbs_interp;

namespace {

const char *const DEFAULT_CURVE_PATH = "./../curve.nurbs";

[[noreturn]] void reject(const std::string &path, unsigned line, const std::string &what) {
    throw nurbs_file_error(nurbs_file_error::bad_content,
                           path + ":" + std::to_string(line) + ": " + what, path);
}

std::string format_g(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", value);
    return buf;
}

// Closes the file on every way out of the loader.
struct file_closer {
    std::FILE *f;
    ~file_closer() { std::fclose(f); }
};

// Reads "N%u\tL%u\tD%u\n" into `*ncp` and the definition's degree and dimension, and checks
// them against the limits of the record.
void read_header(text_scan &in, const std::string &path, std::uint32_t *ncp, curve_def *def) {
    std::uint32_t *deg = &def->deg, *dim = &def->dim;
    const bool ok = scan_literal(in, 'N') && scan_u32(in, ncp) && scan_space(in) &&
                    scan_literal(in, 'L') && scan_u32(in, deg) && scan_space(in) &&
                    scan_literal(in, 'D') && scan_u32(in, dim) && scan_at_separator(in);
    if (in.too_long)
        reject(path, scan_line(in),
               "line longer than " + std::to_string(in.max_line) + " characters");
    if (!ok)
        reject(path, scan_line(in),
               "header does not match \"N<points>\\tL<degree>\\tD<dimension>\" (unsigned counts)");
    if (*deg < 2) reject(path, 1, "degree " + std::to_string(*deg) + " is below 2");
    if (*deg > NURBS_MAX_DEGREE)
        reject(path, 1,
               "degree " + std::to_string(*deg) + " is above " + std::to_string(NURBS_MAX_DEGREE) +
                   " (the highest degree the curve model takes)");
    if (*ncp < *deg + 1ULL)
        reject(path, 1,
               std::to_string(*ncp) +
                   " control points are fewer than degree + 1 = " + std::to_string(*deg + 1ULL));
    if (const std::string too_many = record_size_problem(*ncp, *deg); !too_many.empty())
        reject(path, 1, too_many);
    if (*dim != 2 && *dim != 3)
        reject(path, 1, "dimension " + std::to_string(*dim) + " is not 2 or 3");
}

// Reads one control point line "X%lf\tY%lf[\tZ%lf]\tP%lf\n" (Cartesian values as written).
nurbs_ctrl_pt read_point(text_scan &in, const std::string &path, std::uint32_t index,
                         std::uint32_t dim) {
    nurbs_ctrl_pt pt{0.0, 0.0, 0.0, 0.0};
    bool ok = scan_literal(in, 'X') && scan_double(in, &pt.x) && scan_space(in) &&
              scan_literal(in, 'Y') && scan_double(in, &pt.y) && scan_space(in);
    if (ok && dim == 3) ok = scan_literal(in, 'Z') && scan_double(in, &pt.z) && scan_space(in);
    ok = ok && scan_literal(in, 'P') && scan_double(in, &pt.w);
    // The weight ends its line (or is followed by white space): "P1abc" is not a weight of 1.
    const bool ends = ok && scan_at_separator(in);
    const unsigned line = scan_line(in);
    if (in.too_long)
        reject(path, line, "line longer than " + std::to_string(in.max_line) + " characters");
    const std::string which = "control point " + std::to_string(index + 1);
    if (!ok)
        reject(path, line,
               which + (dim == 3 ? " does not match \"X<x>\\tY<y>\\tZ<z>\\tP<weight>\""
                                 : " does not match \"X<x>\\tY<y>\\tP<weight>\""));
    if (!ends) reject(path, line, which + ": characters after the weight");
    if (!std::isfinite(pt.x) || !std::isfinite(pt.y) || !std::isfinite(pt.z) ||
        !std::isfinite(pt.w))
        reject(path, line, which + " has a coordinate or weight that is not finite");
    if (!(pt.w > 0.0))
        reject(path, line, which + " has weight " + format_g(pt.w) + "; weights must be positive");
    return pt;
}

// Reads the optional knot lines "K<value>" that may follow the header: none, or exactly nk.
// Returns the knots as written (empty when there are none); `lines` gets the line of each.
std::vector<double> read_knots(text_scan &in, const std::string &path, std::uint32_t nk,
                               std::vector<unsigned> *lines) {
    std::vector<double> k;
    if (!scan_space(in) || in.line[in.pos] != 'K') return k;
    k.reserve(nk < 65536 ? nk : 65536);
    for (std::uint32_t i = 0; i < nk; ++i) {
        const std::string which = "knot " + std::to_string(i + 1) + " of " + std::to_string(nk);
        if (!scan_space(in)) reject(path, scan_line(in), "file ends before " + which);
        double value = 0;
        const bool ok = scan_literal(in, 'K') && scan_double(in, &value) && scan_at_separator(in);
        if (in.too_long)
            reject(path, scan_line(in),
                   "line longer than " + std::to_string(in.max_line) + " characters");
        if (!ok)
            reject(path, scan_line(in),
                   which + " does not match \"K<value>\" (a curve of " + std::to_string(nk) +
                       " knots gives all of them, or none)");
        k.push_back(value);
        lines->push_back(scan_line(in));
    }
    return k;
}

// Sets points[i] = (points[i+1] - points[i]) * factor for the derivative polygon of one level:
// factor = num / (knots_prev[i + deg + 1 - level] - knots_prev[i + 1]) on that level's knots.
// Where the knot difference is 0 (a knot repeated deg or deg - 1 times) the basis function the
// point scales vanishes, and the point is 0; with num = 0 (the third level of a degree-2
// curve) the factor stays 0/0.
void derivative_polygon(const std::vector<nurbs_ctrl_pt> &src, const std::vector<double> &U,
                        std::uint32_t num, std::uint32_t hi_offset,
                        std::vector<nurbs_ctrl_pt> &dst) {
    for (std::uint32_t i = 0; i < dst.size(); ++i) {
        const double diff = U[i + hi_offset] - U[i + 1];
        if (diff == 0 && num != 0) {
            dst[i] = {0.0, 0.0, 0.0, 0.0};
            continue;
        }
        const double f = static_cast<double>(num) / diff;
        dst[i].x = (src[i + 1].x - src[i].x) * f;
        dst[i].y = (src[i + 1].y - src[i].y) * f;
        dst[i].z = (src[i + 1].z - src[i].z) * f;
        dst[i].w = (src[i + 1].w - src[i].w) * f;
    }
}

// Reads the ncp control point lines of a curve of dimension `dim`.
std::vector<nurbs_ctrl_pt> read_points(text_scan &in, const std::string &name, std::uint32_t ncp,
                                       std::uint32_t dim) {
    // The points are read before anything is sized by the header, so a header that promises
    // more points than the file holds costs no more memory than the file itself.
    std::vector<nurbs_ctrl_pt> points;
    points.reserve(ncp < 65536 ? ncp : 65536);
    for (std::uint32_t i = 0; i < ncp; ++i) {
        if (!scan_space(in)) {
            if (in.too_long)
                reject(name, scan_line(in),
                       "line longer than " + std::to_string(in.max_line) + " characters");
            reject(name, scan_line(in),
                   "file ends before control point " + std::to_string(i + 1) + " of " +
                       std::to_string(ncp));
        }
        points.push_back(read_point(in, name, i, dim));
    }
    return points;
}

// Throws when anything but white space follows the last of the ncp control points: a further
// control point line, or any other text.
void refuse_trailing(text_scan &in, const std::string &name, std::uint32_t ncp) {
    if (!scan_space(in)) {
        if (in.too_long)
            reject(name, scan_line(in),
                   "line longer than " + std::to_string(in.max_line) + " characters");
        return;
    }
    const std::string header =
        "the header N" + std::to_string(ncp) + " gives " + std::to_string(ncp) + " control points";
    if (in.line[in.pos] == 'X')
        reject(name, scan_line(in), "a control point line after the last one (" + header + ")");
    reject(name, scan_line(in), "text after the last control point (" + header + ")");
}

} // namespace

nurbs_curve nurbs_interp::nurbs_curve_prepare(std::vector<nurbs_ctrl_pt> points, std::uint32_t deg,
                                              const std::vector<double> &unit) {
    const std::uint32_t ncp = static_cast<std::uint32_t>(points.size());
    const std::uint32_t nk = ncp + deg + 1;
    const std::uint32_t nsubk = NUM_SUBKL * (nk - 2 * deg) - (NUM_SUBKL - 1);
    nurbs_curve c;
    c.deg = deg;
    c.ncp = ncp;
    c.nk = nk;
    c.nsubk = nsubk;
    c.control_points = std::move(points);
    c.control_points_1d.resize(ncp - 1);
    c.control_points_2d.resize(ncp - 2);
    c.control_points_3d.resize(ncp - 3);
    c.tmp_pts.resize(deg + 1);
    c.tmp_pts_1d.resize(deg);
    c.tmp_pts_2d.resize(deg - 1);
    c.tmp_pts_3d.resize(deg - 2);
    c.ctp_u = std::make_unique_for_overwrite<double[]>(4 * static_cast<std::size_t>(ncp));
    c.knots.resize(nk);
    c.knots_1d.resize(nk - 2);
    c.knots_2d.resize(nk - 4);
    c.knots_3d.resize(nk - 6);
    c.kL = std::make_unique_for_overwrite<double[]>(nk);
    c.subku = std::make_unique_for_overwrite<double[]>(nsubk);
    c.subkL = std::make_unique_for_overwrite<double[]>(nsubk);

    cart2homo_vect(c.control_points.data(), c.control_points.data(), ncp);
    if (unit.empty())
        knot_setup_uniform(&c);
    else
        knot_setup_given(&c, unit);
    // Derivative rule Q_i = p (P_{i+1} - P_i) / (u_{i+p+1} - u_{i+1}), applied three times,
    // each time one degree lower on the trimmed knot vector.
    derivative_polygon(c.control_points, c.knots, deg, deg + 1, c.control_points_1d);
    derivative_polygon(c.control_points_1d, c.knots_1d, deg - 1, deg, c.control_points_2d);
    derivative_polygon(c.control_points_2d, c.knots_2d, deg - 2, deg - 1, c.control_points_3d);
    return c;
}

void nurbs_curve_alloc_file(const char *path, nurbs_curve *curve) {
    const std::string name = path ? path : DEFAULT_CURVE_PATH;
    std::FILE *f = std::fopen(name.c_str(), "r");
    if (!f)
        throw nurbs_file_error(nurbs_file_error::open_failed, nurbs_interp::NURBS_OPEN_ERROR, name,
                               errno);
    file_closer closer{f};
    nurbs_interp::nurbs_curve_load_stream(f, name, curve);
}

void nurbs_interp::nurbs_curve_load_stream(std::FILE *f, const std::string &name,
                                           nurbs_curve *curve, nurbs_trailing trailing) {
    text_scan in = text_scan_open(f);

    curve_def def;
    std::uint32_t ncp = 0;
    read_header(in, name, &ncp, &def);
    std::vector<unsigned> knot_lines;
    def.knots = read_knots(in, name, ncp + def.deg + 1, &knot_lines);
    std::vector<double> unit;
    if (!def.knots.empty()) {
        std::size_t at = 0;
        const std::string problem = knot_vector_problem(def.knots, def.deg, &at);
        if (!problem.empty()) reject(name, knot_lines[at], problem);
        unit = knots_on_unit_interval(def.knots, def.deg);
        if (!knot_vector_problem(unit, def.deg, &at).empty())
            reject(name, knot_lines[at], KNOTS_MERGED_ON_UNIT);
    }
    try {
        def.points = read_points(in, name, ncp, def.dim);
        if (trailing == nurbs_trailing::refused) refuse_trailing(in, name, ncp);
        *curve = nurbs_curve_prepare(std::move(def.points), def.deg, unit);
    } catch (const std::bad_alloc &) {
        reject(name, scan_line(in),
               "not enough memory for " + std::to_string(ncp) + " control points of degree " +
                   std::to_string(def.deg));
    }
}

void nurbs_curve_free(nurbs_curve *curve) {
    // Swapping with empty vectors returns their storage; counts are left as they were.
    std::vector<nurbs_ctrl_pt>().swap(curve->control_points);
    std::vector<nurbs_ctrl_pt>().swap(curve->control_points_1d);
    std::vector<nurbs_ctrl_pt>().swap(curve->control_points_2d);
    std::vector<nurbs_ctrl_pt>().swap(curve->control_points_3d);
    std::vector<nurbs_ctrl_pt>().swap(curve->tmp_pts);
    std::vector<nurbs_ctrl_pt>().swap(curve->tmp_pts_1d);
    std::vector<nurbs_ctrl_pt>().swap(curve->tmp_pts_2d);
    std::vector<nurbs_ctrl_pt>().swap(curve->tmp_pts_3d);
    curve->ctp_u.reset();
    std::vector<double>().swap(curve->knots);
    std::vector<double>().swap(curve->knots_1d);
    std::vector<double>().swap(curve->knots_2d);
    std::vector<double>().swap(curve->knots_3d);
    curve->kL.reset();
    curve->subku.reset();
    curve->subkL.reset();
}

void knot_setup_uniform(nurbs_curve *curve) {
    const std::uint32_t deg = curve->deg, ncp = curve->ncp, nk = curve->nk;
    double *knots = curve->knots.data();
    for (std::uint32_t i = 0; i < nk; ++i) {
        if (i < deg + 1)
            knots[i] = 0.0;
        else if (i >= ncp)
            knots[i] = 1.0;
        else
            knots[i] = static_cast<double>(i - deg) / static_cast<double>(ncp - deg);
        if (0 < i && i < nk - 1) curve->knots_1d[i - 1] = knots[i];
        if (1 < i && i < nk - 2) curve->knots_2d[i - 2] = knots[i];
        if (2 < i && i < nk - 3) curve->knots_3d[i - 3] = knots[i];
    }
}

std::string nurbs_interp::knot_vector_problem(const std::vector<double> &k, std::uint32_t deg,
                                              std::size_t *at) {
    const std::size_t n = k.size(), p = deg;
    for (std::size_t i = 0; i < n; ++i) {
        *at = i;
        const std::string which = "knot " + std::to_string(i + 1);
        if (!std::isfinite(k[i])) return which + " is not finite";
        if (i > 0 && k[i] < k[i - 1])
            return which + " (" + format_g(k[i]) + ") is below the one before it (" +
                   format_g(k[i - 1]) + "): knots must not decrease";
    }
    *at = n - 1;
    if (!(k[n - 1] > k[0])) return "the knots span no range (the last equals the first)";
    // Mapping onto [0, 1] divides by the range: an infinite one would make every knot 0 or 1.
    if (!std::isfinite(k[n - 1] - k[0]))
        return "the knot range (last - first: " + format_g(k[n - 1]) + " - " + format_g(k[0]) +
               ") is not finite (it exceeds the largest double); scale the knots down";
    for (std::size_t i = 1; i <= p; ++i)
        if (k[i] != k[0]) {
            *at = i;
            return "the first " + std::to_string(p + 1) +
                   " knots must be equal (a clamped start); knot " + std::to_string(i + 1) +
                   " is " + format_g(k[i]);
        }
    for (std::size_t i = n - 1 - p; i < n - 1; ++i)
        if (k[i] != k[n - 1]) {
            *at = i;
            return "the last " + std::to_string(p + 1) +
                   " knots must be equal (a clamped end); knot " + std::to_string(i + 1) + " is " +
                   format_g(k[i]);
        }
    if (k[p + 1] == k[0]) {
        *at = p + 1;
        return "more than " + std::to_string(p + 1) + " knots equal the first one";
    }
    if (k[n - 2 - p] == k[n - 1]) {
        *at = n - 2 - p;
        return "more than " + std::to_string(p + 1) + " knots equal the last one";
    }
    for (std::size_t i = p + 1, run = 1; i < n - 1 - p; ++i) {
        run = k[i] == k[i - 1] && i > p + 1 ? run + 1 : 1;
        if (run > p) {
            *at = i;
            return "knot value " + format_g(k[i]) + " is repeated " + std::to_string(run) +
                   " times inside the vector; at most the degree " + std::to_string(p) +
                   " (the curve would come apart there)";
        }
    }
    return "";
}

std::vector<double> nurbs_interp::knots_on_unit_interval(const std::vector<double> &k,
                                                         std::uint32_t deg) {
    const std::size_t n = k.size();
    const double first = k.front(), range = k.back() - k.front();
    std::vector<double> u(n);
    for (std::size_t i = 0; i < n; ++i)
        u[i] = i <= deg ? 0.0 : i >= n - 1 - deg ? 1.0 : (k[i] - first) / range;
    return u;
}

void nurbs_interp::knot_setup_given(nurbs_curve *curve, const std::vector<double> &unit) {
    const std::uint32_t nk = curve->nk;
    for (std::uint32_t i = 0; i < nk; ++i) {
        curve->knots[i] = unit[i];
        if (0 < i && i < nk - 1) curve->knots_1d[i - 1] = unit[i];
        if (1 < i && i < nk - 2) curve->knots_2d[i - 2] = unit[i];
        if (2 < i && i < nk - 3) curve->knots_3d[i - 3] = unit[i];
    }
}

std::string nurbs_interp::record_size_problem(std::uint64_t ncp, std::uint64_t deg) {
    // nk = n + p + 1, nsubk = 1000*(n - p) + 1 and the 4*n doubles of ctp_u must fit in 32 bits.
    const std::uint64_t n = ncp, p = deg;
    if (n + p + 1 > UINT32_MAX || NUM_SUBKL * (n - p) + 1 > UINT32_MAX || 4 * n > UINT32_MAX)
        return std::to_string(n) + " control points of degree " + std::to_string(p) +
               " are too many: 1000*(points - degree) + 1 must fit in 32 bits";
    return "";
}

void cart2homo_vect(const nurbs_ctrl_pt *cart, nurbs_ctrl_pt *homo, std::uint32_t len) {
    for (std::uint32_t i = 0; i < len; ++i) {
        const double w = cart[i].w;
        homo[i].x = w * cart[i].x;
        homo[i].y = w * cart[i].y;
        homo[i].z = w * cart[i].z;
    }
}

void homo2cart_vect(const nurbs_ctrl_pt *homo, nurbs_ctrl_pt *cart, std::uint32_t len) {
    for (std::uint32_t i = 0; i < len; ++i) {
        const double w = homo[i].w;
        cart[i].x = homo[i].x / w;
        cart[i].y = homo[i].y / w;
        cart[i].z = homo[i].z / w;
    }
}

void scale_pts(nurbs_ctrl_pt *pt, double C, std::int32_t len) {
    for (std::int32_t i = 0; i < len; ++i) {
        pt[i].x = pt[i].x * C;
        pt[i].y = pt[i].y * C;
        pt[i].z = pt[i].z * C;
    }
}

int nurbs_find_span(int n, int p, double u, const double *U) {
    if (u >= U[n + 1]) return n;
    // A NaN fails every comparison of the bisection, which stops at its first midpoint.
    if (std::isnan(u)) return (p + n + 1) / 2;
    // Start rule: below the first knot the bisection has no span to stop at.
    if (!(u >= U[p])) return p;
    // The span is unique (U[k] <= u < U[k+1]), so any way of finding it gives the same index.
    // Knot vectors are mostly uniform: try the span a uniform vector would have, and its
    // neighbours, first.
    const double guess = u * static_cast<double>(n - p);
    if (guess < static_cast<double>(n - p)) {
        const int k = p + static_cast<int>(guess);
        for (int g = k > p ? k - 1 : k; g <= k + 1 && g < n; ++g)
            if (U[g] <= u && u < U[g + 1]) return g;
    }
    // Otherwise the last index in [p, n] whose knot is at most u, by a bisection whose step is a
    // conditional move rather than a branch (the branch of a bisection is unpredictable):
    // U[p] <= u < U[n + 1] makes it the span.
    const double *base = U + p;
    int len = n + 2 - p;
    while (len > 1) {
        const int half = len / 2;
        base = base[half] <= u ? base + half : base;
        len -= half;
    }
    return static_cast<int>(base - U);
}

namespace {

// Runs the de Boor triangle of level m (degree q = deg - m, span k - m) in W and returns W[q].
// Q is that level's polygon, T its knot vector; the copied run starts at Q[k - deg]. A FIXED_Q
// of 0..3 fixes q at compile time so that the loops unroll (the common cubic curve); -1 takes
// q from deg. The operations and their order are the same either way.
template <int FIXED_Q>
inline const nurbs_ctrl_pt &de_boor_level(double u, int k, int deg, int m, const double *T,
                                          const nurbs_ctrl_pt *Q, nurbs_ctrl_pt *W) {
    const int q = FIXED_Q >= 0 ? FIXED_Q : deg - m;
    const int first = k - deg;
    for (int i = 0; i <= q; ++i)
        W[i] = Q[first + i];
    for (int r = 0; r < q; ++r) {
        // Descending, so that W[i - 1] still holds the previous level's value.
        for (int i = q; i > r; --i) {
            const double c = (u - T[first + i]) / (T[k - m + i - r] - T[first + i]);
            const double c1 = 1 - c;
            W[i].x = W[i].x * c + c1 * W[i - 1].x;
            W[i].y = W[i].y * c + c1 * W[i - 1].y;
            W[i].z = W[i].z * c + c1 * W[i - 1].z;
            W[i].w = W[i].w * c + c1 * W[i - 1].w;
        }
    }
    return W[q];
}

// Runs level m, unrolled when the curve is cubic.
inline const nurbs_ctrl_pt &run_level(double u, int k, int deg, int m, const double *T,
                                      const nurbs_ctrl_pt *Q, nurbs_ctrl_pt *W) {
    if (deg == 3) {
        switch (m) {
        case 0:
            return de_boor_level<3>(u, k, 3, 0, T, Q, W);
        case 1:
            return de_boor_level<2>(u, k, 3, 1, T, Q, W);
        case 2:
            return de_boor_level<1>(u, k, 3, 2, T, Q, W);
        default:
            return de_boor_level<0>(u, k, 3, 3, T, Q, W);
        }
    }
    return de_boor_level<-1>(u, k, deg, m, T, Q, W);
}

// Turns the homogeneous values A0..A3 into Cartesian outputs by the quotient rule (Leibniz rule
// on A0 = w C0). Each output is complete before the next is formed from it.
inline void quotient_rule(const nurbs_ctrl_pt &A0, const nurbs_ctrl_pt *A1, const nurbs_ctrl_pt *A2,
                          const nurbs_ctrl_pt *A3, cart_point *Pt, cart_point *dPt,
                          cart_point *ddPt, cart_point *dddPt) {
    const double w = A0.w;
    Pt->x = A0.x / w;
    Pt->y = A0.y / w;
    Pt->z = A0.z / w;
    if (!dPt) return;
    const double w1 = A1->w;
    dPt->x = (A1->x - Pt->x * w1) / w;
    dPt->y = (A1->y - Pt->y * w1) / w;
    dPt->z = (A1->z - Pt->z * w1) / w;
    if (!ddPt) return;
    const double w2 = A2->w;
    ddPt->x = (A2->x - (2 * w1 * dPt->x + Pt->x * w2)) / w;
    ddPt->y = (A2->y - (2 * w1 * dPt->y + Pt->y * w2)) / w;
    ddPt->z = (A2->z - (2 * w1 * dPt->z + Pt->z * w2)) / w;
    if (!dddPt) return;
    const double w3 = A3->w;
    dddPt->x = (A3->x - (Pt->x * w3 + (3 * w1 * ddPt->x + 3 * w2 * dPt->x))) / w;
    dddPt->y = (A3->y - (Pt->y * w3 + (3 * w1 * ddPt->y + 3 * w2 * dPt->y))) / w;
    dddPt->z = (A3->z - (Pt->z * w3 + (3 * w1 * ddPt->z + 3 * w2 * dPt->z))) / w;
}

} // namespace

void nurbs_deBoor_eval(double u, int ek, nurbs_curve *curve, cart_point *Pt, cart_point *dPt,
                       cart_point *ddPt, cart_point *dddPt) {
    // The homogeneous third derivative of a degree-2 curve is 0 (its polygon, 0/0 at load, is
    // not read): C''' then follows from A''' = 0 by the same quotient rule.
    static const nurbs_ctrl_pt ZERO = {0.0, 0.0, 0.0, 0.0};
    const int deg = static_cast<int>(curve->deg);
    const int ncp = static_cast<int>(curve->ncp);
    const bool level3 = deg >= 3;
    if (u >= 1.0 || u < 0.0) {
        // End rule (u >= 1) and start rule (u < 0): each clamped polygon's curve ends (starts)
        // at its last (first) point, so no search and no de Boor level runs.
        const bool end = u >= 1.0;
        const nurbs_ctrl_pt &A0 = curve->control_points[end ? ncp - 1 : 0];
        const nurbs_ctrl_pt *A1 = dPt ? &curve->control_points_1d[end ? ncp - 2 : 0] : nullptr;
        const nurbs_ctrl_pt *A2 = ddPt ? &curve->control_points_2d[end ? ncp - 3 : 0] : nullptr;
        const nurbs_ctrl_pt *A3 = !dddPt   ? nullptr
                                  : level3 ? &curve->control_points_3d[end ? ncp - 4 : 0]
                                           : &ZERO;
        quotient_rule(A0, A1, A2, A3, Pt, dPt, ddPt, dddPt);
        return;
    }
    int k = ek >= 0 ? ek : nurbs_find_span(ncp, deg, u, curve->knots.data());
    // Only a NaN u finds a span past the last one (a single-span curve's first midpoint); its
    // outputs are NaN from any span, so it is evaluated on the last, inside the polygons.
    if (ek < 0 && k > ncp - 1) k = ncp - 1;
    const nurbs_ctrl_pt &A0 = run_level(u, k, deg, 0, curve->knots.data(),
                                        curve->control_points.data(), curve->tmp_pts.data());
    const nurbs_ctrl_pt *A1 = nullptr, *A2 = nullptr, *A3 = nullptr;
    if (dPt)
        A1 = &run_level(u, k, deg, 1, curve->knots_1d.data(), curve->control_points_1d.data(),
                        curve->tmp_pts_1d.data());
    if (dPt && ddPt)
        A2 = &run_level(u, k, deg, 2, curve->knots_2d.data(), curve->control_points_2d.data(),
                        curve->tmp_pts_2d.data());
    if (dPt && ddPt && dddPt)
        A3 = level3 ? &run_level(u, k, deg, 3, curve->knots_3d.data(),
                                 curve->control_points_3d.data(), curve->tmp_pts_3d.data())
                    : &ZERO;
    quotient_rule(A0, A1, A2, A3, Pt, dPt, ddPt, dddPt);
}

double nurbs_arc_len(double u, void *data) {
    cart_point Pt, dPt;
    nurbs_deBoor_eval(u, -1, static_cast<nurbs_curve *>(data), &Pt, &dPt, nullptr, nullptr);
    return std::sqrt((dPt.x * dPt.x + dPt.y * dPt.y) + dPt.z * dPt.z);
}

double adaptiveSimpsonsAux(arc_len_integrand f, void *data, double a, double b, double epsilon,
                           double S, double fa, double fb, double fc, int bottom) {
    auto g = [f, data](double u) { return f(u, data); };
    return nurbs_interp::simpson_aux(g, a, b, epsilon, S, fa, fb, fc, bottom);
}

double adaptiveSimpsons(arc_len_integrand f, void *data, double a, double b, double epsilon,
                        int maxRecursionDepth) {
    // The system's integrand has no side effects beyond the curve's scratch arrays, so its
    // points may be evaluated level by level, several at once: the same values, sums and
    // decisions, bit for bit. A caller's integrand is called in the recursion's order.
    if (f == nurbs_arc_len)
        return nurbs_interp::simpson_arc_length_batched(static_cast<nurbs_curve *>(data), a, b,
                                                        epsilon, maxRecursionDepth);
    auto g = [f, data](double u) { return f(u, data); };
    return nurbs_interp::simpson_integrate(g, a, b, epsilon, maxRecursionDepth);
}
