// NURBS curves from a DXF drawing: the SPLINE entities of its ENTITIES section, given by
// control points (group codes 10/20/30), knots (40), weights (41, when flag 70 has bit 4,
// "rational") and degree (71), with the counts 72 (knots), 73 (control points), 74 (fit
// points). ASCII DXF only; a UTF-8 byte-order mark at the start is skipped. Lengths are
// millimetres: a header variable $INSUNITS (group 70) naming another unit (1 inches, 2 feet,
// 5 centimetres, 6 metres, ..., 24 US survey miles) converts the control points' coordinates
// to millimetres (knots and weights as written); 0 (unitless) or an unknown code is taken as
// millimetres with a warning; a drawing without $INSUNITS is taken as millimetres.
#pragma once

#include <cstdio>
#include <istream>
#include <string>
#include <vector>

#include "core/curve_def.hpp"
#include "io/import_error.hpp"

namespace nurbs_interp {

// One curve of a drawing and the entity it came from, e.g. "SPLINE 2 (handle 2F)": the
// SPLINE's place among the SPLINE entities of the ENTITIES section (from 1) and its handle
// (group code 5), or its line when it has no handle.
struct dxf_curve {
    curve_def curve;
    std::string entity;
    // "note: <name>: ..." when the coordinates were converted to millimetres, "warning: <name>:
    // ..." when the header's unit was taken as millimetres; empty otherwise.
    std::string note;
};

// Returns every SPLINE of the drawing read from `in`, in drawing order; `name` is the file
// name the messages carry. Dimension 3 when a control point has z != 0, else 2. Throws
// import_error "<name>: <entity>: <what>" for a spline given by fit points only, with an
// unclamped knot vector, inconsistent counts, a degree outside 2..25, a weight that is not
// positive or a value that is not a number; "<name>:<line>: <what>" for a file that is not an
// ASCII DXF drawing or ends early; "<name>: ..." for a drawing without a SPLINE. More than
// IMPORT_MAX_POINTS control points are refused.
std::vector<dxf_curve> read_dxf_splines(std::istream &in, const std::string &name);

// Returns the SPLINE curves of the drawing `text`, as read_dxf_splines does (for tests and
// fuzzing).
std::vector<dxf_curve> read_dxf_splines_text(const std::string &text, const std::string &name);

// Returns the SPLINE curves of the drawing at `path`, read once and whole (at most
// IMPORT_MAX_BYTES), as read_dxf_splines does; a file that does not open or is larger is an
// import_error too.
std::vector<dxf_curve> read_dxf_splines(const std::string &path);

// Returns true when `bytes`, a file's content (its first 256 bytes are looked at), begin like a
// DXF drawing: a group code 0 line followed by SECTION, a 999 comment line, or the binary DXF
// sentinel, after a byte-order mark if there is one.
bool dxf_signature(const std::string &bytes);

// What a drawing states beside its spline: a comment (group 999, left out when empty), the
// layer and the handle.
struct dxf_drawing {
    std::string comment;
    std::string layer = "0";
    std::string handle = "2F";
};

// Writes `c` (curve_def_problem found nothing) as a drawing: a header (AutoCAD 2000 format,
// millimetres) and one SPLINE, rational (flag 4) and, in dimension 2, planar (flag 8), with
// every real printed with %.17g so that read_dxf_splines gives the curve back exactly. False
// on a write error.
bool dxf_spline_write(std::FILE *f, const curve_def &c, const dxf_drawing &d);

} // namespace nurbs_interp
