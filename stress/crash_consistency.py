"""Crash consistency, long run: SIGKILLs a writer KILLS times (default 500) and checks the
file after each kill (see tests/crash_harness.py for what is checked).

    python stress/crash_consistency.py [KILLS] [SEED]
"""
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import crash_harness  # noqa: E402


def main():
    kills = int(sys.argv[1]) if len(sys.argv) > 1 else 500
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    start = time.perf_counter()
    with tempfile.TemporaryDirectory() as d:
        def report(round_, nodes, edges, problems):
            if round_ % 25 == 0 or problems:
                print(f"kill {round_:>4}: {nodes} nodes, {edges} edges, {len(problems)} violations", flush=True)
        violations, survived = crash_harness.run(os.path.join(d, "g.db"), kills, seed=seed, report=report)
    for v in violations[:50]:
        print("VIOLATION", v)
    print(f"kills: {kills}, survived: {survived}, violations: {len(violations)}, "
          f"wall {time.perf_counter() - start:.0f} s")
    sys.exit(1 if violations else 0)


if __name__ == "__main__":
    main()
