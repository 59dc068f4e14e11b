#!/usr/bin/env python3
"""A local catalogue server that answers the client's four GET endpoints from a corpus directory.

It serves the same files, with the same routing rules and the same home page hash exchange, as
the library's fixture backend, but over real HTTP on 127.0.0.1, so that the real transport
(filmo_use_curl after filmo_set_host("http://127.0.0.1:PORT")) and the filmo command-line host
(--host URL) can be tried end to end without the catalogue service.

Routes (substring tests on the request target, first match wins):
  GetHomePage           homepage.auth-profile0.zlib when userId is non-empty, else
                        homepage.anonymous-profile0.zlib. Headers ContentHash (the stable hash of
                        the inflated page, -1 when it does not inflate) and ContentSize (the
                        file's size). When the request's MD5HomePage value equals that hash the
                        answer is the single byte 0xFF with ContentHash only.
  GetCollectionPopular  collections.en-US.json, whatever the language.
  GetPeopleDetail       people-detail.<id>.json; an id without a file (or one that could name a
                        path outside the corpus) gets people-detail.404.json with status 404.
  GetPeoplePopular      pageNumbers > 1: people-popular.pn2-camel.json; else page 1 (or no or an
                        empty pageIndex): people-popular.p1-pascal.json; page 2:
                        people-popular.p2-pascal.json; anything else, or a missing page file:
                        people-popular.404.json (else people-detail.404.json) with status 404.
Query values are read as the fixture reads them: the first "name=" anywhere in the target, up to
the next '&', without percent-decoding.

Where the fixture backend fails the transport (an unrouted URL, a missing fixture file), this
server answers with an HTTP status instead: 404 for an unrouted URL, 500 with the fixture's text
("fake: homepage fixture missing", ...) as a text/plain body for a missing file.

With --tls-cert (and --tls-key when the key is in a file of its own) the server speaks HTTPS
only, with that certificate chain; a client that refuses the certificate or does not speak TLS
is dropped without an answer. Without them it speaks plain HTTP.

With --fault the server breaks one part of what the client relies on, so that `filmo check` can be
seen to name it (the switch may be given several times):
  wrong-hash      ContentHash is one more than the stable hash of the page served
  no-unchanged    a matching MD5HomePage still gets the whole page, never the one byte
  found           what does not exist (an unknown person, a page past the end) answers 200
  bad-zlib        the home page body is cut in half, so it no longer inflates
  object-root     the collections come as a JSON object instead of an array
  renamed-members the popular people's Name is sent as DisplayName
  stall           every request is read and never answered (until the client gives up)

The first line on stdout is "listening 127.0.0.1:PORT" (flushed at once), so that a caller that
asked for port 0 learns the port. Requests are logged on stderr unless --quiet is given. Stop it
with SIGTERM or Ctrl-C.
"""

import argparse
import json
import os
import signal
import ssl
import sys
import time
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

FAULTS = ("wrong-hash", "no-unchanged", "found", "bad-zlib", "object-root", "renamed-members",
          "stall")
STALL_SECONDS = 30            # a stalled request is dropped after this, client or no client
MASK = 0xFFFFFFFF
INFLATE_LIMIT = 64 * 1048576  # most bytes an inflated home page may have
INFLATE_RATIO = 64            # most output bytes per input byte consumed


def stable_hash(data):
    """The client's stable content hash of a UTF-8 byte string: 0..2147483647, 0 for malformed
    UTF-8, 371857150 for no text. The .NET Framework string hash of the UTF-16 form."""
    if data is None:
        return 0
    units = []
    i, n = 0, len(data)
    while i < n:
        b = data[i]
        if b < 0x80:
            units.append(b)
            i += 1
            continue
        if b & 0xE0 == 0xC0:
            need, cp = 1, b & 0x1F
        elif b & 0xF0 == 0xE0:
            need, cp = 2, b & 0x0F
        elif b & 0xF8 == 0xF0:
            need, cp = 3, b & 0x07
        else:
            return 0
        if i + need >= n:
            return 0
        for k in range(1, need + 1):
            c = data[i + k]
            if c & 0xC0 != 0x80:
                return 0
            cp = (cp << 6) | (c & 0x3F)
        i += need + 1
        if cp <= 0xFFFF:
            units.append(cp)
        else:
            cp -= 0x10000
            units.append((0xD800 + (cp >> 10)) & 0xFFFF)
            units.append((0xDC00 + (cp & 0x3FF)) & 0xFFFF)
    h1 = h2 = 5381
    j = 0
    while j < len(units):
        c = units[j]
        if c == 0:
            break
        h1 = ((h1 * 33) & MASK) ^ c
        if j + 1 >= len(units):
            break
        d = units[j + 1]
        if d == 0:
            break
        h2 = ((h2 * 33) & MASK) ^ d
        j += 2
    r = (h1 + h2 * 1566083941) & MASK
    if r >= 0x80000000:
        r -= 0x100000000
    return 0 if r == -0x80000000 else abs(r)


def bounded_inflate(data):
    """Inflates a whole zlib stream under the client's guards (64 MB, 64:1 past the first
    buffer); None when it fails them or is not a whole valid stream."""
    if not data:
        return None
    cap = max(4 * len(data), 4096) if len(data) < 16777216 else INFLATE_LIMIT
    d = zlib.decompressobj()
    out = bytearray()
    pending = data
    try:
        while True:
            before = len(pending), len(out)
            out += d.decompress(pending, cap - len(out))
            pending = d.unconsumed_tail
            if d.eof:
                return bytes(out)
            if (len(pending), len(out)) == before:
                return None  # the stream is cut short
            consumed = len(data) - len(pending)
            if len(out) > (consumed * INFLATE_RATIO if consumed else INFLATE_RATIO):
                return None
            if len(out) == cap:
                if cap >= INFLATE_LIMIT:
                    return None
                cap = min(cap * 2, INFLATE_LIMIT)
    except zlib.error:
        return None


def qval(target, name):
    """The fixture's query reading: None when absent, else the raw value."""
    pattern = name + "="
    at = target.find(pattern)
    if at < 0:
        return None
    value = target[at + len(pattern):]
    amp = value.find("&")
    return value if amp < 0 else value[:amp]


def leading_int(text):
    """Leading blanks, an optional sign and the digits after them, as the C runtime reads a
    number; 0 when there are no digits."""
    text = text.lstrip(" \t\n\v\f\r")
    sign = -1 if text[:1] == "-" else 1
    if text[:1] in ("+", "-"):
        text = text[1:]
    digits = len(text) - len(text.lstrip("0123456789"))
    return sign * int(text[:digits]) if digits else 0


def md5_home_value(headers):
    """The number the last MD5HomePage request line carries (a signed 64-bit value), or None."""
    value = None
    for name, raw in headers.items():
        if name.lower() == "md5homepage":
            value = raw
    if value is None:
        return None
    return max(-(1 << 63), min((1 << 63) - 1, leading_int(value)))


class Corpus:
    def __init__(self, directory):
        self.directory = directory
        self._hashes = {}  # path -> (size, mtime_ns, hash): a home page is inflated once

    def read(self, name):
        path = os.path.join(self.directory, name)
        try:
            with open(path, "rb") as f:
                return f.read()
        except OSError:
            return None

    def home_hash(self, name, data):
        path = os.path.join(self.directory, name)
        try:
            st = os.stat(path)
            key = (st.st_size, st.st_mtime_ns)
        except OSError:
            key = None
        cached = self._hashes.get(path)
        if key is not None and cached is not None and cached[0] == key:
            return cached[1]
        inflated = bounded_inflate(data)
        value = stable_hash(inflated) if inflated else -1
        if key is not None:
            self._hashes[path] = (key, value)
        return value


def safe_id(text):
    return text and "/" not in text and "\\" not in text and "\0" not in text and ".." not in text


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "filmo-catalogue/1.0"
    corpus = None
    quiet = False
    faults = frozenset()

    def log_message(self, fmt, *args):
        if not self.quiet:
            sys.stderr.write("%s %s\n" % (self.address_string(), fmt % args))

    def answer(self, status, body, headers=(), content_type="application/json"):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def missing(self, text):
        self.answer(500, text.encode(), content_type="text/plain; charset=utf-8")

    def do_GET(self):
        target = self.path
        if "stall" in self.faults:
            time.sleep(STALL_SECONDS)
            self.close_connection = True
            return
        for route, serve in (("GetHomePage", self.home), ("GetCollectionPopular", self.collections),
                             ("GetPeopleDetail", self.person), ("GetPeoplePopular", self.popular)):
            if route in target:
                serve(target)
                return
        self.answer(404, b"unrouted URL", content_type="text/plain; charset=utf-8")

    do_HEAD = do_GET

    def home(self, target):
        user = qval(target, "userId")
        name = "homepage.auth-profile0.zlib" if user else "homepage.anonymous-profile0.zlib"
        data = self.corpus.read(name)
        if data is None:
            self.missing("fake: homepage fixture missing")
            return
        value = self.corpus.home_hash(name, data)
        known = md5_home_value(self.headers)
        if "bad-zlib" in self.faults:
            data = data[: len(data) // 2]
        if "wrong-hash" in self.faults and value >= 0:
            value += 1
        if (known is not None and value >= 0 and known == value
                and "no-unchanged" not in self.faults):
            self.answer(200, b"\xff", [("ContentHash", str(value))], "application/octet-stream")
            return
        self.answer(200, data, [("ContentHash", str(value)), ("ContentSize", str(len(data)))],
                    "application/octet-stream")

    def collections(self, target):
        data = self.corpus.read("collections.en-US.json")
        if data is None:
            self.missing("fake: collections fixture missing")
        elif "object-root" in self.faults:
            self.answer(200, b'{"Collections":' + data + b"}")
        else:
            self.answer(200, data)

    def not_found(self, names):
        for name in names:
            data = self.corpus.read(name)
            if data is not None:
                self.answer(200 if "found" in self.faults else 404, data)
                return
        self.missing("fake: 404 fixture missing")

    def person(self, target):
        pid = qval(target, "id")
        if not pid:
            self.missing("fake: GetPeopleDetail without id")
            return
        pid = pid[:127]
        name = ("people-detail.%s.json" % pid)[:127]
        data = self.corpus.read(name) if safe_id(pid) else None
        if data is not None:
            self.answer(200, data)
        else:
            self.not_found(["people-detail.404.json"])

    def popular(self, target):
        pn, pi = qval(target, "pageNumbers"), qval(target, "pageIndex")
        pn, pi = pn and pn[:31], pi and pi[:31]  # read into 32-byte buffers
        if pn and leading_int(pn) > 1:
            name = "people-popular.pn2-camel.json"
        elif pi is None:
            name = "people-popular.p1-pascal.json"
        elif pi and leading_int(pi) == 2:
            name = "people-popular.p2-pascal.json"
        elif pi == "" or leading_int(pi) == 1:
            name = "people-popular.p1-pascal.json"
        else:
            name = None
        data = self.corpus.read(name) if name else None
        if data is not None and "renamed-members" in self.faults:
            data = renamed_members(data)
        if data is not None:
            self.answer(200, data)
        else:
            self.not_found(["people-popular.404.json", "people-detail.404.json"])


def renamed_members(data):
    """A popular page whose people carry their name under a member the client does not read."""
    try:
        people = json.loads(data)
    except ValueError:
        return data
    for person in people if isinstance(people, list) else []:
        if isinstance(person, dict):
            for key in ("Name", "name"):
                if key in person:
                    person["DisplayName"] = person.pop(key)
    return json.dumps(people).encode()


class TLSServer(ThreadingHTTPServer):
    """The same server behind TLS. The handshake runs in each connection's own thread, so a
    client that stalls or refuses the certificate holds up no other."""
    context = None

    def finish_request(self, request, client_address):
        request.settimeout(15)
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            super().finish_request(tls, client_address)
        finally:
            tls.close()


def main(argv=None):
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="example: catalogue_server.py build/corpus --port 8080, then "
               "filmo --host http://127.0.0.1:8080 home")
    parser.add_argument("corpus", help="corpus directory (the fixture backend's file names)")
    parser.add_argument("--port", type=int, default=0,
                        help="port on 127.0.0.1 (default 0: an ephemeral port, printed first)")
    parser.add_argument("--quiet", action="store_true", help="do not log requests on stderr")
    parser.add_argument("--tls-cert", metavar="PEM",
                        help="serve HTTPS with this certificate chain (leaf first)")
    parser.add_argument("--tls-key", metavar="PEM",
                        help="the certificate's private key (default: in the --tls-cert file)")
    parser.add_argument("--fault", action="append", choices=FAULTS, default=[],
                        help="break one part of what the client relies on (see above)")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.corpus):
        parser.error("not a directory: %s" % args.corpus)
    if args.tls_key and not args.tls_cert:
        parser.error("--tls-key needs --tls-cert")

    Handler.corpus = Corpus(args.corpus)
    Handler.quiet = args.quiet
    Handler.faults = frozenset(args.fault)
    server_class = ThreadingHTTPServer
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        try:
            context.load_cert_chain(args.tls_cert, args.tls_key)
        except (OSError, ssl.SSLError) as e:
            parser.error("cannot load the TLS certificate: %s" % e)
        TLSServer.context = context
        server_class = TLSServer
    server = server_class(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("listening 127.0.0.1:%d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except (KeyboardInterrupt, SystemExit):
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
