#include "plan/gauss_legendre.hpp"

#include <cmath> // cos, fabs
#include <map>
#include <mutex>

namespace nurbs_interp {

namespace {

constexpr double PI = 3.14159265358979323846;

// Returns the n-point rule: node i from the Chebyshev-like guess cos(pi (i + 3/4) / (n + 1/2))
// refined by Newton's method on P_n (three-term recurrence), weight 2 / ((1 - x^2) P_n'(x)^2).
gauss_rule make_rule(int n) {
    gauss_rule r;
    r.x.resize(n);
    r.w.resize(n);
    for (int i = 0; i < n; ++i) {
        double x = std::cos(PI * (i + 0.75) / (n + 0.5));
        double dp = 0;
        for (int it = 0; it < 100; ++it) {
            double p0 = 1, p1 = x;
            for (int k = 2; k <= n; ++k) {
                const double p2 = ((2 * k - 1) * x * p1 - (k - 1) * p0) / k;
                p0 = p1;
                p1 = p2;
            }
            dp = n * (x * p1 - p0) / (x * x - 1);
            const double dx = p1 / dp;
            x -= dx;
            if (std::fabs(dx) < 1e-17) break;
        }
        r.x[i] = x;
        r.w[i] = 2 / ((1 - x * x) * dp * dp);
    }
    return r;
}

} // namespace

const gauss_rule &gauss_legendre(int n) {
    static std::mutex lock;
    static std::map<int, gauss_rule> rules;
    const std::lock_guard<std::mutex> hold(lock);
    auto it = rules.find(n);
    if (it == rules.end()) it = rules.emplace(n, make_rule(n)).first;
    return it->second;
}

} // namespace nurbs_interp
