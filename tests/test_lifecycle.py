"""Backed graphs over time: staleness between handles, refresh, and writes that commit even
when their follow-up work fails (writer processes racing are in test_many_writers.py)."""
import warnings

import pytest

import _quillmere as q
from store_helpers import add_batch, execute, rows, view


STALE = "SQLite graph has changed since this handle was opened; call refresh() before writing"


def test_two_handles_stale_then_refresh(db):
    a, b = q.Graph(db), q.Graph.open(db)
    a.add_node("x", ["L"])
    with pytest.raises(ValueError, match="call refresh"):
        b.compact()
    assert b.node_count() == 0  # reads never check
    b.refresh()
    assert b.get_node_id("x") == 0 and b.nodes_with_label("L") == [0]
    assert b.add_node("y") == 1


def test_refresh_needs_a_file():
    with pytest.raises(ValueError) as info:
        q.Graph().refresh()
    assert str(info.value) == "refresh is only available for SQLite-backed graphs"


def test_failed_refresh_leaves_the_graph_as_it_was(db):
    a, b = q.Graph(db), q.Graph(db)
    add_batch(a, "n", 3, 3)
    b.refresh()
    before = view(b)
    a.add_node("broken", properties={"k": 1})
    execute(db, "UPDATE nodes SET properties = 'k\tint\tone' WHERE external_id = 'broken'")
    with pytest.raises(ValueError) as info:
        b.refresh()
    assert str(info.value) == 'invalid int property value "one"'
    assert view(b) == before
    with pytest.raises(ValueError, match="call refresh"):
        b.add_node()
    execute(db, "UPDATE nodes SET properties = 'k\tint\t1' WHERE external_id = 'broken'")
    b.refresh()
    assert b.get_node(3).properties == {"k": 1}


def test_committed_edges_survive_a_failing_cache_write(db):
    g = q.Graph(db)
    g.add_nodes([{} for _ in range(3)])
    open(db + ".segments", "w").close()  # the cache directory cannot be created
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        ids = g.add_edges([{"source": 0, "target": 1, "edge_type": "t"} for _ in range(1100)])
    assert ids == list(range(1100))
    assert [w.category for w in caught] == [RuntimeWarning]
    assert str(caught[0].message).startswith("failed to create segment directory")
    assert g.edge_count() == 1100 and rows(db, "SELECT COUNT(*) FROM edges") == [(1100,)]
    assert g.add_node() == 3  # still current: the warning did not make it stale
    # Warnings escalated to errors still leave the write in place.
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(RuntimeWarning):
            g.add_edges([{"source": 0, "target": 2, "edge_type": "t"} for _ in range(1100)])
    assert g.edge_count() == 2200 and rows(db, "SELECT COUNT(*) FROM edges") == [(2200,)]


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


def test_refreshes_that_bring_edges_keep_pinned_snapshots_and_match_a_fresh_open(db):
    # Edges read by a refresh wait in the delta lists until the compaction rule folds them,
    # so several refreshes pile onto earlier ones, cross the rule's threshold, and must
    # still read like a fresh open while a snapshot taken in between keeps its own view.
    reader, writer = q.Graph(db), q.Graph(db)
    add_batch(writer, "a", 30, 1100)  # compacted on the writer's side
    reader.refresh()
    pinned, pinned_view = None, None
    for round_ in range(6):
        add_batch(writer, f"r{round_}", 3, 90, self_loops=round_ % 2 == 0)
        reader.refresh()
        assert_like_fresh_open(reader, db)
        if round_ == 1:
            pinned = reader.snapshot()
            pinned_view = view(pinned)
        reader.add_edge(0, reader.node_count() - 1, "t")  # a write of its own in between
        writer.refresh()
    assert view(pinned) == pinned_view
    assert view(reader) == view(writer)

