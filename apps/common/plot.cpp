#include "common/plot.hpp"

#include <algorithm> // count, min, max
#include <cmath>     // isnan

#include "common/gnuplot.hpp"
#include "compare/axis_motion.hpp"
#include "compare/joint_step.hpp"
#include "compare/run.hpp"
#include "io/format.hpp"

namespace nurbs_interp {

namespace {

// What a plot is drawn from.
struct plot_frame {
    const feed_profile &prof;
    const std::vector<method_result> &res;
    const plot_extras &extras;
    std::size_t per; // samples per window
    double T;
};

// Returns the largest value of `values` over [w0, w1) (0 where none is positive or they are
// NaN: a log scale can only draw positive values).
double window_max(const std::vector<double> &values, std::size_t w0, std::size_t w1) {
    double m = 0;
    for (std::size_t i = w0; i < std::min(values.size(), w1); ++i)
        if (values[i] > m) m = values[i];
    return m;
}

// Writes the plot data: per time window its start and the feed there; per method its largest
// relative error; per method its largest axis jerk; the planned axis jerk ('?' where nothing
// positive). Returns per data column (from the third) the points written.
std::vector<std::size_t> write_plot_data(std::FILE *f, const plot_frame &p) {
    const std::size_t n = p.prof.v.size(), m = p.res.size();
    std::vector<std::size_t> plotted(2 * m + 1, 0);
    for (std::size_t w0 = 0; w0 < n; w0 += p.per) {
        const std::size_t w1 = std::min(n, w0 + p.per);
        std::fprintf(f, "%.5f %.6g", static_cast<double>(w0) * p.T, window_max(p.prof.v, w0, w1));
        for (std::size_t c = 0; c < 2 * m + 1; ++c) {
            const std::vector<double> &column = c < m       ? p.res[c].rel_err
                                                : c < 2 * m ? p.res[c - m].axis_jerk
                                                            : p.extras.planned_jerk;
            const double top = window_max(column, w0, w1);
            if (top > 0)
                std::fprintf(f, " %.6e", top);
            else
                std::fputs(" ?", f);
            plotted[c] += top > 0;
        }
        std::fputc('\n', f);
    }
    return plotted;
}

// Returns the plot of data column c (from the third), or NaN when it has nothing to draw.
std::string column(const std::string &data, const std::vector<std::size_t> &plotted,
                   std::size_t c) {
    return plotted[c] ? gp_quote(data) + " using 1:" + std::to_string(c + 3) : "NaN";
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

// Returns the commands that mark the joints (vertical dotted lines).
std::string joint_marks(const plot_frame &p) {
    std::string s = "unset arrow\n";
    for (double t : p.extras.joint_times)
        s += "set arrow from " + fmt("%.6g", t) + ", graph 0 to " + fmt("%.6g", t) +
             ", graph 1 nohead dt 3 lc rgb '#999999'\n";
    return s;
}

// Returns the panel of the relative feed errors.
std::string error_panel(const std::string &data, const plot_frame &p,
                        const std::vector<std::size_t> &plotted) {
    std::string s =
        "set size 1,0.45\nset origin 0,0.53\nset title " +
        gp_quote("relative feed error |v T - ds| / (v T) per step, maximum per " +
                 std::to_string(p.per) + "-sample window (" + fmt("%g", double(p.per) * p.T * 1e3) +
                 " ms); steps with feed >= 1 mm/s; dotted: joints") +
        " noenhanced\n";
    s += "set ylabel 'relative feed error [1]'\nset format x ''\nset logscale y\n"
         "set format y '1e%T'\nset grid\nset key outside right top noenhanced\n" +
         joint_marks(p);
    if (std::count(plotted.begin(), plotted.begin() + std::ptrdiff_t(p.res.size()), 0) ==
        std::ptrdiff_t(p.res.size()))
        s += "set yrange [1e-16:1]\n"; // nothing positive to draw: keep the axes valid
    s += "plot ";
    for (std::size_t k = 0; k < p.res.size(); ++k)
        s += (k ? ", " : "") + column(data, plotted, k) + gp_line_style(k) + " title " +
             gp_quote(legend_title(p.res, k, plotted[k] > 0));
    if (p.res.empty()) s += "NaN notitle";
    return s + "\n";
}

// Returns the panel of the axis jerk: per method, the planned one, the limits.
std::string jerk_panel(const std::string &data, const plot_frame &p,
                       const std::vector<std::size_t> &plotted) {
    const std::size_t n = p.res.size();
    std::string s = "set yrange [*:*]\nset size 1,0.27\nset origin 0,0.27\nset title " +
                    gp_quote("largest axis jerk, maximum per window: third differences of the "
                             "positions reached over T; black: planned; red: limits") +
                    " noenhanced\nset ylabel 'axis jerk [mm/s^3]'\n";
    if (std::count(plotted.begin() + std::ptrdiff_t(n), plotted.end(), 0) == std::ptrdiff_t(n + 1))
        s += "set yrange [1:1e12]\n"; // nothing positive to draw: keep the axes valid
    s += "plot ";
    for (std::size_t k = 0; k < n; ++k)
        s += column(data, plotted, n + k) + gp_line_style(k) + " notitle, ";
    s += column(data, plotted, 2 * n) + " with lines lw 2 lc rgb 'black' title 'planned'";
    for (int a = 0; a < 3; ++a)
        if (p.extras.jerk_limits[a] > 0)
            s += ", " + fmt("%.9g", p.extras.jerk_limits[a]) +
                 " with lines lw 1 dt 2 lc rgb 'red' title " +
                 gp_quote(std::string("XYZ").substr(a, 1) + " limit");
    return s + "\n";
}

// Returns the gnuplot script for the three panels.
std::string plot_script(const std::string &png, const std::string &data, const plot_frame &p,
                        const std::vector<std::size_t> &plotted) {
    const double duration = static_cast<double>(p.prof.v.size()) * p.T;
    std::string s = "set datafile missing '?'\n"
                    "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) "
                    "{ set terminal pngcairo size 1280,1100 } else "
                    "{ set terminal png size 1280,1100 }\n";
    s += "set output " + gp_quote(png) + "\n";
    s += "set multiplot\nset lmargin at screen 0.08\nset rmargin at screen 0.72\n";
    if (duration > 0) s += "set xrange [0:" + fmt("%g", duration) + "]\n";
    s += error_panel(data, p, plotted) + jerk_panel(data, p, plotted);
    s += "unset logscale y\nunset title\nset format x '%g'\nset format y '%g'\nset yrange [*:*]\n"
         "set size 1,0.25\nset origin 0,0.02\nset xlabel 'time [s]'\n"
         "set ylabel 'feed [mm/s]'\nset key outside right top\n";
    s += "plot " + gp_quote(data) +
         " using 1:2 with lines lc rgb 'black' title 'feed (window maximum)'\n";
    s += "unset multiplot\n";
    return s;
}

} // namespace

void draw_plot(const std::string &png, const std::string &shown, atomic_file &data,
               const feed_profile &prof, const std::vector<method_result> &res,
               const plot_extras &extras) {
    refuse_unsafe_for_gnuplot(png, shown + ": the image");
    refuse_unsafe_for_gnuplot(data.temp_path(), shown + ": the plot data");
    for (const method_result &r : res)
        refuse_unsafe_for_gnuplot(r.name, shown + ": the title");
    require_gnuplot(shown);
    const std::size_t n = prof.v.size();
    const std::size_t windows = std::min<std::size_t>(n, 2000);
    const std::size_t per = windows ? (n + windows - 1) / windows : 1;
    const plot_frame frame{prof, res, extras, per, res.empty() ? extras.period : res[0].period};
    const std::vector<std::size_t> plotted = write_plot_data(data.stream(), frame);
    if (std::fflush(data.stream()) != 0 || std::ferror(data.stream()))
        throw output_error(shown + ": cannot write the plot data to " + data.temp_path());
    run_gnuplot(plot_script(png, data.temp_path(), frame, plotted), png, shown);
}

plot_extras plot_extras_for(const feed_profile &prof, const compare_setup &setup,
                            const arc_table &arc) {
    plot_extras extras;
    extras.period = setup.period;
    extras.planned_jerk = plan_axis_motion(prof, arc, setup.period, setup.limits).jerk;
    if (setup.limits) extras.jerk_limits = setup.limits->jerk;
    extras.joint_times = joint_times(prof, setup.joints, setup.period);
    return extras;
}

void draw_plot_files(plot_files &files, const feed_profile &prof,
                     const std::vector<method_result> &res, const plot_extras &extras) {
    draw_plot(files.png->temp_path(), files.png->path(), *files.data, prof, res, extras);
    files.png->commit();
}

} // namespace nurbs_interp
