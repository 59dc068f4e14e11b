// filmo record and filmo check as a user runs them, against scripts/catalogue_server.py on
// 127.0.0.1 over the bundled corpus: a recorded corpus served by the fixture backend shows every
// view as the server does; check passes on the server as it is and names the broken rule when
// the server is started with a fault; unreachable and stalling servers, and corpus directories
// that cannot be written, end with one clear message and a documented exit status.
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "catalogue_server.h"
#include "command_run.h"
#include "loopback_server.h"

namespace {

namespace stdfs = std::filesystem;
using filmo_test::Outcome;
using filmo_test::quote;
using filmo_test::slurp;
using filmo_test::CatalogueServer;
using filmo_test::ScratchDir;

const std::string kBinary = FILMO_BINARY_DIR "/tools/filmo";
const std::string kCorpus = FILMO_BINARY_DIR "/corpus";
const std::string kUser = "5f3c9a2e-8b41-4d7a-9c06-1e2f7a4b8d90";

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

std::set<std::string> names_in(const std::string &dir) {
    std::set<std::string> names;
    for (const auto &e : stdfs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// Reads JSON with Python: prints the rules of a check report that fail, one per line, or says
// whether two view dumps agree once the members only one of them has (the fixture's counters)
// are set aside.
const char kJsonTool[] = R"(import json, sys
def load(path):
    with open(path, encoding='utf-8') as f:
        return json.load(f)
if sys.argv[1] == 'failing':
    for r in load(sys.argv[2])['rules']:
        if not r['pass']:
            print(r['rule'])
elif sys.argv[1] == 'same':
    a, b = load(sys.argv[2]), load(sys.argv[3])
    common = set(a) & set(b)
    a = {k: v for k, v in a.items() if k in common}
    b = {k: v for k, v in b.items() if k in common}
    print('same' if a == b and len(common) > 1 else 'differ:\n%s\n%s' % (a, b))
elif sys.argv[1] == 'stored':
    for f in load(sys.argv[2])['files']:
        print('%s %s %d' % (f['file'], 'stored' if f['stored'] else 'refused', f['status']))
)";

class RecordCheck : public ::testing::Test {
protected:
    void SetUp() override {
        if (!stdfs::exists(kBinary)) GTEST_SKIP() << "the filmo command is not built";
        if (!stdfs::exists(kCorpus + "/homepage.anonymous-profile0.zlib"))
            GTEST_SKIP() << "the bundled corpus is not built";
        tmp_.write("json_tool.py", kJsonTool);
    }

    // The catalogue server over the bundled corpus, with faults if any.
    std::string serve(const std::vector<std::string> &faults = {}) {
        std::vector<std::string> extra;
        for (const std::string &f : faults) extra.insert(extra.end(), {"--fault", f});
        servers_.push_back(std::make_unique<CatalogueServer>(kCorpus, "", extra));
        EXPECT_TRUE(servers_.back()->started()) << servers_.back()->startup_line();
        return servers_.back()->base();
    }

    Outcome filmo(const std::vector<std::string> &args) {
        return shell(filmo_test::command_line(kBinary, args));
    }

    Outcome shell(const std::string &cmd) { return filmo_test::run_shell(cmd, tmp_.path()); }

    std::string json_tool(const std::string &what, const std::vector<std::string> &texts) {
        std::string cmd = quote(FILMO_PYTHON) + " " + quote(tmp_.path() + "/json_tool.py") + " " +
                          what;
        for (size_t i = 0; i < texts.size(); ++i) {
            const std::string file = "doc" + std::to_string(i) + ".json";
            tmp_.write(file, texts[i]);
            cmd += " " + quote(tmp_.path() + "/" + file);
        }
        Outcome r = shell(cmd);
        EXPECT_EQ(r.code, 0) << r.err;
        return r.out;
    }

    std::set<std::string> failing_rules(const std::string &report) {
        std::set<std::string> rules;
        std::string text = json_tool("failing", {report});
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
            rules.insert(text.substr(at, end - at));
        return rules;
    }

    std::string dir(const std::string &name) const { return tmp_.path() + "/" + name; }

    ScratchDir tmp_;
    std::vector<std::unique_ptr<CatalogueServer>> servers_;
};

// Every view, as the server shows it and as the recorded corpus shows it offline: the same
// accessor answers, the same exit status, the same error line.
TEST_F(RecordCheck, RecordedCorpusShowsTheViewsAsTheServerDoes) {
    const std::string host = serve();
    const std::string out = dir("recorded");
    Outcome rec = filmo({"record", "--host", host, "--out", out, "--user", kUser, "--person",
                         "nm0000138", "--person", "6193"});
    ASSERT_EQ(rec.code, 0) << rec.out << rec.err;
    EXPECT_EQ(rec.err, "");

    // The very bytes the server sent, under the fixture backend's names, and nothing else.
    const std::set<std::string> expected = {
        "homepage.anonymous-profile0.zlib", "homepage.auth-profile0.zlib",
        "collections.en-US.json", "people-detail.nm0000138.json", "people-detail.6193.json",
        "people-detail.404.json", "people-popular.p1-pascal.json",
        "people-popular.p2-pascal.json", "people-popular.pn2-camel.json",
        "people-popular.404.json"};
    EXPECT_EQ(names_in(out), expected);
    for (const std::string &name : expected) {
        EXPECT_EQ(slurp(out + "/" + name), slurp(kCorpus + "/" + name)) << name;
        EXPECT_TRUE(contains(rec.out, name)) << rec.out;
    }

    const std::vector<std::vector<std::string>> views = {
        {"home"},
        {"home", "--user", kUser},
        {"collections"},
        {"person", "nm0000138"},
        {"person", "6193"},
        {"person", "nm9999999"},
        {"popular"},
        {"popular", "--page", "2"},
        {"popular", "--page-numbers", "2"},
        {"popular", "--page", "3"},
    };
    for (const std::vector<std::string> &view : views) {
        std::vector<std::string> live = {"--host", host, "--json"}, offline = {"--corpus", out,
                                                                               "--json"};
        live.insert(live.end(), view.begin(), view.end());
        offline.insert(offline.end(), view.begin(), view.end());
        SCOPED_TRACE(view[0] + (view.size() > 1 ? " " + view[1] : ""));
        Outcome a = filmo(live), b = filmo(offline);
        EXPECT_EQ(a.code, b.code);
        EXPECT_EQ(a.err, b.err);
        if (a.code == 0) {
            EXPECT_EQ(json_tool("same", {a.out, b.out}), "same\n");
        }
    }
}

// Answers the fixture backend cannot serve as they came are named, with the server's status,
// and are never written; the rest of the corpus is.
TEST_F(RecordCheck, RecordNamesTheAnswersItCannotStore) {
    struct Case {
        const char *fault;
        std::set<std::string> refused;  // "file status"
        const char *why;
    } cases[] = {
        {"found", {"people-detail.404.json 200", "people-popular.404.json 200"},
         "HTTP 200 where the corpus needs 404"},
        {"bad-zlib", {"homepage.anonymous-profile0.zlib 200"}, "does not inflate"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fault);
        const std::string host = serve({c.fault});
        const std::string out = dir(std::string("rec-") + c.fault);
        Outcome table = filmo({"record", "--host", host, "--out", out});
        EXPECT_EQ(table.code, 2) << table.err;
        EXPECT_TRUE(contains(table.out, c.why)) << table.out;
        EXPECT_TRUE(contains(table.out, "The corpus is incomplete")) << table.out;

        Outcome json = filmo({"record", "--host", host, "--out", out, "--force", "--json"});
        EXPECT_EQ(json.code, 2) << json.err;
        std::set<std::string> refused;
        std::string listed = json_tool("stored", {json.out});
        for (size_t at = 0, end; (end = listed.find('\n', at)) != std::string::npos; at = end + 1) {
            std::string line = listed.substr(at, end - at);
            size_t mark = line.find(" refused ");
            if (mark != std::string::npos) {
                std::string file = line.substr(0, mark);
                refused.insert(file + " " + line.substr(mark + 9));
                EXPECT_FALSE(stdfs::exists(out + "/" + file)) << file;
            }
        }
        EXPECT_EQ(refused, c.refused);
        EXPECT_TRUE(stdfs::exists(out + "/collections.en-US.json"));
    }
}

TEST_F(RecordCheck, CheckPassesOnTheServerAsItIs) {
    const std::string host = serve();
    Outcome r = filmo({"check", "--host", host, "--user", kUser});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(contains(r.out, "22 of 22 rules hold")) << r.out;
    EXPECT_FALSE(contains(r.out, "FAIL")) << r.out;

    Outcome json = filmo({"check", "--host", host, "--json", "--person", "nm0000229"});
    EXPECT_EQ(json.code, 0) << json.err;
    EXPECT_EQ(failing_rules(json.out), std::set<std::string>());
    EXPECT_TRUE(contains(json.out, "person nm0000229 carries Name or name")) << json.out;
}

// A person id the library refuses is never sent: both commands say so, and neither takes the
// answer to the request before it for this one.
TEST_F(RecordCheck, AnIdTheLibraryRefusesIsReportedAsNotAsked) {
    const std::string host = serve();
    Outcome check = filmo({"check", "--host", host, "--person", "12a", "--json"});
    EXPECT_EQ(check.code, 2) << check.err;
    EXPECT_EQ(failing_rules(check.out), std::set<std::string>{"person 12a answers 200"});
    EXPECT_TRUE(contains(check.out, "not asked: id must be an nmID")) << check.out;

    const std::string out = dir("refused-id");
    Outcome record = filmo({"record", "--host", host, "--out", out, "--person", "12a"});
    EXPECT_EQ(record.code, 2) << record.err;
    EXPECT_TRUE(contains(record.out, "people-detail.12a.json")) << record.out;
    EXPECT_TRUE(contains(record.out, "not stored: not asked: id must be an nmID")) << record.out;
    EXPECT_FALSE(stdfs::exists(out + "/people-detail.12a.json"));
    EXPECT_TRUE(stdfs::exists(out + "/people-detail.404.json"));
}

// Each deliberate fault fails exactly the rules it breaks, and only those.
TEST_F(RecordCheck, CheckNamesTheRuleEachFaultBreaks) {
    const std::string home = "home page (anonymous) ";
    struct Case {
        const char *fault;
        std::set<std::string> failing;
    } cases[] = {
        {"wrong-hash",
         {home + "ContentHash is the stable hash of the page",
          home + "answers a matching MD5HomePage with one byte"}},
        {"no-unchanged", {home + "answers a matching MD5HomePage with one byte"}},
        {"found",
         {"an unknown person (nm0000000) answers 404",
          "popular page 3, past the end, answers 404"}},
        {"bad-zlib",
         {home + "inflates within the library's bounds", home + "is a JSON object",
          home + "ContentHash is the stable hash of the page",
          home + "answers a matching MD5HomePage with one byte",
          home + "answers another MD5HomePage with the page"}},
        {"object-root", {"collections answer 200"}},
        {"renamed-members", {"popular people carry ID or id and Name or name"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fault);
        const std::string host = serve({c.fault});
        Outcome r = filmo({"check", "--host", host, "--json"});
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_EQ(failing_rules(r.out), c.failing) << r.out;
        Outcome table = filmo({"check", "--host", host});
        EXPECT_EQ(table.code, 2);
        EXPECT_TRUE(contains(table.out, "  FAIL  " + *c.failing.begin())) << table.out;
        EXPECT_TRUE(contains(table.out, "        expected  ")) << table.out;
    }
}

// A server that cannot be asked ends both commands at once with the transport's failure text and
// exit status 1; a recording that stored nothing leaves no directory behind.
TEST_F(RecordCheck, UnreachableOrStallingServersFailWithTheTransportText) {
    const std::string refused = "http://127.0.0.1:" + std::to_string(filmo_test::unused_port());
    const std::string stalled = serve({"stall"});
    struct Case {
        std::string host;
        std::vector<std::string> more;
    } cases[] = {
        {refused, {}},
        {"http://127.0.0.1:99999", {}},  // a URL the transport refuses
        {stalled, {"--timeout", "1"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host);
        std::vector<std::string> check = {"check", "--host", c.host};
        check.insert(check.end(), c.more.begin(), c.more.end());
        Outcome r = filmo(check);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err.rfind("filmo: check: " + c.host + ": transport: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_TRUE(contains(r.out, "FAIL  home page (anonymous) answers 200")) << r.out;

        const std::string out = dir("unreached");
        std::vector<std::string> record = {"record", "--host", c.host, "--out", out};
        record.insert(record.end(), c.more.begin(), c.more.end());
        r = filmo(record);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err.rfind("filmo: record: " + c.host + ": transport: ", 0), 0u) << r.err;
        EXPECT_FALSE(stdfs::exists(out));
    }
}

// A corpus directory that cannot be used ends with a message naming it and status 73; what is
// there stays as it was.
TEST_F(RecordCheck, RecordRefusesADirectoryItCannotUse) {
    const std::string host = serve();
    tmp_.write("a-file", "mine");
    stdfs::create_directories(dir("full"));
    tmp_.write("full/people-detail.404.json", "mine");
    struct Case {
        std::string out;
        std::string message;
    } cases[] = {
        {dir("a-file"), "filmo: record: " + dir("a-file") + " is not a directory\n"},
        {dir("missing/parent"), "filmo: record: cannot make " + dir("missing/parent") + ": "},
        {dir("full"), "filmo: record: " + dir("full") +
                          " is not empty (--force writes over its files)\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.out);
        Outcome r = filmo({"record", "--host", host, "--out", c.out});
        EXPECT_EQ(r.code, 73);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
    }
    EXPECT_EQ(slurp(dir("a-file")), "mine");
    EXPECT_EQ(slurp(dir("full/people-detail.404.json")), "mine");

    Outcome forced = filmo({"record", "--host", host, "--out", dir("full"), "--force"});
    EXPECT_EQ(forced.code, 0) << forced.err;
    EXPECT_EQ(slurp(dir("full/people-detail.404.json")),
              slurp(kCorpus + "/people-detail.404.json"));

    if (::geteuid() != 0) {
        stdfs::create_directories(dir("read-only"));
        ::chmod(dir("read-only").c_str(), 0555);
        Outcome r = filmo({"record", "--host", host, "--out", dir("read-only")});
        EXPECT_EQ(r.code, 73);
        EXPECT_TRUE(contains(r.err, "cannot write " + dir("read-only") + "/")) << r.err;
        ::chmod(dir("read-only").c_str(), 0755);
    }
}

// A disk that fills up part way: the recording stops with status 73 and the file being written
// is not there at all, neither under its name nor as a temporary file.
TEST_F(RecordCheck, AFullDiskLeavesNoPartFile) {
    const std::string host = serve();
    const std::string small = dir("small");
    stdfs::create_directories(small);
    // Room for the first home page (about 8 KB) and not the second.
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=12k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs privileges)";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};

    Outcome r = filmo({"record", "--host", host, "--out", small, "--user", kUser});
    EXPECT_EQ(r.code, 73);
    EXPECT_EQ(r.err.rfind("filmo: record: cannot write " + small + "/", 0), 0u) << r.err;
    EXPECT_TRUE(contains(r.err, "No space left on device")) << r.err;
    std::set<std::string> names = names_in(small);
    EXPECT_FALSE(names.empty());
    for (const std::string &name : names) {
        EXPECT_NE(name[0], '.') << name;
        EXPECT_EQ(slurp(small + "/" + name), slurp(kCorpus + "/" + name)) << name;
    }
}

TEST_F(RecordCheck, CommandLineMistakesExitWith64) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"record", "--out", "x"}, "record needs --host URL"},
        {{"record", "--host", "http://127.0.0.1:1"}, "record needs --out DIR"},
        {{"check"}, "check needs --host URL"},
        {{"check", "--host", "http://127.0.0.1:1", "--force"}, "--force does not apply to check"},
        {{"check", "--host", "http://127.0.0.1:1", "--corpus", "x"},
         "--corpus does not apply to check"},
        {{"check", "--host", "http://127.0.0.1:1", "--pages", "0"}, "--pages needs a whole number"},
        {{"record", "--host", "http://127.0.0.1:1", "--out", "x", "extra"},
         "unexpected argument 'extra'"},
        {{"home", "--out", "x"}, "--out does not apply to home"},
        {{"record", "--host", "http://127.0.0.1:1", "--out", dir("x"), "--person", "../nm1"},
         "person id '../nm1' cannot name a corpus file"},
    };
    for (const Case &c : cases) {
        Outcome r = filmo(c.args);
        EXPECT_EQ(r.code, 64) << c.message;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    }
    EXPECT_FALSE(stdfs::exists(dir("x")));
}

}  // namespace
