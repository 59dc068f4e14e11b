"""filmo: a typed Python host for libfilmo, the catalogue client library, over ctypes.

The package carries its own build of the library and a sample corpus, so after one
``pip install`` this works with nothing else around::

    import filmo
    with filmo.Client() as client:
        client.use_fake()                       # the sample corpus, offline
        for c in client.collections("en-US"):
            print(c.id, c.name)

libfilmo keeps one state per process, so a process has one open Client at a time: a second
``filmo.Client()`` while one is open raises ClientInUse; ``close()`` or the end of the ``with``
block gives the handle back. The records' field names are the keys of ``filmo ... --json``.
``FILMO_LIBRARY`` names another build of the library to load instead (for development).
"""

from ._native import LibraryNotFound
from .client import (RETRY_HTTP_STATUSES, VIEWS, Client, ClientInUse, FakeStats, RetryPolicy,
                     sample_corpus)
from .enums import FakeMode, Gender, Status
from .errors import (ConnectionFailed, DecodeError, EmptyError, FilmoError, HttpError,
                     InvalidArgument, NoTransport, NotFound, OutOfMemory, TlsFailure,
                     TransportError, TransportTimeout, UnexpectedUnchanged, error_for)
from .transport import (HostTransport, Request, Response, TransportFailure,
                        home_page_response, stable_hash)
from .views import (Basic, Collection, Continue, HomeCollection, HomePage, HomePeople,
                    HomePlaylist, IdValue, Level30, Membership, Person, Picture, Playlist,
                    PopularPage, PopularPerson, Profile, Rating, Spotlight, Unchanged, User)

__version__ = "1.0.0"

__all__ = [
    "VIEWS", "Client", "ClientInUse", "FakeStats", "RetryPolicy", "RETRY_HTTP_STATUSES",
    "sample_corpus", "FakeMode", "Gender", "Status",
    "FilmoError", "TransportError", "ConnectionFailed", "TransportTimeout", "TlsFailure",
    "HttpError", "DecodeError", "EmptyError", "NotFound", "InvalidArgument", "NoTransport",
    "OutOfMemory", "UnexpectedUnchanged", "error_for", "LibraryNotFound",
    "HostTransport", "Request", "Response", "TransportFailure", "home_page_response",
    "stable_hash",
    "Basic", "Collection", "Continue", "HomeCollection", "HomePage", "HomePeople",
    "HomePlaylist", "IdValue", "Level30", "Membership", "Person", "Picture", "Playlist",
    "PopularPage", "PopularPerson", "Profile", "Rating", "Spotlight", "Unchanged", "User",
]
