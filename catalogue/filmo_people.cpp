// The person-detail and popular-people views. Each slot keeps the parsed answer as it came and
// builds no records: an accessor looks its field up in the held document on every call.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "filmo_internal.h"

namespace {

// Where the last positional read of one array of a held document stopped. yyjson reaches an
// element of an array of objects only by walking its siblings, and a host reads a list front to
// back, several fields per element: resuming from the element reached last makes each such read
// constant-time without building an index. Emptying the slot forgets it, as the next document
// may reuse the addresses.
struct arr_pos {
    yyjson_val *arr;
    size_t idx;
    yyjson_val *val;
};

arr_pos s_names_pos, s_pics_pos, s_related_pos, s_pop_pos;

// Element index of arr (any kind), or null when arr is no array or index is out of range.
yyjson_val *nth(arr_pos *pos, yyjson_val *arr, int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= yyjson_arr_size(arr)) return nullptr;
    size_t want = static_cast<size_t>(index);
    if (pos->arr != arr || want < pos->idx) *pos = {arr, 0, yyjson_arr_get_first(arr)};
    while (pos->idx < want) {
        pos->val = unsafe_yyjson_get_next(pos->val);
        ++pos->idx;
    }
    return pos->val;
}

// Formats into a block sized from the parts, so no id or language is ever cut.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
char *
url_printf(const char *format, ...) {
    va_list ap, again;
    va_start(ap, format);
    va_copy(again, ap);
    int n = std::vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    char *url = n < 0 ? nullptr : static_cast<char *>(vornak_malloc(static_cast<size_t>(n) + 1));
    if (url) std::vsnprintf(url, static_cast<size_t>(n) + 1, format, again);
    va_end(again);
    return url;
}

// The catalogue GET of one view and the judging of its answer, up to a parsed document. Any
// failure sets the view's message and gives its status; success gives 0 with the document.
int32_t get_json(const char *url, const char *not_found, const char *invalid,
                 filmo_doc_ptr *doc) {
    char *raw = nullptr;
    size_t len = 0;
    int32_t status = 0;
    char err[256] = "";
    int32_t rc = filmo_http_get(url, nullptr, &raw, &len, nullptr, &status, err, sizeof err);
    vornak_cptr<char> body(raw);
    if (rc != 0) {
        filmo_set_err("transport: %s", err);
        return FILMO_ERR_TRANSPORT;
    }
    if (status == 404) return filmo_fail(FILMO_ERR_NOT_FOUND, not_found);
    if (status < 200 || status > 299) {
        filmo_set_err("HTTP %ld", static_cast<long>(status));
        return FILMO_ERR_HTTP;
    }
    if (!body || len == 0) return filmo_fail(FILMO_ERR_EMPTY, "empty body");
    doc->reset(filmo_parse_json(body.get(), len));
    if (!*doc) return filmo_fail(FILMO_ERR_DECODE, invalid);
    return FILMO_OK;
}

bool cache_hit(int32_t valid, int64_t fetched_at, int32_t ttl, const char *held,
               const char *key) {
    return valid && !filmo_cache_expired(fetched_at, ttl) && std::strcmp(held, key) == 0;
}

// An IMDb person id ("nm" in any case, the rest unexamined) or a numeric TMDb id.
bool person_id_ok(const char *id) {
    if (id[0] == 'n' || id[0] == 'N') return id[1] == 'm' || id[1] == 'M';
    for (const char *c = id; *c; ++c)
        if (*c < '0' || *c > '9') return false;
    return true;
}

// ---- person accessors' helpers -------------------------------------------------------------

yyjson_val *person_field(const char *first, const char *second) {
    return g_client.person_valid ? filmo_geti(g_client.person_root, first, second) : nullptr;
}

const char *ptext(const char *first, const char *second) {
    const char *text = nullptr;
    if (g_client.person_valid) filmo_js(&text, g_client.person_root, first, second);
    return text;
}

int32_t pint(const char *first, const char *second) {
    int32_t v = 0;
    return g_client.person_valid && filmo_ji(&v, g_client.person_root, first, second) ? v : -1;
}

const char *str_at(arr_pos *pos, const char *first, const char *second, int32_t index) {
    yyjson_val *v = nth(pos, person_field(first, second), index);
    return yyjson_is_str(v) ? yyjson_get_str(v) : nullptr;
}

// Picture index of the held person, when it is an object.
yyjson_val *ppic(int32_t index) {
    yyjson_val *v = nth(&s_pics_pos, person_field("Pictures", "pictures"), index);
    return yyjson_is_obj(v) ? v : nullptr;
}

int32_t pic_int(int32_t index, const char *first, const char *second) {
    int32_t v = 0;
    filmo_ji(&v, ppic(index), first, second);
    return v;
}

const char *pic_text(int32_t index, const char *first, const char *second) {
    const char *text = nullptr;
    filmo_js(&text, ppic(index), first, second);
    return text;
}

// ---- popular accessors' helpers ------------------------------------------------------------

// Person index of the held page, when it is an object.
yyjson_val *ppop(int32_t index) {
    if (!g_client.pop_valid || index < 0 || static_cast<uint64_t>(index) >= g_client.pop_count)
        return nullptr;
    yyjson_val *v = nth(&s_pop_pos, g_client.pop_root, index);
    return yyjson_is_obj(v) ? v : nullptr;
}

const char *pop_text(int32_t index, const char *first, const char *second) {
    const char *text = nullptr;
    filmo_js(&text, ppop(index), first, second);
    return text;
}

}  // namespace

// ---- person detail -------------------------------------------------------------------------

void filmo_free_person() {
    yyjson_doc_free(g_client.person_doc);
    g_client.person_doc = nullptr;
    g_client.person_root = nullptr;
    g_client.person_valid = 0;
    s_names_pos = s_pics_pos = s_related_pos = arr_pos{};
}

int32_t filmo_person_fetch(const char *id, const char *language) {
    if (!g_client.has_transport) return filmo_fail(FILMO_ERR_NO_TRANSPORT, FILMO_MSG_NO_TRANSPORT);
    if (!id || !*id) return filmo_fail(FILMO_ERR_ARG, "id required");
    if (!person_id_ok(id))
        return filmo_fail(FILMO_ERR_ARG, "id must be an nmID (nm\u2026) or a numeric TMDb person id");
    const char *lang = filmo_lang_or_default(language);

    char key[sizeof g_client.person_key];
    std::snprintf(key, sizeof key, "person|%s|%s", id, lang);
    if (cache_hit(g_client.person_valid, g_client.person_fetched_at, g_client.person_ttl,
                  g_client.person_key, key)) {
        return filmo_succeed();
    }

    vornak_cptr<char> enc_id(filmo_url_encode(id));
    if (!enc_id) return filmo_fail(FILMO_ERR_OOM, "oom");
    vornak_cptr<char> enc_lang(filmo_url_encode(lang));
    if (!enc_lang) return filmo_fail(FILMO_ERR_OOM, "oom");
    vornak_cptr<char> url(url_printf("%s/api/AAA/GetPeopleDetail?id=%s&language=%s",
                                     g_client.base_url, enc_id.get(), enc_lang.get()));
    if (!url) return filmo_fail(FILMO_ERR_OOM, "oom");

    filmo_doc_ptr doc;
    int32_t rc = get_json(url.get(), "no such person (HTTP 404)", "people detail: invalid JSON",
                          &doc);
    if (rc != FILMO_OK) return rc;
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root))
        return filmo_fail(FILMO_ERR_DECODE, "people detail: root is not an object");
    const char *name = nullptr;
    if (!filmo_js(&name, root, "Name", "name") || !*name)
        return filmo_fail(FILMO_ERR_EMPTY, "people detail: no person payload");

    filmo_free_person();
    g_client.person_doc = doc.release();
    g_client.person_root = root;
    g_client.person_valid = 1;
    if (g_client.person_ttl <= 0) g_client.person_ttl = FILMO_TTL_PERSON;
    g_client.person_fetched_at = filmo_now();
    std::memcpy(g_client.person_key, key, sizeof key);
    return filmo_succeed();
}

extern "C" int32_t filmo_get_people_detail(const char *id, const char *language) {
    filmo_fetch_prologue();
    if (!id || !*id) return filmo_fail(FILMO_ERR_ARG, "id required");
    return filmo_person_fetch(id, language);
}

extern "C" int32_t filmo_people_id(void) { return pint("ID", "id"); }
extern "C" const char *filmo_people_name(void) { return ptext("Name", "name"); }
extern "C" const char *filmo_people_knowsfor(void) { return ptext("KnowsFor", "knowsFor"); }
extern "C" const char *filmo_people_profileurl(void) { return ptext("ProfileUrl", "profileUrl"); }
extern "C" const char *filmo_people_imdbid(void) { return ptext("IMDbId", "imDbId"); }
extern "C" const char *filmo_people_biography(void) { return ptext("Biography", "biography"); }
extern "C" const char *filmo_people_birthday(void) { return ptext("Birthday", "birthday"); }
extern "C" const char *filmo_people_deathday(void) { return ptext("Deathday", "deathday"); }
extern "C" const char *filmo_people_homepage(void) { return ptext("Homepage", "homepage"); }

extern "C" const char *filmo_people_placeofbirth(void) {
    return ptext("PlaceOfBirth", "placeOfBirth");
}

extern "C" const char *filmo_people_knownfor_department(void) {
    return ptext("KnownForDepartment", "knownForDepartment");
}

extern "C" const char *filmo_people_knowncredits(void) {
    return ptext("KnownCredits", "knownCredits");
}

extern "C" int32_t filmo_people_gender(void) { return pint("Gender", "gender"); }

extern "C" int32_t filmo_people_popularity_permille(void) {
    double popularity = 0.0;
    if (!g_client.person_valid ||
        !filmo_jd(&popularity, g_client.person_root, "Popularity", "popularity"))
        return -1;
    double x = popularity * 1000.0 + 0.5;
    // Clamped before the conversion: an out-of-range double has no int value.
    if (x != x) return -1;
    if (x > 2000000000.0) return 2000000000;
    if (x <= -2147483649.0) return INT32_MIN;
    return static_cast<int32_t>(x);  // truncates toward zero
}

extern "C" int32_t filmo_people_names_translate_count(void) {
    return static_cast<int32_t>(yyjson_arr_size(person_field("NamesTranslate", "namesTranslate")));
}

extern "C" const char *filmo_people_names_translate(int32_t i) {
    return str_at(&s_names_pos, "NamesTranslate", "namesTranslate", i);
}

extern "C" int32_t filmo_people_pictures_count(void) {
    return static_cast<int32_t>(yyjson_arr_size(person_field("Pictures", "pictures")));
}

extern "C" const char *filmo_people_picture_url(int32_t i) { return pic_text(i, "Url", "url"); }

extern "C" const char *filmo_people_picture_lang(int32_t i) {
    return pic_text(i, "Language", "language");
}

extern "C" int32_t filmo_people_picture_w(int32_t i) { return pic_int(i, "Width", "width"); }
extern "C" int32_t filmo_people_picture_h(int32_t i) { return pic_int(i, "Height", "height"); }

extern "C" int32_t filmo_people_related_count(void) {
    return static_cast<int32_t>(yyjson_arr_size(person_field("RelatedIMDbIds", "relatedIMDbIds")));
}

extern "C" const char *filmo_people_related(int32_t i) {
    return str_at(&s_related_pos, "RelatedIMDbIds", "relatedIMDbIds", i);
}

// ---- popular people ------------------------------------------------------------------------

void filmo_free_pop() {
    yyjson_doc_free(g_client.pop_doc);
    g_client.pop_doc = nullptr;
    g_client.pop_root = nullptr;
    g_client.pop_count = 0;
    g_client.pop_valid = 0;
    s_pop_pos = arr_pos{};
}

int32_t filmo_pop_fetch(int32_t page_index, int32_t page_size, int32_t page_numbers,
                        const char *language) {
    if (!g_client.has_transport) return filmo_fail(FILMO_ERR_NO_TRANSPORT, FILMO_MSG_NO_TRANSPORT);
    if (page_index < 1)
        return filmo_fail(FILMO_ERR_ARG,
                    "pageIndex must be >= 1 (the server 404s 0 \u2014 measured 2026-10-01)");
    if (static_cast<uint32_t>(page_size) > 100000u)
        return filmo_fail(FILMO_ERR_ARG, "pageSize out of range");
    if (page_numbers < 1 || page_numbers > 1000)
        return filmo_fail(FILMO_ERR_ARG, "pageNumbers out of range (1..1000)");
    const char *lang = filmo_lang_or_default(language);

    char key[sizeof g_client.pop_key];
    std::snprintf(key, sizeof key, "pop|%d|%d|%s", page_index, page_numbers, lang);
    if (cache_hit(g_client.pop_valid, g_client.pop_fetched_at, g_client.pop_ttl,
                  g_client.pop_key, key)) {
        return filmo_succeed();
    }

    vornak_cptr<char> enc_lang(filmo_url_encode(lang));
    if (!enc_lang) return filmo_fail(FILMO_ERR_OOM, "oom");
    vornak_cptr<char> url(
        url_printf("%s/api/AAA/GetPeoplePopular?pageIndex=%d&language=%s&pageNumbers=%d",
                   g_client.base_url, page_index, enc_lang.get(), page_numbers));
    if (!url) return filmo_fail(FILMO_ERR_OOM, "oom");

    filmo_doc_ptr doc;
    int32_t rc = get_json(url.get(), "people popular: HTTP 404 (dead page)",
                          "people popular: invalid JSON", &doc);
    if (rc != FILMO_OK) return rc;
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_arr(root))
        return filmo_fail(FILMO_ERR_DECODE, "people popular: root is not an array");

    filmo_free_pop();
    g_client.pop_doc = doc.release();
    g_client.pop_root = root;
    g_client.pop_count = yyjson_arr_size(root);
    g_client.pop_valid = 1;
    if (g_client.pop_ttl <= 0) g_client.pop_ttl = FILMO_TTL_POP;
    g_client.pop_fetched_at = filmo_now();
    std::memcpy(g_client.pop_key, key, sizeof key);
    return filmo_succeed();
}

extern "C" int32_t filmo_get_people_popular(int32_t page_index, int32_t page_size,
                                            int32_t page_numbers, const char *language) {
    filmo_fetch_prologue();
    return filmo_pop_fetch(page_index, page_size, page_numbers, language);
}

extern "C" int32_t filmo_people_pop_count(void) {
    return g_client.pop_valid ? static_cast<int32_t>(g_client.pop_count) : 0;
}

extern "C" int32_t filmo_people_pop_id(int32_t i) {
    int32_t v = 0;
    return filmo_ji(&v, ppop(i), "ID", "id") ? v : -1;
}

extern "C" const char *filmo_people_pop_name(int32_t i) { return pop_text(i, "Name", "name"); }

extern "C" const char *filmo_people_pop_knowsfor(int32_t i) {
    return pop_text(i, "KnowsFor", "knowsFor");
}

extern "C" const char *filmo_people_pop_profileurl(int32_t i) {
    return pop_text(i, "ProfileUrl", "profileUrl");
}

extern "C" const char *filmo_people_pop_imdbid(int32_t i) {
    return pop_text(i, "IMDbId", "imDbId");
}
