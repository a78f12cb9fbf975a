// Batched evaluation of the point and first derivative, and the breadth-first arc-length
// quadrature built on it. Every parameter (a lane) gets exactly the operations of
// nurbs_deBoor_eval, in the same groupings: IEEE operations give the same bits whether done one
// at a time or several in a vector register, and the build has no fused multiply-add
// (-ffp-contract=off). The AVX2 kernel holds a homogeneous point (x, y, z, w) in one register,
// so that one vector operation does the four components of a blend, and forms the blend
// factors of a level four at a time; the baseline kernel is the scalar evaluator itself.
#include <cmath> // sqrt
#include <cstddef>
#include <cstring> // memcpy of a homogeneous point into a register

#include "nurbs.hpp"

namespace nurbs_interp {

namespace {

// A homogeneous point, or four blend factors, in one AVX register (GCC vector extension).
using v4 = double __attribute__((vector_size(32)));

// The highest degree the loader takes plus one: the points of a level's triangle.
constexpr int MAX_POINTS = NURBS_MAX_DEGREE + 1;

__attribute__((target("avx2"), always_inline)) inline v4 load(const nurbs_ctrl_pt &p) {
    v4 r;
    std::memcpy(&r, &p, sizeof r);
    return r;
}

// Writes the point and first derivative from the homogeneous results A0 (point level) and A1
// (first-derivative level): C0 = A0 / w, C1 = (A1 - C0 w1) / w, component by component.
__attribute__((target("avx2"), always_inline)) inline void quotient(v4 A0, v4 A1, cart_point *P,
                                                                    cart_point *D) {
    const double w = A0[3], w1 = A1[3];
    const v4 p = A0 / w;
    const v4 d = (A1 - p * w1) / w;
    *P = {p[0], p[1], p[2]};
    *D = {d[0], d[1], d[2]};
}

// The cubic case, unrolled: span k (U[k] <= u < U[k+1]); the six blend factors of the point
// level and the three of the first-derivative level formed as vectors.
__attribute__((target("avx2"), always_inline)) inline void
cubic(const nurbs_curve *c, double u, int k, cart_point *P, cart_point *D) {
    const double *T = c->knots.data(), *T1 = c->knots_1d.data();
    const nurbs_ctrl_pt *Q = c->control_points.data(), *Q1 = c->control_points_1d.data();
    const int f = k - 3, k1 = k - 1;
    const v4 uu = {u, u, u, u};
    // (r, i) = (0, 3), (0, 2), (0, 1), (1, 3) of the point level ...
    const v4 lo0 = {T[f + 3], T[f + 2], T[f + 1], T[f + 3]};
    const v4 hi0 = {T[k + 3], T[k + 2], T[k + 1], T[k + 2]};
    // ... (1, 2), (2, 3) of it, and (0, 2), (0, 1) of the first-derivative level ...
    const v4 lo1 = {T[f + 2], T[f + 3], T1[f + 2], T1[f + 1]};
    const v4 hi1 = {T[k + 1], T[k + 1], T1[k1 + 2], T1[k1 + 1]};
    const v4 ca = (uu - lo0) / (hi0 - lo0), cb = (uu - lo1) / (hi1 - lo1);
    // ... and its (1, 2).
    const double c12 = (u - T1[f + 2]) / (T1[k1 + 1] - T1[f + 2]);
    const v4 ca1 = 1 - ca, cb1 = 1 - cb;
    v4 W0 = load(Q[f]), W1 = load(Q[f + 1]), W2 = load(Q[f + 2]), W3 = load(Q[f + 3]);
    W3 = W3 * ca[0] + ca1[0] * W2;
    W2 = W2 * ca[1] + ca1[1] * W1;
    W1 = W1 * ca[2] + ca1[2] * W0;
    W3 = W3 * ca[3] + ca1[3] * W2;
    W2 = W2 * cb[0] + cb1[0] * W1;
    W3 = W3 * cb[1] + cb1[1] * W2;
    v4 V0 = load(Q1[f]), V1 = load(Q1[f + 1]), V2 = load(Q1[f + 2]);
    V2 = V2 * cb[2] + cb1[2] * V1;
    V1 = V1 * cb[3] + cb1[3] * V0;
    V2 = V2 * c12 + (1 - c12) * V1;
    quotient(W3, V2, P, D);
}

// Runs the de Boor triangle of level m (degree q = deg - m) on homogeneous points in
// registers; returns W[q]. Blend factors as the scalar evaluator forms them.
__attribute__((target("avx2"), always_inline)) inline v4
level(double u, int k, int deg, int m, const double *T, const nurbs_ctrl_pt *Q) {
    const int q = deg - m, first = k - deg;
    v4 W[MAX_POINTS] = {};
    for (int i = 0; i <= q; ++i)
        W[i] = load(Q[first + i]);
    for (int r = 0; r < q; ++r)
        for (int i = q; i > r; --i) {
            const double cf = (u - T[first + i]) / (T[k - m + i - r] - T[first + i]);
            const double cf1 = 1 - cf;
            W[i] = W[i] * cf + cf1 * W[i - 1];
        }
    return W[q];
}

// Any degree: the two levels in registers.
__attribute__((target("avx2"), always_inline)) inline void
any_degree(const nurbs_curve *c, double u, int k, cart_point *P, cart_point *D) {
    const int deg = static_cast<int>(c->deg);
    quotient(level(u, k, deg, 0, c->knots.data(), c->control_points.data()),
             level(u, k, deg, 1, c->knots_1d.data(), c->control_points_1d.data()), P, D);
}

// Returns the span of u in [0, 1): the previous parameter's span `hint` or the one after it
// when u lies there (the quadrature's points come in increasing order, mostly a span or less
// apart), else the span search's. The span is unique, so either way it is the same index.
inline int span_near(const nurbs_curve *c, double u, int hint) {
    const double *U = c->knots.data();
    if (U[hint] <= u) {
        if (u < U[hint + 1]) return hint;
        if (hint + 1 < static_cast<int>(c->ncp) && u < U[hint + 2]) return hint + 1;
    }
    return nurbs_find_span(static_cast<int>(c->ncp), static_cast<int>(c->deg), u, U);
}

// The AVX2 kernel: the point and first derivative (and, with SPEED, only the speed
// sqrt((x x + y y) + z z) of the derivative) of n parameters. Parameters in [0, 1) get the
// register kernel; any other (end and start rules, NaN) goes to the scalar evaluator, whose
// rules it follows.
template <bool SPEED>
__attribute__((target("avx2"), always_inline)) inline void
avx2_body(nurbs_curve *c, const double *u, std::size_t n, cart_point *P, cart_point *D,
          double *speed) {
    const int deg = static_cast<int>(c->deg);
    int k = deg;
    for (std::size_t i = 0; i < n; ++i) {
        cart_point p, d;
        if (!(u[i] >= 0.0 && u[i] < 1.0)) {
            nurbs_deBoor_eval(u[i], -1, c, &p, &d, nullptr, nullptr);
        } else {
            k = span_near(c, u[i], k);
            if (deg == 3)
                cubic(c, u[i], k, &p, &d);
            else
                any_degree(c, u[i], k, &p, &d);
        }
        if (SPEED) {
            speed[i] = std::sqrt((d.x * d.x + d.y * d.y) + d.z * d.z);
        } else {
            P[i] = p;
            D[i] = d;
        }
    }
}

__attribute__((target("avx2"))) void batch_avx2(nurbs_curve *c, const double *u, std::size_t n,
                                                cart_point *P, cart_point *D, double *speed) {
    if (speed)
        avx2_body<true>(c, u, n, P, D, speed);
    else
        avx2_body<false>(c, u, n, P, D, speed);
}

// The baseline kernel: the scalar evaluator, parameter by parameter.
void batch_baseline(nurbs_curve *c, const double *u, std::size_t n, cart_point *P, cart_point *D,
                    double *speed) {
    for (std::size_t i = 0; i < n; ++i) {
        cart_point p, d;
        nurbs_deBoor_eval(u[i], -1, c, &p, &d, nullptr, nullptr);
        if (speed) {
            speed[i] = std::sqrt((d.x * d.x + d.y * d.y) + d.z * d.z);
        } else {
            P[i] = p;
            D[i] = d;
        }
    }
}

using batch_fn = void (*)(nurbs_curve *, const double *, std::size_t, cart_point *, cart_point *,
                          double *);

// The kernel in use: chosen on first use (AVX2 where the CPU has it), or by set_batch_kernel.
batch_fn G_batch = nullptr;

batch_fn batch_kernel() {
    if (!G_batch) G_batch = __builtin_cpu_supports("avx2") ? batch_avx2 : batch_baseline;
    return G_batch;
}

} // namespace

void nurbs_eval_batch(nurbs_curve *curve, const double *u, std::size_t n, cart_point *Pt,
                      cart_point *dPt) {
    batch_kernel()(curve, u, n, Pt, dPt, nullptr);
}

void nurbs_arc_len_batch(nurbs_curve *curve, const double *u, std::size_t n, double *speed) {
    batch_kernel()(curve, u, n, nullptr, nullptr, speed);
}

namespace {

// One recursive step of the quadrature on [a, b], as adaptiveSimpsonsAux receives it, with the
// values it computes (fd, fe) and, once known, the value it returns.
struct simpson_node {
    double a, b, eps, S, fa, fb, fc;
    int bottom;
    double fd, fe;
    double value;
    int child; // index of its left child (the right one follows), -1 for a leaf
};

// The nodes one breadth-first pass holds; a level that would need more is finished subtree by
// subtree, each by a pass of its own (so the stack holds a few passes at the most).
constexpr int POOL = 256;

// Returns the value of the recursive step `root` and of everything below it: level by level,
// the quarter points of all open steps of a level evaluated in one batch, each step's sums and
// acceptance exactly those of adaptiveSimpsonsAux.
double simpson_pass(nurbs_curve *curve, const simpson_node &root) {
    simpson_node pool[POOL];
    double u[2 * POOL], f[2 * POOL];
    pool[0] = root;
    int begin = 0, end = 1;
    while (begin < end) {
        for (int n = begin; n < end; ++n) {
            const simpson_node &s = pool[n];
            const double c = (s.a + s.b) / 2;
            u[2 * (n - begin)] = (s.a + c) / 2;
            u[2 * (n - begin) + 1] = (c + s.b) / 2;
        }
        nurbs_arc_len_batch(curve, u, 2 * std::size_t(end - begin), f);
        int next = end;
        for (int n = begin; n < end; ++n) {
            simpson_node &s = pool[n];
            s.fd = f[2 * (n - begin)];
            s.fe = f[2 * (n - begin) + 1];
            const double c = (s.a + s.b) / 2, h = s.b - s.a;
            const double Sleft = (h / 12) * ((4 * s.fd + s.fa) + s.fc);
            const double Sright = (h / 12) * ((4 * s.fe + s.fc) + s.fb);
            const double S2 = Sleft + Sright;
            const double diff = S2 - s.S;
            s.child = -1;
            // As the recursion: a spent budget or an accepted difference ends the step, and so
            // does a NaN difference, which refinement could never accept.
            if (s.bottom <= 0 || std::fabs(diff) <= 15 * s.eps || std::isnan(diff)) {
                s.value = S2 + diff / 15;
                continue;
            }
            const simpson_node left{s.a,          c, s.eps / 2, Sleft, s.fa, s.fc, s.fd,
                                    s.bottom - 1, 0, 0,         0,     -1};
            const simpson_node right{c,    s.b,          s.eps / 2, Sright, s.fc, s.fb,
                                     s.fe, s.bottom - 1, 0,         0,      0,    -1};
            if (next + 2 <= POOL) {
                s.child = next;
                pool[next++] = left;
                pool[next++] = right;
            } else {
                s.value = simpson_pass(curve, left) + simpson_pass(curve, right);
            }
        }
        begin = end;
        end = next;
    }
    // Bottom-up: each step that split returns left + right, as the recursion does.
    for (int n = end - 1; n >= 0; --n)
        if (pool[n].child >= 0)
            pool[n].value = pool[pool[n].child].value + pool[pool[n].child + 1].value;
    return pool[0].value;
}

} // namespace

double simpson_arc_length_batched(nurbs_curve *curve, double a, double b, double epsilon,
                                  int maxRecursionDepth) {
    // The entry's three points and its first step's two quarter points, in one batch.
    const double c = (a + b) / 2;
    const double h = b - a;
    const double u[5] = {a, b, c, (a + c) / 2, (c + b) / 2};
    double f[5];
    nurbs_arc_len_batch(curve, u, 5, f);
    const double S = (h / 6) * ((4 * f[2] + f[0]) + f[1]);
    // The first step as adaptiveSimpsonsAux takes it: most servo steps end here.
    const double Sleft = (h / 12) * ((4 * f[3] + f[0]) + f[2]);
    const double Sright = (h / 12) * ((4 * f[4] + f[2]) + f[1]);
    const double S2 = Sleft + Sright;
    const double diff = S2 - S;
    if (maxRecursionDepth <= 0 || std::fabs(diff) <= 15 * epsilon || std::isnan(diff))
        return S2 + diff / 15;
    return simpson_pass(curve, {a, c, epsilon / 2, Sleft, f[0], f[2], f[3], maxRecursionDepth - 1,
                                0, 0, 0, -1}) +
           simpson_pass(curve, {c, b, epsilon / 2, Sright, f[2], f[1], f[4], maxRecursionDepth - 1,
                                0, 0, 0, -1});
}

bool set_batch_kernel(batch_isa isa) {
    if (isa == batch_isa::avx2 && !__builtin_cpu_supports("avx2")) return false;
    G_batch = isa == batch_isa::baseline ? batch_baseline
              : isa == batch_isa::avx2   ? batch_avx2
                                         : nullptr;
    return true;
}

} // namespace nurbs_interp
