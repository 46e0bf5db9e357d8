"""The quillmere package: its surface, and graphs moving through networkx, pandas and CSV."""
import math
import sys

import networkx as nx
import pandas as pd
import pytest

import _quillmere
import quillmere
from quillmere import io


def test_package_reexports_the_native_classes_unchanged():
    assert quillmere.__version__ == _quillmere.__version__ == "0.1.0"
    for name in quillmere.__all__:
        assert getattr(quillmere, name) is getattr(_quillmere, name)
    assert "Graph" in (quillmere.__doc__ or "")
    # The native module gains nothing from the package.
    assert {n for n in dir(_quillmere) if not n.startswith("__")} == set(quillmere.__all__) - {"__version__"} | {
        "_query_dsl_schema"}


def people(path=None):
    g = quillmere.Graph(path)
    ann = g.add_node(external_id="ann", labels=["Person", "Admin"], properties={"age": 42, "ok": True, "s": 0.5})
    bob = g.add_node(external_id="bob", labels=["Person"], properties={"name": 'B "b", ob'})
    g.add_node(external_id="lone")
    g.add_edge(ann, bob, "knows", {"since": 2019, "w": 0.25})
    g.add_edge(ann, bob, "knows", {"since": 2020})  # a parallel edge must survive
    g.add_edge(bob, ann, "likes")
    g.add_edge(bob, bob, "self")
    return g


def shape(g):
    return ([(n.external_id, n.labels, n.properties) for n in g.nodes()],
            [(g.get_node(e.source).external_id, g.get_node(e.target).external_id, e.edge_type, e.properties)
             for e in g.edges()])


@pytest.mark.parametrize("on_file", [False, True])
def test_networkx_round_trip_keeps_labels_types_properties_and_parallel_edges(tmp_path, on_file):
    g = people(str(tmp_path / "src.db") if on_file else None)
    G = io.to_networkx(g.snapshot() if on_file else g)
    assert isinstance(G, nx.MultiDiGraph)
    assert G.nodes["ann"] == {"age": 42, "ok": True, "s": 0.5, "labels": ["Person", "Admin"]}
    assert G.number_of_edges("ann", "bob") == 2
    assert G.edges["bob", "ann", 2] == {"edge_type": "likes"}
    back = io.from_networkx(G, quillmere.Graph(str(tmp_path / "dst.db")) if on_file else None)
    assert shape(back) == shape(g)
    if on_file:  # the copy is really in the file
        assert shape(quillmere.Graph(str(tmp_path / "dst.db"))) == shape(g)


def test_from_networkx_reads_plain_networkx_graphs():
    G = nx.Graph()
    G.add_node(1, labels="City", population=10, tags=None)
    G.add_edge(1, 2, weight=3.5)
    G.add_edge(2, 3, edge_type="road")
    g = io.from_networkx(G, batch_size=1)
    assert [(n.external_id, n.labels, n.properties) for n in g.nodes()] == [
        ("1", ["City"], {"population": 10}), ("2", [], {}), ("3", [], {})]
    assert [(e.source, e.target, e.edge_type, e.properties) for e in g.edges()] == [
        (0, 1, "edge", {"weight": 3.5}), (1, 2, "road", {})]
    # Appending to a graph that already holds nodes maps endpoints by the new ids.
    h = quillmere.Graph()
    h.add_node(external_id="x")
    io.from_networkx(nx.DiGraph([("a", "b")]), h)
    assert [(e.source, e.target) for e in h.edges()] == [(1, 2)]


def test_from_networkx_refuses_what_cannot_be_stored_and_writes_nothing_of_that_batch():
    G = nx.DiGraph()
    G.add_node("a", blob=[1, 2])
    with pytest.raises(ValueError, match="blob.*list"):
        io.from_networkx(G)
    g = quillmere.Graph()
    G = nx.DiGraph()
    G.add_edge("a", "b", w=math.nan)
    with pytest.raises(ValueError, match="finite"):
        io.from_networkx(G, g)
    assert g.edge_count() == 0
    # A clash with the labels attribute would lose data, so it is refused.
    clash = quillmere.Graph()
    clash.add_node(properties={"labels": "x"})
    with pytest.raises(ValueError, match="labels"):
        io.to_networkx(clash)


def test_frames_hold_every_record_and_property():
    g = people()
    nodes = io.nodes_frame(g)
    assert list(nodes.columns) == ["external_id", "labels", "age", "name", "ok", "s"]
    assert nodes.index.tolist() == [0, 1, 2]
    assert nodes.loc[0, "labels"] == ["Person", "Admin"] and nodes.loc[1, "name"] == 'B "b", ob'
    assert pd.isna(nodes.loc[2, "age"])
    edges = io.edges_frame(g.snapshot())
    assert edges[["source", "target", "edge_type"]].values.tolist() == [
        [0, 1, "knows"], [0, 1, "knows"], [1, 0, "likes"], [1, 1, "self"]]
    assert edges["since"].tolist()[:2] == [2019, 2020]
    empty = io.edges_frame(quillmere.Graph())
    assert len(empty) == 0 and list(empty.columns) == ["source", "target", "edge_type"]


def test_result_frame_keeps_column_order_and_values():
    g = people()
    r = g.cypher("MATCH (a)-[k:knows]->(b) RETURN k.since AS since, b.external_id AS z, a ORDER BY since")
    frame = io.result_frame(r)
    assert list(frame.columns) == ["since", "z", "a"]
    assert frame["since"].tolist() == [2019, 2020]
    assert frame["a"][0].external_id == "ann"
    assert list(io.result_frame(g.cypher("MATCH (n:Nobody) RETURN n.x AS x")).columns) == ["x"]


def test_missing_extra_is_named(monkeypatch):
    monkeypatch.setitem(sys.modules, "pandas", None)  # importing it now fails
    with pytest.raises(ImportError) as info:
        io.nodes_frame(quillmere.Graph())
    assert str(info.value) == 'nodes_frame needs pandas; install it with: pip install "quillmere[pandas]"'


# ---------------------------------------------------------------- CSV


def write(path, text):
    path.write_text(text, encoding="utf-8")
    return str(path)


NODES = ('external_id,labels,age:int,score:float,ok:bool,name\n'
         'ann,Person;Admin,42,0.5,true,Ann\n'
         'bob,Person,,1e3,false,"B, ""ob"""\n'
         'cat,,7,,,\n')
EDGES = 'source,target,edge_type,since:int,w:float\nann,bob,knows,2019,0.9\nbob,cat,knows,,\ncat,ann,likes,1,2\n'


@pytest.mark.parametrize("batch_size", [1, 2, 10_000])
def test_load_csv_types_columns_and_resolves_endpoints(tmp_path, batch_size):
    g = quillmere.Graph(str(tmp_path / "g.db"))
    added = io.load_csv(g, nodes=write(tmp_path / "n.csv", NODES), edges=tmp_path / "e.csv"
                        if write(tmp_path / "e.csv", EDGES) else None, batch_size=batch_size)
    assert added == {"nodes": 3, "edges": 3}
    assert [(n.external_id, n.labels, n.properties) for n in g.nodes()] == [
        ("ann", ["Person", "Admin"], {"age": 42, "score": 0.5, "ok": True, "name": "Ann"}),
        ("bob", ["Person"], {"score": 1000.0, "ok": False, "name": 'B, "ob"'}),
        ("cat", [], {"age": 7})]
    assert [(e.source, e.target, e.edge_type, e.properties) for e in g.edges()] == [
        (0, 1, "knows", {"since": 2019, "w": 0.9}), (1, 2, "knows", {}), (2, 0, "likes", {"since": 1, "w": 2.0})]
    # Edges may name nodes that were already in the graph.
    io.load_csv(g, edges=write(tmp_path / "more.csv", "source,target,edge_type\ncat,bob,x\n"))
    assert g.edges()[-1].source == 2
    assert quillmere.Graph(str(tmp_path / "g.db")).edge_count() == 4


@pytest.mark.parametrize("text, where, reason", [
    ("external_id,age:int\na,1\nb,x\n", "line 3, column 2", 'not a valid int: "x"'),
    ("external_id,s:float\na,nan\n", "line 2, column 2", "finite"),
    ("external_id,ok:bool\na,maybe\n", "line 2, column 2", "true or false"),
    ("external_id,k:date\n", "line 1, column 2", 'unknown type "date"'),
    ("external_id,x\na,1\nb\n", "line 3", "expected 2 fields, found 1"),
    ("x,external_id\n1,a\n2,a\n", "line 3, column 2", 'external_id "a" already exists'),
    ("labels\nA;;B\n", "line 2, column 1", "empty label"),
    ("external_id,:int\nb,1\n", "line 1, column 2", "a property column needs a name"),
    ("", "line 1", "empty"),
])
def test_load_csv_names_file_line_and_column_of_a_bad_node_row(tmp_path, text, where, reason):
    path = write(tmp_path / "n.csv", text)
    g = quillmere.Graph()
    with pytest.raises(io.CsvError) as info:
        io.load_csv(g, nodes=path, batch_size=100)
    assert str(info.value).startswith(f"{path}, {where}:")
    assert reason in str(info.value)
    assert g.node_count() == 0  # the failed batch wrote nothing


def test_load_csv_bad_edge_row_keeps_earlier_batches_only(tmp_path):
    g = quillmere.Graph(str(tmp_path / "g.db"))
    g.add_nodes([{"external_id": "a"}, {"external_id": "b"}])
    rows = "".join("a,b,t\n" for _ in range(5)) + "a,zed,t\n"
    with pytest.raises(io.CsvError, match=r'line 7, column 2: no node has external_id "zed"') as info:
        io.load_csv(g, edges=write(tmp_path / "e.csv", "source,target,edge_type\n" + rows), batch_size=2)
    assert (info.value.line, info.value.column) == (7, 2)
    assert g.edge_count() == 4  # two full batches landed; the third held the bad row
    assert quillmere.Graph(str(tmp_path / "g.db")).edge_count() == 4
    with pytest.raises(io.CsvError, match='no "edge_type" column'):
        io.load_csv(g, edges=write(tmp_path / "h.csv", "source,target\na,b\n"))


def test_load_csv_reports_a_batch_the_graph_refuses(tmp_path):
    db = str(tmp_path / "g.db")
    stale, other = quillmere.Graph(db), quillmere.Graph(db)
    other.add_node(external_id="z")
    with pytest.raises(io.CsvError, match=r"line 2: batch of lines 2-3 was not written: SQLite graph has changed"):
        io.load_csv(stale, nodes=write(tmp_path / "n.csv", "external_id\na\nb\n"))
    stale.refresh()
    assert stale.node_count() == 1


def test_load_csv_progress_bar_counts_rows(tmp_path, capsys):
    g = quillmere.Graph()
    io.load_csv(g, nodes=write(tmp_path / "n.csv", NODES), progress=True)
    assert "n.csv" in capsys.readouterr().err and g.node_count() == 3
