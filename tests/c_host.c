/* A plain C host: includes both public headers and calls only public operations. */
#include <stdio.h>
#include <string.h>

#include "filmo.h"
#include "vornak_http.h"

typedef char check_http_size[sizeof(vornak_http) == 32 ? 1 : -1];
typedef char check_request_size[sizeof(vornak_http_request) == 112 ? 1 : -1];
typedef char check_ctx_size[sizeof(vornak_io_ctx) == 24 ? 1 : -1];

static int fails = 0;
#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) {                                                     \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++fails;                                                       \
        }                                                                  \
    } while (0)

int main(void) {
    vornak_buf b = {0};
    CHECK(strcmp(filmo_version(), "1.0.0") == 0);
    CHECK(filmo_last_error()[0] == '\0');
    CHECK(vornak_buf_adds(&b, "abc") == 0 && b.len == 3 && strcmp(b.data, "abc") == 0);
    vornak_buf_free(&b);
    CHECK(vornak_method_ok("GET") == 1);
    CHECK(vornak_http_curl() == NULL);
    CHECK(filmo_get_collections("en-US") == FILMO_ERR_NO_TRANSPORT);
    CHECK(filmo_collection_count() == 0);
    CHECK(filmo_home_collection_id(0) == -1);
    filmo_shutdown();
    if (fails == 0) printf("c_host: ok\n");
    return fails == 0 ? 0 : 1;
}
