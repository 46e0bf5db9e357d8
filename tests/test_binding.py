"""The binding layer's conversions under values that change while they are read."""
import pytest

import _quillmere


class Shrinks:
    """A number whose conversion empties the list it sits in."""

    def __init__(self, owner, value):
        self.owner, self.value = owner, value

    def __float__(self):
        self.owner.clear()
        return float(self.value)

    def __index__(self):
        self.owner.clear()
        return self.value


def test_lists_emptied_while_converted_end_the_walk_safely(g):
    g.add_nodes([{} for _ in range(3)])
    g.add_edges([{"source": 0, "target": 1, "edge_type": "t"}])
    starts = []
    starts.extend([Shrinks(starts, 0), 1, 2])
    assert g.frontier(starts, 1) == [1]
    nodes = []
    nodes.extend([Shrinks(nodes, 0), 1, 2])
    assert g.subgraph(nodes).node_ids() == [0]
    v = g.add_variable("binary", states=["a", "b"])
    values = []
    values.extend([Shrinks(values, 1), object(), object()])
    with pytest.raises(ValueError, match="has 1 values but expected 2"):
        g.add_factor_table([v], values)
    assert g.factor_count() == 0


@pytest.mark.parametrize("call, text", [
    (lambda g: g.add_factor_table([0], {1.0, 2.0}), "argument 'values': 'set' object cannot be converted to 'Sequence'"),
    (lambda g: g.add_factor_table([0], [1.0, "x"]), "argument 'values': must be real number, not str"),
    (lambda g: g.propagate(None, 1), "argument 'seeds': 'NoneType' object cannot be converted to 'PyDict'"),
    (lambda g: g.propagate({"a": 1.0}, 1), "argument 'seeds': 'str' object cannot be interpreted as an integer"),
])
def test_every_reader_names_its_argument(g, call, text):
    g.add_variable("binary", states=["a", "b"])
    with pytest.raises(TypeError) as info:
        call(g)
    assert str(info.value) == text


def nested(depth, leaf=1):
    value = leaf
    for _ in range(depth):
        value = [value] if depth % 2 else {"k": value}
    return value


@pytest.mark.parametrize("depth", [99, 100])
def test_nested_values_up_to_the_bound_round_trip(g, depth):
    value = nested(depth)
    assert g.cypher("RETURN $p AS p", {"p": value}).records == [{"p": value}]


def test_nested_values_past_the_bound_or_containing_themselves_are_refused(g):
    looped = {}
    looped["self"] = [looped]
    for value in (nested(101), nested(100000), looped):
        with pytest.raises(RecursionError, match="value is nested more than 100 levels deep"):
            g.cypher("RETURN $p AS p", {"p": value})
    # Every refused read gave its levels back: the deepest accepted value still passes.
    assert g.cypher("RETURN $p AS p", {"p": nested(100)}).records == [{"p": nested(100)}]
