// Numbers as text for messages and reports.
#pragma once

#include <cstdio>
#include <string>

namespace nurbs_interp {

// Returns x printed with the printf `format` (one double conversion, e.g. "%.3g").
inline std::string fmt(const char *format, double x) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, x);
    return buf;
}

} // namespace nurbs_interp
