"""Many writers, long run: WRITERS processes x CALLS mixed writes (default 4 x 10000) on one
file with READERS refreshing readers (default 2); checks no lost or doubled write and that
every handle ends equal to a fresh open, and prints each writer's latency distribution.

    python stress/many_writers.py [CALLS] [WRITERS] [READERS]
"""
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import writers_harness  # noqa: E402


def main():
    calls = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000
    writers = int(sys.argv[2]) if len(sys.argv) > 2 else 4
    readers = int(sys.argv[3]) if len(sys.argv) > 3 else 2
    start = time.perf_counter()
    with tempfile.TemporaryDirectory() as d:
        problems, reports, refreshes = writers_harness.run(os.path.join(d, "g.db"), writers, readers, calls)
    for r in reports:
        print(writers_harness.summary(r))
    print(f"reader refreshes: {refreshes}")
    split = writers_harness.slow_split(reports)
    print(f"writes over {writers_harness.SLOW} s: {split['calls']}; their seconds: {split['total']} in all, "
          f"{split['final']} in the attempt that succeeded (lock wait), {split['refused']} in "
          f"{split['refusals']} attempts refused as stale, {split['refresh']} refreshing; "
          f"{split['while_others_wrote']} of them waited while the others committed 3 or more writes "
          f"(at most {split['most_others_wrote']})")
    for p in problems[:50]:
        print("PROBLEM", p)
    print(f"writers: {writers} x {calls} calls, problems: {len(problems)}, wall {time.perf_counter() - start:.0f} s")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
