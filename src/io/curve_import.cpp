#include "io/curve_import.hpp"

#include <algorithm> // find of a note
#include <cctype>    // tolower

#include "io/dxf_spline.hpp"
#include "io/gcode_nurbs.hpp"
#include "io/input_file.hpp"

namespace nurbs_interp {

std::string path_extension(const std::string &path) {
    const std::size_t slash = path.find_last_of('/'), dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string e = path.substr(dot);
    for (char &c : e)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return e;
}

std::string import_format_named(const std::string &path, const std::string &format) {
    if (!format.empty()) return format;
    const std::string e = path_extension(path);
    if (e == ".dxf") return "dxf";
    for (const char *g : {".ngc", ".nc", ".gcode", ".tap", ".cnc"})
        if (e == g) return "gcode";
    return "";
}

imported_curves import_curves(const std::string &path, const std::string &format) {
    const std::string named = import_format_named(path, format);
    const std::string what = named == "dxf"     ? "DXF drawing"
                             : named == "gcode" ? "G-code program"
                                                : "input";
    std::string content, error;
    if (!read_input_whole(path, what, IMPORT_MAX_BYTES, &content, &error))
        throw import_error(error);
    const bool dxf = named.empty() ? dxf_signature(content) : named == "dxf";
    imported_curves out;
    auto add = [&](curve_def &&c, const char *kind, const std::string &origin,
                   const std::string &note) {
        out.curves.push_back({std::move(c), kind, origin, note});
        if (!note.empty() && std::find(out.notes.begin(), out.notes.end(), note) == out.notes.end())
            out.notes.push_back(note);
    };
    if (dxf) {
        for (dxf_curve &c : read_dxf_splines_text(content, path))
            add(std::move(c.curve), "DXF SPLINE", c.entity, c.note);
    } else {
        for (gcode_curve &c : read_gcode_nurbs_text(content, path))
            add(std::move(c.curve), "G06.2 NURBS", "line " + std::to_string(c.line), c.note);
    }
    return out;
}

std::string import_output_path(const std::string &path) {
    const std::string e = path_extension(path);
    return path.substr(0, path.size() - e.size()) + ".nurbs";
}

} // namespace nurbs_interp
