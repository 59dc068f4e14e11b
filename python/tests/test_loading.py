"""How the package finds the library, one handle per process, the typed and documented
surface, and the prototypes against the public header."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import filmo
from filmo import _native
from conftest import REPO

LIBRARY = Path(_native.path())


def run(code, env, cwd):
    return subprocess.run([sys.executable, "-c", code], env=env, cwd=cwd, capture_output=True,
                          text=True, timeout=60)


def test_library_from_the_environment_then_beside_the_package(tmp_path):
    package = Path(filmo.__file__).parent
    copy = tmp_path / "filmo"
    shutil.copytree(package, copy,
                    ignore=shutil.ignore_patterns("__pycache__", "lib*.so*", "corpus"))
    env = {k: v for k, v in os.environ.items() if k != "FILMO_LIBRARY"}
    env["PYTHONPATH"] = str(tmp_path)
    show = "import filmo; print(filmo.Client().library_path)"

    missing = run(show, env | {"FILMO_LIBRARY": str(tmp_path / "nowhere.so")}, tmp_path)
    assert missing.returncode != 0 and "FILMO_LIBRARY=" in missing.stderr

    shutil.copy(LIBRARY, copy / "libfilmo.so")
    beside = run(show, env, tmp_path)
    assert beside.returncode == 0, beside.stderr
    assert beside.stdout.strip() == str(copy / "libfilmo.so")

    chosen = run(show, env | {"FILMO_LIBRARY": str(LIBRARY)}, tmp_path)
    assert chosen.stdout.strip() == str(LIBRARY)

    # Without a corpus in the package or beside the library, use_fake() says where it looked.
    lost = run("import filmo; filmo.Client().use_fake()", env, tmp_path)
    assert lost.returncode != 0 and "FileNotFoundError: no sample corpus" in lost.stderr


def test_one_open_client_per_process(client):
    with pytest.raises(filmo.ClientInUse, match="already open .made at .*conftest.py"):
        filmo.Client()
    assert isinstance(filmo.ClientInUse("x"), RuntimeError)
    client.close()
    assert client.closed and repr(client) == "<filmo.Client closed>"
    with pytest.raises(RuntimeError, match="closed"):
        client.collections()
    with filmo.Client("http://127.0.0.1:9") as other:  # the handle is free again
        assert "host=http://127.0.0.1:9 transport=none" in repr(other)
        other.use_fake()
        assert "transport=fake(" in repr(other)
    client.close()  # closing twice does nothing


def test_a_dropped_client_frees_the_handle():
    code = ("import gc, filmo\n"
            "a = filmo.Client()\n"
            "del a; gc.collect()\n"
            "b = filmo.Client(); b.use_fake(); print(len(b.collections()))\n")
    env = dict(os.environ)
    done = run(code, env, REPO)
    assert done.returncode == 0 and done.stdout.strip() == "6", done.stderr


def public_names():
    for name in filmo.__all__:
        obj = getattr(filmo, name)
        if isinstance(obj, (str, tuple, frozenset)) or not hasattr(obj, "__doc__"):
            continue
        yield name, obj
        if isinstance(obj, type):
            for attr, member in vars(obj).items():
                if attr.startswith("_") or not callable(member) and not isinstance(
                        member, property):
                    continue
                yield f"{name}.{attr}", member


def test_every_public_name_has_a_docstring():
    missing = [name for name, obj in public_names()
               if not (getattr(obj, "__doc__", None) or "").strip()]
    assert missing == []
    assert "homepage_if_changed" in filmo.Client.__dict__ and filmo.Client.__doc__


def test_package_is_typed():
    assert (Path(filmo.__file__).parent / "py.typed").exists()


# C types of the header as the prototypes must spell them.
C_TYPES = {
    "int32_t": _native.i32, "uint32_t": _native.u32, "int64_t": _native.i64,
    "uint64_t": _native.u64, "double": _native.f64, "size_t": _native.size,
    "const char *": _native.c_text, "void": None,
}


def test_prototypes_match_the_public_header():
    header = (REPO / "include" / "filmo.h").read_text()
    decls = re.findall(r"FILMO_API\s+([\w\s]+?\*?)\s*(filmo_\w+)\(([^)]*)\);", header)
    assert len(decls) > 100
    for ret, name, params in decls:
        restype, argtypes = _native.PROTOTYPES[name]
        assert restype is C_TYPES[" ".join(ret.replace("*", " *").split())], name
        args = [] if params.strip() == "void" else [p.strip() for p in params.split(",")]
        assert len(args) == len(argtypes), name
        for arg, have in zip(args, argtypes):
            ctype = " ".join(re.sub(r"\w+$", "", arg).replace("*", " *").split())
            if ctype in C_TYPES:
                assert have is C_TYPES[ctype], (name, arg)
    assert {name for _, name, _ in decls} == {n for n in _native.PROTOTYPES if n.startswith("filmo_")}


# Field offsets of the records in include/vornak_http.h on a 64-bit platform, in field order.
REQUEST_OFFSETS = {
    "size": 0, "method": 8, "url": 16, "headers": 24, "header_count": 32, "body": 40,
    "body_len": 48, "user": 56, "password": 64, "timeout_ms": 72, "connect_timeout_ms": 76,
    "flags": 80, "recv_timeout_ms": 84, "on_header": 88, "on_body": 96, "sink_ctx": 104,
}
TRANSPORT_OFFSETS = {"size": 0, "version": 4, "user_data": 8, "request": 16, "free_buf": 24}


def test_record_layouts():
    import ctypes
    assert ctypes.sizeof(_native.HttpRequest) == 112
    assert ctypes.sizeof(_native.Http) == 32
    for record, offsets in ((_native.HttpRequest, REQUEST_OFFSETS),
                            (_native.Http, TRANSPORT_OFFSETS)):
        assert [name for name, *_ in record._fields_] == list(offsets), record.__name__
        for name, offset in offsets.items():
            assert getattr(record, name).offset == offset, (record.__name__, name)
