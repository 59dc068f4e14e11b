/*
 * vornak_http.h: the transport library's records and operations.
 *
 * Conventions
 * - Texts are NUL-terminated UTF-8. Sizes and counts are in bytes, time-outs in milliseconds.
 * - The records below are fixed down to their memory layout (sizes 32, 112 and 24 bytes on
 *   64-bit platforms). Every record carries a size, a version or a tag, and a record that does
 *   not match is refused, never misread.
 * - Transport records are static and never freed. A request record and everything it points to
 *   belong to the caller for one call of `request`.
 * - An error text handed out by a transport's `request` is released through that transport's
 *   `free_buf`; a body or error text handed out by an io handle goes back through the handle's
 *   `free_buf`. Texts from vornak_strdup/vornak_strndup and blocks moved out of a vornak_buf live
 *   on the general heap (free them with free()).
 * - Release functions accept null or empty records and then do nothing.
 * - Functions that keep no state are reentrant. The in-memory fake transport guards its route
 *   table with a lock; everything else leaves threading to the caller.
 * - The real transport's failure texts name the WinHTTP step that failed and end in WinHTTP's
 *   error number, the same on every platform ("WinHttpSendRequest failed: 12029": cannot
 *   connect; 12002 timed out; 12007 name not resolved; 12030 connection lost; 12152 not a valid
 *   HTTP answer; 12175 TLS refused; 8 out of memory). README.md lists every number.
 */
#ifndef VORNAK_HTTP_H
#define VORNAK_HTTP_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(FILMO_BUILDING)
#    define VORNAK_API __declspec(dllexport)
#  else
#    define VORNAK_API __declspec(dllimport)
#  endif
#else
#  define VORNAK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- records ---------------------------------------------------------------------------- */

typedef struct vornak_http_request vornak_http_request;

/* One exchange: returns 0 when an HTTP answer was received (*status set), -1 on failure
 * (*err normally a new text to release through the record's free_buf). */
typedef int32_t (*vornak_request_fn)(void *user_data, const vornak_http_request *req,
                                     int32_t *status, char **err);
/* Releases an error text that `request` handed out. */
typedef void (*vornak_free_fn)(void *user_data, char *text);
/* Sinks: return 0 to go on, anything else asks the transport to stop delivering. */
typedef int32_t (*vornak_header_sink)(void *sink_ctx, const char *name, const char *value);
typedef int32_t (*vornak_body_sink)(void *sink_ctx, const void *bytes, uint64_t n);

/* A transport. Usable only when size >= 32, version == 1 and request is present. */
typedef struct vornak_http {
    uint32_t size;            /* 32 */
    uint32_t version;         /* 1 */
    void *user_data;          /* first argument of request and free_buf */
    vornak_request_fn request;
    vornak_free_fn free_buf;  /* may be null */
} vornak_http;

#define VORNAK_REQUEST_SIZE 112
#define VORNAK_FLAG_DECOMPRESS 1    /* ask the transport to decode gzip and deflate */
#define VORNAK_FLAG_NO_RECV_TIMEOUT 2 /* timeout_ms also governs receiving */

/* One request. Zero the whole record, set size = 112, then the fields used: a zero field
 * selects the default. The transport only reads it. */
struct vornak_http_request {
    int32_t size;                  /* 112; 111 or less is refused */
    const char *method;            /* token accepted by vornak_method_ok; required */
    const char *url;               /* absolute URL; required */
    const char *const *headers;    /* "Name: value" lines without line end; null entries skipped */
    uint64_t header_count;
    const void *body;              /* null: no body */
    uint64_t body_len;
    const char *user;              /* server authentication after a 401; null: none */
    const char *password;          /* null: empty */
    int32_t timeout_ms;            /* send and default receive time-out; < 1 means 60000 */
    int32_t connect_timeout_ms;    /* < 1 means 15000 */
    int32_t flags;                 /* VORNAK_FLAG_* */
    int32_t recv_timeout_ms;       /* used when VORNAK_FLAG_NO_RECV_TIMEOUT is clear; < 1: 60000 */
    vornak_header_sink on_header;  /* null: headers not wanted */
    vornak_body_sink on_body;      /* null: body read and dropped */
    void *sink_ctx;                /* first argument of both sinks */
};

#define VORNAK_IO_TAG 0x484B4E56u  /* the bytes 56 4E 4B 48 in memory */

/* Context record of an io handle. */
typedef struct vornak_io_ctx {
    uint32_t tag;                  /* VORNAK_IO_TAG */
    uint32_t size;                 /* 24; below 24 is refused */
    const vornak_http *http;       /* the transport the handle works over */
    void *user;                    /* the host's own value; never read by the library */
} vornak_io_ctx;

/* io handle operations. A body or error text they hand out goes back through free_buf. */
typedef int32_t (*vornak_io_get_fn)(vornak_io_ctx *ctx, const char *url, char **body,
                                    int32_t *status, char **err);
typedef int32_t (*vornak_io_post_fn)(vornak_io_ctx *ctx, const char *url, const char *body,
                                     const char *content_type, char **body_out,
                                     int32_t *status, char **err);
typedef void (*vornak_io_free_fn)(vornak_io_ctx *ctx, char *text);

/* The form in which a host hands a transport to the client (filmo_set_io). */
typedef struct vornak_io {
    vornak_io_ctx *ctx;
    vornak_io_get_fn get;
    vornak_io_post_fn post;
    vornak_io_free_fn free_buf;
} vornak_io;

/* Growable byte buffer. A zeroed record is empty; once allocated, data[len] is 0 so data
 * reads as a text. Release with vornak_buf_free; a block moved out is released with free(). */
typedef struct vornak_buf {
    char *data;
    uint64_t len;
    uint64_t cap;
} vornak_buf;

/* Response collector: pass it as sink_ctx with the sinks vornak_collect_header/_body.
 * Header block: name, 0, value, 0 for each header in arrival order (":status" not stored). */
typedef struct vornak_collect {
    vornak_buf body;
    vornak_buf headers;
    int32_t status;                /* from ":status"; 0 until one arrives */
    uint64_t limit;                /* most body bytes kept; 0: no bound */
    int32_t truncated;             /* 1 once a chunk would have passed limit */
} vornak_collect;

/* ---- buffer, duplicators, collector ------------------------------------------------------ */

/* Append n bytes; 0, or -1 (buffer unchanged) when memory runs out or the size overflows. */
VORNAK_API int32_t vornak_buf_add(vornak_buf *b, const void *src, size_t n);
/* Append one byte (a 0 byte counts like any other). */
VORNAK_API int32_t vornak_buf_addc(vornak_buf *b, int c);
/* Append a text without its terminator. */
VORNAK_API int32_t vornak_buf_adds(vornak_buf *b, const char *text);
/* Release data and zero the record; the buffer can be used again. */
VORNAK_API void vornak_buf_free(vornak_buf *b);
/* Heap copies (free with free()); null for a null text or when memory runs out. */
VORNAK_API char *vornak_strdup(const char *text);
VORNAK_API char *vornak_strndup(const void *src, size_t n);

/* Zero the collector and set its body bound (0: none). */
VORNAK_API void vornak_collect_init(vornak_collect *c, uint64_t limit);
/* Sinks; ctx is a vornak_collect. Result 0 to go on, 1 to stop. */
VORNAK_API int32_t vornak_collect_header(void *ctx, const char *name, const char *value);
VORNAK_API int32_t vornak_collect_body(void *ctx, const void *bytes, uint64_t n);
/* Release body and headers; status, limit and truncated keep their values. */
VORNAK_API void vornak_collect_free(vornak_collect *c);

/* ---- look-ups and checks ----------------------------------------------------------------- */

/* Value of a header in a header block (name compared ignoring ASCII case), or null. The
 * pointer lives while the block is neither released nor appended to. */
VORNAK_API const char *vornak_hdrs_get(const vornak_buf *block, const char *name);
/* Value of a header line in a request record, pointing into the caller's line, or null. */
VORNAK_API const char *vornak_header_get(const vornak_http_request *req, const char *name);
/* 1 when the text is an HTTP method token of 1 to 32 bytes, else 0. */
VORNAK_API int32_t vornak_method_ok(const char *method);
/* Check a header and format "name: value" into out (size >= 4); 0, or -1 when refused. */
VORNAK_API int32_t vornak_header_line(const char *name, const char *value, char *out,
                                      size_t out_size);
/* The transport an io handle carries, if acceptable; else null. */
VORNAK_API const vornak_http *vornak_http_of(const vornak_io *io);
VORNAK_API const vornak_http *vornak_http_from_ctx(const vornak_io_ctx *ctx);

/* ---- built-in transports ----------------------------------------------------------------- */

/* The real network transport; never null. Safe to use from several threads at once. */
VORNAK_API const vornak_http *vornak_http_winhttp(void);
/* The optional curl-based transport is not part of this build: always null. */
VORNAK_API const vornak_http *vornak_http_curl(void);

/* ---- request helpers --------------------------------------------------------------------- */

/* Parse a Content-Range value ("bytes 0-499/1234"); -1 stands for a value not given.
 * 0 when well formed, -1 otherwise. */
VORNAK_API int32_t vornak_content_range(const char *value, int64_t *first, int64_t *last,
                                        int64_t *total);
/* Ranged GET of bytes first..last into the collector; a 200 answer's body is shifted past
 * first. Result: the transport's, or -1 with *err = "bad range args" (release it through the
 * transport's free_buf, like any error text of that transport). */
VORNAK_API int32_t vornak_http_range(const vornak_http *http, const char *url, int64_t first,
                                     int64_t last, vornak_collect *c, int32_t *status,
                                     char **err);

/* ---- io-over-HTTP adapter ---------------------------------------------------------------- */

/* The one process-wide io handle, re-pointed at http and user; null when http is null. Not to
 * be called while another thread uses the handle. */
VORNAK_API vornak_io *vornak_io_over_http(const vornak_http *http, void *user);

/* ---- in-memory fake transport ------------------------------------------------------------ */

/* Scripted routes keyed by (method, url); thread-safe. Registration: 0, or -1 when an
 * argument is missing, the 256 routes are taken, or memory runs out. */
VORNAK_API const vornak_http *vornak_http_fake(void);
/* Canned answer; headers are "Name: value\n" lines (null: none). */
VORNAK_API int32_t vornak_fake_set(const char *method, const char *url, int32_t status,
                                   const char *headers, const void *body, size_t body_len);
/* Byte resource under GET; range_mode 0 ignores ranges, 2 is strict, others lenient. */
VORNAK_API int32_t vornak_fake_file(const char *url, const void *body, size_t body_len,
                                    int32_t range_mode);
/* Body dripped in 64-byte chunks 10 ms apart; chunk_limit > 0 ends the answer early. */
VORNAK_API int32_t vornak_fake_drip(const char *url, int32_t status, const void *body,
                                    size_t body_len, int32_t chunk_limit);
/* Injected transport failure (text null: "fake: transport failure"). */
VORNAK_API int32_t vornak_fake_fail(const char *method, const char *url, const char *text);
/* Hits of one route; with a null method or url the total of valid requests. */
VORNAK_API int32_t vornak_fake_calls(const char *method, const char *url);
/* Sum of hits of the routes with this method; null: the total. */
VORNAK_API int32_t vornak_fake_calls_method(const char *method);
/* Valid requests with a writing method (PUT, MKCOL, DELETE, MOVE, COPY, PROPPATCH, LOCK,
 * UNLOCK, POST). */
VORNAK_API int32_t vornak_fake_writes_sent(void);
/* JSON description of the last valid request, or null; read it only while no request or
 * reset runs. */
VORNAK_API const char *vornak_fake_last_request(void);
/* Forget every route, counter and the last request. */
VORNAK_API void vornak_fake_reset(void);

#ifdef __cplusplus
}
#endif

#endif /* VORNAK_HTTP_H */
