"""Failures as exceptions: every failure mode of the fixture backend, argument errors, a
missing transport, and the rule that a failed fetch leaves the held view alone."""

import pytest

import filmo
from conftest import CORPUS

FETCHES = {
    "home": lambda c: c.homepage(),
    "collections": lambda c: c.collections(),
    "person": lambda c: c.person("nm0000138"),
    "popular": lambda c: c.popular_people(),
}

# (mode, view, exception class, a part of the message)
MODES = [
    (1, "collections", filmo.TransportError, "transport: transport: fake: injected transport failure"),
    (1, "home", filmo.TransportError, "fake: injected transport failure"),
    (2, "person", filmo.HttpError, "HTTP 500"),
    (2, "home", filmo.HttpError, "HTTP 500"),
    (3, "person", filmo.NotFound, "no such person (HTTP 404)"),
    (3, "popular", filmo.NotFound, "people popular: HTTP 404 (dead page)"),
    (4, "person", filmo.DecodeError, "people detail: invalid JSON"),
    (4, "collections", filmo.DecodeError, "collections: invalid JSON"),
    (4, "home", filmo.DecodeError, ""),
    (5, "collections", filmo.EmptyError, "empty body"),
    (5, "popular", filmo.EmptyError, "empty body"),
    (6, "person", filmo.DecodeError, "root is not an object"),
    (6, "popular", filmo.DecodeError, "people popular: root is not an array"),
    (7, "person", filmo.DecodeError, "invalid JSON"),
]


@pytest.mark.parametrize("mode,view,error,message", MODES)
def test_fixture_failure_modes_raise_their_status(fake, mode, view, error, message):
    fake.set_fake_mode(mode)
    with pytest.raises(error) as caught:
        FETCHES[view](fake)
    assert filmo.errors.BY_STATUS[caught.value.status] is error
    assert message in caught.value.message
    assert caught.value.message == fake.last_error
    assert fake.fake_stats().calls == 1


def test_mode_7_on_the_home_page_is_an_unchanged_answer_not_an_error(fake):
    fake.set_fake_mode(7)
    answer = fake.homepage()
    assert isinstance(answer, filmo.Unchanged)
    assert answer.message == "server: homepage unchanged (1-byte 0xFF)"


def test_a_failed_fetch_leaves_the_held_view_alone(fake):
    held = fake.person("nm0000138")
    for mode in range(1, 8):
        fake.set_fake_mode(mode)
        with pytest.raises(filmo.FilmoError):
            fake.person("nm0634240")
    fake.set_fake_mode(0)
    assert fake.cache_has("person")
    assert fake.person("nm0000138") == held  # answered from the cache
    assert fake.fake_stats().calls == 1 + 7


@pytest.mark.parametrize("call,error,message", [
    (lambda c: c.person("12a"), filmo.InvalidArgument, "id must be an nmID"),
    (lambda c: c.person(""), filmo.InvalidArgument, "id required"),
    (lambda c: c.popular_people(page=0), filmo.InvalidArgument, "pageIndex must be >= 1"),
    (lambda c: c.popular_people(page_numbers=1001), filmo.InvalidArgument,
     "pageNumbers out of range (1..1000)"),
    (lambda c: c.homepage("u", -1), filmo.InvalidArgument, "profileId must be >= 0"),
    (lambda c: c.person("nm9999999"), filmo.NotFound, "no such person (HTTP 404)"),
    (lambda c: c.set_fake_mode(8), filmo.TransportError, "fake mode 0..7"),
    (lambda c: c.cache_has("films"), filmo.InvalidArgument, ""),
])
def test_argument_errors(fake, call, error, message):
    with pytest.raises(error) as caught:
        call(fake)
    assert message in caught.value.message


def test_missing_corpus_files_fail_the_transport(client, tmp_path):
    client.use_fake(str(tmp_path))
    with pytest.raises(filmo.TransportError, match="fake: collections fixture missing"):
        client.collections()
    assert client.fake_stats().failures == 1


def test_no_transport_after_shutdown(fake):
    fake.shutdown()
    with pytest.raises(filmo.NoTransport) as caught:
        fake.collections()
    assert caught.value.status == 7 and "no transport installed" in caught.value.message


def test_every_status_has_its_class():
    for status, cls in filmo.errors.BY_STATUS.items():
        err = filmo.error_for(status, "text")
        assert type(err) is cls and err.status == status and err.message == "text"
        assert isinstance(err, filmo.FilmoError)
    assert isinstance(filmo.error_for(8, "oom"), MemoryError)
    assert isinstance(filmo.error_for(6, "id required"), ValueError)
    assert type(filmo.error_for(42, "")) is filmo.FilmoError
    assert 9 not in filmo.errors.BY_STATUS


def test_texts_with_a_nul_character_are_refused_before_the_library(fake):
    with pytest.raises(ValueError):
        fake.person("nm0000138\0x")
    with pytest.raises(ValueError):
        fake.popular_people(page=2**31)
    with pytest.raises(ValueError):
        fake.homepage(known_hash=2**63)
    assert fake.fake_stats().calls == 0


def test_unused_corpus_setting_keeps_the_directory(client):
    client.use_fake(str(CORPUS))
    client.shutdown()
    client.use_fake()  # the directory recorded before
    assert client.collections()
