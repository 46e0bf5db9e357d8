import pytest

import _quillmere
from conftest import graph_of


@pytest.fixture
def graph():
    # 0 -> 1 -> 2 (type "a", weights 2 and 3), 0 -> 2 (type "b", weight 10), node 3 alone.
    return graph_of(4, [(0, 1, "a", {"w": 2}), (1, 2, "a", {"w": 3}), (0, 2, "b", {"w": 10})])


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
            # None takes the default, unknown keys are ignored, an int is a number and a bool an int.
            {"op": "bfs", "start": 0, "direction": None, "edge_type": None, "max_depth": None, "extra": object()},
            {"op": "pagerank", "iterations": None, "damping": None, "tolerance": None},
            {"op": "random_walk", "start": 3, "steps": 4, "seed": None},
            {"op": "pagerank", "damping": 1, "iterations": True},
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
        assert r[9:] == [[0, 1, 2], g.pagerank(), [3], g.pagerank(1, 1.0)]
    assert graph.compute_batch([]) == []


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
    ([{"op": "bfs", "start": 0, "max_depth": -1}], 'optional field "max_depth" must be an int'),
    ([{"op": "shortest_path", "target": "x"}], 'job 0 missing "start"'),
    ([{"op": "shortest_path", "start": 0, "target": 1, "weight_property": 1}],
     'optional field "weight_property" must be a string'),
    ([{"op": "pagerank", "iterations": 2.0}], 'optional field "iterations" must be an int'),
    ([{"op": "pagerank", "damping": "0.5"}], 'optional field "damping" must be a number'),
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
    ([{"op": "subgraph", "nodes": [3, 4]}], "job 0: node 4 not found"),
])
def test_messages(graph, jobs, message):
    for g in (graph, graph.snapshot()):
        with pytest.raises(ValueError) as e:
            g.compute_batch(jobs)
        assert str(e.value) == message


class Index:
    """An id whose conversion runs user code first."""

    def __init__(self, value, effect=lambda: None):
        self.value, self.effect = value, effect

    def __index__(self):
        self.effect()
        return self.value


def raise_(exc):
    raise exc


def test_user_objects_run_during_conversion_cannot_break_it(graph):
    assert graph.compute_batch([{"op": "bfs", "start": Index(1)}, {"op": "subgraph", "nodes": (Index(0),)}])[0] == [1, 2]
    jobs = []
    jobs.extend([{"op": "bfs", "start": Index(0, jobs.clear)}, {"op": "pagerank"}])  # empties the list being read
    assert graph.compute_batch(jobs) == [[0, 1, 2]]
    with pytest.raises(ValueError, match='job 0 field "start" must be an int'):
        graph.compute_batch([{"op": "bfs", "start": Index(0, lambda: raise_(RuntimeError("boom")))}])
    with pytest.raises(KeyboardInterrupt):
        graph.compute_batch([{"op": "bfs", "start": Index(0, lambda: raise_(KeyboardInterrupt))}])
    # Conversion happens before the graph is borrowed, so user code may read it.
    assert graph.compute_batch([{"op": "bfs", "start": Index(0, lambda: graph.bfs(0))}]) == [[0, 1, 2]]

    class JobDict(dict):
        pass

    assert graph.compute_batch([JobDict(op="bfs", start=2)]) == [[2]]
    assert graph.compute_batch(type("L", (list,), {})([{"op": "bfs", "start": 3}])) == [[3]]
