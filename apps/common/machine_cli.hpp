// The machine description on a tool's command line: per-axis limits and the servo period, as
// options (--axis-vel VX,VY,VZ, --axis-acc, --axis-jerk, --period) or from a TOML file with the
// same keys (--config FILE, read by CLI11's own config support).
#pragma once

#include <CLI/CLI.hpp>
#include <vector>

#include "io/feed_profile.hpp"
#include "plan/machine.hpp"

namespace nurbs_interp {

// The options as parsed.
struct machine_options {
    std::vector<double> vel, acc, jerk; // X, Y, Z; empty when not given
    double period = SERVO_PERIOD;
    CLI::Option *period_option = nullptr; // to tell whether --period was given
};

// What add_machine_options declares.
enum class machine_parts { period, axes_and_period, axes };

// Declares --period, and --axis-vel, --axis-acc, --axis-jerk and --config (unless `parts` is
// period; a key of the file that is not one of these options is refused). Values are checked:
// three positive finite numbers per axis option, a period in [1e-5, 0.1] s. With axes alone the
// period is meant for the command line only (see keep_command_line_period).
void add_machine_options(CLI::App &app, machine_options &o, machine_parts parts);

// Forgets the period unless --period stands on the command line `argv` (a machine file's period
// does not apply to a program whose profiles each keep their own).
void keep_command_line_period(machine_options &o, int argc, char **argv);

// Returns the limits the options give.
machine_limits machine_from(const machine_options &o);

// Returns the servo period a run of `prof` (read from `path`) uses: --period when given (the
// profile must have been made for it: check_profile_period), else the profile's own.
double run_period(const feed_profile &prof, const machine_options &o, const std::string &path);

// Returns the name of the machine `limits` describe, for reports and titles: the machine file
// --config named on the command line of `app` (argv), "(--axis-* options)", or the file with
// them; "" when no limit is given.
std::string machine_name(const CLI::App &app, const machine_limits &limits, int argc, char **argv);

// The text --help shows about a machine file.
inline constexpr const char *MACHINE_HELP =
    "Machine: --axis-vel, --axis-acc, --axis-jerk take three comma-separated numbers, the\n"
    "limits of X, Y and Z (mm/s, mm/s^2, mm/s^3); --config FILE reads the same options from a\n"
    "TOML file (axis-vel = [250, 250, 100], period = 0.001, ...), e.g. data/machines/*.toml;\n"
    "options on the command line override the file.";

} // namespace nurbs_interp
