"""A plain-Python reference of the written Cypher matcher: every node is a start
candidate and every hop scans every edge. The engine's index and adjacency short cuts
must give exactly its rows, in its order."""
import math


class Model:
    """nodes: id -> (external_id, labels, props); edges: list of (id, s, t, type, props)."""

    def __init__(self):
        self.nodes = {}
        self.edges = []

    def add_node(self, labels, props, external_id=None):
        nid = len(self.nodes)
        self.nodes[nid] = (external_id or f"node:{nid}", list(labels), dict(props))
        return nid

    def add_edge(self, s, t, typ, props):
        eid = len(self.edges)
        self.edges.append((eid, s, t, typ, dict(props)))
        return eid


def is_num(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def values_equal(a, b):
    if a is None or b is None:
        return False
    if isinstance(a, bool) or isinstance(b, bool):
        return type(a) is bool and type(b) is bool and a == b
    if is_num(a) and is_num(b):
        if isinstance(a, int) and isinstance(b, int):
            return a == b
        return float(a) == float(b)
    if isinstance(a, str) and isinstance(b, str):
        return a == b
    if isinstance(a, tuple) and isinstance(b, tuple):  # ("node", id) / ("edge", id)
        return a == b
    return False


def compare(a, b):
    """-1, 0, 1 or None (incomparable)."""
    if isinstance(a, str) and isinstance(b, str):
        return (a > b) - (a < b)
    if is_num(a) and is_num(b):
        if isinstance(a, int) and isinstance(b, int):
            return (a > b) - (a < b)
        x, y = float(a), float(b)
        if math.isnan(x) or math.isnan(y):
            return None
        return (x > y) - (x < y)
    return None


def node_prop(model, nid, key):
    ext, _, props = model.nodes[nid]
    if key in props:
        return props[key]
    return ext if key == "external_id" else None


# Patterns: nodes are (var, labels, [(key, value)]), relationships (var, type, [(key, value)], dir).

def bind(binding, var, value):
    """Binds an unnamed or new variable; a bound one must already hold the value."""
    return var is None or binding.setdefault(var, value) == value


def match(model, nodes, rels):
    out = []

    def node_ok(nid, pat):
        _, labels, _ = model.nodes[nid]
        if any(l not in labels for l in pat[1]):
            return False
        return all(values_equal(node_prop(model, nid, k), v) for k, v in pat[2])

    def expand(i, n, b):
        if i == len(rels):
            out.append(b)
            return
        var, typ, props, way = rels[i]
        far = nodes[i + 1]
        for eid, s, t, etype, eprops in model.edges:
            if way != "in" and s == n:
                m = t
            elif way != "out" and t == n:
                m = s
            else:
                continue
            c = dict(b)
            if not (bind(c, var, ("edge", eid)) and bind(c, far[0], ("node", m))):
                continue
            if typ is not None and etype != typ:
                continue
            if all(values_equal(eprops.get(k), v) for k, v in props) and node_ok(m, far):
                expand(i + 1, m, c)

    for nid in sorted(model.nodes):
        b = {}
        if nodes[0][0] is not None:
            b[nodes[0][0]] = ("node", nid)
        if node_ok(nid, nodes[0]):
            expand(0, nid, b)
    return out


def eval_operand(model, b, operand):
    """operand: ("lit", v) | ("prop", var, key) | ("id", var)."""
    if operand[0] == "lit":
        return operand[1]
    bound = b.get(operand[1])
    if bound is None:
        return None
    if operand[0] == "id":
        return bound[1]
    if bound[0] == "node":
        return node_prop(model, bound[1], operand[2])
    return model.edges[bound[1]][4].get(operand[2])


def predicate_holds(model, b, pred):
    left, op, right = pred
    x, y = eval_operand(model, b, left), eval_operand(model, b, right)
    if op == "=":
        return values_equal(x, y)
    if op == "<>":
        return not values_equal(x, y)
    if op == "IN":
        return isinstance(y, list) and any(values_equal(x, v) for v in y)
    c = compare(x, y)
    if c is None:
        return False
    return {"<": c < 0, "<=": c <= 0, ">": c > 0, ">=": c >= 0}[op]


# ---------------------------------------------------------------- texts

def literal_text(v):
    if v is None:
        return "null"
    if v is True:
        return "true"
    if v is False:
        return "false"
    if isinstance(v, str):
        return "'" + v + "'"
    if isinstance(v, float):
        return repr(v) if "." in repr(v) else repr(v) + ".0"
    if isinstance(v, list):
        return "[" + ", ".join(literal_text(x) for x in v) + "]"
    return repr(v)


def props_text(props):
    if not props:
        return ""
    return " {" + ", ".join(f"{k}: {literal_text(v)}" for k, v in props) + "}"


def node_text(pat):
    var, labels, props = pat
    return "(" + (var or "") + "".join(":" + l for l in labels) + props_text(props) + ")"


def rel_text(pat):
    var, typ, props, way = pat
    body = (var or "") + (":" + typ if typ else "") + props_text(props)
    left = "<-" if way == "in" else "-"
    right = "->" if way == "out" else "-"
    return f"{left}[{body}]{right}"


def pattern_text(nodes, rels):
    text = node_text(nodes[0])
    for r, n in zip(rels, nodes[1:]):
        text += rel_text(r) + node_text(n)
    return text


def operand_text(o):
    if o[0] == "lit":
        return literal_text(o[1])
    if o[0] == "id":
        return f"id({o[1]})"
    return f"{o[1]}.{o[2]}"
