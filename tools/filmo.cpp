// filmo: the command-line host of the catalogue client. It fetches one view through the library
// and shows what the view's accessors return, as readable tables or, with --json, as one JSON
// object holding every accessor's answer. By default the views come from the bundled sample
// corpus through the fixture backend; --corpus picks another corpus, --host a live server.
//
// A host like any other: it includes only the public header and links the shared library.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "filmo.h"

#ifndef FILMO_CORPUS_FROM_BINDIR
#define FILMO_CORPUS_FROM_BINDIR "../share/filmo/corpus"
#endif

namespace {

constexpr int exit_usage = 64;  // the command line itself was wrong (sysexits EX_USAGE)

// ---- what the accessors answered ----------------------------------------------------------

// One answer, or a list or record of answers, kept in accessor order so that the table and the
// JSON renderings come from one pass over the view.
struct node {
    enum kind_t { null_v, text_v, int_v, real_v, flag_v, list_v, object_v };
    kind_t kind = null_v;
    std::string key;  // member name inside an object
    std::string text;
    long long num = 0;
    double real = 0.0;
    std::vector<node> items;  // list elements or object members
};

node text(const char *t) {
    node n;
    if (t) {
        n.kind = node::text_v;
        n.text = t;
    }
    return n;
}

node integer(long long v) {
    node n;
    n.kind = node::int_v;
    n.num = v;
    return n;
}

node real(double v) {
    node n;
    n.kind = node::real_v;
    n.real = v;
    return n;
}

node flag(int32_t v) {
    node n;
    n.kind = node::flag_v;
    n.num = v != 0;
    return n;
}

node list() {
    node n;
    n.kind = node::list_v;
    return n;
}

node object() {
    node n;
    n.kind = node::object_v;
    return n;
}

node &put(node &obj, const char *key, node value) {
    value.key = key;
    obj.items.push_back(std::move(value));
    return obj.items.back();
}

template <class Get>
node texts(int32_t count, Get get) {
    node l = list();
    for (int32_t k = 0; k < count; ++k) l.items.push_back(text(get(k)));
    return l;
}

// A list of `count` records, each filled by fill(record, position).
template <class Fill>
node records(int32_t count, Fill fill) {
    node l = list();
    for (int32_t k = 0; k < count; ++k) {
        node r = object();
        fill(r, k);
        l.items.push_back(std::move(r));
    }
    return l;
}

const node *member(const node &obj, const char *key) {
    for (const node &m : obj.items)
        if (m.key == key) return &m;
    return nullptr;
}

// ---- gathering the views ------------------------------------------------------------------

node gather_collections() {
    return records(filmo_collection_count(), [](node &c, int32_t i) {
        put(c, "id", integer(filmo_collection_id(i)));
        put(c, "name", text(filmo_collection_name(i)));
        put(c, "backdrop", text(filmo_collection_backdrop(i)));
        put(c, "cover", text(filmo_collection_cover(i)));
        put(c, "logo", text(filmo_collection_logo(i)));
        put(c, "is_auto", flag(filmo_collection_is_auto(i)));
        put(c, "playlists", records(filmo_collection_playlists_count(i), [i](node &pl, int32_t p) {
                put(pl, "name", text(filmo_collection_playlist_name(i, p)));
                put(pl, "origin", text(filmo_collection_playlist_origin(i, p)));
                put(pl, "logo", text(filmo_collection_playlist_logo(i, p)));
                put(pl, "imdb", texts(filmo_collection_playlist_imdb_count(i, p), [i, p](int32_t k) {
                        return filmo_collection_playlist_imdb(i, p, k);
                    }));
            }));
    });
}

node gather_person() {
    node p = object();
    put(p, "id", integer(filmo_people_id()));
    put(p, "name", text(filmo_people_name()));
    put(p, "imdb_id", text(filmo_people_imdbid()));
    put(p, "knows_for", text(filmo_people_knowsfor()));
    put(p, "known_for_department", text(filmo_people_knownfor_department()));
    put(p, "known_credits", text(filmo_people_knowncredits()));
    put(p, "gender", integer(filmo_people_gender()));
    put(p, "birthday", text(filmo_people_birthday()));
    put(p, "deathday", text(filmo_people_deathday()));
    put(p, "place_of_birth", text(filmo_people_placeofbirth()));
    put(p, "homepage", text(filmo_people_homepage()));
    put(p, "profile_url", text(filmo_people_profileurl()));
    put(p, "popularity_permille", integer(filmo_people_popularity_permille()));
    put(p, "biography", text(filmo_people_biography()));
    put(p, "names_translate",
        texts(filmo_people_names_translate_count(), filmo_people_names_translate));
    put(p, "pictures", records(filmo_people_pictures_count(), [](node &pic, int32_t i) {
            put(pic, "url", text(filmo_people_picture_url(i)));
            put(pic, "language", text(filmo_people_picture_lang(i)));
            put(pic, "width", integer(filmo_people_picture_w(i)));
            put(pic, "height", integer(filmo_people_picture_h(i)));
        }));
    put(p, "related", texts(filmo_people_related_count(), filmo_people_related));
    return p;
}

node gather_popular() {
    return records(filmo_people_pop_count(), [](node &p, int32_t i) {
        put(p, "id", integer(filmo_people_pop_id(i)));
        put(p, "name", text(filmo_people_pop_name(i)));
        put(p, "imdb_id", text(filmo_people_pop_imdbid(i)));
        put(p, "knows_for", text(filmo_people_pop_knowsfor(i)));
        put(p, "profile_url", text(filmo_people_pop_profileurl(i)));
    });
}

// An id/value list of the home page ("List" or "ExtentList").
node idvals(int32_t count, const char *(*id)(int32_t), const char *(*value)(int32_t)) {
    return records(count, [id, value](node &e, int32_t i) {
        put(e, "id", text(id(i)));
        put(e, "value", text(value(i)));
    });
}

void gather_basic(node &b, int32_t i) {
    put(b, "imdb", text(filmo_home_basic_imdb(i)));
    put(b, "id", integer(filmo_home_basic_id(i)));
    put(b, "title", text(filmo_home_basic_title(i)));
    put(b, "year", integer(filmo_home_basic_year(i)));
    put(b, "duration", integer(filmo_home_basic_duration(i)));
    put(b, "is_tv", flag(filmo_home_basic_is_tv(i)));
    put(b, "genres", texts(filmo_home_basic_genres_count(i),
                           [i](int32_t g) { return filmo_home_basic_genre(i, g); }));
    put(b, "directors", texts(filmo_home_basic_directors_count(i),
                              [i](int32_t d) { return filmo_home_basic_director(i, d); }));
    put(b, "ratings", records(filmo_home_basic_ratings_count(i), [i](node &rating, int32_t r) {
            put(rating, "source", text(filmo_home_basic_rating_source(i, r)));
            put(rating, "value", real(filmo_home_basic_rating_value(i, r)));
        }));
    put(b, "tagline", text(filmo_home_basic_tagline(i)));
    put(b, "plot", text(filmo_home_basic_plot(i)));
    put(b, "poster_url", text(filmo_home_basic_poster(i)));
    put(b, "picture_url", text(filmo_home_basic_picture(i)));
}

void gather_continue(node &c, int32_t i) {
    put(c, "imdb", text(filmo_home_continue_imdb(i)));
    put(c, "season", integer(filmo_home_continue_season(i)));
    put(c, "episode", integer(filmo_home_continue_episode(i)));
    put(c, "value", real(filmo_home_continue_value(i)));
    put(c, "size", integer(filmo_home_continue_size(i)));
    put(c, "size_str", text(filmo_home_continue_size_str(i)));
    put(c, "duration", text(filmo_home_continue_duration(i)));
    put(c, "is_duration", flag(filmo_home_continue_is_duration(i)));
    put(c, "updated_at", text(filmo_home_continue_updated(i)));
}

node gather_account() {
    node u = object();
    put(u, "has_userinfo", flag(filmo_home_has_userinfo()));
    put(u, "id", text(filmo_home_user_id()));
    put(u, "email", text(filmo_home_user_email()));
    put(u, "memberships", records(filmo_home_user_memberships_count(), [](node &m, int32_t i) {
            put(m, "type", integer(filmo_home_user_membership_type(i)));
            put(m, "name", text(filmo_home_user_membership_name(i)));
            put(m, "is_active", flag(filmo_home_user_membership_active(i)));
            put(m, "expiration", text(filmo_home_user_membership_expiration(i)));
        }));
    put(u, "profiles", records(filmo_home_user_profiles_count(), [](node &p, int32_t i) {
            put(p, "id", integer(filmo_home_user_profile_id(i)));
            put(p, "name", text(filmo_home_user_profile_name(i)));
            put(p, "poster", text(filmo_home_user_profile_poster(i)));
            put(p, "deleted", flag(filmo_home_user_profile_deleted(i)));
            put(p, "is_enabled", flag(filmo_home_user_profile_enabled(i)));
            put(p, "is_empty", flag(filmo_home_user_profile_empty(i)));
        }));
    return u;
}

node gather_home() {
    node h = object();
    put(h, "homepage_hash", integer(filmo_homepage_hash()));
    put(h, "basics", records(filmo_home_basics_count(), gather_basic));
    put(h, "continues", records(filmo_home_continues_count(), gather_continue));
    put(h, "level30s", records(filmo_home_level30_count(), [](node &l, int32_t i) {
            put(l, "imdb", text(filmo_home_level30_imdb(i)));
            put(l, "size", integer(filmo_home_level30_size(i)));
            put(l, "file_name", text(filmo_home_level30_filename(i)));
        }));
    put(h, "spotlights", records(filmo_home_spotlight_count(), [](node &s, int32_t i) {
            put(s, "order", integer(filmo_home_spotlight_order(i)));
            put(s, "title", text(filmo_home_spotlight_title(i)));
            put(s, "items", text(filmo_home_spotlight_items(i)));
            put(s, "logo", text(filmo_home_spotlight_logo(i)));
        }));
    put(h, "list", idvals(filmo_home_list_count(), filmo_home_list_id, filmo_home_list_value));
    put(h, "extents",
        idvals(filmo_home_extent_count(), filmo_home_extent_id, filmo_home_extent_value));
    put(h, "peoples", records(filmo_home_peoples_count(), [](node &p, int32_t i) {
            put(p, "id", integer(filmo_home_people_id(i)));
            put(p, "name", text(filmo_home_people_name(i)));
            put(p, "knows_for", text(filmo_home_people_knowsfor(i)));
            put(p, "profile_url", text(filmo_home_people_profileurl(i)));
        }));
    put(h, "collections", records(filmo_home_collections_count(), [](node &c, int32_t i) {
            put(c, "id", integer(filmo_home_collection_id(i)));
            put(c, "name", text(filmo_home_collection_name(i)));
            put(c, "playlists",
                records(filmo_home_collection_playlists_count(i), [i](node &pl, int32_t p) {
                    put(pl, "name", text(filmo_home_collection_playlist_name(i, p)));
                    put(pl, "imdb",
                        texts(filmo_home_collection_playlist_imdb_count(i, p), [i, p](int32_t k) {
                            return filmo_home_collection_playlist_imdb(i, p, k);
                        }));
                }));
        }));
    put(h, "user", gather_account());
    return h;
}

// ---- UTF-8 --------------------------------------------------------------------------------

// Length of the well-formed UTF-8 sequence at p (at most n bytes) and its code point, or 0 for
// a malformed one (overlong forms, surrogates and code points above U+10FFFF included).
size_t utf8_next(const unsigned char *p, size_t n, uint32_t *cp) {
    unsigned char c = p[0];
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    size_t len;
    uint32_t v;
    uint32_t min;
    if ((c & 0xE0) == 0xC0) {
        len = 2, v = c & 0x1Fu, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3, v = c & 0x0Fu, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4, v = c & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    if (len > n) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((p[k] & 0xC0) != 0x80) return 0;
        v = (v << 6) | (p[k] & 0x3Fu);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return len;
}

// Terminal columns a code point takes: 2 for the wide East Asian blocks, 0 for combining marks.
int columns_of(uint32_t cp) {
    if ((cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x200B && cp <= 0x200F)) return 0;
    if ((cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF && cp != 0x303F) ||
        (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
        (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
        (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1FAFF) ||
        (cp >= 0x20000 && cp <= 0x3FFFD))
        return 2;
    return 1;
}

// A text made fit for one table cell or line: control characters become blanks, a malformed
// byte becomes U+FFFD, and at most `width` columns are kept (the last one then "…").
std::string fit(const std::string &s, size_t width, size_t *used) {
    std::string out;
    size_t cols = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    size_t n = s.size();
    for (size_t i = 0; i < n;) {
        uint32_t cp = 0;
        size_t len = utf8_next(p + i, n - i, &cp);
        std::string piece;
        if (len == 0) {
            piece = "\xEF\xBF\xBD";
            cp = 0xFFFD;
            len = 1;
        } else if (cp < 0x20 || cp == 0x7F) {
            piece = " ";
            cp = ' ';
        } else {
            piece.assign(s, i, len);
        }
        size_t w = static_cast<size_t>(columns_of(cp));
        if (cols + w > width) {
            // Make room for the ellipsis: drop whole characters until it fits.
            while (!out.empty() && cols + 1 > width) {
                size_t back = out.size() - 1;
                while (back > 0 && (static_cast<unsigned char>(out[back]) & 0xC0) == 0x80) --back;
                uint32_t last = 0;
                utf8_next(reinterpret_cast<const unsigned char *>(out.data()) + back,
                          out.size() - back, &last);
                cols -= static_cast<size_t>(columns_of(last));
                out.erase(back);
            }
            out += "\xE2\x80\xA6";
            cols += 1;
            break;
        }
        out += piece;
        cols += w;
        i += len;
    }
    if (used) *used = cols;
    return out;
}

// ---- JSON rendering -----------------------------------------------------------------------

void json_string(std::string &out, const std::string &s) {
    out += '"';
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    size_t n = s.size();
    for (size_t i = 0; i < n;) {
        uint32_t cp = 0;
        size_t len = utf8_next(p + i, n - i, &cp);
        if (len == 0) {  // keep the output valid JSON whatever the text holds
            out += "\\ufffd";
            ++i;
            continue;
        }
        switch (cp) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (cp < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(cp));
                out += esc;
            } else {
                out.append(s, i, len);
            }
        }
        i += len;
    }
    out += '"';
}

// Shortest decimal form that reads back as the same double; whole numbers of ordinary size
// without an exponent (80, not 8e+01).
std::string real_text(double v) {
    char buf[40];
    if (v == std::trunc(v) && std::fabs(v) < 1e15) {
        std::snprintf(buf, sizeof buf, "%.0f", v);
        return buf;
    }
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, v);
        if (std::strtod(buf, nullptr) == v) break;
    }
    return buf;
}

void json_write(std::string &out, const node &n, int depth) {
    switch (n.kind) {
    case node::null_v: out += "null"; return;
    case node::text_v: json_string(out, n.text); return;
    case node::int_v: out += std::to_string(n.num); return;
    case node::flag_v: out += n.num ? "true" : "false"; return;
    case node::real_v: out += std::isfinite(n.real) ? real_text(n.real) : "null"; return;
    case node::list_v:
    case node::object_v: break;
    }
    bool obj = n.kind == node::object_v;
    if (n.items.empty()) {
        out += obj ? "{}" : "[]";
        return;
    }
    out += obj ? '{' : '[';
    std::string indent(static_cast<size_t>(depth + 1) * 2, ' ');
    for (size_t i = 0; i < n.items.size(); ++i) {
        out += i ? ",\n" : "\n";
        out += indent;
        if (obj) {
            json_string(out, n.items[i].key);
            out += ": ";
        }
        json_write(out, n.items[i], depth + 1);
    }
    out += '\n';
    out.append(static_cast<size_t>(depth) * 2, ' ');
    out += obj ? '}' : ']';
}

// ---- table rendering ----------------------------------------------------------------------

// One answer as cell text: "-" for none, lists joined with ", ", records with blanks.
std::string cell(const node *v) {
    if (!v) return "";
    switch (v->kind) {
    case node::null_v: return "-";
    case node::text_v: return v->text;
    case node::int_v: return std::to_string(v->num);
    case node::real_v: return real_text(v->real);
    case node::flag_v: return v->num ? "yes" : "no";
    case node::list_v:
    case node::object_v: break;
    }
    std::string s;
    const char *sep = v->kind == node::list_v ? ", " : " ";
    for (const node &item : v->items) {
        if (!s.empty()) s += sep;
        s += cell(&item);
    }
    return s;
}

struct column {
    const char *key;
    const char *title;
    size_t max_width;
};

void print_table(const node &rows, const std::vector<column> &cols, size_t indent = 2) {
    std::vector<std::vector<std::string>> cells;
    std::vector<std::vector<size_t>> widths;
    std::vector<size_t> colw;
    for (const column &c : cols) colw.push_back(fit(c.title, c.max_width, nullptr).size());
    for (size_t r = 0; r <= rows.items.size(); ++r) {
        std::vector<std::string> line;
        std::vector<size_t> w;
        for (size_t k = 0; k < cols.size(); ++k) {
            std::string raw = r == 0 ? cols[k].title : cell(member(rows.items[r - 1], cols[k].key));
            size_t used = 0;
            line.push_back(fit(raw, cols[k].max_width, &used));
            w.push_back(used);
            if (used > colw[k]) colw[k] = used;
        }
        cells.push_back(std::move(line));
        widths.push_back(std::move(w));
    }
    for (size_t r = 0; r < cells.size(); ++r) {
        std::string out(indent, ' ');
        for (size_t k = 0; k < cols.size(); ++k) {
            out += cells[r][k];
            if (k + 1 < cols.size()) out.append(colw[k] - widths[r][k] + 2, ' ');
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        std::printf("%s\n", out.c_str());
    }
}

void section(const char *title, size_t count) {
    std::printf("\n%s (%zu)\n", title, count);
}

// Label and value on one line; a long value wraps under itself at blanks.
void print_line(const char *label, const std::string &value) {
    const size_t width = 78;
    std::string rest = fit(value, SIZE_MAX, nullptr);
    std::printf("  %-14s", label);
    bool first = true;
    do {
        size_t total = 0;
        fit(rest, SIZE_MAX, &total);
        size_t cut = rest.size();
        if (total > width) {
            std::string head = fit(rest, width, nullptr);
            head.resize(head.size() - 3);  // without its ellipsis
            size_t blank = head.rfind(' ');
            cut = blank == std::string::npos || blank == 0 ? head.size() : blank;
        }
        std::printf("%s%s\n", first ? "" : "                ", rest.substr(0, cut).c_str());
        first = false;
        rest.erase(0, cut);
        while (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    } while (!rest.empty());
}

void print_fields(const node &obj, const std::vector<std::pair<const char *, const char *>> &rows) {
    for (const auto &row : rows) print_line(row.first, cell(member(obj, row.second)));
}

const char *gender_name(long long g) {
    switch (g) {
    case 0: return "not specified";
    case 1: return "female";
    case 2: return "male";
    case 3: return "non-binary";
    default: return "-";
    }
}

void show_collections(const node &all) {
    std::printf("Collections (%zu)\n", all.items.size());
    for (const node &c : all.items) {
        std::printf("\n[%s] %s%s\n", cell(member(c, "id")).c_str(),
                    fit(cell(member(c, "name")), 70, nullptr).c_str(),
                    member(c, "is_auto")->num ? "  (automatic)" : "");
        print_fields(c, {{"backdrop", "backdrop"}, {"cover", "cover"}, {"logo", "logo"}});
        node rows = *member(c, "playlists");
        for (node &p : rows.items) put(p, "count", integer(static_cast<long long>(member(p, "imdb")->items.size())));
        print_table(rows,
                    {{"name", "Playlist", 28},
                     {"origin", "Origin", 6},
                     {"count", "Titles", 6},
                     {"imdb", "IMDb ids", 60}});
    }
}

void show_person(const node &p) {
    std::printf("%s\n", fit(cell(member(p, "name")), 78, nullptr).c_str());
    // -1 is what the library answers for a person without a popularity.
    long long permille = member(p, "popularity_permille")->num;
    char popularity[32] = "-";
    if (permille != -1)
        std::snprintf(popularity, sizeof popularity, "%s%lld.%03lld", permille < 0 ? "-" : "",
                      std::llabs(permille) / 1000, std::llabs(permille) % 1000);
    long long gender = member(p, "gender")->num;
    print_fields(p, {{"IMDb id", "imdb_id"}, {"TMDb id", "id"}, {"known for", "knows_for"},
                     {"department", "known_for_department"}});
    print_line("gender", gender < 0 ? "-" : std::string(gender_name(gender)));
    print_fields(p, {{"born", "birthday"}, {"died", "deathday"}, {"birthplace", "place_of_birth"},
                     {"homepage", "homepage"}, {"profile", "profile_url"}});
    print_line("popularity", popularity);
    print_fields(p, {{"credits", "known_credits"}, {"biography", "biography"}});
    const node &names = *member(p, "names_translate");
    section("Names", names.items.size());
    for (const node &n : names.items) std::printf("  %s\n", fit(cell(&n), 76, nullptr).c_str());
    const node &pictures = *member(p, "pictures");
    section("Pictures", pictures.items.size());
    print_table(pictures, {{"url", "URL", 64}, {"language", "Lang", 4}, {"width", "Width", 6},
                           {"height", "Height", 6}});
    const node &related = *member(p, "related");
    section("Related", related.items.size());
    if (!related.items.empty()) print_line("ids", cell(&related));
}

void show_popular(const node &all, int32_t page) {
    std::printf("Popular people, page %d (%zu)\n", page, all.items.size());
    node rows = all;
    long long pos = 0;
    for (node &p : rows.items) put(p, "pos", integer(++pos));
    print_table(rows, {{"pos", "#", 4},
                       {"id", "TMDb", 8},
                       {"name", "Name", 24},
                       {"imdb_id", "IMDb", 10},
                       {"knows_for", "Known for", 60}});
}

void show_home(const node &h) {
    std::printf("Home page  (hash %s, ContentHash %lld)\n", cell(member(h, "homepage_hash")).c_str(),
                static_cast<long long>(filmo_last_content_hash()));
    const node &basics = *member(h, "basics");
    section("Titles", basics.items.size());
    print_table(basics, {{"imdb", "IMDb", 10},
                         {"title", "Title", 34},
                         {"year", "Year", 4},
                         {"duration", "Min", 4},
                         {"is_tv", "TV", 3},
                         {"genres", "Genres", 26},
                         {"directors", "Directed by", 24},
                         {"ratings", "Ratings", 46}});
    const node &continues = *member(h, "continues");
    section("Continue watching", continues.items.size());
    if (!continues.items.empty())
        print_table(continues, {{"imdb", "IMDb", 10},
                                {"season", "S", 3},
                                {"episode", "E", 3},
                                {"value", "Progress", 8},
                                {"duration", "Duration", 9},
                                {"size_str", "Size", 9},
                                {"updated_at", "Updated", 20}});
    const node &level30s = *member(h, "level30s");
    section("Downloads", level30s.items.size());
    if (!level30s.items.empty())
        print_table(level30s, {{"imdb", "IMDb", 10}, {"size", "Bytes", 12}, {"file_name", "File", 50}});
    const node &spotlights = *member(h, "spotlights");
    section("Spotlights", spotlights.items.size());
    print_table(spotlights, {{"order", "#", 3}, {"title", "Title", 44}, {"items", "Titles", 50}});
    const node &lists = *member(h, "list");
    section("Lists", lists.items.size());
    print_table(lists, {{"id", "Id", 16}, {"value", "Name", 40}});
    const node &extents = *member(h, "extents");
    section("Extents", extents.items.size());
    print_table(extents, {{"id", "Id", 16}, {"value", "Name", 40}});
    const node &peoples = *member(h, "peoples");
    section("People", peoples.items.size());
    print_table(peoples, {{"id", "TMDb", 8}, {"name", "Name", 24}, {"knows_for", "Known for", 60}});
    const node &collections = *member(h, "collections");
    section("Collections", collections.items.size());
    for (const node &c : collections.items) {
        std::printf("  [%s] %s\n", cell(member(c, "id")).c_str(),
                    fit(cell(member(c, "name")), 70, nullptr).c_str());
        print_table(*member(c, "playlists"), {{"name", "Playlist", 28}, {"imdb", "IMDb ids", 70}},
                    4);
    }
    const node &user = *member(h, "user");
    if (!member(user, "has_userinfo")->num && member(user, "email")->kind == node::null_v) return;
    std::printf("\nAccount\n");
    print_fields(user, {{"user id", "id"}, {"email", "email"}});
    const node &memberships = *member(user, "memberships");
    section("Memberships", memberships.items.size());
    print_table(memberships, {{"type", "Type", 4},
                              {"name", "Name", 24},
                              {"is_active", "Active", 6},
                              {"expiration", "Expires", 24}});
    const node &profiles = *member(user, "profiles");
    section("Profiles", profiles.items.size());
    print_table(profiles, {{"id", "Id", 4},
                           {"name", "Name", 20},
                           {"is_enabled", "Enabled", 7},
                           {"is_empty", "Empty", 5},
                           {"deleted", "Deleted", 7},
                           {"poster", "Poster", 50}});
}

// ---- command line -------------------------------------------------------------------------

enum command_t { cmd_none = 0, cmd_home = 1, cmd_collections = 2, cmd_person = 4, cmd_popular = 8 };
constexpr unsigned cmd_any = cmd_home | cmd_collections | cmd_person | cmd_popular;

struct options {
    command_t command = cmd_none;
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
    unsigned used_by = cmd_any;  // commands every option given applies to
    std::string last_limited;    // the last option that applies to some commands only
};

const char usage_text[] =
    "usage: filmo [options] COMMAND [ID]\n"
    "\n"
    "Shows one view of the movie and people catalogue through the filmo library.\n"
    "\n"
    "Commands:\n"
    "  home                the personalised home page (anonymous unless --user is given)\n"
    "  collections         the popular collections with their playlists\n"
    "  person ID           one person, by IMDb id (nm0000138) or numeric TMDb id (6193)\n"
    "  popular             one page of popular people\n"
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
    "Output:\n"
    "  --json              print everything the view's accessors return as one JSON object\n"
    "  --raw               home: print the page's JSON text as the library retained it\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 on success. Otherwise the library's status code, with its last error\n"
    "on standard error:\n"
    "  1 transport failure or refused configuration   6 invalid argument\n"
    "  2 unaccepted HTTP status                       7 no transport installed\n"
    "  3 undecodable body                             8 out of memory\n"
    "  4 empty body or missing payload                9 home page unchanged\n"
    "  5 not found (HTTP 404)\n"
    "and 64 when the command line itself is wrong.\n";

bool parse_int(const std::string &text, long long lo, long long hi, long long *out) {
    if (text.empty()) return false;
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

struct option_spec {
    const char *name;
    bool takes_value;
    unsigned applies_to;
};

const option_spec option_specs[] = {
    {"json", false, cmd_any},          {"raw", false, cmd_home},
    {"help", false, cmd_any},          {"update", false, cmd_home},
    {"version1", false, cmd_home},     {"language", true, cmd_any},
    {"user", true, cmd_home},          {"profile", true, cmd_home},
    {"known-hash", true, cmd_home},    {"page", true, cmd_popular},
    {"page-size", true, cmd_popular},  {"page-numbers", true, cmd_popular},
    {"corpus", true, cmd_any},         {"host", true, cmd_any},
    {"fake-mode", true, cmd_any},
};

// Applies one option; false with a message when its value is unusable.
bool apply_option(options &o, const std::string &name, const char *value, std::string &problem) {
    long long n = 0;
    auto number = [&](long long lo, long long hi) {
        if (parse_int(value, lo, hi, &n)) return true;
        problem = "--" + name + " needs a whole number in " + std::to_string(lo) + ".." +
                  std::to_string(hi) + ", not '" + value + "'";
        return false;
    };
    if (name == "json") o.json = true;
    else if (name == "raw") o.raw = true;
    else if (name == "help") o.help = true;
    else if (name == "update") o.home_flags |= FILMO_HOME_UPDATE;
    else if (name == "version1") o.home_flags |= FILMO_HOME_VERSION_1;
    else if (name == "language") o.language = value;
    else if (name == "user") o.user = value;
    else if (name == "corpus") o.corpus = value;
    else if (name == "host") o.host = value;
    // Numbers are passed on as given within their type: the library judges their range.
    else if (name == "profile") { if (!number(INT32_MIN, INT32_MAX)) return false; o.profile = static_cast<int32_t>(n); }
    else if (name == "known-hash") { if (!number(INT64_MIN, INT64_MAX)) return false; o.has_known_hash = true; o.known_hash = n; }
    else if (name == "page") { if (!number(INT32_MIN, INT32_MAX)) return false; o.page = static_cast<int32_t>(n); }
    else if (name == "page-size") { if (!number(INT32_MIN, INT32_MAX)) return false; o.page_size = static_cast<int32_t>(n); }
    else if (name == "page-numbers") { if (!number(INT32_MIN, INT32_MAX)) return false; o.page_numbers = static_cast<int32_t>(n); }
    else if (name == "fake-mode") { if (!number(INT32_MIN, INT32_MAX)) return false; o.has_mode = true; o.mode = static_cast<int32_t>(n); }
    return true;
}

command_t command_named(const std::string &word) {
    if (word == "home") return cmd_home;
    if (word == "collections") return cmd_collections;
    if (word == "person") return cmd_person;
    if (word == "popular") return cmd_popular;
    return cmd_none;
}

bool parse_args(int argc, char **argv, options &o, std::string &problem) {
    std::vector<std::string> words;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg == "-h") arg = "--help";
        if (arg.compare(0, 2, "--") != 0) {
            problem = "unknown option '" + arg + "'";
            return false;
        }
        std::string name = arg.substr(2);
        const char *value = nullptr;
        size_t eq = name.find('=');
        if (eq != std::string::npos) {
            value = argv[i] + 2 + eq + 1;
            name.erase(eq);
        }
        const option_spec *spec = nullptr;
        for (const option_spec &s : option_specs)
            if (name == s.name) spec = &s;
        if (!spec) {
            problem = "unknown option '--" + name + "'";
            return false;
        }
        if (spec->takes_value && !value) {
            if (i + 1 >= argc) {
                problem = "--" + name + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!spec->takes_value && value) {
            problem = "--" + name + " takes no value";
            return false;
        }
        if (!apply_option(o, name, value, problem)) return false;
        if (spec->applies_to != cmd_any) {
            o.used_by &= spec->applies_to;
            o.last_limited = "--" + name;
        }
    }
    if (o.help) return true;
    if (words.empty()) {
        problem = "no command given";
        return false;
    }
    o.command = command_named(words[0]);
    if (o.command == cmd_none) {
        problem = "unknown command '" + words[0] + "'";
        return false;
    }
    size_t want = o.command == cmd_person ? 2 : 1;
    if (words.size() < want) {
        problem = "person needs an ID (nm0000138 or 6193)";
        return false;
    }
    if (words.size() > want) {
        problem = "unexpected argument '" + words[want] + "'";
        return false;
    }
    if (o.command == cmd_person) o.person_id = words[1];
    if (!(o.used_by & o.command)) {
        problem = o.last_limited + " does not apply to " + words[0];
        return false;
    }
    if (o.host && (o.corpus || o.has_mode)) {
        problem = "--host asks a live server; --corpus and --fake-mode belong to the fixture backend";
        return false;
    }
    return true;
}

// ---- source -------------------------------------------------------------------------------

bool is_dir(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Directory of this program, from the kernel's record of it or else from argv[0].
std::string binary_dir(const char *argv0) {
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    std::string path;
    if (n > 0) {
        path.assign(buf.data(), static_cast<size_t>(n));
    } else if (argv0 && std::strchr(argv0, '/')) {
        char *real = ::realpath(argv0, nullptr);
        path = real ? real : argv0;
        std::free(real);
    }
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The bundled corpus: beside the build tree's tools directory, or where the install put it.
std::string bundled_corpus(const char *argv0, std::string &looked) {
    std::string dir = binary_dir(argv0);
    const std::string candidates[] = {dir + "/../corpus", dir + "/" FILMO_CORPUS_FROM_BINDIR};
    for (const std::string &c : candidates) {
        if (is_dir(c)) return c;
        looked += looked.empty() ? c : " and " + c;
    }
    return std::string();
}

int fail_with_library_error(int status) {
    const char *err = filmo_last_error();
    if (err && *err)
        std::fprintf(stderr, "filmo: %s\n", err);
    else
        std::fprintf(stderr, "filmo: failed with status %d\n", status);
    return status;
}

int install_source(const options &o, const char *argv0) {
    if (o.host) {
        filmo_set_host(o.host);
        int32_t rc = filmo_use_curl();
        return rc ? fail_with_library_error(rc) : 0;
    }
    std::string corpus;
    if (o.corpus) {
        corpus = o.corpus;
    } else {
        std::string looked;
        corpus = bundled_corpus(argv0, looked);
        if (corpus.empty()) {
            std::fprintf(stderr, "filmo: the bundled corpus is not in %s; use --corpus DIR\n",
                         looked.c_str());
            return FILMO_ERR_TRANSPORT;
        }
    }
    int32_t rc = filmo_fake_corpus(corpus.c_str());
    if (rc) return fail_with_library_error(rc);
    filmo_use_fake();
    if (o.has_mode && (rc = filmo_fake_mode(o.mode)) != 0) return fail_with_library_error(rc);
    return 0;
}

int32_t fetch(const options &o) {
    switch (o.command) {
    case cmd_home:
        if (o.has_known_hash) filmo_set_homepage_hash(o.known_hash);
        return filmo_get_homepage(o.user, o.profile, o.language, o.home_flags);
    case cmd_collections: return filmo_get_collections(o.language);
    case cmd_person: return filmo_get_people_detail(o.person_id.c_str(), o.language);
    case cmd_popular:
        return filmo_get_people_popular(o.page, o.page_size, o.page_numbers, o.language);
    case cmd_none: break;
    }
    return FILMO_ERR_ARG;
}

int print_json(const options &o, const char *name, node view) {
    node top = object();
    put(top, "command", text(name));
    put(top, "http_code", integer(filmo_last_http_code()));
    put(top, "content_hash", integer(filmo_last_content_hash()));
    if (!o.host) {
        node &fx = put(top, "fixture", object());
        put(fx, "calls", integer(static_cast<long long>(filmo_fake_calls())));
        put(fx, "url_count", integer(static_cast<long long>(filmo_fake_url_count())));
        put(fx, "failures", integer(static_cast<long long>(filmo_fake_fail_count())));
        put(fx, "last_url", text(filmo_fake_last_url()));
    }
    put(top, name, std::move(view));
    std::string out;
    json_write(out, top, 0);
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int run(const options &o) {
    switch (o.command) {
    case cmd_home: {
        if (o.raw) {
            const char *page = filmo_home_json();
            std::printf("%s\n", page ? page : "");
            return 0;
        }
        node h = gather_home();
        if (o.json) return print_json(o, "home", std::move(h));
        show_home(h);
        return 0;
    }
    case cmd_collections: {
        node c = gather_collections();
        if (o.json) return print_json(o, "collections", std::move(c));
        show_collections(c);
        return 0;
    }
    case cmd_person: {
        node p = gather_person();
        if (o.json) return print_json(o, "person", std::move(p));
        show_person(p);
        return 0;
    }
    case cmd_popular: {
        node p = gather_popular();
        if (o.json) return print_json(o, "popular", std::move(p));
        show_popular(p, o.page);
        return 0;
    }
    case cmd_none: break;
    }
    return exit_usage;
}

}  // namespace

int main(int argc, char **argv) {
    options o;
    std::string problem;
    if (!parse_args(argc, argv, o, problem)) {
        std::fprintf(stderr, "filmo: %s\nTry 'filmo --help'.\n", problem.c_str());
        return exit_usage;
    }
    if (o.help) {
        std::fputs(usage_text, stdout);
        std::printf("\nlibrary version %s\n", filmo_version());
        return 0;
    }
    int rc = install_source(o, argc > 0 ? argv[0] : nullptr);
    if (rc) return rc;
    int32_t status = fetch(o);
    if (status != FILMO_OK) return fail_with_library_error(status);
    rc = run(o);
    std::fflush(stdout);
    return std::ferror(stdout) ? 1 : rc;
}
