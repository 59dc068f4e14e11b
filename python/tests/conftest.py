"""Shared set-up: the library and corpus of a build tree, a client that is shut down after
each test, and the local catalogue server on 127.0.0.1.

FILMO_LIBRARY names the library (default: build/release/libfilmo.so of this checkout);
FILMO_CORPUS the built corpus (default: the corpus beside that library).
"""

import os
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
DEFAULT_LIBRARY = REPO / "build" / "release" / "libfilmo.so"
os.environ.setdefault("FILMO_LIBRARY", str(DEFAULT_LIBRARY))
LIBRARY = Path(os.environ["FILMO_LIBRARY"])
CORPUS = Path(os.environ.get("FILMO_CORPUS", LIBRARY.parent / "corpus"))
DATA = REPO / "data"
SERVER = REPO / "scripts" / "catalogue_server.py"
USER = "5f3c9a2e-8b41-4d7a-9c06-1e2f7a4b8d90"

import filmo  # noqa: E402  (after FILMO_LIBRARY is settled)


@pytest.fixture
def client():
    """A client with every view empty and no transport; shut down again afterwards."""
    with filmo.Client() as c:
        c.shutdown()
        c.set_host(None)
        c.fake_reset()
        yield c


# The library's times-to-live at load: home, person, popular, collections, in seconds.
DEFAULT_TTLS = (900, 21600, 1560, 1560)


@pytest.fixture
def default_ttls():
    """Puts the library's times-to-live back after a test that shortens them: they outlive
    shutdown, like the rest of the cache's settings."""
    yield DEFAULT_TTLS
    with filmo.Client() as c:
        c.set_ttl(*DEFAULT_TTLS)


@pytest.fixture
def fake(client):
    """The client over the bundled corpus through the fixture backend."""
    client.use_fake(str(CORPUS), 0)
    client.fake_reset()
    return client


@pytest.fixture(scope="session")
def catalogue_url():
    """Base URL of the local catalogue server, serving the bundled corpus on 127.0.0.1."""
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
