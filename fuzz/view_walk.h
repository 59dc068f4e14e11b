// Reads every accessor of every view over every position, plus positions out of range, and
// checks what the interface promises about the answers: texts are readable NUL-terminated
// strings, counts are never negative, an out-of-range read gives the neutral value.
#ifndef FILMO_FUZZ_VIEW_WALK_H
#define FILMO_FUZZ_VIEW_WALK_H

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "filmo.h"
#include "fuzz_check.h"

namespace filmo_fuzz {

// Touch every byte of a text so that AddressSanitizer sees a text that is not NUL-terminated
// inside live memory, or that lives in memory already released.
inline size_t touch(const char *text) {
    volatile size_t n = text ? std::strlen(text) : 0;
    return n;
}

// Positions that must all give the neutral value, beside count itself.
inline bool out_of_range(int32_t i, int32_t count) { return i < 0 || i >= count; }

template <class F>
void each_position(int32_t count, F read) {
    static const int32_t beyond[] = {-1, INT32_MIN, INT32_MAX};
    FUZZ_REQUIRE(count >= 0);
    for (int32_t i = 0; i < count; ++i) read(i);
    read(count);
    read(count + 1);
    for (int32_t i : beyond) read(i);
}

inline void text_or_null(int32_t i, int32_t count, const char *text) {
    touch(text);
    if (out_of_range(i, count)) FUZZ_REQUIRE(text == nullptr);
}

inline void int_or(int32_t i, int32_t count, int64_t value, int64_t neutral) {
    if (out_of_range(i, count)) FUZZ_REQUIRE(value == neutral);
}

inline void flag_at(int32_t i, int32_t count, int32_t value) {
    FUZZ_REQUIRE(value == 0 || value == 1);
    int_or(i, count, value, 0);
}

inline void walk_home() {
    touch(filmo_home_json());
    FUZZ_REQUIRE(filmo_homepage_hash() >= 0 && filmo_homepage_hash() <= 2147483647);

    int32_t n = filmo_home_list_count();
    each_position(n, [n](int32_t i) {
        text_or_null(i, n, filmo_home_list_id(i));
        text_or_null(i, n, filmo_home_list_value(i));
    });
    n = filmo_home_continues_count();
    each_position(n, [n](int32_t i) {
        text_or_null(i, n, filmo_home_continue_imdb(i));
        int_or(i, n, filmo_home_continue_season(i), 0);
        int_or(i, n, filmo_home_continue_episode(i), 0);
        double v = filmo_home_continue_value(i);
        if (out_of_range(i, n)) FUZZ_REQUIRE(v == 0.0);
        int_or(i, n, filmo_home_continue_size(i), 0);
        text_or_null(i, n, filmo_home_continue_duration(i));
        text_or_null(i, n, filmo_home_continue_size_str(i));
        flag_at(i, n, filmo_home_continue_is_duration(i));
        text_or_null(i, n, filmo_home_continue_updated(i));
    });
    n = filmo_home_level30_count();
    each_position(n, [n](int32_t i) {
        text_or_null(i, n, filmo_home_level30_imdb(i));
        int_or(i, n, filmo_home_level30_size(i), 0);
        text_or_null(i, n, filmo_home_level30_filename(i));
    });
    n = filmo_home_spotlight_count();
    each_position(n, [n](int32_t i) {
        text_or_null(i, n, filmo_home_spotlight_logo(i));
        text_or_null(i, n, filmo_home_spotlight_items(i));
        text_or_null(i, n, filmo_home_spotlight_title(i));
        int_or(i, n, filmo_home_spotlight_order(i), 0);
    });
    n = filmo_home_extent_count();
    each_position(n, [n](int32_t i) {
        text_or_null(i, n, filmo_home_extent_id(i));
        text_or_null(i, n, filmo_home_extent_value(i));
    });
    n = filmo_home_basics_count();
    each_position(n, [n](int32_t i) {
        text_or_null(i, n, filmo_home_basic_imdb(i));
        text_or_null(i, n, filmo_home_basic_title(i));
        text_or_null(i, n, filmo_home_basic_tagline(i));
        text_or_null(i, n, filmo_home_basic_plot(i));
        text_or_null(i, n, filmo_home_basic_poster(i));
        text_or_null(i, n, filmo_home_basic_picture(i));
        int_or(i, n, filmo_home_basic_id(i), 0);
        int_or(i, n, filmo_home_basic_year(i), 0);
        int_or(i, n, filmo_home_basic_duration(i), 0);
        flag_at(i, n, filmo_home_basic_is_tv(i));
        static const char *const names[] = {"imdbid", "TITLE", "TagLine", "plot", "posterurl",
                                            "PictureURL", "poster", "", nullptr};
        for (const char *name : names) {
            const char *f = filmo_home_basic_field(i, name);
            touch(f);
            if (out_of_range(i, n) || !filmo_home_basic_imdb(i)) FUZZ_REQUIRE(f == nullptr);
        }
        int32_t g = filmo_home_basic_genres_count(i);
        int_or(i, n, g, 0);
        each_position(g, [i, g](int32_t k) { text_or_null(k, g, filmo_home_basic_genre(i, k)); });
        int32_t d = filmo_home_basic_directors_count(i);
        int_or(i, n, d, 0);
        each_position(d,
                      [i, d](int32_t k) { text_or_null(k, d, filmo_home_basic_director(i, k)); });
        int32_t r = filmo_home_basic_ratings_count(i);
        int_or(i, n, r, 0);
        each_position(r, [i, r](int32_t k) {
            const char *source = filmo_home_basic_rating_source(i, k);
            text_or_null(k, r, source);
            double v = filmo_home_basic_rating_value(i, k);
            if (out_of_range(k, r)) FUZZ_REQUIRE(v == 0.0);
            else FUZZ_REQUIRE(source != nullptr);  // a rating always has its member name
        });
    });
    n = filmo_home_peoples_count();
    each_position(n, [n](int32_t i) {
        int_or(i, n, filmo_home_people_id(i), 0);
        text_or_null(i, n, filmo_home_people_name(i));
        text_or_null(i, n, filmo_home_people_knowsfor(i));
        text_or_null(i, n, filmo_home_people_profileurl(i));
    });
    n = filmo_home_collections_count();
    each_position(n, [n](int32_t i) {
        int_or(i, n, filmo_home_collection_id(i), -1);
        text_or_null(i, n, filmo_home_collection_name(i));
        int32_t p = filmo_home_collection_playlists_count(i);
        int_or(i, n, p, 0);
        each_position(p, [i, p](int32_t k) {
            text_or_null(k, p, filmo_home_collection_playlist_name(i, k));
            int32_t m = filmo_home_collection_playlist_imdb_count(i, k);
            int_or(k, p, m, 0);
            each_position(m, [i, k, m](int32_t j) {
                text_or_null(j, m, filmo_home_collection_playlist_imdb(i, k, j));
            });
        });
    });

    flag_at(0, 1, filmo_home_has_userinfo());
    touch(filmo_home_user_id());
    touch(filmo_home_user_email());
    if (filmo_home_user_id()) FUZZ_REQUIRE(filmo_home_has_userinfo() == 1);
    n = filmo_home_user_memberships_count();
    each_position(n, [n](int32_t i) {
        int_or(i, n, filmo_home_user_membership_type(i), 0);
        text_or_null(i, n, filmo_home_user_membership_name(i));
        flag_at(i, n, filmo_home_user_membership_active(i));
        text_or_null(i, n, filmo_home_user_membership_expiration(i));
    });
    n = filmo_home_user_profiles_count();
    each_position(n, [n](int32_t i) {
        int_or(i, n, filmo_home_user_profile_id(i), 0);
        text_or_null(i, n, filmo_home_user_profile_name(i));
        text_or_null(i, n, filmo_home_user_profile_poster(i));
        flag_at(i, n, filmo_home_user_profile_deleted(i));
        flag_at(i, n, filmo_home_user_profile_enabled(i));
        flag_at(i, n, filmo_home_user_profile_empty(i));
    });
}

inline void walk_collections() {
    int32_t n = filmo_collection_count();
    each_position(n, [n](int32_t i) {
        int_or(i, n, filmo_collection_id(i), -1);
        text_or_null(i, n, filmo_collection_name(i));
        text_or_null(i, n, filmo_collection_backdrop(i));
        text_or_null(i, n, filmo_collection_cover(i));
        text_or_null(i, n, filmo_collection_logo(i));
        int32_t a = filmo_collection_is_auto(i);
        if (out_of_range(i, n)) FUZZ_REQUIRE(a == -1);
        else FUZZ_REQUIRE(a == 0 || a == 1);
        int32_t p = filmo_collection_playlists_count(i);
        int_or(i, n, p, 0);
        each_position(p, [i, p](int32_t k) {
            text_or_null(k, p, filmo_collection_playlist_name(i, k));
            text_or_null(k, p, filmo_collection_playlist_origin(i, k));
            text_or_null(k, p, filmo_collection_playlist_logo(i, k));
            int32_t m = filmo_collection_playlist_imdb_count(i, k);
            int_or(k, p, m, 0);
            each_position(m, [i, k, m](int32_t j) {
                text_or_null(j, m, filmo_collection_playlist_imdb(i, k, j));
            });
        });
    });
}

inline void walk_person() {
    const char *const texts[] = {
        filmo_people_name(),       filmo_people_knowsfor(),    filmo_people_profileurl(),
        filmo_people_imdbid(),     filmo_people_biography(),   filmo_people_birthday(),
        filmo_people_deathday(),   filmo_people_homepage(),    filmo_people_placeofbirth(),
        filmo_people_knownfor_department(),                    filmo_people_knowncredits()};
    for (const char *t : texts) touch(t);
    (void)filmo_people_id();
    (void)filmo_people_gender();
    int32_t permille = filmo_people_popularity_permille();
    FUZZ_REQUIRE(permille <= 2000000000);

    int32_t n = filmo_people_names_translate_count();
    each_position(n, [n](int32_t i) { text_or_null(i, n, filmo_people_names_translate(i)); });
    n = filmo_people_pictures_count();
    each_position(n, [n](int32_t i) {
        text_or_null(i, n, filmo_people_picture_url(i));
        text_or_null(i, n, filmo_people_picture_lang(i));
        int_or(i, n, filmo_people_picture_w(i), 0);
        int_or(i, n, filmo_people_picture_h(i), 0);
    });
    n = filmo_people_related_count();
    each_position(n, [n](int32_t i) { text_or_null(i, n, filmo_people_related(i)); });
}

inline void walk_popular() {
    int32_t n = filmo_people_pop_count();
    each_position(n, [n](int32_t i) {
        int_or(i, n, filmo_people_pop_id(i), -1);
        text_or_null(i, n, filmo_people_pop_name(i));
        text_or_null(i, n, filmo_people_pop_knowsfor(i));
        text_or_null(i, n, filmo_people_pop_profileurl(i));
        text_or_null(i, n, filmo_people_pop_imdbid(i));
    });
}

inline void walk_all() {
    walk_home();
    walk_collections();
    walk_person();
    walk_popular();
}

// What a view answers now, to prove that a failed fetch left it alone.
struct Fingerprint {
    const void *p[4];
    int64_t n[4];
    bool operator==(const Fingerprint &o) const {
        return std::memcmp(p, o.p, sizeof p) == 0 && std::memcmp(n, o.n, sizeof n) == 0;
    }
};

inline Fingerprint fingerprint(int view) {
    switch (view) {
    case 0:
        return {{filmo_home_json(), filmo_home_basic_title(0), filmo_home_user_id(), nullptr},
                {filmo_homepage_hash(), filmo_home_basics_count(), filmo_home_list_count(),
                 filmo_home_collections_count()}};
    case 1:
        return {{filmo_collection_name(0), filmo_collection_playlist_imdb(0, 0, 0), nullptr,
                 nullptr},
                {filmo_collection_count(), filmo_collection_id(0), 0, 0}};
    case 2:
        return {{filmo_people_name(), filmo_people_biography(), nullptr, nullptr},
                {filmo_people_id(), filmo_people_pictures_count(), 0, 0}};
    default:
        return {{filmo_people_pop_name(0), nullptr, nullptr, nullptr},
                {filmo_people_pop_count(), filmo_people_pop_id(0), 0, 0}};
    }
}

}  // namespace filmo_fuzz

#endif
