#include "compare/replay.hpp"

#include <algorithm> // max_element, partial_sort, sort, unique
#include <cstdint>
#include <cstring> // memcmp: the replayed result bit for bit
#include <vector>

#include "compare/method_lib.hpp" // set_loaded_integrand
#include "compare/stats.hpp"      // nearest_rank
#include "io/format.hpp"
#include "core/interpolate.hpp" // set_arc_length_integrand
#include "io/tick_clock.hpp"

namespace nurbs_interp {

namespace {

long G_integrand_calls = 0;

// nurbs_arc_len, counting its calls.
double counting_arc_len(double u, void *data) {
    ++G_integrand_calls;
    return nurbs_arc_len(u, data);
}

// The inputs of step i of the run r.
compare_step step_input(const compare_setup &setup, const feed_profile &prof,
                        const method_result &r, std::size_t i) {
    return compare_step{r.u_in[i], r.s_in[i], prof.v[i],   prof.a[i], prof.j[i],
                        r.t_in[i], r.period,  setup.curve, setup.fcp};
}

// Runs step i again from its recorded state, under the run's joint policy; returns its result.
double rerun(const compare_method &method, const compare_setup &setup, const compare_step &in,
             const method_result &r, std::size_t i) {
    if (method.restore) method.restore(&r.state_in[i * method.state_size]);
    double restart = -1;
    return policy_step(method, in, setup.policy, setup.joints, &restart);
}

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The work of every step: integrand calls and corrector updates, counted in an untimed rerun.
struct step_work {
    std::vector<long> calls;
    std::vector<int> iterations;
};

// Reruns every step once with the counting integrand; checks each result against the run's.
step_work count_work(const compare_method &method, const compare_setup &setup,
                     const feed_profile &prof, method_result &r) {
    step_work w;
    w.calls.assign(r.steps, 0);
    w.iterations.assign(r.steps, 0);
    set_arc_length_integrand(counting_arc_len);
    set_joint_integrand(counting_arc_len);
    set_loaded_integrand(counting_arc_len);
    for (std::size_t i = 0; i < r.steps; ++i) {
        G_integrand_calls = 0;
        const double un = rerun(method, setup, step_input(setup, prof, r, i), r, i);
        w.calls[i] = G_integrand_calls;
        w.iterations[i] = method_iterative(method) ? method.corrector().iterations : 0;
        const double next = i + 1 < r.steps ? r.u_in[i + 1] : r.end_u;
        if (!same_bits(un, next) && r.replay_error.empty() && (i + 1 < r.steps || !r.failed))
            r.replay_error = "the rerun of sample " + std::to_string(i) +
                             " did not give the run's result (its state was not restored)";
    }
    set_arc_length_integrand(nullptr);
    set_joint_integrand(nullptr);
    set_loaded_integrand(nullptr);
    return w;
}

// Returns the indices of the `k` largest values (ties broken by index), at most all of them.
template <class T> std::vector<std::size_t> top(const std::vector<T> &values, std::size_t k) {
    std::vector<std::size_t> idx(values.size());
    for (std::size_t i = 0; i < idx.size(); ++i)
        idx[i] = i;
    k = std::min(k, idx.size());
    std::partial_sort(idx.begin(), idx.begin() + static_cast<std::ptrdiff_t>(k), idx.end(),
                      [&](std::size_t a, std::size_t b) {
                          return values[a] > values[b] || (values[a] == values[b] && a < b);
                      });
    idx.resize(k);
    return idx;
}

// Returns the median time of COMPARE_REPLAY_REPEATS repetitions of step i, ns.
double replay_median(const compare_method &method, const compare_setup &setup,
                     const compare_step &in, method_result &r, std::size_t i,
                     std::vector<double> &times) {
    const double tick_ns = 1e9 / static_cast<double>(tick_frequency());
    const double expect = i + 1 < r.steps ? r.u_in[i + 1] : r.end_u;
    for (double &t : times) {
        if (method.restore) method.restore(&r.state_in[i * method.state_size]);
        double restart = -1;
        const std::int64_t t0 = tick_count();
        const double un = policy_step(method, in, setup.policy, setup.joints, &restart);
        const std::int64_t t1 = tick_count();
        t = static_cast<double>(t1 - t0) * tick_ns;
        if (!same_bits(un, expect) && r.replay_error.empty() && (i + 1 < r.steps || !r.failed))
            r.replay_error = "a replay of sample " + std::to_string(i) +
                             " did not give the run's result (its state was not restored)";
    }
    return nearest_rank(times, 0.5);
}

} // namespace

void replay_worst(const compare_method &method, const compare_setup &setup,
                  const feed_profile &prof, method_result &r) {
    if (r.steps == 0) return;
    std::vector<unsigned char> after(method.save ? method.state_size : 0);
    if (method.save) method.save(after.data());
    const step_work w = count_work(method, setup, prof, r);
    std::vector<double> ns(r.call_ns.begin(), r.call_ns.begin() + std::ptrdiff_t(r.steps));
    std::vector<std::size_t> candidates = top(ns, COMPARE_REPLAY_SLOWEST);
    for (std::size_t i : top(w.calls, COMPARE_REPLAY_HARDEST))
        candidates.push_back(i);
    for (std::size_t i : top(w.iterations, COMPARE_REPLAY_HARDEST))
        candidates.push_back(i);
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    std::vector<double> times(COMPARE_REPLAY_REPEATS);
    r.worst_replayed_ns = -1;
    for (std::size_t i : candidates) {
        const double median =
            replay_median(method, setup, step_input(setup, prof, r, i), r, i, times);
        if (median > r.worst_replayed_ns) {
            r.worst_replayed_ns = median;
            r.worst_replayed_sample = i;
        }
    }
    r.worst_calls = w.calls[r.worst_replayed_sample];
    r.worst_iterations = w.iterations[r.worst_replayed_sample];
    r.replayed = true;
    if (method.restore) method.restore(after.data());
}

noise_floor measure_noise(std::size_t samples, const compare_setup &setup) {
    const double tick_ns = 1e9 / static_cast<double>(tick_frequency());
    std::vector<double> d(samples);
    // Walk the curve in steps of 250 mm/s for one period as the runs do.
    const double du = setup.curve_length > 0 ? 250 * setup.period / setup.curve_length : 0;
    double u = 0;
    for (double &x : d) {
        const std::int64_t t0 = tick_count();
        const std::int64_t t1 = tick_count();
        x = static_cast<double>(t1 - t0) * tick_ns;
        if (!setup.curve) continue;
        // Between the timed steps, the work a run does between its steps.
        const double un = u + du < 1 ? u + du : 0;
        volatile double work = adaptiveSimpsons(nurbs_arc_len, setup.curve, u, un, COMPARE_QUAD_EPS,
                                                COMPARE_QUAD_DEPTH) +
                               chord_error(setup.curve, u, un);
        (void)work;
        u = un;
    }
    noise_floor n;
    n.samples = samples;
    if (samples == 0) return n;
    n.max_ns = *std::max_element(d.begin(), d.end());
    n.median_ns = nearest_rank(d, 0.5);
    n.p9999_ns = nearest_rank(d, 0.9999);
    return n;
}

} // namespace nurbs_interp
