// What every tool shares: its command line (CLI11), its exit statuses, and the turning of a
// failure into one line "<tool>: <what is wrong>" on standard error.
#pragma once

#include <CLI/CLI.hpp> // the argument parser of every tool
#include <functional>
#include <stdexcept>
#include <string>

#include "core/nurbs.hpp" // nurbs_curve

namespace nurbs_interp {

// Exit statuses of the tools (nurbs_bench has its own: 0, or 255 for -1).
inline constexpr int EXIT_DONE = 0;   // the work is done (a method failing in a comparison too)
inline constexpr int EXIT_FAILED = 1; // an input is bad, an output cannot be written, or a
                                      // size bound is exceeded
inline constexpr int EXIT_USAGE = 2;  // the command line is wrong

// The text --help shows about the exit statuses.
inline constexpr const char *EXIT_STATUS_HELP =
    "Exit status: 0 done; 1 bad input, failed output or a size bound exceeded (the message\n"
    "names the file, or the estimate and the bound); 2 a wrong command line.";

// The text --help shows about how outputs are written, in every tool that writes a file.
inline constexpr const char *OUTPUT_FILES_HELP =
    "Outputs: written under a temporary name beside the file and renamed over it when\n"
    "complete; an error, a full disk, a file-size limit, SIGINT, SIGTERM, SIGHUP, SIGQUIT,\n"
    "SIGPIPE or SIGXCPU (a CPU-time limit, which is reported) leaves the old file and no\n"
    "temporary. A symbolic link has its target replaced (the link stays); an existing file\n"
    "keeps its permissions (and owner and group where the tool may set them); a file with more\n"
    "than one hard link is updated in place once the content is complete and room for it is\n"
    "reserved (a full disk leaves it as it was), so not atomically; should the copy fail all\n"
    "the same, the message names the temporary that keeps the complete content. A character\n"
    "device, FIFO or socket is opened and written directly, never replaced (-o /dev/null\n"
    "discards, a FIFO streams; a socket does not open, which is reported); a directory or a\n"
    "block device is refused.";

// Returns `footer` followed by OUTPUT_FILES_HELP.
inline std::string with_outputs_help(const std::string &footer) {
    return footer + "\n\n" + OUTPUT_FILES_HELP;
}

// A failure a tool reports as "<tool>: <what>" with status EXIT_FAILED.
struct tool_failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A validator for a number option: finite and within [lo, hi], `unit` named in the message.
CLI::Validator finite_in(double lo, double hi, const std::string &unit = "");

// A validator for a whole-number option within [lo, hi].
CLI::Validator whole_in(long lo, long hi);

// Makes `app` answer -h/--help on standard output with `footer` and the exit statuses.
void tool_app_setup(CLI::App &app, const std::string &footer);

// Parses the command line. Returns -1 to go on; otherwise the status to exit with: 0 after
// --help, EXIT_USAGE after "<tool>: <what is wrong> (see --help)" on standard error (an unknown
// option is named: "--bogus: not an option").
int parse_tool_args(CLI::App &app, int argc, char **argv);

// The whole main of a tool: declares its options on a CLI::App (`declare`), parses the command
// line (see parse_tool_args) and runs `body` (see run_tool); returns the exit status.
int tool_main(int argc, char **argv, const char *name, const char *description,
              const std::string &footer, const std::function<void(CLI::App &)> &declare,
              const std::function<int()> &body);

// Runs a tool's body and returns its status; whatever it throws (a bad input, a failed output,
// memory exhausted) becomes "<tool>: <what>" on standard error and EXIT_FAILED.
int run_tool(const std::string &tool, const std::function<int()> &body);

// Returns `rel` in the working directory if it exists, else beside the program (../rel from
// the directory holding the executable, i.e. the source tree for a build directory in it).
// Every tool finds a bundled input it takes by default (data/...) this way.
std::string default_data(const std::string &rel);

// The rule default_data follows, for --help.
inline constexpr const char *DEFAULT_DATA_RULE =
    "an input a tool takes by default, data/<file>, is that path under the working\n"
    "directory when it exists there, else the one beside the program (<directory of the\n"
    "program>/../data/<file>: the source tree's data/ for a build directory in it), so that\n"
    "the tools find it from the repository's root and from build/ alike.";

} // namespace nurbs_interp
