#include "common/machine_cli.hpp"

#include <cmath>  // fabs
#include <cstdio> // the notes on standard error

#include "common/tool_cli.hpp" // finite_in
#include "io/format.hpp"
#include "io/machine_file.hpp"

namespace nurbs_interp {

namespace {

// Declares the axis option of machine key `k` (three numbers) into `to`.
CLI::Option *axis_option(CLI::App &app, const machine_key &k, std::vector<double> &to,
                         const std::string &what, const char *type_name) {
    return app.add_option(std::string("--") + k.name, to, what)
        ->delimiter(',')
        ->expected(3)
        ->type_name(type_name)
        ->check(finite_in(k.lo, k.hi, k.unit));
}

// Fills `to` from the machine file's `from` where the command line (`given`) left it out.
void fill(std::vector<double> &to, const CLI::Option *given,
          const std::optional<std::array<double, 3>> &from) {
    if (given->count() == 0 && from) to.assign(from->begin(), from->end());
}

// Reads the machine file o.config into the options the command line left out (see
// add_machine_options); throws CLI::ConfigError naming the file.
void apply_machine_file(machine_options &o, machine_parts parts, const CLI::Option *config) {
    if (config->count() > 0 && o.config.empty())
        throw CLI::ConfigError("an empty path names no machine file");
    if (o.config.empty()) return;
    machine_file f;
    try {
        f = read_machine_file(o.config);
    } catch (const machine_file_error &e) {
        throw CLI::ConfigError(e.what());
    }
    fill(o.vel, o.vel_option, f.vel);
    fill(o.acc, o.acc_option, f.acc);
    fill(o.jerk, o.jerk_option, f.jerk);
    std::string missing;
    for (const auto &[given, key] : {std::pair{&o.vel, "axis-vel"}, std::pair{&o.acc, "axis-acc"},
                                     std::pair{&o.jerk, "axis-jerk"}})
        if (given->empty()) missing += (missing.empty() ? "" : ", ") + std::string(key);
    if (!missing.empty())
        throw CLI::ConfigError(o.config + ": the machine file gives no " + missing +
                               ": a machine needs all three axis limits (axis-vel, axis-acc, "
                               "axis-jerk, X,Y,Z each), from the file or the command line (--" +
                               missing.substr(0, missing.find(',')) + ")");
    if (f.period) o.config_period = *f.period;
    if (parts != machine_parts::axes_and_period || o.period_option->count() > 0) return;
    if (f.period)
        o.period = *f.period;
    else
        std::fprintf(stderr, "%s: note: %s gives no period: the default %s s applies\n",
                     o.tool.c_str(), o.config.c_str(), fmt("%g", SERVO_PERIOD).c_str());
}

} // namespace

void add_machine_options(CLI::App &app, machine_options &o, machine_parts parts) {
    o.tool = app.get_name();
    const machine_key &period = MACHINE_KEYS[3];
    o.period_option =
        app.add_option("--period", o.period,
                       parts == machine_parts::axes
                           ? "servo period T, s: every profile must have been made for it "
                             "(default: each profile's own; a machine file's is not imposed)"
                           : "servo period T, s")
            ->check(finite_in(period.lo, period.hi, period.unit));
    if (parts != machine_parts::axes) o.period_option->capture_default_str();
    if (parts == machine_parts::period) return;
    o.vel_option =
        axis_option(app, MACHINE_KEYS[0], o.vel, "velocity limits of X,Y,Z, mm/s", "VX,VY,VZ");
    o.acc_option = axis_option(app, MACHINE_KEYS[1], o.acc, "acceleration limits of X,Y,Z, mm/s^2",
                               "AX,AY,AZ");
    o.jerk_option =
        axis_option(app, MACHINE_KEYS[2], o.jerk, "jerk limits of X,Y,Z, mm/s^3", "JX,JY,JZ");
    const CLI::Option *config =
        app.add_option("--config", o.config,
                       "read the machine from a machine file (axis-vel, axis-acc, axis-jerk, "
                       "period)")
            ->type_name("FILE");
    app.parse_complete_callback([&o, parts, config] { apply_machine_file(o, parts, config); });
}

machine_limits machine_from(const machine_options &o) {
    machine_limits m;
    for (std::size_t k = 0; k < 3; ++k) {
        if (o.vel.size() == 3) m.vel[k] = o.vel[k];
        if (o.acc.size() == 3) m.acc[k] = o.acc[k];
        if (o.jerk.size() == 3) m.jerk[k] = o.jerk[k];
    }
    m.period = o.period;
    return m;
}

std::vector<std::string> machine_inputs(const machine_options &o) {
    if (o.config.empty()) return {};
    return {o.config};
}

double run_period(const feed_profile &prof, const machine_options &o, const std::string &path) {
    const double own = profile_period(prof);
    const std::string whose = prof.period > 0 ? "its period line" : "it has no period line";
    if (o.period_option && o.period_option->count() > 0) {
        try {
            check_profile_period(prof, o.period, path);
        } catch (const profile_error &e) {
            throw profile_error(std::string(e.what()) +
                                " (--period); without --period it runs at " + fmt("%.9g", own) +
                                " s, the period it was made for");
        }
        return o.period;
    }
    if (o.config_period > 0 && std::fabs(o.config_period - own) > 1e-12 * own)
        std::fprintf(stderr,
                     "%s: note: %s runs at %s s, the period it was made for (%s), not at the "
                     "machine file %s's period %s s, which is not imposed on a profile (--period "
                     "%s would refuse it)\n",
                     o.tool.c_str(), path.c_str(), fmt("%.9g", own).c_str(), whose.c_str(),
                     o.config.c_str(), fmt("%.9g", o.config_period).c_str(),
                     fmt("%.9g", o.config_period).c_str());
    return own;
}

void keep_command_line_period(machine_options &o, int argc, char **argv) {
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        if (a == "--period" || a.rfind("--period=", 0) == 0) return;
    }
    o.period_option = nullptr;
    o.period = SERVO_PERIOD;
}

std::string machine_name(const machine_options &o, const machine_limits &limits, int argc,
                         char **argv) {
    if (!machine_has_axes(limits)) return "";
    const std::string &file = o.config;
    bool options = false;
    for (int k = 1; k < argc; ++k)
        options = options || std::string(argv[k]).rfind("--axis-", 0) == 0;
    if (file.empty()) return "(--axis-* options)";
    return options ? file + " with --axis-* options" : file;
}

} // namespace nurbs_interp
