"""Writers racing for one file: a write that waited for another process's commit refuses as
stale and writes nothing, succeeds after refresh(), and a write that fails or writes nothing
never leaves the file's write lock behind."""
import subprocess
import sys
import time

import pytest

import _quillmere as q

STALE = "SQLite graph has changed since this handle was opened; call refresh() before writing"

# Holds the write lock, says so, then commits one node (id 1) the way the engine logs it.
OTHER_WRITER = """
import sqlite3, sys, time
conn = sqlite3.connect(sys.argv[1], isolation_level=None)
conn.execute("BEGIN IMMEDIATE")
print("locked", flush=True)
time.sleep(0.4)
conn.execute("INSERT INTO nodes VALUES (1, ?, '', '')", (sys.argv[2],))
conn.execute("INSERT INTO op_log (op, object_id, payload) VALUES ('add_node', 1, '')")
conn.execute("COMMIT")
"""


def while_another_commits(path, external_id, write):
    """Runs write() while another process holds the lock and then commits a node."""
    other = subprocess.Popen([sys.executable, "-c", OTHER_WRITER, path, external_id], stdout=subprocess.PIPE)
    try:
        assert other.stdout.readline() == b"locked\n"
        started = time.perf_counter()
        result = write()
        return result, time.perf_counter() - started
    finally:
        assert other.wait(timeout=10) == 0


WRITES = {
    "add_node": lambda g: g.add_node("mine"),
    "add_nodes": lambda g: g.add_nodes([{"external_id": "mine"}])[0],
    "add_edge": lambda g: g.add_edge(0, 0, "t"),
    "cypher": lambda g: g.cypher("CREATE (n {external_id: 'mine'}) RETURN id(n) AS id").records[0]["id"],
}


@pytest.mark.parametrize("kind", WRITES)
def test_a_write_that_waited_for_a_commit_refuses_as_stale(tmp_path, kind):
    # The handle was current when the call began, but another process committed while it
    # waited for the lock: its memory no longer matches the file, so nothing is written.
    path = str(tmp_path / "g.db")
    g = q.Graph(path)
    g.add_node("first")
    with pytest.raises(ValueError) as e:
        while_another_commits(path, "other", lambda: WRITES[kind](g))
    assert str(e.value) == STALE
    assert g.node_count() == 1 and g.edge_count() == 0
    fresh = q.Graph(path)
    assert (fresh.node_count(), fresh.edge_count()) == (2, 0)
    g.refresh()
    written = WRITES[kind](g)
    assert written == (0 if kind == "add_edge" else 2)
    assert g.get_node_id("other") == 1


def test_a_handle_stale_before_the_call_refuses_every_write(tmp_path):
    path = str(tmp_path / "g.db")
    g = q.Graph(path)
    g.add_node("first")
    h = q.Graph(path)
    h.add_node("elsewhere")
    for write in WRITES.values():
        with pytest.raises(ValueError) as e:
            write(g)
        assert str(e.value) == STALE
    g.refresh()
    assert g.add_node("mine") == 2


@pytest.mark.parametrize("write", [
    lambda g: g.add_edge(0, 99, "t"),
    lambda g: g.add_nodes([{"external_id": "a"}, {"external_id": "a"}]),
    lambda g: g.cypher("CREATE (n {external_id: 'a'})"),
    lambda g: g.cypher("MERGE (n {external_id: 'a'}) RETURN n"),
    lambda g: g.cypher("CREATE (n {external_id: 'x'}) RETURN n.missing.deeper"),
], ids=["missing node", "doubled id", "taken id", "merge that matches", "failing statement"])
def test_a_write_that_writes_nothing_gives_the_lock_back(tmp_path, write):
    path = str(tmp_path / "g.db")
    g = q.Graph(path)
    g.add_node("a")
    try:
        write(g)
    except ValueError:
        pass
    # Another process would wait the whole time-out for a lock left behind.
    other = subprocess.run([sys.executable, "-c", "import sqlite3, sys; c = sqlite3.connect(sys.argv[1], timeout=0); "
                            "c.execute('BEGIN IMMEDIATE'); c.rollback()", path], capture_output=True)
    assert other.returncode == 0, other.stderr.decode()
    g.add_node("b")
