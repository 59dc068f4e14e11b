"""Loading libfilmo and the C prototypes of every function this package calls.

The library is looked for, in this order: the path in the environment variable
``FILMO_LIBRARY`` (for development: a library of a build tree); the copy the package was built
with, beside this file (``libfilmo.so``; also ``libfilmo.so.1``, ``filmo.dll`` or
``libfilmo.dylib`` put there by hand), loaded by its absolute path; the system's usual search
(``ctypes.util.find_library``). The sample corpus is found the same way: the one built into the
package, else the ``corpus`` directory beside the loaded library (as a build tree has it).
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence, Tuple

c_text = ctypes.c_char_p  # a text in (bytes or None) or out (copied into bytes at once)
i32 = ctypes.c_int32
u32 = ctypes.c_uint32
i64 = ctypes.c_int64
u64 = ctypes.c_uint64
f64 = ctypes.c_double
size = ctypes.c_size_t
ptr = ctypes.c_void_p

BESIDE_NAMES = ("libfilmo.so", "libfilmo.so.1", "filmo.dll", "libfilmo.dylib")


class LibraryNotFound(OSError):
    """libfilmo could not be found or loaded."""


# ---- transport records, laid out as vornak_http.h fixes them ---------------------------------

header_sink = ctypes.CFUNCTYPE(i32, ptr, c_text, c_text)
body_sink = ctypes.CFUNCTYPE(i32, ptr, ptr, u64)


class HttpRequest(ctypes.Structure):
    """vornak_http_request: 112 bytes on 64-bit platforms."""

    _fields_ = [
        ("size", i32),
        ("method", c_text),
        ("url", c_text),
        ("headers", ctypes.POINTER(c_text)),
        ("header_count", u64),
        ("body", ptr),
        ("body_len", u64),
        ("user", c_text),
        ("password", c_text),
        ("timeout_ms", i32),
        ("connect_timeout_ms", i32),
        ("flags", i32),
        ("recv_timeout_ms", i32),
        ("on_header", header_sink),
        ("on_body", body_sink),
        ("sink_ctx", ptr),
    ]


request_fn = ctypes.CFUNCTYPE(i32, ptr, ctypes.POINTER(HttpRequest), ctypes.POINTER(i32),
                              ctypes.POINTER(ptr))
free_fn = ctypes.CFUNCTYPE(None, ptr, ptr)


class Http(ctypes.Structure):
    """vornak_http: the transport record, 32 bytes on 64-bit platforms."""

    _fields_ = [
        ("size", u32),
        ("version", u32),
        ("user_data", ptr),
        ("request", request_fn),
        ("free_buf", free_fn),
    ]


# ---- prototypes ------------------------------------------------------------------------------

Proto = Tuple[Any, Sequence[Any]]

PROTOTYPES: Dict[str, Proto] = {
    # version, configuration, last call
    "filmo_version": (c_text, ()),
    "filmo_set_host": (None, (c_text,)),
    "filmo_set_io": (i32, (ptr,)),
    "filmo_use_curl": (i32, ()),
    "filmo_use_fake": (i32, ()),
    "filmo_last_error": (c_text, ()),
    "filmo_last_http_code": (i32, ()),
    "filmo_last_content_hash": (i64, ()),
    # fetches
    "filmo_get_collections": (i32, (c_text,)),
    "filmo_get_homepage": (i32, (c_text, i32, c_text, u32)),
    "filmo_parse_homepage_json": (i32, (c_text, size)),
    "filmo_get_people_detail": (i32, (c_text, c_text)),
    "filmo_get_people_popular": (i32, (i32, i32, i32, c_text)),
    # collections
    "filmo_collection_count": (i32, ()),
    "filmo_collection_id": (i32, (i32,)),
    "filmo_collection_name": (c_text, (i32,)),
    "filmo_collection_backdrop": (c_text, (i32,)),
    "filmo_collection_cover": (c_text, (i32,)),
    "filmo_collection_logo": (c_text, (i32,)),
    "filmo_collection_is_auto": (i32, (i32,)),
    "filmo_collection_playlists_count": (i32, (i32,)),
    "filmo_collection_playlist_name": (c_text, (i32, i32)),
    "filmo_collection_playlist_origin": (c_text, (i32, i32)),
    "filmo_collection_playlist_logo": (c_text, (i32, i32)),
    "filmo_collection_playlist_imdb_count": (i32, (i32, i32)),
    "filmo_collection_playlist_imdb": (c_text, (i32, i32, i32)),
    # home page
    "filmo_homepage_hash": (i64, ()),
    "filmo_set_homepage_hash": (None, (i64,)),
    "filmo_home_json": (c_text, ()),
    "filmo_home_list_count": (i32, ()),
    "filmo_home_list_id": (c_text, (i32,)),
    "filmo_home_list_value": (c_text, (i32,)),
    "filmo_home_continues_count": (i32, ()),
    "filmo_home_continue_imdb": (c_text, (i32,)),
    "filmo_home_continue_season": (i32, (i32,)),
    "filmo_home_continue_episode": (i32, (i32,)),
    "filmo_home_continue_value": (f64, (i32,)),
    "filmo_home_continue_size": (i64, (i32,)),
    "filmo_home_continue_duration": (c_text, (i32,)),
    "filmo_home_continue_size_str": (c_text, (i32,)),
    "filmo_home_continue_is_duration": (i32, (i32,)),
    "filmo_home_continue_updated": (c_text, (i32,)),
    "filmo_home_level30_count": (i32, ()),
    "filmo_home_level30_imdb": (c_text, (i32,)),
    "filmo_home_level30_size": (i64, (i32,)),
    "filmo_home_level30_filename": (c_text, (i32,)),
    "filmo_home_spotlight_count": (i32, ()),
    "filmo_home_spotlight_logo": (c_text, (i32,)),
    "filmo_home_spotlight_items": (c_text, (i32,)),
    "filmo_home_spotlight_title": (c_text, (i32,)),
    "filmo_home_spotlight_order": (i32, (i32,)),
    "filmo_home_extent_count": (i32, ()),
    "filmo_home_extent_id": (c_text, (i32,)),
    "filmo_home_extent_value": (c_text, (i32,)),
    "filmo_home_basics_count": (i32, ()),
    "filmo_home_basic_imdb": (c_text, (i32,)),
    "filmo_home_basic_title": (c_text, (i32,)),
    "filmo_home_basic_tagline": (c_text, (i32,)),
    "filmo_home_basic_plot": (c_text, (i32,)),
    "filmo_home_basic_poster": (c_text, (i32,)),
    "filmo_home_basic_picture": (c_text, (i32,)),
    "filmo_home_basic_id": (i32, (i32,)),
    "filmo_home_basic_year": (i32, (i32,)),
    "filmo_home_basic_duration": (i32, (i32,)),
    "filmo_home_basic_is_tv": (i32, (i32,)),
    "filmo_home_basic_genres_count": (i32, (i32,)),
    "filmo_home_basic_genre": (c_text, (i32, i32)),
    "filmo_home_basic_directors_count": (i32, (i32,)),
    "filmo_home_basic_director": (c_text, (i32, i32)),
    "filmo_home_basic_ratings_count": (i32, (i32,)),
    "filmo_home_basic_rating_source": (c_text, (i32, i32)),
    "filmo_home_basic_rating_value": (f64, (i32, i32)),
    "filmo_home_basic_field": (c_text, (i32, c_text)),
    "filmo_home_peoples_count": (i32, ()),
    "filmo_home_people_id": (i32, (i32,)),
    "filmo_home_people_name": (c_text, (i32,)),
    "filmo_home_people_knowsfor": (c_text, (i32,)),
    "filmo_home_people_profileurl": (c_text, (i32,)),
    "filmo_home_collections_count": (i32, ()),
    "filmo_home_collection_id": (i32, (i32,)),
    "filmo_home_collection_name": (c_text, (i32,)),
    "filmo_home_collection_playlists_count": (i32, (i32,)),
    "filmo_home_collection_playlist_name": (c_text, (i32, i32)),
    "filmo_home_collection_playlist_imdb_count": (i32, (i32, i32)),
    "filmo_home_collection_playlist_imdb": (c_text, (i32, i32, i32)),
    "filmo_home_has_userinfo": (i32, ()),
    "filmo_home_user_id": (c_text, ()),
    "filmo_home_user_email": (c_text, ()),
    "filmo_home_user_memberships_count": (i32, ()),
    "filmo_home_user_membership_type": (i32, (i32,)),
    "filmo_home_user_membership_name": (c_text, (i32,)),
    "filmo_home_user_membership_active": (i32, (i32,)),
    "filmo_home_user_membership_expiration": (c_text, (i32,)),
    "filmo_home_user_profiles_count": (i32, ()),
    "filmo_home_user_profile_id": (i32, (i32,)),
    "filmo_home_user_profile_name": (c_text, (i32,)),
    "filmo_home_user_profile_poster": (c_text, (i32,)),
    "filmo_home_user_profile_deleted": (i32, (i32,)),
    "filmo_home_user_profile_enabled": (i32, (i32,)),
    "filmo_home_user_profile_empty": (i32, (i32,)),
    # person
    "filmo_people_id": (i32, ()),
    "filmo_people_name": (c_text, ()),
    "filmo_people_knowsfor": (c_text, ()),
    "filmo_people_profileurl": (c_text, ()),
    "filmo_people_imdbid": (c_text, ()),
    "filmo_people_biography": (c_text, ()),
    "filmo_people_birthday": (c_text, ()),
    "filmo_people_deathday": (c_text, ()),
    "filmo_people_homepage": (c_text, ()),
    "filmo_people_placeofbirth": (c_text, ()),
    "filmo_people_knownfor_department": (c_text, ()),
    "filmo_people_knowncredits": (c_text, ()),
    "filmo_people_gender": (i32, ()),
    "filmo_people_popularity_permille": (i32, ()),
    "filmo_people_names_translate_count": (i32, ()),
    "filmo_people_names_translate": (c_text, (i32,)),
    "filmo_people_pictures_count": (i32, ()),
    "filmo_people_picture_url": (c_text, (i32,)),
    "filmo_people_picture_lang": (c_text, (i32,)),
    "filmo_people_picture_w": (i32, (i32,)),
    "filmo_people_picture_h": (i32, (i32,)),
    "filmo_people_related_count": (i32, ()),
    "filmo_people_related": (c_text, (i32,)),
    # popular people
    "filmo_people_pop_count": (i32, ()),
    "filmo_people_pop_id": (i32, (i32,)),
    "filmo_people_pop_name": (c_text, (i32,)),
    "filmo_people_pop_knowsfor": (c_text, (i32,)),
    "filmo_people_pop_profileurl": (c_text, (i32,)),
    "filmo_people_pop_imdbid": (c_text, (i32,)),
    # cache
    "filmo_cache_set_ttl": (None, (i32, i32, i32, i32)),
    "filmo_cache_clear": (None, ()),
    "filmo_cache_invalidate": (None, (c_text, c_text)),
    "filmo_cache_has": (i32, (c_text, c_text, ctypes.POINTER(i32))),
    "filmo_cache_entries": (i32, ()),
    "filmo_shutdown": (None, ()),
    # fixture backend
    "filmo_fake_corpus": (i32, (c_text,)),
    "filmo_fake_mode": (i32, (i32,)),
    "filmo_fake_calls": (u64, ()),
    "filmo_fake_url_count": (u64, ()),
    "filmo_fake_fail_count": (u64, ()),
    "filmo_fake_last_url": (c_text, ()),
    "filmo_fake_reset": (None, ()),
    # transport library: the io handle a host transport is installed through
    "vornak_io_over_http": (ptr, (ctypes.POINTER(Http), ptr)),
}


def candidates() -> List[str]:
    """Where the library is looked for, in order."""
    found: List[str] = []
    env = os.environ.get("FILMO_LIBRARY")
    if env:
        found.append(env)
    here = Path(__file__).resolve().parent
    found.extend(str(here / name) for name in BESIDE_NAMES if (here / name).exists())
    usual = ctypes.util.find_library("filmo")
    if usual:
        found.append(usual)
    return found


def load() -> Tuple[ctypes.CDLL, str]:
    """The first library that loads, with every prototype set, and where it came from. A path
    in FILMO_LIBRARY that does not load is an error, not a reason to look further."""
    env = os.environ.get("FILMO_LIBRARY")
    tried: List[str] = []
    for path in candidates():
        try:
            lib = ctypes.CDLL(path)
        except OSError as exc:
            if env and path == env:
                raise LibraryNotFound(f"FILMO_LIBRARY={env} does not load: {exc}") from exc
            tried.append(f"{path}: {exc}")
            continue
        for name, (restype, argtypes) in PROTOTYPES.items():
            try:
                fn = getattr(lib, name)
            except AttributeError as exc:
                raise LibraryNotFound(f"{path} is no libfilmo 1: {name} is missing") from exc
            fn.restype = restype
            fn.argtypes = list(argtypes)
        return lib, path
    where = "; ".join(tried) if tried else "nothing found"
    raise LibraryNotFound(
        "libfilmo not found: this filmo package holds no build of it (install the package "
        "from its source: pip install --no-build-isolation --no-index ./python), or set "
        f"FILMO_LIBRARY to its path ({where})")


_lib: Optional[ctypes.CDLL] = None
_path: str = ""
_loading = threading.Lock()


def lib() -> ctypes.CDLL:
    """The loaded library (loaded on first use, once)."""
    global _lib, _path
    with _loading:
        if _lib is None:
            _lib, _path = load()
        return _lib


def path() -> str:
    """Where the loaded library came from."""
    lib()
    return _path


def sample_corpus() -> Path:
    """The sample corpus of the fixture backend: the package's own, else the one beside the
    loaded library. FileNotFoundError when there is none."""
    places = [Path(__file__).resolve().parent / "corpus", Path(path()).resolve().parent / "corpus"]
    for place in places:
        if place.is_dir():
            return place
    raise FileNotFoundError(
        "no sample corpus: looked in " + " and ".join(str(p) for p in places) +
        " (install the package from its source to build one in, or pass a corpus directory)")
