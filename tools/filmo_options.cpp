// The command line of the filmo command: getopt_long reads it (options may come before or after
// the command, "--" ends them), and each option is then checked against the command it was
// given with.
#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filmo.h"
#include "filmo_cli.h"

namespace filmo_cli {

const char usage_text[] =
    "usage: filmo [options] COMMAND [ID]\n"
    "       filmo record --host URL --out DIR [--user ID] [--person ID]... [--pages N]\n"
    "       filmo check --host URL [--user ID] [--person ID]... [--pages N]\n"
    "\n"
    "Shows one view of the movie and people catalogue through the filmo library, records a\n"
    "live server's answers as a corpus, or checks a live server against the client's needs.\n"
    "\n"
    "Commands:\n"
    "  home                the personalised home page (anonymous unless --user is given)\n"
    "  collections         the popular collections with their playlists\n"
    "  person ID           one person, by IMDb id (nm0000138) or numeric TMDb id (6193)\n"
    "  popular             one page of popular people\n"
    "  record              ask the server at --host for every view and write its answers into\n"
    "                      --out DIR under the fixture backend's file names\n"
    "  check               ask the server at --host for every view and show, rule by rule,\n"
    "                      whether its answers are what the client relies on\n"
    "\n"
    "Source (default: the bundled sample corpus, served by the fixture backend):\n"
    "  --corpus DIR        serve the views from the corpus directory DIR\n"
    "  --host URL          ask the live catalogue server at URL instead (https:// is\n"
    "                      assumed when URL has no scheme)\n"
    "  --fake-mode N       make the fixture backend fail every request in mode N:\n"
    "                      1 transport failure, 2 HTTP 500, 3 HTTP 404, 4 invalid JSON,\n"
    "                      5 empty body, 6 JSON null, 7 one-byte 0xFF answer (0: serve)\n"
    "\n"
    "Request:\n"
    "  --language TAG      language of the answer (default en-US)\n"
    "  --user ID           home: the signed-in user's id\n"
    "  --profile N         home: the user's profile id (default 0)\n"
    "  --update            home: bypass the cache, ask the server to update and mark read\n"
    "  --version1          home: ask for version 1 of the page instead of 2\n"
    "  --known-hash N      home: hash of the page already held; an unchanged page then\n"
    "                      exits with status 9 (--json shows a page's hash)\n"
    "  --page N            popular: page index, from 1 (default 1)\n"
    "  --page-size N       popular: page size 0..100000, checked but not sent (default 20)\n"
    "  --page-numbers N    popular: pages in one answer, 1..1000 (default 1)\n"
    "\n"
    "Record and check (--host, --user, --language apply as above; --json gives the table):\n"
    "  --out DIR           record: the corpus directory; made when missing, else it must be\n"
    "                      empty\n"
    "  --force             record: write into a DIR that is not empty, replacing its files\n"
    "  --person ID         a person to ask for; may be repeated (check: default the first\n"
    "                      person of popular page 1)\n"
    "  --pages N           the server's number of popular pages: page N+1 must answer 404\n"
    "                      (default 2)\n"
    "  --timeout SECONDS   give up on a server that does not connect or answer in time\n"
    "                      (default: the library's own time-outs)\n"
    "\n"
    "Output:\n"
    "  --json              print everything the view's accessors return as one JSON object\n"
    "  --raw               home: print the page's JSON text as the library retained it\n"
    "  -h, --help          show this help\n"
    "  --version           show the versions of the command and of the library\n"
    "\n"
    "Exit status: 0 on success. Otherwise the library's status code, with its last error\n"
    "on standard error:\n"
    "  1 transport failure or refused configuration   6 invalid argument\n"
    "  2 unaccepted HTTP status                       7 no transport installed\n"
    "  3 undecodable body                             8 out of memory\n"
    "  4 empty body or missing payload                9 home page unchanged\n"
    "  5 not found (HTTP 404)\n"
    "64 when the command line itself is wrong, and 74 when the output cannot be written.\n"
    "record and check: 0 when the corpus is complete or every rule holds; 1 when the server\n"
    "could not be asked (the transport's failure on standard error); 2 when some answer could\n"
    "not be stored or some rule does not hold (named in the table); 73 when DIR cannot be made\n"
    "or written (it is left without a partly written file); 8 when memory runs out.\n";

namespace {

constexpr unsigned cmd_views = cmd_home | cmd_collections | cmd_person | cmd_popular;
// The tasks in the same mask as the view commands, above them.
constexpr unsigned for_record = 16, for_check = 32;
constexpr unsigned cmd_any = cmd_views | for_record | for_check;

// Option values returned by getopt_long; above every short option character.
enum option_id {
    opt_json = 256, opt_raw, opt_help, opt_version, opt_update, opt_version1, opt_language,
    opt_user, opt_profile, opt_known_hash, opt_page, opt_page_size, opt_page_numbers, opt_corpus,
    opt_host, opt_fake_mode, opt_out, opt_force, opt_person, opt_pages, opt_timeout
};

const struct option long_options[] = {
    {"json", no_argument, nullptr, opt_json},
    {"raw", no_argument, nullptr, opt_raw},
    {"help", no_argument, nullptr, opt_help},
    {"version", no_argument, nullptr, opt_version},
    {"update", no_argument, nullptr, opt_update},
    {"version1", no_argument, nullptr, opt_version1},
    {"language", required_argument, nullptr, opt_language},
    {"user", required_argument, nullptr, opt_user},
    {"profile", required_argument, nullptr, opt_profile},
    {"known-hash", required_argument, nullptr, opt_known_hash},
    {"page", required_argument, nullptr, opt_page},
    {"page-size", required_argument, nullptr, opt_page_size},
    {"page-numbers", required_argument, nullptr, opt_page_numbers},
    {"corpus", required_argument, nullptr, opt_corpus},
    {"host", required_argument, nullptr, opt_host},
    {"fake-mode", required_argument, nullptr, opt_fake_mode},
    {"out", required_argument, nullptr, opt_out},
    {"force", no_argument, nullptr, opt_force},
    {"person", required_argument, nullptr, opt_person},
    {"pages", required_argument, nullptr, opt_pages},
    {"timeout", required_argument, nullptr, opt_timeout},
    {nullptr, 0, nullptr, 0},
};

// The commands an option means something to.
unsigned applies_to(int id) {
    switch (id) {
    case opt_raw: case opt_update: case opt_version1: case opt_profile: case opt_known_hash:
        return cmd_home;
    case opt_user:
        return cmd_home | for_record | for_check;
    case opt_page: case opt_page_size: case opt_page_numbers:
        return cmd_popular;
    case opt_corpus: case opt_fake_mode:
        return cmd_views;
    case opt_out: case opt_force:
        return for_record;
    case opt_person: case opt_pages: case opt_timeout:
        return for_record | for_check;
    default:
        return cmd_any;
    }
}

std::string option_name(int id) {
    if (id == 'h') return "-h";
    for (const struct option *o = long_options; o->name; ++o)
        if (o->val == id) return std::string("--") + o->name;
    return "?";
}

bool parse_int(const char *text, long long lo, long long hi, long long *out) {
    if (!text || !*text) return false;
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

// A whole number in lo..hi, or the problem worded for the option.
bool bounded(int id, const char *value, long long lo, long long hi, long long *n,
             std::string &problem) {
    if (parse_int(value, lo, hi, n)) return true;
    problem = option_name(id) + " needs a whole number in " + std::to_string(lo) + ".." +
              std::to_string(hi) + ", not '" + value + "'";
    return false;
}

// Numbers are passed on as given within their type: the library judges their range.
template <class T>
bool number(int id, const char *value, T *out, std::string &problem) {
    long long lo = sizeof(T) == 8 ? LLONG_MIN : INT32_MIN;
    long long hi = sizeof(T) == 8 ? LLONG_MAX : INT32_MAX;
    long long n = 0;
    if (!bounded(id, value, lo, hi, &n, problem)) return false;
    *out = static_cast<T>(n);
    return true;
}

// A count the command itself bounds.
bool within(int id, const char *value, long long lo, long long hi, int32_t *out,
            std::string &problem) {
    long long n = 0;
    if (!bounded(id, value, lo, hi, &n, problem)) return false;
    *out = static_cast<int32_t>(n);
    return true;
}

bool apply_option(options &o, int id, const char *value, std::string &problem) {
    switch (id) {
    case opt_json: o.json = true; return true;
    case opt_raw: o.raw = true; return true;
    case 'h': case opt_help: o.help = true; return true;
    case opt_version: o.version = true; return true;
    case opt_update: o.home_flags |= FILMO_HOME_UPDATE; return true;
    case opt_version1: o.home_flags |= FILMO_HOME_VERSION_1; return true;
    case opt_language: o.language = value; return true;
    case opt_user: o.user = value; return true;
    case opt_corpus: o.corpus = value; return true;
    case opt_host: o.host = value; return true;
    case opt_profile: return number(id, value, &o.profile, problem);
    case opt_known_hash:
        o.has_known_hash = true;
        return number(id, value, &o.known_hash, problem);
    case opt_page: return number(id, value, &o.page, problem);
    case opt_page_size: return number(id, value, &o.page_size, problem);
    case opt_page_numbers: return number(id, value, &o.page_numbers, problem);
    case opt_fake_mode:
        o.has_mode = true;
        return number(id, value, &o.mode, problem);
    case opt_out: o.out_dir = value; return true;
    case opt_force: o.force = true; return true;
    case opt_person: o.people.emplace_back(value); return true;
    case opt_pages: return within(id, value, 1, INT32_MAX - 1, &o.pages, problem);
    case opt_timeout: return within(id, value, 1, 86400, &o.timeout_s, problem);
    default: return false;
    }
}

// What getopt_long refused: a value missing or given where none is taken, an unknown option,
// or a shortened long option that fits several.
std::string refusal(int c, const char *arg) {
    if (c == ':') return option_name(optopt) + " needs a value";
    if (optopt >= opt_json) return option_name(optopt) + " takes no value";
    if (optopt != 0) return std::string("unknown option '-") + static_cast<char>(optopt) + "'";
    std::string given = arg ? arg : "";
    given = given.substr(0, given.find('='));
    if (given.compare(0, 2, "--") != 0 || given.size() == 2) return "unknown option '" + given + "'";
    const std::string name = given.substr(2);
    int fits = 0;
    for (const struct option *o = long_options; o->name; ++o)
        if (std::strncmp(o->name, name.c_str(), name.size()) == 0) ++fits;
    return fits > 1 ? "option '" + given + "' is ambiguous" : "unknown option '" + given + "'";
}

command_t command_named(const std::string &word) {
    if (word == "home") return cmd_home;
    if (word == "collections") return cmd_collections;
    if (word == "person") return cmd_person;
    if (word == "popular") return cmd_popular;
    return cmd_none;
}

// The command line of record and check, once the options are read.
bool task_args(options &o, const std::vector<std::string> &operands, unsigned used_by,
               const std::string &last_limited, std::string &problem) {
    const bool record = o.command_name == "record";
    o.task = record ? task_record : task_check;
    if (operands.size() > 1) {
        problem = "unexpected argument '" + operands[1] + "'";
        return false;
    }
    if (!(used_by & (record ? for_record : for_check))) {
        problem = last_limited + " does not apply to " + o.command_name;
        return false;
    }
    if (!o.host) {
        problem = o.command_name + " needs --host URL";
        return false;
    }
    if (record && (!o.out_dir || !*o.out_dir)) {
        problem = "record needs --out DIR";
        return false;
    }
    return true;
}

}  // namespace

bool parse_args(int argc, char **argv, options &o, std::string &problem) {
    unsigned used_by = cmd_any;         // commands every option given applies to
    std::string last_limited;           // the last option that applies to some commands only
    std::vector<std::string> operands;  // the command and its ID, wherever they stand
    opterr = 0;                         // the refusals are worded here
    optind = 0;                         // a full start, also when called again
    for (;;) {
        // "-" first: each operand comes back in turn as code 1, so options may follow the
        // command even where POSIXLY_CORRECT would have the first operand end them.
        int c = getopt_long(argc, argv, "-:h", long_options, nullptr);
        if (c == -1) break;
        if (c == 1) {
            operands.emplace_back(optarg);
            continue;
        }
        if (c == ':' || c == '?') {
            problem = refusal(c, optind > 0 && optind <= argc ? argv[optind - 1] : nullptr);
            return false;
        }
        if (!apply_option(o, c, optarg, problem)) return false;
        if (applies_to(c) != cmd_any) {
            used_by &= applies_to(c);
            last_limited = option_name(c);
        }
    }
    for (int i = optind; i < argc; ++i) operands.emplace_back(argv[i]);  // those after "--"
    if (o.help || o.version) return true;
    if (operands.empty()) {
        problem = "no command given";
        return false;
    }
    o.command_name = operands[0];
    if (o.command_name == "record" || o.command_name == "check")
        return task_args(o, operands, used_by, last_limited, problem);
    o.command = command_named(o.command_name);
    if (o.command == cmd_none) {
        problem = "unknown command '" + o.command_name + "'";
        return false;
    }
    size_t want = o.command == cmd_person ? 2 : 1;
    if (operands.size() < want) {
        problem = "person needs an ID (nm0000138 or 6193)";
        return false;
    }
    if (operands.size() > want) {
        problem = "unexpected argument '" + operands[want] + "'";
        return false;
    }
    if (o.command == cmd_person) o.person_id = operands[1];
    if (!(used_by & o.command)) {
        problem = last_limited + " does not apply to " + o.command_name;
        return false;
    }
    if (o.host && (o.corpus || o.has_mode)) {
        problem = "--host asks a live server; --corpus and --fake-mode belong to the fixture backend";
        return false;
    }
    return true;
}

}  // namespace filmo_cli
