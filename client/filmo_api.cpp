// Exported configuration, last-call status, cache control and fixture operations of the client.
// Everything here works on the one process-wide record; nothing allocates, so none of these
// calls can fail for lack of memory.
#include <cstdio>
#include <cstring>

#include "filmo_internal.h"

// Zero at load: no constructor runs, so the library is usable before anything else is called.
filmo_state g_client{};

namespace {

// The fixture corpus directory the host recorded; handed to the backend when it is installed.
char s_corpus_dir[512];

const char kNoFleetTransport[] =
    "io carries no fleet transport (need vornak_http: use filmo_use_curl / filmo_use_fake, or "
    "an io built with vornak_io_over_http)";

void set_default_host() {
    std::snprintf(g_client.base_url, sizeof g_client.base_url, "%s", FILMO_DEFAULT_BASE_URL);
}

// Every installer replaces the transport the same way; results held in the slots stay valid.
void install(const vornak_http *transport) {
    g_client.transport = transport;
    g_client.has_transport = 1;
}

// The cache fields of one view, so the cross-view operations walk one table instead of
// repeating themselves per slot. Kept in the order the slots are emptied.
struct slot_view {
    const char *name;
    void (*empty)();
    const char *key;
    const int32_t *valid;
    const int64_t *fetched_at;
    const int32_t *ttl;
};

const slot_view s_views[] = {
    {"home", filmo_free_home, g_client.home_key, &g_client.home_valid,
     &g_client.home_fetched_at, &g_client.home_ttl},
    {"collections", filmo_free_colls, g_client.colls_key, &g_client.colls_valid,
     &g_client.colls_fetched_at, &g_client.colls_ttl},
    {"person", filmo_free_person, g_client.person_key, &g_client.person_valid,
     &g_client.person_fetched_at, &g_client.person_ttl},
    {"popular", filmo_free_pop, g_client.pop_key, &g_client.pop_valid, &g_client.pop_fetched_at,
     &g_client.pop_ttl},
};

const slot_view *find_view(const char *name) {
    for (const slot_view &v : s_views)
        if (std::strcmp(v.name, name) == 0) return &v;
    return nullptr;
}

void empty_all() {
    for (const slot_view &v : s_views) v.empty();
}

void set_ttl(int32_t *ttl, int32_t value) {
    if (value > 0) *ttl = value;
}

}  // namespace

// ---- prologues -----------------------------------------------------------------------------

void filmo_config_prologue() {
    if (g_client.base_url[0] == '\0') set_default_host();
    g_client.last_content_hash = -1;
}

void filmo_fetch_prologue() {
    filmo_config_prologue();
    filmo_clear_err();
    g_client.last_http_code = 0;
}

// ---- version, configuration, last call -----------------------------------------------------

extern "C" const char *filmo_version(void) { return "1.0.0"; }

extern "C" void filmo_set_host(const char *host) {
    filmo_config_prologue();
    if (host == nullptr || host[0] == '\0') {
        set_default_host();
        return;
    }
    // Only the lower-case schemes count; anything else is a bare host that gets "https://".
    // A port, a path or a trailing slash stays: the endpoints append their path as it is.
    const bool has_scheme =
        std::strncmp(host, "http://", 7) == 0 || std::strncmp(host, "https://", 8) == 0;
    std::snprintf(g_client.base_url, sizeof g_client.base_url, "%s%s", has_scheme ? "" : "https://",
                  host);
}

extern "C" int32_t filmo_set_io(const vornak_io *io) {
    filmo_config_prologue();
    if (io == nullptr) {
        g_client.transport = nullptr;
        g_client.has_transport = 0;
        return FILMO_OK;
    }
    const vornak_http *transport = vornak_http_of(io);
    if (transport == nullptr) {
        // Refused, never misread: the transport installed before stays.
        filmo_set_err("%s", kNoFleetTransport);
        return FILMO_ERR_TRANSPORT;
    }
    install(transport);
    filmo_clear_err();
    return FILMO_OK;
}

extern "C" int32_t filmo_use_curl(void) {
    filmo_config_prologue();
    const vornak_http *transport = vornak_http_curl();
    if (transport == nullptr) transport = vornak_http_winhttp();
    if (transport == nullptr) {
        filmo_set_err("no real transport available in this build");
        return FILMO_ERR_TRANSPORT;
    }
    // The library's own records need no acceptance check.
    install(transport);
    filmo_clear_err();
    return FILMO_OK;
}

extern "C" const char *filmo_last_error(void) {
    return g_client.last_error[0] != '\0' ? g_client.last_error : "";
}

extern "C" int32_t filmo_last_http_code(void) { return g_client.last_http_code; }

extern "C" int64_t filmo_last_content_hash(void) { return g_client.last_content_hash; }

// ---- cache ---------------------------------------------------------------------------------

extern "C" void filmo_cache_set_ttl(int32_t home, int32_t person, int32_t popular,
                                    int32_t collections) {
    set_ttl(&g_client.home_ttl, home);
    set_ttl(&g_client.person_ttl, person);
    set_ttl(&g_client.pop_ttl, popular);
    set_ttl(&g_client.colls_ttl, collections);
}

int32_t filmo_cache_entries_count() {
    int32_t held = 0;
    for (const slot_view &v : s_views)
        if (*v.valid != 0) ++held;
    return held;
}

void filmo_free_all() {
    empty_all();
    g_client.last_content_hash = -1;
}

extern "C" void filmo_cache_clear(void) { empty_all(); }

extern "C" void filmo_cache_invalidate(const char *view, const char *key) {
    if (view == nullptr || std::strcmp(view, "*") == 0) {
        empty_all();
        return;
    }
    const slot_view *v = find_view(view);
    if (v == nullptr) return;
    if (key == nullptr || key[0] == '\0' || std::strcmp(key, v->key) == 0) v->empty();
}

extern "C" int32_t filmo_cache_has(const char *view, const char *key, int32_t *answer) {
    (void)key;  // the answer is about whatever the slot holds, not about one key
    if (answer != nullptr) *answer = 0;
    if (view == nullptr) return FILMO_ERR_ARG;
    int32_t held;
    if (std::strcmp(view, "*") == 0) {
        // Any result counts here, fresh or expired.
        held = filmo_cache_entries_count() > 0;
    } else {
        const slot_view *v = find_view(view);
        if (v == nullptr) return FILMO_ERR_ARG;
        held = *v->valid != 0 && filmo_cache_expired(*v->fetched_at, *v->ttl) == 0;
    }
    if (answer != nullptr) *answer = held;
    return FILMO_OK;
}

extern "C" int32_t filmo_cache_entries(void) { return filmo_cache_entries_count(); }

extern "C" void filmo_shutdown(void) {
    // base_url, the times-to-live, the corpus directory and the backend's own state survive:
    // the library stays usable once a transport is installed again.
    filmo_free_all();
    g_client.has_transport = 0;
    g_client.transport = nullptr;
    g_client.last_http_code = 0;
    g_client.homepage_hash = 0;
    filmo_clear_err();
}

// ---- fixture backend -----------------------------------------------------------------------

extern "C" int32_t filmo_use_fake(void) {
    filmo_config_prologue();
    install(filmo_fake_backend(s_corpus_dir[0] != '\0' ? s_corpus_dir : nullptr));
    filmo_clear_err();
    return FILMO_OK;
}

extern "C" int32_t filmo_fake_corpus(const char *dir) {
    if (dir == nullptr || dir[0] == '\0') {
        filmo_set_err("corpus dir required");
        return FILMO_ERR_TRANSPORT;
    }
    std::snprintf(s_corpus_dir, sizeof s_corpus_dir, "%s", dir);
    filmo_fake_backend(dir);
    return FILMO_OK;
}

extern "C" int32_t filmo_fake_mode(int32_t mode) {
    // Taken as unsigned, so a negative mode is refused like one above 7.
    if (static_cast<uint32_t>(mode) > 7u) {
        filmo_set_err("fake mode 0..7");
        return FILMO_ERR_TRANSPORT;
    }
    filmo_fake_set_mode(mode);
    return FILMO_OK;
}

extern "C" uint64_t filmo_fake_calls(void) { return filmo_fake_calls_internal(); }

// Each request records exactly one URL, so the two counts agree.
extern "C" uint64_t filmo_fake_url_count(void) { return filmo_fake_calls_internal(); }

extern "C" uint64_t filmo_fake_fail_count(void) { return filmo_fake_fail_internal(); }

extern "C" const char *filmo_fake_last_url(void) { return filmo_fake_last_url_internal(); }

extern "C" void filmo_fake_reset(void) { filmo_fake_wipe_stats(); }
