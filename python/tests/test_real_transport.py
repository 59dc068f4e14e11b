"""The library's real network transport against the local catalogue server on 127.0.0.1:
every view reads the same as through the fixture backend, and the hash exchange works on the
wire."""

import pytest

import filmo
from conftest import CORPUS, USER

CALLS = [
    lambda c: c.collections(),
    lambda c: c.homepage(),
    lambda c: c.homepage(USER, version1=True),
    lambda c: c.person("nm0000138"),
    lambda c: c.person("6193"),
    lambda c: c.popular_people(page=2),
    lambda c: c.popular_people(page_numbers=2),
]


def test_views_over_the_wire_equal_the_fixture_backend(client, catalogue_url):
    client.use_fake(str(CORPUS))
    offline = [call(client) for call in CALLS]
    client.cache_clear()
    client.set_host(catalogue_url)
    client.use_curl()
    online = [call(client) for call in CALLS]
    assert online == offline
    assert client.last_http_code == 200


def test_not_found_and_unchanged_over_the_wire(client, catalogue_url):
    client.set_host(catalogue_url)
    client.use_curl()
    try:
        client.person("nm9999999")
    except filmo.NotFound as e:
        assert e.message == "no such person (HTTP 404)"
    else:
        raise AssertionError("a person without a file is not found")
    page = client.homepage(USER)
    same = client.homepage_if_changed(page.hash, USER, update=True)
    assert isinstance(same, filmo.Unchanged) and same.content_hash == page.hash


def test_a_closed_port_is_a_connection_failure(client):
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    client.set_host(f"http://127.0.0.1:{port}")
    client.use_curl()
    with pytest.raises(filmo.TransportError) as caught:
        client.collections()
    assert caught.value.message == "transport: transport: WinHttpSendRequest failed: 12029"
    assert isinstance(caught.value, filmo.ConnectionFailed)
    assert isinstance(caught.value, ConnectionError)
    assert caught.value.platform_error == 12029
