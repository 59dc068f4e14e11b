// filmo_stable_hash and filmo_url_encode against their invariants:
// - the hash equals a plain reference of its definition (UTF-8 to UTF-16 units, the two-lane
//   string hash, folded to 0..2147483647), so any fast path keeps every value;
// - texts whose UTF-16 forms are equal hash alike: the units re-encoded one by one as UTF-8 (and
//   with surrogate pairs joined into four-byte sequences) hash as the original;
// - the encoding keeps only the unreserved characters, writes "%XX" in upper case for every
//   other byte, and percent-decoding gives the text back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filmo_internal.h"
#include "fuzz_check.h"

namespace {

// UTF-16 units by the library's lenient decoding; false for what it calls malformed.
bool units_of(const uint8_t *s, size_t n, std::vector<uint16_t> &units) {
    for (size_t i = 0; i < n;) {
        uint32_t b = s[i++], cp, more;
        if (b < 0x80) { units.push_back(static_cast<uint16_t>(b)); continue; }
        if ((b & 0xE0) == 0xC0) cp = b & 0x1F, more = 1;
        else if ((b & 0xF0) == 0xE0) cp = b & 0x0F, more = 2;
        else if ((b & 0xF8) == 0xF0) cp = b & 0x07, more = 3;
        else return false;
        if (more > n - i) return false;
        for (; more; --more) {
            uint32_t c = s[i++];
            if ((c & 0xC0) != 0x80) return false;
            cp = cp << 6 | (c & 0x3F);
        }
        if (cp <= 0xFFFF) {
            units.push_back(static_cast<uint16_t>(cp));
        } else {
            units.push_back(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
    return true;
}

int64_t hash_units(const std::vector<uint16_t> &u) {
    uint32_t h1 = 5381, h2 = 5381;
    for (size_t i = 0; i < u.size(); i += 2) {
        if (u[i] == 0) break;
        h1 = (h1 * 33) ^ u[i];
        if (i + 1 == u.size() || u[i + 1] == 0) break;
        h2 = (h2 * 33) ^ u[i + 1];
    }
    const int32_t r = static_cast<int32_t>(h1 + h2 * 1566083941u);
    return r == INT32_MIN ? 0 : (r < 0 ? -static_cast<int64_t>(r) : r);
}

int64_t reference_hash(const uint8_t *s, size_t n) {
    if (n == 0) return 371857150;
    std::vector<uint16_t> units;
    return units_of(s, n, units) ? hash_units(units) : 0;
}

void put_unit(std::string &out, uint32_t u) {
    if (u < 0x80) {
        out += static_cast<char>(u);
    } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | u >> 6);
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | u >> 12);
        out += static_cast<char>(0x80 | (u >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    }
}

// One unit at a time (surrogates as three-byte sequences), or joined as UTF-8 proper.
std::string reencode(const std::vector<uint16_t> &u, bool join_pairs) {
    std::string out;
    for (size_t i = 0; i < u.size(); ++i) {
        if (join_pairs && u[i] >= 0xD800 && u[i] < 0xDC00 && i + 1 < u.size() &&
            u[i + 1] >= 0xDC00 && u[i + 1] < 0xE000) {
            uint32_t cp = 0x10000 + ((u[i] - 0xD800u) << 10) + (u[i + 1] - 0xDC00u);
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
            ++i;
        } else {
            put_unit(out, u[i]);
        }
    }
    return out;
}

void check_hash(const uint8_t *data, size_t size) {
    const int64_t h = filmo_stable_hash(data, size);
    FUZZ_REQUIRE(h >= 0 && h <= 2147483647);
    FUZZ_REQUIRE(h == reference_hash(data, size));

    std::vector<uint16_t> units;
    if (size == 0 || !units_of(data, size, units) || units.empty()) return;
    for (bool join : {false, true}) {
        const std::string again = reencode(units, join);
        FUZZ_REQUIRE(filmo_stable_hash(again.data(), again.size()) == h);
    }
}

// The unreserved characters, the only ones the encoding keeps as they are.
bool kept(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_' || c == '~';
}

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // lower-case digits are not what the encoding writes
}

void check_encode(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    const char *c_text = text.c_str();  // a 0 byte ends it, as for any C caller
    char *enc = filmo_url_encode(c_text);
    FUZZ_REQUIRE(enc != nullptr);
    size_t expect_len = 0;
    for (const char *p = c_text; *p; ++p)
        expect_len += kept(static_cast<unsigned char>(*p)) ? 1 : 3;
    FUZZ_REQUIRE(std::strlen(enc) == expect_len);

    std::string back;
    for (const char *p = enc; *p;) {
        if (*p == '%') {
            const int hi = hex(p[1]), lo = hi < 0 ? -1 : hex(p[2]);
            FUZZ_REQUIRE(hi >= 0 && lo >= 0);
            const unsigned char byte = static_cast<unsigned char>(hi << 4 | lo);
            FUZZ_REQUIRE(!kept(byte));  // an escaped byte is never one the encoding keeps
            back += static_cast<char>(byte);
            p += 3;
        } else {
            FUZZ_REQUIRE(kept(static_cast<unsigned char>(*p)));
            back += *p++;
        }
    }
    FUZZ_REQUIRE(back == c_text);
    std::free(enc);

    char *empty = filmo_url_encode(nullptr);
    FUZZ_REQUIRE(empty && empty[0] == '\0');
    std::free(empty);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    check_hash(data, size);
    check_encode(data, size);
    return 0;
}
