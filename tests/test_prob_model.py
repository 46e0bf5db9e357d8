"""Variables, factors, tables, CPDs, evidence and traces: validation, records, posteriors."""
import math

import pytest

import _quillmere as q


@pytest.fixture
def m():
    """A node 0, binary variables a=0 and b=1, and a three-state variable c=2."""
    g = q.Graph()
    g.add_node("owner")
    g.add_variable("binary")
    g.add_variable("binary")
    g.add_variable("level", states=["low", "mid", "high"])
    return g


def counts(g):
    return g.variable_count(), g.factor_count(), g.evidence_count(), g.trace_count()


# ---------------------------------------------------------------- validation messages

@pytest.mark.parametrize("method, args, message", [
    ("add_variable", {"domain": ""}, "domain cannot be empty"),
    ("add_variable", {"domain": "", "states": []}, "domain cannot be empty"),
    ("add_variable", {"domain": "color"}, 'states are required for non-binary variable domain "color"'),
    ("add_variable", {"domain": 'a"b\n'}, 'states are required for non-binary variable domain "a\\"b\\n"'),
    ("add_variable", {"domain": "binary", "states": []}, "variable states cannot be empty"),
    ("add_variable", {"domain": "binary", "states": ["x", ""]}, "state cannot be empty"),
    ("add_variable", {"domain": "binary", "states": ["x", "y", "x"]}, 'duplicate state "x"'),
    ("add_variable", {"domain": "binary", "states": ["", "x", "x"]}, "state cannot be empty"),
    ("add_variable", {"domain": "binary", "owner_id": 7}, "node 7 not found"),
    ("add_variable", {"domain": "binary", "prior": {"p": math.nan}}, "float property values must be finite"),
    ("add_variable", {"domain": "binary", "prior": {"": 1}}, "property key cannot be empty"),
    ("add_variable", {"domain": "binary", "posterior": {"": 1}}, "property key cannot be empty"),
    ("add_variable", {"domain": "color", "prior": {"": 1}}, 'states are required for non-binary variable domain "color"'),
    ("add_variable", {"domain": "binary", "prior": {"": 1}, "owner_id": 7}, "property key cannot be empty"),
    ("add_factor", ([], [], ""), "function cannot be empty"),
    ("add_factor", ([], [], "", {"": 1}), "function cannot be empty"),
    ("add_factor", ([0], [9], "f", {"": 1}), "property key cannot be empty"),
    ("add_factor", ([0, 5], [9], "f"), "variable 5 not found"),
    ("add_factor", ([0], [9, 5], "f"), "variable 9 not found"),
    ("add_factor_table", ([], []), "factor table variables cannot be empty"),
    ("add_factor_table", ([0, 7], [1] * 4), "variable 7 not found"),
    ("add_factor_table", ([0, 1, 0], [1] * 8), "duplicate variable 0 in factor table"),
    ("add_factor_table", ([0, 2], [1] * 5), "factor table has 5 values but expected 6"),
    ("add_factor_table", ([2], []), "factor table has 0 values but expected 3"),
    ("add_factor_table", ([0], [1, -1]), "factor table values must be finite and non-negative"),
    ("add_factor_table", ([0], [1, math.inf]), "factor table values must be finite and non-negative"),
    ("add_factor_table", ([0], [math.nan, 1]), "factor table values must be finite and non-negative"),
    ("add_factor_table", ([0], [0.0, 0.0]), "factor table cannot be all zero"),
    ("add_factor_table", ([0], [-0.0, 0.0]), "factor table cannot be all zero"),
    ("add_cpd", (9, [0], [0.5] * 4), "variable 9 not found"),
    ("add_cpd", (1, [9], [0.5] * 4), "variable 9 not found"),
    ("add_cpd", (1, [1], [0.5] * 4), "duplicate variable 1 in factor table"),
    ("add_cpd", (1, [0], [0.3, 0.7 + 2e-9, 0.5, 0.5]), "CPD child distributions must sum to 1.0"),
    ("add_cpd", (1, [0], [0, 0, 0.5, 0.5]), "CPD child distribution cannot be all zero"),
    ("add_cpd", (1, [0], [0.5, 0.5, 0, 0]), "CPD child distribution cannot be all zero"),
    ("add_cpd", (1, [0], [0.5, 0.5, 0.6, 0.6]), "CPD child distributions must sum to 1.0"),
    # The table checks come before the per-chunk CPD rule.
    ("add_cpd", (1, [0], [0.5, 0.5, -0.0, -1.0]), "factor table values must be finite and non-negative"),
    ("add_cpd", (2, [0], [1 / 3] * 5), "factor table has 5 values but expected 6"),
    ("add_evidence", (9, {"state": "true"}), "variable 9 not found"),
    ("add_evidence", (0, {"": "true"}), "property key cannot be empty"),
    ("add_evidence", (9, {"": "true"}), "variable 9 not found"),  # the variable is checked first
    ("add_evidence", (0, {"x": None}), "property values must be str, int, float, or bool"),
    ("add_trace", ({"": 1},), "property key cannot be empty"),
    ("add_trace", ({"x": math.inf},), "float property values must be finite"),
    ("add_trace", ({"x": 2 ** 63},), (OverflowError, None)),
    # Each reader names its argument.
    ("add_variable", {"domain": "binary", "states": "ab"}, (TypeError, "argument 'states': Can't extract `str` to `Vec`")),
    ("add_variable", {"domain": "binary", "states": [1]},
     (TypeError, "argument 'states': 'int' object cannot be converted to 'PyString'")),
    ("add_variable", {"domain": "binary", "prior": [("p", 1)]},
     (TypeError, "argument 'prior': 'list' object cannot be converted to 'PyDict'")),
    ("add_variable", {"domain": "binary", "posterior": 3},
     (TypeError, "argument 'posterior': 'int' object cannot be converted to 'PyDict'")),
    ("add_variable", (3,), (TypeError, "argument 'domain': 'int' object cannot be converted to 'PyString'")),
    ("add_factor_table", ([0], "ab"), (TypeError, "argument 'values': Can't extract `str` to `Vec`")),
    ("add_factor_table", ([0], 5), (TypeError, "argument 'values': 'int' object cannot be converted to 'Sequence'")),
    ("add_cpd", (0, "0", [1.0]), (TypeError, "argument 'parent_variables': Can't extract `str` to `Vec`")),
    ("add_evidence", {"variable_id": 0, "payload": 1},
     (TypeError, "argument 'payload': 'int' object cannot be converted to 'PyDict'")),
    ("add_trace", ([],), (TypeError, "argument 'payload': 'list' object cannot be converted to 'PyDict'")),
])
def test_record_refusals(m, method, args, message):
    exc, text = message if isinstance(message, tuple) else (ValueError, message)
    with pytest.raises(exc) as info:
        getattr(m, method)(**args) if isinstance(args, dict) else getattr(m, method)(*args)
    if text is not None:
        assert str(info.value) == text
    assert counts(m) == (3, 0, 0, 0)


def test_cardinality_overflow_is_refused_before_any_allocation():
    g = q.Graph()
    wide = [g.add_variable("wide", states=[str(i) for i in range(65536)]) for _ in range(4)]
    with pytest.raises(ValueError, match="^factor table cardinality overflows$"):
        g.add_factor_table(wide, [1.0])  # 2^64 joint states
    # Checks run variable by variable: a repeat before the overflowing one wins.
    with pytest.raises(ValueError, match="^duplicate variable 0 in factor table$"):
        g.add_factor_table(wide[:3] + [wide[0], wide[3]], [1.0])
    with pytest.raises(ValueError, match="^factor table has 1 values but expected 281474976710656$"):
        g.add_factor_table(wide[:3], [1.0])


def test_cpd_sum_tolerance_is_tight(m):
    # Off by 1e-10 passes; the values are stored as given, not renormalised.
    values = [0.3, 0.7 + 1e-10, 0.25, 0.75]
    f = m.add_cpd(1, [0], values)
    assert m.get_factor(f).function == "cpd"


# ---------------------------------------------------------------- records

def test_variable_records(m):
    with pytest.raises(ValueError, match="^variable 3 not found$"):  # a ValueError here, not a KeyError
        m.posterior(3)
    v = m.get_variable(0)
    assert (v.id, v.domain, v.states, v.owner_id, v.prior, v.posterior) == (0, "binary", ["false", "true"], None, {}, {})
    vid = m.add_variable("binary", owner_id=0, prior={"p": 7, "note": "x", "flag": True},
                         posterior={"true": 1.5}, states=("a", "b", "c"))
    v = m.get_variable(vid)
    assert (v.id, v.states, v.owner_id) == (3, ["a", "b", "c"], 0)
    assert v.prior == {"flag": True, "note": "x", "p": 7} and type(v.prior["p"]) is int
    assert v.posterior == {"true": 1.5}
    # Every read is a fresh object; changing one changes nothing else.
    v.states.append("zz")
    v.prior["p"] = 0
    assert m.get_variable(vid).states == ["a", "b", "c"] and m.get_variable(vid).prior["p"] == 7
    assert m.get_variable(vid) is not m.get_variable(vid)
    with pytest.raises(AttributeError):
        v.domain = "x"
    assert repr(v).startswith("<_quillmere.Variable object at ")


def test_factor_evidence_and_trace_records(m):
    f = m.add_factor([2, 0, 2], [], "noisy_or", {"leak": 0.1})
    rec = m.get_factor(f)
    assert (rec.id, rec.function, rec.parameters, rec.input_variables, rec.output_variables) == \
        (0, "noisy_or", {"leak": 0.1}, [2, 0, 2], [])
    t = m.add_factor_table((2, 0), (1, 2, 3, 4, 5, 6.5))  # any sequence; ints and floats
    rec = m.get_factor(t)
    assert (t, rec.function, rec.input_variables, rec.output_variables, rec.parameters) == \
        (1, "factor_table", [2, 0], [], {})
    c = m.add_cpd(1, [0, 2], [0.5] * 12)
    rec = m.get_factor(c)
    assert (c, rec.function, rec.input_variables, rec.output_variables) == (2, "cpd", [0, 2], [1])
    rec.input_variables.append(9)
    assert m.get_factor(c).input_variables == [0, 2]
    # A state that names no state of the variable is kept as given.
    e = m.add_evidence(0, {"state": "maybe", "w": 2})
    rec = m.get_evidence(e)
    assert (rec.id, rec.variable_id, rec.payload) == (0, 0, {"state": "maybe", "w": 2})
    assert m.add_evidence(1) == 1 and m.get_evidence(1).payload == {}
    assert m.add_trace() == 0 and m.get_trace(0).payload == {}
    assert m.add_trace({"run": "bp", "iters": 3}) == 1
    assert (m.get_trace(1).id, m.get_trace(1).payload) == (1, {"iters": 3, "run": "bp"})
    assert counts(m) == (3, 3, 2, 2)


@pytest.mark.parametrize("method, kind", [
    ("get_variable", "variable"), ("get_factor", "factor"),
    ("get_evidence", "evidence"), ("get_trace", "trace")])
def test_missing_records_raise_key_error(m, method, kind):
    with pytest.raises(KeyError) as info:
        getattr(m, method)(12)
    assert info.value.args[0] == f"{kind} 12 not found"
    with pytest.raises(KeyError):
        getattr(m.snapshot(), method)(12)
    with pytest.raises(OverflowError):
        getattr(m, method)(-1)


# ---------------------------------------------------------------- distributions

@pytest.mark.parametrize("kwargs, expected", [
    ({}, {"false": 0.5, "true": 0.5}),
    ({"prior": {"p": 0.2}}, {"false": 0.8, "true": 0.2}),
    ({"prior": {"p": "0.25"}}, {"false": 0.75, "true": 0.25}),
    ({"prior": {"p": 1}}, {"false": 0.0, "true": 1.0}),
    ({"prior": {"p": -0.0}}, {"false": 1.0, "true": 0.0}),
    ({"prior": {"true": 3, "p": 0.9}}, {"false": 0.0, "true": 1.0}),  # state keys win over "p"
    ({"prior": {"false": "1", "true": "3"}}, {"false": 0.25, "true": 0.75}),
    ({"prior": {"weight": 5}}, {"false": 0.5, "true": 0.5}),
    # A non-empty creation-time posterior answers, even when the prior is unusable.
    ({"prior": {"p": 1.5}, "posterior": {"p": 0.4}}, {"false": 0.6, "true": 0.4}),
    ({"prior": {"p": 0.3}, "posterior": {"weight": 1}}, {"false": 0.5, "true": 0.5}),
    # "p" only means something for the states false/true in that order.
    ({"states": ["true", "false"], "prior": {"p": 0.9}}, {"false": 0.5, "true": 0.5}),
    ({"states": ["false", "true", "x"], "prior": {"p": 0.9}}, {"false": 1 / 3, "true": 1 / 3, "x": 1 / 3}),
    # Keys ascend by state name, not by state order.
    ({"states": ["low", "mid", "high", "B", "é"], "prior": {"high": 2, "low": 2}},
     {"B": 0.0, "high": 0.5, "low": 0.5, "mid": 0.0, "é": 0.0}),
    # Maps are not checked at creation; an unusable one is refused when read.
    ({"prior": {"p": 1.5}}, "binary prior key 'p' must be between 0.0 and 1.0"),
    ({"prior": {"p": "nan"}}, "binary prior key 'p' must be between 0.0 and 1.0"),
    ({"prior": {"p": "inf"}}, "binary prior key 'p' must be between 0.0 and 1.0"),
    ({"prior": {"p": -0.1}}, "binary prior key 'p' must be between 0.0 and 1.0"),
    ({"prior": {"p": True}}, "binary prior key 'p' must be numeric"),
    ({"prior": {"p": " 0.5"}}, "binary prior key 'p' must be numeric"),
    ({"prior": {"p": "x"}}, "binary prior key 'p' must be numeric"),
    ({"prior": {"true": -1}}, "prior values must be finite and non-negative"),
    ({"prior": {"true": "inf"}}, "prior values must be finite and non-negative"),
    ({"prior": {"true": "NaN"}}, "prior values must be finite and non-negative"),
    ({"prior": {"true": 0}}, "distribution must have positive finite mass"),
    ({"prior": {"false": 0, "true": 0.0}}, "distribution must have positive finite mass"),
    ({"prior": {"true": "abc"}}, 'prior for state "true" must be numeric'),
    ({"prior": {"true": False}}, 'prior for state "true" must be numeric'),
    ({"prior": {"false": "abc", "true": -1}}, 'prior for state "false" must be numeric'),
    ({"prior": {"false": -1, "true": "abc"}}, "prior values must be finite and non-negative"),
    ({"posterior": {"p": 2}}, "binary posterior key 'p' must be between 0.0 and 1.0"),
    ({"posterior": {"true": "z"}}, 'posterior for state "true" must be numeric'),
    ({"prior": {"p": 0.5}, "posterior": {"false": -2}}, "posterior values must be finite and non-negative"),
    ({"posterior": {"true": 1e308, "false": 1e308}}, "distribution must have positive finite mass"),
])
def test_posterior_from_creation_maps(kwargs, expected):
    g = q.Graph()
    v = g.add_variable("binary", **kwargs)
    if isinstance(expected, str):
        with pytest.raises(ValueError) as info:
            g.posterior(v)
        assert str(info.value) == expected
        return
    got = g.posterior(v)
    assert list(got) == sorted(expected)
    assert got == pytest.approx(expected, abs=1e-15)
