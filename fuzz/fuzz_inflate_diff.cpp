// The bounded inflate over ISA-L's igzip against the same algorithm over zlib: for every input
// both accept with byte-identical output, or both refuse with the same message.
//
// The one allowed difference is the ratio guard's verdict near its limit. The guard compares
// the bytes written with the bytes taken so far. igzip reads input ahead of its decoding (up to
// 8 bytes in its bit buffer, near the end of the input up to ISAL_DEF_MAX_HDR_SIZE bytes copied
// aside); the step no longer counts those, so they make no difference. What still does: when the
// room left is short, igzip decodes on into an output buffer of its own and hands that out over
// the next steps, so the input behind output not yet written counts as taken; and a code cut by
// a step's end is counted by each library its own way. Where one inflater's guard trips by less
// than 64 bytes out per byte of k_read_ahead, the other may go on; what it then finds further in
// the stream is not compared. The bound is the one that held before those bytes were discounted.
//
// The other: the Huffman code sets of a dynamic block header. zlib refuses an incomplete or
// oversubscribed set when it has read it, takes an empty code-length set (and then fails on the
// lengths it yields), and reads on while the input lasts; igzip builds its tables its own way
// and refuses some such headers sooner, some later, some never (decoding through a set zlib
// would not take; only a checksum computed from igzip's own reading lets such a stream pass: a
// compressor never writes one). So where zlib refuses the stream, or would refuse it once the
// input went on with zero bytes, with a message naming a code set, igzip may fail otherwise or
// accept. Where zlib accepts, igzip must accept the same bytes.
//
// An input starting with 'R' is raw deflate data: it is wrapped into a zlib stream with a
// correct header and the Adler-32 of what either inflater makes of the data, so checksums no
// longer hide the deflate decoders' disagreements from the fuzzer.
#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filmo_inflater.h"
#include "fuzz_check.h"

namespace {

constexpr int64_t k_read_ahead = 8 + ISAL_DEF_MAX_HDR_SIZE;
constexpr int64_t k_ratio = 64;
constexpr size_t k_raw_cap = size_t{1} << 20;
const char k_bomb[] = "zlib: ratio above 64:1 (bomb guard)";

struct Verdict {
    int32_t rc;
    std::string data;
    std::string err;
    int64_t margin;
};

Verdict run(const filmo_inflater &inf, const uint8_t *data, size_t size) {
    Verdict v;
    char *out = nullptr;
    size_t len = 0;
    char err[256] = "";
    v.rc = filmo_inflate_with(inf, data, size, &out, &len, err, sizeof err, &v.margin);
    if (v.rc == 0) {
        FUZZ_REQUIRE(out != nullptr && out[len] == '\0');
        v.data.assign(out, len);
        std::free(out);
    } else {
        FUZZ_REQUIRE(out == nullptr && len == 0);
        v.err = err;
    }
    return v;
}

// Raw deflate through igzip, then zlib: the output of the first that ends the data.
bool raw_output(const uint8_t *data, size_t size, std::string &out) {
    std::vector<uint8_t> buf(k_raw_cap);
    auto *st = static_cast<inflate_state *>(std::malloc(sizeof(inflate_state)));
    FUZZ_REQUIRE(st != nullptr);
    isal_inflate_init(st);
    st->next_in = const_cast<uint8_t *>(data);
    st->avail_in = static_cast<uint32_t>(size);
    st->next_out = buf.data();
    st->avail_out = static_cast<uint32_t>(buf.size());
    const int rc = isal_inflate(st);
    const bool isal_ok = rc >= 0 && st->block_state == ISAL_BLOCK_FINISH;
    const size_t isal_len = buf.size() - st->avail_out;
    std::free(st);
    if (isal_ok) {
        out.assign(reinterpret_cast<char *>(buf.data()), isal_len);
        return true;
    }
    z_stream z{};
    FUZZ_REQUIRE(inflateInit2(&z, -15) == Z_OK);
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = buf.data();
    z.avail_out = static_cast<uInt>(buf.size());
    const bool zlib_ok = inflate(&z, Z_FINISH) == Z_STREAM_END;
    out.assign(reinterpret_cast<char *>(buf.data()), buf.size() - z.avail_out);
    inflateEnd(&z);
    return zlib_ok;
}

std::string wrap_raw(const uint8_t *data, size_t size) {
    std::string body;
    const bool ended = raw_output(data, size, body);
    uLong adler = adler32(0, nullptr, 0);
    if (ended) adler = adler32(adler, reinterpret_cast<const Bytef *>(body.data()),
                               static_cast<uInt>(body.size()));
    std::string z("\x78\x9c", 2);
    z.append(reinterpret_cast<const char *>(data), size);
    for (int shift = 24; shift >= 0; shift -= 8) z.push_back(static_cast<char>(adler >> shift));
    return z;
}

// zlib's own message for a stream it refuses ("" when it does not).
std::string zlib_message(const uint8_t *data, size_t size) {
    z_stream z{};
    FUZZ_REQUIRE(inflateInit(&z) == Z_OK);
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = static_cast<uInt>(size);
    std::vector<uint8_t> sink(1 << 16);
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = sink.data();
        z.avail_out = static_cast<uInt>(sink.size());
        rc = inflate(&z, Z_NO_FLUSH);
    }
    std::string msg = rc == Z_DATA_ERROR && z.msg ? z.msg : "";
    inflateEnd(&z);
    return msg;
}

bool names_code_set(const std::string &zlib_msg) {
    static const char *const sets[] = {"invalid code lengths set", "invalid literal/lengths set",
                                       "invalid distances set", "invalid bit length repeat",
                                       "invalid code -- missing end-of-block"};
    for (const char *m : sets)
        if (zlib_msg == m) return true;
    return false;
}

bool code_set_refused(const uint8_t *data, size_t size) {
    if (names_code_set(zlib_message(data, size))) return true;
    std::vector<uint8_t> longer(data, data + size);
    longer.resize(size + 1024, 0);
    return names_code_set(zlib_message(longer.data(), longer.size()));
}

// The guard tripped, by less than the other inflater may have read ahead.
bool near_guard(const Verdict &v) {
    return v.rc != 0 && v.err == k_bomb && v.margin >= -k_ratio * k_read_ahead;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string wrapped;
    if (size > 0 && data[0] == 'R') {
        wrapped = wrap_raw(data + 1, size - 1);
        data = reinterpret_cast<const uint8_t *>(wrapped.data());
        size = wrapped.size();
    }
    const Verdict isal = run(filmo_inflater_isal, data, size);
    const Verdict zlib = run(filmo_inflater_zlib, data, size);
    if (isal.rc == zlib.rc && isal.data == zlib.data && isal.err == zlib.err) return 0;
    if (near_guard(isal) || near_guard(zlib)) return 0;
    if (zlib.rc != 0 && code_set_refused(data, size)) return 0;
    const std::string zlib_msg = zlib_message(data, size);
    std::fprintf(stderr, "isal: rc %d, %zu bytes, \"%s\", margin %lld\n", isal.rc,
                 isal.data.size(), isal.err.c_str(), static_cast<long long>(isal.margin));
    std::fprintf(stderr, "zlib: rc %d, %zu bytes, \"%s\", margin %lld (%s)\n", zlib.rc,
                 zlib.data.size(), zlib.err.c_str(), static_cast<long long>(zlib.margin),
                 zlib_msg.c_str());
    FUZZ_REQUIRE(!"the inflaters disagree");
    return 0;
}
