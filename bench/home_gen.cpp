#include "home_gen.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

namespace filmo_bench {
namespace {

// splitmix64: every record is drawn from a generator seeded by its list and position, so record
// k of a list is the same in every page size and only the number of records changes.
struct Rng {
    uint64_t s;
    Rng(uint64_t list, uint64_t index) : s(list * 0x9E3779B97F4A7C15ull + index + 1) {}
    uint64_t next() {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    bool one_in(uint32_t n) { return below(n) == 0; }
    template <size_t N>
    const char *pick(const char *const (&words)[N]) {
        return words[below(static_cast<uint32_t>(N))];
    }
};

const char *const kWords[] = {
    "river", "night", "silent", "city", "last", "garden", "storm", "winter", "letter", "queen",
    "shadow", "north", "broken", "glass", "summer", "island", "empire", "crown", "dust", "echo",
    "harbor", "iron", "journey", "kingdom", "lantern", "memory", "mirror", "ocean", "orchard",
    "paper", "promise", "rain", "secret", "signal", "stone", "stranger", "tide", "valley",
    "violet", "wolf", "ember", "meridian", "atlas", "cinder", "falcon", "gravity", "horizon",
    "legacy", "midnight", "noble", "outpost", "parade", "quarry", "relic", "saga", "thunder"};
// A share of titles in other scripts, so the text is real UTF-8 and not only ASCII.
const char *const kForeign[] = {
    "Amélie à Montmartre", "Les Misérables", "Der Untergang", "Ōkami no Kodomo",
    "千と千尋の神隠し", "Ла́стоцка", "Crouching Tiger — Hidden Dragon", "Cidade de Deus",
    "Smultronställe", "Mañana será otro día", "괴물", "Η Αιωνιότητα και μια Μέρα",
    "Le Fabuleux Destin 🎬", "Zwölf Geschworene"};
const char *const kGenres[] = {"Drama", "Comedy", "Thriller", "Crime", "Sci-Fi", "Romance",
                               "Animation", "Documentary", "Horror", "Adventure", "Family"};
const char *const kPeople[] = {"Ava Lindqvist", "Marco Bellini", "Sun-hee Park", "Tomás Ruiz",
                               "Ingrid Holm", "Kenji Watanabe", "Claire Dubois", "Noah Becker",
                               "Priya Raman", "Oskar Nowak", "Léa Fontaine", "Yusuf Demir"};
const char *const kSources[] = {"imdb", "metacritic", "rottenTomatoes", "letterboxd", "tmdb"};
const char *const kCountries[] = {"US", "FR", "DE", "JP", "KR", "BR", "IN", "GB", "ES", "SE"};

// A minimal JSON writer: the generator emits only texts it built itself, plus deliberate escapes.
// Members are written with their key; array elements without one.
class Json {
public:
    explicit Json(std::string &out) : o_(out) {}
    void text(const char *key, const std::string &v) {
        name(key);
        o_ += '"';
        o_ += v;
        o_ += '"';
    }
    void text(const std::string &v) { text(nullptr, v); }
    void number(const char *key, int64_t v) {
        char b[32];
        std::snprintf(b, sizeof b, "%" PRId64, v);
        name(key);
        o_ += b;
    }
    void real(const char *key, double v) {
        char b[32];
        std::snprintf(b, sizeof b, "%.3f", v);
        name(key);
        o_ += b;
    }
    void flag(const char *key, bool v) {
        name(key);
        o_ += v ? "true" : "false";
    }
    void open(const char *key, char bracket) {
        name(key);
        o_ += bracket;
        fresh_ = true;
    }
    void open(char bracket) { open(nullptr, bracket); }
    void close(char bracket) {
        o_ += bracket;
        fresh_ = false;
    }

private:
    void name(const char *key) {
        if (!fresh_) o_ += ',';
        fresh_ = false;
        if (key) {
            o_ += '"';
            o_ += key;
            o_ += "\":";
        }
    }
    std::string &o_;
    bool fresh_ = true;
};

std::string imdb(uint64_t n) {
    char b[16];
    std::snprintf(b, sizeof b, "tt%07u", static_cast<unsigned>(n % 10000000u));
    return b;
}

std::string title(Rng &r) {
    if (r.one_in(10)) return r.pick(kForeign);
    std::string t;
    unsigned n = 1 + r.below(4);
    for (unsigned i = 0; i < n; ++i) {
        std::string w = r.pick(kWords);
        w[0] = static_cast<char>(w[0] - 'a' + 'A');
        if (i) t += ' ';
        t += w;
    }
    return t;
}

std::string sentence(Rng &r, unsigned min_words, unsigned max_words) {
    std::string t;
    unsigned n = min_words + r.below(max_words - min_words + 1);
    for (unsigned i = 0; i < n; ++i) {
        if (i) t += ' ';
        t += r.pick(kWords);
    }
    // Now and then a quoted word or an escaped character, as catalogue plots carry them.
    if (r.one_in(6)) t += " \\\"the " + std::string(r.pick(kWords)) + "\\\"";
    if (r.one_in(9)) t += " caf\\u00e9";
    t += '.';
    return t;
}

std::string url(const char *kind, const std::string &id) {
    return "https://img.filmo.example/" + std::string(kind) + "/" + id + ".jpg";
}

std::string id_list(Rng &r, unsigned n) {
    std::string s;
    for (unsigned i = 0; i < n; ++i) {
        if (i) s += ',';
        s += imdb(r.next());
    }
    return s;
}

enum ListId : uint64_t { kList = 1, kContinues, kLevel30s, kSpotlights, kExtents, kBasics,
                         kPeoples, kCollections };

void basic(Json &j, uint64_t k) {
    Rng r(kBasics, k);
    std::string id = imdb(r.next());
    j.open('{');
    j.text("IMDbId", id);
    j.text("Title", title(r));
    j.text("TagLine", sentence(r, 3, 8));
    j.text("Plot", sentence(r, 15, 50));
    j.text("PosterUrl", url("poster", id));
    j.text("PictureUrl", url("backdrop", id));
    j.number("ID", 10000 + r.below(900000));
    j.number("Year", 1930 + r.below(96));
    j.number("Duration", 70 + r.below(110));
    j.flag("IsTVShow", r.one_in(4));
    j.open("Genres", '[');
    for (unsigned n = 1 + r.below(3); n; --n) j.text(r.pick(kGenres));
    j.close(']');
    j.open("Directors", '[');
    for (unsigned n = 1 + r.below(2); n; --n) j.text(r.pick(kPeople));
    j.close(']');
    j.open("Ratings", '{');
    for (unsigned n = 1 + r.below(3), s = r.below(5); n; --n, s = (s + 1) % 5) {
        if (s == 1)
            j.number(kSources[s], r.below(101));  // metacritic scores arrive as integers
        else
            j.real(kSources[s], 1.0 + r.below(9000) / 1000.0);
    }
    j.close('}');
    j.close('}');
}

void continue_rec(Json &j, uint64_t k) {
    Rng r(kContinues, k);
    char dur[16];
    std::snprintf(dur, sizeof dur, "%02u:%02u:%02u", r.below(3), r.below(60), r.below(60));
    uint64_t size = 300000000ull + r.next() % 4000000000ull;
    char size_str[24];
    std::snprintf(size_str, sizeof size_str, "%.1f GB", static_cast<double>(size) / 1e9);
    j.open('{');
    j.text("IMDbId", imdb(r.next()));
    j.number("Season", r.below(8));
    j.number("Episode", r.below(24));
    j.real("Value", r.below(1000) / 1000.0);
    j.number("Size", static_cast<int64_t>(size));
    j.text("Duration", dur);
    j.text("SizeStr", size_str);
    j.flag("IsDuration", !r.one_in(3));
    char when[32];
    std::snprintf(when, sizeof when, "2026-%02u-%02uT%02u:%02u:05Z", 1 + r.below(12),
                  1 + r.below(28), r.below(24), r.below(60));
    j.text("UpdatedAt", when);
    j.close('}');
}

void level30(Json &j, uint64_t k) {
    Rng r(kLevel30s, k);
    std::string t = title(r);
    for (char &c : t)
        if (c == ' ') c = '.';
    j.open('{');
    j.text("IMDbID", imdb(r.next()));
    j.number("Size", static_cast<int64_t>(500000000ull + r.next() % 8000000000ull));
    j.text("FileName", t + ".1080p.mkv");
    j.close('}');
}

void spotlight(Json &j, uint64_t k) {
    Rng r(kSpotlights, k);
    j.open('{');
    j.text("Logo", url("logo", imdb(r.next())));
    j.text("Items", id_list(r, 6 + r.below(10)));
    j.text("Title", title(r));
    j.number("OrderIndex", static_cast<int64_t>(k));
    j.close('}');
}

void idval(Json &j, uint64_t list, uint64_t k) {
    Rng r(list, k);
    char id[32];
    std::snprintf(id, sizeof id, "%s-%" PRIu64, r.pick(kWords), k);
    j.open('{');
    j.text("Id", id);
    j.text("Value", id_list(r, 4 + r.below(12)));
    j.close('}');
}

void people(Json &j, uint64_t k) {
    Rng r(kPeoples, k);
    char nm[16];
    std::snprintf(nm, sizeof nm, "nm%07u", r.below(10000000));
    j.open('{');
    j.number("ID", 100 + r.below(5000000));
    j.text("Name", r.pick(kPeople));
    j.text("KnowsFor", r.one_in(3) ? "Directing" : "Acting");
    j.text("ProfileUrl", url("profile", nm));
    j.close('}');
}

void collection(Json &j, uint64_t k) {
    Rng r(kCollections, k);
    std::string cid = "c" + std::to_string(k);
    j.open('{');
    j.number("Id", static_cast<int64_t>(k + 1));
    j.text("Name", title(r));
    j.text("Backdrop", url("backdrop", cid));
    j.text("Cover", url("cover", cid));
    j.text("Logo", url("logo", cid));
    j.flag("IsAuto", r.one_in(2));
    j.open("Playlists", '[');
    for (unsigned p = 0, n = 2 + r.below(3); p < n; ++p) {
        j.open('{');
        j.text("Name", title(r));
        j.text("OriginCountry", r.pick(kCountries));
        j.text("Logo", url("logo", cid + "-" + std::to_string(p)));
        j.open("IMDbIds", '[');
        for (unsigned n_ids = 6 + r.below(14); n_ids; --n_ids) j.text(imdb(r.next()));
        j.close(']');
        j.close('}');
    }
    j.close(']');
    j.close('}');
}

void user_info(Json &j) {
    j.open("UserInfo", '{');
    j.text("ID", "u-8f2c41d0-5b7e-4c1a-9e03-2d6f8a7b9c15");
    j.text("Email", "viewer@example.org");
    j.open("Memberships", '[');
    const char *const names[] = {"Premium", "Family", "Legacy"};
    for (int m = 0; m < 3; ++m) {
        j.open('{');
        j.number("Type", m + 1);
        j.text("Name", names[m]);
        j.flag("IsActive", m == 0);
        j.text("Expiration", m == 0 ? "2027-03-01T00:00:00Z" : "2025-01-01T00:00:00Z");
        j.close('}');
    }
    j.close(']');
    j.open("Profiles", '[');
    const char *const profiles[] = {"Main", "Kids", "Guest", "Léa"};
    for (int p = 0; p < 4; ++p) {
        j.open('{');
        j.number("ID", p);
        j.text("Name", profiles[p]);
        j.text("Poster", url("avatar", std::to_string(p)));
        j.flag("Deleted", false);
        j.flag("IsEnabled", p != 2);
        j.flag("IsEmpty", p == 3);
        j.close('}');
    }
    j.close(']');
    j.close('}');
}

template <class F>
void list(Json &j, const char *name, uint64_t n, F record) {
    j.open(name, '[');
    for (uint64_t k = 0; k < n; ++k) record(j, k);
    j.close(']');
}

// One block is 8 basics and their share of every other list.
std::string page(uint64_t blocks) {
    std::string out;
    out.reserve(static_cast<size_t>(blocks) * 8192 + 4096);
    Json j(out);
    j.open('{');
    list(j, "List", blocks, [](Json &w, uint64_t k) { idval(w, kList, k); });
    list(j, "Continues", 2 * blocks, continue_rec);
    list(j, "Level30s", blocks, level30);
    list(j, "Spotlights", 1 + blocks / 4, spotlight);
    list(j, "ExtentList", blocks, [](Json &w, uint64_t k) { idval(w, kExtents, k); });
    list(j, "Basics", 8 * blocks, basic);
    list(j, "Peoples", 2 * blocks, people);
    list(j, "CollectionPlaylists", 1 + blocks / 4, collection);
    user_info(j);
    j.close('}');
    return out;
}

}  // namespace

std::string make_home_page(size_t target_bytes) {
    // Size grows linearly with the block count: measure two pages, then solve for the target.
    const size_t a = page(16).size(), b = page(32).size();
    const double per_block = static_cast<double>(b - a) / 16.0;
    const double fixed = static_cast<double>(a) - 16.0 * per_block;
    double blocks = (static_cast<double>(target_bytes) - fixed) / per_block;
    return page(blocks < 1.0 ? 1 : static_cast<uint64_t>(blocks + 0.5));
}

}  // namespace filmo_bench
