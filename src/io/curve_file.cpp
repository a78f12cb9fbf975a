#include "io/curve_file.hpp"

#include <cmath>   // isfinite
#include <cstdlib> // free of the memory stream
#include <new>     // bad_alloc

#include "core/nurbs.hpp" // knot_vector_problem, NURBS_MAX_DEGREE

namespace nurbs_interp {

std::string curve_def_problem(const curve_def &c, std::size_t *at) {
    *at = 0;
    if (c.deg < 2 || c.deg > NURBS_MAX_DEGREE)
        return "degree " + std::to_string(c.deg) + " is outside 2.." +
               std::to_string(NURBS_MAX_DEGREE);
    if (c.dim != 2 && c.dim != 3) return "dimension " + std::to_string(c.dim) + " is not 2 or 3";
    if (c.points.size() < c.deg + 1)
        return std::to_string(c.points.size()) +
               " control points are fewer than degree + 1 = " + std::to_string(c.deg + 1);
    for (std::size_t i = 0; i < c.points.size(); ++i) {
        *at = i;
        const curve_def::point &p = c.points[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
            return "control point " + std::to_string(i + 1) +
                   " has a coordinate that is not finite";
        if (!(p.w > 0) || !std::isfinite(p.w))
            return "control point " + std::to_string(i + 1) + " has a weight that is not positive";
    }
    if (c.knots.size() != c.points.size() + c.deg + 1) {
        *at = c.knots.size();
        return std::to_string(c.knots.size()) + " knots for " + std::to_string(c.points.size()) +
               " control points of degree " + std::to_string(c.deg) + "; it takes " +
               std::to_string(c.points.size() + c.deg + 1);
    }
    return knot_vector_problem(c.knots, c.deg, at);
}

bool curve_file_write(std::FILE *out, const curve_def &c) {
    std::fprintf(out, "N%zu\tL%u\tD%u\n", c.points.size(), c.deg, c.dim);
    for (double k : c.knots)
        std::fprintf(out, "K%.17g\n", k);
    for (const curve_def::point &p : c.points) {
        if (c.dim == 3)
            std::fprintf(out, "X%.17g\tY%.17g\tZ%.17g\tP%.17g\n", p.x, p.y, p.z, p.w);
        else
            std::fprintf(out, "X%.17g\tY%.17g\tP%.17g\n", p.x, p.y, p.w);
    }
    return !std::ferror(out);
}

std::string curve_file_text(const curve_def &c) {
    char *buf = nullptr;
    std::size_t size = 0;
    std::FILE *mem = open_memstream(&buf, &size);
    if (!mem) throw std::bad_alloc();
    const bool written = curve_file_write(mem, c);
    std::fclose(mem);
    std::string text(buf, size);
    std::free(buf);
    if (!written) throw std::bad_alloc(); // a memory stream fails only for want of memory
    return text;
}

} // namespace nurbs_interp
