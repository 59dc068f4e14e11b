"""Shared set-up: the installed package with the library and sample corpus built into it, a
client that is closed after each test, and the local catalogue server on 127.0.0.1.

FILMO_LIBRARY may name another build of the library (development); FILMO_CORPUS another corpus;
FILMO_CLI the filmo command of the same build, for the tests that compare its output.
"""

import os
import subprocess
import sys
from pathlib import Path

import pytest

import filmo

REPO = Path(__file__).resolve().parents[2]
CORPUS = Path(os.environ.get("FILMO_CORPUS") or filmo.sample_corpus())
DATA = REPO / "data"
SERVER = REPO / "scripts" / "catalogue_server.py"
USER = "5f3c9a2e-8b41-4d7a-9c06-1e2f7a4b8d90"

# The library's times-to-live at load: home, person, popular, collections, in seconds.
DEFAULT_TTLS = (900, 21600, 1560, 1560)


@pytest.fixture
def client():
    """The process's client with every view empty and no transport; closed afterwards, with
    the times-to-live put back (they outlive shutdown, like the rest of the cache's settings)."""
    with filmo.Client() as c:
        c.shutdown()
        c.set_host(None)
        c.fake_reset()
        yield c
        if not c.closed:
            c.set_ttl(*DEFAULT_TTLS)


@pytest.fixture
def default_ttls():
    """The library's times-to-live at load, for a test that changes them."""
    return DEFAULT_TTLS


@pytest.fixture
def fake(client):
    """The client over the sample corpus through the fixture backend."""
    client.use_fake(CORPUS, filmo.FakeMode.SERVE)
    client.fake_reset()
    return client


@pytest.fixture(scope="session")
def catalogue_url():
    """Base URL of the local catalogue server, serving the sample corpus on 127.0.0.1."""
    proc = subprocess.Popen([sys.executable, str(SERVER), str(CORPUS), "--port", "0", "--quiet"],
                            stdout=subprocess.PIPE, text=True)
    try:
        line = proc.stdout.readline().strip()
        assert line.startswith("listening 127.0.0.1:"), line
        yield "http://" + line.split(" ", 1)[1]
    finally:
        proc.terminate()
        proc.wait(timeout=10)
        proc.stdout.close()
