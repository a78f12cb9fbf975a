#include "feed_profile.hpp"

#include <cmath>  // isfinite
#include <cstdio> // fopen
#include <new>    // bad_alloc

#include "atomic_file.hpp"
#include "text_scan.hpp"

namespace nurbs_interp {

namespace {

struct file_closer {
    std::FILE *f;
    ~file_closer() { std::fclose(f); }
};

[[noreturn]] void fail(const std::string &path, unsigned line, const std::string &what) {
    throw profile_error(path + ":" + std::to_string(line) + ": " + what);
}

} // namespace

feed_profile read_feed_profile(const char *path) {
    std::FILE *f = std::fopen(path, "r");
    if (!f) throw profile_error(std::string(path) + ": could not open the feed profile");
    file_closer closer{f};
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

bool feed_profile_write(std::FILE *out, const feed_profile &p) {
    std::fprintf(out, "N=%d\n", int(p.v.size()));
    for (std::size_t k = 0; k < p.v.size(); ++k)
        std::fprintf(out, "%.17g %.17g %.17g\n", p.v[k], p.a[k], p.j[k]);
    return !std::ferror(out);
}

void feed_profile_save(const std::string &path, const feed_profile &p) {
    write_file_atomically(path, [&](std::FILE *f) { feed_profile_write(f, p); });
}

double feed_profile_travel(const feed_profile &p, double period) {
    double s = 0;
    for (double v : p.v)
        s += v * period;
    return s;
}

} // namespace nurbs_interp
