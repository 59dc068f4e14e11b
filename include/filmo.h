/*
 * filmo.h: the catalogue client's exported interface.
 *
 * Conventions
 * - Texts are NUL-terminated UTF-8; a text argument may be null where noted.
 * - Fetches and configuration calls return a status code (below) and leave a short message in
 *   the last-error text (filmo_last_error); a success, a cache hit included, empties it.
 * - Each view (home page, collections, person, popular people) holds one result. Accessors read
 *   it by position, never fail and never touch the last error: with nothing to answer they
 *   return a neutral value (0, -1, 0.0 or null). A text they return is borrowed from the view:
 *   it stays valid until that view is replaced by a successful fetch or emptied
 *   (filmo_cache_invalidate, filmo_cache_clear, filmo_shutdown). Never free it.
 * - A failed fetch never disturbs the result already held for its view.
 * - A failure of the real transport reads "transport: transport: WinHttp<Step> failed: <n>", n
 *   being WinHTTP's error number on every platform (see vornak_http.h and README.md).
 * - The library holds no lock: the host serialises every call, accessors included.
 * - The library writes no file, reads no environment variable, starts no thread, logs nothing.
 *
 * Status codes
 *   0 success (also a cache hit)          5 HTTP 404
 *   1 transport failure / refused config  6 invalid argument
 *   2 unaccepted HTTP status              7 no transport installed
 *   3 undecodable body                    8 out of memory
 *   4 empty body or missing payload       9 home page unchanged
 */
#ifndef FILMO_H
#define FILMO_H

#include <stddef.h>
#include <stdint.h>

#include "vornak_http.h"

#define FILMO_API VORNAK_API

#ifdef __cplusplus
extern "C" {
#endif

enum {
    FILMO_OK = 0,
    FILMO_ERR_TRANSPORT = 1,
    FILMO_ERR_HTTP = 2,
    FILMO_ERR_DECODE = 3,
    FILMO_ERR_EMPTY = 4,
    FILMO_ERR_NOT_FOUND = 5,
    FILMO_ERR_ARG = 6,
    FILMO_ERR_NO_TRANSPORT = 7,
    FILMO_ERR_OOM = 8,
    FILMO_HOME_UNCHANGED = 9
};

/* filmo_get_homepage flags */
#define FILMO_HOME_UPDATE 1u    /* bypass the cache; ask the server to update and mark read */
#define FILMO_HOME_VERSION_1 2u /* ask for version 1 of the page instead of 2 */

/* ---- version, configuration, last call --------------------------------------------------- */

/* "1.0.0"; static text. */
FILMO_API const char *filmo_version(void);
/* Server base URL; without "http://" or "https://" it gets "https://" in front. Null or empty:
 * the default. Cut at 255 bytes. */
FILMO_API void filmo_set_host(const char *host);
/* Install the transport an io handle carries (the handle stays the host's); null uninstalls.
 * 0, or 1 when the handle carries no acceptable transport (the old one stays). */
FILMO_API int32_t filmo_set_io(const vornak_io *io);
/* Install the library's real network transport. 0, or 1 when none exists. */
FILMO_API int32_t filmo_use_curl(void);
/* Install the offline fixture backend (see the fixture family). Always 0. */
FILMO_API int32_t filmo_use_fake(void);
/* Last error text; library-owned, never null, changes with the next call that sets or clears it. */
FILMO_API const char *filmo_last_error(void);
/* HTTP status of the last exchange; 0 when none. */
FILMO_API int32_t filmo_last_http_code(void);
/* "ContentHash" of the last home page answer; -1 when none. */
FILMO_API int64_t filmo_last_content_hash(void);

/* ---- fetches ------------------------------------------------------------------------------ */

/* Popular collections in a language (null or empty: "en-US"). */
FILMO_API int32_t filmo_get_collections(const char *language);
/* Personalised home page (zlib answer, hash exchange; 9 when unchanged). */
FILMO_API int32_t filmo_get_homepage(const char *user_id, int32_t profile_id,
                                     const char *language, uint32_t flags);
/* Install a home page the host already holds as JSON text (need not be NUL-terminated). */
FILMO_API int32_t filmo_parse_homepage_json(const char *text, size_t length);
/* One person by IMDb id ("nm...") or numeric TMDb id. */
FILMO_API int32_t filmo_get_people_detail(const char *id, const char *language);
/* One page of popular people: page_index >= 1, page_size 0..100000 (not sent),
 * page_numbers 1..1000. */
FILMO_API int32_t filmo_get_people_popular(int32_t page_index, int32_t page_size,
                                           int32_t page_numbers, const char *language);

/* ---- collections view (texts borrowed from the view) ------------------------------------- */

FILMO_API int32_t filmo_collection_count(void);
FILMO_API int32_t filmo_collection_id(int32_t i);          /* -1 out of range */
FILMO_API const char *filmo_collection_name(int32_t i);
FILMO_API const char *filmo_collection_backdrop(int32_t i);
FILMO_API const char *filmo_collection_cover(int32_t i);
FILMO_API const char *filmo_collection_logo(int32_t i);
FILMO_API int32_t filmo_collection_is_auto(int32_t i);     /* -1 out of range */
FILMO_API int32_t filmo_collection_playlists_count(int32_t i);
FILMO_API const char *filmo_collection_playlist_name(int32_t i, int32_t p);
FILMO_API const char *filmo_collection_playlist_origin(int32_t i, int32_t p);
FILMO_API const char *filmo_collection_playlist_logo(int32_t i, int32_t p);
FILMO_API int32_t filmo_collection_playlist_imdb_count(int32_t i, int32_t p);
FILMO_API const char *filmo_collection_playlist_imdb(int32_t i, int32_t p, int32_t k);

/* ---- home page view (texts borrowed from the view) --------------------------------------- */

/* Stable hash of the retained page text; 0 when none. */
FILMO_API int64_t filmo_homepage_hash(void);
/* The hash the host already holds, sent as "MD5HomePage"; negative stores 0 (none). */
FILMO_API void filmo_set_homepage_hash(int64_t hash);
/* The retained page text, or null. */
FILMO_API const char *filmo_home_json(void);

FILMO_API int32_t filmo_home_list_count(void);
FILMO_API const char *filmo_home_list_id(int32_t i);
FILMO_API const char *filmo_home_list_value(int32_t i);

FILMO_API int32_t filmo_home_continues_count(void);
FILMO_API const char *filmo_home_continue_imdb(int32_t i);
FILMO_API int32_t filmo_home_continue_season(int32_t i);
FILMO_API int32_t filmo_home_continue_episode(int32_t i);
FILMO_API double filmo_home_continue_value(int32_t i);
FILMO_API int64_t filmo_home_continue_size(int32_t i);
FILMO_API const char *filmo_home_continue_duration(int32_t i);
FILMO_API const char *filmo_home_continue_size_str(int32_t i);
FILMO_API int32_t filmo_home_continue_is_duration(int32_t i);
FILMO_API const char *filmo_home_continue_updated(int32_t i);

FILMO_API int32_t filmo_home_level30_count(void);
FILMO_API const char *filmo_home_level30_imdb(int32_t i);
FILMO_API int64_t filmo_home_level30_size(int32_t i);
FILMO_API const char *filmo_home_level30_filename(int32_t i);

FILMO_API int32_t filmo_home_spotlight_count(void);
FILMO_API const char *filmo_home_spotlight_logo(int32_t i);
FILMO_API const char *filmo_home_spotlight_items(int32_t i);
FILMO_API const char *filmo_home_spotlight_title(int32_t i);
FILMO_API int32_t filmo_home_spotlight_order(int32_t i);

FILMO_API int32_t filmo_home_extent_count(void);
FILMO_API const char *filmo_home_extent_id(int32_t i);
FILMO_API const char *filmo_home_extent_value(int32_t i);

FILMO_API int32_t filmo_home_basics_count(void);
FILMO_API const char *filmo_home_basic_imdb(int32_t i);
FILMO_API const char *filmo_home_basic_title(int32_t i);
FILMO_API const char *filmo_home_basic_tagline(int32_t i);
FILMO_API const char *filmo_home_basic_plot(int32_t i);
FILMO_API const char *filmo_home_basic_poster(int32_t i);
FILMO_API const char *filmo_home_basic_picture(int32_t i);
FILMO_API int32_t filmo_home_basic_id(int32_t i);
FILMO_API int32_t filmo_home_basic_year(int32_t i);
FILMO_API int32_t filmo_home_basic_duration(int32_t i);
FILMO_API int32_t filmo_home_basic_is_tv(int32_t i);
FILMO_API int32_t filmo_home_basic_genres_count(int32_t i);
FILMO_API const char *filmo_home_basic_genre(int32_t i, int32_t g);
FILMO_API int32_t filmo_home_basic_directors_count(int32_t i);
FILMO_API const char *filmo_home_basic_director(int32_t i, int32_t d);
FILMO_API int32_t filmo_home_basic_ratings_count(int32_t i);
FILMO_API const char *filmo_home_basic_rating_source(int32_t i, int32_t r);
FILMO_API double filmo_home_basic_rating_value(int32_t i, int32_t r);
/* "imdbid", "title", "tagline", "plot", "posterurl" or "pictureurl" (any case); null for a
 * basic without an IMDb id. */
FILMO_API const char *filmo_home_basic_field(int32_t i, const char *name);

FILMO_API int32_t filmo_home_peoples_count(void);
FILMO_API int32_t filmo_home_people_id(int32_t i);
FILMO_API const char *filmo_home_people_name(int32_t i);
FILMO_API const char *filmo_home_people_knowsfor(int32_t i);
FILMO_API const char *filmo_home_people_profileurl(int32_t i);

FILMO_API int32_t filmo_home_collections_count(void);
FILMO_API int32_t filmo_home_collection_id(int32_t i);     /* -1 out of range */
FILMO_API const char *filmo_home_collection_name(int32_t i);
FILMO_API int32_t filmo_home_collection_playlists_count(int32_t i);
FILMO_API const char *filmo_home_collection_playlist_name(int32_t i, int32_t p);
FILMO_API int32_t filmo_home_collection_playlist_imdb_count(int32_t i, int32_t p);
FILMO_API const char *filmo_home_collection_playlist_imdb(int32_t i, int32_t p, int32_t k);

FILMO_API int32_t filmo_home_has_userinfo(void);
FILMO_API const char *filmo_home_user_id(void);
FILMO_API const char *filmo_home_user_email(void);
FILMO_API int32_t filmo_home_user_memberships_count(void);
FILMO_API int32_t filmo_home_user_membership_type(int32_t i);
FILMO_API const char *filmo_home_user_membership_name(int32_t i);
FILMO_API int32_t filmo_home_user_membership_active(int32_t i);
FILMO_API const char *filmo_home_user_membership_expiration(int32_t i);
FILMO_API int32_t filmo_home_user_profiles_count(void);
FILMO_API int32_t filmo_home_user_profile_id(int32_t i);
FILMO_API const char *filmo_home_user_profile_name(int32_t i);
FILMO_API const char *filmo_home_user_profile_poster(int32_t i);
FILMO_API int32_t filmo_home_user_profile_deleted(int32_t i);
FILMO_API int32_t filmo_home_user_profile_enabled(int32_t i);
FILMO_API int32_t filmo_home_user_profile_empty(int32_t i);

/* ---- person view (texts borrowed from the view) ------------------------------------------ */

FILMO_API int32_t filmo_people_id(void);                    /* -1 when none */
FILMO_API const char *filmo_people_name(void);
FILMO_API const char *filmo_people_knowsfor(void);
FILMO_API const char *filmo_people_profileurl(void);
FILMO_API const char *filmo_people_imdbid(void);
FILMO_API const char *filmo_people_biography(void);
FILMO_API const char *filmo_people_birthday(void);
FILMO_API const char *filmo_people_deathday(void);
FILMO_API const char *filmo_people_homepage(void);
FILMO_API const char *filmo_people_placeofbirth(void);
FILMO_API const char *filmo_people_knownfor_department(void);
FILMO_API const char *filmo_people_knowncredits(void);
FILMO_API int32_t filmo_people_gender(void);                /* -1 when none */
/* Popularity x 1000, rounded; at most 2000000000; -1 when none. */
FILMO_API int32_t filmo_people_popularity_permille(void);
FILMO_API int32_t filmo_people_names_translate_count(void);
FILMO_API const char *filmo_people_names_translate(int32_t i);
FILMO_API int32_t filmo_people_pictures_count(void);
FILMO_API const char *filmo_people_picture_url(int32_t i);
FILMO_API const char *filmo_people_picture_lang(int32_t i);
FILMO_API int32_t filmo_people_picture_w(int32_t i);
FILMO_API int32_t filmo_people_picture_h(int32_t i);
FILMO_API int32_t filmo_people_related_count(void);
FILMO_API const char *filmo_people_related(int32_t i);

/* ---- popular people view (texts borrowed from the view) ---------------------------------- */

FILMO_API int32_t filmo_people_pop_count(void);
FILMO_API int32_t filmo_people_pop_id(int32_t i);           /* -1 when none */
FILMO_API const char *filmo_people_pop_name(int32_t i);
FILMO_API const char *filmo_people_pop_knowsfor(int32_t i);
FILMO_API const char *filmo_people_pop_profileurl(int32_t i);
FILMO_API const char *filmo_people_pop_imdbid(int32_t i);

/* ---- cache -------------------------------------------------------------------------------- */

/* Times-to-live in seconds; a value <= 0 leaves that view's unchanged. */
FILMO_API void filmo_cache_set_ttl(int32_t home, int32_t person, int32_t popular,
                                   int32_t collections);
/* Empty every view. */
FILMO_API void filmo_cache_clear(void);
/* Empty one view ("home", "collections", "person", "popular") when key is null, empty or equal
 * to its key; "*" or null empties all. */
FILMO_API void filmo_cache_invalidate(const char *view, const char *key);
/* *answer (may be null) = 1 when the view holds a fresh result ("*": any result). 0, or 6 for
 * a null or unknown view. */
FILMO_API int32_t filmo_cache_has(const char *view, const char *key, int32_t *answer);
/* Number of views holding a result, fresh or expired (0..4). */
FILMO_API int32_t filmo_cache_entries(void);
/* Empty every view and uninstall the transport; the server URL stays. */
FILMO_API void filmo_shutdown(void);

/* ---- fixture backend (offline corpus) ----------------------------------------------------- */

/* Record the corpus directory (cut at 511 bytes); 1 with "corpus dir required" when empty. */
FILMO_API int32_t filmo_fake_corpus(const char *dir);
/* Failure mode 0..7 (0 serves the corpus); 1 with "fake mode 0..7" otherwise. */
FILMO_API int32_t filmo_fake_mode(int32_t mode);
FILMO_API uint64_t filmo_fake_calls(void);
FILMO_API uint64_t filmo_fake_url_count(void);
FILMO_API uint64_t filmo_fake_fail_count(void);
/* URL of the last request (cut at 1023 bytes); library-owned. */
FILMO_API const char *filmo_fake_last_url(void);
/* Clear the counters, the last URL and the remembered hash; mode and directory stay. */
FILMO_API void filmo_fake_reset(void);

#ifdef __cplusplus
}
#endif

#endif /* FILMO_H */
