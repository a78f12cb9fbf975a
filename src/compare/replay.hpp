// Replayed worst steps: after a run, the steps most likely to be a method's costliest (its
// slowest in the run, on a shared machine mostly interrupted ones, and those that took the
// most integrand calls or corrector updates) are each run again alone many times with the
// method's state restored before every repetition; the largest of their medians is the cost of
// the method's worst input without the machine's interruptions. And the noise floor: a step
// that does nothing but read the clock, timed the same way.
#pragma once

#include <cstddef>

#include "compare/run.hpp"

namespace nurbs_interp {

// The slowest steps of the run replayed, the steps with the most integrand calls and with the
// most corrector updates replayed, and the repetitions of each.
inline constexpr int COMPARE_REPLAY_SLOWEST = 64;
inline constexpr int COMPARE_REPLAY_HARDEST = 16;
inline constexpr int COMPARE_REPLAY_REPEATS = 400;

// Runs every step of r once more, untimed, with a counting integrand, to find its work; then
// replays the candidates COMPARE_REPLAY_REPEATS times each and fills worst_replayed_ns,
// worst_replayed_sample, worst_calls and worst_iterations (of that step). A rerun whose result
// differs from the run's (the state was not restored) is reported in replay_error. Leaves the
// method's state as the run left it.
void replay_worst(const compare_method &method, const compare_setup &setup,
                  const feed_profile &prof, method_result &r);

// The distribution of a step that only reads the clock, over `samples` steps.
struct noise_floor {
    std::size_t samples = 0;
    double median_ns = 0, p9999_ns = 0, max_ns = 0;
};

// Times `samples` empty steps (two back-to-back clock reads, as every method's step is timed),
// with the work a run does between its steps (true step length and chord error along the curve
// of `setup`, when it has one) between them, so that the steps are spread over as much time,
// and as open to interruptions, as a method's.
noise_floor measure_noise(std::size_t samples, const compare_setup &setup);

} // namespace nurbs_interp
