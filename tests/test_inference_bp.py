"""Belief propagation through the Python surface: exact marginals on a tree, the residual
schedule against the plain full-sweep reference (pass counts, residuals and beliefs after any
number of passes, ties, CPDs, evidence), stored evidence, warnings and the result's shape."""

import itertools
import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _quillmere
import inference_reference as ref

DIAGNOSTIC_KEYS = ["active_factors", "active_graph_nodes", "active_variables", "boundary_variables",
                   "converged", "damping", "iterations", "max_iters", "max_residual", "messages_updated",
                   "tolerance", "truncated"]


def probs(belief):
    return [belief["false"], belief["true"]]


def brute_force(cards, priors, factors, evidence):
    """Exact marginals by enumerating every joint state. factors: (vars, values, is_cpd)."""
    vs = sorted(cards)
    totals = {v: [0.0] * cards[v] for v in vs}
    for joint in itertools.product(*[range(cards[v]) for v in vs]):
        state = dict(zip(vs, joint))
        if any(state[v] != s for v, s in evidence.items()):
            continue
        w = 1.0
        for v in vs:
            w *= priors[v][state[v]]
        for fvs, values, is_cpd in factors:
            st_ = ref.strides([cards[v] for v in fvs], is_cpd)
            w *= values[sum(state[v] * s for v, s in zip(fvs, st_))]
        for v in vs:
            totals[v][state[v]] += w
    return {v: [x / sum(t) for x in t] for v, t in totals.items()}


def test_result_shape_and_a_single_factor():
    g = _quillmere.Graph()
    a = g.add_variable("binary")
    g.add_factor_table([a], [1.0, 3.0])
    r = g.belief_propagation()
    assert list(r) == ["beliefs", "active", "schedule", "iterations", "messages_updated", "converged",
                       "max_residual", "trace_id", "warnings", "diagnostics"]
    assert r["schedule"] == "residual_async" and r["trace_id"] is None and r["warnings"] == []
    assert r["converged"] is True
    assert probs(r["beliefs"][a]) == pytest.approx([0.25, 0.75], abs=1e-6)
    assert r["active"] == {"variables": [a], "factors": [0], "graph_nodes": [], "boundary_variables": [],
                           "truncated": False}
    d = r["diagnostics"]
    assert list(d) == DIAGNOSTIC_KEYS
    assert (d["active_factors"], d["active_variables"], d["damping"], d["tolerance"], d["max_iters"]) == \
        (1, 1, 0.2, 1e-6, 1000)
    assert (d["iterations"], d["messages_updated"], d["converged"], d["max_residual"]) == \
        (r["iterations"], r["messages_updated"], True, r["max_residual"])
    assert type(d["iterations"]) is int and type(d["truncated"]) is bool and type(d["damping"]) is float


def test_a_tree_is_exact_against_enumeration():
    # Mixed cardinalities, CPDs and plain tables, uneven priors, one observed leaf: on a tree the
    # converged beliefs are the exact marginals, which keeps the sweep reference honest too.
    cards = {0: 2, 1: 3, 2: 2, 3: 3, 4: 2}
    raw = {0: [0.7, 0.3], 1: [1, 2, 1], 2: [1, 1], 3: [1, 0, 5], 4: [1, 1]}
    factors = [([1, 0], [0.2, 0.5, 0.3, 0.6, 0.1, 0.3], True),
               ([0, 2], [1.0, 2.0, 0.5, 0.25], False),
               ([3, 1], [0.1, 0.2, 0.7, 0.3, 0.3, 0.4, 0.5, 0.25, 0.25], True),
               ([4, 3], [0.9, 0.1, 0.5, 0.5, 0.0, 1.0], True)]
    g = build(cards, raw, factors)
    g.add_evidence(4, {"state": "s1"})
    exact = brute_force(cards, {v: ref.normalize(w) for v, w in raw.items()}, factors, {4: 1})
    # Stored evidence alone would seed the region with the leaf; ask about every variable.
    r = g.belief_propagation(list(range(5)), tolerance=1e-13, max_iters=100000)
    assert r["converged"]
    for v in range(5):
        assert [r["beliefs"][v][f"s{i}"] for i in range(cards[v])] == pytest.approx(exact[v], abs=1e-9)


def binary_loop(g, n=4):
    vs = [g.add_variable("binary", prior={"p": 0.2 + 0.1 * i}) for i in range(n)]
    for i in range(n):
        g.add_factor_table([vs[i], vs[(i + 1) % n]], [1.0, 0.3 + 0.1 * i, 0.5, 2.0])
    return vs


def test_iteration_warnings():
    g = _quillmere.Graph()
    binary_loop(g)
    # The pass counts themselves are the sweep reference's to check; these are the warnings.
    def warnings(max_iters):
        return g.belief_propagation(max_iters=max_iters)["warnings"]

    assert warnings(0) == ["belief propagation did not converge within 0 iterations"]
    assert warnings(10) == ["belief propagation did not converge within 10 iterations",
                            "belief propagation used 10 of 10 configured iterations"]
    full = g.belief_propagation(max_iters=100000)
    k = full["iterations"]
    assert full["converged"] and full["messages_updated"] == k - 1 and k > 20 and full["warnings"] == []
    # Converging in the last allowed pass counts as using them all; 9/10 is the threshold.
    assert warnings(k) == [f"belief propagation used {k} of {k} configured iterations"]
    near = (10 * k) // 9
    assert warnings(near) == [f"belief propagation used {k} of {near} configured iterations"]
    assert warnings(near + 1) == []
    # Damping 1 keeps every message: each pass would repeat the last, however many are asked.
    huge = 10**18
    r = g.belief_propagation(max_iters=huge, damping=1.0)
    assert (r["iterations"], r["messages_updated"], r["converged"]) == (huge, huge, False)
    assert r["warnings"] == [f"belief propagation did not converge within {huge} iterations",
                             f"belief propagation used {huge} of {huge} configured iterations"]
    # An empty model needs no pass at all to be converged.
    assert _quillmere.Graph().belief_propagation(max_iters=0)["converged"] is True


@pytest.mark.parametrize("kwargs, message", [
    ({"tolerance": math.nan}, "tolerance must be finite and non-negative"),
    ({"tolerance": math.inf}, "tolerance must be finite and non-negative"),
    ({"tolerance": -1.0, "damping": 2.0}, "tolerance must be finite and non-negative"),
    ({"damping": 1.5}, "damping must be between 0.0 and 1.0"),
    ({"damping": math.nan}, "damping must be between 0.0 and 1.0"),
    ({"evidence": {0: 0}}, "evidence values must be state strings"),
    ({"evidence": {"0": "true"}}, "evidence keys must be variable ids"),
    ({"evidence": {-1: "true"}}, "evidence keys must be variable ids"),
    ({"evidence": {2**64: "true"}}, "evidence keys must be variable ids"),
    ({"evidence": {0: "true", "x": 1}}, "evidence keys must be variable ids"),
    ({"evidence": {0: "maybe"}}, 'state "maybe" not found for variable 0'),
    ({"evidence": {7: "true"}}, "variable 7 not found"),
    ({"query_variables": [7]}, "variable 7 not found"),
    ({"query_variables": "01"}, (TypeError, "argument 'query_variables': Can't extract `str` to `Vec`")),
    ({"evidence": [(0, "true")]}, (TypeError, "argument 'evidence': 'list' object cannot be converted to 'PyDict'")),
])
def test_argument_errors(kwargs, message):
    exc, text = message if isinstance(message, tuple) else (ValueError, message)
    g = _quillmere.Graph()
    a = g.add_variable("binary")
    g.add_factor_table([a], [1.0, 2.0])
    with pytest.raises(exc) as e:
        g.belief_propagation(**kwargs)
    assert str(e.value) == text


def test_loose_arguments_and_query_order():
    g = _quillmere.Graph()
    ids = [g.add_variable("binary") for _ in range(6)]
    assert g.belief_propagation(tolerance=-0.0, damping=1)["converged"]
    # Beliefs ascend by id whatever the query's order; without a query every variable answers.
    assert list(g.belief_propagation([5, 2])["beliefs"]) == [2, 5]
    r = g.belief_propagation(None, None)
    assert list(r["beliefs"]) == ids and r["beliefs"][0] == {"false": 0.5, "true": 0.5}


def test_stored_evidence_then_the_argument():
    g = _quillmere.Graph()
    a = g.add_variable("binary")
    b = g.add_variable("binary")
    g.add_cpd(b, [a], [0.9, 0.1, 0.2, 0.8])
    g.add_evidence(a, {"state": "false"})
    g.add_evidence(a, {"state": "true", "note": "later wins"})
    g.add_evidence(b, {"source": "no state key"})
    g.add_evidence(b, {"state": 1})  # not a text: not evidence
    r = g.belief_propagation([a, b], tolerance=1e-10)
    assert probs(r["beliefs"][a]) == [0.0, 1.0]
    assert probs(r["beliefs"][b]) == pytest.approx([0.2, 0.8], abs=1e-9)
    assert probs(g.belief_propagation([a], evidence={a: "false"})["beliefs"][a]) == [1.0, 0.0]
    # A stored state the variable lacks is accepted when added and refused here.
    g.add_evidence(b, {"state": "maybe"})
    with pytest.raises(ValueError, match='^state "maybe" not found for variable 1$'):
        g.belief_propagation([a])


def test_evidence_impossible_under_every_parent_state():
    g = _quillmere.Graph()
    a = g.add_variable("binary")
    b = g.add_variable("binary")
    g.add_cpd(b, [a], [1.0, 0.0, 1.0, 0.0])
    # Undamped, the one-hot message replaces the uniform one and leaves the parent no mass.
    with pytest.raises(ValueError, match="^distribution must have positive finite mass$"):
        g.belief_propagation(evidence={b: "true"}, damping=0.0)


def test_prior_errors_reach_the_caller_unless_observed():
    g = _quillmere.Graph()
    a = g.add_variable("binary", prior={"p": 1.5})
    g.add_factor([a], [], "noisy_or")
    # No table: no message touches a, but its belief still reads the prior.
    with pytest.raises(ValueError, match="^binary prior key 'p' must be between 0.0 and 1.0$"):
        g.belief_propagation()
    # Observed, a's prior is never read.
    assert g.belief_propagation([a], evidence={a: "true"})["beliefs"][a] == {"false": 0.0, "true": 1.0}


# ------------------------------------------------------------ against the full sweep

WEIGHTS = [0.0, 0.25, 0.5, 1.0, 2.0, 3.0]


@st.composite
def models(draw):
    n = draw(st.integers(1, 5))
    cards = {v: draw(st.integers(1, 3)) for v in range(n)}
    raw = {v: [draw(st.sampled_from(WEIGHTS[1:])) for _ in range(cards[v])] for v in range(n)}
    evidence = {v: draw(st.integers(0, cards[v] - 1)) for v in range(n) if draw(st.integers(0, 3)) == 0}
    factors = []
    for _ in range(draw(st.integers(0, 5))):
        fvs = draw(st.lists(st.integers(0, n - 1), min_size=1, max_size=3, unique=True))
        size = math.prod(cards[v] for v in fvs)
        if draw(st.booleans()):
            # A CPD: child distributions that sum to one.
            c = cards[fvs[0]]
            values = []
            for _ in range(size // c):
                chunk = [draw(st.sampled_from(WEIGHTS[1:])) for _ in range(c)]
                values += [x / sum(chunk) for x in chunk]
            factors.append((fvs, values, True))
        else:
            values = [draw(st.sampled_from(WEIGHTS)) for _ in range(size)]
            if not any(values):
                values[0] = 1.0
            factors.append((fvs, values, False))
    return cards, raw, evidence, factors


def build(cards, raw, factors):
    g = _quillmere.Graph()
    for v, c in cards.items():
        states = [f"s{i}" for i in range(c)]
        g.add_variable("level", states=states, prior={s: w for s, w in zip(states, raw[v])})
    for fvs, values, is_cpd in factors:
        if is_cpd:
            g.add_cpd(fvs[0], fvs[1:], values)
        else:
            g.add_factor_table(fvs, values)
    return g


def check_against_the_sweep(m, max_iters, damping, tolerance):
    cards, raw, evidence, factors = m
    g = build(cards, raw, factors)
    model = ref.Model(cards, {v: ref.normalize(raw[v]) for v in cards if v not in evidence}, evidence,
                      [(i, fvs, values, is_cpd) for i, (fvs, values, is_cpd) in enumerate(factors)])
    # Every variable is asked about, so the region is the whole model, as in the reference.
    args = dict(query_variables=list(cards), evidence={v: f"s{s}" for v, s in evidence.items()},
                max_iters=max_iters, damping=damping, tolerance=tolerance)
    try:
        iterations, updated, max_residual, converged, beliefs = ref.run(model, max_iters, tolerance, damping)
    except ref.NoMass:
        with pytest.raises(ValueError, match=ref.NO_MASS):
            g.belief_propagation(**args)
        return 0
    r = g.belief_propagation(**args)
    assert (r["iterations"], r["messages_updated"], r["converged"]) == (iterations, updated, converged)
    assert r["max_residual"] == pytest.approx(max_residual, abs=1e-12)
    for v in cards:
        got = [r["beliefs"][v][f"s{i}"] for i in range(cards[v])]
        assert got == pytest.approx(beliefs[v], abs=1e-12)
    return updated


# Beliefs, counts and the last residual after any number of passes: an update applied out of
# the sweep's order, or a candidate the bookkeeping failed to recompute, shows in them.
@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(m=models(), max_iters=st.integers(0, 60), damping=st.sampled_from([0.0, 0.2, 0.5, 1.0]),
       tolerance=st.sampled_from([0.0, 1e-9, 1e-3, 0.1]))
def test_results_match_the_full_sweep_reference(m, max_iters, damping, tolerance):
    check_against_the_sweep(m, max_iters, damping, tolerance)


def test_long_runs_on_a_loop_and_a_chain_follow_the_sweep():
    # A loop keeps residuals alive for many passes; a symmetric chain is all ties at first.
    loop = ({0: 2, 1: 2, 2: 3}, {0: [0.3, 0.7], 1: [1.0, 1.0], 2: [0.2, 0.3, 0.5]}, {},
            [([0, 1], [1.0, 0.2, 0.3, 2.0], False), ([1, 2], [0.5, 0.5, 0.1, 0.9, 0.4, 0.6], True),
             ([2, 0], [1.0, 0.5, 0.7, 0.2, 0.9, 1.0], False)])
    chain = ({v: 2 for v in range(8)}, {v: [1.0, 1.0] for v in range(8)}, {},
             [([i, i + 1], [1.0, 0.5, 0.25, 1.0], False) for i in range(7)])
    for m in (loop, chain):
        for damping in (0.0, 0.2):
            assert check_against_the_sweep(m, 400, damping, 1e-12) > 20
