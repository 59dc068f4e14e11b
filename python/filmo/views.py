"""Each view as plain, immutable Python objects, read through the library's accessors.

Every text is copied out of the library the moment it is read, so an object stays whole after
the view it came from is replaced or emptied. A missing text is None; a missing number is the
library's neutral value (0, -1 or 0.0, as the accessor documents). Lists are tuples.

The field names are the keys of ``filmo ... --json`` for the same view, in the same order:
``dataclasses.asdict`` of a view gives the command's JSON object (tuples where JSON has
arrays). The man page filmo(1) lists them under JSON KEYS.
"""

from __future__ import annotations

import ctypes
from dataclasses import dataclass, field
from typing import Callable, Optional, Tuple, TypeVar

from .enums import Gender

T = TypeVar("T")


def text(raw: Optional[bytes]) -> Optional[str]:
    """A text the library handed out (already a copy in bytes) as a Python string."""
    return None if raw is None else raw.decode("utf-8", errors="replace")


def each(count: int, read: Callable[[int], T]) -> Tuple[T, ...]:
    """read(0) .. read(count - 1) as a tuple; a count below 0 reads nothing."""
    return tuple(read(i) for i in range(max(int(count), 0)))


# ---- collections -----------------------------------------------------------------------------

@dataclass(frozen=True)
class Playlist:
    """A playlist of a collection: its titles as IMDb ids."""
    name: Optional[str]
    origin_country: Optional[str]
    logo: Optional[str]
    imdb_ids: Tuple[Optional[str], ...]


@dataclass(frozen=True)
class Collection:
    """A popular collection of playlists."""
    id: int
    name: Optional[str]
    backdrop: Optional[str]
    cover: Optional[str]
    logo: Optional[str]
    is_auto: bool
    playlists: Tuple[Playlist, ...]


def read_collections(lib: ctypes.CDLL) -> Tuple[Collection, ...]:
    """The held collections view."""
    def playlist(i: int, p: int) -> Playlist:
        return Playlist(
            name=text(lib.filmo_collection_playlist_name(i, p)),
            origin_country=text(lib.filmo_collection_playlist_origin(i, p)),
            logo=text(lib.filmo_collection_playlist_logo(i, p)),
            imdb_ids=each(lib.filmo_collection_playlist_imdb_count(i, p),
                          lambda k: text(lib.filmo_collection_playlist_imdb(i, p, k))))

    def collection(i: int) -> Collection:
        return Collection(
            id=lib.filmo_collection_id(i),
            name=text(lib.filmo_collection_name(i)),
            backdrop=text(lib.filmo_collection_backdrop(i)),
            cover=text(lib.filmo_collection_cover(i)),
            logo=text(lib.filmo_collection_logo(i)),
            is_auto=lib.filmo_collection_is_auto(i) == 1,
            playlists=each(lib.filmo_collection_playlists_count(i), lambda p: playlist(i, p)))

    return each(lib.filmo_collection_count(), collection)


# ---- home page -------------------------------------------------------------------------------

@dataclass(frozen=True)
class Rating:
    """One rating of a title: its source ("IMDb", ...) and value."""
    source: Optional[str]
    value: float


@dataclass(frozen=True)
class Basic:
    """A title of the home page."""
    imdb_id: Optional[str]
    id: int
    title: Optional[str]
    tagline: Optional[str]
    plot: Optional[str]
    poster_url: Optional[str]
    picture_url: Optional[str]
    year: int
    duration: int
    is_tv: bool
    genres: Tuple[Optional[str], ...]
    directors: Tuple[Optional[str], ...]
    ratings: Tuple[Rating, ...]


@dataclass(frozen=True)
class Continue:
    """A title the user is watching: ``value`` is the progress, ``size_text`` the size as the
    server words it."""
    imdb_id: Optional[str]
    season: int
    episode: int
    value: float
    size: int
    duration: Optional[str]
    size_text: Optional[str]
    is_duration: bool
    updated_at: Optional[str]


@dataclass(frozen=True)
class Level30:
    """A download: its title, size in bytes and file name."""
    imdb_id: Optional[str]
    size: int
    file_name: Optional[str]


@dataclass(frozen=True)
class Spotlight:
    """A spotlight row; ``items`` is its titles as the server gives them, one text."""
    order: int
    title: Optional[str]
    items: Optional[str]
    logo: Optional[str]


@dataclass(frozen=True)
class IdValue:
    """An entry of the home page's List or ExtentList."""
    id: Optional[str]
    value: Optional[str]


@dataclass(frozen=True)
class HomePeople:
    """A person on the home page."""
    id: int
    name: Optional[str]
    knows_for: Optional[str]
    profile_url: Optional[str]


@dataclass(frozen=True)
class HomePlaylist:
    """A playlist of a home page collection."""
    name: Optional[str]
    imdb_ids: Tuple[Optional[str], ...]


@dataclass(frozen=True)
class HomeCollection:
    """A collection of the home page."""
    id: int
    name: Optional[str]
    playlists: Tuple[HomePlaylist, ...]


@dataclass(frozen=True)
class Membership:
    """A membership of the signed-in user."""
    type: int
    name: Optional[str]
    is_active: bool
    expiration: Optional[str]


@dataclass(frozen=True)
class Profile:
    """A profile of the signed-in user's account."""
    id: int
    name: Optional[str]
    poster_url: Optional[str]
    is_deleted: bool
    is_enabled: bool
    is_empty: bool


@dataclass(frozen=True)
class User:
    """The signed-in user's account; has_user_info is False on an anonymous page."""
    has_user_info: bool
    id: Optional[str]
    email: Optional[str]
    memberships: Tuple[Membership, ...]
    profiles: Tuple[Profile, ...]


@dataclass(frozen=True)
class HomePage:
    """The personalised home page. ``hash`` is the stable hash of the retained page text: hand
    it back to ``Client.homepage_if_changed`` to learn that the page is unchanged.
    ``content_hash`` is the server's "ContentHash" of the exchange that produced this result:
    -1 when it had none, when the page came from the cache, or when the host's own text was
    parsed. It tells of the exchange, not of the page, so two equal pages compare equal
    whatever their exchanges."""
    hash: int
    content_hash: int = field(compare=False)
    lists: Tuple[IdValue, ...]
    continues: Tuple[Continue, ...]
    level30s: Tuple[Level30, ...]
    spotlights: Tuple[Spotlight, ...]
    extents: Tuple[IdValue, ...]
    basics: Tuple[Basic, ...]
    peoples: Tuple[HomePeople, ...]
    collections: Tuple[HomeCollection, ...]
    user: User


@dataclass(frozen=True)
class Unchanged:
    """The server's answer that the home page is the one whose hash the host passed (status
    9): ``known_hash`` is that hash, ``content_hash`` the server's, ``message`` the library's
    text."""
    known_hash: int
    content_hash: int
    message: str


def read_home(lib: ctypes.CDLL, content_hash: Optional[int] = None) -> HomePage:
    """The held home page; content_hash None takes the last exchange's."""
    def basic(i: int) -> Basic:
        return Basic(
            imdb_id=text(lib.filmo_home_basic_imdb(i)),
            id=lib.filmo_home_basic_id(i),
            title=text(lib.filmo_home_basic_title(i)),
            tagline=text(lib.filmo_home_basic_tagline(i)),
            plot=text(lib.filmo_home_basic_plot(i)),
            poster_url=text(lib.filmo_home_basic_poster(i)),
            picture_url=text(lib.filmo_home_basic_picture(i)),
            year=lib.filmo_home_basic_year(i),
            duration=lib.filmo_home_basic_duration(i),
            is_tv=lib.filmo_home_basic_is_tv(i) != 0,
            genres=each(lib.filmo_home_basic_genres_count(i),
                        lambda g: text(lib.filmo_home_basic_genre(i, g))),
            directors=each(lib.filmo_home_basic_directors_count(i),
                           lambda d: text(lib.filmo_home_basic_director(i, d))),
            ratings=each(lib.filmo_home_basic_ratings_count(i),
                         lambda r: Rating(text(lib.filmo_home_basic_rating_source(i, r)),
                                          lib.filmo_home_basic_rating_value(i, r))))

    def continuing(i: int) -> Continue:
        return Continue(
            imdb_id=text(lib.filmo_home_continue_imdb(i)),
            season=lib.filmo_home_continue_season(i),
            episode=lib.filmo_home_continue_episode(i),
            value=lib.filmo_home_continue_value(i),
            size=lib.filmo_home_continue_size(i),
            duration=text(lib.filmo_home_continue_duration(i)),
            size_text=text(lib.filmo_home_continue_size_str(i)),
            is_duration=lib.filmo_home_continue_is_duration(i) != 0,
            updated_at=text(lib.filmo_home_continue_updated(i)))

    def collection(i: int) -> HomeCollection:
        return HomeCollection(
            id=lib.filmo_home_collection_id(i),
            name=text(lib.filmo_home_collection_name(i)),
            playlists=each(lib.filmo_home_collection_playlists_count(i), lambda p: HomePlaylist(
                text(lib.filmo_home_collection_playlist_name(i, p)),
                each(lib.filmo_home_collection_playlist_imdb_count(i, p),
                     lambda k: text(lib.filmo_home_collection_playlist_imdb(i, p, k))))))

    user = User(
        has_user_info=lib.filmo_home_has_userinfo() != 0,
        id=text(lib.filmo_home_user_id()),
        email=text(lib.filmo_home_user_email()),
        memberships=each(lib.filmo_home_user_memberships_count(), lambda i: Membership(
            lib.filmo_home_user_membership_type(i),
            text(lib.filmo_home_user_membership_name(i)),
            lib.filmo_home_user_membership_active(i) != 0,
            text(lib.filmo_home_user_membership_expiration(i)))),
        profiles=each(lib.filmo_home_user_profiles_count(), lambda i: Profile(
            lib.filmo_home_user_profile_id(i),
            text(lib.filmo_home_user_profile_name(i)),
            text(lib.filmo_home_user_profile_poster(i)),
            lib.filmo_home_user_profile_deleted(i) != 0,
            lib.filmo_home_user_profile_enabled(i) != 0,
            lib.filmo_home_user_profile_empty(i) != 0)))

    return HomePage(
        hash=lib.filmo_homepage_hash(),
        content_hash=(lib.filmo_last_content_hash() if content_hash is None
                      else content_hash),
        lists=each(lib.filmo_home_list_count(), lambda i: IdValue(
            text(lib.filmo_home_list_id(i)), text(lib.filmo_home_list_value(i)))),
        continues=each(lib.filmo_home_continues_count(), continuing),
        level30s=each(lib.filmo_home_level30_count(), lambda i: Level30(
            text(lib.filmo_home_level30_imdb(i)), lib.filmo_home_level30_size(i),
            text(lib.filmo_home_level30_filename(i)))),
        spotlights=each(lib.filmo_home_spotlight_count(), lambda i: Spotlight(
            lib.filmo_home_spotlight_order(i), text(lib.filmo_home_spotlight_title(i)),
            text(lib.filmo_home_spotlight_items(i)), text(lib.filmo_home_spotlight_logo(i)))),
        extents=each(lib.filmo_home_extent_count(), lambda i: IdValue(
            text(lib.filmo_home_extent_id(i)), text(lib.filmo_home_extent_value(i)))),
        basics=each(lib.filmo_home_basics_count(), basic),
        peoples=each(lib.filmo_home_peoples_count(), lambda i: HomePeople(
            lib.filmo_home_people_id(i), text(lib.filmo_home_people_name(i)),
            text(lib.filmo_home_people_knowsfor(i)), text(lib.filmo_home_people_profileurl(i)))),
        collections=each(lib.filmo_home_collections_count(), collection),
        user=user)


# ---- person ----------------------------------------------------------------------------------

@dataclass(frozen=True)
class Picture:
    """A picture of a person; ``language`` is None for one without words."""
    url: Optional[str]
    language: Optional[str]
    width: int
    height: int


@dataclass(frozen=True)
class Person:
    """One person. ``popularity_permille`` is the popularity x 1000, rounded (-1: none);
    ``id`` is -1 and ``gender`` Gender.NONE when the answer has none."""
    id: int
    name: Optional[str]
    imdb_id: Optional[str]
    knows_for: Optional[str]
    known_for_department: Optional[str]
    known_credits: Optional[str]
    gender: Gender
    birthday: Optional[str]
    deathday: Optional[str]
    place_of_birth: Optional[str]
    homepage: Optional[str]
    profile_url: Optional[str]
    popularity_permille: int
    biography: Optional[str]
    translated_names: Tuple[Optional[str], ...]
    pictures: Tuple[Picture, ...]
    related_imdb_ids: Tuple[Optional[str], ...]

    @property
    def popularity(self) -> Optional[float]:
        """The popularity as a number, None when the answer has none."""
        return None if self.popularity_permille == -1 else self.popularity_permille / 1000


def read_person(lib: ctypes.CDLL) -> Person:
    """The held person."""
    return Person(
        id=lib.filmo_people_id(),
        name=text(lib.filmo_people_name()),
        imdb_id=text(lib.filmo_people_imdbid()),
        knows_for=text(lib.filmo_people_knowsfor()),
        known_for_department=text(lib.filmo_people_knownfor_department()),
        known_credits=text(lib.filmo_people_knowncredits()),
        gender=Gender(lib.filmo_people_gender()),
        birthday=text(lib.filmo_people_birthday()),
        deathday=text(lib.filmo_people_deathday()),
        place_of_birth=text(lib.filmo_people_placeofbirth()),
        homepage=text(lib.filmo_people_homepage()),
        profile_url=text(lib.filmo_people_profileurl()),
        popularity_permille=lib.filmo_people_popularity_permille(),
        biography=text(lib.filmo_people_biography()),
        translated_names=each(lib.filmo_people_names_translate_count(),
                              lambda i: text(lib.filmo_people_names_translate(i))),
        pictures=each(lib.filmo_people_pictures_count(), lambda i: Picture(
            text(lib.filmo_people_picture_url(i)), text(lib.filmo_people_picture_lang(i)),
            lib.filmo_people_picture_w(i), lib.filmo_people_picture_h(i))),
        related_imdb_ids=each(lib.filmo_people_related_count(),
                              lambda i: text(lib.filmo_people_related(i))))


# ---- popular people --------------------------------------------------------------------------

@dataclass(frozen=True)
class PopularPerson:
    """A person of a page of popular people."""
    id: int
    name: Optional[str]
    imdb_id: Optional[str]
    knows_for: Optional[str]
    profile_url: Optional[str]


@dataclass(frozen=True)
class PopularPage:
    """One page of popular people, with its number (from 1)."""
    page: int
    people: Tuple[PopularPerson, ...]


def read_popular(lib: ctypes.CDLL) -> Tuple[PopularPerson, ...]:
    """The held page of popular people."""
    return each(lib.filmo_people_pop_count(), lambda i: PopularPerson(
        lib.filmo_people_pop_id(i), text(lib.filmo_people_pop_name(i)),
        text(lib.filmo_people_pop_imdbid(i)), text(lib.filmo_people_pop_knowsfor(i)),
        text(lib.filmo_people_pop_profileurl(i))))
