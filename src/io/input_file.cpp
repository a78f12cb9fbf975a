#include "input_file.hpp"

#include <cerrno>
#include <cstring> // strerror
#include <filesystem>

namespace nurbs_interp {

std::string unreadable_input(const std::string &path, const std::string &what) {
    std::string error;
    open_input(path, what, &error);
    return error;
}

input_file open_input(const std::string &path, const std::string &what, std::string *error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        *error = path + ": is a directory, not a " + what;
        return nullptr;
    }
    input_file f(std::fopen(path.c_str(), "r"));
    if (!f) *error = path + ": cannot open the " + what + " (" + std::strerror(errno) + ")";
    return f;
}

} // namespace nurbs_interp
