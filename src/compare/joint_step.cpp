#include "compare/joint_step.hpp"

#include <algorithm> // upper_bound
#include <cmath>     // nextafter

#include "core/interpolate.hpp" // get_u_FCP, fcp_runtime_u
#include "plan/joints.hpp"

namespace nurbs_interp {

namespace {

// The integrand of the length to a joint (nurbs_arc_len, or a counting wrapper of it).
arc_len_integrand G_joint_integrand = nurbs_arc_len;

// Returns the parameter of FCP's table at arc length s, on the piece that holds s.
double table_at(const compare_step &in, double s) {
    return in.fcp ? fcp_runtime_u(*in.fcp, s, 0, in.T) : get_u_FCP(s, 0, in.T);
}

// Returns how far a commanded end may be from a joint and count as landing on it, mm.
double landing_tol(const compare_step &in) {
    return JOINT_LANDING_TOL * in.v * in.T;
}

// FCP under split: when its target lands on the next joint, the joint; when it passes it, the
// piece of the target.
double split_table_step(const compare_method &method, const compare_step &in,
                        const joint_list &joints) {
    const double target = in.v * in.T + in.s;
    const std::size_t k =
        std::upper_bound(joints.s.begin(), joints.s.end(), in.s) - joints.s.begin();
    if (k == joints.s.size() || !(target >= joints.s[k] - landing_tol(in))) return method.step(in);
    if (!(target > joints.s[k] + landing_tol(in))) return std::nextafter(joints.u[k], in.u);
    return table_at(in, target);
}

} // namespace

const char *joint_policy_name(joint_policy p) {
    return p == joint_policy::split ? "split" : "through";
}

std::vector<joint_policy> joint_policies(const std::string &choice, const joint_list &joints) {
    if (choice == "through" || joints.u.empty()) return {joint_policy::through};
    if (choice == "split") return {joint_policy::split};
    return {joint_policy::through, joint_policy::split};
}

std::size_t next_joint(const joint_list &joints, double u) {
    return std::upper_bound(joints.u.begin(), joints.u.end(), u) - joints.u.begin();
}

bool crosses_joint(const joint_list &joints, double u0, double u1) {
    const std::size_t k = next_joint(joints, u0);
    return k < joints.u.size() && joints.u[k] < u1;
}

double policy_step(const compare_method &method, const compare_step &in, joint_policy policy,
                   const joint_list &joints, double *restart) {
    if (policy == joint_policy::through || joints.u.empty()) return method.step(in);
    if (method.table) return split_table_step(method, in, joints);
    compare_step at = in;
    const double tol = landing_tol(in);
    // As a controller does: the joints lie at known arc lengths, so a period whose commanded
    // end passes the next one, or lands on it, is split there before the method steps.
    for (std::size_t k = next_joint(joints, at.u);
         k < joints.u.size() && joints.s[k] <= at.s + at.v * at.T + tol; ++k) {
        const double uj = joints.u[k];
        // To the last parameter before the joint: there the speed is the near side's (at the
        // joint itself the evaluator takes the far side's, a kink the quadrature would chase).
        const double before = std::nextafter(uj, at.u);
        const double to_joint =
            adaptiveSimpsons(G_joint_integrand, at.curve, at.u, before, 1e-12, 30);
        const double remaining = at.v * at.T - to_joint;
        if (!(remaining >= -tol)) break; // the method's parameter is short of the joint after all
        // A landing on the joint is a crossing with nothing left: the tool goes to the joint
        // (to its last parameter before it, where the step's length is the near side's), and
        // the next period, which has the joint ahead at no distance, steps from it with the far
        // side's derivatives and a history that starts there.
        if (remaining <= tol) return before;
        const double rest = remaining / at.v;
        if (method.start) {
            method.start();
            *restart = in.T - rest;
            at.t = 0;
        } else {
            at.t += at.T - rest;
        }
        at.u = uj;
        at.s += to_joint;
        at.T = rest;
    }
    return method.step(at);
}

joint_list joints_of(const arc_table &arc) {
    joint_list j;
    for (double u : curve_joints(*arc.curve)) {
        j.u.push_back(u);
        j.s.push_back(arc_length_to(arc, u));
    }
    return j;
}

std::vector<double> joint_times(const feed_profile &prof, const joint_list &joints, double T) {
    std::vector<double> t;
    double s = 0;
    std::size_t k = 0;
    for (std::size_t i = 0; i < prof.v.size() && k < joints.s.size(); ++i) {
        s += prof.v[i] * T;
        for (; k < joints.s.size() && joints.s[k] <= s; ++k)
            t.push_back(double(i + 1) * T);
    }
    return t;
}

void set_joint_integrand(arc_len_integrand f) {
    G_joint_integrand = f ? f : nurbs_arc_len;
}

} // namespace nurbs_interp
