#include "io/input_file.hpp"

#include <cerrno>
#include <cstring> // strerror
#include <cstdint>
#include <filesystem>
#include <sys/stat.h> // the size of a regular file, known before reading it
#include <unistd.h>   // access

namespace nurbs_interp {

namespace {

std::string directory_text(const std::string &path, const std::string &what) {
    return path + ": is a directory, not a " + what;
}

std::string cannot_open_text(const std::string &path, const std::string &what, int err) {
    return path + ": cannot open the " + what + " (" + std::strerror(err) + ")";
}

} // namespace

std::string unreadable_input(const std::string &path, const std::string &what) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return cannot_open_text(path, what, errno);
    if (S_ISDIR(st.st_mode)) return directory_text(path, what);
    if (access(path.c_str(), R_OK) != 0) return cannot_open_text(path, what, errno);
    return "";
}

input_file open_input(const std::string &path, const std::string &what, std::string *error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        *error = directory_text(path, what);
        return nullptr;
    }
    input_file f(std::fopen(path.c_str(), "r"));
    if (!f) *error = cannot_open_text(path, what, errno);
    return f;
}

bool read_input_whole(const std::string &path, const std::string &what, std::size_t max_bytes,
                      std::string *content, std::string *error) {
    const input_file f = open_input(path, what, error);
    if (!f) return false;
    const std::string too_large = path + ": the " + what + " holds more than " +
                                  std::to_string(max_bytes) + " bytes, the most that is read";
    struct stat st {};
    if (fstat(fileno(f.get()), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uintmax_t>(st.st_size) > max_bytes) {
        *error = too_large;
        return false;
    }
    content->clear();
    char buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
        if (content->size() + n > max_bytes) {
            *error = too_large;
            return false;
        }
        content->append(buf, n);
    }
    if (std::ferror(f.get())) {
        *error = path + ": cannot read the " + what + " (" + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

} // namespace nurbs_interp
