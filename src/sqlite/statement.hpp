// RAII wrappers over one SQLite connection and its prepared statements, and the error
// texts of the statement layer. A Statement is finalised when it goes out of scope, so
// every path out of an operation (success or failure) releases what it prepared.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace qm {

// The connection's current error text; fixed texts when there is no connection or message.
std::string sqlite_error(sqlite3* db);

// Replaces bytes that are not valid UTF-8 with U+FFFD (one per maximal bad subsequence).
std::string lossy_utf8(std::string_view bytes);

// Unsigned identifiers live in SQLite's signed INTEGER; anything above 2^63 - 1 is refused.
[[nodiscard]] Status check_sqlite_range(std::uint64_t value);

class Statement {
public:
    Statement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
    Statement(Statement&& other) noexcept : db_(other.db_), stmt_(other.stmt_) { other.stmt_ = nullptr; }
    Statement& operator=(Statement&&) = delete;
    Statement(const Statement&) = delete;
    ~Statement();

    // Text is copied by SQLite; a NUL byte inside is refused.
    [[nodiscard]] Status bind_text(int index, std::string_view text);
    [[nodiscard]] Status bind_i64(int index, std::int64_t value);
    // Range-checked against the signed INTEGER maximum first.
    [[nodiscard]] Status bind_u64(int index, std::uint64_t value);
    [[nodiscard]] Status bind_null(int index);

    // For statements that must not produce rows.
    [[nodiscard]] Status step_done();
    // True for a row, false when done.
    [[nodiscard]] Result<bool> step_row();
    // Makes the statement ready for the next set of bindings.
    [[nodiscard]] Status reset();

    enum class Type { Integer, Real, Text, Blob, Null };
    // The value's storage class as SQLite holds it, before any conversion.
    Type column_type(int index) const;
    bool column_is_null(int index) const;
    std::int64_t column_i64(int index) const;
    // SQL NULL reads as ""; invalid UTF-8 is replaced. The view is valid until the next
    // step, reset or column call on this statement unless it points into `scratch`.
    std::string_view column_text(int index, std::string& scratch) const;
    std::string column_text(int index) const;
    // The stored bytes as they are, for comparing values exactly; valid like column_text's view.
    std::string_view column_bytes(int index) const;

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_;
};

class Connection {
public:
    // Read-write, created when missing.
    [[nodiscard]] static Result<Connection> open(const std::string& path);
    Connection(Connection&& other) noexcept : db_(other.db_) { other.db_ = nullptr; }
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    ~Connection();

    // Runs one or more statements that produce no wanted rows.
    [[nodiscard]] Status exec(std::string_view sql);
    [[nodiscard]] Result<Statement> prepare(std::string_view sql);
    sqlite3* handle() const { return db_; }

private:
    explicit Connection(sqlite3* db) : db_(db) {}
    sqlite3* db_ = nullptr;
};

}  // namespace qm
