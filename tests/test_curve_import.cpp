// Reading an input in either import format: the format from --format, the name or the content;
// each curve with its origin; a note said once however many curves it concerns.
#include <gtest/gtest.h>

#include <string>

#include "io/curve_import.hpp"
#include "io/import_error.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;
using test_util::temp_dir;
using test_util::write_file;

namespace {

TEST(CurveImport, TheNameOrTheOptionNamesTheFormat) {
    EXPECT_EQ(path_extension("dir/Part.NGC"), ".ngc");
    EXPECT_EQ(path_extension("dir.v2/part"), "");
    EXPECT_EQ(path_extension("part"), "");
    EXPECT_EQ(import_format_named("a/b.DXF", ""), "dxf");
    for (const char *g : {"p.ngc", "p.nc", "p.gcode", "p.TAP", "p.cnc"})
        EXPECT_EQ(import_format_named(g, ""), "gcode") << g;
    EXPECT_EQ(import_format_named("p.txt", ""), "");
    EXPECT_EQ(import_format_named("p.dxf", "gcode"), "gcode");
    EXPECT_EQ(import_output_path("dir/part.ngc"), "dir/part.nurbs");
    EXPECT_EQ(import_output_path("dir.v2/part"), "dir.v2/part.nurbs");
}

TEST(CurveImport, ContentTellsWhatTheNameDoesNotAndNotesAreSaidOnce) {
    temp_dir dir;
    // Two splines in inches: both converted, one note for the drawing.
    std::string spline = "  0\nSPLINE\n 71\n2\n";
    for (const char *k : {"0", "0", "0", "1", "1", "1"})
        spline += " 40\n" + std::string(k) + "\n";
    for (const char *xy : {"0\n 20\n0", "1\n 20\n1", "2\n 20\n0"})
        spline += " 10\n" + std::string(xy) + "\n";
    write_file(dir.file("drawing.txt"), "  0\nSECTION\n  2\nHEADER\n  9\n$INSUNITS\n 70\n1\n"
                                        "  0\nENDSEC\n  0\nSECTION\n  2\nENTITIES\n" +
                                            spline + spline + "  0\nENDSEC\n  0\nEOF\n");
    const imported_curves d = import_curves(dir.file("drawing.txt"), "");
    ASSERT_EQ(d.curves.size(), 2u);
    EXPECT_EQ(d.curves[1].kind, "DXF SPLINE");
    EXPECT_EQ(d.curves[1].origin, "SPLINE 2 (line 43)");
    EXPECT_EQ(d.curves[1].curve.points[1].x, 25.4);
    ASSERT_EQ(d.notes.size(), 1u);
    EXPECT_EQ(d.notes[0], d.curves[0].note);
    // Anything else unnamed is G-code; each G20 curve has a note of its own (its line).
    write_file(dir.file("prog.txt"), "G20\nG06.2 P3 K0 X0 Y0\nK0 X1 Y1\nK0 X2 Y0\nK1\nK1\nK1\n"
                                     "G06.2 P3 K0 X0 Y0\nK0 X1 Y1\nK0 X2 Y0\nK1\nK1\nK1\n");
    const imported_curves g = import_curves(dir.file("prog.txt"), "");
    ASSERT_EQ(g.curves.size(), 2u);
    EXPECT_EQ(g.curves[1].kind, "G06.2 NURBS");
    EXPECT_EQ(g.curves[1].origin, "line 8");
    EXPECT_EQ(g.notes.size(), 2u);
    // --format wins over the content; an input that does not open is named.
    EXPECT_THROW(import_curves(dir.file("drawing.txt"), "gcode"), import_error);
    try {
        import_curves(dir.file("none.dxf"), "");
        FAIL();
    } catch (const import_error &e) {
        EXPECT_EQ(std::string(e.what()).rfind(dir.file("none.dxf") + ": cannot open the DXF", 0),
                  0u)
            << e.what();
    }
}

} // namespace
