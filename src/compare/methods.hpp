// The interpolators as the comparison drives them: what one servo cycle of each method is
// (the curve evaluation it takes as input plus the interpolator call), and the state a method
// carries from one cycle to the next, so that a cycle can be replayed.
#pragma once

#include <span>
#include <string>

#include "core/nurbs.hpp" // nurbs_curve

namespace nurbs_interp {

struct fcp_table;

// What a method's step sees at the start of one servo period.
struct compare_step {
    double u;           // the method's own parameter (where its previous step ended)
    double s;           // arc length travelled so far: the sum of the measured step lengths, mm
    double v, a, j;     // this sample's feed (mm/s), acceleration (mm/s^2), jerk (mm/s^3)
    double t;           // time at the start of the period: sample index * T, s
    double T;           // the period, s
    nurbs_curve *curve; // the curve (its scratch arrays are the method's during the step)
    const fcp_table *fcp = nullptr; // FCP's table; null: the compiled-in one
};

// The state a method carries between cycles (Adams-Moulton's two previous parameters).
struct method_state {
    double um1 = 0, um2 = 0;
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
    // Reads and sets the state the next step uses (null: the method keeps none).
    method_state (*save)() = nullptr;
    void (*restore)(const method_state &) = nullptr;
};

// Returns the library's interpolators, in the order of the summary table.
std::span<const compare_method> compare_methods();

// Returns the method called `name` (case-insensitive, with or without "get_u_"), or null.
const compare_method *find_compare_method(const std::string &name);

// True for the method that runs on a feedrate correction table (FCP).
bool method_uses_fcp_table(const compare_method &method);

// Returns the names of all methods, comma-separated, for messages.
std::string compare_method_names();

} // namespace nurbs_interp
