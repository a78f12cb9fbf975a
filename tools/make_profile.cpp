// make_profile: writes a jerk-limited (S-curve) feed profile, rest -> cruise -> rest, sampled
// at the servo period, whose travel ends just short of a given length.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "arc_inverse.hpp"
#include "feed_plan.hpp"
#include "nurbs.hpp"

namespace {

constexpr double PERIOD = 0.00025; // servo period, s
constexpr double MARGIN = 0.5;     // default: travel = curve length - MARGIN, mm

void usage(std::FILE *out) {
    std::fprintf(
        out,
        "usage: make_profile [--help] [-o FILE] [--cruise V] [--acc A] [--jerk J]\n"
        "                    [--curve CURVE | --length MM]\n"
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
        "  -o FILE        output path\n",
        PERIOD, MARGIN);
}

// Parses a positive finite number; false otherwise.
bool parse_positive(const char *text, double *out) {
    char *end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end || !(v > 0) || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

} // namespace

int main(int argc, char **argv) {
    std::string out_path = "fprof.txt", curve_path = "S1200X30quorbel.nurbs";
    double vmax = 250, acc = 2500, jerk = 50000, length = 0;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        const char *opt = argv[i];
        double *num = !std::strcmp(opt, "--cruise")   ? &vmax
                      : !std::strcmp(opt, "--acc")    ? &acc
                      : !std::strcmp(opt, "--jerk")   ? &jerk
                      : !std::strcmp(opt, "--length") ? &length
                                                      : nullptr;
        if (!std::strcmp(opt, "--help") || !std::strcmp(opt, "-h")) {
            usage(stdout);
            return 0;
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
    if (length == 0) {
        nurbs_curve curve;
        try {
            nurbs_curve_alloc_file(curve_path.c_str(), &curve);
        } catch (const nurbs_file_error &e) {
            nurbs_report_load_error(e);
            return 1;
        }
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
