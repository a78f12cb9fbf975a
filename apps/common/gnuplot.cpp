#include "common/gnuplot.hpp"

#include <algorithm> // find_if, min
#include <cerrno>
#include <csignal> // SIGXFSZ of gnuplot
#include <cstdlib>
#include <cstring>    // strerror
#include <filesystem> // the temporary directory
#include <sys/stat.h> // size of the drawn image
#include <sys/wait.h> // pclose status
#include <unistd.h>   // access

namespace nurbs_interp {

namespace {

const char *const COLOURS[10] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                 "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};

} // namespace

std::string gp_line_style(std::size_t k) {
    return " with lines lw 1.5 lc rgb '" + std::string(COLOURS[k % 10]) + "' dt " +
           std::to_string(k % 9 + 1);
}

std::string gp_quote(const std::string &s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

void refuse_unsafe_for_gnuplot(const std::string &path, const std::string &what) {
    const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; };
    const auto bad = std::find_if(path.begin(), path.end(), control);
    if (bad == path.end()) return;
    std::string shown; // the path on one line, control characters as \xNN
    char hex[8];
    for (char c : path) {
        std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
        shown += control(c) ? std::string(hex) : std::string(1, c);
    }
    std::snprintf(hex, sizeof hex, "0x%02x", static_cast<unsigned char>(*bad));
    throw output_error(what + " \"" + shown + "\": holds a control character (byte " + hex +
                       "); refused, gnuplot would read it as the end of a command");
}

void require_gnuplot(const std::string &what) {
    if (!on_path("gnuplot"))
        throw output_error(what + " needs gnuplot, which is not installed (" + GNUPLOT_INSTALL +
                           ")");
}

void run_gnuplot(const std::string &script, const std::string &png, const std::string &shown) {
    // gnuplot starts with SIGXFSZ at its default (the tool ignores it), so that an image over
    // the file-size limit ends gnuplot instead of leaving a short file.
    struct sigaction dfl {};
    struct sigaction old {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGXFSZ, &dfl, &old);
    std::FILE *gp = popen("gnuplot", "w");
    const int started = errno;
    sigaction(SIGXFSZ, &old, nullptr);
    if (!gp) throw output_error(shown + ": cannot start gnuplot (" + std::strerror(started) + ")");
    std::fputs(script.c_str(), gp);
    const int status = pclose(gp);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw output_error(shown + ": gnuplot failed to draw the plot");
    // A device or FIFO the plot is written to directly has no size to check.
    struct stat st {};
    if (stat(png.c_str(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_size == 0))
        throw output_error(shown + ": gnuplot produced no image");
}

std::unique_ptr<atomic_file> plot_data_file(const atomic_file &png) {
    if (png.kind() == output_kind::written_directly) {
        std::error_code ec;
        const std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
        return std::make_unique<atomic_file>(atomic_file::scratch_tag{},
                                             ec ? std::string("/tmp") : tmp.string(),
                                             "interp_compare_plot.dat");
    }
    const std::filesystem::path beside(png.temp_path()); // in the directory of the image
    return std::make_unique<atomic_file>(atomic_file::scratch_tag{}, beside.parent_path().string(),
                                         std::filesystem::path(png.path()).filename().string() +
                                             ".dat");
}

bool on_path(const char *name) {
    const char *path = std::getenv("PATH");
    if (!path) return false;
    const std::string dirs = path;
    std::size_t pos = 0;
    while (pos <= dirs.size()) {
        const std::size_t colon = std::min(dirs.find(':', pos), dirs.size());
        const std::string dir = colon > pos ? dirs.substr(pos, colon - pos) : std::string(".");
        if (access((dir + "/" + name).c_str(), X_OK) == 0) return true;
        pos = colon + 1;
    }
    return false;
}

plot_files open_plot_files(const std::string &png, const std::string &what) {
    require_gnuplot(what);
    refuse_unsafe_for_gnuplot(png, what);
    plot_files f;
    f.png = std::make_unique<atomic_file>(png);
    f.data = plot_data_file(*f.png);
    refuse_unsafe_for_gnuplot(f.png->temp_path(), what);
    refuse_unsafe_for_gnuplot(f.data->temp_path(), what + " (its data)");
    return f;
}

} // namespace nurbs_interp
