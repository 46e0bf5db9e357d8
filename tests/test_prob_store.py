"""Model records in the file: the stored rows and op log that other handles and processes
read, reopen and refresh round trips, staleness of other handles, and a factor with its
table committed in one transaction so no reader sees one without the other."""
import pytest

import _quillmere as q
from store_helpers import execute, rows

STALE = "SQLite graph has changed since this handle was opened; call refresh() before writing"


def build_model(g):
    """One record of every kind, with owners, parameters, odd texts and each table kind."""
    owner = g.add_node("owner")
    a = g.add_variable("binary", owner_id=owner, prior={"p": 0.25})
    b = g.add_variable("weather", states=["sun", "rain", 'a"b\tc'], prior={"sun": 2, "note": "x"},
                       posterior={"rain": 1})
    c = g.add_variable("binary", posterior={"true": 3, "false": 1})
    g.add_factor([a, b], [c, c], "noisy_or", {"leak": 0.125, "on": True, "n": -3, "s": "line\nbreak"})
    g.add_factor([], [], "empty")
    g.add_factor_table([b, a], [1, 2, 3, 4, 5.5, 0])
    g.add_cpd(c, [a], [0.1, 0.9, 0.5, 0.5])
    g.add_evidence(a, {"state": "true"})
    g.add_evidence(b, {"state": "hail", "weight": 2.5})
    g.add_trace()
    g.add_trace({"run": "bp", "iters": 7})


def model_view(g):
    """Everything a reader can ask of the model, field by field."""
    out = {"counts": (g.variable_count(), g.factor_count(), g.evidence_count(), g.trace_count())}
    out["variables"] = [(v.id, v.domain, v.states, v.owner_id, v.prior, v.posterior)
                        for v in map(g.get_variable, range(g.variable_count()))]
    out["factors"] = [(f.id, f.function, f.parameters, f.input_variables, f.output_variables)
                      for f in map(g.get_factor, range(g.factor_count()))]
    out["evidence"] = [(e.id, e.variable_id, e.payload) for e in map(g.get_evidence, range(g.evidence_count()))]
    out["traces"] = [(t.id, t.payload) for t in map(g.get_trace, range(g.trace_count()))]
    if hasattr(g, "posterior"):
        out["posteriors"] = [g.posterior(i) for i in range(g.variable_count())]
    return out


def test_rows_and_op_log_as_written(db):
    g = q.Graph(db)
    build_model(g)
    assert rows(db, "SELECT id, owner_id, domain, prior, posterior FROM variables ORDER BY id") == [
        (0, 0, "binary", "p\tfloat\t0.25", ""),
        (1, None, "weather", "note\tstring\tx\nsun\tint\t2", "rain\tint\t1"),
        (2, None, "binary", "", "false\tint\t1\ntrue\tint\t3"),
    ]
    assert rows(db, "SELECT * FROM variable_states WHERE variable_id = 1 ORDER BY state_index") == [
        (1, 0, "sun"), (1, 1, "rain"), (1, 2, 'a"b\tc')]
    assert rows(db, "SELECT * FROM factors ORDER BY id") == [
        (0, "0,1", "2,2", "noisy_or", "leak\tfloat\t0.125\nn\tint\t-3\non\tbool\ttrue\ns\tstring\tline\\nbreak"),
        (1, "", "", "empty", ""),
        (2, "1,0", "", "factor_table", ""),
        (3, "0", "2", "cpd", ""),
    ]
    assert rows(db, "SELECT * FROM factor_tables ORDER BY factor_id") == [
        (2, "1,0", "1,2,3,4,5.5,0", 0), (3, "2,0", "0.1,0.9,0.5,0.5", 1)]
    assert rows(db, "SELECT * FROM evidence ORDER BY id") == [
        (0, 0, "state\tstring\ttrue"), (1, 1, "state\tstring\thail\nweight\tfloat\t2.5")]
    assert rows(db, "SELECT * FROM traces ORDER BY id") == [(0, ""), (1, "iters\tint\t7\nrun\tstring\tbp")]
    # One op-log row per record, tables riding on their factor's row.
    assert rows(db, "SELECT op, object_id, payload FROM op_log ORDER BY seq") == [
        ("add_node", 0, "owner"),
        ("add_variable", 0, "binary"), ("add_variable", 1, "weather"), ("add_variable", 2, "binary"),
        ("add_factor", 0, "noisy_or"), ("add_factor", 1, "empty"),
        ("add_factor", 2, "factor_table"), ("add_factor", 3, "cpd"),
        ("add_evidence", 0, "0"), ("add_evidence", 1, "1"),
        ("add_trace", 0, "trace"), ("add_trace", 1, "trace"),
    ]


def test_reopen_and_refresh_reproduce_the_model(db):
    reader = q.Graph(db)  # opened before anything exists: refresh must bring it all
    writer = q.Graph(db)
    build_model(writer)
    expected = model_view(writer)
    assert expected["posteriors"][1] == pytest.approx({'a"b\tc': 0, "rain": 1, "sun": 0})
    assert model_view(q.Graph(db)) == expected
    assert model_view(reader)["counts"] == (0, 0, 0, 0)
    reader.refresh()
    assert model_view(reader) == expected
    # Both handles go on writing from the same counters.
    assert reader.add_variable("binary") == 3
    writer.refresh()
    assert writer.add_cpd(3, [0], [1, 0, 0, 1]) == 4
    reader.refresh()
    assert model_view(reader) == model_view(writer) == model_view(q.Graph(db))
    assert model_view(reader.snapshot())["factors"] == model_view(writer)["factors"]


WRITES = [
    ("variable", lambda g: g.add_variable("binary")),
    ("factor", lambda g: g.add_factor([0], [], "f")),
    ("factor_table", lambda g: g.add_factor_table([0], [1, 1])),
    ("cpd", lambda g: g.add_cpd(0, [], [0.5, 0.5])),
    ("evidence", lambda g: g.add_evidence(0, {"state": "true"})),
    ("trace", lambda g: g.add_trace({"k": 1})),
]


@pytest.mark.parametrize("kind, write", WRITES, ids=[w[0] for w in WRITES])
def test_each_write_makes_other_handles_stale(db, kind, write):
    first = q.Graph(db)
    first.add_variable("binary")
    second = q.Graph(db)
    write(first)
    seq = rows(db, "SELECT MAX(seq) FROM op_log")
    before = model_view(second)
    for _, attempt in WRITES:
        with pytest.raises(ValueError) as info:
            attempt(second)
        assert str(info.value) == STALE
    # Refused writes leave the file and the refused handle's memory untouched.
    assert rows(db, "SELECT MAX(seq) FROM op_log") == seq
    assert model_view(second) == before
    second.refresh()
    assert model_view(second) == model_view(first)
    for _, attempt in WRITES:
        attempt(second)
    assert model_view(q.Graph(db)) == model_view(second)


def test_failed_table_write_leaves_no_factor(db):
    g = q.Graph(db)
    a = g.add_variable("binary")
    b = g.add_variable("binary")
    other = q.Graph(db)
    execute(db, "CREATE TRIGGER refuse_tables BEFORE INSERT ON factor_tables "
                "BEGIN SELECT RAISE(ABORT, 'tables are refused'); END")
    seq = rows(db, "SELECT MAX(seq) FROM op_log")
    for write in (lambda: g.add_factor_table([a, b], [1, 2, 3, 4]),
                  lambda: g.add_cpd(b, [a], [0.5, 0.5, 0.5, 0.5])):
        with pytest.raises(ValueError, match="tables are refused"):
            write()
    # Nothing in memory ...
    assert g.factor_count() == 0
    with pytest.raises(KeyError):
        g.get_factor(0)
    # ... nor in the file: no factor row and no op-log row, so no other handle turns stale.
    assert rows(db, "SELECT COUNT(*) FROM factors") == [(0,)]
    assert rows(db, "SELECT COUNT(*) FROM factor_tables") == [(0,)]
    assert rows(db, "SELECT MAX(seq) FROM op_log") == seq
    assert q.Graph(db).factor_count() == 0
    other.add_trace()
    g.refresh()
    # The id was not used up: the next factor gets it, with its table.
    execute(db, "DROP TRIGGER refuse_tables")
    assert g.add_cpd(b, [a], [0.5, 0.5, 0.5, 0.5]) == 0
    assert rows(db, "SELECT factor_id, is_cpd FROM factor_tables") == [(0, 1)]
    assert rows(db, "SELECT op, object_id FROM op_log ORDER BY seq DESC LIMIT 1") == [("add_factor", 0)]
    assert model_view(q.Graph(db)) == model_view(g)


def test_failed_record_writes_leave_memory_unchanged(db):
    g = q.Graph(db)
    g.add_variable("binary")
    for table in ("variables", "factors", "evidence", "traces"):
        execute(db, f"CREATE TRIGGER refuse_{table} BEFORE INSERT ON {table} "
                    f"BEGIN SELECT RAISE(ABORT, 'no {table}'); END")
    before = model_view(g)
    for write, message in [(lambda: g.add_variable("binary"), "no variables"),
                           (lambda: g.add_factor([0], [], "f"), "no factors"),
                           (lambda: g.add_evidence(0), "no evidence"),
                           (lambda: g.add_trace(), "no traces")]:
        with pytest.raises(ValueError, match=message):
            write()
    assert model_view(g) == before
    assert rows(db, "SELECT COUNT(*) FROM op_log") == [(1,)]


def test_stored_posteriors_answer_posterior(db):
    g = q.Graph(db)
    g.add_variable("binary", prior={"p": 0.9})
    g.add_variable("level", states=["lo", "hi", "mid"])
    execute(db, "INSERT INTO latest_posteriors VALUES (1, '1,3,4')")
    g.add_trace()  # posteriors are not logged: a logged write makes the change visible
    other = q.Graph(db)
    assert other.posterior(0) == pytest.approx({"false": 0.1, "true": 0.9})
    assert other.posterior(1) == {"hi": 0.375, "lo": 0.125, "mid": 0.5}
    assert g.posterior(1) == {"hi": 1 / 3, "lo": 1 / 3, "mid": 1 / 3}
    execute(db, "INSERT INTO latest_posteriors VALUES (0, '0,2')")
    execute(db, "INSERT INTO traces VALUES (5, '')")
    execute(db, "INSERT INTO op_log (op, object_id, payload) VALUES ('add_trace', 5, 'trace')")
    g.refresh()
    assert g.posterior(0) == {"false": 0.0, "true": 1.0}
    assert g.posterior(1) == other.posterior(1)
    assert g.trace_count() == 2 and g.add_trace() == 6


def test_snapshot_keeps_its_model_across_refreshes(db):
    g = q.Graph(db)
    build_model(g)
    snap = g.snapshot()
    frozen = model_view(snap)
    other = q.Graph(db)
    other.add_cpd(0, [], [0.5, 0.5])
    other.add_evidence(2)
    g.refresh()  # appended records: caught up in place
    execute(db, "INSERT INTO traces VALUES (40, '')")  # a gap only a full reload reproduces
    execute(db, "INSERT INTO op_log (op, object_id, payload) VALUES ('add_trace', 40, 'trace')")
    g.refresh()
    assert (g.factor_count(), g.evidence_count(), g.trace_count()) == (5, 3, 3)
    assert model_view(snap) == frozen
    assert g.snapshot().get_trace(40).payload == {} and g.get_factor(4).function == "cpd"
