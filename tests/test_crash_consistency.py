"""A writer process SIGKILLed at random moments: after every kill the file opens, passes
SQLite's integrity check, holds every write whose call returned with exactly its fields,
no half batch or half transaction, an op log that lists exactly the records, and a
segment cache that answers as a rebuild does. (stress/crash_consistency.py runs hundreds.)"""
import crash_harness

KILLS = 32


def test_random_kills_lose_nothing_and_leave_nothing_half_done(tmp_path):
    violations, survived = crash_harness.run(str(tmp_path / "g.db"), KILLS, seed=20261207)
    assert violations == []
    assert survived == KILLS
