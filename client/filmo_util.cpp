// Pure helpers of the client core: the last-error setter, text copies, query-value encoding,
// the stable content hash, the two-spelling JSON readers and the cache clock with its expiry
// rule. The bounded inflate is filmo_inflate.cpp.
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "filmo_clock.h"
#include "filmo_internal.h"

// ---- last error and text copies ------------------------------------------------------------

void filmo_set_err(const char *format, ...) {
    char *out = g_client.last_error;
    if (!format || !*format) {
        out[0] = '\0';
        return;
    }
    // Formatted aside first: a caller may wrap the current error text in a new one, and
    // vsnprintf must not read the buffer it writes. It cuts at 255 bytes and terminates.
    char text[sizeof g_client.last_error];
    va_list ap;
    va_start(ap, format);
    const int n = std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    if (n < 0) text[0] = '\0';
    std::memcpy(out, text, sizeof text);
}

// The client's copies are the transport library's: the same heap, the same rules.
char *filmo_strndup(const char *source, size_t n) { return vornak_strndup(source, n); }

char *filmo_strdup(const char *text) { return vornak_strdup(text); }

// ---- URL encoding --------------------------------------------------------------------------

namespace {

// The unreserved set of RFC 3986; everything else is percent-encoded, a blank as %20.
bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_' || c == '~';
}

}  // namespace

char *filmo_url_encode(const char *text) {
    if (!text) return filmo_strndup(nullptr, 0);
    static const char hex[] = "0123456789ABCDEF";
    const size_t len = std::strlen(text);
    if (len > (SIZE_MAX - 1) / 3) return nullptr;
    char *out = static_cast<char *>(vornak_malloc(3 * len + 1));
    if (!out) return nullptr;
    char *w = out;
    for (size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (unreserved(c)) {
            *w++ = static_cast<char>(c);
        } else {
            *w++ = '%';
            *w++ = hex[c >> 4];
            *w++ = hex[c & 0x0F];
        }
    }
    *w = '\0';
    return out;
}

// ---- stable hash ---------------------------------------------------------------------------

namespace {

constexpr int64_t k_hash_of_nothing = 371857150;

// The non-randomised string hash of the 64-bit .NET Framework, fed one UTF-16 unit at a time:
// units at even positions go into the first lane, odd ones into the second, and a unit of 0
// ends the text as it would end a .NET string's hash loop.
struct unit_hash {
    uint32_t h1 = 5381;
    uint32_t h2 = 5381;
    bool second = false;  // the next unit goes into the second lane
    bool ended = false;   // a unit of 0 was seen: later units are decoded but not hashed

    void add(uint32_t unit) {
        if (ended || unit == 0) {
            ended = true;
            return;
        }
        if (second)
            h2 = (h2 * 33u) ^ unit;
        else
            h1 = (h1 * 33u) ^ unit;
        second = !second;
    }

    // The two lanes folded to a non-negative value.
    int64_t value() const {
        const uint32_t sum = h1 + h2 * 1566083941u;
        if (sum == 0x80000000u) return 0;  // |INT32_MIN| has no int32 form
        const int64_t r = sum < 0x80000000u ? int64_t{sum} : int64_t{sum} - (int64_t{1} << 32);
        return r < 0 ? -r : r;
    }
};

// One UTF-8 sequence at s[0..n): its length and code point, or 0 when it is malformed. No
// validation beyond the sequence shape: overlong forms, encoded surrogates and code points above
// U+10FFFF decode by the same arithmetic, because hashes made that way have already travelled.
size_t decode(const unsigned char *s, size_t n, uint32_t &cp) {
    const unsigned char lead = s[0];
    size_t more;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        more = 1;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        more = 2;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        more = 3;
        cp = lead & 0x07;
    } else {
        return 0;
    }
    if (more > n - 1) return 0;
    for (size_t k = 1; k <= more; ++k) {
        if ((s[k] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (s[k] & 0x3F);
    }
    return more + 1;
}

// Home pages are almost all ASCII, and an ASCII byte other than 0 is its own UTF-16 unit. While
// the next unit belongs to the first lane, such bytes are hashed straight from the text a pair
// at a time (one per lane), eight bytes per step. Returns the bytes taken, an even count; it
// stops before a pair that holds a 0 or a non-ASCII byte.
size_t hash_ascii_pairs(unit_hash &h, const unsigned char *s, size_t n) {
    constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    uint32_t h1 = h.h1, h2 = h.h2;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, s + i, sizeof w);
        if ((w & highs) | ((w - ones) & ~w & highs)) break;  // a non-ASCII byte or a 0 byte
        for (size_t k = i; k < i + 8; k += 2) {
            h1 = (h1 * 33u) ^ s[k];
            h2 = (h2 * 33u) ^ s[k + 1];
        }
    }
    for (; i + 2 <= n; i += 2) {
        if (s[i] - 1u >= 0x7Fu || s[i + 1] - 1u >= 0x7Fu) break;
        h1 = (h1 * 33u) ^ s[i];
        h2 = (h2 * 33u) ^ s[i + 1];
    }
    h.h1 = h1;
    h.h2 = h2;
    return i;
}

}  // namespace

int64_t filmo_stable_hash(const void *data, size_t length) {
    if (!data) return 0;
    // The units are hashed as they are decoded: the hash needs no memory of its own.
    if (length == 0) return k_hash_of_nothing;
    const auto *s = static_cast<const unsigned char *>(data);
    unit_hash h;
    for (size_t i = 0; i < length;) {
        if (!h.second && !h.ended) {
            i += hash_ascii_pairs(h, s + i, length - i);
            if (i == length) break;
        }
        // Every byte is decoded, even past a 0 unit: a malformed sequence anywhere makes 0.
        uint32_t cp;
        const size_t taken = decode(s + i, length - i, cp);
        if (taken == 0) return 0;
        i += taken;
        if (cp <= 0xFFFF) {
            h.add(cp);
        } else {
            h.add(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            h.add(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
    return h.value();
}

// ---- JSON readers --------------------------------------------------------------------------

namespace {

constexpr uint8_t k_uint = YYJSON_TYPE_NUM | YYJSON_SUBTYPE_UINT;
constexpr uint8_t k_sint = YYJSON_TYPE_NUM | YYJSON_SUBTYPE_SINT;
constexpr uint8_t k_real = YYJSON_TYPE_NUM | YYJSON_SUBTYPE_REAL;

// The 64-bit two's complement pattern of an integer value, signed or not.
uint64_t int_bits(yyjson_val *v, uint8_t tag) {
    return tag == k_uint ? unsafe_yyjson_get_uint(v)
                         : static_cast<uint64_t>(unsafe_yyjson_get_sint(v));
}

// Saturates a real at +-at, then truncates toward zero; the strict reader never yields NaN,
// but one would read as 0 rather than reach an undefined conversion.
template <class T>
T clamp_real(double d, double at) {
    if (std::isnan(d)) return 0;
    if (d >= at) return std::numeric_limits<T>::max();
    if (d <= -at) return std::numeric_limits<T>::min();
    return static_cast<T>(d);
}

// Two's complement low 32 bits, spelled out so the wrap does not rest on implementation-defined
// narrowing.
int32_t low32(uint64_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    return u < 0x80000000u ? static_cast<int32_t>(u)
                           : static_cast<int32_t>(u - 0x80000000u) + INT32_MIN;
}

bool key_is(yyjson_val *key, const char *name, size_t name_len) {
    return unsafe_yyjson_get_len(key) == name_len &&
           std::memcmp(unsafe_yyjson_get_str(key), name, name_len) == 0;
}

unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// Case-insensitive as tolower in the default locale is: only A to Z change, whatever locale
// the host has switched to. A key with an embedded NUL is compared up to that NUL.
bool key_is_folded(yyjson_val *key, const char *name, size_t name_len) {
    const char *k = unsafe_yyjson_get_str(key);
    if (strnlen(k, unsafe_yyjson_get_len(key)) != name_len) return false;
    for (size_t i = 0; i < name_len; ++i)
        if (fold(static_cast<unsigned char>(k[i])) != fold(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

template <class Match>
yyjson_val *find_member(yyjson_val *obj, const char *name, Match match) {
    const size_t name_len = std::strlen(name);
    size_t idx, max;
    yyjson_val *key, *val;
    yyjson_obj_foreach(obj, idx, max, key, val) {
        if (match(key, name, name_len)) return val;
    }
    return nullptr;
}

}  // namespace

yyjson_val *filmo_geti(yyjson_val *value, const char *first, const char *second) {
    if (!yyjson_is_obj(value) || (!first && !second)) return nullptr;
    yyjson_val *hit = nullptr;
    if (first) hit = find_member(value, first, key_is);
    if (!hit && second && (!first || std::strcmp(first, second) != 0))
        hit = find_member(value, second, key_is);
    // The second spelling takes part only when no first spelling was given.
    if (!hit) hit = find_member(value, first ? first : second, key_is_folded);
    return hit;
}

int32_t filmo_val_ji(yyjson_val *v, int32_t *out) {
    const uint8_t tag = yyjson_get_tag(v);
    int32_t r = 0;
    // The clamp points are 2.1e9, not 2^31: reals near the int32 edge saturate early.
    if (tag == k_real) r = clamp_real<int32_t>(unsafe_yyjson_get_real(v), 2100000000.0);
    else if (tag == k_uint || tag == k_sint) r = low32(int_bits(v, tag));
    if (out) *out = r;
    return yyjson_is_num(v) ? 1 : 0;
}

double filmo_val_jd(yyjson_val *v) {
    const uint8_t tag = yyjson_get_tag(v);
    if (tag == k_real) return unsafe_yyjson_get_real(v);
    if (tag == k_uint || tag == k_sint) return low32(int_bits(v, tag));
    return 0.0;
}

int32_t filmo_val_js(yyjson_val *v, const char **out) {
    const char *s = yyjson_is_str(v) ? unsafe_yyjson_get_str(v) : nullptr;
    if (out) *out = s;
    return s ? 1 : 0;
}

int32_t filmo_val_jll(yyjson_val *v, int64_t *out) {
    const uint8_t tag = yyjson_get_tag(v);
    int64_t r = 0;
    if (tag == k_real) {
        r = clamp_real<int64_t>(unsafe_yyjson_get_real(v), 9e18);
    } else if (tag == k_sint) {
        r = unsafe_yyjson_get_sint(v);
    } else if (tag == k_uint) {
        // Above INT64_MAX the value saturates rather than wrapping to a negative count.
        const uint64_t u = unsafe_yyjson_get_uint(v);
        r = u > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(u);
    }
    if (out) *out = r;
    return yyjson_is_num(v) ? 1 : 0;
}

int32_t filmo_val_jb(yyjson_val *v, int32_t *out) {
    const bool found = yyjson_is_bool(v);
    if (out) *out = found && unsafe_yyjson_get_bool(v) ? 1 : 0;
    return found ? 1 : 0;
}

int32_t filmo_js(const char **out, yyjson_val *value, const char *first, const char *second) {
    return filmo_val_js(filmo_geti(value, first, second), out);
}

int32_t filmo_ji(int32_t *out, yyjson_val *value, const char *first, const char *second) {
    return filmo_val_ji(filmo_geti(value, first, second), out);
}

int32_t filmo_jll(int64_t *out, yyjson_val *value, const char *first, const char *second) {
    return filmo_val_jll(filmo_geti(value, first, second), out);
}

int32_t filmo_jd(double *out, yyjson_val *value, const char *first, const char *second) {
    yyjson_val *v = filmo_geti(value, first, second);
    if (out) *out = filmo_val_jd(v);
    return yyjson_is_num(v) ? 1 : 0;
}

int32_t filmo_jb(int32_t *out, yyjson_val *value, const char *first, const char *second) {
    return filmo_val_jb(filmo_geti(value, first, second), out);
}

int32_t filmo_load_strarr(yyjson_val *array, const char ***out, size_t *count) {
    if (out) *out = nullptr;
    if (count) *count = 0;
    const size_t n = yyjson_arr_size(array);
    if (n == 0 || !out) return 0;
    auto *texts = static_cast<const char **>(vornak_calloc(n, sizeof(const char *)));
    if (!texts) return -1;
    const size_t stored = filmo_val_strarr(array, texts);
    *out = texts;
    if (count) *count = stored;
    return 0;
}

size_t filmo_val_strarr(yyjson_val *array, const char **slots) {
    size_t stored = 0;
    size_t idx, max;
    yyjson_val *item;
    yyjson_arr_foreach(array, idx, max, item) {
        if (yyjson_is_str(item)) slots[stored++] = unsafe_yyjson_get_str(item);
    }
    return stored;
}

// ---- cache clock and expiry ----------------------------------------------------------------

namespace {
int64_t (*s_clock)() = nullptr;
}

int64_t filmo_now() { return s_clock ? s_clock() : filmo_system_seconds(); }

void filmo_set_clock(int64_t (*clock)()) { s_clock = clock; }

int32_t filmo_cache_expired(int64_t fetched_at, int32_t ttl) {
    if (ttl <= 0) return 0;
    if (fetched_at == 0) return 1;
    const int64_t now = filmo_now();
    // The age is taken in unsigned arithmetic so a fetch time far in the past cannot overflow;
    // a fetch time in the future is fresh.
    if (now <= fetched_at) return 0;
    const uint64_t age = static_cast<uint64_t>(now) - static_cast<uint64_t>(fetched_at);
    return age > static_cast<uint64_t>(ttl) ? 1 : 0;
}
