"""Writes as the file records them: the op log's rows, and writes that fail inside their
SQLite transaction leaving neither the file nor the handle's memory changed."""
import os

import pytest

import _quillmere as q
from store_helpers import execute, rows, view

# Every table a graph write touches; metadata and the variable tables are left out.
WRITTEN = ["nodes", "node_properties", "edges", "edge_properties", "property_keys",
           "property_values", "op_log"]


def file_state(db):
    return {t: rows(db, f"SELECT * FROM {t} ORDER BY 1, 2") for t in WRITTEN}


def test_op_log_rows_name_the_op_the_id_and_the_raw_payload(db):
    g = q.Graph(db)
    odd = "tab\there\nline \\ \"q\" \u00e9"
    g.add_nodes([{"external_id": odd}, {}, {"labels": ["L"]}])
    g.add_edge(0, 1, odd)
    g.add_edges([{"source": 2, "target": 0, "edge_type": "t"}, {"source": 1, "target": 1, "edge_type": "t"}])
    log = rows(db, "SELECT seq, op, object_id, payload FROM op_log ORDER BY seq")
    # Payloads are the texts themselves, neither escaped nor quoted; generated names included.
    assert log == [(1, "add_node", 0, odd), (2, "add_node", 1, "node:1"), (3, "add_node", 2, "node:2"),
                   (4, "add_edge", 0, odd), (5, "add_edge", 1, "t"), (6, "add_edge", 2, "t")]
    assert rows(db, "SELECT external_id FROM nodes WHERE id = 0") == [(odd,)]
    assert rows(db, "SELECT edge_type FROM edges WHERE id = 0") == [(odd,)]
    # A failed validation writes no row at all, and an empty batch only checks.
    with pytest.raises(ValueError):
        g.add_edges([{"source": 0, "target": 1, "edge_type": "t"}, {"source": 0, "target": 9, "edge_type": "t"}])
    g.add_nodes([])
    assert rows(db, "SELECT COUNT(*), MAX(seq) FROM op_log") == [(6, 6)]


# A failure planted by another program at a chosen point of the next batch: (setup SQL,
# the batch, the error). The trigger fires after the batch's earlier rows, property rows
# and catalog rows are written, so only a rollback can remove them.
PLANTED = [
    ("CREATE TRIGGER boom BEFORE INSERT ON op_log WHEN NEW.object_id = 3 "
     "BEGIN SELECT RAISE(ABORT, 'planted failure'); END",
     "nodes", "planted failure"),
    ("CREATE TRIGGER boom BEFORE INSERT ON op_log WHEN NEW.op = 'add_edge' AND NEW.object_id = 3 "
     "BEGIN SELECT RAISE(ABORT, 'planted failure'); END",
     "edges", "planted failure"),
    ("INSERT INTO edges VALUES (3, 0, 0, 'squat', '')", "edges", "UNIQUE constraint failed: edges.id"),
    ("CREATE TRIGGER boom BEFORE INSERT ON property_values WHEN NEW.key = 'late' "
     "BEGIN SELECT RAISE(ABORT, 'planted failure'); END",
     "nodes", "planted failure"),
]


@pytest.mark.parametrize("setup,kind,error", PLANTED)
def test_write_failing_inside_its_transaction_changes_nothing(db, setup, kind, error):
    g = q.Graph(db)
    g.add_nodes([{"external_id": "a", "properties": {"k": 1}}, {"external_id": "b"}])
    g.add_edges([{"source": 0, "target": 1, "edge_type": "t", "properties": {"w": 1.5}}] * 2)
    execute(db, setup)
    file_before, memory_before = file_state(db), view(g)
    with pytest.raises(ValueError) as info:
        if kind == "nodes":
            g.add_nodes([{"properties": {"k": 7, "new": "x"}}, {"labels": ["L"], "properties": {"late": 1}}])
        else:
            g.add_edges([{"source": 1, "target": 0, "edge_type": "u", "properties": {"w": 9.0, "n": 1}}] * 3)
    assert str(info.value) == error
    assert file_state(db) == file_before
    assert view(g) == memory_before
    # The handle stayed current: the next write that avoids the planted fault goes through
    # with the ids the failed batch would have taken.
    assert g.add_node("c") == 2
    assert rows(db, "SELECT MAX(seq) FROM op_log") == [(5,)]
    assert q.Graph(db).node_count() == 3


@pytest.mark.parametrize("path", ["", ":memory:", "file:g.db", "file:g.db?mode=memory"])
def test_names_that_are_not_database_files_are_refused(tmp_path, monkeypatch, path):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(RuntimeError) as info:
        q.Graph(path)
    assert str(info.value) == f'SQLite path "{path}" does not name a database file'
    with pytest.raises(RuntimeError):
        q.Graph.open(path)
    assert os.listdir(tmp_path) == []  # no database and no cache directory left behind
    # Written as a path, such a name is an ordinary file.
    file_path = "./" + (path.split("?")[0] or "plain.db")
    g = q.Graph(file_path)
    g.add_node()
    g.add_edge(0, 0, "t")
    g.compact()
    assert q.Graph(file_path).edge_count() == 1
    assert os.path.isfile(file_path) and os.path.isdir(file_path + ".segments")


def test_relative_path_keeps_naming_the_same_file_after_a_change_of_directory(tmp_path, monkeypatch):
    home, elsewhere = tmp_path / "home", tmp_path / "elsewhere"
    home.mkdir()
    elsewhere.mkdir()
    monkeypatch.chdir(home)
    g = q.Graph("g.db")
    g.add_nodes([{}, {}])
    g.add_edge(0, 1, "t")
    monkeypatch.chdir(elsewhere)
    g.compact()
    # A row written without the log makes refresh reopen the file from its path.
    execute(str(home / "g.db"), "INSERT INTO nodes VALUES (2, 'outsider', '', '')")
    g.refresh()
    assert g.get_node_id("outsider") == 2 and g.edge_count() == 1
    g.add_node("mine")
    assert os.listdir(elsewhere) == []
    assert os.path.isfile(home / "g.db.segments" / "manifest.txt")
    assert rows(str(home / "g.db"), "SELECT external_id FROM nodes WHERE id = 3") == [("mine",)]
