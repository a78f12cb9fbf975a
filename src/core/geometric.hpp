// Cartesian points and vectors, and the vector operations the interpolators need.
#pragma once

// A Cartesian point or vector: a curve point, a derivative of the curve with respect to u,
// or an axis velocity, acceleration or jerk.
struct cart_point {
    double x;
    double y;
    double z;
};

// Returns p1.p2, summed as (x-term + y-term) + z-term.
double dotprod(const cart_point *p1, const cart_point *p2);

// Returns the Euclidean norm |p|.
double modulus(const cart_point *p);

// Returns the squared norm |p|^2, without a square root.
double sq_modulus(const cart_point *p);

// Returns |p1 x p2|, the norm of the cross product.
double mod_crossprod(const cart_point *p1, const cart_point *p2);

// Returns the distance between two points; squares are taken with pow(., 2.0).
double cart_dist(const cart_point *Pt_end, const cart_point *Pt_str);

// Returns the radius of curvature |C'|^3 / |C' x C''| from C'(u) and C''(u).
// Guards: a speed term |C'|^3 below 1e-11 gives 1e-11; else a cross term below 1e-11 gives 1e13.
double curvature_rad_at_point(const cart_point *dC, const cart_point *ddC);

// Returns the curvature |C' x C''| / |C'|^3 from C'(u) and C''(u).
// Guards: a cross term below 1e-6 gives 1e-6; else a speed term below 1e-6 gives 1e8.
double curvature_at_point(const cart_point *dC, const cart_point *ddC);
