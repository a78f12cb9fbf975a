// Output files that appear whole or not at all: written under a unique temporary name in the
// output's own directory and renamed over the output only when complete. A run that fails, is
// killed by SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE or SIGXCPU, meets its file-size limit, or
// throws leaves an existing output as it was and no temporary file behind. What the output path
// names decides how it is written:
//  - nothing, or a regular file with one link: the temporary is renamed over it; an existing
//    file keeps its permission bits (and its owner and group where the process may set them);
//  - a symbolic link: the link is followed and its target is written as above (the temporary
//    beside the target); the link stays a link;
//  - a regular file with more than one hard link: the complete content is first written to
//    the temporary, then copied over the existing file, so that every link still names it;
//    the room for it is reserved first (a full disk leaves the old content as it was) and the
//    signals above wait for the copy; a copy that still fails half-way (a disk error, a file
//    system that reserves nothing) keeps the temporary and names it in the error, so the
//    complete content is never lost. Not atomic all the same: a reader may see the copy;
//  - a character device, a FIFO or a socket: opened and written directly, no temporary, no
//    rename (`-o /dev/null` discards, `-o fifo` streams); what was written stays written (a
//    socket does not open for writing on Linux: the open's reason is reported);
//  - a directory or a block device: refused.
// Also the checks a tool runs before long work: an output that is one of its inputs, or that
// cannot be written, is refused up front.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <sys/types.h> // mode_t, uid_t, gid_t of the output kept
#include <vector>

namespace nurbs_interp {

// An output that cannot be prepared, written or put in place; the message names the path.
struct output_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// How an output is put in place (see the top of this file).
enum class output_kind { replaced, updated_in_place, written_directly };

// An output being written. The temporary file is created by the constructor and removed by
// the destructor unless commit() put it into place. Not copyable.
class atomic_file {
  public:
    // Follows `path` through symbolic links; creates "<dir>/.<name>.tmp-XXXXXX" beside the
    // file it names, or opens a character device or socket for writing (a FIFO is opened by
    // the first stream(), so that nothing blocks before the work, and not at all when another
    // program writes the content through temp_path()). Throws output_error when it cannot.
    explicit atomic_file(const std::string &path);
    // A scratch file, never committed: "<dir>/.<name>.tmp-XXXXXX" made by mkstemp (a name
    // nobody can predict, never an existing file or link), removed by the destructor or a
    // signal as any temporary. Throws output_error when it cannot be created.
    struct scratch_tag {};
    atomic_file(scratch_tag, const std::string &dir, const std::string &name);
    ~atomic_file();
    atomic_file(const atomic_file &) = delete;
    atomic_file &operator=(const atomic_file &) = delete;

    // The stream to write the content to (open until commit); throws output_error when a FIFO
    // does not open.
    std::FILE *stream();
    const std::string &path() const { return path_; }
    // The file a program other than this one writes the content into: the temporary, or the
    // special file itself when the output is written directly.
    const std::string &temp_path() const {
        return kind_ == output_kind::written_directly ? target_ : temp_;
    }
    output_kind kind() const { return kind_; }

    // Flushes and closes the stream and puts the content in place as kind() says. Throws
    // output_error (and removes the temporary file) when a write failed or the output cannot
    // be put in place.
    void commit();

  private:
    void open_directly();
    void create_temporary(const std::string &dir, const std::string &name);
    void replace_target();
    void update_target_in_place();

    std::string path_;   // as given
    std::string target_; // `path_` with its symbolic links followed
    std::string temp_;
    output_kind kind_ = output_kind::replaced;
    bool existed_ = false; // the target was a regular file: its mode and owner are kept
    mode_t mode_ = 0;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::FILE *file_ = nullptr;
    bool committed_ = false;
    bool scratch_ = false;
    int slot_ = -1; // place in the registry the signal handler cleans up
};

// Writes `path` whole through an atomic_file: `write` fills the stream; throws output_error.
template <class Write> void write_file_atomically(const std::string &path, Write write) {
    atomic_file out(path);
    write(out.stream());
    out.commit();
}

// Removes every uncommitted temporary file on SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE and
// SIGXCPU, then dies of the signal as it would have (SIGXCPU, a CPU-time limit reached, says so
// on standard error first). SIGHUP, SIGQUIT and SIGPIPE are left alone when they are ignored
// (nohup). SIGXFSZ is ignored, so that a file-size limit makes the write fail with EFBIG and
// the output reports "File too large" as any failed write. Called once by each program that
// writes outputs.
void remove_temporaries_on_signal();

// When set, called after a temporary file is created and before it is registered for clean-up,
// with the clean-up signals blocked: a test raises a signal there to show that it cannot leave
// the temporary behind.
extern void (*G_atomic_file_created_hook)(const char *temp);

// Throws output_error when `output` is the same file as one of `inputs` (same device and
// inode, so links and other spellings count), when it is a directory, or when it exists and
// cannot be written. `what` names the option for the message (e.g. "--csv").
void refuse_output_over_inputs(const std::string &output, const std::string &what,
                               const std::vector<std::string> &inputs);

// Throws output_error when `output` could not be written: no file can be created in the
// directory of the file it names, or a special file it names is not writable (the check a
// tool makes before its long work, so that a bad path fails at once).
void check_output_writable(const std::string &output, const std::string &what);

} // namespace nurbs_interp
