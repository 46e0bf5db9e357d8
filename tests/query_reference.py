"""A deliberately naive plain-Python query executor, kept so simple that it is easy to trust:
every node element's candidate list in full, bindings copied per partial path, recursion on
both sides. The engine's pruned, anchored search must give exactly its rows, so any shortcut
that drops or reorders a row shows. It reads the graph only through the public read methods."""

import math

from store_helpers import quoted as _q

DIRECTIONS = {"out": "out", "outgoing": "out", "in": "in", "incoming": "in", "both": "both", "all": "both"}


class QueryError(Exception):
    pass




def same(p, v):
    return type(p) is type(v) and p == v


def _number(x):
    return type(x) in (int, float)


def holds(p, op, v):
    if op == "eq":
        return not isinstance(v, list) and same(p, v)
    if op == "ne":
        return not isinstance(v, list) and not same(p, v)
    if op == "in":
        return isinstance(v, list) and any(same(p, x) for x in v)
    if op == "contains":
        return type(v) is str and type(p) is str and v in p
    if isinstance(v, list) or not _number(v) or not _number(p):
        return False
    pv, vv = float(p), float(v)
    return {"lt": pv < vv, "lte": not pv > vv, "gt": pv > vv, "gte": not pv < vv}[op]


def properties_match(props, constraints):
    if not constraints:
        return True
    if not props:
        return False
    return all(key in props and holds(props[key], op, v) for key, op, v in constraints)


def constraints_of(el):
    out = [(k, "eq", v) for k, v in (el.get("properties") or {}).items()]
    for f in el.get("where") or []:
        out.append((f["property"], f.get("op") or "eq", f["value"]))
    return out


def validate_constraints(constraints):
    for key, op, v in constraints:
        if key == "":
            raise QueryError("property filter key cannot be empty")
        if op == "in" and not isinstance(v, list):
            raise QueryError("property filter op 'in' requires a list value")
        if op == "contains" and type(v) is not str:
            raise QueryError("property filter op 'contains' requires a string value")
        if op not in ("in", "contains") and isinstance(v, list):
            raise QueryError("property filter op %s requires a scalar value" % op.capitalize())


def index_key(v):
    """What the value index compares: kind and canonical text (so 0.0 and -0.0 differ)."""
    if type(v) is float:
        return (float, v, math.copysign(1.0, v))
    return (type(v), v)


class Graph:
    def __init__(self, g):
        self.nodes = {n.id: n for n in g.nodes()}
        self.edges = {e.id: e for e in g.edges()}
        self.out = {n: [] for n in self.nodes}
        self.inc = {n: [] for n in self.nodes}
        for e in sorted(self.edges):
            self.out[self.edges[e].source].append(e)
            self.inc[self.edges[e].target].append(e)


def node_matches(el, node, constraints):
    if el.get("id") is not None and el["id"] != node.id:
        return False
    if el.get("external_id") is not None and el["external_id"] != node.external_id:
        return False
    if any(label not in node.labels for label in el.get("labels") or []):
        return False
    return properties_match(node.properties, constraints)


def node_candidates(G, el, constraints):
    current = None

    def narrow(ids):
        nonlocal current
        current = set(ids) if current is None else current & set(ids)

    if el.get("id") is not None:
        narrow([el["id"]] if el["id"] in G.nodes else [])
    if el.get("external_id") is not None:
        narrow([n.id for n in G.nodes.values() if n.external_id == el["external_id"]])
    for label in el.get("labels") or []:
        narrow([n.id for n in G.nodes.values() if label in n.labels])
    for key, op, v in constraints:
        if op == "eq" and not isinstance(v, list):
            narrow([n.id for n in G.nodes.values()
                    if key in n.properties and index_key(n.properties[key]) == index_key(v)])
    ids = sorted(G.nodes) if current is None else sorted(current)
    return [i for i in ids if node_matches(el, G.nodes[i], constraints)]


def run(g, spec):
    """Rows as lists of (alias, id) pairs in key order, or raises QueryError."""
    match = spec["match"]
    if not match:
        raise QueryError("query match must contain at least one pattern element")
    if len(match) % 2 == 0:
        raise QueryError("query match must alternate node, edge, node")
    kinds, declared = {}, []
    cons = []

    def declare(alias, kind):
        if alias in kinds:
            if kinds[alias] != kind:
                raise QueryError("alias %s cannot refer to both nodes and edges" % _q(alias))
            return
        kinds[alias] = kind
        declared.append(alias)

    for i, el in enumerate(match):
        if i % 2 == 0:
            if el["node"] == "":
                raise QueryError("node alias cannot be empty")
            declare(el["node"], "node")
        elif el.get("edge") is not None:
            if el["edge"] == "":
                raise QueryError("edge alias cannot be empty")
            declare(el["edge"], "edge")
        cons.append(constraints_of(el))
        validate_constraints(cons[-1])
    if spec.get("return") is not None:
        seen = []
        for a in spec["return"]:
            if a == "":
                raise QueryError("return alias cannot be empty")
            if a not in kinds:
                raise QueryError("return alias %s is not declared" % _q(a))
            if a in seen:
                raise QueryError("return alias %s is duplicated" % _q(a))
            seen.append(a)
        reported = seen
    else:
        reported = declared
    limit = spec.get("limit")
    G = Graph(g)

    best, best_len = None, None
    for p in range(0, len(match), 2):
        n = len(node_candidates(G, match[p], cons[p]))
        if best is None or n < best_len:
            best, best_len = p, n

    rows = []

    def full():
        return limit is not None and len(rows) >= limit

    def steps(n, direction):
        # Outgoing first; under "both" a self loop is listed once.
        outs = [(e, G.edges[e].target) for e in G.out[n]] if direction != "in" else []
        ins = [(e, G.edges[e].source) for e in G.inc[n]] if direction != "out" else []
        listed = {e for e, _ in outs}
        return outs + [s for s in ins if s[0] not in listed]

    def try_step(p_edge, p_node, e, m, b):
        E, N = match[p_edge], match[p_node]
        edge = G.edges[e]
        if E.get("id") is not None and E["id"] != e:
            return None
        if E.get("type") is not None and E["type"] != edge.edge_type:
            return None
        if not properties_match(edge.properties, cons[p_edge]):
            return None
        if m not in G.nodes or not node_matches(N, G.nodes[m], cons[p_node]):
            return None
        b = dict(b)
        for alias, value in ((E.get("edge"), e), (N["node"], m)):
            if alias is None:
                continue
            if alias in b and b[alias] != value:
                return None
            b[alias] = value
        return b

    def expand_right(p, n, b):
        if full():
            return
        if p == len(match) - 1:
            rows.append(sorted((a, b[a]) for a in reported))
            return
        direction = DIRECTIONS[match[p + 1].get("direction") or "out"]
        for e, m in steps(n, direction):
            if full():
                return
            nb = try_step(p + 1, p + 2, e, m, b)
            if nb is not None:
                expand_right(p + 2, m, nb)

    def expand_left(p, n, b, out):
        if p == 0:
            out.append(b)
            return
        direction = {"out": "in", "in": "out", "both": "both"}[DIRECTIONS[match[p - 1].get("direction") or "out"]]
        for e, m in steps(n, direction):
            nb = try_step(p - 1, p - 2, e, m, b)
            if nb is not None:
                expand_left(p - 2, m, nb, out)

    anchor = match[best]["node"]
    for c in node_candidates(G, match[best], cons[best]):
        lefts = []
        expand_left(best, c, {anchor: c}, lefts)
        for b in lefts:
            expand_right(best, b[anchor], b)
            if full():
                return rows
    return rows
