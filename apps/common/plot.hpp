// The comparison drawn with gnuplot: per method the relative feed error and the axis jerk over
// time, and the feed.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "common/gnuplot.hpp"
#include "compare/run.hpp"
#include "io/atomic_file.hpp"

namespace nurbs_interp {

// What the plot draws beside the methods' results.
struct plot_extras {
    double period = COMPARE_PERIOD;      // s, when there is no result
    std::vector<double> planned_jerk;    // per sample, the planned largest axis jerk (empty: none)
    std::array<double, 3> jerk_limits{}; // the axes' jerk limits (0: none)
    std::vector<double> joint_times;     // s: when the commanded travel passes each joint
};

// Draws the plot into the PNG file `png` (its final path `shown` named in messages), with the
// plot data written to the (temporary, never committed) file `data`, in three panels over time:
// per method the largest relative feed error per time window on a log scale (a distinct colour
// and dash pattern each, failed methods marked in the legend, methods with identical errors
// named as such); per method the largest axis jerk the positions reached imply (third
// differences over T), with the planned one (compute_axial_vaj along the profile) and the axes'
// jerk limits drawn; and the feed. The joints are marked in every panel. Needs gnuplot; throws
// output_error when it is missing or fails, or (before gnuplot starts) when a path or title
// holds a control character.
void draw_plot(const std::string &png, const std::string &shown, atomic_file &data,
               const feed_profile &prof, const std::vector<method_result> &res,
               const plot_extras &extras);

// Returns what the plot of a run of `prof` draws beside the methods' results under `setup`: the
// planned largest axis jerk along `arc` (axis_motion), the axes' jerk limits, the joints.
plot_extras plot_extras_for(const feed_profile &prof, const compare_setup &setup,
                            const arc_table &arc);

// Draws the plot into `files` (see draw_plot) and commits the image.
void draw_plot_files(plot_files &files, const feed_profile &prof,
                     const std::vector<method_result> &res, const plot_extras &extras);

} // namespace nurbs_interp
