// What `filmo record` asks of the file system: the state of the corpus directory, and files
// written whole or not at all. filmo_files_posix.cpp is this platform's.
#ifndef FILMO_FILES_H
#define FILMO_FILES_H

#include <string>

namespace filmo_cli {

enum dir_state { dir_missing, dir_empty, dir_full, dir_not_dir, dir_unreadable };

// What is at path; problem gets the system's words when it cannot be told.
dir_state look_at_dir(const std::string &path, std::string &problem);
// Makes the directory (its parent must exist); false with the system's words in problem.
bool make_dir(const std::string &path, std::string &problem);
// Removes the directory when it is empty; nothing is said when it cannot.
void remove_empty_dir(const std::string &path);
// Writes bytes to dir/name whole or not at all: a temporary file in dir, flushed to the disk,
// then renamed over the name. False with the system's words in problem; no temporary file is
// left behind and an earlier dir/name stays as it was.
bool write_whole(const std::string &dir, const std::string &name, const std::string &bytes,
                 std::string &problem);

}  // namespace filmo_cli

#endif  // FILMO_FILES_H
