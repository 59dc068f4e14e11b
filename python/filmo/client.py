"""The Python face of the library's one process-wide client.

libfilmo keeps one state per process (server, transport, last error, one result per view), and
its host must serialise every call. The package says so by construction: a process has at most
one open Client. Creating a second while the first is open raises ClientInUse (naming where the
open one was made); ``close()``, the end of a ``with`` block, or dropping the last reference to
the open one lets a new one be made. Every method takes one process-wide lock for the whole
fetch-and-read, so Python threads never interleave calls, and a view is read into plain objects
before the lock is let go. ``with Client() as c:`` shuts the library's state down (every view
emptied, transport uninstalled) and closes the client when the block ends.

A Python transport runs inside a fetch, while the library is in the middle of it; any Client call
it makes there (a fetch, shutdown(), even last_error) raises RuntimeError instead of re-entering
the library.
"""

from __future__ import annotations

import ctypes
import os
import sys
import threading
import time
import weakref
from dataclasses import dataclass, field
from pathlib import Path
from typing import (Callable, FrozenSet, Iterator, Optional, Tuple, TypeVar, Union)

from . import _native
from .enums import FakeMode, Status
from .errors import (ConnectionFailed, FilmoError, HttpError, NotFound, UnexpectedUnchanged,
                     error_for)
from .transport import HostTransport, Installed
from .views import (Collection, HomePage, Person, PopularPage, PopularPerson, Unchanged,
                    read_collections, read_home, read_person, read_popular, text)

HOME_UPDATE = 1     # bypass the cache; ask the server to update and mark read
HOME_VERSION_1 = 2  # ask for version 1 of the page instead of 2

VIEWS = ("home", "collections", "person", "popular")

T = TypeVar("T")
PathText = Union[str, "os.PathLike[str]"]


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
_handle_lock = threading.Lock()
_open_client: Optional["weakref.ReferenceType[Client]"] = None


class ClientInUse(RuntimeError):
    """A Client is already open in this process: the library has one state per process, so
    there is one handle on it at a time."""


@dataclass(frozen=True)
class FakeStats:
    """What the fixture backend was asked since it was loaded or reset: requests received, URLs
    recorded (one per request), requests it could not serve, and the last URL."""
    calls: int
    url_count: int
    failures: int
    last_url: str


RETRY_HTTP_STATUSES: FrozenSet[int] = frozenset({429, 502, 503, 504})


@dataclass(frozen=True)
class RetryPolicy:
    """When a fetch is tried again: after a connection failure (ConnectionFailed) or an HTTP
    status of RETRY_HTTP_STATUSES, never after anything else. Waits ``backoff`` seconds before
    the first retry and twice as long before each next one, each wait at most ``max_delay``;
    at most ``attempts`` retries, and no retry whose wait would bring the waits of this fetch
    over ``max_total_wait``. ``sleep`` does the waiting (time.sleep; a test passes its own)."""
    attempts: int = 3
    backoff: float = 0.5
    max_delay: float = 8.0
    max_total_wait: float = 20.0
    sleep: Callable[[float], None] = field(default=time.sleep, compare=False, repr=False)

    def __post_init__(self) -> None:
        if self.attempts < 0:
            raise ValueError(f"RetryPolicy.attempts {self.attempts} is below 0")
        for name in ("backoff", "max_delay", "max_total_wait"):
            if not getattr(self, name) >= 0:
                raise ValueError(f"RetryPolicy.{name} {getattr(self, name)} is below 0")

    def delays(self) -> Iterator[float]:
        """The waits before each retry, in order, within both bounds."""
        waited = 0.0
        for k in range(self.attempts):
            delay = min(self.backoff * 2 ** k, self.max_delay)
            if waited + delay > self.max_total_wait:
                return
            waited += delay
            yield delay

    def retries(self, error: FilmoError) -> bool:
        """Whether a fetch that failed with this error is tried again."""
        if isinstance(error, ConnectionFailed):
            return True
        return isinstance(error, HttpError) and error.http_status in RETRY_HTTP_STATUSES


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


def _caller() -> str:
    frame = sys._getframe(2)
    return f"{frame.f_code.co_filename}:{frame.f_lineno}"


class Client:
    """The handle on libfilmo's process-wide client; one may be open at a time (see the
    module's text). ``host`` sets the server base URL; ``retry`` a RetryPolicy for the fetches
    (None: a failed fetch raises at once)."""

    _closed: bool
    _made_at: str

    def __init__(self, host: Optional[str] = None, *,
                 retry: Optional[RetryPolicy] = None) -> None:
        global _open_client
        with _handle_lock:
            held = _open_client() if _open_client is not None else None
            if held is not None and not held._closed:
                raise ClientInUse(
                    "libfilmo keeps one state per process and a filmo.Client is already open "
                    f"(made at {held._made_at}): use that one, or close() it first")
            lib = _native.lib()
            _open_client = weakref.ref(self)
        self._library = lib
        self._closed = False
        self._made_at = _caller()
        self._host: Optional[str] = None
        self._transport = "none"
        self.retry = retry
        if host is not None:
            self.set_host(host)

    def __enter__(self) -> "Client":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        if self._closed:
            return "<filmo.Client closed>"
        retry = f" retry={self.retry}" if self.retry else ""
        return (f"<filmo.Client host={self._host or 'default'} transport={self._transport} "
                f"library={_native.path()}{retry}>")

    def close(self) -> None:
        """Shut the library's state down (see shutdown) and give the process's handle back,
        so that a new Client can be made. Closing twice does nothing."""
        global _open_client
        if self._closed:
            return
        self.shutdown()
        with _handle_lock:
            self._closed = True
            if _open_client is not None and _open_client() is self:
                _open_client = None

    @property
    def closed(self) -> bool:
        """Whether close() was called."""
        return self._closed

    @property
    def _lib(self) -> ctypes.CDLL:
        if self._closed:
            raise RuntimeError("this filmo.Client is closed")
        return self._library

    # ---- the library ----------------------------------------------------------------------

    @property
    def library_path(self) -> str:
        """Where the loaded libfilmo came from."""
        return _native.path()

    def version(self) -> str:
        """The library's version text."""
        return text(self._lib.filmo_version()) or ""

    @property
    def last_error(self) -> str:
        """The last error text of the library ("" after a success)."""
        with _lock:
            return text(self._lib.filmo_last_error()) or ""

    @property
    def last_http_code(self) -> int:
        """The HTTP status of the last exchange, 0 when there was none."""
        with _lock:
            return int(self._lib.filmo_last_http_code())

    @property
    def last_content_hash(self) -> int:
        """The "ContentHash" of the last home page answer; -1 when it had none."""
        with _lock:
            return int(self._lib.filmo_last_content_hash())

    def _check(self, status: int) -> None:
        """Raises the exception of a failed call, chained to what a Python transport raised."""
        pending = _installed.take_pending() if _installed else None
        if pending is not None and not isinstance(pending, Exception):
            raise pending  # KeyboardInterrupt and the like are the program's, not a failure
        if status != Status.OK:
            http = (int(self._lib.filmo_last_http_code())
                    if status in (Status.HTTP, Status.NOT_FOUND) else 0)
            raise error_for(status, text(self._lib.filmo_last_error()) or "", http) from pending

    def _fetch(self, call: Callable[[], T]) -> T:
        """call(), tried again as the retry policy says."""
        policy = self.retry
        if policy is None:
            return call()
        delays = policy.delays()
        while True:
            try:
                return call()
            except FilmoError as exc:
                delay = next(delays, None) if policy.retries(exc) else None
                if delay is None:
                    raise
                policy.sleep(delay)

    # ---- configuration --------------------------------------------------------------------

    def set_host(self, host: Optional[str]) -> None:
        """Server base URL; "https://" is put in front when it has no scheme; None or "" is
        the default."""
        with _lock:
            self._lib.filmo_set_host(_arg(host))
            self._host = host or None

    def use_curl(self) -> None:
        """Install the library's real network transport."""
        global _installed
        with _lock:
            self._check(self._lib.filmo_use_curl())
            _installed = None
            self._transport = "network"

    def use_fake(self, corpus: Optional[PathText] = None, mode: int = FakeMode.SERVE) -> None:
        """Install the offline fixture backend over a corpus directory (None: the sample corpus
        the package was built with), in a FakeMode (SERVE answers from the corpus, the others
        fail every request in their way). FileNotFoundError for a directory that does not
        exist, ValueError for a mode outside 0..7."""
        global _installed
        folder = _native.sample_corpus() if corpus is None else Path(os.fspath(corpus))
        if not folder.exists():
            raise FileNotFoundError(2, "corpus directory not found", str(folder))
        if not folder.is_dir():
            raise NotADirectoryError(20, "corpus is no directory", str(folder))
        mode = _fake_mode(mode)
        with _lock:
            self._check(self._lib.filmo_fake_corpus(_arg(str(folder))))
            self._check(self._lib.filmo_fake_mode(mode))
            self._check(self._lib.filmo_use_fake())
            _installed = None
            self._transport = f"fake({folder})"

    def set_fake_mode(self, mode: int) -> None:
        """Switch the fixture backend to a FakeMode; ValueError outside 0..7."""
        mode = _fake_mode(mode)
        with _lock:
            self._check(self._lib.filmo_fake_mode(mode))

    def fake_stats(self) -> FakeStats:
        """What the fixture backend was asked since load or fake_reset()."""
        with _lock:
            return FakeStats(int(self._lib.filmo_fake_calls()),
                             int(self._lib.filmo_fake_url_count()),
                             int(self._lib.filmo_fake_fail_count()),
                             text(self._lib.filmo_fake_last_url()) or "")

    def fake_reset(self) -> None:
        """Clear the fixture backend's counters and last URL; mode and corpus stay."""
        with _lock:
            self._lib.filmo_fake_reset()

    def use_transport(self, handler: HostTransport) -> None:
        """Install a transport written in Python: ``handler(Request) -> Response`` (the
        contract: filmo.transport). It runs on the calling thread, inside the fetch that needs
        it; a Client call made from the handler raises RuntimeError."""
        global _installed
        if not callable(handler):
            raise TypeError("a host transport is a callable taking a filmo.Request")
        with _lock:
            installed = Installed(handler)
            io = self._lib.vornak_io_over_http(ctypes.byref(installed.record), None)
            self._check(self._lib.filmo_set_io(io))
            _installed = installed
            self._transport = f"python({getattr(handler, '__qualname__', type(handler).__name__)})"

    def set_ttl(self, home: Optional[int] = None, person: Optional[int] = None,
                popular: Optional[int] = None, collections: Optional[int] = None) -> None:
        """Times-to-live in seconds; None or 0 leaves that view's as it is; a negative one
        raises ValueError."""
        values = (home, person, popular, collections)
        for name, value in zip(("home", "person", "popular", "collections"), values):
            if value is not None and value < 0:
                raise ValueError(f"time-to-live of {name} {value} is below 0")
        with _lock:
            self._lib.filmo_cache_set_ttl(*(_i32(v or 0, "ttl") for v in values))

    def cache_clear(self) -> None:
        """Empty every view."""
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
        """How many views hold a result, fresh or expired."""
        with _lock:
            return int(self._lib.filmo_cache_entries())

    def shutdown(self) -> None:
        """Empty every view and uninstall the transport; the server URL stays, and so does
        this client (close() gives the handle back)."""
        global _installed
        with _lock:
            self._lib.filmo_shutdown()
            _installed = None
            self._transport = "none"

    # ---- views ----------------------------------------------------------------------------

    def collections(self, language: Optional[str] = None) -> Tuple[Collection, ...]:
        """The popular collections in a language ("en-US" when None)."""
        def fetch() -> Tuple[Collection, ...]:
            with _lock:
                self._check(self._lib.filmo_get_collections(_arg(language)))
                return read_collections(self._lib)
        return self._fetch(fetch)

    def homepage(self, user_id: Optional[str] = None, profile_id: int = 0,
                 language: Optional[str] = None, *, update: bool = False,
                 version1: bool = False) -> HomePage:
        """The home page of a user and profile (anonymous when user_id is None). A fresh page
        in the cache is answered at once unless update is set. No hash is sent; should the
        server still answer "unchanged", UnexpectedUnchanged is raised."""
        answer = self._home(None, user_id, profile_id, language, update, version1)
        if isinstance(answer, Unchanged):
            raise UnexpectedUnchanged(Status.UNCHANGED, answer.message)
        return answer

    def homepage_if_changed(self, known_hash: int, user_id: Optional[str] = None,
                            profile_id: int = 0, language: Optional[str] = None, *,
                            update: bool = False,
                            version1: bool = False) -> Union[HomePage, Unchanged]:
        """The home page, or Unchanged when the server answers that it is still the page whose
        hash (HomePage.hash) the host passes as known_hash. A fresh page in the cache is
        answered at once, as a HomePage, unless update is set."""
        return self._home(_int(known_hash, "known_hash", 64), user_id, profile_id, language,
                          update, version1)

    def _home(self, known_hash: Optional[int], user_id: Optional[str], profile_id: int,
              language: Optional[str], update: bool,
              version1: bool) -> Union[HomePage, Unchanged]:
        flags = (HOME_UPDATE if update else 0) | (HOME_VERSION_1 if version1 else 0)
        args = (_arg(user_id), _i32(profile_id, "profile_id"), _arg(language), flags)

        def fetch() -> Union[HomePage, Unchanged]:
            with _lock:
                self._lib.filmo_set_homepage_hash(known_hash or 0)
                status = self._lib.filmo_get_homepage(*args)
                if status == Status.UNCHANGED:
                    self._check(Status.OK)
                    return Unchanged(known_hash=known_hash or 0,
                                     content_hash=int(self._lib.filmo_last_content_hash()),
                                     message=text(self._lib.filmo_last_error()) or "")
                self._check(status)
                return read_home(self._lib)
        return self._fetch(fetch)

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
        """A text field of a title of the held home page by its name in the page's JSON
        ("imdbid", "title", "tagline", "plot", "posterurl", "pictureurl", any case)."""
        with _lock:
            return text(self._lib.filmo_home_basic_field(_i32(index, "index"), _arg(name)))

    def person(self, person_id: Union[str, int], language: Optional[str] = None) -> Person:
        """One person, by IMDb id ("nm0000138") or numeric TMDb id."""
        def fetch() -> Person:
            with _lock:
                self._check(self._lib.filmo_get_people_detail(_arg(str(person_id)),
                                                              _arg(language)))
                return read_person(self._lib)
        return self._fetch(fetch)

    def popular_people(self, page: int = 1, page_size: int = 20, page_numbers: int = 1,
                       language: Optional[str] = None) -> Tuple[PopularPerson, ...]:
        """One answer of popular people: ``page_numbers`` pages from ``page`` (from 1).
        ValueError for a page below 1; a page past the last raises NotFound."""
        if page < 1:
            raise ValueError(f"page {page} is below 1")
        args = (_i32(page, "page"), _i32(page_size, "page_size"),
                _i32(page_numbers, "page_numbers"), _arg(language))

        def fetch() -> Tuple[PopularPerson, ...]:
            with _lock:
                self._check(self._lib.filmo_get_people_popular(*args))
                return read_popular(self._lib)
        return self._fetch(fetch)

    def popular_pages(self, first: int = 1, page_size: int = 20,
                      language: Optional[str] = None, *,
                      max_pages: Optional[int] = None) -> Iterator[PopularPage]:
        """The pages of popular people from ``first`` on, one fetch per page, each with its
        number; ends at the first page the server does not have (404) or that is empty, or
        after ``max_pages`` pages."""
        if first < 1:
            raise ValueError(f"page {first} is below 1")
        number = first
        while max_pages is None or number - first < max_pages:
            try:
                people = self.popular_people(number, page_size, 1, language)
            except NotFound:
                return
            if not people:
                return
            yield PopularPage(number, people)
            number += 1


def _fake_mode(mode: int) -> FakeMode:
    if isinstance(mode, bool) or not isinstance(mode, int):
        raise TypeError(f"fixture mode is an int 0..7, not {type(mode).__name__}")
    if not 0 <= mode <= 7:
        raise ValueError(f"fixture mode {mode} is outside 0..7")
    return FakeMode(mode)


def sample_corpus() -> Path:
    """The sample corpus the package was built with (the fixture backend's default)."""
    return _native.sample_corpus()
