#include "geometric.hpp"

#include <cmath> // sqrt, pow

double dotprod(const cart_point *p1, const cart_point *p2) {
    return (p1->x * p2->x + p1->y * p2->y) + p1->z * p2->z;
}

double modulus(const cart_point *p) {
    return std::sqrt((p->x * p->x + p->y * p->y) + p->z * p->z);
}

double sq_modulus(const cart_point *p) {
    return (p->x * p->x + p->y * p->y) + p->z * p->z;
}

double mod_crossprod(const cart_point *p1, const cart_point *p2) {
    const double c_x = p1->y * p2->z - p1->z * p2->y;
    const double c_y = p1->z * p2->x - p1->x * p2->z;
    const double c_z = p1->x * p2->y - p1->y * p2->x;
    return std::sqrt((c_x * c_x + c_y * c_y) + c_z * c_z);
}

double cart_dist(const cart_point *Pt_end, const cart_point *Pt_str) {
    double dist = 0;
    dist = std::sqrt((std::pow(Pt_end->x - Pt_str->x, 2.0) + std::pow(Pt_end->y - Pt_str->y, 2.0)) +
                     std::pow(Pt_end->z - Pt_str->z, 2.0));
    return dist;
}

double curvature_rad_at_point(const cart_point *dC, const cart_point *ddC) {
    const double mod = modulus(dC);
    const double nom = std::pow(mod, 3.0);
    const double denom = mod_crossprod(dC, ddC);
    if (nom < 1e-11) return 1e-11;
    if (denom < 1e-11) return 1e13;
    return nom / denom;
}

double curvature_at_point(const cart_point *dC, const cart_point *ddC) {
    const double mod = modulus(dC);
    const double denom = std::pow(mod, 3.0);
    const double nom = mod_crossprod(dC, ddC);
    if (nom < 1e-6) return 1e-6;
    if (denom < 1e-6) return 1e8;
    return nom / denom;
}
