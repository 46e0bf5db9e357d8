// SqliteStore: the GraphStore over one SQLite connection.
#pragma once

#include <memory>
#include <string>

#include "core/result.hpp"
#include "core/store.hpp"

namespace qm {

// Opens (creating if needed) the database at path, applies the schema and metadata.
[[nodiscard]] Result<std::unique_ptr<GraphStore>> open_sqlite_store(const std::string& path);

}  // namespace qm
