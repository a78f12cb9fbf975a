#include "atomic_file.hpp"

#include <cerrno>
#include <csignal>    // SIGINT, SIGTERM handlers
#include <cstring>    // strerror
#include <filesystem> // the output's directory and file name
#include <sys/stat.h> // stat, chmod, umask
#include <unistd.h>   // mkstemp, unlink, access

namespace nurbs_interp {

namespace {

// Temporary files not yet committed, for the signal handler: fixed storage, so that removing
// them needs nothing but unlink (async-signal-safe).
constexpr int MAX_PENDING = 16;
constexpr std::size_t MAX_PATH = 4096;
char G_pending[MAX_PENDING][MAX_PATH];
volatile std::sig_atomic_t G_pending_used[MAX_PENDING];

extern "C" void remove_pending_and_die(int sig) {
    for (int k = 0; k < MAX_PENDING; ++k)
        if (G_pending_used[k]) unlink(G_pending[k]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

std::string errno_text(int err) {
    return std::strerror(err);
}

} // namespace

atomic_file::atomic_file(const std::string &path) : path_(path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (path.empty()) throw output_error("an output path is empty");
    if (fs::is_directory(path, ec)) throw output_error(path + ": is a directory");
    const fs::path p(path);
    const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
    std::string tmpl = (dir / ("." + p.filename().string() + ".tmp-XXXXXX")).string();
    if (tmpl.size() >= MAX_PATH) throw output_error(path + ": path too long");
    int slot = 0;
    while (slot < MAX_PENDING && G_pending_used[slot])
        ++slot;
    if (slot == MAX_PENDING) throw output_error(path + ": too many outputs open at once");

    const int fd = mkstemp(tmpl.data());
    if (fd < 0)
        throw output_error(path + ": cannot create a file in " + dir.string() + " (" +
                           errno_text(errno) + ")");
    std::snprintf(G_pending[slot], MAX_PATH, "%s", tmpl.c_str());
    G_pending_used[slot] = 1;
    slot_ = slot;
    temp_ = tmpl;
    file_ = fdopen(fd, "w");
    if (!file_) {
        const int err = errno;
        close(fd);
        throw output_error(path + ": cannot write (" + errno_text(err) + ")");
    }
}

atomic_file::~atomic_file() {
    if (file_) std::fclose(file_);
    if (!temp_.empty()) unlink(temp_.c_str());
    if (slot_ >= 0) G_pending_used[slot_] = 0;
}

void atomic_file::commit() {
    const bool wrote = std::fflush(file_) == 0 && !std::ferror(file_);
    const int err = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!wrote || !closed)
        throw output_error(path_ + ": write failed (" + errno_text(wrote ? errno : err) + ")");
    // mkstemp makes the file private (0600); an output gets the permissions of any new file.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(temp_.c_str(), 0666 & ~mask);
    if (std::rename(temp_.c_str(), path_.c_str()) != 0)
        throw output_error(path_ + ": cannot put the output in place (" + errno_text(errno) + ")");
    temp_.clear();
    G_pending_used[slot_] = 0;
    slot_ = -1;
}

void remove_temporaries_on_signal() {
    std::signal(SIGINT, remove_pending_and_die);
    std::signal(SIGTERM, remove_pending_and_die);
}

void refuse_output_over_inputs(const std::string &output, const std::string &what,
                               const std::vector<std::string> &inputs) {
    struct stat out {};
    if (stat(output.c_str(), &out) != 0) return; // a new file: nothing to overwrite
    if (S_ISDIR(out.st_mode)) throw output_error(output + " (" + what + "): is a directory");
    for (const std::string &in : inputs) {
        struct stat st {};
        if (!in.empty() && stat(in.c_str(), &st) == 0 && st.st_dev == out.st_dev &&
            st.st_ino == out.st_ino)
            throw output_error(output + " (" + what + ") is the input " + in +
                               "; refusing to overwrite an input");
    }
    if (access(output.c_str(), W_OK) != 0)
        throw output_error(output + " (" + what + "): exists and is not writable (" +
                           errno_text(errno) + ")");
}

void check_output_writable(const std::string &output, const std::string &what) {
    try {
        atomic_file probe(output); // created, then removed uncommitted
    } catch (const output_error &e) {
        throw output_error(std::string(e.what()) + " (" + what + ")");
    }
}

} // namespace nurbs_interp
