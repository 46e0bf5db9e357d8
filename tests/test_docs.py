"""Every code block of the user guide runs, so the guide cannot drift: a page's Python blocks
in order in one namespace, its shell blocks under bash with a `quillmere` command, each page
in a fresh folder."""
import os
import pathlib
import re
import subprocess
import sys

import pytest

DOCS = pathlib.Path(__file__).resolve().parent.parent / "docs"
BLOCK = re.compile(r"^```(\w+)\n(.*?)^```", re.M | re.S)
PAGES = sorted(p.name for p in DOCS.glob("*.md"))


def blocks(page):
    return [(m.group(1), m.group(2), page.read_text()[:m.start()].count("\n") + 2)
            for m in BLOCK.finditer(page.read_text())]


def test_guide_has_every_page_linked_from_the_index():
    index = (DOCS / "index.md").read_text()
    linked = set(re.findall(r"\]\(([\w-]+\.md)\)", index))
    assert linked == set(PAGES) - {"index.md"}
    assert len(linked) == 8


@pytest.mark.parametrize("name", PAGES)
def test_guide_page_runs(name, tmp_path, monkeypatch, capsys):
    page = DOCS / name
    found = blocks(page)
    assert found, f"{name} has no code block"
    monkeypatch.chdir(tmp_path)
    shim = tmp_path / "bin" / "quillmere"
    shim.parent.mkdir()
    shim.write_text(f'#!/bin/sh\nexec "{sys.executable}" -m quillmere "$@"\n')
    shim.chmod(0o755)
    env = dict(os.environ, PATH=f"{shim.parent}{os.pathsep}{os.environ['PATH']}",
               PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    namespace = {"__name__": f"docs_{name[:-3].replace('-', '_')}"}
    for language, code, line in found:
        if language == "python":
            exec(compile(code, f"{page}:{line}", "exec"), namespace)
        elif language == "sh":
            done = subprocess.run(["bash", "-euo", "pipefail", "-c", code], cwd=tmp_path, env=env,
                                  capture_output=True, text=True, timeout=120)
            assert done.returncode == 0, f"{page}:{line}\n{done.stdout}\n{done.stderr}"
        else:
            pytest.fail(f"{page}:{line}: unknown block language {language!r}")
