// Gathers what a view's accessors answer into a yyjson document, so that the table and the JSON
// renderings come from one pass over the view. Member names and their order are those of the
// Python package's records (filmo.1 lists them under JSON KEYS): one vocabulary for both. Texts
// are copied into the document at once: nothing borrowed from the library outlives the gathering.
#include <cstdint>

#include "filmo.h"
#include "filmo_cli.h"

namespace filmo_cli {

namespace {

// The document being built; remembers whether any value could not be made (out of memory).
struct model {
    yyjson_mut_doc *doc;
    bool failed = false;

    yyjson_mut_val *made(yyjson_mut_val *v) {
        if (!v) failed = true;
        return v;
    }
    yyjson_mut_val *text(const char *t) {
        return made(t ? yyjson_mut_strcpy(doc, t) : yyjson_mut_null(doc));
    }
    yyjson_mut_val *integer(long long v) { return made(yyjson_mut_sint(doc, v)); }
    yyjson_mut_val *real(double v) { return made(yyjson_mut_real(doc, v)); }
    yyjson_mut_val *flag(int32_t v) { return made(yyjson_mut_bool(doc, v != 0)); }
    yyjson_mut_val *object() { return made(yyjson_mut_obj(doc)); }
    yyjson_mut_val *list() { return made(yyjson_mut_arr(doc)); }

    // Member names are literals: the document keeps them without a copy.
    void put(yyjson_mut_val *obj, const char *key, yyjson_mut_val *value) {
        if (!yyjson_mut_obj_add_val(doc, obj, key, value)) failed = true;
    }
    void append(yyjson_mut_val *arr, yyjson_mut_val *value) {
        if (!yyjson_mut_arr_append(arr, value)) failed = true;
    }

    template <class Get>
    yyjson_mut_val *texts(int32_t count, Get get) {
        yyjson_mut_val *l = list();
        for (int32_t k = 0; k < count; ++k) append(l, text(get(k)));
        return l;
    }

    // A list of `count` records, each filled by fill(record, position).
    template <class Fill>
    yyjson_mut_val *records(int32_t count, Fill fill) {
        yyjson_mut_val *l = list();
        for (int32_t k = 0; k < count; ++k) {
            yyjson_mut_val *r = object();
            fill(r, k);
            append(l, r);
        }
        return l;
    }

    // An id/value list of the home page ("List" or "ExtentList").
    yyjson_mut_val *idvals(int32_t count, const char *(*id)(int32_t),
                           const char *(*value)(int32_t)) {
        return records(count, [&](yyjson_mut_val *e, int32_t i) {
            put(e, "id", text(id(i)));
            put(e, "value", text(value(i)));
        });
    }
};

yyjson_mut_val *gather_collections(model &m) {
    return m.records(filmo_collection_count(), [&](yyjson_mut_val *c, int32_t i) {
        m.put(c, "id", m.integer(filmo_collection_id(i)));
        m.put(c, "name", m.text(filmo_collection_name(i)));
        m.put(c, "backdrop", m.text(filmo_collection_backdrop(i)));
        m.put(c, "cover", m.text(filmo_collection_cover(i)));
        m.put(c, "logo", m.text(filmo_collection_logo(i)));
        m.put(c, "is_auto", m.flag(filmo_collection_is_auto(i)));
        m.put(c, "playlists",
              m.records(filmo_collection_playlists_count(i), [&](yyjson_mut_val *pl, int32_t p) {
                  m.put(pl, "name", m.text(filmo_collection_playlist_name(i, p)));
                  m.put(pl, "origin_country", m.text(filmo_collection_playlist_origin(i, p)));
                  m.put(pl, "logo", m.text(filmo_collection_playlist_logo(i, p)));
                  m.put(pl, "imdb_ids", m.texts(filmo_collection_playlist_imdb_count(i, p),
                                            [&](int32_t k) {
                                                return filmo_collection_playlist_imdb(i, p, k);
                                            }));
              }));
    });
}

yyjson_mut_val *gather_person(model &m) {
    yyjson_mut_val *p = m.object();
    m.put(p, "id", m.integer(filmo_people_id()));
    m.put(p, "name", m.text(filmo_people_name()));
    m.put(p, "imdb_id", m.text(filmo_people_imdbid()));
    m.put(p, "knows_for", m.text(filmo_people_knowsfor()));
    m.put(p, "known_for_department", m.text(filmo_people_knownfor_department()));
    m.put(p, "known_credits", m.text(filmo_people_knowncredits()));
    m.put(p, "gender", m.integer(filmo_people_gender()));
    m.put(p, "birthday", m.text(filmo_people_birthday()));
    m.put(p, "deathday", m.text(filmo_people_deathday()));
    m.put(p, "place_of_birth", m.text(filmo_people_placeofbirth()));
    m.put(p, "homepage", m.text(filmo_people_homepage()));
    m.put(p, "profile_url", m.text(filmo_people_profileurl()));
    m.put(p, "popularity_permille", m.integer(filmo_people_popularity_permille()));
    m.put(p, "biography", m.text(filmo_people_biography()));
    m.put(p, "translated_names",
          m.texts(filmo_people_names_translate_count(), filmo_people_names_translate));
    auto picture = [&](yyjson_mut_val *pic, int32_t i) {
        m.put(pic, "url", m.text(filmo_people_picture_url(i)));
        m.put(pic, "language", m.text(filmo_people_picture_lang(i)));
        m.put(pic, "width", m.integer(filmo_people_picture_w(i)));
        m.put(pic, "height", m.integer(filmo_people_picture_h(i)));
    };
    m.put(p, "pictures", m.records(filmo_people_pictures_count(), picture));
    m.put(p, "related_imdb_ids", m.texts(filmo_people_related_count(), filmo_people_related));
    return p;
}

yyjson_mut_val *gather_popular(model &m) {
    return m.records(filmo_people_pop_count(), [&](yyjson_mut_val *p, int32_t i) {
        m.put(p, "id", m.integer(filmo_people_pop_id(i)));
        m.put(p, "name", m.text(filmo_people_pop_name(i)));
        m.put(p, "imdb_id", m.text(filmo_people_pop_imdbid(i)));
        m.put(p, "knows_for", m.text(filmo_people_pop_knowsfor(i)));
        m.put(p, "profile_url", m.text(filmo_people_pop_profileurl(i)));
    });
}

void gather_basic(model &m, yyjson_mut_val *b, int32_t i) {
    m.put(b, "imdb_id", m.text(filmo_home_basic_imdb(i)));
    m.put(b, "id", m.integer(filmo_home_basic_id(i)));
    m.put(b, "title", m.text(filmo_home_basic_title(i)));
    m.put(b, "tagline", m.text(filmo_home_basic_tagline(i)));
    m.put(b, "plot", m.text(filmo_home_basic_plot(i)));
    m.put(b, "poster_url", m.text(filmo_home_basic_poster(i)));
    m.put(b, "picture_url", m.text(filmo_home_basic_picture(i)));
    m.put(b, "year", m.integer(filmo_home_basic_year(i)));
    m.put(b, "duration", m.integer(filmo_home_basic_duration(i)));
    m.put(b, "is_tv", m.flag(filmo_home_basic_is_tv(i)));
    m.put(b, "genres", m.texts(filmo_home_basic_genres_count(i),
                               [i](int32_t g) { return filmo_home_basic_genre(i, g); }));
    m.put(b, "directors", m.texts(filmo_home_basic_directors_count(i),
                                  [i](int32_t d) { return filmo_home_basic_director(i, d); }));
    m.put(b, "ratings",
          m.records(filmo_home_basic_ratings_count(i), [&](yyjson_mut_val *rating, int32_t r) {
              m.put(rating, "source", m.text(filmo_home_basic_rating_source(i, r)));
              m.put(rating, "value", m.real(filmo_home_basic_rating_value(i, r)));
          }));
}

void gather_continue(model &m, yyjson_mut_val *c, int32_t i) {
    m.put(c, "imdb_id", m.text(filmo_home_continue_imdb(i)));
    m.put(c, "season", m.integer(filmo_home_continue_season(i)));
    m.put(c, "episode", m.integer(filmo_home_continue_episode(i)));
    m.put(c, "value", m.real(filmo_home_continue_value(i)));
    m.put(c, "size", m.integer(filmo_home_continue_size(i)));
    m.put(c, "duration", m.text(filmo_home_continue_duration(i)));
    m.put(c, "size_text", m.text(filmo_home_continue_size_str(i)));
    m.put(c, "is_duration", m.flag(filmo_home_continue_is_duration(i)));
    m.put(c, "updated_at", m.text(filmo_home_continue_updated(i)));
}

yyjson_mut_val *gather_account(model &m) {
    yyjson_mut_val *u = m.object();
    m.put(u, "has_user_info", m.flag(filmo_home_has_userinfo()));
    m.put(u, "id", m.text(filmo_home_user_id()));
    m.put(u, "email", m.text(filmo_home_user_email()));
    m.put(u, "memberships",
          m.records(filmo_home_user_memberships_count(), [&](yyjson_mut_val *s, int32_t i) {
              m.put(s, "type", m.integer(filmo_home_user_membership_type(i)));
              m.put(s, "name", m.text(filmo_home_user_membership_name(i)));
              m.put(s, "is_active", m.flag(filmo_home_user_membership_active(i)));
              m.put(s, "expiration", m.text(filmo_home_user_membership_expiration(i)));
          }));
    m.put(u, "profiles",
          m.records(filmo_home_user_profiles_count(), [&](yyjson_mut_val *p, int32_t i) {
              m.put(p, "id", m.integer(filmo_home_user_profile_id(i)));
              m.put(p, "name", m.text(filmo_home_user_profile_name(i)));
              m.put(p, "poster_url", m.text(filmo_home_user_profile_poster(i)));
              m.put(p, "is_deleted", m.flag(filmo_home_user_profile_deleted(i)));
              m.put(p, "is_enabled", m.flag(filmo_home_user_profile_enabled(i)));
              m.put(p, "is_empty", m.flag(filmo_home_user_profile_empty(i)));
          }));
    return u;
}

// The page's hash, then the exchange's content hash (-1 when none), then the page's lists.
yyjson_mut_val *gather_home(model &m) {
    yyjson_mut_val *h = m.object();
    m.put(h, "hash", m.integer(filmo_homepage_hash()));
    m.put(h, "content_hash", m.integer(filmo_last_content_hash()));
    m.put(h, "lists", m.idvals(filmo_home_list_count(), filmo_home_list_id, filmo_home_list_value));
    auto continuing = [&](yyjson_mut_val *c, int32_t i) { gather_continue(m, c, i); };
    m.put(h, "continues", m.records(filmo_home_continues_count(), continuing));
    m.put(h, "level30s", m.records(filmo_home_level30_count(), [&](yyjson_mut_val *l, int32_t i) {
        m.put(l, "imdb_id", m.text(filmo_home_level30_imdb(i)));
        m.put(l, "size", m.integer(filmo_home_level30_size(i)));
        m.put(l, "file_name", m.text(filmo_home_level30_filename(i)));
    }));
    auto spotlight = [&](yyjson_mut_val *s, int32_t i) {
        m.put(s, "order", m.integer(filmo_home_spotlight_order(i)));
        m.put(s, "title", m.text(filmo_home_spotlight_title(i)));
        m.put(s, "items", m.text(filmo_home_spotlight_items(i)));
        m.put(s, "logo", m.text(filmo_home_spotlight_logo(i)));
    };
    m.put(h, "spotlights", m.records(filmo_home_spotlight_count(), spotlight));
    m.put(h, "extents",
          m.idvals(filmo_home_extent_count(), filmo_home_extent_id, filmo_home_extent_value));
    m.put(h, "basics", m.records(filmo_home_basics_count(),
                                 [&](yyjson_mut_val *b, int32_t i) { gather_basic(m, b, i); }));
    m.put(h, "peoples", m.records(filmo_home_peoples_count(), [&](yyjson_mut_val *p, int32_t i) {
        m.put(p, "id", m.integer(filmo_home_people_id(i)));
        m.put(p, "name", m.text(filmo_home_people_name(i)));
        m.put(p, "knows_for", m.text(filmo_home_people_knowsfor(i)));
        m.put(p, "profile_url", m.text(filmo_home_people_profileurl(i)));
    }));
    m.put(h, "collections",
          m.records(filmo_home_collections_count(), [&](yyjson_mut_val *c, int32_t i) {
              m.put(c, "id", m.integer(filmo_home_collection_id(i)));
              m.put(c, "name", m.text(filmo_home_collection_name(i)));
              m.put(c, "playlists", m.records(filmo_home_collection_playlists_count(i),
                                              [&](yyjson_mut_val *pl, int32_t p) {
                  m.put(pl, "name", m.text(filmo_home_collection_playlist_name(i, p)));
                  auto imdb = [&](int32_t k) {
                      return filmo_home_collection_playlist_imdb(i, p, k);
                  };
                  m.put(pl, "imdb_ids",
                        m.texts(filmo_home_collection_playlist_imdb_count(i, p), imdb));
              }));
          }));
    m.put(h, "user", gather_account(m));
    return h;
}

}  // namespace

yyjson_mut_val *gather(yyjson_mut_doc *doc, const options &o) {
    if (!doc) return nullptr;
    model m{doc};
    yyjson_mut_val *view = nullptr;
    switch (o.command) {
    case cmd_home: view = gather_home(m); break;
    case cmd_collections: view = gather_collections(m); break;
    case cmd_person: view = gather_person(m); break;
    case cmd_popular: view = gather_popular(m); break;
    case cmd_none: break;
    }
    return m.failed ? nullptr : view;
}

}  // namespace filmo_cli
