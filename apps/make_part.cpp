// make_part: writes the plate outline of src/shapes/part_outline.hpp (one clamped rational
// NURBS curve of degree 2) twice: as a G-code program with a G06.2 block sequence and as a DXF
// drawing with a single SPLINE entity, both printed so that importing either gives the same
// curve exactly.
#include <cstdio>
#include <filesystem>
#include <string>

#include "io/atomic_file.hpp"
#include "io/dxf_spline.hpp"
#include "io/gcode_nurbs.hpp"
#include "shapes/part_outline.hpp"
#include "common/tool_cli.hpp"

using namespace nurbs_interp;

namespace {

// The program's heading: its number and what it cuts (the rest of gcode_job as it is).
const gcode_job PART_PROGRAM = {{"O1001 (PART OUTLINE: PLATE 120 X 80, CORNERS R10, SLOT 20 X 15)",
                                 "(written by make_part: one degree-2 rational NURBS, rank 3)"}};

// The drawing's comment and layer.
const dxf_drawing PART_DRAWING = {
    "part outline written by make_part: plate 120 x 80 mm, corners R10, slot 20 x 15", "OUTLINE"};

// Throws when the two outputs are the same file.
void refuse_same_output(const std::string &gcode, const std::string &dxf) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const bool same = fs::weakly_canonical(fs::absolute(gcode, ec), ec) ==
                      fs::weakly_canonical(fs::absolute(dxf, ec), ec);
    if (same || gcode == dxf)
        throw tool_failure("--gcode and --dxf name the same file (" + gcode + ")");
}

const char *const DESCRIPTION =
    "Writes the outline of a machined plate, 120 x 80 mm with corners of radius 10 mm and a\n"
    "slot 20 mm wide and 15 mm deep in its top edge, as one clamped rational NURBS curve of\n"
    "degree 2: exact quarter circles at the corners (middle weight sqrt(2)/2), straight edges\n"
    "as single pieces, real corners in the slot. The same curve is written as a G-code\n"
    "program (one G06.2 block sequence, rank 3) and as a DXF drawing (one SPLINE), with every\n"
    "value printed so that it reads back exactly (nurbs_import takes either).";

const char *const FOOTER =
    "--gcode and --dxf may not name the same file.";

} // namespace

int main(int argc, char **argv) {
    std::string gcode = "part_outline.ngc", dxf = "part_outline.dxf";
    return tool_main(
        argc, argv, "make_part", DESCRIPTION, with_outputs_help(FOOTER),
        [&](CLI::App &app) {
            app.add_option("--gcode", gcode, "G-code program to write")
                ->type_name("FILE")
                ->capture_default_str();
            app.add_option("--dxf", dxf, "DXF drawing to write")
                ->type_name("FILE")
                ->capture_default_str();
        },
        [&] {
            refuse_same_output(gcode, dxf);
            const part_outline o = plate_outline();
            std::size_t at = 0;
            if (const std::string p = curve_def_problem(o.curve, &at); !p.empty())
                throw tool_failure("the outline is not a valid curve: " + p);
            remove_temporaries_on_signal();
            atomic_file g(gcode), d(dxf);
            gcode_nurbs_write(g.stream(), o.curve, PART_PROGRAM);
            dxf_spline_write(d.stream(), o.curve, PART_DRAWING);
            g.commit();
            d.commit();
            std::printf("make_part: plate outline, %zu pieces, %zu control points, degree 2, "
                        "length %.6f mm -> %s, %s\n",
                        o.joints.size(), o.curve.points.size(), o.length, gcode.c_str(),
                        dxf.c_str());
            return EXIT_DONE;
        });
}
