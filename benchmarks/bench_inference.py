"""Belief propagation on seeded binary models, build time excluded. The chain: ours runs
residual belief propagation over the whole model; pyAgrum runs its loopy belief propagation
on the same distribution written as a Bayesian network; a forward-backward pass in plain
Python gives the exact marginals, and all three must agree. The grid: pyAgrum runs a
grid-shaped network with seeded tables, a timing peer of the same shape but not the same
model, so its answers are not compared. pgmpy is not run here: its engines are exact ones,
which the grid's width puts out of reach."""
import random

from benchmarks import core
from benchmarks.core import Compare, Task

FAMILY = "inference"
TOLERANCE = 1e-6
DAMPING = 0.2
MAX_ITERS = 10_000_000
PRIOR_SHARE = 0.1


def gum():
    try:
        import pyagrum
    except ImportError:
        import pyAgrum as pyagrum
    return pyagrum


def soft_priors(n, rng):
    return {v: rng.uniform(0.1, 0.9) for v in range(n) if rng.random() < PRIOR_SHARE}


def chain_model(n, seed=11):
    rng = random.Random(seed)
    priors = soft_priors(n, rng)
    return priors, [(i, i + 1, [rng.uniform(0.1, 1.0) for _ in range(4)]) for i in range(n - 1)]


def grid_model(w, seed=12):
    from benchmarks.bench_model import grid_pairs
    rng = random.Random(seed)
    priors = soft_priors(w * w, rng)
    return priors, [(a, b, [rng.uniform(0.1, 1.0) for _ in range(4)]) for a, b in grid_pairs(w)]


def unary(priors, v):
    p = priors.get(v)
    return [1.0, 1.0] if p is None else [1.0 - p, p]


def exact_chain(priors, tables):
    """Forward-backward marginals of the chain with unary priors; also the backward messages."""
    n = len(tables) + 1
    phi = [unary(priors, v) for v in range(n)]
    fwd = [phi[0][:]]
    for i, t in enumerate(tables):
        prev = fwd[-1]
        m = [(prev[0] * t[s] + prev[1] * t[2 + s]) * phi[i + 1][s] for s in (0, 1)]
        fwd.append([x / (m[0] + m[1]) for x in m])
    bwd = [[1.0, 1.0] for _ in range(n)]
    for i in range(n - 2, -1, -1):
        t, nxt = tables[i], bwd[i + 1]
        m = [t[s * 2] * phi[i + 1][0] * nxt[0] + t[s * 2 + 1] * phi[i + 1][1] * nxt[1] for s in (0, 1)]
        bwd[i] = [x / (m[0] + m[1]) for x in m]
    out = []
    for v in range(n):
        b = [fwd[v][s] * bwd[v][s] for s in (0, 1)]
        out.append(b[1] / (b[0] + b[1]))
    return out, bwd, phi


def chain_as_bayesnet(priors, tables):
    """The chain's joint as P(X0) and P(X(i+1) | Xi): the same distribution, as a network."""
    g = gum()
    _, bwd, phi = exact_chain(priors, tables)
    bn = g.BayesNet("chain")
    n = len(tables) + 1
    for v in range(n):
        bn.add(g.LabelizedVariable(f"x{v}", f"x{v}", 2))
    for v in range(n - 1):
        bn.addArc(f"x{v}", f"x{v + 1}")
    root = [phi[0][s] * bwd[0][s] for s in (0, 1)]
    bn.cpt("x0").fillWith([x / sum(root) for x in root])
    for i, t in enumerate(tables):
        for s in (0, 1):
            row = [t[s * 2 + u] * phi[i + 1][u] * bwd[i + 1][u] for u in (0, 1)]
            bn.cpt(f"x{i + 1}")[{f"x{i}": s}] = [x / sum(row) for x in row]
    return bn, {}


def grid_as_bayesnet(w, priors, seed=13):
    g = gum()
    rng = random.Random(seed)
    bn = g.BayesNet("grid")
    for v in range(w * w):
        bn.add(g.LabelizedVariable(f"x{v}", f"x{v}", 2))
    for r in range(w):
        for c in range(w):
            v = r * w + c
            if c > 0:
                bn.addArc(f"x{v - 1}", f"x{v}")
            if r > 0:
                bn.addArc(f"x{v - w}", f"x{v}")
    for v in range(w * w):
        cpt = bn.cpt(f"x{v}")
        parents = list(cpt.names[1:])
        for k in range(1 << len(parents)):
            row = [rng.uniform(0.1, 1.0), rng.uniform(0.1, 1.0)]
            cpt[{p: (k >> j) & 1 for j, p in enumerate(parents)}] = [x / sum(row) for x in row]
    return bn, {f"x{v}": unary(priors, v) for v in priors}


def build_ours(n, priors, tables):
    import _quillmere
    g = _quillmere.Graph()
    for v in range(n):
        g.add_variable("binary", prior={"p": priors[v]} if v in priors else None)
    for a, b, values in tables:
        g.add_factor_table([a, b], values)
    return g


def prepare(peer, size):
    p = core.SIZES[size]
    chain, grid = chain_model(p["chain"]), grid_model(p["grid"])
    ctx = {"chain": chain, "grid": grid, "n": p["chain"], "w": p["grid"]}
    if peer == "ours":
        ctx["g_chain"] = build_ours(p["chain"], *chain)
        ctx["g_grid"] = build_ours(p["grid"] ** 2, *grid)
    elif peer == "pyAgrum":
        ctx["bn_chain"] = chain_as_bayesnet(chain[0], [t for _, _, t in chain[1]])
        ctx["bn_grid"] = grid_as_bayesnet(p["grid"], grid[0])
    return ctx


def run_ours(g):
    r = g.belief_propagation(max_iters=MAX_ITERS, tolerance=TOLERANCE, damping=DAMPING)
    if not r["converged"]:
        raise RuntimeError(f"belief propagation did not converge: {r['warnings']}")
    return [r["beliefs"][v]["true"] for v in sorted(r["beliefs"])]


def run_pyagrum(net):
    bn, likelihoods = net
    ie = gum().LoopyBeliefPropagation(bn)
    ie.setEpsilon(TOLERANCE)
    ie.setMaxIter(MAX_ITERS)
    for var, lik in likelihoods.items():
        ie.addEvidence(var, lik)
    ie.makeInference()
    return [ie.posterior(f"x{v}").tolist()[1] for v in range(bn.size())]


TASKS = core.task_table(FAMILY, [
    Task("chain", "marginals of every variable of the chain",
         Compare("every marginal within 1e-5 (the exact ones from Python)", tol=1e-5), {
             "ours": ("g.belief_propagation(tolerance=1e-6, damping=0.2)", lambda c: run_ours(c["g_chain"])),
             "pyAgrum": ("LoopyBeliefPropagation on the chain as a Bayesian network",
                         lambda c: run_pyagrum(c["bn_chain"])),
             "python": ("exact forward-backward in plain Python",
                        lambda c: exact_chain(c["chain"][0], [t for _, _, t in c["chain"][1]])[0]),
         }, headline=True),
    Task("grid", "marginals of every variable of the grid", None, {
        "ours": ("g.belief_propagation(tolerance=1e-6, damping=0.2)", lambda c: run_ours(c["g_grid"])),
        "pyAgrum": ("LoopyBeliefPropagation on a grid-shaped network (same shape, other model)",
                    lambda c: run_pyagrum(c["bn_grid"])),
    }, note="pyAgrum runs a model of the same shape, not the same model: timed beside ours, not compared."),
])
