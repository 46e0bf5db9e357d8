// The method tables of Graph and GraphSnapshot, one per subsystem, in the order of the
// classes' method lists.
#pragma once

#include "py_api/pyref.hpp"

#include "py_api/methods.hpp"

namespace qm::py {

struct MethodLists {
    MethodList graph;
    MethodList snapshot;
};

// Built once per process from the tables below, in a fixed order.
MethodLists& method_lists();

// Each adds its methods to the Graph list and, where it has read methods, the snapshot list.
void add_construction_methods(MethodList& graph);
void add_entity_methods(MethodList& graph, MethodList& snapshot);
void add_traversal_methods(MethodList& graph, MethodList& snapshot);
void add_algorithm_methods(MethodList& graph, MethodList& snapshot);
void add_lifecycle_methods(MethodList& graph, MethodList& snapshot);
void add_model_methods(MethodList& graph, MethodList& snapshot);
void add_query_methods(MethodList& graph, MethodList& snapshot);
void add_cypher_methods(MethodList& graph, MethodList& snapshot);
void add_inference_methods(MethodList& graph);

}  // namespace qm::py
