"""Soak: one process runs a long mix of writes, reads, snapshots, structured queries, Cypher
reads and writes, and inference on one file-backed graph, sampling resident memory as it
goes. Writes are a small share, so the graph grows by a few thousand records per 100 K
operations; anything that leaks per call shows as a slope far above that.

    python stress/soak.py [OPERATIONS] [SAMPLES]      # default 1000000 operations, 20 samples

Prints one line per sample (operations done, records held, resident MiB) and the growth
after warm-up (the first sample)."""
import os
import random
import sys
import tempfile
import time

PAGE = os.sysconf("SC_PAGE_SIZE")


def resident_mib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE / 2**20


def build(path):
    import _quillmere
    g = _quillmere.Graph(path)
    g.add_nodes([{"external_id": f"n{i}", "labels": ["P" if i % 2 else "Q"], "properties": {"n": i}}
                 for i in range(200)])
    g.add_edges([{"source": i % 200, "target": (i * 7 + 1) % 200, "edge_type": "R", "properties": {"w": i % 5}}
                 for i in range(600)])
    rain = g.add_variable("binary", owner_id=0, prior={"p": 0.2})
    wet = g.add_variable("binary", owner_id=1)
    g.add_cpd(wet, [rain], [0.9, 0.1, 0.1, 0.9])
    return g, rain, wet


def soak(operations, samples=20, seed=7, out=print):
    """Runs the mix; returns [(operations done, records, resident MiB)] at each sample."""
    rng = random.Random(seed)
    with tempfile.TemporaryDirectory() as d:
        g, rain, wet = build(os.path.join(d, "soak.db"))
        query = {"match": [{"node": "a", "labels": ["P"]}, {"edge": "e", "type": "R"}, {"node": "b"}], "limit": 5}
        curve, every = [], max(1, operations // samples)
        for i in range(operations):
            r = rng.random()
            n = g.node_count()
            if r < 0.01:
                g.add_node(properties={"n": i})
            elif r < 0.02:
                g.add_edge(rng.randrange(n), rng.randrange(n), "R", {"w": i % 5})
            elif r < 0.025:
                g.cypher("CREATE (a:P {n: $n})-[:R {w: 1}]->(b:Q {n: $n})", {"n": i})
            elif r < 0.30:
                g.get_node(rng.randrange(n))
                g.neighbors(rng.randrange(n), "both")
            elif r < 0.45:
                g.k_hop(rng.randrange(n), 2)
            elif r < 0.60:
                s = g.snapshot()
                s.query(query)
            elif r < 0.75:
                g.query(query)
            elif r < 0.90:
                g.cypher("MATCH (a:P)-[r:R]->(b) WHERE a.n < $k RETURN b.n LIMIT 5", {"k": rng.randrange(50)})
            elif r < 0.97:
                g.belief_propagation([rain], evidence={wet: rng.choice(["true", "false"])})
            else:
                g.local_propagate({rng.randrange(n): 1.0}, radius=1)
            if (i + 1) % every == 0:
                curve.append((i + 1, g.node_count() + g.edge_count(), resident_mib()))
                if out:
                    out(f"{i + 1:>9} ops  {curve[-1][1]:>7} records  {curve[-1][2]:8.1f} MiB")
        return curve


if __name__ == "__main__":
    ops = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    samples = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    start, cpu = time.perf_counter(), time.process_time()
    curve = soak(ops, samples)
    print(f"growth after warm-up: {curve[-1][2] - curve[0][2]:.1f} MiB for "
          f"{curve[-1][1] - curve[0][1]} more records; wall {time.perf_counter() - start:.1f} s, "
          f"cpu {time.process_time() - cpu:.1f} s")
