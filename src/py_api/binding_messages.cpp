#include "py_api/binding_messages.hpp"

namespace qm::py::msg {

std::string unsendable(std::string_view type_name) {
    return std::string(type_name) + " is unsendable, but sent to another thread";
}

std::string unsendable_drop(std::string_view type_name) {
    return std::string(type_name) + " is unsendable, but is being dropped on another thread";
}

}  // namespace qm::py::msg
