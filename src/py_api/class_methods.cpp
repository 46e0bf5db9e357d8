// Assembles the method lists of Graph and GraphSnapshot from the subsystem tables.
#include "py_api/graph_methods.hpp"

namespace qm::py {

MethodLists& method_lists() {
    static MethodLists* lists = [] {
        auto* l = new MethodLists();
        add_entity_methods(l->graph, l->snapshot);
        add_traversal_methods(l->graph, l->snapshot);
        add_algorithm_methods(l->graph, l->snapshot);
        add_lifecycle_methods(l->graph, l->snapshot);
        add_cypher_methods(l->graph, l->snapshot);
        l->graph.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
        l->snapshot.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
        return l;
    }();
    return *lists;
}

}  // namespace qm::py
