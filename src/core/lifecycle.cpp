// Opening a graph from its database file.
#include "core/graph.hpp"

namespace qm {

Result<GraphCore> GraphCore::open(const std::string&) {
    return fail("SQLite-backed graphs are not available in this build yet");
}

}  // namespace qm
