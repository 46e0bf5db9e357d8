// Assembles the method lists of Graph and GraphSnapshot from the subsystem tables.
#include "py_api/graph_methods.hpp"

namespace qm::py {

MethodLists& method_lists() {
    // Never freed: the classes of every module instance point into these lists.
    static MethodLists* lists = [] {
        auto* l = new MethodLists();
        add_construction_methods(l->graph);
        add_entity_methods(l->graph, l->snapshot);
        add_traversal_methods(l->graph, l->snapshot);
        add_algorithm_methods(l->graph, l->snapshot);
        add_lifecycle_methods(l->graph, l->snapshot);
        add_model_methods(l->graph, l->snapshot);
        add_query_methods(l->graph, l->snapshot);
        add_cypher_methods(l->graph, l->snapshot);
        add_inference_methods(l->graph);
        return l;
    }();
    return *lists;
}

}  // namespace qm::py
