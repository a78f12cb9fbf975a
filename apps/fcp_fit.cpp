// fcp_fit: fits the feedrate correction table of a curve and writes it as the FCP_init header.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h> // isatty

#include "arc_length.hpp"
#include "table_fit.hpp"
#include "curve_report.hpp"
#include "nurbs.hpp"

using namespace nurbs_interp;

namespace {

void usage(std::FILE *out) {
    std::fprintf(
        out,
        "usage: fcp_fit [--help] [-o FILE] [--breakpoints N] [--length MM] [--samples M] CURVE\n"
        "Fits the feedrate correction table u(s) of the curve file CURVE and writes it as the\n"
        "FCP_init header (BRK_LEN, FCP_ORD = 6, FCP_SBRK, FCP_THT) to FILE (default\n"
        "FCP_init.hpp). Each piece is the quintic Hermite interpolant of u, du/ds and d2u/ds2 at\n"
        "its two breakpoints (C2 across breakpoints), with u(s) from Gauss-Legendre arc length\n"
        "inverted by Newton's method; breakpoints are moved to equidistribute the error.\n"
        "The last breakpoint is the curve length measured as the benchmark driver does\n"
        "(adaptive Simpson, tolerance 1e-12, depth 30), which takes a while.\n"
        "Prints an accuracy report on standard output.\n"
        "  -o FILE          output path\n"
        "  --breakpoints N  number of breakpoints, N - 1 pieces (default 401)\n"
        "  --length MM      use MM as the total length instead of measuring it\n"
        "  --samples M      accuracy samples per piece (default 64)\n");
}

// Parses a whole decimal integer >= lo; returns false otherwise.
bool parse_int(const char *text, int lo, int *out) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end || errno || v < lo || v > 1000000) return false;
    *out = int(v);
    return true;
}

// Returns the total length as the driver measures it: adaptiveSimpsons(nurbs_arc_len, curve,
// 0, 1, 1e-12, 30), with a percentage on standard error while it runs, if that is a terminal.
double driver_length(nurbs_curve *curve) {
    const bool show = isatty(fileno(stderr));
    unsigned long calls = 0;
    auto speed = [&](double u) {
        if (show && (++calls & ((1ul << 21) - 1)) == 0)
            std::fprintf(stderr, "\rfcp_fit: measuring the curve length: %3.0f%%",
                         100 * std::fmin(u, 1.0));
        return nurbs_arc_len(u, curve);
    };
    const double len = simpson_integrate(speed, 0.0, 1.0, 1e-12, 30);
    if (show) std::fprintf(stderr, "\r%60s\r", "");
    return len;
}

// Returns the file name part of a path.
std::string base_name(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

int main(int argc, char **argv) {
    std::string out_path = "FCP_init.hpp";
    const char *curve_path = nullptr;
    int brk_len = 401, samples = 64;
    double given_length = 0;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            usage(stdout);
            return 0;
        } else if (!std::strcmp(argv[i], "-o") && has_value) {
            out_path = argv[++i];
        } else if (!std::strcmp(argv[i], "--breakpoints") && has_value) {
            if (!parse_int(argv[++i], 2, &brk_len)) {
                std::fprintf(stderr, "fcp_fit: --breakpoints needs a whole number >= 2\n");
                return 2;
            }
        } else if (!std::strcmp(argv[i], "--samples") && has_value) {
            if (!parse_int(argv[++i], 1, &samples)) {
                std::fprintf(stderr, "fcp_fit: --samples needs a whole number >= 1\n");
                return 2;
            }
        } else if (!std::strcmp(argv[i], "--length") && has_value) {
            char *end = nullptr;
            given_length = std::strtod(argv[++i], &end);
            if (*end || !(given_length > 0) || !std::isfinite(given_length)) {
                std::fprintf(stderr, "fcp_fit: --length needs a positive length\n");
                return 2;
            }
        } else if (argv[i][0] != '-' && !curve_path) {
            curve_path = argv[i];
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (!curve_path) {
        usage(stderr);
        return 2;
    }

    nurbs_curve curve;
    if (!load_curve_or_report(curve_path, &curve)) return 1;
    arc_table arc;
    arc_table_build(&curve, &arc);
    const double total = given_length > 0 ? given_length : driver_length(&curve);
    const fcp_table table = fcp_fit(arc, total, brk_len);
    const fcp_accuracy acc = fcp_measure(table, arc, samples);

    // Where the fit is hardest: the curve at the worst sample.
    const double u_worst = arc_param_at(arc, acc.worst_s);
    cart_point P, d1, d2;
    nurbs_deBoor_eval(u_worst, -1, &curve, &P, &d1, &d2, nullptr);
    const double v = std::sqrt(d1.x * d1.x + d1.y * d1.y);
    const double cross = std::fabs(d1.x * d2.y - d1.y * d2.x);
    const double radius = cross > 0 ? v * v * v / cross : INFINITY;
    const int j = acc.worst_piece;

    char line[4][200];
    std::snprintf(line[0], sizeof line[0],
                  "max |u_table(s) - u(s)| = %.3e (%d samples per piece), as arc length %.3e mm",
                  acc.max_u_err, samples, acc.max_s_err);
    std::snprintf(line[1], sizeof line[1],
                  "max mismatch between adjacent pieces at a breakpoint = %.3e (breakpoint %d)",
                  acc.max_mismatch, acc.mismatch_piece + 1);
    std::snprintf(line[2], sizeof line[2],
                  "last piece at the last breakpoint: 1 %+.3e; curve length %.17g mm", acc.end_err,
                  total);
    std::snprintf(line[3], sizeof line[3],
                  "limited by piece %d, s = %.3f .. %.3f mm (%.3f mm long), at u = %.6f, |C'| = "
                  "%.4g mm, radius of curvature %.4g mm",
                  j, table.sbrk[j], table.sbrk[j + 1], table.sbrk[j + 1] - table.sbrk[j], u_worst,
                  v, radius);

    const std::string name = base_name(curve_path);
    std::string cmd = "fcp_fit";
    if (brk_len != 401) cmd += " --breakpoints " + std::to_string(brk_len);
    if (given_length > 0) {
        char num[40];
        std::snprintf(num, sizeof num, "%.17g", given_length);
        cmd += std::string(" --length ") + num;
    }
    cmd += " -o FCP_init.hpp " + name;
    const std::vector<std::string> comment = {
        "Feedrate correction table generated by fcp_fit from " + name + "; do not edit.",
        "Command: " + cmd,
        "Piecewise quintic Hermite u(s), C2 across breakpoints; measured by fcp_fit:",
        line[0],
        line[1],
    };

    const std::string tmp = out_path + ".tmp";
    std::FILE *f = std::fopen(tmp.c_str(), "w");
    if (!f) {
        std::fprintf(stderr, "fcp_fit: %s: could not create the output file\n", out_path.c_str());
        return 1;
    }
    fcp_write_header(f, table, comment);
    const bool ok = !std::ferror(f);
    if (std::fclose(f) != 0 || !ok || std::rename(tmp.c_str(), out_path.c_str()) != 0) {
        std::remove(tmp.c_str());
        std::fprintf(stderr, "fcp_fit: %s: could not write the output file\n", out_path.c_str());
        return 1;
    }
    std::printf("fcp_fit: %s: %d breakpoints, %d pieces -> %s\n", name.c_str(), brk_len,
                brk_len - 1, out_path.c_str());
    for (const char *l : line)
        std::printf("  %s\n", l);
    return 0;
}
