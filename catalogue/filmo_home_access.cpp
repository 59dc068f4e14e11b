// Accessors of the home page: a flag check, at most three bound checks and a field load each.
// They never fail and never touch the last error; with nothing to answer they give the
// fallback (no text, 0, 0.0; -1 for a collection id).
#include <cstdint>

#include "filmo_internal.h"

namespace {

using list_count = uint64_t filmo_home_index::*;

// Element k of an array of count entries, or null when k is out of range.
template <class T>
const T *at(const T *arr, uint64_t count, int32_t k) {
    return (arr && k >= 0 && static_cast<uint64_t>(k) < count) ? arr + k : nullptr;
}

// Record i of one list of the held home page, or null.
template <class R>
const R *rec(R *filmo_home_index::*arr, list_count count, int32_t i) {
    if (!g_client.home_valid) return nullptr;
    const filmo_home_index &ix = g_client.home_index;
    return at(ix.*arr, ix.*count, i);
}

// A field of a record found (or not) by the look-ups above.
template <class R, class T>
T get(const R *r, T R::*field, T fallback = T{}) {
    return r ? r->*field : fallback;
}

// Entry k of an array that a record owns (genres, directors, ratings, playlist ids).
template <class T>
T nth(const T *arr, uint64_t count, int32_t k, T fallback = T{}) {
    const T *p = at(arr, count, k);
    return p ? *p : fallback;
}

int32_t as_int(uint64_t n) { return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n); }

int32_t count_of(list_count count) {
    return g_client.home_valid ? as_int(g_client.home_index.*count) : 0;
}

const idval *list_rec(int32_t i) {
    return rec(&filmo_home_index::list, &filmo_home_index::list_count, i);
}
const home_continue *cont(int32_t i) {
    return rec(&filmo_home_index::continues, &filmo_home_index::continue_count, i);
}
const home_level30 *level30(int32_t i) {
    return rec(&filmo_home_index::level30s, &filmo_home_index::level30_count, i);
}
const home_spotlight *spot(int32_t i) {
    return rec(&filmo_home_index::spotlights, &filmo_home_index::spotlight_count, i);
}
const idval *extent(int32_t i) {
    return rec(&filmo_home_index::extents, &filmo_home_index::extent_count, i);
}
const home_basic *basic(int32_t i) {
    return rec(&filmo_home_index::basics, &filmo_home_index::basic_count, i);
}
const home_people *people(int32_t i) {
    return rec(&filmo_home_index::peoples, &filmo_home_index::people_count, i);
}
const collection *coll(int32_t i) {
    return rec(&filmo_home_index::collections, &filmo_home_index::collection_count, i);
}
const membership *member(int32_t i) {
    return rec(&filmo_home_index::memberships, &filmo_home_index::membership_count, i);
}
const profile *prof(int32_t i) {
    return rec(&filmo_home_index::profiles, &filmo_home_index::profile_count, i);
}
const playlist *plist(int32_t i, int32_t p) {
    const collection *c = coll(i);
    return c ? at(c->playlists, c->playlist_count, p) : nullptr;
}

// Byte-wise equality after folding ASCII A-Z only, whatever the locale.
bool same_ascii_nocase(const char *a, const char *b) {
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + ('a' - 'A'));
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + ('a' - 'A'));
        if (x != y) return false;
        if (x == 0) return true;
    }
}

struct named_field {
    const char *name;
    const char *home_basic::*field;
};
const named_field k_basic_fields[] = {
    {"imdbid", &home_basic::imdb},         {"title", &home_basic::title},
    {"tagline", &home_basic::tagline},     {"plot", &home_basic::plot},
    {"posterurl", &home_basic::poster_url}, {"pictureurl", &home_basic::picture_url},
};

}  // namespace

extern "C" {

// ---- list, extents -------------------------------------------------------------------------

int32_t filmo_home_list_count(void) { return count_of(&filmo_home_index::list_count); }
const char *filmo_home_list_id(int32_t i) { return get(list_rec(i), &idval::id); }
const char *filmo_home_list_value(int32_t i) { return get(list_rec(i), &idval::value); }

int32_t filmo_home_extent_count(void) { return count_of(&filmo_home_index::extent_count); }
const char *filmo_home_extent_id(int32_t i) { return get(extent(i), &idval::id); }
const char *filmo_home_extent_value(int32_t i) { return get(extent(i), &idval::value); }

// ---- continues -----------------------------------------------------------------------------

int32_t filmo_home_continues_count(void) {
    return count_of(&filmo_home_index::continue_count);
}
const char *filmo_home_continue_imdb(int32_t i) { return get(cont(i), &home_continue::imdb); }
int32_t filmo_home_continue_season(int32_t i) { return get(cont(i), &home_continue::season); }
int32_t filmo_home_continue_episode(int32_t i) { return get(cont(i), &home_continue::episode); }
double filmo_home_continue_value(int32_t i) { return get(cont(i), &home_continue::value); }
int64_t filmo_home_continue_size(int32_t i) { return get(cont(i), &home_continue::size); }
const char *filmo_home_continue_duration(int32_t i) {
    return get(cont(i), &home_continue::duration);
}
const char *filmo_home_continue_size_str(int32_t i) {
    return get(cont(i), &home_continue::size_str);
}
int32_t filmo_home_continue_is_duration(int32_t i) {
    return get(cont(i), &home_continue::is_duration);
}
const char *filmo_home_continue_updated(int32_t i) {
    return get(cont(i), &home_continue::updated_at);
}

// ---- level30s, spotlights ------------------------------------------------------------------

int32_t filmo_home_level30_count(void) { return count_of(&filmo_home_index::level30_count); }
const char *filmo_home_level30_imdb(int32_t i) { return get(level30(i), &home_level30::imdb); }
int64_t filmo_home_level30_size(int32_t i) { return get(level30(i), &home_level30::size); }
const char *filmo_home_level30_filename(int32_t i) {
    return get(level30(i), &home_level30::file_name);
}

int32_t filmo_home_spotlight_count(void) {
    return count_of(&filmo_home_index::spotlight_count);
}
const char *filmo_home_spotlight_logo(int32_t i) { return get(spot(i), &home_spotlight::logo); }
const char *filmo_home_spotlight_items(int32_t i) {
    return get(spot(i), &home_spotlight::items);
}
const char *filmo_home_spotlight_title(int32_t i) {
    return get(spot(i), &home_spotlight::title);
}
int32_t filmo_home_spotlight_order(int32_t i) {
    return get(spot(i), &home_spotlight::order_index);
}

// ---- basics --------------------------------------------------------------------------------

int32_t filmo_home_basics_count(void) { return count_of(&filmo_home_index::basic_count); }
const char *filmo_home_basic_imdb(int32_t i) { return get(basic(i), &home_basic::imdb); }
const char *filmo_home_basic_title(int32_t i) { return get(basic(i), &home_basic::title); }
const char *filmo_home_basic_tagline(int32_t i) { return get(basic(i), &home_basic::tagline); }
const char *filmo_home_basic_plot(int32_t i) { return get(basic(i), &home_basic::plot); }
const char *filmo_home_basic_poster(int32_t i) { return get(basic(i), &home_basic::poster_url); }
const char *filmo_home_basic_picture(int32_t i) {
    return get(basic(i), &home_basic::picture_url);
}
int32_t filmo_home_basic_id(int32_t i) { return get(basic(i), &home_basic::id); }
int32_t filmo_home_basic_year(int32_t i) { return get(basic(i), &home_basic::year); }
int32_t filmo_home_basic_duration(int32_t i) { return get(basic(i), &home_basic::duration); }
int32_t filmo_home_basic_is_tv(int32_t i) { return get(basic(i), &home_basic::is_tv); }

int32_t filmo_home_basic_genres_count(int32_t i) {
    return as_int(get(basic(i), &home_basic::genre_count));
}
const char *filmo_home_basic_genre(int32_t i, int32_t g) {
    const home_basic *b = basic(i);
    return b ? nth(b->genres, b->genre_count, g) : nullptr;
}
int32_t filmo_home_basic_directors_count(int32_t i) {
    return as_int(get(basic(i), &home_basic::director_count));
}
const char *filmo_home_basic_director(int32_t i, int32_t d) {
    const home_basic *b = basic(i);
    return b ? nth(b->directors, b->director_count, d) : nullptr;
}
int32_t filmo_home_basic_ratings_count(int32_t i) {
    return as_int(get(basic(i), &home_basic::rating_count));
}
const char *filmo_home_basic_rating_source(int32_t i, int32_t r) {
    const home_basic *b = basic(i);
    return b ? nth(b->rating_sources, b->rating_count, r) : nullptr;
}
double filmo_home_basic_rating_value(int32_t i, int32_t r) {
    const home_basic *b = basic(i);
    return b ? nth(b->rating_values, b->rating_count, r) : 0.0;
}

// Only a basic with an IMDb id answers by name, even where the dedicated accessors answer.
const char *filmo_home_basic_field(int32_t i, const char *name) {
    const home_basic *b = basic(i);
    if (!b || !b->imdb || !name) return nullptr;
    for (const named_field &f : k_basic_fields)
        if (same_ascii_nocase(name, f.name)) return b->*f.field;
    return nullptr;
}

// ---- peoples -------------------------------------------------------------------------------

int32_t filmo_home_peoples_count(void) { return count_of(&filmo_home_index::people_count); }
int32_t filmo_home_people_id(int32_t i) { return get(people(i), &home_people::id); }
const char *filmo_home_people_name(int32_t i) { return get(people(i), &home_people::name); }
const char *filmo_home_people_knowsfor(int32_t i) {
    return get(people(i), &home_people::knows_for);
}
const char *filmo_home_people_profileurl(int32_t i) {
    return get(people(i), &home_people::profile_url);
}

// ---- collections ---------------------------------------------------------------------------

int32_t filmo_home_collections_count(void) {
    return count_of(&filmo_home_index::collection_count);
}
int32_t filmo_home_collection_id(int32_t i) { return get(coll(i), &collection::id, -1); }
const char *filmo_home_collection_name(int32_t i) { return get(coll(i), &collection::name); }
int32_t filmo_home_collection_playlists_count(int32_t i) {
    return as_int(get(coll(i), &collection::playlist_count));
}
const char *filmo_home_collection_playlist_name(int32_t i, int32_t p) {
    return get(plist(i, p), &playlist::name);
}
int32_t filmo_home_collection_playlist_imdb_count(int32_t i, int32_t p) {
    return as_int(get(plist(i, p), &playlist::imdb_count));
}
const char *filmo_home_collection_playlist_imdb(int32_t i, int32_t p, int32_t k) {
    const playlist *pl = plist(i, p);
    return pl ? nth(pl->imdb_ids, pl->imdb_count, k) : nullptr;
}

// ---- account -------------------------------------------------------------------------------

int32_t filmo_home_has_userinfo(void) {
    return g_client.home_valid ? g_client.home_index.has_userinfo : 0;
}
const char *filmo_home_user_id(void) {
    return g_client.home_valid ? g_client.home_index.user_id : nullptr;
}
const char *filmo_home_user_email(void) {
    return g_client.home_valid ? g_client.home_index.user_email : nullptr;
}

int32_t filmo_home_user_memberships_count(void) {
    return count_of(&filmo_home_index::membership_count);
}
int32_t filmo_home_user_membership_type(int32_t i) { return get(member(i), &membership::type); }
const char *filmo_home_user_membership_name(int32_t i) {
    return get(member(i), &membership::name);
}
int32_t filmo_home_user_membership_active(int32_t i) {
    return get(member(i), &membership::is_active);
}
const char *filmo_home_user_membership_expiration(int32_t i) {
    return get(member(i), &membership::expiration);
}

int32_t filmo_home_user_profiles_count(void) {
    return count_of(&filmo_home_index::profile_count);
}
int32_t filmo_home_user_profile_id(int32_t i) { return get(prof(i), &profile::id); }
const char *filmo_home_user_profile_name(int32_t i) { return get(prof(i), &profile::name); }
const char *filmo_home_user_profile_poster(int32_t i) { return get(prof(i), &profile::poster); }
int32_t filmo_home_user_profile_deleted(int32_t i) { return get(prof(i), &profile::deleted); }
int32_t filmo_home_user_profile_enabled(int32_t i) { return get(prof(i), &profile::is_enabled); }
int32_t filmo_home_user_profile_empty(int32_t i) { return get(prof(i), &profile::is_empty); }

}  // extern "C"
