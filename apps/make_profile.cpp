// make_profile: writes a jerk-limited (S-curve) feed profile, rest -> cruise -> rest, sampled
// at the servo period, whose travel ends just short of a given length; or, with
// --curvature-limited, a profile whose feed also follows the curve's chord-error and
// centripetal caps.
#include <algorithm> // max_element for the summary
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "arc_length.hpp"
#include "feed_cap.hpp"
#include "feed_ramp.hpp"
#include "curve_report.hpp"
#include "nurbs.hpp"

using namespace nurbs_interp;

namespace {

constexpr double PERIOD = 0.00025;   // servo period, s
constexpr double MARGIN = 0.5;       // default: travel = curve length - MARGIN, mm
constexpr double CAP_CELL = 0.01;    // curvature-limited: arc-length cell of the cap table, mm
constexpr double FLOOR_SHARE = 0.01; // curvature-limited: lowest cap as a share of the cruise

void usage(std::FILE *out) {
    std::fprintf(
        out,
        "usage: make_profile [--help] [-o FILE] [--cruise V] [--acc A] [--jerk J]\n"
        "                    [--curve CURVE | --length MM]\n"
        "                    [--curvature-limited [--chord-tol D] [--centripetal AC]]\n"
        "Writes a jerk-limited feed profile (rest, S-curve up to the cruise feed, cruise,\n"
        "S-curve down to rest) sampled every %g s to FILE (default fprof.txt):\n"
        "\"N=<count>\", then per sample feed, acceleration and jerk (%%.17g), with\n"
        "acceleration = d feed/dt and jerk = d acceleration/dt of the planned move.\n"
        "The travel period * sum(feed) ends just short of the target length.\n"
        "  --cruise V     cruise feed, mm/s (default 250)\n"
        "  --acc A        acceleration limit, mm/s^2 (default 2500)\n"
        "  --jerk J       jerk limit, mm/s^3 (default 50000)\n"
        "  --curve CURVE  target = length of this curve file - %g mm\n"
        "                 (default S1200X30quorbel.nurbs)\n"
        "  --length MM    target length, mm, instead of a curve\n"
        "  -o FILE        output path\n"
        "\n"
        "--curvature-limited (needs a curve): the feed at arc length s is also capped by\n"
        "the curve's radius of curvature rho there,\n"
        "  chord error   v <= (2/T) sqrt(2 rho D - D^2)   (T = %g s; below rho = D the\n"
        "                cap keeps its value at rho = D, 2D/T, where the formula fails)\n"
        "  centripetal   v <= sqrt(AC rho)\n"
        "and never set below %g%% of the cruise feed (so that a cusp cannot stop the move;\n"
        "a warning names the length where that floor applies).\n"
        "  --chord-tol D     chord-error tolerance, mm (default 0.001)\n"
        "  --centripetal AC  centripetal acceleration limit, mm/s^2 (default: --acc)\n"
        "The cap is tabulated over arc length in %g mm cells (each the lowest value of the\n"
        "curve sampled at least once per cell). The planner steps through the periods with\n"
        "a constant jerk in each: it takes the largest jerk (bisection) after which full\n"
        "braking (jerk -J down to -A, then easing off to rest) would keep every later\n"
        "sample under the cap and stop by the target, so it brakes ahead of every tight\n"
        "bend and ends at rest just short of the target. Each sample's feed stays under\n"
        "the cap over the stretch [s, s + v*T] the driver covers in that period (s the\n"
        "driver's travel so far, period * sum of earlier feeds); |a| <= A and |j| <= J.\n"
        "Limits: the cap is exact only to the table (local minima between samples are\n"
        "refined by a parabola); tangential and centripetal acceleration are limited\n"
        "separately, not as a vector sum; the plan is greedy, near time-optimal, not\n"
        "optimal.\n",
        PERIOD, MARGIN, PERIOD, 100 * FLOOR_SHARE, CAP_CELL);
}

// Parses a positive finite number; false otherwise.
bool parse_positive(const char *text, double *out) {
    char *end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end || !(v > 0) || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

// Writes `p` to `path` through a temporary file; false (with a message) on failure.
bool write_profile(const std::string &path, const feed_profile &p) {
    const std::string tmp = path + ".tmp";
    std::FILE *f = std::fopen(tmp.c_str(), "w");
    if (!f) {
        std::fprintf(stderr, "make_profile: %s: could not create the output file\n", path.c_str());
        return false;
    }
    const bool ok = feed_profile_write(f, p);
    if (std::fclose(f) != 0 || !ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        std::fprintf(stderr, "make_profile: %s: could not write the output file\n", path.c_str());
        return false;
    }
    return true;
}

// The curvature-limited mode: plans against the curve's feed cap, writes the profile and
// prints a summary with the worst ratios to the limits. Returns the exit status.
int write_capped(const std::string &curve_path, const std::string &out_path, double vmax,
                 double acc, double jerk, double chord_tol, double centripetal) {
    nurbs_curve curve;
    if (!load_curve_or_report(curve_path.c_str(), &curve)) return 1;
    arc_table arc;
    arc_table_build(&curve, &arc);
    const double target = arc_table_length(arc) - MARGIN;
    if (!(target > 0)) {
        std::fprintf(stderr, "make_profile: %s: curve shorter than %g mm\n", curve_path.c_str(),
                     MARGIN);
        return 1;
    }
    feed_cap_limits lim;
    lim.vmax = vmax;
    lim.chord_tol = chord_tol;
    lim.centripetal = centripetal;
    lim.period = PERIOD;
    lim.floor = FLOOR_SHARE * vmax;
    const feed_cap_table cap = feed_cap_from_curve(&curve, arc, lim, CAP_CELL);
    if (cap.floored > 0)
        std::fprintf(stderr,
                     "make_profile: warning: %s: over %.6g mm the curve's cap is below the floor "
                     "of %g mm/s; the floor is used there\n",
                     curve_path.c_str(), cap.floored, lim.floor);
    feed_plan_stats stats;
    feed_profile prof;
    try {
        prof = feed_plan_capped(cap, target, acc, jerk, PERIOD, &stats);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_profile: %s: %s\n", curve_path.c_str(), e.what());
        return 1;
    }
    if (!write_profile(out_path, prof)) return 1;

    // Worst ratios to the limits, the cap taken over the stretch each sample covers.
    double r_cap = 0, r_acc = 0, r_jerk = 0, s = 0, vmin_cap = HUGE_VAL;
    for (std::size_t k = 0; k < prof.v.size(); ++k) {
        const double c = feed_cap_min(cap, s, s + prof.v[k] * PERIOD);
        r_cap = std::max(r_cap, prof.v[k] / c);
        r_acc = std::max(r_acc, std::fabs(prof.a[k]) / acc);
        r_jerk = std::max(r_jerk, std::fabs(prof.j[k]) / jerk);
        vmin_cap = std::min(vmin_cap, c);
        s += prof.v[k] * PERIOD;
    }
    double vmin_mid = HUGE_VAL; // slowest point between start and stop: a local minimum
    for (std::size_t k = 1; k + 1 < prof.v.size(); ++k)
        if (prof.v[k] < prof.v[k - 1] && prof.v[k] <= prof.v[k + 1] && prof.v[k + 1] > 0)
            vmin_mid = std::min(vmin_mid, prof.v[k]);
    std::printf("make_profile: %zu samples (%.4f s) -> %s\n", prof.v.size(),
                (prof.v.size() - 1) * PERIOD, out_path.c_str());
    std::printf("  curvature-limited: chord tolerance %g mm, centripetal %g mm/s^2, cruise %g mm/s,"
                " acc %g mm/s^2, jerk %g mm/s^3\n",
                chord_tol, centripetal, vmax, acc, jerk);
    std::printf("  target %.9f mm, travel %.9f mm; top feed %.9g mm/s, slowest between start and "
                "stop %.6g mm/s (none: inf); lowest cap met %.6g mm/s\n",
                target, feed_profile_travel(prof, PERIOD),
                *std::max_element(prof.v.begin(), prof.v.end()), vmin_mid, vmin_cap);
    std::printf("  worst feed/cap %.12f, |a|/A %.12f, |j|/J %.12f; %ld checks, %ld forced\n", r_cap,
                r_acc, r_jerk, stats.checks, stats.forced);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    std::string out_path = "fprof.txt", curve_path = "S1200X30quorbel.nurbs";
    double vmax = 250, acc = 2500, jerk = 50000, length = 0, chord_tol = 0.001, centripetal = 0;
    bool capped = false;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        const char *opt = argv[i];
        double *num = !std::strcmp(opt, "--cruise")        ? &vmax
                      : !std::strcmp(opt, "--acc")         ? &acc
                      : !std::strcmp(opt, "--jerk")        ? &jerk
                      : !std::strcmp(opt, "--length")      ? &length
                      : !std::strcmp(opt, "--chord-tol")   ? &chord_tol
                      : !std::strcmp(opt, "--centripetal") ? &centripetal
                                                           : nullptr;
        if (!std::strcmp(opt, "--help") || !std::strcmp(opt, "-h")) {
            usage(stdout);
            return 0;
        } else if (!std::strcmp(opt, "--curvature-limited")) {
            capped = true;
        } else if (num && has_value) {
            if (!parse_positive(argv[++i], num)) {
                std::fprintf(stderr, "make_profile: %s needs a positive number\n", opt);
                return 2;
            }
        } else if (!std::strcmp(opt, "--curve") && has_value) {
            curve_path = argv[++i];
        } else if (!std::strcmp(opt, "-o") && has_value) {
            out_path = argv[++i];
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (capped) {
        if (length != 0) {
            std::fprintf(stderr, "make_profile: --curvature-limited needs a curve, not --length\n");
            return 2;
        }
        return write_capped(curve_path, out_path, vmax, acc, jerk, chord_tol,
                            centripetal > 0 ? centripetal : acc);
    }
    if (length == 0) {
        nurbs_curve curve;
        if (!load_curve_or_report(curve_path.c_str(), &curve)) return 1;
        arc_table arc;
        arc_table_build(&curve, &arc);
        length = arc_table_length(arc) - MARGIN;
        if (!(length > 0)) {
            std::fprintf(stderr, "make_profile: %s: curve shorter than %g mm\n", curve_path.c_str(),
                         MARGIN);
            return 1;
        }
    }

    // The sampled travel differs from the planned length by the rectangle rule's error; plan
    // a little shorter until it is at most the target.
    double planned = length;
    feed_move move = feed_move_plan(planned, vmax, acc, jerk);
    feed_profile prof = feed_move_sample(move, PERIOD);
    for (int it = 0; it < 20 && feed_profile_travel(prof, PERIOD) > length; ++it) {
        planned -= feed_profile_travel(prof, PERIOD) - length + 1e-9 * length;
        move = feed_move_plan(planned, vmax, acc, jerk);
        prof = feed_move_sample(move, PERIOD);
    }

    const std::string tmp = out_path + ".tmp";
    std::FILE *f = std::fopen(tmp.c_str(), "w");
    if (!f) {
        std::fprintf(stderr, "make_profile: %s: could not create the output file\n",
                     out_path.c_str());
        return 1;
    }
    const bool ok = feed_profile_write(f, prof);
    if (std::fclose(f) != 0 || !ok || std::rename(tmp.c_str(), out_path.c_str()) != 0) {
        std::remove(tmp.c_str());
        std::fprintf(stderr, "make_profile: %s: could not write the output file\n",
                     out_path.c_str());
        return 1;
    }
    std::printf("make_profile: %zu samples (%.4f s) -> %s\n", prof.v.size(),
                (prof.v.size() - 1) * PERIOD, out_path.c_str());
    std::printf("  target %.9f mm, travel %.9f mm; peak feed %.9g mm/s, cruise %.6f s, "
                "ramps %.6f s\n",
                length, feed_profile_travel(prof, PERIOD), move.peak, move.cruise,
                feed_ramp_time(move.up));
    return 0;
}
