// A run contained in a process of its own: the work of one loaded method done in a child
// process (a fork of the program, so with everything the run needs), its result sent back
// whole through a pipe. The child marks every call of the method in memory shared with the
// program, which stops a call that has not returned within a bound; a crash, an exit or a
// stopped call of the child fails that method, not the program.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "compare/run.hpp"

namespace nurbs_interp {

// The calls of a loaded method the watch tells apart.
enum class loaded_call : int { none = 0, create, destroy, start, step, save, restore, corrector };

// Shared by the child, which marks every call of the method, and the program, which watches:
// lock-free atomics in a shared mapping.
struct call_watch {
    std::atomic<std::uint64_t> calls{0}; // calls begun
    std::atomic<int> call{0};            // the loaded_call in progress (none between calls)
    std::atomic<double> u{0}, t{0};      // the input of the last step begun: u and t
};

// How a contained run ended: its result, or why there is none.
struct contained_outcome {
    bool ok = false;
    method_result result;
    std::string failure; // "crashed: signal 11 (Segmentation fault) in its step from u = ..."
};

// How long a call the child marks may take before the child is stopped, s of wall time.
struct contained_bounds {
    double call = 1;   // a step, start, save, restore, last_corrector
    double setup = 60; // a create or destroy (a method's precomputation)
};

// Runs work(watch) in a child process and returns its result; or, when a call the child marks
// has not returned within its bound (the child is then killed), when the child ends by a signal,
// ends without a whole result or exits, why (the call it was in and the last step's input). An
// exception the work throws is thrown again here with its message. The program's scheduling is
// eased while it waits (a real-time policy dropped, all CPUs allowed) so that it can watch a
// child pinned to its CPU, and restored after; the child locks its memory when the program has.
contained_outcome run_contained(const std::function<method_result(call_watch *)> &work,
                                const contained_bounds &bounds);

} // namespace nurbs_interp
