// Real-time conditions for a timing run: memory locked, the process pinned to one CPU, SCHED_FIFO.
#pragma once

#include <string>

namespace nurbs_interp {

// Asks for the real-time conditions; returns a line saying what was granted and what was
// refused (the run goes on without what was refused).
std::string realtime_setup();

} // namespace nurbs_interp
