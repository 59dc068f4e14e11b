// The collections view: the popular collections of one language, each with its playlists.
// The slot keeps the parsed answer and one record per collection object, so every accessor is
// a bounds check and a field read. The playlist builder is shared with the home page index,
// whose collection elements have the same shape.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "filmo_internal.h"
#include "filmo_list_rule.h"

namespace {

// Releases the id blocks of the first n playlists, then the playlist block itself.
void free_playlists(playlist *lists, size_t n) {
    if (!lists) return;
    for (size_t i = 0; i < n; ++i) std::free(lists[i].imdb_ids);
    std::free(lists);
}

// One playlist object; -1 only when its id block ran out of memory.
int32_t read_playlist(playlist &p, yyjson_val *el) {
    filmo_js(&p.name, el, "Name", "name");
    filmo_js(&p.origin_country, el, "OriginCountry", "originCountry");
    filmo_js(&p.logo, el, "Logo", "logo");
    return filmo_load_strarr(filmo_geti(el, "IMDbIds", "imDbIds"), &p.imdb_ids, &p.imdb_count);
}

// Collection records under construction: released with everything they own unless handed
// over to the slot.
struct records_guard {
    collection *records;
    size_t count;
    ~records_guard() { filmo_free_collection_records(records, count); }
    collection *release() {
        collection *r = records;
        records = nullptr;
        count = 0;
        return r;
    }
};

const collection *coll(int32_t i) {
    if (!g_client.colls_valid || i < 0 || static_cast<size_t>(i) >= g_client.colls_count)
        return nullptr;
    return &g_client.colls_records[i];
}

const playlist *plist(int32_t i, int32_t p) {
    const collection *c = coll(i);
    if (!c || p < 0 || static_cast<size_t>(p) >= c->playlist_count) return nullptr;
    return &c->playlists[p];
}

}  // namespace

// Reads one collection object; -1 only when its playlists ran out of memory.
int32_t filmo_read_collection(yyjson_val *obj, collection *c) {
    filmo_ji(&c->id, obj, "Id", "id");
    filmo_js(&c->name, obj, "Name", "name");
    filmo_js(&c->backdrop, obj, "Backdrop", "backdrop");
    filmo_js(&c->cover, obj, "Cover", "cover");
    filmo_js(&c->logo, obj, "Logo", "logo");
    filmo_jb(&c->is_auto, obj, "IsAuto", "isAuto");
    return filmo_index_playlists(filmo_geti(obj, "Playlists", "playlists"), &c->playlists,
                                 &c->playlist_count);
}

int32_t filmo_index_playlists(yyjson_val *value, playlist **out, size_t *count) {
    return index_list(value, out, count, &read_playlist, &free_playlists);
}

void filmo_free_collection_records(collection *records, size_t count) {
    if (!records) return;
    for (size_t i = 0; i < count; ++i)
        free_playlists(records[i].playlists, records[i].playlist_count);
    std::free(records);
}

void filmo_free_colls() {
    filmo_free_collection_records(g_client.colls_records, g_client.colls_count);
    g_client.colls_records = nullptr;
    g_client.colls_count = 0;
    g_client.colls_capacity = 0;
    yyjson_doc_free(g_client.colls_doc);
    g_client.colls_doc = nullptr;
    g_client.colls_root = nullptr;
    g_client.colls_valid = 0;
}

int32_t filmo_colls_fetch(const char *language) {
    if (!g_client.has_transport) return filmo_fail(FILMO_ERR_NO_TRANSPORT, FILMO_MSG_NO_TRANSPORT);
    const char *lang = filmo_lang_or_default(language);

    vornak_cptr<char> encoded(filmo_url_encode(lang));
    if (!encoded) return filmo_fail(FILMO_ERR_OOM, "oom");
    // Language tags are short: of the 128 bytes beyond the base URL the fixed part takes 39,
    // and an encoded language longer than the 88 left is cut.
    size_t cap = std::strlen(g_client.base_url) + 128;
    vornak_cptr<char> url(static_cast<char *>(vornak_malloc(cap)));
    if (!url) return filmo_fail(FILMO_ERR_OOM, "oom");
    std::snprintf(url.get(), cap, "%s/api/AAA/GetCollectionPopular?language=%s",
                  g_client.base_url, encoded.get());
    encoded.reset();

    char *raw = nullptr;
    size_t len = 0;
    int32_t status = 0;
    char err[256] = "";
    int32_t rc = filmo_http_get(url.get(), nullptr, &raw, &len, nullptr, &status, err,
                                sizeof err);
    vornak_cptr<char> body(raw);
    url.reset();
    if (rc != 0) {
        filmo_set_err("transport: %s", err);
        return FILMO_ERR_TRANSPORT;
    }
    if (status == 404) return filmo_fail(FILMO_ERR_NOT_FOUND, "HTTP 404");
    if (status < 200 || status > 299) {
        filmo_set_err("HTTP %ld", static_cast<long>(status));
        return FILMO_ERR_HTTP;
    }
    if (!body || len == 0) return filmo_fail(FILMO_ERR_EMPTY, "empty body");

    filmo_doc_ptr doc(filmo_parse_json(body.get(), len));
    body.reset();
    if (!doc) return filmo_fail(FILMO_ERR_DECODE, "collections: invalid JSON");
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_arr(root)) return filmo_fail(FILMO_ERR_DECODE, "collections: root is not an array");

    size_t n = yyjson_arr_size(root);
    records_guard built{static_cast<collection *>(vornak_calloc(n ? n : 1, sizeof(collection))),
                        0};
    if (!built.records) return filmo_fail(FILMO_ERR_OOM, "oom: collections");
    size_t idx, max;
    yyjson_val *el;
    yyjson_arr_foreach(root, idx, max, el) {
        if (!yyjson_is_obj(el)) continue;
        // A record whose playlists failed holds none, so it is released like the filled ones.
        ++built.count;
        if (filmo_read_collection(el, &built.records[built.count - 1]) != 0)
            return filmo_fail(FILMO_ERR_OOM, "oom: collections");
    }

    // The key is written before the old view goes: the language may be a text of that view.
    std::snprintf(g_client.colls_key, sizeof g_client.colls_key, "%s", lang);
    filmo_free_colls();
    g_client.colls_count = built.count;
    g_client.colls_records = built.release();
    g_client.colls_capacity = n;
    g_client.colls_doc = doc.release();
    g_client.colls_root = root;
    g_client.colls_valid = 1;
    if (g_client.colls_ttl <= 0) g_client.colls_ttl = FILMO_TTL_COLLS;
    g_client.colls_fetched_at = filmo_now();
    return filmo_succeed();
}

extern "C" int32_t filmo_get_collections(const char *language) {
    filmo_fetch_prologue();
    const char *lang = filmo_lang_or_default(language);
    // The key holds at most 31 bytes, so a longer language never matches and is fetched anew.
    if (g_client.colls_valid &&
        !filmo_cache_expired(g_client.colls_fetched_at, g_client.colls_ttl) &&
        std::strcmp(lang, g_client.colls_key) == 0) {
        return filmo_succeed();
    }
    return filmo_colls_fetch(lang);
}

// ---- accessors ---------------------------------------------------------------------------

extern "C" int32_t filmo_collection_count(void) {
    return g_client.colls_valid ? static_cast<int32_t>(g_client.colls_count) : 0;
}

extern "C" int32_t filmo_collection_id(int32_t i) {
    const collection *c = coll(i);
    return c ? c->id : -1;
}

extern "C" const char *filmo_collection_name(int32_t i) {
    const collection *c = coll(i);
    return c ? c->name : nullptr;
}

extern "C" const char *filmo_collection_backdrop(int32_t i) {
    const collection *c = coll(i);
    return c ? c->backdrop : nullptr;
}

extern "C" const char *filmo_collection_cover(int32_t i) {
    const collection *c = coll(i);
    return c ? c->cover : nullptr;
}

extern "C" const char *filmo_collection_logo(int32_t i) {
    const collection *c = coll(i);
    return c ? c->logo : nullptr;
}

extern "C" int32_t filmo_collection_is_auto(int32_t i) {
    const collection *c = coll(i);
    return c ? c->is_auto : -1;
}

extern "C" int32_t filmo_collection_playlists_count(int32_t i) {
    const collection *c = coll(i);
    return c ? static_cast<int32_t>(c->playlist_count) : 0;
}

extern "C" const char *filmo_collection_playlist_name(int32_t i, int32_t p) {
    const playlist *pl = plist(i, p);
    return pl ? pl->name : nullptr;
}

extern "C" const char *filmo_collection_playlist_origin(int32_t i, int32_t p) {
    const playlist *pl = plist(i, p);
    return pl ? pl->origin_country : nullptr;
}

extern "C" const char *filmo_collection_playlist_logo(int32_t i, int32_t p) {
    const playlist *pl = plist(i, p);
    return pl ? pl->logo : nullptr;
}

extern "C" int32_t filmo_collection_playlist_imdb_count(int32_t i, int32_t p) {
    const playlist *pl = plist(i, p);
    return pl ? static_cast<int32_t>(pl->imdb_count) : 0;
}

extern "C" const char *filmo_collection_playlist_imdb(int32_t i, int32_t p, int32_t k) {
    const playlist *pl = plist(i, p);
    if (!pl || k < 0 || static_cast<size_t>(k) >= pl->imdb_count) return nullptr;
    return pl->imdb_ids[k];
}
