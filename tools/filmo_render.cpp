// The filmo command's two renderings of a gathered view: readable tables per view, or the whole
// document written as JSON by yyjson's writer.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "filmo.h"
#include "filmo_cli.h"

namespace filmo_cli {

namespace {

yyjson_mut_val *at(yyjson_mut_val *obj, const char *key) {
    return yyjson_mut_obj_get(obj, key);
}

size_t count(yyjson_mut_val *list) {
    return yyjson_mut_arr_size(list);
}

void print_fields(yyjson_mut_val *obj,
                  const std::vector<std::pair<const char *, const char *>> &rows) {
    for (const auto &row : rows) print_line(row.first, cell(at(obj, row.second)));
}

const char *gender_name(int64_t g) {
    switch (g) {
    case 0: return "not specified";
    case 1: return "female";
    case 2: return "male";
    case 3: return "non-binary";
    default: return "-";
    }
}

// A heading "[id] name" of a collection.
void print_heading(const char *format, yyjson_mut_val *c, const char *automatic) {
    std::printf(format, cell(at(c, "id")).c_str(), fit(cell(at(c, "name")), 70, nullptr).c_str(),
                automatic);
}

// False when memory for the playlists' title counts ran out; nothing is printed then.
bool show_collections(yyjson_mut_doc *doc, yyjson_mut_val *all) {
    size_t idx, max;
    yyjson_mut_val *c;
    yyjson_mut_arr_foreach(all, idx, max, c) {
        size_t pidx, pmax;
        yyjson_mut_val *p;
        yyjson_mut_arr_foreach(at(c, "playlists"), pidx, pmax, p) {
            if (!yyjson_mut_obj_add_uint(doc, p, "count", count(at(p, "imdb_ids")))) return false;
        }
    }
    std::printf("Collections (%zu)\n", count(all));
    yyjson_mut_arr_foreach(all, idx, max, c) {
        print_heading("\n[%s] %s%s\n", c, yyjson_mut_get_bool(at(c, "is_auto")) ? "  (automatic)" : "");
        print_fields(c, {{"backdrop", "backdrop"}, {"cover", "cover"}, {"logo", "logo"}});
        print_table(at(c, "playlists"), {{"name", "Playlist", 28},
                                         {"origin_country", "Origin", 6},
                                         {"count", "Titles", 6},
                                         {"imdb_ids", "IMDb ids", 60}});
    }
    return true;
}

void show_person(yyjson_mut_val *p) {
    std::printf("%s\n", fit(cell(at(p, "name")), 78, nullptr).c_str());
    // -1 is what the library answers for a person without a popularity.
    long long permille = yyjson_mut_get_sint(at(p, "popularity_permille"));
    char popularity[32] = "-";
    if (permille != -1)
        std::snprintf(popularity, sizeof popularity, "%s%lld.%03lld", permille < 0 ? "-" : "",
                      std::llabs(permille) / 1000, std::llabs(permille) % 1000);
    int64_t gender = yyjson_mut_get_sint(at(p, "gender"));
    print_fields(p, {{"IMDb id", "imdb_id"}, {"TMDb id", "id"}, {"known for", "knows_for"},
                     {"department", "known_for_department"}});
    print_line("gender", gender < 0 ? "-" : std::string(gender_name(gender)));
    print_fields(p, {{"born", "birthday"}, {"died", "deathday"}, {"birthplace", "place_of_birth"},
                     {"homepage", "homepage"}, {"profile", "profile_url"}});
    print_line("popularity", popularity);
    print_fields(p, {{"credits", "known_credits"}, {"biography", "biography"}});
    yyjson_mut_val *names = at(p, "translated_names");
    section("Names", count(names));
    size_t idx, max;
    yyjson_mut_val *n;
    yyjson_mut_arr_foreach(names, idx, max, n)
        std::printf("  %s\n", fit(cell(n), 76, nullptr).c_str());
    yyjson_mut_val *pictures = at(p, "pictures");
    section("Pictures", count(pictures));
    print_table(pictures, {{"url", "URL", 64}, {"language", "Lang", 4}, {"width", "Width", 6},
                           {"height", "Height", 6}});
    yyjson_mut_val *related = at(p, "related_imdb_ids");
    section("Related", count(related));
    if (count(related)) print_line("ids", cell(related));
}

// False when memory for the positions ran out; nothing is printed then.
bool show_popular(yyjson_mut_doc *doc, yyjson_mut_val *all, int32_t page) {
    size_t idx, max;
    yyjson_mut_val *p;
    yyjson_mut_arr_foreach(all, idx, max, p) {
        if (!yyjson_mut_obj_add_uint(doc, p, "pos", idx + 1)) return false;
    }
    std::printf("Popular people, page %d (%zu)\n", page, count(all));
    print_table(all, {{"pos", "#", 4},
                      {"id", "TMDb", 8},
                      {"name", "Name", 24},
                      {"imdb_id", "IMDb", 10},
                      {"knows_for", "Known for", 60}});
    return true;
}

void show_account(yyjson_mut_val *user) {
    if (!yyjson_mut_get_bool(at(user, "has_user_info")) && yyjson_mut_is_null(at(user, "email")))
        return;
    std::printf("\nAccount\n");
    print_fields(user, {{"user id", "id"}, {"email", "email"}});
    yyjson_mut_val *memberships = at(user, "memberships");
    section("Memberships", count(memberships));
    print_table(memberships, {{"type", "Type", 4},
                              {"name", "Name", 24},
                              {"is_active", "Active", 6},
                              {"expiration", "Expires", 24}});
    yyjson_mut_val *profiles = at(user, "profiles");
    section("Profiles", count(profiles));
    print_table(profiles, {{"id", "Id", 4},
                           {"name", "Name", 20},
                           {"is_enabled", "Enabled", 7},
                           {"is_empty", "Empty", 5},
                           {"is_deleted", "Deleted", 7},
                           {"poster_url", "Poster", 50}});
}

// A titled table; `always` draws the title line also for an empty list.
void table_section(yyjson_mut_val *h, const char *key, const char *title,
                   const std::vector<column> &cols, bool always = true) {
    yyjson_mut_val *rows = at(h, key);
    section(title, count(rows));
    if (always || count(rows)) print_table(rows, cols);
}

void show_home(yyjson_mut_val *h) {
    std::printf("Home page  (hash %s, ContentHash %s)\n", cell(at(h, "hash")).c_str(),
                cell(at(h, "content_hash")).c_str());
    table_section(h, "basics", "Titles",
                  {{"imdb_id", "IMDb", 10},
                   {"title", "Title", 34},
                   {"year", "Year", 4},
                   {"duration", "Min", 4},
                   {"is_tv", "TV", 3},
                   {"genres", "Genres", 26},
                   {"directors", "Directed by", 24},
                   {"ratings", "Ratings", 46}});
    table_section(h, "continues", "Continue watching",
                  {{"imdb_id", "IMDb", 10},
                   {"season", "S", 3},
                   {"episode", "E", 3},
                   {"value", "Progress", 8},
                   {"duration", "Duration", 9},
                   {"size_text", "Size", 9},
                   {"updated_at", "Updated", 20}},
                  false);
    table_section(h, "level30s", "Downloads",
                  {{"imdb_id", "IMDb", 10}, {"size", "Bytes", 12}, {"file_name", "File", 50}},
                  false);
    table_section(h, "spotlights", "Spotlights",
                  {{"order", "#", 3}, {"title", "Title", 44}, {"items", "Titles", 50}});
    table_section(h, "lists", "Lists", {{"id", "Id", 16}, {"value", "Name", 40}});
    table_section(h, "extents", "Extents", {{"id", "Id", 16}, {"value", "Name", 40}});
    table_section(h, "peoples", "People",
                  {{"id", "TMDb", 8}, {"name", "Name", 24}, {"knows_for", "Known for", 60}});
    yyjson_mut_val *collections = at(h, "collections");
    section("Collections", count(collections));
    size_t idx, max;
    yyjson_mut_val *c;
    yyjson_mut_arr_foreach(collections, idx, max, c) {
        print_heading("  [%s] %s%s\n", c, "");
        print_table(at(c, "playlists"),
                    {{"name", "Playlist", 28}, {"imdb_ids", "IMDb ids", 70}}, 4);
    }
    show_account(at(h, "user"));
}

}  // namespace

bool show(yyjson_mut_doc *doc, yyjson_mut_val *view, const options &o) {
    switch (o.command) {
    case cmd_home: show_home(view); return true;
    case cmd_collections: return show_collections(doc, view);
    case cmd_person: show_person(view); return true;
    case cmd_popular: return show_popular(doc, view, o.page);
    case cmd_none: break;
    }
    return true;
}

bool print_json(yyjson_mut_doc *doc, yyjson_mut_val *view, const options &o) {
    yyjson_mut_val *top = yyjson_mut_obj(doc);
    if (!top) return false;
    const char *name = o.command_name.c_str();
    bool ok = yyjson_mut_obj_add_str(doc, top, "command", name) &&
              yyjson_mut_obj_add_int(doc, top, "http_code", filmo_last_http_code()) &&
              yyjson_mut_obj_add_int(doc, top, "content_hash", filmo_last_content_hash());
    if (ok && !o.host) {
        yyjson_mut_val *fx = yyjson_mut_obj_add_obj(doc, top, "fixture");
        const char *last_url = filmo_fake_last_url();
        ok = fx && yyjson_mut_obj_add_uint(doc, fx, "calls", filmo_fake_calls()) &&
             yyjson_mut_obj_add_uint(doc, fx, "url_count", filmo_fake_url_count()) &&
             yyjson_mut_obj_add_uint(doc, fx, "failures", filmo_fake_fail_count()) &&
             (last_url ? yyjson_mut_obj_add_strcpy(doc, fx, "last_url", last_url)
                       : yyjson_mut_obj_add_null(doc, fx, "last_url"));
    }
    return ok && yyjson_mut_obj_add_val(doc, top, name, view) && write_json(doc, top);
}

bool write_json(yyjson_mut_doc *doc, yyjson_mut_val *root) {
    yyjson_mut_doc_set_root(doc, root);
    const yyjson_write_flag flags = YYJSON_WRITE_PRETTY_TWO_SPACES |
                                    YYJSON_WRITE_INF_AND_NAN_AS_NULL | YYJSON_WRITE_NEWLINE_AT_END;
    size_t len = 0;
    yyjson_write_err err{};
    char *out = yyjson_mut_write_opts(doc, flags, nullptr, &len, &err);
    if (!out && err.code == YYJSON_WRITE_ERROR_INVALID_STRING) {
        // A text that is no valid UTF-8: every character escaped, each bad byte as U+FFFD, so
        // the output stays valid JSON.
        out = yyjson_mut_write_opts(doc, flags | YYJSON_WRITE_ALLOW_INVALID_UNICODE |
                                             YYJSON_WRITE_ESCAPE_UNICODE,
                                    nullptr, &len, &err);
    }
    if (!out) return false;
    std::fwrite(out, 1, len, stdout);
    std::free(out);
    return true;
}

}  // namespace filmo_cli
