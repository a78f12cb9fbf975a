// libFuzzer harness: both feed profile readers on the same input, the driver's (formatted
// input) and the tools' strict one.
#include <cstdint>
#include <cstdio>

#include "io/feed_profile.hpp"

using namespace nurbs_interp;

namespace {

// Reads the input with `read`; a profile that comes back must have equal columns, and one
// from the strict reader only finite feeds of at least 0.
template <class Read>
void read_with(const std::uint8_t *data, std::size_t size, Read read, bool strict) {
    std::FILE *f = fmemopen(const_cast<std::uint8_t *>(data), size, "r");
    if (!f) return;
    try {
        const feed_profile p = read(f);
        if (p.v.size() != p.a.size() || p.v.size() != p.j.size()) __builtin_trap();
        if (strict)
            for (double v : p.v)
                if (!(v >= 0)) __builtin_trap();
    } catch (const profile_error &) {
    }
    std::fclose(f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0; // fmemopen refuses an empty buffer; the empty file is a unit test
    read_with(
        data, size, [](std::FILE *f) { return read_feed_profile_stream(f, "fuzz_fprof.txt"); },
        false);
    read_with(
        data, size,
        [](std::FILE *f) { return read_feed_profile_checked_stream(f, "fuzz_fprof.txt"); }, true);
    return 0;
}
