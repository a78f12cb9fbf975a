// make_profile: writes a jerk-limited (S-curve) feed profile, rest -> cruise -> rest, sampled
// at the servo period, whose travel ends just short of a given length; or, with
// --curvature-limited, a profile whose feed also follows the curve's chord-error and
// centripetal caps.
#include <algorithm> // max_element for the summary
#include <cmath>
#include <cstdio>
#include <string>

#include "plan/arc_length.hpp"
#include "io/atomic_file.hpp"
#include "plan/curve_length.hpp"
#include "io/curve_load.hpp"
#include "plan/feed_cap.hpp"
#include "io/feed_profile.hpp"
#include "plan/feed_ramp.hpp"
#include "io/format.hpp"
#include "plan/joints.hpp"
#include "common/machine_cli.hpp"
#include "plan/plan_check.hpp"
#include "common/tool_cli.hpp"

using namespace nurbs_interp;

namespace {

// The relative slack the axis check of a planned profile allows (rounding).
constexpr double AXIS_SLACK = 1e-9;
constexpr double MARGIN = 0.5;       // default: travel = curve length - MARGIN, mm
constexpr double CAP_CELL = 0.01;    // curvature-limited: arc-length cell of the cap table, mm
constexpr double FLOOR_SHARE = 0.01; // curvature-limited: lowest cap as a share of the cruise

struct options {
    std::string out = "fprof.txt", curve = "S1200X30quorbel.nurbs";
    double vmax = 250, acc = 2500, jerk = 50000, length = 0, chord_tol = 0.001, centripetal = 0;
    bool capped = false;
    machine_options machine;
};

const char *const DESCRIPTION =
    "Writes a jerk-limited feed profile (rest, S-curve up to the cruise feed, cruise, S-curve\n"
    "down to rest) sampled every servo period (--period, default 0.00025 s) to FILE:\n"
    "\"N=<count>\", then per sample feed, acceleration and jerk (%.17g), with acceleration =\n"
    "d feed/dt and jerk = d acceleration/dt of the planned move, then, for a period other than\n"
    "0.00025 s, the line \"# period <T> s\" (the driver never reads past the samples; the\n"
    "tools check it: a profile without it is for 0.00025 s). The travel period * sum(feed)\n"
    "ends just short of the target length: the length of --curve minus 0.5 mm (its accurate\n"
    "length, as curve_info prints it), or --length.";

const char *const FOOTER =
    "--curvature-limited (needs a curve): the feed at arc length s is also capped by the\n"
    "curve's radius of curvature rho there (all three coordinates),\n"
    "  chord error   v <= (2/T) sqrt(2 rho D - D^2)   (T the period; below rho = D the cap\n"
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
    "Axis limits (--axis-vel, --axis-acc, --axis-jerk, or --config with a machine file; need\n"
    "--curve): the planner above also keeps, at every sample, each axis's velocity C_s,k V,\n"
    "acceleration C_s,k A + C_ss,k V^2 and jerk C_s,k J + C_sss,k V^3 + 3 C_ss,k V A\n"
    "(compute_axial_vaj, C_s the unit tangent, C_ss and C_sss its derivatives by arc length)\n"
    "within its limits, by splitting each axis's budget: half its acceleration for the\n"
    "tangential term (the path acceleration limit is at most half the smallest axis limit), half\n"
    "for the centripetal term (a feed cap); a third of its jerk for each jerk term (the path\n"
    "jerk at most a third of the smallest; two feed caps). Conservative: where curvature binds\n"
    "it can be up to 2x slower than a time-optimal plan; never over a limit. At a corner (a\n"
    "knot where the tangent turns) no non-zero feed keeps the axis accelerations finite: the\n"
    "plan comes to rest there (to within 1e-9 mm) and starts again. The written profile is\n"
    "checked sample by sample with compute_axial_vaj at the sample's point (the driver's\n"
    "travel) and its feed, acceleration and jerk; a profile over any limit (relative slack\n"
    "1e-9), or one that cannot pass a point, is refused naming where and which limit, never\n"
    "written slower or over. The summary says which limit binds over how much of the path.\n"
    "\n"
    "Bounds: a profile has at most 10^7 samples (2500 s of motion); a cap table at most\n"
    "2*10^7 cells (200 m of path). Work beyond them is refused before it starts, with the\n"
    "estimate. The output is written under a temporary name and renamed when complete; it may\n"
    "not be the curve file.";

// Declares the options of the tool.
void add_options(CLI::App &app, options &o) {
    app.add_option("-o", o.out, "output path")->type_name("FILE")->capture_default_str();
    add_machine_options(app, o.machine, machine_parts::axes_and_period);
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

// Returns the limits of the cap along the curve: the geometric caps (--curvature-limited) and
// the machine's axes; with axis limits there is no floor (a stop is planned instead).
feed_cap_limits cap_limits(const options &o, const machine_limits &m, nurbs_curve *curve,
                           const arc_table &arc) {
    feed_cap_limits lim;
    lim.vmax = o.vmax;
    lim.chord_tol = o.chord_tol;
    lim.centripetal = o.centripetal > 0 ? o.centripetal : o.acc;
    lim.period = m.period;
    lim.geometric = o.capped;
    lim.floor = machine_has_axes(m) ? 0.0 : FLOOR_SHARE * o.vmax;
    if (machine_has_axes(m)) {
        lim.machine = &m;
        lim.path_acc = machine_path_acc(m, o.acc);
        for (double u : curve_corners(curve))
            lim.stops.push_back(arc_length_to(arc, u));
    }
    return lim;
}

// Warns where the floor or a sharp turn set the cap.
void warn_floors(const options &o, const feed_cap_table &cap, const feed_cap_limits &lim) {
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
}

// Throws unless the profile keeps every axis within its limits at every sample (to a relative
// slack of AXIS_SLACK) and reaches its target.
void verify_axes(const options &o, const feed_profile &prof, const arc_table &arc,
                 const machine_limits &m, double target) {
    const double travel = feed_profile_travel(prof, m.period);
    if (!(travel > target - 1e-3))
        throw tool_failure(o.curve +
                           ": the axis limits allow no feed at s = " + fmt("%.6f", travel) +
                           " mm (a sharp turn or a stop of the "
                           "parametrisation away from a knot); nothing written");
    const axis_check c = check_profile_axes(prof, arc, m);
    if (c.ratio > 1 + AXIS_SLACK)
        throw tool_failure(o.curve + ": the plan exceeds the " + limit_name(c.kind, c.axis) +
                           " limit by a factor " + fmt("%.9g", c.ratio) + " at sample " +
                           std::to_string(c.sample + 1) + " (t = " + fmt("%.6f", c.t) +
                           " s, s = " + fmt("%.6f", c.s) + " mm); nothing written");
}

// Prints the machine's limits and what they make of the path limits.
void print_machine(const machine_limits &m, double acc, double jerk, std::size_t stops) {
    auto three = [](const std::array<double, 3> &x) {
        return fmt("%g", x[0]) + "," + fmt("%g", x[1]) + "," + fmt("%g", x[2]);
    };
    std::printf("  axes X,Y,Z: velocity %s mm/s, acceleration %s mm/s^2, jerk %s mm/s^3 (0: no "
                "limit); path acceleration %g mm/s^2, path jerk %g mm/s^3; servo period %g s; "
                "%zu stops at corners\n",
                three(m.vel).c_str(), three(m.acc).c_str(), three(m.jerk).c_str(), acc, jerk,
                m.period, stops);
}

// Prints which limit binds over how much of the path.
void print_binding(const feed_profile &prof, const arc_table &arc, const feed_cap_limits &lim,
                   double path_acc, double path_jerk) {
    const double travel = feed_profile_travel(prof, lim.period);
    std::string text;
    for (const binding &b : binding_report(prof, arc, lim, path_acc, path_jerk))
        text += (text.empty() ? "" : ", ") + b.limit + " " + fmt("%.6g", b.length) + " mm (" +
                fmt("%.1f", 100 * b.length / travel) + " %)";
    std::printf("  binding (feed, |a| or |j| within 1 %% of the limit): %s\n", text.c_str());
}

// The capped mode (--curvature-limited and/or axis limits): plans against the curve's feed cap,
// checks and writes the profile, and prints a summary with the worst ratios to the limits.
int write_capped(const options &o, const machine_limits &m, atomic_file &out) {
    nurbs_curve curve;
    const arc_table arc = curve_table(o, &curve);
    const double target = arc_table_length(arc) - MARGIN, T = m.period;
    const feed_cap_limits lim = cap_limits(o, m, &curve, arc);
    const feed_cap_table cap = feed_cap_from_curve(&curve, arc, lim, CAP_CELL);
    warn_floors(o, cap, lim);
    const double acc = machine_path_acc(m, o.acc), jerk = machine_path_jerk(m, o.jerk);
    feed_plan_stats stats;
    feed_profile prof = lim.machine
                            ? feed_plan_with_stops(cap, lim.stops, target, acc, jerk, T, &stats)
                            : feed_plan_capped(cap, target, acc, jerk, T, &stats);
    refuse_non_finite(prof, o.curve);
    if (lim.machine) verify_axes(o, prof, arc, m, target);
    if (T != SERVO_PERIOD) prof.period = T;
    feed_profile_write(out.stream(), prof);
    out.commit();

    const feed_limit_ratios r = feed_limits_check(
        prof, [&](double s0, double s1) { return feed_cap_min(cap, s0, s1); }, acc, jerk, T);
    std::printf("make_profile: %zu samples (%.4f s) -> %s\n", prof.v.size(),
                (prof.v.size() - 1) * T, o.out.c_str());
    if (o.capped)
        std::printf("  curvature-limited: chord tolerance %g mm, centripetal %g mm/s^2, cruise %g "
                    "mm/s, acc %g mm/s^2, jerk %g mm/s^3\n",
                    o.chord_tol, lim.centripetal, o.vmax, o.acc, o.jerk);
    if (lim.machine) print_machine(m, acc, jerk, lim.stops.size());
    std::printf("  target %.9f mm, travel %.9f mm; top feed %.9g mm/s, slowest between start and "
                "stop %.6g mm/s (none: inf); lowest cap met %.6g mm/s\n",
                target, feed_profile_travel(prof, T),
                *std::max_element(prof.v.begin(), prof.v.end()), r.slowest_mid, r.lowest_cap);
    std::printf("  worst feed/cap %.12f, |a|/A %.12f, |j|/J %.12f; %ld checks, %ld forced\n", r.cap,
                r.acc, r.jerk, stats.checks, stats.forced);
    if (lim.machine) {
        const axis_check c = check_profile_axes(prof, arc, m);
        std::printf("  worst axis quantity: %s at %.12f of its limit (sample %zu, s = %.6f mm)\n",
                    limit_name(c.kind, c.axis).c_str(), c.ratio, c.sample + 1, c.s);
        print_binding(prof, arc, lim, acc, jerk);
    }
    return EXIT_DONE;
}

// The plain S-curve mode.
int write_plain(const options &o, double T, atomic_file &out) {
    double length = o.length;
    if (length == 0) {
        nurbs_curve curve;
        length = arc_table_length(curve_table(o, &curve)) - MARGIN;
    }
    sampled_move m = feed_move_fit(length, o.vmax, o.acc, o.jerk, T);
    refuse_non_finite(m.profile, o.length > 0 ? "--length" : o.curve);
    if (T != SERVO_PERIOD) m.profile.period = T;
    feed_profile_write(out.stream(), m.profile);
    out.commit();
    std::printf("make_profile: %zu samples (%.4f s) -> %s\n", m.profile.v.size(),
                (m.profile.v.size() - 1) * T, o.out.c_str());
    std::printf("  target %.9f mm, travel %.9f mm; peak feed %.9g mm/s, cruise %.6f s, "
                "ramps %.6f s\n",
                length, feed_profile_travel(m.profile, T), m.move.peak, m.move.cruise,
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
            const machine_limits m = machine_from(o.machine);
            const bool capped = o.capped || machine_has_axes(m);
            if (capped && o.length > 0)
                throw tool_failure("axis limits need a curve (--curve), not --length");
            const bool uses_curve = capped || o.length == 0;
            if (uses_curve) refuse_output_over_inputs(o.out, "-o", {o.curve});
            remove_temporaries_on_signal();
            atomic_file out(o.out); // a path that cannot be written fails here, before the work
            return capped ? write_capped(o, m, out) : write_plain(o, m.period, out);
        });
}
