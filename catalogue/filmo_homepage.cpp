// The home page view: fetch with the content-hash exchange, the one-byte "unchanged" answer,
// bounded inflate, strict parse, and the home slot that keeps document, text copy and index.
#include <yyjson.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "filmo_internal.h"

namespace {

const char k_home_path[] = "/api/AAA/GetHomePage?userId=";

// Concatenates the pieces into one new text sized to their total length: a long user id or
// language makes a long URL, never a cut or overrun one. Null when memory runs out.
char *join(const char *const *parts, size_t n) {
    enum { k_max_parts = 12 };
    size_t lens[k_max_parts];
    if (n > k_max_parts) return nullptr;
    size_t total = 1;
    for (size_t i = 0; i < n; ++i) {
        lens[i] = std::strlen(parts[i]);
        if (lens[i] > SIZE_MAX - total) return nullptr;
        total += lens[i];
    }
    char *out = static_cast<char *>(vornak_malloc(total));
    if (!out) return nullptr;
    char *p = out;
    for (size_t i = 0; i < n; ++i) {
        std::memcpy(p, parts[i], lens[i]);
        p += lens[i];
    }
    *p = '\0';
    return out;
}

// The request URL: base_url, the path with the encoded user id, then
// "&profileId=%d&language=%s&zip=true&version=%s%s".
char *home_url(const char *enc_user, int32_t profile_id, const char *enc_lang, uint32_t flags) {
    char pid[16];
    std::snprintf(pid, sizeof pid, "%d", static_cast<int>(profile_id));
    const char *parts[] = {
        g_client.base_url,
        k_home_path,
        enc_user,
        "&profileId=",
        pid,
        "&language=",
        enc_lang,
        "&zip=true&version=",
        (flags & FILMO_HOME_VERSION_1) ? "1" : "2",
        (flags & FILMO_HOME_UPDATE) ? "&update=true&read=true" : "",
    };
    return join(parts, sizeof parts / sizeof parts[0]);
}

// "ContentHash" is a signed decimal: leading blanks and a sign allowed, digits up to the first
// other character, none giving 0, values beyond int64 saturating (strtoll's own rules).
int64_t content_hash(const vornak_buf *headers) {
    if (!headers->data || headers->len == 0) return -1;
    const char *v = vornak_hdrs_get(headers, "ContentHash");
    if (!v || !*v) return -1;
    return static_cast<int64_t>(std::strtoll(v, nullptr, 10));
}

// "home|%s|%d", cut to the width of home_key, so a long key still finds its page.
using home_key_text = char[sizeof g_client.home_key];
void format_key(home_key_text &out, const char *user_id, int32_t profile_id) {
    std::snprintf(out, sizeof out, "home|%s|%d", user_id, static_cast<int>(profile_id));
}

// The inflate buffer doubles as it fills, so up to half of it may be unused, and the slot keeps
// the text as long as the page. The rest is given back; a refused shrink keeps the larger
// block, which holds the same text: memory for this is never worth a failed fetch.
void shrink(vornak_cptr<char> *text, size_t length) {
    if (char *tight = static_cast<char *>(vornak_realloc(text->get(), length + 1))) {
        (void)text->release();  // realloc has taken the old block
        text->reset(tight);
    }
}

// Builds the new index and takes the text (adopting `owned`, a malloc block of length + 1
// bytes, or else copying `text`) beside the held page, and only then replaces it, so running
// out of memory leaves the held page whole. -1 out of memory, -2 no object root.
int32_t retain(yyjson_doc *doc, const char *text, size_t length, vornak_cptr<char> *owned) {
    yyjson_val *root = doc ? yyjson_doc_get_root(doc) : nullptr;
    if (!yyjson_is_obj(root)) return -2;

    filmo_home_index fresh{};
    if (filmo_index_home_doc(root, &fresh) != 0) return -1;
    char *copy = owned ? owned->release() : filmo_strndup(text, length);
    if (!copy) {
        filmo_free_home_index(&fresh);
        return -1;
    }
    int64_t hash = filmo_stable_hash(copy, length);

    filmo_free_home();
    g_client.home_doc = doc;
    g_client.home_root = root;
    g_client.home_json = copy;
    g_client.home_json_len = length;
    g_client.home_index = fresh;
    g_client.home_hash = hash;
    g_client.home_valid = 1;
    if (g_client.home_ttl <= 0) g_client.home_ttl = FILMO_TTL_HOME;
    g_client.home_fetched_at = filmo_now();
    return 0;
}

// Hands a parsed page to the slot; on failure the document is released and the held page
// stays. Shared by the fetch (which hands over its inflated text) and the host's JSON.
int32_t install(yyjson_doc *doc, const char *text, size_t length, vornak_cptr<char> *owned) {
    filmo_doc_ptr held(doc);
    if (!yyjson_is_obj(yyjson_doc_get_root(doc))) {
        filmo_set_err("homepage: root is not a JSON object");
        return FILMO_ERR_DECODE;
    }
    if (retain(doc, text, length, owned) != 0) {
        filmo_set_err("oom: retaining homepage JSON");
        return FILMO_ERR_OOM;
    }
    held.release();  // the slot owns it now
    return FILMO_OK;
}

}  // namespace

extern "C" int32_t filmo_get_homepage(const char *user_id, int32_t profile_id,
                                      const char *language, uint32_t flags) {
    filmo_fetch_prologue();
    // An anonymous request always asks for profile 0.
    if (!user_id || !*user_id) {
        user_id = "";
        profile_id = 0;
    }
    home_key_text key;
    format_key(key, user_id, profile_id);
    if (g_client.home_valid && !(flags & FILMO_HOME_UPDATE) &&
        !filmo_cache_expired(g_client.home_fetched_at, g_client.home_ttl) &&
        std::strcmp(key, g_client.home_key) == 0) {
        filmo_clear_err();
        return FILMO_OK;
    }
    return filmo_home_fetch(user_id, profile_id, language, flags);
}

int32_t filmo_home_fetch(const char *user_id, int32_t profile_id, const char *language,
                         uint32_t flags) {
    if (!g_client.has_transport) {
        filmo_set_err("%s", FILMO_MSG_NO_TRANSPORT);
        return FILMO_ERR_NO_TRANSPORT;
    }
    // Anonymous first, so a negative profile id only counts for a named user.
    if (!user_id || !*user_id) {
        user_id = "";
        profile_id = 0;
    }
    if (profile_id < 0) {
        filmo_set_err("profileId must be >= 0");
        return FILMO_ERR_ARG;
    }
    if (!language || !*language) language = FILMO_DEFAULT_LANGUAGE;

    vornak_cptr<char> url;
    {
        vornak_cptr<char> enc_user(filmo_url_encode(user_id));
        vornak_cptr<char> enc_lang(filmo_url_encode(language));
        if (enc_user && enc_lang)
            url.reset(home_url(enc_user.get(), profile_id, enc_lang.get(), flags));
        if (!url) {
            filmo_set_err("oom");
            return FILMO_ERR_OOM;
        }
    }

    // The host's known hash travels as a decimal number, despite the header's name.
    char hash_line[48];
    const char *hash_headers[] = {hash_line, nullptr};
    const char *const *headers = nullptr;
    if (g_client.homepage_hash > 0) {
        std::snprintf(hash_line, sizeof hash_line, "MD5HomePage: %lld",
                      static_cast<long long>(g_client.homepage_hash));
        headers = hash_headers;
    }

    char *raw_body = nullptr;
    size_t body_len = 0;
    vornak_buf hblock{};
    filmo_buf_guard hguard{&hblock};
    int32_t status = 0;
    char err[256] = "";
    int32_t rc = filmo_http_get(url.get(), headers, &raw_body, &body_len, &hblock, &status, err,
                                sizeof err);
    vornak_cptr<char> body(raw_body);
    url.reset();
    if (rc != 0) {
        filmo_set_err("transport: %s", err);
        return FILMO_ERR_TRANSPORT;
    }

    // Recorded for every answer that carries it, before the status is judged.
    g_client.last_content_hash = content_hash(&hblock);

    if (status != 200) {
        if (status == 404) {
            filmo_set_err("HTTP 404");
            return FILMO_ERR_NOT_FOUND;
        }
        filmo_set_err("HTTP %ld", static_cast<long>(status));
        return FILMO_ERR_HTTP;
    }
    // The server answers a matching MD5HomePage with the single byte 0xFF; the byte's value
    // is not examined, and the held page stays exactly as it was.
    if (body_len == 1) {
        filmo_set_err("server: homepage unchanged (1-byte 0xFF)");
        return FILMO_HOME_UNCHANGED;
    }

    char *raw_text = nullptr;
    size_t text_len = 0;
    char ierr[256] = "";
    rc = filmo_inflate_zlib(body.get(), body_len, &raw_text, &text_len, ierr, sizeof ierr);
    vornak_cptr<char> text(raw_text);
    body.reset();
    vornak_buf_free(&hblock);
    if (rc != 0) {
        filmo_set_err("%s", ierr);
        return FILMO_ERR_DECODE;
    }
    shrink(&text, text_len);

    yyjson_doc *doc = filmo_parse_json(text.get(), text_len);
    if (!doc) {
        filmo_set_err("homepage: invalid JSON after inflate");
        return FILMO_ERR_DECODE;
    }
    // The slot takes the inflated text itself: the page is never copied a second time.
    int32_t st = install(doc, text.get(), text_len, &text);
    if (st != FILMO_OK) return st;
    format_key(g_client.home_key, user_id, profile_id);
    filmo_clear_err();
    return FILMO_OK;
}

int32_t filmo_home_retain(yyjson_doc *doc, const char *text, size_t length) {
    return retain(doc, text, length, nullptr);
}

void filmo_free_home() {
    filmo_free_home_index(&g_client.home_index);
    yyjson_doc_free(g_client.home_doc);
    g_client.home_doc = nullptr;
    std::free(g_client.home_json);
    g_client.home_json = nullptr;
    g_client.home_json_len = 0;
    g_client.home_root = nullptr;
    g_client.home_valid = 0;
    g_client.home_hash = 0;
}

extern "C" int32_t filmo_parse_homepage_json(const char *text, size_t length) {
    if (!text || length == 0) {
        filmo_set_err("json required");
        return FILMO_ERR_ARG;
    }
    // Without flags the reader only reads the text, which need not be NUL-terminated.
    yyjson_doc *doc = filmo_parse_json(text, length);
    if (!doc) {
        filmo_set_err("homepage: invalid JSON");
        return FILMO_ERR_DECODE;
    }
    int32_t st = install(doc, text, length, nullptr);
    if (st != FILMO_OK) return st;
    std::snprintf(g_client.home_key, sizeof g_client.home_key, "home|parsed|%zu", length);
    filmo_clear_err();
    return FILMO_OK;
}

extern "C" int64_t filmo_homepage_hash(void) {
    return g_client.home_valid ? g_client.home_hash : 0;
}

extern "C" void filmo_set_homepage_hash(int64_t hash) {
    g_client.homepage_hash = hash < 0 ? 0 : hash;
}

extern "C" const char *filmo_home_json(void) {
    return g_client.home_valid ? g_client.home_json : nullptr;
}
