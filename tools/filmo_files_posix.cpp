// The corpus directory on POSIX systems: stat and readdir to judge it, mkstemp, write, fsync and
// rename for whole files, and an fsync of the directory so that the rename itself lasts.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "filmo_files.h"

namespace filmo_cli {

namespace {

std::string system_words(int code) {
    return std::strerror(code);
}

bool write_all(int fd, const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

dir_state look_at_dir(const std::string &path, std::string &problem) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return dir_missing;
        problem = system_words(errno);
        return dir_unreadable;
    }
    if (!S_ISDIR(st.st_mode)) return dir_not_dir;
    DIR *d = ::opendir(path.c_str());
    if (!d) {
        problem = system_words(errno);
        return dir_unreadable;
    }
    dir_state state = dir_empty;
    while (struct dirent *e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            state = dir_full;
            break;
        }
    }
    ::closedir(d);
    return state;
}

bool make_dir(const std::string &path, std::string &problem) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    problem = system_words(errno);
    return false;
}

void remove_empty_dir(const std::string &path) {
    ::rmdir(path.c_str());
}

bool write_whole(const std::string &dir, const std::string &name, const std::string &bytes,
                 std::string &problem) {
    // The temporary name starts with a dot and never ends like a corpus file.
    std::string tmpl = dir + "/." + name + ".XXXXXX";
    std::vector<char> path(tmpl.begin(), tmpl.end());
    path.push_back('\0');
    int fd = ::mkstemp(path.data());
    if (fd < 0) {
        problem = system_words(errno);
        return false;
    }
    // mkstemp makes the file for its owner alone; a corpus file gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = ::fchmod(fd, 0666 & ~mask) == 0 && write_all(fd, bytes) && ::fsync(fd) == 0;
    int code = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok && ::rename(path.data(), (dir + "/" + name).c_str()) != 0) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        ::unlink(path.data());
        problem = system_words(code);
        return false;
    }
    // The rename lasts once the directory is on the disk too; a directory that cannot be
    // synced (some file systems refuse) still holds the whole file.
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

}  // namespace filmo_cli
