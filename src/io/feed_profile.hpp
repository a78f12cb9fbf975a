// The feed profile file: "N=<count>" then, per sample, feed, acceleration and jerk. Reading,
// writing, and the travel a driver covers along a profile.
#pragma once

#include <cstdio> // FILE for reading from a stream
#include <stdexcept>
#include <string>
#include <vector>

#include "core/interpolate.hpp" // SERVO_PERIOD

namespace nurbs_interp {

// The most samples a profile may have where the tools read or write one: 10^7 servo periods
// (2500 s, about 42 minutes of motion at 0.25 ms), about 240 MB as three columns of doubles.
inline constexpr long PROFILE_MAX_SAMPLES = 10000000;

// The servo periods a profile may be made for and a run may use, s: from 10 us to 100 ms
// (--period, a machine file's period and a profile's period line alike).
inline constexpr double SERVO_PERIOD_MIN = 1e-5;
inline constexpr double SERVO_PERIOD_MAX = 0.1;

// One column per quantity, one entry per servo period: feed (length/s), path acceleration
// (length/s^2) and path jerk (length/s^3); and the servo period it was made for, when the file
// says so.
struct feed_profile {
    std::vector<double> v;
    std::vector<double> a;
    std::vector<double> j;
    double period = 0; // s, from a "# period <T> s" line after the samples; 0: no such line
};

// Returns the servo period `p` was made for: its period line, else the bench's SERVO_PERIOD
// (a profile without a period line is for 0.00025 s).
double profile_period(const feed_profile &p);

// Throws profile_error naming `path` when `p` was made for another servo period than `period`
// (to 1e-12 relative).
void check_profile_period(const feed_profile &p, double period, const std::string &path);

// A profile that could not be read; the message names the file and the sample or line.
struct profile_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads a feed profile. A first line that does not start with "N=" and a count, or a count
// of 0 or less, gives an empty profile (no sample is read). Throws profile_error when the file
// does not open, when a sample is missing, does not parse or is not finite, or when memory for
// the samples runs out. Memory grows with the samples actually present, not with the count.
feed_profile read_feed_profile(const char *path);

// Reads a feed profile from an open stream, as read_feed_profile does; `path` is the name its
// messages carry. The stream stays open.
feed_profile read_feed_profile_stream(std::FILE *f, const std::string &path);

// Reads a feed profile for a tool, strictly: the first line is "N=<count>" with a count from 0
// to PROFILE_MAX_SAMPLES and nothing after it; then exactly <count> sample lines (blank lines
// aside), each holding exactly three finite numbers, feed (>= 0), acceleration and jerk; then
// optionally one line "# period <T> s" (T in seconds, from SERVO_PERIOD_MIN to
// SERVO_PERIOD_MAX: the servo period the profile was made for, which the driver's reader never
// reaches); then nothing but blank lines. Throws profile_error naming the file and line
// otherwise, also for a file that does not open ("<path>: cannot open the feed profile (<why>)") or
// is a directory.
feed_profile read_feed_profile_checked(const std::string &path);

// Reads a profile from an open stream as read_feed_profile_checked does.
feed_profile read_feed_profile_checked_stream(std::FILE *f, const std::string &path);

// Writes "N=<count>" and one "%.17g %.17g %.17g" line per sample, then "# period <T> s" when
// p.period is set (T in the fewest digits that read back exactly); false on a write error.
bool feed_profile_write(std::FILE *out, const feed_profile &p);

// Keeps the first `n` samples of `p` (all of them when it has no more).
void feed_profile_truncate(feed_profile &p, std::size_t n);

// Returns the travel that a driver stepping s += v*period per sample covers: period * sum v.
double feed_profile_travel(const feed_profile &p, double period);

} // namespace nurbs_interp
