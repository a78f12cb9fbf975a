#include "common/realtime.hpp"

#include <cerrno>
#include <cstring>    // strerror
#include <sched.h>    // affinity, SCHED_FIFO
#include <sys/mman.h> // mlockall

namespace nurbs_interp {

std::string realtime_setup() {
    std::string granted, refused;
    auto note = [&](bool ok, const std::string &what) {
        std::string &to = ok ? granted : refused;
        to += (to.empty() ? "" : ", ") + what +
              (ok ? "" : " (" + std::string(std::strerror(errno)) + ")");
    };
    note(mlockall(MCL_CURRENT | MCL_FUTURE) == 0, "memory locked");
    const int cpu = sched_getcpu();
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu < 0 ? 0 : cpu, &set);
    note(sched_setaffinity(0, sizeof set, &set) == 0,
         "pinned to CPU " + std::to_string(cpu < 0 ? 0 : cpu));
    sched_param param{};
    param.sched_priority = 10;
    note(sched_setscheduler(0, SCHED_FIFO, &param) == 0, "SCHED_FIFO priority 10");
    return "realtime: granted: " + (granted.empty() ? std::string("nothing") : granted) +
           "; refused: " + (refused.empty() ? std::string("nothing") : refused) +
           "; every method warmed up on its first 2000 samples before its timed run";
}

} // namespace nurbs_interp
