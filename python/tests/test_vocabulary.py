"""One vocabulary: each view read in Python, turned into plain data with dataclasses.asdict,
equals the object ``filmo ... --json`` prints for the same view over the same corpus: the same
keys in the same order and the same values. FILMO_CLI names the filmo command of the build."""

import dataclasses
import json
import os
import re
import subprocess
from pathlib import Path

import pytest

import filmo
from conftest import CORPUS, REPO, USER

CLI = os.environ.get("FILMO_CLI")

# (arguments of the filmo command, the same view read through the client)
VIEWS = [
    (["collections"], lambda c: c.collections()),
    (["collections", "--language", "sv-SE"], lambda c: c.collections("sv-SE")),
    (["home"], lambda c: c.homepage(update=True)),
    (["home", "--user", USER, "--version1"], lambda c: c.homepage(USER, version1=True,
                                                                 update=True)),
    (["person", "nm0000138"], lambda c: c.person("nm0000138")),
    (["person", "6193", "--language", "en-US"], lambda c: c.person(6193, "en-US")),
    (["person", "nm0634240"], lambda c: c.person("nm0634240")),
    (["popular"], lambda c: c.popular_people()),
    (["popular", "--page", "2"], lambda c: c.popular_people(page=2)),
    (["popular", "--page-numbers", "2"], lambda c: c.popular_people(page_numbers=2)),
]


def plain(view):
    """A view as JSON would carry it: records as dicts (asdict), tuples as lists."""
    data = ([dataclasses.asdict(item) for item in view] if isinstance(view, tuple)
            else dataclasses.asdict(view))
    return json.loads(json.dumps(data))


def keys(data):
    """Every key path of a JSON value, in order."""
    if isinstance(data, dict):
        return [(k,) + rest for k, v in data.items() for rest in [()] + keys(v)]
    if isinstance(data, list):
        return [rest for v in data for rest in keys(v)]
    return []


@pytest.mark.skipif(not CLI or not Path(CLI).is_file(),
                    reason="FILMO_CLI does not name a built filmo command")
@pytest.mark.parametrize("args,read", VIEWS, ids=[" ".join(a[:2]) for a, _ in VIEWS])
def test_asdict_of_each_view_equals_the_commands_json(fake, args, read):
    done = subprocess.run([CLI, "--corpus", str(CORPUS), *args, "--json"], capture_output=True,
                          text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    command = json.loads(done.stdout)
    printed = command[args[0]]
    ours = plain(read(fake))
    assert keys(ours) == keys(printed)
    assert ours == printed


def manual_views():
    """The view records of filmo.1's JSON KEYS, parsed: view -> (class name, [(field, nested)])
    where nested is the record a list or object field holds, or None."""
    page = (REPO / "tools" / "filmo.1").read_text(encoding="utf-8")
    section = page.split(".SH JSON KEYS", 1)[1].split(".SH ", 1)[0]
    for escape, plain_text in (("\\|", ""), ("\\-", "-"), ("\\(mu", "x")):
        section = section.replace(escape, plain_text)
    views = {}
    for chunk in section.split(".TP\n.B ")[1:]:
        name, body = chunk.split("\n", 1)
        tokens = re.findall(r"\(\w+\)|\([^()]*\)|\[|\]|,|[a-z_0-9]+", body.replace("\n", " "))
        views[name] = record_or_list(tokens)
    return views


def record_or_list(tokens):
    """One record "(Class) field, field ..." or one list "[ ... ]" from the token stream."""
    if tokens[0] == "[":
        tokens.pop(0)
        inner = record_or_list(tokens) if tokens[0] != "]" else None
        assert tokens.pop(0) == "]"
        return inner
    cls = tokens.pop(0)[1:-1]
    fields = []
    while tokens and re.fullmatch(r"[a-z_0-9]+", tokens[0]):
        name = tokens.pop(0)
        if tokens and tokens[0].startswith("(") and not tokens[0][1].isupper():
            tokens.pop(0)  # a comment on the field
        nested = None
        if tokens and (tokens[0] == "[" or tokens[0][1:2].isupper()):
            nested = record_or_list(tokens)
        fields.append((name, nested))
        if tokens and tokens[0] == ",":
            tokens.pop(0)
    return cls, fields


def test_the_manual_lists_the_records_fields():
    def check(documented):
        cls_name, fields = documented
        cls = getattr(filmo, cls_name)
        assert [f.name for f in dataclasses.fields(cls)] == [name for name, _ in fields], cls_name
        for _, nested in fields:
            if nested is not None:
                check(nested)

    views = manual_views()
    assert sorted(views) == ["collections", "home", "person", "popular"]
    for documented in views.values():
        check(documented)
