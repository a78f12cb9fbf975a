// What the curve importers (G-code NURBS blocks, DXF splines) share: the error they throw and
// the bounded reading of one text line.
#pragma once

#include <cstddef>
#include <istream>
#include <stdexcept>
#include <streambuf>
#include <string>

namespace nurbs_interp {

// An input that cannot be imported; the message is one line naming the file and the line
// (G-code) or the entity (DXF).
struct import_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The most control points an import takes from one file, over all its curves. A curve file
// loads at most about 4.29 million points (1000 * (points - degree) + 1 must fit in 32 bits),
// so every curve an import takes can be written and loaded back; a point costs about 45 bytes
// with its knot and the knot's line, so an import's curves stay below about 200 MB.
inline constexpr std::size_t IMPORT_MAX_POINTS = 4000000;
static_assert(1000 * (IMPORT_MAX_POINTS - 2) + 1 <= 0xffffffffULL,
              "every curve an import takes must load (degree 2 needs the most sub-knots)");

// Returns the refusal of an input beyond IMPORT_MAX_POINTS, in one wording for both formats.
inline std::string import_bound_text() {
    return "an import takes at most " + std::to_string(IMPORT_MAX_POINTS) +
           " control points per file (the most that a curve file written by it can load)";
}

// The largest input an import reads (it is read into memory once): 10^9 bytes, room for
// IMPORT_MAX_POINTS control points written with every digit in either format.
inline constexpr std::size_t IMPORT_MAX_BYTES = 1000000000;

// The longest line the importers read; longer lines are refused rather than buffered.
inline constexpr std::size_t IMPORT_MAX_LINE = 65536;

// Removes the UTF-8 byte-order mark some editors put at the start of a file from `first`, the
// file's first line (or first bytes).
inline void import_skip_bom(std::string &first) {
    if (first.rfind("\xEF\xBB\xBF", 0) == 0) first.erase(0, 3);
}

// A read-only stream over text held elsewhere (no copy: an import's input may be large).
struct import_text_buffer : std::streambuf {
    explicit import_text_buffer(const std::string &text) {
        char *b = const_cast<char *>(text.data()); // only read: the get area is never written
        setg(b, b, b + text.size());
    }
};

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
