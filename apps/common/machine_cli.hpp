// The machine description on a tool's command line: per-axis limits and the servo period, as
// options (--axis-vel VX,VY,VZ, --axis-acc, --axis-jerk, --period) or from a machine file with
// the same keys (--config FILE, io/machine_file), the command line winning over the file.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "io/feed_profile.hpp"
#include "plan/machine.hpp"

namespace nurbs_interp {

// The options as parsed, the machine file's keys filled in.
struct machine_options {
    std::vector<double> vel, acc, jerk; // X, Y, Z; empty when not given
    double period = SERVO_PERIOD;
    std::string config;       // --config FILE, "" when none
    double config_period = 0; // the machine file's period (0: none), kept where it is not used
    std::string tool;         // the program's name, for notes
    CLI::Option *period_option = nullptr; // to tell whether --period was given
    CLI::Option *vel_option = nullptr, *acc_option = nullptr, *jerk_option = nullptr;
};

// What add_machine_options declares, and what a machine file's period does.
enum class machine_parts {
    period,          // --period alone
    axes_and_period, // a machine file's period is the run's (make_profile plans for it)
    axes             // a machine file's period is not imposed: each profile keeps its own
};

// Declares --period, and --axis-vel, --axis-acc, --axis-jerk and --config (unless `parts` is
// period). Values are checked: three numbers per axis option, a period, each in the range of
// MACHINE_KEYS. Once the command line is parsed, the machine file is read and its keys fill
// what the command line left out; a machine that then lacks an axis limit is refused naming the
// key, and a file without a period gets the default 0.00025 s with a note (axes_and_period). A
// bad machine file ends the parse as a wrong command line does (CLI::ConfigError).
void add_machine_options(CLI::App &app, machine_options &o, machine_parts parts);

// Forgets the period unless --period stands on the command line `argv`.
void keep_command_line_period(machine_options &o, int argc, char **argv);

// Returns the limits the options give.
machine_limits machine_from(const machine_options &o);

// Returns the machine file among a tool's inputs: {o.config}, or none.
std::vector<std::string> machine_inputs(const machine_options &o);

// Returns the servo period a run of `prof` (read from `path`) uses: --period when given (the
// profile must have been made for it: the refusal says how to run at the profile's own), else
// the profile's own; where a machine file's period differs from it, a note on standard error
// names the file and says which period the run takes.
double run_period(const feed_profile &prof, const machine_options &o, const std::string &path);

// Returns the name of the machine `limits` describe, for reports and titles: the machine file
// of --config, "(--axis-* options)", or the file with them (options on the command line argv);
// "" when no limit is given.
std::string machine_name(const machine_options &o, const machine_limits &limits, int argc,
                         char **argv);

// The text --help shows about a machine file.
inline constexpr const char *MACHINE_HELP =
    "Machine: --axis-vel, --axis-acc, --axis-jerk take three comma-separated numbers, the\n"
    "limits of X, Y and Z (mm/s, mm/s^2, mm/s^3); --config FILE reads them from a machine file\n"
    "(e.g. data/machines/*.toml): TOML lines axis-vel = [250, 250, 100], axis-acc = [...],\n"
    "axis-jerk = [...] and period = 0.001, with # comments, and nothing else (no other option,\n"
    "no section, each key once, at most 64 KiB). The file must give all three axis limits\n"
    "(or the command line the ones it leaves out). make_profile plans for the file's period\n"
    "(without one, for the default 0.00025 s, and says so); interp_compare and interp_suite run\n"
    "each profile at the period it was made for and say so where the file's differs (--period\n"
    "imposes one). Options on the command line override the file.";

} // namespace nurbs_interp
