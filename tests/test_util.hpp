// Helpers shared by the test suites: temporary files, curves built in memory, curve-file texts
// and what a writer writes to a memory stream.
#pragma once

#include <gtest/gtest.h> // EXPECT_TRUE in written_text

#include <cstdio>
#include <cstdlib>         // mkdtemp, system, free
#include <sys/stat.h>      // lstat, mknod
#include <sys/sysmacros.h> // makedev
#include <sys/wait.h>      // WIFEXITED
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/curve_def.hpp"
#include "core/nurbs.hpp"
#include "io/curve_file.hpp" // curve_text

namespace test_util {

// A fresh directory under the system's temporary directory, removed with the object.
struct temp_dir {
    std::filesystem::path path;
    temp_dir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "nurbs_test_XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~temp_dir() { std::filesystem::remove_all(path); }
    std::string file(const std::string &name) const { return (path / name).string(); }
};

// Writes `text` to `path` as bytes.
inline void write_file(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// Returns the whole content of `path` ("" when it does not open).
inline std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Returns the text of a curve file of degree `deg` and dimension `dim` (2 or 3) over `pts`
// (Cartesian, with weights), clamped uniform: the curve-file writer's text, for tests of the
// file format and of programs that read one.
inline std::string curve_text(const std::vector<nurbs_ctrl_pt> &pts, unsigned deg,
                              unsigned dim = 2) {
    return nurbs_interp::curve_file_text({deg, dim, pts, {}});
}

// Loads the clamped uniform curve of degree `deg` and dimension `dim` over `pts` into `curve`,
// in memory.
inline void load_curve(const std::vector<nurbs_ctrl_pt> &pts, unsigned deg, nurbs_curve *curve,
                       unsigned dim = 2) {
    nurbs_interp::nurbs_curve_alloc_def({deg, dim, pts, {}}, curve);
}

// Returns what `write` (a writer taking a FILE *, returning false on a write error) writes,
// through a memory stream; a failed write fails the test.
template <class Write> std::string written_text(Write write) {
    char *buf = nullptr;
    std::size_t size = 0;
    std::FILE *f = open_memstream(&buf, &size);
    EXPECT_TRUE(write(f));
    std::fclose(f);
    std::string text(buf, size);
    std::free(buf);
    return text;
}

// Control points that make a clamped uniform curve of degree `deg` with `ncp` points the
// straight line C(u) = (len*u, 0): the points sit at the Greville abscissae of the knots.
inline std::vector<nurbs_ctrl_pt> straight_line(unsigned ncp, unsigned deg, double len) {
    const unsigned nk = ncp + deg + 1;
    std::vector<double> knots(nk);
    for (unsigned i = 0; i < nk; ++i)
        knots[i] = i <= deg ? 0.0 : i >= ncp ? 1.0 : double(i - deg) / double(ncp - deg);
    std::vector<nurbs_ctrl_pt> pts;
    for (unsigned i = 0; i < ncp; ++i) {
        double g = 0;
        for (unsigned k = 1; k <= deg; ++k)
            g += knots[i + k];
        pts.push_back({len * g / deg, 0.0, 0.0, 1.0});
    }
    return pts;
}

// Returns the type bits (S_IFREG, S_IFLNK, S_IFCHR, ...) of what `path` names itself: a link
// is a link.
inline mode_t file_type(const std::string &path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode & S_IFMT;
}

// Makes the device node `path` (S_IFCHR or S_IFBLK in `type`) with the numbers of the system's
// device `major:minor`; false where the process may not (a test then skips).
inline bool make_device(const std::string &path, mode_t type, unsigned major, unsigned minor) {
    return mknod(path.c_str(), type | 0666, makedev(major, minor)) == 0;
}

// Runs a shell command and returns its exit status, with its standard output and standard
// error in the given files.
inline int run(const std::string &cmd, const std::string &out, const std::string &err) {
    const int status = std::system((cmd + " >" + out + " 2>" + err).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Returns the fields of a CSV line (a quoted field's quotes removed, doubled quotes made one).
inline std::vector<std::string> csv_fields(const std::string &line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t k = 0; k < line.size(); ++k) {
        const char c = line[k];
        if (quoted && c == '"' && k + 1 < line.size() && line[k + 1] == '"')
            fields.back() += '"', ++k;
        else if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

// Returns a report with its wrapped lines joined (a line end and the indentation of a
// continued line made one blank), so that a sentence can be found whole wherever the
// wrap fell (a long path moves it).
inline std::string unwrapped(std::string text) {
    for (std::size_t k; (k = text.find("\n  ")) != std::string::npos;)
        text.replace(k, 3, " ");
    return text;
}

} // namespace test_util
