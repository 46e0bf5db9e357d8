// The method tables of Graph and GraphSnapshot, one per subsystem, in the order of the
// classes' method lists.
#pragma once

#include "py_api/pyref.hpp"

#include <vector>

namespace qm::py {

struct MethodLists {
    std::vector<PyMethodDef> graph;     // null-terminated
    std::vector<PyMethodDef> snapshot;  // null-terminated
};

// Built once per process from the tables below, in a fixed order.
MethodLists& method_lists();

// Each adds its methods to the Graph list and, where it has read methods, the snapshot list.
void add_entity_methods(std::vector<PyMethodDef>& graph, std::vector<PyMethodDef>& snapshot);
void add_traversal_methods(std::vector<PyMethodDef>& graph, std::vector<PyMethodDef>& snapshot);
void add_algorithm_methods(std::vector<PyMethodDef>& graph, std::vector<PyMethodDef>& snapshot);
void add_lifecycle_methods(std::vector<PyMethodDef>& graph, std::vector<PyMethodDef>& snapshot);
void add_cypher_methods(std::vector<PyMethodDef>& graph, std::vector<PyMethodDef>& snapshot);

}  // namespace qm::py
