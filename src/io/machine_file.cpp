#include "io/machine_file.hpp"

#include <cctype>  // isdigit
#include <cmath>   // isfinite
#include <cstdlib> // strtod
#include <vector>

#include "io/format.hpp"
#include "io/input_file.hpp"

namespace nurbs_interp {

namespace {

[[noreturn]] void fail(const std::string &path, unsigned line, const std::string &what) {
    throw machine_file_error(path + ":" + std::to_string(line) + ": " + what);
}

std::string trim(const std::string &s) {
    const std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// Returns `s` as a message shows it: control bytes as '?', at most 60 characters.
std::string shown(const std::string &s) {
    std::string t;
    for (char c : s.substr(0, 60))
        t += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    return s.size() > 60 ? t + "..." : t;
}

// Returns `text` without the underscores TOML allows between digits (1_500).
std::string without_digit_separators(const std::string &text) {
    std::string s;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool between = i > 0 && i + 1 < text.size() &&
                             std::isdigit((unsigned char)text[i - 1]) &&
                             std::isdigit((unsigned char)text[i + 1]);
        if (!(text[i] == '_' && between)) s += text[i];
    }
    return s;
}

// Returns the number `token` of key `k`, checked against the key's range.
double key_number(const machine_key &k, const std::string &token, const std::string &path,
                  unsigned line) {
    const std::string digits = without_digit_separators(token);
    char *end = nullptr;
    const double x = digits.empty() ? 0 : std::strtod(digits.c_str(), &end);
    if (digits.empty() || *end || !std::isfinite(x))
        fail(path, line, std::string(k.name) + ": \"" + shown(token) + "\" is not a number");
    if (x < k.lo || x > k.hi)
        fail(path, line,
             std::string(k.name) + ": " + token + " is outside [" + fmt("%g", k.lo) + ", " +
                 fmt("%g", k.hi) + "] " + k.unit);
    return x;
}

// Returns the numbers of the value `value` (text after "=") of key `k`: one number, or for the
// axis keys three, written [x, y, z] (or x, y, z).
std::vector<double> key_values(const machine_key &k, std::string value, const std::string &path,
                               unsigned line) {
    const bool array = value.front() == '[';
    if (array && k.count == 1)
        fail(path, line, std::string(k.name) + " takes one number, not an array");
    if (array) {
        if (value.back() != ']')
            fail(path, line, std::string(k.name) + ": nothing may follow the closing ]");
        value = value.substr(1, value.size() - 2);
    }
    std::vector<std::string> tokens;
    std::size_t from = 0;
    for (std::size_t comma; (comma = value.find(',', from)) != std::string::npos; from = comma + 1)
        tokens.push_back(trim(value.substr(from, comma - from)));
    tokens.push_back(trim(value.substr(from)));
    if (array && tokens.size() > 1 && tokens.back().empty()) tokens.pop_back(); // [1, 2, 3,]
    if (int(tokens.size()) != k.count)
        fail(path, line,
             std::string(k.name) + " takes " +
                 (k.count == 3 ? "three numbers, the limits of X, Y and Z ([X, Y, Z])"
                               : "one number") +
                 "; this gives " + std::to_string(tokens.size()));
    std::vector<double> x;
    for (const std::string &t : tokens)
        x.push_back(key_number(k, t, path, line));
    return x;
}

// Puts the numbers of key `k` into `m`; throws when the key was given before.
void set_key(machine_file &m, const machine_key &k, const std::vector<double> &x,
             const std::string &path, unsigned line, std::vector<unsigned> &given_on) {
    const std::size_t which = &k - MACHINE_KEYS;
    if (given_on[which])
        fail(path, line,
             std::string(k.name) + " is given twice (first on line " +
                 std::to_string(given_on[which]) + ")");
    given_on[which] = line;
    const std::array<double, 3> three = {x[0], x.size() > 1 ? x[1] : 0, x.size() > 2 ? x[2] : 0};
    if (which == 0) m.vel = three;
    if (which == 1) m.acc = three;
    if (which == 2) m.jerk = three;
    if (which == 3) m.period = x[0];
}

// Returns the key named `name` (quotes around it allowed), or throws naming the known keys.
const machine_key &find_key(std::string name, const std::string &path, unsigned line) {
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.substr(1, name.size() - 2);
    for (const machine_key &k : MACHINE_KEYS)
        if (name == k.name) return k;
    fail(path, line,
         "unknown key \"" + shown(name) + "\": a machine file holds only " + MACHINE_KEY_LIST +
             " (outputs, curves and other options belong on the command line)");
}

} // namespace

machine_file parse_machine_file(const std::string &text, const std::string &path) {
    machine_file m;
    std::vector<unsigned> given_on(4, 0);
    const machine_key *open_key = nullptr; // an array that runs over more lines
    std::string open_value;
    unsigned open_line = 0, line_no = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++line_no;
        if (const std::size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line = trim(line);
        if (open_key) {
            open_value += " " + line;
            if (line.find(']') == std::string::npos) continue;
            set_key(m, *open_key, key_values(*open_key, trim(open_value), path, open_line), path,
                    open_line, given_on);
            open_key = nullptr;
            continue;
        }
        if (line.empty()) continue;
        if (line.front() == '[')
            fail(path, line_no,
                 shown(line) + ": sections are not used in a machine file; write its keys (" +
                     MACHINE_KEY_LIST + ") at the top level, without a section line");
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            fail(path, line_no,
                 "expected a line \"key = value\" (e.g. axis-vel = [250, 250, 100]), not \"" +
                     shown(line) + "\"");
        const machine_key &k = find_key(trim(line.substr(0, eq)), path, line_no);
        const std::string value = trim(line.substr(eq + 1));
        if (value.empty()) fail(path, line_no, std::string(k.name) + " has no value");
        if (value.front() == '[' && value.find(']') == std::string::npos) {
            open_key = &k;
            open_value = value;
            open_line = line_no;
            continue;
        }
        set_key(m, k, key_values(k, value, path, line_no), path, line_no, given_on);
    }
    if (open_key)
        fail(path, open_line,
             std::string(open_key->name) + ": the array is not closed with ] before the end");
    return m;
}

machine_file read_machine_file(const std::string &path) {
    std::string text, error;
    if (!read_input_whole(path, "machine file", MACHINE_FILE_MAX_BYTES, &text, &error))
        throw machine_file_error(error);
    if (text.find('\0') != std::string::npos)
        throw machine_file_error(path + ": holds a NUL byte; a machine file is text");
    return parse_machine_file(text, path);
}

} // namespace nurbs_interp
