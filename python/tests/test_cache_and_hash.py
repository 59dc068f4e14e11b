"""The cache controls and the home page's content-hash exchange."""

import filmo
from conftest import USER


def test_cache_answers_fresh_results_and_forgets_on_request(fake):
    fake.collections()
    fake.person("nm0000138")
    assert fake.cache_entries() == 2
    assert fake.cache_has("collections") and fake.cache_has("*")
    assert not fake.cache_has("popular") and not fake.cache_has("home")
    fake.collections()
    assert fake.fake_stats().calls == 2  # the second collections came from the cache
    fake.cache_invalidate("collections")
    assert not fake.cache_has("collections") and fake.cache_entries() == 1
    fake.collections()
    assert fake.fake_stats().calls == 3
    fake.cache_invalidate()
    assert fake.cache_entries() == 0
    fake.person("nm0000138")
    fake.cache_clear()
    assert not fake.cache_has("*")


def test_an_expired_result_is_fetched_again(fake, default_ttls):
    fake.set_ttl(person=1)
    fake.person("nm0000138")
    import time
    time.sleep(2.1)  # the cache counts whole seconds
    assert not fake.cache_has("person")
    assert fake.cache_entries() == 1  # held, but no longer fresh
    fake.person("nm0000138")
    assert fake.fake_stats().calls == 2


def test_known_hash_gets_the_unchanged_answer(fake):
    page = fake.homepage(USER)
    same = fake.homepage_if_changed(page.hash, USER, update=True)
    assert isinstance(same, filmo.Unchanged)
    assert same.known_hash == page.hash and same.content_hash == page.hash
    other = fake.homepage_if_changed(page.hash + 1, USER, update=True)
    assert isinstance(other, filmo.HomePage) and other.hash == page.hash
    assert fake.homepage_hash() == page.hash  # the unchanged answer kept the page


def test_content_hash_tells_of_the_exchange_not_of_the_page(fake):
    fetched = fake.homepage(USER)
    assert fetched.content_hash == fetched.hash > 0
    cached = fake.homepage(USER)
    assert fake.fake_stats().calls == 1  # the second page came from the cache
    assert cached.content_hash == -1
    assert fake.homepage(USER, update=True).content_hash == fetched.hash
    parsed = fake.parse_homepage_json(fake.home_json())  # right after an exchange with a hash
    assert parsed.content_hash == -1
    assert fetched == cached == parsed


def test_the_page_hash_is_the_stable_hash_of_its_text(fake):
    page = fake.homepage(USER)
    assert filmo.stable_hash(fake.home_json()) == page.hash
    # The worked values of the hash: UTF-8 is hashed as its UTF-16 form.
    for data, value in [(b"abc", 1099313834), (b"a", 372029373), ("\u00e9", 372029253),
                        ("\U0001F600", 1126268081), (b"", 371857150), (b"a\0b", 372029373),
                        (b"ab\xc3", 0), (b"\x80", 0), (b"\xf8", 0), (b"\xc3\x28", 0)]:
        assert filmo.stable_hash(data) == value, data
