// Outputs that appear whole or not at all, and the checks made before any work: an output that
// is an input (by device and inode), a directory, or a place that cannot be written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "atomic_file.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;
using namespace test_util;
namespace fs = std::filesystem;

namespace {

std::size_t entries(const temp_dir &dir) {
    return std::distance(fs::directory_iterator(dir.path), fs::directory_iterator());
}

TEST(AtomicFile, CommitReplacesTheOutputAndAnAbandonedOneLeavesItAsItWas) {
    temp_dir dir;
    const std::string path = dir.file("out.txt");
    write_file(path, "old\n");
    {
        atomic_file f(path);
        std::fputs("half", f.stream());
        EXPECT_EQ(entries(dir), 2u); // the output and its temporary beside it
        EXPECT_EQ(fs::path(f.temp_path()).parent_path(), dir.path);
    } // never committed: an error or an exception on the way
    EXPECT_EQ(read_file(path), "old\n");
    EXPECT_EQ(entries(dir), 1u);

    write_file_atomically(path, [](std::FILE *f) { std::fputs("new\n", f); });
    EXPECT_EQ(read_file(path), "new\n");
    EXPECT_EQ(entries(dir), 1u);
    // The permissions of any new file, not mkstemp's private 0600.
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST(AtomicFile, TwoOutputsOfTheSameNameGetTheirOwnTemporaries) {
    temp_dir dir;
    write_file(dir.file("out.txt.tmp"), "a user's file\n");
    atomic_file a(dir.file("out.txt")), b(dir.file("out.txt"));
    EXPECT_NE(a.temp_path(), b.temp_path());
    a.commit();
    EXPECT_EQ(read_file(dir.file("out.txt.tmp")), "a user's file\n");
}

TEST(AtomicFile, OutputsOverInputsDirectoriesAndNowhereAreRefused) {
    temp_dir dir;
    const std::string in = dir.file("in.nurbs");
    write_file(in, "input\n");
    fs::create_hard_link(in, dir.file("hard"));
    fs::create_symlink(in, dir.file("soft"));
    fs::create_directory(dir.file("sub"));
    for (const std::string &out :
         {in, dir.file("hard"), dir.file("soft"), dir.file("sub/../in.nurbs")})
        EXPECT_THROW(refuse_output_over_inputs(out, "-o", {in}), output_error) << out;
    EXPECT_THROW(refuse_output_over_inputs(dir.file("sub"), "-o", {in}), output_error);
    EXPECT_NO_THROW(refuse_output_over_inputs(dir.file("new.txt"), "-o", {in}));
    EXPECT_NO_THROW(refuse_output_over_inputs(dir.file("hard"), "-o", {dir.file("other")}));
    try {
        refuse_output_over_inputs(dir.file("hard"), "--csv", {in});
        FAIL();
    } catch (const output_error &e) {
        EXPECT_NE(std::string(e.what()).find("--csv"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("is the input " + in), std::string::npos);
    }
    EXPECT_THROW(check_output_writable(dir.file("no/such/dir/x"), "-o"), output_error);
    EXPECT_THROW(atomic_file(dir.file("sub")), output_error);
    EXPECT_NO_THROW(check_output_writable(dir.file("x"), "-o"));
    EXPECT_EQ(read_file(in), "input\n");
    EXPECT_EQ(entries(dir), 4u); // in.nurbs, hard, soft, sub: nothing left behind
}

} // namespace
