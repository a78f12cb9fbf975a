// The tools end to end (curve_info, make_curve, make_profile, fcp_fit), as a new user would try
// them: wrong arguments, unusual curves and unlucky file names. What matters is the status,
// the message, and the files left behind: inputs byte-identical, no temporary file left, and
// work beyond the bounds refused before it is attempted.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "shapes/part_outline.hpp"
#include "test_curves.hpp"
#include "test_util.hpp"

using namespace test_util;
namespace fs = std::filesystem;

namespace {

const std::string BIN = NURBS_BIN_DIR;
const std::string CURVE = NURBS_BUNDLED_DATA "/S1200X30quorbel.nurbs";

// A tool run: its status, standard output and standard error.
struct tool_run {
    int status;
    std::string out, err;
};

// Runs `cmd` (a tool name in the build directory plus its arguments) in `dir`.
tool_run tool(const temp_dir &dir, const std::string &cmd) {
    const std::string out = dir.file(".out"), err = dir.file(".err");
    const int status = run("cd " + dir.path.string() + " && " + BIN + "/" + cmd, out, err);
    tool_run r{status, read_file(out), read_file(err)};
    fs::remove(out);
    fs::remove(err);
    return r;
}

// The names in `dir` other than `expected` (temporary files left behind, for one).
std::vector<std::string> strays(const temp_dir &dir, const std::vector<std::string> &expected) {
    std::vector<std::string> extra;
    for (const auto &e : fs::directory_iterator(dir.path)) {
        const std::string name = e.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end())
            extra.push_back(name);
    }
    return extra;
}

// A small planar cubic, and the same in 3D with z bending out of the plane.
std::vector<nurbs_ctrl_pt> bent(bool with_z) {
    std::vector<nurbs_ctrl_pt> pts;
    for (int i = 0; i < 12; ++i)
        pts.push_back({20.0 * std::cos(0.4 * i), 15.0 * std::sin(0.4 * i),
                       with_z ? 6.0 * std::sin(0.9 * i) : 0.0, 1.0});
    return pts;
}

// ---------------------------------------------------------------- arguments

TEST(ToolArguments, WrongArgumentsAreNamedWithStatusTwo) {
    temp_dir dir;
    for (const char *t :
         {"curve_info", "make_curve", "make_profile", "fcp_fit", "interp_compare"}) {
        const tool_run r = tool(dir, std::string(t) + " --bogus 3");
        EXPECT_EQ(r.status, 2) << t;
        EXPECT_NE(r.err.find("--bogus: not an option"), std::string::npos) << t << ": " << r.err;
        const tool_run h = tool(dir, std::string(t) + " --help");
        EXPECT_EQ(h.status, 0) << t;
        EXPECT_NE(h.out.find("Exit status: 0"), std::string::npos) << t;
    }
    // Values outside their stated range, non-numbers, and options that need another.
    for (const char *args :
         {"--cruise 1e308", "--cruise nan", "--acc -3", "--jerk abc", "--length 1e308",
          "--chord-tol 0.1", "--centripetal 100", "--curvature-limited --length 100",
          "--length 5 --curve x.nurbs", "--cruise -3", "--curvature-limited --chord-tol 0",
          "--curvature-limited --centripetal -1"}) {
        const tool_run r = tool(dir, std::string("make_profile ") + args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("make_profile: --"), std::string::npos) << args << ": " << r.err;
    }
    // --length must be the curve's length; the accuracy check is bounded.
    const tool_run len = tool(dir, "fcp_fit -o t.hpp --length 1 " + CURVE);
    EXPECT_EQ(len.status, 1);
    EXPECT_NE(len.err.find("--length 1 is not the length of"), std::string::npos) << len.err;
    const tool_run many =
        tool(dir, "fcp_fit -o t.hpp --breakpoints 10001 --samples 10000 " + CURVE);
    EXPECT_EQ(many.status, 1);
    EXPECT_NE(many.err.find("accuracy samples (bound: 1e+07)"), std::string::npos) << many.err;
    for (const char *args : {"", "--breakpoints 1 c.nurbs", "--breakpoints 1e9 c.nurbs",
                             "--samples 0 c.nurbs", "--length -1 c.nurbs", "a.nurbs b.nurbs"})
        EXPECT_EQ(tool(dir, std::string("fcp_fit ") + args).status, 2) << args;
    EXPECT_EQ(strays(dir, {}), std::vector<std::string>{});
}

TEST(ToolArguments, CurveFilesThatDoNotOpenAreNamedWithTheReason) {
    temp_dir dir;
    const tool_run r = tool(dir, "curve_info missing.nurbs");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "curve_info: missing.nurbs: cannot open the curve file (No such file or "
                     "directory)\n");
    write_file(dir.file("bad.nurbs"), "N4\tL3\tD7\n");
    EXPECT_EQ(tool(dir, "curve_info bad.nurbs").err,
              "curve_info: bad.nurbs:1: dimension 7 is not 2 or 3\n");
    fs::create_directory(dir.file("adir"));
    for (const char *t : {"curve_info adir", "fcp_fit adir", "make_profile --curve adir",
                          "make_curve --report adir"}) {
        const tool_run d = tool(dir, t);
        EXPECT_EQ(d.status, 1) << t;
        EXPECT_NE(d.err.find("adir: is a directory"), std::string::npos) << t << ": " << d.err;
    }
    EXPECT_NE(tool(dir, "fcp_fit -o x.hpp missing.nurbs").err.find("cannot open the curve"),
              std::string::npos);
}

// ---------------------------------------------------------------- crashes and runaway work

TEST(ToolBounds, WorkBeyondTheBoundsIsRefusedAtOnceWithTheEstimate) {
    temp_dir dir;
    for (const char *args : {"--length 1e9", "--cruise 1e-3 --length 100"}) {
        const auto t0 = std::chrono::steady_clock::now();
        const tool_run r = tool(dir, std::string("make_profile -o p.txt ") + args);
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("samples"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("bound of 10000000"), std::string::npos) << r.err;
        EXPECT_LT(s, 5.0) << "a refusal must come before the work, not after it";
    }
    EXPECT_EQ(strays(dir, {}), std::vector<std::string>{});
}

// ---------------------------------------------------------------- outputs that destroy inputs

TEST(ToolOutputs, AnOutputThatIsAnInputIsRefusedAndTheInputStaysAsItWas) {
    temp_dir dir;
    write_file(dir.file("c.nurbs"), curve_text(bent(false), 3));
    const std::string before = read_file(dir.file("c.nurbs"));
    fs::create_hard_link(dir.file("c.nurbs"), dir.file("hard.nurbs"));
    fs::create_symlink(dir.file("c.nurbs"), dir.file("soft.nurbs"));
    for (const char *cmd :
         {"make_profile --curve c.nurbs -o c.nurbs", "make_profile --curve c.nurbs -o ./c.nurbs",
          "make_profile --curve c.nurbs -o hard.nurbs", "fcp_fit -o soft.nurbs c.nurbs",
          "make_profile --curvature-limited --curve soft.nurbs -o hard.nurbs"}) {
        const tool_run r = tool(dir, cmd);
        EXPECT_EQ(r.status, 1) << cmd;
        EXPECT_NE(r.err.find("refusing to overwrite an input"), std::string::npos) << r.err;
        EXPECT_EQ(read_file(dir.file("c.nurbs")), before) << cmd;
    }
    EXPECT_EQ(strays(dir, {"c.nurbs", "hard.nurbs", "soft.nurbs"}), std::vector<std::string>{});
}

TEST(ToolOutputs, AUsersTmpFileIsNotTouchedAndAFailedRunLeavesTheOldOutput) {
    temp_dir dir;
    write_file(dir.file("c.nurbs"), curve_text(bent(false), 3));
    write_file(dir.file("p.txt.tmp"), "the user's own file\n");
    ASSERT_EQ(tool(dir, "make_profile --curve c.nurbs -o p.txt").status, 0);
    EXPECT_EQ(read_file(dir.file("p.txt.tmp")), "the user's own file\n");
    EXPECT_EQ(read_file(dir.file("p.txt")).rfind("N=", 0), 0u);
    // A run that fails (the curve is too short for a profile) keeps the existing output.
    write_file(dir.file("p.txt"), "old\n");
    write_file(dir.file("short.nurbs"), curve_text(test_util::straight_line(4, 3, 0.1), 3));
    EXPECT_EQ(tool(dir, "make_profile --curve short.nurbs -o p.txt").status, 1);
    EXPECT_EQ(read_file(dir.file("p.txt")), "old\n");
    EXPECT_EQ(strays(dir, {"c.nurbs", "short.nurbs", "p.txt", "p.txt.tmp"}),
              std::vector<std::string>{});
}

TEST(ToolOutputs, AnUnwritableOutputFailsBeforeTheWork) {
    temp_dir dir;
    const auto t0 = std::chrono::steady_clock::now();
    const tool_run r = tool(dir, "fcp_fit -o /nonexistent/x.hpp " + CURVE);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("/nonexistent/x.hpp"), std::string::npos) << r.err;
    EXPECT_LT(s, 2.0) << "the fit of the bundled curve takes seconds: it must not have run";
}

// What a run of fcp_fit killed by `sig` while its output was pending left behind.
struct killed_run {
    bool saw_temp;
    int status;
    std::string output;
    std::vector<std::string> strays;
};

// Starts fcp_fit on the bundled curve over an existing output, sends `sig` once its temporary
// output exists (the fit takes seconds; the start may take long on a loaded machine: up to
// 20 s), and returns what the run left. A signal between the temporary's creation and its
// registration is AtomicFileSignals' case, raised there at that very moment.
killed_run kill_fcp_fit(int sig) {
    temp_dir dir;
    write_file(dir.file("FCP_init.hpp"), "old\n");
    const std::string cmd = BIN + "/fcp_fit -o " + dir.file("FCP_init.hpp") + " " + CURVE;
    const pid_t pid = fork();
    if (pid == 0) {
        for (int s : {SIGHUP, SIGQUIT, SIGPIPE}) // as a terminal would start it, not nohup
            std::signal(s, SIG_DFL);
        execl("/bin/sh", "sh", "-c", ("exec " + cmd + " >/dev/null 2>&1").c_str(), nullptr);
        _exit(127);
    }
    bool saw_temp = false;
    for (int i = 0; i < 2000 && !saw_temp; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        saw_temp = strays(dir, {"FCP_init.hpp"}).size() == 1;
    }
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    return {saw_temp, status, read_file(dir.file("FCP_init.hpp")), strays(dir, {"FCP_init.hpp"})};
}

TEST(ToolOutputs, SigtermRemovesTheTemporaryFileAndKeepsTheOldOutput) {
    const killed_run r = kill_fcp_fit(SIGTERM);
    EXPECT_TRUE(r.saw_temp);
    EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == SIGTERM);
    EXPECT_EQ(r.output, "old\n");
    EXPECT_EQ(r.strays, std::vector<std::string>{});
}

TEST(ToolOutputs, SighupSigquitAndSigpipeCleanUpAsSigtermDoes) {
    for (int sig : {SIGHUP, SIGQUIT, SIGPIPE}) {
        const killed_run r = kill_fcp_fit(sig);
        EXPECT_TRUE(r.saw_temp) << sig;
        EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == sig) << sig;
        EXPECT_EQ(r.output, "old\n") << sig;
        EXPECT_EQ(r.strays, std::vector<std::string>{}) << sig;
    }
}

TEST(ToolOutputs, DevicesAndFifosAreWrittenNotReplaced) {
    temp_dir dir;
    if (!make_device(dir.file("null"), S_IFCHR, 1, 3) ||
        !make_device(dir.file("full"), S_IFCHR, 1, 7))
        GTEST_SKIP() << "mknod is not permitted here (needs root)";
    ASSERT_EQ(tool(dir, "make_curve --shape circle -o ref.nurbs").status, 0);
    const tool_run null = tool(dir, "make_curve --shape circle -o null");
    EXPECT_EQ(null.status, 0) << null.err;
    EXPECT_EQ(file_type(dir.file("null")), S_IFCHR);
    const tool_run full = tool(dir, "make_curve --shape circle -o full");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("full: write failed (No space left on device)"), std::string::npos)
        << full.err;
    EXPECT_EQ(file_type(dir.file("full")), S_IFCHR);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const tool_run fifo = tool(dir, "make_curve --shape circle -o fifo & cat " + dir.file("fifo") +
                                        " >" + dir.file("streamed.nurbs") + "; wait $!");
    EXPECT_EQ(fifo.status, 0) << fifo.err;
    EXPECT_EQ(file_type(dir.file("fifo")), S_IFIFO);
    EXPECT_EQ(read_file(dir.file("streamed.nurbs")), read_file(dir.file("ref.nurbs")));
    EXPECT_EQ(strays(dir, {"null", "full", "fifo", "ref.nurbs", "streamed.nurbs"}),
              std::vector<std::string>{});
}

TEST(ToolOutputs, LinksPermissionsAndHardLinksOfAnOutputSurvive) {
    temp_dir dir;
    fs::create_directory(dir.file("real"));
    write_file(dir.file("real/c.nurbs"), "old\n");
    fs::create_symlink("real/c.nurbs", dir.file("link.nurbs"));
    write_file(dir.file("private.nurbs"), "old\n");
    fs::permissions(dir.file("private.nurbs"), fs::perms(0600));
    write_file(dir.file("twice.nurbs"), "old\n");
    fs::create_hard_link(dir.file("twice.nurbs"), dir.file("real/twice.nurbs"));
    ASSERT_EQ(tool(dir, "make_curve --shape circle -o ref.nurbs").status, 0);
    const std::string ref = read_file(dir.file("ref.nurbs"));
    for (const char *out : {"link.nurbs", "private.nurbs", "twice.nurbs"})
        ASSERT_EQ(tool(dir, std::string("make_curve --shape circle -o ") + out).status, 0) << out;
    EXPECT_EQ(file_type(dir.file("link.nurbs")), S_IFLNK);
    EXPECT_EQ(read_file(dir.file("real/c.nurbs")), ref);
    struct stat st {};
    ASSERT_EQ(stat(dir.file("private.nurbs").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(read_file(dir.file("real/twice.nurbs")), ref);
    EXPECT_EQ(fs::hard_link_count(dir.file("twice.nurbs")), 2u);
    EXPECT_EQ(strays(dir, {"real", "link.nurbs", "private.nurbs", "twice.nurbs", "ref.nurbs"}),
              std::vector<std::string>{});
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("real")), fs::directory_iterator()),
              2); // c.nurbs and twice.nurbs: no temporary beside the link's target
    // Every tool that writes says so in its help.
    for (const char *t : {"make_curve", "make_profile", "fcp_fit", "interp_compare"}) {
        const std::string help = tool(dir, std::string(t) + " --help").out;
        for (const char *rule : {"symbolic link has its target replaced", "keeps its permissions",
                                 "not atomically", "FIFO or socket is opened and written directly"})
            EXPECT_NE(help.find(rule), std::string::npos) << t << ": " << rule;
    }
}

// ---------------------------------------------------------------- curves the arithmetic cannot
// carry

TEST(ToolCurves, CurvesWhoseNumbersOverflowAreRefusedAndNothingNonFiniteIsWritten) {
    temp_dir dir;
    std::vector<nurbs_ctrl_pt> huge = bent(false);
    for (nurbs_ctrl_pt &p : huge) {
        p.x *= 1e299;
        p.y *= 1e299;
    }
    write_file(dir.file("huge.nurbs"), curve_text(huge, 3));
    std::vector<nurbs_ctrl_pt> weights = bent(false);
    for (std::size_t i = 0; i < weights.size(); ++i)
        weights[i].w = i % 2 ? 1e300 : 1e-300; // a light end beside a heavy neighbour
    write_file(dir.file("weights.nurbs"), curve_text(weights, 3));
    std::vector<nurbs_ctrl_pt> dot(6, nurbs_ctrl_pt{1, 2, 0, 1});
    write_file(dir.file("dot.nurbs"), curve_text(dot, 3));
    for (const char *c : {"huge.nurbs", "weights.nurbs"})
        for (const std::string t : {"curve_info ", "fcp_fit -o t.hpp ",
                                    "make_profile -o p.txt --curve ", "make_curve --report "}) {
            const tool_run r = tool(dir, t + c);
            EXPECT_EQ(r.status, 1) << t << c << ": " << r.out;
            EXPECT_NE(r.err.find(c), std::string::npos) << r.err;
            EXPECT_EQ(r.out.find("nan"), std::string::npos) << r.out;
        }
    for (const std::string t : {"fcp_fit -o t.hpp ", "make_profile -o p.txt --curve ",
                                "make_profile --curvature-limited -o p.txt --curve "}) {
        const tool_run r = tool(dir, t + "dot.nurbs");
        EXPECT_EQ(r.status, 1) << t;
        EXPECT_NE(r.err.find("dot.nurbs"), std::string::npos) << r.err;
    }
    EXPECT_EQ(strays(dir, {"huge.nurbs", "weights.nurbs", "dot.nurbs"}),
              std::vector<std::string>{});
}

TEST(ToolCurves, LoaderRefusesDegreesAbove25AndTrailingCharacters) {
    temp_dir dir;
    write_file(dir.file("deg.nurbs"), "N20000\tL20000\tD2\n");
    const auto t0 = std::chrono::steady_clock::now();
    const tool_run r = tool(dir, "curve_info deg.nurbs");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 2.0);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("deg.nurbs:1: degree 20000 is above 25"), std::string::npos) << r.err;
    write_file(dir.file("abc.nurbs"),
               "N4\tL3\tD2\nX0\tY0\tP1\nX1\tY0\tP1abc\nX2\tY0\tP1\nX3\tY0\tP1\n");
    EXPECT_NE(tool(dir, "curve_info abc.nurbs")
                  .err.find("abc.nurbs:3: control point 2: "
                            "characters after the weight"),
              std::string::npos);
}

// ---------------------------------------------------------------- lengths and tables

// Writes `c` as a curve file in `dir`.
void write_curve(const temp_dir &dir, const std::string &name, const test_curves::curve_def &c) {
    std::FILE *f = std::fopen(dir.file(name).c_str(), "w");
    nurbs_interp::curve_file_write(f, c);
    std::fclose(f);
}

TEST(ToolLengths, ACircleIsTwoPiRLongHoweverItIsWritten) {
    temp_dir dir;
    write_curve(dir, "c9.nurbs", test_curves::circle9(50));
    write_curve(dir, "c7.nurbs", test_curves::circle7(50));
    write_curve(dir, "tilted.nurbs", test_curves::circle9(40, 0.5));
    for (const char *c : {"c9.nurbs", "c7.nurbs"}) {
        const tool_run r = tool(dir, std::string("curve_info ") + c);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("length: 314.159265359 mm\n"), std::string::npos) << c << r.out;
    }
    EXPECT_NE(tool(dir, "curve_info tilted.nurbs").out.find("length: 251.327412287 mm\n"),
              std::string::npos);
    EXPECT_NE(tool(dir, "make_curve --report c9.nurbs").out.find("length: 314.159265359 mm"),
              std::string::npos);
    // fcp_fit ends the table at the accurate length, not where the driver's quadrature over
    // the whole curve (282.84 mm on this circle) would.
    const tool_run fit = tool(dir, "fcp_fit --format data -o t.txt c9.nurbs");
    ASSERT_EQ(fit.status, 0) << fit.err;
    EXPECT_EQ(fit.err, "");
    EXPECT_NE(fit.out.find("curve length 314.15926535897933 mm"), std::string::npos) << fit.out;
    // --length is checked against the true length, not the driver's.
    EXPECT_EQ(
        tool(dir, "fcp_fit --format data -o t.txt --length 314.15926535897933 c9.nurbs").status, 0);
    EXPECT_EQ(
        tool(dir, "fcp_fit --format data -o t.txt --length 282.84271247461902 c9.nurbs").status, 1);
}

TEST(ToolTables, ATableThatMissesByMoreThanAStepIsNotWritten) {
    temp_dir dir;
    write_curve(dir, "c9.nurbs", test_curves::circle9(50));
    write_file(dir.file("bent.nurbs"), curve_text(bent(false), 3));
    // The circle's three joints need four pieces at the least.
    tool_run r = tool(dir, "fcp_fit --breakpoints 2 -o t.hpp c9.nurbs");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("3 joints"), std::string::npos) << r.err;
    // One quintic piece for a whole cubic of twelve points misses by millimetres.
    r = tool(dir, "fcp_fit --breakpoints 2 -o t.hpp bent.nurbs");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("more than a whole step v*T = 0.0625 mm at 250 mm/s: not a table"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(strays(dir, {"c9.nurbs", "bent.nurbs"}), std::vector<std::string>{});
    // With enough pieces it is one, and the report says what a step across a joint misses.
    r = tool(dir, "fcp_fit --breakpoints 41 -o t.hpp c9.nurbs");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("a step across a joint on the piece it starts on misses by up to"),
              std::string::npos);
}

TEST(ToolTables, ATargetEChoosesTheCountAndTheHeaderNamesTheCurve) {
    temp_dir dir;
    write_curve(dir, "c9.nurbs", test_curves::circle9(50));
    tool_run r = tool(dir, "fcp_fit --tolerance 1e-9 --format data -o t.txt c9.nurbs");
    ASSERT_EQ(r.status, 0) << r.err;
    // "E <= 1e-09 mm took N pieces (N + 1 breakpoints)", and the table file holds N + 1.
    const std::size_t at = r.out.find("E <= 1e-09 mm took ");
    ASSERT_NE(at, std::string::npos) << r.out;
    const int pieces = std::stoi(r.out.substr(at + 19));
    EXPECT_NE(read_file(dir.file("t.txt"))
                  .find("FCP table: " + std::to_string(pieces + 1) + " breakpoints"),
              std::string::npos);
    const std::size_t e = r.out.find("E = max |S(u_table(s)) - s| = ");
    ASSERT_NE(e, std::string::npos) << r.out;
    EXPECT_LE(std::stod(r.out.substr(e + 30)), 1e-9);
    // A count and a target at once is a wrong command line; a target below what the arithmetic
    // resolves is refused, nothing written.
    EXPECT_EQ(tool(dir, "fcp_fit --tolerance 1e-9 --breakpoints 41 -o u.txt c9.nurbs").status, 2);
    r = tool(dir, "fcp_fit --tolerance 1e-15 -o u.txt c9.nurbs");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("below what the arithmetic resolves"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("u.txt")));
    // The header says which curve the table was made for: its count, degree and length.
    r = tool(dir, "fcp_fit --breakpoints 41 -o t.hpp c9.nurbs");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string header = read_file(dir.file("t.hpp"));
    EXPECT_NE(header.find("FCP_CURVE_POINTS = 9;"), std::string::npos);
    EXPECT_NE(header.find("FCP_CURVE_DEGREE = 2;"), std::string::npos);
    EXPECT_NE(header.find("FCP_CURVE_LENGTH = 314.15926535897933;"), std::string::npos);
    EXPECT_NE(header.find("FCP_CURVE_CHECKSUM = 0x"), std::string::npos);
}

// ---------------------------------------------------------------- what a curve is

// Returns the numbers of curve_info's line starting with `key` (the words that parse whole),
// up to a parenthesis.
std::vector<double> numbers_of(const std::string &out, const std::string &key) {
    const std::size_t at = out.find("\n" + key);
    std::vector<double> n;
    if (at == std::string::npos) return n;
    const std::string line = out.substr(at + 1, out.find('\n', at + 1) - at - 1);
    std::istringstream words(line.substr(0, line.find('(')));
    for (std::string w; words >> w;) {
        char *end = nullptr;
        const double x = std::strtod(w.c_str(), &end);
        if (end != w.c_str() && *end == 0) n.push_back(x);
    }
    return n;
}

TEST(ToolReports, CurveInfoNamesUnitsJointsCornersAndTheExtent) {
    temp_dir dir;
    // A circle of radius 50 drawn from seven points: its top, left and bottom lie inside knot
    // spans (the tangent points are at -90, 30 and 150 degrees), so the box is found there.
    write_curve(dir, "c7.nurbs", test_curves::circle7(50));
    tool_run r = tool(dir, "curve_info c7.nurbs");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<double> box = numbers_of(r.out, "extent:");
    ASSERT_EQ(box.size(), 4u) << r.out;
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(box[k], k % 2 ? 50.0 : -50.0, 1e-9) << r.out;
    EXPECT_NE(r.out.find("(100 x 100 mm)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("dimension: 2"), std::string::npos) << r.out;
    // Nine points, degree 2: its three doubled knots are joints a quarter of 2 pi R apart; no
    // corner (the tangent is continuous).
    write_curve(dir, "c9.nurbs", test_curves::circle9(50));
    r = tool(dir, "curve_info c9.nurbs");
    EXPECT_NE(r.out.find("joints: 3 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("0.25 (78.539816), 0.5 (157.079633), 0.75 (235.619449)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\ncorners: 0\n"), std::string::npos) << r.out;
    // The plate's outline: 12 joints, the slot's 4 sharp corners, 120 x 80 mm.
    write_curve(dir, "plate.nurbs", nurbs_interp::plate_outline().curve);
    r = tool(dir, "curve_info plate.nurbs");
    EXPECT_NE(r.out.find("joints: 12 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("corners: 4 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("extent: x 0 .. 120 mm, y 0 .. 80 mm"), std::string::npos) << r.out;
    // Tilted by 0.5 rad about x: 3D, z within +-R sin 0.5.
    write_curve(dir, "tilted.nurbs", test_curves::circle9(40, 0.5));
    r = tool(dir, "curve_info tilted.nurbs");
    EXPECT_NE(r.out.find("dimension: 3"), std::string::npos) << r.out;
    const std::vector<double> tilted = numbers_of(r.out, "extent:");
    ASSERT_EQ(tilted.size(), 6u) << r.out;
    EXPECT_NEAR(tilted[4], -40 * std::sin(0.5), 1e-7); // printed to 9 digits
    EXPECT_NEAR(tilted[5], 40 * std::sin(0.5), 1e-7);
    // Without an argument, the bundled curve, found beside the program from anywhere.
    r = tool(dir, "curve_info");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("data/S1200X30quorbel.nurbs\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("length: 3499.318849193 mm"), std::string::npos) << r.out;
}

// ---------------------------------------------------------------- reports that ignore z

TEST(ToolReports, MakeCurveReportSeesTheThirdCoordinate) {
    temp_dir dir;
    write_file(dir.file("flat.nurbs"), curve_text(bent(false), 3, 3));
    write_file(dir.file("space.nurbs"), curve_text(bent(true), 3, 3));
    const tool_run flat = tool(dir, "make_curve --report flat.nurbs");
    const tool_run space = tool(dir, "make_curve --report space.nurbs");
    ASSERT_EQ(flat.status, 0) << flat.err;
    ASSERT_EQ(space.status, 0) << space.err;
    auto line = [](const std::string &text, const char *key) {
        const auto at = text.find(key);
        return at == std::string::npos ? std::string() : text.substr(at, text.find('\n', at) - at);
    };
    for (const char *key : {"length:", "radius of curvature:", "parameter speed"})
        EXPECT_NE(line(flat.out, key), line(space.out, key)) << key;
}

// ---------------------------------------------------------------- planning through a cusp

TEST(ToolCusps, CurvatureLimitedPlanStopsAtAReversal) {
    // A straight path out along x and back: a cubic through (0..20, 0) and back to 0, with the
    // reversal at a repeated control point, where C' vanishes and the radius formula sees a line.
    temp_dir dir;
    std::vector<nurbs_ctrl_pt> pts;
    for (double x : {0.0, 5.0, 10.0, 15.0, 20.0, 20.0, 20.0, 15.0, 10.0, 5.0, 0.0})
        pts.push_back({x, 0.0, 0.0, 1.0});
    write_file(dir.file("back.nurbs"), curve_text(pts, 3));
    const tool_run r =
        tool(dir, "make_profile --planner shares --curvature-limited --curve back.nurbs -o p.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("the tangent turns sharply or |C'| vanishes"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("arc length 20"), std::string::npos) << r.err;
    // The feed at the reversal (20 mm along) is the floor, 1% of 250 mm/s.
    const std::string text = read_file(dir.file("p.txt"));
    std::istringstream in(text);
    std::string header;
    std::getline(in, header);
    double v, a, j, s = 0, at_reversal = 1e9;
    while (in >> v >> a >> j) {
        if (s <= 20.0 && s + v * 0.00025 >= 20.0) at_reversal = v;
        s += v * 0.00025;
    }
    EXPECT_LE(at_reversal, 2.5 + 1e-9);
}

} // namespace
