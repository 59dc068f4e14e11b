// Internal interface of the catalogue client: the process-wide state record, the records of the
// views, and the operations the modules share. Nothing here is exported from the library.
#ifndef FILMO_INTERNAL_H
#define FILMO_INTERNAL_H

#include <yyjson.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "filmo.h"
#include "vornak_alloc.h"
#include "vornak_http.h"

// ---- shared texts ------------------------------------------------------------------------

#define FILMO_DEFAULT_BASE_URL "https://catalogue.filmo.example"
#define FILMO_MSG_NO_TRANSPORT "no transport installed (filmo_use_curl / filmo_set_io)"
#define FILMO_DEFAULT_LANGUAGE "en-US"

// ---- records of the views ----------------------------------------------------------------

struct playlist {
    const char *name;
    const char *origin_country;
    const char *logo;
    const char **imdb_ids;  // owned block of pointers into the document
    size_t imdb_count;
};

struct collection {
    int32_t id;
    const char *backdrop;
    const char *logo;
    const char *cover;
    const char *name;
    int32_t is_auto;
    playlist *playlists;  // owned
    size_t playlist_count;
};

struct idval {
    const char *id;
    const char *value;
};

struct home_continue {
    const char *imdb;
    int32_t season;
    int32_t episode;
    double value;
    int64_t size;
    const char *duration;
    const char *size_str;
    int32_t is_duration;
    const char *updated_at;
};

struct home_level30 {
    const char *imdb;
    int64_t size;
    const char *file_name;
};

struct home_spotlight {
    const char *logo;
    const char *items;
    const char *title;
    int32_t order_index;
};

struct home_basic {
    const char *imdb;
    const char *title;
    const char *tagline;
    const char *plot;
    const char *poster_url;
    const char *picture_url;
    int32_t id;
    int32_t year;
    int32_t duration;
    int32_t is_tv;
    // The four arrays below are owned together, as one block released by the home index.
    const char **genres;
    size_t genre_count;
    const char **directors;
    size_t director_count;
    const char **rating_sources;
    double *rating_values;
    size_t rating_count;
};

struct home_people {
    int32_t id;
    const char *name;
    const char *knows_for;
    const char *profile_url;
};

struct membership {
    int32_t type;
    const char *name;
    int32_t is_active;
    const char *expiration;
};

struct profile {
    int32_t id;
    const char *name;
    const char *poster;
    int32_t deleted;
    int32_t is_enabled;
    int32_t is_empty;
};

// Every list is an owned array sized to its JSON array, of which the first count are filled.
struct filmo_home_index {
    idval *list;
    uint64_t list_count;
    home_continue *continues;
    uint64_t continue_count;
    home_level30 *level30s;
    uint64_t level30_count;
    home_spotlight *spotlights;
    uint64_t spotlight_count;
    idval *extents;
    uint64_t extent_count;
    home_basic *basics;
    uint64_t basic_count;
    home_people *peoples;
    uint64_t people_count;
    collection *collections;
    uint64_t collection_count;
    const char *user_id;
    const char *user_email;
    membership *memberships;
    uint64_t membership_count;
    profile *profiles;
    uint64_t profile_count;
    int32_t has_userinfo;
};

// ---- the client state record -------------------------------------------------------------

struct filmo_state {
    const vornak_http *transport;
    int32_t has_transport;
    char base_url[256];
    char last_error[256];
    int32_t last_http_code;
    int64_t last_content_hash;

    // home slot
    yyjson_doc *home_doc;
    yyjson_val *home_root;
    char *home_json;
    size_t home_json_len;
    filmo_home_index home_index;
    int64_t home_hash;
    int64_t homepage_hash;  // the host's known hash; not part of what the slot empties
    char home_key[160];
    int64_t home_fetched_at;
    int32_t home_ttl;
    int32_t home_valid;

    // collections slot
    yyjson_doc *colls_doc;
    yyjson_val *colls_root;
    collection *colls_records;
    size_t colls_count;
    size_t colls_capacity;
    char colls_key[32];
    int64_t colls_fetched_at;
    int32_t colls_ttl;
    int32_t colls_valid;

    // person slot
    yyjson_doc *person_doc;
    yyjson_val *person_root;
    char person_key[80];
    int64_t person_fetched_at;
    int32_t person_ttl;
    int32_t person_valid;

    // popular slot
    yyjson_doc *pop_doc;
    yyjson_val *pop_root;
    uint64_t pop_count;
    char pop_key[80];
    int64_t pop_fetched_at;
    int32_t pop_ttl;
    int32_t pop_valid;
};

// The one process-wide record; zero at load.
extern filmo_state g_client;

// Default times-to-live in seconds.
enum : int32_t {
    FILMO_TTL_HOME = 900,
    FILMO_TTL_COLLS = 1560,
    FILMO_TTL_PERSON = 21600,
    FILMO_TTL_POP = 1560,
};

// ---- client core (client/) ---------------------------------------------------------------

// Bounded printf into last_error (cut at 255 bytes); "" clears it. A toolchain whose printf
// checks follow another runtime's dialect names the C99 one in FILMO_PRINTF_FORMAT.
#ifndef FILMO_PRINTF_FORMAT
#define FILMO_PRINTF_FORMAT printf
#endif
void filmo_set_err(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(FILMO_PRINTF_FORMAT, 1, 2)))
#endif
    ;
// Empties the last error: a success, a cache hit included, leaves no text.
inline void filmo_clear_err() { g_client.last_error[0] = '\0'; }
// The common exits of an exported operation: message and status, or success.
inline int32_t filmo_fail(int32_t status, const char *message) {
    filmo_set_err("%s", message);
    return status;
}
inline int32_t filmo_succeed() {
    filmo_clear_err();
    return FILMO_OK;
}
// An absent or empty language means the catalogue's default.
inline const char *filmo_lang_or_default(const char *language) {
    return language && *language ? language : FILMO_DEFAULT_LANGUAGE;
}
char *filmo_strndup(const char *source, size_t n);
char *filmo_strdup(const char *text);

// Steps 1-2 of the fetch prologue (configuration calls): default base URL, content hash -1.
void filmo_config_prologue();
// The whole fetch prologue: the above, then last error and last HTTP status cleared.
void filmo_fetch_prologue();

// The one way to the installed transport; 0 when an HTTP answer came (any status), -1 with a
// message in err. The body is a malloc block followed by a NUL (null when empty).
int32_t filmo_http_get(const char *url, const char *const *headers, char **body_out,
                       size_t *len_out, vornak_buf *headers_out, int32_t *status_out,
                       char *err, size_t err_size);

// Percent-encoding of a query value (malloc'd; null only when memory runs out).
char *filmo_url_encode(const char *text);
// Content hash of a UTF-8 text: 0..2147483647; 0 for null, malformed or out of memory.
int64_t filmo_stable_hash(const void *data, size_t length);
// Inflates a whole zlib stream under the 64 MB and 64:1 guards into a NUL-terminated block.
int32_t filmo_inflate_zlib(const void *input, size_t input_len, char **out, size_t *out_len,
                           char *err, size_t err_size);

// Two-spelling JSON readers; each writes its out value in every case.
yyjson_val *filmo_geti(yyjson_val *value, const char *first, const char *second);
int32_t filmo_js(const char **out, yyjson_val *value, const char *first, const char *second);
int32_t filmo_ji(int32_t *out, yyjson_val *value, const char *first, const char *second);
int32_t filmo_jll(int64_t *out, yyjson_val *value, const char *first, const char *second);
int32_t filmo_jd(double *out, yyjson_val *value, const char *first, const char *second);
int32_t filmo_jb(int32_t *out, yyjson_val *value, const char *first, const char *second);
int32_t filmo_load_strarr(yyjson_val *array, const char ***out, size_t *count);
// The conversions the readers apply, for callers that already hold the value.
// A null v reads as absent: the default, result 0.
int32_t filmo_val_js(yyjson_val *v, const char **out);
int32_t filmo_val_ji(yyjson_val *v, int32_t *out);
int32_t filmo_val_jll(yyjson_val *v, int64_t *out);
double filmo_val_jd(yyjson_val *v);
int32_t filmo_val_jb(yyjson_val *v, int32_t *out);
// Stores the texts of the string elements of an array (yyjson_arr_size slots suffice) and
// counts them; anything but an array stores none.
size_t filmo_val_strarr(yyjson_val *array, const char **slots);

// Cache clock: seconds since 1970. Tests may install their own clock (null restores time()).
int64_t filmo_now();
void filmo_set_clock(int64_t (*clock)());
// 1 when a result stored at fetched_at with ttl has expired.
int32_t filmo_cache_expired(int64_t fetched_at, int32_t ttl);

int32_t filmo_cache_entries_count();
void filmo_free_all();

// ---- catalogue views (catalogue/) --------------------------------------------------------

int32_t filmo_colls_fetch(const char *language);
void filmo_free_colls();
int32_t filmo_index_playlists(yyjson_val *value, playlist **out, size_t *count);
// Reads one collection object (shared by the collections view and the home page); -1 only
// when its playlists ran out of memory.
int32_t filmo_read_collection(yyjson_val *obj, collection *c);
void filmo_free_collection_records(collection *records, size_t count);

int32_t filmo_home_fetch(const char *user_id, int32_t profile_id, const char *language,
                         uint32_t flags);
int32_t filmo_home_retain(yyjson_doc *doc, const char *text, size_t length);
void filmo_free_home();
int32_t filmo_index_home_doc(yyjson_val *root, filmo_home_index *index);
void filmo_free_home_index(filmo_home_index *index);

int32_t filmo_person_fetch(const char *id, const char *language);
void filmo_free_person();
int32_t filmo_pop_fetch(int32_t page_index, int32_t page_size, int32_t page_numbers,
                        const char *language);
void filmo_free_pop();

// ---- fixture backend (fixture/) ----------------------------------------------------------

// Fills and returns the backend's transport record; a non-empty dir becomes its corpus.
const vornak_http *filmo_fake_backend(const char *dir);
void filmo_fake_set_mode(int32_t mode);
uint64_t filmo_fake_calls_internal();
uint64_t filmo_fake_fail_internal();
const char *filmo_fake_last_url_internal();
void filmo_fake_wipe_stats();

// ---- RAII --------------------------------------------------------------------------------

struct filmo_doc_deleter {
    void operator()(yyjson_doc *d) const noexcept { yyjson_doc_free(d); }
};
using filmo_doc_ptr = std::unique_ptr<yyjson_doc, filmo_doc_deleter>;

// Releases a vornak_buf at scope end unless its block was moved out.
struct filmo_buf_guard {
    vornak_buf *buf;
    ~filmo_buf_guard() { vornak_buf_free(buf); }
};

// Parses a body strictly (no flags, default allocator) into a document, or null.
inline yyjson_doc *filmo_parse_json(const char *text, size_t len) {
    return yyjson_read_opts(const_cast<char *>(text), len, 0, nullptr, nullptr);
}

#endif
