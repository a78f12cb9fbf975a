#include "compare/methods.hpp"

#include <array>
#include <cctype> // tolower

#include "core/interpolate.hpp"

namespace nurbs_interp {

namespace {

// ---- The library's interpolators, each with the evaluation it needs at its parameter ----

double step_fcp(const compare_step &in) {
    return in.fcp ? fcp_runtime_u(*in.fcp, in.s, in.v, in.T) : get_u_FCP(in.s, in.v, in.T);
}

double step_taylor2(const compare_step &in) {
    cart_point P, d1, d2;
    nurbs_deBoor_eval(in.u, -1, in.curve, &P, &d1, &d2, nullptr);
    return get_u_Taylor2(in.v, in.a, in.u, in.T, &d1, &d2);
}

double step_taylor3(const compare_step &in) {
    cart_point P, d1, d2, d3;
    nurbs_deBoor_eval(in.u, -1, in.curve, &P, &d1, &d2, &d3);
    return get_u_Taylor3(in.v, in.a, in.j, in.u, in.T, &d1, &d2, &d3);
}

double step_taylor2_ds(const compare_step &in) {
    cart_point P, d1, d2;
    nurbs_deBoor_eval(in.u, -1, in.curve, &P, &d1, &d2, nullptr);
    return get_u_Taylor2_ds(in.v * in.T, in.u, in.T, &d1, &d2);
}

double step_taylor3_ds(const compare_step &in) {
    cart_point P, d1, d2, d3;
    nurbs_deBoor_eval(in.u, -1, in.curve, &P, &d1, &d2, &d3);
    return get_u_Taylor3_ds(in.v * in.T, in.u, in.T, &d1, &d2, &d3);
}

double step_rk2(const compare_step &in) {
    cart_point P, d1;
    nurbs_deBoor_eval(in.u, -1, in.curve, &P, &d1, nullptr, nullptr);
    return get_u_RK2(in.v, in.u, in.T, &P, &d1, in.curve);
}

// Evaluates the curve itself.
double step_t3sia(const compare_step &in) {
    return get_u_T3SIA(in.v, in.a, in.j, in.u, in.T, in.curve);
}

// Evaluates the curve itself (during start-up) and measures it.
double step_adams_moulton(const compare_step &in) {
    return get_u_AdamsMoulton(in.u, in.v, in.T, in.t, in.curve);
}

void start_adams_moulton() {
    reset_adams_moulton_history(0.0, 0.0);
}

method_state save_adams_moulton() {
    method_state s;
    adams_moulton_history(&s.um1, &s.um2);
    return s;
}

void restore_adams_moulton(const method_state &s) {
    reset_adams_moulton_history(s.um1, s.um2);
}

double step_newton(const compare_step &in) {
    cart_point P, d1, d2;
    nurbs_deBoor_eval(in.u, -1, in.curve, &P, &d1, &d2, nullptr);
    return get_u_NewtonRaphson(in.u, in.v, in.T, in.curve, &P, &d1, &d2);
}

const std::array<compare_method, 9> METHODS = {{
    {"FCP", nullptr, step_fcp, false},
    {"Taylor2", nullptr, step_taylor2, false},
    {"Taylor3", nullptr, step_taylor3, false},
    {"Taylor2_ds", nullptr, step_taylor2_ds, false},
    {"Taylor3_ds", nullptr, step_taylor3_ds, false},
    {"RK2", nullptr, step_rk2, false},
    {"T3SIA", nullptr, step_t3sia, true},
    {"AdamsMoulton", start_adams_moulton, step_adams_moulton, false, save_adams_moulton,
     restore_adams_moulton},
    {"NewtonRaphson", nullptr, step_newton, true},
}};

std::string lower(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

std::span<const compare_method> compare_methods() {
    return METHODS;
}

const compare_method *find_compare_method(const std::string &name) {
    std::string key = lower(name);
    if (key.rfind("get_u_", 0) == 0) key.erase(0, 6);
    for (const compare_method &m : METHODS)
        if (lower(m.name) == key) return &m;
    return nullptr;
}

bool method_uses_fcp_table(const compare_method &method) {
    return method.step == step_fcp;
}

std::string compare_method_names() {
    std::string known;
    for (const compare_method &k : METHODS)
        known += std::string(known.empty() ? "" : ", ") + k.name;
    return known;
}

} // namespace nurbs_interp
