"""The database file as other programs see it: schema, exact rows, the text forms of fields,
and what opening a damaged or hostile file reports."""
import math
import os

import pytest
from hypothesis import given, settings, HealthCheck, strategies as st

import _quillmere as q
from store_helpers import rows, execute, encode_map, escape


TABLES = ["edge_properties", "edges", "evidence", "factor_tables", "factors", "latest_posteriors",
          "metadata", "node_properties", "nodes", "op_log", "property_keys", "property_values",
          "traces", "variable_states", "variables"]
INDEXES = ["idx_edge_properties_key", "idx_edge_properties_key_value", "idx_edges_source",
           "idx_edges_target", "idx_edges_type", "idx_evidence_variable", "idx_node_properties_key",
           "idx_node_properties_key_value", "idx_nodes_external_id", "idx_op_log_op",
           "idx_property_keys_scope", "idx_property_values_lookup", "idx_variable_states_variable",
           "idx_variables_owner"]


def test_new_file_has_schema_and_single_format_row(db):
    g = q.Graph(db)
    assert g.node_count() == 0
    names = rows(db, "SELECT type, name FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' ORDER BY name")
    assert sorted(n for t, n in names if t == "table") == TABLES
    assert sorted(n for t, n in names if t == "index") == INDEXES
    assert rows(db, "SELECT * FROM metadata") == [("storage_format", "quillmere-sqlite-v1")]
    assert rows(db, "PRAGMA journal_mode") == [("wal",)]
    cols = rows(db, "PRAGMA table_info(op_log)")
    assert [c[1] for c in cols] == ["seq", "op", "object_id", "payload", "created_at"]
    # Reopening keeps the single row and overwrites a foreign format value.
    execute(db, "UPDATE metadata SET value = 'other'")
    del g
    q.Graph.open(db)
    assert rows(db, "SELECT * FROM metadata") == [("storage_format", "quillmere-sqlite-v1")]


def test_written_rows_are_exact(db):
    g = q.Graph(db)
    a = g.add_node("ann", ["Person", "Person", "x\ny"], {"a": 1, "b": "x", "f": -0.0, "t": True})
    b = g.add_node(labels=None)
    e = g.add_edge(a, b, "knows", {"w": 2.5e-3})
    g.add_edges([{"source": b, "target": a, "edge_type": "back"}])
    assert rows(db, "SELECT * FROM nodes ORDER BY id") == [
        (0, "ann", "Person\nPerson\nx\\ny", "a\tint\t1\nb\tstring\tx\nf\tfloat\t-0\nt\tbool\ttrue"),
        (1, "node:1", "", ""),
    ]
    assert rows(db, "SELECT * FROM node_properties ORDER BY key") == [
        (0, "a", "int", "1"), (0, "b", "string", "x"), (0, "f", "float", "-0"), (0, "t", "bool", "true")]
    assert rows(db, "SELECT * FROM edges ORDER BY id") == [(e, 0, 1, "knows", "w\tfloat\t0.0025"), (1, 1, 0, "back", "")]
    assert rows(db, "SELECT * FROM edge_properties") == [(0, "w", "float", "0.0025")]
    assert rows(db, "SELECT * FROM property_keys ORDER BY scope, key") == [
        ("edge", "w"), ("node", "a"), ("node", "b"), ("node", "f"), ("node", "t")]
    assert ("node", "a", "int", "1") in rows(db, "SELECT * FROM property_values")
    # The database fills created_at itself, in Unix seconds.
    stamps = rows(db, "SELECT created_at, typeof(created_at) FROM op_log")
    assert all(t == "integer" and s > 1_600_000_000 for s, t in stamps)


def test_empty_batches_log_nothing_but_still_check_staleness(db):
    g = q.Graph(db)
    assert g.add_nodes([]) == [] and g.add_edges([]) == []
    other = q.Graph(db)
    other.add_node()
    with pytest.raises(ValueError, match="call refresh"):
        g.add_nodes([])


# The file cannot hold NUL inside text; the store refuses it (tested below).
TEXT = st.characters(blacklist_categories=("Cs",), blacklist_characters="\0")


@given(st.dictionaries(
    st.text(TEXT, min_size=1, max_size=6),
    st.one_of(st.booleans(), st.integers(-2**63, 2**63 - 1),
              st.floats(allow_nan=False, allow_infinity=False), st.text(TEXT, max_size=8)),
    max_size=5),
    st.lists(st.text(TEXT, min_size=1, max_size=5), max_size=3))
@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
def test_any_values_round_trip_through_the_file(tmp_path_factory, props, labels):
    path = str(tmp_path_factory.mktemp("rt") / "g.db")
    g = q.Graph(path)
    g.add_node("n\t\\x\r\n", labels, props)
    [(external_id, stored_labels, stored_props)] = rows(path, "SELECT external_id, labels, properties FROM nodes")
    assert external_id == "n\t\\x\r\n"
    assert stored_props == encode_map(props)
    if labels != [""]:
        assert stored_labels == "\n".join(escape(l) for l in labels)
    back = q.Graph(path).get_node(0)
    assert back.labels == labels
    got = back.properties
    assert set(got) == set(props)
    for k, v in props.items():
        assert type(got[k]) is type(v)
        if isinstance(v, float):
            assert math.copysign(1, got[k]) == math.copysign(1, v) and got[k] == v
        else:
            assert got[k] == v


# Hand-written stored fields: (properties column, expected open error or expected properties).
PROPERTY_TEXTS = [
    ("k\tv1", {"k": "v1"}),
    ("k\tstring\t", {"k": ""}),
    ("k\t", {"k": ""}),
    ("k\tint\t+7", {"k": 7}),
    ("a\tint\t1\n", {"a": 1}),
    ("a\tint\t1\r\nb\tbool\tfalse", {"a": 1, "b": False}),
    ("a\tint\t1\na\tint\t2", {"a": 2}),
    ("k\tstring\ta\tb", {"k": "a\tb"}),
    ("k\\tx\tstring\tv\\qy\\", {"k\tx": "v\\qy\\"}),
    ("a\tint\t1\n\nb\tint\t2", 'invalid encoded property line ""'),
    ("k\tint\t", 'invalid int property value ""'),
    ("k\tint\t-", 'invalid int property value "-"'),
    ("k\tint\t9223372036854775808", 'invalid int property value "9223372036854775808"'),
    ("k\tint\t1.0", 'invalid int property value "1.0"'),
    ("k\tfloat\tinf", 'float property value "inf" must be finite'),
    ("k\tfloat\t1e400", 'float property value "1e400" must be finite'),
    ("k\tfloat\t1x", 'invalid float property value "1x"'),
    ("k\tBool\ttrue", 'unknown property value type "Bool"'),
    ("k\tbool\tTrue", 'invalid bool property value "True"'),
    ("k\tstr\\ting\tx", 'unknown property value type "str\\\\ting"'),
]


@pytest.mark.parametrize("text,expected", PROPERTY_TEXTS)
def test_stored_property_text_is_decoded_or_refused(db, text, expected):
    q.Graph(db).add_node("n")
    execute(db, "UPDATE nodes SET properties = ?", (text,))
    if isinstance(expected, dict):
        assert q.Graph(db).get_node(0).properties == expected
    else:
        with pytest.raises(RuntimeError) as info:
            q.Graph(db)
        assert str(info.value) == expected


# Damage to other columns: (setup SQL run after one node and edge were written, open error).
CRAFTED = [
    ("UPDATE edges SET source = -3", "negative SQLite integer -3"),
    ("UPDATE nodes SET id = -1 WHERE id = 0", "negative SQLite integer -1"),
    ("INSERT INTO nodes VALUES (4611686018427387904, 'far', '', '')",
     "stored node id 4611686018427387904 is far beyond the row count of table nodes"),
    ("INSERT INTO edges VALUES (9000000, 0, 1, 't', '')",
     "stored edge id 9000000 is far beyond the row count of table edges"),
    ("INSERT INTO edges VALUES (5, 0, 77, 't', '')", "node 77 not found"),
    ("INSERT INTO variables VALUES (0, 99, 'binary', '', '')", "node 99 not found"),
    ("INSERT INTO variables VALUES (0, -2, 'binary', '', '')", "negative SQLite integer -2"),
    ("INSERT INTO evidence VALUES (0, 5, '')", "variable 5 not found"),
    ("INSERT INTO traces VALUES (0, 'x')", 'invalid encoded property line "x"'),
    ("INSERT INTO latest_posteriors VALUES (0, '0.5,nan')", 'encoded f64 value "nan" must be finite'),
    ("INSERT INTO op_log (seq, op, object_id, payload) VALUES (-5, 'x', 0, '')", None),
    ("INSERT INTO op_log (seq, op, object_id, payload) VALUES (-5, 'x', 0, '');"
     "DELETE FROM op_log WHERE seq > -5", "negative SQLite integer -5"),
]


@pytest.mark.parametrize("sql,error", CRAFTED)
def test_crafted_rows_fail_open_with_a_clear_error(db, sql, error):
    g = q.Graph(db)
    g.add_nodes([{"external_id": "a"}, {"external_id": "b"}])
    g.add_edge(0, 1, "t")
    del g
    for statement in sql.split(";"):
        execute(db, statement)
    if error is None:
        assert q.Graph(db).node_count() == 2  # only the highest sequence number is read
        return
    with pytest.raises(RuntimeError) as info:
        q.Graph(db)
    assert str(info.value) == error


def test_metadata_records_load_from_the_file(db):
    q.Graph(db).add_node("owner")
    execute(db, "INSERT INTO variables VALUES (0, 0, 'binary', 'p\tfloat\t0.3', '')")
    execute(db, "INSERT INTO variables VALUES (1, NULL, 'color', '', '')")
    for i, s in [(0, "false"), (1, "true")]:
        execute(db, "INSERT INTO variable_states VALUES (0, ?, ?)", (i, s))
    for i, s in [(5, "blue"), (0, "red"), (2, "green")]:  # gaps are not an error
        execute(db, "INSERT INTO variable_states VALUES (1, ?, ?)", (i, s))
    execute(db, "INSERT INTO factors VALUES (0, '0', '1', 'cpd', '')")
    execute(db, "INSERT INTO factor_tables VALUES (0, '1,0', '0.2,0.3,0.5,0.1,0.1,0.8', 2)")
    execute(db, "INSERT INTO latest_posteriors VALUES (1, '1,1,2')")
    g = q.Graph(db)  # loads; the records' Python getters come with their own subsystem
    assert g.node_count() == 1
    # A table whose shape disagrees with its variables is refused, not trusted.
    execute(db, "UPDATE factor_tables SET values_text = '0.5,0.5'")
    with pytest.raises(RuntimeError, match="^factor table has 2 values but expected 6$"):
        q.Graph(db)
    execute(db, "UPDATE factor_tables SET values_text = '0.2,0.3,0.5,0.1,0.1,0.8'")
    execute(db, "UPDATE latest_posteriors SET values_text = '1,1'")
    with pytest.raises(RuntimeError, match="^posterior for variable 1 has invalid length$"):
        q.Graph(db)


def test_catalog_is_backfilled_on_open(db):
    g = q.Graph(db)
    g.add_nodes([{"properties": {"k": i, "m": "x"}} for i in range(50)])
    g.add_edges([{"source": 0, "target": 1, "edge_type": "t", "properties": {"w": 0.5}}])
    del g
    expected_values = rows(db, "SELECT * FROM property_values ORDER BY 1, 2, 3, 4")
    q.Graph(db)  # nothing missing: nothing changes
    assert rows(db, "SELECT * FROM property_values ORDER BY 1, 2, 3, 4") == expected_values
    # Known keys with an unknown value, a new key, and a scope with no catalog rows at all.
    execute(db, "INSERT INTO node_properties VALUES (700, 'k', 'float', '5')")
    execute(db, "INSERT INTO node_properties VALUES (700, 'zz', 'int', '1')")
    execute(db, "DELETE FROM property_keys WHERE scope = 'edge'")
    execute(db, "DELETE FROM property_values WHERE scope = 'edge'")
    q.Graph(db)
    assert rows(db, "SELECT * FROM property_keys ORDER BY scope, key") == [
        ("edge", "w"), ("node", "k"), ("node", "m"), ("node", "zz")]
    values = rows(db, "SELECT * FROM property_values")
    for row in [("node", "k", "float", "5"), ("node", "zz", "int", "1"), ("edge", "w", "float", "0.5")]:
        assert row in values
    assert len(values) == len(expected_values) + 2


# Up to 2000 distinct values the check probes each one; past them (in text order "700" and
# "998" lie beyond) it reads both sides in order. The gaps sit where either could miss them.
NOT_UTF8 = ("INSERT INTO node_properties VALUES (9000, 'k', 'int', CAST(X'80' AS TEXT));"
            "INSERT INTO property_values VALUES ('node', 'k', 'int', '\ufffd')", ("node", b"\x80", "text"))
WITH_NUL = ("INSERT INTO node_properties VALUES (9000, 'k', 'int', CAST(X'610062' AS TEXT))",
            ("node", b"a\x00b", "text"))
BLOB = ("INSERT INTO node_properties VALUES (9000, 'k', 'int', X'3737')", ("node", b"77", "blob"))


@pytest.mark.parametrize("distinct, mutation, missing", [
    (3000, "DELETE FROM property_values WHERE scope = 'node' AND value_text = '700'", ("node", b"700", "text")),
    (3000, "DELETE FROM property_values WHERE scope = 'node' AND value_text = '998'", ("node", b"998", "text")),
    (3000, "DELETE FROM property_values WHERE scope = 'edge'", ("edge", b"0", "text")),
    # Bytes that are not UTF-8 must not meet the text they would be shown as, and a stored
    # NUL byte must not make an intact file unopenable.
    (3000, *NOT_UTF8), (20, *NOT_UTF8), (3000, *WITH_NUL), (20, *WITH_NUL), (3000, *BLOB), (20, *BLOB),
    (3000, None, None),
])
def test_catalog_check_finds_every_gap(db, distinct, mutation, missing):
    g = q.Graph(db)
    g.add_nodes([{"properties": {"k": i}} for i in range(distinct)])
    g.add_edges([{"source": i, "target": i + 1, "edge_type": "t", "properties": {"w": i}} for i in range(3)])
    if mutation:
        for statement in mutation.split(";"):
            execute(db, statement)
    before = rows(db, "SELECT COUNT(*) FROM property_values")
    import sqlite3
    if missing is None:  # complete: opening and refreshing neither write nor wait for another writer's lock
        blocker = sqlite3.connect(db, isolation_level=None)
        blocker.execute("BEGIN IMMEDIATE")
        blocker.execute("INSERT INTO traces VALUES (0, '')")
        try:
            assert q.Graph(db).get_node(distinct - 1).properties == {"k": distinct - 1}
            g.refresh()
        finally:
            blocker.execute("ROLLBACK")
            blocker.close()
        assert rows(db, "SELECT COUNT(*) FROM property_values") == before
        return
    q.Graph(db)
    scope, value, kind = missing
    assert rows(db, "SELECT COUNT(*) FROM property_values WHERE scope = ? AND CAST(value_text AS BLOB) = ? "
                    "AND typeof(value_text) = ?", (scope, value, kind)) == [(1,)]


def test_open_failures_raise_runtime_error(tmp_path):
    bad = str(tmp_path / "a\0b.db")
    with pytest.raises(RuntimeError, match="^SQLite path contains NUL byte$"):
        q.Graph(bad)
    assert os.listdir(tmp_path) == []
    with pytest.raises(RuntimeError, match="unable to open database file"):
        q.Graph.open(str(tmp_path / "missing-dir" / "g.db"))
    garbage = tmp_path / "garbage.db"
    garbage.write_bytes(b"this is not a database" * 100)
    with pytest.raises(RuntimeError, match="file is not a database"):
        q.Graph(str(garbage))


def test_text_with_nul_is_refused_by_the_store(db):
    g = q.Graph(db)
    with pytest.raises(ValueError, match="^text contains NUL byte$"):
        g.add_node("a\0b")
    assert g.node_count() == 0 and rows(db, "SELECT COUNT(*) FROM nodes") == [(0,)]
    g.add_node("ok")
