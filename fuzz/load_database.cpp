// Opening a database whose rows another program wrote: the input is an SQL script run on a
// fresh file holding the schema (so mutations reach every column with every SQLite type),
// and opening the result must succeed or fail with an error, never crash or exhaust memory.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <sqlite3.h>

#include "sqlite/open_graph.hpp"

namespace {

// The script may shape rows and tables however it likes, but may not reach other files
// (ATTACH, VACUUM INTO) or change the connection's settings.
int only_row_and_table_edits(void*, int action, const char*, const char*, const char*, const char*) {
    switch (action) {
        case SQLITE_INSERT: case SQLITE_UPDATE: case SQLITE_DELETE: case SQLITE_READ: case SQLITE_SELECT:
        case SQLITE_FUNCTION: case SQLITE_TRANSACTION: case SQLITE_SAVEPOINT: case SQLITE_RECURSIVE:
        case SQLITE_CREATE_TABLE: case SQLITE_DROP_TABLE: case SQLITE_ALTER_TABLE:
        case SQLITE_CREATE_INDEX: case SQLITE_DROP_INDEX:
            return SQLITE_OK;
        default:
            return SQLITE_DENY;
    }
}

std::string scratch_path() {
    const char* dir = std::getenv("QM_FUZZ_DIR");
    return std::string(dir ? dir : "/dev/shm") + "/qm-fuzz-" + std::to_string(::getpid()) + ".db";
}

void remove_database(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
    std::string dir = path + ".segments";
    ::unlink((dir + "/manifest.txt").c_str());
    ::unlink((dir + "/segment-v1.bin").c_str());
    ::rmdir(dir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = scratch_path();
    remove_database(path);
    {
        auto created = qm::open_graph_file(path);  // lays down the schema
        if (!created) std::abort();
    }
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::abort();
    std::string script(reinterpret_cast<const char*>(data), size);
    sqlite3_set_authorizer(db, only_row_and_table_edits, nullptr);
    sqlite3_exec(db, script.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    (void)qm::open_graph_file(path);
    return 0;
}
