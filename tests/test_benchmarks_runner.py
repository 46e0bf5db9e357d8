"""The benchmark runner end to end at its smallest size, so it cannot rot unnoticed."""
import os
import re
import subprocess
import sys

from benchmarks import core, report, worker

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def test_tiny_run_writes_a_page_with_every_family_and_no_disagreement(tmp_path):
    out = subprocess.run([sys.executable, "-m", "benchmarks", "--size", "tiny", "--repeat", "2", "--out",
                          str(tmp_path)], cwd=ROOT, capture_output=True, text=True, timeout=600)
    assert out.returncode == 0, out.stdout[-2000:] + out.stderr[-2000:]
    page = (tmp_path / "RESULTS.md").read_text()
    for section in ("## Headline", "## Machine", "## Versions", "## Size: tiny", "## How measured",
                    "## Memory per edge", "## Plots", "## Results by family"):
        assert section in page, section
    for family in worker.FAMILIES:
        assert f"### {report.TITLES[family]}" in page, family
        assert re.search(rf"^\| {family}: ", page, re.M), f"no headline row for {family}"
    assert "DISAGREE" not in page and "unchecked" not in page
    # Every one of our tasks ran and was timed; only peers may fail (one lacking scipy, say).
    ours_rows = re.findall(r"^\| ours \| `[^`]*` \| ([^|]*) \|", page, re.M)
    assert len(ours_rows) == sum("ours" in t.impls for f in worker.FAMILIES for t in worker.family_module(f).TASKS)
    assert all(re.fullmatch(r"[\d.]+ (µs|ms|s)", cell.strip()) for cell in ours_rows), ours_rows
    assert "| ours, no properties | " in page
    if (tmp_path / "results" / "times.png").exists():
        assert "![time per task" in page
    else:
        assert "plots were skipped" in page


def test_answer_checks_catch_what_differs():
    exact = core.Compare("same sets", core.sorted_lists)
    assert exact.check(exact.reduce([[2, 1], [3]]), exact.reduce([[1, 2], [3]]))[0]
    assert not exact.check(exact.reduce([[2, 1], [3]]), exact.reduce([[1, 2], [4]]))[0]
    close = core.Compare("scores", core.keyed, tol=1e-6)
    ours = close.reduce({1: 0.5, 2: 0.25})
    assert close.check(ours, close.reduce({2: 0.25 + 1e-8, 1: 0.5}))[0]
    assert not close.check(ours, close.reduce({1: 0.5, 2: 0.26}))[0]
    assert not close.check(ours, close.reduce({1: 0.5, 3: 0.25}))[0]  # a different node scored
    assert not close.check(ours, close.reduce({1: 0.5}))[0]
    plain = core.Compare("values", tol=1e-6)
    assert not plain.check([0.1, 0.2], [0.1])[0]
