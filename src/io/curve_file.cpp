#include "io/curve_file.hpp"

#include <cstdlib> // free of the memory stream
#include <new>     // bad_alloc

namespace nurbs_interp {

bool curve_file_write(std::FILE *out, const curve_def &c) {
    std::fprintf(out, "N%zu\tL%u\tD%u\n", c.points.size(), c.deg, c.dim);
    for (double k : c.knots)
        std::fprintf(out, "K%.17g\n", k);
    for (const nurbs_ctrl_pt &p : c.points) {
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
