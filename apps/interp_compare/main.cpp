// interp_compare: runs every interpolator of the library over one curve and one feed profile,
// side by side, and reports how far each step misses its commanded length (feed fluctuation)
// and how long each servo cycle takes in the worst case.
#include <algorithm> // min
#include <cerrno>
#include <chrono> // wall time of the run
#include <cmath>
#include <csignal> // removing temporary outputs on SIGINT / SIGTERM
#include <cstdio>
#include <cstdlib>
#include <cstring>    // strerror
#include <filesystem> // default data next to the executable
#include <string>
#include <vector>
#include <sys/stat.h>
#include <sys/wait.h> // pclose status
#include <unistd.h>   // isatty, access, mkstemps, unlink

#include "interp_compare_run.hpp"
#include "curve_report.hpp"
#include "nurbs.hpp"
#include "feed_profile.hpp"

using namespace nurbs_interp;

namespace {

const char *const USAGE = R"(usage: interp_compare [options]

Runs every interpolator of the library over one curve and one feed profile as a controller
would: each method keeps its own parameter, starts at u = 0 and time 0, and advances once per
profile sample at the servo period T = 0.00025 s with that sample's feed v, acceleration a and
jerk j. A method's cycle is the evaluation of the curve at its current parameter (whatever
derivatives it takes as inputs) plus the interpolator call; that cycle is timed with the
monotonic clock. Outside the timed region the true length ds of every step is measured by
adaptive Simpson quadrature (epsilon 1e-12, depth 30).

Methods (names are case-insensitive, "get_u_" may be prefixed):
  FCP            get_u_FCP, driven by its own travelled arc length (the sum of the measured
                 step lengths); its table is that of the bundled curve, so on another curve
                 its figures mean nothing
  Taylor2        get_u_Taylor2 (v, a; C', C'' evaluated at u)
  Taylor3        get_u_Taylor3 (v, a, j; C', C'', C''')
  Taylor2_ds     get_u_Taylor2_ds with ds = v*T (C', C'')
  Taylor3_ds     get_u_Taylor3_ds with ds = v*T (C', C'', C''')
  RK2            get_u_RK2 (C, C')
  T3SIA          get_u_T3SIA (evaluates the curve itself)
  AdamsMoulton   get_u_AdamsMoulton with ct = sample index * T; its history is reset to 0 at
                 the start of its run
  NewtonRaphson  get_u_NewtonRaphson (C, C', C'')

Options:
  --curve FILE     curve file (default: data/S1200X30quorbel.nurbs in the working directory,
                   else next to the program's directory, ../data)
  --profile FILE   feed profile: "N=<count>" then per sample "feed accel jerk"
                   (default: data/fprof.txt, found the same way)
  --methods LIST   comma-separated subset of the methods above, in the order given
                   (default: all, in the order above)
  --csv FILE       one row per sample: time_s (start of the period), feed_mm_s, and per method
                   <name>_rel_err (empty where not scored) and <name>_call_ns (empty where the
                   method did not run)
  --plot FILE.png  relative feed error against time per method on a log scale, drawn with
                   gnuplot (the maximum in each of at most 2000 time windows); needs gnuplot
  --help           this text

Summary table (standard output), one row per method:
  steps          calls made; a method stops at the curve's end (u >= 1, or less than 1e-6 mm
                 of the curve left after its step) or when it fails
  fluct max/RMS  max and RMS of |v*T - ds| / (v*T) over the steps with v >= 1 mm/s before
                 the one that reaches the end (that step is cut short by the curve)
  drift [mm]     sum of (ds - v*T) over the steps before the one that reaches the end:
                 travelled length minus commanded length, positive when ahead
  iter mean/max  corrector updates per call (T3SIA and NewtonRaphson only)
  median, p99, p99.99, max [ns]
                 cycle time percentiles (nearest rank) and maximum; the timer overhead,
                 measured and printed above the table, is included, not subtracted
  max [% T]      the maximum cycle time as a share of the 250 us servo period
  status         ok (where the motion ended) or FAILED with the reason: a non-finite
                 parameter; a parameter below 0 (left the curve before its start); a step
                 back along the curve by more than 1e-6 mm; or stopped advancing: 100
                 consecutive samples with v >= 1 mm/s whose steps each covered less than 1%
                 of v*T (standing still or creeping)

A failed method does not stop the others. Progress goes to standard error when it is a
terminal. Exit status: 0 after a complete run (also when a method failed), 1 when an input
cannot be read or an output cannot be written (nothing is left half-written: outputs are
written under temporary names in their directory and renamed at the end), 2 for a usage error.
)";

// ---- Outputs written under a temporary name and renamed when complete ----

// Temporary paths to remove if the run is interrupted (async-signal-safe unlink only).
char G_temp_paths[3][4096];
volatile std::sig_atomic_t G_temp_count = 0;

extern "C" void remove_temps_and_exit(int sig) {
    for (int k = 0; k < G_temp_count; ++k)
        if (G_temp_paths[k][0]) unlink(G_temp_paths[k]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// A file written under "<dir>/.<name>.tmp-XXXXXX" and renamed to its path by commit(); removed
// if never committed.
struct pending_file {
    std::string path;
    std::string temp;
    int slot = -1;

    // Creates the temporary file; returns false with `error` set when it cannot.
    bool create(const std::string &final_path, std::string *error) {
        path = final_path;
        const std::filesystem::path p(final_path);
        const std::filesystem::path dir = p.has_parent_path() ? p.parent_path() : ".";
        std::string tmpl = (dir / ("." + p.filename().string() + ".tmp-XXXXXX")).string();
        if (tmpl.size() >= sizeof G_temp_paths[0]) {
            *error = final_path + ": path too long";
            return false;
        }
        const int fd = mkstemp(tmpl.data());
        if (fd < 0) {
            *error = final_path + ": cannot create a file in " + dir.string() + " (" +
                     std::strerror(errno) + ")";
            return false;
        }
        close(fd);
        temp = tmpl;
        slot = G_temp_count;
        std::snprintf(G_temp_paths[slot], sizeof G_temp_paths[slot], "%s", temp.c_str());
        G_temp_count = slot + 1;
        return true;
    }

    // Renames the temporary file to its path; returns false with `error` set when it cannot.
    bool commit(std::string *error) {
        // Files made by mkstemp are private (0600); give the output the usual permissions.
        const mode_t mask = umask(0);
        umask(mask);
        chmod(temp.c_str(), 0666 & ~mask);
        if (std::rename(temp.c_str(), path.c_str()) != 0) {
            *error = path + ": cannot rename " + temp + " to it (" + std::strerror(errno) + ")";
            return false;
        }
        G_temp_paths[slot][0] = '\0';
        temp.clear();
        return true;
    }

    ~pending_file() {
        if (!temp.empty()) {
            G_temp_paths[slot][0] = '\0';
            unlink(temp.c_str());
        }
    }
};

// ---- Command line ----

struct options {
    std::string curve;
    std::string profile;
    std::string csv;
    std::string plot;
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

[[noreturn]] void usage_error(const std::string &what) {
    std::fprintf(stderr, "interp_compare: %s (see --help)\n", what.c_str());
    std::exit(2);
}

options parse(int argc, char **argv) {
    options o;
    std::string methods;
    bool methods_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(USAGE, stdout);
            std::exit(0);
        }
        std::string *target = arg == "--curve"     ? &o.curve
                              : arg == "--profile" ? &o.profile
                              : arg == "--csv"     ? &o.csv
                              : arg == "--plot"    ? &o.plot
                              : arg == "--methods" ? &methods
                                                   : nullptr;
        if (!target) usage_error("unknown argument \"" + arg + "\"");
        if (i + 1 >= argc || argv[i + 1][0] == '\0') usage_error(arg + " needs a value");
        *target = argv[++i];
        methods_given = methods_given || target == &methods;
    }
    if (o.curve.empty()) o.curve = default_data("data/S1200X30quorbel.nurbs");
    if (o.profile.empty()) o.profile = default_data("data/fprof.txt");
    if (!methods_given) {
        for (const compare_method &m : compare_methods())
            o.methods.push_back(&m);
    } else {
        std::size_t pos = 0;
        while (pos <= methods.size()) {
            const std::size_t comma = std::min(methods.find(',', pos), methods.size());
            const std::string name = methods.substr(pos, comma - pos);
            const compare_method *m = find_compare_method(name);
            if (!m) {
                std::string known;
                for (const compare_method &k : compare_methods())
                    known += std::string(known.empty() ? "" : ", ") + k.name;
                usage_error("unknown method \"" + name + "\" in --methods (known: " + known + ")");
            }
            for (const compare_method *seen : o.methods)
                if (seen == m)
                    usage_error("method " + std::string(m->name) + " given twice in --methods");
            o.methods.push_back(m);
            pos = comma + 1;
        }
    }
    if (!o.plot.empty() && o.plot == o.csv) usage_error("--csv and --plot name the same file");
    return o;
}

// True when an executable `name` is on the PATH.
bool on_path(const char *name) {
    const char *path = std::getenv("PATH");
    if (!path) return false;
    std::string dirs = path;
    std::size_t pos = 0;
    while (pos <= dirs.size()) {
        const std::size_t colon = std::min(dirs.find(':', pos), dirs.size());
        std::string dir = dirs.substr(pos, colon - pos);
        if (dir.empty()) dir = ".";
        if (access((dir + "/" + name).c_str(), X_OK) == 0) return true;
        pos = colon + 1;
    }
    return false;
}

// ---- Progress on standard error ----

struct progress_state {
    std::string label;
    int shown = -1;
};

void show_progress(void *ctx, std::size_t done, std::size_t total) {
    auto *p = static_cast<progress_state *>(ctx);
    const int pct = total ? static_cast<int>(done * 100 / total) : 100;
    if (pct == p->shown) return;
    p->shown = pct;
    std::fprintf(stderr, "\r%s %3d%%", p->label.c_str(), pct);
    std::fflush(stderr);
}

// ---- CSV and plot ----

// Writes the per-sample CSV; returns false when a write fails.
bool write_csv(std::FILE *f, const feed_profile &prof, const std::vector<method_result> &res) {
    std::fputs("time_s,feed_mm_s", f);
    for (const method_result &r : res)
        std::fprintf(f, ",%s_rel_err,%s_call_ns", r.name.c_str(), r.name.c_str());
    std::fputc('\n', f);
    for (std::size_t i = 0; i < prof.v.size(); ++i) {
        std::fprintf(f, "%.5f,%.17g", static_cast<double>(i) * COMPARE_PERIOD, prof.v[i]);
        for (const method_result &r : res) {
            std::fputc(',', f);
            if (!std::isnan(r.rel_err[i])) std::fprintf(f, "%.6e", r.rel_err[i]);
            std::fputc(',', f);
            if (!std::isnan(r.call_ns[i])) std::fprintf(f, "%.0f", r.call_ns[i]);
        }
        std::fputc('\n', f);
    }
    return !std::ferror(f);
}

// Returns a duration in ms as short text.
std::string ms_text(double ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", ms);
    return buf;
}

// Returns `s` as a gnuplot single-quoted string.
std::string gp_quote(const std::string &s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

// Draws the plot into png->temp through a data file data->temp; returns false with `error`.
bool draw_plot(const pending_file &png, const pending_file &data, const feed_profile &prof,
               const std::vector<method_result> &res, std::string *error) {
    const std::size_t n = prof.v.size();
    const std::size_t windows = std::min<std::size_t>(n, 2000);
    const std::size_t per = windows ? (n + windows - 1) / windows : 1;
    std::FILE *f = std::fopen(data.temp.c_str(), "w");
    if (!f) {
        *error = data.temp + ": cannot write the plot data (" + std::strerror(errno) + ")";
        return false;
    }
    std::vector<std::size_t> plotted(res.size(), 0); // positive points per method
    for (std::size_t w0 = 0; w0 < n; w0 += per) {
        std::fprintf(f, "%.5f", static_cast<double>(w0) * COMPARE_PERIOD);
        for (const method_result &r : res) {
            double m = 0; // log scale: only positive errors can be drawn
            for (std::size_t i = w0; i < std::min(n, w0 + per); ++i)
                if (r.rel_err[i] > m) m = r.rel_err[i];
            if (m > 0) {
                std::fprintf(f, " %.6e", m);
                ++plotted[&r - res.data()];
            } else {
                std::fputs(" ?", f);
            }
        }
        std::fputc('\n', f);
    }
    const bool wrote = !std::ferror(f);
    if (std::fclose(f) != 0 || !wrote) {
        *error = data.temp + ": cannot write the plot data";
        return false;
    }

    std::string script = "set datafile missing '?'\n"
                         "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) "
                         "{ set terminal pngcairo size 1280,720 } else "
                         "{ set terminal png size 1280,720 }\n";
    script += "set output " + gp_quote(png.temp) + "\n";
    script += "set title " +
              gp_quote("relative feed error |v T - ds| / (v T) per step, maximum per " +
                       std::to_string(per) + "-sample window (" +
                       ms_text(static_cast<double>(per) * COMPARE_PERIOD * 1e3) +
                       " ms); feed >= 1 mm/s") +
              " noenhanced\n";
    script += "set xlabel 'time [s]'\nset ylabel 'relative feed error [1]'\n"
              "set logscale y\nset format y '1e%T'\nset grid\nset key outside right\n";
    if (std::count(plotted.begin(), plotted.end(), 0) == std::ptrdiff_t(plotted.size()))
        // nothing positive to draw: keep the axes valid
        script += "set yrange [1e-16:1]\n";
    if (n > 0)
        script += "set xrange [0:" + ms_text(static_cast<double>(n) * COMPARE_PERIOD) + "]\n";
    // One distinct colour per method (gnuplot's default cycle repeats after eight); dashes
    // from the eleventh on.
    static const char *const COLOURS[10] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                            "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};
    script += "plot ";
    for (std::size_t k = 0; k < res.size(); ++k)
        // A method with no positive error to draw keeps its key entry (an empty curve).
        script += (k ? ", " : "") +
                  (plotted[k] ? gp_quote(data.temp) + " using 1:" + std::to_string(k + 2)
                              : std::string("NaN")) +
                  " with lines lc rgb '" + COLOURS[k % 10] + "' dt " + std::to_string(k / 10 + 1) +
                  " title " + gp_quote(res[k].name + (plotted[k] ? "" : " (nothing to draw)")) +
                  " noenhanced";
    if (res.empty()) script += "NaN notitle";
    script += "\n";

    std::FILE *gp = popen("gnuplot", "w");
    if (!gp) {
        *error = "cannot start gnuplot (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    std::fputs(script.c_str(), gp);
    const int status = pclose(gp);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = png.path + ": gnuplot failed to draw the plot";
        return false;
    }
    struct stat st {};
    if (stat(png.temp.c_str(), &st) != 0 || st.st_size == 0) {
        *error = png.path + ": gnuplot produced no image";
        return false;
    }
    return true;
}

// Prints "interp_compare: <what>" on standard error and returns the exit status 1.
int fail(const std::string &what) {
    std::fprintf(stderr, "interp_compare: %s\n", what.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    const auto wall_start = std::chrono::steady_clock::now();
    const options opt = parse(argc, argv);

    nurbs_curve curve;
    try {
        nurbs_curve_alloc_file(opt.curve.c_str(), &curve);
    } catch (const nurbs_file_error &e) {
        report_load_error(e);
        if (e.kind == nurbs_file_error::open_failed)
            std::fprintf(stderr, "interp_compare: %s: could not open the curve file\n",
                         opt.curve.c_str());
        return 1;
    }
    feed_profile prof;
    try {
        prof = read_feed_profile(opt.profile.c_str());
    } catch (const profile_error &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }

    if (!opt.plot.empty() && !on_path("gnuplot"))
        return fail("--plot needs gnuplot, which is not installed (apt-get install -y "
                    "gnuplot-nox, or scripts/ensure_deps.sh gnuplot-nox as root)");
    // Outputs are created (under temporary names) before the run, so a path that cannot be
    // written is reported at once rather than after the run.
    std::signal(SIGINT, remove_temps_and_exit);
    std::signal(SIGTERM, remove_temps_and_exit);
    pending_file csv, png, plot_data;
    std::string error;
    if (!opt.csv.empty() && !csv.create(opt.csv, &error)) return fail(error);
    if (!opt.plot.empty() &&
        (!png.create(opt.plot, &error) || !plot_data.create(opt.plot + ".dat", &error)))
        return fail(error);

    // The driver's total-length quadrature: where "the curve's end" is, in travelled length.
    const double length =
        adaptiveSimpsons(nurbs_arc_len, &curve, 0.0, 1.0, COMPARE_QUAD_EPS, COMPARE_QUAD_DEPTH);
    const timer_overhead overhead = measure_timer_overhead(1000000);
    const bool progress = isatty(fileno(stderr));
    std::vector<method_result> results;
    for (std::size_t k = 0; k < opt.methods.size(); ++k) {
        progress_state ps;
        ps.label = "interp_compare: [" + std::to_string(k + 1) + "/" +
                   std::to_string(opt.methods.size()) + "] " + opt.methods[k]->name;
        results.push_back(run_method(*opt.methods[k], &curve, length, prof,
                                     progress ? show_progress : nullptr, &ps));
        if (progress) std::fprintf(stderr, "\r%*s\r", static_cast<int>(ps.label.size()) + 6, "");
    }

    double commanded = 0.0;
    for (double v : prof.v)
        commanded += v * COMPARE_PERIOD;
    std::printf("curve %s: length %.6f mm; profile %s: %zu samples at T = 250 us (%.5f s of "
                "motion), commanded length sum(v*T) = %.6f mm\n",
                opt.curve.c_str(), length, opt.profile.c_str(), prof.v.size(),
                static_cast<double>(prof.v.size()) * COMPARE_PERIOD, commanded);
    std::printf("feed fluctuation |v*T - ds|/(v*T): ds = true step length (adaptive Simpson, "
                "1e-12, depth 30), steps with v >= 1 mm/s before the one reaching the end\n");
    std::printf("cycle time = curve evaluation at u + interpolator call, nearest-rank "
                "percentiles; timer overhead (back-to-back clock reads, %zu pairs): median "
                "%.0f ns, p99 %.0f ns, included in the times below, not subtracted\n\n",
                overhead.pairs, overhead.median_ns, overhead.p99_ns);
    std::fputs(format_summary(results).c_str(), stdout);

    if (!opt.csv.empty()) {
        std::FILE *f = std::fopen(csv.temp.c_str(), "w");
        if (!f) return fail(csv.temp + ": cannot write (" + std::strerror(errno) + ")");
        const bool ok = write_csv(f, prof, results);
        if (std::fclose(f) != 0 || !ok) return fail(opt.csv + ": write failed");
    }
    if (!opt.plot.empty() && !draw_plot(png, plot_data, prof, results, &error)) return fail(error);
    if (!opt.csv.empty() && !csv.commit(&error)) return fail(error);
    if (!opt.plot.empty() && !png.commit(&error)) return fail(error);

    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    std::printf("\nwall time of this run (loading, all methods, step lengths, statistics, "
                "outputs): %.2f s\n",
                wall);
    return 0;
}
