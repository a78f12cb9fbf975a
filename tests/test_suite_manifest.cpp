// The suite's manifest: paths relative to its directory, quoted paths with blanks, names that
// tell files of the same name in different folders apart, and every mistake found before the
// first run, named with the manifest's line.
#include <gtest/gtest.h>

#include <filesystem>

#include "io/suite_manifest.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;
using namespace test_util;
namespace fs = std::filesystem;

namespace {

// Makes the (empty) files `names` under `dir`, with their folders.
void touch(const temp_dir &dir, const std::vector<std::string> &names) {
    for (const std::string &n : names) {
        fs::create_directories(fs::path(dir.file(n)).parent_path());
        write_file(dir.file(n), "");
    }
}

// Returns the message read_suite_manifest throws for the manifest `text` ("" when it reads it).
std::string refusal(const temp_dir &dir, const std::string &text) {
    write_file(dir.file("m/suite.txt"), text);
    try {
        read_suite_manifest(dir.file("m/suite.txt"));
    } catch (const manifest_error &e) {
        return e.what();
    }
    return "";
}

TEST(SuiteManifest, NamesTellFoldersApartAndQuotedPathsHoldBlanks) {
    temp_dir dir;
    touch(dir, {"flower.nurbs", "fprof.txt", "m/a/curve.nurbs", "m/b/curve.nurbs", "m/p.txt",
                "m/my curve.nurbs", "m/p #1.txt", "m/q.txt"});
    write_file(dir.file("m/suite.txt"),
               "# the suite\n../flower.nurbs  ../fprof.txt p.txt # comment\n"
               "a/curve.nurbs p.txt\n\t b/./curve.nurbs  p.txt \r\n"
               "\"my curve.nurbs\" \"p #1.txt\" q.txt#comment\n");
    const std::vector<suite_entry> e = read_suite_manifest(dir.file("m/suite.txt"));
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].line, 2u);
    EXPECT_EQ(e[0].curve, dir.file("m/../flower.nurbs"));
    EXPECT_EQ(e[0].profiles,
              (std::vector<std::string>{dir.file("m/../fprof.txt"), dir.file("m/p.txt")}));
    // A file name no other curve has names the curve, as it always did.
    EXPECT_EQ(e[0].curve_name, "flower.nurbs");
    EXPECT_EQ(e[0].plot_names, (std::vector<std::string>{"flower__fprof.png", "flower__p.png"}));
    EXPECT_EQ(e[0].split_plot_names,
              (std::vector<std::string>{"flower__fprof__split.png", "flower__p__split.png"}));
    EXPECT_EQ(suite_outputs({e[0]}, true),
              (std::vector<std::string>{"summary.csv", "summary.md", "flower__fprof.png",
                                        "flower__p.png", "flower__fprof__split.png",
                                        "flower__p__split.png"}));
    EXPECT_EQ(suite_outputs({e[0]}, false), (std::vector<std::string>{"summary.csv", "summary.md"}));
    // Two curve.nurbs: their paths relative to the manifest, in the summary and the plots.
    EXPECT_EQ(e[1].curve_name, "a/curve.nurbs");
    EXPECT_EQ(e[2].curve_name, "b/curve.nurbs");
    EXPECT_EQ(e[1].plot_names, std::vector<std::string>{"a_curve__p.png"});
    EXPECT_EQ(e[2].plot_names, std::vector<std::string>{"b_curve__p.png"});
    EXPECT_EQ(e[3].curve, dir.file("m/my curve.nurbs"));
    EXPECT_EQ(e[3].profile_names, (std::vector<std::string>{"p #1.txt", "q.txt"}));
    EXPECT_EQ(e[3].plot_names, (std::vector<std::string>{"my_curve__p__1.png", "my_curve__q.png"}));
    EXPECT_EQ(suite_inputs("s", {e[1]}),
              (std::vector<std::string>{"s", dir.file("m/a/curve.nurbs"), dir.file("m/p.txt")}));
}

TEST(SuiteManifest, EveryMistakeIsFoundBeforeAnyRunWithItsLine) {
    temp_dir dir;
    touch(dir, {"m/c.nurbs", "m/p.txt", "m/sub/p.txt", "m/p__split.txt"});
    const std::string m = dir.file("m/suite.txt");
    const std::string good = "c.nurbs p.txt\n";
    for (const auto &[text, message] : std::vector<std::pair<std::string, std::string>>{
             {good + good + "c.nurbs none.txt\n",
              m + ":3: " + dir.file("m/none.txt") +
                  ": cannot open the feed profile (No such file or directory)"},
             {good + "gone.nurbs p.txt\n",
              m + ":2: " + dir.file("m/gone.nurbs") + ": cannot open the curve file"},
             {good + "c.nurbs sub\n",
              m + ":2: " + dir.file("m/sub") + ": is a directory, not a feed profile"},
             {good + "c.nurbs\n", m + ":2: a curve needs a profile"},
             {"\"c.nurbs p.txt\n", m + ":1: a quoted path is not closed"},
             {"c.nurbs \"\"\n", m + ":1: an empty quoted path"},
             {"c.nurbs \"p.txt\"x\n", m + ":1: text right after the closing quote of \"p.txt\""},
             {"c.nurbs p\".txt\n", m + ":1: a quote inside the path p"},
             {"c.nurbs p.txt\x01\n", m + ":1: a path holds a control character"},
             {good + "c.nurbs p.txt " + std::string(4100, 'x') + "\n" + good,
              m + ":2: line longer than 4096 characters (refused, not split)"},
             {good + "c.nurbs sub/../p.txt\n", m + ":2: the plot of c.nurbs with p.txt would be "
                                                   "named c__p.png, like a plot of line 1"},
             // The split plot of p.txt and the plot of p__split.txt would be one file.
             {"c.nurbs p.txt p__split.txt\n",
              m + ":1: the plot of c.nurbs with p__split.txt would be named c__p__split.png"},
             {"# nothing\n\n", m + ": the manifest names no curve"},
         }) {
        const std::string got = refusal(dir, text);
        EXPECT_EQ(got.rfind(message, 0), 0u) << text.substr(0, 80) << "\n -> " << got;
    }
    EXPECT_EQ(refusal(dir, good + "c.nurbs sub/p.txt\n"), ""); // two p.txt: told apart
    EXPECT_EQ(refusal(dir, good + "c.nurbs sub/p.txt" + std::string(4000, ' ') + "\n"), "");
    try {
        read_suite_manifest(dir.file("none.txt"));
        FAIL();
    } catch (const manifest_error &e) {
        EXPECT_EQ(std::string(e.what()),
                  dir.file("none.txt") +
                      ": cannot open the suite manifest (No such file or directory)");
    }
}

} // namespace
