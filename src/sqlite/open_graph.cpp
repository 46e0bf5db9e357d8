#include "sqlite/open_graph.hpp"

#include "sqlite/sqlite_store.hpp"

namespace qm {

Result<GraphCore> open_graph_file(const std::string& path) {
    QM_TRY(store, open_sqlite_store(path));
    return GraphCore::open(std::move(store));
}

}  // namespace qm
