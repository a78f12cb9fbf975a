// Outputs that appear whole or not at all, and the checks made before any work: an output that
// is an input (by device and inode), a directory, or a place that cannot be written. What an
// output path names decides how it is written: special files directly, a link's target, an
// existing file's permissions and its other hard links kept.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "io/atomic_file.hpp"
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

TEST(AtomicFile, CharacterDevicesFifosAndSocketsAreWrittenDirectlyNeverReplaced) {
    temp_dir dir;
    const std::string null = dir.file("null"), full = dir.file("full");
    if (!make_device(null, S_IFCHR, 1, 3) || !make_device(full, S_IFCHR, 1, 7))
        GTEST_SKIP() << "mknod is not permitted here (needs root)";
    write_file_atomically(null, [](std::FILE *f) { std::fputs("discarded\n", f); });
    EXPECT_EQ(file_type(null), S_IFCHR);
    try { // the device says why: the output fails, the node stays
        write_file_atomically(full, [](std::FILE *f) { std::fputs("no room\n", f); });
        FAIL() << "a write to a full device succeeded";
    } catch (const output_error &e) {
        EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(file_type(full), S_IFCHR);
    EXPECT_NO_THROW(check_output_writable(null, "-o"));

    // A FIFO streams to its reader; it is opened only when the content is written.
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    atomic_file out(fifo);
    EXPECT_NO_THROW(check_output_writable(fifo, "-o")); // does not block without a reader
    std::string got;
    std::thread reader([&] { got = read_file(fifo); });
    std::fputs("streamed\n", out.stream());
    out.commit();
    reader.join();
    EXPECT_EQ(got, "streamed\n");
    EXPECT_EQ(file_type(fifo), S_IFIFO);
    // Content another program writes through temp_path() (gnuplot's image): commit does not
    // open the FIFO a second time (it would wait for a reader that has gone).
    atomic_file image(fifo);
    ASSERT_EQ(image.temp_path(), fifo);
    std::thread viewer([&] { got = read_file(fifo); });
    write_file(image.temp_path(), "image\n");
    viewer.join();
    image.commit();
    EXPECT_EQ(got, "image\n");

    // A socket cannot be opened for writing: refused, and it stays a socket.
    const std::string sock = dir.file("sock");
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    EXPECT_THROW(atomic_file{sock}, output_error);
    close(fd);
    EXPECT_EQ(file_type(sock), S_IFSOCK);
    // A block device is refused outright.
    if (make_device(dir.file("blk"), S_IFBLK, 7, 0)) {
        EXPECT_THROW(atomic_file{dir.file("blk")}, output_error);
        EXPECT_EQ(file_type(dir.file("blk")), S_IFBLK);
    }
    EXPECT_EQ(entries(dir), std::size_t(file_type(dir.file("blk")) ? 5 : 4)); // no temporaries
}

TEST(AtomicFile, ALinkIsFollowedAndItsTargetReplacedBesideIt) {
    temp_dir dir;
    fs::create_directory(dir.file("real"));
    write_file(dir.file("real/out.txt"), "old\n");
    fs::create_symlink("real/out.txt", dir.file("link")); // relative to the link's directory
    fs::create_symlink("link", dir.file("link2"));        // a link to a link
    write_file_atomically(dir.file("link2"), [](std::FILE *f) { std::fputs("new\n", f); });
    EXPECT_EQ(file_type(dir.file("link")), S_IFLNK);
    EXPECT_EQ(file_type(dir.file("link2")), S_IFLNK);
    EXPECT_EQ(read_file(dir.file("real/out.txt")), "new\n");
    // A dangling link gets its target created.
    fs::create_symlink("real/made.txt", dir.file("dangling"));
    write_file_atomically(dir.file("dangling"), [](std::FILE *f) { std::fputs("made\n", f); });
    EXPECT_EQ(file_type(dir.file("dangling")), S_IFLNK);
    EXPECT_EQ(read_file(dir.file("real/made.txt")), "made\n");
    // The temporary lives beside the target, not beside the link.
    atomic_file pending(dir.file("link"));
    EXPECT_EQ(fs::path(pending.temp_path()).parent_path(), dir.path / "real");
    fs::create_symlink("loop", dir.file("loop"));
    EXPECT_THROW(atomic_file{dir.file("loop")}, output_error);
    // An output that is an input is seen through any number of links.
    EXPECT_THROW(refuse_output_over_inputs(dir.file("link2"), "-o", {dir.file("real/out.txt")}),
                 output_error);
}

TEST(AtomicFile, AnExistingOutputKeepsItsPermissionsAndItsOtherHardLinks) {
    temp_dir dir;
    const std::string secret = dir.file("secret.txt");
    write_file(secret, "old\n");
    fs::permissions(secret, fs::perms(0600));
    write_file_atomically(secret, [](std::FILE *f) { std::fputs("new\n", f); });
    struct stat st {};
    ASSERT_EQ(stat(secret.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(read_file(secret), "new\n");

    const std::string out = dir.file("out.txt"), other = dir.file("other-name.txt");
    write_file(out, "old and longer\n");
    fs::create_hard_link(out, other);
    struct stat before {};
    ASSERT_EQ(stat(out.c_str(), &before), 0);
    atomic_file f(out);
    EXPECT_EQ(f.kind(), output_kind::updated_in_place);
    std::fputs("new\n", f.stream());
    EXPECT_EQ(read_file(other), "old and longer\n"); // untouched until the content is complete
    f.commit();
    EXPECT_EQ(read_file(other), "new\n");
    struct stat after {};
    ASSERT_EQ(stat(out.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_EQ(entries(dir), 3u);
}

} // namespace
