// Drawing with gnuplot: finding it, keeping a path from becoming a gnuplot command, and
// running a script that writes a PNG.
#pragma once

#include <memory>
#include <string>

#include "io/atomic_file.hpp"

namespace nurbs_interp {

// How to install gnuplot, for messages.
inline constexpr const char *GNUPLOT_INSTALL =
    "apt-get install -y gnuplot-nox, or scripts/ensure_deps.sh gnuplot-nox as root";

// Returns `s` as a gnuplot single-quoted string (an embedded quote doubled).
std::string gp_quote(const std::string &s);

// Returns the style of line k of a plot: a distinct colour and dash pattern each (ten colours,
// nine patterns), so that identical curves both show.
std::string gp_line_style(std::size_t k);

// Throws output_error when `path` (what `what` names, e.g. "--plot") holds a control
// character (a byte below 0x20, or 0x7f): gnuplot reads its script line by line, so a line
// feed in a path would end the quoted string and the rest would run as a command. Other
// characters are safe inside gnuplot's single quotes (an embedded quote doubled).
void refuse_unsafe_for_gnuplot(const std::string &path, const std::string &what);

// True when an executable `name` is on the PATH.
bool on_path(const char *name);

// Throws output_error ("<what> needs gnuplot, which is not installed (...)") unless gnuplot is
// on the PATH.
void require_gnuplot(const std::string &what);

// Runs gnuplot on `script`, which writes the PNG `png` (named `shown` in messages); throws
// output_error when gnuplot cannot start, fails (dies of a file-size limit too), or leaves an
// empty file.
void run_gnuplot(const std::string &script, const std::string &png, const std::string &shown);

// Returns the scratch file the plot data of the plot `png` is written to (never committed,
// removed after the plot): made by mkstemp as ".<name>.dat.tmp-XXXXXX" beside the image, or
// ".interp_compare_plot.dat.tmp-XXXXXX" in the temporary directory when the plot is written
// directly (a device or a FIFO, whose directory is no place for it); never a name known in
// advance, so never a file or link someone placed there.
std::unique_ptr<atomic_file> plot_data_file(const atomic_file &png);

// A plot's image and its data, created under temporary names before the run, so that a path
// that cannot be written is reported at once.
struct plot_files {
    std::unique_ptr<atomic_file> png, data;
};

// Opens the files of the plot `png` (an option `what` names, e.g. "--plot"); throws
// output_error when gnuplot is missing or a path it would be given (a link's target, the
// temporary directory) holds a control character.
plot_files open_plot_files(const std::string &png, const std::string &what);

} // namespace nurbs_interp
