"""Random insertion sequences against a plain model that knows the rules (dense ids, default
external ids, record checks first, all-or-nothing batches, exact messages, lookups by kind and
canonical text), checked after every step, and for snapshots as the model was when taken."""
import copy
import math
import os
import shutil
import tempfile

from hypothesis import HealthCheck, settings, strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, precondition, rule

import _quillmere
from store_helpers import canonical as encoded, quoted

EXTERNAL_IDS = [None, None, None, "a", "b", "node:0", "node:1", "node:2", "node:3", "", 'q"\n']
LABELS = ["A", "B", "", "A"]
TYPES = ["t", "u", ""]
KEYS = ["k", "w", ""]
VALUES = [0, 1, -1, 0.0, -0.0, 1.0, 2.5, 1e21, 1e-7, True, False, "1", "", "x", 2**63 - 1, -2**63]
NOT_VALUES = [None, float("nan"), float("inf"), [1], 2**63]




class Refused(Exception):
    """A conversion or validation failure the model predicts: exception class and message."""

    def __init__(self, exc, message):
        super().__init__(message)
        self.exc, self.message = exc, message


def convert_value(v):
    if isinstance(v, bool) or isinstance(v, str):
        return v
    if isinstance(v, int):
        if not -2**63 <= v < 2**63:
            raise Refused(OverflowError, None)
        return v
    if isinstance(v, float):
        if not math.isfinite(v):
            raise Refused(ValueError, "float property values must be finite")
        return v
    raise Refused(ValueError, "property values must be str, int, float, or bool")


def convert_props(d):
    if d is None:
        return {}
    out = {}
    for k, v in d.items():
        if not isinstance(k, str):
            raise Refused(ValueError, "property keys must be strings")
        out[k] = convert_value(v)
    return out


def check_fields(name, record, allowed):
    for key in record:
        if not isinstance(key, str):
            raise Refused(ValueError, f"{name} keys must be strings")
        if key not in allowed:
            raise Refused(ValueError, f"{name} has unknown field {quoted(key)}")
    props = record.get("properties")
    if props is not None and not isinstance(props, dict):
        raise Refused(ValueError, 'optional record field "properties" must be a dict')


def convert_node_record(i, record):
    if not isinstance(record, dict):
        raise Refused(ValueError, f"node record {i} must be a dict")
    check_fields(f"node record {i}", record, ("external_id", "labels", "properties"))
    ext = record.get("external_id")
    if ext is not None and not isinstance(ext, str):
        raise Refused(ValueError, 'optional record field "external_id" must be a string')
    labels = record.get("labels")
    if labels is None:
        labels = []
    elif isinstance(labels, str) or not all(isinstance(x, str) for x in labels):
        raise Refused(ValueError, 'optional record field "labels" must be a list of strings')
    return ext, list(labels), convert_props(record.get("properties"))


def convert_edge_record(i, record):
    if not isinstance(record, dict):
        raise Refused(ValueError, f"edge record {i} must be a dict")
    check_fields(f"edge record {i}", record, ("source", "target", "edge_type", "properties"))
    ends = []
    for key in ("source", "target"):
        if key not in record:
            raise Refused(ValueError, f'record {i} missing "{key}"')
        v = record[key]
        if not isinstance(v, int) or not 0 <= v < 2**64:
            raise Refused(ValueError, f'record {i} field "{key}" must be an int')
        ends.append(v)
    if "edge_type" not in record:
        raise Refused(ValueError, f'record {i} missing "edge_type"')
    if not isinstance(record["edge_type"], str):
        raise Refused(ValueError, f'record {i} field "edge_type" must be a string')
    return ends[0], ends[1], record["edge_type"], convert_props(record.get("properties"))


class Model:
    def __init__(self):
        self.nodes = []  # (external id, labels, properties), id = position
        self.edges = []  # (source, target, type, properties), id = position

    def add_nodes(self, records):
        """records: converted (external id or None, labels, props). All or nothing."""
        taken = {n[0] for n in self.nodes}
        new = []
        for i, (ext, labels, props) in enumerate(records):
            if any(label == "" for label in labels):
                raise Refused(ValueError, "label cannot be empty")
            if "" in props:
                raise Refused(ValueError, "property key cannot be empty")
            node_id = len(self.nodes) + i
            ext = f"node:{node_id}" if ext is None else ext
            if ext == "":
                raise Refused(ValueError, "external_id cannot be empty")
            if ext in taken:
                raise Refused(ValueError, f"external_id {quoted(ext)} already exists")
            taken.add(ext)
            new.append((ext, labels, props))
        first = len(self.nodes)
        self.nodes.extend(new)
        return list(range(first, len(self.nodes)))

    def add_edges(self, records):
        for source, target, edge_type, props in records:
            if edge_type == "":
                raise Refused(ValueError, "edge_type cannot be empty")
            if "" in props:
                raise Refused(ValueError, "property key cannot be empty")
            for end in (source, target):
                if end >= len(self.nodes):
                    raise Refused(ValueError, f"node {end} not found")
        first = len(self.edges)
        self.edges.extend(records)
        return list(range(first, len(self.edges)))


def expect(call, predicted):
    """Runs call and the model's prediction; both must succeed alike or fail alike."""
    try:
        want = predicted()
    except Refused as refused:
        try:
            call()
        except refused.exc as exc:
            if refused.message is not None:
                assert str(exc) == refused.message
            return
        raise AssertionError(f"expected {refused.exc.__name__}: {refused.message}")
    assert call() == want


prop_values = st.sampled_from(VALUES)
prop_dicts = st.dictionaries(st.sampled_from(KEYS), prop_values, max_size=3)
maybe_bad_props = st.one_of(
    prop_dicts, prop_dicts, st.none(),
    st.dictionaries(st.sampled_from(KEYS), st.sampled_from(NOT_VALUES), min_size=1, max_size=1),
    st.just({1: "x"}))
labels = st.lists(st.sampled_from(LABELS), max_size=3)
node_id_values = st.one_of(st.integers(0, 7), st.sampled_from([2**64 - 1]))
node_records = st.one_of(
    st.fixed_dictionaries({}, optional={"external_id": st.sampled_from(EXTERNAL_IDS),
                                        "labels": st.one_of(st.none(), labels), "properties": maybe_bad_props}),
    st.sampled_from([5, {"name": "x"}, {"labels": "A"}, {"labels": ["A", 3]}, {"external_id": 7},
                     {"properties": [1]}, {1: 2}]))
edge_records = st.one_of(
    st.fixed_dictionaries({"source": node_id_values, "target": node_id_values,
                           "edge_type": st.sampled_from(TYPES)}, optional={"properties": maybe_bad_props}),
    st.sampled_from([[1], {"source": 0, "target": 0}, {"source": 0, "edge_type": "t"},
                     {"source": -1, "target": 0, "edge_type": "t"}, {"source": 0, "target": 2**64, "edge_type": "t"},
                     {"source": 0, "target": 0, "edge_type": None}, {"source": 0, "target": 0, "edge_type": "t", "w": 1},
                     {"source": 0, "target": 0, "edge_type": "t", "properties": 3}, {"source": "0", "target": 0, "edge_type": "t"}]))


class GraphMachine(RuleBasedStateMachine):
    path = None

    def __init__(self):
        super().__init__()
        self.graph = _quillmere.Graph(self.path)
        self.model = Model()
        self.snapshots = []

    @rule(ext=st.sampled_from(EXTERNAL_IDS), labels=labels, props=maybe_bad_props)
    def add_node(self, ext, labels, props):
        def predicted():
            converted = convert_props(props)
            return self.model.add_nodes([(ext, labels, converted)])[0]
        expect(lambda: self.graph.add_node(ext, labels, props), predicted)

    @rule(records=st.lists(node_records, max_size=5))
    def add_nodes(self, records):
        def predicted():
            converted = [convert_node_record(i, r) for i, r in enumerate(records)]
            return self.model.add_nodes(converted)
        expect(lambda: self.graph.add_nodes(records), predicted)

    @rule(tail=node_id_values, head=node_id_values, edge_type=st.sampled_from(TYPES), props=maybe_bad_props)
    def add_edge(self, tail, head, edge_type, props):
        def predicted():
            return self.model.add_edges([(tail, head, edge_type, convert_props(props))])[0]
        expect(lambda: self.graph.add_edge(tail, head, edge_type, props), predicted)

    @rule(records=st.lists(edge_records, max_size=5))
    def add_edges(self, records):
        def predicted():
            converted = [convert_edge_record(i, r) for i, r in enumerate(records)]
            return self.model.add_edges(converted)
        expect(lambda: self.graph.add_edges(records), predicted)

    @rule()
    def compact(self):
        self.graph.compact()

    @precondition(lambda self: len(self.snapshots) < 3)
    @rule()
    def snapshot(self):
        self.snapshots.append((self.graph.snapshot(), copy.deepcopy(self.model)))

    @invariant()
    def lookups_agree(self):
        compare(self.graph, self.model)
        for snap, model in self.snapshots:
            compare(snap, model)

    def teardown(self):
        if self.path is not None:
            # The file holds exactly what memory holds, failed batches included.
            del self.graph
            compare(_quillmere.Graph(self.path), self.model)


def kinds_and_texts(props):
    return {k: encoded(v) for k, v in props.items()}


def compare(h, model):
    n, m = len(model.nodes), len(model.edges)
    assert (h.node_count(), h.edge_count()) == (n, m)
    assert h.node_ids() == list(range(n)) and h.edge_ids() == list(range(m))
    nodes, edges = h.nodes(), h.edges()
    for i, (ext, labels, props) in enumerate(model.nodes):
        got = nodes[i]
        assert (got.id, got.external_id, got.labels, got.properties) == (i, ext, labels, props)
        assert kinds_and_texts(got.properties) == kinds_and_texts(props)
        assert h.get_node_id(ext) == i
    for i, (source, target, edge_type, props) in enumerate(model.edges):
        got = edges[i]
        assert (got.id, got.source, got.target, got.edge_type) == (i, source, target, edge_type)
        assert kinds_and_texts(got.properties) == kinds_and_texts(props)
    for missing in (n, 2**64 - 1):
        try:
            h.get_node(missing)
            raise AssertionError("missing node found")
        except KeyError as exc:
            assert exc.args[0] == f"node {missing} not found"
    assert h.get_node_id("never") is None
    for label in LABELS[:2]:
        assert h.nodes_with_label(label) == [i for i, nd in enumerate(model.nodes) if label in nd[1]]
    for edge_type in TYPES[:2]:
        assert h.edges_by_type(edge_type) == [i for i, e in enumerate(model.edges) if e[2] == edge_type]
    for key in KEYS[:2]:
        assert h.nodes_with_property(key) == [i for i, nd in enumerate(model.nodes) if key in nd[2]]
        assert h.edges_with_property(key) == [i for i, e in enumerate(model.edges) if key in e[3]]
        for v in VALUES:
            want = encoded(v)
            assert h.nodes_with_property(key, v) == [
                i for i, nd in enumerate(model.nodes) if key in nd[2] and encoded(nd[2][key]) == want]
            assert h.edges_with_property(key, v) == [
                i for i, e in enumerate(model.edges) if key in e[3] and encoded(e[3][key]) == want]
    for node in range(n):
        outs = [e[1] for e in model.edges if e[0] == node]
        ins = [e[0] for e in model.edges if e[1] == node]
        assert h.neighbors(node, "out") == list(dict.fromkeys(outs))
        assert h.neighbors(node, "in") == list(dict.fromkeys(ins))
        assert h.neighbors(node, "both") == list(dict.fromkeys(outs + ins))


MODEL_SETTINGS = dict(deadline=None, derandomize=True, stateful_step_count=25,
                      suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much])

TestInMemoryGraph = GraphMachine.TestCase
TestInMemoryGraph.settings = settings(max_examples=120, **MODEL_SETTINGS)


class FileBackedMachine(GraphMachine):
    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="qm-model-")
        self.path = os.path.join(self.folder, "g.db")
        super().__init__()

    def teardown(self):
        try:
            super().teardown()
        finally:
            shutil.rmtree(self.folder, ignore_errors=True)


TestFileBackedGraph = FileBackedMachine.TestCase
TestFileBackedGraph.settings = settings(max_examples=25, **MODEL_SETTINGS)
