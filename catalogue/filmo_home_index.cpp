// The home index: one pass over the retained document into fixed-layout records, so every
// accessor is a bound check and a field load. Texts point into the document; the index owns
// only its arrays.
#include <yyjson.h>

#include <cstdint>
#include <cstdlib>

#include "filmo_internal.h"

namespace {

// The list rule: a missing, non-array or empty member gives no array and count 0; otherwise
// one zeroed record per element, filled from the object elements in document order (others
// are skipped). `fill` may allocate inner arrays and fail; `release` then takes the records
// made so far, the failing one included, with their inner arrays and the array itself.
template <class R>
void release_plain(R *recs, size_t) {
    std::free(recs);
}

template <class R>
int32_t index_list(yyjson_val *arr, R **out, uint64_t *count, int32_t (*fill)(R &, yyjson_val *),
                   void (*release)(R *, size_t) = &release_plain<R>) {
    *out = nullptr;
    *count = 0;
    size_t n = yyjson_arr_size(arr);  // 0 for anything but a non-empty array
    if (n == 0) return 0;
    R *recs = static_cast<R *>(vornak_calloc(n, sizeof(R)));
    if (!recs) return -1;
    size_t made = 0;
    size_t idx, max;
    yyjson_val *el;
    yyjson_arr_foreach(arr, idx, max, el) {
        if (!yyjson_is_obj(el)) continue;
        if (fill(recs[made], el) != 0) {
            release(recs, made + 1);
            return -1;
        }
        ++made;
    }
    *out = recs;
    *count = made;
    return 0;
}

// Looks the list up under its two spellings, then applies the list rule.
template <class R>
int32_t index_member(yyjson_val *obj, const char *first, const char *second, R **out,
                     uint64_t *count, int32_t (*fill)(R &, yyjson_val *),
                     void (*release)(R *, size_t) = &release_plain<R>) {
    return index_list(filmo_geti(obj, first, second), out, count, fill, release);
}

int32_t fill_idval(idval &r, yyjson_val *o) {
    filmo_js(&r.id, o, "Id", "id");
    filmo_js(&r.value, o, "Value", "value");
    return 0;
}

int32_t index_idvals(yyjson_val *value, idval **out, uint64_t *count) {
    return index_list(value, out, count, &fill_idval);
}

int32_t fill_continue(home_continue &r, yyjson_val *o) {
    filmo_js(&r.imdb, o, "IMDbId", "imDbId");
    filmo_ji(&r.season, o, "Season", "season");
    filmo_ji(&r.episode, o, "Episode", "episode");
    filmo_jd(&r.value, o, "Value", "value");
    filmo_jll(&r.size, o, "Size", "size");
    filmo_js(&r.duration, o, "Duration", "duration");  // a text here, unlike a basic's
    filmo_js(&r.size_str, o, "SizeStr", "sizeStr");
    filmo_jb(&r.is_duration, o, "IsDuration", "isDuration");
    filmo_js(&r.updated_at, o, "UpdatedAt", "updatedAt");
    return 0;
}

int32_t fill_level30(home_level30 &r, yyjson_val *o) {
    filmo_js(&r.imdb, o, "IMDbID", "imDbID");
    filmo_jll(&r.size, o, "Size", "size");
    filmo_js(&r.file_name, o, "FileName", "fileName");
    return 0;
}

int32_t fill_spotlight(home_spotlight &r, yyjson_val *o) {
    filmo_js(&r.logo, o, "Logo", "logo");
    filmo_js(&r.items, o, "Items", "items");
    filmo_js(&r.title, o, "Title", "title");
    filmo_ji(&r.order_index, o, "OrderIndex", "orderIndex");
    return 0;
}

// Every numeric member of the "Ratings" object is one rating (source = key); other members
// are skipped. Both arrays stay attached even when no member qualified.
int32_t index_ratings(home_basic &r, yyjson_val *ratings) {
    size_t n = yyjson_obj_size(ratings);  // 0 for anything but a non-empty object
    if (n == 0) return 0;
    r.rating_sources = static_cast<const char **>(vornak_calloc(n, sizeof(const char *)));
    r.rating_values = static_cast<double *>(vornak_calloc(n, sizeof(double)));
    if (!r.rating_sources || !r.rating_values) return -1;  // released with the record
    size_t idx, max, k = 0;
    yyjson_val *key, *val;
    yyjson_obj_foreach(ratings, idx, max, key, val) {
        if (!yyjson_is_num(val)) continue;
        r.rating_sources[k] = yyjson_get_str(key);
        r.rating_values[k] = filmo_val_jd(val);
        ++k;
    }
    r.rating_count = k;
    return 0;
}

int32_t fill_basic(home_basic &r, yyjson_val *o) {
    filmo_js(&r.imdb, o, "IMDbId", "imDbId");
    filmo_js(&r.title, o, "Title", "title");
    filmo_js(&r.tagline, o, "TagLine", "tagLine");
    filmo_js(&r.plot, o, "Plot", "plot");
    filmo_js(&r.poster_url, o, "PosterUrl", "posterUrl");
    filmo_js(&r.picture_url, o, "PictureUrl", "pictureUrl");
    filmo_ji(&r.id, o, "ID", "id");
    filmo_ji(&r.year, o, "Year", "year");
    filmo_ji(&r.duration, o, "Duration", "duration");  // an integer here, unlike a continue's
    filmo_jb(&r.is_tv, o, "IsTVShow", "isTVShow");
    if (filmo_load_strarr(filmo_geti(o, "Genres", "genres"), &r.genres, &r.genre_count) != 0 ||
        filmo_load_strarr(filmo_geti(o, "Directors", "directors"), &r.directors,
                          &r.director_count) != 0)
        return -1;
    return index_ratings(r, filmo_geti(o, "Ratings", "ratings"));
}

void release_basics(home_basic *recs, size_t n) {
    if (!recs) return;
    for (size_t i = 0; i < n; ++i) {
        std::free(recs[i].genres);
        std::free(recs[i].directors);
        std::free(recs[i].rating_sources);
        std::free(recs[i].rating_values);
    }
    std::free(recs);
}

int32_t fill_people(home_people &r, yyjson_val *o) {
    filmo_ji(&r.id, o, "ID", "id");
    filmo_js(&r.name, o, "Name", "name");
    filmo_js(&r.knows_for, o, "KnowsFor", "knowsFor");
    filmo_js(&r.profile_url, o, "ProfileUrl", "profileUrl");
    return 0;
}

// The same record and readers as the collections view.
int32_t fill_collection(collection &r, yyjson_val *o) { return filmo_read_collection(o, &r); }

int32_t fill_membership(membership &r, yyjson_val *o) {
    filmo_ji(&r.type, o, "Type", "type");
    filmo_js(&r.name, o, "Name", "name");
    filmo_jb(&r.is_active, o, "IsActive", "isActive");
    filmo_js(&r.expiration, o, "Expiration", "expiration");
    return 0;
}

int32_t fill_profile(profile &r, yyjson_val *o) {
    filmo_ji(&r.id, o, "ID", "id");
    filmo_js(&r.name, o, "Name", "name");
    filmo_js(&r.poster, o, "Poster", "poster");
    filmo_jb(&r.deleted, o, "Deleted", "deleted");
    filmo_jb(&r.is_enabled, o, "IsEnabled", "isEnabled");
    filmo_jb(&r.is_empty, o, "IsEmpty", "isEmpty");
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
