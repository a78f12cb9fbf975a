// The feed profile file: the driver's reader (formatted-input rules), the tools' strict reader,
// the writer and the travel along a profile.
#include <gtest/gtest.h>

#include <cmath>

#include "io/feed_profile.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;
using namespace test_util;

namespace {

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

TEST(ProfilePeriod, ALineAfterTheSamplesSaysThePeriodAndTheDriversReaderNeverSeesIt) {
    temp_dir dir;
    feed_profile p;
    p.v = {0, 1.5, 0};
    p.a = {0, 2, 0};
    p.j = {0, 3, 0};
    p.period = 0.001;
    std::FILE *f = std::fopen(dir.file("p.txt").c_str(), "w");
    ASSERT_TRUE(feed_profile_write(f, p));
    std::fclose(f);
    EXPECT_EQ(read_file(dir.file("p.txt")), "N=3\n0 0 0\n1.5 2 3\n0 0 0\n# period 0.001 s\n");
    const feed_profile back = read_feed_profile_checked(dir.file("p.txt"));
    EXPECT_EQ(back.v, p.v);
    EXPECT_EQ(back.period, 0.001);
    EXPECT_EQ(profile_period(back), 0.001);
    EXPECT_NO_THROW(check_profile_period(back, 0.001, "p.txt"));
    try {
        check_profile_period(back, 0.00025, "p.txt");
        FAIL();
    } catch (const profile_error &e) {
        EXPECT_STREQ(e.what(), "p.txt: the profile was made for a servo period of 0.001 s (its "
                               "period line), this run's is 0.00025 s");
    }
    // The driver's reader stops after the samples.
    EXPECT_EQ(read_feed_profile(dir.file("p.txt").c_str()).v, p.v);
    // Without the line a profile is for 0.00025 s.
    p.period = 0;
    f = std::fopen(dir.file("q.txt").c_str(), "w");
    feed_profile_write(f, p);
    std::fclose(f);
    const feed_profile plain = read_feed_profile_checked(dir.file("q.txt"));
    EXPECT_EQ(profile_period(plain), SERVO_PERIOD);
    EXPECT_THROW(check_profile_period(plain, 0.001, "q.txt"), profile_error);
    // Anything else after the samples is still refused, a period line that is not one too.
    for (const char *tail : {"# period 0 s\n", "# period nan s\n", "# period 1 ms\n", "# comment\n",
                             "# period 0.001 s\n7 8 9\n"}) {
        write_file(dir.file("r.txt"), std::string("N=1\n1 2 3\n") + tail);
        EXPECT_THROW(read_feed_profile_checked(dir.file("r.txt")), profile_error) << tail;
    }
}

// Returns the message the tools' reader refuses `text` with, from the file name on ("" when
// it reads).
std::string checked_error_of(const std::string &text) {
    temp_dir dir;
    write_file(dir.file("fprof.txt"), text);
    try {
        read_feed_profile_checked(dir.file("fprof.txt"));
    } catch (const profile_error &e) {
        const std::string msg = e.what();
        return msg.substr(msg.find("fprof.txt"));
    }
    return "";
}

TEST(ProfileReaderChecked, ANegativeFeedAndAPeriodOutOfRangeAreNamedWithTheirLine) {
    // A feed below zero would run backwards; the file is at fault, not the interpolators.
    EXPECT_EQ(checked_error_of("N=3\n0 0 0\n\n-10 0 0\n0 0 0\n"),
              "fprof.txt:4: sample 2 of 3: the feed is negative");
    EXPECT_EQ(checked_error_of("N=1\n-0 0 0\n"), ""); // minus zero is a rest
    // The period line takes what --period takes, 1e-5 to 0.1 s, ends included.
    EXPECT_EQ(checked_error_of("N=1\n0 0 0\n# period 1e-300 s\n"),
              "fprof.txt:3: the period line says 1e-300 s; a servo period is from 1e-05 to 0.1 s");
    EXPECT_EQ(checked_error_of("N=1\n0 0 0\n# period 10 s\n"),
              "fprof.txt:3: the period line says 10 s; a servo period is from 1e-05 to 0.1 s");
    for (const char *ok : {"# period 1e-5 s\n", "# period 0.1 s\n"})
        EXPECT_EQ(checked_error_of(std::string("N=1\n0 0 0\n") + ok), "") << ok;
}

} // namespace
