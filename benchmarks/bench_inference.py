"""Belief propagation side by side with pyAgrum's loopy belief propagation.

Two seeded binary models: a chain of N variables with a pairwise table (entries uniform in
[0.1, 1]) between neighbours, and a W x W grid with a pairwise table on every horizontal and
vertical neighbour pair. 10 % of the variables carry a soft prior {"p": uniform(0.1, 0.9)}.
Ours runs residual belief propagation over the whole model (tolerance 1e-6, damping 0.2,
max_iters large enough to converge) and reports iterations and messages_updated.

The chain is also handed to pyAgrum as the equivalent Bayesian network (the chain's joint,
rewritten as P(X0) and P(X(i+1) | Xi) by a backward pass), with the same marginals; both are
checked against the exact marginals of a forward-backward pass written here. The grid goes to
pyAgrum as a grid-shaped network (parents: the left and upper neighbour, seeded CPTs) with the
soft priors as likelihood evidence: a timing peer of the same shape, not the same model.

Build time is excluded. Times are one run each, wall clock and process CPU time.

Run: PYTHONPATH=build/dev python benchmarks/bench_inference.py [--chain 2000] [--grid 50]
(peer: pip install ".[bench]", which brings pyAgrum)
"""

import argparse
import random
import time

import _quillmere

try:
    import pyagrum as gum
except ImportError:  # pragma: no cover - reported in the table
    gum = None

TOLERANCE = 1e-6
DAMPING = 0.2
MAX_ITERS = 10_000_000
PRIOR_SHARE = 0.1


def timed(fn):
    w, c = time.perf_counter(), time.process_time()
    out = fn()
    return out, time.perf_counter() - w, time.process_time() - c


def soft_priors(n, rng):
    """{variable: p(true)} for a seeded tenth of the variables."""
    return {v: rng.uniform(0.1, 0.9) for v in range(n) if rng.random() < PRIOR_SHARE}


def chain_model(n, seed=11):
    rng = random.Random(seed)
    priors = soft_priors(n, rng)
    tables = [[rng.uniform(0.1, 1.0) for _ in range(4)] for _ in range(n - 1)]
    return priors, tables


def grid_model(w, seed=12):
    rng = random.Random(seed)
    priors = soft_priors(w * w, rng)
    pairs = []
    for r in range(w):
        for c in range(w):
            v = r * w + c
            if c + 1 < w:
                pairs.append((v, v + 1))
            if r + 1 < w:
                pairs.append((v, v + w))
    tables = [(a, b, [rng.uniform(0.1, 1.0) for _ in range(4)]) for a, b in pairs]
    return priors, tables


def unary(priors, v):
    p = priors.get(v)
    return [1.0, 1.0] if p is None else [1.0 - p, p]


def build_ours(n, priors, pairs):
    g = _quillmere.Graph()
    for v in range(n):
        g.add_variable("binary", prior={"p": priors[v]} if v in priors else None)
    for a, b, values in pairs:
        g.add_factor_table([a, b], values)
    return g


def run_ours(g):
    r = g.belief_propagation(max_iters=MAX_ITERS, tolerance=TOLERANCE, damping=DAMPING)
    assert r["converged"], r["warnings"]
    return r


def exact_chain(priors, tables):
    """Forward-backward marginals of the chain with unary priors."""
    n = len(tables) + 1
    phi = [unary(priors, v) for v in range(n)]
    fwd = [phi[0][:]]
    for i, t in enumerate(tables):
        prev = fwd[-1]
        m = [prev[0] * t[0 * 2 + s] + prev[1] * t[1 * 2 + s] for s in (0, 1)]
        m = [m[s] * phi[i + 1][s] for s in (0, 1)]
        z = m[0] + m[1]
        fwd.append([x / z for x in m])
    bwd = [[1.0, 1.0] for _ in range(n)]
    for i in range(n - 2, -1, -1):
        t, nxt = tables[i], bwd[i + 1]
        m = [t[s * 2 + 0] * phi[i + 1][0] * nxt[0] + t[s * 2 + 1] * phi[i + 1][1] * nxt[1] for s in (0, 1)]
        z = m[0] + m[1]
        bwd[i] = [x / z for x in m]
    out = []
    for v in range(n):
        b = [fwd[v][s] * bwd[v][s] for s in (0, 1)]
        z = b[0] + b[1]
        out.append([x / z for x in b])
    return out, bwd, phi


def chain_as_bayesnet(priors, tables):
    """The chain's joint as P(X0) and P(X(i+1) | Xi): the same distribution, as a network."""
    _, bwd, phi = exact_chain(priors, tables)
    bn = gum.BayesNet("chain")
    n = len(tables) + 1
    for v in range(n):
        bn.add(gum.LabelizedVariable(f"x{v}", f"x{v}", 2))
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
    rng = random.Random(seed)
    bn = gum.BayesNet("grid")
    for v in range(w * w):
        bn.add(gum.LabelizedVariable(f"x{v}", f"x{v}", 2))
    for r in range(w):
        for c in range(w):
            v = r * w + c
            if c > 0:
                bn.addArc(f"x{v - 1}", f"x{v}")
            if r > 0:
                bn.addArc(f"x{v - w}", f"x{v}")
    for v in range(w * w):
        cpt = bn.cpt(f"x{v}")
        parents = [p for p in (cpt.names[1:])]
        for k in range(1 << len(parents)):
            row = [rng.uniform(0.1, 1.0), rng.uniform(0.1, 1.0)]
            cpt[{p: (k >> j) & 1 for j, p in enumerate(parents)}] = [x / sum(row) for x in row]
    return bn, {f"x{v}": unary(priors, v) for v in priors}


def run_peer(bn, likelihoods):
    ie = gum.LoopyBeliefPropagation(bn)
    ie.setEpsilon(TOLERANCE)
    ie.setMaxIter(MAX_ITERS)
    for name, lik in likelihoods.items():
        ie.addEvidence(name, lik)
    ie.makeInference()
    return ie, [ie.posterior(f"x{v}").tolist() for v in range(bn.size())]


def row(name, wall, cpu, extra=""):
    print(f"  {name:<28} wall {wall * 1000:9.1f} ms   cpu {cpu * 1000:9.1f} ms   {extra}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--chain", type=int, default=2000, help="chain length")
    ap.add_argument("--grid", type=int, default=50, help="grid side")
    args = ap.parse_args()

    n = args.chain
    priors, tables = chain_model(n)
    print(f"chain: {n} binary variables, {n - 1} pairwise tables, {len(priors)} soft priors")
    g = build_ours(n, priors, [(i, i + 1, t) for i, t in enumerate(tables)])
    r, wall, cpu = timed(lambda: run_ours(g))
    exact, _, _ = exact_chain(priors, tables)
    ours_err = max(abs(r["beliefs"][v]["true"] - exact[v][1]) for v in range(n))
    row("quillmere", wall, cpu, f"iterations {r['iterations']}, messages_updated {r['messages_updated']}, "
        f"max |belief - exact| {ours_err:.2e}")
    if gum:
        bn, lik = chain_as_bayesnet(priors, tables)
        (ie, post), wall, cpu = timed(lambda: run_peer(bn, lik))
        peer_err = max(abs(post[v][1] - exact[v][1]) for v in range(n))
        row("pyAgrum loopy BP", wall, cpu, f"iterations {ie.nbrIterations()}, max |belief - exact| {peer_err:.2e}")
    else:
        print("  pyAgrum not installed")

    w = args.grid
    priors, pairs = grid_model(w)
    print(f"grid: {w}x{w} binary variables, {len(pairs)} pairwise tables, {len(priors)} soft priors")
    g = build_ours(w * w, priors, pairs)
    r, wall, cpu = timed(lambda: run_ours(g))
    row("quillmere", wall, cpu, f"iterations {r['iterations']}, messages_updated {r['messages_updated']}")
    if gum:
        bn, lik = grid_as_bayesnet(w, priors)
        (ie, _), wall, cpu = timed(lambda: run_peer(bn, lik))
        row("pyAgrum loopy BP (same shape)", wall, cpu, f"iterations {ie.nbrIterations()}")


if __name__ == "__main__":
    main()
