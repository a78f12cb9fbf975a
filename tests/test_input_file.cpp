// Opening and reading an input: a directory or an unopenable file named the same way by every
// reader, and a whole input read once, within a bound, from a file or a pipe alike.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h> // mkfifo
#include <thread>

#include "io/input_file.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;
using namespace test_util;

namespace {

TEST(InputFile, AWholeInputIsReadOnceWithinItsBoundFromAFileOrAFifo) {
    temp_dir dir;
    std::string content, error;
    write_file(dir.file("ten"), "0123456789");
    ASSERT_TRUE(read_input_whole(dir.file("ten"), "drawing", 10, &content, &error)) << error;
    EXPECT_EQ(content, "0123456789");
    EXPECT_FALSE(read_input_whole(dir.file("ten"), "drawing", 9, &content, &error));
    EXPECT_EQ(error,
              dir.file("ten") + ": the drawing holds more than 9 bytes, the most that is read");
    EXPECT_FALSE(read_input_whole(dir.path.string(), "drawing", 9, &content, &error));
    EXPECT_EQ(error, dir.path.string() + ": is a directory, not a drawing");
    EXPECT_FALSE(read_input_whole(dir.file("none"), "drawing", 9, &content, &error));
    EXPECT_EQ(error, dir.file("none") + ": cannot open the drawing (No such file or directory)");

    // A FIFO has no size to check first: it is read up to the bound, and refused beyond it.
    // The writer may still be writing when the reader gives up: no SIGPIPE for the test.
    const auto old_pipe = std::signal(SIGPIPE, SIG_IGN);
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::size_t bound : {std::size_t(200000), std::size_t(199999)}) {
        std::thread writer([&] { write_file(fifo, std::string(200000, 'x')); });
        const bool ok = read_input_whole(fifo, "program", bound, &content, &error);
        writer.join();
        EXPECT_EQ(ok, bound == 200000) << bound << ": " << error;
        if (ok) {
            EXPECT_EQ(content, std::string(200000, 'x'));
        }
    }
    std::signal(SIGPIPE, old_pipe);
    EXPECT_EQ(error, fifo + ": the program holds more than 199999 bytes, the most that is read");
}

} // namespace
