// Graph and GraphSnapshot traversal methods.
#include "py_api/graph_methods.hpp"

namespace qm::py {

void add_traversal_methods(std::vector<PyMethodDef>&, std::vector<PyMethodDef>&) {}

}  // namespace qm::py
