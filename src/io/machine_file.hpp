// The machine file (`--config FILE`): a machine described as TOML key = value lines, passed
// between people, that sets the machine's keys and nothing else:
//   axis-vel = [250, 250, 100]       # X, Y, Z velocity limits, mm/s
//   axis-acc = [1500, 1500, 800]     # mm/s^2
//   axis-jerk = [30000, 30000, 20000] # mm/s^3
//   period = 0.001                   # servo period, s
// Comments (#) and blank lines anywhere; an array may run over several lines. Any other key (an
// output, a curve, an option of a tool), a section, a key given twice or a value out of its
// range is refused naming the file and line. The file is bounded in size, so a huge one is
// refused before it is read.
#pragma once

#include <array>
#include <optional>
#include <stdexcept>
#include <string>

#include "io/feed_profile.hpp" // the range of servo periods

namespace nurbs_interp {

// The most bytes a machine file may hold (a machine file is a few hundred bytes).
inline constexpr std::size_t MACHINE_FILE_MAX_BYTES = 65536;

// A key of the machine file: its name, how many numbers it takes, their range and unit (the
// same range as the command-line option of that name).
struct machine_key {
    const char *name;
    int count;
    double lo, hi;
    const char *unit;
};

inline constexpr machine_key MACHINE_KEYS[4] = {
    {"axis-vel", 3, 1e-3, 1e6, "mm/s"},
    {"axis-acc", 3, 1e-3, 1e9, "mm/s^2"},
    {"axis-jerk", 3, 1e-3, 1e13, "mm/s^3"},
    {"period", 1, SERVO_PERIOD_MIN, SERVO_PERIOD_MAX, "s"}};

// The keys as text for messages: "axis-vel, axis-acc, axis-jerk and period".
inline constexpr const char *MACHINE_KEY_LIST = "axis-vel, axis-acc, axis-jerk and period";

// What a machine file gives; a key it leaves out is empty.
struct machine_file {
    std::optional<std::array<double, 3>> vel, acc, jerk; // X, Y, Z
    std::optional<double> period;                        // s
};

// A machine file that cannot be read; the message names the file (and the line).
struct machine_file_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads the machine file `path`. Throws machine_file_error when it does not open, holds more
// than MACHINE_FILE_MAX_BYTES, or holds anything but the keys above with values in range.
machine_file read_machine_file(const std::string &path);

// Parses `text` as the machine file `path` (named in messages), as read_machine_file does.
machine_file parse_machine_file(const std::string &text, const std::string &path);

} // namespace nurbs_interp
