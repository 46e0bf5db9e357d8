"""The ``quillmere`` command line: look into a database file, run Cypher, import CSV, a shell.

Every command but ``import`` refuses a path that does not exist instead of creating an
empty database there, since a mistyped path would otherwise leave a stray file behind.
"""
from __future__ import annotations

import argparse
import csv
import json
import os
import sys
from collections import Counter
from collections.abc import Sequence
from typing import Any, TextIO

from _quillmere import CypherResult, Edge, Graph, Node

from quillmere import __version__


class CommandError(Exception):
    """A failure reported as one line on stderr with exit status 1."""


def _open_existing(path: str) -> Graph:
    if not os.path.isfile(path):
        raise CommandError(f"no database file at {path}")
    try:
        return Graph.open(path)
    except RuntimeError as exc:
        raise CommandError(f"cannot open {path}: {exc}") from None


def _size(path: str) -> int:
    if os.path.isfile(path):
        return os.path.getsize(path)
    total = 0
    for folder, _, files in os.walk(path):
        total += sum(os.path.getsize(os.path.join(folder, name)) for name in files)
    return total


def _human(size: int) -> str:
    value = float(size)
    for unit in ("B", "KiB", "MiB", "GiB"):
        if value < 1024 or unit == "GiB":
            return f"{value:.0f} {unit}" if unit == "B" else f"{value:.1f} {unit}"
        value /= 1024
    return f"{size} B"


# ---------------------------------------------------------------- info


def info(path: str, out: TextIO) -> None:
    g = _open_existing(path)
    labels: Counter[str] = Counter()
    node_keys: Counter[str] = Counter()
    for node in g.nodes():
        labels.update(set(node.labels))
        node_keys.update(node.properties.keys())
    types: Counter[str] = Counter()
    edge_keys: Counter[str] = Counter()
    for edge in g.edges():
        types[edge.edge_type] += 1
        edge_keys.update(edge.properties.keys())
    files = [path] + [path + suffix for suffix in ("-wal", "-shm") if os.path.exists(path + suffix)]
    cache = path + ".segments"
    out.write(f"file        {path}\n")
    out.write(f"file size   {_human(sum(_size(f) for f in files))}\n")
    out.write(f"cache size  {_human(_size(cache)) if os.path.isdir(cache) else 'none'}\n")
    out.write(f"nodes       {g.node_count()}\n")
    out.write(f"edges       {g.edge_count()}\n")
    out.write(f"variables   {g.variable_count()}\n")
    out.write(f"factors     {g.factor_count()}\n")
    out.write(f"evidence    {g.evidence_count()}\n")
    out.write(f"traces      {g.trace_count()}\n")
    for title, counts in (("labels", labels), ("edge types", types),
                          ("node property keys", node_keys), ("edge property keys", edge_keys)):
        out.write(f"{title}:\n")
        for name in sorted(counts):
            out.write(f"  {name}  {counts[name]}\n")
        if not counts:
            out.write("  (none)\n")


# ---------------------------------------------------------------- cypher


def _plain(value: Any) -> Any:
    """A JSON-ready form of a result value: records become dicts."""
    if isinstance(value, Node):
        return {"id": value.id, "external_id": value.external_id, "labels": value.labels,
                "properties": value.properties}
    if isinstance(value, Edge):
        return {"id": value.id, "source": value.source, "target": value.target,
                "edge_type": value.edge_type, "properties": value.properties}
    if isinstance(value, list):
        return [_plain(v) for v in value]
    if isinstance(value, dict):
        return {k: _plain(v) for k, v in value.items()}
    return value


def _cell(value: Any) -> str:
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (Node, Edge)):
        return repr(value)
    if isinstance(value, (list, dict)):
        return json.dumps(_plain(value), ensure_ascii=False)
    return str(value)


def write_table(result: CypherResult, out: TextIO) -> None:
    keys = result.keys
    rows = [[_cell(row.get(k)) for k in keys] for row in result.records]
    if keys:
        widths = [max([len(k)] + [len(r[i]) for r in rows]) for i, k in enumerate(keys)]
        out.write(" | ".join(k.ljust(w) for k, w in zip(keys, widths)).rstrip() + "\n")
        out.write("-+-".join("-" * w for w in widths) + "\n")
        for r in rows:
            out.write(" | ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip() + "\n")
    summary = result.summary
    counters = [f"{summary[k]} {k.replace('_', ' ')}" for k in ("nodes_created", "relationships_created",
                                                                 "properties_set") if summary[k]]
    out.write(f"({summary['rows']} row{'s' if summary['rows'] != 1 else ''}"
              + (", " + ", ".join(counters) if counters else "") + ")\n")


def write_result(result: CypherResult, fmt: str, out: TextIO) -> None:
    if fmt == "json":
        json.dump([_plain(row) for row in result.records], out, ensure_ascii=False)
        out.write("\n")
    elif fmt == "csv":
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(result.keys)
        for row in result.records:
            writer.writerow(["" if row.get(k) is None else _cell(row.get(k)) for k in result.keys])
    else:
        write_table(result, out)


def _parameters(pairs: Sequence[str]) -> dict[str, Any]:
    params: dict[str, Any] = {}
    for pair in pairs:
        name, sep, text = pair.partition("=")
        if not sep or not name:
            raise CommandError(f"--param wants NAME=VALUE, got {pair!r}")
        try:
            params[name] = json.loads(text)  # 42, 1.5, true, "text", [1, 2]
        except json.JSONDecodeError:
            params[name] = text  # a bare word is a string
    return params


def cypher(path: str, query: str, fmt: str, params: dict[str, Any], out: TextIO) -> None:
    g = _open_existing(path)
    try:
        result = g.cypher(query, params)
    except ValueError as exc:
        raise CommandError(str(exc)) from None
    write_result(result, fmt, out)


# ---------------------------------------------------------------- import


def import_csv(path: str, nodes: str | None, edges: str | None, batch_size: int, progress: bool,
               out: TextIO) -> None:
    from quillmere.io import load_csv

    if nodes is None and edges is None:
        raise CommandError("nothing to import: give --nodes and/or --edges")
    for name in (nodes, edges):
        if name is not None and not os.path.isfile(name):
            raise CommandError(f"no CSV file at {name}")
    try:
        g = Graph(path)
    except RuntimeError as exc:
        raise CommandError(f"cannot open {path}: {exc}") from None
    if progress:
        try:
            import tqdm  # noqa: F401
        except ImportError:
            print('quillmere: no progress bar without tqdm (pip install "quillmere[progress]")', file=sys.stderr)
            progress = False
    try:
        added = load_csv(g, nodes=nodes, edges=edges, batch_size=batch_size, progress=progress)
    except ValueError as exc:
        raise CommandError(str(exc)) from None
    out.write(f"imported {added['nodes']} nodes and {added['edges']} edges into {path}\n")


# ---------------------------------------------------------------- shell


SHELL_HELP = """Type a Cypher statement and press Enter; end a line with \\ to continue it.
  :help        this text
  :info        counts and names in the file
  :format F    table, json or csv
  :quit        leave (or Ctrl-D)
"""


def shell(path: str, history: str | None, stdin: TextIO, out: TextIO) -> None:
    g = _open_existing(path)
    interactive = stdin.isatty()
    readline: Any = None
    if interactive:
        try:
            import readline
        except ImportError:
            readline = None
        if readline is not None and history:
            try:
                readline.read_history_file(history)
            except OSError:
                pass
    fmt = "table"
    if interactive:
        out.write(f"quillmere {__version__} shell on {path}; :help for help\n")
    pending = ""
    try:
        while True:
            prompt = "...> " if pending else "quillmere> "
            if interactive:
                try:
                    line = input(prompt)
                except EOFError:
                    out.write("\n")
                    break
            else:
                line = stdin.readline()
                if not line:
                    break
                line = line.rstrip("\n")
            if line.endswith("\\"):
                pending += line[:-1] + "\n"
                continue
            text = (pending + line).strip()
            pending = ""
            if not text:
                continue
            if text.startswith(":"):
                word, _, arg = text[1:].partition(" ")
                if word in ("quit", "exit", "q"):
                    break
                if word == "help":
                    out.write(SHELL_HELP)
                elif word == "info":
                    info(path, out)
                elif word == "format" and arg.strip() in ("table", "json", "csv"):
                    fmt = arg.strip()
                else:
                    out.write(f"unknown command :{text[1:]} (try :help)\n")
                continue
            try:
                # Another process may have written since the last statement.
                g.refresh()
                write_result(g.cypher(text.rstrip(";")), fmt, out)
            except ValueError as exc:
                out.write(f"error: {exc}\n")
            out.flush()
    finally:
        if readline is not None and history:
            try:
                readline.write_history_file(history)
            except OSError:
                pass


# ---------------------------------------------------------------- entry


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="quillmere", description="Look into and work with quillmere database files.")
    parser.add_argument("--version", action="version", version=f"quillmere {__version__}")
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("info", help="counts, labels, edge types, property keys, file and cache sizes")
    p.add_argument("file")
    p = commands.add_parser("cypher", help="run one Cypher statement and print its rows")
    p.add_argument("file")
    p.add_argument("query")
    group = p.add_mutually_exclusive_group()
    group.add_argument("--json", dest="format", action="store_const", const="json", help="rows as a JSON list")
    group.add_argument("--csv", dest="format", action="store_const", const="csv", help="rows as CSV")
    p.add_argument("--param", "-p", action="append", default=[], metavar="NAME=VALUE",
                   help="a $NAME parameter; VALUE is read as JSON when it parses, else as text")
    p = commands.add_parser("import", help="load nodes and edges from CSV files (creates FILE if needed)")
    p.add_argument("file")
    p.add_argument("--nodes", help="CSV of nodes: external_id, labels (a;b), typed property columns (age:int)")
    p.add_argument("--edges", help="CSV of edges: source, target (external ids), edge_type, property columns")
    p.add_argument("--batch-size", type=int, default=10_000)
    p.add_argument("--no-progress", action="store_true", help="no progress bar")
    p = commands.add_parser("shell", help="an interactive Cypher shell with history")
    p.add_argument("file")
    p.add_argument("--history", default=os.path.join(os.path.expanduser("~"), ".quillmere_history"),
                   help="history file (default: ~/.quillmere_history)")
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    out = sys.stdout
    try:
        if args.command == "info":
            info(args.file, out)
        elif args.command == "cypher":
            cypher(args.file, args.query, args.format or "table", _parameters(args.param), out)
        elif args.command == "import":
            import_csv(args.file, args.nodes, args.edges, args.batch_size,
                       not args.no_progress and sys.stderr.isatty(), out)
        else:
            shell(args.file, args.history, sys.stdin, out)
    except CommandError as exc:
        print(f"quillmere: {exc}", file=sys.stderr)
        return 1
    except BrokenPipeError:
        return 1
    return 0
