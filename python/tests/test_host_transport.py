"""A transport written in Python: what it is asked, what it answers, and how its failures
reach the caller without anything unwinding into the library."""

import json
import time
import zlib

import pytest

import filmo
from conftest import DATA

COLLECTIONS = (DATA / "collections.en-US.json").read_bytes()
HOME = (DATA / "homepage.anonymous-profile0.json").read_bytes()


class Scripted:
    """Answers with a function of the request and keeps every request."""

    def __init__(self, answer):
        self.answer = answer
        self.seen = []

    def __call__(self, request):
        self.seen.append(request)
        return self.answer(request)


def test_views_through_a_python_transport(client):
    t = Scripted(lambda r: filmo.Response(200, COLLECTIONS))
    client.set_host("http://catalogue.test")
    client.use_transport(t)
    got = client.collections("sv-SE")
    assert [c.name for c in got] == [c["Name"] for c in json.loads(COLLECTIONS)]
    (request,) = t.seen
    assert request.method == "GET"
    assert request.url == "http://catalogue.test/api/AAA/GetCollectionPopular?language=sv-SE"
    assert client.last_http_code == 200


def test_home_page_hash_headers_both_ways(client):
    def answer(request):
        if request.header("md5homepage") == "77":
            return filmo.Response(200, b"\xff", [("ContentHash", "77")])
        return filmo.Response(200, zlib.compress(HOME), [("ContentHash", "77")])

    t = Scripted(answer)
    client.use_transport(t)
    page = client.homepage()
    assert len(page.basics) == 37 and page.content_hash == 77
    assert t.seen[0].header("MD5HomePage") is None
    again = client.homepage_if_changed(77, update=True)
    assert isinstance(again, filmo.Unchanged) and again.content_hash == 77
    assert t.seen[1].header("MD5HomePage") == "77"


def test_the_home_page_helper_answers_as_the_server_does(client):
    t = Scripted(lambda r: filmo.home_page_response(HOME, r))
    client.use_transport(t)
    page = client.homepage()
    assert page.hash == page.content_hash == filmo.stable_hash(HOME) and len(page.basics) == 37
    assert isinstance(client.homepage_if_changed(page.hash, update=True), filmo.Unchanged)
    assert client.homepage_if_changed(page.hash + 1, update=True) == page
    first = filmo.home_page_response(HOME.decode("utf-8"))
    assert zlib.decompress(first.body_bytes) == HOME
    assert first.header_pairs == (("ContentHash", str(page.hash)),)


def test_answers_may_give_text_bodies_and_dict_headers(client):
    client.use_transport(lambda r: filmo.Response(
        200, zlib.compress(HOME), {"ContentHash": "5", "X-Other": "é"}))
    assert client.homepage().content_hash == 5
    client.use_transport(lambda r: filmo.Response(200, '[{"Id": 1, "Name": "Mé"}]'))
    assert client.collections()[0].name == "Mé"


@pytest.mark.parametrize("make,error,field", [
    (lambda: filmo.Response("200"), TypeError, "Response.status"),
    (lambda: filmo.Response(True), TypeError, "Response.status"),
    (lambda: filmo.Response(-5), ValueError, "Response.status"),
    (lambda: filmo.Response(2**31), ValueError, "Response.status"),
    (lambda: filmo.Response(200, {"a": 1}), TypeError, "Response.body"),
    (lambda: filmo.Response(200, None), TypeError, "Response.body"),
    (lambda: filmo.Response(200, b"", "ContentHash: 5"), TypeError, "Response.headers"),
    (lambda: filmo.Response(200, b"", [(1, 2)]), TypeError, "Response.headers"),
    (lambda: filmo.Response(200, b"", [("a", "b", "c")]), TypeError, "Response.headers"),
    (lambda: filmo.Response(200, b"", {"a": 5}), TypeError, "Response.headers"),
])
def test_a_wrong_answer_names_its_field(make, error, field):
    with pytest.raises(error, match=field):
        make()


@pytest.mark.parametrize("answer,error,message", [
    (filmo.Response(500, b"{}"), filmo.HttpError, "HTTP 500"),
    (filmo.Response(404, b""), filmo.NotFound, ""),
    (filmo.Response(200, b"{ not json"), filmo.DecodeError, "collections: invalid JSON"),
    (filmo.Response(200, b""), filmo.EmptyError, "empty body"),
    (filmo.Response(200, b"\xc3\x28"), filmo.DecodeError, ""),
])
def test_answers_the_library_refuses(client, answer, error, message):
    client.use_transport(lambda r: answer)
    with pytest.raises(error) as caught:
        client.collections()
    assert message in caught.value.message


def test_failures_of_the_python_transport(client):
    def refuse(request):
        raise filmo.TransportFailure("no route to catalogue")

    client.use_transport(refuse)
    with pytest.raises(filmo.TransportError) as caught:
        client.collections()
    assert caught.value.message == "transport: transport: no route to catalogue"
    assert caught.value.__cause__ is None

    def broken(request):
        return {}["missing"]

    client.use_transport(broken)
    with pytest.raises(filmo.TransportError) as caught:
        client.person("nm0000138")
    assert "python transport: KeyError: 'missing'" in caught.value.message
    assert isinstance(caught.value.__cause__, KeyError)

    for wrong in ("not a response", None, (200, b"[]")):
        client.use_transport(lambda r, wrong=wrong: wrong)
        with pytest.raises(filmo.TransportError, match="python transport: TypeError"):
            client.collections()


def test_a_long_transport_error_is_cut_at_a_character_boundary():
    from filmo.transport import ERROR_TEXT_MAX, error_bytes
    assert error_bytes("short é") == "short é".encode()
    for lead in range(4):  # the cut falls in each place of a 2-, 3- and 4-byte character
        for char in ("é", "中", "🎬"):
            width = len(char.encode())
            raw = error_bytes("x" * lead + char * ERROR_TEXT_MAX)
            assert ERROR_TEXT_MAX - width < len(raw) <= ERROR_TEXT_MAX
            assert raw.decode("utf-8") == "x" * lead + char * ((len(raw) - lead) // width)


def test_an_interrupt_in_the_transport_reaches_the_program(client):
    def interrupted(request):
        raise KeyboardInterrupt

    client.use_transport(interrupted)
    with pytest.raises(KeyboardInterrupt):
        client.collections()
    client.use_transport(lambda r: filmo.Response(200, COLLECTIONS))
    assert client.collections()  # nothing left over from the interrupted call


def test_the_transport_cannot_call_back_into_the_library(client):
    refused = []

    def reentrant(request):
        for call in (client.shutdown, client.collections, lambda: client.last_error):
            with pytest.raises(RuntimeError, match="inside one of its calls"):
                call()
            refused.append(call)
        return filmo.Response(200, COLLECTIONS)

    client.use_transport(reentrant)
    assert client.collections()
    assert len(refused) == 3
    assert client.cache_has("collections")  # the fetch ran to its end; the lock is free again


def test_a_failed_fetch_through_the_python_transport_keeps_the_view(client, default_ttls):
    def refuse(request):
        raise AssertionError("the held result was not answered from the cache")

    # A forced update that fails leaves the held page as it was, and fresh.
    client.use_transport(lambda r: filmo.Response(200, zlib.compress(HOME)))
    page = client.homepage()
    text, page_hash = client.home_json(), client.homepage_hash()
    client.use_transport(lambda r: filmo.Response(500))
    with pytest.raises(filmo.HttpError):
        client.homepage(update=True)
    assert client.home_json() == text and client.homepage_hash() == page_hash
    assert client.cache_has("home")
    client.use_transport(refuse)
    assert client.homepage() == page

    # Fetching an expired result again fails: the old one stays held, unchanged.
    client.set_ttl(collections=1)
    client.use_transport(lambda r: filmo.Response(200, COLLECTIONS))
    held = client.collections()
    time.sleep(2.1)  # the cache counts whole seconds
    assert not client.cache_has("collections")
    client.use_transport(lambda r: filmo.Response(503))
    with pytest.raises(filmo.HttpError):
        client.collections()
    assert client.cache_entries() == 2 and not client.cache_has("collections")
    client.set_ttl(collections=default_ttls[3])  # fresh again: answered from what is held
    client.use_transport(refuse)
    assert client.collections() == held


def test_a_transport_must_be_callable(client):
    with pytest.raises(TypeError):
        client.use_transport("http://catalogue.test")


class Clock:
    """A fake clock: sleep() records the wait and moves the time on, without waiting."""

    def __init__(self):
        self.waits = []

    def sleep(self, seconds):
        self.waits.append(seconds)


def failing(statuses):
    """A transport that answers each status of the list in turn (an exception is raised),
    then the collections."""
    left = list(statuses)

    def answer(request):
        if left:
            status = left.pop(0)
            if isinstance(status, Exception):
                raise status
            return filmo.Response(status, b"{}")
        return filmo.Response(200, COLLECTIONS)
    return answer


REFUSED = filmo.TransportFailure("WinHttpSendRequest failed: 12029")
TIMED_OUT = filmo.TransportFailure("WinHttpReceiveResponse failed: 12002")


@pytest.mark.parametrize("answers,waits,outcome", [
    ([503, 429, 502], [0.5, 1.0, 2.0], None),  # three retries, the fourth try works
    ([504], [0.5], None),
    ([503] * 4, [0.5, 1.0, 2.0], filmo.HttpError),  # attempts run out
    ([REFUSED, REFUSED], [0.5, 1.0], None),
    ([500], [], filmo.HttpError),               # never for other statuses
    ([404], [], filmo.NotFound),
    ([TIMED_OUT], [], filmo.TransportTimeout),  # not a connection failure
    ([200], [], filmo.DecodeError),
])
def test_retries_for_connection_failures_and_busy_servers(client, answers, waits, outcome):
    clock = Clock()
    client.retry = filmo.RetryPolicy(attempts=3, backoff=0.5, sleep=clock.sleep)
    client.use_transport(failing(answers))
    if outcome is None:
        assert client.collections()
    else:
        with pytest.raises(outcome):
            client.collections()
    assert clock.waits == waits


def test_retry_waits_are_bounded(client):
    clock = Clock()
    client.retry = filmo.RetryPolicy(attempts=10, backoff=1, max_delay=4, max_total_wait=12,
                                     sleep=clock.sleep)
    client.use_transport(failing([503] * 20))
    with pytest.raises(filmo.HttpError) as caught:
        client.collections()
    assert clock.waits == [1, 2, 4, 4] and caught.value.http_status == 503
    client.retry = None  # the default: no retry
    client.use_transport(failing([503, 503]))
    with pytest.raises(filmo.HttpError):
        client.collections()
    with pytest.raises(ValueError):
        filmo.RetryPolicy(attempts=-1)
