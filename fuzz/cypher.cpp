// Statement texts come straight from callers: scanning, parsing and running any text on a
// small graph must end in a result or an error, never a crash, a hang or a deep recursion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "core/graph.hpp"
#include "cypher/parser.hpp"
#include "cypher/session.hpp"

namespace {

std::unique_ptr<qm::GraphCore> small_graph() {
    auto g = std::make_unique<qm::GraphCore>();
    qm::cypher::Params none;
    for (std::string_view setup : {
             "CREATE (a:P {name: 'a', n: 1})-[:R {w: 2.5}]->(b:P {name: 'b', n: 2})",
             "CREATE (c:Q {n: 3, flag: true})-[:S]->(d {external_id: 'd'})",
             "CREATE (e:P:Q {name: 'e'})-[:R {w: -1}]->(f:P)",
         })
        if (!qm::cypher::execute_autocommit(*g, setup, none)) std::abort();
    return g;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)qm::cypher::parse_query(text);
    (void)qm::cypher::parse_expr(text);
    // Running the statement too reaches the evaluator and the writes with parsed input.
    // Building the graph cost more than most statements do, so one graph serves every
    // input until a statement commits something: only a commit changes what the next
    // input would see (a statement runs on a view with its own overlay).
    static std::unique_ptr<qm::GraphCore> g = small_graph();
    qm::cypher::Params params;
    params.emplace("p", qm::cypher::CypherValue(std::int64_t{1}));
    const std::uint64_t nodes = g->next_node_id, edges = g->next_edge_id;
    (void)qm::cypher::execute_autocommit(*g, text, params);
    if (g->next_node_id != nodes || g->next_edge_id != edges) g = small_graph();
    return 0;
}
