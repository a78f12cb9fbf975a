// Hostile files: the fuzzers' regression inputs, huge counts, huge lines and binary junk. Each
// is rejected with a clear message, without a crash and without memory out of proportion.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "io/feed_profile.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;

using namespace test_util;
namespace fs = std::filesystem;

namespace {

// Peak resident memory of this process so far, in MiB.
double peak_rss_mib() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss / 1024.0;
}

// Loads `path` as a curve; returns the error message, "" if it loads.
std::string curve_error(const std::string &path) {
    nurbs_curve c;
    try {
        nurbs_curve_alloc_file(path.c_str(), &c);
    } catch (const nurbs_file_error &e) {
        return e.what();
    }
    return "";
}

std::string profile_failure(const std::string &path) {
    try {
        read_feed_profile(path.c_str());
    } catch (const profile_error &e) {
        return e.what();
    }
    return "";
}

TEST(HostileInput, FuzzerRegressionInputsAreHandled) {
    const fs::path root = fs::path(NURBS_SOURCE_DIR) / "tests" / "fuzz_regressions";
    for (const char *kind : {"curve", "profile"}) {
        if (!fs::exists(root / kind)) continue;
        for (const auto &entry : fs::directory_iterator(root / kind)) {
            // Each once crashed, hung or leaked; now it loads or is rejected, nothing else.
            const std::string path = entry.path().string();
            if (std::string(kind) == "curve")
                curve_error(path);
            else
                profile_failure(path);
        }
    }
}

TEST(HostileInput, BillionsPromisedFewPresent) {
    temp_dir dir;
    const double before = peak_rss_mib();
    write_file(dir.file("big.nurbs"), "N4294000000\tL3\tD2\nX0\tY0\tP1\n");
    EXPECT_NE(curve_error(dir.file("big.nurbs")).find("too many"), std::string::npos);
    write_file(dir.file("many.nurbs"), "N4000000\tL3\tD3\nX0\tY0\tZ0\tP1\nX1\tY0\tZ0\tP1\n");
    EXPECT_NE(
        curve_error(dir.file("many.nurbs")).find(":3: file ends before control point 3 of 4000000"),
        std::string::npos);
    write_file(dir.file("fprof.txt"), "N=2147483647\n1 2 3\n4 5 6\n");
    EXPECT_NE(
        profile_failure(dir.file("fprof.txt")).find(":3: file ends before sample 3 of 2147483647"),
        std::string::npos);
    write_file(dir.file("over.txt"), "N=99999999999\n1 2 3\n"); // beyond int: no count
    EXPECT_EQ(profile_failure(dir.file("over.txt")), "");
    EXPECT_LT(peak_rss_mib() - before, 64.0);
}

TEST(HostileInput, GigabyteLineIsRefusedAfterItsFirstKilobytes) {
    temp_dir dir;
    const double before = peak_rss_mib();
    // A sparse file: a header, then one line of 1 GiB (zero bytes) that never ends.
    for (const char *name : {"huge.nurbs", "huge_fprof.txt"}) {
        const std::string path = dir.file(name);
        const bool curve_file = std::string(name).find(".nurbs") != std::string::npos;
        write_file(path, curve_file ? "N4\tL3\tD2\n" : "N=5\n");
        const int fd = open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, off_t(1) << 30), 0);
        close(fd);
    }
    EXPECT_NE(curve_error(dir.file("huge.nurbs")).find("huge.nurbs:2:"), std::string::npos);
    EXPECT_NE(
        profile_failure(dir.file("huge_fprof.txt")).find("huge_fprof.txt:2: line longer than 4096"),
        std::string::npos);
    // 64 MiB of digits on one line: no number may be read from a line the reader refuses.
    write_file(dir.file("digits.txt"), "N=1\n" + std::string(64 << 20, '7') + "\n");
    EXPECT_NE(profile_failure(dir.file("digits.txt")).find(":2: line longer than 4096"),
              std::string::npos);
    EXPECT_LT(peak_rss_mib() - before, 200.0); // the 64 MiB test string itself, not the reader
}

TEST(HostileInput, BinaryJunkIsRejectedWithAMessage) {
    temp_dir dir;
    std::string junk;
    std::uint32_t x = 12345;
    for (int i = 0; i < 100000; ++i) {
        x = x * 1664525u + 1013904223u;
        junk.push_back(char(x >> 24));
    }
    write_file(dir.file("junk.nurbs"), junk);
    write_file(dir.file("junk.txt"), junk);
    write_file(dir.file("junk2.nurbs"), "N5\tL3\tD2\n" + junk);
    write_file(dir.file("junk2.txt"), "N=5\n" + junk);
    EXPECT_NE(curve_error(dir.file("junk.nurbs")).find("junk.nurbs:1: header does not match"),
              std::string::npos);
    EXPECT_NE(curve_error(dir.file("junk2.nurbs")).find("junk2.nurbs:"), std::string::npos);
    EXPECT_EQ(profile_failure(dir.file("junk.txt")), ""); // no "N=": an empty profile
    EXPECT_NE(profile_failure(dir.file("junk2.txt")).find("junk2.txt:"), std::string::npos);
}

} // namespace
