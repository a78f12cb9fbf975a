// What the curve importers (G-code NURBS blocks, DXF splines) share: the error they throw and
// the bounded reading of one text line.
#pragma once

#include <cstddef>
#include <istream>
#include <stdexcept>
#include <string>

namespace nurbs_interp {

// An input that cannot be imported; the message is one line naming the file and the line
// (G-code) or the entity (DXF).
struct import_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The most control points an import takes from one file, over all its curves (a point costs
// about 45 bytes with its knot and the knot's line, so an import stays below about 1 GB).
inline constexpr std::size_t IMPORT_MAX_POINTS = 10000000;

// The longest line the importers read; longer lines are refused rather than buffered.
inline constexpr std::size_t IMPORT_MAX_LINE = 65536;

// Reads the next line of `in` into `line` without its "\n" or "\r\n". Returns false at the end
// of the input (nothing left to read); sets `*too_long` (and stops) when the line holds more
// than IMPORT_MAX_LINE characters.
inline bool import_read_line(std::istream &in, std::string &line, bool *too_long) {
    line.clear();
    *too_long = false;
    std::streambuf *buf = in.rdbuf();
    int c = buf->sbumpc();
    if (c == std::char_traits<char>::eof()) return false;
    while (c != std::char_traits<char>::eof() && c != '\n') {
        if (line.size() == IMPORT_MAX_LINE) {
            *too_long = true;
            return true;
        }
        line.push_back(static_cast<char>(c));
        c = buf->sbumpc();
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

} // namespace nurbs_interp
