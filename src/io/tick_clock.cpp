#include "io/tick_clock.hpp"

#include <chrono> // steady_clock

namespace nurbs_interp {

std::int64_t tick_frequency() {
    using period = std::chrono::steady_clock::period;
    return static_cast<std::int64_t>(period::den / period::num);
}

std::int64_t tick_count() {
    return static_cast<std::int64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

std::int64_t ticks_to_microseconds(std::int64_t ticks, std::int64_t frequency) {
    // ticks = q*f + r with |r| < f, so ticks*1e6/f = q*1e6 + r*1e6/f exactly; both terms carry
    // the sign of ticks, so truncating only the second one truncates the sum toward zero.
    const std::int64_t q = ticks / frequency;
    const std::int64_t r = ticks % frequency;
    return q * 1000000 + (r * 1000000) / frequency;
}

} // namespace nurbs_interp
