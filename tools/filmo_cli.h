// The filmo command's parts, each in a file of its own:
//   filmo_options.cpp  the command line (getopt_long) and the help text;
//   filmo_gather.cpp   what a view's accessors answer, as a yyjson document;
//   filmo_wcwidth.cpp  the characters of a text and their widths (the C library's wcwidth);
//   filmo_layout.cpp   texts fitted to terminal columns, and table primitives;
//   filmo_render.cpp   each view as tables, or the whole document as JSON (yyjson's writer);
//   filmo_paths_posix.cpp  the program's own directory, found from the system (filmo_paths.h);
//   filmo_errors.cpp   a plain reading of the error number in a transport failure text;
//   filmo_hostio.cpp   a host transport over the real one that keeps every answer as it came;
//   filmo_record.cpp   `filmo record`: a live server's answers written as a corpus;
//   filmo_check.cpp    `filmo check`: a live server held against what the client relies on;
//   filmo_files_posix.cpp  directories and whole-file writes for record (filmo_files.h);
//   filmo.cpp          main: the source of the views, the fetch, the output.
#ifndef FILMO_CLI_H
#define FILMO_CLI_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <yyjson.h>

namespace filmo_cli {

constexpr int exit_usage = 64;  // the command line itself was wrong (sysexits EX_USAGE)
constexpr int exit_output = 74;  // standard output could not be written (sysexits EX_IOERR)
// record and check: the server could not be asked (the transport failed), the corpus is
// incomplete or a rule does not hold, the corpus directory cannot be made or written.
constexpr int exit_unreachable = 1;
constexpr int exit_incomplete = 2;
constexpr int exit_cannot_write = 73;  // sysexits EX_CANTCREAT

// ---- command line -----------------------------------------------------------------------

enum command_t { cmd_none = 0, cmd_home = 1, cmd_collections = 2, cmd_person = 4, cmd_popular = 8 };
// What the command does: show one view (command above), or record or check a server.
enum task_t { task_view, task_record, task_check };

struct options {
    task_t task = task_view;
    command_t command = cmd_none;
    std::string command_name;
    std::string person_id;
    const char *language = nullptr;
    const char *user = nullptr;
    int32_t profile = 0;
    uint32_t home_flags = 0;
    bool has_known_hash = false;
    int64_t known_hash = 0;
    int32_t page = 1;
    int32_t page_size = 20;
    int32_t page_numbers = 1;
    const char *corpus = nullptr;
    const char *host = nullptr;
    bool has_mode = false;
    int32_t mode = 0;
    bool json = false;
    bool raw = false;
    bool help = false;
    bool version = false;
    // record and check
    const char *out_dir = nullptr;
    bool force = false;
    std::vector<std::string> people;  // --person, in the order given
    int32_t pages = 2;                // the server's popular pages; the next one is past the end
    int32_t timeout_s = 0;            // 0: the library's own time-outs
};

// Reads the command line into o; false with a message in problem when it is unusable.
bool parse_args(int argc, char **argv, options &o, std::string &problem);
extern const char usage_text[];

// ---- gathering ----------------------------------------------------------------------------

// Every accessor's answer for the view o names, built in doc (null when memory ran out).
yyjson_mut_val *gather(yyjson_mut_doc *doc, const options &o);

// ---- characters ---------------------------------------------------------------------------

// One character as it is shown: control characters as a blank, a malformed byte or an
// unprintable character as U+FFFD.
struct shown_char {
    std::string text;  // what is shown
    size_t bytes;      // bytes of the source it stands for
    size_t columns;    // terminal columns it takes: 0 for combining marks, 2 for wide ones
};

std::vector<shown_char> shown_chars(const std::string &s);

// ---- layout -------------------------------------------------------------------------------

// A text made fit for one table cell or line: control characters become blanks, a malformed
// byte or an unprintable character becomes U+FFFD, and at most `width` terminal columns are
// kept (the last one then "…"). *used gets the columns taken.
std::string fit(const std::string &s, size_t width, size_t *used);

// One answer as cell text: "-" for none, lists joined with ", ", records with blanks, nothing
// for a member that is not there.
std::string cell(yyjson_mut_val *v);

struct column {
    const char *key;
    const char *title;
    size_t max_width;
};

// One table: a title line, then a line per record of the list rows.
void print_table(yyjson_mut_val *rows, const std::vector<column> &cols, size_t indent = 2);
// Label and value on one line; a long value wraps under itself at blanks.
void print_line(const char *label, const std::string &value);
// Heading of a list: "\nTitle (count)".
void section(const char *title, size_t count);

// ---- error readings -----------------------------------------------------------------------

// A short plain reading ("cannot connect", "timed out") of the WinHTTP error number that ends a
// failure text ("... WinHttpSendRequest failed: 12029"); null when the text ends in no number
// of the table.
const char *error_reading(const char *message);
// "filmo: COMMAND: HOST: transport: TEXT" on standard error, with the reading of TEXT's number.
void print_transport_failure(const char *command, const char *host, const char *text);

// ---- rendering ----------------------------------------------------------------------------

// The view as readable tables; false when memory ran out.
bool show(yyjson_mut_doc *doc, yyjson_mut_val *view, const options &o);
// The view with the last call's status as one JSON object; false when memory ran out. A failed
// write to standard output shows in ferror(stdout).
bool print_json(yyjson_mut_doc *doc, yyjson_mut_val *view, const options &o);
// root as doc's JSON on standard output (pretty, one newline at the end); false when memory ran
// out. A failed write shows in ferror(stdout).
bool write_json(yyjson_mut_doc *doc, yyjson_mut_val *root);

// ---- record and check ---------------------------------------------------------------------

// `filmo record` and `filmo check`; each returns the command's exit status.
int record_corpus(const options &o);
int check_server(const options &o);

}  // namespace filmo_cli

#endif  // FILMO_CLI_H
