// The home index: one pass over the retained document into fixed-layout records, so every
// accessor is a bound check and a field load. Texts point into the document; the index owns
// only its arrays.
#include <yyjson.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "filmo_internal.h"
#include "filmo_list_rule.h"

namespace {

// Looks the list up under its two spellings, then applies the list rule.
template <class R>
int32_t index_member(yyjson_val *obj, const char *first, const char *second, R **out,
                     uint64_t *count, int32_t (*fill)(R &, yyjson_val *),
                     void (*release)(R *, size_t) = &release_plain<R>) {
    return index_list(filmo_geti(obj, first, second), out, count, fill, release);
}

// ---- one-pass record reader ----------------------------------------------------------------
//
// A record's fields are found as filmo_geti finds them (first spelling exactly, else the second
// exactly, else the first case-blind), but in one walk of the object instead of up to three walks
// per field: each key is looked up once by its length among the record's spellings, and per field
// the first member of each of the three kinds is kept. Picked in that order afterwards, the
// result is the member the three ordered walks would have found.

constexpr size_t k_max_name = 24;  // every record spelling is shorter
using field_mask = uint32_t;

struct spelling {
    const char *first;
    const char *second;
};

constexpr size_t clen(const char *s) {
    size_t n = 0;
    while (s[n] != '\0') ++n;
    return n;
}

constexpr bool same(const char *a, const char *b) {
    size_t i = 0;
    while (a[i] != '\0' && a[i] == b[i]) ++i;
    return a[i] == b[i];
}

template <size_t N>
struct record_keys {
    static_assert(N > 0 && N <= 32, "one bit per field");
    static constexpr size_t count = N;
    spelling names[N];
    uint8_t first_len[N];
    uint8_t second_len[N];          // 0: no second spelling of its own (absent or the same)
    field_mask by_len[k_max_name];  // the fields that have a spelling of this length

    // Evaluated at compile time: a first spelling that is null, empty or not shorter than
    // k_max_name fails the build.
    constexpr explicit record_keys(const spelling (&s)[N])
        : names{}, first_len{}, second_len{}, by_len{} {
        for (size_t i = 0; i < N; ++i) {
            names[i] = s[i];
            first_len[i] = static_cast<uint8_t>(clen(s[i].first));
            second_len[i] = static_cast<uint8_t>(
                s[i].second && !same(s[i].first, s[i].second) ? clen(s[i].second) : 0);
            by_len[first_len[i]] |= field_mask{1} << i;
            if (second_len[i] != 0) by_len[second_len[i]] |= field_mask{1} << i;
        }
    }
};

template <size_t N>
constexpr record_keys<N> keys_of(const spelling (&s)[N]) {
    return record_keys<N>(s);
}

constexpr unsigned char fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

// Only A to Z fold, as tolower does in the default locale. The name holds no NUL, so a key
// with a NUL among its first n bytes never matches.
bool folded_eq(const char *key, const char *name, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (fold(static_cast<unsigned char>(key[i])) != fold(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

// Byte equality of two short texts without a call: whole words where the length allows,
// the last word overlapping the one before, never a byte past either end.
inline bool same_bytes(const char *a, const char *b, size_t n) {
    if (n >= 8) {
        uint64_t x, y;
        for (size_t i = 0; i + 8 < n; i += 8) {
            std::memcpy(&x, a + i, 8);
            std::memcpy(&y, b + i, 8);
            if (x != y) return false;
        }
        std::memcpy(&x, a + n - 8, 8);
        std::memcpy(&y, b + n - 8, 8);
        return x == y;
    }
    if (n >= 4) {
        uint32_t x, y, u, w;
        std::memcpy(&x, a, 4);
        std::memcpy(&y, b, 4);
        std::memcpy(&u, a + n - 4, 4);
        std::memcpy(&w, b + n - 4, 4);
        return x == y && u == w;
    }
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// Position of the first NUL among the first n bytes, or n.
size_t nul_at(const char *key, size_t n) {
    size_t i = 0;
    while (i < n && key[i] != '\0') ++i;
    return i;
}

// out[i] receives what filmo_geti(obj, names[i].first, names[i].second) answers.
template <size_t N>
void read_fields(yyjson_val *obj, const record_keys<N> &keys, yyjson_val *(&out)[N]) {
    yyjson_val *second[N] = {};
    yyjson_val *folded[N] = {};
    for (size_t i = 0; i < N; ++i) out[i] = nullptr;  // the exact first-spelling matches
    if (!yyjson_is_obj(obj)) return;
    constexpr field_mask all = N == 32 ? ~field_mask{0} : (field_mask{1} << N) - 1;
    field_mask settled = 0;  // fields holding an exact first match: nothing later outranks it
    size_t idx, max;
    yyjson_val *key, *val;
    yyjson_obj_foreach(obj, idx, max, key, val) {
        const char *k = unsafe_yyjson_get_str(key);
        const size_t len = unsafe_yyjson_get_len(key);
        bool matched = false;  // then the key holds no NUL: the names hold none
        if (len < k_max_name) {
            for (field_mask m = keys.by_len[len] & ~settled; m != 0; m &= m - 1) {
                const unsigned i = static_cast<unsigned>(__builtin_ctz(m));
                if (keys.first_len[i] == len) {
                    if (same_bytes(k, keys.names[i].first, len)) {
                        out[i] = val;
                        settled |= field_mask{1} << i;
                        matched = true;
                        continue;
                    }
                    if (folded_eq(k, keys.names[i].first, len)) {
                        if (!folded[i]) folded[i] = val;
                        matched = true;
                    }
                }
                if (keys.second_len[i] == len && same_bytes(k, keys.names[i].second, len)) {
                    if (!second[i]) second[i] = val;
                    matched = true;
                }
            }
        }
        // A key with an embedded NUL is compared case-blind up to that NUL.
        const size_t cut = matched ? len : nul_at(k, len < k_max_name ? len : k_max_name);
        if (cut < len && cut < k_max_name) {
            for (field_mask m = keys.by_len[cut] & ~settled; m != 0; m &= m - 1) {
                const unsigned i = static_cast<unsigned>(__builtin_ctz(m));
                if (keys.first_len[i] == cut && !folded[i] &&
                    folded_eq(k, keys.names[i].first, cut))
                    folded[i] = val;
            }
        }
        if (settled == all) break;
    }
    for (size_t i = 0; i < N; ++i)
        if (!out[i]) out[i] = second[i] ? second[i] : folded[i];
}

template <size_t N>
using field_vals = yyjson_val *[N];

constexpr auto k_idval = keys_of({{"Id", "id"}, {"Value", "value"}});

int32_t fill_idval(idval &r, yyjson_val *o) {
    field_vals<k_idval.count> v;
    read_fields(o, k_idval, v);
    filmo_val_js(v[0], &r.id);
    filmo_val_js(v[1], &r.value);
    return 0;
}

int32_t index_idvals(yyjson_val *value, idval **out, uint64_t *count) {
    return index_list(value, out, count, &fill_idval);
}

constexpr auto k_continue = keys_of({{"IMDbId", "imDbId"},
                                     {"Season", "season"},
                                     {"Episode", "episode"},
                                     {"Value", "value"},
                                     {"Size", "size"},
                                     {"Duration", "duration"},
                                     {"SizeStr", "sizeStr"},
                                     {"IsDuration", "isDuration"},
                                     {"UpdatedAt", "updatedAt"}});

int32_t fill_continue(home_continue &r, yyjson_val *o) {
    field_vals<k_continue.count> v;
    read_fields(o, k_continue, v);
    filmo_val_js(v[0], &r.imdb);
    filmo_val_ji(v[1], &r.season);
    filmo_val_ji(v[2], &r.episode);
    r.value = filmo_val_jd(v[3]);
    filmo_val_jll(v[4], &r.size);
    filmo_val_js(v[5], &r.duration);  // a text here, unlike a basic's
    filmo_val_js(v[6], &r.size_str);
    filmo_val_jb(v[7], &r.is_duration);
    filmo_val_js(v[8], &r.updated_at);
    return 0;
}

constexpr auto k_level30 =
    keys_of({{"IMDbID", "imDbID"}, {"Size", "size"}, {"FileName", "fileName"}});

int32_t fill_level30(home_level30 &r, yyjson_val *o) {
    field_vals<k_level30.count> v;
    read_fields(o, k_level30, v);
    filmo_val_js(v[0], &r.imdb);
    filmo_val_jll(v[1], &r.size);
    filmo_val_js(v[2], &r.file_name);
    return 0;
}

constexpr auto k_spotlight = keys_of(
    {{"Logo", "logo"}, {"Items", "items"}, {"Title", "title"}, {"OrderIndex", "orderIndex"}});

int32_t fill_spotlight(home_spotlight &r, yyjson_val *o) {
    field_vals<k_spotlight.count> v;
    read_fields(o, k_spotlight, v);
    filmo_val_js(v[0], &r.logo);
    filmo_val_js(v[1], &r.items);
    filmo_val_js(v[2], &r.title);
    filmo_val_ji(v[3], &r.order_index);
    return 0;
}

// A basic's genres, directors and ratings share one block, the doubles first for their
// alignment: one allocation per basic where there were four. Each array is attached exactly
// when its JSON member is non-empty (a "Genres" of numbers keeps its array with count 0; a
// "Ratings" object without numbers keeps both of its arrays), and `block_of` finds the block
// again from the first of them.
int32_t index_arrays(home_basic &r, yyjson_val *genres, yyjson_val *directors,
                     yyjson_val *ratings) {
    const size_t ng = yyjson_arr_size(genres);  // 0 for anything but a non-empty array
    const size_t nd = yyjson_arr_size(directors);
    const size_t nr = yyjson_obj_size(ratings);  // 0 for anything but a non-empty object
    if (ng == 0 && nd == 0 && nr == 0) return 0;
    // The counts are of values the document holds, each far larger than its slot: no overflow.
    char *block = static_cast<char *>(
        vornak_calloc(1, nr * sizeof(double) + (nr + ng + nd) * sizeof(const char *)));
    if (!block) return -1;
    const char **texts = reinterpret_cast<const char **>(block + nr * sizeof(double));
    if (nr != 0) {
        r.rating_values = reinterpret_cast<double *>(block);
        r.rating_sources = texts;
        texts += nr;
        // Every numeric member is one rating (source = key); other members are skipped.
        size_t idx, max, k = 0;
        yyjson_val *key, *val;
        yyjson_obj_foreach(ratings, idx, max, key, val) {
            if (!yyjson_is_num(val)) continue;
            r.rating_sources[k] = unsafe_yyjson_get_str(key);
            r.rating_values[k] = filmo_val_jd(val);
            ++k;
        }
        r.rating_count = k;
    }
    if (ng != 0) {
        r.genres = texts;
        r.genre_count = filmo_val_strarr(genres, texts);
        texts += ng;
    }
    if (nd != 0) {
        r.directors = texts;
        r.director_count = filmo_val_strarr(directors, texts);
    }
    return 0;
}

void *block_of(const home_basic &r) {
    if (r.rating_values) return r.rating_values;
    if (r.genres) return static_cast<void *>(r.genres);
    return static_cast<void *>(r.directors);
}

constexpr auto k_basic = keys_of({{"IMDbId", "imDbId"},
                                  {"Title", "title"},
                                  {"TagLine", "tagLine"},
                                  {"Plot", "plot"},
                                  {"PosterUrl", "posterUrl"},
                                  {"PictureUrl", "pictureUrl"},
                                  {"ID", "id"},
                                  {"Year", "year"},
                                  {"Duration", "duration"},
                                  {"IsTVShow", "isTVShow"},
                                  {"Genres", "genres"},
                                  {"Directors", "directors"},
                                  {"Ratings", "ratings"}});

int32_t fill_basic(home_basic &r, yyjson_val *o) {
    field_vals<k_basic.count> v;
    read_fields(o, k_basic, v);
    filmo_val_js(v[0], &r.imdb);
    filmo_val_js(v[1], &r.title);
    filmo_val_js(v[2], &r.tagline);
    filmo_val_js(v[3], &r.plot);
    filmo_val_js(v[4], &r.poster_url);
    filmo_val_js(v[5], &r.picture_url);
    filmo_val_ji(v[6], &r.id);
    filmo_val_ji(v[7], &r.year);
    filmo_val_ji(v[8], &r.duration);  // an integer here, unlike a continue's
    filmo_val_jb(v[9], &r.is_tv);
    return index_arrays(r, v[10], v[11], v[12]);
}

void release_basics(home_basic *recs, size_t n) {
    if (!recs) return;
    for (size_t i = 0; i < n; ++i) std::free(block_of(recs[i]));
    std::free(recs);
}

constexpr auto k_people = keys_of(
    {{"ID", "id"}, {"Name", "name"}, {"KnowsFor", "knowsFor"}, {"ProfileUrl", "profileUrl"}});

int32_t fill_people(home_people &r, yyjson_val *o) {
    field_vals<k_people.count> v;
    read_fields(o, k_people, v);
    filmo_val_ji(v[0], &r.id);
    filmo_val_js(v[1], &r.name);
    filmo_val_js(v[2], &r.knows_for);
    filmo_val_js(v[3], &r.profile_url);
    return 0;
}

// The same record and readers as the collections view.
int32_t fill_collection(collection &r, yyjson_val *o) { return filmo_read_collection(o, &r); }

constexpr auto k_membership = keys_of({{"Type", "type"},
                                       {"Name", "name"},
                                       {"IsActive", "isActive"},
                                       {"Expiration", "expiration"}});

int32_t fill_membership(membership &r, yyjson_val *o) {
    field_vals<k_membership.count> v;
    read_fields(o, k_membership, v);
    filmo_val_ji(v[0], &r.type);
    filmo_val_js(v[1], &r.name);
    filmo_val_jb(v[2], &r.is_active);
    filmo_val_js(v[3], &r.expiration);
    return 0;
}

constexpr auto k_profile = keys_of({{"ID", "id"},
                                    {"Name", "name"},
                                    {"Poster", "poster"},
                                    {"Deleted", "deleted"},
                                    {"IsEnabled", "isEnabled"},
                                    {"IsEmpty", "isEmpty"}});

int32_t fill_profile(profile &r, yyjson_val *o) {
    field_vals<k_profile.count> v;
    read_fields(o, k_profile, v);
    filmo_val_ji(v[0], &r.id);
    filmo_val_js(v[1], &r.name);
    filmo_val_js(v[2], &r.poster);
    filmo_val_jb(v[3], &r.deleted);
    filmo_val_jb(v[4], &r.is_enabled);
    filmo_val_jb(v[5], &r.is_empty);
    return 0;
}

// The account data of "UserInfo"; anything but an object leaves it empty.
int32_t index_account(yyjson_val *info, filmo_home_index &ix) {
    if (!yyjson_is_obj(info)) return 0;
    filmo_js(&ix.user_id, info, "ID", "id");
    filmo_js(&ix.user_email, info, "Email", "email");
    return index_member(info, "Memberships", "memberships", &ix.memberships,
                        &ix.membership_count, &fill_membership) != 0 ||
                   index_member(info, "Profiles", "profiles", &ix.profiles, &ix.profile_count,
                                &fill_profile) != 0
               ? -1
               : 0;
}

int32_t index_all(yyjson_val *root, filmo_home_index &ix) {
    if (index_idvals(filmo_geti(root, "List", "list"), &ix.list, &ix.list_count) != 0 ||
        index_member(root, "Continues", "continues", &ix.continues, &ix.continue_count,
                     &fill_continue) != 0 ||
        index_member(root, "Level30s", "level30s", &ix.level30s, &ix.level30_count,
                     &fill_level30) != 0 ||
        index_member(root, "Spotlights", "spotlights", &ix.spotlights, &ix.spotlight_count,
                     &fill_spotlight) != 0 ||
        index_idvals(filmo_geti(root, "ExtentList", "extentList"), &ix.extents,
                     &ix.extent_count) != 0 ||
        index_member(root, "Basics", "basics", &ix.basics, &ix.basic_count, &fill_basic,
                     &release_basics) != 0 ||
        index_member(root, "Peoples", "peoples", &ix.peoples, &ix.people_count,
                     &fill_people) != 0 ||
        index_member(root, "CollectionPlaylists", "collectionPlaylists", &ix.collections,
                     &ix.collection_count, &fill_collection, &filmo_free_collection_records) != 0)
        return -1;
    if (index_account(filmo_geti(root, "UserInfo", "userInfo"), ix) != 0) return -1;
    // A present id text counts even when empty; an email alone does not.
    ix.has_userinfo = (ix.user_id || ix.membership_count > 0 || ix.profile_count > 0) ? 1 : 0;
    return 0;
}

}  // namespace

int32_t filmo_index_home_doc(yyjson_val *root, filmo_home_index *index) {
    if (!index) return -1;
    *index = filmo_home_index{};
    if (!yyjson_is_obj(root)) return 0;
    // Built aside and handed over whole: on exhausted memory the caller gets an empty index.
    filmo_home_index ix{};
    if (index_all(root, ix) != 0) {
        filmo_free_home_index(&ix);
        return -1;
    }
    *index = ix;
    return 0;
}

void filmo_free_home_index(filmo_home_index *index) {
    if (!index) return;
    release_basics(index->basics, index->basic_count);
    filmo_free_collection_records(index->collections, index->collection_count);
    std::free(index->list);
    std::free(index->continues);
    std::free(index->level30s);
    std::free(index->spotlights);
    std::free(index->extents);
    std::free(index->peoples);
    std::free(index->memberships);
    std::free(index->profiles);
    *index = filmo_home_index{};
}
