// fcp_fit: fits the feedrate correction table of a curve and writes it as the FCP_init header.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "arc_length.hpp"
#include "atomic_file.hpp"
#include "curve_load.hpp"
#include "fcp_table_file.hpp"
#include "format.hpp"
#include "nurbs.hpp"
#include "table_fit.hpp"
#include "tool_cli.hpp"

using namespace nurbs_interp;

namespace {

// The most accuracy samples a run may take, (breakpoints - 1) * samples.
constexpr double MAX_CHECK_POINTS = 1e7;

struct options {
    std::string out = "FCP_init.hpp", curve, format = "header";
    double feed = 250;
    int brk_len = 401, samples = 64;
    double given_length = 0;
};

const char *const DESCRIPTION =
    "Fits the feedrate correction table u(s) of the curve file CURVE and writes it as the\n"
    "FCP_init header (BRK_LEN, FCP_ORD = 6, FCP_SBRK, FCP_THT) to FILE. Each piece is the\n"
    "quintic Hermite interpolant of u, du/ds and d2u/ds2 at its two breakpoints (C2 across\n"
    "breakpoints), with u(s) from Gauss-Legendre arc length inverted by Newton's method;\n"
    "breakpoints are placed so that the largest error as arc length, E = |u_table - u| |C'|\n"
    "in mm, is as small as the pieces allow: the driver re-bases every step on the true\n"
    "travelled length, so each step misses v*T by the table's E at the step's end, a\n"
    "relative feed fluctuation of E / (v*T).\n"
    "The last breakpoint is the curve length measured as the benchmark driver does (adaptive\n"
    "Simpson, tolerance 1e-12, depth 30), which takes a while. Prints an accuracy report.";

const char *const FOOTER =
    "--length must agree with the curve's Gauss-Legendre length to 1e-9 relative (it saves\n"
    "the slow measurement, it cannot change the curve). A table holding a number that is not\n"
    "finite is never written. The output is written under a temporary name and renamed when\n"
    "complete; it may not be the curve file. The accuracy check evaluates (breakpoints - 1) x\n"
    "samples points; more than 10^7 is refused (it would take minutes).";

// Declares the options of the tool.
void add_options(CLI::App &app, options &o) {
    app.add_option("CURVE", o.curve, "curve file")->required()->type_name("CURVE");
    app.add_option("-o", o.out, "output path")->type_name("FILE")->capture_default_str();
    app.add_option("--breakpoints", o.brk_len, "number of breakpoints, N - 1 pieces")
        ->check(whole_in(2, 10001))
        ->capture_default_str();
    app.add_option("--length", o.given_length, "use MM as the total length instead of measuring it")
        ->type_name("MM")
        ->check(finite_in(1e-9, 1e12, "mm"));
    app.add_option("--format", o.format,
                   "header: the FCP_init header; data: the plain-text table that interp_compare "
                   "--fcp-table reads (\"FCP table: <B> breakpoints\", then B lines \"S <s>\" and "
                   "B - 1 lines \"C <c0> .. <c5>\", %.17g: reads back exactly)")
        ->check(CLI::IsMember({"header", "data"}))
        ->capture_default_str();
    app.add_option("--feed", o.feed,
                   "feed for the report of the fluctuation the table implies, E max / (v T), mm/s")
        ->check(finite_in(1e-3, 1e5, "mm/s"))
        ->capture_default_str();
    app.add_option("--samples", o.samples, "accuracy samples per piece")
        ->check(whole_in(1, 10000))
        ->capture_default_str();
}

// Returns the total length: the driver's measurement, or --length checked against the
// accurate arc length.
double total_length(const options &o, nurbs_curve *curve, const arc_table &arc) {
    const double accurate = arc_table_length(arc);
    if (o.given_length > 0) {
        if (!(std::fabs(o.given_length - accurate) <= 1e-9 * accurate))
            throw tool_failure("--length " + fmt("%.17g", o.given_length) +
                               " is not the length of " + o.curve + " (" + fmt("%.17g", accurate) +
                               " mm)");
        return o.given_length;
    }
    return curve_length_checked(curve, o.curve, "fcp_fit: measuring the curve length:");
}

// Returns the report lines: accuracy, mismatch, end, and where the fit is hardest.
std::vector<std::string> report_lines(const fcp_table &table, const fcp_accuracy &acc,
                                      const arc_table &arc, int samples, double total,
                                      double feed) {
    const double u_worst = arc_param_at(arc, acc.worst_s);
    cart_point P, d1, d2;
    nurbs_deBoor_eval(u_worst, -1, arc.curve, &P, &d1, &d2, nullptr);
    const int j = acc.worst_piece;
    char line[5][220];
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
                  modulus(&d1), curvature_rad_at_point(&d1, &d2));
    std::snprintf(line[4], sizeof line[4],
                  "E max %.3e mm: at %g mm/s (v*T = %g mm) a step misses v*T by up to E / (v*T) "
                  "= %.2e",
                  acc.max_s_err, feed, feed * SERVO_PERIOD, acc.max_s_err / (feed * SERVO_PERIOD));
    return {line[0], line[1], line[2], line[3], line[4]};
}

// Returns the header's comment: what made it, and how well it fits.
std::vector<std::string> header_comment(const options &o, const std::string &name,
                                        const std::vector<std::string> &lines) {
    std::string cmd = "fcp_fit";
    if (o.brk_len != 401) cmd += " --breakpoints " + std::to_string(o.brk_len);
    if (o.given_length > 0) cmd += " --length " + fmt("%.17g", o.given_length);
    cmd += " -o FCP_init.hpp " + name;
    return {"Feedrate correction table generated by fcp_fit from " + name + "; do not edit.",
            "Command: " + cmd,
            "Piecewise quintic Hermite u(s), C2 across breakpoints; measured by fcp_fit:",
            lines[0],
            lines[1],
            lines[4]};
}

// Returns the file name part of a path.
std::string base_name(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int fit(const options &o, atomic_file &out) {
    nurbs_curve curve;
    load_curve_checked(o.curve, &curve);
    arc_table arc;
    arc_table_build(&curve, &arc);
    const double total = total_length(o, &curve, arc);
    const fcp_table table = fcp_fit(arc, total, o.brk_len);
    if (!fcp_table_finite(table))
        throw tool_failure(o.curve + ": the fitted table holds a number that is not finite "
                                     "(the parameter speed |C'| vanishes somewhere on the curve, "
                                     "where u(s) has no slope); nothing written");
    const fcp_accuracy acc = fcp_measure(table, arc, o.samples);
    const std::vector<std::string> lines = report_lines(table, acc, arc, o.samples, total, o.feed);
    const std::string name = base_name(o.curve);
    if (o.format == "data")
        fcp_table_write(
            out.stream(), table,
            {"fitted by fcp_fit from " + name + " (" + std::to_string(o.brk_len - 1) + " pieces)",
             lines[0], lines[4]});
    else
        fcp_write_header(out.stream(), table, header_comment(o, name, lines));
    out.commit();
    std::printf("fcp_fit: %s: %d breakpoints, %d pieces -> %s\n", name.c_str(), o.brk_len,
                o.brk_len - 1, o.out.c_str());
    for (const std::string &l : lines)
        std::printf("  %s\n", l.c_str());
    return EXIT_DONE;
}

} // namespace

int main(int argc, char **argv) {
    options o;
    return tool_main(
        argc, argv, "fcp_fit", DESCRIPTION, with_outputs_help(FOOTER),
        [&](CLI::App &app) { add_options(app, o); },
        [&] {
            const double points = double(o.brk_len - 1) * double(o.samples);
            if (points > MAX_CHECK_POINTS)
                throw tool_failure("--breakpoints " + std::to_string(o.brk_len) +
                                   " with --samples " + std::to_string(o.samples) + " asks for " +
                                   fmt("%.3g", points) + " accuracy samples (bound: 1e+07)");
            refuse_output_over_inputs(o.out, "-o", {o.curve});
            // Created (under a temporary name) before the fit: a path that cannot be written fails
            // at once, and SIGINT or SIGTERM during the fit removes it.
            remove_temporaries_on_signal();
            atomic_file out(o.out);
            return fit(o, out);
        });
}
