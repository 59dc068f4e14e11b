"""The library's failures as exceptions: one class per status code, each carrying the status,
the last-error text of the call that failed and the HTTP status of its exchange.

Transport failures (status 1) are told apart by the platform error number in their text (the
real transport words them "<call> failed: <number>" with WinHTTP's numbers on every platform):
ConnectionFailed (also a ConnectionError) when the server could not be reached or the
connection broke, TransportTimeout (also a TimeoutError) when it took too long, TlsFailure when
the secure channel failed. Every exception pickles and compares by its content, so one raised
in a worker process arrives whole.
"""

from __future__ import annotations

import re
from typing import Any, Dict, FrozenSet, Optional, Tuple, Type

from .enums import Status


class FilmoError(Exception):
    """A call into libfilmo failed. ``status`` is the library's code (a Status member),
    ``message`` its last error text, ``http_status`` the HTTP status of the exchange (0 when
    there was none)."""

    status: int
    message: str
    http_status: int

    def __init__(self, status: int, message: str, http_status: int = 0) -> None:
        super().__init__(f"{message} (status {status})" if message else f"status {status}")
        self.status = Status(status)
        self.message = message
        self.http_status = http_status

    def _fields(self) -> Tuple[int, str, int]:
        return (int(self.status), self.message, self.http_status)

    def __reduce__(self) -> Tuple[Any, ...]:
        return (type(self), self._fields())

    def __eq__(self, other: object) -> bool:
        if type(other) is not type(self):
            return NotImplemented
        assert isinstance(other, FilmoError)
        return self._fields() == other._fields()

    def __hash__(self) -> int:
        return hash((type(self), self._fields()))

    def __repr__(self) -> str:
        return f"{type(self).__name__}({int(self.status)}, {self.message!r}, {self.http_status})"


class TransportError(FilmoError):
    """1: the transport failed, or a configuration request was refused. ``platform_error`` is
    the platform's error number from the text, None when it holds none."""

    @property
    def platform_error(self) -> Optional[int]:
        """The WinHTTP error number the transport reported, if any."""
        return platform_error(self.message)


class ConnectionFailed(TransportError, ConnectionError):
    """1: the server could not be reached (connection refused, name not resolved) or the
    connection was reset or cut."""


class TransportTimeout(TransportError, TimeoutError):
    """1: the exchange took longer than the transport allows."""


class TlsFailure(TransportError):
    """1: the secure channel failed: certificate, protocol or handshake."""


class HttpError(FilmoError):
    """2: the server answered with a status the endpoint does not accept (``http_status``)."""


class DecodeError(FilmoError):
    """3: the body is not decodable (invalid JSON, wrong root type, failed inflate)."""


class EmptyError(FilmoError):
    """4: the body was empty, or the expected payload was missing."""


class NotFound(FilmoError):
    """5: the server answered 404 (``http_status``)."""


class InvalidArgument(FilmoError, ValueError):
    """6: an argument was invalid."""


class NoTransport(FilmoError):
    """7: no transport is installed."""


class OutOfMemory(FilmoError, MemoryError):
    """8: the library ran out of memory."""


class UnexpectedUnchanged(FilmoError):
    """9: the server answered "unchanged" to a home page request that named no known page
    (``Client.homepage``); ``Client.homepage_if_changed`` is the call that expects it."""


BY_STATUS: Dict[int, Type[FilmoError]] = {
    Status.TRANSPORT: TransportError,
    Status.HTTP: HttpError,
    Status.DECODE: DecodeError,
    Status.EMPTY: EmptyError,
    Status.NOT_FOUND: NotFound,
    Status.INVALID_ARGUMENT: InvalidArgument,
    Status.NO_TRANSPORT: NoTransport,
    Status.OUT_OF_MEMORY: OutOfMemory,
    Status.UNCHANGED: UnexpectedUnchanged,
}

# WinHTTP's error numbers by what a program can do about them.
CONNECTION_ERRORS: FrozenSet[int] = frozenset({
    12007,  # the server name was not resolved
    12029,  # cannot connect
    12030,  # the connection was aborted
    12031,  # the connection was reset
})
TIMEOUT_ERRORS: FrozenSet[int] = frozenset({12002})
TLS_ERRORS: FrozenSet[int] = frozenset({
    12037,  # certificate date invalid
    12038,  # certificate name invalid
    12044,  # client certificate needed
    12045,  # invalid certificate authority
    12157,  # secure channel error
    12169,  # invalid certificate
    12175,  # secure failure
})

_NUMBER = re.compile(r"failed: (\d+)")


def platform_error(message: str) -> Optional[int]:
    """The last WinHTTP error number (12000..12999) worded "... failed: N" in a transport text,
    None when there is none."""
    numbers = [int(n) for n in _NUMBER.findall(message) if 12000 <= int(n) <= 12999]
    return numbers[-1] if numbers else None


def transport_class(message: str) -> Type[TransportError]:
    """The TransportError class a transport failure text belongs to."""
    number = platform_error(message)
    if number in CONNECTION_ERRORS:
        return ConnectionFailed
    if number in TIMEOUT_ERRORS:
        return TransportTimeout
    if number in TLS_ERRORS:
        return TlsFailure
    return TransportError


def error_for(status: int, message: str, http_status: int = 0) -> FilmoError:
    """The exception for a failed call's status; an unknown status gets the base class."""
    cls = BY_STATUS.get(status, FilmoError)
    if cls is TransportError:
        cls = transport_class(message)
    return cls(status, message, http_status)
