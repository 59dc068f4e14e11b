// The characters of a text as a terminal shows them, from the C library's own tables: mbrtowc
// and wcwidth under C.UTF-8, which is set for the calling thread only while a text is read.
// The process locale is never changed, so the library's own calls never run under it. Another
// platform puts its own file in place of this one.
#include <locale.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "filmo_cli.h"

namespace filmo_cli {

namespace {

const char replacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The character tables of C.UTF-8 for the calling thread, for as long as this object lives.
class utf8_ctype {
public:
    utf8_ctype() {
        static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (utf8) previous_ = uselocale(utf8);
    }
    ~utf8_ctype() {
        if (previous_) uselocale(previous_);
    }
    utf8_ctype(const utf8_ctype &) = delete;
    utf8_ctype &operator=(const utf8_ctype &) = delete;
    bool active() const { return previous_ != static_cast<locale_t>(0); }

private:
    locale_t previous_ = static_cast<locale_t>(0);
};

// The character of s at i. Without the UTF-8 tables every byte that starts a character counts
// one column.
shown_char next_char(const std::string &s, size_t i, bool tables) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F) return {" ", 1, 1};
    if (!tables) return {std::string(1, s[i]), 1, (c & 0xC0) == 0x80 ? 0u : 1u};
    mbstate_t state{};
    wchar_t wc = 0;
    size_t len = mbrtowc(&wc, s.data() + i, s.size() - i, &state);
    if (len == static_cast<size_t>(-1) || len == static_cast<size_t>(-2) || len == 0)
        return {replacement, 1, 1};
    int w = wcwidth(wc);
    if (w < 0) return {replacement, len, 1};  // C1 controls, unassigned, beyond U+10FFFF
    return {s.substr(i, len), len, static_cast<size_t>(w)};
}

}  // namespace

std::vector<shown_char> shown_chars(const std::string &s) {
    utf8_ctype tables;
    std::vector<shown_char> out;
    for (size_t i = 0; i < s.size();) {
        out.push_back(next_char(s, i, tables.active()));
        i += out.back().bytes;
    }
    return out;
}

}  // namespace filmo_cli
