#include "model/model_messages.hpp"

#include "core/messages.hpp"

namespace qm::model::msg {

namespace {

std::string with_id(std::string_view before, std::uint64_t id, std::string_view after) {
    std::string out(before);
    out += std::to_string(id);
    out += after;
    return out;
}

}  // namespace

std::string variable_not_found(std::uint64_t id) { return qm::msg::record_not_found("variable", id); }
std::string factor_not_found(std::uint64_t id) { return qm::msg::record_not_found("factor", id); }
std::string duplicate_state(std::string_view state) { return "duplicate state " + quoted(state); }
std::string states_required(std::string_view domain) {
    return "states are required for non-binary variable domain " + quoted(domain);
}
std::string duplicate_table_variable(std::uint64_t id) {
    return with_id("duplicate variable ", id, " in factor table");
}
std::string table_length(std::uint64_t given, std::uint64_t expected) {
    return with_id("factor table has ", given, " values but expected ") + std::to_string(expected);
}
std::string variable_id_exists(std::uint64_t id) { return with_id("variable id ", id, " already exists"); }
std::string factor_id_exists(std::uint64_t id) { return with_id("factor id ", id, " already exists"); }
std::string factor_table_exists(std::uint64_t factor_id) {
    return with_id("factor table for factor ", factor_id, " already exists");
}
std::string evidence_id_exists(std::uint64_t id) { return with_id("evidence id ", id, " already exists"); }
std::string trace_id_exists(std::uint64_t id) { return with_id("trace id ", id, " already exists"); }
std::string state_not_found(std::string_view state, std::uint64_t variable_id) {
    return "state " + quoted(state) + with_id(" not found for variable ", variable_id, "");
}
std::string distribution_length(std::uint64_t variable_id) {
    return with_id("distribution for variable ", variable_id, " has invalid length");
}
std::string posterior_length(std::uint64_t variable_id) {
    return with_id("posterior for variable ", variable_id, " has invalid length");
}
std::string state_not_numeric(std::string_view label, std::string_view state) {
    return std::string(label) + " for state " + quoted(state) + " must be numeric";
}
std::string values_not_finite(std::string_view label) {
    return std::string(label) + " values must be finite and non-negative";
}
std::string binary_p_not_numeric(std::string_view label) {
    return "binary " + std::string(label) + " key 'p' must be numeric";
}
std::string binary_p_out_of_range(std::string_view label) {
    return "binary " + std::string(label) + " key 'p' must be between 0.0 and 1.0";
}

}  // namespace qm::model::msg
