// A home page text through filmo_parse_homepage_json, then every home accessor over every
// position and beyond. A second parse of the same text runs with the heap failing after a number
// of allocations taken from the input, and must either succeed or leave the first page intact.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "filmo.h"
#include "filmo_internal.h"
#include "view_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *text = reinterpret_cast<const char *>(data);
    int32_t st = filmo_parse_homepage_json(text, size);
    FUZZ_REQUIRE(st == FILMO_OK || st == FILMO_ERR_DECODE || st == FILMO_ERR_ARG);
    FUZZ_REQUIRE((st == FILMO_OK) == (filmo_last_error()[0] == '\0'));
    if (st == FILMO_OK) {
        // The page keeps an exact copy of the text, and its hash is the stable hash of it.
        const char *kept = filmo_home_json();
        FUZZ_REQUIRE(kept && std::memcmp(kept, text, size) == 0 && kept[size] == '\0');
        FUZZ_REQUIRE(filmo_homepage_hash() == filmo_stable_hash(text, size));
    }
    filmo_fuzz::walk_home();

    const filmo_fuzz::Fingerprint before = filmo_fuzz::fingerprint(0);
    vornak_alloc_fail_after(size ? data[size - 1] % 48 : 0);
    int32_t again = filmo_parse_homepage_json(text, size);
    vornak_alloc_fail_after(-1);
    if (st == FILMO_OK)
        FUZZ_REQUIRE(again == FILMO_OK || again == FILMO_ERR_OOM);
    else
        FUZZ_REQUIRE(again == st);
    if (again != FILMO_OK) FUZZ_REQUIRE(filmo_fuzz::fingerprint(0) == before);
    filmo_fuzz::walk_home();

    filmo_shutdown();
    return 0;
}
