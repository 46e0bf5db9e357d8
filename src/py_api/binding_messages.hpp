// The binding layer's own message texts (argument parsing, thread binding, borrows,
// argument types and the record dictionaries), so their wording lives in one place.
// Core, store and engine messages live in core/messages.hpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm::py::msg {

std::string unsendable(std::string_view type_name);
std::string unsendable_drop(std::string_view type_name);

inline constexpr std::string_view kAlreadyBorrowed = "Already borrowed";
inline constexpr std::string_view kAlreadyMutablyBorrowed = "Already mutably borrowed";
// A method of a class without a graph asked for one: a fault in the binding, not the caller.
inline constexpr std::string_view kNoGraph = "method has no graph to take";

}  // namespace qm::py::msg
