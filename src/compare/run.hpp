// The interpolator comparison: runs one interpolator over a feed profile as a controller would
// (its own parameter from u = 0 at time 0, one step per profile sample), times every servo
// cycle, measures the true length and the chord error of every step, and tells a method that
// fails from one that works.
//
// Units: lengths in mm (the curve file's unit), time in s unless a name says ns, feed in mm/s,
// acceleration mm/s^2, jerk mm/s^3.
#pragma once

#include "plan/profile_plan.hpp" // PLAN_END_MARGIN

#include <cstddef> // size_t
#include <string>
#include <vector>

#include "compare/axis_motion.hpp"
#include "compare/joint_step.hpp"
#include "compare/methods.hpp"
#include "io/feed_profile.hpp"  // feed_profile
#include "core/interpolate.hpp" // SERVO_PERIOD
#include "core/nurbs.hpp"       // nurbs_curve

namespace nurbs_interp {

// The servo period in seconds unless a run is given another.
inline constexpr double COMPARE_PERIOD = SERVO_PERIOD;
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
// A step longer than COMPARE_JUMP_FACTOR times the longest step the sample's kinematics allow,
// v*T + |a|*T^2/2 + |j|*T^3/6, plus COMPARE_BACK_TOL, fails its method: the tool would jump
// along the path (the end step too: reaching the end is no excuse for a jump).
inline constexpr double COMPARE_JUMP_FACTOR = 3.0;
// The travelled length may differ from the commanded one (the drift) by at most
// COMPARE_DRIFT_TOL + COMPARE_DRIFT_REL * commanded length; beyond it the method fails.
inline constexpr double COMPARE_DRIFT_TOL = 0.1;  // mm
inline constexpr double COMPARE_DRIFT_REL = 1e-4; // of the commanded length
// True step lengths: the driver's quadrature settings.
inline constexpr double COMPARE_QUAD_EPS = 1e-12;
inline constexpr int COMPARE_QUAD_DEPTH = 30;
// Every step's length by that quadrature is checked against the accurate length of the curve
// between the step's ends (arc_length.hpp, per knot span): a step whose two lengths differ by
// more than COMPARE_TRAVEL_TOL mm plus COMPARE_TRAVEL_REL of the accurate one fails its method.
// Adaptive Simpson over a step never samples a stretch of the curve that lies inside a tiny
// interval of the parameter (knots 1e-9 apart): the tool passes it in one period unmeasured.
// On every curve and profile of the suite the two agree to 3.1e-11 mm or better (the largest at
// a joint a step crosses whole, where Simpson resolves the kink); the bound leaves a margin of 30.
inline constexpr double COMPARE_TRAVEL_TOL = 1e-9;
inline constexpr double COMPARE_TRAVEL_REL = 1e-9;
// make_profile plans a profile whose commanded travel ends this far short of the curve's
// accurate length (mm), so that a method slightly ahead does not meet the curve's end.
inline constexpr double PROFILE_END_SLACK = PLAN_END_MARGIN;
// Chord error: the distance of the curve from the segment C(u_k) C(u_k+1) is sampled at
// this many evenly spaced parameters inside each step (the midpoint among them).
inline constexpr int COMPARE_CHORD_POINTS = 15;

// How the corrector loops of an iterative method ended over a run.
struct corrector_stops {
    long tolerance = 0, stagnation = 0, bound = 0, guard = 0;
    double stagnation_residual_max = 0; // largest residual a stagnation stop kept
};

// One method's run over a profile, and its statistics.
struct method_result {
    std::string name;
    std::string residual; // the residual's unit and tolerance (methods with a corrector loop)
    double period = COMPARE_PERIOD; // s
    joint_policy policy = joint_policy::through;
    std::size_t samples = 0; // profile samples
    std::size_t steps = 0;   // calls made (a failing call included)
    bool failed = false;
    std::string reason; // why it failed
    bool reached_end = false;
    double end_time = 0;     // s: end of the period in which the end was reached (reached_end)
    double end_u = 0;        // the parameter after the last step
    double travelled = 0;    // sum of the measured step lengths, mm
    double commanded = 0;    // sum of v*T over the steps made, mm
    double accurate = 0;     // the accurate length from u = 0 to end_u (NaN: not checked), mm
    double profile_left = 0; // commanded travel the profile still held when the run ended, mm
    // Per sample: |v*T - ds| / (v*T) for scored steps, NaN otherwise (feed below 1 mm/s, the
    // end step when it is cut short by the curve, samples not run).
    std::vector<double> rel_err;
    // Per sample: the step's chord error in mm, NaN for samples not run.
    std::vector<double> chord_err;
    // Per sample: the cycle's duration in ns (timer overhead included), NaN for samples not run.
    std::vector<double> call_ns;
    // Per sample: 1 when the step crossed a joint (one strictly between its ends).
    std::vector<char> at_joint;
    // Per sample: the largest axis jerk component the positions reached imply (third
    // difference over T, mm/s^3), NaN for samples not run.
    std::vector<double> axis_jerk;
    axis_extremes axis;            // the axis motion's extremes over the steps run
    std::size_t scored = 0;        // samples that count in the feed statistics
    double fluct_max = 0;          // max of rel_err over the scored samples
    double fluct_joints = 0;       // ... over the scored steps that crossed a joint (NaN: none)
    double fluct_elsewhere = 0;    // ... over the others (NaN: none)
    double fluct_rms = 0;          // RMS of rel_err over the scored samples
    double chord_max = 0;          // max of chord_err over the steps run, mm
    double drift = 0;              // sum of (ds - v*T) over the scored and unscored steps, mm
    double len_err_sum = 0;        // the accumulated error: sum of |v*T - ds| over the same, mm
    double len_err_ms = 0;         // the mean square of (v*T - ds) over the same, mm^2 (NaN: none)
    std::size_t len_err_steps = 0; // the steps in those sums
    double fluct_max_u = 0; // the parameter at the start of the step of fluct_max (NaN: none)
    double iter_mean = 0;   // corrector updates per call (iterative methods)
    int iter_max = 0;       //
    double t_median = 0;    // cycle time percentiles (nearest rank) and max, ns
    double t_p99 = 0;       //
    double t_p9999 = 0;     //
    double t_max = 0;       //
    bool iterative = false; // iter_mean and iter_max are meaningful
    corrector_stops stops;  // iterative methods
    // Per sample, what the step started from: the method's parameter, the travelled length, the
    // time since its motion began (it starts over at a joint under the split policy) and the
    // method's state, state_size bytes from sample i * state_size (so that any step can be run
    // again alone; see replay.hpp).
    std::vector<double> u_in, s_in, t_in;
    std::vector<unsigned char> state_in;
    // Filled by replay_worst (compare_replay.hpp).
    bool replayed = false;
    double worst_replayed_ns = 0; // the largest of the replayed steps' median times, ns
    std::size_t worst_replayed_sample = 0;
    long worst_calls = 0;     // integrand calls of that step
    int worst_iterations = 0; // its corrector updates (iterative methods)
    std::string replay_error; // a replay that did not give the recorded result
};

// Called between steps (outside the timed region) about a hundred times per run.
using compare_progress = void (*)(void *ctx, std::size_t done, std::size_t total);

// What a run is given besides the method and the profile.
struct compare_setup {
    nurbs_curve *curve = nullptr;
    double curve_length = 0;        // mm, the accurate length (arc_length.hpp)
    double period = COMPARE_PERIOD; // the servo period T, s
    joint_policy policy = joint_policy::through;
    joint_list joints;              // the curve's joints (the split policy's)
    const arc_table *arc = nullptr; // the curve's accurate lengths (null: steps not checked)
    const machine_limits *limits = nullptr; // axis limits for the ratios (null: none)
    const fcp_table *fcp = nullptr;         // FCP's table (null: the compiled-in one)
    std::string fcp_refusal;                // not empty: FCP's table is none, FCP fails so
    compare_progress progress = nullptr;    // may be null
    void *progress_ctx = nullptr;
    // Loaded methods (method_lib.hpp) run in this process rather than in a child process of
    // their own: a crash in one ends the program, and a call is not bounded in time.
    bool loaded_in_process = false;
};

// Runs `method` over every sample of `prof` and returns its statistics. A non-finite
// parameter, a step before the curve's start, back along it, or a jump (COMPARE_JUMP_FACTOR), a
// step whose measured length is not the curve's accurate length between its ends
// (COMPARE_TRAVEL_TOL, when setup.arc is given), a drift beyond its bound, a stall
// (COMPARE_STALL_SAMPLES), or reaching the curve's end with more of the profile's commanded
// travel left than the drift bound (the profile was made for a longer path) ends the method's
// run and is reported in `failed` and `reason` with the time and place; reaching the curve's
// end (see COMPARE_END_TOL) otherwise ends it normally. The per-sample arrays are allocated
// before the first step: the stepping loop allocates nothing.
method_result run_method(const compare_method &method, const compare_setup &setup,
                         const feed_profile &prof);

// The same, with the curve and its length given directly (the compiled-in FCP table; no
// accurate lengths, so the steps' lengths are not checked).
method_result run_method(const compare_method &method, nurbs_curve *curve, double curve_length,
                         const feed_profile &prof, compare_progress progress = nullptr,
                         void *progress_ctx = nullptr);

// Returns the bound on the drift after `commanded` mm of commanded travel:
// COMPARE_DRIFT_TOL + COMPARE_DRIFT_REL * commanded, mm.
double drift_bound(double commanded);

// Returns the largest distance between the segment C(u0) C(u1) and the curve at
// COMPARE_CHORD_POINTS evenly spaced parameters strictly between u0 and u1 (0 if u0 == u1).
double chord_error(nurbs_curve *curve, double u0, double u1);

} // namespace nurbs_interp
