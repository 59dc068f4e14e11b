"""Every view of the bundled corpus read into Python objects, checked against the JSON
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
    assert [[(p.name, p.origin, p.logo, p.imdb) for p in c.playlists] for c in got] == [
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
    assert [c.imdb for c in page.continues] == [c["IMDbId"] for c in want["Continues"]]
    assert page.continues[3].value == 1731.5
    assert [(d.imdb, d.size) for d in page.level30s][1] == ("tt0816692", 4939212390)
    assert [s.order for s in page.spotlights] == [1, 2, 3]
    assert len(page.lists) == 6 and len(page.extents) == 4 and len(page.peoples) == 10
    assert [c.name for c in page.collections] == [
        c["Name"] for c in want["CollectionPlaylists"]]
    assert page.user.has_userinfo and page.user.email == "mara.lindqvist@example.com"
    assert [p.poster for p in page.user.profiles][3] is None
    assert page.user.memberships and page.user.memberships[0].name
    assert page.hash == page.content_hash == fake.homepage_hash() > 0
    assert fake.home_basic_field(0, "TITLE") == page.basics[0].title
    assert "userId=" + USER in fake.fake_stats().last_url


def test_anonymous_home_page_and_its_raw_text(fake):
    page = fake.homepage()
    assert len(page.basics) == 37 and page.continues == () and not page.user.has_userinfo
    raw = fake.home_json()
    assert raw == (DATA / "homepage.anonymous-profile0.json").read_text(encoding="utf-8")
    assert fake.parse_homepage_json(raw).basics == page.basics


def test_person_reads_the_same_under_both_spellings(fake):
    pascal = fake.person("nm0000138")
    camel = fake.person(6193, "en-US")
    assert pascal.name == camel.name == "Leonardo DiCaprio"
    assert pascal.popularity_permille == 48213 and pascal.popularity == 48.213
    assert pascal.names_translate[1] == "Леонардо Ди Каприо"
    assert pascal.pictures[1].lang is None and pascal.pictures[2].w == 1400
    assert pascal.deathday is None and pascal.gender == 2
    assert camel.related[6] == "nm0000217"
    assert (pascal.birthday, pascal.placeofbirth, pascal.imdbid) == (
        camel.birthday, camel.placeofbirth, camel.imdbid)


def test_popular_people_pages(fake):
    cases = [
        ({}, "people-popular.p1-pascal.json", "Name"),
        ({"page": 2}, "people-popular.p2-pascal.json", "Name"),
        ({"page_numbers": 2}, "people-popular.pn2-camel.json", "name"),
    ]
    for args, name, key in cases:
        got = fake.popular_people(**args)
        assert [p.name for p in got] == [p[key] for p in source(name)], args
    assert got[-1].name == "Chloé Zhao" and got[0].imdbid == "nm0000138"


def test_objects_stay_whole_after_the_view_is_replaced_or_emptied(fake):
    first = fake.person("nm0000138")
    kept = (first.name, first.biography, first.pictures)
    fake.person("nm0634240")
    fake.cache_clear()
    fake.shutdown()
    assert (first.name, first.biography, first.pictures) == kept
