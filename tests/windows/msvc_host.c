/* A Windows host linked the way Microsoft's linker links one: against filmo.lib, with no C
 * runtime of its own, so that import library alone resolves every filmo_* call. It reads the
 * archive's sample corpus, unpacked under sdk\ beside it. Its exit code says which check failed
 * (0: none). */
#include <filmo.h>

__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);

static int same(const char *a, const char *b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

void __cdecl mainCRTStartup(void) {
    unsigned int failed = 0;
    if (!same(filmo_version(), "1.0.0")) failed |= 1;
    if (filmo_fake_corpus("sdk\\share\\filmo\\corpus") != FILMO_OK) failed |= 2;
    if (filmo_use_fake() != FILMO_OK) failed |= 4;
    if (filmo_get_collections("en-US") != FILMO_OK) failed |= 8;
    if (filmo_collection_count() <= 0 || filmo_collection_name(0)[0] == '\0') failed |= 16;
    filmo_shutdown();
    ExitProcess(failed);
}
