// The filmo command's file-system questions on Linux: stat for a directory, the kernel's
// /proc/self/exe link for the program's own path. Another platform puts its own file in place
// of this one.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "filmo_paths.h"

namespace filmo_cli {

bool is_dir(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string binary_dir(const char *argv0) {
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    std::string path;
    if (n > 0) {
        path.assign(buf.data(), static_cast<size_t>(n));
    } else if (argv0 && std::strchr(argv0, '/')) {
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(argv0, nullptr), &std::free);
        path = real ? real.get() : argv0;
    }
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace filmo_cli
