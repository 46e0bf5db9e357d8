"""Runs every benchmark family, ours and each installed peer in a process of its own, and
writes RESULTS.md with its plots.

    python -m benchmarks --size small [--out DIR] [--repeat N]

Our worker runs first and leaves its answers in a file; each peer's worker checks its own
answers against them before timing. Memory per edge is measured in one fresh process per kind.
"""
import argparse
import datetime
import importlib.util
import json
import os
import subprocess
import sys
import tempfile

from benchmarks import core, memory, report, worker

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def installed(peer):
    module = core.PEER_MODULES.get(peer)
    return module is None or importlib.util.find_spec(module) is not None


def all_tasks(families):
    return [t for name in families for t in worker.family_module(name).TASKS]


class Progress:
    """One line per finished task; a tqdm bar underneath when tqdm is installed."""

    def __init__(self, total):
        self.bar = None
        if not sys.stderr.isatty():  # a bar redrawn into a log file is only noise
            return
        try:
            from tqdm import tqdm
            self.bar = tqdm(total=total, unit="task", file=sys.stderr, leave=False)
        except ImportError:
            pass

    def line(self, text, step=True):
        if self.bar is None:
            print(text, flush=True)
            return
        self.bar.write(text)
        if step:
            self.bar.update(1)

    def close(self):
        if self.bar is not None:
            self.bar.close()


def describe(rec):
    if rec["status"] in ("ok", "uncompared"):
        best = min(rec["wall"])
        return f"{report.seconds(best):>10}  (best of {len(rec['wall'])})"
    return f"{rec['status']}: {rec.get('note', '')}"


def worker_env():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([ROOT] + [p for p in env.get("PYTHONPATH", "").split(os.pathsep) if p])
    return env


def run_worker(args, progress, expected_tasks, peer):
    """Starts one worker, records each JSON line it prints; tasks it never reported (it
    crashed) are recorded as errors with its last words."""
    results = {}
    with tempfile.TemporaryFile(mode="w+") as err:
        proc = subprocess.Popen([sys.executable, "-m", "benchmarks.worker", *args], stdout=subprocess.PIPE,
                                stderr=err, text=True, cwd=ROOT, env=worker_env())
        for raw in proc.stdout:
            rec = json.loads(raw)
            results[(rec["family"], rec["task"], rec["peer"])] = rec
            progress.line(f"{rec['family']:<11} {rec['task']:<28} {rec['peer']:<10} {describe(rec)}")
        code = proc.wait()
        err.seek(0)
        tail = err.read().strip().splitlines()[-1:] or [""]
    for t in expected_tasks:
        key = (t.family, t.name, peer)
        if key not in results:
            results[key] = {"family": t.family, "task": t.name, "peer": peer, "status": "error",
                            "note": f"worker exited with code {code}: {tail[0][:200]}"}
            progress.line(f"{t.family:<11} {t.name:<28} {peer:<10} {describe(results[key])}")
    return results


def run_memory(size, progress, peers_present):
    rows = []
    for kind, title in memory.KINDS.items():
        if memory.PEER_OF[kind] not in peers_present:
            rows.append({"kind": kind, "title": title, "status": "not installed"})
            continue
        out = subprocess.run([sys.executable, "-m", "benchmarks.worker", "--memory", kind, "--size", size],
                             capture_output=True, text=True, cwd=ROOT, env=worker_env())
        if out.returncode != 0:
            last = (out.stderr.strip().splitlines() or [""])[-1]
            rows.append({"kind": kind, "title": title, "status": f"failed: {last[:200]}"})
        else:
            rows.append({**json.loads(out.stdout.strip().splitlines()[-1]), "title": title, "status": "ok"})
        shown = rows[-1].get("bytes_per_edge")
        progress.line(f"{'memory':<11} {title:<39} "
                      + (f"{shown:10.1f} bytes/edge" if shown is not None else rows[-1]["status"]), step=False)
    return rows


def main(argv=None):
    ap = argparse.ArgumentParser(prog="python -m benchmarks", description=__doc__.splitlines()[0])
    ap.add_argument("--size", default="small", choices=list(core.SIZES))
    ap.add_argument("--out", default=HERE, help="where RESULTS.md and results/*.png go (default: benchmarks/)")
    ap.add_argument("--repeat", type=int, default=3, help="runs per task; the best is reported with the spread")
    ap.add_argument("--families", default=",".join(worker.FAMILIES), help="a comma-separated subset")
    args = ap.parse_args(argv)
    if importlib.util.find_spec("_quillmere") is None:
        sys.exit("_quillmere is not importable: install the package or put the build directory on PYTHONPATH")
    families = args.families.split(",")
    tasks = all_tasks(families)
    peers = ["ours"] + [p for p in core.PEER_MODULES if any(p in t.impls for t in tasks)]
    present = [p for p in peers if installed(p)]
    missing = [p for p in peers if p not in present]
    started = datetime.datetime.now(datetime.timezone.utc)
    progress = Progress(sum(1 for t in tasks for p in t.impls if p in present))
    if missing:
        progress.line(f"not installed, skipped: {', '.join(missing)}", step=False)
    common = ["--size", args.size, "--repeat", str(args.repeat), "--families", ",".join(families)]
    results = {}
    with tempfile.TemporaryDirectory(prefix="qm-bench-") as tmp:
        answers = os.path.join(tmp, "answers.json")
        results.update(run_worker(["--peer", "ours", "--answers", answers, *common], progress,
                                  [t for t in tasks if "ours" in t.impls], "ours"))
        if not os.path.exists(answers):
            with open(answers, "w") as f:
                json.dump({}, f)
        for peer in present[1:]:
            results.update(run_worker(["--peer", peer, "--expect", answers, *common], progress,
                                      [t for t in tasks if peer in t.impls], peer))
    mem = run_memory(args.size, progress, present)
    progress.close()
    finished = datetime.datetime.now(datetime.timezone.utc)
    page = report.write(args.out, report.Run(size=args.size, repeat=args.repeat, tasks=tasks, peers=peers,
                                             missing=missing, results=results, memory=mem, started=started,
                                             finished=finished, root=ROOT))
    print(f"wrote {page}")
    bad = [k for k, r in results.items() if r["status"] == "disagree"]
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
