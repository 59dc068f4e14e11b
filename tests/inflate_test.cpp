// The bounded inflate over every inflater this build has (the library's own, and zlib's beside
// it where the library drives ISA-L): the same starting capacity, growth, guards and messages.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "filmo_inflater.h"
#include "filmo_internal.h"
#include "test_support.h"

namespace {

const filmo_inflater k_inflaters[] = {FILMO_TEST_INFLATERS};

class Inflate : public ::testing::TestWithParam<filmo_inflater> {
protected:
    void SetUp() override { filmo_test::reset_client(); }
    void TearDown() override { filmo_test::reset_client(); }
};

// Allocations an inflater makes besides the output buffer and its growth: to open a stream,
// and for its window once a step ends without ending the stream (zlib takes its window late;
// igzip keeps its window inside its state).
struct Appetite {
    long open;
    long window;
};
Appetite appetite(const filmo_inflater &inf) {
    return std::strcmp(inf.name, "zlib") == 0 ? Appetite{2, 1} : Appetite{1, 0};
}

// Smallest allocation budget with which op succeeds (op answers "" on success, else its
// failure message); that count is how many allocations the successful run made. The failures
// met on the way are handed back in budget order.
long allocations_needed(const std::function<std::string()> &op, std::vector<std::string> *fails) {
    for (long n = 0; n < 64; ++n) {
        vornak_alloc_fail_after(n);
        const std::string err = op();
        vornak_alloc_fail_after(-1);
        if (err.empty()) return n;
        fails->push_back(err);
    }
    ADD_FAILURE() << "never succeeded";
    return -1;
}

// Deterministic bytes: `span` characters from a 16-letter alphabet, repeated up to n.
std::string repeating(size_t n, size_t span) {
    std::string unit;
    uint32_t seed = 7;
    for (size_t i = 0; i < span; ++i) {
        seed = seed * 1103515245u + 12345u;
        unit.push_back(static_cast<char>('a' + (seed >> 16) % 16));
    }
    std::string out;
    while (out.size() < n) out += unit;
    out.resize(n);
    return out;
}

struct Inflated {
    int32_t rc = 0;
    std::string data;
    bool terminated = false;
    std::string err;
};

Inflated inflate_all(const filmo_inflater &inf, const std::string &z, size_t err_size = 256) {
    char *out = reinterpret_cast<char *>(1);
    size_t len = 99;
    std::vector<char> err(err_size, '#');
    Inflated r;
    r.rc = filmo_inflate_with(inf, z.data(), z.size(), &out, &len, err.data(), err.size());
    if (r.rc == 0) {
        r.data.assign(out, len);
        r.terminated = out[len] == '\0';
        std::free(out);
    } else {
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(len, 0u);
        r.err = err.data();
    }
    return r;
}

// Compresses n bytes made by gen(offset, chunk) without holding them all at once.
std::string deflate_generated(size_t n, int level, int window_bits,
                              const std::function<void(size_t, std::string &)> &gen) {
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out, chunk;
    std::vector<unsigned char> buf(1 << 16);
    size_t done = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        const size_t take = std::min<size_t>(1 << 20, n - done);
        chunk.assign(take, '\0');
        gen(done, chunk);
        done += take;
        zs.next_in = reinterpret_cast<Bytef *>(&chunk[0]);
        zs.avail_in = static_cast<uInt>(take);
        const int flush = done == n ? Z_FINISH : Z_NO_FLUSH;
        do {
            zs.next_out = buf.data();
            zs.avail_out = static_cast<uInt>(buf.size());
            rc = deflate(&zs, flush);
            out.append(reinterpret_cast<char *>(buf.data()), buf.size() - zs.avail_out);
        } while (zs.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    }
    deflateEnd(&zs);
    return out;
}

std::string gzip(const std::string &text) {
    return deflate_generated(text.size(), 6, 31, [&](size_t at, std::string &c) {
        c = text.substr(at, c.size());
    });
}

// A stream whose compressor was given a preset dictionary.
std::string with_dictionary(const std::string &text) {
    z_stream zs{};
    if (deflateInit(&zs, 6) != Z_OK) throw std::runtime_error("deflateInit");
    const char dict[] = "dictionary";
    deflateSetDictionary(&zs, reinterpret_cast<const Bytef *>(dict), 10);
    std::vector<unsigned char> buf(text.size() + 256);
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    zs.avail_in = static_cast<uInt>(text.size());
    zs.next_out = buf.data();
    zs.avail_out = static_cast<uInt>(buf.size());
    if (deflate(&zs, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    const std::string z(reinterpret_cast<char *>(buf.data()), buf.size() - zs.avail_out);
    deflateEnd(&zs);
    return z;
}

// Allocations of one inflate: the inflater's stream, the output buffer, its window if it takes
// one late, and one per growth of the buffer.
long inflate_allocations(const filmo_inflater &inf, const std::string &z,
                         std::vector<std::string> *fails) {
    return allocations_needed(
        [&] {
            const Inflated f = inflate_all(inf, z);
            return f.rc == 0 ? std::string() : f.err;
        },
        fails);
}

TEST_P(Inflate, StartsAtFourTimesTheInput) {
    const Appetite a = appetite(GetParam());
    for (size_t span : {150, 9000}) {  // below and above the 4096-byte minimum
        const std::string text = repeating(span == 150 ? 2000 : 19000, span);
        const std::string z = filmo_test::zlib_compress(text, 9);
        ASSERT_LE(text.size(), std::max<size_t>(z.size() * 4, 4096));
        const Inflated r = inflate_all(GetParam(), z);
        ASSERT_EQ(r.rc, 0) << r.err;
        EXPECT_EQ(r.data, text);
        EXPECT_TRUE(r.terminated);
        // One step into the first buffer ends the stream: no window, no growth.
        std::vector<std::string> fails;
        EXPECT_EQ(inflate_allocations(GetParam(), z, &fails), a.open + 1) << span;
        std::vector<std::string> want(a.open, "zlib: init failed");
        want.push_back("zlib: oom");
        EXPECT_EQ(fails, want);
    }
}

TEST_P(Inflate, GrowsByDoublingUnderTheRatio) {
    const Appetite a = appetite(GetParam());
    const std::string text = repeating(30000, 1400);
    const std::string z = filmo_test::zlib_compress(text, 9);
    ASSERT_GT(z.size(), 800u);
    ASSERT_LE(z.size(), 1024u);  // starting buffer: 4096
    const Inflated r = inflate_all(GetParam(), z);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.data, text);
    EXPECT_TRUE(r.terminated);

    // Stream, buffer and window, then one growth per doubling: 4096 to 8192, 16384 and 32768.
    // Each earlier failure is reported as the allocation that failed (the window too: "oom").
    std::vector<std::string> fails;
    EXPECT_EQ(inflate_allocations(GetParam(), z, &fails), a.open + 1 + a.window + 3);
    std::vector<std::string> want(a.open, "zlib: init failed");
    want.resize(fails.size(), "zlib: oom");
    EXPECT_EQ(fails, want);
}

TEST_P(Inflate, Failures) {
    const std::string text = repeating(5000, 300);
    const std::string z = filmo_test::zlib_compress(text);
    std::string flipped_trailer = z;
    flipped_trailer.back() ^= 0x01;
    std::string flipped_header = z;
    flipped_header[0] ^= 0x01;
    std::string bad_check = z;
    bad_check[1] ^= 0x01;  // the header's check bits no longer divide by 31
    std::string big_window = z;
    big_window[0] = static_cast<char>(0x88);  // a 64 KB window: beyond the format
    big_window[1] = static_cast<char>(0x1C);
    std::string bad_block = z;
    bad_block[2] = static_cast<char>(0xFF);  // block type 3 is reserved
    // A dynamic block header cut where the zero bits past the end would make it invalid: the
    // input ended, the header is not known to be bad.
    const std::string cut_header =
        std::string("\x78\x9c\xed\x54\xc1\x72\xda\x30\x10\xfd\x15\x46\x67\xc7\x23\xdb", 16) +
        std::string("\x04\x82\x4f\x4d\x81\xbc\x4c\x49\xcb\x04\xd2\x99\xb6\x09\x4f\xa0", 16) +
        std::string(11, '\0') + std::string("\xe8\x8f\x75\x28\x00\x00\x06\x5d\x27\x00\x99", 11);
    struct Case {
        const char *what;
        std::string input;
        const char *err;
    } cases[] = {
        {"no trailer", z.substr(0, z.size() - 4), "zlib: truncated stream"},
        {"half", z.substr(0, z.size() / 2), "zlib: truncated stream"},
        {"header only", z.substr(0, 2), "zlib: truncated stream"},
        {"one byte", z.substr(0, 1), "zlib: truncated stream"},
        {"cut in a block header", cut_header, "zlib: truncated stream"},
        {"trailer flipped", flipped_trailer, "zlib: corrupt stream (-3)"},
        {"header flipped", flipped_header, "zlib: corrupt stream (-3)"},
        {"header check", bad_check, "zlib: corrupt stream (-3)"},
        {"window too big", big_window, "zlib: corrupt stream (-3)"},
        {"reserved block", bad_block, "zlib: corrupt stream (-3)"},
        {"gzip", gzip(text), "zlib: corrupt stream (-3)"},
        {"not compressed", "{\"a\":1}", "zlib: corrupt stream (-3)"},
        // A stream asking for a preset dictionary cannot be inflated and must not spin.
        {"dictionary", with_dictionary("dictionary dictionary"), "zlib: corrupt stream (2)"},
    };
    for (const Case &k : cases) {
        const Inflated r = inflate_all(GetParam(), k.input);
        EXPECT_EQ(r.rc, -1) << k.what;
        EXPECT_EQ(r.err, k.err) << k.what;
    }
    // Bytes after the trailer are not looked at.
    const Inflated trailing = inflate_all(GetParam(), z + "garbage");
    ASSERT_EQ(trailing.rc, 0) << trailing.err;
    EXPECT_EQ(trailing.data, text);
}

TEST_P(Inflate, RatioGuardAfterTheFirstBuffer) {
    // A stream that ends inside its first buffer is accepted whatever its ratio; one byte
    // more and the first full buffer trips the guard.
    const std::string fits = filmo_test::zlib_compress(std::string(4096, '\0'), 9);
    ASSERT_LT(fits.size(), 64u);
    const Inflated ok = inflate_all(GetParam(), fits);
    ASSERT_EQ(ok.rc, 0) << ok.err;
    EXPECT_EQ(ok.data, std::string(4096, '\0'));

    const std::string over = filmo_test::zlib_compress(std::string(4097, '\0'), 9);
    EXPECT_EQ(inflate_all(GetParam(), over).err, "zlib: ratio above 64:1 (bomb guard)");

    const std::string bomb = filmo_test::zlib_compress(std::string(1000000, '\0'), 9);
    ASSERT_LT(bomb.size(), 1100u);
    EXPECT_EQ(inflate_all(GetParam(), bomb).err, "zlib: ratio above 64:1 (bomb guard)");
}

TEST_P(Inflate, StopsAHugeBombEarly) {
    // 256 MB of zeros: refused at the first full buffer, long before it could be produced.
    const std::string bomb =
        deflate_generated(size_t{256} << 20, 1, 15, [](size_t, std::string &) {});
    const Appetite a = appetite(GetParam());
    vornak_alloc_fail_after(a.open + 1 + a.window);  // no growth is ever attempted
    EXPECT_EQ(inflate_all(GetParam(), bomb).err, "zlib: ratio above 64:1 (bomb guard)");
}

// One random byte in every 32: about 16:1, well inside the ratio guard all along.
void sparse(size_t at, std::string &chunk) {
    for (size_t i = 0; i < chunk.size(); ++i)
        if ((at + i) % 32 == 0) chunk[i] = static_cast<char>(((at + i) * 2654435761u) >> 24);
}

TEST_P(Inflate, AcceptsExactly64MegabytesAndNotOneMore) {
    const size_t max = size_t{64} << 20;
    const std::string exact = deflate_generated(max, 1, 15, sparse);
    ASSERT_LT(exact.size(), size_t{16} << 20);
    char *out = nullptr;
    size_t len = 0;
    char err[256] = "";
    ASSERT_EQ(filmo_inflate_with(GetParam(), exact.data(), exact.size(), &out, &len, err,
                                 sizeof err),
              0)
        << err;
    EXPECT_EQ(len, max);
    EXPECT_EQ(out[max], '\0');
    std::string probe(64, '\0');
    sparse(max - 64, probe);
    EXPECT_EQ(std::memcmp(out + max - 64, probe.data(), 64), 0);
    std::free(out);

    const std::string over = deflate_generated(max + 1, 1, 15, sparse);
    EXPECT_EQ(inflate_all(GetParam(), over).err, "zlib: inflated size exceeds 64 MB");
}

INSTANTIATE_TEST_SUITE_P(Inflaters, Inflate, ::testing::ValuesIn(k_inflaters),
                         [](const ::testing::TestParamInfo<filmo_inflater> &info) {
                             return std::string(info.param.name);
                         });

// The library's own entry point: the build's inflater, empty input refused before any work,
// messages cut to the caller's buffer.
TEST(InflateEntry, RefusesEmptyInputAndBoundsItsMessages) {
    filmo_test::reset_client();
    char *out = reinterpret_cast<char *>(1);
    size_t len = 5;
    char err[128];
    EXPECT_EQ(filmo_inflate_zlib(nullptr, 10, &out, &len, err, sizeof err), -1);
    EXPECT_STREQ(err, "zlib: empty input");
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(filmo_inflate_zlib("x", 0, &out, &len, err, sizeof err), -1);
    EXPECT_STREQ(err, "zlib: empty input");

    char small[8];
    EXPECT_EQ(filmo_inflate_zlib("\x78\x9c", 2, &out, &len, small, sizeof small), -1);
    EXPECT_STREQ(small, "zlib: t");
    EXPECT_EQ(filmo_inflate_zlib("\x78\x9c", 2, &out, &len, nullptr, 0), -1);

    const std::string text = repeating(3000, 200);
    const std::string z = filmo_test::zlib_compress(text);
    ASSERT_EQ(filmo_inflate_zlib(z.data(), z.size(), &out, &len, err, sizeof err), 0) << err;
    EXPECT_EQ(std::string(out, len), text);
    std::free(out);
}

}  // namespace
