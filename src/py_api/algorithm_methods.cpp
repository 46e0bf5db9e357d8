// Graph and GraphSnapshot algorithm and batch-job methods.
#include "py_api/graph_methods.hpp"

namespace qm::py {

void add_algorithm_methods(std::vector<PyMethodDef>&, std::vector<PyMethodDef>&) {}

}  // namespace qm::py
