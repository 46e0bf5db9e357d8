import pytest

import _quillmere


@pytest.fixture
def graph():
    # 0 -> 1 -> 2 (type "a", weights 2 and 3), 0 -> 2 (type "b", weight 10), node 3 alone.
    g = _quillmere.Graph()
    g.add_nodes([{} for _ in range(4)])
    g.add_edges([
        {"source": 0, "target": 1, "edge_type": "a", "properties": {"w": 2}},
        {"source": 1, "target": 2, "edge_type": "a", "properties": {"w": 3}},
        {"source": 0, "target": 2, "edge_type": "b", "properties": {"w": 10}},
    ])
    return g


def test_results_match_the_single_methods(graph):
    for g in (graph, graph.snapshot()):
        jobs = [
            {"op": "bfs", "start": 0},
            {"op": "bfs", "start": 2, "direction": "in", "edge_type": "a", "max_depth": 1},
            {"op": "shortest_path", "start": 0, "target": 2, "weight_property": "w"},
            {"op": "shortest_path", "start": 2, "target": 0},
            {"op": "connected_components", "edge_type": "b"},
            {"op": "pagerank"},
            {"op": "pagerank", "iterations": 3, "damping": 0.5, "tolerance": 0.1, "edge_type": "a"},
            {"op": "random_walk", "start": 0, "steps": 5, "seed": 7, "direction": "both"},
            {"op": "subgraph", "nodes": [2, 1], "edge_type": "a"},
        ]
        r = g.compute_batch(jobs)
        assert r[0] == g.bfs(0) == [0, 1, 2]
        assert r[1] == g.bfs(2, "in", "a", 1) == [2, 1]
        assert r[2] == g.shortest_path(0, 2, weight_property="w") == {"nodes": [0, 1, 2], "distance": 5.0}
        assert r[3] is None
        assert r[4] == g.connected_components("b") == [[0, 2], [1], [3]]
        assert r[5] == g.pagerank(20, 0.85)
        assert list(r[5]) == [0, 1, 2, 3]
        assert r[6] == g.pagerank(3, 0.5, 0.1, "a")
        assert r[7] == g.random_walk(0, 5, "both", seed=7)
        assert type(r[8]) is _quillmere.GraphSnapshot
        assert r[8].node_ids() == [1, 2] and r[8].edge_ids() == [1]
    assert graph.compute_batch([]) == []


def test_none_fields_take_defaults_and_unknown_keys_are_ignored(graph):
    r = graph.compute_batch([
        {"op": "bfs", "start": 0, "direction": None, "edge_type": None, "max_depth": None, "extra": object()},
        {"op": "pagerank", "iterations": None, "damping": None, "tolerance": None},
        {"op": "random_walk", "start": 3, "steps": 4, "seed": None},
        {"op": "pagerank", "damping": 1, "iterations": True},  # an int is a number, a bool an int
    ])
    assert r[0] == [0, 1, 2]
    assert r[1] == graph.pagerank()
    assert r[2] == [3]
    assert r[3] == graph.pagerank(1, 1.0)


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("jobs, message", [
    ((), "compute_batch jobs must be a list"),
    ({"op": "bfs"}, "compute_batch jobs must be a list"),
    ([{"op": "pagerank"}, ["op", "bfs"]], "job 1 must be a dict"),
    ([{}], 'job 0 missing "op"'),
    ([{"op": None}], 'job 0 missing "op"'),
    ([{"op": 1}], 'job 0 field "op" must be a string'),
    ([{"op": "bfs\n"}], 'job 0 has unknown op "bfs\\n"'),
    ([{"op": "bfs"}], 'job 0 missing "start"'),
    ([{"op": "bfs", "start": None}], 'job 0 missing "start"'),
    ([{"op": "bfs", "start": "0"}], 'job 0 field "start" must be an int'),
    ([{"op": "bfs", "start": -1}], 'job 0 field "start" must be an int'),
    ([{"op": "bfs", "start": 0, "direction": 5}], 'optional field "direction" must be a string'),
    ([{"op": "bfs", "start": 0, "max_depth": -1}], 'optional field "max_depth" must be an int'),
    ([{"op": "shortest_path", "start": 0}], 'job 0 missing "target"'),
    ([{"op": "shortest_path", "target": "x"}], 'job 0 missing "start"'),
    ([{"op": "shortest_path", "start": 0, "target": 1, "weight_property": 1}],
     'optional field "weight_property" must be a string'),
    ([{"op": "connected_components", "edge_type": 0}], 'optional field "edge_type" must be a string'),
    ([{"op": "pagerank", "iterations": 2.0}], 'optional field "iterations" must be an int'),
    ([{"op": "pagerank", "damping": "0.5"}], 'optional field "damping" must be a number'),
    ([{"op": "pagerank", "damping": 0.5, "tolerance": []}], 'optional field "tolerance" must be a number'),
    ([{"op": "random_walk", "start": 0}], 'job 0 missing "steps"'),
    ([{"op": "random_walk", "start": 0, "steps": -2}], 'job 0 field "steps" must be an int'),
    ([{"op": "random_walk", "start": 0, "steps": 1, "seed": 2**64}], 'optional field "seed" must be an int'),
    ([{"op": "subgraph"}], 'job 0 missing "nodes"'),
    ([{"op": "subgraph", "nodes": "12"}], 'job 0 field "nodes" must be a list of ints'),
    ([{"op": "subgraph", "nodes": [0, -1]}], 'job 0 field "nodes" must be a list of ints'),
    ([{"op": "subgraph", "nodes": {0: 1}}], 'job 0 field "nodes" must be a list of ints'),
    # Conversion checks every job before any runs: the bad second job wins over a missing node.
    ([{"op": "bfs", "start": 99}, {"op": "nope"}], 'job 1 has unknown op "nope"'),
    # Execution errors name the job in front of the operation's message.
    ([{"op": "pagerank"}, {"op": "bfs", "start": 9}], "job 1: node 9 not found"),
    ([{"op": "shortest_path", "start": 0, "target": 1, "direction": "up"}],
     "job 0: direction must be 'out', 'in', or 'both', got \"up\""),
    ([{"op": "subgraph", "nodes": [3, 4]}], "job 0: node 4 not found"),
])
def test_messages(graph, jobs, message):
    for g in (graph, graph.snapshot()):
        with pytest.raises(ValueError) as e:
            g.compute_batch(jobs)
        assert str(e.value) == message


def test_user_objects_run_during_conversion_cannot_break_it(graph):
    assert graph.compute_batch([{"op": "bfs", "start": Index(1)}, {"op": "subgraph", "nodes": (Index(0),)}])[0] == [1, 2]

    jobs = []

    class Shrinking:
        def __index__(self):
            jobs.clear()  # empties the list being converted
            return 0

    jobs.extend([{"op": "bfs", "start": Shrinking()}, {"op": "pagerank"}])
    assert graph.compute_batch(jobs) == [[0, 1, 2]]

    class Raising:
        def __index__(self):
            raise RuntimeError("boom")

    with pytest.raises(ValueError, match='job 0 field "start" must be an int'):
        graph.compute_batch([{"op": "bfs", "start": Raising()}])

    class Interrupting:
        def __index__(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        graph.compute_batch([{"op": "bfs", "start": Interrupting()}])

    class JobDict(dict):
        pass

    assert graph.compute_batch([JobDict(op="bfs", start=2)]) == [[2]]
    assert graph.compute_batch(type("L", (list,), {})([{"op": "bfs", "start": 3}])) == [[3]]


def test_conversion_code_may_read_the_graph(graph):
    class Reentrant:
        def __index__(self):
            # Conversion happens before the graph is borrowed, so this read is allowed.
            graph.bfs(0)
            return 0

    assert graph.compute_batch([{"op": "bfs", "start": Reentrant()}]) == [[0, 1, 2]]
