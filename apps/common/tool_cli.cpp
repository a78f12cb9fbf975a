#include "common/tool_cli.hpp"

#include <cerrno> // strtol range errors
#include <cmath>  // isfinite
#include <cstdio> // fprintf
#include <cstdlib>
#include <filesystem> // default data beside the program
#include <iostream>
#include <new> // bad_alloc

namespace nurbs_interp {

namespace {

std::string number_text(double x) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", x);
    return buf;
}

} // namespace

CLI::Validator finite_in(double lo, double hi, const std::string &unit) {
    const std::string range =
        "[" + number_text(lo) + ", " + number_text(hi) + "]" + (unit.empty() ? "" : " " + unit);
    return CLI::Validator(
        [lo, hi, range](std::string &text) -> std::string {
            char *end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end) return "\"" + text + "\" is not a number";
            if (!std::isfinite(v) || v < lo || v > hi)
                return "\"" + text + "\" is outside " + range;
            return "";
        },
        "in " + range);
}

CLI::Validator whole_in(long lo, long hi) {
    const std::string range = "[" + std::to_string(lo) + ", " + std::to_string(hi) + "]";
    return CLI::Validator(
        [lo, hi, range](std::string &text) -> std::string {
            char *end = nullptr;
            errno = 0;
            const long v = std::strtol(text.c_str(), &end, 10);
            if (end == text.c_str() || *end || errno)
                return "\"" + text + "\" is not a whole number";
            if (v < lo || v > hi) return "\"" + text + "\" is outside " + range;
            return "";
        },
        "in " + range);
}

void tool_app_setup(CLI::App &app, const std::string &footer) {
    app.footer(footer.empty() ? std::string(EXIT_STATUS_HELP) : footer + "\n\n" + EXIT_STATUS_HELP);
    app.allow_extras();
    app.get_formatter()->column_width(26);
}

int parse_tool_args(CLI::App &app, int argc, char **argv) {
    const std::string tool = app.get_name();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::cout << app.help();
        return EXIT_DONE;
    } catch (const CLI::ConfigError &e) { // the file --config names, e.g. a key no option has
        std::fprintf(stderr, "%s: --config: %s (see --help)\n", tool.c_str(), e.what());
        return EXIT_USAGE;
    } catch (const CLI::ParseError &e) {
        std::fprintf(stderr, "%s: %s (see --help)\n", tool.c_str(), e.what());
        return EXIT_USAGE;
    }
    const std::vector<std::string> rest = app.remaining();
    if (!rest.empty()) {
        const std::string &first = rest.front();
        const bool option = first.size() > 1 && first[0] == '-';
        std::fprintf(stderr, "%s: %s: %s (see --help)\n", tool.c_str(), first.c_str(),
                     option ? "not an option" : "unexpected argument");
        return EXIT_USAGE;
    }
    return -1;
}

int tool_main(int argc, char **argv, const char *name, const char *description,
              const std::string &footer, const std::function<void(CLI::App &)> &declare,
              const std::function<int()> &body) {
    CLI::App app(description, name);
    declare(app);
    tool_app_setup(app, footer);
    if (const int status = parse_tool_args(app, argc, argv); status >= 0) return status;
    return run_tool(name, body);
}

int run_tool(const std::string &tool, const std::function<int()> &body) {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "%s: not enough memory\n", tool.c_str());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s\n", tool.c_str(), e.what());
    }
    return EXIT_FAILED;
}

std::string default_data(const std::string &rel) {
    std::error_code ec;
    if (std::filesystem::exists(rel, ec)) return rel;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::filesystem::path beside = exe.parent_path().parent_path() / rel;
    return !ec && std::filesystem::exists(beside, ec) ? beside.string() : rel;
}

} // namespace nurbs_interp
