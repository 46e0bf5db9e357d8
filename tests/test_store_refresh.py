"""Refresh after another handle wrote: the refreshed handle must answer every read exactly
as a handle freshly opened on the file, and continue with the same next ids."""
import pytest

import _quillmere as q
from store_helpers import rows


@pytest.fixture
def db(tmp_path):
    return str(tmp_path / "g.db")


def view(g):
    """Every answer a reader can get, over records, indexes and adjacency."""
    nodes = g.nodes()
    edges = g.edges()
    labels = sorted({l for n in nodes for l in n.labels})
    types = sorted({e.edge_type for e in edges})
    node_keys = sorted({k for n in nodes for k in n.properties})
    edge_keys = sorted({k for e in edges for k in e.properties})
    ids = g.node_ids()
    return {
        "nodes": [(n.id, n.external_id, n.labels, n.properties) for n in nodes],
        "edges": [(e.id, e.source, e.target, e.edge_type, e.properties) for e in edges],
        "ids": (ids, g.edge_ids(), g.node_count(), g.edge_count()),
        "external": [g.get_node_id(n.external_id) for n in nodes] + [g.get_node_id("missing")],
        "labels": [(l, g.nodes_with_label(l)) for l in labels],
        "types": [(t, g.edges_by_type(t)) for t in types],
        "node_props": [(k, g.nodes_with_property(k), [g.nodes_with_property(k, v) for v in (0, 1, "x", 0.5)])
                       for k in node_keys],
        "edge_props": [(k, g.edges_with_property(k), g.edges_with_property(k, 0.5)) for k in edge_keys],
        "adjacency": [(v, d, g.neighbors(v, d), g.neighbors(v, d, "t")) for v in ids
                      for d in ("out", "in", "both")],
        "reach": [(v, g.k_hop(v, 2, "both"), g.bfs(v)) for v in ids[::7]],
        "components": g.connected_components(),
    }


def add_batch(g, tag, count, edges, self_loops=False):
    first = g.node_count()
    g.add_nodes([{"external_id": f"{tag}{i}", "labels": ["L", tag] if i % 2 else [],
                  "properties": {"k": i % 2, "s": "x" if i % 3 else "y"}} for i in range(count)])
    n = g.node_count()
    g.add_edges([{"source": (first + i) % n, "target": (i * 5 + (0 if self_loops else 1)) % n,
                  "edge_type": "t" if i % 3 else "u", "properties": {"w": 0.5} if i % 2 else {}}
                 for i in range(edges)])


def assert_like_fresh_open(g, db):
    fresh = q.Graph(db)
    assert view(g) == view(fresh)
    return fresh


def test_refresh_after_mixed_writes_equals_a_fresh_open(db):
    reader, writer = q.Graph(db), q.Graph(db)
    # The reader's own edges are still in its delta lists when the writer moves on.
    add_batch(reader, "r", 12, 20, self_loops=True)
    writer.refresh()
    add_batch(writer, "w", 40, 1200)  # compacts inside the writer and writes the cache
    writer.add_edge(3, 0, "t")  # one more, left uncompacted in the writer
    reader.refresh()
    assert_like_fresh_open(reader, db)
    assert view(reader) == view(writer)

    # Compaction alone logs nothing: the reader stays current and may write at once.
    writer.compact()
    before = rows(db, "SELECT MAX(seq) FROM op_log")
    reader.refresh()
    assert_like_fresh_open(reader, db)
    add_batch(reader, "s", 3, 4)
    assert rows(db, "SELECT MAX(seq) FROM op_log") == [(before[0][0] + 7,)]

    # Nodes only, then edges only, from the other side; the reader has pending edges again.
    writer.refresh()
    lonely = writer.add_node("lonely", ["Solo"], {"k": 1})
    reader_stale_edge_count = reader.edge_count()
    reader.refresh()
    assert reader.edge_count() == reader_stale_edge_count
    assert_like_fresh_open(reader, db)
    writer.add_edges([{"source": lonely, "target": 0, "edge_type": "t"}])
    reader.refresh()
    fresh = assert_like_fresh_open(reader, db)

    # Counters continue where a fresh open would: one past the highest stored ids.
    assert reader.add_node() == max(fresh.node_ids()) + 1
    assert reader.add_edge(0, 1, "t") == max(fresh.edge_ids()) + 1
    assert_like_fresh_open(reader, db)


def test_refresh_without_changes_keeps_every_answer(db):
    g = q.Graph(db)
    add_batch(g, "a", 9, 30)
    before = view(g)
    g.refresh()
    assert view(g) == before == view(q.Graph(db))
    assert g.add_node() == 9
