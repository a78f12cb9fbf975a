// Opening an input file for a tool: a directory or a file that does not open is named with the
// reason, in the same words for every kind of input.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace nurbs_interp {

// Closes the file when it goes.
struct file_closer {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using input_file = std::unique_ptr<std::FILE, file_closer>;

// Returns why `path` cannot be read as a `what` (e.g. "feed profile"), "" when it can:
// "<path>: is a directory, not a <what>" or "<path>: cannot open the <what> (<reason>)". The
// file is not opened (a FIFO keeps its content for the reader that opens it), so a file that
// exists and whose permissions allow reading passes.
std::string unreadable_input(const std::string &path, const std::string &what);

// Opens `path` for reading; on failure returns null and sets *error as unreadable_input does.
input_file open_input(const std::string &path, const std::string &what, std::string *error);

// Reads the whole of `path` into `*content`, opening it once (so that a pipe or a FIFO gives
// its content once and whole), if it holds at most `max_bytes` bytes. On failure returns false
// and sets *error: as unreadable_input does, "<path>: the <what> holds more than <max_bytes>
// bytes, the most that is read" (a regular file refused by its size before it is read), or
// "<path>: cannot read the <what> (<reason>)".
bool read_input_whole(const std::string &path, const std::string &what, std::size_t max_bytes,
                      std::string *content, std::string *error);

} // namespace nurbs_interp
