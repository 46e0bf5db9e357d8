"""Several writer processes and refreshing readers on one file.

Each writer makes `calls` mixed writes (single and batch nodes and edges, Cypher CREATE),
retrying after refresh() whenever it is refused as stale, and times each call from its first
attempt to its success. Readers refresh in a loop. At the end every process refreshes and
reports a digest of everything it can read, which must equal a fresh open's. Every record
carries its writer "w", call "k" and index "i", so lost or doubled writes show by name.

Used by tests and stress/many_writers.py; a process side is this file run as a script.
"""
import hashlib
import json
import os
import random
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SLOW = 0.5  # a write waiting longer than this counts as unfairly served
STALE = "SQLite graph has changed since this handle was opened; call refresh() before writing"


def digest(g):
    from store_helpers import view
    return hashlib.sha256(json.dumps(view(g), sort_keys=True, default=repr).encode()).hexdigest()


def say(message):
    os.write(1, (json.dumps(message) + "\n").encode())


def wait_for(path):
    while not os.path.exists(path):
        time.sleep(0.01)


def writer(path, w, calls, seed, stop):
    import _quillmere
    g = _quillmere.Graph(path)
    rng = random.Random(seed)
    latencies, ends, done, stale, busy, slow = [], [], {}, 0, 0, []
    for k in range(calls):
        kind = rng.choice(["node", "nodes", "edge", "edges", "cypher"])
        size = rng.randrange(2, 12) if kind in ("nodes", "edges") else 1
        tag = lambda i: {"w": w, "k": k, "i": i}
        start = time.perf_counter()
        # Where a call's time goes: the attempt that succeeded (mostly the wait for the write
        # lock), the attempts refused as stale, and the refreshes between them.
        refused = refreshing = 0.0
        refusals = 0
        while True:
            attempt = time.perf_counter()
            try:
                n = g.node_count()
                if kind == "node" or (n == 0 and kind in ("edge", "edges")):
                    kind, size = "node", 1
                    g.add_node(f"w{w}k{k}", ["W"], tag(0))
                elif kind == "nodes":
                    g.add_nodes([{"external_id": f"w{w}k{k}i{i}", "properties": tag(i)} for i in range(size)])
                elif kind == "edge":
                    g.add_edge(rng.randrange(n), rng.randrange(n), "E", tag(0))
                elif kind == "edges":
                    g.add_edges([{"source": rng.randrange(n), "target": rng.randrange(n), "edge_type": "E",
                                  "properties": tag(i)} for i in range(size)])
                else:
                    g.cypher("CREATE (n:C {w: $w, k: $k, i: 0})", {"w": w, "k": k})
                break
            except (ValueError, RuntimeError) as e:
                if str(e) == STALE:
                    stale += 1
                    refusals += 1
                    refused += time.perf_counter() - attempt
                    begun = time.perf_counter()
                    g.refresh()
                    refreshing += time.perf_counter() - begun
                    continue
                if "locked" in str(e) or "busy" in str(e):
                    busy += 1
                    continue
                raise
        end = time.perf_counter()
        latencies.append(end - start)
        ends.append(end)
        if end - start > SLOW:
            slow.append({"start": start, "end": end, "total": end - start, "final": end - attempt, "refused": refused,
                         "refresh": refreshing, "refusals": refusals})
        done[k] = [kind in ("node", "nodes", "cypher") and size or 0, kind in ("edge", "edges") and size or 0]
    say({"writer": w, "done": done, "latencies": latencies, "stale": stale, "busy": busy, "slow": slow,
         "ends": ends})
    wait_for(stop)
    g.refresh()
    say({"digest": digest(g)})


def reader(path, stop):
    import _quillmere
    g = _quillmere.Graph(path)
    refreshes = 0
    while not os.path.exists(stop):
        g.refresh()
        g.node_count()
        refreshes += 1
    g.refresh()
    say({"reader": refreshes, "digest": digest(g)})


def spawn(*args):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in [env.get("PYTHONPATH", ""), HERE] if p)
    return subprocess.Popen([sys.executable, os.path.join(HERE, "writers_harness.py"), *map(str, args)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(p * len(ordered)))] if ordered else 0.0


def run(path, writers=4, readers=2, calls=100, seed=0):
    """Runs the processes to the end; returns (problems, per-writer reports, reader refresh counts)."""
    import _quillmere
    _quillmere.Graph(path)  # the schema exists before anyone races to create it
    stop = path + ".stop"
    procs = [spawn("writer", path, w, calls, seed * 100 + w, stop) for w in range(writers)]
    procs += [spawn("reader", path, stop) for _ in range(readers)]
    reports, problems = [], []
    for p in procs[:writers]:
        line = p.stdout.readline()
        if not line:
            problems.append(f"writer failed: {p.stderr.read().decode(errors='replace')[-800:]}")
            continue
        reports.append(json.loads(line))
    with open(stop, "w"):
        pass
    digests, refreshes = [], []
    for p in procs:
        out, err = p.communicate(timeout=600)
        for line in out.decode().splitlines():
            m = json.loads(line)
            digests.append(m["digest"])
            if "reader" in m:
                refreshes.append(m["reader"])
        if p.returncode != 0:
            problems.append(f"process failed ({p.returncode}): {err.decode(errors='replace')[-800:]}")
    fresh = _quillmere.Graph(path)
    want = digest(fresh)
    if digests != [want] * len(procs):
        problems.append(f"{sum(d != want for d in digests)} of {len(digests)} handles differ from a fresh open")
    problems += check_records(fresh, reports)
    return problems, reports, refreshes


def check_records(g, reports):
    """Every returned write is present exactly once with its size; nothing else is."""
    problems = []
    found = {}
    for kind, records in ((0, g.nodes()), (1, g.edges())):
        for r in records:
            p = r.properties
            found.setdefault((p["w"], p["k"]), [[], []])[kind].append(p["i"])
    wanted = {(r["writer"], int(k)): v for r in reports for k, v in r["done"].items()}
    for key, (nodes, edges) in wanted.items():
        got = found.pop(key, [[], []])
        if sorted(got[0]) != list(range(nodes)) or sorted(got[1]) != list(range(edges)):
            problems.append(f"write {key} holds nodes {sorted(got[0])} and edges {sorted(got[1])}, "
                            f"wanted {nodes} and {edges}")
    problems += [f"write {key} was never reported" for key in found]
    if g.node_ids() != list(range(g.node_count())) or g.edge_ids() != list(range(g.edge_count())):
        problems.append("ids are not dense and unique")
    return problems


def summary(report):
    lat = report["latencies"]
    return {"writer": report["writer"], "calls": len(lat), "stale": report["stale"], "busy": report["busy"],
            "p50_ms": round(percentile(lat, 0.5) * 1e3, 2), "p99_ms": round(percentile(lat, 0.99) * 1e3, 2),
            "max_ms": round(max(lat, default=0) * 1e3, 2), "over_500ms": len(report["slow"])}


def slow_split(reports):
    """Where the writes over the limit spent their time, summed over every writer, and how
    many of them waited while other writers kept succeeding (a stall that holds up every
    writer alike, such as a slow disk flush, is no unfairness)."""
    import bisect
    others = {r["writer"]: sorted(t for o in reports if o is not r for t in o["ends"]) for r in reports}
    slow = [(r["writer"], c) for r in reports for c in r["slow"]]
    served = [bisect.bisect_left(others[w], c["end"]) - bisect.bisect_right(others[w], c["start"]) for w, c in slow]
    return {"calls": len(slow), "while_others_wrote": sum(n >= 3 for n in served),
            "most_others_wrote": max(served, default=0),
            **{key: round(sum(c[key] for _, c in slow), 3) for key in ("total", "final", "refused", "refresh",
                                                                        "refusals")}}


if __name__ == "__main__":
    if sys.argv[1] == "writer":
        writer(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), sys.argv[6])
    elif sys.argv[1] == "reader":
        reader(sys.argv[2], sys.argv[3])
