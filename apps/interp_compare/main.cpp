// interp_compare: runs every interpolator of the library over one curve and one feed profile,
// side by side, and reports how far each step misses its commanded length (feed fluctuation),
// how far the chord of each step strays from the curve (chord error), the axis motion the
// positions reached imply, and how long each servo cycle takes.
#include <chrono> // wall time of the run
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/machine_cli.hpp"
#include "common/plot.hpp"
#include "common/realtime.hpp"
#include "common/tool_cli.hpp"
#include "compare/methods.hpp"
#include "compare/replay.hpp"
#include "compare/report.hpp"
#include "compare/session.hpp"
#include "io/atomic_file.hpp"
#include "io/curve_load.hpp"
#include "io/format.hpp"
#include "plan/curve_length.hpp"

using namespace nurbs_interp;

namespace {

const char *const DESCRIPTION =
    "Runs every interpolator of the library over one curve and one feed profile as a\n"
    "controller would: each method keeps its own parameter, starts at u = 0 and time 0, and\n"
    "advances once per profile sample at the servo period T (the profile's own, 0.00025 s for\n"
    "a profile without a period line, or --period) with that sample's feed v, acceleration a\n"
    "and jerk j. A method's cycle is the evaluation of the curve at its current parameter\n"
    "(whatever derivatives it takes as inputs) plus the interpolator call (and under --joints\n"
    "split, the split); that cycle is timed with the monotonic clock. Outside the timed region\n"
    "the true length ds of every step is measured by adaptive Simpson quadrature (1e-12, depth\n"
    "30), its chord error (the largest distance of the curve from the step's chord, 15 samples\n"
    "inside the step), and the axis motion the positions reached imply.";

const char *const FOOTER_TAIL =
    "Joints (--joints): a joint is an interior knot repeated at least degree - 1 times, where\n"
    "|C'| or C'' may jump. through: every step is the method's step as it is (the driver's\n"
    "way). split: a step that would pass the next joint is split there: the length to the\n"
    "joint is measured (adaptive Simpson, 1e-12, depth 30), the step goes to the joint exactly\n"
    "and the same method finishes the period's remaining length from it, with the derivatives\n"
    "on the far side; Adams-Moulton's history starts over at the joint; FCP takes the piece of\n"
    "its target arc length. All of it inside the timed cycle.\n"
    "\n"
    "Below the table: the noise line (a step that only reads the clock, timed as often as the\n"
    "profile has samples, so that a maximum can be told from an interruption), and for the\n"
    "methods with a corrector loop how their loops ended.\n"
    "\n"
    "A failed method does not stop the others. Progress goes to standard error when it is a\n"
    "terminal. A profile has at most 10^7 samples, and samples x methods x 80 bytes of results\n"
    "at most 1 GB. Outputs are written under temporary names in their directory and renamed\n"
    "when complete; an output may not be an input; when the plot fails, the finished CSV is\n"
    "kept. A --plot path holding a control character is refused before the run. Exit status:\n"
    "0 after a complete run (also when a method failed).";

struct options {
    std::string curve, profile, csv, plot, methods_list, fcp_table, joints = "through";
    bool realtime = false;
    machine_options machine;
    std::vector<const compare_method *> methods;
};

// Declares the options; --methods is checked by a validator that resolves the names.
void add_options(CLI::App &app, options &o) {
    app.add_option("--curve", o.curve,
                   "curve file (default: data/S1200X30quorbel.nurbs in the working directory, "
                   "else beside the program's directory, ../data)")
        ->type_name("FILE");
    app.add_option("--profile", o.profile,
                   "feed profile (default: data/fprof.txt, found the same way)")
        ->type_name("FILE");
    app.add_option("--methods", o.methods_list,
                   "comma-separated subset of the methods below, in the order given (default: all)")
        ->type_name("LIST")
        ->check(CLI::Validator([](std::string &list) { return unknown_method_in(list); }, ""));
    app.add_option("--joints", o.joints, "steps across joints: through or split")
        ->check(CLI::IsMember({"through", "split"}))
        ->capture_default_str();
    app.add_option("--fcp-table", o.fcp_table,
                   "FCP's table: a file written by fcp_fit --format data, or \"builtin\" (default: "
                   "the compiled-in one when its last breakpoint is this curve's length to 1e-9, "
                   "else a table of 400 pieces fitted for this curve in-process)")
        ->type_name("FILE|builtin");
    app.add_flag("--realtime", o.realtime,
                 "lock memory, pin to one CPU, ask for SCHED_FIFO, warm every method up on its "
                 "first 2000 samples; what was granted is printed");
    app.add_option("--csv", o.csv, "one row per sample (the columns are named in its header)")
        ->type_name("FILE");
    app.add_option("--plot", o.plot,
                   "relative feed error, axis jerk and feed against time (gnuplot)")
        ->type_name("FILE.png");
    add_machine_options(app, o.machine, machine_parts::axes);
}

// Resolves defaults and the method list; checks the outputs against the inputs and each other.
void finish_options(options &o) {
    if (o.curve.empty()) o.curve = default_data("data/S1200X30quorbel.nurbs");
    if (o.profile.empty()) o.profile = default_data("data/fprof.txt");
    o.methods = methods_in_list(o.methods_list);
    std::vector<std::string> inputs = {o.curve, o.profile};
    if (!o.machine.config.empty()) inputs.push_back(o.machine.config);
    if (!o.fcp_table.empty() && o.fcp_table != "builtin") inputs.push_back(o.fcp_table);
    if (!o.csv.empty()) refuse_output_over_inputs(o.csv, "--csv", inputs);
    if (o.plot.empty()) return;
    refuse_unsafe_for_gnuplot(o.plot, "--plot");
    refuse_output_over_inputs(o.plot, "--plot", inputs);
    if (!o.csv.empty()) refuse_output_over_inputs(o.plot, "--plot", {o.csv});
    if (o.plot == o.csv) throw tool_failure("--csv and --plot name the same file");
}

// The run's outputs, created (under temporary names) before the run so that a path that
// cannot be written is reported at once.
struct outputs {
    std::unique_ptr<atomic_file> csv;
    plot_files plot;
};

outputs open_outputs(const options &o) {
    if (!o.plot.empty()) require_gnuplot("--plot");
    remove_temporaries_on_signal();
    outputs out;
    if (!o.csv.empty()) out.csv = std::make_unique<atomic_file>(o.csv);
    if (!o.plot.empty()) out.plot = open_plot_files(o.plot, "--plot");
    return out;
}

// Writes the CSV and the plot; a plot that fails does not cost the finished CSV.
void write_outputs(outputs &out, const feed_profile &prof,
                   const std::vector<method_result> &results, const compare_setup &setup,
                   const arc_table &arc) {
    if (out.csv) {
        write_csv(out.csv->stream(), prof, results);
        out.csv->commit();
    }
    if (out.plot.png) draw_plot_files(out.plot, prof, results, plot_extras_for(prof, setup, arc));
}

int compare(options &o) {
    const auto wall_start = std::chrono::steady_clock::now();
    finish_options(o);
    nurbs_curve curve;
    load_curve_checked(o.curve, &curve);
    const feed_profile prof = read_feed_profile_checked(o.profile);
    const std::string memory = result_memory_problem(prof.v.size(), o.methods.size());
    if (!memory.empty()) throw tool_failure(memory);
    const machine_limits limits = machine_from(o.machine);
    compare_setup setup;
    setup.curve = &curve;
    setup.period = run_period(prof, o.machine, o.profile);
    setup.policy = o.joints == "split" ? joint_policy::split : joint_policy::through;
    setup.limits = machine_has_axes(limits) ? &limits : nullptr;
    outputs out = open_outputs(o);
    arc_table arc;
    tool_arc_table(&curve, o.curve, "interp_compare", &arc);
    setup.curve_length = arc_table_length(arc); // where "the curve's end" is
    setup.joints = joints_of(arc);
    const fcp_choice fcp =
        choose_fcp_table_for(o.methods, o.fcp_table, arc, o.curve, prof, setup.period);
    setup.fcp = fcp.table ? &*fcp.table : nullptr;
    setup.fcp_refusal = fcp.refusal;
    const std::string realtime = o.realtime ? realtime_setup() : "";
    const timer_overhead overhead = measure_timer_overhead(1000000);
    const std::vector<method_result> results =
        run_methods(o.methods, setup, prof, "interp_compare: ", o.realtime);
    const noise_floor noise = measure_noise(prof.v.size(), setup);
    if (o.realtime) std::printf("%s\n", realtime.c_str());
    if (!fcp.note.empty()) std::printf("%s\n", fcp.note.c_str());
    std::fputs(run_header({o.curve, setup.curve_length, setup.joints.u.size(), setup.policy,
                           o.profile, &prof, setup.period, machine_text(limits), overhead})
                   .c_str(),
               stdout);
    std::fputs((format_summary(results) + "\n" + noise_text(noise) + stops_text(results)).c_str(),
               stdout);
    write_outputs(out, prof, results, setup, arc);
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
    const std::string footer = "Methods (names are case-insensitive, \"get_u_\" may be "
                               "prefixed):\n" +
                               compare_method_help() + "\n" + compare_columns_help() + "\n" +
                               MACHINE_HELP + "\n\n" + FOOTER_TAIL;
    return tool_main(
        argc, argv, "interp_compare", DESCRIPTION, with_outputs_help(footer),
        [&](CLI::App &app) { add_options(app, o); }, [&] { return compare(o); });
}
