// Stepping across joints, as a controller does: the stepping policy of the comparison around
// the interpolators. A joint (plan/joints.hpp) is a knot where |C'| or C'' jumps; a method's step
// from derivatives on one side of it, or FCP's piece before it, carried across it, misses its
// length by up to tens of percent.
//
//   through  each step is the method's step as it is (the driver's way; the default)
//   split    a period whose commanded end s + v T passes the next joint u_j (the joints lie at
//            known arc lengths, as a controller knows them) is split there: the length L from u
//            to u_j is measured (adaptive Simpson, 1e-12, depth 30), the tool goes to u_j
//            exactly, and the same method steps from u_j over the remaining time (v T - L) / v,
//            with the derivatives on the far side; a method that keeps a history (Adams-Moulton)
//            starts it over at the joint; FCP instead takes the piece of its target arc length
//            (its table has a breakpoint on every joint). As many joints as the period passes.
//            A period whose commanded end lands on a joint (to JOINT_LANDING_TOL of v T) is a
//            crossing with nothing left: the tool goes to u_j (its last parameter before u_j,
//            where the step's length is measured on the near side), and the next period starts
//            from u_j as from any joint (the far side's derivatives, a new history).
//            All of it is inside the timed cycle.
#pragma once

#include <string>
#include <vector>

#include "compare/methods.hpp"
#include "core/nurbs.hpp"
#include "io/feed_profile.hpp"
#include "plan/arc_length.hpp"

namespace nurbs_interp {

enum class joint_policy { through, split };

// A commanded end within this share of v T of a joint lands on it (see split above): rounding,
// far below what any method misses a step by.
inline constexpr double JOINT_LANDING_TOL = 1e-9;

// Returns "through" or "split".
const char *joint_policy_name(joint_policy p);

// The joints a run steps across, ascending: their parameters and arc lengths.
struct joint_list {
    std::vector<double> u, s;
};

// Returns the policies to run a curve with `joints` under the choice "through", "split" or
// "both": through alone on a curve without joints (split would change nothing there).
std::vector<joint_policy> joint_policies(const std::string &choice, const joint_list &joints);

// Returns the index of the first joint strictly after u (u.size() when there is none).
std::size_t next_joint(const joint_list &joints, double u);

// True when a joint lies strictly between the parameters u0 < u1.
bool crosses_joint(const joint_list &joints, double u0, double u1);

// Returns the parameter at the end of the period for `method` from `in` under `policy`. Under
// split, when the method's history started over at a joint, *restart receives the time from the
// start of this period to the joint (s) and is left alone otherwise.
double policy_step(const compare_method &method, const compare_step &in, joint_policy policy,
                   const joint_list &joints, double *restart);

// Returns the joints of the curve of `arc` (plan/joints.hpp) with their arc lengths.
joint_list joints_of(const arc_table &arc);

// Returns the times (s) at which the commanded travel of `prof` at period T passes each joint.
std::vector<double> joint_times(const feed_profile &prof, const joint_list &joints, double T);

// Sets the integrand with which the split policy measures the length to a joint (null:
// nurbs_arc_len): for a wrapper that counts calls, as the interpolators' own.
void set_joint_integrand(arc_len_integrand f);

} // namespace nurbs_interp
