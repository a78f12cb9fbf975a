// The benchmark driver nurbs_bench end to end: its one line, its files, its failures.
#include <gtest/gtest.h>

#include <cmath>

#include "test_util.hpp"

using namespace nurbs_interp;

using namespace test_util;

namespace {

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

TEST(Driver, ACurveTheCompiledInTableWasNotMadeForIsRefusedNamingFcpFit) {
    // Under the bundled name: a nine-point circle, and the bundled curve with one coordinate
    // changed in its last digit (same count, degree and length to 1e-12: only the checksum
    // tells). Neither runs on the table of the bundled curve.
    const std::string bundled =
        read_file(std::string(NURBS_BUNDLED_DATA) + "/S1200X30quorbel.nurbs");
    const std::size_t x = bundled.find("\nX", bundled.size() / 2);
    ASSERT_NE(x, std::string::npos);
    const std::size_t digit = bundled.find_first_of("\t", x + 2) - 1;
    std::string nudged = bundled;
    nudged[digit] = nudged[digit] == '1' ? '2' : '1';
    for (const std::string &curve :
         {std::string(
              "N9\tL2\tD2\nX50\tY0\tP1\nX50\tY50\tP0.7071067811865476\nX0\tY50\tP1\n"
              "X-50\tY50\tP0.7071067811865476\nX-50\tY0\tP1\nX-50\tY-50\tP0.7071067811865476\n"
              "X0\tY-50\tP1\nX50\tY-50\tP0.7071067811865476\nX50\tY0\tP1\n"),
          nudged}) {
        bench_dir b(false);
        write_file(b.dir.file("S1200X30quorbel.nurbs"), curve);
        write_file(b.dir.file("fprof.txt"), "N=2\n100 0 0\n100 0 0\n");
        EXPECT_EQ(b.run_bench(), 255);
        EXPECT_EQ(read_file(b.out), "") << "no deltaT";
        const std::string err = read_file(b.err);
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
        EXPECT_NE(err.find("fcp_fit"), std::string::npos) << err;
        EXPECT_NE(err.find("compiled-in feedrate correction table"), std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(b.dir.file("nurbs_out.txt")));
    }
}

} // namespace
