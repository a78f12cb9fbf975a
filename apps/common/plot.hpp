// The comparison drawn with gnuplot: the relative feed error per method over time and the feed,
// and the checks that keep a path from becoming a gnuplot command.
#pragma once

#include <array>
#include <string>
#include <vector>

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

// Throws output_error when `path` (what `what` names, e.g. "--plot") holds a control
// character (a byte below 0x20, or 0x7f): gnuplot reads its script line by line, so a line
// feed in a path would end the quoted string and the rest would run as a command. Other
// characters are safe inside gnuplot's single quotes (an embedded quote doubled).
void refuse_unsafe_for_gnuplot(const std::string &path, const std::string &what);

// Returns where the plot data of the plot `png` is written (never committed, removed after
// the plot): "<png>.dat" beside it, or in the temporary directory when the plot is written
// directly (a device or a FIFO, whose directory is no place for it).
std::string plot_data_path(const atomic_file &png);

// True when an executable `name` is on the PATH.
bool on_path(const char *name);

} // namespace nurbs_interp
