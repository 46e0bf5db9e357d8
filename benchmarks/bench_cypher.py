"""Cypher statement speed on a seeded graph of N nodes and 10 N edges (default 100K / 1M).

Nodes carry one label (Person, Company or City) and the properties id, name and age; edges
are KNOWS or WORKS_AT. Statements, each answer checked against plain Python on the same data:
  point      MATCH (n:Person {id: $id}) RETURN n.name
  hop1       MATCH (a:Person {id: $id})-[:KNOWS]->(b) RETURN b.id
  hop2       MATCH (a:Person {id: $id})-[:KNOWS]->(b)-[:KNOWS]->(c) RETURN c.id
  hop2where  the same with WHERE c.age > 50
  count      MATCH (n:Person) RETURN count(*)
  top10      MATCH (n:Person) RETURN n.id ORDER BY n.age DESC, n.id LIMIT 10
  trivial    MATCH (n:Nope) RETURN n.name AS name, n.age AS age ORDER BY age DESC LIMIT 10
             (an 80-character statement that finds nothing: parsing plus the call's cost)
then CREATE of one node and one edge on an empty graph and on the loaded one (in memory and
on a file), and the start of a transaction on the loaded graph.

No other engine is run beside ours; answers are checked against the Python reference.

Run: PYTHONPATH=build/dev python benchmarks/bench_cypher.py [N]
"""

import os
import random
import statistics
import sys
import tempfile
import time

import _quillmere

SEED = 20261207
LABELS = ["Person", "Company", "City"]


def make_data(n):
    rng = random.Random(SEED)
    labels = [LABELS[0] if rng.random() < 0.6 else rng.choice(LABELS[1:]) for _ in range(n)]
    ages = [rng.randrange(100) for _ in range(n)]
    edges = [(rng.randrange(n), rng.randrange(n), "KNOWS" if rng.random() < 0.8 else "WORKS_AT")
             for _ in range(10 * n)]
    return labels, ages, edges


def load(g, labels, ages, edges, batch=200_000):
    n = len(labels)
    for lo in range(0, n, batch):
        g.add_nodes([{"external_id": f"n{i}", "labels": [labels[i]],
                      "properties": {"id": i, "name": f"n{i}", "age": ages[i]}} for i in range(lo, min(n, lo + batch))])
    for lo in range(0, len(edges), batch):
        g.add_edges([{"source": s, "target": t, "edge_type": typ} for s, t, typ in edges[lo:lo + batch]])


def timed(fn, repeat):
    """Median wall time per call in microseconds, and CPU seconds over all calls."""
    walls = []
    cpu0 = time.process_time()
    for i in range(repeat):
        t0 = time.perf_counter()
        fn(i)
        walls.append(time.perf_counter() - t0)
    return statistics.median(walls) * 1e6, time.process_time() - cpu0


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    labels, ages, edges = make_data(n)
    knows = [[] for _ in range(n)]
    for s, t, typ in edges:
        if typ == "KNOWS":
            knows[s].append(t)
    people = [i for i in range(n) if labels[i] == "Person"]
    rng = random.Random(SEED + 1)
    anchors = [rng.choice(people) for _ in range(200)]

    t0 = time.perf_counter()
    g = _quillmere.Graph()
    load(g, labels, ages, edges)
    print(f"graph: {n} nodes, {len(edges)} edges, loaded in {time.perf_counter() - t0:.1f} s")

    def hop2(a, where):
        return [c for b in knows[a] for c in knows[b] if not where or ages[c] > 50]

    checks = {
        "point": ("MATCH (n:Person {id: $id}) RETURN n.name", lambda a: [f"n{a}"]),
        "hop1": ("MATCH (a:Person {id: $id})-[:KNOWS]->(b) RETURN b.id", lambda a: list(knows[a])),
        "hop2": ("MATCH (a:Person {id: $id})-[:KNOWS]->(b)-[:KNOWS]->(c) RETURN c.id", lambda a: hop2(a, False)),
        "hop2where": ("MATCH (a:Person {id: $id})-[:KNOWS]->(b)-[:KNOWS]->(c) WHERE c.age > 50 RETURN c.id",
                      lambda a: hop2(a, True)),
    }
    print(f"{'statement':<12}{'ours µs':>12}{'cpu s':>10}  answer")
    for name, (text, expect) in checks.items():
        for a in anchors[:20]:
            got = [list(r.values())[0] for r in g.cypher(text, {"id": a}).records]
            assert got == expect(a), (name, a)
        us, cpu = timed(lambda i: g.cypher(text, {"id": anchors[i % len(anchors)]}), 200)
        print(f"{name:<12}{us:>12.1f}{cpu:>10.3f}  checked")

    count = g.cypher("MATCH (n:Person) RETURN count(*)").records[0]["count(*)"]
    assert count == len(people)
    us, cpu = timed(lambda i: g.cypher("MATCH (n:Person) RETURN count(*)"), 20)
    print(f"{'count':<12}{us:>12.1f}{cpu:>10.3f}  {count}")
    top = [r["n.id"] for r in g.cypher("MATCH (n:Person) RETURN n.id ORDER BY n.age DESC, n.id LIMIT 10").records]
    assert top == sorted(people, key=lambda i: (-ages[i], i))[:10]
    us, cpu = timed(lambda i: g.cypher("MATCH (n:Person) RETURN n.id ORDER BY n.age DESC, n.id LIMIT 10"), 10)
    print(f"{'top10':<12}{us:>12.1f}{cpu:>10.3f}  checked")
    trivial = "MATCH (n:Nope) RETURN n.name AS name, n.age AS age ORDER BY age DESC LIMIT 10"
    us, cpu = timed(lambda i: g.cypher(trivial), 2000)
    print(f"{'trivial':<12}{us:>12.1f}{cpu:>10.3f}  ({len(trivial)} characters, parse + call)")

    create = "CREATE (a:Person {id: -1})-[:KNOWS]->(b:Person)"
    us_empty, _ = timed(lambda i: _quillmere.Graph().cypher(create), 200)
    fresh = [_quillmere.Graph() for _ in range(200)]
    us_empty, _ = timed(lambda i: fresh[i].cypher(create), 200)
    us_big, _ = timed(lambda i: g.cypher(create), 200)
    print(f"create in memory: {us_empty:.1f} µs on an empty graph, {us_big:.1f} µs on the loaded one "
          f"({us_big / us_empty:.2f}x)")
    us_tx, _ = timed(lambda i: g.transaction(), 2000)
    print(f"transaction() start on the loaded graph: {us_tx:.2f} µs")

    with tempfile.TemporaryDirectory() as folder:
        empty = _quillmere.Graph(os.path.join(folder, "empty.db"))
        us_empty, _ = timed(lambda i: empty.cypher(create), 50)
        t0 = time.perf_counter()
        big = _quillmere.Graph(os.path.join(folder, "big.db"))
        load(big, labels, ages, edges)
        big.compact()
        loaded = time.perf_counter() - t0
        us_big, _ = timed(lambda i: big.cypher(create), 50)
        print(f"create on a file: {us_empty:.1f} µs on an empty graph, {us_big:.1f} µs on the loaded one "
              f"({us_big / us_empty:.2f}x; loading the file took {loaded:.1f} s)")


if __name__ == "__main__":
    main()
