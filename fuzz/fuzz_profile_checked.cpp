// libFuzzer harness: the tools' strict feed profile reader.
#include <cstdint>
#include <cstdio>

#include "feed_profile.hpp"

using namespace nurbs_interp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0; // fmemopen refuses an empty buffer; the empty file is a unit test
    std::FILE *f = fmemopen(const_cast<std::uint8_t *>(data), size, "r");
    if (!f) return 0;
    try {
        const feed_profile p = read_feed_profile_checked_stream(f, "fuzz_fprof.txt");
        if (p.v.size() != p.a.size() || p.v.size() != p.j.size()) __builtin_trap();
        for (double v : p.v)
            if (!(v >= 0)) __builtin_trap(); // a feed the reader let through must be finite, >= 0
    } catch (const profile_error &) {
    }
    std::fclose(f);
    return 0;
}
