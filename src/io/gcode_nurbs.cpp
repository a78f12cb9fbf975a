#include "io/gcode_nurbs.hpp"

#include <array>
#include <cctype>
#include <charconv> // from_chars: exact and locale-independent
#include <cmath>
#include <cstdlib> // strtod of the written numbers

#include "io/format.hpp"
#include "io/input_file.hpp"
#include "core/nurbs.hpp" // knot_vector_problem

namespace nurbs_interp {

namespace {

// Millimetres per inch, exactly (G20 programs).
constexpr double MM_PER_INCH = 25.4;

// The words of one block: for each letter whether it was given and its (last) value, and the
// G values in the order written.
struct block_words {
    std::array<bool, 26> has{};
    std::array<double, 26> value{};
    std::vector<double> g;
    bool empty = true;
};

// The reader's state: the modal axis values and mode, the curves read, the curve being read.
struct gcode_state {
    std::string name;
    unsigned line = 0;
    double axis[3] = {0, 0, 0}; // last X, Y, Z programmed
    bool incremental = false;   // G91 in force
    double unit = 1.0;          // millimetres per programmed length unit: 25.4 under G20
    std::vector<gcode_curve> curves;
    std::size_t total_points = 0;
    bool in_curve = false;
    gcode_curve cur;
    unsigned rank = 0, trailing = 0;
    bool has_z = false;
    bool in_inches = false; // a control point of the curve being read was programmed in inches
    std::vector<unsigned> knot_lines;
};

// Throws the import_error "<file>:<line>: <what>".
[[noreturn]] void fail(const gcode_state &s, unsigned line, const std::string &what) {
    throw import_error(s.name + ":" + std::to_string(line) + ": " + what);
}

// Returns `text` with every byte outside printable ASCII shown as '?' (messages stay one line).
std::string printable(const std::string &text) {
    std::string out = text.size() > 40 ? text.substr(0, 40) + "..." : text;
    for (char &c : out)
        if (c < 0x20 || c > 0x7e) c = '?';
    return out;
}

// Returns whether the block gives the word `letter` (upper case), and its value.
bool has(const block_words &b, char letter) {
    return b.has[letter - 'A'];
}
double val(const block_words &b, char letter) {
    return b.value[letter - 'A'];
}

// Returns true when text[k] exists and is a decimal digit.
bool digit_at(const std::string &text, std::size_t k) {
    return k < text.size() && std::isdigit(static_cast<unsigned char>(text[k]));
}

// Returns the length of the exponent part ("e" or "E", an optional sign, digits) at text[j],
// 0 when there is none there.
std::size_t exponent_length(const std::string &text, std::size_t j) {
    if (j >= text.size() || (text[j] != 'e' && text[j] != 'E')) return 0;
    std::size_t k = j + 1;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) ++k;
    if (!digit_at(text, k)) return 0;
    while (digit_at(text, k))
        ++k;
    return k - j;
}

// Returns true when `text` is a G-code number ([+-] digits [. digits], digits on at least one
// side of the point, then optionally an exponent e|E [+-] digits as printf's %g writes it) and
// stores it in `*v`; false for anything else, or a value out of range.
bool parse_number(const std::string &text, double *v) {
    std::size_t i = 0, digits = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t start = text[0] == '+' ? 1 : 0;
    for (; digit_at(text, i); ++i)
        ++digits;
    if (i < text.size() && text[i] == '.')
        for (++i; digit_at(text, i); ++i)
            ++digits;
    if (digits > 0) i += exponent_length(text, i);
    if (digits == 0 || i != text.size()) return false;
    const char *end = text.data() + text.size();
    const auto r = std::from_chars(text.data() + start, end, *v);
    return r.ec == std::errc() && r.ptr == end && std::isfinite(*v);
}

// Returns the length of the exponent part at text[j] when it follows a number's digits or
// point directly (no blank between): "X1e1" is X 10, "X1 E1" is X 1 and a word E 1. Else 0.
std::size_t exponent_at(const std::string &text, std::size_t j) {
    if (j == 0 || (!digit_at(text, j - 1) && text[j - 1] != '.')) return 0;
    return exponent_length(text, j);
}

// Returns the line without comments ("(...)" and from ";" on); throws on a comment left open.
// Blanks stay (a word's number may hold blanks, but an exponent must follow its digits).
std::string strip_comments(const gcode_state &s, const std::string &line) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ';') break;
        if (c == '(') {
            const std::size_t close = line.find(')', i);
            if (close == std::string::npos) fail(s, s.line, "comment \"(\" is not closed");
            i = close;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// Returns true for the blanks a block may hold anywhere.
bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Reads the number of the word whose letter is at text[i]: every character up to the next
// letter, blanks left out, an exponent included (exponent_at). Returns the index after it.
std::size_t word_number(const std::string &text, std::size_t i, std::string *number) {
    std::size_t j = i + 1;
    for (;;) {
        while (j < text.size() && !std::isalpha(static_cast<unsigned char>(text[j]))) {
            if (!is_blank(text[j])) number->push_back(text[j]);
            ++j;
        }
        const std::size_t e = j < text.size() && !number->empty() ? exponent_at(text, j) : 0;
        if (e == 0 || number->find_first_of("eE") != std::string::npos) return j;
        number->append(text, j, e);
        j += e;
    }
}

// Returns the words of the block on the current line (a "%" line or a blank one has none).
block_words parse_block(const gcode_state &s, const std::string &line) {
    block_words b;
    std::string text = strip_comments(s, line);
    const std::size_t first = text.find_first_not_of(" \t");
    if (first != std::string::npos && (text[first] == '%' || text[first] == '/')) {
        if (text[first] == '%') return b;
        text.erase(0, first + 1); // block delete: the block is read as with the switch off
    }
    for (std::size_t i = 0; i < text.size();) {
        if (is_blank(text[i])) {
            ++i;
            continue;
        }
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
        if (letter < 'A' || letter > 'Z')
            fail(s, s.line,
                 "\"" + printable(text.substr(i)) + "\": expected a word (a letter and a number)");
        std::string number;
        const std::size_t j = word_number(text, i, &number);
        double v = 0;
        if (number.empty() || !parse_number(number, &v))
            fail(s, s.line,
                 "word \"" + printable(number.empty() ? text.substr(i, 8) : letter + number) +
                     "\": " +
                     (number.empty() ? std::string(1, letter) + " is not followed by a number"
                                     : "\"" + printable(number) + "\" is not a number"));
        if (letter == 'G') {
            b.g.push_back(v);
        } else {
            if (b.has[letter - 'A'] && std::string("KPRXYZ").find(letter) != std::string::npos)
                fail(s, s.line, std::string(1, letter) + " is given twice in one block");
            b.has[letter - 'A'] = true;
            b.value[letter - 'A'] = v;
        }
        if (letter != 'N') b.empty = false;
        i = j;
    }
    return b;
}

// Returns true when a G value of the block is `code`.
bool has_g(const block_words &b, double code) {
    for (double g : b.g)
        if (g == code) return true;
    return false;
}

// Returns the first G value of the block that moves the axes (G0-G3, G06.2, G80-G89), or -1.
double motion_g(const block_words &b) {
    for (double g : b.g)
        if (g == 0 || g == 1 || g == 2 || g == 3 || g == 6.2 || (g >= 80 && g < 90)) return g;
    return -1;
}

// Applies the block's G90/G91 and G20/G21 to the modal state; they govern the block's own
// axis words too.
void update_mode(gcode_state &s, const block_words &b) {
    if (has_g(b, 90)) s.incremental = false;
    if (has_g(b, 91)) s.incremental = true;
    if (has_g(b, 20)) s.unit = MM_PER_INCH;
    if (has_g(b, 21)) s.unit = 1.0;
}

// Applies the block's modes and X/Y/Z to the modal state, in millimetres (an incremental value
// adds); throws when a value leaves the range of a double.
void update_modal(gcode_state &s, const block_words &b) {
    update_mode(s, b);
    const char letters[3] = {'X', 'Y', 'Z'};
    for (int a = 0; a < 3; ++a) {
        if (!has(b, letters[a])) continue;
        const double mm = val(b, letters[a]) * s.unit;
        s.axis[a] = s.incremental ? s.axis[a] + mm : mm;
        if (!std::isfinite(s.axis[a]))
            fail(s, s.line,
                 std::string(1, letters[a]) + fmt("%.17g", val(b, letters[a])) +
                     " leaves the range of a double in millimetres");
    }
}

// Appends the knot `k` programmed on the current line; throws when it decreases.
void add_knot(gcode_state &s, double k) {
    std::vector<double> &knots = s.cur.curve.knots;
    if (!knots.empty() && k < knots.back())
        fail(s, s.line,
             "K" + fmt("%.17g", k) + " is below the knot before it (K" +
                 fmt("%.17g", knots.back()) + ", line " + std::to_string(s.knot_lines.back()) +
                 "): knots must not decrease");
    knots.push_back(k);
    s.knot_lines.push_back(s.line);
}

// Appends the control point of a point block (its knot too); throws on a bad weight, G91, or
// more points than an import takes.
void add_point(gcode_state &s, const block_words &b) {
    update_mode(s, b);
    if (s.incremental)
        fail(s, s.line,
             "NURBS block in incremental mode (G91): control points must be absolute "
             "(G90)");
    if (++s.total_points > IMPORT_MAX_POINTS)
        fail(s, s.line, "more control points than that: " + import_bound_text());
    const double w = has(b, 'R') ? val(b, 'R') : 1.0;
    if (!(w > 0)) fail(s, s.line, "weight R" + fmt("%.17g", w) + " is not positive");
    update_modal(s, b);
    if (s.unit != 1.0) s.in_inches = true;
    if (has(b, 'Z')) s.has_z = true;
    s.cur.curve.points.push_back({s.axis[0], s.axis[1], s.axis[2], w});
    add_knot(s, val(b, 'K'));
}

// Starts a curve at a G06.2 block: its rank and first control point.
void start_curve(gcode_state &s, const block_words &b) {
    const double rank = has(b, 'P') ? val(b, 'P') : 4.0;
    if (rank != std::floor(rank) || rank < 3 || rank > NURBS_MAX_DEGREE + 1.0)
        fail(s, s.line,
             "rank P" + fmt("%.17g", rank) + " is outside 3.." +
                 std::to_string(NURBS_MAX_DEGREE + 1) + " (degree + 1, degree 2.." +
                 std::to_string(NURBS_MAX_DEGREE) + ")");
    if (!has(b, 'K')) fail(s, s.line, "G06.2 block without a knot K");
    s.in_curve = true;
    s.cur = gcode_curve{};
    s.cur.line = s.line;
    s.rank = static_cast<unsigned>(rank);
    s.trailing = 0;
    s.has_z = false;
    s.in_inches = false;
    s.knot_lines.clear();
    add_point(s, b);
}

// Completes the curve being read: checks it as the curve file will and stores it.
void finish_curve(gcode_state &s) {
    s.in_curve = false;
    curve_def &c = s.cur.curve;
    c.deg = s.rank - 1;
    c.dim = s.has_z ? 3 : 2;
    std::size_t at = 0;
    if (c.points.size() >= c.deg + 1) {
        const std::string p = knot_vector_problem(c.knots, c.deg, &at);
        if (!p.empty())
            fail(s, s.cur.line,
                 "NURBS curve: " + p + " (K on line " + std::to_string(s.knot_lines[at]) + ")");
    }
    const std::string p = curve_def_problem(c, &at);
    if (!p.empty()) fail(s, s.cur.line, "NURBS curve: " + p);
    if (s.in_inches)
        s.cur.note = "note: " + s.name + ":" + std::to_string(s.cur.line) +
                     ": the NURBS curve is programmed in inches (G20): coordinates converted to "
                     "millimetres (x25.4)";
    s.curves.push_back(std::move(s.cur));
}

// Returns the curve being read and how many of its trailing knots came, for messages.
std::string curve_context(const gcode_state &s) {
    return "the NURBS curve started at line " + std::to_string(s.cur.line) + " (rank " +
           std::to_string(s.rank) + "): " + std::to_string(s.trailing) + " of its " +
           std::to_string(s.rank) + " trailing knot-only blocks read";
}

// Reads one block inside a curve: a control point, a trailing knot, or a mistake.
void curve_block(gcode_state &s, const block_words &b) {
    if (const double g = motion_g(b); g >= 0)
        fail(s, s.line, "G" + fmt("%g", g) + " inside " + curve_context(s));
    const bool point = has(b, 'X') || has(b, 'Y') || has(b, 'Z') || has(b, 'R');
    if (!has(b, 'K'))
        fail(s, s.line,
             "block is neither a control point (K with X/Y/Z/R) nor a knot-only block (K) of " +
                 curve_context(s));
    if (point && s.trailing > 0)
        fail(s, s.line, "control point after the trailing knot-only blocks of " + curve_context(s));
    if (point) {
        add_point(s, b);
        return;
    }
    add_knot(s, val(b, 'K'));
    if (++s.trailing == s.rank) finish_curve(s);
}

// Returns `x` as a G-code number that reads back to the same double: %.17g, or fixed-point
// digits where %.17g would use an exponent (G-code numbers have none).
std::string gcode_number(double x) {
    std::string s = fmt("%.17g", x);
    if (s.find_first_of("eE") == std::string::npos) return s;
    for (int digits = 17; digits < 400; ++digits) {
        char buf[512];
        std::snprintf(buf, sizeof buf, "%.*f", digits, x);
        if (std::strtod(buf, nullptr) == x) return buf;
    }
    return s;
}

// Returns the G06.2 block of control point i of `c` with knot k, numbered n.
std::string nurbs_block(const curve_def &c, std::size_t i, double k, unsigned n, double feed) {
    const nurbs_ctrl_pt &p = c.points[i];
    std::string block = "N" + std::to_string(n);
    if (i == 0) block += " G06.2 P" + std::to_string(c.deg + 1);
    block += " K" + gcode_number(k);
    if (i == 0 || p.x != c.points[i - 1].x) block += " X" + gcode_number(p.x);
    if (i == 0 || p.y != c.points[i - 1].y) block += " Y" + gcode_number(p.y);
    if (c.dim == 3 && (i == 0 || p.z != c.points[i - 1].z)) block += " Z" + gcode_number(p.z);
    if (p.w != 1) block += " R" + gcode_number(p.w);
    if (i == 0) block += " F" + gcode_number(feed);
    return block;
}

} // namespace

bool gcode_nurbs_write(std::FILE *f, const curve_def &c, const gcode_job &job) {
    const std::vector<double> knots = curve_def_knots(c);
    std::fprintf(f, "%%\n");
    for (const std::string &line : job.heading)
        std::fprintf(f, "%s\n", line.c_str());
    std::fprintf(f, "N10 G21 G90 G17\nN20 G0 X%s Y%s Z%s\nN30 G1 Z%s F%s\n",
                 gcode_number(c.points[0].x).c_str(), gcode_number(c.points[0].y).c_str(),
                 gcode_number(job.safe_z).c_str(), gcode_number(job.cut_z).c_str(),
                 gcode_number(job.plunge_feed).c_str());
    unsigned n = 40;
    for (std::size_t i = 0; i < c.points.size(); ++i, n += 10)
        std::fprintf(f, "%s\n", nurbs_block(c, i, knots[i], n, job.feed).c_str());
    for (std::size_t i = c.points.size(); i < knots.size(); ++i, n += 10)
        std::fprintf(f, "N%u K%s\n", n, gcode_number(knots[i]).c_str());
    std::fprintf(f, "N%u G0 Z%s\nN%u M30\n%%\n", n, gcode_number(job.safe_z).c_str(), n + 10);
    return !std::ferror(f);
}

std::vector<gcode_curve> read_gcode_nurbs(std::istream &in, const std::string &name) {
    gcode_state s;
    s.name = name;
    std::string line;
    bool too_long = false;
    while (import_read_line(in, line, &too_long)) {
        if (++s.line == 1) import_skip_bom(line);
        if (too_long)
            fail(s, s.line, "line longer than " + std::to_string(IMPORT_MAX_LINE) + " characters");
        const block_words b = parse_block(s, line);
        if (b.empty) continue;
        if (s.in_curve)
            curve_block(s, b);
        else if (has_g(b, 6.2))
            start_curve(s, b);
        else
            update_modal(s, b);
    }
    if (s.in_curve) fail(s, s.line, "the program ends inside " + curve_context(s));
    if (s.line == 0) throw import_error(name + ": empty file, no NURBS block");
    if (s.curves.empty()) fail(s, s.line, "the program holds no NURBS block (G06.2 or G6.2)");
    return std::move(s.curves);
}

std::vector<gcode_curve> read_gcode_nurbs_text(const std::string &text, const std::string &name) {
    import_text_buffer buf(text);
    std::istream in(&buf);
    return read_gcode_nurbs(in, name);
}

std::vector<gcode_curve> read_gcode_nurbs(const std::string &path) {
    std::string text, error;
    if (!read_input_whole(path, "G-code program", IMPORT_MAX_BYTES, &text, &error))
        throw import_error(error);
    return read_gcode_nurbs_text(text, path);
}

} // namespace nurbs_interp
