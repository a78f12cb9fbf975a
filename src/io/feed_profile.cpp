#include "io/feed_profile.hpp"

#include <cerrno>
#include <cmath>   // isfinite
#include <cstdio>  // fopen
#include <cstdlib> // strtoll
#include <cstring> // strerror
#include <filesystem>
#include <new> // bad_alloc
#include <sstream>

#include "io/format.hpp"
#include "io/input_file.hpp"
#include "core/text_scan.hpp"

namespace nurbs_interp {

namespace {

[[noreturn]] void fail(const std::string &path, unsigned line, const std::string &what) {
    throw profile_error(path + ":" + std::to_string(line) + ": " + what);
}

} // namespace

feed_profile read_feed_profile(const char *path) {
    std::FILE *f = std::fopen(path, "r");
    if (!f) throw profile_error(std::string(path) + ": could not open the feed profile");
    const input_file closer(f);
    return read_feed_profile_stream(f, path);
}

feed_profile read_feed_profile_stream(std::FILE *f, const std::string &path) {
    text_scan in = text_scan_open(f);

    feed_profile prof;
    int count = 0;
    // "N=%d": the two literal characters first; without them the count stays 0.
    if (!(scan_literal(in, 'N') && scan_literal(in, '=') && scan_int(in, &count))) count = 0;
    if (in.too_long)
        fail(path, scan_line(in),
             "line longer than " + std::to_string(in.max_line) + " characters");
    static const char *const names[3] = {"feed", "acceleration", "jerk"};
    try {
        for (int i = 0; i < count; ++i) {
            double value[3];
            for (int c = 0; c < 3; ++c) {
                const bool ok = scan_double(in, &value[c]);
                const std::string where =
                    "sample " + std::to_string(i + 1) + " of " + std::to_string(count);
                if (in.too_long)
                    fail(path, scan_line(in),
                         "line longer than " + std::to_string(in.max_line) + " characters");
                if (!ok && in.at_end && in.pos >= in.line.size())
                    fail(path, scan_line(in), "file ends before " + where);
                if (!ok)
                    fail(path, scan_line(in),
                         where + ": " + names[c] + " is not a number (expected \"%le %le %le\")");
                if (!std::isfinite(value[c]))
                    fail(path, scan_line(in), where + ": " + names[c] + " is not finite");
            }
            prof.v.push_back(value[0]);
            prof.a.push_back(value[1]);
            prof.j.push_back(value[2]);
        }
    } catch (const std::bad_alloc &) {
        fail(path, scan_line(in), "not enough memory for " + std::to_string(count) + " samples");
    }
    return prof;
}

namespace {

// Reads the strict header "N=<count>"; returns the count.
long read_checked_header(text_scan &in, const std::string &path) {
    if (in.too_long)
        fail(path, scan_line(in),
             "line longer than " + std::to_string(in.max_line) + " characters");
    const bool tag = scan_literal(in, 'N') && scan_literal(in, '=');
    const char *start = in.line.c_str() + in.pos;
    char *end = nullptr;
    errno = 0;
    const long long count = tag ? std::strtoll(start, &end, 10) : 0;
    if (!tag || end == start)
        fail(path, 1, "the first line must be \"N=<count>\" (a whole number of samples)");
    in.pos += static_cast<std::size_t>(end - start);
    if (!scan_rest_blank(in))
        fail(path, 1, "the first line must be \"N=<count>\" with nothing after the count");
    if (errno == ERANGE) fail(path, 1, "the sample count overflows");
    if (count < 0) fail(path, 1, "the sample count " + std::to_string(count) + " is negative");
    if (count > PROFILE_MAX_SAMPLES)
        fail(path, 1,
             "the sample count " + std::to_string(count) + " is more than the bound of " +
                 std::to_string(PROFILE_MAX_SAMPLES) + " samples");
    return count;
}

// Moves to the next non-blank line; false at the end of the input.
bool next_filled_line(text_scan &in, const std::string &path) {
    while (scan_next_line(in))
        if (!scan_rest_blank(in)) return true;
    if (in.too_long)
        fail(path, scan_line(in),
             "line longer than " + std::to_string(in.max_line) + " characters");
    return false;
}

// Reads "# period <T> s" from the current line into *period; false when the line is not a
// comment line at all (it is then a sample line too many). Throws on a malformed period line.
bool read_period_line(text_scan &in, const std::string &path, double *period) {
    if (!scan_literal(in, '#')) return false;
    std::istringstream words(in.line.substr(in.pos));
    std::string word, unit, extra;
    double t = 0;
    const bool ok =
        (words >> word >> t >> unit) && word == "period" && unit == "s" && !(words >> extra);
    if (!ok || !std::isfinite(t) || !(t > 0))
        fail(path, scan_line(in),
             "after the samples only a line \"# period <T> s\" may follow (T the servo period "
             "in seconds, positive)");
    if (t < SERVO_PERIOD_MIN || t > SERVO_PERIOD_MAX)
        fail(path, scan_line(in),
             "the period line says " + fmt("%.9g", t) + " s; a servo period is from " +
                 fmt("%g", SERVO_PERIOD_MIN) + " to " + fmt("%g", SERVO_PERIOD_MAX) + " s");
    *period = t;
    return true;
}

// Returns x in the fewest significant digits that read back to the same double.
std::string shortest(double x) {
    for (int digits = 1;; ++digits) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.*g", digits, x);
        if (digits >= 17 || std::strtod(buf, nullptr) == x) return buf;
    }
}

} // namespace

feed_profile read_feed_profile_checked(const std::string &path) {
    std::string error;
    const input_file f = open_input(path, "feed profile", &error);
    if (!f) throw profile_error(error);
    return read_feed_profile_checked_stream(f.get(), path);
}

feed_profile read_feed_profile_checked_stream(std::FILE *f, const std::string &path) {
    text_scan in = text_scan_open(f);
    const long count = read_checked_header(in, path);
    static const char *const names[3] = {"feed", "acceleration", "jerk"};
    feed_profile prof;
    prof.v.reserve(count);
    prof.a.reserve(count);
    prof.j.reserve(count);
    for (long i = 0; i < count; ++i) {
        const std::string which =
            "sample " + std::to_string(i + 1) + " of " + std::to_string(count);
        if (!next_filled_line(in, path)) fail(path, scan_line(in), "file ends before " + which);
        double value[3];
        for (int c = 0; c < 3; ++c) {
            if (!scan_double_in_line(in, &value[c]))
                fail(path, scan_line(in),
                     which + ": " + names[c] +
                         " is missing or not a number (a sample line holds "
                         "exactly three numbers: feed acceleration jerk)");
            if (!std::isfinite(value[c]))
                fail(path, scan_line(in), which + ": " + names[c] + " is not finite");
        }
        if (!scan_rest_blank(in))
            fail(path, scan_line(in),
                 which + ": more than three numbers on the line (feed acceleration jerk)");
        if (value[0] < 0) fail(path, scan_line(in), which + ": the feed is negative");
        prof.v.push_back(value[0]);
        prof.a.push_back(value[1]);
        prof.j.push_back(value[2]);
    }
    if (next_filled_line(in, path) && !read_period_line(in, path, &prof.period))
        fail(path, scan_line(in),
             "more sample lines than the count N=" + std::to_string(count) + " in the header");
    if (next_filled_line(in, path)) fail(path, scan_line(in), "nothing may follow the period line");
    return prof;
}

double profile_period(const feed_profile &p) {
    return p.period > 0 ? p.period : SERVO_PERIOD;
}

void check_profile_period(const feed_profile &p, double period, const std::string &path) {
    const double made = profile_period(p);
    if (std::fabs(made - period) <= 1e-12 * period) return;
    throw profile_error(path + ": the profile was made for a servo period of " + fmt("%.9g", made) +
                        " s" + (p.period > 0 ? " (its period line)" : " (it has no period line)") +
                        ", this run's is " + fmt("%.9g", period) + " s");
}

bool feed_profile_write(std::FILE *out, const feed_profile &p) {
    std::fprintf(out, "N=%d\n", int(p.v.size()));
    for (std::size_t k = 0; k < p.v.size(); ++k)
        std::fprintf(out, "%.17g %.17g %.17g\n", p.v[k], p.a[k], p.j[k]);
    if (p.period > 0) std::fprintf(out, "# period %s s\n", shortest(p.period).c_str());
    return !std::ferror(out);
}

void feed_profile_truncate(feed_profile &p, std::size_t n) {
    if (p.v.size() <= n) return;
    p.v.resize(n);
    p.a.resize(n);
    p.j.resize(n);
}

double feed_profile_travel(const feed_profile &p, double period) {
    double s = 0;
    for (double v : p.v)
        s += v * period;
    return s;
}

} // namespace nurbs_interp
