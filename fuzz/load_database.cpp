// Opening a database whose rows another program wrote: the input is an SQL script run on a
// fresh file holding the schema (so mutations reach every column with every SQLite type),
// and opening the result must succeed or fail with an error, never crash or exhaust memory.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

std::string read_file(const std::string& path) {
    std::string bytes;
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) std::abort();
    char buf[1 << 16];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return bytes;
}

void write_file(const std::string& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
    ::close(fd);
}

// The file as the engine creates it, made once: laying the schema down for every input
// cost more than everything the input itself exercises. Once its last connection closed,
// the file holds everything (the write-ahead log is folded in and removed).
const std::string& fresh_file_bytes(const std::string& path) {
    static const std::string bytes = [&] {
        remove_database(path);
        if (!qm::open_graph_file(path)) std::abort();
        return read_file(path);
    }();
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = scratch_path();
    static const std::string fresh = [] {
        std::string bytes = fresh_file_bytes(path);
        // The script runs on a copy in memory, which keeps no write-ahead log: mark the
        // copy as a plain journal file. The engine turns it back on at open, as it would
        // for a file another program wrote that way.
        if (bytes.size() < 20) std::abort();
        bytes[18] = bytes[19] = 1;
        return bytes;
    }();
    sqlite3* db = nullptr;
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) std::abort();
    auto* image = static_cast<unsigned char*>(sqlite3_malloc64(fresh.size()));
    if (!image) std::abort();
    std::memcpy(image, fresh.data(), fresh.size());
    if (sqlite3_deserialize(db, "main", image, fresh.size(), fresh.size(),
                            SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE) != SQLITE_OK)
        std::abort();
    std::string script(reinterpret_cast<const char*>(data), size);
    sqlite3_set_authorizer(db, only_row_and_table_edits, nullptr);
    sqlite3_exec(db, script.c_str(), nullptr, nullptr, nullptr);
    sqlite3_set_authorizer(db, nullptr, nullptr);
    // A script that leaves a transaction open ends as closing a file would end it.
    if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_int64 written = 0;
    unsigned char* bytes = sqlite3_serialize(db, "main", &written, 0);
    remove_database(path);
    write_file(path, bytes ? std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(written))
                           : fresh);
    sqlite3_free(bytes);
    sqlite3_close(db);
    (void)qm::open_graph_file(path);
    return 0;
}
