// interp_compare: runs every interpolator of the library over one curve and one feed profile,
// side by side, and reports how far each step misses its commanded length (feed fluctuation),
// how far the chord of each step strays from the curve (chord error), and how long each servo
// cycle takes.
#include <cerrno>
#include <chrono>     // wall time of the run
#include <cstring>    // strerror
#include <sched.h>    // --realtime: affinity, SCHED_FIFO
#include <sys/mman.h> // --realtime: mlockall
#include <cstdio>
#include <filesystem> // default data next to the executable
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "io/atomic_file.hpp"
#include "compare/methods.hpp"
#include "compare/replay.hpp"
#include "compare/report.hpp"
#include "interp_compare/plot.hpp"
#include "compare/run.hpp"
#include "compare/session.hpp"
#include "compare/stats.hpp"
#include "plan/arc_length.hpp"
#include "plan/curve_length.hpp"
#include "io/curve_load.hpp"
#include "io/fcp_table_file.hpp"
#include "io/feed_profile.hpp"
#include "io/format.hpp"
#include "io/progress.hpp"
#include "plan/table_fit.hpp"
#include "common/tool_cli.hpp"

using namespace nurbs_interp;

namespace {

const char *const DESCRIPTION =
    "Runs every interpolator of the library over one curve and one feed profile as a\n"
    "controller would: each method keeps its own parameter, starts at u = 0 and time 0, and\n"
    "advances once per profile sample at the servo period T = 0.00025 s with that sample's\n"
    "feed v, acceleration a and jerk j. A method's cycle is the evaluation of the curve at its\n"
    "current parameter (whatever derivatives it takes as inputs) plus the interpolator call;\n"
    "that cycle is timed with the monotonic clock. Outside the timed region the true length ds\n"
    "of every step is measured by adaptive Simpson quadrature (epsilon 1e-12, depth 30), and\n"
    "its chord error: the largest distance of the curve from the straight segment between the\n"
    "step's two points, sampled at 15 evenly spaced parameters inside the step (the midpoint\n"
    "among them, so exact where the curvature is constant over the step; else a lower bound).";

const char *const FOOTER =
    "Methods (names are case-insensitive, \"get_u_\" may be prefixed):\n"
    "  FCP            get_u_FCP, driven by its own travelled arc length (the sum of the measured\n"
    "                 step lengths), with the table --fcp-table chooses (the line above the\n"
    "                 summary says which); the compiled-in table on another curve fails (it\n"
    "                 jumps or drifts)\n"
    "  Taylor2        get_u_Taylor2 (v, a; C', C'' evaluated at u)\n"
    "  Taylor3        get_u_Taylor3 (v, a, j; C', C'', C''')\n"
    "  Taylor2_ds     get_u_Taylor2_ds with ds = v*T (C', C'')\n"
    "  Taylor3_ds     get_u_Taylor3_ds with ds = v*T (C', C'', C''')\n"
    "  RK2            get_u_RK2 (C, C')\n"
    "  T3SIA          get_u_T3SIA (evaluates the curve itself)\n"
    "  AdamsMoulton   get_u_AdamsMoulton with ct = sample index * T; its history is reset to 0\n"
    "                 at the start of its run\n"
    "  NewtonRaphson  get_u_NewtonRaphson (C, C', C'')\n"
    "\n"
    "Summary table (standard output), one row per method:\n"
    "  steps          calls made; a method stops at the curve's end (u >= 1, or less than 1e-6 mm\n"
    "                 of the curve left after its step) or when it fails\n"
    "  fluct max/RMS  max and RMS of |v*T - ds| / (v*T) over the steps with v >= 1 mm/s (the\n"
    "                 step that reaches the end is left out when the curve cuts it short of v*T)\n"
    "  chord err max  the largest chord error of any step, mm\n"
    "  drift [mm]     sum of (ds - v*T) over the same steps: travelled length minus commanded\n"
    "                 length, positive when ahead\n"
    "  iter mean/max  corrector updates per call (T3SIA and NewtonRaphson only)\n"
    "  median, p99, p99.99, max [ns]\n"
    "                 cycle time percentiles (nearest rank) and maximum; the timer overhead,\n"
    "                 measured and printed above the table, is included, not subtracted\n"
    "  max [% T]      the maximum cycle time as a share of the 250 us servo period\n"
    "  worst replayed [ns], replayed [% T]\n"
    "                 the cost of the method's worst input without the machine's interruptions:\n"
    "                 after the run, its 64 slowest steps and the 16 with the most integrand\n"
    "                 calls and the 16 with the most corrector updates (counted in an untimed\n"
    "                 rerun) are each run again alone 400 times, the method's state restored\n"
    "                 before each; the largest median, and its share of the period\n"
    "  its calls, its iters\n"
    "                 that step's integrand calls and corrector updates\n"
    "  status         ok (where the motion ended) or FAILED with the reason, time and place: a\n"
    "                 non-finite parameter; a parameter below 0 (left the curve before its\n"
    "                 start); a step back along the curve by more than 1e-6 mm; a jump (a step\n"
    "                 longer than 3 (v T + |a| T^2/2 + |j| T^3/6) + 1e-6 mm); a drift beyond\n"
    "                 0.1 mm + 1e-4 of the commanded length (FCP on a curve its table was not\n"
    "                 made for fails so); or stopped advancing: 100 consecutive samples with\n"
    "                 v >= 1 mm/s whose steps each covered less than 1% of v*T (standing still\n"
    "                 or creeping)\n"
    "\n"
    "Below the table: the noise line, the distribution of a step that only reads the clock,\n"
    "timed as often as the profile has samples, so that a maximum can be told from an\n"
    "interruption; and for T3SIA and NewtonRaphson how their loops ended (tolerance; an update\n"
    "that no longer reduced the residual, the better iterate kept; the bound of 100 updates).\n"
    "\n"
    "A failed method does not stop the others. Progress goes to standard error when it is a\n"
    "terminal. A profile has at most 10^7 samples, and samples x methods x 56 bytes of results\n"
    "at most 1 GB. Outputs are written under temporary names in their directory and renamed\n"
    "when complete; an output may not be an input; when the plot fails, the finished CSV is\n"
    "kept. A --plot path holding a control character (a line feed, ...) is refused before the\n"
    "run: gnuplot would read it as the end of a command. Exit status: 0 after a complete run\n"
    "(also when a method failed).";

// Results of a run are kept per sample and method: five doubles and a state of two each.
constexpr double MAX_RESULT_BYTES = 1e9;
constexpr double RESULT_BYTES_PER_SAMPLE = 56;

struct options {
    std::string curve, profile, csv, plot, methods_list, fcp_table;
    bool realtime = false;
    std::vector<const compare_method *> methods;
};

// Returns `rel` in the working directory if it exists, else beside the program (../rel from
// the directory holding the executable, i.e. the source tree for a build directory in it).
std::string default_data(const std::string &rel) {
    std::error_code ec;
    if (std::filesystem::exists(rel, ec)) return rel;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path beside = exe.parent_path().parent_path() / rel;
        if (std::filesystem::exists(beside, ec)) return beside.string();
    }
    return rel;
}

// Declares the options; --methods is checked by a validator that resolves the names.
void add_options(CLI::App &app, options &o) {
    app.add_option("--curve", o.curve,
                   "curve file (default: data/S1200X30quorbel.nurbs in the working directory, "
                   "else beside the program's directory, ../data)")
        ->type_name("FILE");
    app.add_option("--profile", o.profile,
                   "feed profile: \"N=<count>\" then per sample \"feed accel jerk\" (default: "
                   "data/fprof.txt, found the same way)")
        ->type_name("FILE");
    app.add_option("--methods", o.methods_list,
                   "comma-separated subset of the methods below, in the order given (default: "
                   "all, in the order below)")
        ->type_name("LIST")
        ->check(CLI::Validator(
            [](std::string &list) -> std::string {
                std::vector<const compare_method *> seen;
                for (std::size_t pos = 0; pos <= list.size();) {
                    const std::size_t comma = std::min(list.find(',', pos), list.size());
                    const std::string name = list.substr(pos, comma - pos);
                    const compare_method *m = find_compare_method(name);
                    if (!m)
                        return "unknown method \"" + name + "\" (known: " + compare_method_names() +
                               ")";
                    for (const compare_method *s : seen)
                        if (s == m) return "method " + std::string(m->name) + " given twice";
                    seen.push_back(m);
                    pos = comma + 1;
                }
                return "";
            },
            ""));
    app.add_option("--fcp-table", o.fcp_table,
                   "FCP's table: a file written by fcp_fit --format data, or \"builtin\" for the "
                   "compiled-in one (default: the compiled-in one when its last breakpoint is "
                   "this curve's length to 1e-9, else a table of 400 pieces fitted for this "
                   "curve in-process)")
        ->type_name("FILE|builtin");
    app.add_flag("--realtime", o.realtime,
                 "lock memory, pin to one CPU, ask for SCHED_FIFO, and warm every method up on "
                 "its first 2000 samples before its timed run; what was granted is printed, "
                 "and the run goes on without what was refused");
    app.add_option("--csv", o.csv,
                   "one row per sample: time_s (start of the period), feed_mm_s, per method "
                   "<name>_rel_err (empty where not scored) and <name>_call_ns (empty where the "
                   "method did not run), then per method <name>_chord_err_mm")
        ->type_name("FILE");
    app.add_option("--plot", o.plot,
                   "relative feed error against time per method on a log scale (the maximum in "
                   "each of at most 2000 time windows), the feed below; drawn with gnuplot")
        ->type_name("FILE.png");
}

// Resolves defaults and the method list; checks the outputs against the inputs and each other.
void finish_options(options &o) {
    if (o.curve.empty()) o.curve = default_data("data/S1200X30quorbel.nurbs");
    if (o.profile.empty()) o.profile = default_data("data/fprof.txt");
    if (o.methods_list.empty()) {
        for (const compare_method &m : compare_methods())
            o.methods.push_back(&m);
    } else {
        for (std::size_t pos = 0; pos <= o.methods_list.size();) {
            const std::size_t comma =
                std::min(o.methods_list.find(',', pos), o.methods_list.size());
            o.methods.push_back(find_compare_method(o.methods_list.substr(pos, comma - pos)));
            pos = comma + 1;
        }
    }
    std::vector<std::string> inputs = {o.curve, o.profile};
    if (!o.fcp_table.empty() && o.fcp_table != "builtin") inputs.push_back(o.fcp_table);
    if (!o.csv.empty()) refuse_output_over_inputs(o.csv, "--csv", inputs);
    if (!o.plot.empty()) {
        refuse_unsafe_for_gnuplot(o.plot, "--plot");
        refuse_output_over_inputs(o.plot, "--plot", inputs);
        if (!o.csv.empty()) refuse_output_over_inputs(o.plot, "--plot", {o.csv});
        if (o.plot == o.csv) throw tool_failure("--csv and --plot name the same file");
    }
}

// Throws when --plot is given and gnuplot is missing (checked after the inputs, so that a bad
// input is named first).
void require_gnuplot(const options &o) {
    if (!o.plot.empty() && !on_path("gnuplot"))
        throw tool_failure("--plot needs gnuplot, which is not installed (apt-get install -y "
                           "gnuplot-nox, or scripts/ensure_deps.sh gnuplot-nox as root)");
}

// Returns the highest feed of the profile, mm/s.
double top_feed(const feed_profile &prof) {
    double v = 0;
    for (double x : prof.v)
        v = std::max(v, x);
    return v;
}

// Returns true when FCP is among the methods to run.
bool runs_fcp(const options &o) {
    for (const compare_method *m : o.methods)
        if (method_uses_fcp_table(*m)) return true;
    return false;
}

// Asks for the real-time conditions; returns what was granted and what was refused.
std::string realtime_setup() {
    std::string granted, refused;
    auto note = [&](bool ok, const std::string &what) {
        std::string &to = ok ? granted : refused;
        to += (to.empty() ? "" : ", ") + what +
              (ok ? "" : " (" + std::string(std::strerror(errno)) + ")");
    };
    note(mlockall(MCL_CURRENT | MCL_FUTURE) == 0, "memory locked");
    const int cpu = sched_getcpu();
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu < 0 ? 0 : cpu, &set);
    note(sched_setaffinity(0, sizeof set, &set) == 0,
         "pinned to CPU " + std::to_string(cpu < 0 ? 0 : cpu));
    sched_param param{};
    param.sched_priority = 10;
    note(sched_setscheduler(0, SCHED_FIFO, &param) == 0, "SCHED_FIFO priority 10");
    return "realtime: granted: " + (granted.empty() ? std::string("nothing") : granted) +
           "; refused: " + (refused.empty() ? std::string("nothing") : refused) +
           "; every method warmed up on its first 2000 samples before its timed run";
}

// Prints the header lines and the summary table.
void print_report(const options &o, double length, const feed_profile &prof,
                  const timer_overhead &overhead, const std::vector<method_result> &results) {
    std::printf("curve %s: length %.6f mm; profile %s: %zu samples at T = 250 us (%.5f s of "
                "motion), commanded length sum(v*T) = %.6f mm\n",
                o.curve.c_str(), length, o.profile.c_str(), prof.v.size(),
                static_cast<double>(prof.v.size()) * COMPARE_PERIOD,
                feed_profile_travel(prof, COMPARE_PERIOD));
    std::printf("feed fluctuation |v*T - ds|/(v*T): ds = true step length (adaptive Simpson, "
                "1e-12, depth 30), steps with v >= 1 mm/s except an end step cut short by the "
                "curve; chord error: max distance of the curve from the step's chord, 15 "
                "samples per step\n");
    std::printf("cycle time = curve evaluation at u + interpolator call, nearest-rank "
                "percentiles; timer overhead (back-to-back clock reads, %zu pairs): median "
                "%.0f ns, p99 %.0f ns, included in the times below, not subtracted\n\n",
                overhead.pairs, overhead.median_ns, overhead.p99_ns);
    std::fputs(format_summary(results).c_str(), stdout);
}

// Prints the noise line and how the iterative methods' loops ended.
void print_noise_and_stops(const noise_floor &noise, const std::vector<method_result> &results) {
    std::printf("\nnoise: a step that only reads the clock, timed like the methods (the same work "
                "between the "
                "steps) %zu times: "
                "median %.0f ns, p99.99 %.0f ns, max %.0f ns (maxima above this are the machine "
                "interrupting the process); \"worst replayed\": the largest median of %d "
                "repetitions of each of the %d slowest steps and of the %d with the most "
                "integrand calls and corrector updates, each run alone with the method's state "
                "restored before every repetition; \"its calls\", \"its iters\": that step's "
                "integrand calls (counted in an untimed rerun) and corrector updates\n",
                noise.samples, noise.median_ns, noise.p9999_ns, noise.max_ns,
                COMPARE_REPLAY_REPEATS, COMPARE_REPLAY_SLOWEST, COMPARE_REPLAY_HARDEST);
    for (const method_result &r : results) {
        if (!r.iterative) continue;
        const corrector_stops &s = r.stops;
        std::printf("%s: corrector loops ended by the tolerance %ld times, when an update no "
                    "longer reduced the residual %ld times (kept residual at most %.3g %s), at "
                    "the bound of 100 updates %ld times, by a guard %ld times\n",
                    r.name.c_str(), s.tolerance, s.stagnation, s.stagnation_residual_max,
                    r.name == "T3SIA" ? "s, tolerance 0.001 s" : "mm, tolerance 1e-12 mm", s.bound,
                    s.guard);
    }
}

// Writes the CSV and the plot; a plot that fails does not cost the finished CSV.
void write_outputs(const options &o, atomic_file *csv, atomic_file *png, atomic_file *data,
                   const feed_profile &prof, const std::vector<method_result> &results) {
    if (csv) {
        write_csv(csv->stream(), prof, results);
        csv->commit();
    }
    if (png) {
        draw_plot(png->temp_path(), o.plot, *data, prof, results);
        png->commit();
    }
}

int compare(options &o) {
    const auto wall_start = std::chrono::steady_clock::now();
    finish_options(o);
    nurbs_curve curve;
    load_curve_checked(o.curve, &curve);
    const feed_profile prof = read_feed_profile_checked(o.profile);
    const double result_bytes =
        RESULT_BYTES_PER_SAMPLE * double(prof.v.size()) * double(o.methods.size());
    if (result_bytes > MAX_RESULT_BYTES)
        throw tool_failure(std::to_string(prof.v.size()) + " samples x " +
                           std::to_string(o.methods.size()) + " methods need " +
                           fmt("%.3g", result_bytes / 1e9) + " GB of results (bound: 1 GB)");
    require_gnuplot(o);
    // Outputs are created (under temporary names) before the run, so a path that cannot be
    // written is reported at once rather than after the run.
    remove_temporaries_on_signal();
    std::unique_ptr<atomic_file> csv, png, data;
    if (!o.csv.empty()) csv = std::make_unique<atomic_file>(o.csv);
    if (!o.plot.empty()) {
        png = std::make_unique<atomic_file>(o.plot);
        data = std::make_unique<atomic_file>(plot_data_path(*png));
        // The files gnuplot is given (a link's target, the temporary directory) are checked
        // too, before the run.
        refuse_unsafe_for_gnuplot(png->temp_path(), "--plot");
        refuse_unsafe_for_gnuplot(data->temp_path(), "--plot (its data)");
    }
    // The accurate length: where "the curve's end" is, in travelled length.
    compare_setup setup;
    setup.curve = &curve;
    arc_table arc;
    tool_arc_table(&curve, o.curve, "interp_compare", &arc);
    setup.curve_length = arc_table_length(arc);
    fcp_choice fcp;
    if (runs_fcp(o)) fcp = choose_fcp_table(o.fcp_table, arc, o.curve, top_feed(prof));
    setup.fcp = fcp.table ? &*fcp.table : nullptr;
    setup.fcp_refusal = fcp.refusal;
    const std::string realtime = o.realtime ? realtime_setup() : "";
    const timer_overhead overhead = measure_timer_overhead(1000000);
    const std::vector<method_result> results =
        run_methods(o.methods, setup, prof, "interp_compare: ", o.realtime);
    const noise_floor noise = measure_noise(prof.v.size(), setup);
    if (o.realtime) std::printf("%s\n", realtime.c_str());
    if (!fcp.note.empty()) std::printf("%s\n", fcp.note.c_str());
    print_report(o, setup.curve_length, prof, overhead, results);
    print_noise_and_stops(noise, results);
    write_outputs(o, csv.get(), png.get(), data.get(), prof, results);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    std::printf("\nwall time of this run (loading, all methods, step lengths, statistics, "
                "outputs): %.2f s\n",
                wall);
    return EXIT_DONE;
}

} // namespace

int main(int argc, char **argv) {
    options o;
    return tool_main(
        argc, argv, "interp_compare", DESCRIPTION, with_outputs_help(FOOTER),
        [&](CLI::App &app) { add_options(app, o); }, [&] { return compare(o); });
}
