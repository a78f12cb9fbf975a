#include "compare/stats.hpp"

#include <algorithm> // nth_element, max_element
#include <cmath>     // ceil, isnan, sqrt
#include <cstdint>
#include <limits>

#include "io/tick_clock.hpp"

namespace nurbs_interp {

namespace {
const double NaN = std::numeric_limits<double>::quiet_NaN();
}

double nearest_rank(std::vector<double> &values, double p) {
    if (values.empty()) return NaN;
    const double rank = std::ceil(p * static_cast<double>(values.size()));
    const std::size_t k = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    const auto kth = values.begin() + static_cast<std::ptrdiff_t>(std::min(k, values.size() - 1));
    std::nth_element(values.begin(), kth, values.end());
    return *kth;
}

void summarise(method_result &r) {
    double sq = 0.0;
    r.scored = 0;
    r.fluct_max = 0;
    r.fluct_joints = r.fluct_elsewhere = NaN;
    r.fluct_max_u = NaN;
    for (std::size_t i = 0; i < r.rel_err.size(); ++i) {
        const double e = r.rel_err[i];
        if (std::isnan(e)) continue;
        ++r.scored;
        if (r.scored == 1 || e > r.fluct_max) r.fluct_max_u = i < r.u_in.size() ? r.u_in[i] : NaN;
        r.fluct_max = std::max(r.fluct_max, e);
        double &part = i < r.at_joint.size() && r.at_joint[i] ? r.fluct_joints : r.fluct_elsewhere;
        part = std::isnan(part) ? e : std::max(part, e);
        sq += e * e;
    }
    r.fluct_rms = r.scored ? std::sqrt(sq / static_cast<double>(r.scored)) : NaN;
    if (!r.scored) r.fluct_max = NaN;
    r.chord_max = NaN;
    for (double c : r.chord_err)
        if (!std::isnan(c)) r.chord_max = std::isnan(r.chord_max) ? c : std::max(r.chord_max, c);
    std::vector<double> times(r.call_ns.begin(),
                              r.call_ns.begin() + static_cast<std::ptrdiff_t>(r.steps));
    r.t_median = nearest_rank(times, 0.5);
    r.t_p99 = nearest_rank(times, 0.99);
    r.t_p9999 = nearest_rank(times, 0.9999);
    r.t_max = times.empty() ? NaN : *std::max_element(times.begin(), times.end());
}

timer_overhead measure_timer_overhead(std::size_t pairs) {
    std::vector<double> d(pairs);
    const double tick_ns = 1e9 / static_cast<double>(tick_frequency());
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::int64_t t0 = tick_count();
        const std::int64_t t1 = tick_count();
        d[i] = static_cast<double>(t1 - t0) * tick_ns;
    }
    timer_overhead o;
    o.pairs = pairs;
    o.median_ns = nearest_rank(d, 0.5);
    o.p99_ns = nearest_rank(d, 0.99);
    return o;
}

} // namespace nurbs_interp
