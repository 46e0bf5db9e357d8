"""Types for the native module: the graph, its snapshots, Cypher results and records.

Installed as the stub package ``_quillmere-stubs`` so that type checkers and editors see
these signatures and docstrings; the module itself carries only text signatures.
"""
from collections.abc import Mapping, Sequence
from types import TracebackType
from typing import Any, Final, Literal, SupportsIndex, TypeAlias, TypedDict, final

__version__: Final[str]

#: A stored property value. Floats must be finite.
_PropertyValue: TypeAlias = bool | int | float | str
#: A property map as given to the graph: non-empty text keys.
_PropertyInput: TypeAlias = Mapping[str, _PropertyValue]
#: Node ids, edge ids and every other record id: unsigned 64-bit ints.
_Id: TypeAlias = SupportsIndex

class _ShortestPath(TypedDict):
    nodes: list[int]
    distance: float

class _ActiveSubgraph(TypedDict):
    variables: list[int]
    factors: list[int]
    graph_nodes: list[int]
    boundary_variables: list[int]
    truncated: bool

class _BeliefPropagationResult(TypedDict):
    beliefs: dict[int, dict[str, float]]
    active: _ActiveSubgraph
    schedule: str
    iterations: int
    messages_updated: int
    converged: bool
    max_residual: float
    trace_id: int | None
    warnings: list[str]
    diagnostics: dict[str, Any]

class _CypherSummary(TypedDict):
    statement_type: str
    nodes_created: int
    relationships_created: int
    properties_set: int
    rows: int

def _query_dsl_schema() -> dict[str, Any]:
    """Return the published schema of the path-query dictionaries accepted by ``Graph.query``."""

class _Reader:
    # The read surface shared by Graph and GraphSnapshot.
    def get_node(self, node_id: _Id) -> Node:
        """Return the node with this id; ``KeyError`` when there is none."""
    def get_edge(self, edge_id: _Id) -> Edge:
        """Return the edge with this id; ``KeyError`` when there is none."""
    def get_node_id(self, external_id: str) -> int | None:
        """Return the id of the node with this external id, or None."""
    def nodes(self) -> list[Node]:
        """Return every node, in ascending id order."""
    def edges(self) -> list[Edge]:
        """Return every edge, in ascending id order."""
    def node_ids(self) -> list[int]:
        """Return every node id, ascending."""
    def edge_ids(self) -> list[int]:
        """Return every edge id, ascending."""
    def node_count(self) -> int:
        """Return the number of nodes."""
    def edge_count(self) -> int:
        """Return the number of edges."""
    def nodes_with_label(self, label: str) -> list[int]:
        """Return the ids of the nodes carrying this label, ascending."""
    def edges_by_type(self, edge_type: str) -> list[int]:
        """Return the ids of the edges of this type, ascending."""
    def nodes_with_property(self, key: str, value: _PropertyValue | None = None) -> list[int]:
        """Return the ids of the nodes having the key (and, when given, this value of the same kind)."""
    def edges_with_property(self, key: str, value: _PropertyValue | None = None) -> list[int]:
        """Return the ids of the edges having the key (and, when given, this value of the same kind)."""
    def neighbors(self, node_id: _Id, direction: str = "out", edge_type: str | None = None) -> list[int]:
        """Return the distinct neighbours of a node in edge order.

        ``direction`` is "out"/"outgoing", "in"/"incoming" or "both"/"all".
        """
    def k_hop(self, start: _Id, hops: _Id, direction: str = "out", edge_type: str | None = None) -> list[int]:
        """Return the nodes reachable from ``start`` within ``hops`` steps, in discovery order, without ``start``."""
    def frontier(self, starts: Sequence[_Id], steps: _Id, direction: str = "out",
                 edge_type: str | None = None) -> list[int]:
        """Return the nodes first reached exactly ``steps`` steps away from ``starts``."""
    def bfs(self, start: _Id, direction: str = "out", edge_type: str | None = None,
            max_depth: _Id | None = None) -> list[int]:
        """Return the nodes in breadth-first order from ``start``, optionally down to ``max_depth``."""
    def shortest_path(self, start: _Id, target: _Id, direction: str = "out", edge_type: str | None = None,
                      weight_property: str | None = None) -> _ShortestPath | None:
        """Return the shortest path as ``{"nodes": [...], "distance": d}``, or None when unreachable.

        Without ``weight_property`` every edge weighs 1.
        """
    def connected_components(self, edge_type: str | None = None) -> list[list[int]]:
        """Return the weakly connected components as lists of node ids."""
    def pagerank(self, iterations: _Id = 20, damping: float = 0.85, tolerance: float | None = None,
                 edge_type: str | None = None) -> dict[int, float]:
        """Return the PageRank score of every node, by ascending node id."""
    def random_walk(self, start: _Id, steps: _Id, direction: str = "out", edge_type: str | None = None,
                    seed: _Id | None = None) -> list[int]:
        """Return the nodes of a random walk from ``start``; a ``seed`` makes it reproducible."""
    def subgraph(self, nodes: Sequence[_Id], edge_type: str | None = None) -> GraphSnapshot:
        """Return a new read-only graph induced by ``nodes``."""
    def compute_batch(self, jobs: Sequence[Mapping[str, Any]]) -> list[Any]:
        """Run several algorithm jobs (``{"op": "bfs", "start": 0}``, ...) in order; return their results."""
    def query(self, spec: Mapping[str, Any]) -> list[dict[str, Any]]:
        """Run a path query given as a dictionary; return one dict of bindings per match."""
    def query_schema(self) -> dict[str, Any]:
        """Return the published schema of the path-query dictionaries."""
    def cypher(self, query: str, parameters: Mapping[str, Any] | None = None) -> CypherResult:
        """Run one Cypher statement with ``$name`` parameters and return its result."""
    def get_variable(self, variable_id: _Id) -> Variable:
        """Return the variable with this id; ``KeyError`` when there is none."""
    def get_factor(self, factor_id: _Id) -> Factor:
        """Return the factor with this id; ``KeyError`` when there is none."""
    def variable_count(self) -> int:
        """Return the number of variables."""
    def factor_count(self) -> int:
        """Return the number of factors."""
    def get_evidence(self, evidence_id: _Id) -> Evidence:
        """Return the evidence with this id; ``KeyError`` when there is none."""
    def get_trace(self, trace_id: _Id) -> Trace:
        """Return the trace with this id; ``KeyError`` when there is none."""
    def evidence_count(self) -> int:
        """Return the number of evidence records."""
    def trace_count(self) -> int:
        """Return the number of traces."""

@final
class Graph(_Reader):
    """A property graph in memory (``Graph()``) or on a SQLite file (``Graph(path)``)."""
    def __new__(cls, path: str | None = None) -> Graph:
        """Open the database file at ``path`` (creating it), or start an empty in-memory graph."""
    @staticmethod
    def open(path: str) -> Graph:
        """Open or create the database file at ``path``; the same as ``Graph(path)``."""
    def add_node(self, external_id: str | None = None, labels: Sequence[str] | None = None,
                 properties: _PropertyInput | None = None) -> int:
        """Add a node and return its id; the external id defaults to ``"node:<id>"``."""
    def add_edge(self, source: _Id, target: _Id, edge_type: str, properties: _PropertyInput | None = None) -> int:
        """Add a directed, typed edge and return its id."""
    def add_nodes(self, records: Sequence[Mapping[str, Any]]) -> list[int]:
        """Add nodes given as dicts (``external_id``, ``labels``, ``properties``), all or none; return their ids."""
    def add_edges(self, records: Sequence[Mapping[str, Any]]) -> list[int]:
        """Add edges given as dicts (``source``, ``target``, ``edge_type``, ``properties``), all or none."""
    def propagate(self, seeds: Mapping[_Id, float], steps: _Id, edge_property: str = "probability",
                  damping: float = 1.0, edge_type: str | None = None) -> dict[int, float]:
        """Spread seed scores along outgoing edges weighted by ``edge_property`` for ``steps`` steps."""
    def refresh(self) -> None:
        """Load what other handles wrote to the file since this handle last read it."""
    def compact(self) -> None:
        """Fold recent edges into the compacted adjacency and save its cache beside the file."""
    def snapshot(self) -> GraphSnapshot:
        """Return a frozen read-only view of the graph as it is now."""
    def transaction(self, write: bool = True) -> GraphTransaction:
        """Start an explicit Cypher transaction; its runs reach the graph together at commit."""
    def add_variable(self, domain: str, owner_id: _Id | None = None, prior: _PropertyInput | None = None,
                     posterior: _PropertyInput | None = None, states: Sequence[str] | None = None) -> int:
        """Add a discrete random variable (``"binary"``, or a domain with ``states``) and return its id."""
    def add_factor(self, input_variables: Sequence[_Id], output_variables: Sequence[_Id], function: str,
                   parameters: _PropertyInput | None = None) -> int:
        """Add a factor over variables and return its id."""
    def add_factor_table(self, variables: Sequence[_Id], values: Sequence[float]) -> int:
        """Add a factor with an explicit table over ``variables`` (last variable fastest); return its id."""
    def add_cpd(self, variable_id: _Id, parent_variables: Sequence[_Id], values: Sequence[float]) -> int:
        """Add a conditional probability table of a variable given its parents; return the factor id."""
    def add_evidence(self, variable_id: _Id, payload: _PropertyInput | None = None) -> int:
        """Record evidence on a variable (``{"state": "true"}``) and return its id."""
    def add_trace(self, payload: _PropertyInput | None = None) -> int:
        """Record a trace and return its id."""
    def posterior(self, variable_id: _Id) -> dict[str, float]:
        """Return the variable's latest distribution over its states."""
    def belief_propagation(self, query_variables: Sequence[_Id] | None = None,
                           evidence: Mapping[_Id, str] | None = None, radius: _Id = 2, max_iters: _Id = 1000,
                           tolerance: float = 1e-06, damping: float = 0.2,
                           persist: bool = False) -> _BeliefPropagationResult:
        """Compute beliefs of the query variables over the active region; ``persist`` stores them."""
    def compile_active_subgraph(self, query_variables: Sequence[_Id], evidence: Mapping[_Id, str] | None = None,
                                radius: _Id = 2, max_nodes: _Id = 10000, max_factors: _Id = 50000) -> _ActiveSubgraph:
        """Return the bounded region of variables, factors and nodes that inference would use."""
    def local_propagate(self, seeds: Mapping[_Id, float], radius: _Id = 2, query_nodes: Sequence[_Id] | None = None,
                        edge_type: str | None = None, edge_property: str = "probability",
                        damping: float = 1.0) -> dict[int, float]:
        """Spread seed probabilities along weighted edges within ``radius`` hops."""

@final
class GraphSnapshot(_Reader):
    """A frozen, read-only view of a graph; ``cypher`` refuses writes."""

@final
class CypherResult:
    @property
    def keys(self) -> list[str]:
        """The column names, in order."""
    @property
    def records(self) -> list[dict[str, Any]]:
        """One dict per row, keyed by column name."""
    @property
    def summary(self) -> _CypherSummary:
        """The statement type, the write counters and the row count."""

@final
class GraphTransaction:
    def run(self, query: str, parameters: Mapping[str, Any] | None = None) -> CypherResult:
        """Run a statement on the transaction's private copy; later runs see earlier writes."""
    def commit(self) -> None:
        """Apply every write of the transaction to the graph (and its file) at once."""
    def rollback(self) -> None:
        """Abandon the transaction's writes."""
    def __enter__(self) -> GraphTransaction:
        """Return the transaction itself."""
    def __exit__(self, exc_type: type[BaseException] | None, _exc: BaseException | None,
                 _traceback: TracebackType | None) -> Literal[False]:
        """Commit when the block ended normally, roll back when it raised."""

@final
class Node:
    @property
    def id(self) -> int:
        """The node's id."""
    @property
    def external_id(self) -> str:
        """The node's unique external id."""
    @property
    def labels(self) -> list[str]:
        """The labels, in the order given."""
    @property
    def properties(self) -> dict[str, _PropertyValue]:
        """The node's properties."""

@final
class Edge:
    @property
    def id(self) -> int:
        """The edge's id."""
    @property
    def source(self) -> int:
        """The id of the node the edge leaves."""
    @property
    def target(self) -> int:
        """The id of the node the edge enters."""
    @property
    def edge_type(self) -> str:
        """The edge's type."""
    @property
    def properties(self) -> dict[str, _PropertyValue]:
        """The edge's properties."""

@final
class Variable:
    @property
    def id(self) -> int:
        """The variable's id."""
    @property
    def domain(self) -> str:
        """The domain name given at creation."""
    @property
    def states(self) -> list[str]:
        """The state names, in state order."""
    @property
    def owner_id(self) -> int | None:
        """The node owning the variable, or None."""
    @property
    def prior(self) -> dict[str, _PropertyValue]:
        """The prior given at creation."""
    @property
    def posterior(self) -> dict[str, _PropertyValue]:
        """The posterior given at creation (``Graph.posterior`` reads the latest)."""

@final
class Factor:
    @property
    def id(self) -> int:
        """The factor's id."""
    @property
    def function(self) -> str:
        """The factor's function name (``"table"`` or ``"cpd"`` for tables)."""
    @property
    def parameters(self) -> dict[str, _PropertyValue]:
        """The factor's parameters."""
    @property
    def input_variables(self) -> list[int]:
        """The input variable ids, in order."""
    @property
    def output_variables(self) -> list[int]:
        """The output variable ids, in order."""

@final
class Evidence:
    @property
    def id(self) -> int:
        """The evidence's id."""
    @property
    def variable_id(self) -> int:
        """The variable the evidence is about."""
    @property
    def payload(self) -> dict[str, _PropertyValue]:
        """The evidence payload, for example ``{"state": "true"}``."""

@final
class Trace:
    @property
    def id(self) -> int:
        """The trace's id."""
    @property
    def payload(self) -> dict[str, _PropertyValue]:
        """The trace payload."""
