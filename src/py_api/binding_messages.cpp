#include "py_api/binding_messages.hpp"

#include "core/messages.hpp"

namespace qm::py::msg {

namespace {

std::string plural(std::size_t n, std::string_view word) {
    return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

std::string record(std::string_view kind, std::size_t index) {
    return std::string(kind) + " record " + std::to_string(index);
}

std::string job(std::size_t index) { return "job " + std::to_string(index); }

}  // namespace

std::string too_many_positional(std::string_view callee, std::size_t accepted, std::size_t given) {
    return std::string(callee) + "() takes " + plural(accepted, "positional argument") + " but " +
           std::to_string(given) + (given == 1 ? " was" : " were") + " given";
}

std::string unexpected_keyword(std::string_view callee, std::string_view keyword) {
    return std::string(callee) + "() got an unexpected keyword argument '" + std::string(keyword) + "'";
}

std::string multiple_values(std::string_view callee, std::string_view parameter) {
    return std::string(callee) + "() got multiple values for argument '" + std::string(parameter) + "'";
}

std::string missing_arguments(std::string_view callee, std::size_t count, std::string_view names) {
    return std::string(callee) + "() missing " + plural(count, "required positional argument") + ": " +
           std::string(names);
}

std::string argument_error(std::string_view parameter, std::string_view reason) {
    return "argument '" + std::string(parameter) + "': " + std::string(reason);
}

std::string cannot_convert(std::string_view type_name, std::string_view target) {
    return "'" + std::string(type_name) + "' object cannot be converted to '" + std::string(target) + "'";
}

std::string nested_too_deeply(int limit) {
    return "value is nested more than " + std::to_string(limit) + " levels deep";
}

std::string unsendable(std::string_view type_name) {
    return std::string(type_name) + " is unsendable, but sent to another thread";
}

std::string unsendable_drop(std::string_view type_name) {
    return std::string(type_name) + " is unsendable, but is being dropped on another thread";
}

std::string record_not_dict(std::string_view kind, std::size_t index) {
    return record(kind, index) + " must be a dict";
}

std::string record_keys_not_text(std::string_view kind, std::size_t index) {
    return record(kind, index) + " keys must be strings";
}

std::string record_unknown_field(std::string_view kind, std::size_t index, std::string_view field) {
    return record(kind, index) + " has unknown field " + quoted(field);
}

std::string record_missing(std::size_t index, std::string_view field) {
    return "record " + std::to_string(index) + " missing " + quoted(field);
}

std::string record_field_type(std::size_t index, std::string_view field, std::string_view noun) {
    return "record " + std::to_string(index) + " field " + quoted(field) + " must be " + std::string(noun);
}

std::string optional_record_field_type(std::string_view field, std::string_view noun) {
    return "optional record field " + quoted(field) + " must be " + std::string(noun);
}

std::string job_not_dict(std::size_t index) { return job(index) + " must be a dict"; }

std::string job_missing(std::size_t index, std::string_view field) {
    return job(index) + " missing " + quoted(field);
}

std::string job_field_type(std::size_t index, std::string_view field, std::string_view noun) {
    return job(index) + " field " + quoted(field) + " must be " + std::string(noun);
}

std::string optional_field_type(std::string_view field, std::string_view noun) {
    return "optional field " + quoted(field) + " must be " + std::string(noun);
}

std::string job_unknown_op(std::size_t index, std::string_view op) {
    return job(index) + " has unknown op " + quoted(op);
}

}  // namespace qm::py::msg
