#include "sqlite/statement.hpp"

#include "core/messages.hpp"

#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

namespace qm {

namespace {

constexpr std::uint64_t kSqliteIntegerMax = 9223372036854775807ull;

bool has_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

// Length of the valid UTF-8 sequence starting at p, or 0 when it is not one.
std::size_t utf8_sequence(const unsigned char* p, std::size_t left) {
    unsigned char c = p[0];
    if (c < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xbf;
    if (c >= 0xc2 && c <= 0xdf) {
        len = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
        len = 3;
        if (c == 0xe0) lo = 0xa0;
        if (c == 0xed) hi = 0x9f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        len = 4;
        if (c == 0xf0) lo = 0x90;
        if (c == 0xf4) hi = 0x8f;
    } else {
        return 0;
    }
    if (left < 2 || p[1] < lo || p[1] > hi) return 0;
    for (std::size_t i = 2; i < len; ++i)
        if (i >= left || p[i] < 0x80 || p[i] > 0xbf) return 0;
    return len;
}

// How many bytes form the maximal invalid prefix (a truncated sequence counts as one unit).
std::size_t invalid_run(const unsigned char* p, std::size_t left) {
    unsigned char c = p[0];
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xbf;
    if (c >= 0xc2 && c <= 0xdf) len = 2;
    else if (c >= 0xe0 && c <= 0xef) { len = 3; if (c == 0xe0) lo = 0xa0; if (c == 0xed) hi = 0x9f; }
    else if (c >= 0xf0 && c <= 0xf4) { len = 4; if (c == 0xf0) lo = 0x90; if (c == 0xf4) hi = 0x8f; }
    else return 1;
    std::size_t i = 1;
    if (i < left && p[i] >= lo && p[i] <= hi) {
        ++i;
        while (i < len && i < left && p[i] >= 0x80 && p[i] <= 0xbf) ++i;
    }
    return i;
}

bool valid_utf8(std::string_view bytes) {
    auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size(), i = 0;
    while (i < n) {
        if (p[i] < 0x80) { ++i; continue; }
        std::size_t len = utf8_sequence(p + i, n - i);
        if (!len) return false;
        i += len;
    }
    return true;
}

}  // namespace

std::string lossy_utf8(std::string_view bytes) {
    if (valid_utf8(bytes)) return std::string(bytes);
    auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size(), i = 0;
    std::string out;
    out.reserve(n + 8);
    while (i < n) {
        std::size_t len = utf8_sequence(p + i, n - i);
        if (len) {
            out.append(bytes.data() + i, len);
            i += len;
        } else {
            out.append("\xef\xbf\xbd");
            i += invalid_run(p + i, n - i);
        }
    }
    return out;
}

std::string sqlite_error(sqlite3* db) {
    if (!db) return "SQLite database handle is null";
    const char* text = sqlite3_errmsg(db);
    if (!text) return "unknown SQLite error";
    return lossy_utf8(text);
}

Status check_sqlite_range(std::uint64_t value) {
    if (value > kSqliteIntegerMax)
        return fail(msg::sqlite_integer_range(value));
    return ok();
}

// ---------------------------------------------------------------- Statement

Statement::~Statement() {
    if (stmt_) sqlite3_finalize(stmt_);
}

Status Statement::bind_text(int index, std::string_view text) {
    if (has_nul(text)) return fail(std::string(msg::kTextHasNul));
    // The 64-bit length: an int length would wrap for a text past 2 GiB and store a
    // truncated value instead of reporting that it is too big.
    if (sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) !=
        SQLITE_OK)
        return fail(sqlite_error(db_));
    return ok();
}

Status Statement::bind_i64(int index, std::int64_t value) {
    if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) return fail(sqlite_error(db_));
    return ok();
}

Status Statement::bind_u64(int index, std::uint64_t value) {
    QM_CHECK(check_sqlite_range(value));
    return bind_i64(index, static_cast<std::int64_t>(value));
}

Status Statement::bind_null(int index) {
    if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) return fail(sqlite_error(db_));
    return ok();
}

Status Statement::step_done() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_DONE) return ok();
    if (rc == SQLITE_ROW) return fail(std::string(msg::kUnexpectedRow));
    return fail(sqlite_error(db_));
}

Result<bool> Statement::step_row() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    return fail(sqlite_error(db_));
}

Status Statement::reset() {
    if (sqlite3_reset(stmt_) != SQLITE_OK) return fail(sqlite_error(db_));
    return ok();
}

Statement::Type Statement::column_type(int index) const {
    switch (sqlite3_column_type(stmt_, index)) {
        case SQLITE_INTEGER: return Type::Integer;
        case SQLITE_FLOAT: return Type::Real;
        case SQLITE_TEXT: return Type::Text;
        case SQLITE_BLOB: return Type::Blob;
        default: return Type::Null;
    }
}

bool Statement::column_is_null(int index) const {
    return sqlite3_column_type(stmt_, index) == SQLITE_NULL;
}

std::int64_t Statement::column_i64(int index) const { return sqlite3_column_int64(stmt_, index); }

std::string_view Statement::column_bytes(int index) const {
    const unsigned char* text = sqlite3_column_text(stmt_, index);
    if (!text) return {};
    return {reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, index))};
}

std::string_view Statement::column_text(int index, std::string& scratch) const {
    std::string_view bytes = column_bytes(index);
    if (valid_utf8(bytes)) return bytes;
    scratch = lossy_utf8(bytes);
    return scratch;
}

std::string Statement::column_text(int index) const {
    std::string scratch;
    std::string_view view = column_text(index, scratch);
    if (view.data() == scratch.data()) return scratch;
    return std::string(view);
}

// ---------------------------------------------------------------- Connection

// SQLite's own time-out backs off to sleeps of 100 ms, so a waiting writer can sleep
// through every moment the lock is free while the others keep taking it: single writes
// waited seconds behind busy neighbours. This handler polls about every millisecond, with
// jitter so waiters do not wake in step, and gives up after the same five seconds.
constexpr auto kBusyTimeout = std::chrono::milliseconds(5000);

int prompt_busy_handler(void*, int count) {
    using Clock = std::chrono::steady_clock;
    // A thread waits on one lock at a time, so the wait's start can live per thread.
    thread_local Clock::time_point started;
    thread_local std::minstd_rand jitter(
        static_cast<std::uint32_t>(Clock::now().time_since_epoch().count() ^ reinterpret_cast<std::uintptr_t>(&started)));
    Clock::time_point now = Clock::now();
    if (count == 0) started = now;
    if (now - started >= kBusyTimeout) return 0;
    // Short waits first (a commit usually ends within microseconds), then about 1 ms.
    unsigned base = count < 8 ? 50 : 500;
    std::this_thread::sleep_for(std::chrono::microseconds(base + jitter() % (base * 2)));
    return 1;
}

Result<Connection> Connection::open(const std::string& path) {
    if (has_nul(path)) return fail(std::string(msg::kPathHasNul));
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        if (!db) return fail(std::string(msg::kOpenFailed));
        std::string error = sqlite_error(db);
        sqlite3_close(db);
        return fail(std::move(error));
    }
    if (!db) return fail(std::string(msg::kOpenFailed));
    // Several handles may open one file at once; wait for their locks from the very first
    // statement.
    sqlite3_busy_handler(db, prompt_busy_handler, nullptr);
    return Connection(db);
}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        if (db_) sqlite3_close(db_);
        db_ = other.db_;
        other.db_ = nullptr;
    }
    return *this;
}

Connection::~Connection() {
    if (db_) sqlite3_close(db_);
}

Status Connection::exec(std::string_view sql) {
    if (has_nul(sql)) return fail(std::string(msg::kSqlHasNul));
    std::string text(sql);
    char* message = nullptr;
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return ok();
    if (message) {
        std::string error = lossy_utf8(message);
        sqlite3_free(message);
        return fail(std::move(error));
    }
    return fail(sqlite_error(db_));
}

Result<Statement> Connection::prepare(std::string_view sql) {
    if (has_nul(sql)) return fail(std::string(msg::kSqlHasNul));
    std::string text(sql);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, text.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        if (stmt) sqlite3_finalize(stmt);
        return fail(sqlite_error(db_));
    }
    return Statement(db_, stmt);
}

}  // namespace qm
