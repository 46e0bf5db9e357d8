"""Random writes, batches, compaction, appending and reloading refreshes, a second writer and
reopened handles: every snapshot keeps giving, for every kind of read, the answers it gave
when taken, which are those of a plain record of the graph at that moment."""
import copy
import gc
import os
import shutil
import sqlite3
import tempfile

from hypothesis import HealthCheck, settings, strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, precondition, rule

import _quillmere

LABELS = ["A", "B"]
TYPES = ["t", "u"]
VALUES = [0, 1, 2.5, "x", True]

props = st.dictionaries(st.sampled_from(["k", "w"]), st.sampled_from(VALUES), max_size=2)
node_batch = st.lists(st.fixed_dictionaries({"labels": st.lists(st.sampled_from(LABELS), max_size=2),
                                             "properties": props}), min_size=1, max_size=4)


class Record:
    """The graph as plain Python: nodes (external id, labels, props), edges (s, t, type, props)."""

    def __init__(self):
        self.nodes, self.edges, self.variables = [], [], 0

    def add_nodes(self, records):
        for r in records:
            self.nodes.append((f"node:{len(self.nodes)}", r["labels"], r["properties"]))

    def add_edges(self, records):
        for r in records:
            self.edges.append((r["source"], r["target"], r["edge_type"], r.get("properties", {})))


def outcome(call, *args, **kwargs):
    """A read's answer, or its failure as plain values (a weight may not be a number)."""
    try:
        return call(*args, **kwargs)
    except ValueError as exc:
        return ("ValueError", str(exc))


def variable_fields(v):
    return (v.id, v.domain, v.owner_id, v.states, v.prior, v.posterior)


def answers(h):
    """Every kind of read, as plain values."""
    n = h.node_count()
    out = {
        "counts": (n, h.edge_count(), h.variable_count()),
        "ids": (h.node_ids(), h.edge_ids()),
        "nodes": [repr(x) for x in h.nodes()],
        "edges": [repr(x) for x in h.edges()],
        "index": [h.nodes_with_label(x) for x in LABELS] + [h.edges_by_type(x) for x in TYPES],
        "props": [h.nodes_with_property("k"), h.nodes_with_property("k", 1), h.edges_with_property("w"),
                  h.edges_with_property("w", 2.5), h.get_node_id("node:1")],
        "components": h.connected_components(), "components_t": h.connected_components("t"),
        "pagerank": h.pagerank(), "variables": [variable_fields(h.get_variable(i)) for i in range(h.variable_count())],
    }
    if n:
        last = n - 1
        out["walks"] = [
            [h.neighbors(v, d) for v in range(n) for d in ("out", "in", "both")],
            h.k_hop(0, 2, "both"), h.frontier([0, last], 1, "in"), h.bfs(0, "both"),
            outcome(h.shortest_path, 0, last, "both", weight_property="w"),
            h.random_walk(0, 6, "both", seed=3),
        ]
        sub = h.subgraph(list(range(0, n, 2)))
        out["subgraph"] = (sub.node_ids(), [repr(e) for e in sub.edges()])
        batch = h.compute_batch([{"op": "bfs", "start": last, "direction": "in"}, {"op": "pagerank", "edge_type": "u"},
                                 {"op": "subgraph", "nodes": [0, last]}])
        out["batch"] = (batch[0], batch[1], batch[2].edge_ids())
        out["query"] = h.query({"match": [{"node": "a", "labels": ["A"]}, {"direction": "out"}, {"node": "b"}]})
    return out


def matches_record(h, rec):
    """The reads a plain record answers directly."""
    n, m = len(rec.nodes), len(rec.edges)
    assert (h.node_count(), h.edge_count(), h.variable_count()) == (n, m, rec.variables)
    assert h.node_ids() == list(range(n)) and h.edge_ids() == list(range(m))
    got = [(x.external_id, x.labels, x.properties) for x in h.nodes()]
    assert got == [(e, list(ls), p) for e, ls, p in rec.nodes]
    assert [(x.source, x.target, x.edge_type) for x in h.edges()] == [e[:3] for e in rec.edges]
    for label in LABELS:
        assert h.nodes_with_label(label) == [i for i, x in enumerate(rec.nodes) if label in x[1]]
    for edge_type in TYPES:
        assert h.edges_by_type(edge_type) == [i for i, e in enumerate(rec.edges) if e[2] == edge_type]
    for v in range(n):
        outs = [e[1] for e in rec.edges if e[0] == v]
        ins = [e[0] for e in rec.edges if e[1] == v]
        assert h.neighbors(v, "both") == list(dict.fromkeys(outs + ins))
    with_k = [i for i, x in enumerate(rec.nodes) if "k" in x[2]]
    assert h.nodes_with_property("k") == with_k


class SnapshotMachine(RuleBasedStateMachine):
    path = None

    def __init__(self):
        super().__init__()
        self.g = _quillmere.Graph(self.path)
        self.other = None
        self.rec = Record()
        self.snapshots = []  # (snapshot, its answers when taken, the record then)

    def edge_records(self, data, count):
        n = len(self.rec.nodes)
        ends = st.integers(0, n - 1)
        return data.draw(st.lists(st.fixed_dictionaries(
            {"source": ends, "target": ends, "edge_type": st.sampled_from(TYPES)}, optional={"properties": props}),
            min_size=count, max_size=count))

    @rule(records=node_batch)
    def add_nodes(self, records):
        self.g.add_nodes(records)
        self.rec.add_nodes(records)

    @precondition(lambda self: self.rec.nodes)
    @rule(data=st.data(), count=st.integers(1, 6))
    def add_edges(self, data, count):
        records = self.edge_records(data, count)
        if count == 1:
            r = records[0]
            self.g.add_edge(r["source"], r["target"], r["edge_type"], r.get("properties"))
        else:
            self.g.add_edges(records)
        self.rec.add_edges(records)

    @precondition(lambda self: self.rec.nodes and len(self.rec.edges) < 2500)
    @rule(data=st.data())
    def add_edges_past_the_compaction_limit(self, data):
        # On a file this folds the deltas into the compacted segment on its own.
        n = len(self.rec.nodes)
        seed = data.draw(st.integers(0, 1000))
        records = [{"source": (seed + i) % n, "target": (seed * 7 + i * 3) % n, "edge_type": TYPES[i % 2]}
                   for i in range(1025)]
        self.g.add_edges(records)
        self.rec.add_edges(records)

    @rule()
    def compact(self):
        self.g.compact()

    @rule()
    def add_variable(self):
        self.g.add_variable("binary")
        self.rec.variables += 1

    @precondition(lambda self: len(self.snapshots) < 4)
    @rule()
    def snapshot(self):
        s = self.g.snapshot()
        taken = answers(s)
        assert taken == answers(self.g)
        matches_record(s, self.rec)
        self.snapshots.append((s, taken, copy.deepcopy(self.rec)))

    @precondition(lambda self: self.snapshots)
    @rule(data=st.data())
    def drop_snapshot(self, data):
        self.snapshots.pop(data.draw(st.integers(0, len(self.snapshots) - 1)))

    @invariant()
    def snapshots_keep_their_moment(self):
        matches_record(self.g, self.rec)
        for s, taken, rec in self.snapshots:
            assert answers(s) == taken
            matches_record(s, rec)


class FileSnapshotMachine(SnapshotMachine):
    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="qm-views-")
        self.path = os.path.join(self.folder, "g.db")
        super().__init__()

    def teardown(self):
        self.snapshots.clear()
        self.g = self.other = None
        gc.collect()
        shutil.rmtree(self.folder, ignore_errors=True)

    @rule(records=node_batch, data=st.data())
    def second_handle_writes(self, records, data):
        if self.other is None:
            self.other = _quillmere.Graph(self.path)
        self.other.refresh()
        self.other.add_nodes(records)
        self.rec.add_nodes(records)
        if data.draw(st.booleans()):
            edges = self.edge_records(data, data.draw(st.integers(1, 3)))
            self.other.add_edges(edges)
            self.rec.add_edges(edges)
        self.g.refresh()  # appends what the other handle wrote

    @rule()
    def refresh_that_reloads_everything(self):
        # A log row no write explains: only a full reload is faithful, so the handle moves
        # to a freshly loaded generation while snapshots keep the old one.
        with sqlite3.connect(self.path) as db:
            db.execute("INSERT INTO op_log (op, object_id, payload) VALUES ('foreign', 0, '')")
        self.g.refresh()

    @rule()
    def drop_and_reopen_the_handle(self):
        self.g = None
        gc.collect()
        self.g = _quillmere.Graph(self.path)


MACHINE_SETTINGS = dict(deadline=None, derandomize=True, stateful_step_count=20,
                        suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much])

TestSnapshotsInMemory = SnapshotMachine.TestCase
TestSnapshotsInMemory.settings = settings(max_examples=40, **MACHINE_SETTINGS)
TestSnapshotsOnFile = FileSnapshotMachine.TestCase
TestSnapshotsOnFile.settings = settings(max_examples=20, **MACHINE_SETTINGS)

