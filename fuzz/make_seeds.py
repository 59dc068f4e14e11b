#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/seeds/<target>/. The seeds are checked in; run this again
only after changing it (it rewrites every seed it knows and leaves other files alone)."""
import json
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    d = os.path.join(HERE, "seeds", target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def compact(obj):
    return json.dumps(obj, ensure_ascii=False, separators=(",", ":")).encode()


HOME = {
    "List": [{"Id": "trending", "Value": "tt0111161,tt0068646"}, 3, "x"],
    "Continues": [{"IMDbId": "tt0903747", "Season": 2, "Episode": 5, "Value": 0.43,
                   "Size": 3000000000, "Duration": "00:42:10", "SizeStr": "3.0 GB",
                   "IsDuration": True, "UpdatedAt": "2026-09-30T20:11:05Z"}],
    "Level30s": [{"IMDbID": "tt0133093", "Size": 8123456789, "FileName": "The.Matrix.mkv"}],
    "Spotlights": [{"Logo": "l.png", "Items": "tt1,tt2", "Title": "Noir", "OrderIndex": 1}],
    "ExtentList": [{"Id": "more", "Value": "tt3"}],
    "Basics": [{"IMDbId": "tt0111161", "Title": "The Shawshank Redemption", "TagLine": "Hope",
                "Plot": "Two men.", "PosterUrl": "p.jpg", "PictureUrl": "b.jpg", "ID": 278,
                "Year": 1994, "Duration": 142, "IsTVShow": False,
                "Genres": ["Drama", 5, "Crime"], "Directors": ["Frank Darabont"],
                "Ratings": {"imdb": 9.3, "metacritic": 82, "note": "x"}},
               {"Title": "Amélie", "Ratings": [1, 2]}],
    "Peoples": [{"ID": 138, "Name": "Leonardo DiCaprio", "KnowsFor": "Acting",
                 "ProfileUrl": "nm.jpg"}],
    "CollectionPlaylists": [{"Id": 7, "Name": "Heist", "Backdrop": "b", "Cover": "c",
                             "Logo": "l", "IsAuto": True,
                             "Playlists": [{"Name": "Classics", "OriginCountry": "US",
                                            "Logo": "pl", "IMDbIds": ["tt1", 2, "tt3"]}, 9]}],
    "UserInfo": {"ID": "u-1", "Email": "viewer@example.org",
                 "Memberships": [{"Type": 2, "Name": "Premium", "IsActive": True,
                                  "Expiration": "2027-01-01"}],
                 "Profiles": [{"ID": 0, "Name": "Main", "Poster": "a.png", "Deleted": False,
                               "IsEnabled": True, "IsEmpty": False}]},
}


def camel(obj):
    """The same document with camelCase member names, as some servers send it."""
    special = {"IMDbId": "imDbId", "IMDbID": "imDbID", "IMDbIds": "imDbIds", "ID": "id",
               "IsTVShow": "isTVShow"}
    if isinstance(obj, dict):
        return {special.get(k, k[:1].lower() + k[1:]): camel(v) for k, v in obj.items()}
    if isinstance(obj, list):
        return [camel(v) for v in obj]
    return obj


ODD = ('{"continues":[{"Season":"3","Episode":3.9,"Size":1e19,"Value":7,"IsDuration":1}],'
       '"BASICS":[{"imdbid":"tt9","IMDbId":"tt1","imDbId":"tt2","Year":2100000000.5,'
       '"ID":-3000000000,"Duration":-1e300,"Ratings":{}}],'
       '"Basics":[{"Ratings":{"a":1,"b":4294967296,"c":true,"":2.5}}],'
       '"userInfo":{"email":"only@example.org","ID":5},"List":[],"Peoples":{}}')

COLLECTIONS = [{"Id": 3, "Name": "Noir", "Backdrop": "b", "Cover": "c", "Logo": "l",
                "IsAuto": False,
                "Playlists": [{"Name": "P", "OriginCountry": "FR", "Logo": "x",
                               "IMDbIds": ["tt1", None, "tt2"]}]}, 1, "x", {}]
PERSON = {"ID": 138, "Name": "Leonardo DiCaprio", "KnowsFor": "Acting", "IMDbId": "nm0000138",
          "Biography": "Actor.", "Birthday": "1974-11-11", "Gender": 2, "Popularity": 7.25,
          "NamesTranslate": ["Леонардо", 3, "レオナルド"],
          "Pictures": [{"Url": "a.jpg", "Language": "en", "Width": 500, "Height": 750}, 4],
          "RelatedIMDbIds": ["nm1", "nm2"]}
POPULAR = [{"ID": 1, "Name": "A", "KnowsFor": "Acting", "ProfileUrl": "a", "IMDbId": "nm1"},
           7, {"id": 2, "name": "B", "imDbId": "nm2"}]


def homepage_json():
    t = "fuzz_homepage_json"
    write(t, "empty_object.json", "{}")
    write(t, "pascal.json", compact(HOME))
    write(t, "camel.json", compact(camel(HOME)))
    write(t, "odd_types.json", ODD)
    write(t, "userinfo_only.json", '{"UserInfo":{"ID":"","Profiles":[{}]}}')
    write(t, "root_array.json", "[]")
    write(t, "unfinished.json", '{"Basics":[{"Title":"x"')


def inflate():
    t = "fuzz_inflate"
    page = compact(HOME)
    write(t, "page_level6.z", zlib.compress(page, 6))
    write(t, "page_level9.z", zlib.compress(page, 9))
    write(t, "page_stored.z", zlib.compress(page, 0))
    write(t, "no_trailer.z", zlib.compress(page)[:-4])
    z = bytearray(zlib.compress(page))
    z[-1] ^= 1
    write(t, "bad_adler.z", bytes(z))
    gz = zlib.compressobj(6, zlib.DEFLATED, 31)
    write(t, "gzip.gz", gz.compress(page) + gz.flush())
    write(t, "zeros_2000.z", zlib.compress(b"\0" * 2000))  # inside the first buffer
    write(t, "zeros_1m.z", zlib.compress(b"\0" * 1000000, 9))  # bomb guard
    d = zlib.compressobj(6, zlib.DEFLATED, 15, zdict=b"Basics")
    write(t, "preset_dict.z", d.compress(page) + d.flush())
    write(t, "header_only.z", b"\x78\x9c")


def inflate_diff():
    t = "fuzz_inflate_diff"
    page = compact(HOME)
    write(t, "page_level6.z", zlib.compress(page, 6))
    write(t, "page_level1.z", zlib.compress(page * 40, 1))  # grows past its first buffer
    write(t, "page_stored.z", zlib.compress(page, 0))
    write(t, "zeros_1m.z", zlib.compress(b"\0" * 1000000, 9))  # bomb guard
    write(t, "zeros_near_guard.z", zlib.compress(b"\0" * 70000, 9))
    d = zlib.compressobj(6, zlib.DEFLATED, 15, zdict=b"Basics")
    write(t, "preset_dict.z", d.compress(page) + d.flush())
    w = zlib.compressobj(9, zlib.DEFLATED, 9)  # a 512-byte window
    write(t, "small_window.z", w.compress(page * 2) + w.flush())
    # Raw deflate data ('R'): the target adds header and checksum.
    for level, name in ((6, "raw_level6"), (0, "raw_stored"), (1, "raw_level1")):
        r = zlib.compressobj(level, zlib.DEFLATED, -15)
        write(t, name, b"R" + r.compress(page * 2) + r.flush())
    r = zlib.compressobj(6, zlib.DEFLATED, -15, 9, zlib.Z_FIXED)
    write(t, "raw_fixed", b"R" + r.compress(page) + r.flush())


def round_(view, body=b"", status=0, flags=0, fail=0xFF, chunk=0, a=0, b=0, known=0):
    if isinstance(body, str):
        body = body.encode()
    head = bytes([view, status, flags, fail, chunk, a, b, known])
    return head + struct.pack("<H", len(body)) + body


OK_HOME = 0x04 | 0x08 | 0x10  # compressed body with its ContentHash


def fetch():
    t = "fuzz_fetch"
    page = compact(HOME)
    write(t, "home_ok.bin", round_(0, page, flags=OK_HOME))
    write(t, "home_user_chunked.bin", round_(0, page, flags=OK_HOME, chunk=7, a=1, b=0x22))
    write(t, "home_unchanged.bin",
          round_(0, page, flags=OK_HOME) + round_(0, b"\xff", flags=0x08, known=1, b=0x10))
    write(t, "home_then_404.bin", round_(0, page, flags=OK_HOME) + round_(0, "{}", status=11,
                                                                          flags=0x08, b=0x10))
    write(t, "home_oom.bin", round_(0, page, flags=OK_HOME, fail=3))
    write(t, "home_raw_json.bin", round_(0, page))
    write(t, "collections_ok.bin", round_(1, compact(COLLECTIONS), b=3))
    write(t, "collections_fail.bin", round_(1, compact(COLLECTIONS)) + round_(1, "{", b=3) +
          round_(1, "", status=5, b=5) + round_(1, flags=0x03, b=6))
    write(t, "person_ok.bin", round_(2, compact(PERSON)) + round_(2, compact(PERSON), a=1))
    write(t, "person_camel_oom.bin", round_(2, compact(camel(PERSON)), fail=2, a=6))
    write(t, "popular_ok.bin", round_(3, compact(POPULAR)) + round_(3, "null", a=0x11))
    write(t, "mixed.bin", round_(3, compact(POPULAR)) + round_(1, compact(COLLECTIONS)) +
          round_(0x80 | 3, "[]", status=13) + round_(2, compact(PERSON), status=12))


def transport():
    t = "fuzz_transport"
    for i, v in enumerate(["bytes 0-499/1234", "bytes 0-499/*", "bytes */1234", "bytes 5-*/10",
                           "bytes 5-3/10", "bytes 20-30/10", "Bytes 0-5/10", "bytes=0-5"]):
        write(t, "content_range_%d" % i, b"\x00" + v.encode())
    write(t, "header_line_ok", b"\x01\x40Accept\ntext/html")
    write(t, "header_line_tab", b"\x01\x40X-A\na\tb")
    write(t, "header_line_tight", b"\x01\x08Ab\n123")
    write(t, "method_search", b"\x02M-SEARCH")
    write(t, "method_space", b"\x02GET ")
    events = (b"\x02\x03204" + b"\x00\x0cContent-Type\x09text/html" + b"\x01\x04abcd" +
              b"\x00\x0ccontent-type\x01x" + b"\x01\x06efghij" + b"\x01\x01k")
    write(t, "collector_limit10", b"\x03\x0a\x00\xff" + events)
    write(t, "collector_oom", b"\x03\x00\x00\x02" + events)
    for i, line in enumerate(["Range: bytes=0-99", "range:  bytes=900-", "RANGE: bytes=900-5000",
                              "Range: bytes=1000-", "Range: items=0-5", "Range: bytes=-5",
                              "Range: bytes=50-10"]):
        write(t, "fake_range_%d" % i, b"\x04" + bytes([i % 3 + 1, 0]) + struct.pack("<H", 1000) +
              line.encode())
    write(t, "fake_range_head", b"\x04\x01\x01" + struct.pack("<H", 1000) + b"Range: bytes=0-9")
    for i, (first, last, mode) in enumerate([(100, 199, 1), (100, 199, 0), (0, 10, 0),
                                             (10, 5, 1), (-1, 5, 1), (990, 2000, 2)]):
        write(t, "ranged_get_%d" % i, b"\x05" + struct.pack("<hhBH", first, last, mode, 1000))


def hash_encode():
    t = "fuzz_hash_encode"
    for name, data in [("abc", b"abc"), ("e_acute", "é".encode()), ("emoji", "😀".encode()),
                       ("inner_nul", b"a\x00b"), ("query", "a b&c=d/é".encode()),
                       ("unreserved", b"-._~"), ("cut_lead", b"ab\xc3"), ("lone_cont", b"\x80"),
                       ("lead_f8", b"\xf8"), ("bad_cont", b"\xc3\x28"),
                       ("overlong", b"\xc0\xaf\xe0\x80\xaf"), ("surrogate", b"\xed\xa0\x80"),
                       ("beyond", b"\xf7\xbf\xbf\xbf"), ("page", compact(HOME)[:600]),
                       # ASCII runs hashed eight bytes at a time, broken at every alignment
                       ("ascii_odd_then_utf8", b"abcdefghi" + "é".encode() + b"jklmnopqrstu"),
                       ("emoji_after_odd", b"abc" + "😀".encode() + b"defghijklmnopqrstu"),
                       ("nul_mid_word", b"abcdefghabc\x00defghijklmnop"),
                       ("nul_then_bad", b"abcdefghabc\x00defgh\xc3"),
                       ("long_ascii", bytes(0x20 + (i * 37 + i // 7) % 0x5f for i in range(1001)))]:
        write(t, name, data)


def head():
    t = "fuzz_head"
    plain = (b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContentHash: 1234\r\n"
             b"contenthash: 99\r\nContent-Length: 2\r\n\r\n")
    for name, status, fail, stop, text in [
            ("plain", 200, 0xFF, 0xFF, plain),
            ("blanks", 204, 0xFF, 0xFF, b"HTTP/1.1 204 No Content\nX-A:   b  \nX-E:\n: v\n"
                                        b"no colon\rX-T:\t\tt\r\n\r\n"),
            ("nul_cut", 200, 0xFF, 0xFF, b"HTTP/1.1 200 OK\r\nX-A: 1\r\nX-\x00B: 2\r\n"),
            ("no_status_line", 401, 0xFF, 0xFF, b"\r\nWWW-Authenticate: Digest realm=r\r\n"),
            ("stop_second", 500, 0xFF, 1, plain),
            ("oom", 200, 3, 0xFF, plain),
            ("negative_status", -7, 0xFF, 0xFF, b"HTTP/1.1 999 X\r\nA:B:C\r\n")]:
        write(t, name, struct.pack("<iBB", status, fail, stop) + text)


if __name__ == "__main__":
    homepage_json()
    inflate()
    inflate_diff()
    fetch()
    transport()
    hash_encode()
    head()
