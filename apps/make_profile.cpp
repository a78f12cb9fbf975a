// make_profile: writes a jerk-limited (S-curve) feed profile, rest -> cruise -> rest, sampled
// at the servo period, whose travel ends just short of a given length; or, with
// --curvature-limited, a profile whose feed also follows the curve's chord-error and
// centripetal caps.
#include <algorithm> // max_element for the summary
#include <cmath>
#include <cstdio>
#include <string>

#include "arc_length.hpp"
#include "atomic_file.hpp"
#include "curve_length.hpp"
#include "curve_load.hpp"
#include "feed_cap.hpp"
#include "feed_profile.hpp"
#include "feed_ramp.hpp"
#include "format.hpp"
#include "tool_cli.hpp"

using namespace nurbs_interp;

namespace {

constexpr double PERIOD = SERVO_PERIOD;
constexpr double MARGIN = 0.5;       // default: travel = curve length - MARGIN, mm
constexpr double CAP_CELL = 0.01;    // curvature-limited: arc-length cell of the cap table, mm
constexpr double FLOOR_SHARE = 0.01; // curvature-limited: lowest cap as a share of the cruise

struct options {
    std::string out = "fprof.txt", curve = "S1200X30quorbel.nurbs";
    double vmax = 250, acc = 2500, jerk = 50000, length = 0, chord_tol = 0.001, centripetal = 0;
    bool capped = false;
};

const char *const DESCRIPTION =
    "Writes a jerk-limited feed profile (rest, S-curve up to the cruise feed, cruise, S-curve\n"
    "down to rest) sampled every 0.00025 s to FILE: \"N=<count>\", then per sample feed,\n"
    "acceleration and jerk (%.17g), with acceleration = d feed/dt and jerk = d acceleration/dt\n"
    "of the planned move. The travel period * sum(feed) ends just short of the target length:\n"
    "the length of --curve minus 0.5 mm (its accurate length, as curve_info prints it), or\n"
    "--length.";

const char *const FOOTER =
    "--curvature-limited (needs a curve): the feed at arc length s is also capped by the\n"
    "curve's radius of curvature rho there (all three coordinates),\n"
    "  chord error   v <= (2/T) sqrt(2 rho D - D^2)   (T = 0.00025 s; below rho = D the cap\n"
    "                keeps its value at rho = D, 2D/T, where the formula fails)\n"
    "  centripetal   v <= sqrt(AC rho)\n"
    "and never set below 1% of the cruise feed (so that a cusp cannot stop the move; a\n"
    "warning names the length where that floor applies). Where the tangent turns by more than\n"
    "10 degrees between neighbouring samples of the cap, or |C'| vanishes (a corner, a cusp,\n"
    "a reversal the radius does not see), the cap is that floor, and a warning names where.\n"
    "The cap is tabulated over arc length in 0.01 mm cells (each the lowest value of the\n"
    "curve sampled at least once per cell). The planner steps through the periods with a\n"
    "constant jerk in each: it takes the largest jerk (bisection) after which full braking\n"
    "(jerk -J down to -A, then easing off to rest) would keep every later sample under the cap\n"
    "and stop by the target, so it brakes ahead of every tight bend and ends at rest just\n"
    "short of the target. Each sample's feed stays under the cap over the stretch [s, s + v*T]\n"
    "the driver covers in that period; |a| <= A and |j| <= J. Limits: the cap is exact only to\n"
    "the table (local minima between samples refined by a parabola); tangential and\n"
    "centripetal acceleration are limited separately, not as a vector sum; the plan is\n"
    "greedy, near time-optimal, not optimal.\n"
    "\n"
    "Bounds: a profile has at most 10^7 samples (2500 s of motion); a cap table at most\n"
    "2*10^7 cells (200 m of path). Work beyond them is refused before it starts, with the\n"
    "estimate. The output is written under a temporary name and renamed when complete; it may\n"
    "not be the curve file.";

// Declares the options of the tool.
void add_options(CLI::App &app, options &o) {
    app.add_option("-o", o.out, "output path")->type_name("FILE")->capture_default_str();
    app.add_option("--cruise", o.vmax, "cruise feed, mm/s")
        ->check(finite_in(1e-3, 1e5, "mm/s"))
        ->capture_default_str();
    app.add_option("--acc", o.acc, "acceleration limit, mm/s^2")
        ->check(finite_in(1e-3, 1e8, "mm/s^2"))
        ->capture_default_str();
    app.add_option("--jerk", o.jerk, "jerk limit, mm/s^3")
        ->check(finite_in(1e-3, 1e11, "mm/s^3"))
        ->capture_default_str();
    CLI::Option *curve =
        app.add_option("--curve", o.curve, "target = length of this curve file - 0.5 mm")
            ->type_name("CURVE")
            ->capture_default_str();
    CLI::Option *length =
        app.add_option("--length", o.length, "target length, mm, instead of a curve")
            ->check(finite_in(1e-6, 1e9, "mm"))
            ->excludes(curve);
    CLI::Option *capped = app.add_flag("--curvature-limited", o.capped,
                                       "cap the feed by the curve's geometry (needs a curve)")
                              ->excludes(length);
    app.add_option("--chord-tol", o.chord_tol, "chord-error tolerance D, mm")
        ->check(finite_in(1e-9, 100, "mm"))
        ->capture_default_str()
        ->needs(capped);
    app.add_option("--centripetal", o.centripetal,
                   "centripetal acceleration limit AC, mm/s^2 (default: --acc)")
        ->check(finite_in(1e-3, 1e8, "mm/s^2"))
        ->needs(capped);
}

// Loads the curve and returns its accurate arc table; throws when it cannot be used.
arc_table curve_table(const options &o, nurbs_curve *curve) {
    load_curve_checked(o.curve, curve);
    arc_table arc;
    tool_arc_table(curve, o.curve, "make_profile", &arc);
    if (!(arc_table_length(arc) - MARGIN > 0))
        throw curve_error(o.curve + ": the curve is shorter than " + fmt("%g", MARGIN) + " mm");
    return arc;
}

// Throws when a sample of the planned profile is not finite (nothing is written then).
void refuse_non_finite(const feed_profile &p, const std::string &source) {
    for (std::size_t k = 0; k < p.v.size(); ++k)
        if (!std::isfinite(p.v[k]) || !std::isfinite(p.a[k]) || !std::isfinite(p.j[k]))
            throw tool_failure(source +
                               ": the planned profile holds a number that is not finite "
                               "at sample " +
                               std::to_string(k + 1) + "; nothing written");
}

// The curvature-limited mode: plans against the curve's feed cap, writes the profile and
// prints a summary with the worst ratios to the limits.
int write_capped(const options &o, atomic_file &out) {
    nurbs_curve curve;
    const arc_table arc = curve_table(o, &curve);
    const double target = arc_table_length(arc) - MARGIN;
    feed_cap_limits lim;
    lim.vmax = o.vmax;
    lim.chord_tol = o.chord_tol;
    lim.centripetal = o.centripetal > 0 ? o.centripetal : o.acc;
    lim.period = PERIOD;
    lim.floor = FLOOR_SHARE * o.vmax;
    const feed_cap_table cap = feed_cap_from_curve(&curve, arc, lim, CAP_CELL);
    if (cap.floored > 0)
        std::fprintf(stderr,
                     "make_profile: warning: %s: over %.6g mm the curve's cap is below the floor "
                     "of %g mm/s; the floor is used there\n",
                     o.curve.c_str(), cap.floored, lim.floor);
    if (cap.sharp_count > 0) {
        std::string where;
        for (double s : cap.sharp)
            where += (where.empty() ? "" : ", ") + fmt("%.6g", s);
        std::fprintf(stderr,
                     "make_profile: warning: %s: the tangent turns sharply or |C'| vanishes at "
                     "%ld samples (arc length %s%s mm); the cap is the floor of %g mm/s there\n",
                     o.curve.c_str(), cap.sharp_count, where.c_str(),
                     cap.sharp_count > long(cap.sharp.size()) ? ", ..." : "", lim.floor);
    }
    feed_plan_stats stats;
    const feed_profile prof = feed_plan_capped(cap, target, o.acc, o.jerk, PERIOD, &stats);
    refuse_non_finite(prof, o.curve);
    feed_profile_write(out.stream(), prof);
    out.commit();

    const feed_limit_ratios r = feed_limits_check(
        prof, [&](double s0, double s1) { return feed_cap_min(cap, s0, s1); }, o.acc, o.jerk,
        PERIOD);
    std::printf("make_profile: %zu samples (%.4f s) -> %s\n", prof.v.size(),
                (prof.v.size() - 1) * PERIOD, o.out.c_str());
    std::printf("  curvature-limited: chord tolerance %g mm, centripetal %g mm/s^2, cruise %g mm/s,"
                " acc %g mm/s^2, jerk %g mm/s^3\n",
                o.chord_tol, lim.centripetal, o.vmax, o.acc, o.jerk);
    std::printf("  target %.9f mm, travel %.9f mm; top feed %.9g mm/s, slowest between start and "
                "stop %.6g mm/s (none: inf); lowest cap met %.6g mm/s\n",
                target, feed_profile_travel(prof, PERIOD),
                *std::max_element(prof.v.begin(), prof.v.end()), r.slowest_mid, r.lowest_cap);
    std::printf("  worst feed/cap %.12f, |a|/A %.12f, |j|/J %.12f; %ld checks, %ld forced\n", r.cap,
                r.acc, r.jerk, stats.checks, stats.forced);
    return EXIT_DONE;
}

// The plain S-curve mode.
int write_plain(const options &o, atomic_file &out) {
    double length = o.length;
    if (length == 0) {
        nurbs_curve curve;
        length = arc_table_length(curve_table(o, &curve)) - MARGIN;
    }
    const sampled_move m = feed_move_fit(length, o.vmax, o.acc, o.jerk, PERIOD);
    refuse_non_finite(m.profile, o.length > 0 ? "--length" : o.curve);
    feed_profile_write(out.stream(), m.profile);
    out.commit();
    std::printf("make_profile: %zu samples (%.4f s) -> %s\n", m.profile.v.size(),
                (m.profile.v.size() - 1) * PERIOD, o.out.c_str());
    std::printf("  target %.9f mm, travel %.9f mm; peak feed %.9g mm/s, cruise %.6f s, "
                "ramps %.6f s\n",
                length, feed_profile_travel(m.profile, PERIOD), m.move.peak, m.move.cruise,
                feed_ramp_time(m.move.up));
    return EXIT_DONE;
}

} // namespace

int main(int argc, char **argv) {
    options o;
    return tool_main(
        argc, argv, "make_profile", DESCRIPTION, with_outputs_help(FOOTER),
        [&](CLI::App &app) { add_options(app, o); },
        [&] {
            const bool uses_curve = o.capped || o.length == 0;
            if (uses_curve) refuse_output_over_inputs(o.out, "-o", {o.curve});
            remove_temporaries_on_signal();
            atomic_file out(o.out); // a path that cannot be written fails here, before the work
            return o.capped ? write_capped(o, out) : write_plain(o, out);
        });
}
