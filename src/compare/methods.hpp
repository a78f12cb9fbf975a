// The interpolators as the comparison drives them: what one servo cycle of each method is
// (the curve evaluation it takes as input plus the interpolator call), and the state a method
// carries from one cycle to the next, so that a cycle can be replayed.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/interpolate.hpp" // corrector_stop
#include "core/nurbs.hpp"       // nurbs_curve

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

// How the corrector loop of a method's last step ended.
struct corrector_report {
    int iterations = 0; // corrector updates
    corrector_stop stop = corrector_stop::tolerance;
    double residual = 0; // the residual's magnitude at the iterate kept
};

// An interpolator as the comparison drives it: one row of the table of methods.
struct compare_method {
    const char *name;
    // What the method is called with, for --help ("get_u_RK2 (C, C')").
    const char *about;
    // One servo cycle: evaluates whatever the method takes as input at in.u and returns the
    // parameter at the end of the period. This whole call is what is timed.
    double (*step)(const compare_step &in);
    // Prepares a fresh motion before the first step, and again after a joint under the split
    // policy (its history starts over there); null: nothing to prepare.
    void (*start)() = nullptr;
    // For a method with a corrector loop (`corrector` reports how it ended): the unit and
    // tolerance of the residual it reports ("mm, tolerance 1e-12 mm"); null otherwise.
    const char *residual = nullptr;
    // Writes and reads back the state the next step uses, state_size bytes (null: the method
    // keeps none), so that a step can be run again alone.
    void (*save)(void *state) = nullptr;
    void (*restore)(const void *state) = nullptr;
    // Runs on a feedrate correction table (FCP): across a joint it takes the piece of its target
    // arc length instead of stepping from the joint.
    bool table = false;
    // The size of the state save writes and restore reads, bytes.
    std::size_t state_size = 0;
    // How the last step's corrector loop ended (a method with a residual).
    corrector_report (*corrector)() = nullptr;
    // The library a loaded method came from (method_lib.hpp); null for the built-in ones.
    const char *library = nullptr;
};

// True when the method has a corrector loop whose updates and stops are reported.
inline bool method_iterative(const compare_method &m) {
    return m.residual != nullptr;
}

// Returns the library's interpolators, in the order of the summary table.
std::span<const compare_method> compare_methods();

// Methods loaded from libraries (method_lib.hpp), known beside the built-in ones.
using loaded_methods = std::span<const compare_method *const>;

// Returns the method called `name` among the built-in and the `loaded` ones (case-insensitive,
// with or without "get_u_"), or null.
const compare_method *find_compare_method(const std::string &name, loaded_methods loaded = {});

// Returns what is wrong with a comma-separated list of method names ("" when nothing): an
// unknown name (the known ones listed) or a name given twice.
std::string unknown_method_in(const std::string &list, loaded_methods loaded = {});

// Returns the methods a comma-separated list names, in its order (a list unknown_method_in
// accepts; an unknown name is left out); when the list is empty all of them, the built-in ones
// first.
std::vector<const compare_method *> methods_in_list(const std::string &list,
                                                    loaded_methods loaded = {});

// Returns the names of all methods, comma-separated, for messages.
std::string compare_method_names(loaded_methods loaded = {});

// Returns the methods' names and what each is called with, one per line, for --help.
std::string compare_method_help();

} // namespace nurbs_interp
