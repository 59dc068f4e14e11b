"""The Python face of the library's one process-wide client.

libfilmo keeps one state per process (server, transport, last error, one result per view), and
its host must serialise every call. A Client is a handle on that state: every method takes one
process-wide lock for the whole fetch-and-read, so Python threads never interleave calls, and a
view is read into plain objects before the lock is let go. ``with Client() as c:`` shuts the
client down (every view emptied, transport uninstalled) when the block ends.

A Python transport runs inside a fetch, while the library is in the middle of it; any Client call
it makes there (a fetch, shutdown(), even last_error) raises RuntimeError instead of re-entering
the library.
"""

from __future__ import annotations

import ctypes
import threading
from dataclasses import dataclass
from typing import Optional, Tuple, Union

from . import _native
from .errors import error_for
from .transport import HostTransport, Installed
from .views import (Collection, HomePage, Person, PopularPerson, Unchanged, read_collections,
                    read_home, read_person, read_popular, text)

HOME_UPDATE = 1     # bypass the cache; ask the server to update and mark read
HOME_VERSION_1 = 2  # ask for version 1 of the page instead of 2
UNCHANGED = 9

VIEWS = ("home", "collections", "person", "popular")

class _LibraryLock:
    """The process-wide lock around each library call. A thread already inside a call (a
    Python transport, run by the fetch) is refused: the library must not be entered again
    while a fetch of its own is under way."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._inside = threading.local()

    def __enter__(self) -> None:
        if getattr(self._inside, "call", False):
            raise RuntimeError("libfilmo cannot be called from inside one of its calls "
                               "(a Python transport runs inside the fetch that needs it)")
        self._lock.acquire()
        self._inside.call = True

    def __exit__(self, *exc: object) -> None:
        self._inside.call = False
        self._lock.release()


_lock = _LibraryLock()
_installed: Optional[Installed] = None  # the Python transport the library holds, kept alive


@dataclass(frozen=True)
class FakeStats:
    """What the fixture backend was asked since it was loaded or reset."""
    calls: int
    url_count: int
    failures: int
    last_url: str


def _arg(value: Optional[str]) -> Optional[bytes]:
    if value is None:
        return None
    raw = str(value).encode("utf-8")
    if b"\0" in raw:
        raise ValueError("texts handed to libfilmo cannot hold a NUL character")
    return raw


def _int(value: int, name: str, bits: int = 32) -> int:
    value = int(value)
    if not -(1 << (bits - 1)) <= value < 1 << (bits - 1):
        raise ValueError(f"{name} {value} does not fit in {bits} bits")
    return value


def _i32(value: int, name: str) -> int:
    return _int(value, name)


class Client:
    """A handle on libfilmo's process-wide client (see the module's text)."""

    def __init__(self, host: Optional[str] = None) -> None:
        self._lib = _native.lib()
        if host is not None:
            self.set_host(host)

    def __enter__(self) -> "Client":
        return self

    def __exit__(self, *exc: object) -> None:
        self.shutdown()

    # ---- the library ----------------------------------------------------------------------

    @property
    def library_path(self) -> str:
        return _native.path()

    def version(self) -> str:
        return text(self._lib.filmo_version()) or ""

    @property
    def last_error(self) -> str:
        with _lock:
            return text(self._lib.filmo_last_error()) or ""

    @property
    def last_http_code(self) -> int:
        with _lock:
            return int(self._lib.filmo_last_http_code())

    @property
    def last_content_hash(self) -> int:
        with _lock:
            return int(self._lib.filmo_last_content_hash())

    def _check(self, status: int) -> None:
        """Raises the exception of a failed call, chained to what a Python transport raised."""
        pending = _installed.take_pending() if _installed else None
        if pending is not None and not isinstance(pending, Exception):
            raise pending  # KeyboardInterrupt and the like are the program's, not a failure
        if status != 0:
            raise error_for(status, text(self._lib.filmo_last_error()) or "") from pending

    # ---- configuration --------------------------------------------------------------------

    def set_host(self, host: Optional[str]) -> None:
        """Server base URL; "https://" is put in front when it has no scheme; None or "" is
        the default."""
        with _lock:
            self._lib.filmo_set_host(_arg(host))

    def use_curl(self) -> None:
        """Install the library's real network transport."""
        global _installed
        with _lock:
            self._check(self._lib.filmo_use_curl())
            _installed = None

    def use_fake(self, corpus: Optional[str] = None, mode: int = 0) -> None:
        """Install the offline fixture backend over a corpus directory (None: the one recorded
        before), failing every request in ``mode`` 1..7 (0 serves the corpus)."""
        global _installed
        with _lock:
            if corpus is not None:
                self._check(self._lib.filmo_fake_corpus(_arg(str(corpus))))
            self._check(self._lib.filmo_fake_mode(_i32(mode, "mode")))
            self._check(self._lib.filmo_use_fake())
            _installed = None

    def set_fake_mode(self, mode: int) -> None:
        with _lock:
            self._check(self._lib.filmo_fake_mode(_i32(mode, "mode")))

    def fake_stats(self) -> FakeStats:
        with _lock:
            return FakeStats(int(self._lib.filmo_fake_calls()),
                             int(self._lib.filmo_fake_url_count()),
                             int(self._lib.filmo_fake_fail_count()),
                             text(self._lib.filmo_fake_last_url()) or "")

    def fake_reset(self) -> None:
        with _lock:
            self._lib.filmo_fake_reset()

    def use_transport(self, handler: HostTransport) -> None:
        """Install a transport written in Python: ``handler(Request) -> Response``. It runs on
        the calling thread, inside the fetch that needs it; a Client call made from the handler
        raises RuntimeError."""
        global _installed
        if not callable(handler):
            raise TypeError("a host transport is a callable taking a filmo.Request")
        with _lock:
            installed = Installed(handler)
            io = self._lib.vornak_io_over_http(ctypes.byref(installed.record), None)
            self._check(self._lib.filmo_set_io(io))
            _installed = installed

    def set_ttl(self, home: Optional[int] = None, person: Optional[int] = None,
                popular: Optional[int] = None, collections: Optional[int] = None) -> None:
        """Times-to-live in seconds; None (or a value <= 0) leaves that view's as it is."""
        with _lock:
            self._lib.filmo_cache_set_ttl(*(_i32(v or 0, "ttl")
                                            for v in (home, person, popular, collections)))

    def cache_clear(self) -> None:
        with _lock:
            self._lib.filmo_cache_clear()

    def cache_invalidate(self, view: Optional[str] = None, key: Optional[str] = None) -> None:
        """Empty one view ("home", "collections", "person", "popular") when key is None, empty
        or its key; "*" or None empties every view."""
        with _lock:
            self._lib.filmo_cache_invalidate(_arg(view), _arg(key))

    def cache_has(self, view: str) -> bool:
        """Whether the view holds a fresh result, whatever its key; "*": whether any view holds
        a result, fresh or expired. An unknown view raises InvalidArgument."""
        answer = _native.i32(0)
        with _lock:
            self._check(self._lib.filmo_cache_has(_arg(view), None, ctypes.byref(answer)))
        return answer.value == 1

    def cache_entries(self) -> int:
        with _lock:
            return int(self._lib.filmo_cache_entries())

    def shutdown(self) -> None:
        """Empty every view and uninstall the transport; the server URL stays."""
        global _installed
        with _lock:
            self._lib.filmo_shutdown()
            _installed = None

    # ---- views ----------------------------------------------------------------------------

    def collections(self, language: Optional[str] = None) -> Tuple[Collection, ...]:
        with _lock:
            self._check(self._lib.filmo_get_collections(_arg(language)))
            return read_collections(self._lib)

    def homepage(self, user_id: Optional[str] = None, profile_id: int = 0,
                 language: Optional[str] = None, *, update: bool = False,
                 version1: bool = False,
                 known_hash: Optional[int] = None) -> Union[HomePage, Unchanged]:
        """The home page, or Unchanged when the server answers that the page is the one whose
        hash (HomePage.hash) the host passed as known_hash. Without known_hash no hash is
        sent. A fresh page in the cache is answered at once unless update is set."""
        with _lock:
            self._lib.filmo_set_homepage_hash(
                _int(known_hash, "known_hash", 64) if known_hash is not None else 0)
            flags = (HOME_UPDATE if update else 0) | (HOME_VERSION_1 if version1 else 0)
            status = self._lib.filmo_get_homepage(_arg(user_id), _i32(profile_id, "profile_id"),
                                                  _arg(language), flags)
            if status == UNCHANGED:
                self._check(0)
                return Unchanged(known_hash=known_hash if known_hash is not None else 0,
                                 content_hash=int(self._lib.filmo_last_content_hash()),
                                 message=text(self._lib.filmo_last_error()) or "")
            self._check(status)
            return read_home(self._lib)

    def parse_homepage_json(self, page: Union[str, bytes]) -> HomePage:
        """Install a home page the host already holds as JSON text; no exchange produced it, so
        its content_hash is -1."""
        raw = page.encode("utf-8") if isinstance(page, str) else bytes(page)
        with _lock:
            self._check(self._lib.filmo_parse_homepage_json(raw, len(raw)))
            return read_home(self._lib, content_hash=-1)

    def home_json(self) -> Optional[str]:
        """The home page text the library retains, or None."""
        with _lock:
            return text(self._lib.filmo_home_json())

    def homepage_hash(self) -> int:
        """Stable hash of the retained home page text; 0 when none."""
        with _lock:
            return int(self._lib.filmo_homepage_hash())

    def home_basic_field(self, index: int, name: str) -> Optional[str]:
        """A text field of a title of the held home page by name ("imdbid", "title",
        "tagline", "plot", "posterurl", "pictureurl", any case)."""
        with _lock:
            return text(self._lib.filmo_home_basic_field(_i32(index, "index"), _arg(name)))

    def person(self, person_id: Union[str, int], language: Optional[str] = None) -> Person:
        """One person, by IMDb id ("nm0000138") or numeric TMDb id."""
        with _lock:
            self._check(self._lib.filmo_get_people_detail(_arg(str(person_id)), _arg(language)))
            return read_person(self._lib)

    def popular_people(self, page: int = 1, page_size: int = 20, page_numbers: int = 1,
                       language: Optional[str] = None) -> Tuple[PopularPerson, ...]:
        with _lock:
            self._check(self._lib.filmo_get_people_popular(
                _i32(page, "page"), _i32(page_size, "page_size"),
                _i32(page_numbers, "page_numbers"), _arg(language)))
            return read_popular(self._lib)
