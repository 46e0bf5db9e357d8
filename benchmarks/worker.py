"""One implementation's side of a benchmark run, in its own process.

    python -m benchmarks.worker --peer ours --size small --repeat 3 --answers A.json
    python -m benchmarks.worker --peer igraph --size small --repeat 3 --expect A.json
    python -m benchmarks.worker --memory networkx --size small

Each finished task is one JSON line on stdout, so the parent shows progress as it goes. A
peer's first run is checked against our answer (written by our worker) before it is run
again; a disagreeing or failing task carries no times at all.
"""
import argparse
import importlib
import json
import sys
import traceback

from benchmarks import core

FAMILIES = ["insert", "traversal", "algorithms", "persist", "snapshot", "query", "cypher", "model",
            "inference", "io"]


def family_module(name):
    return importlib.import_module(f"benchmarks.bench_{name}")


def emit(**record):
    print(json.dumps(record), flush=True)


def short_error(exc):
    return f"{type(exc).__name__}: {exc}".splitlines()[0][:200]


def run_task(task, peer, ctx, repeat, expected):
    """Returns the record of one task for this peer, and our reduced answer (peer "ours")."""
    fn = task.impls[peer][1]
    if task.fresh:
        make = lambda: fn(ctx)  # noqa: E731 - the untimed setup of one run
    else:
        make = lambda: (lambda: fn(ctx))  # noqa: E731
    base = {"family": task.family, "task": task.name, "peer": peer}
    try:
        walls, cpus, answer = core.measure(make(), 1)
        reduced = task.compare.reduce(answer) if task.compare else None
        del answer
        note = ""
        if peer != "ours" and task.compare:
            key = f"{task.family}/{task.name}"
            if key not in expected:
                return {**base, "status": "unchecked", "note": "our run failed, nothing to compare with"}, None
            ok, note = task.compare.check(expected[key], reduced)
            if not ok:
                return {**base, "status": "disagree", "note": note}, None
        for _ in range(repeat - 1):
            w, c, _ = core.measure(make(), 1)
            walls += w
            cpus += c
        status = "ok" if task.compare else "uncompared"
        return {**base, "status": status, "wall": walls, "cpu": cpus, "note": note}, reduced
    except Exception as exc:  # noqa: BLE001 - a failing task is reported, the run goes on
        traceback.print_exc(file=sys.stderr)
        return {**base, "status": "error", "note": short_error(exc)}, None


def run_peer(peer, size, repeat, families, expected):
    answers = {}
    for name in families:
        mod = family_module(name)
        tasks = [t for t in mod.TASKS if peer in t.impls]
        if not tasks:
            continue
        try:
            ctx = mod.prepare(peer, size)
        except Exception as exc:  # noqa: BLE001
            traceback.print_exc(file=sys.stderr)
            for t in tasks:
                emit(family=t.family, task=t.name, peer=peer, status="error", note=f"setup: {short_error(exc)}")
            continue
        for t in tasks:
            record, reduced = run_task(t, peer, ctx, repeat, expected)
            if reduced is not None:
                answers[f"{t.family}/{t.name}"] = reduced
            emit(**record)
        del ctx
    return answers


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--peer")
    ap.add_argument("--memory")
    ap.add_argument("--size", default="tiny", choices=list(core.SIZES))
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--families", default=",".join(FAMILIES))
    ap.add_argument("--answers", help="where ours writes its reduced answers")
    ap.add_argument("--expect", help="our answers, for a peer to check its own against")
    args = ap.parse_args()
    if args.memory:
        from benchmarks import memory
        emit(**memory.measure(args.memory, args.size))
        return
    expected = {}
    if args.expect:
        with open(args.expect) as f:
            expected = json.load(f)
    answers = run_peer(args.peer, args.size, max(1, args.repeat), args.families.split(","), expected)
    if args.answers:
        with open(args.answers, "w") as f:
            json.dump(answers, f)


if __name__ == "__main__":
    main()
