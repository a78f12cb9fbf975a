#include "interp_compare/plot.hpp"

#include <algorithm> // count, min, max
#include <cerrno>
#include <cmath> // isnan
#include <cstdlib>
#include <cstring>    // strerror
#include <filesystem> // the temporary directory
#include <sys/stat.h> // size of the drawn image
#include <sys/wait.h> // pclose status
#include <unistd.h>   // access

#include "compare/run.hpp"
#include "io/format.hpp"

namespace nurbs_interp {

namespace {

// Returns `s` as a gnuplot single-quoted string.
std::string gp_quote(const std::string &s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

// Writes the plot data: per time window, its start, the feed there, and per method its largest
// relative error ('?' where none is positive). Returns per method the points written.
std::vector<std::size_t> write_plot_data(std::FILE *f, const feed_profile &prof,
                                         const std::vector<method_result> &res, std::size_t per) {
    const std::size_t n = prof.v.size();
    std::vector<std::size_t> plotted(res.size(), 0);
    {
        for (std::size_t w0 = 0; w0 < n; w0 += per) {
            double feed = 0; // the window's highest feed
            for (std::size_t i = w0; i < std::min(n, w0 + per); ++i)
                feed = std::max(feed, prof.v[i]);
            std::fprintf(f, "%.5f %.6g", static_cast<double>(w0) * COMPARE_PERIOD, feed);
            for (std::size_t k = 0; k < res.size(); ++k) {
                double m = 0; // log scale: only positive errors can be drawn
                for (std::size_t i = w0; i < std::min(n, w0 + per); ++i)
                    if (res[k].rel_err[i] > m) m = res[k].rel_err[i];
                if (m > 0) {
                    std::fprintf(f, " %.6e", m);
                    ++plotted[k];
                } else {
                    std::fputs(" ?", f);
                }
            }
            std::fputc('\n', f);
        }
    }
    return plotted;
}

// Returns the legend title of method k: failed methods marked, identical ones named.
std::string legend_title(const std::vector<method_result> &res, std::size_t k, bool drawn) {
    std::string t = res[k].name;
    if (res[k].failed) t += " (FAILED)";
    for (std::size_t e = 0; e < k; ++e) {
        const auto &a = res[e].rel_err, &b = res[k].rel_err;
        const bool same =
            std::equal(a.begin(), a.end(), b.begin(), b.end(), [](double x, double y) {
                return x == y || (std::isnan(x) && std::isnan(y));
            });
        if (same) {
            t += " (identical to " + res[e].name + ")";
            break;
        }
    }
    if (!drawn) t += " (nothing to draw)";
    return t;
}

// Returns the gnuplot script for the two panels.
std::string plot_script(const std::string &png, const std::string &data, const feed_profile &prof,
                        const std::vector<method_result> &res,
                        const std::vector<std::size_t> &plotted, std::size_t per) {
    static const char *const COLOURS[10] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                            "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};
    const double duration = static_cast<double>(prof.v.size()) * COMPARE_PERIOD;
    std::string s = "set datafile missing '?'\n"
                    "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) "
                    "{ set terminal pngcairo size 1280,900 } else "
                    "{ set terminal png size 1280,900 }\n";
    s += "set output " + gp_quote(png) + "\n";
    s += "set multiplot\nset lmargin at screen 0.08\nset rmargin at screen 0.72\n";
    if (duration > 0) s += "set xrange [0:" + fmt("%g", duration) + "]\n";
    s += "set size 1,0.68\nset origin 0,0.32\nset title " +
         gp_quote("relative feed error |v T - ds| / (v T) per step, maximum per " +
                  std::to_string(per) + "-sample window (" +
                  fmt("%g", static_cast<double>(per) * COMPARE_PERIOD * 1e3) +
                  " ms); steps with feed >= 1 mm/s") +
         " noenhanced\n";
    s += "set ylabel 'relative feed error [1]'\nset format x ''\nset logscale y\n"
         "set format y '1e%T'\nset grid\nset key outside right top noenhanced\n";
    if (std::count(plotted.begin(), plotted.end(), 0) == std::ptrdiff_t(plotted.size()))
        s += "set yrange [1e-16:1]\n"; // nothing positive to draw: keep the axes valid
    s += "plot ";
    for (std::size_t k = 0; k < res.size(); ++k)
        // A distinct colour and dash pattern each, so that identical curves both show.
        s += (k ? ", " : "") +
             (plotted[k] ? gp_quote(data) + " using 1:" + std::to_string(k + 3)
                         : std::string("NaN")) +
             " with lines lw 1.5 lc rgb '" + COLOURS[k % 10] + "' dt " + std::to_string(k % 9 + 1) +
             " title " + gp_quote(legend_title(res, k, plotted[k] > 0));
    if (res.empty()) s += "NaN notitle";
    s += "\nunset logscale y\nunset title\nset format x '%g'\nset format y '%g'\nset yrange [*:*]\n"
         "set size 1,0.3\nset origin 0,0.02\nset xlabel 'time [s]'\n"
         "set ylabel 'feed [mm/s]'\nset key outside right top\n";
    s += "plot " + gp_quote(data) +
         " using 1:2 with lines lc rgb 'black' title 'feed (window maximum)'\n";
    s += "unset multiplot\n";
    return s;
}

} // namespace

void refuse_unsafe_for_gnuplot(const std::string &path, const std::string &what) {
    const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; };
    const auto bad = std::find_if(path.begin(), path.end(), control);
    if (bad == path.end()) return;
    std::string shown; // the path on one line, control characters as \xNN
    char hex[8];
    for (char c : path) {
        std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
        shown += control(c) ? std::string(hex) : std::string(1, c);
    }
    std::snprintf(hex, sizeof hex, "0x%02x", static_cast<unsigned char>(*bad));
    throw output_error(what + " \"" + shown + "\": holds a control character (byte " + hex +
                       "); refused, gnuplot would read it as the end of a command");
}

void draw_plot(const std::string &png, const std::string &shown, atomic_file &data,
               const feed_profile &prof, const std::vector<method_result> &res) {
    refuse_unsafe_for_gnuplot(png, shown + ": the image");
    refuse_unsafe_for_gnuplot(data.temp_path(), shown + ": the plot data");
    for (const method_result &r : res)
        refuse_unsafe_for_gnuplot(r.name, shown + ": the title");
    if (!on_path("gnuplot"))
        throw output_error(shown + ": gnuplot is not installed (apt-get install -y gnuplot-nox, "
                                   "or scripts/ensure_deps.sh gnuplot-nox as root)");
    const std::size_t n = prof.v.size();
    const std::size_t windows = std::min<std::size_t>(n, 2000);
    const std::size_t per = windows ? (n + windows - 1) / windows : 1;
    const std::vector<std::size_t> plotted = write_plot_data(data.stream(), prof, res, per);
    if (std::fflush(data.stream()) != 0 || std::ferror(data.stream()))
        throw output_error(shown + ": cannot write the plot data to " + data.temp_path());
    const std::string script = plot_script(png, data.temp_path(), prof, res, plotted, per);
    std::FILE *gp = popen("gnuplot", "w");
    if (!gp) throw output_error(shown + ": cannot start gnuplot (" + std::strerror(errno) + ")");
    std::fputs(script.c_str(), gp);
    const int status = pclose(gp);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw output_error(shown + ": gnuplot failed to draw the plot");
    // A device or FIFO the plot is written to directly has no size to check.
    struct stat st {};
    if (stat(png.c_str(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_size == 0))
        throw output_error(shown + ": gnuplot produced no image");
}

std::string plot_data_path(const atomic_file &png) {
    if (png.kind() != output_kind::written_directly) return png.path() + ".dat";
    return (std::filesystem::temp_directory_path() / "interp_compare_plot.dat").string();
}

bool on_path(const char *name) {
    const char *path = std::getenv("PATH");
    if (!path) return false;
    const std::string dirs = path;
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

} // namespace nurbs_interp
