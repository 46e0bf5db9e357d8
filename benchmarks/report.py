"""The results page and its plots, from one run's records."""
import datetime
import importlib.metadata
import os
import platform
import subprocess
from dataclasses import dataclass

from benchmarks import core, memory, worker

PEER_DISTS = {"networkx": "networkx", "igraph": "igraph", "rustworkx": "rustworkx", "pgmpy": "pgmpy",
              "pyAgrum": "pyAgrum"}
TOOL_DISTS = ["psutil", "matplotlib", "tqdm", "numpy", "scipy"]
TIMED = ("ok", "uncompared")


@dataclass
class Run:
    size: str
    repeat: int
    tasks: list
    peers: list
    missing: list
    results: dict
    memory: list
    started: datetime.datetime
    finished: datetime.datetime
    root: str


def seconds(s):
    if s < 1e-3:
        return f"{s * 1e6:.1f} µs"
    if s < 1:
        return f"{s * 1e3:.1f} ms"
    return f"{s:.2f} s"


def ratio(peer_rec, ours_rec, key="wall"):
    if not peer_rec or not ours_rec or peer_rec["status"] not in TIMED or ours_rec["status"] not in TIMED:
        return None
    ours = min(ours_rec[key])
    return min(peer_rec[key]) / ours if ours > 0 else None


def shown_ratio(r):
    return "" if r is None else f"{r:.2f}x"


def status_text(rec):
    if rec is None:
        return "not run"
    return {"ok": "agree", "uncompared": "not compared", "disagree": "**DISAGREE**",
            "error": "failed", "unchecked": "unchecked"}[rec["status"]] + (f" ({rec['note']})" if rec.get("note") else "")


# ---------------------------------------------------------------- machine and versions

def machine():
    cpu = platform.processor() or "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    mem = "unknown"
    try:
        with open("/proc/meminfo") as f:
            kb = int(next(line.split()[1] for line in f if line.startswith("MemTotal")))
        mem = f"{kb / 2**20:.1f} GiB"
    except (OSError, StopIteration, ValueError):
        pass
    load = ", ".join(f"{x:.2f}" for x in os.getloadavg()) if hasattr(os, "getloadavg") else "unknown"
    return [("CPU", cpu), ("cores", str(os.cpu_count())), ("memory", mem), ("OS", platform.platform()),
            ("load average at the end of the run (1, 5, 15 min)", load)]


def ours_version(root):
    def git(*args):
        return subprocess.run(["git", "-C", root, *args], capture_output=True, text=True).stdout.strip()
    commit = git("rev-parse", "--short", "HEAD") or "unknown"
    # The page and plots this run writes do not make the tree count as changed.
    dirty = git("status", "--porcelain", "--", ".", ":!benchmarks/RESULTS.md", ":!benchmarks/results")
    return commit + (" with uncommitted changes" if dirty else "")


def versions(run):
    rows = [("Python", platform.python_version()), ("quillmere (git commit)", ours_version(run.root))]
    for name in list(PEER_DISTS.values()) + TOOL_DISTS:
        try:
            rows.append((name, importlib.metadata.version(name)))
        except importlib.metadata.PackageNotFoundError:
            rows.append((name, "not installed"))
    return rows


# ---------------------------------------------------------------- the page

def table(head, rows):
    out = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    # A bar inside a cell (an error text, say) would split it.
    out += ["| " + " | ".join(str(c).replace("|", "\\|") for c in row) + " |" for row in rows]
    return out


TITLES = {"insert": "Insert", "traversal": "Traversal", "algorithms": "Algorithms", "persist": "Persistence",
          "snapshot": "Snapshots", "query": "Path queries", "cypher": "Cypher", "model": "Model building",
          "inference": "Inference", "io": "CSV and networkx interop"}


def family_title(name):
    return TITLES.get(name, name)


def headline(run, present):
    peers = [p for p in present if p != "ours"]
    rows = []
    for t in run.tasks:
        if not t.headline:
            continue
        ours = run.results.get((t.family, t.name, "ours"))
        cells = []
        for p in peers:
            rec = run.results.get((t.family, t.name, p)) if p in t.impls else None
            if rec is not None and rec["status"] == "disagree":
                cells.append("disagree")
            else:
                cells.append(shown_ratio(ratio(rec, ours)) or "")
        rows.append([f"{t.family}: {t.name}", seconds(min(ours["wall"])) if ours and ours["status"] in TIMED
                     else status_text(ours)] + cells)
    return table(["task", "ours (best)"] + [f"{p} / ours" for p in peers], rows)


def task_section(run, t):
    lines = [f"#### {t.name}", "", f"{t.what[:1].upper()}{t.what[1:]}. Answers: {t.compare.text if t.compare else 'not compared'}."
             + (f" {t.note}" if t.note else ""), ""]
    ours = run.results.get((t.family, t.name, "ours"))
    rows = []
    for peer in run.peers:
        if peer not in t.impls:
            continue
        how = t.impls[peer][0]
        rec = run.results.get((t.family, t.name, peer))
        if peer in run.missing:
            rows.append([peer, f"`{how}`", "not installed", "", "", "", "", "", ""])
            continue
        if rec is None or rec["status"] not in TIMED:
            rows.append([peer, f"`{how}`", "", "", "", "", "", "", status_text(rec)])
            continue
        w, c = core.spread(rec["wall"]), core.spread(rec["cpu"])
        same = peer == "ours"
        rows.append([peer, f"`{how}`", seconds(w["min"]), seconds(w["median"]), seconds(w["max"]), seconds(c["min"]),
                     "" if same else shown_ratio(ratio(rec, ours)),
                     "" if same else shown_ratio(ratio(rec, ours, "cpu")),
                     "" if same else status_text(rec)])
    lines += table(["implementation", "how it runs", "best wall", "median", "max", "best CPU",
                    "peer / ours (wall)", "peer / ours (CPU)", "answers"], rows)
    return lines + [""]


def memory_section(run):
    rows = []
    for m in run.memory:
        if m["status"] == "ok":
            rows.append([m["title"], f"{m['bytes_per_edge']:.1f}", f"{m['bytes'] / 2**20:.1f} MiB"])
        else:
            rows.append([m["title"], m["status"], ""])
    return table(["graph", "resident bytes per edge", "growth for all edges"], rows)


def write(out, run):
    os.makedirs(os.path.join(out, "results"), exist_ok=True)
    present = [p for p in run.peers if p not in run.missing]
    params = core.SIZES[run.size]
    plots = plot(out, run, present)
    families = list(dict.fromkeys(t.family for t in run.tasks))
    minutes = (run.finished - run.started).total_seconds() / 60
    lines = [
        "# Benchmark results", "",
        f"Written by `python -m benchmarks --size {run.size} --repeat {run.repeat}` on "
        f"{run.started:%Y-%m-%d %H:%M} UTC ({minutes:.1f} minutes). Every figure on this page and in "
        "`results/` comes from that one run.", "",
        "## Headline", "",
        "Each peer's best wall time divided by ours on the same task and data: above 1 means ours is "
        "faster. An empty cell: that peer has no such task, failed, or is not installed.", "",
        *headline(run, present), "",
    ]
    if run.missing:
        lines += [f"Not installed, so not run: {', '.join(run.missing)}.", ""]
    lines += ["## Machine", "", *table(["", ""], machine()), "",
              "## Versions", "", *table(["", ""], versions(run)), "",
              f"## Size: {run.size}", "",
              *table(["parameter", "value"], [(k, f"{v:,}") for k, v in params.items()]), "",
              "nodes and edges describe the shared seeded graph (distinct directed edges, no self-loops, a "
              "float weight each, a label and two properties per node) that insert, traversal, algorithms, "
              "snapshots, memory and path queries run on; Cypher builds a graph of the same node and edge "
              "counts with its own labels and types. starts: the start nodes of traversals; sources: the "
              "first few of them, where bfs and Dijkstra start (each search covers most of the graph); "
              "anchors: the nodes path queries and Cypher statements start from; chain and grid: the "
              "models' sizes (a chain of that many binary variables, a grid of that side); file_edges: the "
              "edges the persistence family writes to a file on each run; csv_edges: the edges of the io "
              "family's files. At medium, file_edges and csv_edges are below the graph's edge count so "
              "that the whole run, which rewrites them on every repetition, stays within about 12 minutes.", "",
              "## How measured", "",
              "One worker process runs our tasks, then one process per installed peer runs its own, each "
              "building the same seeded data itself (building is not timed unless the task is a build). "
              "Our worker writes its answers first; a peer's first run is checked against them before it "
              "is run again, and a task whose answers disagree is reported as such, with no time. Each "
              f"task runs {run.repeat} times after a garbage collection; the tables give the best wall "
              "time with the median and the worst (the spread), and the best CPU time of the process "
              "(`time.process_time`, which counts every thread: a peer that runs threads shows more CPU "
              "than wall). Ratios are the peer's best divided by ours. The peer called python is the "
              "standard library alone: sqlite3 writing or reading the same rows, or a hand-written loop over "
              "plain lists doing what our call does. Memory per edge is the growth of "
              "resident memory (psutil, after handing freed heap pages back) while the edges are added, "
              "each kind in a fresh process. There is no peer for Cypher: its answers are checked against "
              "a plain-Python loop and a networkx loop doing the same thing, which are timed beside it.", "",
              "## Memory per edge", "", *memory_section(run), ""]
    if plots:
        lines += ["## Plots", ""] + [f"![{title}](results/{name})" for name, title in plots] + [""]
    else:
        lines += ["## Plots", "", "matplotlib is not installed: plots were skipped.", ""]
    lines += ["## Results by family", ""]
    for fam in families:
        lines += [f"### {family_title(fam)}", "", worker.family_module(fam).__doc__.strip().replace("\n", " "), ""]
        for t in run.tasks:
            if t.family == fam:
                lines += task_section(run, t)
    path = os.path.join(out, "RESULTS.md")
    with open(path, "w") as f:
        f.write("\n".join(lines))
    return path


# ---------------------------------------------------------------- plots

def plot(out, run, present):
    """Writes the time grid and the memory bars; returns [(file, title)], or [] without
    matplotlib."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return []
    families = list(dict.fromkeys(t.family for t in run.tasks))
    cols = 2
    rows = (len(families) + cols - 1) // cols
    fig, axes = plt.subplots(rows, cols, figsize=(14, 3.6 * rows), squeeze=False)
    colours = {p: f"C{i}" for i, p in enumerate(present)}
    for ax, fam in zip(axes.flat, families):
        tasks = [t for t in run.tasks if t.family == fam]
        impls = [p for p in present if any(p in t.impls for t in tasks)]
        width = 0.8 / max(1, len(impls))
        for k, p in enumerate(impls):
            xs, ys = [], []
            for i, t in enumerate(tasks):
                rec = run.results.get((t.family, t.name, p))
                if rec and rec["status"] in TIMED:
                    xs.append(i + (k - (len(impls) - 1) / 2) * width)
                    ys.append(min(rec["wall"]))
            ax.bar(xs, ys, width, label=p, color=colours[p])
        ax.set_yscale("log")
        ax.set_title(family_title(fam))
        ax.set_ylabel("best wall time (s)")
        ax.set_xticks(range(len(tasks)))
        ax.set_xticklabels([t.name for t in tasks], rotation=20, ha="right", fontsize=8)
        ax.legend(fontsize=7)
    for ax in list(axes.flat)[len(families):]:
        ax.axis("off")
    fig.suptitle(f"Time per task, size {run.size} (log scale, lower is faster)")
    fig.tight_layout(rect=(0, 0, 1, 0.98))
    fig.savefig(os.path.join(out, "results", "times.png"), dpi=90)
    plt.close(fig)
    made = [("times.png", "time per task and implementation")]

    shown = [m for m in run.memory if m["status"] == "ok"]
    if shown:
        fig, ax = plt.subplots(figsize=(8, 3.5))
        bars = ax.barh([m["title"] for m in shown], [m["bytes_per_edge"] for m in shown],
                       color=[colours.get(memory.PEER_OF[m["kind"]], "C9") for m in shown])
        ax.bar_label(bars, fmt="%.0f", padding=3)
        ax.set_xlabel("resident bytes per edge")
        ax.set_title(f"Memory per edge, size {run.size}")
        fig.tight_layout()
        fig.savefig(os.path.join(out, "results", "memory.png"), dpi=90)
        plt.close(fig)
        made.append(("memory.png", "memory per edge"))
    return made
