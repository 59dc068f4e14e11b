"""A host transport written in Python: a callable that takes a Request and returns a Response.

The contract
------------
A transport is any callable ``handler(request: Request) -> Response``, installed with
``Client.use_transport(handler)``. It runs on the calling thread, inside the fetch that needs
it, once per exchange; it must not call the Client (that raises RuntimeError).

What a request carries: ``method`` ("GET"), the full ``url`` (the server base URL, the
endpoint's path "/api/AAA/<Endpoint>" and its query), the request ``headers`` as (name, value)
pairs, and the body, credentials, time-outs and flags of the request record (unused by the
catalogue's GETs). ``request.header(name)`` finds a header by name, ASCII case ignored.

What a response must hold: the HTTP ``status`` (an int, 0..2147483647), the ``body`` (bytes;
a str is sent as its UTF-8 bytes) and the ``headers`` as (name, value) pairs in order (a dict is
taken as its items); names and values are str (sent as UTF-8) or bytes. Per endpoint:

- GetCollectionPopular, GetPeopleDetail, GetPeoplePopular: status 200 and the JSON text; 404
  for an unknown person or a page past the last one.
- GetHomePage: status 200, the page's JSON text compressed in the zlib format, and the header
  "ContentHash" with the page's stable hash (``stable_hash``). When the request carries the
  header "MD5HomePage" with that same hash, the answer is the single byte 0xFF instead (the
  page is unchanged). ``home_page_response`` builds both answers from the JSON text.

Failing: raise TransportFailure when no answer was received; its text becomes the transport
error. Any other exception fails the exchange too, with its type and text, and is chained to
the error the fetch raises; KeyboardInterrupt and its kind reach the program as they are.
Nothing ever unwinds into the library.
"""

from __future__ import annotations

import ctypes
import zlib
from dataclasses import dataclass
from typing import (Dict, Iterable, Mapping, Optional, Protocol, Sequence, Tuple, Union,
                    cast)

from . import _native

HeaderText = Union[str, bytes]
Headers = Union[Mapping[str, str], Iterable[Tuple[HeaderText, HeaderText]]]

STATUS_MAX = 0x7FFFFFFF
UNCHANGED_BODY = b"\xff"


@dataclass(frozen=True)
class Request:
    """One request of the library, as the request record holds it."""
    method: str
    url: str
    headers: Tuple[Tuple[str, str], ...]
    body: bytes = b""
    user: Optional[str] = None
    password: Optional[str] = None
    timeout_ms: int = 0
    connect_timeout_ms: int = 0
    recv_timeout_ms: int = 0
    flags: int = 0

    def header(self, name: str) -> Optional[str]:
        """The first header of that name (ASCII case ignored), or None."""
        wanted = name.lower()
        for key, value in self.headers:
            if key.lower() == wanted:
                return value
        return None


@dataclass(frozen=True)
class Response:
    """An HTTP answer: status, body bytes, header pairs in order.

    Checked when made: a str body becomes its UTF-8 bytes, a dict of headers its items; any
    other type raises TypeError naming the field, a status outside 0..2147483647 ValueError.
    """
    status: int
    body: Union[bytes, str] = b""
    headers: Headers = ()

    def __post_init__(self) -> None:
        status: object = self.status
        if not isinstance(status, int) or isinstance(status, bool):
            raise TypeError(f"Response.status must be an int, not {type(status).__name__}")
        if not 0 <= status <= STATUS_MAX:
            raise ValueError(f"Response.status {status} is out of range 0..{STATUS_MAX}")
        object.__setattr__(self, "body", _body(self.body))
        object.__setattr__(self, "headers", _headers(self.headers))

    @property
    def body_bytes(self) -> bytes:
        """The body as bytes."""
        return cast(bytes, self.body)

    @property
    def header_pairs(self) -> Tuple[Tuple[HeaderText, HeaderText], ...]:
        """The headers as (name, value) pairs in order."""
        return cast(Tuple[Tuple[HeaderText, HeaderText], ...], self.headers)


def _body(body: object) -> bytes:
    if isinstance(body, str):
        return body.encode("utf-8")
    if isinstance(body, (bytes, bytearray, memoryview)):
        return bytes(body)
    raise TypeError(f"Response.body must be bytes or str, not {type(body).__name__}")


def _headers(headers: object) -> Tuple[Tuple[HeaderText, HeaderText], ...]:
    if isinstance(headers, Mapping):
        headers = headers.items()
    if isinstance(headers, (str, bytes)) or not isinstance(headers, Iterable):
        raise TypeError("Response.headers must be (name, value) pairs or a dict, not "
                        f"{type(headers).__name__}")
    pairs = []
    for pair in headers:
        if not isinstance(pair, (tuple, list)) or len(pair) != 2 or not all(
                isinstance(part, (str, bytes)) for part in pair):
            raise TypeError("Response.headers holds pairs of str or bytes, not "
                            f"{pair!r}")
        pairs.append((pair[0], pair[1]))
    return tuple(pairs)


def stable_hash(text: Union[bytes, str]) -> int:
    """The stable content hash of a home page text, as the library and the catalogue server
    compute it: 0..2147483647, 0 for malformed UTF-8, 371857150 for an empty text. A text
    ends at its first NUL character."""
    data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
    units = _utf16_units(data)
    if units is None:
        return 0
    mask = 0xFFFFFFFF
    h1 = h2 = 5381
    for k in range(0, len(units), 2):
        if units[k] == 0:
            break
        h1 = ((h1 * 33) & mask) ^ units[k]
        if k + 1 == len(units) or units[k + 1] == 0:
            break
        h2 = ((h2 * 33) & mask) ^ units[k + 1]
    r = (h1 + h2 * 1566083941) & mask
    if r >= 0x80000000:
        r -= 1 << 32
    return 0 if r == -0x80000000 else abs(r)


def _utf16_units(data: bytes) -> Optional[Sequence[int]]:
    """The UTF-16 code units of UTF-8 bytes by plain arithmetic (no check for overlong forms
    or surrogates), None for a malformed sequence."""
    units = []
    i, n = 0, len(data)
    while i < n:
        lead = data[i]
        if lead < 0x80:
            units.append(lead)
            i += 1
            continue
        if lead & 0xE0 == 0xC0:
            need, cp = 1, lead & 0x1F
        elif lead & 0xF0 == 0xE0:
            need, cp = 2, lead & 0x0F
        elif lead & 0xF8 == 0xF0:
            need, cp = 3, lead & 0x07
        else:
            return None
        if i + need >= n:
            return None
        for c in data[i + 1:i + need + 1]:
            if c & 0xC0 != 0x80:
                return None
            cp = (cp << 6) | (c & 0x3F)
        i += need + 1
        if cp <= 0xFFFF:
            units.append(cp)
        else:
            cp -= 0x10000
            units.extend((0xD800 + ((cp >> 10) & 0x3FF), 0xDC00 + (cp & 0x3FF)))
    return units


def home_page_response(page: Union[bytes, str], request: Optional[Request] = None) -> Response:
    """The GetHomePage answer for a page's JSON text: status 200, the text zlib-compressed and
    its "ContentHash"; or, when ``request`` carries "MD5HomePage" with that same hash, the
    one-byte answer that the page is unchanged."""
    data = page.encode("utf-8") if isinstance(page, str) else bytes(page)
    content_hash = stable_hash(data)
    headers = [("ContentHash", str(content_hash))]
    if request is not None and (request.header("MD5HomePage") or "").strip() == str(
            content_hash):
        return Response(200, UNCHANGED_BODY, headers)
    return Response(200, zlib.compress(data), headers)


class TransportFailure(Exception):
    """Raised by a host transport when no answer was received; the text becomes the library's
    transport error, which reads "transport: transport: <text>" (the library puts its prefix
    before the transport's own "transport: " text)."""


class HostTransport(Protocol):
    """The type of a host transport: a callable taking a Request and returning a Response
    (the module's text gives the contract). A plain function or lambda is one."""

    def __call__(self, request: Request, /) -> Response:
        """Answer one request of the library."""

ERROR_TEXT_MAX = 1023


def error_bytes(message: str) -> bytes:
    """The message as UTF-8, at most ERROR_TEXT_MAX bytes, cut before a character that would
    not fit whole."""
    raw = message.encode("utf-8", "replace")
    if len(raw) <= ERROR_TEXT_MAX:
        return raw
    return raw[:ERROR_TEXT_MAX].decode("utf-8", "ignore").encode("utf-8")


def _text(raw: Optional[bytes]) -> Optional[str]:
    return None if raw is None else raw.decode("utf-8", errors="replace")


def _read_request(req: _native.HttpRequest) -> Request:
    headers = []
    for k in range(req.header_count if req.headers else 0):
        line = req.headers[k]
        if line is None:
            continue
        name, _, value = line.decode("utf-8", errors="replace").partition(":")
        headers.append((name, value.lstrip(" \t")))
    body = ctypes.string_at(req.body, req.body_len) if req.body and req.body_len else b""
    return Request(method=_text(req.method) or "", url=_text(req.url) or "",
                   headers=tuple(headers), body=body, user=_text(req.user),
                   password=_text(req.password), timeout_ms=req.timeout_ms,
                   connect_timeout_ms=req.connect_timeout_ms,
                   recv_timeout_ms=req.recv_timeout_ms, flags=req.flags)


def _encode(value: object) -> bytes:
    if isinstance(value, bytes):
        return value
    if isinstance(value, str):
        return value.encode("utf-8")
    raise TypeError(f"header names and values are str or bytes, not {type(value).__name__}")


def _deliver(req: _native.HttpRequest, response: Response,
             status_p: "ctypes._Pointer[ctypes.c_int32]") -> None:
    if not isinstance(response, Response):
        raise TypeError(f"a host transport returns filmo.Response, not {type(response).__name__}")
    status = int(response.status)
    body = response.body_bytes
    lines = [(_encode(name), _encode(value)) for name, value in response.header_pairs]
    if status_p:
        status_p[0] = status
    if req.on_header:
        if req.on_header(req.sink_ctx, b":status", str(status).encode()):
            return
        for name, value in lines:
            if req.on_header(req.sink_ctx, name, value):
                return
    if body and req.on_body:
        block = ctypes.create_string_buffer(body, len(body))
        req.on_body(req.sink_ctx, ctypes.cast(block, ctypes.c_void_p), len(body))


class Installed:
    """The transport record over one Python callable, kept alive while it is installed. Error
    texts handed to the library live here until the library gives them back via free_buf."""

    def __init__(self, handler: HostTransport) -> None:
        self.handler = handler
        self.pending: Optional[BaseException] = None
        self._errors: Dict[int, "ctypes.Array[ctypes.c_char]"] = {}
        self._request_cb = _native.request_fn(self._request)
        self._free_cb = _native.free_fn(self._free)
        self.record = _native.Http(size=ctypes.sizeof(_native.Http), version=1, user_data=None,
                                   request=self._request_cb, free_buf=self._free_cb)

    def take_pending(self) -> Optional[BaseException]:
        """The exception the handler raised in the last exchange, if any (once)."""
        exc, self.pending = self.pending, None
        return exc

    def _fail(self, err_p: "ctypes._Pointer[ctypes.c_void_p]", message: str) -> int:
        if err_p:
            block = ctypes.create_string_buffer(error_bytes(message))
            self._errors[ctypes.addressof(block)] = block
            err_p[0] = ctypes.addressof(block)
        return -1

    def _request(self, _user: object, req_p: "ctypes._Pointer[_native.HttpRequest]",
                 status_p: "ctypes._Pointer[ctypes.c_int32]",
                 err_p: "ctypes._Pointer[ctypes.c_void_p]") -> int:
        try:
            if status_p:
                status_p[0] = 0
            if err_p:
                err_p[0] = None
            if not req_p:
                return self._fail(err_p, "python transport: no request record")
            req = req_p.contents
            _deliver(req, self.handler(_read_request(req)), status_p)
            return 0
        except TransportFailure as exc:
            return self._fail(err_p, str(exc))
        except BaseException as exc:  # nothing may unwind into the library
            self.pending = exc
            return self._fail(err_p, f"python transport: {type(exc).__name__}: {exc}")

    def _free(self, _user: object, text: Optional[int]) -> None:
        if text:
            self._errors.pop(text, None)
