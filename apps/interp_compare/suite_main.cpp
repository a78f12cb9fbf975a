// interp_suite: every interpolator on every curve of the comparison suite, with the feed
// profiles made for each, through and split at the joints; one summary table over all of them
// (CSV and Markdown) and one plot per curve, profile and policy.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/machine_cli.hpp"
#include "common/plot.hpp"
#include "common/tool_cli.hpp"
#include "compare/method_lib.hpp"
#include "compare/methods.hpp"
#include "compare/report.hpp"
#include "compare/session.hpp"
#include "io/atomic_file.hpp"
#include "io/curve_load.hpp"
#include "io/suite_manifest.hpp"
#include "plan/curve_length.hpp"

using namespace nurbs_interp;
namespace fs = std::filesystem;

namespace {

const char *const DESCRIPTION =
    "Runs every interpolator on every curve of the suite, as interp_compare does (the same\n"
    "statistics, FCP with a table fitted for each curve the compiled-in table was not made\n"
    "for), each profile at its own servo period (its period line; 0.00025 s without one), on a\n"
    "curve with joints both through them and split at them (--joints), and writes into OUT:\n"
    "summary.csv (one row per curve, profile, policy and method: curve, profile, joints,\n"
    "period_s, method, the numbers of interp_compare's table that the suite keeps, status),\n"
    "summary.md (the same as a Markdown table) and one plot per curve, profile and policy,\n"
    "<curve>__<profile>.png and <curve>__<profile>__split.png; at the end it prints a short\n"
    "overview: per run the methods ok and FAILED.\n"
    "The suite is a manifest: one line per curve, \"<curve file> <profile> [<profile> ...]\",\n"
    "paths relative to the manifest's directory, '#' starting a comment.";

const char *const FOOTER =
    "Manifest: paths are separated by blanks; a path holding blanks is written in double\n"
    "quotes, \"my curve.nurbs\" (no quote inside a path; '#' inside quotes is part of it). A\n"
    "line longer than 4096 characters is refused. The whole manifest is read and every file\n"
    "it names checked (it exists and may be read) before the first run.\n"
    "Names: a curve is named by its file name in the summary and its plots, or by its path\n"
    "relative to the manifest's directory when another curve of the manifest has the same\n"
    "file name (a/curve.nurbs, b/curve.nurbs); profiles alike. A plot is\n"
    "<curve>__<profile>.png of those names without extensions, '/' and characters a file name\n"
    "should not hold made '_' (\"..\" made \"up\"); two runs whose plots would have the same\n"
    "name are refused. An output in OUT that is the manifest, a curve or a profile is refused\n"
    "before the first run, as is an OUT holding a control character when plots are drawn.\n"
    "Profiles: before the first run every profile's commanded travel T*sum(v) is compared\n"
    "with its curve's accurate length; one that runs past the curve's end by more than the\n"
    "drift bound (0.1 mm + 1e-4 of its travel; make_profile plans 0.5 mm short of the end) was\n"
    "made for a longer path and is refused, naming its manifest line.\n"
    "Axis limits (--axis-*, --config) give the ratio columns of every run; a machine file's\n"
    "period is not used (each profile keeps its own); --period on the command line runs every\n"
    "profile at that period, each of which must have been made for it. A profile whose own\n"
    "plan exceeds the machine's limits was not planned for it: its rows are marked, status\n"
    "ok*, planned_for_machine \"no\", so that their ratios are not read as a pass.\n"
    "Loaded methods (--method-lib PATH, repeatable; see interp_compare --help): a library's\n"
    "methods run in every run beside the built-in ones, each in a process of its own (a crash\n"
    "or a call that has not returned after 1 s, create and destroy 60 s, fails it); a library\n"
    "that does not load, lacks the entry point, was built against another version of the\n"
    "interface or names a method as another one is refused before the first run.\n"
    "Progress goes to standard error, a line per curve and profile.";

struct options {
    std::string manifest = "data/curves/suite.txt", out = "build/suite", joints = "both";
    long samples = 0; // 0: whole profiles
    bool plots = true;
    machine_options machine;
    std::string machine_name; // the machine file, or the --axis-* options ("": none)
    std::vector<std::string> method_libs;
    std::vector<const compare_method *> methods; // the built-in ones and those loaded
};

// Loads the --method-lib libraries; the methods of a run are the built-in ones and theirs.
void load_methods(options &o) {
    std::vector<const compare_method *> loaded;
    for (const std::string &path : o.method_libs) {
        try {
            const std::vector<const compare_method *> m = load_method_library(path, loaded);
            loaded.insert(loaded.end(), m.begin(), m.end());
        } catch (const method_library_error &e) {
            throw tool_failure(e.what());
        }
    }
    o.methods = methods_in_list("", loaded);
}

// Reads the profiles of an entry (shortened to --samples) and their periods.
std::vector<feed_profile> read_profiles(const options &o, const suite_entry &e,
                                        std::vector<double> &periods) {
    std::vector<feed_profile> profiles;
    for (const std::string &p : e.profiles) {
        profiles.push_back(read_feed_profile_checked(p));
        periods.push_back(run_period(profiles.back(), o.machine, p));
        feed_profile &prof = profiles.back();
        if (o.samples > 0) feed_profile_truncate(prof, std::size_t(o.samples));
        const std::string memory = result_memory_problem(prof.v.size(), o.methods);
        if (!memory.empty()) throw tool_failure(p + ": " + memory);
    }
    return profiles;
}

// Runs one curve with all its profiles and policies; draws a plot per run into opt.out.
void run_curve(const options &o, const suite_entry &e, std::size_t index, std::size_t count,
               const machine_limits *limits, std::vector<suite_run> &all) {
    nurbs_curve curve;
    load_curve_checked(e.curve, &curve);
    std::vector<double> periods;
    const std::vector<feed_profile> profiles = read_profiles(o, e, periods);
    compare_setup setup;
    setup.curve = &curve;
    setup.limits = limits;
    arc_table arc;
    tool_arc_table(&curve, e.curve, "interp_suite", &arc);
    setup.curve_length = arc_table_length(arc);
    setup.arc = &arc;
    setup.joints = joints_of(arc);
    double step = 0;
    for (std::size_t k = 0; k < profiles.size(); ++k)
        step = std::max(step, longest_step(profiles[k], periods[k]));
    const fcp_choice fcp = choose_fcp_table("", arc, e.curve, step);
    setup.fcp = fcp.table ? &*fcp.table : nullptr;
    setup.fcp_refusal = fcp.refusal;
    const std::vector<const compare_method *> &methods = o.methods;
    std::fprintf(stderr, "interp_suite: [%zu/%zu] %s: %s\n", index + 1, count, e.curve_name.c_str(),
                 fcp.note.c_str());
    for (std::size_t k = 0; k < e.profiles.size(); ++k)
        for (joint_policy policy : joint_policies(o.joints, setup.joints)) {
            setup.period = periods[k];
            setup.policy = policy;
            std::fprintf(stderr, "interp_suite: [%zu/%zu] %s, %s, %s: %zu samples\n", index + 1,
                         count, e.curve_name.c_str(), e.profile_names[k].c_str(),
                         joint_policy_name(policy), profiles[k].v.size());
            const planned_axis_motion planned =
                o.plots || limits ? plan_axis_motion(profiles[k], arc, setup.period, limits)
                                  : planned_axis_motion{};
            suite_run pr{e.curve_name, e.profile_names[k],
                         run_methods(methods, setup, profiles[k], "interp_suite: ", false),
                         machine_fit_of(planned, limits)};
            if (o.plots) {
                const std::string &png =
                    policy == joint_policy::split ? e.split_plot_names[k] : e.plot_names[k];
                plot_files files = open_plot_files((fs::path(o.out) / png).string(), "--out");
                run_description d;
                d.curve = e.curve_name;
                d.profile = e.profile_names[k];
                d.policy = policy;
                d.period = setup.period;
                d.machine = o.machine_name;
                d.planned = pr.planned;
                draw_plot_files(
                    files, profiles[k], pr.results,
                    plot_extras_for(profiles[k], setup, arc, pr.results, run_title(d), planned));
            }
            for (method_result &r : pr.results)
                drop_per_sample(r); // the summary keeps the statistics alone
            all.push_back(std::move(pr));
        }
}

// Writes summary.csv and summary.md into opt.out.
void write_summary(const options &o, const std::vector<suite_run> &all) {
    const std::string md = suite_summary_markdown(all), csv = suite_summary_csv(all);
    write_file_atomically((fs::path(o.out) / "summary.csv").string(),
                          [&](std::FILE *f) { std::fputs(csv.c_str(), f); });
    write_file_atomically((fs::path(o.out) / "summary.md").string(),
                          [&](std::FILE *f) { std::fputs(md.c_str(), f); });
}

// Refuses, before any run, a profile made for a longer path than its curve: one that runs past
// the curve's end by more than the drift bound (see profile_fit_of), naming its manifest line;
// and, under --period, a profile made for another period.
void check_profiles(const options &o, const std::vector<suite_entry> &entries) {
    for (const suite_entry &e : entries) {
        nurbs_curve curve;
        load_curve_checked(e.curve, &curve);
        arc_table arc;
        tool_arc_table(&curve, e.curve, "interp_suite", &arc);
        for (const std::string &p : e.profiles) {
            feed_profile prof = read_feed_profile_checked(p);
            const double period = run_period(prof, o.machine, p);
            if (o.samples > 0) feed_profile_truncate(prof, std::size_t(o.samples));
            const std::string refusal = profile_fit_refusal(
                profile_fit_of(prof, period, arc_table_length(arc)), p, e.curve);
            if (!refusal.empty())
                throw tool_failure(o.manifest + ":" + std::to_string(e.line) + ": " + refusal);
        }
    }
}

// Refuses, before any run, an output in opt.out that is one of the suite's inputs, or an output
// that cannot be written.
void check_outputs(const options &o, const std::vector<suite_entry> &entries) {
    std::vector<std::string> inputs = suite_inputs(o.manifest, entries);
    if (!o.machine.config.empty()) inputs.push_back(o.machine.config);
    inputs.insert(inputs.end(), o.method_libs.begin(), o.method_libs.end());
    for (const std::string &name : suite_outputs(entries, o.plots))
        refuse_output_over_inputs((fs::path(o.out) / name).string(), "--out", inputs);
    check_output_writable((fs::path(o.out) / "summary.csv").string(), "--out");
}

int run_suite(options &o) {
    const auto t0 = std::chrono::steady_clock::now();
    load_methods(o);
    const std::vector<suite_entry> entries = read_suite_manifest(o.manifest);
    if (o.plots) require_gnuplot("the plots (--no-plots leaves them out)");
    if (o.plots) refuse_unsafe_for_gnuplot(o.out, "--out"); // before OUT is made
    std::error_code ec;
    fs::create_directories(o.out, ec);
    if (ec)
        throw tool_failure(o.out + ": cannot create the output directory (" + ec.message() + ")");
    check_outputs(o, entries);
    check_profiles(o, entries);
    remove_temporaries_on_signal();
    const machine_limits limits = machine_from(o.machine);
    std::vector<suite_run> all;
    for (std::size_t k = 0; k < entries.size(); ++k)
        run_curve(o, entries[k], k, entries.size(), machine_has_axes(limits) ? &limits : nullptr,
                  all);
    write_summary(o, all);
    std::fputs(suite_overview(all).c_str(), stdout);
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("\ninterp_suite: %zu %s, %zu runs of %zu methods in %.1f s -> %s/summary.csv, "
                "summary.md%s\n",
                entries.size(), entries.size() == 1 ? "curve" : "curves", all.size(),
                o.methods.size(), secs, o.out.c_str(), o.plots ? " and the plots" : "");
    return EXIT_DONE;
}

} // namespace

int main(int argc, char **argv) {
    options o;
    CLI::App *app_ptr = nullptr;
    return tool_main(
        argc, argv, "interp_suite", DESCRIPTION, with_outputs_help(FOOTER),
        [&](CLI::App &app) {
            app.add_option("--manifest", o.manifest, "the suite")
                ->type_name("FILE")
                ->capture_default_str();
            app.add_option("--out", o.out, "output directory")
                ->type_name("DIR")
                ->capture_default_str();
            app.add_option("--samples", o.samples,
                           "run only the first N samples of each profile (a quick check)")
                ->check(whole_in(1, PROFILE_MAX_SAMPLES));
            app.add_option("--joints", o.joints,
                           "steps across joints: through, split, or both (on curves with joints)")
                ->check(CLI::IsMember({"through", "split", "both"}))
                ->capture_default_str();
            app.add_flag("!--no-plots", o.plots, "leave the plots out (no gnuplot needed)");
            app.add_option("--method-lib", o.method_libs,
                           "a shared library of methods (nurbs_method.h) to run beside the "
                           "built-in ones; repeatable")
                ->type_name("PATH");
            add_machine_options(app, o.machine, machine_parts::axes);
            app_ptr = &app;
        },
        [&] {
            keep_command_line_period(o.machine, argc, argv);
            o.machine_name = machine_name(o.machine, machine_from(o.machine), argc, argv);
            return run_suite(o);
        });
}
