// The benchmark driver end to end, its feed profile reader and its tick conversion.
#include <gtest/gtest.h>

#include <cmath>

#include "feed_profile.hpp"
#include "test_util.hpp"
#include "tick_clock.hpp"

using namespace nurbs_interp;

using namespace test_util;

namespace {

TEST(TickClock, MultiplyFirstConversionWithoutOverflow) {
    EXPECT_EQ(ticks_to_microseconds(1000000000, 1000000000), 1000000);
    EXPECT_EQ(ticks_to_microseconds(3579545, 3579545), 1000000);
    EXPECT_EQ(ticks_to_microseconds(999, 1000000000), 0); // truncated, not rounded
    EXPECT_EQ(ticks_to_microseconds(1999, 1000000), 1999);
    EXPECT_EQ(ticks_to_microseconds(1999, 2000000), 999);
    EXPECT_EQ(ticks_to_microseconds(-1500, 1000000000), -1); // toward zero
    // A day, and a year, at 1 GHz: ticks * 1e6 alone would overflow 64 bits after 2.5 hours.
    EXPECT_EQ(ticks_to_microseconds(86400LL * 1000000000LL + 123456, 1000000000),
              86400LL * 1000000LL + 123);
    EXPECT_EQ(ticks_to_microseconds(365LL * 86400 * 1000000000LL, 1000000000),
              365LL * 86400 * 1000000LL);
    EXPECT_GT(tick_frequency(), 0);
    const auto t0 = tick_count();
    EXPECT_GE(tick_count(), t0);
}

feed_profile read_text(const std::string &text) {
    temp_dir dir;
    write_file(dir.file("fprof.txt"), text);
    return read_feed_profile(dir.file("fprof.txt").c_str());
}

std::string profile_error_of(const std::string &text) {
    try {
        read_text(text);
    } catch (const profile_error &e) {
        const std::string msg = e.what();
        const auto at = msg.find("fprof.txt");
        return at == std::string::npos ? msg : msg.substr(at);
    }
    return "";
}

TEST(ProfileReader, ReadsCountSamplesInOrderAndIgnoresTheRest) {
    const feed_profile p = read_text("N=2\n1.5e2 -3 4e4\n  7\t8\n\n9 extra stuff\n");
    EXPECT_EQ(p.v, (std::vector<double>{150, 7}));
    EXPECT_EQ(p.a, (std::vector<double>{-3, 8}));
    EXPECT_EQ(p.j, (std::vector<double>{40000, 9}));
    // No "N=" at the very start, or a count of 0 or less: no sample is read.
    for (const char *text :
         {"N =2\n1 2 3\n", " N=2\n1 2 3\n", "n=2\n", "N=0\n1 2 3\n", "N=-5\n", "", "garbage"})
        EXPECT_TRUE(read_text(text).v.empty()) << text;
}

TEST(ProfileReader, RejectsMissingOrBrokenSamplesNamingFileAndLine) {
    EXPECT_EQ(profile_error_of("N=3\n1 2 3\n4 5 6\n"),
              "fprof.txt:3: file ends before sample 3 of 3");
    EXPECT_EQ(
        profile_error_of("N=2\n1 2 3\n4 x 6\n"),
        "fprof.txt:3: sample 2 of 2: acceleration is not a number (expected \"%le %le %le\")");
    EXPECT_EQ(profile_error_of("N=1\n1 nan 3\n"),
              "fprof.txt:2: sample 1 of 1: acceleration is not finite");
    EXPECT_EQ(profile_error_of("N=1\n" + std::string(10000, '1')),
              "fprof.txt:2: line longer than 4096 characters");
    // Billions of samples promised, three present: the reader stops at the end of the file.
    EXPECT_EQ(profile_error_of("N=2000000000\n1 2 3\n"),
              "fprof.txt:2: file ends before sample 2 of 2000000000");
    try {
        read_feed_profile("/nonexistent/fprof.txt");
        FAIL();
    } catch (const profile_error &e) {
        EXPECT_STREQ(e.what(), "/nonexistent/fprof.txt: could not open the feed profile");
    }
}

// A working directory for nurbs_bench with the bundled curve.
struct bench_dir {
    temp_dir dir;
    std::string out = dir.file("stdout"), err = dir.file("stderr");
    bench_dir(bool with_curve = true) {
        if (with_curve)
            std::filesystem::copy_file(std::string(NURBS_BUNDLED_DATA) + "/S1200X30quorbel.nurbs",
                                       dir.file("S1200X30quorbel.nurbs"));
    }
    int run_bench() {
        return run("cd " + dir.path.string() + " && " + NURBS_BIN_DIR + "/nurbs_bench", out, err);
    }
};

bool is_deltaT_line(const std::string &s) {
    return s.rfind("deltaT=", 0) == 0 && s.back() == '\n' && s.find('\n') == s.size() - 1 &&
           s.find_first_not_of("0123456789", 7) == s.size() - 1;
}

TEST(Driver, GoodRunPrintsOneDeltaTLineAndLeavesAnEmptyOutputFile) {
    bench_dir b;
    std::string prof = "N=400\n";
    for (int i = 0; i < 400; ++i)
        prof += std::to_string(0.5 * i) + " 2000 0\n";
    write_file(b.dir.file("fprof.txt"), prof);
    write_file(b.dir.file("nurbs_out.txt"), "old content\n"); // emptied by the run
    ASSERT_EQ(b.run_bench(), 0) << read_file(b.err);
    EXPECT_TRUE(is_deltaT_line(read_file(b.out))) << read_file(b.out);
    EXPECT_EQ(read_file(b.err), "");
    EXPECT_TRUE(std::filesystem::exists(b.dir.file("nurbs_out.txt")));
    EXPECT_EQ(read_file(b.dir.file("nurbs_out.txt")), "");
}

TEST(Driver, EmptyOrUnmatchedProfileRunsNoStep) {
    for (const char *text : {"N=0\n", "N=-3\n", "N =5\n1 2 3\n"}) {
        bench_dir b;
        write_file(b.dir.file("fprof.txt"), text);
        EXPECT_EQ(b.run_bench(), 0) << text;
        EXPECT_TRUE(is_deltaT_line(read_file(b.out))) << read_file(b.out);
        EXPECT_EQ(read_file(b.dir.file("nurbs_out.txt")), "");
    }
}

TEST(Driver, FailuresNameTheFileAndStopBeforeTiming) {
    {
        bench_dir b(false);
        write_file(b.dir.file("fprof.txt"), "N=0\n");
        EXPECT_EQ(b.run_bench(), 255);
        EXPECT_EQ(read_file(b.out), "!!! ERROR: could not open .nurbs file !!!\n");
    }
    {
        bench_dir b; // no fprof.txt
        EXPECT_EQ(b.run_bench(), 255);
        EXPECT_EQ(read_file(b.out), "");
        EXPECT_EQ(read_file(b.err), "fprof.txt: could not open the feed profile\n");
        EXPECT_FALSE(std::filesystem::exists(b.dir.file("nurbs_out.txt")));
    }
    {
        bench_dir b;
        write_file(b.dir.file("fprof.txt"), "N=3\n1 0 0\n2 0 0\n");
        EXPECT_EQ(b.run_bench(), 255);
        EXPECT_EQ(read_file(b.out), "");
        EXPECT_EQ(read_file(b.err), "fprof.txt:3: file ends before sample 3 of 3\n");
    }
    {
        bench_dir b;
        write_file(b.dir.file("fprof.txt"), "N=1\n1 0 0\n");
        std::filesystem::create_directory(b.dir.file("nurbs_out.txt")); // cannot be opened
        EXPECT_EQ(b.run_bench(), 255);
        EXPECT_EQ(read_file(b.out), "ERROR: could not open file nurbs_out.txt\n");
    }
}

} // namespace
