// make_profile: writes a jerk-limited (S-curve) feed profile, rest -> cruise -> rest, sampled
// at the servo period, whose travel ends just short of a given length; or, with
// --curvature-limited, a profile whose feed also follows the curve's chord-error and
// centripetal caps.
#include <cstdio>
#include <map>
#include <string>

#include "plan/arc_length.hpp"
#include "io/atomic_file.hpp"
#include "plan/curve_length.hpp"
#include "io/curve_load.hpp"
#include "io/feed_profile.hpp"
#include "plan/feed_ramp.hpp"
#include "io/progress.hpp"
#include "compare/axis_motion.hpp"
#include "io/format.hpp"
#include "common/machine_cli.hpp"
#include "plan/profile_plan.hpp"
#include "common/tool_cli.hpp"

using namespace nurbs_interp;

namespace {

constexpr double MARGIN = PLAN_END_MARGIN; // default: travel = curve length - MARGIN, mm

struct options {
    std::string out = "fprof.txt", curve; // curve: the bundled one when not given
    double length = 0;
    capped_request req{250, 2500, 50000, 0.001, 0}; // centripetal 0: --acc
    machine_options machine;
    planner_kind planner = planner_kind::optimal;
    optimal_options optimal;
    bool path_given = false; // --acc or --jerk on the command line
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
    "\n"
    "Axis limits (--axis-vel, --axis-acc, --axis-jerk, or --config with a machine file; need\n"
    "--curve): every sample keeps each axis's velocity C_s,k V, acceleration C_s,k A + C_ss,k\n"
    "V^2 and jerk C_s,k J + C_sss,k V^3 + 3 C_ss,k V A (compute_axial_vaj, C_s the unit\n"
    "tangent, C_ss and C_sss its derivatives by arc length) within its limits. The axes replace\n"
    "the path limits: --acc and --jerk then bind only when given. An axis the path does not\n"
    "move along does not slow it. At a corner (a knot where the tangent turns) no non-zero feed\n"
    "keeps the axis accelerations finite: the plan comes to rest there (to within 1e-9 mm) and\n"
    "starts again. Where the curvature jumps by dk (an arc meeting a line), each axis's\n"
    "acceleration steps by dk_k V^2 within one period, a jerk of |dk_k| V^2 / T: the feed there\n"
    "is capped so that this takes at most half the axis's jerk limit.\n"
    "\n"
    "--planner optimal (the default with --curvature-limited or axis limits): the time-optimal\n"
    "planner. On a grid in arc length between rests (dense where the geometry or the feed\n"
    "changes) it finds the highest feed v(s) that keeps every limit above, as itself, not in\n"
    "shares: the acceleration-limited feed by forward and backward passes through the phase\n"
    "plane, then the jerk-limited one by sequential linear programmes in v^2 and its slope\n"
    "(COIN-OR CLP; the jerk's factor v held by the tangent of J/v, so that every programme's\n"
    "answer is within the limits and each is at least as fast as the last), with S-curves of\n"
    "constant path jerk to and from each rest. Every acceleration and jerk limit is planned at\n"
    "0.5 % below itself; the samples (one per period, each at the driver's travel T*sum(v) with\n"
    "the plan's feed, acceleration and jerk there) are checked against the limits themselves,\n"
    "and the plan is made again with twice the margin when a sample is over (between grid nodes\n"
    "the limits hold only to the grid's resolution). The driver moves v*T per period, which\n"
    "realises a slightly different motion; its axis jerk differs from the plan's by terms in T\n"
    "(curvature terms times the acceleration and the jerk, and every step of the path jerk), "
    "which\n"
    "on a tight curve can be many times the limit however well the plan meets it at the\n"
    "samples: --realised-share (default 0.05) holds them within that share of each jerk limit,\n"
    "so that the third differences of the positions stay within the limits too; 0 plans the\n"
    "continuous motion alone. The summary gives the duration beside the acceleration-limited\n"
    "time, and for every limit its largest ratio and where it binds.\n"
    "--planner shares: the earlier planner, kept to compare with and to make the bundled\n"
    "profiles again byte for byte. It steps through the periods with a constant jerk in each,\n"
    "taking the largest jerk (bisection) after which full braking (jerk -J down to -A, then\n"
    "easing off to rest) keeps every later sample under a feed cap tabulated over arc length in\n"
    "0.01 mm cells, with each sample's feed under the cap over the stretch [s, s + v*T] it\n"
    "covers; it splits each axis's budget into shares (half its acceleration for the tangential\n"
    "term, a third of its jerk for each jerk term; the path acceleration limit at most half the\n"
    "smallest axis limit, the path jerk a third of the smallest), so where curvature binds it is\n"
    "up to several times slower than the optimal plan; never over a limit. Without axis limits\n"
    "its cap is never set below 1% of the cruise feed, and where the tangent turns by more than\n"
    "10 degrees between neighbouring samples of the cap or |C'| vanishes (a corner, a cusp, a\n"
    "reversal) the cap is that floor, with a warning naming where.\n"
    "\n"
    "Either planner's profile is checked sample by sample with compute_axial_vaj at the\n"
    "sample's point and its feed, acceleration and jerk, and at every curvature jump; a profile\n"
    "over any limit (relative slack 1e-9), or one that cannot pass a point, is refused naming\n"
    "where and which limit, never written slower or over.\n"
    "\n"
    "Bounds: a profile has at most 10^7 samples (2500 s of motion); the shares planner's cap\n"
    "table at most 2*10^7 cells (200 m of path); the optimal planner's grid at most 4*10^5\n"
    "nodes. Work beyond them is refused before it starts, with the estimate. The output may not\n"
    "be the curve file.";

// Declares the options of the tool.
void add_options(CLI::App &app, options &o) {
    app.add_option("-o", o.out, "output path")->type_name("FILE")->capture_default_str();
    add_machine_options(app, o.machine, machine_parts::axes_and_period);
    app.add_option("--cruise", o.req.cruise, "cruise feed, mm/s")
        ->check(finite_in(1e-3, 1e5, "mm/s"))
        ->capture_default_str();
    app.add_option("--acc", o.req.acc,
                   "path acceleration limit, mm/s^2 (with axis limits: only when given)")
        ->check(finite_in(1e-3, 1e8, "mm/s^2"))
        ->capture_default_str();
    app.add_option("--jerk", o.req.jerk,
                   "path jerk limit, mm/s^3 (with axis limits: only when given)")
        ->check(finite_in(1e-3, 1e11, "mm/s^3"))
        ->capture_default_str();
    app.add_option("--planner", o.planner,
                   "optimal (default) or shares: see below (with --curvature-limited or axes)")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, planner_kind>{{"optimal", planner_kind::optimal},
                                                {"shares", planner_kind::shares}},
            CLI::ignore_case))
        ->type_name("NAME");
    app.add_option("--realised-share", o.optimal.realised_share,
                   "optimal planner: share of each axis's jerk limit by which the motion the "
                   "driver realises may differ from the plan (0: the continuous plan alone)")
        ->check(finite_in(0, 0.5))
        ->capture_default_str();
    CLI::Option *curve =
        app.add_option("--curve", o.curve,
                       "target = length of this curve file - 0.5 mm (default: the bundled curve, "
                       "data/S1200X30quorbel.nurbs)")
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

// Prints the largest axis acceleration and jerk the driver realises along the profile (second
// and third differences over T of the curve's points at its travel, as interp_compare measures
// them) as ratios to the limits.
void print_realised(const feed_profile &p, const arc_table &arc, const machine_limits &m) {
    axis_tracker t;
    axis_extremes e;
    double s = 0;
    for (double v : p.v) {
        cart_point P;
        nurbs_deBoor_eval(arc_param_at(arc, s), -1, arc.curve, &P, nullptr, nullptr, nullptr);
        axis_extremes_add(e, axis_tracker_add(t, P, m.period), &m);
        s += v * m.period;
    }
    std::printf("  realised by the driver (the positions' second and third differences over T): "
                "axis acceleration %.4f, jerk %.4f of the limits\n",
                e.acc_ratio, e.jerk_ratio);
}

// The time-optimal mode: plans, checks and writes the profile, and prints a summary with the
// duration and every limit's use.
int write_optimal(const options &o, const machine_limits &m, atomic_file &out) {
    nurbs_curve curve;
    const arc_table arc = curve_table(o, &curve);
    const optimal_profile plan = [&] {
        progress_line line("make_profile: planning");
        optimal_profile p = plan_profile_optimal(arc, optimal_bounds(o.req, m, o.path_given),
                                                 arc_table_length(arc) - MARGIN, o.curve, o.optimal,
                                                 [&](double done) { line.show(done); });
        line.done();
        return p;
    }();
    feed_profile_write(out.stream(), plan.profile);
    out.commit();
    std::printf("make_profile: %zu samples (%.6f s) -> %s\n", plan.profile.v.size(),
                double(plan.profile.v.size() - 1) * m.period, o.out.c_str());
    print_optimal_plan(stdout, plan, arc);
    if (machine_has_axes(m)) print_realised(plan.profile, arc, m);
    return EXIT_DONE;
}

// The capped mode of the shares planner (--curvature-limited and/or axis limits): plans against
// the curve's feed cap, checks and writes the profile, and prints a summary with the worst
// ratios to the limits.
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
    CLI::App *cli = nullptr;
    return tool_main(
        argc, argv, "make_profile", DESCRIPTION,
        with_outputs_help(std::string(FOOTER) + "\n\nBundled data: " + DEFAULT_DATA_RULE),
        [&](CLI::App &app) {
            add_options(app, o);
            cli = &app;
        },
        [&] {
            if (o.curve.empty() && o.length == 0)
                o.curve = default_data("data/S1200X30quorbel.nurbs");
            const machine_limits m = machine_from(o.machine);
            o.path_given = cli->count("--acc") + cli->count("--jerk") > 0;
            const bool capped = o.req.geometric || machine_has_axes(m);
            if (o.req.centripetal == 0) o.req.centripetal = o.req.acc;
            if (capped && o.length > 0)
                throw tool_failure("axis limits need a curve (--curve), not --length");
            const bool uses_curve = capped || o.length == 0;
            if (uses_curve) refuse_output_over_inputs(o.out, "-o", {o.curve});
            refuse_output_over_inputs(o.out, "-o", machine_inputs(o.machine));
            remove_temporaries_on_signal();
            atomic_file out(o.out); // a path that cannot be written fails here, before the work
            if (!capped) return write_plain(o, m.period, out);
            return o.planner == planner_kind::optimal ? write_optimal(o, m, out)
                                                      : write_capped(o, m, out);
        });
}
