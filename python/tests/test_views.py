"""Every view of the sample corpus read into Python objects, checked against the JSON
sources the corpus is built from."""

import json

import filmo
from conftest import DATA, USER


def source(name):
    return json.loads((DATA / name).read_text(encoding="utf-8"))


def test_collections_hold_every_record_and_playlist(fake):
    got = fake.collections("en-US")
    want = source("collections.en-US.json")
    assert [(c.id, c.name, c.backdrop, c.cover, c.logo, c.is_auto) for c in got] == [
        (w["Id"], w["Name"], w["Backdrop"], w["Cover"], w["Logo"], w["IsAuto"]) for w in want]
    assert [[(p.name, p.origin_country, p.logo, p.imdb_ids) for p in c.playlists] for c in got] == [
        [(p["Name"], p["OriginCountry"], p["Logo"], tuple(p["IMDbIds"])) for p in w["Playlists"]]
        for w in want]
    assert "GetCollectionPopular?language=en-US" in fake.fake_stats().last_url


def test_home_page_of_a_signed_in_user(fake):
    page = fake.homepage(USER, 0, "en-US", version1=True)
    want = source("homepage.auth-profile0.json")
    assert isinstance(page, filmo.HomePage)
    assert [b.title for b in page.basics] == [b["Title"] for b in want["Basics"]]
    assert [b.genres for b in page.basics] == [tuple(b["Genres"]) for b in want["Basics"]]
    assert [(r.source, r.value) for r in page.basics[0].ratings] == list(
        want["Basics"][0]["Ratings"].items())
    assert [c.imdb_id for c in page.continues] == [c["IMDbId"] for c in want["Continues"]]
    assert page.continues[3].value == 1731.5
    assert [(d.imdb_id, d.size) for d in page.level30s][1] == ("tt0816692", 4939212390)
    assert [s.order for s in page.spotlights] == [1, 2, 3]
    assert len(page.lists) == 6 and len(page.extents) == 4 and len(page.peoples) == 10
    assert [c.name for c in page.collections] == [
        c["Name"] for c in want["CollectionPlaylists"]]
    assert page.user.has_user_info and page.user.email == "mara.lindqvist@example.com"
    assert [p.poster_url for p in page.user.profiles][3] is None
    assert page.user.memberships and page.user.memberships[0].name
    assert page.hash == page.content_hash == fake.homepage_hash() > 0
    assert fake.home_basic_field(0, "TITLE") == page.basics[0].title
    assert "userId=" + USER in fake.fake_stats().last_url


def test_anonymous_home_page_and_its_raw_text(fake):
    page = fake.homepage()
    assert len(page.basics) == 37 and page.continues == () and not page.user.has_user_info
    raw = fake.home_json()
    assert raw == (DATA / "homepage.anonymous-profile0.json").read_text(encoding="utf-8")
    assert fake.parse_homepage_json(raw).basics == page.basics


def test_person_reads_the_same_under_both_spellings(fake):
    pascal = fake.person("nm0000138")
    camel = fake.person(6193, "en-US")
    assert pascal.name == camel.name == "Leonardo DiCaprio"
    assert pascal.popularity_permille == 48213 and pascal.popularity == 48.213
    assert pascal.translated_names[1] == "Леонардо Ди Каприо"
    assert pascal.pictures[1].language is None and pascal.pictures[2].width == 1400
    assert pascal.deathday is None and pascal.gender == 2 and pascal.gender is filmo.Gender.MALE
    assert camel.related_imdb_ids[6] == "nm0000217"
    assert (pascal.birthday, pascal.place_of_birth, pascal.imdb_id) == (
        camel.birthday, camel.place_of_birth, camel.imdb_id)


def test_popular_people_pages(fake):
    cases = [
        ({}, "people-popular.p1-pascal.json", "Name"),
        ({"page": 2}, "people-popular.p2-pascal.json", "Name"),
        ({"page_numbers": 2}, "people-popular.pn2-camel.json", "name"),
    ]
    for args, name, key in cases:
        got = fake.popular_people(**args)
        assert [p.name for p in got] == [p[key] for p in source(name)], args
    assert got[-1].name == "Chloé Zhao" and got[0].imdb_id == "nm0000138"


def test_objects_stay_whole_after_the_view_is_replaced_or_emptied(fake):
    first = fake.person("nm0000138")
    kept = (first.name, first.biography, first.pictures)
    fake.person("nm0634240")
    fake.cache_clear()
    fake.shutdown()
    assert (first.name, first.biography, first.pictures) == kept


def test_popular_pages_run_to_the_dead_page(fake):
    pages = list(fake.popular_pages())
    assert [p.page for p in pages] == [1, 2]
    assert fake.fake_stats().calls == 3  # pages 1 and 2, then the 404 of page 3
    assert [p.people for p in pages] == [fake.popular_people(page=1), fake.popular_people(page=2)]
    assert [p.page for p in fake.popular_pages(2)] == [2]
    assert [p.page for p in fake.popular_pages(max_pages=1)] == [1]


def test_popular_pages_stop_at_an_empty_page(client):
    client.use_transport(lambda r: filmo.Response(200, b"[]"))
    assert list(client.popular_pages()) == []


def test_id_lists_are_tuples_and_codes_enums(fake):
    person = fake.person("nm0000138")
    assert isinstance(person.translated_names, tuple) and isinstance(person.pictures, tuple)
    assert isinstance(fake.collections()[0].playlists[0].imdb_ids, tuple)
    assert isinstance(person.gender, filmo.Gender)
    unknown = filmo.Gender(7)  # a code without a name stays readable, not an error
    assert unknown == 7 and unknown.name == "UNKNOWN_7"
