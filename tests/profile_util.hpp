// Feed profiles made on the fly for the tests of the comparison.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "io/feed_profile.hpp"
#include "core/interpolate.hpp" // SERVO_PERIOD

namespace test_util {

// A profile of n samples with feed v(i), no acceleration or jerk.
template <class F> nurbs_interp::feed_profile make_profile(std::size_t n, F feed) {
    nurbs_interp::feed_profile p;
    for (std::size_t i = 0; i < n; ++i) {
        p.v.push_back(feed(i));
        p.a.push_back(0.0);
        p.j.push_back(0.0);
    }
    return p;
}

// A short, smooth start: the feed ramps up to 100 mm/s in 0.1 s (constant acceleration, with
// the matching a), then cruises; n samples, about 0.2 mm per 10 ms at cruise.
inline nurbs_interp::feed_profile ramp_profile(std::size_t n) {
    nurbs_interp::feed_profile p;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) * nurbs_interp::SERVO_PERIOD;
        p.v.push_back(t < 0.1 ? 1000.0 * t : 100.0);
        p.a.push_back(t < 0.1 ? 1000.0 : 0.0);
        p.j.push_back(0.0);
    }
    return p;
}

// The profile text: the "N=" header, then feed, acceleration and jerk per line.
inline std::string profile_text(const nurbs_interp::feed_profile &p) {
    std::string text = "N=" + std::to_string(p.v.size()) + "\n";
    char line[128];
    for (std::size_t i = 0; i < p.v.size(); ++i) {
        std::snprintf(line, sizeof line, "%.17g %.17g %.17g\n", p.v[i], p.a[i], p.j[i]);
        text += line;
    }
    return text;
}

} // namespace test_util
