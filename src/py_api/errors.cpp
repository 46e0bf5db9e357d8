#include "py_api/errors.hpp"

#include <exception>
#include <new>

#include "core/messages.hpp"
#include "py_api/binding_messages.hpp"
#include "py_api/module_state.hpp"

namespace qm::py {

namespace {

PyObject* raise_text(PyObject* type, std::string_view message) {
    PyRef text = PyRef::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
    return nullptr;
}

}  // namespace

PyObject* raise_value_error(std::string_view m) { return raise_text(PyExc_ValueError, m); }
PyObject* raise_type_error(std::string_view m) { return raise_text(PyExc_TypeError, m); }
PyObject* raise_runtime_error(std::string_view m) { return raise_text(PyExc_RuntimeError, m); }
PyObject* raise_key_error(std::string_view m) { return raise_text(PyExc_KeyError, m); }

PyObject* raise_not_found(std::string_view kind, std::uint64_t id) {
    return raise_key_error(msg::record_not_found(kind, id));
}

PyObject* raise_panic(std::string_view message) {
    PyObject* type = panic_exception_type();
    return raise_text(type ? type : PyExc_SystemError, message);
}

PyObject* raise_argument_type_error(std::string_view name, std::string_view reason) {
    return raise_type_error(msg::argument_error(name, reason));
}

bool emit_runtime_warning(std::string_view message) {
    std::string text(message);
    return PyErr_WarnEx(PyExc_RuntimeWarning, text.c_str(), 1) == 0;
}

PyObject* raise_from_current_exception() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        return raise_panic(e.what());
    } catch (...) {
        return raise_panic(msg::kUnknownInternalError);
    }
}

}  // namespace qm::py
