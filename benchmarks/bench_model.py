"""Building probabilistic models side by side with pgmpy and pyAgrum on identical data.

Two seeded pairwise models over binary variables: a chain of N variables (N - 1 pairwise
tables) and a side x side grid (2 * side * (side - 1) pairwise tables). Every pairwise
table holds seeded positive potentials; 10 % of the variables, chosen by the same seed,
carry a prior (our prior {"p": x}, a unary factor [1 - x, x] for the peers) as soft
evidence. Each library builds the same model from Python, one call per record, as a
program would; before a time is printed the built models are checked against each other
(variable and factor counts, and sampled table entries read back through each library).

In memory the figure is the whole build. On a file every call is one durable transaction,
so the figure is the cost per call and where it goes: the same rows written by Python's
sqlite3 module in the same transaction shape with the same pragmas (synchronous FULL, then
OFF to show what the sync alone costs), against our call. Our own work per call is our
call minus that replay, in wall time (noisy: it carries the disk's swings) and in CPU time.

Times are one run each: wall clock, and process CPU time (steadier on a shared machine).

Run: PYTHONPATH=build/dev python benchmarks/bench_model.py [--chain 2000] [--grid 50]
     [--file-chain 300] [--skip-peers]
"""

import argparse
import os
import random
import sqlite3
import sys
import tempfile
import time

import _quillmere

try:
    from pgmpy.factors.discrete import DiscreteFactor
    from pgmpy.models import DiscreteMarkovNetwork
except ImportError:  # pragma: no cover - reported in the table
    DiscreteMarkovNetwork = None
try:
    import pyagrum as gum
except ImportError:  # pragma: no cover
    try:
        import pyAgrum as gum
    except ImportError:
        gum = None


# ---------------------------------------------------------------- the models

class Model:
    """n binary variables, pairwise tables over (a, b) in row-major order (b fastest), priors."""

    def __init__(self, name, n, pairs, seed):
        rng = random.Random(seed)
        self.name = name
        self.n = n
        self.pairs = pairs
        self.tables = [[rng.uniform(0.1, 2.0) for _ in range(4)] for _ in pairs]
        chosen = rng.sample(range(n), n // 10)
        self.priors = {v: round(rng.uniform(0.05, 0.95), 6) for v in sorted(chosen)}


def chain(n, seed=7):
    return Model(f"chain {n}", n, [(i, i + 1) for i in range(n - 1)], seed)


def grid(side, seed=11):
    pairs = []
    for r in range(side):
        for c in range(side):
            v = r * side + c
            if c + 1 < side:
                pairs.append((v, v + 1))
            if r + 1 < side:
                pairs.append((v, v + side))
    return Model(f"grid {side}x{side}", side * side, pairs, seed)


# ---------------------------------------------------------------- builders

def build_ours(model, path=None):
    g = _quillmere.Graph(path)
    add_variable, add_table = g.add_variable, g.add_factor_table
    priors = model.priors
    for v in range(model.n):
        p = priors.get(v)
        add_variable("binary", prior={"p": p} if p is not None else None)
    for (a, b), values in zip(model.pairs, model.tables):
        add_table([a, b], values)
    return g


def name(v):
    return f"x{v}"


def build_pgmpy(model):
    m = DiscreteMarkovNetwork()
    m.add_nodes_from([name(v) for v in range(model.n)])
    m.add_edges_from([(name(a), name(b)) for a, b in model.pairs])
    factors = [DiscreteFactor([name(a), name(b)], [2, 2], values) for (a, b), values in zip(model.pairs, model.tables)]
    factors += [DiscreteFactor([name(v)], [2], [1 - p, p]) for v, p in model.priors.items()]
    m.add_factors(*factors)
    return m


def build_pyagrum(model):
    m = gum.MarkovRandomField()
    for v in range(model.n):
        m.add(gum.LabelizedVariable(name(v), name(v), 2))
    for (a, b), values in zip(model.pairs, model.tables):
        # A pyAgrum table lists its first variable fastest: name b first to match (a, b) row-major.
        m.addFactor([name(b), name(a)]).fillWith(values)
    for v, p in model.priors.items():
        m.addFactor([name(v)]).fillWith([1 - p, p])
    return m


# ---------------------------------------------------------------- agreement

def check_ours(g, model):
    assert g.variable_count() == model.n and g.factor_count() == len(model.pairs)
    for k in (0, len(model.pairs) // 2, len(model.pairs) - 1):
        f = g.get_factor(k)
        assert f.input_variables == list(model.pairs[k]) and f.function == "factor_table"
    for v, p in list(model.priors.items())[:5]:
        got = g.posterior(v)
        assert abs(got["true"] - p) < 1e-12 and abs(got["false"] - (1 - p)) < 1e-12


def check_pgmpy(m, model):
    assert len(m.nodes()) == model.n and len(m.get_factors()) == len(model.pairs) + len(model.priors)
    by_scope = {tuple(f.scope()): f for f in m.get_factors()}
    for k in (0, len(model.pairs) - 1):
        a, b = model.pairs[k]
        f = by_scope[(name(a), name(b))]
        for sa in (0, 1):
            for sb in (0, 1):
                assert abs(f.get_value(**{name(a): sa, name(b): sb}) - model.tables[k][sa * 2 + sb]) < 1e-12


def check_pyagrum(m, model):
    assert m.size() == model.n and len(m.factors()) == len(model.pairs) + len(model.priors)
    for k in (0, len(model.pairs) - 1):
        a, b = model.pairs[k]
        t = m.factor({name(a), name(b)})
        for sa in (0, 1):
            for sb in (0, 1):
                assert abs(t[{name(a): sa, name(b): sb}] - model.tables[k][sa * 2 + sb]) < 1e-12


# ---------------------------------------------------------------- timing

def timed(fn):
    c0 = time.process_time()
    t0 = time.perf_counter()
    out = fn()
    return time.perf_counter() - t0, time.process_time() - c0, out


def in_memory(models, skip_peers):
    peers = [("ours", build_ours, check_ours)]
    if not skip_peers:
        peers.append(("pgmpy", build_pgmpy, check_pgmpy) if DiscreteMarkovNetwork else ("pgmpy", None, None))
        peers.append(("pyAgrum", build_pyagrum, check_pyagrum) if gum else ("pyAgrum", None, None))
    print("In memory: whole build, one call per record (seconds)")
    print(f"{'model':<14}{'library':<10}{'wall':>10}{'cpu':>10}{'vs ours':>10}")
    for model in models:
        ours_wall = None
        for label, build, check in peers:
            if build is None:
                print(f"{model.name:<14}{label:<10}{'not installed':>30}")
                continue
            wall, cpu, built = timed(lambda: build(model))
            check(built, model)
            if ours_wall is None:
                ours_wall = wall
            print(f"{model.name:<14}{label:<10}{wall:>10.4f}{cpu:>10.4f}{wall / ours_wall:>9.1f}x")
            del built


def replay_sql(path, model, synchronous):
    """The rows one build writes, in the store's transaction shape, through sqlite3."""
    _quillmere.Graph(path)  # the store's own schema, indexes included: the same pages to write
    conn = sqlite3.connect(path, isolation_level=None)
    conn.executescript(f"PRAGMA journal_mode = WAL; PRAGMA synchronous = {synchronous}; PRAGMA busy_timeout = 5000;")
    calls = 0
    for v in range(model.n):
        p = model.priors.get(v)
        conn.execute("BEGIN IMMEDIATE")
        conn.execute("INSERT INTO variables VALUES (?, NULL, 'binary', ?, '')", (v, "" if p is None else f"p\tfloat\t{p}"))
        conn.execute("INSERT INTO variable_states VALUES (?, 0, 'false')", (v,))
        conn.execute("INSERT INTO variable_states VALUES (?, 1, 'true')", (v,))
        conn.execute("INSERT INTO op_log (op, object_id, payload) VALUES ('add_variable', ?, 'binary')", (v,))
        conn.execute("COMMIT")
        calls += 1
    for k, ((a, b), values) in enumerate(zip(model.pairs, model.tables)):
        conn.execute("BEGIN IMMEDIATE")
        conn.execute("INSERT INTO factors VALUES (?, ?, '', 'factor_table', '')", (k, f"{a},{b}"))
        conn.execute("INSERT INTO op_log (op, object_id, payload) VALUES ('add_factor', ?, 'factor_table')", (k,))
        conn.execute("INSERT INTO factor_tables VALUES (?, ?, ?, 0)", (k, f"{a},{b}", ",".join(map(repr, values))))
        conn.execute("COMMIT")
        calls += 1
    conn.close()
    return calls


def on_file(model, folder):
    calls = model.n + len(model.pairs)
    print(f"\nOn a file: {model.name}, {calls} calls, each one durable transaction (ms per call)")
    rows = []
    wall, cpu, g = timed(lambda: build_ours(model, os.path.join(folder, "ours.db")))
    check_ours(g, model)
    del g
    rows.append(("ours (Graph on a file)", wall, cpu))
    for sync in ("FULL", "OFF"):
        path = os.path.join(folder, f"replay-{sync}.db")
        w, c, n = timed(lambda: replay_sql(path, model, sync))
        assert n == calls
        rows.append((f"same rows via sqlite3, synchronous {sync}", w, c))
    wall_mem, cpu_mem, _ = timed(lambda: build_ours(model))
    rows.append(("ours in memory (no store)", wall_mem, cpu_mem))
    print(f"{'':<40}{'wall':>10}{'cpu':>10}")
    for label, w, c in rows:
        print(f"{label:<40}{w / calls * 1e3:>10.4f}{c / calls * 1e3:>10.4f}")
    ours, full, off = rows[0][1], rows[1][1], rows[2][1]
    ours_cpu, full_cpu = rows[0][2], rows[1][2]
    print(f"the commit's sync (wall, FULL - OFF):      {(full - off) / calls * 1e3:>10.4f} ms per call")
    # Waiting for the disk shows in wall time only and swings with the machine's load; the
    # work done on top of SQLite's shows in CPU time.
    own_wall, own_cpu = ours - full, ours_cpu - full_cpu
    print(f"our own work (wall, ours - sqlite3 FULL):  {own_wall / calls * 1e3:>10.4f} ms per call "
          f"= {100 * own_wall / ours:.1f} % of our call")
    print(f"our own work (CPU, ours - sqlite3 FULL):   {own_cpu / calls * 1e3:>10.4f} ms per call "
          f"= {100 * own_cpu / ours:.1f} % of our call")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--chain", type=int, default=2000, help="variables in the chain")
    ap.add_argument("--grid", type=int, default=50, help="side of the square grid")
    ap.add_argument("--file-chain", type=int, default=2000, help="variables in the chain built on a file")
    ap.add_argument("--skip-peers", action="store_true")
    args = ap.parse_args()
    print(f"python {sys.version.split()[0]}, pgmpy {'yes' if DiscreteMarkovNetwork else 'no'}, "
          f"pyAgrum {getattr(gum, '__version__', 'no')}\n")
    in_memory([chain(args.chain), grid(args.grid)], args.skip_peers)
    with tempfile.TemporaryDirectory(prefix="qm-bench-model-", dir=os.environ.get("BENCH_DIR")) as folder:
        on_file(chain(args.file_chain), folder)


if __name__ == "__main__":
    main()
