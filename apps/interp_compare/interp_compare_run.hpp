// The interpolator comparison: runs one interpolator over a feed profile as a controller would
// (its own parameter from u = 0 at time 0, one step per profile sample), times every servo
// cycle, measures the true length of every step, and summarises feed error and cycle time.
//
// Units: lengths in mm (the curve file's unit), time in s unless a name says ns, feed in mm/s,
// acceleration mm/s^2, jerk mm/s^3.
#pragma once

#include <cstddef> // size_t
#include <span>    // the method table
#include <string>
#include <vector>

#include "nurbs.hpp"   // nurbs_curve
#include "feed_profile.hpp" // feed_profile

namespace nurbs_interp {

// The servo period in seconds.
inline constexpr double COMPARE_PERIOD = 0.00025;
// Samples with a feed below this (mm/s) are not scored: their relative error has no meaning
// near a standstill, and they do not count towards a stall.
inline constexpr double COMPARE_MIN_FEED = 1.0;
// A method has stopped advancing when, in this many consecutive samples with a feed of at
// least 1 mm/s (25 ms of commanded motion at the least), each step covers less than
// COMPARE_STALL_FRACTION of v*T, standing still or moving backwards included. Comparing
// lengths rather than parameters also catches a method that creeps by a few ulps.
inline constexpr int COMPARE_STALL_SAMPLES = 100;
inline constexpr double COMPARE_STALL_FRACTION = 0.01;
// A method has reached the curve's end when its parameter is 1 or more, or when the curve
// left after its step is shorter than this (mm): a method that approaches u = 1 without
// clamping has arrived, not stalled.
inline constexpr double COMPARE_END_TOL = 1e-6;

// A step that moves back along the curve by more than this (mm) fails its method, as does a
// parameter below 0: rounding aside, a controller never reverses along the path.
inline constexpr double COMPARE_BACK_TOL = 1e-6;
// True step lengths: the driver's quadrature settings.
inline constexpr double COMPARE_QUAD_EPS = 1e-12;
inline constexpr int COMPARE_QUAD_DEPTH = 30;

// What a method's step sees at the start of one servo period.
struct compare_step {
    double u;           // the method's own parameter (where its previous step ended)
    double s;           // arc length travelled so far: the sum of the measured step lengths, mm
    double v, a, j;     // this sample's feed, acceleration, jerk
    double t;           // time at the start of the period: sample index * T, s
    double T;           // the period, s
    nurbs_curve *curve; // the curve (its scratch arrays are the method's during the step)
};

// An interpolator as the comparison drives it.
struct compare_method {
    const char *name;
    // Prepares a fresh motion before the first step (null: nothing to prepare).
    void (*start)();
    // One servo cycle: evaluates whatever the method takes as input at in.u and returns the
    // parameter at the end of the period. This whole call is what is timed.
    double (*step)(const compare_step &in);
    // True when interp_last_iterations() reports the corrector updates of the last step.
    bool iterative;
};

// Returns the library's interpolators, in the order of the summary table.
std::span<const compare_method> compare_methods();

// Returns the method called `name` (case-insensitive, with or without "get_u_"), or null.
const compare_method *find_compare_method(const std::string &name);

// One method's run over a profile, and its statistics.
struct method_result {
    std::string name;
    std::size_t samples = 0; // profile samples
    std::size_t steps = 0;   // calls made (a failing call included)
    bool failed = false;
    std::string reason; // why it failed
    bool reached_end = false;
    double end_time = 0; // s: end of the period in which the end was reached (reached_end)
    double end_u = 0;    // the parameter after the last step
    // Per sample: |v*T - ds| / (v*T) for scored steps, NaN otherwise (feed below 1 mm/s, the
    // step that reaches the curve's end, samples not run).
    std::vector<double> rel_err;
    // Per sample: the cycle's duration in ns (timer overhead included), NaN for samples not run.
    std::vector<double> call_ns;
    std::size_t scored = 0; // samples that count in the feed statistics
    double fluct_max = 0;   // max of rel_err over the scored samples
    double fluct_rms = 0;   // RMS of rel_err over the scored samples
    double drift = 0;       // sum of (ds - v*T) over the steps that end before u = 1, mm
    double iter_mean = 0;   // corrector updates per call (iterative methods)
    int iter_max = 0;       //
    double t_median = 0;    // cycle time percentiles (nearest rank) and max, ns
    double t_p99 = 0;       //
    double t_p9999 = 0;     //
    double t_max = 0;       //
    bool iterative = false; // iter_mean and iter_max are meaningful
};

// Called between steps (outside the timed region) about a hundred times per run.
using compare_progress = void (*)(void *ctx, std::size_t done, std::size_t total);

// Runs `method` over every sample of `prof` on `curve`, whose total length is `curve_length`
// (mm), and returns its statistics. A non-finite parameter or a stall (see
// COMPARE_STALL_SAMPLES) ends the method's run and is reported in `failed` and `reason`;
// reaching the curve's end (see COMPARE_END_TOL) ends it normally. The per-sample arrays are
// allocated before the first step: the stepping loop allocates nothing.
method_result run_method(const compare_method &method, nurbs_curve *curve, double curve_length,
                         const feed_profile &prof, compare_progress progress = nullptr,
                         void *progress_ctx = nullptr);

// The cost of reading the clock: durations of back-to-back pairs of tick_count() calls.
struct timer_overhead {
    std::size_t pairs = 0;
    double median_ns = 0;
    double p99_ns = 0;
};

// Measures the timer overhead over `pairs` pairs of readings.
timer_overhead measure_timer_overhead(std::size_t pairs);

// Returns the nearest-rank p-quantile (0 < p <= 1) of the values (reordered); NaN when empty.
double nearest_rank(std::vector<double> &values, double p);

// Returns the aligned summary table, one row per result, units in the column headers.
std::string format_summary(const std::vector<method_result> &results);

} // namespace nurbs_interp
