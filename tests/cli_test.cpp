// The filmo command as a user runs it: the built binary over the bundled corpus, each command in
// tables and as JSON (checked by Python's JSON reader), its exit codes, and one run against a
// server on 127.0.0.1 that the test starts itself.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "command_run.h"
#include "loopback_server.h"

namespace {

namespace stdfs = std::filesystem;
using filmo_test::Outcome;
using filmo_test::quote;
using filmo_test::slurp;

const std::string kBinary = FILMO_BINARY_DIR "/tools/filmo";
const std::string kUser = "5f3c9a2e-8b41-4d7a-9c06-1e2f7a4b8d90";

std::string joined(const std::vector<std::string> &args) {
    std::string text;
    for (const std::string &a : args) text += (text.empty() ? "" : " ") + a;
    return text;
}

struct Failing {
    std::vector<std::string> args;
    int code;
    std::string message;  // a part of standard error
};

class Cli : public ::testing::Test {
protected:
    // A failed run prints nothing on standard output; a command-line mistake also points at
    // the help.
    void expect_failure(const Failing &c) {
        SCOPED_TRACE(joined(c.args));
        Outcome r = filmo(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        if (c.code == 64) {
            EXPECT_NE(r.err.find("Try 'filmo --help'."), std::string::npos);
        }
    }


    void SetUp() override {
        if (!stdfs::exists(kBinary)) GTEST_SKIP() << "the filmo command is not built";
        char tmpl[] = "/tmp/filmo-cli-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        tmp_ = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        if (!tmp_.empty()) stdfs::remove_all(tmp_, ec);
    }

    Outcome filmo(const std::vector<std::string> &args) {
        return shell(filmo_test::command_line(kBinary, args));
    }

    Outcome shell(const std::string &cmd) { return filmo_test::run_shell(cmd, tmp_); }

    // Reads the JSON of a run with Python and returns the value at the path, as JSON text.
    std::string json_at(const std::string &json, const std::vector<std::string> &path) {
        const std::string file = tmp_ + "/dump.json";
        std::ofstream(file, std::ios::binary) << json;
        std::string cmd = quote(FILMO_PYTHON) + " -c " +
                          quote("import json, sys\n"
                                "d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
                                "for k in sys.argv[2:]:\n"
                                "    d = d[int(k)] if isinstance(d, list) else d[k]\n"
                                "sys.stdout.write(json.dumps(d, ensure_ascii=False))\n") +
                          " " + quote(file);
        for (const std::string &k : path) cmd += " " + quote(k);
        Outcome r = shell(cmd);
        EXPECT_EQ(r.code, 0) << r.err;
        return r.out;
    }

    std::string tmp_;
};

struct Shown {
    std::vector<std::string> args;
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

TEST_F(Cli, ShowsEachViewAsTables) {
    const Shown cases[] = {
        {{"collections"},
         {"Collections (6)", "Directors' Cuts", "Christopher Nolan", "tt0209144", "(automatic)"},
         {}},
        {{"person", "nm0000138"},
         {"Leonardo DiCaprio", "Los Angeles, California, USA", "48.213", "male",
          "Леонардо Ди Каприо", "Pictures (4)", "tt1375666"},
         {}},
        {{"person", "6193", "--language", "en-US"}, {"Leonardo DiCaprio", "48.213"}, {}},
        {{"popular"},
         {"Popular people, page 1 (20)", "Leonardo DiCaprio", "Saoirse Ronan"},
         {"Michelle Yeoh"}},
        {{"popular", "--page", "2"}, {"page 2 (20)", "Michelle Yeoh", "Chloé Zhao"}, {"Saoirse"}},
        {{"popular", "--page-numbers=2"}, {"(40)", "Leonardo DiCaprio", "Chloé Zhao"}, {}},
        {{"popular", "--page-num", "2"}, {"(40)"}, {}},
        {{"home"},
         {"Titles (37)", "The Shawshank Redemption", "Spirited Away",
          "Christopher Nolan: time, memory and heists", "Continue watching (0)"},
         {"Account"}},
        {{"home", "--user", kUser, "--version1"},
         {"Continue watching (5)", "mara.lindqvist@example.com", "Premium", "Profiles (4)",
          "Interstellar.2014.2160p.UHD.HEVC.mkv"},
         {}},
    };
    for (const Shown &c : cases) {
        SCOPED_TRACE(joined(c.args));
        Outcome r = filmo(c.args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        for (const std::string &s : c.present) EXPECT_NE(r.out.find(s), std::string::npos) << s;
        for (const std::string &s : c.absent) EXPECT_EQ(r.out.find(s), std::string::npos) << s;
    }
}

struct Dumped {
    std::vector<std::string> args;
    std::vector<std::string> path;
    std::string value;  // as JSON text
};

TEST_F(Cli, JsonDumpHoldsWhatTheAccessorsReturn) {
    const Dumped cases[] = {
        {{"collections"}, {"collections", "0", "name"}, R"("Directors' Cuts")"},
        {{"collections"}, {"collections", "2", "is_auto"}, "true"},
        {{"collections"},
         {"collections", "0", "playlists", "0", "imdb_ids", "5"},
         R"("tt15398776")"},
        {{"collections"}, {"collections", "0", "playlists", "0", "origin_country"}, R"("GB")"},
        {{"collections"}, {"fixture", "last_url"},
         R"("https://catalogue.filmo.example/api/AAA/GetCollectionPopular?language=en-US")"},
        {{"person", "nm0000138"}, {"person", "popularity_permille"}, "48213"},
        {{"person", "nm0000138"}, {"person", "translated_names", "1"}, R"("Леонардо Ди Каприо")"},
        {{"person", "nm0000138"}, {"person", "pictures", "1", "language"}, "null"},
        {{"person", "nm0000138"}, {"person", "pictures", "2", "width"}, "1400"},
        {{"person", "nm0000138"}, {"person", "deathday"}, "null"},
        {{"person", "6193"}, {"person", "related_imdb_ids", "6"}, R"("nm0000217")"},
        {{"popular", "--page-numbers", "2"}, {"popular", "39", "name"}, R"("Chloé Zhao")"},
        {{"popular"}, {"popular", "0", "imdb_id"}, R"("nm0000138")"},
        {{"home"}, {"home", "basics", "9", "genres", "2"}, R"("Fantasy")"},
        {{"home"}, {"home", "basics", "0", "ratings", "0"}, R"({"source": "IMDb", "value": 9.3})"},
        {{"home"}, {"home", "user", "has_user_info"}, "false"},
        {{"home"}, {"http_code"}, "200"},
        {{"home", "--user", kUser}, {"home", "user", "email"}, R"("mara.lindqvist@example.com")"},
        {{"home", "--user", kUser}, {"home", "user", "profiles", "3", "poster_url"}, "null"},
        {{"home", "--user", kUser}, {"home", "level30s", "1", "size"}, "4939212390"},
        {{"home", "--user", kUser}, {"home", "continues", "3", "value"}, "1731.5"},
        {{"home", "--user", kUser}, {"home", "continues", "0", "size_text"}, R"("1.37 GB")"},
        {{"home", "--user", kUser}, {"home", "lists", "0", "id"}, R"("trending")"},
    };
    for (const Dumped &c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        SCOPED_TRACE(joined(args));
        Outcome r = filmo(args);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(json_at(r.out, c.path), c.value);
    }
}

TEST_F(Cli, TextsWithQuotesAndControlCharactersStayValidJson) {
    // A corpus of our own, with texts that need escaping.
    const std::string dir = tmp_ + "/corpus";
    stdfs::create_directory(dir);
    std::ofstream(dir + "/people-detail.nm1.json", std::ios::binary)
        << R"({"Name":"Quote \" back\\slash\ttab\u0001 \ud83c\udfac","Biography":"line\nbreak"})";
    Outcome r = filmo({"--corpus", dir, "person", "nm1", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(json_at(r.out, {"person", "name"}),
              "\"Quote \\\" back\\\\slash\\ttab\\u0001 \xF0\x9F\x8E\xAC\"");
    EXPECT_EQ(json_at(r.out, {"person", "biography"}), R"("line\nbreak")");
}

TEST_F(Cli, RawPrintsTheRetainedPageText) {
    Outcome r = filmo({"home", "--raw"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, slurp(FILMO_SOURCE_DIR "/data/homepage.anonymous-profile0.json") + "\n");
}

TEST_F(Cli, KnownHashMakesAnUnchangedPageExitWithNine) {
    Outcome page = filmo({"home", "--json"});
    ASSERT_EQ(page.code, 0) << page.err;
    const std::string hash = json_at(page.out, {"home", "hash"});
    EXPECT_EQ(json_at(page.out, {"content_hash"}), hash);
    EXPECT_EQ(json_at(page.out, {"home", "content_hash"}), hash);  // the exchange's, in the view

    Outcome same = filmo({"home", "--known-hash", hash});
    EXPECT_EQ(same.code, 9);
    EXPECT_EQ(same.out, "");
    EXPECT_EQ(same.err, "filmo: server: homepage unchanged (1-byte 0xFF)\n");
    EXPECT_EQ(filmo({"home", "--known-hash", hash + "1"}).code, 0);
}

TEST_F(Cli, FailuresExitWithTheLibraryStatus) {
    const Failing cases[] = {
        {{"--fake-mode", "1", "collections"}, 1,
         "filmo: transport: transport: fake: injected transport failure\n"},
        {{"--fake-mode", "2", "person", "nm0000138"}, 2, "filmo: HTTP 500\n"},
        {{"--fake-mode", "3", "popular"}, 5, "people popular: HTTP 404 (dead page)"},
        {{"--fake-mode", "4", "person", "nm0000138", "--json"}, 3, "people detail: invalid JSON"},
        {{"--fake-mode", "5", "collections"}, 4, "empty body"},
        {{"--fake-mode", "6", "popular"}, 3, "people popular: root is not an array"},
        {{"--fake-mode", "7", "home"}, 9, "server: homepage unchanged (1-byte 0xFF)"},
        {{"--fake-mode", "8", "home"}, 1, "filmo: fake mode 0..7\n"},
        {{"person", "nm9999999"}, 5, "no such person (HTTP 404)"},
        {{"person", "12a"}, 6, "id must be an nmID"},
        {{"popular", "--page", "0"}, 6, "pageIndex must be >= 1"},
        {{"popular", "--page-numbers", "1001"}, 6, "pageNumbers out of range (1..1000)"},
        {{"popular", "--page-size", "-1"}, 6, "pageSize out of range"},
        {{"home", "--user", "u", "--profile", "-1"}, 6, "profileId must be >= 0"},
        {{"--corpus", "/nonexistent/corpus", "collections"}, 1,
         "transport: transport: fake: collections fixture missing"},
    };
    for (const Failing &c : cases) expect_failure(c);
}

// Output that cannot be written is told apart from a lack of memory, in both renderings.
TEST_F(Cli, UnwritableOutputExitsWith74) {
    if (!stdfs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"home"}, {"home", "--json"}, {"collections"}, {"--help"}}) {
        SCOPED_TRACE(joined(args));
        std::string cmd = quote(kBinary);
        for (const std::string &a : args) cmd += " " + quote(a);
        const std::string err = tmp_ + "/err";
        int st = std::system((cmd + " >/dev/full 2>" + quote(err) + " </dev/null").c_str());
        ASSERT_TRUE(WIFEXITED(st));
        EXPECT_EQ(WEXITSTATUS(st), 74);
        EXPECT_EQ(slurp(err), "filmo: cannot write output\n");
    }
}

TEST_F(Cli, CommandLineMistakesExitWith64) {
    const Failing cases[] = {
        {{}, 64, "no command given"},
        {{"films"}, 64, "unknown command 'films'"},
        {{"person"}, 64, "person needs an ID"},
        {{"collections", "extra"}, 64, "unexpected argument 'extra'"},
        {{"--colour", "home"}, 64, "unknown option '--colour'"},
        {{"-x", "home"}, 64, "unknown option '-x'"},
        {{"popular", "--page"}, 64, "--page needs a value"},
        {{"popular", "--page", "two"}, 64, "--page needs a whole number"},
        {{"popular", "--page", "99999999999"}, 64, "--page needs a whole number"},
        {{"home", "--json=yes"}, 64, "--json takes no value"},
        {{"home", "--page", "2"}, 64, "--page does not apply to home"},
        {{"person", "nm1", "--user", "u"}, 64, "--user does not apply to person"},
        {{"--host", "catalogue.test", "--fake-mode", "1", "home"}, 64, "--host asks a live server"},
        {{"--pag", "2", "popular"}, 64, "option '--pag' is ambiguous"},
        {{"popular", "--", "--page", "2"}, 64, "unexpected argument '--page'"},
    };
    for (const Failing &c : cases) expect_failure(c);
}

// Options may follow the command and its ID, also where POSIXLY_CORRECT asks getopt to stop at
// the first operand.
TEST_F(Cli, OptionsAfterTheCommandAlsoUnderPosixlyCorrect) {
    const std::string person = joined({quote(kBinary), "person", "nm0000138", "--json"});
    for (const std::string &env : {std::string(), std::string("POSIXLY_CORRECT=1 ")}) {
        SCOPED_TRACE(env);
        Outcome r = shell(env + person);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(json_at(r.out, {"command"}), "\"person\"");
        Outcome wrong = shell(env + joined({quote(kBinary), "popular", "extra", "--page", "2"}));
        EXPECT_EQ(wrong.code, 64);
        EXPECT_NE(wrong.err.find("unexpected argument 'extra'"), std::string::npos) << wrong.err;
    }
}

TEST_F(Cli, HelpDocumentsEveryCommandAndOption) {
    Outcome r = filmo({"--help"});
    EXPECT_EQ(r.code, 0);
    for (const char *word :
         {"home", "collections", "person ID", "popular", "--corpus DIR", "--host URL",
          "--fake-mode N", "--language TAG", "--user ID", "--profile N", "--update", "--version1",
          "--known-hash N", "--page N", "--page-size N", "--page-numbers N", "--json", "--raw",
          "Exit status", "library version 1.0.0"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    EXPECT_EQ(filmo({"-h"}).out, r.out);
}

TEST_F(Cli, VersionNamesTheCommandAndTheLibrary) {
    Outcome r = filmo({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "filmo 1.0.0 (library 1.0.0)\n");
    EXPECT_EQ(r.err, "");
}

// Every option and command the help names is documented in the manual page too.
TEST_F(Cli, ManPageDocumentsWhatTheHelpOffers) {
    std::string page = slurp(FILMO_SOURCE_DIR "/tools/filmo.1");
    ASSERT_FALSE(page.empty());
    for (size_t at = 0; (at = page.find("\\-", at)) != std::string::npos;) page.replace(at, 2, "-");
    std::string help = filmo({"--help"}).out;
    std::vector<std::string> words = {".B home", ".B collections", ".BI person", ".B popular"};
    for (size_t at = 0; (at = help.find("--", at)) != std::string::npos;) {
        size_t end = help.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-", at + 2);
        words.push_back(help.substr(at, end - at));
        at = end;
    }
    ASSERT_GT(words.size(), 15u);
    for (const std::string &w : words) EXPECT_NE(page.find(w), std::string::npos) << w;
}

struct Fitted {
    std::string name;   // the person's name in the corpus, as JSON text
    std::string shown;  // the first line of the person's table rendering
};

// The person's name heads its rendering, fitted to 78 terminal columns: wide characters take
// two, combining marks none, controls become blanks and unprintable characters U+FFFD.
TEST_F(Cli, TextsAreFittedToTerminalColumns) {
    auto times = [](const std::string &s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    const std::string cjk = "\xE4\xB8\xAD", acute_e = "e\xCC\x81", clapper = "\xF0\x9F\x8E\xAC";
    const std::string more = "\xE2\x80\xA6", bad = "\xEF\xBF\xBD";
    const Fitted cases[] = {
        {times(cjk, 39), times(cjk, 39)},               // exactly 78 columns
        {times(cjk, 50), times(cjk, 38) + more},        // 76 columns and the ellipsis
        {times(acute_e, 100), times(acute_e, 77) + more},
        {times(clapper, 3) + " take", times(clapper, 3) + " take"},
        {times("x", 77) + cjk, times("x", 77) + more},  // the wide one does not fit
        {"A\\tB\\u0085C\\u0378D", "A B" + bad + "C" + bad + "D"},
    };
    const std::string dir = tmp_ + "/corpus";
    stdfs::create_directory(dir);
    for (const Fitted &c : cases) {
        SCOPED_TRACE(c.shown);
        std::ofstream(dir + "/people-detail.nm1.json", std::ios::binary)
            << "{\"Name\":\"" << c.name << "\"}";
        Outcome r = filmo({"--corpus", dir, "person", "nm1"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.shown);
    }
}

// A one-shot HTTP server on 127.0.0.1: answers the first request with a canned body and keeps the
// request it received.
class OneShotServer {
public:
    explicit OneShotServer(std::string body) : body_(std::move(body)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
            ::listen(fd_, 1) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
            return;
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~OneShotServer() {
        stop();
        if (fd_ >= 0) ::close(fd_);
    }
    int port() const { return port_; }
    // The request received, once the server thread has ended (it is stopped here if no
    // request came): only then is request_ no longer written.
    const std::string &request() {
        stop();
        return request_;
    }

private:
    void stop() {
        if (thread_.joinable()) {
            ::shutdown(fd_, SHUT_RDWR);  // wakes an accept still waiting
            thread_.join();
        }
    }

    void serve() {
        int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        char buf[4096];
        while (request_.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0) break;
            request_.append(buf, static_cast<size_t>(n));
        }
        std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                             std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_;
        ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
        ::close(c);
    }

    std::string body_;
    std::string request_;
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

TEST_F(Cli, HostAsksThatServerThroughTheRealTransport) {
    OneShotServer server(R"([{"Id":42,"Name":"Live collection","IsAuto":true}])");
    ASSERT_NE(server.port(), 0);
    Outcome r = filmo({"--host", "http://127.0.0.1:" + std::to_string(server.port()), "collections",
                   "--language", "sv-SE", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(json_at(r.out, {"collections", "0", "name"}), R"("Live collection")");
    EXPECT_EQ(r.out.find("\"fixture\""), std::string::npos);
    EXPECT_EQ(server.request().rfind("GET /api/AAA/GetCollectionPopular?language=sv-SE HTTP/1.1\r\n", 0),
              0u)
        << server.request();
}

// A transport failure shows the library's text as it is, then what its number means; a failure
// without a number shows the text alone.
TEST_F(Cli, TransportFailureNumbersAreReadOut) {
    filmo_test::LoopbackServer closing([](filmo_test::Conn &c) {
        filmo_test::HttpRequest r;
        c.read_request(r);  // and close without a word
    });
    const std::string refused = "http://127.0.0.1:" + std::to_string(filmo_test::unused_port());
    const Failing cases[] = {
        {{"--host", refused, "collections"}, 1,
         "filmo: transport: transport: WinHttpSendRequest failed: 12029 (cannot connect)\n"},
        {{"--host", closing.url(""), "person", "nm0000138"}, 1,
         "filmo: transport: transport: WinHttpReceiveResponse failed: 12152 "
         "(not a valid HTTP answer)\n"},
        {{"--fake-mode", "1", "popular"}, 1,
         "filmo: transport: transport: fake: injected transport failure\n"},
    };
    for (const Failing &c : cases) {
        SCOPED_TRACE(joined(c.args));
        Outcome r = filmo(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.message);
    }
}

}  // namespace
