// The feed profile file: the driver's reader (formatted-input rules), the tools' strict reader,
// the writer and the travel along a profile.
#include <gtest/gtest.h>

#include <cmath>

#include "feed_profile.hpp"
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

} // namespace
