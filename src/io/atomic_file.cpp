#include "io/atomic_file.hpp"

#include <atomic>     // the signal fence between a registered name and its flag
#include <cerrno>     // errno, program_invocation_short_name
#include <csignal>    // the handlers of the signals that end a run, the mask around the registry
#include <cstring>    // strerror, strlen
#include <fcntl.h>    // open of special files and of an output updated in place, fallocate
#include <filesystem> // the output's directory and file name, symbolic links
#include <pthread.h>  // pthread_sigmask
#include <sys/stat.h> // stat, fchmod, umask
#include <unistd.h>   // mkstemp, unlink, access, fchown, pwrite, ftruncate

namespace nurbs_interp {

void (*G_atomic_file_created_hook)(const char *temp) = nullptr;

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

// The signals whose handler removes the temporaries.
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU};

sigset_t cleanup_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : CLEANUP_SIGNALS)
        sigaddset(&set, sig);
    return set;
}

// Writes `text` to standard error from a signal handler (write is async-signal-safe).
void say(const char *text) {
    [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, text, std::strlen(text));
}

extern "C" void remove_pending_and_die(int sig) {
    for (int k = 0; k < MAX_PENDING; ++k)
        if (G_pending_used[k]) unlink(G_pending[k]);
    if (sig == SIGXCPU) {
        say(program_invocation_short_name);
        say(": stopped: the CPU time limit is reached (SIGXCPU); unfinished outputs removed\n");
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig); // delivered once the handler returns: the signal stays blocked until then
}

// Blocks the clean-up signals in this thread while it lives, so that a temporary file and its
// entry in the registry appear (and go) together: a signal that arrives meanwhile waits and
// finds the file registered.
class cleanup_signals_held {
  public:
    cleanup_signals_held() {
        const sigset_t set = cleanup_signal_set();
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~cleanup_signals_held() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    cleanup_signals_held(const cleanup_signals_held &) = delete;
    cleanup_signals_held &operator=(const cleanup_signals_held &) = delete;

  private:
    sigset_t old_;
};

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

// How a copy over an existing file ended.
struct copy_result {
    int err = 0;          // 0, or the errno of the first failure
    bool touched = false; // the target may have changed (a failure after the first write)
};

// Writes the bytes of the file `from` over the file `to` in place (it is not replaced, so every
// hard link still names it), then cuts it to their length. The room is reserved before the
// first byte is written, so a full disk or a file-size limit leaves `to` as it was; a file
// system that reserves nothing is written all the same.
copy_result copy_file_over(const std::string &from, const std::string &to) {
    copy_result r;
    const int in = open(from.c_str(), O_RDONLY);
    if (in < 0) return {errno, false};
    const int out = open(to.c_str(), O_WRONLY);
    struct stat src {};
    struct stat dst {};
    if (out < 0 || fstat(in, &src) != 0 || fstat(out, &dst) != 0) r.err = errno;
    if (r.err == 0 && src.st_size > dst.st_size && fallocate(out, 0, 0, src.st_size) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS) {
        r.err = errno;
        // A partial reservation may have grown the file; its bytes were never written.
        [[maybe_unused]] const int cut = ftruncate(out, dst.st_size);
    }
    char buf[65536];
    off_t at = 0;
    while (r.err == 0) {
        const ssize_t n = read(in, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) r.err = errno;
        for (ssize_t done = 0; r.err == 0 && done < n;) {
            const ssize_t w = pwrite(out, buf + done, static_cast<std::size_t>(n - done), at);
            if (w < 0) r.err = errno;
            r.touched = true;
            done += w < 0 ? 0 : w;
            at += w < 0 ? 0 : w;
        }
    }
    if (r.err == 0 && src.st_size < dst.st_size && ftruncate(out, src.st_size) != 0) {
        r.err = errno;
        r.touched = true;
    }
    if (out >= 0 && close(out) != 0 && r.err == 0) r.err = errno;
    close(in);
    return r;
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
    const fs::path p(target_);
    create_temporary(p.has_parent_path() ? p.parent_path().string() : ".", p.filename().string());
}

atomic_file::atomic_file(scratch_tag, const std::string &dir, const std::string &name)
    : path_((fs::path(dir) / name).string()), scratch_(true) {
    create_temporary(dir.empty() ? "." : dir, name);
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

void atomic_file::create_temporary(const std::string &dir, const std::string &name) {
    std::string tmpl = (fs::path(dir) / ("." + name + ".tmp-XXXXXX")).string();
    if (tmpl.size() >= MAX_PATH) throw output_error(path_ + ": path too long");
    const cleanup_signals_held held;
    int slot = 0;
    while (slot < MAX_PENDING && G_pending_used[slot])
        ++slot;
    if (slot == MAX_PENDING) throw output_error(path_ + ": too many outputs open at once");

    const int fd = mkstemp(tmpl.data());
    if (fd < 0)
        throw output_error(path_ + ": cannot create a file in " + dir + " (" + errno_text(errno) +
                           ")");
    if (G_atomic_file_created_hook) G_atomic_file_created_hook(tmpl.c_str());
    std::snprintf(G_pending[slot], MAX_PATH, "%s", tmpl.c_str());
    std::atomic_signal_fence(std::memory_order_seq_cst); // the name is whole before it counts
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
    const cleanup_signals_held held;
    if (!temp_.empty()) unlink(temp_.c_str());
    if (slot_ >= 0) G_pending_used[slot_] = 0;
}

std::FILE *atomic_file::stream() {
    if (!file_ && !committed_ && kind_ == output_kind::written_directly) open_directly();
    return file_;
}

void atomic_file::commit() {
    if (scratch_) throw std::logic_error(path_ + ": a scratch file is never committed");
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
    const cleanup_signals_held held; // the output is put in place whole, then forgotten
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
    const copy_result r = copy_file_over(temp_, target_);
    if (r.err != 0 && !r.touched)
        throw output_error(path_ + ": cannot update the output in place (" + errno_text(r.err) +
                           "); it is as it was");
    if (r.err != 0) { // the complete content stays where it is, named
        const std::string kept = temp_;
        temp_.clear();
        G_pending_used[slot_] = 0;
        slot_ = -1;
        throw output_error(path_ + ": cannot update the output in place (" + errno_text(r.err) +
                           "); it is incomplete, and the complete content is kept in " + kept);
    }
    unlink(temp_.c_str());
    temp_.clear();
}

void remove_temporaries_on_signal() {
    struct sigaction act {};
    act.sa_handler = remove_pending_and_die;
    act.sa_mask = cleanup_signal_set(); // one clean-up at a time
    for (int sig : CLEANUP_SIGNALS) {
        struct sigaction old {};
        sigaction(sig, nullptr, &old);
        const bool may_be_ignored = sig == SIGHUP || sig == SIGQUIT || sig == SIGPIPE;
        if (!(may_be_ignored && old.sa_handler == SIG_IGN)) sigaction(sig, &act, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
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
