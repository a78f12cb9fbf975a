// make_profile: writes a jerk-limited (S-curve) feed profile, rest -> cruise -> rest, sampled
// at the servo period, whose travel ends just short of a given length; or, with
// --curvature-limited, a profile whose feed also follows the curve's chord-error and
// centripetal caps.
#include <cstdio>
#include <string>

#include "plan/arc_length.hpp"
#include "io/atomic_file.hpp"
#include "plan/curve_length.hpp"
#include "io/curve_load.hpp"
#include "io/feed_profile.hpp"
#include "plan/feed_ramp.hpp"
#include "io/format.hpp"
#include "common/machine_cli.hpp"
#include "plan/profile_plan.hpp"
#include "common/tool_cli.hpp"

using namespace nurbs_interp;

namespace {

constexpr double MARGIN = 0.5; // default: travel = curve length - MARGIN, mm

struct options {
    std::string out = "fprof.txt", curve = "S1200X30quorbel.nurbs";
    double length = 0;
    capped_request req{250, 2500, 50000, 0.001, 0}; // centripetal 0: --acc
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
    "plan comes to rest there (to within 1e-9 mm) and starts again. Where the curvature jumps\n"
    "by dk (an arc meeting a line), each axis's acceleration steps by dk_k V^2 within one\n"
    "period, a jerk of |dk_k| V^2 / T: the feed there is capped so that this takes at most half\n"
    "the axis's jerk limit. The written profile is checked sample by sample with\n"
    "compute_axial_vaj at the sample's point (the driver's travel) and its feed, acceleration\n"
    "and jerk, and at every curvature jump; a profile over any limit (relative slack\n"
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
    app.add_option("--cruise", o.req.cruise, "cruise feed, mm/s")
        ->check(finite_in(1e-3, 1e5, "mm/s"))
        ->capture_default_str();
    app.add_option("--acc", o.req.acc, "acceleration limit, mm/s^2")
        ->check(finite_in(1e-3, 1e8, "mm/s^2"))
        ->capture_default_str();
    app.add_option("--jerk", o.req.jerk, "jerk limit, mm/s^3")
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
    CLI::Option *capped = app.add_flag("--curvature-limited", o.req.geometric,
                                       "cap the feed by the curve's geometry (needs a curve)")
                              ->excludes(length);
    app.add_option("--chord-tol", o.req.chord_tol, "chord-error tolerance D, mm")
        ->check(finite_in(1e-9, 100, "mm"))
        ->capture_default_str()
        ->needs(capped);
    app.add_option("--centripetal", o.req.centripetal,
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

// Warns where the floor or a sharp turn set the cap.
void warn_cap(const options &o, const capped_plan &plan) {
    for (const std::string &w : cap_warnings(plan.cap, plan.lim))
        std::fprintf(stderr, "make_profile: warning: %s: %s\n", o.curve.c_str(), w.c_str());
}

// The capped mode (--curvature-limited and/or axis limits): plans against the curve's feed cap,
// checks and writes the profile, and prints a summary with the worst ratios to the limits.
int write_capped(const options &o, const machine_limits &m, atomic_file &out) {
    nurbs_curve curve;
    const arc_table arc = curve_table(o, &curve);
    capped_plan plan = plan_caps(&curve, arc, m, o.req, arc_table_length(arc) - MARGIN);
    warn_cap(o, plan);
    plan_profile(plan, arc, m, o.req, o.curve);
    feed_profile_write(out.stream(), plan.profile);
    out.commit();
    std::printf("make_profile: %zu samples (%.4f s) -> %s\n", plan.profile.v.size(),
                (plan.profile.v.size() - 1) * m.period, o.out.c_str());
    print_capped_plan(stdout, plan, o.req, arc, m);
    return EXIT_DONE;
}

// The plain S-curve mode.
int write_plain(const options &o, double T, atomic_file &out) {
    double length = o.length;
    if (length == 0) {
        nurbs_curve curve;
        length = arc_table_length(curve_table(o, &curve)) - MARGIN;
    }
    sampled_move m = feed_move_fit(length, o.req.cruise, o.req.acc, o.req.jerk, T);
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
            const bool capped = o.req.geometric || machine_has_axes(m);
            if (o.req.centripetal == 0) o.req.centripetal = o.req.acc;
            if (capped && o.length > 0)
                throw tool_failure("axis limits need a curve (--curve), not --length");
            const bool uses_curve = capped || o.length == 0;
            if (uses_curve) refuse_output_over_inputs(o.out, "-o", {o.curve});
            refuse_output_over_inputs(o.out, "-o", machine_inputs(o.machine));
            remove_temporaries_on_signal();
            atomic_file out(o.out); // a path that cannot be written fails here, before the work
            return capped ? write_capped(o, m, out) : write_plain(o, m.period, out);
        });
}
