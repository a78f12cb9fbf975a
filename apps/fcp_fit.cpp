// fcp_fit: fits the feedrate correction table of a curve and writes it as the FCP_init header.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "plan/arc_length.hpp"
#include "io/atomic_file.hpp"
#include "plan/curve_length.hpp"
#include "io/curve_load.hpp"
#include "io/fcp_table_file.hpp"
#include "io/format.hpp"
#include "common/machine_cli.hpp"
#include "core/nurbs.hpp"
#include "io/progress.hpp"
#include "plan/table_fit.hpp"
#include "plan/table_report.hpp"
#include "common/tool_cli.hpp"

using namespace nurbs_interp;

namespace {

// The most accuracy samples a run may take, (breakpoints - 1) * samples.
constexpr double MAX_CHECK_POINTS = 1e7;

struct options {
    std::string out = "FCP_init.hpp", curve, format = "header";
    double feed = 250;
    int brk_len = 401, samples = 64;
    double given_length = 0;
    machine_options machine; // --period
};

const char *const DESCRIPTION =
    "Fits the feedrate correction table u(s) of the curve file CURVE and writes it as the\n"
    "FCP_init header (BRK_LEN, FCP_ORD = 6, FCP_SBRK, FCP_THT) to FILE. Each piece is the\n"
    "quintic Hermite interpolant of u, du/ds and d2u/ds2 at its two breakpoints (C2 across\n"
    "breakpoints; at a joint, a knot where |C'| or C'' jumps, each side has its own data and a\n"
    "breakpoint stands on it), with u(s) from the accurate arc length (adaptive Gauss-Kronrod\n"
    "per knot span) inverted by Newton's method. Breakpoints are placed so that the largest\n"
    "error as arc length, E = |u_table - u| |C'| in mm, is as small as the pieces allow, where\n"
    "the driver uses them: the driver re-bases every step on the true travelled length, so a\n"
    "step misses v*T by the table's E at the step's end, a relative feed fluctuation of\n"
    "E / (v*T); and a step takes the piece it starts on, also where it ends up to v*T past the\n"
    "piece's end (at --feed), so E covers that reach too (except past a joint: a step across\n"
    "a joint is reported apart; interp_compare --joints split takes the piece it ends on).\n"
    "The drift of a run, the travelled minus the commanded length, is the sum of the steps'\n"
    "signed errors, at most E times the number of steps.\n"
    "The last breakpoint is the curve length as the benchmark driver measures it (adaptive\n"
    "Simpson over the whole curve, tolerance 1e-12, depth 30) when it agrees with the accurate\n"
    "length to 1e-9; otherwise (a warning gives both) the accurate length. Prints a report.";

const char *const FOOTER =
    "--length must agree with the curve's accurate length to 1e-9 relative (it saves the\n"
    "driver's measurement, it cannot change the curve). A table that would miss a step by\n"
    "more than a whole step, E > v*T at --feed, is not a table: refused, nothing written. A\n"
    "table holding a number that is not finite is never written. The output is written under\n"
    "a temporary name and renamed when complete; it may not be the curve file. The accuracy\n"
    "check evaluates (breakpoints - 1) x samples points; more than 10^7 is refused (it would\n"
    "take minutes). The fit is bounded: at most 60 placements of at most 2 x (breakpoints - 1)\n"
    "pieces, 40 trials a piece; its progress shows on a terminal.";

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
                   "the highest feed the table is for, mm/s: a step of v*T past a piece's end is "
                   "part of its error, and E max / (v*T) the fluctuation it implies")
        ->check(finite_in(1e-3, 1e5, "mm/s"))
        ->capture_default_str();
    add_machine_options(app, o.machine, machine_parts::period);
    app.add_option("--samples", o.samples, "accuracy samples per piece")
        ->check(whole_in(1, 10000))
        ->capture_default_str();
}

// Returns the total length: the driver's measurement (or --length, checked against the
// accurate length), when it agrees with the accurate length.
double total_length(const options &o, nurbs_curve *curve, const arc_table &arc) {
    const double accurate = arc_table_length(arc);
    if (o.given_length > 0) {
        if (!(std::fabs(o.given_length - accurate) <= DRIVER_LENGTH_AGREEMENT * accurate))
            throw tool_failure("--length " + fmt("%.17g", o.given_length) +
                               " is not the length of " + o.curve + " (" + fmt("%.17g", accurate) +
                               " mm)");
        return o.given_length;
    }
    return driver_length_beside(curve, accurate, o.curve, "fcp_fit");
}

// Returns the header's comment: what made it, and how well it fits.
std::vector<std::string> header_comment(const options &o, const std::string &name,
                                        const std::vector<std::string> &lines) {
    std::string cmd = "fcp_fit";
    if (o.brk_len != 401) cmd += " --breakpoints " + std::to_string(o.brk_len);
    if (o.given_length > 0) cmd += " --length " + fmt("%.17g", o.given_length);
    if (o.feed != 250) cmd += " --feed " + fmt("%.17g", o.feed);
    if (o.machine.period != SERVO_PERIOD) cmd += " --period " + fmt("%.17g", o.machine.period);
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
    tool_arc_table(&curve, o.curve, "fcp_fit", &arc);
    const double total = total_length(o, &curve, arc);
    const double reach = o.feed * o.machine.period;
    progress_line line("fcp_fit: fitting " + o.curve);
    const fcp_table table =
        fcp_fit(arc, total, o.brk_len, reach, [&](double done) { line.show(done); });
    line.done();
    if (!fcp_table_finite(table))
        throw tool_failure(o.curve + ": the fitted table holds a number that is not finite "
                                     "(the parameter speed |C'| vanishes somewhere on the curve, "
                                     "where u(s) has no slope); nothing written");
    const fcp_accuracy acc = fcp_measure(table, arc, o.samples, reach);
    const std::string miss = fcp_table_miss(table, acc, reach);
    if (!miss.empty())
        throw tool_failure(o.curve + ": " + miss + " at " + fmt("%g", o.feed) +
                           " mm/s: not a table; nothing written (more --breakpoints follow "
                           "u(s) closer)");
    const std::vector<std::string> lines =
        fcp_report_lines(table, acc, arc, o.samples, total, o.feed, o.machine.period);
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
