"""CREATE and MERGE, transactions, snapshots, parameters and results."""
import inspect
import math

import pytest

import _quillmere
from conftest import run_in_thread
from store_helpers import execute, rows as file_rows

STALE = "SQLite graph has changed since this handle was opened; call refresh() before writing"
CONFLICT = "graph changed since transaction started; rollback and retry the transaction"
INACTIVE = "transaction is no longer active"
READ_ONLY_TX = "write query requires a writable Graph transaction"


def test_create_a_path_with_counters_and_external_id(db):
    g = _quillmere.Graph(db)
    r = g.cypher("CREATE (a:Person {name: 'Ann', external_id: 'p1'})-[k:KNOWS {since: 2020}]->(b:Person) "
                 "RETURN a, b")
    assert r.summary == {"statement_type": "write", "nodes_created": 2, "relationships_created": 1,
                         "properties_set": 3, "rows": 1}
    a, b = r.records[0]["a"], r.records[0]["b"]
    assert (a.id, a.external_id, a.properties) == (0, "p1", {"name": "Ann", "external_id": "p1"})
    assert (b.id, b.external_id, b.labels) == (1, "node:1", ["Person"])
    for h in (g, _quillmere.Graph(db)):
        e = h.get_edge(0)
        assert (e.source, e.target, e.edge_type, e.properties) == (0, 1, "KNOWS", {"since": 2020})
        assert h.get_node_id("p1") == 0
    r = g.cypher("CREATE (a)-[:R]->(a) RETURN a")
    assert r.summary["nodes_created"] == 1 and r.summary["relationships_created"] == 1
    assert (g.get_edge(1).source, g.get_edge(1).target) == (2, 2)
    r = g.cypher("CREATE (n {a: 1, a: 2.5}) RETURN n.a")
    assert r.records == [{"n.a": 2.5}] and r.summary["properties_set"] == 2
    assert g.cypher("CREATE (n:X)").keys == [] and g.cypher("CREATE (n:X) RETURN n SKIP 1").records == []


@pytest.mark.parametrize("statement, message", [
    ("CREATE (a:T)-[:R]-(b:T)", "CREATE requires directed relationship patterns"),
    ("CREATE (a:T)-[r]->(b:T)", "CREATE relationships require a relationship type"),
    ("CREATE (a:T)-[a:R]->(b:T)", 'relationship variable "a" is already bound'),
    ("CREATE (a:T)-[r:R]->(b:T)-[r:R]->(c:T)", 'relationship variable "r" is already bound'),
    ("CREATE (n:T {x: null})", 'property "x" must be a scalar Cypher property value'),
    ("CREATE (n:T {x: [1, 2]})", 'property "x" must be a scalar Cypher property value'),
    ("CREATE (n:T {x: $v})", 'property "x" must be a scalar Cypher property value'),
    ("CREATE (a:T)-[:R {w: $missing}]->(b:T)", "missing Cypher parameter $missing"),
    ("CREATE (a:T)-[:``]->(b:T)", "edge_type cannot be empty"),
    ("CREATE (n:T {``: 1})", "property key cannot be empty"),
    ("CREATE (n:T {external_id: ''})", "external_id cannot be empty"),
    ("CREATE (n:T {external_id: 'ann'})", 'external_id "ann" already exists'),
    ("CREATE (a:T {external_id: 'x'})-[:R]->(b:T {external_id: 'x'})", 'external_id "x" already exists'),
    ("CREATE (n:T)", 'external_id "node:2" already exists'),
    ("RETURN 1 AS x UNION CREATE (n:T) RETURN 2 AS y", "UNION queries must return the same columns"),
])
def test_a_failing_write_changes_nothing(db, statement, message):
    g = _quillmere.Graph(db)
    g.add_node("ann", ["P"], None)
    g.add_node("node:2", ["P"], None)  # the default external id the next node would take
    if "external_id \"node:2\"" not in message:
        g.cypher("CREATE (n:P {external_id: 'spare'})")
    before = (g.node_count(), g.edge_count())
    with pytest.raises(ValueError) as info:
        g.cypher(statement, {"v": [1]})
    assert str(info.value) == message
    assert (g.node_count(), g.edge_count()) == before
    assert g.cypher("MATCH (n:T) RETURN count(*)").records == [{"count(*)": 0}]
    assert file_rows(db, "SELECT count(*) FROM nodes")[0][0] == before[0]
    assert file_rows(db, "SELECT count(*) FROM edges")[0][0] == 0


def test_merge_matches_first_or_creates_once(db):
    g = _quillmere.Graph(db)
    first = g.cypher("MERGE (n:Person {name: 'Ann'}) RETURN n")
    again = g.cypher("MERGE (n:Person {name: 'Ann'}) RETURN n")
    assert first.summary["nodes_created"] == 1 and first.summary["properties_set"] == 1
    assert again.summary == {"statement_type": "write", "nodes_created": 0, "relationships_created": 0,
                             "properties_set": 0, "rows": 1}
    assert again.records[0]["n"].id == first.records[0]["n"].id == 0
    g.add_node(None, ["Person"], {"name": "Ann"})
    assert g.cypher("MERGE (n:Person {name: 'Ann'}) RETURN id(n)").records == [{"id(n)": 0}]
    r = g.cypher("MERGE (a:Person {name: 'Ann'})-[:KNOWS]->(b:Person {name: 'Bob'}) RETURN id(a), id(b)")
    assert r.records == [{"id(a)": 2, "id(b)": 3}] and r.summary["relationships_created"] == 1
    assert g.cypher("MERGE (a:Person {name: 'Ann'})-[:KNOWS]->(b) RETURN id(a), id(b)").summary[
        "nodes_created"] == 0
    # A MERGE that writes nothing still commits, so a stale handle refuses it.
    other = _quillmere.Graph(db)
    other.add_node(None, None, None)
    with pytest.raises(ValueError, match="^" + STALE.replace("(", r"\(").replace(")", r"\)") + "$"):
        g.cypher("MERGE (n:Person {name: 'Ann'}) RETURN n")
    assert g.cypher("MATCH (n) RETURN count(*)").records == [{"count(*)": 4}]


def test_a_writing_union_reports_and_commits_its_writes(db):
    g = _quillmere.Graph(db)
    r = g.cypher("RETURN 1 AS x UNION CREATE (n:U {v: 5}) RETURN n.v AS x UNION MERGE (m:U {v: 5}) RETURN m.v AS x")
    assert [rec["x"] for rec in r.records] == [1, 5, 5]
    assert r.summary == {"statement_type": "write", "nodes_created": 1, "relationships_created": 0,
                         "properties_set": 1, "rows": 3}
    assert _quillmere.Graph(db).node_count() == 1
    assert g.cypher("RETURN 1 AS x UNION RETURN 2 AS x").summary["statement_type"] == "read"


def test_snapshots_read_only(g):
    g.cypher("CREATE (a:P {n: 1})-[:R]->(b:P {n: 2})")
    snap = g.snapshot()
    g.cypher("CREATE (c:P {n: 3})")
    assert [r["p.n"] for r in snap.cypher("MATCH (p:P) RETURN p.n").records] == [1, 2]
    for statement in ["MERGE (n:P {n: 1}) RETURN n", "MATCH (n) RETURN n UNION CREATE (n) RETURN n",
                      "CREATE (n)"]:
        with pytest.raises(ValueError, match=r"^GraphSnapshot\.cypher\(\) cannot execute write queries$"):
            snap.cypher(statement)
    with pytest.raises(ValueError, match="^missing Cypher parameter"):
        snap.cypher("RETURN $p")


def test_transaction_isolation_commit_and_rollback(db):
    g = _quillmere.Graph(db)
    with g.transaction() as tx:
        assert tx.run("CREATE (a:T {v: 1})").summary["nodes_created"] == 1
        assert tx.run("MATCH (a:T) RETURN a.v").records == [{"a.v": 1}]
        assert g.cypher("MATCH (a:T) RETURN count(*)").records == [{"count(*)": 0}]
        with pytest.raises(ValueError, match="^CREATE requires directed relationship patterns$"):
            tx.run("CREATE (b:T)-[:R]-(c:T)")
        assert tx.run("MATCH (a:T) RETURN count(*)").records == [{"count(*)": 1}]
        tx.run("CREATE (b:T {v: 2})-[:R]->(c:T {v: 3})")
    assert g.cypher("MATCH (a:T)-[:R]->(b) RETURN a.v, b.v").records == [{"a.v": 2, "b.v": 3}]
    assert (_quillmere.Graph(db).node_count(), _quillmere.Graph(db).edge_count()) == (3, 1)
    with pytest.raises(KeyError):
        with g.transaction() as tx:
            tx.run("CREATE (x:Gone)")
            raise KeyError("boom")
    assert g.cypher("MATCH (x:Gone) RETURN count(*)").records == [{"count(*)": 0}]
    for method in ("run", "commit"):
        with pytest.raises(ValueError, match=f"^{INACTIVE}$"):
            getattr(tx, method)(*(["RETURN 1"] if method == "run" else []))
    assert tx.rollback() is None and tx.rollback() is None


def test_read_only_transactions_and_commit_rules(g):
    ro = g.transaction(write=False)
    assert ro.run("RETURN 1 AS one").records == [{"one": 1}]
    for statement in ("CREATE (n)", "MERGE (n) RETURN n"):
        with pytest.raises(ValueError, match=f"^{READ_ONLY_TX}$"):
            ro.run(statement)
    g.add_node(None, None, None)
    assert ro.commit() is None  # nothing to apply, so no conflict
    with pytest.raises(TypeError):
        g.transaction(write=1)
    tx = g.transaction()
    tx.run("CREATE (n:Late)")
    g.cypher("CREATE (m)")
    with pytest.raises(ValueError, match=f"^{CONFLICT}$"):
        tx.commit()
    assert tx.run("MATCH (n:Late) RETURN count(*)").records == [{"count(*)": 1}]  # still active
    with pytest.raises(ValueError, match=f"^{CONFLICT}$"):
        with tx:
            pass
    tx.rollback()
    assert g.node_count() == 2
    assert tx.__enter__() is tx and tx.__exit__(None, None, None) is False


def test_a_store_that_fails_at_commit_changes_nothing(db):
    g = _quillmere.Graph(db)
    g.cypher("CREATE (a:Keep)")
    execute(db, "CREATE TRIGGER refuse BEFORE INSERT ON edges BEGIN SELECT RAISE(ABORT, 'refused'); END")
    with pytest.raises(ValueError, match="refused"):
        g.cypher("CREATE (a:New)-[:R]->(b:New)")
    tx = g.transaction()
    tx.run("CREATE (a:New)-[:R]->(b:New)")
    with pytest.raises(ValueError, match="refused"):
        tx.commit()
    for h in (g, _quillmere.Graph(db)):
        assert (h.node_count(), h.edge_count()) == (1, 0)
        assert h.cypher("MATCH (n:New) RETURN count(*)").records == [{"count(*)": 0}]
    execute(db, "DROP TRIGGER refuse")
    tx.commit()  # the failed commit left it active, with its records
    assert (_quillmere.Graph(db).node_count(), _quillmere.Graph(db).edge_count()) == (3, 1)


def test_parameters_in_and_values_out(g):
    g.cypher("CREATE (a:P {name: 'Ann'})-[:K {w: 1.5}]->(b:P)")
    big = {"b": [1, 2.5, "s", None, True, {"z": 1, "a": [2]}]}
    r = g.cypher("RETURN $b AS b, $i AS i", {**big, "i": -(2 ** 63)})
    assert r.records == [{"b": big["b"], "i": -(2 ** 63)}]
    assert list(r.records[0]["b"][5]) == ["a", "z"]
    r = g.cypher("MATCH (a)-[k]->(b) RETURN a, k, b, [a, k] AS both")
    rec = r.records[0]
    assert isinstance(rec["a"], _quillmere.Node) and isinstance(rec["k"], _quillmere.Edge)
    assert rec["k"].properties == {"w": 1.5} and rec["both"][0].properties == {"name": "Ann"}
    assert r.records[0] is not r.records[0] and r.keys is not r.keys
    assert repr(g.cypher("MATCH (n) RETURN n, n.name")) == 'CypherResult(keys=["n", "n.name"], rows=2)'
    assert g.cypher("RETURN 1 AS x, 2 AS x").records == [{"x": 2}]
    assert g.cypher("MATCH (n {name: $n}) RETURN id(n)", {"n": "Ann"}).records == [{"id(n)": 0}]


@pytest.mark.parametrize("params, error, message", [
    ({"p": (1, 2)}, ValueError, "Cypher parameters must be None, bool, int, float, str, list, or dict"),
    ({"p": {1, 2}}, ValueError, "Cypher parameters must be None, bool, int, float, str, list, or dict"),
    ({"p": math.nan}, ValueError, "Cypher float parameters must be finite"),
    ({"p": [math.inf]}, ValueError, "Cypher float parameters must be finite"),
    ({1: 2}, ValueError, "Cypher parameter keys must be strings"),
    ({"p": {"a": {2: 1}}}, ValueError, "Cypher map keys must be strings"),
    ({"p": 2 ** 63}, OverflowError, None),
])
def test_parameter_refusals(g, params, error, message):
    for run in (g.cypher, g.transaction().run, g.snapshot().cypher):
        with pytest.raises(error) as info:
            run("RETURN $p", params)
        if message:
            assert str(info.value) == message


def test_argument_types(g):
    for call in (lambda: g.cypher("RETURN 1", [("p", 1)]), lambda: g.cypher(5),
                 lambda: g.transaction().run("RETURN 1", 3)):
        with pytest.raises(TypeError):
            call()


def test_surface_of_the_new_classes(g):
    tx = g.transaction()
    sigs = {name: str(inspect.signature(getattr(tx, name)))
            for name in ("run", "commit", "rollback", "__enter__", "__exit__")}
    assert sigs == {"run": "(query, parameters=None)", "commit": "()", "rollback": "()", "__enter__": "()",
                    "__exit__": "(exc_type, _exc, _traceback)"}
    for cls in (_quillmere.CypherResult, _quillmere.GraphTransaction):
        with pytest.raises(TypeError):
            cls()
    result = g.cypher("RETURN 1 AS one")
    value, error = run_in_thread(lambda: (result.keys, result.summary["rows"]))
    assert error is None and value == (["one"], 1)
    _, error = run_in_thread(lambda: tx.run("RETURN 1"))
    assert type(error).__name__ == "PanicException"
    assert str(error) == "quillmere::GraphTransaction is unsendable, but sent to another thread"
