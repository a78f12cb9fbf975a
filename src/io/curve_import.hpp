// Reading the curves of an input in either import format (G-code G06.2 blocks, DXF SPLINE
// entities): the format told from its name or its content, each curve with where it came from.
#pragma once

#include <string>
#include <vector>

#include "core/curve_def.hpp"

namespace nurbs_interp {

// A curve read from an input, where it came from (as a listing shows it), and the reader's
// note on it (a unit conversion; empty when none).
struct imported_curve {
    curve_def curve;
    std::string kind;   // "G06.2 NURBS" or "DXF SPLINE"
    std::string origin; // "line <n>" (G-code) or the entity, "SPLINE 1 (handle 2F)" (DXF)
    std::string note;
};

// The curves of an input and the notes of its reader, each distinct note once.
struct imported_curves {
    std::vector<imported_curve> curves;
    std::vector<std::string> notes;
};

// Returns the extension of `path` in lower case, with its dot ("" when it has none).
std::string path_extension(const std::string &path);

// Returns "gcode" or "dxf": `format` when not empty, else what the extension of `path` names
// (.dxf; .ngc .nc .gcode .tap .cnc), else "" (the content must tell).
std::string import_format_named(const std::string &path, const std::string &format);

// Returns the curves of the input at `path`, read once, whole (a pipe or a FIFO works), at
// most IMPORT_MAX_BYTES. Its format is import_format_named(path, format), else DXF when the
// content begins like a DXF drawing (dxf_signature), else G-code. Throws import_error: the
// input does not open or is too large, or its reader refuses it.
imported_curves import_curves(const std::string &path, const std::string &format);

// Returns `path` with its extension replaced by ".nurbs" (appended when it has none).
std::string import_output_path(const std::string &path);

} // namespace nurbs_interp
