"""Persisted belief propagation: posteriors and the trace through a file, all or nothing."""

import pytest

import _quillmere
from store_helpers import execute, rows


def pair_model(g):
    a = g.add_variable("binary", prior={"p": 0.3})
    b = g.add_variable("binary")
    g.add_cpd(b, [a], [0.9, 0.1, 0.2, 0.8])
    return a, b


def stored_posteriors(path):
    return {v: [float(x) for x in text.split(",")]
            for v, text in rows(path, "SELECT variable_id, values_text FROM latest_posteriors ORDER BY variable_id")}


def test_persist_round_trip_through_a_file(db):
    g = _quillmere.Graph(db)
    a, b = pair_model(g)
    before = g.posterior(b)
    r = g.belief_propagation([b], persist=False)
    assert r["trace_id"] is None and g.posterior(b) == before and g.trace_count() == 0
    assert stored_posteriors(db) == {}

    r = g.belief_propagation([b], persist=True, tolerance=1e-10)
    assert isinstance(r["trace_id"], int) and g.trace_count() == 1
    assert g.posterior(b) == r["beliefs"][b]
    assert g.posterior(a) == {"false": 0.7, "true": 0.3}  # not an output: untouched
    want = 0.7 * 0.1 + 0.3 * 0.8
    assert r["beliefs"][b]["true"] == pytest.approx(want, abs=1e-9)
    assert stored_posteriors(db) == {b: [r["beliefs"][b]["false"], r["beliefs"][b]["true"]]}
    payload = g.get_trace(r["trace_id"]).payload
    assert payload == {"kind": "belief_propagation", "schedule": "residual_async",
                       "iterations": r["iterations"], "messages_updated": r["messages_updated"],
                       "converged": True, "max_residual": r["max_residual"], "active_variables": 2,
                       "active_factors": 1, "active_graph_nodes": 0, "truncated": False}

    # A later run for another variable writes every posterior held, earlier ones included.
    r2 = g.belief_propagation([a], evidence={b: "true"}, persist=True)
    assert set(stored_posteriors(db)) == {a, b} and r2["trace_id"] == r["trace_id"] + 1

    reopened = _quillmere.Graph(db)
    for v, belief in ((a, r2["beliefs"][a]), (b, r["beliefs"][b])):
        got = reopened.posterior(v)
        assert list(got) == ["false", "true"]
        assert [got["false"], got["true"]] == pytest.approx([belief["false"], belief["true"]], abs=1e-15)
    assert reopened.get_trace(r2["trace_id"]).payload["kind"] == "belief_propagation"


def test_a_failed_posterior_write_changes_nothing(db):
    g = _quillmere.Graph(db)
    a, b = pair_model(g)
    first = g.belief_propagation([a], persist=True)
    # The second row of the next write fails: the first row must not stay behind.
    execute(db, f"""CREATE TRIGGER refuse AFTER INSERT ON latest_posteriors WHEN NEW.variable_id = {b}
                    BEGIN SELECT RAISE(ABORT, 'refused'); END""")
    rows_before = stored_posteriors(db)
    posteriors_before = (g.posterior(a), g.posterior(b))
    with pytest.raises(ValueError, match="refused"):
        g.belief_propagation([a, b], evidence={a: "true"}, persist=True)
    assert stored_posteriors(db) == rows_before
    assert (g.posterior(a), g.posterior(b)) == posteriors_before
    assert g.posterior(a) == first["beliefs"][a]
    assert g.trace_count() == 1 and rows(db, "SELECT COUNT(*) FROM traces") == [(1,)]
    execute(db, "DROP TRIGGER refuse")
    assert g.belief_propagation([a, b], persist=True)["trace_id"] == 1


def test_a_stale_handle_persists_nothing(db):
    g = _quillmere.Graph(db)
    a, b = pair_model(g)
    other = _quillmere.Graph(db)
    other.add_variable("binary")
    with pytest.raises(ValueError, match="call refresh\\(\\) before writing"):
        g.belief_propagation([b], persist=True)
    assert stored_posteriors(db) == {} and g.trace_count() == 0 and g.posterior(b) == {"false": 0.5, "true": 0.5}
    # Without persist nothing is written, so a stale handle still answers.
    assert g.belief_propagation([b])["trace_id"] is None
    g.refresh()
    assert g.belief_propagation([b], persist=True)["trace_id"] == 0


def test_borrows_and_in_memory_persist():
    g = _quillmere.Graph()
    a, b = pair_model(g)

    class Reentrant:
        # An id whose conversion calls back into the graph while the outer call holds it.
        def __init__(self, inner):
            self.inner = inner

        def __index__(self):
            self.inner()
            return 0

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        g.compile_active_subgraph([Reentrant(g.belief_propagation)])
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        g.belief_propagation([Reentrant(lambda: g.compile_active_subgraph([0]))])
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        g.belief_propagation([Reentrant(lambda: g.local_propagate({}))])
    # Shared with shared is fine.
    assert g.compile_active_subgraph([Reentrant(lambda: g.compile_active_subgraph([1]))])["variables"] == [0, 1]
    # Every borrow was released; in memory, persist keeps posteriors and traces too.
    r = g.belief_propagation(persist=True, evidence={a: "false"})
    assert r["trace_id"] == 0 and g.posterior(a) == {"false": 1.0, "true": 0.0} and g.posterior(b) == r["beliefs"][b]
