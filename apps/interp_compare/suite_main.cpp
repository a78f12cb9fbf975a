// interp_suite: every interpolator on every curve of the comparison suite, with the feed
// profiles made for each; one summary table over all of them (CSV and Markdown) and one plot
// per curve and profile.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "io/atomic_file.hpp"
#include "compare/methods.hpp"
#include "compare/report.hpp"
#include "interp_compare/plot.hpp"
#include "compare/session.hpp"
#include "plan/curve_length.hpp"
#include "io/curve_load.hpp"
#include "io/feed_profile.hpp"
#include "io/format.hpp"
#include "io/suite_manifest.hpp"
#include "common/tool_cli.hpp"

using namespace nurbs_interp;
namespace fs = std::filesystem;

namespace {

const char *const DESCRIPTION =
    "Runs every interpolator on every curve of the suite, as interp_compare does (the same\n"
    "statistics, FCP with a table fitted for each curve the compiled-in table was not made\n"
    "for), and writes into OUT: summary.csv (one row per curve, profile and method: curve,\n"
    "profile, method, steps, fluct max, fluct RMS, chord err max [mm], drift [mm], median [ns],\n"
    "worst replayed [ns], status), summary.md (the same as a Markdown table, also printed at\n"
    "the end) and one plot per curve and profile, <curve>__<profile>.png (needs gnuplot).\n"
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
    "Progress goes to standard error, a line per curve and profile.";

struct options {
    std::string manifest = "data/curves/suite.txt", out = "build/suite";
    long samples = 0; // 0: whole profiles
    bool plots = true;
};

// Returns `text` quoted for CSV (quotes doubled).
std::string csv_quoted(const std::string &text) {
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// Returns `text` as a CSV field: as it is, or quoted when it holds a comma, a quote or a line
// end (a path may).
std::string csv_field(const std::string &text) {
    return text.find_first_of(",\"\r\n") == std::string::npos ? text : csv_quoted(text);
}

// Returns `text` as a Markdown table cell: '|' would end the cell, so it becomes '/'.
std::string md_field(std::string text) {
    for (std::size_t k; (k = text.find('|')) != std::string::npos;)
        text.replace(k, 1, "/");
    return text;
}

// The summary rows of one curve and profile, for the CSV and the Markdown table.
struct summary_row {
    std::string curve, profile, method;
    const method_result *r;
};

std::string row_text(const summary_row &row, const char *sep, bool markdown) {
    const method_result &r = *row.r;
    auto num = [](const char *f, double x) { return std::isnan(x) ? std::string("-") : fmt(f, x); };
    const auto field = [&](const std::string &text) {
        return markdown ? md_field(text) : csv_field(text);
    };
    const std::string outcome = r.failed ? "FAILED: " + r.reason : "ok";
    const std::string status = markdown ? md_field(outcome) : csv_quoted(outcome);
    const std::vector<std::string> fields = {field(row.curve),
                                             field(row.profile),
                                             row.method,
                                             std::to_string(r.steps),
                                             num("%.3e", r.fluct_max),
                                             num("%.3e", r.fluct_rms),
                                             num("%.3e", r.chord_max),
                                             num("%.3e", r.drift),
                                             num("%.0f", r.t_median),
                                             r.replayed ? num("%.0f", r.worst_replayed_ns) : "-",
                                             status};
    std::string out = markdown ? "| " : "";
    for (std::size_t k = 0; k < fields.size(); ++k)
        out += fields[k] + (k + 1 < fields.size() ? sep : "");
    return out + (markdown ? " |\n" : "\n");
}

// The results of one curve and profile, kept until the summary is written.
struct pair_result {
    std::string curve, profile;
    std::vector<method_result> results;
};

// Runs one curve with all its profiles; draws a plot per profile into opt.out.
void run_curve(const options &o, const suite_entry &e, std::size_t index, std::size_t count,
               std::vector<pair_result> &all) {
    nurbs_curve curve;
    load_curve_checked(e.curve, &curve);
    std::vector<feed_profile> profiles;
    double top_feed = 0;
    for (const std::string &p : e.profiles) {
        profiles.push_back(read_feed_profile_checked(p));
        feed_profile &prof = profiles.back();
        if (o.samples > 0 && prof.v.size() > std::size_t(o.samples)) {
            prof.v.resize(o.samples);
            prof.a.resize(o.samples);
            prof.j.resize(o.samples);
        }
        for (double v : prof.v)
            top_feed = std::max(top_feed, v);
    }
    compare_setup setup;
    setup.curve = &curve;
    arc_table arc;
    tool_arc_table(&curve, e.curve, "interp_suite", &arc);
    setup.curve_length = arc_table_length(arc);
    const fcp_choice fcp = choose_fcp_table("", arc, e.curve, top_feed);
    setup.fcp = fcp.table ? &*fcp.table : nullptr;
    setup.fcp_refusal = fcp.refusal;
    std::vector<const compare_method *> methods;
    for (const compare_method &m : compare_methods())
        methods.push_back(&m);
    std::fprintf(stderr, "interp_suite: [%zu/%zu] %s: %s\n", index + 1, count, e.curve_name.c_str(),
                 fcp.note.c_str());
    for (std::size_t k = 0; k < e.profiles.size(); ++k) {
        const feed_profile &prof = profiles[k];
        std::fprintf(stderr, "interp_suite: [%zu/%zu] %s, %s: %zu samples\n", index + 1, count,
                     e.curve_name.c_str(), e.profile_names[k].c_str(), prof.v.size());
        pair_result pr{e.curve_name, e.profile_names[k],
                       run_methods(methods, setup, prof, "interp_suite: ", false)};
        if (o.plots) {
            const std::string png = (fs::path(o.out) / e.plot_names[k]).string();
            atomic_file image(png), data(plot_data_path(image));
            draw_plot(image.temp_path(), png, data, prof, pr.results);
            image.commit();
        }
        all.push_back(std::move(pr));
    }
}

// Writes summary.csv and summary.md into opt.out; returns the Markdown text.
std::string write_summary(const options &o, const std::vector<pair_result> &all) {
    std::string csv = "curve,profile,method,steps,fluct_max,fluct_rms,chord_err_max_mm,drift_mm,"
                      "median_ns,worst_replayed_ns,status\n";
    std::string md = "| curve | profile | method | steps | fluct max [1] | fluct RMS [1] | chord "
                     "err max [mm] | drift [mm] | median [ns] | worst replayed [ns] | status |\n"
                     "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---|\n";
    for (const pair_result &pr : all)
        for (const method_result &r : pr.results) {
            const summary_row row{pr.curve, pr.profile, r.name, &r};
            csv += row_text(row, ",", false);
            md += row_text(row, " | ", true);
        }
    write_file_atomically((fs::path(o.out) / "summary.csv").string(),
                          [&](std::FILE *f) { std::fputs(csv.c_str(), f); });
    write_file_atomically((fs::path(o.out) / "summary.md").string(),
                          [&](std::FILE *f) { std::fputs(md.c_str(), f); });
    return md;
}

// Refuses, before any run, an output in opt.out that is one of the suite's inputs, or an output
// that cannot be written.
void check_outputs(const options &o, const std::vector<suite_entry> &entries) {
    const std::vector<std::string> inputs = suite_inputs(o.manifest, entries);
    std::vector<std::string> outputs = {"summary.csv", "summary.md"};
    if (o.plots) {
        for (const suite_entry &e : entries)
            outputs.insert(outputs.end(), e.plot_names.begin(), e.plot_names.end());
    }
    for (const std::string &name : outputs)
        refuse_output_over_inputs((fs::path(o.out) / name).string(), "--out", inputs);
    check_output_writable((fs::path(o.out) / "summary.csv").string(), "--out");
}

int run_suite(const options &o) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::vector<suite_entry> entries = read_suite_manifest(o.manifest);
    if (o.plots && !on_path("gnuplot"))
        throw tool_failure("the plots need gnuplot, which is not installed (apt-get install -y "
                           "gnuplot-nox, or scripts/ensure_deps.sh gnuplot-nox as root); "
                           "--no-plots leaves them out");
    if (o.plots) refuse_unsafe_for_gnuplot(o.out, "--out"); // before OUT is made
    std::error_code ec;
    fs::create_directories(o.out, ec);
    if (ec)
        throw tool_failure(o.out + ": cannot create the output directory (" + ec.message() + ")");
    check_outputs(o, entries);
    remove_temporaries_on_signal();
    std::vector<pair_result> all;
    for (std::size_t k = 0; k < entries.size(); ++k)
        run_curve(o, entries[k], k, entries.size(), all);
    const std::string md = write_summary(o, all);
    std::fputs(md.c_str(), stdout);
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("\ninterp_suite: %zu curves, %zu runs of %zu methods in %.1f s -> %s/summary.csv, "
                "summary.md%s\n",
                entries.size(), all.size(), compare_methods().size(), secs, o.out.c_str(),
                o.plots ? " and the plots" : "");
    return EXIT_DONE;
}

} // namespace

int main(int argc, char **argv) {
    options o;
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
            app.add_flag("!--no-plots", o.plots, "leave the plots out (no gnuplot needed)");
        },
        [&] { return run_suite(o); });
}
