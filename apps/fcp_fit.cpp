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
    double tolerance = 0; // mm; 0: a fixed count of breakpoints
    double given_length = 0;
    machine_options machine; // --period
};

// The most pieces a fit for --tolerance may take (as --breakpoints allows).
constexpr int MAX_TOLERANCE_PIECES = 10000;

const char *const DESCRIPTION =
    "Fits the feedrate correction table u(s) of the curve file CURVE and writes it as the\n"
    "FCP_init header (BRK_LEN, FCP_ORD = 6, FCP_SBRK, FCP_THT, and the curve it was made for:\n"
    "FCP_CURVE_POINTS, _DEGREE, _CHECKSUM, _LENGTH, which nurbs_bench checks) to FILE. Each\n"
    "piece is the quintic Hermite interpolant of u, du/ds and d2u/ds2 at its first breakpoint\n"
    "and at its last (C2 there) or at the end of its reach (below), whichever misses less; a\n"
    "breakpoint stands on every joint (a knot where |C'| or C'' jumps), each side with its own\n"
    "data. u(s) comes from the accurate arc length (adaptive Gauss-Kronrod per knot span)\n"
    "inverted by Newton's method. The table's error E is the true arc-length miss\n"
    "S(u_table(s)) - s in mm (S the accurate length): the driver re-bases every\n"
    "step on the true travelled length, so a step misses v*T by E at its end, a relative feed\n"
    "fluctuation of E / (v*T). A step takes the piece it starts on, also where it ends up to\n"
    "v*T past the piece's end (at --feed), so E covers that reach too (except past a joint: a\n"
    "step across a joint is reported apart; interp_compare --joints split takes the piece it\n"
    "ends on). The drift of a run is the sum of the steps' signed errors, at most E times the\n"
    "number of steps. Breakpoints are placed for the smallest E that --breakpoints allow (more\n"
    "breakpoints never give a larger E), or as few as --tolerance E needs. A step that starts\n"
    "just before a strong knot or a tight bend and ends past it is taken on one polynomial,\n"
    "which sets the smallest E a curve allows at a feed; below it --tolerance is refused,\n"
    "naming where. The last breakpoint is the accurate length (the driver's steps, each\n"
    "measured on its own, add up to it). Prints a report.";

const char *const FOOTER =
    "--length must agree with the curve's accurate length to 1e-9 relative; the table then ends\n"
    "there (the difference is a miss at the curve's end, included in E). --tolerance and\n"
    "--breakpoints exclude each other; --tolerance takes at most 10000 pieces. A table that\n"
    "would miss a step by more than a whole step, E > v*T at --feed, is not a table: refused,\n"
    "nothing written. A table holding a number that is not finite is never written. The output\n"
    "may not be the curve file. The accuracy check evaluates (pieces) x samples points; more\n"
    "than 10^7 is refused (it would take minutes). The fit is bounded: at most 60 placements of\n"
    "at most 2 x (breakpoints - 1) pieces, 40 trials a piece and 600000 trial pieces in all\n"
    "(the best table found by then is kept; none found is an error); its progress shows on a\n"
    "terminal.";

// Declares the options of the tool.
void add_options(CLI::App &app, options &o) {
    app.add_option("CURVE", o.curve, "curve file")->required()->type_name("CURVE");
    app.add_option("-o", o.out, "output path")->type_name("FILE")->capture_default_str();
    CLI::Option *brk =
        app.add_option("--breakpoints", o.brk_len, "number of breakpoints, N - 1 pieces")
            ->check(whole_in(2, 10001))
            ->capture_default_str();
    app.add_option("--tolerance", o.tolerance,
                   "fit for E at most E mm with as few pieces as that takes (instead of a count "
                   "of breakpoints); the report says how many it took")
        ->type_name("E")
        ->check(finite_in(1e-15, 1e3, "mm"))
        ->excludes(brk);
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

// Returns the total length: the accurate length, or --length checked against it.
double total_length(const options &o, const arc_table &arc) {
    const double accurate = arc_table_length(arc);
    if (o.given_length > 0) {
        if (!(std::fabs(o.given_length - accurate) <= DRIVER_LENGTH_AGREEMENT * accurate))
            throw tool_failure("--length " + fmt("%.17g", o.given_length) +
                               " is not the length of " + o.curve + " (" + fmt("%.17g", accurate) +
                               " mm)");
        return o.given_length;
    }
    return accurate;
}

// Returns the header's comment: what made it, and how well it fits.
std::vector<std::string> header_comment(const options &o, const std::string &name, int pieces,
                                        const std::vector<std::string> &lines) {
    std::string cmd = "fcp_fit";
    if (o.tolerance > 0)
        cmd += " --tolerance " + fmt("%.17g", o.tolerance);
    else if (o.brk_len != 401)
        cmd += " --breakpoints " + std::to_string(o.brk_len);
    if (o.given_length > 0) cmd += " --length " + fmt("%.17g", o.given_length);
    if (o.feed != 250) cmd += " --feed " + fmt("%.17g", o.feed);
    if (o.machine.period != SERVO_PERIOD) cmd += " --period " + fmt("%.17g", o.machine.period);
    if (o.samples != 64) cmd += " --samples " + std::to_string(o.samples);
    cmd += " -o FCP_init.hpp " + name;
    return {"Feedrate correction table generated by fcp_fit from " + name + "; do not edit.",
            "Command: " + cmd,
            "Piecewise quintic Hermite u(s), " + std::to_string(pieces) +
                " pieces (each to its last breakpoint or to the end of its reach); measured by "
                "fcp_fit:",
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
    const double total = total_length(o, arc);
    const double reach = o.feed * o.machine.period;
    progress_line line("fcp_fit: fitting " + o.curve);
    const auto shown = [&](double done) { line.show(done); };
    fcp_table table;
    fcp_accuracy acc;
    try {
        if (o.tolerance > 0) {
            fcp_fit_result r = fcp_fit_tolerance(arc, total, o.tolerance, reach,
                                                 MAX_TOLERANCE_PIECES, o.samples, shown);
            table = std::move(r.table);
            acc = r.acc;
        } else {
            table = fcp_fit(arc, total, o.brk_len, reach, shown);
        }
    } catch (const fit_error &e) {
        throw tool_failure(o.curve + ": " + e.what() + "; nothing written");
    }
    line.done();
    if (!fcp_table_finite(table))
        throw tool_failure(o.curve + ": the fitted table holds a number that is not finite "
                                     "(the parameter speed |C'| vanishes somewhere on the curve, "
                                     "where u(s) has no slope); nothing written");
    if (!(o.tolerance > 0)) acc = fcp_measure(table, arc, o.samples, reach);
    const std::string miss = fcp_table_miss(table, acc, reach);
    if (!miss.empty())
        throw tool_failure(o.curve + ": " + miss + " at " + fmt("%g", o.feed) +
                           " mm/s: not a table; nothing written (more --breakpoints, or "
                           "--tolerance, follow u(s) closer)");
    const std::vector<std::string> lines =
        fcp_report_lines(table, acc, arc, o.samples, total, o.feed, o.machine.period);
    const std::string name = base_name(o.curve);
    const int pieces = int(table.tht.size());
    if (o.format == "data")
        fcp_table_write(
            out.stream(), table,
            {"fitted by fcp_fit from " + name + " (" + std::to_string(pieces) + " pieces)",
             lines[0], lines[4]});
    else
        fcp_write_header(out.stream(), table, identity_of(curve, arc_table_length(arc)),
                         header_comment(o, name, pieces, lines));
    out.commit();
    if (o.tolerance > 0)
        std::printf("fcp_fit: %s: E <= %g mm took %d pieces (%d breakpoints) -> %s\n", name.c_str(),
                    o.tolerance, pieces, pieces + 1, o.out.c_str());
    else
        std::printf("fcp_fit: %s: %d breakpoints, %d pieces -> %s\n", name.c_str(), o.brk_len,
                    pieces, o.out.c_str());
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
            const int pieces = o.tolerance > 0 ? MAX_TOLERANCE_PIECES : o.brk_len - 1;
            const double points = double(pieces) * double(o.samples);
            if (points > MAX_CHECK_POINTS)
                throw tool_failure(
                    (o.tolerance > 0 ? "--tolerance (up to " + std::to_string(pieces) + " pieces)"
                                     : "--breakpoints " + std::to_string(o.brk_len)) +
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
