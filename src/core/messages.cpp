#include "core/messages.hpp"

namespace qm {

std::string quoted(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    auto hex_escape = [&](unsigned code) {
        out += "\\u{";
        if (code >= 0x10) out.push_back(kHex[code >> 4]);
        out.push_back(kHex[code & 0xf]);
        out.push_back('}');
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        // C1 controls (U+0080..U+009F) are control characters too.
        if (c == 0xc2 && i + 1 < text.size()) {
            unsigned char d = static_cast<unsigned char>(text[i + 1]);
            if (d >= 0x80 && d <= 0x9f) {
                hex_escape(d);
                ++i;
                continue;
            }
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    hex_escape(c);
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out.push_back('"');
    return out;
}

namespace msg {

std::string record_not_found(std::string_view kind, std::uint64_t id) {
    std::string out(kind);
    out += ' ';
    out += std::to_string(id);
    out += " not found";
    return out;
}
std::string node_not_found(std::uint64_t id) { return record_not_found("node", id); }
std::string edge_not_found(std::uint64_t id) { return record_not_found("edge", id); }
std::string external_id_exists(std::string_view external_id) {
    return "external_id " + quoted(external_id) + " already exists";
}
std::string node_id_exists(std::uint64_t id) {
    return "node id " + std::to_string(id) + " already exists";
}
std::string edge_id_exists(std::uint64_t id) {
    return "edge id " + std::to_string(id) + " already exists";
}
std::string property_not_finite(std::string_view key) {
    return "property " + quoted(key) + " must be finite";
}

std::string variable_not_found(std::uint64_t id) { return record_not_found("variable", id); }
std::string factor_not_found(std::uint64_t id) { return record_not_found("factor", id); }
std::string record_id_exists(std::string_view kind, std::uint64_t id) {
    return std::string(kind) + " id " + std::to_string(id) + " already exists";
}
std::string record_id_overflows(std::string_view kind) { return std::string(kind) + " id overflows"; }
std::string stored_id_beyond_rows(std::string_view kind, std::string_view table, std::uint64_t id) {
    return "stored " + std::string(kind) + " id " + std::to_string(id) + " is far beyond the row count of table " +
           std::string(table);
}
std::string duplicate_table_variable(std::uint64_t id) {
    return "duplicate variable " + std::to_string(id) + " in factor table";
}
std::string factor_table_size(std::uint64_t actual, std::uint64_t expected) {
    return "factor table has " + std::to_string(actual) + " values but expected " + std::to_string(expected);
}
std::string factor_table_exists(std::uint64_t factor_id) {
    return "factor table for factor " + std::to_string(factor_id) + " already exists";
}
std::string posterior_length(std::uint64_t variable_id) {
    return "posterior for variable " + std::to_string(variable_id) + " has invalid length";
}
std::string direction_invalid(std::string_view text) {
    return "direction must be 'out', 'in', or 'both', got " + quoted(text);
}
std::string edge_weight_not_float(std::uint64_t edge_id, std::string_view key) {
    return "edge " + std::to_string(edge_id) + " property " + quoted(key) + " is not a floating-point value";
}
std::string edge_weight_out_of_range(std::uint64_t edge_id, std::string_view key) {
    return "edge " + std::to_string(edge_id) + " property " + quoted(key) + " must be finite and non-negative";
}
std::string stored_column_type(std::string_view table, std::int64_t row_id, std::string_view column,
                               std::string_view found, std::string_view wanted) {
    return "table " + std::string(table) + " row " + std::to_string(row_id) + ": column " + std::string(column) +
           " holds " + std::string(found) + " where " + std::string(wanted) + " belongs";
}
std::string negative_sqlite_integer(std::int64_t value) { return "negative SQLite integer " + std::to_string(value); }
std::string sqlite_integer_range(std::uint64_t value) {
    return "value " + std::to_string(value) + " exceeds SQLite INTEGER range";
}
std::string not_a_database_file(std::string_view path) {
    return "SQLite path " + quoted(path) + " does not name a database file";
}
std::string invalid_property_value(std::string_view type, std::string_view text) {
    return "invalid " + std::string(type) + " property value " + quoted(text);
}
std::string stored_float_not_finite(std::string_view text) {
    return "float property value " + quoted(text) + " must be finite";
}
std::string unknown_value_type(std::string_view tag) { return "unknown property value type " + quoted(tag); }
std::string invalid_encoded(std::string_view what, std::string_view text) {
    return "invalid encoded " + std::string(what) + " " + quoted(text);
}
std::string encoded_f64_not_finite(std::string_view text) {
    return "encoded f64 value " + quoted(text) + " must be finite";
}
std::string segment_save_failed(std::string_view action, std::string_view path, std::string_view os_error) {
    return "failed to " + std::string(action) + " " + std::string(path) + ": " + std::string(os_error);
}

std::string job_failed(std::size_t index, std::string_view message) {
    return "job " + std::to_string(index) + ": " + std::string(message);
}

}  // namespace msg
}  // namespace qm
