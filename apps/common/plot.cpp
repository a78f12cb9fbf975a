#include "common/plot.hpp"

#include <algorithm> // count, min, max
#include <cctype>    // tolower
#include <cerrno>
#include <cmath> // isnan
#include <cstring>

#include "common/gnuplot.hpp"
#include "compare/axis_motion.hpp"
#include "compare/joint_step.hpp"
#include "compare/run.hpp"
#include "io/format.hpp"
#include "plan/joints.hpp"

namespace nurbs_interp {

namespace {

const double NaN = std::nan("");

// The methods' colours: Paul Tol's "muted" qualitative scheme, nine colours that stay distinct
// under the common colour-vision deficiencies; each method also has its own dash pattern, so
// that the lines tell the methods apart in grey print too.
const char *const COLOURS[9] = {"#332288", "#CC6677", "#88CCEE", "#117733", "#DDCC77",
                                "#882255", "#44AA99", "#999933", "#AA4499"};
const char *const DASHES[9] = {"solid",  "(10,5)",         "(2,4)",         "(10,4,2,4)", "(5,5)",
                               "(16,6)", "(10,4,2,4,2,4)", "(2,4,2,4,8,4)", "(20,4,4,4)"};

// Returns the colour of method k.
const char *method_colour(std::size_t k) {
    return COLOURS[k % 9];
}

// Returns the line style of method k: beyond the ninth (loaded methods) the colours come round
// again with the dash patterns shifted, so that no two of the first 81 share both.
std::string method_style(std::size_t k) {
    return " with lines lw 2 lc rgb '" + std::string(method_colour(k)) + "' dt " +
           DASHES[(k + k / 9) % 9];
}

// The sizes of the image: pixels for PNG and SVG, inches for PDF.
constexpr int WIDTH_PX = 1600, HEIGHT_PX = 1200;

// The windows the samples are drawn in (the largest value per window), and the most of them.
constexpr std::size_t MAX_WINDOWS = 2000;

// Where the left panels end and the right column (legends, path) begins, as a share of the width.
constexpr double LEFT_END = 0.62, RIGHT_START = 0.65;

// What a plot is drawn from.
struct plot_frame {
    const feed_profile &prof;
    const std::vector<method_result> &res;
    const plot_extras &extras;
    std::size_t per; // samples per window
    double T;
};

// The extremes of what the panels draw, for their ranges (NaN: nothing positive).
struct panel_extremes {
    double err_min = NaN, err_max = NaN, jerk_min = NaN, jerk_max = NaN, feed_max = 0;
};

void widen(double &lo, double &hi, double x) {
    if (!(x > 0)) return;
    lo = std::isnan(lo) ? x : std::min(lo, x);
    hi = std::isnan(hi) ? x : std::max(hi, x);
}

// Returns the largest value of `values` over [w0, w1) (0 where none is positive or they are
// NaN: a log scale can only draw positive values).
double window_max(const std::vector<double> &values, std::size_t w0, std::size_t w1) {
    double m = 0;
    for (std::size_t i = w0; i < std::min(values.size(), w1); ++i)
        if (values[i] > m) m = values[i];
    return m;
}

// What the data file holds: per data column of the time block (from the third) the points
// written, the blocks of the path view (their index in the file, -1: none), the extremes.
struct plot_data {
    std::vector<std::size_t> plotted;
    int path = -1, joints = -1, corners = -1;
    std::vector<int> failed, peak; // per method
    panel_extremes ext;
};

// Writes one block of points (x y z per line) after the blocks before it; returns its index,
// or -1 (nothing written) when none of the points is finite.
int write_points(std::FILE *f, const std::vector<cart_point> &pts, int &blocks) {
    bool any = false;
    for (const cart_point &p : pts)
        any = any || std::isfinite(p.x + p.y + p.z);
    if (!any) return -1;
    std::fputs("\n\n", f);
    for (const cart_point &p : pts)
        if (std::isfinite(p.x + p.y + p.z)) std::fprintf(f, "%.9g %.9g %.9g\n", p.x, p.y, p.z);
    return blocks++;
}

// Writes the plot data: the time block (per window its start and the feed there; per method
// its largest relative error; per method its largest axis jerk; the planned axis jerk; '?'
// where nothing positive), then the blocks of the path view. Returns what it wrote.
plot_data write_plot_data(std::FILE *f, const plot_frame &p) {
    const std::size_t n = p.prof.v.size(), m = p.res.size();
    plot_data d;
    d.plotted.assign(2 * m + 1, 0);
    for (std::size_t w0 = 0; w0 < n; w0 += p.per) {
        const std::size_t w1 = std::min(n, w0 + p.per);
        const double feed = window_max(p.prof.v, w0, w1);
        d.ext.feed_max = std::max(d.ext.feed_max, feed);
        std::fprintf(f, "%.12g %.9g", static_cast<double>(w0) * p.T, feed);
        for (std::size_t c = 0; c < 2 * m + 1; ++c) {
            const std::vector<double> &column = c < m       ? p.res[c].rel_err
                                                : c < 2 * m ? p.res[c - m].axis_jerk
                                                            : p.extras.planned_jerk;
            const double top = window_max(column, w0, w1);
            if (top > 0)
                std::fprintf(f, " %.6e", top);
            else
                std::fputs(" ?", f);
            d.plotted[c] += top > 0;
            if (c < m)
                widen(d.ext.err_min, d.ext.err_max, top);
            else
                widen(d.ext.jerk_min, d.ext.jerk_max, top);
        }
        std::fputc('\n', f);
    }
    for (double limit : p.extras.jerk_limits)
        widen(d.ext.jerk_min, d.ext.jerk_max, limit);
    int blocks = 1;
    d.path = write_points(f, p.extras.path, blocks);
    d.joints = write_points(f, p.extras.joints, blocks);
    d.corners = write_points(f, p.extras.corners, blocks);
    for (std::size_t k = 0; k < m; ++k) {
        d.failed.push_back(
            k < p.extras.failed_at.size() ? write_points(f, {p.extras.failed_at[k]}, blocks) : -1);
        d.peak.push_back(
            k < p.extras.peak_at.size() ? write_points(f, {p.extras.peak_at[k]}, blocks) : -1);
    }
    return d;
}

// Returns the range [lo/pad, hi*pad] of a log axis over values from lo to hi (`none` when
// there are none), so that the extremes lie inside the frame.
std::string log_range(double lo, double hi, const char *none) {
    if (std::isnan(lo)) return none;
    return "[" + fmt("%.6g", lo / 2) + ":" + fmt("%.6g", hi * 2) + "]";
}

// Returns the plot of data column c (from the third) of the time block, or NaN when it has
// nothing to draw.
std::string column(const std::string &data, const std::vector<std::size_t> &plotted,
                   std::size_t c) {
    return plotted[c] ? gp_quote(data) + " index 0 using 1:" + std::to_string(c + 3) : "NaN";
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
        s += "set arrow from " + fmt("%.9g", t) + ", graph 0 to " + fmt("%.9g", t) +
             ", graph 1 nohead dt 3 lc rgb '#999999'\n";
    return s;
}

// Returns the lines of `text`, each at most `width` characters where its words allow.
std::vector<std::string> title_lines(const std::string &text, std::size_t width) {
    std::vector<std::string> lines(1);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find(' ', pos), text.size());
        const std::string word = text.substr(pos, end - pos);
        pos = end + 1;
        if (!lines.back().empty() && lines.back().size() + 1 + word.size() > width)
            lines.emplace_back();
        lines.back() += (lines.back().empty() ? "" : " ") + word;
    }
    return lines;
}

// Returns the commands that write the run's settings at the top, in as many lines as they need.
std::string title_labels(const std::string &title) {
    std::string s;
    double y = 0.988;
    int k = 1;
    for (const std::string &line : title_lines(title, 150)) {
        s += "set label " + std::to_string(k++) + " " + gp_quote(line) + " at screen 0.5," +
             fmt("%.3f", y) + " center front noenhanced\n";
        y -= 0.018;
    }
    return s;
}

// Returns the panel of the relative feed errors.
std::string error_panel(const std::string &data, const plot_frame &p, const plot_data &d) {
    const std::string per =
        std::to_string(p.per) + "-sample window (" + fmt("%g", double(p.per) * p.T * 1e3) + " ms)";
    std::string s = "set size 1,0.37\nset origin 0,0.56\nset title " +
                    gp_quote("relative feed error |v T - ds| / (v T), largest per " + per +
                             "; steps with feed >= 1 mm/s" +
                             (p.extras.joint_times.empty() ? "" : "; dotted: joints")) +
                    " noenhanced\n";
    s += "set ylabel 'relative feed error [1]'\nset format x ''\nset logscale y\n"
         "set format y '1e%T'\nset grid\nset key at screen " +
         fmt("%.2f", RIGHT_START) + ",0.93 left top Left reverse noenhanced samplen 4\n" +
         joint_marks(p);
    s += "set yrange " + log_range(d.ext.err_min, d.ext.err_max, "[1e-16:1]") + "\nplot ";
    for (std::size_t k = 0; k < p.res.size(); ++k)
        s += (k ? ", " : "") + column(data, d.plotted, k) + method_style(k) + " title " +
             gp_quote(legend_title(p.res, k, d.plotted[k] > 0));
    if (p.res.empty()) s += "NaN notitle";
    return s + "\n";
}

// Returns the panel of the axis jerk: per method, the planned one, the limits.
std::string jerk_panel(const std::string &data, const plot_frame &p, const plot_data &d) {
    const std::size_t n = p.res.size();
    const bool limits =
        std::count(p.extras.jerk_limits.begin(), p.extras.jerk_limits.end(), 0.0) < 3;
    std::string s = "set size 1,0.26\nset origin 0,0.30\nset title " +
                    gp_quote(std::string("largest axis jerk per window: third differences of the "
                                         "positions reached over T (the methods' lines); black: "
                                         "planned") +
                             (limits ? "; grey: the axes' limits" : "")) +
                    " noenhanced\nset ylabel 'axis jerk [mm/s^3]'\nset key at screen " +
                    fmt("%.2f", RIGHT_START) + ",0.72 left top Left reverse samplen 4\n";
    s += "set yrange " + log_range(d.ext.jerk_min, d.ext.jerk_max, "[1:1e12]") + "\nplot ";
    for (std::size_t k = 0; k < n; ++k)
        s += column(data, d.plotted, n + k) + method_style(k) + " notitle, ";
    s += column(data, d.plotted, 2 * n) +
         " with lines lw 2.5 lc rgb 'black' title 'planned axis jerk (compute_axial_vaj)'";
    const char *const dash[3] = {"(12,4,2,4)", "(6,4)", "(2,3)"};
    for (int a = 0; a < 3; ++a)
        if (p.extras.jerk_limits[a] > 0)
            s += ", " + fmt("%.9g", p.extras.jerk_limits[a]) +
                 " with lines lw 2 lc rgb '#555555' dt " + dash[a] + " title " +
                 gp_quote(std::string(AXIS_NAMES[a]) + " jerk limit");
    return s + "\n";
}

// Returns the panel of the feed.
std::string feed_panel(const std::string &data, const plot_data &d) {
    const double top = d.ext.feed_max > 0 ? d.ext.feed_max * 1.08 : 1.0;
    return "unset logscale y\nset title 'feed (largest per window)'\nset format x '%g'\n"
           "set format y '%g'\nset yrange [0:" +
           fmt("%.6g", top) +
           "]\nset size 1,0.27\nset origin 0,0.02\nset xlabel 'time [s]'\n"
           "set ylabel 'feed [mm/s]'\nunset key\nplot " +
           gp_quote(data) + " index 0 using 1:2 with lines lw 1.5 lc rgb 'black' notitle\n";
}

// Returns one view of the path: coordinates a and b (1: x, 2: y, 3: z) of the curve, its
// joints and corners, and the methods' failures and largest errors; the legend under the first.
std::string path_view(const std::string &data, const plot_frame &p, const plot_data &d, int a,
                      int b, double y0, double h, bool first) {
    const char *const axis = "xyz";
    const std::string use = " using " + std::to_string(a) + ":" + std::to_string(b);
    std::string s = "set origin " + fmt("%.2f", RIGHT_START - 0.02) + "," + fmt("%.3f", y0) +
                    "\nset size " + fmt("%.2f", 1 - RIGHT_START + 0.02) + "," + fmt("%.3f", h) +
                    "\nset title " +
                    gp_quote(std::string("path, ") + char(std::toupper(axis[a - 1])) +
                             char(std::toupper(axis[b - 1])) + " [mm]") +
                    "\nset xlabel '" + axis[a - 1] + "'\nset ylabel '" + axis[b - 1] + "'\n";
    s += first ? "set key below horizontal Left reverse samplen 1\n" : "unset key\n";
    s += "plot " + (d.path >= 0 ? gp_quote(data) + " index " + std::to_string(d.path) + use +
                                      " with lines lw 1.5 lc rgb '#777777' title 'curve'"
                                : std::string("NaN notitle"));
    if (d.joints >= 0)
        s += ", " + gp_quote(data) + " index " + std::to_string(d.joints) + use +
             " with points pt 6 ps 1.2 lc rgb '#777777' title 'joints'";
    if (d.corners >= 0)
        s += ", " + gp_quote(data) + " index " + std::to_string(d.corners) + use +
             " with points pt 8 ps 1.6 lc rgb 'black' title 'corners'";
    bool failed = false, peak = false;
    for (std::size_t k = 0; k < p.res.size(); ++k) {
        const std::string colour = " lc rgb '" + std::string(method_colour(k)) + "'";
        if (d.failed[k] >= 0) {
            s += ", " + gp_quote(data) + " index " + std::to_string(d.failed[k]) + use +
                 " with points pt 2 ps 2.5 lw 2" + colour + " notitle";
            failed = true;
        }
        if (d.peak[k] >= 0) {
            s += ", " + gp_quote(data) + " index " + std::to_string(d.peak[k]) + use +
                 " with points pt 1 ps 2" + colour + " notitle";
            peak = true;
        }
    }
    if (failed) s += ", NaN with points pt 2 ps 2.5 lw 2 lc rgb 'black' title 'FAILED here'";
    if (peak) s += ", NaN with points pt 1 ps 2 lc rgb 'black' title 'largest feed error'";
    return s + "\n";
}

// Returns the commands that choose the terminal of `format`.
std::string terminal(plot_format format) {
    const std::string px = std::to_string(WIDTH_PX) + "," + std::to_string(HEIGHT_PX);
    switch (format) {
    case plot_format::svg:
        return "set terminal svg size " + px + " font 'Sans,10' background '#ffffff'\n";
    case plot_format::pdf:
        return "set terminal pdfcairo size " + fmt("%g", WIDTH_PX / 100.0) + "in," +
               fmt("%g", HEIGHT_PX / 100.0) + "in font 'Sans,10'\n";
    case plot_format::png:
        break;
    }
    return "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) { set terminal pngcairo size " + px +
           " font 'Sans,10' } else { set terminal png size " + px + " }\n";
}

// Returns the gnuplot script of the whole plot.
std::string plot_script(const std::string &image, plot_format format, const std::string &data,
                        const plot_frame &p, const plot_data &d) {
    const std::size_t n = p.prof.v.size();
    const double duration = n > 1 ? double(n - 1) * p.T : p.T;
    std::string s = "set datafile missing '?'\n" + terminal(format);
    s += "set output " + gp_quote(image) + "\nset termoption noenhanced\nset multiplot\n";
    s += title_labels(p.extras.title);
    s += "set lmargin at screen 0.07\nset rmargin at screen " + fmt("%.2f", LEFT_END) + "\n";
    s +=
        "set xrange [" + fmt("%.9g", -0.01 * duration) + ":" + fmt("%.9g", 1.01 * duration) + "]\n";
    s += error_panel(data, p, d) + "unset label\n" + jerk_panel(data, p, d) + feed_panel(data, d);
    // The path view in the right column, below the legends; equal scales on both axes.
    s += "unset arrow\nunset lmargin\nunset rmargin\nunset logscale\nset autoscale xy\n"
         "set format x '%g'\nset format y '%g'\nset size ratio -1\nset grid\n";
    if (p.extras.three_d)
        s += path_view(data, p, d, 1, 2, 0.40, 0.25, true) +
             path_view(data, p, d, 1, 3, 0.21, 0.19, false) +
             path_view(data, p, d, 2, 3, 0.02, 0.19, false);
    else
        s += path_view(data, p, d, 1, 2, 0.02, 0.60, true);
    return s + "unset multiplot\n";
}

// Returns the terminals the installed gnuplot offers ("" when it cannot be asked).
std::string gnuplot_terminals() {
    std::FILE *gp = popen("gnuplot -e \"print GPVAL_TERMINALS\" 2>&1", "r");
    if (!gp) return "";
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, gp))
        out += buf;
    pclose(gp);
    return out;
}

// Returns the extension of `path`'s file name in lower case ("" when it has none).
std::string extension(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        return "";
    std::string ext = path.substr(dot + 1);
    for (char &c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

} // namespace

plot_format plot_format_of(const std::string &path, const std::string &what) {
    const std::string ext = extension(path);
    if (ext.empty() || ext == "png") return plot_format::png;
    if (ext == "svg") return plot_format::svg;
    if (ext != "pdf")
        throw output_error(what + " " + path +
                           ": a plot is written as PNG (.png), SVG (.svg) or "
                           "PDF (.pdf), told by the name's extension; ." +
                           ext + " is none of them");
    if (gnuplot_terminals().find("pdfcairo") == std::string::npos)
        throw output_error(what + " " + path +
                           ": the installed gnuplot has no PDF terminal "
                           "(pdfcairo); write .png or .svg, or install "
                           "gnuplot with cairo (" +
                           GNUPLOT_INSTALL + ")");
    return plot_format::pdf;
}

void draw_plot(const std::string &image, const std::string &shown, atomic_file &data,
               const feed_profile &prof, const std::vector<method_result> &res,
               const plot_extras &extras) {
    refuse_unsafe_for_gnuplot(image, shown + ": the image");
    refuse_unsafe_for_gnuplot(data.temp_path(), shown + ": the plot data");
    refuse_unsafe_for_gnuplot(extras.title, shown + ": the title");
    for (const method_result &r : res)
        refuse_unsafe_for_gnuplot(r.name, shown + ": the title");
    require_gnuplot(shown);
    const plot_format format = plot_format_of(shown, shown);
    const std::size_t n = prof.v.size();
    const std::size_t windows = std::min<std::size_t>(n, MAX_WINDOWS);
    const std::size_t per = windows ? (n + windows - 1) / windows : 1;
    const plot_frame frame{prof, res, extras, per, res.empty() ? extras.period : res[0].period};
    const plot_data d = write_plot_data(data.stream(), frame);
    if (std::fflush(data.stream()) != 0 || std::ferror(data.stream()))
        throw output_error(shown + ": cannot write the plot data to " + data.temp_path());
    run_gnuplot(plot_script(image, format, data.temp_path(), frame, d), image, shown);
}

plot_extras plot_extras_for(const feed_profile &prof, const compare_setup &setup,
                            const arc_table &arc, const std::vector<method_result> &res,
                            const std::string &title, const planned_axis_motion &planned) {
    plot_extras extras;
    extras.period = setup.period;
    extras.title = title;
    extras.planned_jerk = planned.jerk;
    if (setup.limits) extras.jerk_limits = setup.limits->jerk;
    extras.joint_times = joint_times(prof, setup.joints, setup.period);
    nurbs_curve *curve = arc.curve;
    const auto at = [curve](double u) {
        cart_point P{NaN, NaN, NaN};
        if (std::isfinite(u))
            nurbs_deBoor_eval(std::clamp(u, 0.0, 1.0), -1, curve, &P, nullptr, nullptr, nullptr);
        return P;
    };
    // The curve at equal steps of arc length, enough for its sharpest bends to show.
    const std::size_t points = 4000;
    const double length = arc_table_length(arc);
    for (std::size_t k = 0; k < points; ++k)
        extras.path.push_back(at(arc_param_at(arc, length * double(k) / double(points - 1))));
    for (double u : setup.joints.u)
        extras.joints.push_back(at(u));
    for (double u : curve_corners(curve))
        extras.corners.push_back(at(u));
    for (const method_result &r : res) {
        extras.failed_at.push_back(r.failed && r.steps > 0 ? at(r.end_u)
                                                           : cart_point{NaN, NaN, NaN});
        extras.peak_at.push_back(at(r.fluct_max_u));
    }
    for (const cart_point &p : extras.path)
        extras.three_d = extras.three_d || p.z != 0;
    return extras;
}

void draw_plot_files(plot_files &files, const feed_profile &prof,
                     const std::vector<method_result> &res, const plot_extras &extras) {
    draw_plot(files.png->temp_path(), files.png->path(), *files.data, prof, res, extras);
    files.png->commit();
}

} // namespace nurbs_interp
