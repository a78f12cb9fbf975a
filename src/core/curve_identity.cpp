#include "curve_identity.hpp"

#include <cinttypes> // PRIx64
#include <cstdio>    // snprintf
#include <cstring>   // memcpy

namespace nurbs_interp {

namespace {

constexpr std::uint64_t FNV_OFFSET = 14695981039346656037ULL;
constexpr std::uint64_t FNV_PRIME = 1099511628211ULL;

// Returns h with the `n` bytes at p hashed in.
std::uint64_t fnv1a(std::uint64_t h, const void *p, std::size_t n) {
    const unsigned char *b = static_cast<const unsigned char *>(p);
    for (std::size_t i = 0; i < n; ++i)
        h = (h ^ b[i]) * FNV_PRIME;
    return h;
}

// Returns h with the bytes of the double x hashed in (-0 as +0: the same curve).
std::uint64_t fnv1a_double(std::uint64_t h, double x) {
    if (x == 0) x = 0;
    unsigned char b[sizeof x];
    std::memcpy(b, &x, sizeof x);
    return fnv1a(h, b, sizeof b);
}

// Returns "N points, degree D, checksum 0x..".
std::string describe(std::uint32_t points, std::uint32_t degree, std::uint64_t checksum) {
    char s[96];
    std::snprintf(s, sizeof s, "%u points, degree %u, checksum 0x%016" PRIx64, points, degree,
                  checksum);
    return s;
}

} // namespace

std::uint64_t curve_checksum(const nurbs_curve &curve) {
    std::uint64_t h = FNV_OFFSET;
    h = fnv1a(h, &curve.deg, sizeof curve.deg);
    h = fnv1a(h, &curve.ncp, sizeof curve.ncp);
    for (double k : curve.knots)
        h = fnv1a_double(h, k);
    for (const nurbs_ctrl_pt &q : curve.control_points) {
        h = fnv1a_double(h, q.x);
        h = fnv1a_double(h, q.y);
        h = fnv1a_double(h, q.z);
        h = fnv1a_double(h, q.w);
    }
    return h;
}

curve_identity identity_of(const nurbs_curve &curve, double length) {
    return {curve.ncp, curve.deg, curve_checksum(curve), length};
}

std::string identity_mismatch(const curve_identity &made_for, const nurbs_curve &curve) {
    const std::uint64_t sum = curve_checksum(curve);
    if (made_for.points == curve.ncp && made_for.degree == curve.deg && made_for.checksum == sum)
        return "";
    return describe(made_for.points, made_for.degree, made_for.checksum) +
           "; this curve: " + describe(curve.ncp, curve.deg, sum);
}

} // namespace nurbs_interp
