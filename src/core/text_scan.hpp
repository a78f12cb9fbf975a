// A line-numbered reader for the text formats the bench reads (curve file, feed profile).
// It follows the rules of formatted input: a white-space directive matches any run of white
// space (none included, across lines), a number may be preceded by white space, a literal
// character must match exactly. Lines longer than a cap are refused, so a corrupt file can
// never make the reader hold more than one capped line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace nurbs_interp {

struct text_scan {
    std::FILE *file = nullptr;
    std::string line;      // the current line, without its line feed
    std::size_t pos = 0;   // cursor within `line`
    unsigned line_no = 0;  // 1-based number of `line`; 0 before the first read
    bool at_end = false;   // no line left after `line`
    bool too_long = false; // a line exceeded `max_line` characters
    std::size_t max_line = 4096;
};

// Returns a scanner positioned at the first character of `file` (which it does not own).
text_scan text_scan_open(std::FILE *file, std::size_t max_line = 4096);

// Skips any run of white space, crossing line ends. Returns false at the end of the input.
bool scan_space(text_scan &s);

// Matches the literal character `c` at the cursor (no white space is skipped first).
bool scan_literal(text_scan &s, char c);

// Reads an unsigned decimal integer (optional '+', digits only) after optional white space.
// Returns false if there is none or it does not fit in 32 bits.
bool scan_u32(text_scan &s, std::uint32_t *out);

// Reads a signed decimal integer after optional white space; false if none or out of int range.
bool scan_int(text_scan &s, int *out);

// Reads a floating-point number (any form strtod takes) after optional white space.
bool scan_double(text_scan &s, double *out);

// Returns the 1-based line number of the cursor (of the last line once the input has ended).
unsigned scan_line(const text_scan &s);

// True when the cursor is at white space, at the end of its line or at the end of the input:
// the place where a number must stop (a number followed by "abc" is not a number).
bool scan_at_separator(const text_scan &s);

// ---- Line-oriented reading (for formats where a line holds a fixed set of fields) ----

// Reads a floating-point number on the current line only (white space before it skipped,
// not line ends); false when the line has no number left or the number is not followed by
// white space or the end of the line.
bool scan_double_in_line(text_scan &s, double *out);

// True when nothing but white space is left on the current line.
bool scan_rest_blank(const text_scan &s);

// Moves the cursor to the start of the next line; false at the end of the input (or on an
// over-long line, see too_long).
bool scan_next_line(text_scan &s);

} // namespace nurbs_interp
