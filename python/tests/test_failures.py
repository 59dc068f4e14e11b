"""Failures as exceptions: every failure mode of the fixture backend, argument errors, a
missing transport, the rule that a failed fetch leaves the held view alone, and exceptions
that travel between processes."""

import pickle
from concurrent.futures import ProcessPoolExecutor

import pytest

import filmo

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
    assert caught.value.http_status == {2: 500, 3: 404}.get(mode, 0)
    assert fake.fake_stats().calls == 1


def test_mode_7_on_the_home_page_is_an_unchanged_answer_not_an_error(fake):
    fake.set_fake_mode(7)
    answer = fake.homepage_if_changed(12345)
    assert isinstance(answer, filmo.Unchanged)
    assert answer.message == "server: homepage unchanged (1-byte 0xFF)"
    # Asked without a known hash, the answer has no page to give back: an error, not a page.
    with pytest.raises(filmo.UnexpectedUnchanged) as caught:
        fake.homepage(update=True)
    assert caught.value.status == 9 and "unchanged" in caught.value.message


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
    (lambda c: c.popular_people(page_numbers=1001), filmo.InvalidArgument,
     "pageNumbers out of range (1..1000)"),
    (lambda c: c.homepage("u", -1), filmo.InvalidArgument, "profileId must be >= 0"),
    (lambda c: c.person("nm9999999"), filmo.NotFound, "no such person (HTTP 404)"),
    (lambda c: c.cache_has("films"), filmo.InvalidArgument, ""),
])
def test_argument_errors(fake, call, error, message):
    with pytest.raises(error) as caught:
        call(fake)
    assert message in caught.value.message


def test_missing_corpus_files_fail_the_transport(client, tmp_path):
    client.use_fake(tmp_path)
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
        assert isinstance(err, filmo.FilmoError) and err.status is filmo.Status(status)
    assert isinstance(filmo.error_for(8, "oom"), MemoryError)
    assert isinstance(filmo.error_for(6, "id required"), ValueError)
    assert type(filmo.error_for(42, "")) is filmo.FilmoError
    assert filmo.error_for(42, "").status == 42


# (text of a transport failure, class, platform error number)
TRANSPORT_TEXTS = [
    ("transport: transport: WinHttpSendRequest failed: 12029", filmo.ConnectionFailed, 12029),
    ("transport: transport: WinHttpSendRequest failed: 12007", filmo.ConnectionFailed, 12007),
    ("transport: transport: WinHttpReceiveResponse failed: 12030", filmo.ConnectionFailed, 12030),
    ("transport: transport: WinHttpReadData failed: 12031", filmo.ConnectionFailed, 12031),
    ("transport: transport: WinHttpReceiveResponse failed: 12152", filmo.TransportError, 12152),
    ("transport: transport: WinHttpReceiveResponse failed: 12002", filmo.TransportTimeout, 12002),
    ("transport: transport: WinHttpSendRequest failed: 12175", filmo.TlsFailure, 12175),
    ("transport: transport: WinHttpSendRequest failed: 12045", filmo.TlsFailure, 12045),
    ("transport: transport: WinHttpOpen failed: 12157", filmo.TlsFailure, 12157),
    ("transport: transport: WinHttpOpen failed: 12004", filmo.TransportError, 12004),
    ("transport: transport: fake: injected transport failure", filmo.TransportError, None),
    ("transport: transport: bind failed: 98", filmo.TransportError, None),  # not WinHTTP's
]


@pytest.mark.parametrize("message,cls,number", TRANSPORT_TEXTS)
def test_transport_failures_are_told_apart_by_their_number(message, cls, number):
    err = filmo.error_for(1, message)
    assert type(err) is cls and err.message == message and err.platform_error == number
    assert isinstance(err, ConnectionError) == (cls is filmo.ConnectionFailed)
    assert isinstance(err, TimeoutError) == (cls is filmo.TransportTimeout)


@pytest.mark.parametrize("message,cls", [
    ("transport: transport: WinHttpSendRequest failed: 12029", filmo.ConnectionFailed),
    ("transport: transport: WinHttpReceiveResponse failed: 12002", filmo.TransportTimeout),
    ("transport: transport: WinHttpSendRequest failed: 12175", filmo.TlsFailure),
])
def test_a_transport_failure_reaches_the_caller_classified(client, message, cls):
    def refuse(request):
        raise filmo.TransportFailure(message.removeprefix("transport: transport: "))

    client.use_transport(refuse)
    with pytest.raises(cls) as caught:
        client.collections()
    assert caught.value.message == message and caught.value.http_status == 0


def every_error():
    """One instance of every exception class of the package, fields filled."""
    errors = [cls(status, f"text of {cls.__name__}", 503)
              for status, cls in filmo.errors.BY_STATUS.items()]
    errors += [filmo.FilmoError(42, "unknown", 0), filmo.ConnectionFailed(1, "c", 0),
               filmo.TransportTimeout(1, "t", 0), filmo.TlsFailure(1, "s", 0)]
    return errors


def test_every_exception_pickles_to_an_equal_one():
    for err in every_error():
        back = pickle.loads(pickle.dumps(err))
        assert type(back) is type(err) and back == err, err
        assert (back.status, back.message, back.http_status, str(back)) == (
            err.status, err.message, err.http_status, str(err))
    assert filmo.NotFound(5, "x", 404) != filmo.NotFound(5, "x", 0)
    assert filmo.NotFound(5, "x") != filmo.HttpError(5, "x")


def raise_not_found(_):
    raise filmo.NotFound(5, "no such person (HTTP 404)", 404)


def test_an_error_raised_in_a_worker_process_arrives_whole():
    with ProcessPoolExecutor(max_workers=1) as pool:
        with pytest.raises(filmo.NotFound) as caught:
            pool.submit(raise_not_found, None).result(timeout=60)
    assert caught.value == filmo.NotFound(5, "no such person (HTTP 404)", 404)


@pytest.mark.parametrize("call,error", [
    (lambda c: c.set_fake_mode(8), ValueError),
    (lambda c: c.set_fake_mode(-1), ValueError),
    (lambda c: c.use_fake(mode=8), ValueError),
    (lambda c: c.popular_people(page=0), ValueError),
    (lambda c: list(c.popular_pages(0)), ValueError),
    (lambda c: c.set_ttl(home=-1), ValueError),
    (lambda c: c.use_fake("/no/such/corpus/dir"), FileNotFoundError),
])
def test_bad_input_is_refused_before_the_library(fake, call, error):
    fake.set_fake_mode(0)
    with pytest.raises(error) as caught:
        call(fake)
    assert not isinstance(caught.value, filmo.FilmoError)
    assert fake.fake_stats().calls == 0 and fake.last_error == ""
    assert fake.collections()  # the fixture backend is still installed, in its mode 0


def test_texts_with_a_nul_character_are_refused_before_the_library(fake):
    with pytest.raises(ValueError):
        fake.person("nm0000138\0x")
    with pytest.raises(ValueError):
        fake.popular_people(page=2**31)
    with pytest.raises(ValueError):
        fake.homepage_if_changed(2**63)
    assert fake.fake_stats().calls == 0


def test_the_sample_corpus_is_the_default(client):
    client.use_fake()
    assert client.collections() and client.person("nm0000138").name == "Leonardo DiCaprio"
    assert str(filmo.sample_corpus()) in repr(client)
