// filmo record: asks a live server for every view through the library, as a host would, and
// writes the answers into a corpus directory under the fixture backend's file names, so that
// the fixture backend then serves the same views offline. The home pages are kept as the
// compressed bytes the server sent; the fixture backend works out their content hash itself.
#include <cstdio>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "filmo.h"
#include "filmo_cli.h"
#include "filmo_files.h"
#include "filmo_hostio.h"

namespace filmo_cli {

namespace {

// An IMDb id no person has: its 404 answer becomes the corpus's answer for unknown people.
const char k_nobody[] = "nm0000000";

// One answer the corpus needs.
struct wanted {
    std::string file;
    int32_t status;       // the status the fixture backend serves the file with
    bool home;            // a compressed home page: kept only when it inflates
    std::function<int32_t()> fetch;
};

std::vector<wanted> plan(const options &o) {
    const char *lang = o.language;
    std::vector<wanted> w;
    w.push_back({"homepage.anonymous-profile0.zlib", 200, true,
                 [lang] { return filmo_get_homepage(nullptr, 0, lang, 0); }});
    if (o.user && *o.user) {
        const char *user = o.user;
        w.push_back({"homepage.auth-profile0.zlib", 200, true,
                     [user, lang] { return filmo_get_homepage(user, 0, lang, 0); }});
    }
    w.push_back({"collections.en-US.json", 200, false,
                 [lang] { return filmo_get_collections(lang); }});
    for (const std::string &id : o.people) {
        w.push_back({"people-detail." + id + ".json", 200, false,
                     [id, lang] { return filmo_get_people_detail(id.c_str(), lang); }});
    }
    w.push_back({"people-detail.404.json", 404, false,
                 [lang] { return filmo_get_people_detail(k_nobody, lang); }});
    struct page {
        const char *file;
        int32_t index, numbers;
    } pages[] = {{"people-popular.p1-pascal.json", 1, 1},
                 {"people-popular.p2-pascal.json", 2, 1},
                 {"people-popular.pn2-camel.json", 1, 2}};
    for (const page &p : pages) {
        w.push_back({p.file, 200, false, [p, lang] {
                         return filmo_get_people_popular(p.index, 20, p.numbers, lang);
                     }});
    }
    const int32_t past = o.pages + 1;
    w.push_back({"people-popular.404.json", 404, false,
                 [past, lang] { return filmo_get_people_popular(past, 20, 1, lang); }});
    return w;
}

// A person's id names a file as it stands in the URL. Only ids that percent-encoding leaves as
// they are, and that cannot reach outside DIR, are taken.
bool names_a_file(const std::string &id) {
    static const char unreserved[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    return !id.empty() && id.find_first_not_of(unreserved) == std::string::npos &&
           id.find("..") == std::string::npos;
}

// The inflate worked when the library got past it.
bool inflated(int32_t status) {
    if (status == FILMO_OK) return true;
    const std::string err = filmo_last_error();
    return status == FILMO_ERR_DECODE && (err == "homepage: invalid JSON after inflate" ||
                                          err == "homepage: root is not a JSON object");
}

// Why an answer cannot go into the corpus; empty when it can.
std::string refusal(const wanted &w, const exchange &e, int32_t status) {
    if (e.url.empty()) return std::string("not asked: ") + filmo_last_error();
    if (!e.kept) return "out of memory while keeping the answer";
    if (!e.body_whole) return std::string("not kept whole: ") + filmo_last_error();
    if (e.status != w.status)
        return "HTTP " + std::to_string(e.status) + " where the corpus needs " +
               std::to_string(w.status);
    if (w.home && !inflated(status)) return std::string("does not inflate: ") + filmo_last_error();
    return std::string();
}

// What the library made of a stored answer, when it is not what the corpus status implies.
std::string remark(const wanted &w, int32_t status) {
    const int32_t expected = w.status == 404 ? FILMO_ERR_NOT_FOUND : FILMO_OK;
    if (status != expected) return std::string("stored; the library says: ") + filmo_last_error();
    if (w.home && filmo_last_content_hash() != filmo_homepage_hash())
        return "stored; the server's ContentHash " + std::to_string(filmo_last_content_hash()) +
               " is not the page's hash " + std::to_string(filmo_homepage_hash());
    return std::string();
}

class recording {
public:
    recording(const options &o) : o_(o), doc_(yyjson_mut_doc_new(nullptr)) {}
    ~recording() { yyjson_mut_doc_free(doc_); }
    recording(const recording &) = delete;
    recording &operator=(const recording &) = delete;

    int run();

private:
    int prepare_dir();
    void row(const std::string &file, const exchange &e, bool stored, const std::string &note);
    int report(int rc);

    const options &o_;
    yyjson_mut_doc *doc_;
    yyjson_mut_val *rows_ = nullptr;
    bool oom_ = false;
    bool complete_ = true;
    bool made_dir_ = false;  // DIR was made here
    bool wrote_ = false;     // some file went into DIR
};

int recording::prepare_dir() {
    const std::string dir = o_.out_dir;
    std::string why;
    switch (look_at_dir(dir, why)) {
    case dir_empty: return 0;
    case dir_full:
        if (o_.force) return 0;
        std::fprintf(stderr, "filmo: record: %s is not empty (--force writes over its files)\n",
                     dir.c_str());
        return exit_cannot_write;
    case dir_not_dir:
        std::fprintf(stderr, "filmo: record: %s is not a directory\n", dir.c_str());
        return exit_cannot_write;
    case dir_unreadable:
        std::fprintf(stderr, "filmo: record: cannot read %s: %s\n", dir.c_str(), why.c_str());
        return exit_cannot_write;
    case dir_missing:
        if (make_dir(dir, why)) {
            made_dir_ = true;
            return 0;
        }
        std::fprintf(stderr, "filmo: record: cannot make %s: %s\n", dir.c_str(), why.c_str());
        return exit_cannot_write;
    }
    return exit_cannot_write;
}

void recording::row(const std::string &file, const exchange &e, bool stored,
                    const std::string &note) {
    yyjson_mut_val *r = yyjson_mut_obj(doc_);
    bool ok = r && yyjson_mut_obj_add_strncpy(doc_, r, "file", file.data(), file.size()) &&
              yyjson_mut_obj_add_int(doc_, r, "status", e.answered() ? e.status : 0) &&
              yyjson_mut_obj_add_uint(doc_, r, "bytes", e.body.size()) &&
              yyjson_mut_obj_add_bool(doc_, r, "stored", stored) &&
              yyjson_mut_obj_add_strncpy(doc_, r, "note", note.data(), note.size()) &&
              yyjson_mut_arr_append(rows_, r);
    if (!ok) oom_ = true;
    if (!stored) complete_ = false;
}

// The table (or JSON) of what was done, then the exit status: rc, or incomplete.
int recording::report(int rc) {
    if (rc == 0 && !complete_) rc = exit_incomplete;
    // A directory made for a recording that wrote nothing is not left behind.
    if (made_dir_ && !wrote_) remove_empty_dir(o_.out_dir);
    yyjson_mut_val *top = yyjson_mut_obj(doc_);
    bool ok = !oom_ && top && yyjson_mut_obj_add_str(doc_, top, "host", o_.host) &&
              yyjson_mut_obj_add_str(doc_, top, "dir", o_.out_dir) &&
              yyjson_mut_obj_add_bool(doc_, top, "complete", rc == 0) &&
              yyjson_mut_obj_add_val(doc_, top, "files", rows_);
    if (!ok) {
        std::fprintf(stderr, "filmo: out of memory\n");
        return FILMO_ERR_OOM;
    }
    if (o_.json) {
        if (!write_json(doc_, top)) {
            std::fprintf(stderr, "filmo: out of memory\n");
            return FILMO_ERR_OOM;
        }
    } else {
        std::printf("Recorded %s into %s\n", o_.host, o_.out_dir);
        print_table(rows_, {{"file", "File", 34}, {"status", "Status", 6},
                            {"bytes", "Bytes", 10}, {"note", "Note", 60}});
        if (rc == exit_incomplete)
            std::printf("The corpus is incomplete: the answers marked were not stored.\n");
    }
    return rc;
}

int recording::run() {
    if (!doc_ || !(rows_ = yyjson_mut_arr(doc_))) {
        std::fprintf(stderr, "filmo: out of memory\n");
        return FILMO_ERR_OOM;
    }
    for (const std::string &id : o_.people) {
        if (!names_a_file(id)) {
            std::fprintf(stderr, "filmo: record: person id '%s' cannot name a corpus file\n",
                         id.c_str());
            return exit_usage;
        }
    }
    int rc = prepare_dir();
    if (rc) return rc;
    host_session server(o_.host, o_.timeout_s);
    if (!server.ready()) {
        std::fprintf(stderr, "filmo: record: %s\n", filmo_last_error());
        return exit_unreachable;
    }
    for (const wanted &w : plan(o_)) {
        server.forget();
        int32_t status = w.fetch();
        const exchange &e = server.last();
        if (!e.url.empty() && !e.answered()) {
            row(w.file, e, false, "transport: " + e.error);
            print_transport_failure("record", o_.host, e.error.c_str());
            return report(exit_unreachable);
        }
        std::string why = refusal(w, e, status);
        if (!why.empty()) {
            row(w.file, e, false, "not stored: " + why);
            continue;
        }
        std::string problem;
        if (!write_whole(o_.out_dir, w.file, e.body, problem)) {
            std::fprintf(stderr, "filmo: record: cannot write %s/%s: %s\n", o_.out_dir,
                         w.file.c_str(), problem.c_str());
            return report(exit_cannot_write);
        }
        wrote_ = true;
        row(w.file, e, true, remark(w, status));
    }
    return report(0);
}

}  // namespace

int record_corpus(const options &o) {
    try {
        recording r(o);
        return r.run();
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "filmo: out of memory\n");
        return FILMO_ERR_OOM;
    }
}

}  // namespace filmo_cli
