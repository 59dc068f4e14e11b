// What the filmo command asks of the file system to find its bundled corpus; each platform
// brings its own file for these (filmo_paths_posix.cpp here).
#ifndef FILMO_PATHS_H
#define FILMO_PATHS_H

#include <string>

namespace filmo_cli {

// Whether path names a directory.
bool is_dir(const std::string &path);
// Directory of this program, from the system's record of it or else from argv0 (may be null);
// "." when neither tells.
std::string binary_dir(const char *argv0);

}  // namespace filmo_cli

#endif  // FILMO_PATHS_H
