// The SPLINE reader reads the group codes itself rather than through dxflib (3.26, as in the
// Debian archive). dxflib delivers the control points, weights and knots of a well-formed
// SPLINE exactly, but reading hand-written drawings with DL_Dxf::in and a DL_CreationAdapter
// showed that it cannot be trusted with anything else:
//  - it sizes its arrays by the counts 72 and 73 and zero-fills what the entity leaves out, and
//    drops values beyond the counts: a missing knot or control point arrives as 0, so
//    inconsistent counts cannot be detected;
//  - a SPLINE without 72 and 73 (one given by fit points only) receives the knots and control
//    points of the SPLINE before it;
//  - the last entity is lost without a word when the file ends before the next group 0;
//  - a value that is not a number reads as 0 ("abc") or as its prefix ("1.2.3" as 1.2);
//  - it allocates whatever 72 or 73 states (72 = 2000000000 throws bad_alloc, or exhausts
//    memory where overcommit lets the allocation through);
//  - a line longer than 1024 characters makes its std::istream reader loop for ever, and its
//    FILE* reader split the line, taking the rest as the next group code;
//  - it reports no line numbers, and DL_Dxf::in fails only when the file does not open.
// Its writer (DL_WriterA::dxfReal) prints reals with 16 fixed decimals, which loses values
// below 1e-16 and digits of values below 0.1, so the writer here prints its own groups too.
#include "io/dxf_spline.hpp"

#include <algorithm>
#include <cctype>
#include <charconv> // from_chars: exact and locale-independent
#include <cmath>
#include <sstream>

#include "io/format.hpp"
#include "io/input_file.hpp"
#include "core/nurbs.hpp" // NURBS_MAX_DEGREE

namespace nurbs_interp {

namespace {

// A group: its code, its value as written, and the line of the code.
struct dxf_pair {
    int code = 0;
    std::string value;
    unsigned line = 0;
};

struct dxf_reader {
    std::istream &in;
    std::string name;
    unsigned line = 0;
    std::size_t total_points = 0; // over every SPLINE read so far
};

// Throws the import_error "<file>:<line>: <what>".
[[noreturn]] void fail_at(const dxf_reader &r, unsigned line, const std::string &what) {
    throw import_error(r.name + ":" + std::to_string(line) + ": " + what);
}

// Returns `text` with every byte outside printable ASCII shown as '?' (messages stay one line).
std::string printable(const std::string &text) {
    std::string out = text.size() > 40 ? text.substr(0, 40) + "..." : text;
    for (char &c : out)
        if (c < 0x20 || c > 0x7e) c = '?';
    return out;
}

// Returns `text` without leading and trailing blanks.
std::string trim(const std::string &text) {
    const std::size_t b = text.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    return text.substr(b, text.find_last_not_of(" \t\r") - b + 1);
}

// Returns true when `text` (trimmed) is a whole number that fits a long, stored in `*v`.
bool parse_long(const std::string &text, long *v) {
    const std::string t = trim(text);
    const char *b = t.data() + (!t.empty() && t[0] == '+' ? 1 : 0), *e = t.data() + t.size();
    const auto r = std::from_chars(b, e, *v);
    return !t.empty() && r.ec == std::errc() && r.ptr == e;
}

// Returns true when `text` (trimmed) is a finite real number, stored in `*v`.
bool parse_real(const std::string &text, double *v) {
    const std::string t = trim(text);
    const char *b = t.data() + (!t.empty() && t[0] == '+' ? 1 : 0), *e = t.data() + t.size();
    const auto r = std::from_chars(b, e, *v, std::chars_format::general);
    return !t.empty() && r.ec == std::errc() && r.ptr == e && std::isfinite(*v);
}

// Reads one line into `line`; false at the end of the input. Throws on a line too long.
bool read_line(dxf_reader &r, std::string &line) {
    bool too_long = false;
    if (!import_read_line(r.in, line, &too_long)) return false;
    ++r.line;
    if (too_long)
        fail_at(r, r.line, "line longer than " + std::to_string(IMPORT_MAX_LINE) + " characters");
    return true;
}

// Reads the next group into `*p`; false at the end of the input. Throws when the code is not a
// number or its value line is missing.
bool next_pair(dxf_reader &r, dxf_pair *p) {
    std::string code;
    if (!read_line(r, code)) return false;
    p->line = r.line;
    long c = 0;
    if (!parse_long(code, &c) || c < -5 || c > 1071)
        fail_at(r, r.line,
                "\"" + printable(trim(code)) + "\" is not a group code (a whole number)");
    p->code = static_cast<int>(c);
    if (!read_line(r, p->value))
        fail_at(r, p->line, "group code " + std::to_string(c) + " has no value (the file ends)");
    return true;
}

// A SPLINE as its groups give it.
struct spline_groups {
    std::string entity;
    long flags = 0, degree = -1, n_knots = -1, n_control = -1, n_fit = -1;
    std::vector<double> knots, weights;
    std::vector<nurbs_ctrl_pt> points;
    std::vector<bool> has_y;
    std::size_t fit_points = 0;
};

// Throws the import_error "<file>: <entity>: <what>".
[[noreturn]] void fail_entity(const dxf_reader &r, const spline_groups &s, const std::string &w) {
    throw import_error(r.name + ": " + s.entity + ": " + w);
}

// Returns the value of group `p` as a real; throws naming the entity when it is not one.
double real_of(const dxf_reader &r, const spline_groups &s, const dxf_pair &p) {
    double v = 0;
    if (!parse_real(p.value, &v))
        fail_entity(r, s,
                    "group " + std::to_string(p.code) + " value \"" + printable(trim(p.value)) +
                        "\" (line " + std::to_string(p.line + 1) + ") is not a finite number");
    return v;
}

// Returns the value of group `p` as a count or flag in [0, hi]; throws naming the entity.
long count_of(const dxf_reader &r, const spline_groups &s, const dxf_pair &p, long hi) {
    long v = 0;
    const std::string where = "group " + std::to_string(p.code) + " value \"" +
                              printable(trim(p.value)) + "\" (line " + std::to_string(p.line + 1) +
                              ")";
    if (!parse_long(p.value, &v)) fail_entity(r, s, where + " is not a whole number");
    if (v < 0 || v > hi) fail_entity(r, s, where + " is outside 0.." + std::to_string(hi));
    return v;
}

// Takes a coordinate group (10, 20, 30) of the control points.
void take_coordinate(dxf_reader &r, spline_groups &s, const dxf_pair &p) {
    const double v = real_of(r, s, p);
    if (p.code == 10) {
        if (!s.points.empty() && !s.has_y.back())
            fail_entity(r, s,
                        "control point " + std::to_string(s.points.size()) + " has no y (20)");
        if (++r.total_points > IMPORT_MAX_POINTS)
            fail_entity(r, s, "more control points than that: " + import_bound_text());
        s.points.push_back({v, 0, 0, 1});
        s.has_y.push_back(false);
        return;
    }
    if (s.points.empty())
        fail_entity(r, s,
                    "group " + std::to_string(p.code) + " (line " + std::to_string(p.line) +
                        ") comes before any control point (10)");
    if (p.code == 20) {
        if (s.has_y.back())
            fail_entity(r, s,
                        "control point " + std::to_string(s.points.size()) +
                            " has two y values (20)");
        s.points.back().y = v;
        s.has_y.back() = true;
    } else {
        s.points.back().z = v;
    }
}

// Takes one group of a SPLINE entity (groups it does not use are passed over).
void take_group(dxf_reader &r, spline_groups &s, const dxf_pair &p) {
    const long max_count = static_cast<long>(IMPORT_MAX_POINTS + NURBS_MAX_DEGREE + 1);
    switch (p.code) {
    case 10:
    case 20:
    case 30:
        take_coordinate(r, s, p);
        break;
    case 11:
        ++s.fit_points;
        break;
    case 40:
        if (s.knots.size() == static_cast<std::size_t>(max_count))
            fail_entity(r, s, "more than " + std::to_string(max_count) + " knots");
        s.knots.push_back(real_of(r, s, p));
        break;
    case 41:
        if (s.weights.size() == static_cast<std::size_t>(max_count))
            fail_entity(r, s, "more than " + std::to_string(max_count) + " weights");
        s.weights.push_back(real_of(r, s, p));
        break;
    case 70:
        s.flags = count_of(r, s, p, 65535);
        break;
    case 71:
        s.degree = count_of(r, s, p, 1000000);
        break;
    case 72:
        s.n_knots = count_of(r, s, p, max_count);
        break;
    case 73:
        s.n_control = count_of(r, s, p, max_count);
        // Refused when declared, before its points are read.
        if (r.total_points + static_cast<std::size_t>(s.n_control) > IMPORT_MAX_POINTS)
            fail_entity(r, s,
                        "group 73 declares " + std::to_string(s.n_control) + " control points" +
                            (r.total_points ? " after " + std::to_string(r.total_points) +
                                                  " in the splines before it"
                                            : std::string()) +
                            ": " + import_bound_text());
        break;
    case 74:
        s.n_fit = count_of(r, s, p, 1000000000);
        break;
    default:
        break;
    }
}

// Throws naming the entity unless the degree, the counts and the weights of `s` agree.
void check_counts(const dxf_reader &r, spline_groups &s) {
    if (s.degree < 0) fail_entity(r, s, "no degree (group 71)");
    if (s.degree < 2 || s.degree > NURBS_MAX_DEGREE)
        fail_entity(r, s,
                    "degree " + std::to_string(s.degree) + " is outside 2.." +
                        std::to_string(NURBS_MAX_DEGREE));
    if (s.points.empty())
        fail_entity(r, s,
                    s.fit_points > 0 || s.n_fit > 0
                        ? "given by fit points only (no control points, groups 10/20/30)"
                        : "no control points (groups 10/20/30)");
    if (!s.has_y.back())
        fail_entity(r, s, "control point " + std::to_string(s.points.size()) + " has no y (20)");
    const std::size_t n = s.points.size(), p = static_cast<std::size_t>(s.degree);
    if (s.n_control >= 0 && static_cast<std::size_t>(s.n_control) != n)
        fail_entity(r, s,
                    "group 73 declares " + std::to_string(s.n_control) +
                        " control points but the entity gives " + std::to_string(n));
    if (s.n_knots >= 0 && static_cast<std::size_t>(s.n_knots) != s.knots.size())
        fail_entity(r, s,
                    "group 72 declares " + std::to_string(s.n_knots) +
                        " knots but the entity gives " + std::to_string(s.knots.size()));
    if (s.knots.size() != n + p + 1)
        fail_entity(r, s,
                    std::to_string(s.knots.size()) + " knots for " + std::to_string(n) +
                        " control points of degree " + std::to_string(p) + "; it takes " +
                        std::to_string(n + p + 1));
    if (!s.weights.empty() && s.weights.size() != n)
        fail_entity(r, s,
                    std::to_string(s.weights.size()) + " weights (41) for " + std::to_string(n) +
                        " control points");
    const bool rational = (s.flags & 4) != 0;
    if (!rational &&
        std::any_of(s.weights.begin(), s.weights.end(), [](double w) { return w != 1.0; }))
        fail_entity(r, s, "weights (41) other than 1 on a spline not flagged rational (70 bit 4)");
}

// Returns the curve of a complete SPLINE; throws naming the entity when it is not one.
curve_def spline_curve(const dxf_reader &r, spline_groups &s) {
    check_counts(r, s);
    curve_def c;
    c.deg = static_cast<std::uint32_t>(s.degree);
    c.points = std::move(s.points);
    for (std::size_t i = 0; i < s.weights.size(); ++i)
        c.points[i].w = s.weights[i];
    c.dim = std::any_of(c.points.begin(), c.points.end(),
                        [](const nurbs_ctrl_pt &q) { return q.z != 0; })
                ? 3
                : 2;
    c.knots = std::move(s.knots);
    std::size_t at = 0;
    const std::string problem = curve_def_problem(c, &at);
    if (!problem.empty()) fail_entity(r, s, problem);
    return c;
}

// Reads the groups of a SPLINE up to the group 0 after it, left in `*p`; returns its curve.
// Throws when the input ends inside the entity.
dxf_curve read_spline(dxf_reader &r, dxf_pair *p, unsigned index) {
    spline_groups s;
    const unsigned first_line = p->line;
    std::string handle;
    s.entity = "SPLINE " + std::to_string(index) + " (line " + std::to_string(first_line) + ")";
    bool more = false;
    while ((more = next_pair(r, p)) && p->code != 0) {
        if (p->code == 5 && handle.empty()) {
            handle = printable(trim(p->value));
            s.entity = "SPLINE " + std::to_string(index) + " (handle " + handle + ")";
        }
        take_group(r, s, *p);
    }
    if (!more)
        fail_at(r, r.line, s.entity + ": the drawing ends inside the entity (no EOF marker)");
    dxf_curve out;
    out.curve = spline_curve(r, s);
    out.entity = s.entity;
    return out;
}

// Returns the value of a group 0 or 2 as a name: trimmed, in upper case.
std::string name_of(const dxf_pair &p) {
    std::string t = trim(p.value);
    for (char &c : t)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return t;
}

// Reads the first group into `*p` as next_pair does, but refuses an input that does not begin
// like a DXF drawing (a group 0 or a 999 comment) as not being one.
bool first_pair(dxf_reader &r, dxf_pair *p) {
    std::string first;
    bool too_long = false;
    if (!import_read_line(r.in, first, &too_long))
        throw import_error(r.name + ": empty file, not a DXF drawing");
    import_skip_bom(first);
    r.line = p->line = 1;
    if (first.rfind("AutoCAD Binary DXF", 0) == 0)
        throw import_error(r.name + ": a binary DXF drawing; only ASCII DXF is read (save it as "
                                    "ASCII DXF)");
    long code = -1;
    if (too_long || !parse_long(first, &code) || (code != 0 && code != 999))
        throw import_error(r.name + ": not a DXF drawing (it does not begin with group code 0 "
                                    "and SECTION)");
    p->code = static_cast<int>(code);
    if (!read_line(r, p->value))
        fail_at(r, 1, "group code " + std::to_string(code) + " has no value (the file ends)");
    return true;
}

// The lengths a drawing's header may state ($INSUNITS, group 70), by code: the name and
// millimetres per unit (0 for code 0, unitless).
struct dxf_unit {
    const char *name;
    double mm;
};
constexpr double AU_MM = 149597870700e3;
const dxf_unit DXF_UNITS[] = {{"unitless", 0},
                              {"inches", 25.4},
                              {"feet", 304.8},
                              {"miles", 1609344},
                              {"millimetres", 1},
                              {"centimetres", 10},
                              {"metres", 1000},
                              {"kilometres", 1e6},
                              {"microinches", 25.4e-6},
                              {"mils", 0.0254},
                              {"yards", 914.4},
                              {"angstroms", 1e-7},
                              {"nanometres", 1e-6},
                              {"micrometres", 1e-3},
                              {"decimetres", 100},
                              {"decametres", 1e4},
                              {"hectometres", 1e5},
                              {"gigametres", 1e12},
                              {"astronomical units", AU_MM},
                              {"light years", 9460730472580800e3},
                              {"parsecs", 648000 / 3.14159265358979323846 * AU_MM},
                              {"US survey feet", 1200000.0 / 3937},
                              {"US survey inches", 100000.0 / 3937},
                              {"US survey yards", 3600000.0 / 3937},
                              {"US survey miles", 6336000000.0 / 3937}};

// Converts the curves of a drawing whose header gives $INSUNITS `code` (as written) to
// millimetres and gives each the note saying so; unitless or unknown codes are taken as
// millimetres with a warning. Throws when a converted coordinate leaves the range of a double.
void apply_units(const dxf_reader &r, const std::string &code, std::vector<dxf_curve> &curves) {
    long u = -1;
    const bool known = parse_long(code, &u) && u >= 0 && u < long(std::size(DXF_UNITS));
    if (known && u == 4) return;
    const std::string what = "$INSUNITS " + printable(trim(code)) + " (" +
                             (known ? DXF_UNITS[u].name : "not a unit code") + ")";
    if (!known || u == 0) {
        for (dxf_curve &c : curves)
            c.note = "warning: " + r.name + ": " + what + ": coordinates taken as millimetres";
        return;
    }
    const double f = DXF_UNITS[u].mm;
    for (dxf_curve &c : curves) {
        for (nurbs_ctrl_pt &q : c.curve.points) {
            q.x *= f, q.y *= f, q.z *= f;
            if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z))
                throw import_error(r.name + ": " + c.entity + ": " + what +
                                   ": a coordinate leaves the range of a double in millimetres");
        }
        c.note = "note: " + r.name + ": " + what + ": coordinates converted to millimetres (x" +
                 fmt("%.10g", f) + ")";
    }
}

// Writes one DXF group: the code right-aligned in three columns, then the value.
void group(std::FILE *f, int code, const std::string &value) {
    std::fprintf(f, "%3d\n%s\n", code, value.c_str());
}

// Writes the SPLINE entity's groups up to its knots and control points.
void spline_head(std::FILE *f, const curve_def &c, const dxf_drawing &d, std::size_t n_knots) {
    group(f, 0, "SPLINE");
    group(f, 5, d.handle);
    group(f, 100, "AcDbEntity");
    group(f, 8, d.layer);
    group(f, 100, "AcDbSpline");
    group(f, 210, "0.0");
    group(f, 220, "0.0");
    group(f, 230, "1.0");
    group(f, 70, c.dim == 2 ? "12" : "4");
    group(f, 71, std::to_string(c.deg));
    group(f, 72, std::to_string(n_knots));
    group(f, 73, std::to_string(c.points.size()));
    group(f, 74, "0");
    group(f, 42, "1e-10");
    group(f, 43, "1e-10");
}

} // namespace

bool dxf_spline_write(std::FILE *f, const curve_def &c, const dxf_drawing &d) {
    const std::vector<double> knots = curve_def_knots(c);
    const auto real = [](double x) { return fmt("%.17g", x); };
    if (!d.comment.empty()) group(f, 999, d.comment);
    group(f, 0, "SECTION");
    group(f, 2, "HEADER");
    group(f, 9, "$ACADVER");
    group(f, 1, "AC1015");
    group(f, 9, "$INSUNITS");
    group(f, 70, "4");
    group(f, 0, "ENDSEC");
    group(f, 0, "SECTION");
    group(f, 2, "ENTITIES");
    spline_head(f, c, d, knots.size());
    for (double k : knots)
        group(f, 40, real(k));
    for (const nurbs_ctrl_pt &p : c.points) {
        group(f, 10, real(p.x));
        group(f, 20, real(p.y));
        group(f, 30, real(c.dim == 3 ? p.z : 0.0));
        group(f, 41, real(p.w));
    }
    group(f, 0, "ENDSEC");
    group(f, 0, "EOF");
    return !std::ferror(f);
}

std::vector<dxf_curve> read_dxf_splines(std::istream &in, const std::string &name) {
    dxf_reader r{in, name};
    dxf_pair p;
    bool more = first_pair(r, &p);
    std::vector<dxf_curve> curves;
    std::string section;
    std::string units = "4"; // millimetres unless the header says otherwise
    unsigned in_entities = 0, in_blocks = 0;
    while (more) {
        const std::string what = p.code == 0 ? name_of(p) : "";
        if (what == "EOF") {
            if (curves.empty())
                throw import_error(name +
                                   ": the drawing holds no SPLINE entity in its ENTITIES "
                                   "section" +
                                   (in_blocks ? " (" + std::to_string(in_blocks) +
                                                    " in block definitions, which are not read)"
                                              : ""));
            apply_units(r, units, curves);
            return curves;
        }
        if (section == "HEADER" && p.code == 9 && trim(p.value) == "$INSUNITS") {
            if ((more = next_pair(r, &p)) && p.code == 70) {
                units = p.value;
                more = next_pair(r, &p);
            }
            continue;
        }
        if (what == "SPLINE" && section == "ENTITIES") {
            curves.push_back(read_spline(r, &p, ++in_entities));
            continue;
        }
        if (what == "SPLINE" && section == "BLOCKS") ++in_blocks;
        if (what == "ENDSEC") section.clear();
        more = next_pair(r, &p);
        if (what == "SECTION" && more && p.code == 2) section = name_of(p);
    }
    fail_at(r, r.line, "the drawing ends without its EOF marker (group 0, EOF): truncated");
}

bool dxf_signature(const std::string &bytes) {
    std::string head = bytes.substr(0, 256);
    import_skip_bom(head);
    if (head.rfind("AutoCAD Binary DXF", 0) == 0) return true;
    std::istringstream in(head);
    std::string code, value;
    bool too_long = false;
    if (!import_read_line(in, code, &too_long) || !import_read_line(in, value, &too_long))
        return false;
    return (trim(code) == "0" && trim(value) == "SECTION") || trim(code) == "999";
}

std::vector<dxf_curve> read_dxf_splines_text(const std::string &text, const std::string &name) {
    import_text_buffer buf(text);
    std::istream in(&buf);
    return read_dxf_splines(in, name);
}

std::vector<dxf_curve> read_dxf_splines(const std::string &path) {
    std::string text, error;
    if (!read_input_whole(path, "DXF drawing", IMPORT_MAX_BYTES, &text, &error))
        throw import_error(error);
    return read_dxf_splines_text(text, path);
}

} // namespace nurbs_interp
