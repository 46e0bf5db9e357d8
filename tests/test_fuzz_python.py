"""Generated Python values thrown at the two places that convert caller-built structures:
the query dictionary and Cypher parameters. Anything may be refused, with the module's
ordinary exceptions; nothing may crash, hang or answer differently on a second run."""
import os

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _quillmere as q

QUERY_WORDS = ["match", "node", "edge", "id", "external_id", "labels", "properties", "where", "property",
               "value", "op", "eq", "in", "type", "direction", "out", "in", "both", "limit", "return",
               "a", "b", "e", "R", "P", "name", "n", "w"]

scalars = (st.none() | st.booleans() | st.integers(min_value=-2**70, max_value=2**70)
           | st.floats() | st.sampled_from(QUERY_WORDS) | st.text(max_size=8) | st.binary(max_size=4))
values = st.recursive(
    scalars,
    lambda inner: (st.lists(inner, max_size=4) | st.tuples(inner, inner)
                   | st.dictionaries(st.sampled_from(QUERY_WORDS) | st.integers(0, 3), inner, max_size=4)),
    max_leaves=24)

# Shaped like a query often enough to get past the first checks.
elements = st.dictionaries(st.sampled_from(QUERY_WORDS), values, max_size=4)
specs = st.one_of(
    values,
    st.fixed_dictionaries({"match": st.lists(elements, max_size=5)},
                          optional={"return": values, "limit": values, "where": values}))

REFUSALS = (ValueError, TypeError, OverflowError, RecursionError, KeyError)


def small_graph():
    g = q.Graph()
    g.add_nodes([{"external_id": f"n{i}", "labels": ["P"] if i % 2 else ["Q"],
                  "properties": {"name": f"n{i}", "n": i, "w": i / 2}} for i in range(5)])
    g.add_edges([{"source": i, "target": (i + 1) % 5, "edge_type": "R", "properties": {"w": i}}
                 for i in range(5)])
    return g


GRAPH = small_graph()


def outcome(call):
    try:
        return ("ok", repr(call()))
    except REFUSALS as e:
        return (type(e).__name__, str(e))


@settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))
@given(specs)
def test_query_dictionaries_answer_or_refuse(spec):
    first = outcome(lambda: GRAPH.query(spec))
    assert outcome(lambda: GRAPH.snapshot().query(spec)) == first


STATEMENTS = ["RETURN $p", "RETURN $p AS x, $p = $p AS same", "MATCH (n:P) WHERE n.n = $p RETURN n.name",
              "MATCH (n) WHERE n.name IN $p RETURN count(*)", "RETURN [$p, [$p]] AS nest", "RETURN $p.k",
              "CREATE (n:T {v: $p}) RETURN n.v"]


@settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))
@given(st.sampled_from(STATEMENTS), st.dictionaries(st.sampled_from(["p", "q", ""]) | st.integers(0, 2), values,
                                                    max_size=3))
def test_cypher_parameters_answer_or_refuse(statement, params):
    g = small_graph()
    first = outcome(lambda: g.snapshot().cypher(statement, params))
    assert outcome(lambda: g.snapshot().cypher(statement, params)) == first
    outcome(lambda: g.cypher(statement, params))


def test_the_long_run_driver_runs():
    # stress/fuzz_python.py runs millions of these; a few thousand here keep it from rotting.
    import subprocess
    import sys
    here = os.path.dirname(os.path.abspath(__file__))
    done = subprocess.run([sys.executable, os.path.join(here, "..", "stress", "fuzz_python.py"), "3000", "1"],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "query dictionaries: 3000 inputs, 0 failures" in done.stdout
    assert "Cypher parameters: 3000 inputs, 0 failures" in done.stdout
