// Outputs that appear whole or not at all, and the checks made before any work: an output that
// is an input (by device and inode), a directory, or a place that cannot be written. What an
// output path names decides how it is written: special files directly, a link's target, an
// existing file's permissions and its other hard links kept.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring> // strsignal
#include <fcntl.h>
#include <sys/resource.h> // the file-size and core limits of a child
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
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

// Runs `body` in a child process with its standard error in `err` and no core dump; returns
// the child's wait status.
template <class Body> int in_child(const std::string &err, Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        std::freopen(err.c_str(), "w", stderr);
        for (int s : {SIGHUP, SIGQUIT, SIGPIPE}) // as a terminal starts a program, not nohup
            std::signal(s, SIG_DFL);
        try { // the child ends here, whatever happens: never back into the test runner
            body();
        } catch (...) {
            _exit(5);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

int G_raised; // the signal the hook raises

TEST(AtomicFileSignals, ASignalBetweenCreatingAndRegisteringTheTemporaryLeavesNothing) {
    // The worst moment for a signal: the temporary exists, its name is not yet registered for
    // clean-up. The run dies of the signal and leaves no temporary behind.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU}) {
        temp_dir dir, logs;
        write_file(dir.file("out.txt"), "old\n");
        G_raised = sig;
        const int status = in_child(logs.file("err"), [&] {
            remove_temporaries_on_signal();
            G_atomic_file_created_hook = [](const char *) { std::raise(G_raised); };
            atomic_file f(dir.file("out.txt"));
            std::fputs("new\n", f.stream());
            f.commit();
        });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << strsignal(sig);
        EXPECT_EQ(entries(dir), 1u) << strsignal(sig) << ": a temporary was left";
        EXPECT_EQ(read_file(dir.file("out.txt")), "old\n") << strsignal(sig);
        // A CPU-time limit is no request to stop: the run says why it ended.
        const std::string err = read_file(logs.file("err"));
        if (sig == SIGXCPU)
            EXPECT_NE(err.find(": stopped: the CPU time limit is reached (SIGXCPU); unfinished "
                               "outputs removed"),
                      std::string::npos)
                << err;
        else
            EXPECT_EQ(err, "") << strsignal(sig);
    }
}

TEST(AtomicFileSignals, AFileSizeLimitIsAFailedWriteThatKeepsTheOldOutput) {
    temp_dir dir, logs;
    write_file(dir.file("out.txt"), "old\n");
    const int status = in_child(logs.file("err"), [&] {
        const rlimit small{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &small);
        remove_temporaries_on_signal();
        try {
            write_file_atomically(dir.file("out.txt"), [](std::FILE *f) {
                for (int k = 0; k < 2000; ++k)
                    std::fputs("0.25 0 0\n", f);
            });
        } catch (const output_error &e) {
            std::fprintf(stderr, "%s\n", e.what());
            std::fflush(stderr);
            _exit(1);
        }
    });
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(read_file(logs.file("err")).find("out.txt: write failed (File too large)"),
              std::string::npos)
        << read_file(logs.file("err"));
    EXPECT_EQ(read_file(dir.file("out.txt")), "old\n");
    EXPECT_EQ(entries(dir), 1u);
}

TEST(AtomicFile, AScratchFileHasANameNobodyCanPlaceAFileAtAndGoesWithItsObject) {
    temp_dir dir;
    // What sits at the name a careless program would use is left alone.
    ASSERT_EQ(mkfifo(dir.file("plot.dat").c_str(), 0600), 0);
    fs::create_symlink(dir.file("victim"), dir.file(".plot.dat"));
    write_file(dir.file("victim"), "someone's\n");
    std::string name;
    {
        atomic_file scratch(atomic_file::scratch_tag{}, dir.path.string(), "plot.dat");
        name = scratch.temp_path();
        EXPECT_EQ(fs::path(name).parent_path(), dir.path);
        EXPECT_EQ(fs::path(name).filename().string().rfind(".plot.dat.tmp-", 0), 0u) << name;
        EXPECT_EQ(file_type(name), S_IFREG);
        std::fputs("data\n", scratch.stream());
        std::fflush(scratch.stream());
        EXPECT_EQ(read_file(name), "data\n");
        EXPECT_THROW(scratch.commit(), std::logic_error);
    }
    EXPECT_FALSE(fs::exists(name));
    EXPECT_EQ(file_type(dir.file("plot.dat")), S_IFIFO);
    EXPECT_EQ(read_file(dir.file("victim")), "someone's\n");
    EXPECT_EQ(entries(dir), 3u);
}

} // namespace
