"""Plain-Python reference of belief propagation's written full sweep: every pass computes
every candidate in order (factors ascending, a factor's variables in table order, the
variable-to-factor candidate first) and applies only the best, with the engine's operand
order, so the engine's incremental bookkeeping must match it to the last bit."""

import math

NO_MASS = "distribution must have positive finite mass"


class NoMass(Exception):
    pass


def normalize(values):
    total = -0.0
    for x in values:
        total += x
    if not (math.isfinite(total) and total > 0.0):
        raise NoMass(NO_MASS)
    return [x / total for x in values]


def strides(cards, is_cpd):
    n = len(cards)
    out = [1] * n
    if n == 0:
        return out
    if not is_cpd:
        for i in range(n - 2, -1, -1):
            out[i] = out[i + 1] * cards[i + 1]
    else:
        running = cards[0]
        for i in range(n - 1, 0, -1):
            out[i] = running
            running *= cards[i]
    return out


def residual(a, b):
    total = -0.0
    for x, y in zip(a, b):
        total += abs(x - y)
    return total


class Model:
    """cards: {var: cardinality}; base: {var: distribution} for unobserved variables;
    evidence: {var: state index}; factors: [(factor id, [vars], [values], is_cpd)]."""

    def __init__(self, cards, base, evidence, factors):
        self.cards = cards
        self.base = base
        self.evidence = evidence
        self.factors = sorted(factors, key=lambda f: f[0])
        self.factors_of = {v: [] for v in cards}
        for fid, vs, _, _ in self.factors:
            for v in vs:
                self.factors_of[v].append(fid)

    def one_hot(self, v):
        out = [0.0] * self.cards[v]
        out[self.evidence[v]] = 1.0
        return out


def run(model, max_iters, tolerance, damping):
    """Returns (iterations, messages_updated, max_residual, converged, beliefs)."""
    uniform = {v: [1.0 / c] * c for v, c in model.cards.items()}
    to_factor = {}
    to_variable = {}
    for fid, vs, _, _ in model.factors:
        for v in vs:
            to_factor[(v, fid)] = list(uniform[v])
            to_variable[(fid, v)] = list(uniform[v])
    iterations = updated = 0
    max_residual = 0.0
    converged = False
    if max_iters == 0:
        converged = not model.factors
    else:
        p = 0
        while True:
            p += 1
            iterations = p
            best = None
            for fid, vs, values, is_cpd in model.factors:
                cards = [model.cards[v] for v in vs]
                st = strides(cards, is_cpd)
                for i, v in enumerate(vs):
                    if v in model.evidence:
                        cand = model.one_hot(v)
                    else:
                        cand = list(model.base[v])
                        for g in model.factors_of[v]:
                            if g != fid:
                                cand = [a * b for a, b in zip(cand, to_variable[(g, v)])]
                        cand = normalize(cand)
                    r = residual(to_factor[(v, fid)], cand)
                    if best is None or r > best[3]:
                        best = (cand, fid, v, r, 0)
                    out = [0.0] * cards[i]
                    for k, value in enumerate(values):
                        if value == 0.0:
                            continue
                        product = value
                        for j, u in enumerate(vs):
                            if j != i:
                                product *= to_factor[(u, fid)][(k // st[j]) % cards[j]]
                        out[(k // st[i]) % cards[i]] += product
                    cand = normalize(out)
                    r = residual(to_variable[(fid, v)], cand)
                    if best is None or r > best[3]:
                        best = (cand, fid, v, r, 1)
            if best is None:
                converged = True
                break
            cand, fid, v, r, kind = best
            if r <= tolerance:
                converged = True
                max_residual = r
                break
            store = to_variable if kind else to_factor
            key = (fid, v) if kind else (v, fid)
            old = store[key]
            store[key] = normalize([damping * o + (1.0 - damping) * n for o, n in zip(old, cand)])
            updated = p
            max_residual = r
            if p >= max_iters:
                break
    beliefs = {}
    for v in model.cards:
        if v in model.evidence:
            beliefs[v] = model.one_hot(v)
            continue
        b = list(model.base[v])
        for fid in model.factors_of[v]:
            b = [x * y for x, y in zip(b, to_variable[(fid, v)])]
        beliefs[v] = normalize(b)
    return iterations, updated, max_residual, converged, beliefs
