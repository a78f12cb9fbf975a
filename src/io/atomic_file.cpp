#include "io/atomic_file.hpp"

#include <cerrno>
#include <csignal>    // the handlers of the signals that end a run
#include <cstring>    // strerror
#include <fcntl.h>    // open of special files and of an output updated in place
#include <filesystem> // the output's directory and file name, symbolic links
#include <sys/stat.h> // stat, fchmod, umask
#include <unistd.h>   // mkstemp, unlink, access, fchown

namespace nurbs_interp {

namespace {

namespace fs = std::filesystem;

// Temporary files not yet committed, for the signal handler: fixed storage, so that removing
// them needs nothing but unlink (async-signal-safe).
constexpr int MAX_PENDING = 16;
constexpr std::size_t MAX_PATH = 4096;
char G_pending[MAX_PENDING][MAX_PATH];
volatile std::sig_atomic_t G_pending_used[MAX_PENDING];

// Symbolic links followed before giving up, as the kernel does (ELOOP).
constexpr int MAX_LINK_HOPS = 40;

extern "C" void remove_pending_and_die(int sig) {
    for (int k = 0; k < MAX_PENDING; ++k)
        if (G_pending_used[k]) unlink(G_pending[k]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

std::string errno_text(int err) {
    return std::strerror(err);
}

// Returns `path` with every symbolic link in its last component followed (a relative link
// target is taken from the link's directory); the path itself when it is no link. Throws on a
// loop of links.
std::string follow_links(const std::string &path) {
    std::string p = path;
    for (int hop = 0; hop < MAX_LINK_HOPS; ++hop) {
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::error_code ec;
        const fs::path to = fs::read_symlink(p, ec);
        if (ec) throw output_error(path + ": cannot read the symbolic link (" + ec.message() + ")");
        p = to.is_absolute() ? to.string() : (fs::path(p).parent_path() / to).string();
    }
    throw output_error(path + ": too many levels of symbolic links");
}

// True for the files an output writes into directly rather than replaces.
bool is_special(mode_t mode) {
    return S_ISCHR(mode) || S_ISFIFO(mode) || S_ISSOCK(mode);
}

// Throws unless the existing file of mode `mode` may be an output.
void refuse_kind(const std::string &path, mode_t mode) {
    if (S_ISDIR(mode)) throw output_error(path + ": is a directory");
    if (S_ISBLK(mode)) throw output_error(path + ": is a block device; refusing to write to it");
}

// Copies the bytes of the file `from` over the file `to` (truncated first, not replaced).
// Returns 0, or the errno of the first failure.
int copy_file_over(const std::string &from, const std::string &to) {
    const int in = open(from.c_str(), O_RDONLY);
    if (in < 0) return errno;
    const int out = open(to.c_str(), O_WRONLY | O_TRUNC);
    int err = out < 0 ? errno : 0;
    char buf[65536];
    ssize_t n = 0;
    while (err == 0 && (n = read(in, buf, sizeof buf)) != 0) {
        if (n < 0) err = errno;
        for (ssize_t done = 0; err == 0 && done < n;) {
            const ssize_t w = write(out, buf + done, static_cast<std::size_t>(n - done));
            if (w < 0) err = errno;
            done += w < 0 ? 0 : w;
        }
    }
    if (out >= 0 && close(out) != 0 && err == 0) err = errno;
    close(in);
    return err;
}

// Gives the file open as `fd` the owner `uid` and group `gid`, or the group alone, where the
// process may; otherwise it stays the process's own (an unprivileged run cannot give it away).
void keep_owner(int fd, uid_t uid, gid_t gid) {
    if (fchown(fd, uid, gid) == 0) return;
    // Not the owner's to give: the group at least, where the process belongs to it.
    [[maybe_unused]] const int kept_group = fchown(fd, static_cast<uid_t>(-1), gid);
}

} // namespace

atomic_file::atomic_file(const std::string &path) : path_(path) {
    if (path.empty()) throw output_error("an output path is empty");
    target_ = follow_links(path);
    struct stat st {};
    if (stat(target_.c_str(), &st) == 0) {
        refuse_kind(path, st.st_mode);
        if (is_special(st.st_mode)) {
            kind_ = output_kind::written_directly;
            if (!S_ISFIFO(st.st_mode)) open_directly();
            return;
        }
        existed_ = true;
        mode_ = st.st_mode & 07777;
        uid_ = st.st_uid;
        gid_ = st.st_gid;
        if (st.st_nlink > 1) kind_ = output_kind::updated_in_place;
    }
    create_temporary();
}

void atomic_file::open_directly() {
    const int fd = open(target_.c_str(), O_WRONLY | O_NOCTTY);
    if (fd >= 0) file_ = fdopen(fd, "w");
    if (!file_) {
        const int err = errno;
        if (fd >= 0) close(fd);
        throw output_error(path_ + ": cannot write (" + errno_text(err) + ")");
    }
}

void atomic_file::create_temporary() {
    const fs::path p(target_);
    const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
    std::string tmpl = (dir / ("." + p.filename().string() + ".tmp-XXXXXX")).string();
    if (tmpl.size() >= MAX_PATH) throw output_error(path_ + ": path too long");
    int slot = 0;
    while (slot < MAX_PENDING && G_pending_used[slot])
        ++slot;
    if (slot == MAX_PENDING) throw output_error(path_ + ": too many outputs open at once");

    const int fd = mkstemp(tmpl.data());
    if (fd < 0)
        throw output_error(path_ + ": cannot create a file in " + dir.string() + " (" +
                           errno_text(errno) + ")");
    std::snprintf(G_pending[slot], MAX_PATH, "%s", tmpl.c_str());
    G_pending_used[slot] = 1;
    slot_ = slot;
    temp_ = tmpl;
    file_ = fdopen(fd, "w");
    if (!file_) {
        const int err = errno;
        close(fd);
        throw output_error(path_ + ": cannot write (" + errno_text(err) + ")");
    }
}

atomic_file::~atomic_file() {
    if (file_) std::fclose(file_);
    if (!temp_.empty()) unlink(temp_.c_str());
    if (slot_ >= 0) G_pending_used[slot_] = 0;
}

std::FILE *atomic_file::stream() {
    if (!file_ && !committed_ && kind_ == output_kind::written_directly) open_directly();
    return file_;
}

void atomic_file::commit() {
    if (!file_) { // a FIFO whose content another program wrote through temp_path() (or none)
        committed_ = true;
        return;
    }
    const bool wrote = std::fflush(file_) == 0 && !std::ferror(file_);
    const int err = errno;
    if (wrote && kind_ == output_kind::replaced) {
        // The mode last: changing the owner may clear set-user-ID bits.
        const int fd = fileno(file_);
        if (existed_) keep_owner(fd, uid_, gid_);
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, existed_ ? mode_ : 0666 & ~mask);
    }
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    committed_ = true;
    if (!wrote || !closed)
        throw output_error(path_ + ": write failed (" + errno_text(wrote ? errno : err) + ")");
    if (kind_ == output_kind::replaced) replace_target();
    if (kind_ == output_kind::updated_in_place) update_target_in_place();
    if (slot_ >= 0) G_pending_used[slot_] = 0;
    slot_ = -1;
}

void atomic_file::replace_target() {
    if (std::rename(temp_.c_str(), target_.c_str()) != 0)
        throw output_error(path_ + ": cannot put the output in place (" + errno_text(errno) + ")");
    temp_.clear();
}

void atomic_file::update_target_in_place() {
    if (const int err = copy_file_over(temp_, target_); err != 0)
        throw output_error(path_ + ": cannot update the output in place (" + errno_text(err) +
                           "); it has more than one link and may now be incomplete");
    unlink(temp_.c_str());
    temp_.clear();
}

void remove_temporaries_on_signal() {
    std::signal(SIGINT, remove_pending_and_die);
    std::signal(SIGTERM, remove_pending_and_die);
    for (int sig : {SIGHUP, SIGQUIT, SIGPIPE}) {
        struct sigaction old {};
        sigaction(sig, nullptr, &old);
        if (old.sa_handler != SIG_IGN) std::signal(sig, remove_pending_and_die);
    }
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
        struct stat st {};
        if (!output.empty() && stat(follow_links(output).c_str(), &st) == 0 &&
            is_special(st.st_mode)) {
            if (access(output.c_str(), W_OK) != 0)
                throw output_error(output + ": cannot write (" + errno_text(errno) + ")");
            return;
        }
        atomic_file probe(output); // created, then removed uncommitted
    } catch (const output_error &e) {
        throw output_error(std::string(e.what()) + " (" + what + ")");
    }
}

} // namespace nurbs_interp
