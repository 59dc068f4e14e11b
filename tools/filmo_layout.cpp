// Terminal layout for the filmo command: texts fitted to a number of terminal columns, and the
// table and label-line primitives the views are drawn with.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "filmo_cli.h"

namespace filmo_cli {

namespace {

const char ellipsis[] = "\xE2\x80\xA6";  // U+2026, one column

}  // namespace

std::string fit(const std::string &s, size_t width, size_t *used) {
    std::string out;
    std::vector<std::pair<size_t, size_t>> kept;  // start in out and columns of each piece
    size_t cols = 0;
    for (const shown_char &p : shown_chars(s)) {
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
