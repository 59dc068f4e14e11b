"""One vocabulary: each view read in Python, turned into plain data with dataclasses.asdict,
equals the object ``filmo ... --json`` prints for the same view over the same corpus: the same
keys in the same order and the same values. FILMO_CLI names the filmo command of the build."""

import dataclasses
import json
import os
import subprocess
from pathlib import Path

import pytest

from conftest import CORPUS, USER

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
