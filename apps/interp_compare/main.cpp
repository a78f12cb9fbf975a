// interp_compare: runs every interpolator of the library over one curve and one feed profile,
// side by side, and reports how far each step misses its commanded length (feed fluctuation),
// how far the chord of each step strays from the curve (chord error), the axis motion the
// positions reached imply, and how long each servo cycle takes.
#include <chrono> // wall time of the run
#include <cmath>  // fabs
#include <cstdio>
#include <memory>
#include <string>
#include <utility> // pair
#include <vector>

#include "common/machine_cli.hpp"
#include "common/plot.hpp"
#include "common/realtime.hpp"
#include "common/tool_cli.hpp"
#include "compare/method_lib.hpp"
#include "compare/methods.hpp"
#include "compare/replay.hpp"
#include "compare/report.hpp"
#include "compare/session.hpp"
#include "io/atomic_file.hpp"
#include "io/curve_load.hpp"
#include "io/format.hpp"
#include "plan/curve_length.hpp"
#include "plan/machine.hpp" // machine_text

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
    "30) and checked against the curve's accurate length between the step's ends (per knot\n"
    "span, adaptive Gauss-Kronrod: the length every tool uses), its chord error (the largest\n"
    "distance of the curve from the step's chord, 15 samples inside the step), and the axis\n"
    "motion the positions reached imply.";

const char *const FOOTER_TAIL =
    "Profile and curve: the profile's commanded travel T*sum(v) is compared with the curve's\n"
    "accurate length before the run. make_profile plans it 0.5 mm short of the curve's end; a\n"
    "profile that runs past the end by more than 0.1 mm + 1e-4 of its travel (the drift bound)\n"
    "was made for a longer path and is refused; a shorter one runs (a partial run, said so above\n"
    "the table: the figures are for the part of the curve it covers). A method that meets the\n"
    "curve's end with more of the profile's travel left than that bound FAILS.\n"
    "\n"
    "Machine (--config, --axis-*): the ratio columns are against its limits. The profile's own\n"
    "plan (compute_axial_vaj at every sample) is checked against them too: where it exceeds\n"
    "them (by more than 1e-6), the profile was not planned for that machine, and every row is\n"
    "marked ok* and its ratios * (a distance from that machine, not a pass).\n"
    "\n"
    "Joints (--joints): a joint is an interior knot repeated at least degree - 1 times, where\n"
    "|C'| or C'' may jump. through: every step is the method's step as it is (the driver's\n"
    "way). split: a step that would pass the next joint is split there: the length to the\n"
    "joint is measured (adaptive Simpson, 1e-12, depth 30), the step goes to the joint exactly\n"
    "and the same method finishes the period's remaining length from it, with the derivatives\n"
    "on the far side; Adams-Moulton's history starts over at the joint; FCP takes the piece of\n"
    "its target arc length. All of it inside the timed cycle.\n"
    "\n"
    "Loaded methods (--method-lib PATH, repeatable): a shared library built against\n"
    "nurbs_method.h (installed with the core; see the README, \"Add your own method\") adds\n"
    "its methods beside the built-in ones: they run exactly as those (every column, the\n"
    "replay, --methods, --joints split). A library that does not load, lacks the entry point\n"
    "nurbs_interp_methods, was built against another version of the interface, or has a method\n"
    "named as another one (ignoring case) is refused before the run. Each loaded method runs in\n"
    "a process of its own: a crash, or a call (step, start, ...) that has not returned after\n"
    "1 s (create and destroy: 60 s), fails that method and the others go on. --in-process\n"
    "runs them in this process (to debug one: a crash then ends the program, and calls are\n"
    "not bounded). Loading a library runs its initialisation and its entry point in this\n"
    "process.\n"
    "\n"
    "Below the table: the noise line (a step that only reads the clock, timed as often as the\n"
    "profile has samples, so that a maximum can be told from an interruption), and for the\n"
    "methods with a corrector loop how their loops ended.\n"
    "\n"
    "Summary (--summary FILE): one row per method with every column of --columns all, and the\n"
    "run's settings (curve, profile, joints, period, machine, FCP's table and its E max) as\n"
    "the leading columns of a CSV file, or as a list above a Markdown table when FILE ends in\n"
    ".md; the texts are those of the table on standard output.\n"
    "\n"
    "Plot (--plot FILE): PNG, SVG or PDF by FILE's extension (.png, .svg, .pdf; PNG without\n"
    "one), another extension refused before the run. Its title names the curve, the profile,\n"
    "the period, the joints policy and the machine; on the left the feed error, the axis jerk\n"
    "and the feed over time, on the right the path with its joints and corners and where each\n"
    "method FAILED or erred most.\n"
    "\n"
    "A failed method does not stop the others, nor change the exit status (0 after a complete\n"
    "run). Progress goes to standard error when it is a terminal. A profile has at most 10^7\n"
    "samples, and samples x methods x 80 bytes of results at most 1 GB. When the plot fails, the\n"
    "finished CSV and summary are kept. A --plot path holding a control character is refused\n"
    "before the run.";

struct options {
    std::string curve, profile, csv, plot, summary, methods_list, fcp_table, joints = "through";
    std::string columns_list;
    table_columns columns;
    bool realtime = false;
    std::vector<std::string> method_libs;
    std::vector<const compare_method *> loaded; // their methods
    std::string library_error;                  // the first library refused ("": none)
    bool in_process = false;
    machine_options machine;
    std::vector<const compare_method *> methods;
    CLI::App *app = nullptr; // for the machine file's name
};

// Loads a --method-lib library, keeping the first refusal for the run to report (before
// anything runs): a library is an input, its refusal a bad input, not a wrong command line.
void load_library(options &o, const std::string &path) {
    o.method_libs.push_back(path);
    if (!o.library_error.empty()) return;
    try {
        const std::vector<const compare_method *> m = load_method_library(path, o.loaded);
        o.loaded.insert(o.loaded.end(), m.begin(), m.end());
    } catch (const method_library_error &e) {
        o.library_error = e.what();
    }
}

// Declares the options; --methods is checked by a validator that resolves the names, those of
// the loaded methods included (--method-lib is declared first, so its libraries are loaded
// before the validators run, wherever it stands on the command line).
void add_options(CLI::App &app, options &o) {
    CLI::Option *libs = app.add_option_function<std::vector<std::string>>(
                               "--method-lib",
                               [&o](const std::vector<std::string> &paths) {
                                   for (const std::string &p : paths)
                                       load_library(o, p);
                               },
                               "a shared library of methods (nurbs_method.h) to run beside the "
                               "built-in ones; repeatable")
                            ->type_name("PATH");
    app.add_flag("--in-process", o.in_process,
                 "run loaded methods in this process, not each in a process of its own (to "
                 "debug one: a crash ends the program, calls are not bounded in time)")
        ->needs(libs);
    app.add_option("--curve", o.curve,
                   "curve file (default: the bundled data/S1200X30quorbel.nurbs, see below)")
        ->type_name("FILE");
    app.add_option("--profile", o.profile, "feed profile (default: the bundled data/fprof.txt)")
        ->type_name("FILE");
    app.add_option("--methods", o.methods_list,
                   "comma-separated subset of the methods below, in the order given (default: all)")
        ->type_name("LIST")
        ->check(CLI::Validator(
            [&o](std::string &list) {
                return o.library_error.empty() ? unknown_method_in(list, o.loaded) : "";
            },
            ""));
    app.add_option("--joints", o.joints, "steps across joints: through or split")
        ->check(CLI::IsMember({"through", "split"}))
        ->capture_default_str();
    app.add_option("--fcp-table", o.fcp_table,
                   "FCP's table: a file written by fcp_fit --format data, or \"builtin\" (default: "
                   "the compiled-in one when it was made for this curve (its points, degree and "
                   "checksum), else one fitted for this curve in-process: the fewest pieces for "
                   "E <= 1e-10 mm, or the 400 pieces with the smallest E where the curve allows "
                   "no such table)")
        ->type_name("FILE|builtin");
    app.add_flag("--realtime", o.realtime,
                 "lock memory, pin to one CPU, ask for SCHED_FIFO, warm every method up on its "
                 "first 2000 samples; what was granted is printed");
    app.add_option("--csv", o.csv, "one row per sample (the columns are named in its header)")
        ->type_name("FILE");
    app.add_option("--plot", o.plot,
                   "feed error, axis jerk and feed against time, and the path (gnuplot): PNG, "
                   "SVG or PDF by the extension")
        ->type_name("FILE.png|.svg|.pdf");
    app.add_option("--summary", o.summary,
                   "one row per method, every column, with the run's settings: CSV, or Markdown "
                   "when FILE ends in .md")
        ->type_name("FILE");
    app.add_option("--columns", o.columns_list,
                   "the table's columns: all (every column, status last), or names (see below) "
                   "separated by commas (default: the main ones, fitting 100 characters)")
        ->type_name("LIST|all")
        ->check(CLI::Validator([&o](std::string &list) { return parse_columns(list, &o.columns); },
                               ""));
    add_machine_options(app, o.machine, machine_parts::axes);
    o.app = &app;
}

// Resolves defaults and the method list; checks the outputs against the inputs and each other.
void finish_options(options &o) {
    if (o.curve.empty()) o.curve = default_data("data/S1200X30quorbel.nurbs");
    if (o.profile.empty()) o.profile = default_data("data/fprof.txt");
    o.methods = methods_in_list(o.methods_list, o.loaded);
    std::vector<std::string> inputs = {o.curve, o.profile};
    inputs.insert(inputs.end(), o.method_libs.begin(), o.method_libs.end());
    if (!o.machine.config.empty()) inputs.push_back(o.machine.config);
    if (!o.fcp_table.empty() && o.fcp_table != "builtin") inputs.push_back(o.fcp_table);
    std::vector<std::pair<std::string, const char *>> outs;
    for (const auto &[path, what] : {std::pair{o.csv, "--csv"}, std::pair{o.summary, "--summary"},
                                     std::pair{o.plot, "--plot"}})
        if (!path.empty()) {
            refuse_output_over_inputs(path, what, inputs);
            for (const auto &[other, other_what] : outs)
                if (path == other)
                    throw tool_failure(std::string(other_what) + " and " + what +
                                       " name the same file");
                else
                    refuse_output_over_inputs(path, what, {other});
            outs.emplace_back(path, what);
        }
    if (o.plot.empty()) return;
    refuse_unsafe_for_gnuplot(o.plot, "--plot");
    plot_format_of(o.plot, "--plot");
}

// The run's outputs, created (under temporary names) before the run so that a path that
// cannot be written is reported at once.
struct outputs {
    std::unique_ptr<atomic_file> csv, summary;
    plot_files plot;
};

outputs open_outputs(const options &o) {
    if (!o.plot.empty()) require_gnuplot("--plot");
    remove_temporaries_on_signal();
    outputs out;
    if (!o.csv.empty()) out.csv = std::make_unique<atomic_file>(o.csv);
    if (!o.summary.empty()) out.summary = std::make_unique<atomic_file>(o.summary);
    if (!o.plot.empty()) out.plot = open_plot_files(o.plot, "--plot");
    return out;
}

// Writes the CSV, the summary and the plot; a plot that fails does not cost the finished files.
void write_outputs(outputs &out, const options &o, const std::vector<method_result> &results,
                   const run_description &d, const compare_setup &setup, const arc_table &arc,
                   const planned_axis_motion &planned) {
    if (out.csv) {
        write_csv(out.csv->stream(), *d.prof, results);
        out.csv->commit();
    }
    if (out.summary) {
        std::fputs(summary_file_text(results, d, summary_is_markdown(o.summary)).c_str(),
                   out.summary->stream());
        out.summary->commit();
    }
    if (out.plot.png)
        draw_plot_files(out.plot, *d.prof, results,
                        plot_extras_for(*d.prof, setup, arc, results, run_title(d), planned));
}

// Returns the name of the table FCP runs on ("" when FCP is not among the methods).
std::string fcp_table_name(const options &o, const fcp_choice &fcp, double length) {
    bool fcp_runs = false;
    for (const compare_method *m : o.methods)
        fcp_runs = fcp_runs || m->table;
    if (!fcp_runs) return "";
    if (!fcp.refusal.empty()) return "none (" + fcp.refusal + ")";
    if (!fcp.table)
        return "the compiled-in one, made for a curve " + fmt("%.6f", fcp_builtin_length()) +
               " mm long" +
               (std::fabs(fcp_builtin_length() - length) <= 1e-9 * length ? " (this one)"
                                                                          : " (not this one)");
    if (!o.fcp_table.empty()) return o.fcp_table;
    return "fitted for this curve in-process (" + std::to_string(fcp.table->tht.size()) +
           " pieces)";
}

int compare(options &o, int argc, char **argv) {
    const auto wall_start = std::chrono::steady_clock::now();
    if (!o.library_error.empty()) throw tool_failure(o.library_error);
    finish_options(o);
    nurbs_curve curve;
    load_curve_checked(o.curve, &curve);
    const feed_profile prof = read_feed_profile_checked(o.profile);
    const std::string memory = result_memory_problem(prof.v.size(), o.methods);
    if (!memory.empty()) throw tool_failure(memory);
    const machine_limits limits = machine_from(o.machine);
    compare_setup setup;
    setup.curve = &curve;
    setup.period = run_period(prof, o.machine, o.profile);
    setup.policy = o.joints == "split" ? joint_policy::split : joint_policy::through;
    setup.limits = machine_has_axes(limits) ? &limits : nullptr;
    setup.loaded_in_process = o.in_process;
    outputs out = open_outputs(o);
    arc_table arc;
    tool_arc_table(&curve, o.curve, "interp_compare", &arc);
    setup.curve_length = arc_table_length(arc); // where "the curve's end" is
    setup.arc = &arc;                           // the accurate length of every step
    setup.joints = joints_of(arc);
    run_description d;
    d.curve = o.curve;
    d.length = setup.curve_length;
    d.joints = setup.joints.u.size();
    d.policy = setup.policy;
    d.profile = o.profile;
    d.prof = &prof;
    d.period = setup.period;
    d.fit = profile_fit_of(prof, setup.period, setup.curve_length);
    if (const std::string refusal = profile_fit_refusal(d.fit, o.profile, o.curve);
        !refusal.empty())
        throw tool_failure(refusal);
    const planned_axis_motion planned =
        o.plot.empty() && !setup.limits ? planned_axis_motion{}
                                        : plan_axis_motion(prof, arc, setup.period, setup.limits);
    d.machine = machine_name(o.machine, limits, argc, argv);
    d.limits = machine_text(limits);
    d.planned = machine_fit_of(planned, setup.limits);
    const fcp_choice fcp =
        choose_fcp_table_for(o.methods, o.fcp_table, arc, o.curve, prof, setup.period);
    setup.fcp = fcp.table ? &*fcp.table : nullptr;
    setup.fcp_refusal = fcp.refusal;
    d.fcp_table = fcp_table_name(o, fcp, setup.curve_length);
    d.fcp_e_max = fcp.e_max;
    d.fcp_note = fcp.note;
    d.loaded = loaded_methods_note(o.methods, o.in_process);
    const std::string realtime = o.realtime ? realtime_setup() : "";
    d.overhead = measure_timer_overhead(1000000);
    const std::vector<method_result> results =
        run_methods(o.methods, setup, prof, "interp_compare: ", o.realtime);
    const noise_floor noise = measure_noise(prof.v.size(), setup);
    if (o.realtime) std::printf("%s\n", realtime.c_str());
    std::fputs(run_header(d).c_str(), stdout);
    std::fputs(
        (format_summary(results, d, o.columns) + "\n" + noise_text(noise) + stops_text(results))
            .c_str(),
        stdout);
    write_outputs(out, o, results, d, setup, arc, planned);
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
                               "prefixed), and those of --method-lib libraries:\n" +
                               compare_method_help() + "\n" + compare_columns_help() + "\n" +
                               MACHINE_HELP + "\n\n" + FOOTER_TAIL +
                               "\n\nBundled data: " + DEFAULT_DATA_RULE;
    return tool_main(
        argc, argv, "interp_compare", DESCRIPTION, with_outputs_help(footer),
        [&](CLI::App &app) { add_options(app, o); }, [&] { return compare(o, argc, argv); });
}
