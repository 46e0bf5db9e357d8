"""Query dictionaries: messages in check order, the schema, snapshots, hostile inputs."""

import pytest

import _quillmere
from conftest import graph_of

N = {"node": "a"}
E = {}


def q_unknown(ctx, key):
    return f'{ctx} has unknown field "{key}"'


ERRORS = [
    # the spec itself
    ([("match", [N])], "query spec must be a dict"),
    ({"match": [N], "where": []}, q_unknown("query spec", "where")),
    ({"match": [N], 1: 2}, "query spec keys must be strings"),
    ({}, 'query field "match" is required'),
    ({"match": None}, 'query field "match" is required'),
    ({"match": (N,)}, "query field 'match' must be a list"),
    ({"match": []}, "query field 'match' must contain at least one pattern element"),
    ({"match": [N, E]}, "query field 'match' must alternate node, edge, node"),
    # elements: shape, swapped kinds, unknown fields
    ({"match": [N, E, "b"]}, "match element 2 must be a dict"),
    ({"match": [{"edge": "e"}]}, "match element 0 must be a node pattern, not a edge pattern"),
    ({"match": [N, {"node": "b"}, N]}, "match element 1 must be an edge pattern, not a node pattern"),
    ({"match": [N, E, {"node": "b", "edge": "x"}]}, "match element 2 must be a node pattern, not a edge pattern"),
    ({"match": [{"node": "a", "edge": None}]}, q_unknown("match element 0", "edge")),
    ({"match": [N, {"node": None}, N]}, q_unknown("match element 1", "node")),
    ({"match": [N, {"label": "x"}, N]}, q_unknown("match element 1", "label")),
    ({"match": [{"node": "a", 3: 1}]}, "match element 0 keys must be strings"),
    # node fields, in their order
    ({"match": [{}]}, 'query field "node" is required'),
    ({"match": [{"node": None}]}, 'query field "node" is required'),
    ({"match": [{"node": 5}]}, 'match element 0 field "node" must be a string'),
    ({"match": [N, E, {"node": 5, "id": -1}]}, 'match element 2 field "node" must be a string'),
    ({"match": [{"node": "a", "id": -1}]}, 'optional query field "id" must be an int'),
    ({"match": [{"node": "a", "id": 2**64}]}, 'optional query field "id" must be an int'),
    ({"match": [{"node": "a", "id": 1.0}]}, 'optional query field "id" must be an int'),
    ({"match": [{"node": "a", "id": "1", "external_id": 3}]}, 'optional query field "id" must be an int'),
    ({"match": [{"node": "a", "external_id": 3}]}, 'optional query field "external_id" must be a string'),
    ({"match": [{"node": "a", "labels": "A"}]}, 'optional query field "labels" must be a list of strings'),
    ({"match": [{"node": "a", "labels": ["A", 1]}]}, 'optional query field "labels" must be a list of strings'),
    ({"match": [{"node": "a", "labels": {"A": 1}}]}, 'optional query field "labels" must be a list of strings'),
    ({"match": [{"node": "a", "labels": 3, "properties": 1}]}, 'optional query field "labels" must be a list of strings'),
    # constraints
    ({"match": [{"node": "a", "properties": [("k", 1)]}]}, 'optional query field "properties" must be a dict'),
    ({"match": [{"node": "a", "properties": {1: 1}}]}, "property keys must be strings"),
    ({"match": [{"node": "a", "properties": {"k": None}}]}, "property values must be str, int, float, or bool"),
    ({"match": [{"node": "a", "properties": {"k": float("nan")}}]}, "float property values must be finite"),
    ({"match": [{"node": "a", "properties": {"k": 1}, "where": {}}]}, "query field 'where' must be a list"),
    ({"match": [{"node": "a", "where": [3]}]}, "where filter 0 must be a dict"),
    ({"match": [{"node": "a", "where": [{"property": "k", "value": 1}, {"prop": "k"}]}]},
     q_unknown("where filter 1", "prop")),
    ({"match": [{"node": "a", "where": [{"value": 1}]}]}, 'query field "property" is required'),
    ({"match": [{"node": "a", "where": [{"property": "k", "value": 1}, {"property": 7}]}]},
     'match element 1 field "property" must be a string'),
    ({"match": [{"node": "a", "where": [{"property": "k", "op": 1, "value": 1}]}]},
     'optional query field "op" must be a string'),
    ({"match": [{"node": "a", "where": [{"property": "k", "op": "EQ", "value": 1}]}]},
     'unknown property filter op "EQ"'),
    ({"match": [{"node": "a", "where": [{"property": "k"}]}]}, 'query field "value" is required'),
    ({"match": [{"node": "a", "where": [{"property": "k", "value": None}]}]}, 'query field "value" is required'),
    ({"match": [{"node": "a", "where": [{"property": "age", "op": "in", "value": 3}]}]},
     "property filter op 'in' requires a list value"),
    ({"match": [{"node": "a", "where": [{"property": "age", "op": "in", "value": (1, 2)}]}]},
     "property filter op 'in' requires a list value"),
    ({"match": [{"node": "a", "where": [{"property": "age", "op": "in", "value": [1, None]}]}]},
     "property values must be str, int, float, or bool"),
    ({"match": [{"node": "a", "where": [{"property": "k", "value": [1]}]}]},
     "property values must be str, int, float, or bool"),
    # edge fields: direction is read first
    ({"match": [N, {"direction": "OUT", "edge": 5}, N]},
     "query edge direction must be 'out', 'in', or 'both', got \"OUT\""),
    ({"match": [N, {"direction": 1}, N]}, 'optional query field "direction" must be a string'),
    ({"match": [N, {"edge": 5, "id": -1}, N]}, 'optional query field "edge" must be a string'),
    ({"match": [N, {"id": -1, "type": 1}, N]}, 'optional query field "id" must be an int'),
    ({"match": [N, {"type": 1}, N]}, 'optional query field "type" must be a string'),
    ({"match": [N, {"where": [{"property": "k", "op": "bad\n", "value": 1}]}, N]},
     'unknown property filter op "bad\\n"'),
    # top level after the match list
    ({"match": [N], "return": "a"}, 'optional query field "return" must be a list of strings'),
    ({"match": [N], "return": [1]}, 'optional query field "return" must be a list of strings'),
    ({"match": [N], "limit": -1}, 'optional query field "limit" must be an int'),
    ({"match": [N], "limit": "3"}, 'optional query field "limit" must be an int'),
    # execution-time validation, element by element, then "return"
    ({"match": [{"node": ""}]}, "node alias cannot be empty"),
    ({"match": [N, {"edge": ""}, N]}, "edge alias cannot be empty"),
    ({"match": [{"node": "a", "where": [{"property": "", "value": 1}]}]}, "property filter key cannot be empty"),
    ({"match": [{"node": "a", "properties": {"": 1}}]}, "property filter key cannot be empty"),
    ({"match": [{"node": "a", "where": [{"property": "k", "op": "contains", "value": 1}]}]},
     "property filter op 'contains' requires a string value"),
    ({"match": [{"node": "", "where": [{"property": "", "value": 1}]}]}, "node alias cannot be empty"),
    ({"match": [{"node": "a", "where": [{"property": "", "value": 1}]}, {"edge": "a"}, N]},
     "property filter key cannot be empty"),
    ({"match": [N, {"edge": "a", "where": [{"property": "", "value": 1}]}, N]},
     'alias "a" cannot refer to both nodes and edges'),
    ({"match": [{"node": "a", "where": [{"property": "", "value": 1}]}], "return": ["zz"]},
     "property filter key cannot be empty"),
    ({"match": [N], "return": [""]}, "return alias cannot be empty"),
    ({"match": [N, E, N], "return": ["b"]}, 'return alias "b" is not declared'),
    ({"match": [N], "return": ["a", "a", ""]}, 'return alias "a" is duplicated'),
]


@pytest.mark.parametrize("spec, message", ERRORS)
def test_invalid_queries_report_the_first_failing_check(spec, message):
    g = graph_of(2, [(0, 1)])
    for target in (g, g.snapshot()):
        with pytest.raises(ValueError) as info:
            target.query(spec)
        assert str(info.value) == message


def test_empty_values_and_python_sequences():
    g = graph_of(2, [(0, 1), (1, 1)])
    # None counts as absent throughout; tuples of strings are sequences; __index__ is an int.

    class Index:
        def __index__(self):
            return 1

    spec = {"match": [{"node": "a", "id": Index(), "labels": (), "external_id": None, "properties": None,
                       "where": None}, {"edge": None, "direction": None, "type": None, "id": None}, {"node": "b"}],
            "return": ("b",), "limit": None}
    assert g.query(spec) == [{"b": 1}]
    assert g.query({"match": [N], "return": []}) == [{}, {}]
    both = [{"a": 0, "b": 1}, {"a": 1, "b": 1}, {"a": 1, "b": 0}]
    assert g.query({"match": [N, {"direction": "both"}, {"node": "b"}], "limit": 2**64 - 1}) == both


def test_float_zero_signs_differ_for_anchors_but_not_while_walking():
    # The value index tells 0.0 from -0.0; comparisons made while walking do not.
    g = _quillmere.Graph()
    g.add_nodes([{"properties": {"z": -0.0}}, {"properties": {"z": 0.0}}])
    g.add_edges([{"source": 0, "target": 1, "edge_type": "t", "properties": {"z": -0.0}}])
    assert g.query({"match": [{"node": "a", "properties": {"z": 0.0}}]}) == [{"a": 1}]
    assert g.query({"match": [{"node": "a", "where": [{"property": "z", "op": "in", "value": [0.0]}]}]}) == [
        {"a": 0}, {"a": 1}]
    rows = g.query({"match": [{"node": "b", "id": 1}, {"direction": "in", "properties": {"z": 0.0}},
                              {"node": "a", "properties": {"z": 0.0}}]})
    assert rows == [{"a": 0, "b": 1}]


def test_long_paths_walk_without_deep_recursion():
    g = graph_of(2, [(0, 1), (1, 0)])
    match = [N]
    for i in range(1, 20001):
        match += [{"direction": "out"}, {"node": "a" if i % 2 == 0 else "b"}]
    assert g.query({"match": match}) == [{"a": 0, "b": 1}, {"a": 1, "b": 0}]


def test_hostile_inputs_fail_cleanly():
    g = graph_of(1, [])
    with pytest.raises(OverflowError):
        g.query({"match": [{"node": "a", "properties": {"k": 2**63}}]})
    with pytest.raises(TypeError):
        g.query()
    with pytest.raises(TypeError):
        g.query({"match": [N]}, 1)
    cyclic = []
    cyclic.append(cyclic)
    with pytest.raises(ValueError, match="property values must be"):
        g.query({"match": [{"node": "a", "where": [{"property": "k", "op": "in", "value": cyclic}]}]})
    deep = [1]
    for _ in range(100000):
        deep = [deep]
    with pytest.raises(ValueError, match="property values must be"):
        g.query({"match": [{"node": "a", "where": [{"property": "k", "op": "in", "value": deep}]}]})
    spec = {"match": []}
    spec["match"] += [spec] * 3
    with pytest.raises(ValueError, match='match element 0 has unknown field "match"'):
        g.query(spec)

    class Shrinking:  # empties the match list being read
        def __init__(self, lst):
            self.lst = lst

        def __index__(self):
            self.lst.clear()
            return 0

    match = [{"node": "a"}, {}, {"node": "b"}]
    match[0]["id"] = Shrinking(match)
    assert g.query({"match": match}) == [{"a": 0}]  # what was read before the list emptied

    class BadKey(str):
        pass

    assert g.query({"match": [{BadKey("node"): "a"}]}) == [{"a": 0}]
    # A key that is not valid text is named with escapes (whose backslash is then quoted).
    with pytest.raises(ValueError) as info:
        g.query({"match": [{"node": "a", "\ud800": 1}]})
    assert str(info.value) == 'match element 0 has unknown field "\\\\ud800"'

    with pytest.raises(UnicodeEncodeError):
        g.query({"match": [{"node": "\ud800"}]})


def test_schema_is_published_exactly_and_fresh_each_time(q):
    expected = {
        "name": "quillmere_query_dsl_v0",
        "description": "Structured path-pattern query DSL for one connected node-edge-node path.",
        "operators": ["eq", "ne", "lt", "lte", "gt", "gte", "in", "contains"],
        "directions": ["out", "in", "both"],
        "top_level_fields": ["match", "return", "limit"],
        "return": "optional list of node or edge aliases",
        "limit": "optional non-negative integer row limit",
        "node_pattern": {
            "allowed_fields": ["node", "id", "external_id", "labels", "properties", "where"],
            "node": "required alias string",
            "id": "optional internal node id",
            "external_id": "optional external node id",
            "labels": "optional list of required labels",
            "properties": "optional exact-match property dict",
            "where": "optional list of property filters",
        },
        "edge_pattern": {
            "allowed_fields": ["edge", "id", "type", "direction", "properties", "where"],
            "edge": "optional alias string",
            "id": "optional internal edge id",
            "type": "optional edge type",
            "direction": "optional direction relative to surrounding nodes",
            "properties": "optional exact-match property dict",
            "where": "optional list of property filters",
        },
        "where_filter": {
            "allowed_fields": ["property", "op", "value"],
            "property": "required property key",
            "op": "optional operator, defaults to eq",
            "value": "scalar value, or list when op is in",
        },
    }

    def ordered(d):
        return [(k, ordered(v) if isinstance(v, dict) else v) for k, v in d.items()]

    g = q.Graph()
    for schema in (q._query_dsl_schema(), g.query_schema(), g.snapshot().query_schema()):
        assert ordered(schema) == ordered(expected)
    first = q._query_dsl_schema()
    first["operators"].append("x")
    first["node_pattern"].clear()
    assert q._query_dsl_schema() == expected
    assert q._query_dsl_schema.__text_signature__ == "()"
    names = list(vars(q))
    assert names.index("__version__") < names.index("_query_dsl_schema") < names.index("Graph")

