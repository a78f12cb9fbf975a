// The 15-point Gauss-Kronrod rule and its embedded 7-point Gauss rule: the estimate and the
// error estimate of one step of adaptive quadrature, from 15 values of the integrand.
#pragma once

#include <cmath> // fabs

namespace nurbs_interp {

// Nodes on [-1, 1] in the order the integrand is sampled: the centre, then +-x for the seven
// positive Kronrod nodes from the outside in (odd positions 1, 3, 5 of GK15_X are the Gauss
// nodes). Values of the standard rule (Piessens et al., QUADPACK), to 33 digits.
inline constexpr double GK15_X[8] = {
    0.991455371120812639206854697526329, 0.949107912342758524526189684047851,
    0.864864423359769072789712788640926, 0.741531185599394439863864773280788,
    0.586087235467691130294144845693013, 0.405845151377397166906606412076961,
    0.207784955007898467600689403773245, 0.000000000000000000000000000000000};
inline constexpr double GK15_W[8] = {
    0.022935322010529224963732008058970, 0.063092092629978553290700663189204,
    0.104790010322250183839876322541518, 0.140653259715525918745189590510238,
    0.169004726639267902826583426598550, 0.190350578064785409913256402421014,
    0.204432940075298892414161999234649, 0.209482141084727828012999174891714};
// Weights of the 7-point Gauss rule at GK15_X[1], [3], [5] and the centre.
inline constexpr double G7_W[4] = {
    0.129484966168869693270611432679082, 0.279705391489276667901467771423780,
    0.381830050505118944950369775488975, 0.417959183673469387755102040816327};

inline constexpr int GK15_POINTS = 15;

// Writes the 15 sampling points of [a, b] into u: u[0] the centre, then for k = 0..6 the pair
// centre -+ half * GK15_X[k] at u[2k+1], u[2k+2].
inline void gk15_points(double a, double b, double *u) {
    const double c = 0.5 * (a + b), h = 0.5 * (b - a);
    u[0] = c;
    for (int k = 0; k < 7; ++k) {
        u[2 * k + 1] = c - h * GK15_X[k];
        u[2 * k + 2] = c + h * GK15_X[k];
    }
}

// The rule's results over one interval.
struct gk15_result {
    double integral; // the 15-point Kronrod estimate
    double error;    // |Kronrod - Gauss|, a (pessimistic) bound of the Kronrod estimate's error
};

// Returns both estimates over [a, b] from f[i], the integrand at gk15_points(a, b)[i].
inline gk15_result gk15_combine(double a, double b, const double *f) {
    const double h = 0.5 * (b - a);
    double k = GK15_W[7] * f[0];
    double g = G7_W[3] * f[0];
    for (int i = 0; i < 7; ++i) {
        const double pair = f[2 * i + 1] + f[2 * i + 2];
        k += GK15_W[i] * pair;
        if (i % 2 == 1) g += G7_W[i / 2] * pair;
    }
    return {k * h, std::fabs((k - g) * h)};
}

} // namespace nurbs_interp
