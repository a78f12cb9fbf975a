#include "common/machine_cli.hpp"

#include "common/tool_cli.hpp" // finite_in

namespace nurbs_interp {

void add_machine_options(CLI::App &app, machine_options &o, machine_parts parts) {
    o.period_option =
        app.add_option("--period", o.period,
                       parts == machine_parts::axes
                           ? "servo period T, s: every profile must have been made for it "
                             "(default: each profile's own; a machine file's is not used)"
                           : "servo period T, s")
            ->check(finite_in(1e-5, 0.1, "s"));
    if (parts != machine_parts::axes) o.period_option->capture_default_str();
    if (parts == machine_parts::period) return;
    // A key the tool does not know (a misspelt limit) is refused, not ignored.
    app.allow_config_extras(CLI::config_extras_mode::error);
    {
        app.add_option("--axis-vel", o.vel, "velocity limits of X,Y,Z, mm/s")
            ->delimiter(',')
            ->expected(3)
            ->type_name("VX,VY,VZ")
            ->check(finite_in(1e-3, 1e6, "mm/s"));
        app.add_option("--axis-acc", o.acc, "acceleration limits of X,Y,Z, mm/s^2")
            ->delimiter(',')
            ->expected(3)
            ->type_name("AX,AY,AZ")
            ->check(finite_in(1e-3, 1e9, "mm/s^2"));
        app.add_option("--axis-jerk", o.jerk, "jerk limits of X,Y,Z, mm/s^3")
            ->delimiter(',')
            ->expected(3)
            ->type_name("JX,JY,JZ")
            ->check(finite_in(1e-3, 1e13, "mm/s^3"));
    }
    app.set_config("--config", "", "read these options from a TOML file (a machine description)")
        ->type_name("FILE");
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

double run_period(const feed_profile &prof, const machine_options &o, const std::string &path) {
    if (o.period_option && o.period_option->count() > 0) {
        check_profile_period(prof, o.period, path);
        return o.period;
    }
    return profile_period(prof);
}

void keep_command_line_period(machine_options &o, int argc, char **argv) {
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        if (a == "--period" || a.rfind("--period=", 0) == 0) return;
    }
    o.period_option = nullptr;
    o.period = SERVO_PERIOD;
}

std::string machine_name(const CLI::App &app, const machine_limits &limits, int argc, char **argv) {
    if (!machine_has_axes(limits)) return "";
    std::string file;
    if (const CLI::Option *config = app.get_config_ptr(); config && config->count() > 0)
        file = config->as<std::string>();
    bool options = false;
    for (int k = 1; k < argc; ++k)
        options = options || std::string(argv[k]).rfind("--axis-", 0) == 0;
    if (file.empty()) return "(--axis-* options)";
    return options ? file + " with --axis-* options" : file;
}

} // namespace nurbs_interp
