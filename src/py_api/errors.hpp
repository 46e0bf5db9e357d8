// The one mapping from internal failures to Python exceptions. Every raise in the binding
// goes through these helpers; each returns nullptr so callers can `return raise_...`.
#pragma once

#include "py_api/pyref.hpp"

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.hpp"

namespace qm::py {

PyObject* raise_value_error(std::string_view message);
PyObject* raise_type_error(std::string_view message);
PyObject* raise_runtime_error(std::string_view message);
PyObject* raise_key_error(std::string_view message);
// "{kind} {id} not found" as KeyError.
PyObject* raise_not_found(std::string_view kind, std::uint64_t id);
// The module's panic exception (BaseException subclass): internal failures and thread misuse.
PyObject* raise_panic(std::string_view message);
// Argument type problem: TypeError "argument '{name}': {reason}".
PyObject* raise_argument_type_error(std::string_view name, std::string_view reason);
// Turns the messages a core operation left in its warning list into RuntimeWarnings.
// Returns false when a warning was escalated to an exception by the warnings filter.
bool emit_runtime_warning(std::string_view message);
// A core failure is a ValueError carrying the core's message unchanged.
template <class T>
bool check(const Result<T>& r) {
    if (r) return true;
    raise_value_error(r.error());
    return false;
}

// Maps a C++ exception escaping an entry point: bad_alloc -> MemoryError, else panic.
PyObject* raise_from_current_exception();

}  // namespace qm::py
