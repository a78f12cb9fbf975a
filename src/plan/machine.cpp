#include "plan/machine.hpp"

#include <algorithm> // min, max

#include "io/format.hpp"

namespace nurbs_interp {

bool machine_has_axes(const machine_limits &m) {
    for (int k = 0; k < 3; ++k)
        if (m.vel[k] > 0 || m.acc[k] > 0 || m.jerk[k] > 0) return true;
    return false;
}

namespace {

// Returns share times the smallest of the given (positive) limits, or HUGE_VAL when none is.
double smallest(const std::array<double, 3> &limits, double share) {
    double m = HUGE_VAL;
    for (double l : limits)
        if (l > 0) m = std::min(m, share * l);
    return m;
}

} // namespace

double machine_path_acc(const machine_limits &m, double acc) {
    return std::min(acc, smallest(m.acc, AXIS_ACC_SHARE));
}

double machine_path_jerk(const machine_limits &m, double jerk) {
    return std::min(jerk, smallest(m.jerk, AXIS_JERK_SHARE));
}

path_frame path_frame_at(const cart_point &d1, const cart_point &d2, const cart_point &d3) {
    path_frame f;
    compute_axial_vaj(&f.t, &f.k, &f.dk, &d1, &d2, &d3, 1.0, 0.0, 0.0);
    return f;
}

std::string limit_name(limit_kind kind, int axis) {
    const std::string a = axis >= 0 && axis < 3 ? AXIS_NAMES[axis] : "?";
    switch (kind) {
    case limit_kind::axis_vel:
        return a + " velocity";
    case limit_kind::axis_acc:
        return a + " acceleration";
    case limit_kind::axis_jerk:
        return a + " jerk";
    case limit_kind::feed:
        return "cruise feed";
    case limit_kind::path_acc:
        return "path acceleration";
    case limit_kind::path_jerk:
        return "path jerk";
    case limit_kind::chord:
        return "chord error";
    case limit_kind::centripetal:
        return "centripetal acceleration";
    case limit_kind::stop:
        return "a stop";
    case limit_kind::jump_jerk:
        return a + " jerk at a curvature jump";
    case limit_kind::none:
        break;
    }
    return "none";
}

axis_cap axis_feed_cap(const path_frame &f, const machine_limits &m, double path_acc) {
    axis_cap c;
    auto lower = [&](double v, limit_kind kind, int axis) {
        if (v < c.v) c = {v, kind, axis};
    };
    for (int k = 0; k < 3; ++k) {
        const double t = std::fabs(axis_component(f.t, k)), kap = std::fabs(axis_component(f.k, k)),
                     dk = std::fabs(axis_component(f.dk, k));
        if (m.vel[k] > 0 && t > 0) lower(m.vel[k] / t, limit_kind::axis_vel, k);
        if (m.acc[k] > 0 && kap > 0)
            lower(std::sqrt((1 - AXIS_ACC_SHARE) * m.acc[k] / kap), limit_kind::axis_acc, k);
        if (m.jerk[k] > 0) {
            const double share = AXIS_JERK_SHARE * m.jerk[k];
            if (dk > 0) lower(std::cbrt(share / dk), limit_kind::axis_jerk, k);
            if (kap > 0 && path_acc > 0)
                lower(share / (3 * kap * path_acc), limit_kind::axis_jerk, k);
        }
    }
    return c;
}

axis_cap jump_feed_cap(const cart_point &dk, const machine_limits &m, double period) {
    axis_cap c;
    for (int k = 0; k < 3; ++k) {
        const double jump = std::fabs(axis_component(dk, k));
        if (m.jerk[k] > 0 && jump > 0) {
            const double v = std::sqrt(AXIS_JUMP_SHARE * m.jerk[k] * period / jump);
            if (v < c.v) c = {v, limit_kind::jump_jerk, k};
        }
    }
    return c;
}

std::pair<double, int> jump_jerk_ratio(const cart_point &dk, const machine_limits &m, double v,
                                       double period) {
    std::pair<double, int> worst{0.0, -1};
    for (int k = 0; k < 3; ++k)
        if (m.jerk[k] > 0) {
            const double r = std::fabs(axis_component(dk, k)) * v * v / (period * m.jerk[k]);
            if (r > worst.first) worst = {r, k};
        }
    return worst;
}

std::string machine_text(const machine_limits &m) {
    if (!machine_has_axes(m)) return "";
    auto three = [](const std::array<double, 3> &x) {
        std::string t;
        for (int k = 0; k < 3; ++k)
            t += (k ? "," : "") + (x[k] > 0 ? fmt("%g", x[k]) : std::string("none"));
        return t;
    };
    return "X,Y,Z velocity " + three(m.vel) + " mm/s, acceleration " + three(m.acc) +
           " mm/s^2, jerk " + three(m.jerk) + " mm/s^3";
}

} // namespace nurbs_interp
