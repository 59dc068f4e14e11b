"""filmo: a typed Python host for libfilmo, the catalogue client library, over ctypes.

    import filmo
    with filmo.Client() as client:
        client.use_fake("/usr/local/share/filmo/corpus")
        for c in client.collections("en-US"):
            print(c.id, c.name)
"""

from .client import VIEWS, Client, FakeStats
from .errors import (DecodeError, EmptyError, FilmoError, HttpError, InvalidArgument,
                     NoTransport, NotFound, OutOfMemory, TransportError, error_for)
from ._native import LibraryNotFound
from .transport import HostTransport, Request, Response, TransportFailure
from .views import (Basic, Collection, Continue, HomeCollection, HomePage, HomePeople,
                    HomePlaylist, IdValue, Level30, Membership, Person, Picture, Playlist,
                    PopularPerson, Profile, Rating, Spotlight, Unchanged, User)

__version__ = "1.0.0"

__all__ = [
    "VIEWS", "Client", "FakeStats",
    "FilmoError", "TransportError", "HttpError", "DecodeError", "EmptyError", "NotFound",
    "InvalidArgument", "NoTransport", "OutOfMemory", "error_for", "LibraryNotFound",
    "HostTransport", "Request", "Response", "TransportFailure",
    "Basic", "Collection", "Continue", "HomeCollection", "HomePage", "HomePeople",
    "HomePlaylist", "IdValue", "Level30", "Membership", "Person", "Picture", "Playlist",
    "PopularPerson", "Profile", "Rating", "Spotlight", "Unchanged", "User",
]
