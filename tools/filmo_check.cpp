// filmo check: asks a live server for every view through the library, as a host would, and
// holds each answer against what the client relies on: the status, the root type of the JSON,
// the home page's zlib body and its content-hash exchange, 404 for what does not exist, and the
// members the views read. One row per rule; the verdicts come from the library's own statuses
// and accessors, so the rules are judged as the client judges them.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "filmo.h"
#include "filmo_cli.h"
#include "filmo_hostio.h"

namespace filmo_cli {

namespace {

// An IMDb id no person has.
const char k_nobody[] = "nm0000000";

struct rule {
    std::string name;
    bool holds;
    std::string expected;
    std::string got;
};

// The server could not be asked: the check stops there.
struct unreachable {
    std::string text;
};

std::string library_says() {
    return filmo_last_error();
}

class checking {
public:
    explicit checking(const options &o) : o_(o), server_(o.host, o.timeout_s) {}

    int run();

private:
    // The exchange of the fetch just made; a transport failure ends the check.
    const exchange &asked(const std::string &name, const std::string &expected);
    void add(std::string name, bool holds, std::string expected, std::string got) {
        rules_.push_back({std::move(name), holds, std::move(expected), std::move(got)});
    }
    // 200 with a body the library decodes as the view's root type.
    void view_answers(const std::string &name, const char *root, int32_t status);
    void not_found(const std::string &name);
    void home(const char *user);
    void people_and_pages();
    int report(int rc);

    const options &o_;
    host_session server_;
    std::vector<rule> rules_;
};

const exchange &checking::asked(const std::string &name, const std::string &expected) {
    const exchange &e = server_.last();
    if (!e.url.empty() && !e.answered()) {
        add(name, false, expected, "transport: " + e.error);
        throw unreachable{e.error};
    }
    return e;
}

void checking::view_answers(const std::string &name, const char *root, int32_t status) {
    const std::string expected = std::string("HTTP 200 with a JSON ") + root;
    const exchange &e = asked(name, expected);
    if (e.url.empty())
        add(name, false, expected, "not asked: " + library_says());
    else if (e.status != 200)
        add(name, false, expected, what_came(e));
    else
        add(name, status == FILMO_OK, expected, status == FILMO_OK ? expected : library_says());
}

void checking::not_found(const std::string &name) {
    const exchange &e = asked(name, "HTTP 404");
    if (e.url.empty())
        add(name, false, "HTTP 404", "not asked: " + library_says());
    else
        add(name, e.status == 404, "HTTP 404", "HTTP " + std::to_string(e.status));
}

void checking::home(const char *user) {
    const std::string who = user ? std::string(" (user ") + user + ")" : " (anonymous)";
    const std::string page = "home page" + who;
    const char *lang = o_.language;

    server_.forget();
    filmo_set_homepage_hash(0);
    int32_t status = filmo_get_homepage(user, 0, lang, 0);
    // The exchange is overwritten by the next fetch: what the rules need is taken now.
    const exchange &e = asked(page + " answers 200", "HTTP 200");
    const size_t page_bytes = e.body.size();
    const std::string *hash_header = e.header("ContentHash");
    const std::string sent_hash = hash_header ? *hash_header : std::string();
    const bool answered = !e.url.empty() && e.status == 200;
    add(page + " answers 200", answered, "HTTP 200",
        e.url.empty() ? "not asked: " + library_says() : what_came(e));
    const std::string wanted_inflate = "a zlib stream within 64 MB and 64:1";
    const bool inflates = status == FILMO_OK ||
                          (status == FILMO_ERR_DECODE &&
                           (library_says() == "homepage: invalid JSON after inflate" ||
                            library_says() == "homepage: root is not a JSON object"));
    add(page + " inflates within the library's bounds", answered && inflates, wanted_inflate,
        !answered ? "no page" : inflates ? wanted_inflate : library_says());
    add(page + " is a JSON object", status == FILMO_OK, "a JSON object",
        status == FILMO_OK ? "a JSON object" : !answered ? "no page" : library_says());

    const std::string hash_rule = page + " ContentHash is the stable hash of the page";
    if (status != FILMO_OK) {
        add(hash_rule, false, "the page's hash", "no page to hash");
        add(page + " answers a matching MD5HomePage with one byte", false, "HTTP 200 with 1 byte",
            "no page to hash");
        add(page + " answers another MD5HomePage with the page", false, "the page",
            "no page to hash");
        return;
    }
    const int64_t hash = filmo_homepage_hash();
    add(hash_rule, hash_header && filmo_last_content_hash() == hash, std::to_string(hash),
        hash_header ? sent_hash : "no ContentHash header");

    server_.forget();
    filmo_set_homepage_hash(hash);
    status = filmo_get_homepage(user, 0, lang, 0);
    const std::string one = page + " answers a matching MD5HomePage with one byte";
    const exchange &same = asked(one, "HTTP 200 with 1 byte");
    add(one, same.status == 200 && same.body.size() == 1 && status == FILMO_HOME_UNCHANGED,
        "HTTP 200 with 1 byte", what_came(same));

    // Any other value; 1 and 2 are as unlikely as any to be the page's hash.
    server_.forget();
    filmo_set_homepage_hash(hash == 1 ? 2 : 1);
    status = filmo_get_homepage(user, 0, lang, 0);
    const std::string whole = page + " answers another MD5HomePage with the page";
    const std::string expected = "HTTP 200 with the page (" + std::to_string(page_bytes) +
                                 " bytes, hash " + std::to_string(hash) + ")";
    const exchange &other = asked(whole, expected);
    const bool same_page = status == FILMO_OK && filmo_homepage_hash() == hash;
    add(whole, same_page, expected,
        same_page ? expected : what_came(other) + (status ? ": " + library_says() : ""));
    filmo_set_homepage_hash(0);
}

void checking::people_and_pages() {
    const char *lang = o_.language;
    server_.forget();
    int32_t status = filmo_get_collections(lang);
    view_answers("collections answer 200", "array", status);
    if (status == FILMO_OK) {
        std::string missing;
        for (int32_t i = 0; i < filmo_collection_count() && missing.empty(); ++i)
            if (!filmo_collection_name(i))
                missing = "collection " + std::to_string(i) + " has none";
        add("collections carry Name or name", missing.empty(), "a name in every collection",
            missing.empty() ? "a name in every collection" : missing);
    }

    struct page {
        const char *name;
        int32_t index, numbers;
    } pages[] = {{"popular page 1 answers 200", 1, 1},
                 {"popular page 2 answers 200", 2, 1},
                 {"popular pageNumbers 2 answers 200", 1, 2}};
    std::string first;  // a person the server knows, for the person rule
    for (const page &p : pages) {
        server_.forget();
        status = filmo_get_people_popular(p.index, 20, p.numbers, lang);
        view_answers(p.name, "array", status);
        if (status != FILMO_OK || p.index != 1 || p.numbers != 1) continue;
        std::string missing;
        for (int32_t i = 0; i < filmo_people_pop_count() && missing.empty(); ++i) {
            if (filmo_people_pop_id(i) < 0) missing = "person " + std::to_string(i) + " has no id";
            else if (!filmo_people_pop_name(i))
                missing = "person " + std::to_string(i) + " has no name";
        }
        add("popular people carry ID or id and Name or name", missing.empty(),
            "an id and a name in every person", missing.empty() ? "both in every person" : missing);
        if (filmo_people_pop_count() > 0) {
            const char *imdb = filmo_people_pop_imdbid(0);
            first = imdb && *imdb ? imdb : std::to_string(filmo_people_pop_id(0));
        }
    }

    std::vector<std::string> people = o_.people;
    if (people.empty() && !first.empty()) people.push_back(first);
    if (people.empty())
        add("a person answers 200", false, "a person to ask",
            "none: popular page 1 named nobody (give --person ID)");
    for (const std::string &id : people) {
        server_.forget();
        status = filmo_get_people_detail(id.c_str(), lang);
        const std::string name = "person " + id;
        const bool object = status == FILMO_OK || status == FILMO_ERR_EMPTY;
        view_answers(name + " answers 200", "object", object ? FILMO_OK : status);
        if (object)
            add(name + " carries Name or name", status == FILMO_OK, "a non-empty name",
                status == FILMO_OK ? "a non-empty name" : library_says());
    }

    server_.forget();
    filmo_get_people_detail(k_nobody, lang);
    not_found(std::string("an unknown person (") + k_nobody + ") answers 404");
    server_.forget();
    const int32_t past = o_.pages + 1;
    filmo_get_people_popular(past, 20, 1, lang);
    not_found("popular page " + std::to_string(past) + ", past the end, answers 404");
}

int checking::report(int rc) {
    size_t holding = 0;
    for (const rule &r : rules_) holding += r.holds ? 1 : 0;
    if (rc == 0 && holding != rules_.size()) rc = exit_incomplete;
    if (o_.json) {
        yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
        yyjson_mut_val *top = doc ? yyjson_mut_obj(doc) : nullptr;
        bool ok = top && yyjson_mut_obj_add_str(doc, top, "host", o_.host) &&
                  yyjson_mut_obj_add_bool(doc, top, "holds", rc == 0);
        yyjson_mut_val *rows = ok ? yyjson_mut_obj_add_arr(doc, top, "rules") : nullptr;
        ok = rows != nullptr;
        for (const rule &r : rules_) {
            yyjson_mut_val *row = ok ? yyjson_mut_arr_add_obj(doc, rows) : nullptr;
            ok = row &&
                 yyjson_mut_obj_add_strncpy(doc, row, "rule", r.name.data(), r.name.size()) &&
                 yyjson_mut_obj_add_bool(doc, row, "pass", r.holds) &&
                 yyjson_mut_obj_add_strncpy(doc, row, "expected", r.expected.data(),
                                            r.expected.size()) &&
                 yyjson_mut_obj_add_strncpy(doc, row, "got", r.got.data(), r.got.size());
        }
        ok = ok && write_json(doc, top);
        yyjson_mut_doc_free(doc);
        if (!ok) {
            std::fprintf(stderr, "filmo: out of memory\n");
            return FILMO_ERR_OOM;
        }
        return rc;
    }
    std::printf("Checking %s\n", o_.host);
    for (const rule &r : rules_) {
        std::printf("  %s  %s\n", r.holds ? "pass" : "FAIL", fit(r.name, 70, nullptr).c_str());
        if (r.holds) continue;
        std::printf("        expected  %s\n", fit(r.expected, 60, nullptr).c_str());
        std::printf("        got       %s\n", fit(r.got, 60, nullptr).c_str());
    }
    std::printf("%zu of %zu rules hold\n", holding, rules_.size());
    return rc;
}

int checking::run() {
    if (!server_.ready()) {
        std::fprintf(stderr, "filmo: check: %s\n", filmo_last_error());
        return exit_unreachable;
    }
    try {
        home(nullptr);
        if (o_.user && *o_.user) home(o_.user);
        people_and_pages();
    } catch (const unreachable &u) {
        print_transport_failure("check", o_.host, u.text.c_str());
        return report(exit_unreachable);
    }
    return report(0);
}

}  // namespace

int check_server(const options &o) {
    try {
        checking c(o);
        return c.run();
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "filmo: out of memory\n");
        return FILMO_ERR_OOM;
    }
}

}  // namespace filmo_cli
