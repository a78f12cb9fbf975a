#include "io/suite_manifest.hpp"

#include <cctype>     // isalnum
#include <cstring>    // strchr
#include <filesystem> // the manifest's directory, file names, relative paths
#include <map>
#include <set>

#include "io/input_file.hpp"
#include "core/text_scan.hpp"

namespace nurbs_interp {

namespace {

namespace fs = std::filesystem;

// The words of one manifest line that holds any, and its number.
struct manifest_line {
    unsigned no = 0;
    std::vector<std::string> words;
};

[[noreturn]] void fail(const std::string &path, unsigned line, const std::string &what) {
    throw manifest_error(path + ":" + std::to_string(line) + ": " + what);
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Returns the word at text[*i] (a double-quoted one without its quotes) and moves *i past it.
// Throws on an unclosed or empty quote, text glued to a quote, or a control character.
std::string next_word(const std::string &path, unsigned no, const std::string &text,
                      std::size_t *i) {
    std::string w;
    if (text[*i] == '"') {
        const std::size_t close = text.find('"', *i + 1);
        if (close == std::string::npos) fail(path, no, "a quoted path is not closed (\")");
        w = text.substr(*i + 1, close - *i - 1);
        *i = close + 1;
        if (w.empty()) fail(path, no, "an empty quoted path (\"\")");
        if (*i < text.size() && !is_blank(text[*i]) && text[*i] != '#')
            fail(path, no, "text right after the closing quote of \"" + w + "\"");
    } else {
        const std::size_t end = std::min(text.find_first_of(" \t\r#\"", *i), text.size());
        w = text.substr(*i, end - *i);
        *i = end;
        if (*i < text.size() && text[*i] == '"')
            fail(path, no, "a quote inside the path " + w + " (quote the whole path: \"...\")");
    }
    for (char c : w)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            fail(path, no,
                 "a path holds a control character (byte " + std::to_string(int(c)) + ")");
    return w;
}

// Returns the words of line `no`: blank-separated, a double-quoted path one word, '#' outside
// quotes ending the line.
std::vector<std::string> line_words(const std::string &path, unsigned no, const std::string &text) {
    std::vector<std::string> words;
    for (std::size_t i = 0;;) {
        while (i < text.size() && is_blank(text[i]))
            ++i;
        if (i >= text.size() || text[i] == '#') return words;
        words.push_back(next_word(path, no, text, &i));
    }
}

// Returns the lines of the manifest that hold words; throws on a line longer than the bound.
std::vector<manifest_line> read_lines(const std::string &path) {
    std::string error;
    const input_file f = open_input(path, "suite manifest", &error);
    if (!f) throw manifest_error(error);
    text_scan s = text_scan_open(f.get(), MANIFEST_MAX_LINE);
    std::vector<manifest_line> lines;
    for (bool have = s.line_no > 0 && !s.too_long; have; have = scan_next_line(s)) {
        std::vector<std::string> words = line_words(path, s.line_no, s.line);
        if (!words.empty()) lines.push_back({s.line_no, std::move(words)});
    }
    if (s.too_long)
        fail(path, s.line_no,
             "line longer than " + std::to_string(MANIFEST_MAX_LINE) +
                 " characters (refused, not split)");
    return lines;
}

// Returns the names of `written` (paths as the manifest writes them): each file name, or the
// lexically normal path where two different paths share the file name.
std::vector<std::string> display_names(const std::vector<std::string> &written) {
    std::map<std::string, std::set<std::string>> by_name;
    for (const std::string &w : written)
        by_name[fs::path(w).filename().string()].insert(fs::path(w).lexically_normal().string());
    std::vector<std::string> names;
    for (const std::string &w : written) {
        const std::string file = fs::path(w).filename().string();
        names.push_back(by_name[file].size() == 1 ? file : fs::path(w).lexically_normal().string());
    }
    return names;
}

// Returns `name` without its extension as part of a file name: components joined by '_', ".."
// as "up", characters other than letters, digits and ._+- as '_'.
std::string plot_part(const std::string &name) {
    fs::path p(name);
    p.replace_extension();
    std::string out;
    for (const fs::path &component : p) {
        std::string part = component.string();
        if (part.empty() || part == "." || part == "/") continue;
        if (part == "..") part = "up";
        if (!out.empty()) out += '_';
        for (char c : part)
            out += std::isalnum(static_cast<unsigned char>(c)) || std::strchr("._+-", c) ? c : '_';
    }
    return out;
}

// Gives every entry its curve, profile and plot names (see suite_entry); throws when two
// plots would have the same name.
void name_entries(const std::string &path, const std::vector<manifest_line> &lines,
                  std::vector<suite_entry> &entries) {
    std::vector<std::string> curves, profiles;
    for (const manifest_line &l : lines) {
        curves.push_back(l.words[0]);
        profiles.insert(profiles.end(), l.words.begin() + 1, l.words.end());
    }
    const std::vector<std::string> curve_names = display_names(curves);
    const std::vector<std::string> profile_names = display_names(profiles);
    std::map<std::string, unsigned> plots; // plot name -> line
    for (std::size_t k = 0, j = 0; k < entries.size(); ++k) {
        suite_entry &e = entries[k];
        e.curve_name = curve_names[k];
        for (std::size_t p = 0; p < e.profiles.size(); ++p, ++j) {
            e.profile_names.push_back(profile_names[j]);
            const std::string stem = plot_part(e.curve_name) + "__" + plot_part(profile_names[j]);
            for (const std::string &plot : {stem + ".png", stem + "__split.png"})
                if (const auto [at, fresh] = plots.emplace(plot, e.line); !fresh)
                    fail(path, e.line,
                         "the plot of " + e.curve_name + " with " + profile_names[j] +
                             " would be named " + plot + ", like a plot of line " +
                             std::to_string(at->second) +
                             " (a curve and profile given twice, or names that differ only in "
                             "characters a file name cannot hold)");
            e.plot_names.push_back(stem + ".png");
            e.split_plot_names.push_back(stem + "__split.png");
        }
    }
}

} // namespace

std::vector<suite_entry> read_suite_manifest(const std::string &path) {
    const std::vector<manifest_line> lines = read_lines(path);
    if (lines.empty()) throw manifest_error(path + ": the manifest names no curve");
    const fs::path dir = fs::path(path).parent_path();
    std::vector<suite_entry> entries;
    for (const manifest_line &l : lines) {
        if (l.words.size() < 2) fail(path, l.no, "a curve needs a profile");
        suite_entry e;
        e.line = l.no;
        e.curve = (dir / l.words[0]).string();
        for (std::size_t k = 1; k < l.words.size(); ++k)
            e.profiles.push_back((dir / l.words[k]).string());
        // Every file is checked now, so that a mistake on a late line does not wait for the
        // runs of the lines before it.
        std::string problem = unreadable_input(e.curve, "curve file");
        for (std::size_t k = 0; k < e.profiles.size() && problem.empty(); ++k)
            problem = unreadable_input(e.profiles[k], "feed profile");
        if (!problem.empty()) fail(path, l.no, problem);
        entries.push_back(std::move(e));
    }
    name_entries(path, lines, entries);
    return entries;
}

std::vector<std::string> suite_inputs(const std::string &path,
                                      const std::vector<suite_entry> &entries) {
    std::vector<std::string> inputs = {path};
    for (const suite_entry &e : entries) {
        inputs.push_back(e.curve);
        inputs.insert(inputs.end(), e.profiles.begin(), e.profiles.end());
    }
    return inputs;
}

std::vector<std::string> suite_outputs(const std::vector<suite_entry> &entries, bool plots) {
    std::vector<std::string> out = {"summary.csv", "summary.md"};
    for (const suite_entry &e : entries)
        if (plots) {
            out.insert(out.end(), e.plot_names.begin(), e.plot_names.end());
            out.insert(out.end(), e.split_plot_names.begin(), e.split_plot_names.end());
        }
    return out;
}

} // namespace nurbs_interp
