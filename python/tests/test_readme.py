"""The README's Python examples run as written and pass mypy --strict."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import REPO


def examples():
    """The python blocks of the README's Python section, joined into one program."""
    readme = (REPO / "README.md").read_text(encoding="utf-8")
    section = readme.split("## Using the library from Python", 1)[1].split("\n## ", 1)[0]
    blocks = re.findall(r"```python\n(.*?)```", section, re.S)
    assert blocks, "the README's Python section has no python example"
    return "\n".join(blocks)


@pytest.fixture(scope="module")
def program(tmp_path_factory):
    path = tmp_path_factory.mktemp("readme") / "example.py"
    path.write_text(examples(), encoding="utf-8")
    return path


def test_the_examples_run(program):
    # In a process of their own: the example opens the process's one Client.
    done = subprocess.run([sys.executable, str(program)], capture_output=True, text=True,
                          timeout=120, cwd=program.parent)
    assert done.returncode == 0, done.stderr
    assert "True\n" in done.stdout and "5 404 no such person (HTTP 404)" in done.stdout
    assert done.stdout.rstrip().endswith("Mine Mine")


def test_the_examples_type_check(program):
    pytest.importorskip("mypy", reason="mypy is not installed (Debian package: mypy)")
    done = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--cache-dir=/dev/null",
                           str(program)], capture_output=True, text=True, timeout=300,
                          cwd=program.parent)
    assert done.returncode == 0, done.stdout + done.stderr
