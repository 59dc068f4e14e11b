// A compressed body through filmo_inflate_zlib, checked against zlib's own inflate of the same
// bytes: whatever the library accepts, zlib inflates to the very same bytes; whatever zlib calls
// corrupt, the library refuses. Failures leave no output and a bounded message.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filmo_internal.h"
#include "fuzz_check.h"

namespace {

enum class Ref { ok, corrupt, truncated, too_big };

// zlib's verdict and output, allowed a little past the library's 64 MB bound.
Ref reference(const uint8_t *data, size_t size, std::string &out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) std::abort();
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = static_cast<uInt>(size);
    unsigned char chunk[16384];
    Ref verdict = Ref::truncated;
    for (;;) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        int rc = inflate(&z, Z_NO_FLUSH);
        out.append(reinterpret_cast<char *>(chunk), sizeof chunk - z.avail_out);
        if (rc == Z_STREAM_END) { verdict = Ref::ok; break; }
        if (rc == Z_BUF_ERROR || (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0)) break;
        if (rc != Z_OK) { verdict = Ref::corrupt; break; }
        if (out.size() > (size_t{65} << 20)) { verdict = Ref::too_big; break; }
    }
    inflateEnd(&z);
    return verdict;
}

bool starts(const char *text, const char *prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Error buffers of the callers' sizes and a tiny one that every message overflows.
    static const size_t err_sizes[] = {256, 128, 9};
    const size_t err_size = err_sizes[size % 3];
    std::vector<char> err(err_size, 'x');  // exact size: ASan sees any write past the end
    char *out = reinterpret_cast<char *>(1);
    size_t out_len = 7;

    // Now and then the output buffer or its growth cannot be had.
    const bool starve = size % 5 == 4;
    if (starve) vornak_alloc_fail_after(static_cast<long>(size % 3));
    int32_t rc = filmo_inflate_zlib(data, size, &out, &out_len, err.data(), err_size);
    vornak_alloc_fail_after(-1);

    std::string expect;
    Ref verdict = size ? reference(data, size, expect) : Ref::truncated;
    if (rc == 0) {
        FUZZ_REQUIRE(out != nullptr && out[out_len] == '\0');
        FUZZ_REQUIRE(verdict == Ref::ok && expect.size() == out_len &&
                std::memcmp(expect.data(), out, out_len) == 0);
        FUZZ_REQUIRE(out_len <= (size_t{64} << 20));
        std::free(out);
        return 0;
    }
    FUZZ_REQUIRE(out == nullptr && out_len == 0);
    FUZZ_REQUIRE(std::memchr(err.data(), '\0', err_size) != nullptr);
    const char *msg = err.data();
    if (err_size > 40) {
        FUZZ_REQUIRE(starts(msg, "zlib: "));
        if (starts(msg, "zlib: corrupt stream") || starts(msg, "zlib: truncated stream"))
            FUZZ_REQUIRE(verdict != Ref::ok);
        if (starts(msg, "zlib: oom")) FUZZ_REQUIRE(starve);
    }
    // zlib calls the stream corrupt: the library must never have accepted it (checked above).
    return 0;
}
