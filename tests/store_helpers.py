"""Helpers for tests that look at or tamper with the database file directly."""
import sqlite3


def rows(path, sql, params=()):
    conn = sqlite3.connect(path)
    try:
        return conn.execute(sql, params).fetchall()
    finally:
        conn.close()


def execute(path, sql, params=()):
    conn = sqlite3.connect(path)
    try:
        conn.execute(sql, params)
        conn.commit()
    finally:
        conn.close()


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def canonical(value):
    """The stored text of a property value, written out independently of the engine."""
    if isinstance(value, bool):
        return "bool", "true" if value else "false"
    if isinstance(value, int):
        return "int", str(value)
    if isinstance(value, float):
        from decimal import Decimal
        text = format(Decimal(repr(value)), "f")  # repr holds the shortest round-trip digits
        if "." in text:
            text = text.rstrip("0").rstrip(".")
        return "float", text
    return "string", value


def encode_map(props):
    lines = []
    for key in sorted(props, key=lambda k: k.encode()):
        tag, text = canonical(props[key])
        lines.append(f"{escape(key)}\t{tag}\t{escape(text)}")
    return "\n".join(lines)


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


def quoted(text):
    """The double-quoted form messages use for user texts."""
    out = ['"']
    for ch in text:
        code = ord(ch)
        if ch in '"\\':
            out.append("\\" + ch)
        elif ch == "\t":
            out.append("\\t")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\n":
            out.append("\\n")
        elif code < 0x20 or 0x7f <= code <= 0x9f:
            out.append("\\u{%x}" % code)
        else:
            out.append(ch)
    return "".join(out) + '"'
