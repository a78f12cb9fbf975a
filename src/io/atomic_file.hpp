// Output files that appear whole or not at all: written under a unique temporary name in the
// output's own directory and renamed over the output only when complete. A run that fails, is
// killed by SIGINT or SIGTERM, or throws leaves an existing output as it was and no temporary
// file behind. Also the checks a tool runs before long work: an output that is one of its
// inputs, or that cannot be written, is refused up front.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace nurbs_interp {

// An output that cannot be prepared, written or put in place; the message names the path.
struct output_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An output being written. The temporary file is created by the constructor and removed by
// the destructor unless commit() renamed it into place. Not copyable.
class atomic_file {
  public:
    // Creates "<dir>/.<name>.tmp-XXXXXX" next to `path`; throws output_error when it cannot.
    explicit atomic_file(const std::string &path);
    ~atomic_file();
    atomic_file(const atomic_file &) = delete;
    atomic_file &operator=(const atomic_file &) = delete;

    // The stream to write the content to (open until commit).
    std::FILE *stream() { return file_; }
    const std::string &path() const { return path_; }
    const std::string &temp_path() const { return temp_; }

    // Flushes and closes the stream, gives the file the usual permissions (0666 less the
    // umask) and renames it over the output. Throws output_error (and removes the temporary
    // file) when a write failed or the rename does not succeed.
    void commit();

  private:
    std::string path_;
    std::string temp_;
    std::FILE *file_ = nullptr;
    int slot_ = -1; // place in the registry the signal handler cleans up
};

// Writes `path` whole through an atomic_file: `write` fills the stream; throws output_error.
template <class Write> void write_file_atomically(const std::string &path, Write write) {
    atomic_file out(path);
    write(out.stream());
    out.commit();
}

// Removes every uncommitted temporary file on SIGINT and SIGTERM, then dies of the signal as
// it would have. Called once by each program that writes outputs.
void remove_temporaries_on_signal();

// Throws output_error when `output` is the same file as one of `inputs` (same device and
// inode, so links and other spellings count), when it is a directory, or when it exists and
// cannot be written. `what` names the option for the message (e.g. "--csv").
void refuse_output_over_inputs(const std::string &output, const std::string &what,
                               const std::vector<std::string> &inputs);

// Throws output_error when no file can be created in the directory of `output` (the check a
// tool makes before its long work, so that a bad path fails at once).
void check_output_writable(const std::string &output, const std::string &what);

} // namespace nurbs_interp
