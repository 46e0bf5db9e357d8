"""The propagation engine applies exactly the updates of the written full sweep.

The engine keeps every candidate and recomputes only what an applied update can change; a
small driver prints the (kind, factor, variable) of every update it applies, and the
plain-Python full sweep must apply the same ones, in the same order, with the same figures
and beliefs. Values come from a small set so equal residuals (the tie-break) are common.
"""

import os
import shutil
import subprocess
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import inference_reference as ref

ROOT = Path(__file__).resolve().parent.parent
# The compiler and the driver are plain programs: a sanitizer runtime preloaded into this
# interpreter is not theirs.
PLAIN_ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


@pytest.fixture(scope="module")
def driver(tmp_path_factory):
    cxx = os.environ.get("CXX") or shutil.which("g++") or shutil.which("c++")
    assert cxx, "a C++ compiler is needed to build the schedule driver"
    exe = tmp_path_factory.mktemp("driver") / "schedule_driver"
    sources = [ROOT / "tests" / "inference_schedule_driver.cpp",
               ROOT / "src" / "inference" / "message_passing.cpp",
               ROOT / "src" / "inference" / "messages.cpp"]
    subprocess.run([cxx, "-std=c++23", "-O1", f"-I{ROOT / 'src'}", *map(str, sources), "-o", str(exe)],
                   check=True, env=PLAIN_ENV)
    return exe


def encode(model, max_iters, tolerance, damping):
    vs = sorted(model.cards)
    parts = [len(vs), *[model.cards[v] for v in vs], *[model.evidence.get(v, -1) for v in vs]]
    for v in vs:
        if v not in model.evidence:
            parts += [repr(x) for x in model.base[v]]
    parts.append(len(model.factors))
    for fid, fvs, values, is_cpd in model.factors:
        parts += [fid, int(is_cpd), len(fvs), *fvs, len(values), *[repr(x) for x in values]]
    parts += [max_iters, repr(tolerance), repr(damping)]
    return " ".join(map(str, parts))


def run_driver(driver, model, max_iters, tolerance, damping):
    out = subprocess.run([str(driver)], input=encode(model, max_iters, tolerance, damping),
                         capture_output=True, text=True, check=True, env=PLAIN_ENV).stdout
    updates, beliefs, figures, error = [], {}, None, None
    for line in out.splitlines():
        tag, *rest = line.split(" ", 1)
        rest = rest[0] if rest else ""
        if tag == "U":
            updates.append(tuple(int(x) for x in rest.split()))
        elif tag == "R":
            it, upd, res, conv = rest.split()
            figures = (int(it), int(upd), float(res), conv == "1")
        elif tag == "B":
            v, *ps = rest.split()
            beliefs[int(v)] = [float(p) for p in ps]
        elif tag == "E":
            error = rest
    return updates, figures, beliefs, error


WEIGHTS = [0.0, 0.25, 0.5, 1.0, 2.0, 3.0]


@st.composite
def models(draw):
    n = draw(st.integers(1, 5))
    cards = {v: draw(st.integers(1, 3)) for v in range(n)}
    evidence = {}
    for v in range(n):
        if draw(st.booleans()) and draw(st.booleans()):
            evidence[v] = draw(st.integers(0, cards[v] - 1))
    base = {}
    for v in range(n):
        if v not in evidence:
            raw = [draw(st.sampled_from(WEIGHTS[1:])) for _ in range(cards[v])]
            base[v] = ref.normalize(raw)
    factors = []
    fid = 0
    for _ in range(draw(st.integers(0, 5))):
        fid += draw(st.integers(1, 3))  # ids ascend with gaps, as tables among other factors
        fvs = draw(st.lists(st.integers(0, n - 1), min_size=1, max_size=3, unique=True))
        size = 1
        for v in fvs:
            size *= cards[v]
        values = [draw(st.sampled_from(WEIGHTS)) for _ in range(size)]
        if all(x == 0.0 for x in values):
            values[0] = 1.0
        factors.append((fid, fvs, values, draw(st.booleans())))
    return ref.Model(cards, base, evidence, factors)


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(model=models(), max_iters=st.integers(0, 60), tolerance=st.sampled_from([0.0, 1e-9, 1e-3, 0.1]),
       damping=st.sampled_from([0.0, 0.2, 0.5, 1.0]))
def test_same_updates_in_the_same_order_as_the_full_sweep(driver, model, max_iters, tolerance, damping):
    updates, figures, beliefs, error = run_driver(driver, model, max_iters, tolerance, damping)
    try:
        expected = ref.run(model, max_iters, tolerance, damping)
    except ref.NoMass:
        assert error == ref.NO_MASS
        return
    assert error is None
    want_updates, iterations, updated, max_residual, converged, want_beliefs = expected
    assert updates == want_updates
    assert figures[:2] == (iterations, updated) and figures[3] == converged
    assert figures[2] == pytest.approx(max_residual, abs=1e-12)
    for v, b in want_beliefs.items():
        assert beliefs[v] == pytest.approx(b, abs=1e-12)


def chain(n, weights):
    """A binary chain 0 - 1 - ... - n-1 of pairwise tables, ids 0..n-2."""
    cards = {v: 2 for v in range(n)}
    base = {v: [0.5, 0.5] for v in range(n)}
    factors = [(i, [i, i + 1], list(weights), False) for i in range(n - 1)]
    return ref.Model(cards, base, {}, factors)


def test_long_runs_on_a_loop_and_a_chain_follow_the_sweep(driver):
    # A loop keeps residuals alive for many passes; a symmetric chain is all ties at first.
    loop = ref.Model({0: 2, 1: 2, 2: 3}, {0: [0.3, 0.7], 1: [0.5, 0.5], 2: [0.2, 0.3, 0.5]}, {},
                     [(0, [0, 1], [1.0, 0.2, 0.3, 2.0], False),
                      (1, [1, 2], [0.5, 1.0, 0.1, 0.9, 0.4, 0.3], True),
                      (2, [2, 0], [1.0, 0.5, 0.7, 0.2, 0.9, 1.0], False)])
    for model in (loop, chain(8, [1.0, 0.5, 0.25, 1.0])):
        for damping in (0.0, 0.2):
            updates, figures, beliefs, error = run_driver(driver, model, 400, 1e-12, damping)
            want_updates, iterations, updated, _, converged, want_beliefs = ref.run(model, 400, 1e-12, damping)
            assert error is None and updates == want_updates and len(updates) > 20
            assert figures[:2] == (iterations, updated) and figures[3] == converged
            for v, b in want_beliefs.items():
                assert beliefs[v] == pytest.approx(b, abs=1e-12)
