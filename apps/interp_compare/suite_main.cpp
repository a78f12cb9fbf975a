// interp_suite: every interpolator on every curve of the comparison suite, with the feed
// profiles made for each; one summary table over all of them (CSV and Markdown) and one plot
// per curve and profile.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "atomic_file.hpp"
#include "compare_methods.hpp"
#include "compare_report.hpp"
#include "compare_session.hpp"
#include "curve_load.hpp"
#include "feed_profile.hpp"
#include "format.hpp"
#include "tool_cli.hpp"

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

struct options {
    std::string manifest = "data/curves/suite.txt", out = "build/suite";
    long samples = 0; // 0: whole profiles
    bool plots = true;
};

// One line of the manifest.
struct suite_entry {
    std::string curve;
    std::vector<std::string> profiles;
};

// Reads the manifest; paths are made relative to its directory. Throws tool_failure.
std::vector<suite_entry> read_manifest(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "r");
    if (!f) throw tool_failure(path + ": cannot open the suite manifest");
    const fs::path dir = fs::path(path).parent_path();
    std::vector<suite_entry> entries;
    char line[4096];
    for (unsigned no = 1; std::fgets(line, sizeof line, f); ++no) {
        std::string text = line;
        text = text.substr(0, text.find('#'));
        std::vector<std::string> words;
        for (std::size_t pos = 0;
             (pos = text.find_first_not_of(" \t\r\n", pos)) != std::string::npos;) {
            const std::size_t end = text.find_first_of(" \t\r\n", pos);
            words.push_back(text.substr(pos, end - pos));
            pos = end;
        }
        if (words.empty()) continue;
        if (words.size() < 2) {
            std::fclose(f);
            throw tool_failure(path + ":" + std::to_string(no) + ": a curve needs a profile");
        }
        suite_entry e{(dir / words[0]).string(), {}};
        for (std::size_t k = 1; k < words.size(); ++k)
            e.profiles.push_back((dir / words[k]).string());
        entries.push_back(e);
    }
    std::fclose(f);
    if (entries.empty()) throw tool_failure(path + ": the manifest names no curve");
    return entries;
}

// The summary rows of one curve and profile, for the CSV and the Markdown table.
struct summary_row {
    std::string curve, profile, method;
    const method_result *r;
};

std::string row_text(const summary_row &row, const char *sep, bool markdown) {
    const method_result &r = *row.r;
    auto num = [](const char *f, double x) { return std::isnan(x) ? std::string("-") : fmt(f, x); };
    std::string status = r.failed ? "FAILED: " + r.reason : "ok";
    if (!markdown) {
        std::string quoted = "\"";
        for (char c : status)
            quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        status = quoted + "\"";
    } else {
        for (std::size_t k; (k = status.find('|')) != std::string::npos;)
            status.replace(k, 1, "/");
    }
    const std::vector<std::string> fields = {row.curve,
                                             row.profile,
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
    compare_setup setup;
    setup.curve = &curve;
    setup.curve_length = curve_length_checked(&curve, e.curve, "interp_suite: curve length");
    const fcp_choice fcp = choose_fcp_table("", &curve, e.curve, setup.curve_length);
    setup.fcp = fcp.table ? &*fcp.table : nullptr;
    std::vector<const compare_method *> methods;
    for (const compare_method &m : compare_methods())
        methods.push_back(&m);
    const std::string curve_name = fs::path(e.curve).filename().string();
    std::fprintf(stderr, "interp_suite: [%zu/%zu] %s: %s\n", index + 1, count, curve_name.c_str(),
                 fcp.note.c_str());
    for (const std::string &p : e.profiles) {
        feed_profile prof = read_feed_profile_checked(p);
        if (o.samples > 0 && prof.v.size() > std::size_t(o.samples)) {
            prof.v.resize(o.samples);
            prof.a.resize(o.samples);
            prof.j.resize(o.samples);
        }
        const std::string profile_name = fs::path(p).filename().string();
        std::fprintf(stderr, "interp_suite: [%zu/%zu] %s, %s: %zu samples\n", index + 1, count,
                     curve_name.c_str(), profile_name.c_str(), prof.v.size());
        pair_result pr{curve_name, profile_name,
                       run_methods(methods, setup, prof, "interp_suite: ", false)};
        if (o.plots) {
            const std::string png =
                (fs::path(o.out) / (fs::path(curve_name).stem().string() + "__" +
                                    fs::path(profile_name).stem().string() + ".png"))
                    .string();
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

int run_suite(const options &o) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::vector<suite_entry> entries = read_manifest(o.manifest);
    if (o.plots && !on_path("gnuplot"))
        throw tool_failure("the plots need gnuplot, which is not installed (apt-get install -y "
                           "gnuplot-nox, or scripts/ensure_deps.sh gnuplot-nox as root); "
                           "--no-plots leaves them out");
    std::error_code ec;
    fs::create_directories(o.out, ec);
    if (ec)
        throw tool_failure(o.out + ": cannot create the output directory (" + ec.message() + ")");
    check_output_writable((fs::path(o.out) / "summary.csv").string(), "--out");
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
        argc, argv, "interp_suite", DESCRIPTION,
        "Progress goes to standard error, a line per curve and profile. Outputs are written "
        "under\ntemporary names and renamed when complete.",
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
