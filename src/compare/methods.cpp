#include "compare/methods.hpp"

#include <algorithm> // min
#include <array>
#include <cctype>  // tolower
#include <cstring> // memcpy: the Adams-Moulton history as bytes
#include <vector>

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

// Adams-Moulton's state: its history um1, um2, as two doubles.
void save_adams_moulton(void *state) {
    double h[2];
    adams_moulton_history(&h[0], &h[1]);
    std::memcpy(state, h, sizeof h);
}

void restore_adams_moulton(const void *state) {
    double h[2];
    std::memcpy(h, state, sizeof h);
    reset_adams_moulton_history(h[0], h[1]);
}

// How the core's last corrector loop (T3SIA's, Newton-Raphson's) ended.
corrector_report core_corrector() {
    return {interp_last_iterations(), interp_last_stop(), interp_last_residual()};
}

double step_newton(const compare_step &in) {
    cart_point P, d1, d2;
    nurbs_deBoor_eval(in.u, -1, in.curve, &P, &d1, &d2, nullptr);
    return get_u_NewtonRaphson(in.u, in.v, in.T, in.curve, &P, &d1, &d2);
}

const std::array<compare_method, 9> METHODS = {{
    {"FCP",
     "get_u_FCP, driven by its own travelled arc length (the sum of the measured step lengths), "
     "with the table --fcp-table chooses",
     step_fcp, nullptr, nullptr, nullptr, nullptr, true},
    {"Taylor2", "get_u_Taylor2 (v, a; C', C'' evaluated at u)", step_taylor2},
    {"Taylor3", "get_u_Taylor3 (v, a, j; C', C'', C''')", step_taylor3},
    {"Taylor2_ds", "get_u_Taylor2_ds with ds = v*T (C', C'')", step_taylor2_ds},
    {"Taylor3_ds", "get_u_Taylor3_ds with ds = v*T (C', C'', C''')", step_taylor3_ds},
    {"RK2", "get_u_RK2 (C, C')", step_rk2},
    {"T3SIA", "get_u_T3SIA (evaluates the curve itself)", step_t3sia, nullptr,
     "s, tolerance 0.001 s", nullptr, nullptr, false, 0, core_corrector},
    {"AdamsMoulton",
     "get_u_AdamsMoulton with ct = the time since its motion began; its history is reset to 0 "
     "when its motion begins",
     step_adams_moulton, start_adams_moulton, nullptr, save_adams_moulton, restore_adams_moulton,
     false, 2 * sizeof(double)},
    {"NewtonRaphson", "get_u_NewtonRaphson (C, C', C'')", step_newton, nullptr,
     "mm, tolerance 1e-12 mm", nullptr, nullptr, false, 0, core_corrector},
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

const compare_method *find_compare_method(const std::string &name, loaded_methods loaded) {
    std::string key = lower(name);
    if (key.rfind("get_u_", 0) == 0) key.erase(0, 6);
    for (const compare_method &m : METHODS)
        if (lower(m.name) == key) return &m;
    for (const compare_method *m : loaded)
        if (lower(m->name) == key) return m;
    return nullptr;
}

std::string unknown_method_in(const std::string &list, loaded_methods loaded) {
    std::vector<const compare_method *> seen;
    for (std::size_t pos = 0; pos <= list.size();) {
        const std::size_t comma = std::min(list.find(',', pos), list.size());
        const std::string name = list.substr(pos, comma - pos);
        const compare_method *m = find_compare_method(name, loaded);
        if (!m)
            return "unknown method \"" + name + "\" (known: " + compare_method_names(loaded) + ")";
        for (const compare_method *s : seen)
            if (s == m) return "method " + std::string(m->name) + " given twice";
        seen.push_back(m);
        pos = comma + 1;
    }
    return "";
}

std::vector<const compare_method *> methods_in_list(const std::string &list,
                                                    loaded_methods loaded) {
    std::vector<const compare_method *> out;
    if (list.empty()) {
        for (const compare_method &m : METHODS)
            out.push_back(&m);
        out.insert(out.end(), loaded.begin(), loaded.end());
    }
    for (std::size_t pos = 0; !list.empty() && pos <= list.size();) {
        const std::size_t comma = std::min(list.find(',', pos), list.size());
        if (const compare_method *m = find_compare_method(list.substr(pos, comma - pos), loaded))
            out.push_back(m);
        pos = comma + 1;
    }
    return out;
}

std::string compare_method_help() {
    std::string help;
    for (const compare_method &m : METHODS) {
        std::string line = "  " + std::string(m.name);
        line.resize(17, ' ');
        help += line + m.about + "\n";
    }
    return help;
}

std::string compare_method_names(loaded_methods loaded) {
    std::string known;
    for (const compare_method &k : METHODS)
        known += std::string(known.empty() ? "" : ", ") + k.name;
    for (const compare_method *k : loaded)
        known += std::string(", ") + k->name;
    return known;
}

} // namespace nurbs_interp
