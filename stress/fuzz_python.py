"""Python-level fuzzing, long run: random nested values as query dictionaries and as Cypher
parameters, many more of them than the suite's generated tests can afford. Each input is
answered or refused with the module's ordinary exceptions, the same way twice; anything
else stops the run and prints the input.

    python stress/fuzz_python.py [INPUTS] [SEED]      # INPUTS per target (default 1000000)
"""
import os
import random
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from test_fuzz_python import QUERY_WORDS, STATEMENTS, outcome, small_graph  # noqa: E402

KEYS = QUERY_WORDS + [0, 1, 2, 3]


def scalar(rng):
    pick = rng.randrange(8)
    if pick == 0:
        return None
    if pick == 1:
        return rng.random() < 0.5
    if pick == 2:
        return rng.choice([0, 1, -1, 2**63 - 1, 2**63, -2**63 - 1, 2**70, rng.randrange(-1000, 1000)])
    if pick == 3:
        return rng.choice([0.0, -0.0, 1.5, float("nan"), float("inf"), -float("inf"), 1e308, rng.random()])
    if pick == 4:
        return rng.choice(QUERY_WORDS)
    if pick == 5:
        return "".join(chr(rng.choice([rng.randrange(32, 127), rng.randrange(0, 0x2FFF), 0xD800, 0]))
                       for _ in range(rng.randrange(6)))
    if pick == 6:
        return bytes(rng.randrange(256) for _ in range(rng.randrange(4)))
    return rng.choice(QUERY_WORDS)


def value(rng, depth=0):
    if depth > 4 or rng.random() < 0.45:
        return scalar(rng)
    pick = rng.randrange(3)
    width = rng.randrange(5)
    if pick == 0:
        return [value(rng, depth + 1) for _ in range(width)]
    if pick == 1:
        return (value(rng, depth + 1), value(rng, depth + 1))
    return {rng.choice(KEYS): value(rng, depth + 1) for _ in range(width)}


def sometimes(rng, good):
    """Mostly a well-formed part, so inputs reach past the first checks; else any value."""
    return good() if rng.random() < 0.93 else value(rng)


def conditions(rng):
    ops = ["eq", "in", "ne", "lt", "gt", "contains", "EQ"]
    return [{"property": sometimes(rng, lambda: rng.choice(["n", "w", "name", "k"])),
             "op": sometimes(rng, lambda: rng.choice(ops)),
             "value": sometimes(rng, lambda: rng.choice([rng.randrange(-2, 7), rng.random() * 3, "n1",
                                                          [0, 1, "n2"], value(rng)]))}
            for _ in range(rng.randrange(3))]


def node_pattern(rng, name):
    out = {"node": sometimes(rng, lambda: name)}
    for key, make in (("id", lambda: rng.randrange(-1, 7)), ("external_id", lambda: f"n{rng.randrange(7)}"),
                      ("labels", lambda: rng.sample(["P", "Q", "Z"], rng.randrange(3))),
                      ("properties", lambda: {rng.choice(["n", "w", "name"]): rng.choice([0, 1, 1.5, "n3"])}),
                      ("where", lambda: conditions(rng))):
        if rng.random() < 0.25:
            out[key] = sometimes(rng, make)
    return out


def edge_pattern(rng):
    out = {}
    for key, make in (("edge", lambda: rng.choice(["e", "f"])), ("type", lambda: rng.choice(["R", "S"])),
                      ("direction", lambda: rng.choice(["out", "in", "both", "outgoing", "sideways"])),
                      ("properties", lambda: {"w": rng.randrange(5)}), ("where", lambda: conditions(rng))):
        if rng.random() < 0.35:
            out[key] = sometimes(rng, make)
    return out


def query_spec(rng):
    if rng.random() < 0.05:
        return value(rng)
    hops = rng.randrange(4)
    match = [node_pattern(rng, "a")]
    for i in range(hops):
        match += [edge_pattern(rng), node_pattern(rng, rng.choice(["b", "c", "a", f"x{i}"]))]
    if rng.random() < 0.03:
        match.insert(rng.randrange(len(match) + 1), value(rng))
    spec = {"match": sometimes(rng, lambda: match)}
    if rng.random() < 0.3:
        spec["return"] = sometimes(rng, lambda: rng.sample(["a", "b", "c", "e", "z"], rng.randrange(4)))
    if rng.random() < 0.3:
        spec["limit"] = sometimes(rng, lambda: rng.choice([0, 1, 3, -1, 2**64]))
    if rng.random() < 0.05:
        spec[rng.choice(KEYS)] = value(rng)
    return spec


def parameters(rng):
    names = ["p"] * 6 + ["q"] * 3 + ["", 0, b"p"]  # a few keys that are no names
    return {rng.choice(names): value(rng) for _ in range(rng.randrange(1, 4))}


def answered(call, shown):
    """The call's answer or ordinary refusal; anything else (outcome lets it through) stops
    the run with the input."""
    try:
        return outcome(call)
    except Exception as e:
        sys.exit(f"{type(e).__name__}: {e}\ninput: {shown!r}")


def same_twice(first, second, shown):
    a, b = answered(first, shown), answered(second, shown)
    if a != b:
        sys.exit(f"answered differently: {a!r} then {b!r}\ninput: {shown!r}")


def run(name, inputs, one):
    started = time.perf_counter()
    for i in range(inputs):
        one(i)
        if (i + 1) % 100_000 == 0 or i + 1 == inputs:
            rate = (i + 1) / max(time.perf_counter() - started, 1e-9)
            print(f"{name}: {i + 1} inputs, 0 failures, {rate:.0f}/s", flush=True)


def main():
    inputs = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 0)
    graph = small_graph()

    def query(_):
        spec = query_spec(rng)
        same_twice(lambda: graph.query(spec), lambda: graph.snapshot().query(spec), spec)

    def cypher(i):
        nonlocal graph
        if i % 1000 == 0:
            graph = small_graph()  # CREATE statements grow it
        statement, params = rng.choice(STATEMENTS), parameters(rng)
        shown = (statement, params)
        same_twice(lambda: graph.snapshot().cypher(statement, params),
                   lambda: graph.snapshot().cypher(statement, params), shown)
        answered(lambda: graph.cypher(statement, params), shown)

    run("query dictionaries", inputs, query)
    run("Cypher parameters", inputs, cypher)

if __name__ == "__main__":
    main()
