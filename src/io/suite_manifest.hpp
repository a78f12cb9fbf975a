// The comparison suite's manifest (interp_suite): one line per curve,
//
//   <curve file> <profile> [<profile> ...]
//
// paths relative to the manifest's directory, separated by blanks; a path holding blanks is
// written in double quotes ("my curve.nurbs", no quote inside one); '#' outside quotes starts
// a comment. The whole manifest is read and every file it names checked before the suite runs.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace nurbs_interp {

// A manifest that cannot be used; the message names the manifest and the line.
struct manifest_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The longest manifest line read; a longer one is refused, never split.
inline constexpr std::size_t MANIFEST_MAX_LINE = 4096;

// One curve of the suite with its profiles: the paths to open, and the names the summary and
// the plots give them. A curve's name is its file name, or its path relative to the manifest's
// directory where another curve of the manifest has the same file name (profiles alike); a
// plot is named "<curve>__<profile>.png" from those names without their extensions, with '/'
// and every character but letters, digits, '.', '_', '+' and '-' made '_' (".." made "up").
struct suite_entry {
    unsigned line = 0; // of the manifest
    std::string curve; // the path to open
    std::string curve_name;
    std::vector<std::string> profiles; // the paths to open
    std::vector<std::string> profile_names;
    std::vector<std::string> plot_names; // one per profile
    std::vector<std::string> split_plot_names; // of the runs split at joints: "<plot>__split.png"
};

// Returns the entries of the manifest at `path`, read whole and checked: every line parsed,
// every curve and profile it names existing and readable, no two plots of the same name (split
// plots included).
// Throws manifest_error "<path>:<line>: <what>" (a curve without a profile, an unclosed quote,
// a line longer than MANIFEST_MAX_LINE, a file that cannot be read, ...) or "<path>: ...".
std::vector<suite_entry> read_suite_manifest(const std::string &path);

// Returns every file the suite reads: the manifest `path`, then each curve and profile.
std::vector<std::string> suite_inputs(const std::string &path,
                                      const std::vector<suite_entry> &entries);

// Returns the names of the files a run of the suite writes into its output directory:
// summary.csv, summary.md and, with `plots`, every plot (split plots included).
std::vector<std::string> suite_outputs(const std::vector<suite_entry> &entries, bool plots);

} // namespace nurbs_interp
