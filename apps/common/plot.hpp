// The comparison drawn with gnuplot: per method the relative feed error and the axis jerk over
// time, the feed, and a view of the path with the places where methods failed or erred most.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "common/gnuplot.hpp"
#include "compare/axis_motion.hpp"
#include "compare/run.hpp"
#include "io/atomic_file.hpp"

namespace nurbs_interp {

// The formats a plot is written in, told by the extension of its name.
enum class plot_format { png, svg, pdf };

// Returns the format of a plot named `path`: .png, .svg or .pdf (any case), PNG when the name
// has no extension (a device, a FIFO). Throws output_error naming `what` (e.g. "--plot") for
// another extension, or when the installed gnuplot cannot write the format (PDF needs its
// cairo terminal).
plot_format plot_format_of(const std::string &path, const std::string &what);

// What the plot draws beside the methods' results.
struct plot_extras {
    double period = COMPARE_PERIOD;      // s, when there is no result
    std::string title;                   // the run's settings (run_title), drawn at the top
    std::vector<double> planned_jerk;    // per sample, the planned largest axis jerk (empty: none)
    std::array<double, 3> jerk_limits{}; // the axes' jerk limits (0: none)
    std::vector<double> joint_times;     // s: when the commanded travel passes each joint
    // The path view: the curve sampled along its length, its joints and corners, and per
    // method where it FAILED and where its largest feed error began (NaN coordinates: none).
    std::vector<cart_point> path, joints, corners, failed_at, peak_at;
    bool three_d = false; // the curve leaves the plane z = 0: XY, XZ and YZ are drawn
};

// Draws the plot into the image file `image` (its final path `shown` named in messages and
// telling its format), with the plot data written to the (temporary, never committed) file
// `data`: at the top the run's settings; on the left three panels over time: per method the
// largest relative feed error per time window on a log scale (a colour of a colour-blind-safe
// palette and a dash pattern each, failed methods marked in the legend, methods with identical
// errors named as such), per method the largest axis jerk the positions reached imply (third
// differences over T) with the planned one and the axes' jerk limits, and the feed; every range
// padded so that the extremes lie inside the frame; the joints marked (where the curve has
// any). On the right the legends and the path (XY; XZ and YZ too for a 3D curve) with its joints
// and corners and the methods' failures and largest errors. Needs gnuplot; throws output_error
// when it is missing or fails, or (before gnuplot starts) when a path or title holds a control
// character.
void draw_plot(const std::string &image, const std::string &shown, atomic_file &data,
               const feed_profile &prof, const std::vector<method_result> &res,
               const plot_extras &extras);

// Returns what the plot of a run of `prof` draws beside the methods' results `res` under
// `setup`: the title, the planned largest axis jerk (`planned`), the axes' jerk limits, the
// joints, and the path view along `arc`.
plot_extras plot_extras_for(const feed_profile &prof, const compare_setup &setup,
                            const arc_table &arc, const std::vector<method_result> &res,
                            const std::string &title, const planned_axis_motion &planned);

// Draws the plot into `files` (see draw_plot) and commits the image.
void draw_plot_files(plot_files &files, const feed_profile &prof,
                     const std::vector<method_result> &res, const plot_extras &extras);

} // namespace nurbs_interp
