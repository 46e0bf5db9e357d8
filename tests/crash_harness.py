"""Kills a writer process at random moments and checks what the file kept.

The writer runs a random mix of single writes, batches, Cypher CREATE/MERGE statements,
explicit transactions and compactions. Before each call it tells the parent what the call
will write; after the call returns it says so. Every record a call writes carries the call's
key in its "op" property and its index in "i", so the parent can find each call's records.
After each SIGKILL the parent checks that the file opens and passes SQLite's integrity check,
that every call that returned is present with exactly its fields, that the interrupted call
is all there or not at all, that the op log lists exactly the records, and that the segment
cache gives the same answers as a rebuild.

Run as a module by tests and stress/crash_consistency.py; the writer side is this file run as
a script: `python crash_harness.py writer PATH SEED ROUND`.
"""
import json
import os
import random
import select
import shutil
import signal
import sqlite3
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

TEXTS = ["", "plain", "tab\there", "line\nbreak", "back\\slash", "ünï", "😀", "quote\"'", "\r"]


def random_value(rng):
    kind = rng.randrange(4)
    if kind == 0:
        return rng.choice([0, -1, 2**63 - 1, -2**63, rng.randrange(-10**6, 10**6)])
    if kind == 1:
        return rng.choice([0.5, -0.0, 1e300, 1 / 3, rng.random()])
    if kind == 2:
        return rng.choice(TEXTS)
    return rng.random() < 0.5


def node_spec(rng, key, i, external_id=True):
    props = {"op": key, "i": i}
    for name in rng.sample(["a", "b", "c"], rng.randrange(3)):
        props[name] = random_value(rng)
    labels = sorted(rng.sample(["L", "M", "N"], rng.randrange(3)))
    return {"external_id": f"{key}.{i}" if external_id else None, "labels": labels, "properties": props}


def edge_spec(rng, key, i, node_count):
    props = {"op": key, "i": i}
    if rng.random() < 0.5:
        props["w"] = random_value(rng)
    return {"source": rng.randrange(node_count), "target": rng.randrange(node_count),
            "edge_type": rng.choice(["R", "S"]), "properties": props}


# ---------------------------------------------------------------- the writer process

class Writer:
    def __init__(self, path, seed, round_):
        import _quillmere
        self.q = _quillmere
        self.g = _quillmere.Graph(path)
        self.rng = random.Random(seed)
        self.round = round_
        self.count = 0

    def say(self, message):
        # One write of one short line: the pipe delivers it whole or not at all.
        os.write(1, (json.dumps(message) + "\n").encode())

    def run(self):
        while True:
            self.count += 1
            key = f"r{self.round}o{self.count}"
            op = self.rng.choice([self.node, self.nodes, self.edge, self.edges, self.edges, self.create,
                                  self.merge, self.transaction, self.compact])
            op(key)
            self.say({"done": key})

    def begin(self, key, nodes=(), edges=()):
        self.say({"begin": key, "nodes": list(nodes), "edges": list(edges)})

    def node(self, key):
        spec = node_spec(self.rng, key, 0)
        self.begin(key, [spec])
        self.g.add_node(spec["external_id"], spec["labels"], spec["properties"])

    def nodes(self, key):
        specs = [node_spec(self.rng, key, i) for i in range(self.rng.randrange(1, 60))]
        self.begin(key, specs)
        self.g.add_nodes(specs)

    def edge(self, key):
        n = self.g.node_count()
        if n == 0:
            return self.node(key)
        spec = edge_spec(self.rng, key, 0, n)
        self.begin(key, edges=[spec])
        self.g.add_edge(spec["source"], spec["target"], spec["edge_type"], spec["properties"])

    def edges(self, key):
        n = self.g.node_count()
        if n == 0:
            return self.node(key)
        specs = [edge_spec(self.rng, key, i, n) for i in range(self.rng.randrange(1, 400))]
        self.begin(key, edges=specs)
        self.g.add_edges(specs)

    # Cypher writes name their new endpoints as "@i": the call's own node with index i.
    def create(self, key):
        v = self.rng.randrange(1000)
        nodes = [{"external_id": None, "labels": ["C"], "properties": {"op": key, "i": i, "v": v}}
                 for i in range(2)]
        edges = [{"source": "@0", "target": "@1", "edge_type": "K", "properties": {"op": key, "i": 0}}]
        self.begin(key, nodes, edges)
        self.g.cypher("CREATE (a:C {op: $op, i: 0, v: $v})-[:K {op: $op, i: 0}]->(b:C {op: $op, i: 1, v: $v})",
                      {"op": key, "v": v})

    def merge(self, key):
        nodes = [{"external_id": None, "labels": ["G"], "properties": {"op": key, "i": 0}}]
        self.begin(key, nodes)
        self.g.cypher("MERGE (n:G {op: $op, i: 0}) RETURN n", {"op": key})

    def transaction(self, key):
        runs = self.rng.randrange(1, 4)
        nodes = [{"external_id": None, "labels": ["T"], "properties": {"op": key, "i": i}} for i in range(2 * runs)]
        edges = [{"source": f"@{2 * j}", "target": f"@{2 * j + 1}", "edge_type": "N",
                  "properties": {"op": key, "i": j}} for j in range(runs)]
        self.begin(key, nodes, edges)
        with self.g.transaction() as tx:
            for j in range(runs):
                tx.run("CREATE (a:T {op: $op, i: $a})-[:N {op: $op, i: $j}]->(b:T {op: $op, i: $b})",
                       {"op": key, "a": 2 * j, "b": 2 * j + 1, "j": j})

    def compact(self, key):
        self.begin(key)
        self.g.compact()


# ---------------------------------------------------------------- the parent

class Ledger:
    """What the writers said: each call's expected records and whether it returned."""

    def __init__(self):
        self.calls = {}  # key -> {"nodes", "edges", "state": "running" | "done" | "absent"}

    def hear(self, message):
        if "begin" in message:
            self.calls[message["begin"]] = {"nodes": message["nodes"], "edges": message["edges"],
                                            "state": "running"}
        else:
            self.calls[message["done"]]["state"] = "done"


def read_lines(fd, buffer, timeout):
    """Complete lines available on fd within timeout; None once the writer closed it."""
    ready, _, _ = select.select([fd], [], [], timeout)
    if not ready:
        return []
    chunk = os.read(fd, 1 << 16)
    if not chunk:
        return None
    buffer.extend(chunk)
    *lines, rest = bytes(buffer).split(b"\n")
    buffer[:] = rest
    return [json.loads(line) for line in lines]


def writer_env():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in [env.get("PYTHONPATH", ""), HERE] if p)
    return env


def kill_one_writer(path, seed, round_, ledger, rng, max_calls=25, after=None):
    """Starts a writer and SIGKILLs it after a random number of calls began, or after
    `after` seconds (which lands mostly in its start-up, while it creates the file)."""
    proc = subprocess.Popen([sys.executable, os.path.join(HERE, "crash_harness.py"), "writer", path,
                             str(seed), str(round_)], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=writer_env())
    fd = proc.stdout.fileno()
    target, begun, buffer = rng.randint(1, max_calls), 0, bytearray()
    if after is not None:
        target = float("inf")
    deadline = time.monotonic() + (60 if after is None else after)
    while begun < target and time.monotonic() < deadline:
        lines = read_lines(fd, buffer, min(0.5, max(0.0, deadline - time.monotonic())))
        if lines is None:
            break
        for m in lines:
            ledger.hear(m)
            begun += "begin" in m
    if after is None:
        time.sleep(rng.random() * 0.003)
    proc.send_signal(signal.SIGKILL)
    proc.wait()
    while (lines := read_lines(fd, buffer, 0)) :
        for m in lines:
            ledger.hear(m)
    err = proc.stderr.read().decode(errors="replace")
    proc.stdout.close()
    proc.stderr.close()
    if proc.returncode != -signal.SIGKILL:
        return [f"writer ended on its own ({proc.returncode}): {err[-400:]}"]
    return []


def check_call(key, call, nodes, edges):
    """Violations for one call, given the records found carrying its key (sorted by "i")."""
    if not nodes and not edges:
        wanted = call["state"] == "done" and (call["nodes"] or call["edges"])
        return [f"{key}: returned but missing"] if wanted else []
    if call["state"] == "absent":
        return [f"{key}: appeared after it was found absent"]
    problems = []
    if len(nodes) != len(call["nodes"]) or len(edges) != len(call["edges"]):
        return [f"{key}: partly present ({len(nodes)}/{len(call['nodes'])} nodes, "
                f"{len(edges)}/{len(call['edges'])} edges, {call['state']})"]
    ids = [n.id for n in nodes]
    for node, want in zip(nodes, call["nodes"]):
        external = want["external_id"] or f"node:{node.id}"
        if (node.external_id, node.labels, node.properties) != (external, want["labels"], want["properties"]):
            problems.append(f"{key}: node {node.id} is {node.external_id, node.labels, node.properties}, "
                            f"wanted {external, want['labels'], want['properties']}")
    for edge, want in zip(edges, call["edges"]):
        ends = [ids[int(e[1:])] if isinstance(e, str) else e for e in (want["source"], want["target"])]
        got = (edge.source, edge.target, edge.edge_type, edge.properties)
        if got != (*ends, want["edge_type"], want["properties"]):
            problems.append(f"{key}: edge {edge.id} is {got}, wanted {(*ends, want['edge_type'], want['properties'])}")
    return problems


def adjacency(g):
    n = g.node_count()
    return [(g.neighbors(v, "out"), g.neighbors(v, "in")) for v in range(n)]


def verify(path, ledger):
    """Every violation of the crash rules in the file as it stands; settles the interrupted call."""
    import _quillmere
    import warnings
    problems = []
    conn = sqlite3.connect(path)
    try:
        check = conn.execute("PRAGMA integrity_check").fetchall()
        log = conn.execute("SELECT op, object_id FROM op_log").fetchall()
    finally:
        conn.close()
    if check != [("ok",)]:
        problems.append(f"integrity_check: {check}")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        g = _quillmere.Graph(path)
    nodes, edges = g.nodes(), g.edges()
    found = {}
    for kind, records in (("nodes", nodes), ("edges", edges)):
        for r in records:
            key = r.properties.get("op")
            if key not in ledger.calls:
                problems.append(f"{kind[:-1]} {r.id} belongs to no call: {r.properties}")
                continue
            found.setdefault(key, {"nodes": [], "edges": []})[kind].append(r)
    for key, call in ledger.calls.items():
        mine = found.get(key, {"nodes": [], "edges": []})
        problems += check_call(key, call, sorted(mine["nodes"], key=lambda r: r.properties["i"]),
                               sorted(mine["edges"], key=lambda r: r.properties["i"]))
        if call["state"] == "running":
            call["state"] = "done" if mine["nodes"] or mine["edges"] else "absent"
    logged_nodes = sorted(i for op, i in log if op == "add_node")
    logged_edges = sorted(i for op, i in log if op == "add_edge")
    if logged_nodes != [n.id for n in nodes] or logged_edges != [e.id for e in edges]:
        problems.append(f"op log lists {len(logged_nodes)} nodes and {len(logged_edges)} edges "
                        f"for {len(nodes)} and {len(edges)} records")
    if [n.id for n in nodes] != list(range(len(nodes))) or [e.id for e in edges] != list(range(len(edges))):
        problems.append("ids are not dense")
    # Whatever cache the open used must answer as a rebuild does.
    cached = adjacency(g)
    del g
    shutil.rmtree(path + ".segments", ignore_errors=True)
    if adjacency(_quillmere.Graph(path)) != cached:
        problems.append("segment cache changed traversal answers")
    return problems, len(nodes), len(edges)


def run(path, kills, seed=0, report=None):
    """Kills a writer `kills` times; returns (violations, kills survived). Every fourth kill
    lands on a new file near its creation, the others on the one growing file at path."""
    rng = random.Random(seed)
    ledger = Ledger()
    survived, violations = 0, []
    for round_ in range(kills):
        if round_ % 4 == 3:
            fresh = f"{path}.new{round_}"
            fresh_ledger = Ledger()
            problems = kill_one_writer(fresh, rng.randrange(2**32), round_, fresh_ledger, rng,
                                       after=rng.uniform(0.02, 0.3))
            if os.path.exists(fresh):
                problems += verify(fresh, fresh_ledger)[0]
            violations += [f"kill {round_} (creation): {p}" for p in problems]
            survived += not problems
            continue
        problems = kill_one_writer(path, rng.randrange(2**32), round_, ledger, rng)
        if not os.path.exists(path):
            problems.append("the file is gone")
        else:
            found, n, m = verify(path, ledger)
            problems += found
            if report:
                report(round_, n, m, problems)
        violations += [f"kill {round_}: {p}" for p in problems]
        survived += not problems
    return violations, survived


if __name__ == "__main__" and sys.argv[1:2] == ["writer"]:
    Writer(sys.argv[2], int(sys.argv[3]), int(sys.argv[4])).run()
