"""Replays every fuzzing seed and every input that once crashed a fuzz target through the
Python surface, so the suite (and its sanitizer run) keeps them fixed without clang. Each
replay feeds the input where the matching target feeds it: field texts into stored rows,
segment bytes into the cache file, statements into Cypher, scripts into a fresh database."""
import os
import re
import sqlite3
import struct

import pytest

import _quillmere as q
from conftest import graph_of
from store_helpers import view

FUZZ = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fuzz")


def inputs(target):
    found = []
    for kind in ("corpus", "crashes"):
        directory = os.path.join(FUZZ, kind, target)
        if os.path.isdir(directory):
            found += [os.path.join(directory, name) for name in sorted(os.listdir(directory))]
    return found


def read(path):
    with open(path, "rb") as f:
        return f.read()


def ids(paths):
    return [os.path.relpath(p, FUZZ) for p in paths]


def fresh_file(tmp_path):
    tmp_path.mkdir(exist_ok=True)
    path = str(tmp_path / "g.db")
    g = q.Graph(path)
    g.add_nodes([{"external_id": "a"}, {"external_id": "b"}])
    g.add_edge(0, 1, "t")
    return path


FIELD_COLUMNS = [
    "UPDATE nodes SET properties = ?1 WHERE id = 0",
    "UPDATE nodes SET labels = ?1 WHERE id = 1",
    "INSERT INTO factors VALUES (0, ?1, '', 'f', '')",
    "INSERT INTO variables VALUES (0, NULL, 'd', '', ''); INSERT INTO factor_tables VALUES (0, '0', ?1, 0)",
]


def stored_labels(text):
    """The label list a stored text holds, read the way the file format states it: a line
    feed ends each item (a carriage return before it is dropped), a final one starts no
    further item, and each item is unescaped."""
    lines = text.split("\n")
    ended = [True] * (len(lines) - 1) + [False]
    if lines[-1] == "":
        lines.pop(), ended.pop()
    unescape = {"\\": "\\", "n": "\n", "r": "\r", "t": "\t"}
    return [re.sub(r"\\([\\nrt])", lambda m: unescape[m.group(1)], line[:-1] if end and line.endswith("\r") else line)
            for line, end in zip(lines, ended)]


@pytest.mark.parametrize("path", inputs("field_codec"), ids=ids(inputs("field_codec")))
def test_field_codec_inputs_open_or_fail_cleanly(tmp_path, path):
    text = read(path).decode("utf-8", errors="replace")
    for i, sql in enumerate(FIELD_COLUMNS):
        db = fresh_file(tmp_path / str(i))
        conn = sqlite3.connect(db)
        for statement in sql.split("; "):
            conn.execute(statement, (text,) if "?1" in statement else ())
        conn.commit()
        conn.close()
        try:
            g = q.Graph(db)
        except RuntimeError:
            assert "labels" not in sql, "a label list always decodes"
            continue
        if "labels" in sql:
            # Nothing a stored label list holds may be lost or altered on the way in.
            assert g.get_node(1).labels == stored_labels(text)


@pytest.mark.parametrize("path", inputs("segment_reader"), ids=ids(inputs("segment_reader")))
def test_segment_inputs_never_change_answers(tmp_path, path):
    data = read(path)
    if len(data) < 16:
        return
    nodes, edges = (c % m for c, m in zip(struct.unpack_from("<QQ", data), (64, 256)))
    nodes = max(nodes, 1 if edges else 0)
    db = str(tmp_path / "g.db")
    g = graph_of(nodes, [(i % nodes, (i * 7 + 3) % nodes) for i in range(edges)], db)
    want = view(g)
    directory = db + ".segments"
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, "segment-v1.bin"), "wb") as f:
        f.write(data[16:])
    with open(os.path.join(directory, "manifest.txt"), "w") as f:
        f.write(f"version=quillmere-segment-v1\nnode_count={nodes}\nedge_count={edges}\nfile=segment-v1.bin\n")
    assert view(q.Graph(db)) == want


def small_graph():
    g = q.Graph()
    g.cypher("CREATE (a:P {name: 'a', n: 1})-[:R {w: 2.5}]->(b:P {name: 'b', n: 2})")
    g.cypher("CREATE (c:Q {n: 3, flag: true})-[:S]->(d {external_id: 'd'})")
    g.cypher("CREATE (e:P:Q {name: 'e'})-[:R {w: -1}]->(f:P)")
    return g


@pytest.mark.parametrize("path", inputs("cypher"), ids=ids(inputs("cypher")))
def test_cypher_inputs_answer_or_refuse(path):
    text = read(path).decode("utf-8", errors="replace").replace("\0", "")
    try:
        small_graph().cypher(text, {"p": 1})
    except ValueError:
        pass


def only_row_and_table_edits(action, *_):
    allowed = {sqlite3.SQLITE_INSERT, sqlite3.SQLITE_UPDATE, sqlite3.SQLITE_DELETE, sqlite3.SQLITE_READ,
               sqlite3.SQLITE_SELECT, sqlite3.SQLITE_FUNCTION, sqlite3.SQLITE_TRANSACTION,
               sqlite3.SQLITE_SAVEPOINT, sqlite3.SQLITE_RECURSIVE, sqlite3.SQLITE_CREATE_TABLE,
               sqlite3.SQLITE_DROP_TABLE, sqlite3.SQLITE_ALTER_TABLE, sqlite3.SQLITE_CREATE_INDEX,
               sqlite3.SQLITE_DROP_INDEX}
    return sqlite3.SQLITE_OK if action in allowed else sqlite3.SQLITE_DENY


@pytest.mark.parametrize("path", inputs("load_database"), ids=ids(inputs("load_database")))
def test_crafted_rows_open_or_fail_cleanly(tmp_path, path):
    db = str(tmp_path / "g.db")
    q.Graph(db)
    conn = sqlite3.connect(db, isolation_level=None)
    conn.set_authorizer(only_row_and_table_edits)
    try:
        conn.executescript(read(path).decode("utf-8", errors="replace").replace("\0", ""))
    except sqlite3.Error:
        pass  # the statements before the failing one stay, as in the fuzz target
    conn.close()
    try:
        q.Graph(db)
    except RuntimeError:
        pass
