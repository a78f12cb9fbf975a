#include "text_scan.hpp"

#include <cctype>  // isspace, isdigit
#include <cerrno>  // errno for strtol range errors
#include <climits> // INT_MIN, INT_MAX
#include <cstdlib> // strtod, strtol

namespace nurbs_interp {

namespace {

// Loads the next line into s.line; returns false at the end of the input or on an over-long line.
bool next_line(text_scan &s) {
    if (s.at_end || s.too_long) return false;
    s.line.clear();
    s.pos = 0;
    int ch = 0;
    bool any = false;
    while ((ch = std::fgetc(s.file)) != EOF) {
        any = true;
        if (ch == '\n') break;
        if (s.line.size() >= s.max_line) {
            s.too_long = true;
            ++s.line_no;
            return false;
        }
        s.line.push_back(static_cast<char>(ch));
    }
    if (ch == EOF) s.at_end = true;
    if (!any) return false;
    ++s.line_no;
    return true;
}

bool is_space(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

} // namespace

text_scan text_scan_open(std::FILE *file, std::size_t max_line) {
    text_scan s;
    s.file = file;
    s.max_line = max_line;
    next_line(s);
    return s;
}

bool scan_space(text_scan &s) {
    for (;;) {
        while (s.pos < s.line.size() && is_space(s.line[s.pos]))
            ++s.pos;
        if (s.pos < s.line.size()) return true;
        // The line feed that ended this line is white space too.
        if (!next_line(s)) return false;
    }
}

bool scan_literal(text_scan &s, char c) {
    if (s.pos < s.line.size() && s.line[s.pos] == c) {
        ++s.pos;
        return true;
    }
    return false;
}

bool scan_u32(text_scan &s, std::uint32_t *out) {
    if (!scan_space(s)) return false;
    scan_literal(s, '+');
    std::uint64_t value = 0;
    std::size_t digits = 0;
    while (s.pos < s.line.size() && std::isdigit(static_cast<unsigned char>(s.line[s.pos]))) {
        value = value * 10 + static_cast<std::uint64_t>(s.line[s.pos] - '0');
        if (value > UINT32_MAX) return false;
        ++s.pos;
        ++digits;
    }
    if (digits == 0) return false;
    *out = static_cast<std::uint32_t>(value);
    return true;
}

bool scan_int(text_scan &s, int *out) {
    if (!scan_space(s)) return false;
    const char *start = s.line.c_str() + s.pos;
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(start, &end, 10);
    if (end == start || errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
    s.pos += static_cast<std::size_t>(end - start);
    *out = static_cast<int>(value);
    return true;
}

bool scan_double(text_scan &s, double *out) {
    if (!scan_space(s)) return false;
    const char *start = s.line.c_str() + s.pos;
    char *end = nullptr;
    const double value = std::strtod(start, &end);
    if (end == start) return false;
    s.pos += static_cast<std::size_t>(end - start);
    *out = value;
    return true;
}

unsigned scan_line(const text_scan &s) {
    return s.line_no == 0 ? 1 : s.line_no;
}

bool scan_at_separator(const text_scan &s) {
    return s.pos >= s.line.size() || is_space(s.line[s.pos]);
}

bool scan_double_in_line(text_scan &s, double *out) {
    while (s.pos < s.line.size() && is_space(s.line[s.pos]))
        ++s.pos;
    if (s.pos >= s.line.size()) return false;
    const char *start = s.line.c_str() + s.pos;
    char *end = nullptr;
    const double value = std::strtod(start, &end);
    if (end == start) return false;
    s.pos += static_cast<std::size_t>(end - start);
    if (!scan_at_separator(s)) return false;
    *out = value;
    return true;
}

bool scan_rest_blank(const text_scan &s) {
    for (std::size_t i = s.pos; i < s.line.size(); ++i)
        if (!is_space(s.line[i])) return false;
    return true;
}

bool scan_next_line(text_scan &s) {
    return next_line(s);
}

} // namespace nurbs_interp
