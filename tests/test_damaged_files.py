"""Files that are intact but awkward: a segment cache that cannot be saved never keeps a
database from opening, and stored values of the wrong SQLite type are refused by name
instead of being read as other ids."""
import os
import shutil
import sqlite3
import warnings

import pytest

import _quillmere as q
from store_helpers import execute, view


def build(path):
    g = q.Graph(path)
    g.add_nodes([{"external_id": name} for name in "abc"])
    g.add_edges([{"source": 0, "target": 1, "edge_type": "t"}, {"source": 1, "target": 2, "edge_type": "t"}])
    g.add_variable("v", states=["x", "y"])
    g.add_factor_table([0], [0.5, 0.5])
    return g


def block_cache(path):
    """A plain file where the cache directory belongs: every save fails, reads find nothing."""
    directory = path + ".segments"
    shutil.rmtree(directory, ignore_errors=True)
    with open(directory, "wb") as f:
        f.write(b"occupied")
    return f"failed to create segment directory {directory}: File exists"


@pytest.mark.parametrize("opener", [q.Graph, q.Graph.open])
def test_unsaveable_cache_opens_with_a_warning(tmp_path, opener):
    path = str(tmp_path / "g.db")
    expected = view(build(path))
    message = block_cache(path)
    with warnings.catch_warnings():  # a warning escalated to an error refuses the open
        warnings.simplefilter("error")
        with pytest.raises(RuntimeWarning, match=message):
            opener(path)
    with pytest.warns(RuntimeWarning) as caught:
        g = opener(path)
    assert [str(w.message) for w in caught] == [message]
    assert view(g) == expected
    # The handle is fully usable: writes commit (their compaction warns), and an explicit
    # compaction still raises.
    with pytest.warns(RuntimeWarning, match="segment directory"):
        g.add_edge(2, 0, "t")
    with pytest.raises(ValueError) as info:
        g.compact()
    assert str(info.value) == message
    # Once the obstacle is gone the next open saves the cache and is quiet again.
    os.remove(path + ".segments")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        q.Graph(path)
        assert view(q.Graph(path))["edges"][-1] == (2, 2, 0, "t", {})


def test_refresh_that_reopens_warns_and_keeps_the_new_state(tmp_path):
    path = str(tmp_path / "g.db")
    build(path)
    reader = q.Graph(path)
    message = block_cache(path)
    # A row written behind the op log's back forces a full reopen on refresh.
    execute(path, "INSERT INTO nodes VALUES (3, 'd', '', '')")
    execute(path, "INSERT INTO edges VALUES (2, 3, 0, 't', '')")
    with pytest.warns(RuntimeWarning) as caught:
        reader.refresh()
    assert [str(w.message) for w in caught] == [message]
    assert reader.node_count() == 4 and reader.neighbors(3) == [0]


# (SQL run on a file with nodes 0-2, edges 0-1, variable 0 of two states and its table, open error).
WRONG_TYPES = [
    ("UPDATE edges SET source = 'abc' WHERE id = 1", "table edges row 1: column source holds text where an integer belongs"),
    ("UPDATE edges SET target = 1.7 WHERE id = 0", "table edges row 0: column target holds a real where an integer belongs"),
    ("UPDATE edges SET source = X'01' WHERE id = 0", "table edges row 0: column source holds a blob where an integer belongs"),
    ("UPDATE edges SET edge_type = X'74' WHERE id = 1", "table edges row 1: column edge_type holds a blob where text belongs"),
    ("UPDATE nodes SET labels = X'41' WHERE id = 2", "table nodes row 2: column labels holds a blob where text belongs"),
    ("UPDATE variables SET owner_id = 'a' WHERE id = 0",
     "table variables row 0: column owner_id holds text where an integer belongs"),
    ("UPDATE variable_states SET state = X'78' WHERE state_index = 1",
     "table variable_states row 2: column state holds a blob where text belongs"),
    ("INSERT INTO evidence VALUES (0, '0x', '')", "table evidence row 0: column variable_id holds text where an integer belongs"),
    ("INSERT INTO traces VALUES (4, X'')", "table traces row 4: column payload holds a blob where text belongs"),
    ("UPDATE factor_tables SET is_cpd = 'no'", "table factor_tables row 0: column is_cpd holds text where an integer belongs"),
]


@pytest.mark.parametrize("sql,error", WRONG_TYPES)
def test_wrong_sqlite_types_fail_open_and_refresh_by_name(tmp_path, sql, error):
    path = str(tmp_path / "g.db")
    build(path)
    reader = q.Graph(path)
    execute(path, sql)
    with pytest.raises(RuntimeError) as info:
        q.Graph(path)
    assert str(info.value) == error
    execute(path, "INSERT INTO op_log (op, object_id, payload) VALUES ('add_trace', 9, '')")
    with pytest.raises(ValueError) as info:
        reader.refresh()
    assert str(info.value) == error
    assert reader.edge_count() == 2


def test_text_id_in_a_loosely_typed_table_is_named(tmp_path):
    # Another program may declare the table without INTEGER PRIMARY KEY; its ids then keep
    # whatever type was written, and must not collapse to id 0.
    path = str(tmp_path / "g.db")
    build(path)
    conn = sqlite3.connect(path)
    conn.executescript("""
        ALTER TABLE edges RENAME TO old_edges;
        CREATE TABLE edges (id, source INTEGER NOT NULL, target INTEGER NOT NULL,
                            edge_type TEXT NOT NULL, properties TEXT NOT NULL);
        INSERT INTO edges SELECT * FROM old_edges;
        DROP TABLE old_edges;
        UPDATE edges SET id = 'e1' WHERE id = 1;
    """)
    rowid = conn.execute("SELECT rowid FROM edges WHERE id = 'e1'").fetchone()[0]
    conn.close()
    with pytest.raises(RuntimeError) as info:
        q.Graph(path)
    assert str(info.value) == f"table edges row {rowid}: column id holds text where an integer belongs"
