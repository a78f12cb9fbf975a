#include "compare/result_wire.hpp"

#include <cstdint>
#include <cstring> // memcpy
#include <type_traits>

namespace nurbs_interp {

namespace {

// Every member of a result, once: the writer and the reader both walk this list.
template <class A, class R> void result_fields(A &a, R &r) {
    a(r.name), a(r.residual), a(r.period), a(r.policy), a(r.samples), a(r.steps), a(r.failed);
    a(r.reason), a(r.reached_end), a(r.end_time), a(r.end_u), a(r.travelled), a(r.commanded);
    a(r.accurate), a(r.profile_left), a(r.rel_err), a(r.chord_err), a(r.call_ns), a(r.at_joint);
    a(r.axis_jerk), a(r.axis.acc_max), a(r.axis.jerk_max), a(r.axis.acc_ratio);
    a(r.axis.jerk_ratio), a(r.scored), a(r.fluct_max), a(r.fluct_joints), a(r.fluct_elsewhere);
    a(r.fluct_rms), a(r.chord_max), a(r.drift), a(r.len_err_sum), a(r.len_err_ms);
    a(r.len_err_steps), a(r.fluct_max_u), a(r.iter_mean), a(r.iter_max), a(r.t_median);
    a(r.t_p99), a(r.t_p9999), a(r.t_max), a(r.iterative), a(r.stops.tolerance);
    a(r.stops.stagnation), a(r.stops.bound), a(r.stops.guard), a(r.stops.stagnation_residual_max);
    a(r.u_in), a(r.s_in), a(r.t_in), a(r.state_in), a(r.replayed), a(r.worst_replayed_ns);
    a(r.worst_replayed_sample), a(r.worst_calls), a(r.worst_iterations), a(r.replay_error);
}

// A member added to method_result must be added to result_fields too; this size (of the
// 64-bit GNU library's layout) is here to make that hard to forget.
#if defined(__GLIBCXX__) && defined(__x86_64__)
static_assert(sizeof(method_result) == 696,
              "method_result changed: carry the new member in result_fields, then update this");
#endif

struct writer {
    std::string out;
    template <class T> void raw(const T &x) {
        out.append(reinterpret_cast<const char *>(&x), sizeof x);
    }
    template <class T> void operator()(const T &x) {
        static_assert(std::is_trivially_copyable_v<T>);
        raw(x);
    }
    void operator()(const std::string &s) {
        raw(std::uint64_t(s.size()));
        out += s;
    }
    template <class T> void operator()(const std::vector<T> &v) {
        raw(std::uint64_t(v.size()));
        out.append(reinterpret_cast<const char *>(v.data()), v.size() * sizeof(T));
    }
};

struct reader {
    std::string_view in;
    std::size_t at = 0;
    bool ok = true;
    // Takes n bytes into p when they are there.
    bool take(void *p, std::size_t n) {
        if (!ok || in.size() - at < n) return ok = false;
        if (n) std::memcpy(p, in.data() + at, n);
        at += n;
        return true;
    }
    template <class T> void operator()(T &x) { take(&x, sizeof x); }
    // Returns a count of elements of n bytes that the rest of the input can hold, else fails.
    std::size_t count(std::size_t n) {
        std::uint64_t c = 0;
        if (!take(&c, sizeof c) || c > (in.size() - at) / n) return ok = false, 0;
        return std::size_t(c);
    }
    void operator()(std::string &s) {
        s.resize(count(1));
        take(s.data(), s.size());
    }
    template <class T> void operator()(std::vector<T> &v) {
        v.resize(count(sizeof(T)));
        take(v.data(), v.size() * sizeof(T));
    }
};

} // namespace

std::string result_to_bytes(const method_result &r) {
    writer w;
    result_fields(w, r);
    return std::move(w.out);
}

bool result_from_bytes(std::string_view bytes, method_result *r) {
    reader rd{bytes};
    result_fields(rd, *r);
    return rd.ok && rd.at == bytes.size();
}

} // namespace nurbs_interp
