// Running a command from a test (the built filmo command, the Python helpers) and reading what
// it printed. POSIX shells only: the tests that start processes run on POSIX hosts.
#ifndef FILMO_TEST_COMMAND_RUN_H
#define FILMO_TEST_COMMAND_RUN_H

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace filmo_test {

struct Outcome {
    int code = -1;  // the exit status; -1 when the command did not exit by itself
    std::string out;
    std::string err;
};

// arg as one word for the shell, whatever it holds.
inline std::string quote(const std::string &arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The shell line that runs binary with args, each quoted.
inline std::string command_line(const std::string &binary, const std::vector<std::string> &args) {
    std::string cmd = quote(binary);
    for (const std::string &a : args) cmd += " " + quote(a);
    return cmd;
}

// Runs cmd through the shell with no input; what it prints passes through files in dir.
inline Outcome run_shell(const std::string &cmd, const std::string &dir) {
    const std::string out = dir + "/out", err = dir + "/err";
    const std::string line = cmd + " >" + quote(out) + " 2>" + quote(err) + " </dev/null";
    int st = std::system(line.c_str());
    Outcome r;
    r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

}  // namespace filmo_test

#endif  // FILMO_TEST_COMMAND_RUN_H
