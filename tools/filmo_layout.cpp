// Terminal layout for the filmo command: the columns a text takes (the C library's wcwidth,
// read under a UTF-8 locale that is set for this thread only while a text is measured), texts
// fitted to a width, and the table and label-line primitives the views are drawn with.
#include <locale.h>
#include <wchar.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "filmo_cli.h"

namespace filmo_cli {

namespace {

const char replacement[] = "\xEF\xBF\xBD";  // U+FFFD
const char ellipsis[] = "\xE2\x80\xA6";     // U+2026, one column

// The character tables of C.UTF-8 for the calling thread, for as long as this object lives.
// The process locale is never changed, so the library's own calls never run under it.
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

struct piece {
    std::string text;  // what is shown
    size_t bytes;      // bytes of the source it stands for
    size_t columns;
};

// The next character of s at i as it is shown. Without the UTF-8 tables every byte that starts
// a character counts one column.
piece next_piece(const std::string &s, size_t i, bool tables) {
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

std::string fit(const std::string &s, size_t width, size_t *used) {
    utf8_ctype tables;
    std::string out;
    std::vector<std::pair<size_t, size_t>> kept;  // start in out and columns of each piece
    size_t cols = 0;
    for (size_t i = 0; i < s.size();) {
        piece p = next_piece(s, i, tables.active());
        if (cols + p.columns > width) {
            // Make room for the ellipsis: drop whole characters until it fits.
            while (!kept.empty() && cols + 1 > width) {
                cols -= kept.back().second;
                out.erase(kept.back().first);
                kept.pop_back();
            }
            out += ellipsis;
            cols += 1;
            break;
        }
        kept.emplace_back(out.size(), p.columns);
        out += p.text;
        cols += p.columns;
        i += p.bytes;
    }
    if (used) *used = cols;
    return out;
}

std::string cell(yyjson_mut_val *v) {
    if (!v) return "";
    switch (yyjson_mut_get_type(v)) {
    case YYJSON_TYPE_NULL: return "-";
    case YYJSON_TYPE_STR: return std::string(yyjson_mut_get_str(v), yyjson_mut_get_len(v));
    case YYJSON_TYPE_BOOL: return yyjson_mut_get_bool(v) ? "yes" : "no";
    case YYJSON_TYPE_NUM: {
        if (yyjson_mut_is_uint(v)) return std::to_string(yyjson_mut_get_uint(v));
        if (yyjson_mut_is_sint(v)) return std::to_string(yyjson_mut_get_sint(v));
        // yyjson's shortest form that reads back as the same double; 80, not 80.0.
        size_t len = 0;
        char *text = yyjson_mut_val_write(v, YYJSON_WRITE_ALLOW_INF_AND_NAN, &len);
        std::string s = text ? std::string(text, len) : "-";
        std::free(text);
        if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
        return s;
    }
    case YYJSON_TYPE_ARR:
    case YYJSON_TYPE_OBJ: break;
    default: return "";
    }
    std::string s;
    const char *sep = yyjson_mut_is_arr(v) ? ", " : " ";
    auto add = [&](yyjson_mut_val *item) {
        if (!s.empty()) s += sep;
        s += cell(item);
    };
    if (yyjson_mut_is_arr(v)) {
        size_t idx, max;
        yyjson_mut_val *item;
        yyjson_mut_arr_foreach(v, idx, max, item) add(item);
    } else {
        size_t idx, max;
        yyjson_mut_val *key, *item;
        yyjson_mut_obj_foreach(v, idx, max, key, item) add(item);
    }
    return s;
}

void print_table(yyjson_mut_val *rows, const std::vector<column> &cols, size_t indent) {
    std::vector<yyjson_mut_val *> records{nullptr};  // the title line first
    size_t idx, max;
    yyjson_mut_val *row;
    yyjson_mut_arr_foreach(rows, idx, max, row) records.push_back(row);

    std::vector<std::vector<std::string>> cells;
    std::vector<std::vector<size_t>> widths;
    std::vector<size_t> colw(cols.size(), 0);
    for (yyjson_mut_val *r : records) {
        std::vector<std::string> line;
        std::vector<size_t> w;
        for (size_t k = 0; k < cols.size(); ++k) {
            std::string raw = r ? cell(yyjson_mut_obj_get(r, cols[k].key)) : cols[k].title;
            size_t used = 0;
            line.push_back(fit(raw, cols[k].max_width, &used));
            w.push_back(used);
            if (used > colw[k]) colw[k] = used;
        }
        cells.push_back(std::move(line));
        widths.push_back(std::move(w));
    }
    for (size_t r = 0; r < cells.size(); ++r) {
        std::string out(indent, ' ');
        for (size_t k = 0; k < cols.size(); ++k) {
            out += cells[r][k];
            if (k + 1 < cols.size()) out.append(colw[k] - widths[r][k] + 2, ' ');
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        std::printf("%s\n", out.c_str());
    }
}

void section(const char *title, size_t count) {
    std::printf("\n%s (%zu)\n", title, count);
}

void print_line(const char *label, const std::string &value) {
    const size_t width = 78;
    std::string rest = fit(value, SIZE_MAX, nullptr);
    std::printf("  %-14s", label);
    bool first = true;
    do {
        size_t total = 0;
        fit(rest, SIZE_MAX, &total);
        size_t cut = rest.size();
        if (total > width) {
            std::string head = fit(rest, width, nullptr);
            head.resize(head.size() - (sizeof ellipsis - 1));
            size_t blank = head.rfind(' ');
            cut = blank == std::string::npos || blank == 0 ? head.size() : blank;
        }
        std::printf("%s%s\n", first ? "" : "                ", rest.substr(0, cut).c_str());
        first = false;
        rest.erase(0, cut);
        while (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    } while (!rest.empty());
}

}  // namespace filmo_cli
