// The run-time feedrate correction table: evaluated exactly as get_u_FCP evaluates the
// compiled-in one, and its plain-text file, which reads back to the same doubles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "core/FCP_init.hpp" // the compiled-in table, to copy
#include "io/atomic_file.hpp"
#include "io/fcp_table_file.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;
using namespace test_util;

namespace {

fcp_table compiled_copy() {
    fcp_table t;
    t.sbrk.assign(FCP_SBRK, FCP_SBRK + BRK_LEN);
    for (int j = 0; j + 1 < BRK_LEN; ++j) {
        std::array<double, FCP_PIECE_COEFFS> row;
        std::memcpy(row.data(), FCP_THT[j], sizeof row);
        t.tht.push_back(row);
    }
    return t;
}

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(FcpRuntimeTable, IsBitIdenticalToTheCompiledInTable) {
    const fcp_table t = compiled_copy();
    std::mt19937_64 gen(5);
    const double L = FCP_SBRK[BRK_LEN - 1];
    std::uniform_real_distribution<double> s_of(-0.1 * L, 1.1 * L), v_of(0, 400);
    std::vector<double> cases = {0.0, L, std::nextafter(L, 0.0), FCP_SBRK[17], NAN, -1.0, 2 * L};
    for (int i = 0; i < 20000; ++i)
        cases.push_back(s_of(gen));
    for (double s : cases)
        for (double v : {0.0, 250.0, v_of(gen)}) {
            const double a = get_u_FCP(s, v, SERVO_PERIOD),
                         b = fcp_runtime_u(t, s, v, SERVO_PERIOD);
            ASSERT_TRUE(same_bits(a, b) || (std::isnan(a) && std::isnan(b))) << s << " " << v;
        }
    EXPECT_EQ(fcp_builtin_length(), L);
}

TEST(FcpTableFile, RoundTripIsExact) {
    temp_dir dir;
    const fcp_table t = compiled_copy();
    write_file_atomically(dir.file("t.txt"),
                          [&](std::FILE *f) { fcp_table_write(f, t, {"made by a test"}); });
    const fcp_table back = fcp_table_read(dir.file("t.txt"));
    ASSERT_EQ(back.sbrk.size(), t.sbrk.size());
    ASSERT_EQ(back.tht.size(), t.tht.size());
    for (std::size_t k = 0; k < t.sbrk.size(); ++k)
        ASSERT_TRUE(same_bits(back.sbrk[k], t.sbrk[k])) << k;
    for (std::size_t j = 0; j < t.tht.size(); ++j)
        for (int i = 0; i < FCP_PIECE_COEFFS; ++i)
            ASSERT_TRUE(same_bits(back.tht[j][i], t.tht[j][i])) << j << " " << i;
}

TEST(FcpTableFile, MalformedFilesAreRefusedWithTheLine) {
    temp_dir dir;
    const std::string good = "FCP table: 3 breakpoints\n# two pieces\nS 0\nS 1\nS 2.5\n"
                             "C 0 0 0 0 1 0\nC 0 0 0 0 1 0.4\n";
    auto error_of = [&](const std::string &text) {
        write_file(dir.file("t.txt"), text);
        try {
            fcp_table_read(dir.file("t.txt"));
        } catch (const fcp_file_error &e) {
            const std::string m = e.what();
            return m.substr(m.find("t.txt"));
        }
        return std::string();
    };
    EXPECT_EQ(error_of(good), "");
    auto with = [&](const std::string &from, const std::string &to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    EXPECT_EQ(error_of(with("3 breakpoints", "3 breakpointz")),
              "t.txt:1: the first line must be \"FCP table: <count> breakpoints\"");
    EXPECT_EQ(error_of(with("3 breakpoints", "1 breakpoints")),
              "t.txt:1: the breakpoint count 1 is outside 2..1000001");
    EXPECT_EQ(error_of(with("S 0\n", "S 0.5\n")), "t.txt:3: the first breakpoint must be 0");
    EXPECT_EQ(error_of(with("S 2.5", "S 1")),
              "t.txt:5: breakpoint 3 of 3 does not rise above the one before it");
    EXPECT_EQ(error_of(with("C 0 0 0 0 1 0.4", "C 0 0 0 0 1")),
              "t.txt:7: piece 2 of 2: expected 6 numbers");
    EXPECT_EQ(error_of(with("C 0 0 0 0 1 0.4", "C 0 0 0 0 1 nan")),
              "t.txt:7: piece 2 of 2: a number is not finite");
    EXPECT_EQ(error_of(with("C 0 0 0 0 1 0.4", "C 0 0 0 0 1 0.4 9")),
              "t.txt:7: piece 2 of 2: more than 6 numbers");
    EXPECT_EQ(error_of(good + "S 3\n"), "t.txt:8: more lines than the table holds");
    EXPECT_EQ(error_of("FCP table: 3 breakpoints\nS 0\n"),
              "t.txt:2: file ends before breakpoint 2 of 3");
    EXPECT_THROW(fcp_table_read(dir.file("none.txt")), fcp_file_error);
}

} // namespace
