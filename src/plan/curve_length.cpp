#include "plan/curve_length.hpp"

#include <cmath>  // isfinite, fabs
#include <cstdio> // fprintf

#include "io/curve_load.hpp" // curve_error
#include "io/format.hpp"
#include "io/progress.hpp"

namespace nurbs_interp {

void tool_arc_table(nurbs_curve *curve, const std::string &path, const std::string &tool,
                    arc_table *tab) {
    progress_line line(tool + ": measuring " + path);
    arc_table_build(curve, tab, [&](double done) { line.show(done); });
    line.done();
    const double len = arc_table_length(*tab);
    if (!std::isfinite(len))
        throw curve_error(path + ": the curve's length is not finite (its arithmetic overflows)");
    if (!(len > 0))
        throw curve_error(path + ": the curve has zero length (all its points coincide)");
    if (tab->unconverged > 0)
        std::fprintf(stderr,
                     "%s: warning: %s: the arc length of %zu knot span%s fell short of the "
                     "tolerance (relative %g) where the evaluation's rounding leaves nothing to "
                     "resolve; length %.9f mm, error estimate %.3g mm\n",
                     tool.c_str(), path.c_str(), tab->unconverged, tab->unconverged == 1 ? "" : "s",
                     ARC_REL_TOL, len, tab->error);
}

double driver_length_beside(nurbs_curve *curve, double accurate, const std::string &path,
                            const std::string &tool) {
    const double driver =
        measure_length_with_progress(curve, tool + ": measuring " + path + " as the driver does:");
    if (std::fabs(driver - accurate) <= DRIVER_LENGTH_AGREEMENT * accurate) return driver;
    std::fprintf(stderr,
                 "%s: warning: %s: the driver's quadrature over the whole curve measures %s mm, "
                 "the per-span length is %s mm (%.3g relative apart, more than %g); using the "
                 "per-span length\n",
                 tool.c_str(), path.c_str(), fmt("%.17g", driver).c_str(),
                 fmt("%.17g", accurate).c_str(), std::fabs(driver - accurate) / accurate,
                 DRIVER_LENGTH_AGREEMENT);
    return accurate;
}

} // namespace nurbs_interp
