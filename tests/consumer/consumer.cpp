// Uses the installed core by its header names: loads a curve given on the command line,
// measures it, and takes one feedrate-correction step; prints both.
#include <cstdio>

#include "geometric.hpp"
#include "interpolate.hpp"
#include "nurbs.hpp"

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    nurbs_curve curve;
    nurbs_curve_alloc_file(argv[1], &curve);
    const double len = adaptiveSimpsons(nurbs_arc_len, &curve, 0.0, 1.0, 1e-9, 30);
    cart_point P, d;
    nurbs_deBoor_eval(0.5, -1, &curve, &P, &d, nullptr, nullptr);
    std::printf("length %.6f speed %.6f u %.9f\n", len, modulus(&d),
                get_u_FCP(0.0, 250.0, 0.00025));
    nurbs_curve_free(&curve);
    return 0;
}
