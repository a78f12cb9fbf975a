#include "io/fcp_table_file.hpp"

#include <cerrno>
#include <cmath>   // isfinite
#include <cstring> // strerror
#include <filesystem>

#include "io/input_file.hpp"
#include "core/text_scan.hpp"

namespace nurbs_interp {

namespace {

[[noreturn]] void fail(const std::string &path, unsigned line, const std::string &what) {
    throw fcp_file_error(path + ":" + std::to_string(line) + ": " + what);
}

// Moves to the next line that is neither blank nor a comment; false at the end.
bool next_data_line(text_scan &in, const std::string &path) {
    while (scan_next_line(in)) {
        if (scan_rest_blank(in)) continue;
        std::size_t i = in.pos;
        while (i < in.line.size() && (in.line[i] == ' ' || in.line[i] == '\t'))
            ++i;
        if (in.line[i] != '#') return true;
    }
    if (in.too_long) fail(path, scan_line(in), "line longer than 4096 characters");
    return false;
}

// Reads the line "<tag> v1 .. vn" into out[0..n-1]; `what` names it for the messages.
void read_values(text_scan &in, const std::string &path, char tag, double *out, int n,
                 const std::string &what) {
    scan_space(in);
    if (!scan_literal(in, tag) || !scan_at_separator(in))
        fail(path, scan_line(in), what + ": expected a line starting with \"" + tag + " \"");
    for (int i = 0; i < n; ++i) {
        if (!scan_double_in_line(in, &out[i]))
            fail(path, scan_line(in), what + ": expected " + std::to_string(n) + " numbers");
        if (!std::isfinite(out[i])) fail(path, scan_line(in), what + ": a number is not finite");
    }
    if (!scan_rest_blank(in))
        fail(path, scan_line(in), what + ": more than " + std::to_string(n) + " numbers");
}

} // namespace

bool fcp_table_write(std::FILE *out, const fcp_table &table,
                     const std::vector<std::string> &comment) {
    std::fprintf(out, "FCP table: %zu breakpoints\n", table.sbrk.size());
    for (const std::string &line : comment)
        std::fprintf(out, "# %s\n", line.c_str());
    for (double s : table.sbrk)
        std::fprintf(out, "S %.17g\n", s);
    for (const auto &c : table.tht)
        std::fprintf(out, "C %.17g %.17g %.17g %.17g %.17g %.17g\n", c[0], c[1], c[2], c[3], c[4],
                     c[5]);
    return !std::ferror(out);
}

fcp_table fcp_table_read(const std::string &path) {
    std::string error;
    const input_file f = open_input(path, "table file", &error);
    if (!f) throw fcp_file_error(error);
    text_scan in = text_scan_open(f.get());
    long count = 0;
    int end = -1;
    const bool head =
        in.line_no == 1 &&
        std::sscanf(in.line.c_str(), "FCP table: %ld breakpoints%n", &count, &end) == 1;
    if (head) in.pos = static_cast<std::size_t>(end < 0 ? 0 : end);
    if (!head || end < 0 || !scan_rest_blank(in))
        fail(path, 1, "the first line must be \"FCP table: <count> breakpoints\"");
    if (count < 2 || count > FCP_FILE_MAX_BREAKPOINTS)
        fail(path, 1,
             "the breakpoint count " + std::to_string(count) + " is outside 2.." +
                 std::to_string(FCP_FILE_MAX_BREAKPOINTS));
    fcp_table t;
    t.sbrk.resize(count);
    t.tht.resize(count - 1);
    for (long k = 0; k < count; ++k) {
        const std::string what =
            "breakpoint " + std::to_string(k + 1) + " of " + std::to_string(count);
        if (!next_data_line(in, path)) fail(path, scan_line(in), "file ends before " + what);
        read_values(in, path, 'S', &t.sbrk[k], 1, what);
        if (k == 0 && t.sbrk[0] != 0) fail(path, scan_line(in), "the first breakpoint must be 0");
        if (k > 0 && !(t.sbrk[k] > t.sbrk[k - 1]))
            fail(path, scan_line(in), what + " does not rise above the one before it");
    }
    for (long j = 0; j + 1 < count; ++j) {
        const std::string what =
            "piece " + std::to_string(j + 1) + " of " + std::to_string(count - 1);
        if (!next_data_line(in, path)) fail(path, scan_line(in), "file ends before " + what);
        read_values(in, path, 'C', t.tht[j].data(), FCP_PIECE_COEFFS, what);
    }
    if (next_data_line(in, path)) fail(path, scan_line(in), "more lines than the table holds");
    return t;
}

} // namespace nurbs_interp
