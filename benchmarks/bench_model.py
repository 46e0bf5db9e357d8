"""Building probabilistic models from Python, one call per record as a program would: a
chain and a square grid of binary variables with seeded pairwise tables, and soft priors on
a seeded tenth of the variables (our prior {"p": x}, a unary factor [1 - x, x] for the peers).
On a file every one of our calls is one durable transaction; Python's sqlite3 writes the same
rows in the same transaction shape beside it."""
import atexit
import os
import random
import shutil
import sqlite3
import tempfile

from benchmarks import core
from benchmarks.core import Compare, Task

FAMILY = "model"


class Model:
    """n binary variables, pairwise tables over (a, b) in row-major order (b fastest), priors."""

    def __init__(self, n, pairs, seed):
        rng = random.Random(seed)
        self.n = n
        self.pairs = pairs
        self.tables = [[rng.uniform(0.1, 2.0) for _ in range(4)] for _ in pairs]
        self.priors = {v: round(rng.uniform(0.05, 0.95), 6) for v in sorted(rng.sample(range(n), n // 10))}


def chain(n, seed=7):
    return Model(n, [(i, i + 1) for i in range(n - 1)], seed)


def grid_pairs(side):
    pairs = []
    for r in range(side):
        for c in range(side):
            v = r * side + c
            if c + 1 < side:
                pairs.append((v, v + 1))
            if r + 1 < side:
                pairs.append((v, v + side))
    return pairs


def grid(side, seed=11):
    return Model(side * side, grid_pairs(side), seed)


def prepare(peer, size):
    p = core.SIZES[size]
    folder = tempfile.mkdtemp(prefix="qm-bench-model-")
    atexit.register(shutil.rmtree, folder, ignore_errors=True)
    # Every call on a file waits for the disk, so the file chain is kept short.
    return {"chain": chain(p["chain"]), "grid": grid(p["grid"]), "file_chain": chain(max(10, p["chain"] // 4)),
            "dir": folder, "runs": 0}


def summary(n_vars, n_pair_tables, first, last):
    """What every library can read back: the counts and the scopes of the first and last table."""
    return [n_vars, n_pair_tables, list(first), list(last)]


def name(v):
    return f"x{v}"


# ---------------------------------------------------------------- builders

def build_ours(model, path=None):
    import _quillmere
    g = _quillmere.Graph(path)
    add_variable, add_table = g.add_variable, g.add_factor_table
    priors = model.priors
    for v in range(model.n):
        p = priors.get(v)
        add_variable("binary", prior={"p": p} if p is not None else None)
    for pair, values in zip(model.pairs, model.tables):
        add_table(list(pair), values)
    return summary(g.variable_count(), g.factor_count(), g.get_factor(0).input_variables,
                   g.get_factor(len(model.pairs) - 1).input_variables)


def build_pgmpy(model):
    from pgmpy.factors.discrete import DiscreteFactor
    from pgmpy.models import DiscreteMarkovNetwork
    m = DiscreteMarkovNetwork()
    m.add_nodes_from([name(v) for v in range(model.n)])
    m.add_edges_from([(name(a), name(b)) for a, b in model.pairs])
    factors = [DiscreteFactor([name(a), name(b)], [2, 2], values) for (a, b), values in zip(model.pairs, model.tables)]
    factors += [DiscreteFactor([name(v)], [2], [1 - p, p]) for v, p in model.priors.items()]
    m.add_factors(*factors)
    pair_scopes = [[int(x[1:]) for x in f.scope()] for f in m.get_factors() if len(f.scope()) == 2]
    return summary(len(m.nodes()), len(pair_scopes), pair_scopes[0], pair_scopes[-1])


def build_pyagrum(model):
    try:
        import pyagrum as gum
    except ImportError:
        import pyAgrum as gum
    m = gum.MarkovRandomField()
    for v in range(model.n):
        m.add(gum.LabelizedVariable(name(v), name(v), 2))
    for (a, b), values in zip(model.pairs, model.tables):
        # pyAgrum lists its first variable fastest: b first keeps (a, b) row-major.
        m.addFactor([name(b), name(a)]).fillWith(values)
    for v, p in model.priors.items():
        m.addFactor([name(v)]).fillWith([1 - p, p])
    first, last = model.pairs[0], model.pairs[-1]
    for a, b in (first, last):
        m.factor({name(a), name(b)})  # raises when the table is missing
    pair_tables = len(m.factors()) - len(model.priors)
    return summary(m.size(), pair_tables, first, last)


# ---------------------------------------------------------------- on a file

def fresh_path(ctx, name):
    for f in os.listdir(ctx["dir"]):
        if f.startswith(name):
            p = os.path.join(ctx["dir"], f)
            shutil.rmtree(p) if os.path.isdir(p) else os.remove(p)
    ctx["runs"] += 1
    return os.path.join(ctx["dir"], f"{name}{ctx['runs']}.db")


def ours_file(ctx):
    path = fresh_path(ctx, "ours")
    return lambda: build_ours(ctx["file_chain"], path)


def sqlite_file(ctx):
    """The rows one build writes, one transaction per call, through sqlite3 with the same
    pragmas, into a file created with the same tables."""
    import _quillmere
    model, path = ctx["file_chain"], fresh_path(ctx, "sqlite")
    _quillmere.Graph(path)  # the schema and indexes only: the same pages to write

    def replay():
        conn = sqlite3.connect(path, isolation_level=None)
        conn.executescript("PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL; PRAGMA busy_timeout = 5000;")
        for v in range(model.n):
            p = model.priors.get(v)
            conn.execute("BEGIN IMMEDIATE")
            conn.execute("INSERT INTO variables VALUES (?, NULL, 'binary', ?, '')",
                         (v, "" if p is None else f"p\tfloat\t{p}"))
            conn.execute("INSERT INTO variable_states VALUES (?, 0, 'false')", (v,))
            conn.execute("INSERT INTO variable_states VALUES (?, 1, 'true')", (v,))
            conn.execute("INSERT INTO op_log (op, object_id, payload) VALUES ('add_variable', ?, 'binary')", (v,))
            conn.execute("COMMIT")
        for k, ((a, b), values) in enumerate(zip(model.pairs, model.tables)):
            conn.execute("BEGIN IMMEDIATE")
            conn.execute("INSERT INTO factors VALUES (?, ?, '', 'factor_table', '')", (k, f"{a},{b}"))
            conn.execute("INSERT INTO op_log (op, object_id, payload) VALUES ('add_factor', ?, 'factor_table')", (k,))
            conn.execute("INSERT INTO factor_tables VALUES (?, ?, ?, 0)", (k, f"{a},{b}", ",".join(map(repr, values))))
            conn.execute("COMMIT")
        n_vars = conn.execute("SELECT count(*) FROM variables").fetchone()[0]
        scopes = [[int(x) for x in row[0].split(",")]
                  for row in conn.execute("SELECT input_variables FROM factors ORDER BY id")]
        conn.close()
        return summary(n_vars, len(scopes), scopes[0], scopes[-1])
    return replay


SAME = Compare("same variable and pairwise-table counts, same scopes of the first and last table")

TASKS = core.task_table(FAMILY, [
    Task("chain", "a chain model: variables, priors, one table per neighbour pair", SAME, {
        "ours": ("g.add_variable / g.add_factor_table per record", lambda c: build_ours(c["chain"])),
        "pgmpy": ("DiscreteMarkovNetwork with DiscreteFactors", lambda c: build_pgmpy(c["chain"])),
        "pyAgrum": ("MarkovRandomField.add / addFactor", lambda c: build_pyagrum(c["chain"])),
    }, headline=True),
    Task("grid", "a grid model: variables, priors, one table per horizontal and vertical pair", SAME, {
        "ours": ("g.add_variable / g.add_factor_table per record", lambda c: build_ours(c["grid"])),
        "pgmpy": ("DiscreteMarkovNetwork with DiscreteFactors", lambda c: build_pgmpy(c["grid"])),
        "pyAgrum": ("MarkovRandomField.add / addFactor", lambda c: build_pyagrum(c["grid"])),
    }),
    Task("chain on a file", "a quarter-length chain on a file, one durable transaction per call", SAME, {
        "ours": ("the same calls on Graph(path)", ours_file),
        "python": ("sqlite3, the same rows, one transaction per call, synchronous FULL", sqlite_file),
    }, fresh=True),
])
