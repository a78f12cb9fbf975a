// Hostile input: the fuzzers' regression inputs, huge counts, huge lines and binary junk, each
// rejected with a clear message, without a crash and without memory out of proportion; and the
// programs as someone who breaks things uses them: machine files that name outputs or are
// themselves named as outputs, temporaries at names known in advance, a full disk under a
// hard-linked output, resource limits that kill a run, out-of-range profile lines. What matters
// is the status, the message, and the files left: nothing replaced, lost, half-written or left
// behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <sched.h>     // unshare: a private mount namespace for the small disk
#include <sys/mount.h> // the small tmpfs
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include "io/feed_profile.hpp"
#include "profile_util.hpp"
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

// ---------------------------------------------------------------- the programs

const std::string BIN = NURBS_BIN_DIR;
const std::string CURVE = NURBS_BUNDLED_DATA "/S1200X30quorbel.nurbs";
const std::string PROFILE = NURBS_BUNDLED_DATA "/fprof.txt";
const std::string MACHINE = "axis-vel = [250, 250, 100]\naxis-acc = [1500, 1500, 800]\n"
                            "axis-jerk = [30000, 30000, 20000]\nperiod = 0.001\n";

// A program's run: its status (128 + the signal when one ended it), standard output and error.
struct tool_run {
    int status;
    std::string out, err;
};

// Runs the shell command `cmd` in `dir` (the programs by their names under $BIN).
tool_run shell(const temp_dir &dir, const std::string &cmd) {
    const std::string out = dir.file(".out"), err = dir.file(".err");
    const int status =
        run("cd " + dir.path.string() + " && export BIN=" + BIN + " && " + cmd, out, err);
    tool_run r{status, read_file(out), read_file(err)};
    fs::remove(out);
    fs::remove(err);
    return r;
}

// The names in `dir` other than `expected` (temporary files left behind, for one).
std::vector<std::string> strays(const std::string &dir, const std::vector<std::string> &expected) {
    std::vector<std::string> extra;
    for (const auto &e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end())
            extra.push_back(name);
    }
    return extra;
}

using names = std::vector<std::string>;

// A short profile (0.3 s, 1200 samples) that interp_compare runs in well under a second.
void write_short_profile(const temp_dir &dir) {
    write_file(dir.file("p.txt"), profile_text(ramp_profile(1200)));
}

// ---------------------------------------------------------------- machine files

TEST(HostileMachineFiles, AnOutputOverTheMachineFileIsRefusedAndTheFileStaysAsItWas) {
    temp_dir dir;
    write_file(dir.file("m.toml"), MACHINE);
    write_short_profile(dir);
    fs::create_symlink("m.toml", dir.file("link.toml"));
    for (const char *cmd :
         {"$BIN/make_profile --config m.toml --curve " NURBS_BUNDLED_DATA
          "/curves/circle.nurbs -o m.toml",
          "$BIN/make_profile --config m.toml --curve " NURBS_BUNDLED_DATA
          "/curves/circle.nurbs -o link.toml",
          "$BIN/interp_compare --methods FCP --profile p.txt --config m.toml --csv m.toml",
          "$BIN/interp_compare --methods FCP --profile p.txt --config link.toml --plot m.toml"}) {
        const tool_run r = shell(dir, cmd);
        EXPECT_EQ(r.status, 1) << cmd;
        EXPECT_NE(r.err.find("is the input"), std::string::npos) << cmd << "\n" << r.err;
        EXPECT_NE(r.err.find("refusing to overwrite an input"), std::string::npos) << r.err;
        EXPECT_EQ(read_file(dir.file("m.toml")), MACHINE) << cmd;
    }
    // The suite's outputs likewise: a machine file kept in the output folder under the name
    // of the summary.
    fs::create_directory(dir.file("out"));
    write_file(dir.file("out/summary.csv"), MACHINE);
    write_file(dir.file("suite.txt"), std::string(CURVE) + " p.txt\n");
    const tool_run suite = shell(dir, "$BIN/interp_suite --no-plots --manifest suite.txt "
                                      "--config out/summary.csv --out out");
    EXPECT_EQ(suite.status, 1);
    EXPECT_NE(suite.err.find("refusing to overwrite an input"), std::string::npos) << suite.err;
    EXPECT_EQ(read_file(dir.file("out/summary.csv")), MACHINE);
    EXPECT_EQ(strays(dir.path, {"m.toml", "link.toml", "p.txt", "out", "suite.txt"}), names{});
    EXPECT_EQ(strays(dir.file("out"), {"summary.csv"}), names{});
}

TEST(HostileMachineFiles, AKeyThatIsNoMachineKeyIsRefusedNamedAndNothingIsWritten) {
    // A machine description passed between people describes a machine and nothing else: a key
    // that names an output, a curve or a tool's option is refused before anything is written.
    temp_dir dir;
    write_short_profile(dir);
    write_file(dir.file("victim.txt"), "someone's file\n");
    const std::string circle = NURBS_BUNDLED_DATA "/curves/circle.nurbs";
    const struct {
        std::string key, cmd;
    } cases[] = {
        {"o = \"victim.txt\"", "$BIN/make_profile --config m.toml --curve " + circle},
        {"curve = \"victim.txt\"", "$BIN/make_profile --config m.toml -o out.txt"},
        {"curvature-limited = true",
         "$BIN/make_profile --config m.toml --curve " + circle + " -o out.txt"},
        {"csv = \"victim.txt\"",
         "$BIN/interp_compare --methods FCP --profile p.txt --config m.toml"},
        {"plot = \"victim.txt\"",
         "$BIN/interp_compare --methods FCP --profile p.txt --config m.toml"},
    };
    for (const auto &c : cases) {
        write_file(dir.file("m.toml"), MACHINE + c.key + "\n");
        const tool_run r = shell(dir, c.cmd);
        const std::string name = c.key.substr(0, c.key.find(' '));
        EXPECT_EQ(r.status, 2) << c.key;
        EXPECT_NE(r.err.find("m.toml:5: unknown key \"" + name +
                             "\": a machine file holds only axis-vel, axis-acc, axis-jerk and "
                             "period"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out, "") << c.key;
        EXPECT_EQ(read_file(dir.file("victim.txt")), "someone's file\n") << c.key;
    }
    EXPECT_EQ(strays(dir.path, {"m.toml", "p.txt", "victim.txt"}), names{});
}

TEST(HostileMachineFiles, AHugeMachineFileIsRefusedByItsSizeBeforeItIsRead) {
    // 10^6 numbers in one array (6 MB): refused by its size, not parsed (a machine file is a
    // few hundred bytes); from a pipe, once the bound is passed.
    temp_dir dir;
    std::string big = "axis-vel = [250";
    for (int k = 0; k < 1000000; ++k)
        big += ", 250";
    write_file(dir.file("big.toml"), big + "]\n");
    const std::string circle = NURBS_BUNDLED_DATA "/curves/circle.nurbs";
    for (const std::string config : {"big.toml", "<(cat big.toml)"}) {
        const tool_run r = shell(dir, "bash -c '$BIN/make_profile --config " + config +
                                          " --curve " + circle + " -o out.txt'");
        EXPECT_EQ(r.status, 2) << config;
        EXPECT_NE(r.err.find(": the machine file holds more than 65536 bytes, the most that is "
                             "read"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_EQ(strays(dir.path, {"big.toml"}), names{});
}

// ---------------------------------------------------------------- temporaries

// A gnuplot that keeps the script it is given in `dir`/script and writes a small file where
// the script's "set output" says.
std::string fake_gnuplot(const temp_dir &dir) {
    fs::create_directory(dir.file("bin"));
    write_file(dir.file("bin/gnuplot"), "#!/bin/sh\ncat >" + dir.file("script") +
                                            "\nout=$(sed -n \"s/^set output '\\(.*\\)'$/\\1/p\" " +
                                            dir.file("script") +
                                            ")\n[ -c \"$out\" ] || printf PNG >\"$out\"\n");
    fs::permissions(dir.file("bin/gnuplot"), fs::perms::owner_all);
    return "PATH=" + dir.file("bin") + ":$PATH ";
}

TEST(HostileTemporaries, PlotDataNeverGoesToANameKnownInAdvance) {
    // The plot data is a scratch file made by mkstemp: a FIFO or a link placed at the names
    // it once had (beside the image, or in $TMPDIR for an image written to a device) is left
    // alone, and the run finishes.
    temp_dir dir;
    write_short_profile(dir);
    fs::create_directory(dir.file("tmp"));
    const std::string path = fake_gnuplot(dir) + "TMPDIR=" + dir.file("tmp") + " timeout 60 ";
    const std::string compare = "$BIN/interp_compare --methods FCP --profile p.txt --plot ";
    const std::string old_name = dir.file("tmp/interp_compare_plot.dat");
    ASSERT_EQ(mkfifo(old_name.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.file("x.png.dat").c_str(), 0600), 0);
    for (const std::string plot : {"/dev/null", "x.png"}) {
        const tool_run r = shell(dir, path + compare + plot);
        EXPECT_EQ(r.status, 0) << plot << ": " << r.err;
        const std::string script = read_file(dir.file("script"));
        EXPECT_NE(
            script.find(plot == "x.png" ? "/.x.png.dat.tmp-" : "/.interp_compare_plot.dat.tmp-"),
            std::string::npos)
            << script;
    }
    EXPECT_EQ(read_file(dir.file("x.png")), "PNG");
    EXPECT_EQ(file_type(old_name), S_IFIFO);
    EXPECT_EQ(file_type(dir.file("x.png.dat")), S_IFIFO);
    // A link at the old name to someone else's file: not followed.
    fs::remove(old_name);
    write_file(dir.file("victim"), "someone's file\n");
    fs::create_symlink(dir.file("victim"), old_name);
    EXPECT_EQ(shell(dir, path + compare + "/dev/null").status, 0);
    EXPECT_EQ(read_file(dir.file("victim")), "someone's file\n");
    EXPECT_EQ(file_type(old_name), S_IFLNK);
    EXPECT_EQ(strays(dir.file("tmp"), {"interp_compare_plot.dat"}), names{});
    EXPECT_EQ(strays(dir.path, {"p.txt", "tmp", "bin", "script", "x.png", "x.png.dat", "victim"}),
              names{});
}

// ---------------------------------------------------------------- a full disk

// What the run on the small disk left, copied out of its private mount.
struct full_disk_run {
    int status;
    std::string err, old_before, old_after, link_after, listing, new_content, refilled;
    bool mounted;
};

// On a tmpfs of its own (a private mount namespace, so nothing outlives the child): a 30 mm
// profile hard-linked twice, the disk filled so that the 300 mm profile's temporary fits but
// a second copy of it does not, make_profile over it; then the disk freed and the run again.
full_disk_run fill_the_disk_under_a_hard_link(const temp_dir &dir) {
    const std::string disk = dir.file("disk");
    fs::create_directory(disk);
    // The new content, made on the ordinary disk, to size the small one by.
    shell(dir, "$BIN/make_profile --length 300 -o new.txt");
    const std::uintmax_t size = fs::file_size(dir.file("new.txt"));
    const std::uintmax_t pages = (size + 4095) / 4096;
    const pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", disk.c_str(), "tmpfs", 0,
                  ("size=" + std::to_string(4 * pages * 4) + "k").c_str()) != 0)
            _exit(77);
        auto keep = [&](const std::string &name, const std::string &text) {
            write_file(dir.file(name), text);
        };
        try { // the child ends here, whatever happens: it must never return into the test runner
            shell(dir,
                  "$BIN/make_profile --length 30 -o disk/old.txt && ln disk/old.txt disk/link.txt");
            keep("old_before", read_file(dir.file("disk/old.txt")));
            struct statvfs vfs {};
            statvfs(disk.c_str(), &vfs);
            const std::uintmax_t free_bytes = std::uintmax_t(vfs.f_bavail) * vfs.f_frsize;
            const std::uintmax_t room = (pages + 1) * 4096; // the temporary and a page
            if (free_bytes < room) _exit(3);
            write_file(dir.file("disk/filler"), std::string(free_bytes - room, 'x'));
            const tool_run r = shell(dir, "$BIN/make_profile --length 300 -o disk/old.txt");
            keep("status", std::to_string(r.status));
            keep("err", r.err);
            keep("old_after", read_file(dir.file("disk/old.txt")));
            keep("link_after", read_file(dir.file("disk/link.txt")));
            std::string listing;
            for (const auto &e : fs::directory_iterator(disk))
                listing += e.path().filename().string() + " ";
            keep("listing", listing);
            fs::remove(dir.file("disk/filler"));
            const int again = shell(dir, "$BIN/make_profile --length 300 -o disk/old.txt").status;
            keep("refilled", std::to_string(again) + " " +
                                 std::to_string(fs::hard_link_count(dir.file("disk/old.txt"))) +
                                 " " + read_file(dir.file("disk/link.txt")));
        } catch (...) {
            _exit(4);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        return {0, "", "", "", "", "", "", "", false};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {-1,  "the child on the small disk failed, status " + std::to_string(status),
                "",  "",
                "",  "",
                "",  "",
                true};
    return {std::atoi(read_file(dir.file("status")).c_str()),
            read_file(dir.file("err")),
            read_file(dir.file("old_before")),
            read_file(dir.file("old_after")),
            read_file(dir.file("link_after")),
            read_file(dir.file("listing")),
            read_file(dir.file("new.txt")),
            read_file(dir.file("refilled")),
            true};
}

TEST(HostileOutputs, AHardLinkedOutputOnAFullDiskKeepsItsOldContentWhole) {
    temp_dir dir;
    const full_disk_run r = fill_the_disk_under_a_hard_link(dir);
    if (!r.mounted)
        GTEST_SKIP() << "mounting a small tmpfs in a private mount namespace is not permitted "
                        "here (it needs root): the full-disk case is not run";
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("disk/old.txt: cannot update the output in place (No space left on "
                         "device); it is as it was"),
              std::string::npos)
        << r.err;
    ASSERT_FALSE(r.old_before.empty());
    EXPECT_EQ(r.old_after, r.old_before) << "the old content, whole";
    EXPECT_EQ(r.link_after, r.old_before);
    EXPECT_EQ(r.listing.find(".tmp-"), std::string::npos) << r.listing;
    // With room again, both names get the new content.
    EXPECT_EQ(r.refilled, "0 2 " + r.new_content);
}

// ---------------------------------------------------------------- resource limits

TEST(HostileSignals, AFileSizeLimitIsAFailedWriteAndACpuLimitCleansUpAsSigtermDoes) {
    temp_dir dir;
    write_file(dir.file("big.txt"), "old\n");
    // A file-size limit (10 to 20 kB, as the shell counts blocks) below the profile's size.
    const tool_run fsize = shell(dir, "ulimit -f 20 && $BIN/make_profile --length 300 -o big.txt");
    EXPECT_EQ(fsize.status, 1);
    EXPECT_NE(fsize.err.find("big.txt: write failed (File too large)"), std::string::npos)
        << fsize.err;
    EXPECT_EQ(read_file(dir.file("big.txt")), "old\n");
    // A CPU-time limit of 1 s under a run of several seconds: the signal's clean-up, a message.
    write_file(dir.file("o.csv"), "old\n");
    const tool_run cpu = shell(dir, "ulimit -c 0 && ulimit -S -t 1 && $BIN/interp_compare "
                                    "--curve " +
                                        CURVE + " --profile " + PROFILE + " --csv o.csv");
    EXPECT_EQ(cpu.status, 128 + SIGXCPU);
    EXPECT_NE(cpu.err.find("interp_compare: stopped: the CPU time limit is reached (SIGXCPU); "
                           "unfinished outputs removed"),
              std::string::npos)
        << cpu.err;
    EXPECT_EQ(read_file(dir.file("o.csv")), "old\n");
    EXPECT_EQ(strays(dir.path, {"big.txt", "o.csv"}), names{});
}

// ---------------------------------------------------------------- profile lines

TEST(HostileProfiles, APeriodLineOutOfRangeAndANegativeFeedAreRefusedNamingFileAndLine) {
    // The range --period takes (1e-5 to 0.1 s) holds for a period line too; a negative feed is
    // the file's fault, named there, not a method's "moved backwards".
    temp_dir dir;
    write_file(dir.file("suite.txt"), std::string(CURVE) + " p.txt\n");
    const struct {
        std::string tail, message;
    } cases[] = {
        {"0.1 0 0\n# period 1e-300 s\n",
         "p.txt:4: the period line says 1e-300 s; a servo period is from 1e-05 to 0.1 s"},
        {"0.1 0 0\n# period 10 s\n",
         "p.txt:4: the period line says 10 s; a servo period is from 1e-05 to 0.1 s"},
        {"-10 0 0\n", "p.txt:3: sample 2 of 2: the feed is negative"},
    };
    for (const auto &c : cases) {
        write_file(dir.file("p.txt"), "N=2\n0 0 0\n" + c.tail);
        for (const std::string cmd :
             {"$BIN/interp_compare --profile p.txt", "$BIN/interp_suite --no-plots --manifest "
                                                     "suite.txt --out out"}) {
            const tool_run r = shell(dir, cmd);
            EXPECT_EQ(r.status, 1) << cmd << " " << c.tail;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << cmd << "\n" << r.err;
            EXPECT_EQ(r.out, "") << "refused before any run";
        }
    }
}

} // namespace
