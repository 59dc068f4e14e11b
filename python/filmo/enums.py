"""The library's numeric codes whose meaning is known, as IntEnums: each member is an int, so
it compares equal to the plain number the library (or ``filmo --json``) gives for it."""

from __future__ import annotations

from enum import IntEnum
from typing import Any


class OpenIntEnum(IntEnum):
    """An IntEnum that takes any int: a code without a name becomes an unnamed member
    (``UNKNOWN_<code>``) instead of raising, since the data may hold codes added later."""

    @classmethod
    def _missing_(cls, value: object) -> Any:
        if not isinstance(value, int) or isinstance(value, bool):
            return None
        member = int.__new__(cls, value)
        member._name_ = f"UNKNOWN_{value}"
        member._value_ = value
        return member


class Status(OpenIntEnum):
    """The status code every fetch and configuration call of the library returns."""

    OK = 0
    TRANSPORT = 1
    HTTP = 2
    DECODE = 3
    EMPTY = 4
    NOT_FOUND = 5
    INVALID_ARGUMENT = 6
    NO_TRANSPORT = 7
    OUT_OF_MEMORY = 8
    UNCHANGED = 9


class Gender(OpenIntEnum):
    """A person's gender code as the catalogue gives it; NONE when the answer has none."""

    NONE = -1
    NOT_SPECIFIED = 0
    FEMALE = 1
    MALE = 2
    NON_BINARY = 3


class FakeMode(OpenIntEnum):
    """What the fixture backend answers every request with: the corpus, or one kind of
    failure."""

    SERVE = 0              # answer from the corpus files
    TRANSPORT_FAILURE = 1  # no answer: "fake: injected transport failure"
    HTTP_500 = 2           # status 500
    HTTP_404 = 3           # status 404
    INVALID_JSON = 4       # status 200 with a body that is no JSON
    EMPTY_BODY = 5         # status 200 with an empty body
    JSON_NULL = 6          # status 200 with the body "null"
    ONE_BYTE = 7           # status 200 with the single byte 0xFF (an unchanged home page)
