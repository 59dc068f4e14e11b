"""The library's failures as exceptions: one class per status code, each carrying the status
and the last-error text of the call that failed. An unchanged home page (status 9) is no
failure: it comes back as its own result (filmo.Unchanged)."""

from __future__ import annotations

from typing import Dict, Type


class FilmoError(Exception):
    """A call into libfilmo failed. ``status`` is the library's code, ``message`` its last
    error text."""

    status: int = -1

    def __init__(self, status: int, message: str) -> None:
        super().__init__(f"{message} (status {status})" if message else f"status {status}")
        self.status = status
        self.message = message


class TransportError(FilmoError):
    """1: the transport failed, or a configuration request was refused."""


class HttpError(FilmoError):
    """2: the server answered with a status the endpoint does not accept."""


class DecodeError(FilmoError):
    """3: the body is not decodable (invalid JSON, wrong root type, failed inflate)."""


class EmptyError(FilmoError):
    """4: the body was empty, or the expected payload was missing."""


class NotFound(FilmoError):
    """5: the server answered 404."""


class InvalidArgument(FilmoError, ValueError):
    """6: an argument was invalid."""


class NoTransport(FilmoError):
    """7: no transport is installed."""


class OutOfMemory(FilmoError, MemoryError):
    """8: the library ran out of memory."""


BY_STATUS: Dict[int, Type[FilmoError]] = {
    1: TransportError,
    2: HttpError,
    3: DecodeError,
    4: EmptyError,
    5: NotFound,
    6: InvalidArgument,
    7: NoTransport,
    8: OutOfMemory,
}


def error_for(status: int, message: str) -> FilmoError:
    """The exception for a failed call's status; an unknown status gets the base class."""
    return BY_STATUS.get(status, FilmoError)(status, message)
