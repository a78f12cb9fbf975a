// nurbs_import: reads the NURBS curves of a G-code program (G06.2 blocks) or a DXF drawing
// (SPLINE entities), lists them, and writes one as a curve file.
#include <cstdio>
#include <string>
#include <vector>

#include "io/atomic_file.hpp"
#include "io/curve_file.hpp"
#include "io/curve_import.hpp"
#include "io/format.hpp"
#include "io/import_error.hpp"
#include "io/input_file.hpp"
#include "core/curve_def.hpp"
#include "common/tool_cli.hpp"

using namespace nurbs_interp;

namespace {

struct options {
    std::string input, out, format;
    bool list = false;
    long index = 0;
};

// Prints one line per curve: index, kind, degree, points, dimension, knot range, origin.
void list_curves(const std::vector<imported_curve> &curves) {
    for (std::size_t i = 0; i < curves.size(); ++i) {
        const curve_def &c = curves[i].curve;
        std::printf("%zu\t%s\tdegree %u\t%zu points\t%uD\tknots %s .. %s\t%s\n", i,
                    curves[i].kind.c_str(), c.deg, c.points.size(), c.dim,
                    fmt("%.17g", c.knots.front()).c_str(), fmt("%.17g", c.knots.back()).c_str(),
                    curves[i].origin.c_str());
    }
}

// Writes `c` to `path` atomically once it loads as the bench will load the file (built in
// memory from the same numbers, the same record): when it does not, nothing is written and
// the output is left as it was.
void write_checked(const curve_def &c, const std::string &path) {
    try {
        nurbs_curve loaded;
        nurbs_curve_alloc_def(c, &loaded);
    } catch (const curve_def_error &e) {
        throw tool_failure("the curve file written for " + path +
                           " does not load back (nothing written): " + path + ": " + e.what());
    }
    write_file_atomically(path, [&](std::FILE *f) { curve_file_write(f, c); });
}

// Runs the tool: lists the curves of the input, or writes the one --index picks. Notes on
// what was converted (or taken as millimetres) go to standard error.
int run(const options &o) {
    const imported_curves input = import_curves(o.input, o.format);
    const std::vector<imported_curve> &curves = input.curves;
    if (o.list) {
        for (const std::string &note : input.notes)
            std::fprintf(stderr, "nurbs_import: %s\n", note.c_str());
        list_curves(curves);
        return EXIT_DONE;
    }
    if (o.index < 0 || static_cast<std::size_t>(o.index) >= curves.size())
        throw tool_failure(o.input + " holds " + std::to_string(curves.size()) +
                           (curves.size() == 1 ? " curve" : " curves") + "; --index " +
                           std::to_string(o.index) + " is outside 0.." +
                           std::to_string(curves.size() - 1));
    const imported_curve &c = curves[static_cast<std::size_t>(o.index)];
    if (!c.note.empty()) std::fprintf(stderr, "nurbs_import: %s\n", c.note.c_str());
    const std::string path = o.out.empty() ? import_output_path(o.input) : o.out;
    refuse_output_over_inputs(path, "-o", {o.input});
    remove_temporaries_on_signal();
    write_checked(c.curve, path);
    std::printf("nurbs_import: %s curve %ld (%s, %s): degree %u, %zu control points -> %s\n",
                o.input.c_str(), o.index, c.kind.c_str(), c.origin.c_str(), c.curve.deg,
                c.curve.points.size(), path.c_str());
    return EXIT_DONE;
}

const char *const DESCRIPTION =
    "Reads the NURBS curves of INPUT and writes one of them as a curve file (the header, one\n"
    "K line per knot, one line per control point; values printed so that they read back\n"
    "exactly), or lists them all.\n"
    "INPUT is a G-code program (.ngc .nc .gcode .tap .cnc) with G06.2 (or G6.2) NURBS block\n"
    "sequences, or a DXF drawing (.dxf) with SPLINE entities in its ENTITIES section; any\n"
    "other name is taken as DXF when its content begins with group code 0 and SECTION, else\n"
    "as G-code. --format overrides both. INPUT is read once, whole (a pipe or a FIFO works).";

// Returns the help's footer: the formats, the units, the refusals, with the bounds stated.
std::string footer() {
    return "G-code: \"G06.2 [P<rank>] K<knot> X Y [Z] [R<weight>] [F]\", then \"K X Y [Z] [R]\" "
           "per\n"
           "control point, then exactly <rank> blocks \"K<knot>\" (rank = degree + 1, default 4). "
           "An\n"
           "axis left out keeps its last programmed value (0 if never), R defaults to 1; block\n"
           "numbers, comments, % lines and other words are skipped. A number may have an exponent\n"
           "as %g writes it: an e or E directly after its digits, an optional sign, digits\n"
           "(\"X1e1\" is X 10; \"X1 E1\" is X 1 and a skipped word E1). Units: millimetres; after\n"
           "G20 (inches) X, Y, Z are multiplied by 25.4 (a note says so), G21 is millimetres.\n"
           "Dimension 3 when a Z is given in the sequence.\n"
           "DXF (ASCII): control points 10/20/30, knots 40, weights 41 (flag 70 bit 4), degree "
           "71;\n"
           "dimension 3 when a control point has z != 0. Units: the header's $INSUNITS converts\n"
           "the control points to millimetres (1 inches x25.4, 2 feet, 5 cm, 6 m, ... up to 24 US\n"
           "survey miles; a note says so); 0 (unitless) or an unknown code is taken as\n"
           "millimetres with a warning; no $INSUNITS: millimetres. Knots and weights are never\n"
           "scaled. A UTF-8 byte-order mark at the start of either format is skipped.\n"
           "Refused, with the file and line (G-code) or the entity (DXF): decreasing knots, a "
           "wrong\n"
           "number of trailing knots, a degree outside 2..25, a weight that is not positive, a "
           "value\n"
           "that is not a number, incremental mode (G91) at a curve, a spline given by fit points\n"
           "only, an unclamped knot vector, inconsistent counts, more than " +
           std::to_string(IMPORT_MAX_POINTS) +
           " control points\n"
           "in the file (what a curve file loads), an input of more than " +
           std::to_string(IMPORT_MAX_BYTES) +
           " bytes, and an\n"
           "input without a curve. The output (default: INPUT with extension .nurbs) is loaded back\n"
           "as a check before it replaces the old file; it may not be INPUT.";
}

// Declares the options of the tool.
void add_options(CLI::App &app, options &o) {
    app.add_option("INPUT", o.input, "G-code program or DXF drawing")
        ->required()
        ->type_name("INPUT");
    CLI::Option *list =
        app.add_flag("--list", o.list, "list the curves, one line each; write nothing");
    app.add_option("--index", o.index, "the curve to write, counted from 0")
        ->check(whole_in(0, 100000000))
        ->capture_default_str()
        ->excludes(list);
    app.add_option("-o", o.out, "curve file to write (default: INPUT with extension .nurbs)")
        ->type_name("FILE")
        ->excludes(list);
    app.add_option("--format", o.format, "read INPUT as this format (default: by name/content)")
        ->check(CLI::IsMember({"gcode", "dxf"}))
        ->type_name("gcode|dxf");
}

} // namespace

int main(int argc, char **argv) {
    options o;
    return tool_main(
        argc, argv, "nurbs_import", DESCRIPTION, with_outputs_help(footer()),
        [&](CLI::App &app) { add_options(app, o); }, [&] { return run(o); });
}
