// The bench's high-resolution counter: a monotonic clock read as signed 64-bit tick counts.
#pragma once

#include <cstdint>

namespace nurbs_interp {

// Returns the counter's rate in ticks per second (read once per timed run).
std::int64_t tick_frequency();

// Returns the current tick count of the monotonic counter.
std::int64_t tick_count();

// Returns ticks * 1000000 / frequency in whole microseconds, truncated toward zero as the
// multiply-first integer formula would, but without its overflow: the product is split at
// whole seconds, so any tick count that fits in 64 bits converts (at 1 GHz, centuries).
// Assumes frequency > 0.
std::int64_t ticks_to_microseconds(std::int64_t ticks, std::int64_t frequency);

} // namespace nurbs_interp
