#include "compare/contained_run.hpp"

#include <cerrno>
#include <chrono>
#include <csignal> // kill, SIGKILL
#include <cstdio>  // fflush, the memory lock in /proc/self/status
#include <cstring> // strerror, strsignal
#include <fcntl.h> // O_CLOEXEC
#include <new>     // bad_alloc, placement new
#include <poll.h>
#include <sched.h>     // the program's scheduling while it waits
#include <stdexcept>   // runtime_error
#include <sys/mman.h>  // the shared watch, mlockall
#include <sys/prctl.h> // the child dies with the program
#include <sys/wait.h>  // waitpid
#include <unistd.h>    // fork, pipe2, read, write

#include "compare/result_wire.hpp"
#include "io/format.hpp"

namespace nurbs_interp {

namespace {

// What the child sends back: a tag, then the result's bytes or an error's message.
constexpr char TAG_RESULT = 'R', TAG_ERROR = 'E', TAG_NO_MEMORY = 'M';

// How often the program looks at the watch while it waits, ms.
constexpr int WATCH_EVERY_MS = 10;

std::string errno_text() {
    return std::strerror(errno);
}

// Writes all of `data` to fd; false on an error.
bool write_all(int fd, const std::string &data) {
    for (std::size_t at = 0; at < data.size();) {
        const ssize_t n = write(fd, data.data() + at, data.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += std::size_t(n);
    }
    return true;
}

// True when this process has memory locked (VmLck above 0 kB in /proc/self/status).
bool memory_locked() {
    std::FILE *f = std::fopen("/proc/self/status", "r");
    if (!f) return false;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmLck: %ld", &kb) == 1) break;
    std::fclose(f);
    return kb > 0;
}

// The program's scheduling while a child runs: a real-time policy (--realtime) dropped and every
// CPU allowed, so that the program is not queued behind a child pinned to its CPU that never
// yields; restored when it goes.
struct eased_scheduling {
    int policy = SCHED_OTHER;
    sched_param param{};
    cpu_set_t mask{};
    bool eased = false;
    eased_scheduling() {
        policy = sched_getscheduler(0);
        if (policy != SCHED_FIFO && policy != SCHED_RR) return;
        sched_getparam(0, &param);
        sched_getaffinity(0, sizeof mask, &mask);
        const sched_param other{};
        sched_setscheduler(0, SCHED_OTHER, &other);
        cpu_set_t all;
        CPU_ZERO(&all);
        for (long i = 0; i < sysconf(_SC_NPROCESSORS_CONF) && i < CPU_SETSIZE; ++i)
            CPU_SET(i, &all);
        sched_setaffinity(0, sizeof all, &all);
        eased = true;
    }
    ~eased_scheduling() {
        if (!eased) return;
        sched_setaffinity(0, sizeof mask, &mask);
        sched_setscheduler(0, policy, &param);
    }
    eased_scheduling(const eased_scheduling &) = delete;
    eased_scheduling &operator=(const eased_scheduling &) = delete;
};

// The child: does the work and sends its result, or the error it threw, then ends at once (no
// exit handlers: the program's own, such as removing its temporary files, are not the child's).
[[noreturn]] void child_main(int fd, call_watch *watch,
                             const std::function<method_result(call_watch *)> &work, bool lock) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The program's handlers remove its temporary files: the child's signals end only itself.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU}) {
        struct sigaction old {};
        sigaction(sig, nullptr, &old);
        if (old.sa_handler != SIG_IGN) std::signal(sig, SIG_DFL);
    }
    if (lock) mlockall(MCL_CURRENT | MCL_FUTURE);
    std::string out;
    try {
        out = TAG_RESULT + result_to_bytes(work(watch));
    } catch (const std::bad_alloc &) {
        out = std::string(1, TAG_NO_MEMORY);
    } catch (const std::exception &e) {
        out = TAG_ERROR + std::string(e.what());
    } catch (...) { // an exception of a loaded method's own
        out = TAG_ERROR + std::string("a loaded method threw an exception");
    }
    std::fflush(stdout); // what the method printed
    _exit(write_all(fd, out) ? 0 : 1);
}

// Returns where the child was: the call in progress, with the last step's input.
std::string where(loaded_call call, double u, double t) {
    const std::string step =
        "step from u = " + fmt("%.17g", u) + " at t = " + fmt("%.9g", t) + " s";
    switch (call) {
    case loaded_call::step:
        return "in its " + step;
    case loaded_call::create:
        return "in its create()";
    case loaded_call::destroy:
        return "in its destroy()";
    case loaded_call::start:
        return "in its start()";
    case loaded_call::save:
        return "in its save()";
    case loaded_call::restore:
        return "in its restore()";
    case loaded_call::corrector:
        return "in its last_corrector()";
    case loaded_call::none:
        break;
    }
    return "between its calls (the last its " + step + ")";
}

// How the child ended, as the program saw it.
struct child_end {
    bool stopped = false; // killed for a call beyond its bound
    int status = 0;       // its wait status
};

// Returns the bound on the call `c`, s.
double bound_of(loaded_call c, const contained_bounds &b) {
    return c == loaded_call::create || c == loaded_call::destroy ? b.setup : b.call;
}

// Reads what the child sends until the pipe is closed and the child reaped (or the child is
// reaped while something it started holds the pipe: then what is there is read); kills it when
// a call it marks has not returned within its bound.
child_end collect(int fd, pid_t pid, const call_watch &watch, const contained_bounds &bounds,
                  std::string &bytes) {
    using clock = std::chrono::steady_clock;
    std::uint64_t seen = watch.calls.load(std::memory_order_relaxed);
    clock::time_point since = clock::now();
    child_end end;
    bool eof = false, reaped = false;
    char buf[1 << 16];
    // Reads once when the pipe is ready within `ms`; false at its end.
    const auto read_some = [&](int ms) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, ms);
        if (ready < 0 && errno != EINTR)
            throw std::runtime_error("waiting for a loaded method's result: " + errno_text());
        if (ready <= 0) return ms > 0; // nothing yet (or, not waiting, nothing left)
        const ssize_t got = read(fd, buf, sizeof buf);
        if (got > 0)
            bytes.append(buf, std::size_t(got));
        else if (got < 0 && errno != EINTR && errno != EAGAIN)
            throw std::runtime_error("reading a loaded method's result: " + errno_text());
        return got != 0;
    };
    while (!(eof && reaped)) {
        if (!eof) eof = !read_some(WATCH_EVERY_MS);
        if (!reaped) {
            const pid_t r = waitpid(pid, &end.status, eof ? 0 : WNOHANG);
            if (r < 0 && errno != EINTR)
                throw std::runtime_error("waiting for a loaded method's process: " + errno_text());
            reaped = r == pid;
            while (reaped && !eof && read_some(0)) {
            }
            eof = eof || reaped;
        }
        if (end.stopped || reaped) continue;
        const clock::time_point now = clock::now();
        const std::uint64_t calls = watch.calls.load(std::memory_order_relaxed);
        const loaded_call call = loaded_call(watch.call.load(std::memory_order_relaxed));
        if (calls != seen) {
            seen = calls;
            since = now;
        } else if (call != loaded_call::none &&
                   std::chrono::duration<double>(now - since).count() > bound_of(call, bounds)) {
            kill(pid, SIGKILL);
            end.stopped = true;
        }
    }
    return end;
}

} // namespace

contained_outcome run_contained(const std::function<method_result(call_watch *)> &work,
                                const contained_bounds &bounds) {
    void *page = mmap(nullptr, sizeof(call_watch), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED)
        throw std::runtime_error("cannot map the memory a loaded method's run is watched in: " +
                                 errno_text());
    call_watch *watch = new (page) call_watch();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        munmap(page, sizeof(call_watch));
        throw std::runtime_error("cannot make a pipe for a loaded method's run: " + errno_text());
    }
    const bool lock = memory_locked();
    std::fflush(nullptr); // nothing buffered is written twice
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        child_main(fds[1], watch, work, lock);
    }
    close(fds[1]);
    std::string bytes, error;
    child_end end;
    if (pid < 0) {
        error = "cannot start a process for a loaded method's run: " + errno_text();
    } else {
        eased_scheduling eased;
        try {
            end = collect(fds[0], pid, *watch, bounds, bytes);
        } catch (const std::runtime_error &e) {
            kill(pid, SIGKILL);
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            error = e.what();
        }
    }
    close(fds[0]);
    const loaded_call call = loaded_call(watch->call.load());
    const std::string at = where(call, watch->u.load(), watch->t.load());
    watch->~call_watch();
    munmap(page, sizeof(call_watch));
    if (!error.empty()) throw std::runtime_error(error);

    contained_outcome o;
    const int status = end.status;
    if (end.stopped) {
        o.failure = "stopped: a call had not returned after " + fmt("%g", bound_of(call, bounds)) +
                    " s (the bound on " +
                    (bound_of(call, bounds) == bounds.call
                         ? std::string("one call of a loaded method")
                         : std::string("a loaded method's create() and destroy()")) +
                    "), " + at;
        return o;
    }
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        o.failure = "crashed: signal " + std::to_string(sig) + " (" + strsignal(sig) + ") " + at +
                    "; it ran in a process of its own, the other methods go on";
        return o;
    }
    if (!bytes.empty() && bytes[0] == TAG_NO_MEMORY) throw std::bad_alloc();
    if (!bytes.empty() && bytes[0] == TAG_ERROR) throw std::runtime_error(bytes.substr(1));
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && !bytes.empty() && bytes[0] == TAG_RESULT &&
        result_from_bytes(std::string_view(bytes).substr(1), &o.result)) {
        o.ok = true;
        return o;
    }
    o.failure =
        WIFEXITED(status) && WEXITSTATUS(status) != 0
            ? "its process exited with status " + std::to_string(WEXITSTATUS(status)) + " " + at
            : "its process ended without a whole result " + at;
    return o;
}

} // namespace nurbs_interp
