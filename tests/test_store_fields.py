"""Stored field texts written by other programs: what each column's form accepts, and the
exact error that opening reports for each malformed form."""
import pytest

import _quillmere as q
from store_helpers import execute


@pytest.fixture
def db(tmp_path):
    path = str(tmp_path / "g.db")
    g = q.Graph(path)
    g.add_nodes([{"external_id": "a"}, {"external_id": "b"}])
    g.add_edge(0, 1, "t")
    return path


# (SQL run on a file holding nodes 0, 1 and edge 0, expected open error). The numeric lists
# are reached through rows whose earlier columns are well formed, so the list's own
# message is the one that must come out.
MALFORMED = [
    ("INSERT INTO factors VALUES (0, '18446744073709551616', '', 'f', '')",
     'invalid encoded u64 value "18446744073709551616"'),
    ("INSERT INTO factors VALUES (0, '1,-2', '', 'f', '')", 'invalid encoded u64 value "-2"'),
    ("INSERT INTO factors VALUES (0, '', ' 1', 'f', '')", 'invalid encoded u64 value " 1"'),
    ("INSERT INTO factors VALUES (0, '1,', '', 'f', '')", 'invalid encoded u64 value ""'),
    ("INSERT INTO factors VALUES (0, '++1', '', 'f', '')", 'invalid encoded u64 value "++1"'),
    ("INSERT INTO factors VALUES (0, '', '', 'f', 'p\tint\tx')", 'invalid int property value "x"'),
    ("INSERT INTO factor_tables VALUES (0, '0', '0.5,abc', 0)", 'invalid encoded f64 value "abc"'),
    ("INSERT INTO factor_tables VALUES (0, '0', '1e', 0)", 'invalid encoded f64 value "1e"'),
    ("INSERT INTO factor_tables VALUES (0, '0', '0x10', 0)", 'invalid encoded f64 value "0x10"'),
    ("INSERT INTO factor_tables VALUES (0, '0', '1e400', 0)", 'encoded f64 value "1e400" must be finite'),
    ("INSERT INTO factor_tables VALUES (0, '0', '-Infinity', 0)",
     'encoded f64 value "-Infinity" must be finite'),
    ("INSERT INTO factor_tables VALUES (0, 'x', '1', 0)", 'invalid encoded u64 value "x"'),
    ("INSERT INTO latest_posteriors VALUES (0, 'NaN')", 'encoded f64 value "NaN" must be finite'),
    ("INSERT INTO latest_posteriors VALUES (-1, '1')", "negative SQLite integer -1"),
    ("INSERT INTO evidence VALUES (0, -7, '')", "negative SQLite integer -7"),
    ("INSERT INTO evidence VALUES (0, 0, 'k\tfloat\tnan')", 'float property value "nan" must be finite'),
    ("INSERT INTO variables VALUES (0, NULL, 'd', 'k\tbool\t1', '')", 'invalid bool property value "1"'),
    ("INSERT INTO variables VALUES (0, NULL, 'd', '', 'k\tfloat\t--1')", 'invalid float property value "--1"'),
    ("INSERT INTO traces VALUES (0, 'k\tlist\t[]')", 'unknown property value type "list"'),
    # Messages quote the offending text in debug form: control characters escaped.
    ("UPDATE edges SET properties = 'k\tint\t1' || char(1) || char(127)",
     'invalid int property value "1\\u{1}\\u{7f}"'),
    ("UPDATE edges SET properties = 'k\tint\t\\t\"'", 'invalid int property value "\\t\\""'),
    ("UPDATE nodes SET properties = 'bare\r\nk\tint\t1' WHERE id = 1",
     'invalid encoded property line "bare"'),
    ("UPDATE nodes SET properties = 'k\tint\t1\r' WHERE id = 1", 'invalid int property value "1\\r"'),
    ("UPDATE nodes SET external_id = '' WHERE id = 1", "external_id cannot be empty"),
]


@pytest.mark.parametrize("sql,error", MALFORMED)
def test_malformed_field_fails_open_and_refresh_with_its_message(db, sql, error):
    reader = q.Graph(db)
    execute(db, sql)
    with pytest.raises(RuntimeError) as info:
        q.Graph(db)
    assert str(info.value) == error
    # A handle that refreshes onto the damaged file reports the same text and keeps its graph.
    execute(db, "INSERT INTO op_log (op, object_id, payload) VALUES ('add_trace', 0, 'trace')")
    with pytest.raises(ValueError) as info:
        reader.refresh()
    assert str(info.value) == error
    assert reader.node_count() == 2 and reader.edge_count() == 1


# Forms that load: (SQL, node 0's labels, properties and external id after opening).
ACCEPTED = [
    # A carriage return ends a line only before a line feed; unknown escapes keep their backslash.
    ("UPDATE nodes SET labels = 'A\r\nB\\q\r\n\\\\\\n\r' WHERE id = 0", ["A", "B\\q", "\\\n\r"], {}, "a"),
    ("UPDATE nodes SET labels = 'A\n' WHERE id = 0", ["A"], {}, "a"),
    ("UPDATE nodes SET labels = char(10) WHERE id = 0", [""], {}, "a"),
    ("UPDATE nodes SET properties = 'k\tint\t-9223372036854775808\nm\tfloat\t-1E-2' WHERE id = 0",
     [], {"k": -2**63, "m": -0.01}, "a"),
    ("UPDATE nodes SET properties = 'k\tfloat\t.5\nz\tint\t+0' WHERE id = 0", [], {"k": 0.5, "z": 0}, "a"),
    # Text that is not valid UTF-8 is read with replacement characters.
    ("UPDATE nodes SET external_id = CAST(X'61ff62' AS TEXT) WHERE id = 0", [], {}, "a\ufffdb"),
    ("UPDATE nodes SET properties = CAST(X'6b09737472696e6709c3' AS TEXT) WHERE id = 0",
     [], {"k": "\ufffd"}, "a"),
]


@pytest.mark.parametrize("sql,labels,props,external_id", ACCEPTED)
def test_stored_forms_that_load(db, sql, labels, props, external_id):
    execute(db, sql)
    node = q.Graph(db).get_node(0)
    assert (node.labels, node.properties, node.external_id) == (labels, props, external_id)
