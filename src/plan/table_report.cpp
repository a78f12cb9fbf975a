#include "plan/table_report.hpp"

#include <algorithm> // max
#include <cstdio>

#include "core/geometric.hpp"
#include "io/format.hpp"

namespace nurbs_interp {

std::vector<std::string> fcp_report_lines(const fcp_table &table, const fcp_accuracy &acc,
                                          const arc_table &arc, int samples, double total,
                                          double feed, double period) {
    cart_point P, d1, d2;
    nurbs_deBoor_eval(acc.worst_u, -1, arc.curve, &P, &d1, &d2, nullptr);
    const int j = acc.worst_piece;
    const double step = feed * period;
    char line[6][260];
    std::snprintf(line[0], sizeof line[0],
                  "E = max |S(u_table(s)) - s| = %.3e mm, the true arc-length miss (within the "
                  "pieces %.3e mm; %d samples per piece, %d past its end, and the knots); "
                  "|u_table(s) - u(s)| up to %.3e",
                  acc.max_s_err, acc.piece_s_err, samples, std::max(4, samples / 4), acc.max_u_err);
    std::snprintf(line[1], sizeof line[1],
                  "max mismatch between adjacent pieces at a breakpoint = %.3e (breakpoint %d)",
                  acc.max_mismatch, acc.mismatch_piece + 1);
    std::snprintf(line[2], sizeof line[2],
                  "last piece at the last breakpoint: 1 %+.3e; curve length %.17g mm", acc.end_err,
                  total);
    std::snprintf(line[3], sizeof line[3],
                  "limited by piece %d%s, s = %.3f .. %.3f mm (%.3f mm long), at u = %.6f, |C'| = "
                  "%.4g mm, radius of curvature %.4g mm",
                  j, acc.worst_past_end ? " past its end" : "", table.sbrk[j], table.sbrk[j + 1],
                  table.sbrk[j + 1] - table.sbrk[j], acc.worst_u, modulus(&d1),
                  curvature_rad_at_point(&d1, &d2));
    std::snprintf(line[4], sizeof line[4],
                  "E max %.3e mm: at %g mm/s (v*T = %g mm) a step misses v*T by up to E / (v*T) "
                  "= %.2e",
                  acc.max_s_err, feed, step, acc.max_s_err / step);
    std::snprintf(line[5], sizeof line[5],
                  "a step across a joint on the piece it starts on misses by up to %.3e mm "
                  "(none: 0)",
                  acc.joint_reach_err);
    return {line[0], line[1], line[2], line[3], line[4], line[5]};
}

std::string fcp_table_miss(const fcp_table &table, const fcp_accuracy &acc, double step) {
    if (fcp_table_finite(table) && acc.max_s_err <= step) return "";
    return "the table misses a step by up to E max = " + fmt("%.3e", acc.max_s_err) +
           " mm (piece " + std::to_string(acc.worst_piece) +
           (acc.worst_past_end ? " past its end" : "") + ", s = " + fmt("%.3f", acc.worst_s) +
           " mm of " + fmt("%.3f", table.sbrk.back()) +
           "), more than a whole step v*T = " + fmt("%g", step) + " mm";
}

} // namespace nurbs_interp
