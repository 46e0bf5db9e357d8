"""Moving graphs in and out: networkx graphs, pandas data frames and CSV files.

networkx, pandas and tqdm are optional; each function imports what it needs when called and
says which extra to install when it is missing. Conversions go through the batch methods
(``add_nodes``/``add_edges``), so a failed batch leaves nothing behind.
"""
from __future__ import annotations

import contextlib
import csv
import math
import os
from collections.abc import Callable, Iterator, Mapping
from typing import IO, TYPE_CHECKING, Any

from _quillmere import CypherResult, Graph, GraphSnapshot

if TYPE_CHECKING:
    import networkx as nx
    import pandas as pd

__all__ = [
    "CsvError",
    "from_networkx",
    "to_networkx",
    "nodes_frame",
    "edges_frame",
    "result_frame",
    "load_csv",
]

PropertyValue = bool | int | float | str
GraphLike = Graph | GraphSnapshot

# Attribute names that carry the record fields inside networkx graphs; every other attribute
# is a property.
LABELS_ATTR = "labels"
EDGE_TYPE_ATTR = "edge_type"
DEFAULT_EDGE_TYPE = "edge"


def _require(module: str, extra: str, what: str) -> Any:
    try:
        return __import__(module)
    except ImportError:
        raise ImportError(f'{what} needs {module}; install it with: pip install "quillmere[{extra}]"') from None


def _properties(attrs: Mapping[Any, Any], reserved: str, where: str) -> dict[str, PropertyValue]:
    props: dict[str, PropertyValue] = {}
    for key, value in attrs.items():
        if key == reserved:
            continue
        if not isinstance(key, str):
            raise ValueError(f"{where}: attribute name {key!r} is not a string")
        if value is None:
            continue  # an absent value, as networkx readers leave them
        if not isinstance(value, (bool, int, float, str)):
            raise ValueError(f"{where}: attribute {key!r} holds a {type(value).__name__}; "
                             "properties are bool, int, float or str")
        props[key] = value
    return props


def from_networkx(G: nx.Graph[Any], graph: Graph | None = None, *, batch_size: int = 50_000) -> Graph:
    """Copy a networkx graph into ``graph`` (a new in-memory Graph by default) and return it.

    Node keys become external ids (``str(key)`` for keys that are not strings); a node's
    ``labels`` attribute (a list of str, or one str) becomes its labels; an edge's
    ``edge_type`` attribute its type (default "edge"). Every other attribute is a property;
    None values are skipped. An undirected graph gives one edge per networkx edge, from the
    endpoint networkx lists first. Each batch is all or nothing.
    """
    target = graph if graph is not None else Graph()
    ids: dict[Any, int] = {}
    keys: list[Any] = []
    batch: list[dict[str, Any]] = []

    def flush_nodes() -> None:
        added = _add_batch(target.add_nodes, batch, lambda i: _node_record(keys[i], G.nodes[keys[i]]))
        ids.update(zip(keys, added))
        batch.clear()
        keys.clear()

    for key, attrs in G.nodes(data=True):
        keys.append(key)
        batch.append(_node_record(key, attrs, checked=False))
        if len(batch) >= batch_size:
            flush_nodes()
    flush_nodes()

    ends: list[tuple[Any, Any, dict[str, Any]]] = []
    for source, dest, attrs in G.edges(data=True):
        ends.append((source, dest, attrs))
        if EDGE_TYPE_ATTR in attrs:
            props = {k: v for k, v in attrs.items() if k != EDGE_TYPE_ATTR}
            batch.append({"source": ids[source], "target": ids[dest], "edge_type": attrs[EDGE_TYPE_ATTR],
                          "properties": props})
        else:
            batch.append({"source": ids[source], "target": ids[dest], "edge_type": DEFAULT_EDGE_TYPE,
                          "properties": attrs})
        if len(batch) >= batch_size:
            _add_batch(target.add_edges, batch, lambda i: _edge_record(ids, *ends[i]))
            batch.clear()
            ends.clear()
    if batch:
        _add_batch(target.add_edges, batch, lambda i: _edge_record(ids, *ends[i]))
    return target


def _add_batch(write: Callable[[list[dict[str, Any]]], list[int]], batch: list[dict[str, Any]],
               explain: Callable[[int], dict[str, Any]]) -> list[int]:
    # Attribute dicts usually hold plain values, so they go to the graph as they are and its own
    # conversion checks them; only a refused batch is rebuilt value by value, to name the culprit
    # or drop the None values networkx readers leave.
    try:
        return write(batch)
    except (TypeError, ValueError):
        return write([explain(i) for i in range(len(batch))])


def _node_record(key: Any, attrs: Mapping[Any, Any], checked: bool = True) -> dict[str, Any]:
    labels = attrs.get(LABELS_ATTR) or []
    if isinstance(labels, str):
        labels = [labels]
    if checked:
        props: Mapping[Any, Any] = _properties(attrs, LABELS_ATTR, f"node {key!r}")
    elif LABELS_ATTR in attrs:
        props = {k: v for k, v in attrs.items() if k != LABELS_ATTR}
    else:
        props = attrs
    return {"external_id": key if isinstance(key, str) else str(key), "labels": list(labels), "properties": props}


def _edge_record(ids: dict[Any, int], source: Any, dest: Any, attrs: Mapping[Any, Any]) -> dict[str, Any]:
    return {"source": ids[source], "target": ids[dest], "edge_type": attrs.get(EDGE_TYPE_ATTR, DEFAULT_EDGE_TYPE),
            "properties": _properties(attrs, EDGE_TYPE_ATTR, f"edge {source!r} -> {dest!r}")}


def to_networkx(graph: GraphLike) -> nx.MultiDiGraph[str]:
    """Return a networkx MultiDiGraph holding the graph (or snapshot).

    Nodes are keyed by external id, with a ``labels`` attribute and one attribute per
    property; edges are keyed by edge id, with an ``edge_type`` attribute and their
    properties. ``from_networkx`` reads this shape back into an equal graph. A property
    named ``labels`` (on a node) or ``edge_type`` (on an edge) would be lost, so it is refused.
    """
    nx = _require("networkx", "networkx", "to_networkx")
    out = nx.MultiDiGraph()
    external: dict[int, str] = {}
    node_items = []
    for node in graph.nodes():
        attrs: dict[str, Any] = node.properties
        if LABELS_ATTR in attrs:
            raise ValueError(f'node {node.id} has a property named "{LABELS_ATTR}", which would clash with its labels')
        attrs[LABELS_ATTR] = node.labels
        external[node.id] = node.external_id
        node_items.append((node.external_id, attrs))
    out.add_nodes_from(node_items)
    edge_items = []
    for edge in graph.edges():
        props: dict[str, Any] = edge.properties
        if EDGE_TYPE_ATTR in props:
            raise ValueError(f'edge {edge.id} has a property named "{EDGE_TYPE_ATTR}", which would clash with its type')
        props[EDGE_TYPE_ATTR] = edge.edge_type
        edge_items.append((external[edge.source], external[edge.target], edge.id, props))
    out.add_edges_from(edge_items)
    return out


# ---------------------------------------------------------------- data frames


def nodes_frame(graph: GraphLike) -> pd.DataFrame:
    """Return one row per node: ``id`` (the index), ``external_id``, ``labels`` and one column per property key."""
    pd = _require("pandas", "pandas", "nodes_frame")
    rows = [{"id": n.id, "external_id": n.external_id, "labels": n.labels, **n.properties} for n in graph.nodes()]
    frame = pd.DataFrame(rows, columns=_columns(["id", "external_id", "labels"], rows))
    return frame.set_index("id")


def edges_frame(graph: GraphLike) -> pd.DataFrame:
    """Return one row per edge: ``id`` (the index), ``source``, ``target``, ``edge_type`` and the properties."""
    pd = _require("pandas", "pandas", "edges_frame")
    rows = [{"id": e.id, "source": e.source, "target": e.target, "edge_type": e.edge_type, **e.properties}
            for e in graph.edges()]
    frame = pd.DataFrame(rows, columns=_columns(["id", "source", "target", "edge_type"], rows))
    return frame.set_index("id")


def _columns(fixed: list[str], rows: list[dict[str, Any]]) -> list[str]:
    # Property columns sorted by key, so frames of equal graphs are equal.
    seen = set(fixed)
    extra = sorted({key for row in rows for key in row if key not in seen})
    return fixed + extra


def result_frame(result: CypherResult) -> pd.DataFrame:
    """Return a Cypher result as a data frame with its columns in RETURN order (nodes and edges stay objects)."""
    pd = _require("pandas", "pandas", "result_frame")
    keys = result.keys
    return pd.DataFrame([[row.get(k) for k in keys] for row in result.records], columns=keys)


# ---------------------------------------------------------------- CSV


class CsvError(ValueError):
    """A CSV row that cannot be loaded; names the file, the line and the column."""

    def __init__(self, path: str, line: int, column: int | None, reason: str) -> None:
        where = f"{path}, line {line}" + (f", column {column}" if column is not None else "")
        super().__init__(f"{where}: {reason}")
        self.path, self.line, self.column, self.reason = path, line, column, reason


class _BadValue(ValueError):
    """A parsed value the graph would refuse, with its own reason."""
_TRUE, _FALSE = {"true", "1", "yes"}, {"false", "0", "no"}


def _finite(text: str) -> float:
    value = float(text)
    if not math.isfinite(value):
        raise _BadValue("float values must be finite")
    return value


def _truth(text: str) -> bool:
    lowered = text.strip().lower()
    if lowered in _TRUE:
        return True
    if lowered in _FALSE:
        return False
    raise _BadValue("expected true or false")


# One converter per column type, chosen once from the header; None keeps the text.
_CONVERTERS: dict[str, Callable[[str], PropertyValue] | None] = {
    "string": None, "int": int, "float": _finite, "bool": _truth}


class _Columns:
    """The header of one CSV file: where the fixed fields are and how each property parses."""

    def __init__(self, path: str, header: list[str], fixed: tuple[str, ...], required: tuple[str, ...]) -> None:
        self.fixed: dict[str, int] = {}
        # (column index, key, type name, converter)
        self.properties: list[tuple[int, str, str, Callable[[str], PropertyValue] | None]] = []
        for index, raw in enumerate(header):
            name, _, kind = raw.strip().partition(":")
            kind = kind.strip().lower() or "string"
            if name in fixed:
                if name in self.fixed:
                    raise CsvError(path, 1, index + 1, f'column "{name}" appears twice')
                self.fixed[name] = index
                continue
            if not name:
                raise CsvError(path, 1, index + 1, "a property column needs a name")
            if kind not in _CONVERTERS:
                raise CsvError(path, 1, index + 1, f'unknown type "{kind}" (use string, int, float or bool)')
            self.properties.append((index, name, kind, _CONVERTERS[kind]))
        for name in required:
            if name not in self.fixed:
                raise CsvError(path, 1, None, f'the header has no "{name}" column')
        self.width = len(header)

    def cell(self, row: list[str], name: str) -> str | None:
        index = self.fixed.get(name)
        return None if index is None else row[index]

    def props(self, path: str, line: int, row: list[str]) -> dict[str, PropertyValue]:
        out: dict[str, PropertyValue] = {}
        for index, key, kind, convert in self.properties:
            text = row[index]
            if not text:
                continue  # an empty cell means the property is absent
            try:
                out[key] = text if convert is None else convert(text)
            except ValueError as exc:
                reason = str(exc) if isinstance(exc, _BadValue) else f"not a valid {kind}"
                raise CsvError(path, line, index + 1, f'{reason}: "{text}" in column "{key}"') from None
        return out


def _rows(path: str, handle: IO[str], delimiter: str) -> Iterator[tuple[int, list[str]]]:
    reader = csv.reader(handle, delimiter=delimiter)
    for row in reader:
        if row:
            yield reader.line_num, row


def _progress(enabled: bool, description: str) -> Any:
    if not enabled:
        return None
    tqdm = _require("tqdm", "progress", "load_csv(progress=True)")
    return tqdm.tqdm(desc=description, unit=" rows")


def load_csv(graph: Graph, nodes: str | os.PathLike[str] | None = None,
             edges: str | os.PathLike[str] | None = None, *, batch_size: int = 10_000,
             delimiter: str = ",", progress: bool = False) -> dict[str, int]:
    """Stream nodes, then edges, from CSV files into ``graph`` in batches; return the counts added.

    The first line of each file is a header. Nodes: an optional ``external_id`` column, an
    optional ``labels`` column (labels separated by ``;``). Edges: ``source`` and ``target``
    (external ids of nodes already in the graph or in ``nodes``) and ``edge_type``. Every
    other column is a property, typed by a suffix: ``age:int``, ``score:float``,
    ``ok:bool``, ``name`` or ``name:string``; an empty cell leaves the property out.

    A bad row raises ``CsvError`` naming the file, line and column. Rows are written one
    batch at a time: the batch holding a bad row writes nothing, earlier batches stay.
    ``progress=True`` shows a progress bar (needs the ``progress`` extra).
    """
    if batch_size < 1:
        raise ValueError("batch_size must be at least 1")
    added = {"nodes": 0, "edges": 0}
    known: dict[str, int] = {}
    if nodes is not None:
        added["nodes"] = _load_nodes(graph, os.fspath(nodes), known, batch_size, delimiter, progress)
    if edges is not None:
        added["edges"] = _load_edges(graph, os.fspath(edges), known, batch_size, delimiter, progress)
    return added


@contextlib.contextmanager
def _opened(path: str, delimiter: str, fixed: tuple[str, ...], required: tuple[str, ...],
            progress: bool) -> Iterator[tuple[_Columns, Iterator[tuple[int, list[str]]]]]:
    """The parsed header and the checked row stream of one file, open for the block."""
    with open(path, newline="", encoding="utf-8") as handle:
        stream = _rows(path, handle, delimiter)
        first = next(stream, None)
        if first is None:
            raise CsvError(path, 1, None, "the file is empty (a header line is needed)")
        columns = _Columns(path, first[1], fixed, required)
        bar = _progress(progress, os.path.basename(path))
        try:
            yield columns, _counted(path, columns, stream, bar)
        finally:
            if bar is not None:
                bar.close()


def _counted(path: str, columns: _Columns, stream: Iterator[tuple[int, list[str]]],
             bar: Any) -> Iterator[tuple[int, list[str]]]:
    for line, row in stream:
        if len(row) != columns.width:
            raise CsvError(path, line, None, f"expected {columns.width} fields, found {len(row)}")
        if bar is not None:
            bar.update(1)
        yield line, row


def _send(path: str, lines: tuple[int, int], write: Any, batch: list[dict[str, Any]]) -> list[int]:
    try:
        ids: list[int] = write(batch)
        return ids
    except ValueError as exc:
        raise CsvError(path, lines[0], None, f"batch of lines {lines[0]}-{lines[1]} was not written: {exc}") from exc


def _load_nodes(graph: Graph, path: str, known: dict[str, int], batch_size: int, delimiter: str,
                progress: bool) -> int:
    count = 0
    with _opened(path, delimiter, ("external_id", "labels"), (), progress) as (columns, rows):
        batch: list[dict[str, Any]] = []
        names: list[str | None] = []
        pending: dict[str, int] = {}  # external ids of this batch, by line
        first_line = 0
        for line, row in rows:
            external = columns.cell(row, "external_id")
            if external is not None:
                if external == "":
                    raise CsvError(path, line, columns.fixed["external_id"] + 1, "empty external_id")
                if external in pending or external in known or graph.get_node_id(external) is not None:
                    raise CsvError(path, line, columns.fixed["external_id"] + 1,
                                   f'external_id "{external}" already exists')
                pending[external] = line
            record: dict[str, Any] = {"properties": columns.props(path, line, row)}
            if external is not None:
                record["external_id"] = external
            labels = columns.cell(row, "labels")
            if labels:
                parts = labels.split(";")
                if any(not part for part in parts):
                    raise CsvError(path, line, columns.fixed["labels"] + 1, f'empty label in "{labels}"')
                record["labels"] = parts
            if not batch:
                first_line = line
            batch.append(record)
            names.append(external)
            if len(batch) >= batch_size:
                count += _flush_nodes(graph, path, (first_line, line), batch, names, known)
                pending.clear()
        if batch:
            count += _flush_nodes(graph, path, (first_line, line), batch, names, known)
    return count


def _flush_nodes(graph: Graph, path: str, lines: tuple[int, int], batch: list[dict[str, Any]],
                 names: list[str | None], known: dict[str, int]) -> int:
    ids = _send(path, lines, graph.add_nodes, batch)
    for name, node_id in zip(names, ids):
        if name is not None:
            known[name] = node_id
    done = len(batch)
    batch.clear()
    names.clear()
    return done


def _load_edges(graph: Graph, path: str, known: dict[str, int], batch_size: int, delimiter: str,
                progress: bool) -> int:
    count = 0
    fixed = ("source", "target", "edge_type")
    with _opened(path, delimiter, fixed, fixed, progress) as (columns, rows):
        source_col, target_col, type_col = (columns.fixed[k] for k in ("source", "target", "edge_type"))
        batch: list[dict[str, Any]] = []
        first_line = 0
        for line, row in rows:
            endpoints = []
            for column in (source_col, target_col):
                name = row[column]
                node_id = known.get(name)
                if node_id is None:
                    node_id = graph.get_node_id(name)
                    if node_id is None:
                        raise CsvError(path, line, column + 1, f'no node has external_id "{name}"')
                    known[name] = node_id
                endpoints.append(node_id)
            edge_type = row[type_col]
            if not edge_type:
                raise CsvError(path, line, type_col + 1, "empty edge_type")
            if not batch:
                first_line = line
            batch.append({"source": endpoints[0], "target": endpoints[1], "edge_type": edge_type,
                          "properties": columns.props(path, line, row)})
            if len(batch) >= batch_size:
                count += len(_send(path, (first_line, line), graph.add_edges, batch))
                batch.clear()
        if batch:
            count += len(_send(path, (first_line, line), graph.add_edges, batch))
    return count
