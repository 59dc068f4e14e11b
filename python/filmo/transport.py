"""A host transport written in Python: a callable that takes a Request and returns a Response.

It is handed to the library as a transport record (vornak_http) whose request callback calls
the Python function, wrapped in the io handle of vornak_io_over_http and installed with
filmo_set_io. No exception ever crosses into the library: raising TransportFailure fails the
exchange with its text, any other exception fails it with its type and text and is chained to
the error the fetch then raises.
"""

from __future__ import annotations

import ctypes
from dataclasses import dataclass, field
from typing import Callable, Dict, Optional, Sequence, Tuple

from . import _native


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
    """An HTTP answer: status, header pairs in order, body bytes."""
    status: int
    body: bytes = b""
    headers: Sequence[Tuple[str, str]] = field(default_factory=tuple)


class TransportFailure(Exception):
    """Raised by a host transport when no answer was received; the text becomes the library's
    transport error, which reads "transport: transport: <text>" (the library puts its prefix
    before the transport's own "transport: " text)."""


HostTransport = Callable[[Request], Response]

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


def _deliver(req: _native.HttpRequest, response: Response, status_p: "ctypes._Pointer") -> None:
    if not isinstance(response, Response):
        raise TypeError(f"a host transport returns filmo.Response, not {type(response).__name__}")
    status = int(response.status)
    if not 0 <= status <= 0x7FFFFFFF:
        raise ValueError(f"HTTP status {status} out of range")
    body = bytes(response.body)
    lines = [(_encode(name), _encode(value)) for name, value in response.headers]
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
        self._errors: Dict[int, ctypes.Array] = {}
        self._request_cb = _native.request_fn(self._request)
        self._free_cb = _native.free_fn(self._free)
        self.record = _native.Http(size=ctypes.sizeof(_native.Http), version=1, user_data=None,
                                   request=self._request_cb, free_buf=self._free_cb)

    def take_pending(self) -> Optional[BaseException]:
        """The exception the handler raised in the last exchange, if any (once)."""
        exc, self.pending = self.pending, None
        return exc

    def _fail(self, err_p: "ctypes._Pointer", message: str) -> int:
        if err_p:
            block = ctypes.create_string_buffer(error_bytes(message))
            self._errors[ctypes.addressof(block)] = block
            err_p[0] = ctypes.addressof(block)
        return -1

    def _request(self, _user: object, req_p: "ctypes._Pointer", status_p: "ctypes._Pointer",
                 err_p: "ctypes._Pointer") -> int:
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
