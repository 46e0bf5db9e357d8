"""The command line, run as a separate process on real files."""
import json
import os
import subprocess
import sys

import pytest

import quillmere


def run(*args, stdin=None, check=True):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    done = subprocess.run([sys.executable, "-m", "quillmere", *args], input=stdin, capture_output=True,
                          text=True, env=env, timeout=60)
    if check:
        assert done.returncode == 0, done.stderr
    return done


@pytest.fixture
def db(tmp_path):
    (tmp_path / "n.csv").write_text("external_id,labels,age:int\nann,Person;Admin,42\nbob,Person,35\n")
    (tmp_path / "e.csv").write_text("source,target,edge_type,since:int\nann,bob,knows,2019\n")
    path = str(tmp_path / "g.db")
    done = run("import", path, "--nodes", str(tmp_path / "n.csv"), "--edges", str(tmp_path / "e.csv"))
    assert done.stdout == f"imported 2 nodes and 1 edges into {path}\n"
    return path


def test_import_then_info_describes_the_file(db):
    g = quillmere.Graph(db)
    assert g.node_count() == 2 and g.get_node(0).properties == {"age": 42}
    out = run("info", db).stdout
    assert "nodes       2\n" in out and "edges       1\n" in out
    assert "labels:\n  Admin  1\n  Person  2\n" in out
    assert "edge types:\n  knows  1\n" in out
    assert "node property keys:\n  age  2\n" in out and "edge property keys:\n  since  1\n" in out
    assert "file size" in out and "cache size" in out


def test_cypher_table_json_csv_and_parameters(db):
    query = "MATCH (p:Person) WHERE p.age > $min RETURN p.external_id AS who, p.age AS age, p ORDER BY age"
    table = run("cypher", db, query, "-p", "min=30").stdout.splitlines()
    assert table[0].split(" | ")[:2] == ["who", "age"]
    assert table[2].startswith("bob") and table[-1] == "(2 rows)"
    rows = json.loads(run("cypher", db, query, "--json", "--param", "min=40").stdout)
    assert rows == [{"who": "ann", "age": 42, "p": {"id": 0, "external_id": "ann", "labels": ["Person", "Admin"],
                                                     "properties": {"age": 42}}}]
    csv_out = run("cypher", db, "MATCH (p) RETURN p.external_id AS who, p.nope AS n ORDER BY who", "--csv").stdout
    assert csv_out == "who,n\nann,\nbob,\n"
    wrote = run("cypher", db, "CREATE (n:Team {name: 'x'})").stdout
    assert "1 nodes created" in wrote and quillmere.Graph(db).node_count() == 3


def test_failures_are_one_line_on_stderr_and_create_no_file(tmp_path, db):
    missing = str(tmp_path / "missing.db")
    for args in (("info", missing), ("cypher", missing, "MATCH (n) RETURN n"), ("shell", missing)):
        done = run(*args, check=False)
        assert (done.returncode, done.stderr) == (1, f"quillmere: no database file at {missing}\n")
    assert not os.path.exists(missing)
    done = run("cypher", db, "MATCH (n RETURN n", check=False)
    assert done.returncode == 1 and done.stderr.startswith("quillmere: ") and done.stdout == ""
    (tmp_path / "bad.csv").write_text("source,target,edge_type\nann,nobody,knows\n")
    done = run("import", db, "--edges", str(tmp_path / "bad.csv"), check=False)
    assert done.returncode == 1 and "bad.csv, line 2, column 2: no node has external_id" in done.stderr
    assert quillmere.Graph(db).edge_count() == 1


def test_shell_runs_statements_commands_and_keeps_going_after_errors(db):
    script = ("MATCH (n:Person) RETURN count(*) AS c\n"
              "NOT CYPHER\n"
              ":format json\n"
              "MATCH (n:Person) \\\n  RETURN n.external_id AS who ORDER BY who;\n"
              ":bogus\n"
              ":quit\n"
              "MATCH (n) RETURN n\n")
    out = run("shell", db, stdin=script).stdout.splitlines()
    assert out[0:4] == ["c", "-", "2", "(1 row)"]
    assert out[4].startswith("error: ")
    assert json.loads(out[5]) == [{"who": "ann"}, {"who": "bob"}]
    assert out[6].startswith("unknown command :bogus")
    assert len(out) == 7  # nothing after :quit ran


def test_console_entry_point_is_main():
    from quillmere.cli import main

    with pytest.raises(SystemExit) as info:
        main(["--version"])
    assert info.value.code == 0
